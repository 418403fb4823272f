// Needs a working EGL (Mesa's software device will do): every test name says so.
#include "gl_context.h"

#include <GL/glcorearb.h>
#include <gtest/gtest.h>

#include <string>
#include <thread>

using namespace frame_helper;

namespace {

template <typename T>
T lookUp(void* library, const char* name) {
  return reinterpret_cast<T>(glDlsymGetProcAddress(library, name));
}

}  // namespace

TEST(GlContextEgl, CreatesAHeadlessCoreContextThatAnotherThreadCanUse) {
  GlContext gl;
  std::string error;
  ASSERT_TRUE(gl.create(error)) << error;
  EXPECT_NE(gl.context, nullptr);
  ASSERT_NE(gl.library, nullptr);

  // Created on one thread, used on another, as the render thread does.
  std::string renderer;
  GLint profile = 0;
  GLint major = 0;
  GLint framebufferBinding = -1;
  std::thread user([&] {
    ASSERT_TRUE(gl.makeCurrent());
    auto getString = lookUp<PFNGLGETSTRINGPROC>(gl.library, "glGetString");
    auto getIntegerv = lookUp<PFNGLGETINTEGERVPROC>(gl.library, "glGetIntegerv");
    ASSERT_NE(getString, nullptr);
    ASSERT_NE(getIntegerv, nullptr);
    if (const GLubyte* name = getString(GL_RENDERER))
      renderer = reinterpret_cast<const char*>(name);
    getIntegerv(GL_CONTEXT_PROFILE_MASK, &profile);
    getIntegerv(GL_MAJOR_VERSION, &major);
    getIntegerv(GL_FRAMEBUFFER_BINDING, &framebufferBinding);
    gl.clearCurrent();
  });
  user.join();
  EXPECT_FALSE(renderer.empty());
  EXPECT_TRUE(profile & GL_CONTEXT_CORE_PROFILE_BIT);
  EXPECT_GE(major, 3);
  EXPECT_EQ(framebufferBinding, 0);  // surfaceless: no window, no default framebuffer drawn to

  EXPECT_NE(glDlsymGetProcAddress(gl.library, "glMapBufferRange"), nullptr);
  // Names starting with gl always get a dispatch stub from the EGL loader;
  // anything else unknown is null.
  EXPECT_EQ(glDlsymGetProcAddress(gl.library, "orvanelNoSuchFunction"), nullptr);

  void* library = gl.library;
  gl.destroy();
  EXPECT_EQ(gl.context, nullptr);
  EXPECT_EQ(gl.library, library);  // stays open
  EXPECT_FALSE(gl.makeCurrent());
  gl.destroy();  // twice is harmless
}

TEST(GlContextEgl, SeveralContextsLiveSideBySide) {
  GlContext first;
  GlContext second;
  std::string error;
  ASSERT_TRUE(first.create(error)) << error;
  ASSERT_TRUE(second.create(error)) << error;
  EXPECT_NE(first.context, second.context);
  first.destroy();
  // Destroying one leaves the display usable for the other.
  EXPECT_TRUE(second.makeCurrent());
  second.destroy();
}
