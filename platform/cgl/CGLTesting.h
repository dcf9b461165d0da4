// Test hooks of the EGL-backed CGL: one-shot failures and object counts.
#pragma once

#include "OpenGL/OpenGL.h"

extern "C" {
// The next CGLChoosePixelFormat call (on any thread) returns `code` with no pixel format and
// *npix = npix. With code kCGLNoError it reports success but hands back a null pixel format.
CGL_EXPORT void UmbrafexCGL_FailNextChoosePixelFormat(CGLError code, int npix);
// The next CGLCreateContext call (on any thread) returns `code` with no context. With code
// kCGLNoError it reports success but hands back a null context.
CGL_EXPORT void UmbrafexCGL_FailNextCreateContext(CGLError code);
// Disarms any pending injected failure.
CGL_EXPORT void UmbrafexCGL_ResetFailures(void);
// Context objects not yet freed.
CGL_EXPORT int UmbrafexCGL_LiveContexts(void);
// Pixel format objects not yet freed.
CGL_EXPORT int UmbrafexCGL_LivePixelFormats(void);
// Which EGL platform backs CGL: "device", "device-software", "surfaceless", or "none" when no
// display could be opened. Opens the display on first use.
CGL_EXPORT const char* UmbrafexCGL_PlatformName(void);
}
