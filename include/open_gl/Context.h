// The effect's thin layer over CGL: text errors instead of codes, and one place that decides
// how many references the effect holds on a context.
#pragma once

#include <string>

#include "OpenGL/OpenGL.h"

// Makes a context sharing objects with `share` (may be null). Null `attributes` asks for a
// 3.2-class core profile. The returned context carries two references, which DeleteContext
// drops. On failure returns null and sets `error`; leaves `error` alone on success.
CGLContextObj CreateContext(CGLContextObj share, const CGLPixelFormatAttribute* attributes, std::string& error);

// Drops both references CreateContext gave out. Sets `error` on failure.
void DeleteContext(CGLContextObj ctx, std::string& error);

// Makes `ctx` current on this thread; null leaves none current. Returns the failure text, or
// throws it as a std::string when `throwOnError`. Empty on success.
std::string SetCurrentContext(CGLContextObj ctx, bool throwOnError);

// This thread's current context, or null with `error` set.
CGLContextObj GetCurrentContext(std::string& error);

bool IsContextValid(CGLContextObj ctx);
