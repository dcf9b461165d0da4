// The EGL-backed CGL, exercised on a real OpenGL implementation.
#include <gtest/gtest.h>

#include <array>
#include <barrier>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "OpenGL/OpenGL.h"
#include "OpenGL/gl3.h"
#include "cgl/CGLTesting.h"

namespace {

constexpr CGLPixelFormatAttribute Attr(int value) { return static_cast<CGLPixelFormatAttribute>(value); }

const CGLPixelFormatAttribute kCore[] = {kCGLPFAOpenGLProfile, Attr(kCGLOGLPVersion_3_2_Core), Attr(0)};

CGLContextObj MakeContext(const CGLPixelFormatAttribute* attribs = kCore, CGLContextObj share = nullptr) {
    CGLPixelFormatObj pix = nullptr;
    GLint npix = 0;
    EXPECT_EQ(CGLChoosePixelFormat(attribs, &pix, &npix), kCGLNoError);
    if (pix == nullptr) return nullptr;
    EXPECT_EQ(npix, 1);
    CGLContextObj ctx = nullptr;
    EXPECT_EQ(CGLCreateContext(pix, share, &ctx), kCGLNoError);
    EXPECT_EQ(CGLReleasePixelFormat(pix), kCGLNoError);
    return ctx;
}

GLint GetInt(GLenum name) {
    GLint value = -1;
    glGetIntegerv(name, &value);
    return value;
}
bool IsCore() { return (GetInt(GL_CONTEXT_PROFILE_MASK) & GL_CONTEXT_CORE_PROFILE_BIT) != 0; }

using Rgba = std::array<uint8_t, 4>;

// Clears a 16x16 RGBA8 texture-backed framebuffer to `background`, its left half to
// `foreground`, and reads back one pixel from each half. Needs a current context.
std::array<Rgba, 2> DrawAndReadBack(Rgba background, Rgba foreground) {
    GLuint texture = 0, framebuffer = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 16, 16, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
    EXPECT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), GLenum(GL_FRAMEBUFFER_COMPLETE));
    for (const Rgba& colour : {background, foreground}) {
        glClearColor(colour[0] / 255.0f, colour[1] / 255.0f, colour[2] / 255.0f, colour[3] / 255.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        glEnable(GL_SCISSOR_TEST);
        glScissor(0, 0, 8, 16);
    }
    glDisable(GL_SCISSOR_TEST);
    std::array<Rgba, 2> pixels{};
    glReadPixels(2, 8, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixels[0].data());
    glReadPixels(13, 8, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixels[1].data());
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    glDeleteFramebuffers(1, &framebuffer);
    glDeleteTextures(1, &texture);
    return pixels;
}

// Every test must leave no context or pixel format behind and nothing current.
class CGLTest : public ::testing::Test {
protected:
    void SetUp() override {
        UmbrafexCGL_ResetFailures();
        m_contexts = UmbrafexCGL_LiveContexts();
        m_formats = UmbrafexCGL_LivePixelFormats();
    }
    void TearDown() override {
        UmbrafexCGL_ResetFailures();
        EXPECT_EQ(CGLSetCurrentContext(nullptr), kCGLNoError);
        EXPECT_EQ(UmbrafexCGL_LiveContexts(), m_contexts);
        EXPECT_EQ(UmbrafexCGL_LivePixelFormats(), m_formats);
    }
    int m_contexts = 0;
    int m_formats = 0;
};

TEST_F(CGLTest, CoreContextRendersAndIsUnboundWhenDestroyed) {
    RecordProperty("platform", UmbrafexCGL_PlatformName());
    CGLContextObj ctx = MakeContext();
    ASSERT_NE(ctx, nullptr);
    ASSERT_EQ(CGLSetCurrentContext(ctx), kCGLNoError);
    EXPECT_EQ(CGLGetCurrentContext(), ctx);
    const GLint major = GetInt(GL_MAJOR_VERSION), minor = GetInt(GL_MINOR_VERSION);
    EXPECT_TRUE(major > 3 || (major == 3 && minor >= 3)) << major << "." << minor;
    EXPECT_TRUE(IsCore());
    EXPECT_NE(GetInt(GL_CONTEXT_FLAGS) & GL_CONTEXT_FLAG_FORWARD_COMPATIBLE_BIT, 0);

    const auto pixels = DrawAndReadBack({0, 0, 255, 255}, {255, 128, 0, 255});
    EXPECT_EQ(pixels[0], (Rgba{255, 128, 0, 255}));
    EXPECT_EQ(pixels[1], (Rgba{0, 0, 255, 255}));

    EXPECT_EQ(CGLDestroyContext(ctx), kCGLNoError);
    EXPECT_EQ(CGLGetCurrentContext(), nullptr);
    EXPECT_EQ(glGetString(GL_VERSION), nullptr);  // nothing bound in EGL either
}

TEST_F(CGLTest, ProfilesSelectCoreAndCompatibilityContexts) {
    const CGLPixelFormatAttribute gl4[] = {kCGLPFAOpenGLProfile, Attr(kCGLOGLPVersion_GL4_Core), Attr(0)};
    const CGLPixelFormatAttribute legacy[] = {kCGLPFAOpenGLProfile, Attr(kCGLOGLPVersion_Legacy), Attr(0)};
    // Values that look like attributes (12 = depth size) must be read as values.
    const CGLPixelFormatAttribute typical[] = {
        kCGLPFAAccelerated, kCGLPFANoRecovery, kCGLPFADoubleBuffer, kCGLPFAColorSize, Attr(24),
        kCGLPFAAlphaSize, Attr(8), kCGLPFADepthSize, Attr(12), kCGLPFAStencilSize, Attr(0),
        kCGLPFAOpenGLProfile, Attr(kCGLOGLPVersion_3_2_Core), Attr(0),
    };
    struct Case {
        const CGLPixelFormatAttribute* attribs;
        int minVersion;  // major·10 + minor; 0: not asked
        bool core;
    };
    // No list at all means a 3.3 core context.
    int i = 0;
    for (const Case& c : {Case{gl4, 41, true}, Case{legacy, 0, false}, Case{nullptr, 33, true},
                          Case{typical, 33, true}}) {
        CGLContextObj ctx = MakeContext(c.attribs);
        ASSERT_NE(ctx, nullptr) << "case " << i;
        ASSERT_EQ(CGLSetCurrentContext(ctx), kCGLNoError);
        if (c.minVersion) {
            EXPECT_GE(GetInt(GL_MAJOR_VERSION) * 10 + GetInt(GL_MINOR_VERSION), c.minVersion) << "case " << i;
        }
        EXPECT_EQ(IsCore(), c.core) << "case " << i++;
        EXPECT_EQ(CGLDestroyContext(ctx), kCGLNoError);
    }
}

TEST_F(CGLTest, SharedContextSeesObjectsAndUnsharedDoesNot) {
    CGLContextObj first = MakeContext();
    ASSERT_NE(first, nullptr);
    ASSERT_EQ(CGLSetCurrentContext(first), kCGLNoError);
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glFinish();

    CGLContextObj shared = MakeContext(kCore, first), alone = MakeContext();
    ASSERT_TRUE(shared && alone);
    ASSERT_EQ(CGLSetCurrentContext(shared), kCGLNoError);
    EXPECT_EQ(glIsTexture(texture), GL_TRUE);
    ASSERT_EQ(CGLSetCurrentContext(alone), kCGLNoError);
    EXPECT_EQ(glIsTexture(texture), GL_FALSE);
    for (CGLContextObj ctx : {alone, shared, first}) EXPECT_EQ(CGLDestroyContext(ctx), kCGLNoError);
}

TEST_F(CGLTest, UnbindingNeedsNoDisplay) {
    // A fresh process: nothing has opened the display there yet.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::_Exit(CGLSetCurrentContext(nullptr) == kCGLNoError && CGLGetCurrentContext() == nullptr ? 0 : 1),
                ::testing::ExitedWithCode(0), "");
}

TEST_F(CGLTest, PixelFormatRejectsBadListsAndArguments) {
    const std::vector<std::pair<std::vector<CGLPixelFormatAttribute>, CGLError>> cases = {
        {{kCGLPFADoubleBuffer, Attr(12345), Attr(0)}, kCGLBadAttribute},
        {{kCGLPFAOpenGLProfile, Attr(0x2100), Attr(0)}, kCGLBadValue},
        {{kCGLPFADepthSize, Attr(-8), Attr(0)}, kCGLBadValue},
        // Unsatisfiable is not an error: no format, none counted.
        {{kCGLPFASampleBuffers, Attr(1), kCGLPFASamples, Attr(1024), Attr(0)}, kCGLNoError},
    };
    for (const auto& [list, want] : cases) {
        CGLPixelFormatObj pix = nullptr;
        GLint npix = -1;
        EXPECT_EQ(CGLChoosePixelFormat(list.data(), &pix, &npix), want) << list[1];
        EXPECT_EQ(pix, nullptr) << list[1];
        EXPECT_EQ(npix, 0) << list[1];
    }
    CGLPixelFormatObj pix = nullptr;
    GLint npix = -1;
    EXPECT_EQ(CGLChoosePixelFormat(kCore, nullptr, &npix), kCGLBadAddress);
    EXPECT_EQ(CGLChoosePixelFormat(kCore, &pix, nullptr), kCGLBadAddress);
    EXPECT_EQ(CGLReleasePixelFormat(nullptr), kCGLBadPixelFormat);
    EXPECT_EQ(CGLDestroyPixelFormat(nullptr), kCGLBadPixelFormat);
}

TEST_F(CGLTest, RetainReleaseAndDestroyFreeEverything) {
    CGLContextObj ctx = MakeContext();
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(UmbrafexCGL_LiveContexts(), m_contexts + 1);
    EXPECT_EQ(CGLGetContextRetainCount(ctx), 1u);
    EXPECT_EQ(CGLRetainContext(ctx), ctx);
    EXPECT_EQ(CGLGetContextRetainCount(ctx), 2u);
    CGLReleaseContext(ctx);
    EXPECT_EQ(CGLGetContextRetainCount(ctx), 1u);
    EXPECT_EQ(CGLDestroyContext(ctx), kCGLNoError);
    EXPECT_EQ(UmbrafexCGL_LiveContexts(), m_contexts);

    // The last release alone also destroys, even while current.
    CGLContextObj released = MakeContext();
    ASSERT_NE(released, nullptr);
    ASSERT_EQ(CGLSetCurrentContext(released), kCGLNoError);
    CGLReleaseContext(released);
    EXPECT_EQ(UmbrafexCGL_LiveContexts(), m_contexts);
    EXPECT_EQ(CGLGetCurrentContext(), nullptr);
}

TEST_F(CGLTest, DestroyedStaleAndNullContextsAreRejected) {
    CGLPixelFormatObj pix = nullptr;
    GLint npix = 0;
    ASSERT_EQ(CGLChoosePixelFormat(kCore, &pix, &npix), kCGLNoError);
    CGLContextObj ctx = nullptr;
    ASSERT_EQ(CGLCreateContext(pix, nullptr, &ctx), kCGLNoError);
    CGLRetainContext(ctx);
    ASSERT_EQ(CGLDestroyContext(ctx), kCGLNoError);
    EXPECT_EQ(CGLGetContextRetainCount(ctx), 1u);  // destroyed, still referenced
    EXPECT_EQ(CGLSetCurrentContext(ctx), kCGLBadContext);
    EXPECT_EQ(CGLGetCurrentContext(), nullptr);
    CGLContextObj child = reinterpret_cast<CGLContextObj>(&npix);
    EXPECT_EQ(CGLCreateContext(pix, ctx, &child), kCGLBadMatch);
    EXPECT_EQ(child, nullptr);

    // Once released the handle is stale; it is refused rather than followed.
    CGLReleaseContext(ctx);
    EXPECT_EQ(UmbrafexCGL_LiveContexts(), m_contexts);
    EXPECT_EQ(CGLSetCurrentContext(ctx), kCGLBadContext);
    EXPECT_EQ(CGLDestroyContext(ctx), kCGLBadContext);
    EXPECT_EQ(CGLGetContextRetainCount(ctx), 0u);
    EXPECT_EQ(CGLRetainContext(ctx), nullptr);

    EXPECT_EQ(CGLCreateContext(nullptr, nullptr, &child), kCGLBadPixelFormat);
    EXPECT_EQ(CGLCreateContext(pix, nullptr, nullptr), kCGLBadAddress);
    EXPECT_EQ(CGLDestroyContext(nullptr), kCGLBadContext);
    EXPECT_EQ(CGLRetainContext(nullptr), nullptr);
    CGLReleaseContext(nullptr);
    EXPECT_EQ(CGLReleasePixelFormat(pix), kCGLNoError);
}

// What each injected failure hands back is checked through the context wrappers.
TEST_F(CGLTest, InjectedFailuresHappenOnceOnAnyThreadAndReset) {
    CGLPixelFormatObj pix = nullptr;
    GLint npix = 0;
    UmbrafexCGL_FailNextChoosePixelFormat(kCGLBadAlloc, 3);
    EXPECT_EQ(CGLChoosePixelFormat(kCore, &pix, &npix), kCGLBadAlloc);
    EXPECT_EQ(pix, nullptr);
    ASSERT_EQ(CGLChoosePixelFormat(kCore, &pix, &npix), kCGLNoError);
    ASSERT_NE(pix, nullptr);

    // Armed here, taken by another thread, once.
    UmbrafexCGL_FailNextCreateContext(kCGLBadAlloc);
    CGLError onOtherThread = kCGLNoError;
    std::thread([&] {
        CGLContextObj other = nullptr;
        onOtherThread = CGLCreateContext(pix, nullptr, &other);
    }).join();
    EXPECT_EQ(onOtherThread, kCGLBadAlloc);
    EXPECT_EQ(UmbrafexCGL_LiveContexts(), m_contexts);
    CGLContextObj ctx = nullptr;
    ASSERT_EQ(CGLCreateContext(pix, nullptr, &ctx), kCGLNoError);
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(CGLDestroyContext(ctx), kCGLNoError);

    // A reset disarms both kinds.
    UmbrafexCGL_FailNextChoosePixelFormat(kCGLBadDisplay, 0);
    UmbrafexCGL_FailNextCreateContext(kCGLBadAlloc);
    UmbrafexCGL_ResetFailures();
    CGLPixelFormatObj second = nullptr;
    ASSERT_EQ(CGLChoosePixelFormat(kCore, &second, &npix), kCGLNoError);
    ASSERT_NE(second, nullptr);
    ASSERT_EQ(CGLCreateContext(pix, nullptr, &ctx), kCGLNoError);
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(CGLDestroyContext(ctx), kCGLNoError);
    EXPECT_EQ(CGLReleasePixelFormat(second), kCGLNoError);
    EXPECT_EQ(CGLReleasePixelFormat(pix), kCGLNoError);
}

TEST(CGLErrorStringTest, EveryCodeHasItsOwnTextAndOthersAreUnknown) {
    // The texts the context wrappers report are checked there.
    EXPECT_STREQ(CGLErrorString(kCGLNoError), "no error");
    EXPECT_STREQ(CGLErrorString(kCGLBadConnection), "invalid CoreGraphics connection");
    std::set<std::string> texts{CGLErrorString(kCGLNoError)};
    for (int code = kCGLBadAttribute; code <= kCGLBadConnection; ++code) {
        const char* text = CGLErrorString(static_cast<CGLError>(code));
        ASSERT_NE(text, nullptr);
        EXPECT_STRNE(text, "unknown error") << code;
        texts.insert(text);
    }
    EXPECT_EQ(texts.size(), 19u);
    for (int code : {1, 9999, 10018, 12345})
        EXPECT_STREQ(CGLErrorString(static_cast<CGLError>(code)), "unknown error") << code;
}

// Refusing a context current elsewhere is checked through the context wrappers.
TEST_F(CGLTest, CurrentContextIsPerThreadAndCanBeHandedOver) {
    CGLContextObj ctx = MakeContext();
    ASSERT_NE(ctx, nullptr);
    ASSERT_EQ(CGLSetCurrentContext(ctx), kCGLNoError);
    CGLContextObj seen = ctx;
    const GLubyte* version = reinterpret_cast<const GLubyte*>("unset");
    std::thread([&] { seen = CGLGetCurrentContext(), version = glGetString(GL_VERSION); }).join();
    EXPECT_EQ(seen, nullptr);
    EXPECT_EQ(version, nullptr);
    EXPECT_EQ(CGLGetCurrentContext(), ctx);
    EXPECT_NE(glGetString(GL_VERSION), nullptr);

    // Once released here, another thread may take it.
    ASSERT_EQ(CGLSetCurrentContext(nullptr), kCGLNoError);
    CGLError elsewhere = kCGLBadState;
    std::thread([&] { elsewhere = CGLSetCurrentContext(ctx), CGLSetCurrentContext(nullptr); }).join();
    EXPECT_EQ(elsewhere, kCGLNoError);
    EXPECT_EQ(CGLDestroyContext(ctx), kCGLNoError);
}

TEST_F(CGLTest, TwoThreadsCreateDrawAndDestroyAtOnce) {
    std::barrier together(2);
    auto worker = [&](Rgba colour) {
        for (int round = 0; round < 4; ++round) {
            together.arrive_and_wait();
            CGLContextObj ctx = MakeContext();
            if (ctx == nullptr) {
                ADD_FAILURE() << "no context";
                together.arrive_and_drop();  // let the other thread carry on alone
                return;
            }
            EXPECT_EQ(CGLSetCurrentContext(ctx), kCGLNoError);
            together.arrive_and_wait();  // both contexts live and current here
            const auto pixels = DrawAndReadBack({0, 0, 0, 255}, colour);
            EXPECT_EQ(pixels[0], colour);
            EXPECT_EQ(pixels[1], (Rgba{0, 0, 0, 255}));
            EXPECT_EQ(CGLDestroyContext(ctx), kCGLNoError);
            EXPECT_EQ(CGLGetCurrentContext(), nullptr);
        }
    };
    std::thread a(worker, Rgba{255, 0, 0, 255}), b(worker, Rgba{0, 255, 0, 255});
    a.join();
    b.join();
}

}  // namespace
