// CGL on EGL: headless OpenGL contexts with no drawable, which is all the effect asks of CGL.
#ifndef EGL_NO_X11
#define EGL_NO_X11
#endif
#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "OpenGL/OpenGL.h"
#include "CGLTesting.h"

struct _CGLPixelFormatObject {
    std::atomic<uint32_t> m_refs{1};
    EGLConfig m_config = EGL_NO_CONFIG_KHR;
    EGLint m_major = 3;
    EGLint m_minor = 3;
    bool m_core = true;
};

struct _CGLContextObject {
    std::atomic<uint32_t> m_refs{1};
    // EGL_NO_CONTEXT once destroyed; the object itself lives until the last reference goes.
    std::atomic<EGLContext> m_egl{EGL_NO_CONTEXT};
};

namespace {

// ---------------------------------------------------------------------------------------------
// The one process-wide display. Never terminated: contexts on any thread may outlive any owner.

struct Display {
    EGLDisplay m_display = EGL_NO_DISPLAY;
    bool m_noConfigContext = false;
    bool m_floatConfigs = false;
    const char* m_platformName = "none";
};

// Set once the display is up, so unbinding can skip opening one.
std::atomic<EGLDisplay> g_openedDisplay{EGL_NO_DISPLAY};

bool HasExtension(const char* list, std::string_view name) {
    if (list == nullptr) return false;
    std::string_view rest(list);
    while (!rest.empty()) {
        const size_t space = rest.find(' ');
        if (rest.substr(0, space) == name) return true;
        if (space == std::string_view::npos) break;
        rest.remove_prefix(space + 1);
    }
    return false;
}

const EGLint kCoreContextAttribs[] = {
    EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_MINOR_VERSION, 3,
    EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT, EGL_NONE,
};

EGLConfig AnyOpenGLConfig(EGLDisplay display) {
    const EGLint attribs[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_SURFACE_TYPE, EGL_DONT_CARE, EGL_NONE};
    EGLConfig config = EGL_NO_CONFIG_KHR;
    EGLint count = 0;
    if (!eglChooseConfig(display, attribs, &config, 1, &count) || count < 1) return EGL_NO_CONFIG_KHR;
    return config;
}

// Initialises `display` and keeps it when it can run a 3.3 core context with no surface.
bool TryDisplay(EGLDisplay display, const char* platformName, Display& out) {
    if (display == EGL_NO_DISPLAY) return false;
    EGLint major = 0;
    EGLint minor = 0;
    if (!eglInitialize(display, &major, &minor)) return false;

    const char* extensions = eglQueryString(display, EGL_EXTENSIONS);
    const bool createContext = major > 1 || minor >= 5 || HasExtension(extensions, "EGL_KHR_create_context");
    Display candidate;
    candidate.m_display = display;
    candidate.m_noConfigContext = HasExtension(extensions, "EGL_KHR_no_config_context");
    candidate.m_floatConfigs = HasExtension(extensions, "EGL_EXT_pixel_format_float");
    candidate.m_platformName = platformName;

    bool usable = createContext && HasExtension(extensions, "EGL_KHR_surfaceless_context") &&
                  eglBindAPI(EGL_OPENGL_API);
    if (usable) {
        const EGLConfig config = candidate.m_noConfigContext ? EGL_NO_CONFIG_KHR : AnyOpenGLConfig(display);
        usable = candidate.m_noConfigContext || config != EGL_NO_CONFIG_KHR;
        if (usable) {
            const EGLContext probe = eglCreateContext(display, config, EGL_NO_CONTEXT, kCoreContextAttribs);
            usable = probe != EGL_NO_CONTEXT;
            if (usable) eglDestroyContext(display, probe);
        }
    }
    if (!usable) {
        // Nothing of ours lives on a rejected display yet.
        eglTerminate(display);
        return false;
    }
    out = candidate;
    return true;
}

Display OpenDisplay() {
    Display result;
    const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    if (!HasExtension(clientExtensions, "EGL_EXT_platform_base")) return result;
    const auto getPlatformDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (getPlatformDisplay == nullptr) return result;

    // A real GPU first, then a software device, then Mesa's surfaceless platform.
    const bool deviceEnumeration = HasExtension(clientExtensions, "EGL_EXT_device_enumeration") ||
                                   HasExtension(clientExtensions, "EGL_EXT_device_base");
    if (deviceEnumeration && HasExtension(clientExtensions, "EGL_EXT_platform_device")) {
        const auto queryDevices =
            reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(eglGetProcAddress("eglQueryDevicesEXT"));
        const auto queryDeviceString =
            reinterpret_cast<PFNEGLQUERYDEVICESTRINGEXTPROC>(eglGetProcAddress("eglQueryDeviceStringEXT"));
        EGLint count = 0;
        if (queryDevices != nullptr && queryDevices(0, nullptr, &count) && count > 0) {
            std::vector<EGLDeviceEXT> devices(static_cast<size_t>(count));
            if (queryDevices(count, devices.data(), &count)) {
                devices.resize(static_cast<size_t>(count));
                for (const bool software : {false, true}) {
                    for (EGLDeviceEXT device : devices) {
                        const char* deviceExtensions =
                            queryDeviceString != nullptr ? queryDeviceString(device, EGL_EXTENSIONS) : nullptr;
                        if (HasExtension(deviceExtensions, "EGL_MESA_device_software") != software) continue;
                        const EGLDisplay display = getPlatformDisplay(EGL_PLATFORM_DEVICE_EXT, device, nullptr);
                        if (TryDisplay(display, software ? "device-software" : "device", result)) return result;
                    }
                }
            }
        }
    }
    if (HasExtension(clientExtensions, "EGL_MESA_platform_surfaceless")) {
        const EGLDisplay display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        TryDisplay(display, "surfaceless", result);
    }
    return result;
}

const Display& GetDisplay() {
    static std::once_flag once;
    static Display display;
    std::call_once(once, [] {
        display = OpenDisplay();
        g_openedDisplay.store(display.m_display);
    });
    return display;
}

// ---------------------------------------------------------------------------------------------
// Live context objects. Every entry point checks membership first, so a stale handle is an
// error rather than a use after free.

class ContextRegistry {
public:
    std::mutex m_mutex;
    std::unordered_set<CGLContextObj> m_live;
};

ContextRegistry& Registry() {
    // Never destroyed: contexts may be released from static destructors.
    static ContextRegistry* const registry = new ContextRegistry;
    return *registry;
}

bool IsLive(CGLContextObj ctx) {
    return ctx != nullptr && Registry().m_live.count(ctx) != 0;
}

thread_local CGLContextObj t_current = nullptr;
std::atomic<int> g_livePixelFormats{0};

// ---------------------------------------------------------------------------------------------
// One-shot injected failures.

struct ChooseFailure {
    CGLError m_code;
    int m_npix;
};

struct Failures {
    std::mutex m_mutex;
    std::optional<ChooseFailure> m_choose;
    std::optional<CGLError> m_create;
};

Failures& InjectedFailures() {
    static Failures failures;
    return failures;
}

template <typename T>
std::optional<T> Take(std::optional<T>& slot) {
    std::lock_guard lock(InjectedFailures().m_mutex);
    std::optional<T> taken;
    taken.swap(slot);
    return taken;
}

// ---------------------------------------------------------------------------------------------

// Unbinds whatever OpenGL context this thread has current.
CGLError UnbindCurrent() {
    const EGLDisplay display = g_openedDisplay.load();
    if (display != EGL_NO_DISPLAY) {
        eglBindAPI(EGL_OPENGL_API);
        if (!eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT)) return kCGLBadContext;
    }
    t_current = nullptr;
    return kCGLNoError;
}

void DestroyEglContext(CGLContextObj ctx, EGLContext egl) {
    if (t_current == ctx) UnbindCurrent();
    eglDestroyContext(g_openedDisplay.load(), egl);
}

void Release(CGLContextObj ctx) {
    {
        std::lock_guard lock(Registry().m_mutex);
        if (!IsLive(ctx) || ctx->m_refs.fetch_sub(1) != 1) return;
        Registry().m_live.erase(ctx);
    }
    const EGLContext egl = ctx->m_egl.exchange(EGL_NO_CONTEXT);
    if (egl != EGL_NO_CONTEXT) DestroyEglContext(ctx, egl);
    delete ctx;
}

// Reads attribute lists element by element as plain ints: values such as profiles lie outside
// the attribute enum's range.
EGLint AttributeAt(const CGLPixelFormatAttribute* attribs, size_t index) {
    int32_t value = 0;
    std::memcpy(&value, attribs + index, sizeof value);
    return value;
}

struct FormatRequest {
    EGLint m_major = 3;
    EGLint m_minor = 3;
    bool m_core = true;
    EGLint m_colorSize = 0;
    EGLint m_alphaSize = 0;
    EGLint m_depthSize = 0;
    EGLint m_stencilSize = 0;
    EGLint m_sampleBuffers = 0;
    EGLint m_samples = 0;
    bool m_floatColor = false;
};

void SetVersion(FormatRequest& request, EGLint major, EGLint minor, bool core) {
    request.m_major = major;
    request.m_minor = minor;
    request.m_core = core;
}

CGLError ParseAttributes(const CGLPixelFormatAttribute* attribs, FormatRequest& request) {
    if (attribs == nullptr) return kCGLNoError;
    for (size_t i = 0; AttributeAt(attribs, i) != 0; ++i) {
        const EGLint attribute = AttributeAt(attribs, i);
        EGLint* size = nullptr;
        switch (attribute) {
            case kCGLPFAOpenGLProfile: {
                const EGLint profile = AttributeAt(attribs, ++i);
                if (profile == kCGLOGLPVersion_3_2_Core) {
                    // 3.3 is what every 3.2-class driver really offers, and what the effect needs.
                    SetVersion(request, 3, 3, true);
                } else if (profile == kCGLOGLPVersion_GL4_Core) {
                    SetVersion(request, 4, 1, true);
                } else if (profile == kCGLOGLPVersion_Legacy) {
                    SetVersion(request, 2, 1, false);
                } else {
                    return kCGLBadValue;
                }
                continue;
            }
            case kCGLPFAColorSize: size = &request.m_colorSize; break;
            case kCGLPFAAlphaSize: size = &request.m_alphaSize; break;
            case kCGLPFADepthSize: size = &request.m_depthSize; break;
            case kCGLPFAStencilSize: size = &request.m_stencilSize; break;
            case kCGLPFASampleBuffers: size = &request.m_sampleBuffers; break;
            case kCGLPFASamples: size = &request.m_samples; break;
            case kCGLPFAColorFloat: request.m_floatColor = true; continue;
            // Renderer selection and buffering concern on-screen drawables, which do not exist
            // here; accepted so that formats written for the platform still resolve.
            case kCGLPFAAllRenderers:
            case kCGLPFATripleBuffer:
            case kCGLPFADoubleBuffer:
            case kCGLPFAMinimumPolicy:
            case kCGLPFAMaximumPolicy:
            case kCGLPFAMultisample:
            case kCGLPFAAccelerated:
            case kCGLPFANoRecovery:
            case kCGLPFAAllowOfflineRenderers: continue;
            default: return kCGLBadAttribute;
        }
        const EGLint value = AttributeAt(attribs, ++i);
        if (value < 0) return kCGLBadValue;
        *size = value;
    }
    return kCGLNoError;
}

// Number of EGL configs that satisfy the request; `first` receives one of them.
EGLint CountMatchingConfigs(const Display& display, const FormatRequest& request, EGLConfig& first) {
    // Colour size counts RGB bits; 32 and up include padding for alpha, as 8888 does.
    const EGLint channel = request.m_colorSize >= 32 ? request.m_colorSize / 4 : request.m_colorSize / 3;
    std::vector<EGLint> attribs = {
        EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
        EGL_SURFACE_TYPE, EGL_DONT_CARE,
        EGL_RED_SIZE, channel, EGL_GREEN_SIZE, channel, EGL_BLUE_SIZE, channel,
        EGL_ALPHA_SIZE, request.m_alphaSize,
        EGL_DEPTH_SIZE, request.m_depthSize,
        EGL_STENCIL_SIZE, request.m_stencilSize,
        EGL_SAMPLE_BUFFERS, request.m_sampleBuffers,
        EGL_SAMPLES, request.m_samples,
    };
    if (request.m_floatColor) {
        if (!display.m_floatConfigs) return 0;
        attribs.insert(attribs.end(), {EGL_COLOR_COMPONENT_TYPE_EXT, EGL_COLOR_COMPONENT_TYPE_FLOAT_EXT});
    }
    attribs.push_back(EGL_NONE);
    EGLint count = 0;
    if (!eglChooseConfig(display.m_display, attribs.data(), &first, 1, &count)) return 0;
    return count;
}

CGLError ChoosePixelFormat(const CGLPixelFormatAttribute* attribs, CGLPixelFormatObj* pix, GLint* npix) {
    if (pix == nullptr || npix == nullptr) return kCGLBadAddress;
    *pix = nullptr;
    *npix = 0;
    if (const auto failure = Take(InjectedFailures().m_choose)) {
        *npix = failure->m_npix;
        return failure->m_code;
    }
    FormatRequest request;
    if (const CGLError error = ParseAttributes(attribs, request)) return error;

    const Display& display = GetDisplay();
    if (display.m_display == EGL_NO_DISPLAY) return kCGLBadDisplay;
    EGLConfig config = EGL_NO_CONFIG_KHR;
    if (CountMatchingConfigs(display, request, config) < 1) return kCGLNoError;

    auto* format = new _CGLPixelFormatObject;
    // Without a drawable the config only matters where EGL insists on one.
    format->m_config = display.m_noConfigContext ? EGL_NO_CONFIG_KHR : config;
    format->m_major = request.m_major;
    format->m_minor = request.m_minor;
    format->m_core = request.m_core;
    ++g_livePixelFormats;
    *pix = format;
    *npix = 1;
    return kCGLNoError;
}

CGLError ReleasePixelFormat(CGLPixelFormatObj pix) {
    if (pix == nullptr) return kCGLBadPixelFormat;
    if (pix->m_refs.fetch_sub(1) == 1) {
        delete pix;
        --g_livePixelFormats;
    }
    return kCGLNoError;
}

CGLError CreateContext(CGLPixelFormatObj pix, CGLContextObj share, CGLContextObj* ctx) {
    if (ctx == nullptr) return kCGLBadAddress;
    *ctx = nullptr;
    if (const auto failure = Take(InjectedFailures().m_create)) return *failure;
    if (pix == nullptr) return kCGLBadPixelFormat;
    const EGLDisplay display = g_openedDisplay.load();
    if (display == EGL_NO_DISPLAY) return kCGLBadDisplay;

    EGLContext shareEgl = EGL_NO_CONTEXT;
    if (share != nullptr) {
        std::lock_guard lock(Registry().m_mutex);
        if (!IsLive(share)) return kCGLBadMatch;
        shareEgl = share->m_egl.load();
        if (shareEgl == EGL_NO_CONTEXT) return kCGLBadMatch;
    }

    if (!eglBindAPI(EGL_OPENGL_API)) return kCGLBadAlloc;
    std::vector<EGLint> attribs = {
        EGL_CONTEXT_MAJOR_VERSION, pix->m_major,
        EGL_CONTEXT_MINOR_VERSION, pix->m_minor,
        EGL_CONTEXT_OPENGL_PROFILE_MASK,
        pix->m_core ? EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT : EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT,
    };
    if (pix->m_core) {
        // The platform only offers forward-compatible core contexts; match it so that removed
        // calls fail here too.
        attribs.insert(attribs.end(), {EGL_CONTEXT_OPENGL_FORWARD_COMPATIBLE, EGL_TRUE});
    }
    attribs.push_back(EGL_NONE);
    const EGLContext egl = eglCreateContext(display, pix->m_config, shareEgl, attribs.data());
    if (egl == EGL_NO_CONTEXT) {
        switch (eglGetError()) {
            case EGL_BAD_MATCH:
            case EGL_BAD_CONTEXT: return kCGLBadMatch;
            case EGL_BAD_CONFIG: return kCGLBadPixelFormat;
            default: return kCGLBadAlloc;
        }
    }

    auto* object = new (std::nothrow) _CGLContextObject;
    if (object == nullptr) {
        eglDestroyContext(display, egl);
        return kCGLBadAlloc;
    }
    object->m_egl.store(egl);
    try {
        std::lock_guard lock(Registry().m_mutex);
        Registry().m_live.insert(object);
    } catch (...) {
        eglDestroyContext(display, egl);
        delete object;
        return kCGLBadAlloc;
    }
    *ctx = object;
    return kCGLNoError;
}

CGLError DestroyContext(CGLContextObj ctx) {
    EGLContext egl = EGL_NO_CONTEXT;
    {
        std::lock_guard lock(Registry().m_mutex);
        if (!IsLive(ctx)) return kCGLBadContext;
        egl = ctx->m_egl.exchange(EGL_NO_CONTEXT);
    }
    if (egl == EGL_NO_CONTEXT) return kCGLBadContext;  // destroyed before, still referenced
    DestroyEglContext(ctx, egl);
    Release(ctx);
    return kCGLNoError;
}

CGLError SetCurrentContext(CGLContextObj ctx) {
    if (ctx == nullptr) return UnbindCurrent();
    EGLContext egl = EGL_NO_CONTEXT;
    {
        std::lock_guard lock(Registry().m_mutex);
        if (!IsLive(ctx)) return kCGLBadContext;
        egl = ctx->m_egl.load();
    }
    if (egl == EGL_NO_CONTEXT) return kCGLBadContext;
    eglBindAPI(EGL_OPENGL_API);
    if (!eglMakeCurrent(g_openedDisplay.load(), EGL_NO_SURFACE, EGL_NO_SURFACE, egl)) {
        switch (eglGetError()) {
            case EGL_BAD_ACCESS:  // current on another thread
            case EGL_CONTEXT_LOST: return kCGLBadState;
            case EGL_BAD_MATCH: return kCGLBadMatch;
            case EGL_BAD_ALLOC: return kCGLBadAlloc;
            default: return kCGLBadContext;
        }
    }
    t_current = ctx;
    return kCGLNoError;
}

// Keeps exceptions (allocation, locking) from crossing the C boundary.
template <typename Function>
CGLError Guarded(Function&& function) noexcept {
    try {
        return function();
    } catch (const std::bad_alloc&) {
        return kCGLBadAlloc;
    } catch (...) {
        return kCGLBadState;
    }
}

}  // namespace

extern "C" {

CGL_EXPORT CGLError CGLChoosePixelFormat(const CGLPixelFormatAttribute* attribs, CGLPixelFormatObj* pix,
                                         GLint* npix) {
    return Guarded([&] { return ChoosePixelFormat(attribs, pix, npix); });
}

CGL_EXPORT CGLError CGLReleasePixelFormat(CGLPixelFormatObj pix) {
    return ReleasePixelFormat(pix);
}

CGL_EXPORT CGLError CGLDestroyPixelFormat(CGLPixelFormatObj pix) {
    return ReleasePixelFormat(pix);
}

CGL_EXPORT CGLError CGLCreateContext(CGLPixelFormatObj pix, CGLContextObj share, CGLContextObj* ctx) {
    return Guarded([&] { return CreateContext(pix, share, ctx); });
}

CGL_EXPORT CGLContextObj CGLRetainContext(CGLContextObj ctx) {
    try {
        std::lock_guard lock(Registry().m_mutex);
        if (!IsLive(ctx)) return nullptr;
        ctx->m_refs.fetch_add(1);
        return ctx;
    } catch (...) {
        return nullptr;
    }
}

CGL_EXPORT void CGLReleaseContext(CGLContextObj ctx) {
    try {
        Release(ctx);
    } catch (...) {
        // Only locking can throw; the reference stays.
    }
}

CGL_EXPORT uint32_t CGLGetContextRetainCount(CGLContextObj ctx) {
    try {
        std::lock_guard lock(Registry().m_mutex);
        return IsLive(ctx) ? ctx->m_refs.load() : 0;
    } catch (...) {
        return 0;
    }
}

CGL_EXPORT CGLError CGLDestroyContext(CGLContextObj ctx) {
    return Guarded([&] { return DestroyContext(ctx); });
}

CGL_EXPORT CGLContextObj CGLGetCurrentContext(void) {
    return t_current;
}

CGL_EXPORT CGLError CGLSetCurrentContext(CGLContextObj ctx) {
    return Guarded([&] { return SetCurrentContext(ctx); });
}

CGL_EXPORT const char* CGLErrorString(CGLError error) {
    switch (error) {
        case kCGLNoError: return "no error";
        case kCGLBadAttribute: return "invalid pixel format attribute";
        case kCGLBadProperty: return "invalid renderer property";
        case kCGLBadPixelFormat: return "invalid pixel format";
        case kCGLBadRendererInfo: return "invalid renderer info";
        case kCGLBadContext: return "invalid context";
        case kCGLBadDrawable: return "invalid drawable";
        case kCGLBadDisplay: return "invalid graphics device";
        case kCGLBadState: return "invalid context state";
        case kCGLBadValue: return "invalid numerical value";
        case kCGLBadMatch: return "invalid share context";
        case kCGLBadEnumeration: return "invalid enumerant";
        case kCGLBadOffScreen: return "invalid offscreen drawable";
        case kCGLBadFullScreen: return "invalid fullscreen drawable";
        case kCGLBadWindow: return "invalid window";
        case kCGLBadAddress: return "invalid pointer";
        case kCGLBadCodeModule: return "invalid code module";
        case kCGLBadAlloc: return "invalid memory allocation";
        case kCGLBadConnection: return "invalid CoreGraphics connection";
    }
    return "unknown error";
}

// ---------------------------------------------------------------------------------------------

CGL_EXPORT void UmbrafexCGL_FailNextChoosePixelFormat(CGLError code, int npix) {
    std::lock_guard lock(InjectedFailures().m_mutex);
    InjectedFailures().m_choose = ChooseFailure{code, npix};
}

CGL_EXPORT void UmbrafexCGL_FailNextCreateContext(CGLError code) {
    std::lock_guard lock(InjectedFailures().m_mutex);
    InjectedFailures().m_create = code;
}

CGL_EXPORT void UmbrafexCGL_ResetFailures(void) {
    std::lock_guard lock(InjectedFailures().m_mutex);
    InjectedFailures().m_choose.reset();
    InjectedFailures().m_create.reset();
}

CGL_EXPORT int UmbrafexCGL_LiveContexts(void) {
    std::lock_guard lock(Registry().m_mutex);
    return static_cast<int>(Registry().m_live.size());
}

CGL_EXPORT int UmbrafexCGL_LivePixelFormats(void) {
    return g_livePixelFormats.load();
}

CGL_EXPORT const char* UmbrafexCGL_PlatformName(void) {
    try {
        return GetDisplay().m_platformName;
    } catch (...) {
        return "none";
    }
}

}  // extern "C"
