#include "open_gl/Context.h"

CGLContextObj CreateContext(CGLContextObj share, const CGLPixelFormatAttribute* attributes, std::string& error) {
    static const CGLPixelFormatAttribute kDefaultAttributes[] = {
        kCGLPFAOpenGLProfile,
        static_cast<CGLPixelFormatAttribute>(kCGLOGLPVersion_3_2_Core),
        static_cast<CGLPixelFormatAttribute>(0),
    };
    if (attributes == nullptr) attributes = kDefaultAttributes;

    CGLPixelFormatObj pix = nullptr;
    GLint npix = 0;
    if (const CGLError code = CGLChoosePixelFormat(attributes, &pix, &npix); code != kCGLNoError) {
        error = std::string("CGLChoosePixelFormat error: ") + CGLErrorString(code) + " (npix: " +
                std::to_string(npix) + ")";
        return nullptr;
    }
    if (pix == nullptr) {
        error = "CGLChoosePixelFormat returned NULL pixel format object";
        return nullptr;
    }

    CGLContextObj ctx = nullptr;
    if (const CGLError code = CGLCreateContext(pix, share, &ctx); code != kCGLNoError) {
        error = std::string("CGLCreateContext error: ") + CGLErrorString(code);
        CGLReleasePixelFormat(pix);
        return nullptr;
    }
    if (ctx == nullptr) {
        error = "CGLCreateContext returned NULL context despite no reported error";
    } else {
        // The effect's own reference, on top of the creator's; DeleteContext drops both.
        CGLRetainContext(ctx);
    }
    CGLReleasePixelFormat(pix);
    return ctx;
}

void DeleteContext(CGLContextObj ctx, std::string& error) {
    if (ctx == nullptr) {
        error = "DeleteContext called with NULL context";
        return;
    }
    CGLReleaseContext(ctx);
    if (const CGLError code = CGLDestroyContext(ctx); code != kCGLNoError) {
        error = std::string("CGLDestroyContext failed: ") + CGLErrorString(code);
    }
}

std::string SetCurrentContext(CGLContextObj ctx, bool throwOnError) {
    const CGLError code = CGLSetCurrentContext(ctx);
    if (code == kCGLNoError) return {};
    std::string error = std::string("CGLSetCurrentContext failed: ") + CGLErrorString(code);
    if (throwOnError) throw error;
    return error;
}

CGLContextObj GetCurrentContext(std::string& error) {
    CGLContextObj ctx = CGLGetCurrentContext();
    if (ctx == nullptr) error = "No current OpenGL context is set";
    return ctx;
}

bool IsContextValid(CGLContextObj ctx) {
    return ctx != nullptr;
}
