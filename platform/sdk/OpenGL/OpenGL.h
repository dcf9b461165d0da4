// CGL: the platform's OpenGL context API. Implemented here on EGL (platform/cgl).
#pragma once

#include <cstdint>

#define CGL_EXPORT __attribute__((visibility("default")))

typedef struct _CGLContextObject* CGLContextObj;
typedef struct _CGLPixelFormatObject* CGLPixelFormatObj;
typedef int GLint;  // the same type GL headers declare

typedef enum _CGLPixelFormatAttribute {
    kCGLPFAAllRenderers = 1,
    kCGLPFATripleBuffer = 3,
    kCGLPFADoubleBuffer = 5,
    kCGLPFAColorSize = 8,
    kCGLPFAAlphaSize = 11,
    kCGLPFADepthSize = 12,
    kCGLPFAStencilSize = 13,
    kCGLPFAMinimumPolicy = 51,
    kCGLPFAMaximumPolicy = 52,
    kCGLPFASampleBuffers = 55,
    kCGLPFASamples = 56,
    kCGLPFAColorFloat = 58,
    kCGLPFAMultisample = 59,
    kCGLPFAAccelerated = 73,
    kCGLPFANoRecovery = 72,
    kCGLPFAAllowOfflineRenderers = 96,
    kCGLPFAOpenGLProfile = 99,
} CGLPixelFormatAttribute;

typedef enum _CGLOpenGLProfile {
    kCGLOGLPVersion_Legacy = 0x1000,
    kCGLOGLPVersion_3_2_Core = 0x3200,
    kCGLOGLPVersion_GL3_Core = 0x3200,
    kCGLOGLPVersion_GL4_Core = 0x4100,
} CGLOpenGLProfile;

typedef enum _CGLError {
    kCGLNoError = 0,
    kCGLBadAttribute = 10000,
    kCGLBadProperty = 10001,
    kCGLBadPixelFormat = 10002,
    kCGLBadRendererInfo = 10003,
    kCGLBadContext = 10004,
    kCGLBadDrawable = 10005,
    kCGLBadDisplay = 10006,
    kCGLBadState = 10007,
    kCGLBadValue = 10008,
    kCGLBadMatch = 10009,
    kCGLBadEnumeration = 10010,
    kCGLBadOffScreen = 10011,
    kCGLBadFullScreen = 10012,
    kCGLBadWindow = 10013,
    kCGLBadAddress = 10014,
    kCGLBadCodeModule = 10015,
    kCGLBadAlloc = 10016,
    kCGLBadConnection = 10017,
} CGLError;

extern "C" {
CGL_EXPORT CGLError CGLChoosePixelFormat(const CGLPixelFormatAttribute* attribs, CGLPixelFormatObj* pix,
                                         GLint* npix);
CGL_EXPORT CGLError CGLReleasePixelFormat(CGLPixelFormatObj pix);
CGL_EXPORT CGLError CGLDestroyPixelFormat(CGLPixelFormatObj pix);
CGL_EXPORT CGLError CGLCreateContext(CGLPixelFormatObj pix, CGLContextObj share, CGLContextObj* ctx);
CGL_EXPORT CGLContextObj CGLRetainContext(CGLContextObj ctx);
CGL_EXPORT void CGLReleaseContext(CGLContextObj ctx);
CGL_EXPORT uint32_t CGLGetContextRetainCount(CGLContextObj ctx);
CGL_EXPORT CGLError CGLDestroyContext(CGLContextObj ctx);
CGL_EXPORT CGLContextObj CGLGetCurrentContext(void);
CGL_EXPORT CGLError CGLSetCurrentContext(CGLContextObj ctx);
CGL_EXPORT const char* CGLErrorString(CGLError error);
}
