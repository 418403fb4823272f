// The OpenGL entry points the render thread calls, looked up at run time
// through glDlsymGetProcAddress: the helper has no link-time OpenGL
// dependency, like the engine, which gets the same lookup.
#pragma once

#include <GL/glcorearb.h>

namespace frame_helper {

struct GlFunctions {
  PFNGLGETSTRINGPROC getString = nullptr;
  PFNGLGENTEXTURESPROC genTextures = nullptr;
  PFNGLDELETETEXTURESPROC deleteTextures = nullptr;
  PFNGLBINDTEXTUREPROC bindTexture = nullptr;
  PFNGLTEXIMAGE2DPROC texImage2D = nullptr;
  PFNGLTEXPARAMETERIPROC texParameteri = nullptr;
  PFNGLGENFRAMEBUFFERSPROC genFramebuffers = nullptr;
  PFNGLDELETEFRAMEBUFFERSPROC deleteFramebuffers = nullptr;
  PFNGLBINDFRAMEBUFFERPROC bindFramebuffer = nullptr;
  PFNGLFRAMEBUFFERTEXTURE2DPROC framebufferTexture2D = nullptr;
  PFNGLCHECKFRAMEBUFFERSTATUSPROC checkFramebufferStatus = nullptr;
  PFNGLGENBUFFERSPROC genBuffers = nullptr;
  PFNGLDELETEBUFFERSPROC deleteBuffers = nullptr;
  PFNGLBINDBUFFERPROC bindBuffer = nullptr;
  PFNGLBUFFERDATAPROC bufferData = nullptr;
  PFNGLMAPBUFFERRANGEPROC mapBufferRange = nullptr;
  PFNGLUNMAPBUFFERPROC unmapBuffer = nullptr;
  PFNGLREADBUFFERPROC readBuffer = nullptr;
  PFNGLPIXELSTOREIPROC pixelStorei = nullptr;
  PFNGLREADPIXELSPROC readPixels = nullptr;
  PFNGLFLUSHPROC flush = nullptr;
  PFNGLGETINTEGERVPROC getIntegerv = nullptr;
};

// Fills every entry through glDlsymGetProcAddress(library, ...); false when
// any is missing. Call with the context current.
bool loadGlFunctions(GlFunctions& functions, void* library);

}  // namespace frame_helper
