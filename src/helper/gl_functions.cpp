#include "gl_functions.h"

#include "gl_context.h"

namespace frame_helper {
namespace {

template <typename T>
bool load(void* library, const char* name, T& out) {
  out = reinterpret_cast<T>(glDlsymGetProcAddress(library, name));
  return out != nullptr;
}

}  // namespace

bool loadGlFunctions(GlFunctions& f, void* library) {
  return load(library, "glGetString", f.getString) &&
         load(library, "glGenTextures", f.genTextures) &&
         load(library, "glDeleteTextures", f.deleteTextures) &&
         load(library, "glBindTexture", f.bindTexture) &&
         load(library, "glTexImage2D", f.texImage2D) &&
         load(library, "glTexParameteri", f.texParameteri) &&
         load(library, "glGenFramebuffers", f.genFramebuffers) &&
         load(library, "glDeleteFramebuffers", f.deleteFramebuffers) &&
         load(library, "glBindFramebuffer", f.bindFramebuffer) &&
         load(library, "glFramebufferTexture2D", f.framebufferTexture2D) &&
         load(library, "glCheckFramebufferStatus", f.checkFramebufferStatus) &&
         load(library, "glGenBuffers", f.genBuffers) &&
         load(library, "glDeleteBuffers", f.deleteBuffers) &&
         load(library, "glBindBuffer", f.bindBuffer) &&
         load(library, "glBufferData", f.bufferData) &&
         load(library, "glMapBufferRange", f.mapBufferRange) &&
         load(library, "glUnmapBuffer", f.unmapBuffer) &&
         load(library, "glReadBuffer", f.readBuffer) &&
         load(library, "glPixelStorei", f.pixelStorei) &&
         load(library, "glReadPixels", f.readPixels) && load(library, "glFlush", f.flush) &&
         load(library, "glGetIntegerv", f.getIntegerv);
}

}  // namespace frame_helper
