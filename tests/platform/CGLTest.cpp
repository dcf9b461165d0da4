// The EGL-backed CGL, exercised on a real OpenGL implementation.
#include <gtest/gtest.h>

#include <array>
#include <barrier>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>

#include "OpenGL/OpenGL.h"
#include "OpenGL/gl3.h"
#include "cgl/CGLTesting.h"

namespace {

constexpr CGLPixelFormatAttribute Attr(int value) {
    return static_cast<CGLPixelFormatAttribute>(value);
}

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

using Rgba = std::array<uint8_t, 4>;

GLuint Compile(GLenum type, const char* source) {
    const GLuint shader = glCreateShader(type);
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    GLint ok = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    EXPECT_EQ(ok, GL_TRUE);
    return shader;
}

// Clears a 16x16 RGBA8 texture to `background`, draws `foreground` over its left half with a
// shader, and reads back one pixel from each half. Needs a current context.
std::array<Rgba, 2> DrawAndReadBack(Rgba background, Rgba foreground) {
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 16, 16, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    GLuint framebuffer = 0;
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
    EXPECT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
    glViewport(0, 0, 16, 16);
    glClearColor(background[0] / 255.0f, background[1] / 255.0f, background[2] / 255.0f, background[3] / 255.0f);
    glClear(GL_COLOR_BUFFER_BIT);

    const GLuint vertex = Compile(GL_VERTEX_SHADER, R"(#version 330 core
        void main() {
            vec2 corner = vec2((gl_VertexID << 1) & 2, gl_VertexID & 2);
            gl_Position = vec4(corner * 2.0 - 1.0, 0.0, 1.0);
        })");
    const GLuint fragment = Compile(GL_FRAGMENT_SHADER, R"(#version 330 core
        uniform vec4 u_colour;
        out vec4 o_colour;
        void main() { o_colour = u_colour; })");
    const GLuint program = glCreateProgram();
    glAttachShader(program, vertex);
    glAttachShader(program, fragment);
    glLinkProgram(program);
    GLint linked = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &linked);
    EXPECT_EQ(linked, GL_TRUE);
    glUseProgram(program);
    glUniform4f(glGetUniformLocation(program, "u_colour"), foreground[0] / 255.0f, foreground[1] / 255.0f,
                foreground[2] / 255.0f, foreground[3] / 255.0f);
    GLuint vertexArray = 0;
    glGenVertexArrays(1, &vertexArray);
    glBindVertexArray(vertexArray);
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, 0, 8, 16);
    glDrawArrays(GL_TRIANGLES, 0, 3);
    glDisable(GL_SCISSOR_TEST);

    std::array<Rgba, 2> pixels{};
    glReadPixels(2, 8, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixels[0].data());
    glReadPixels(13, 8, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixels[1].data());
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

    glDeleteVertexArrays(1, &vertexArray);
    glDeleteProgram(program);
    glDeleteShader(vertex);
    glDeleteShader(fragment);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
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

// --- Contexts on the real implementation -----------------------------------------------------

TEST_F(CGLTest, CoreContextReportsVersionAndProfile) {
    RecordProperty("platform", UmbrafexCGL_PlatformName());
    CGLContextObj ctx = MakeContext();
    ASSERT_NE(ctx, nullptr);
    ASSERT_EQ(CGLSetCurrentContext(ctx), kCGLNoError);
    EXPECT_EQ(CGLGetCurrentContext(), ctx);

    const GLint major = GetInt(GL_MAJOR_VERSION);
    const GLint minor = GetInt(GL_MINOR_VERSION);
    EXPECT_TRUE(major > 3 || (major == 3 && minor >= 3)) << major << "." << minor;
    EXPECT_NE(GetInt(GL_CONTEXT_PROFILE_MASK) & GL_CONTEXT_CORE_PROFILE_BIT, 0);
    EXPECT_NE(GetInt(GL_CONTEXT_FLAGS) & GL_CONTEXT_FLAG_FORWARD_COMPATIBLE_BIT, 0);
    const auto* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    ASSERT_NE(version, nullptr);
    EXPECT_GE(std::string(version).substr(0, 3), "3.3");

    EXPECT_EQ(CGLDestroyContext(ctx), kCGLNoError);
}

TEST_F(CGLTest, RendersIntoFramebuffer) {
    CGLContextObj ctx = MakeContext();
    ASSERT_NE(ctx, nullptr);
    ASSERT_EQ(CGLSetCurrentContext(ctx), kCGLNoError);
    const auto pixels = DrawAndReadBack({0, 0, 255, 255}, {255, 128, 0, 255});
    EXPECT_EQ(pixels[0], (Rgba{255, 128, 0, 255}));
    EXPECT_EQ(pixels[1], (Rgba{0, 0, 255, 255}));
    EXPECT_EQ(CGLDestroyContext(ctx), kCGLNoError);
}

TEST_F(CGLTest, ProfilesSelectCoreAndCompatibilityContexts) {
    const CGLPixelFormatAttribute gl4[] = {kCGLPFAOpenGLProfile, Attr(kCGLOGLPVersion_GL4_Core), Attr(0)};
    CGLContextObj modern = MakeContext(gl4);
    ASSERT_NE(modern, nullptr);
    ASSERT_EQ(CGLSetCurrentContext(modern), kCGLNoError);
    const GLint major = GetInt(GL_MAJOR_VERSION);
    EXPECT_TRUE(major > 4 || (major == 4 && GetInt(GL_MINOR_VERSION) >= 1));
    EXPECT_NE(GetInt(GL_CONTEXT_PROFILE_MASK) & GL_CONTEXT_CORE_PROFILE_BIT, 0);

    const CGLPixelFormatAttribute legacy[] = {kCGLPFAOpenGLProfile, Attr(kCGLOGLPVersion_Legacy), Attr(0)};
    CGLContextObj old = MakeContext(legacy);
    ASSERT_NE(old, nullptr);
    ASSERT_EQ(CGLSetCurrentContext(old), kCGLNoError);
    EXPECT_EQ(GetInt(GL_CONTEXT_PROFILE_MASK) & GL_CONTEXT_CORE_PROFILE_BIT, 0);

    EXPECT_EQ(CGLDestroyContext(old), kCGLNoError);
    EXPECT_EQ(CGLDestroyContext(modern), kCGLNoError);
}

TEST_F(CGLTest, SharedContextSeesObjectsAndUnsharedDoesNot) {
    CGLContextObj first = MakeContext();
    ASSERT_NE(first, nullptr);
    ASSERT_EQ(CGLSetCurrentContext(first), kCGLNoError);
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glFinish();

    CGLContextObj shared = MakeContext(kCore, first);
    CGLContextObj alone = MakeContext();
    ASSERT_NE(shared, nullptr);
    ASSERT_NE(alone, nullptr);
    ASSERT_EQ(CGLSetCurrentContext(shared), kCGLNoError);
    EXPECT_EQ(glIsTexture(texture), GL_TRUE);
    ASSERT_EQ(CGLSetCurrentContext(alone), kCGLNoError);
    EXPECT_EQ(glIsTexture(texture), GL_FALSE);

    EXPECT_EQ(CGLDestroyContext(alone), kCGLNoError);
    EXPECT_EQ(CGLDestroyContext(shared), kCGLNoError);
    EXPECT_EQ(CGLDestroyContext(first), kCGLNoError);
}

TEST_F(CGLTest, DestroyingTheCurrentContextUnbindsIt) {
    CGLContextObj ctx = MakeContext();
    ASSERT_NE(ctx, nullptr);
    ASSERT_EQ(CGLSetCurrentContext(ctx), kCGLNoError);
    ASSERT_NE(glGetString(GL_VERSION), nullptr);
    EXPECT_EQ(CGLDestroyContext(ctx), kCGLNoError);
    EXPECT_EQ(CGLGetCurrentContext(), nullptr);
    EXPECT_EQ(glGetString(GL_VERSION), nullptr);  // nothing bound in EGL either
}

TEST_F(CGLTest, UnbindingNeedsNoDisplay) {
    // A fresh process: nothing has opened the display there yet.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::_Exit(CGLSetCurrentContext(nullptr) == kCGLNoError && CGLGetCurrentContext() == nullptr ? 0 : 1),
                ::testing::ExitedWithCode(0), "");
}

// --- Pixel formats ---------------------------------------------------------------------------

TEST_F(CGLTest, PixelFormatRejectsBadAttributeLists) {
    CGLPixelFormatObj pix = nullptr;
    GLint npix = -1;
    const CGLPixelFormatAttribute unknown[] = {kCGLPFADoubleBuffer, Attr(12345), Attr(0)};
    EXPECT_EQ(CGLChoosePixelFormat(unknown, &pix, &npix), kCGLBadAttribute);
    EXPECT_EQ(pix, nullptr);
    EXPECT_EQ(npix, 0);

    const CGLPixelFormatAttribute badProfile[] = {kCGLPFAOpenGLProfile, Attr(0x2100), Attr(0)};
    EXPECT_EQ(CGLChoosePixelFormat(badProfile, &pix, &npix), kCGLBadValue);
    const CGLPixelFormatAttribute negative[] = {kCGLPFADepthSize, Attr(-8), Attr(0)};
    EXPECT_EQ(CGLChoosePixelFormat(negative, &pix, &npix), kCGLBadValue);
    EXPECT_EQ(pix, nullptr);

    EXPECT_EQ(CGLChoosePixelFormat(kCore, nullptr, &npix), kCGLBadAddress);
    EXPECT_EQ(CGLChoosePixelFormat(kCore, &pix, nullptr), kCGLBadAddress);
    EXPECT_EQ(CGLReleasePixelFormat(nullptr), kCGLBadPixelFormat);
    EXPECT_EQ(CGLDestroyPixelFormat(nullptr), kCGLBadPixelFormat);
}

TEST_F(CGLTest, PixelFormatAcceptsPlatformAttributesAndDefaults) {
    // Values that look like attributes (12 = depth size) must be read as values.
    const CGLPixelFormatAttribute typical[] = {
        kCGLPFAAccelerated, kCGLPFANoRecovery, kCGLPFADoubleBuffer, kCGLPFAColorSize, Attr(24),
        kCGLPFAAlphaSize, Attr(8), kCGLPFADepthSize, Attr(12), kCGLPFAStencilSize, Attr(0),
        kCGLPFAOpenGLProfile, Attr(kCGLOGLPVersion_3_2_Core), Attr(0),
    };
    CGLPixelFormatObj pix = nullptr;
    GLint npix = 0;
    ASSERT_EQ(CGLChoosePixelFormat(typical, &pix, &npix), kCGLNoError);
    ASSERT_NE(pix, nullptr);
    EXPECT_EQ(npix, 1);
    EXPECT_EQ(UmbrafexCGL_LivePixelFormats(), m_formats + 1);
    EXPECT_EQ(CGLDestroyPixelFormat(pix), kCGLNoError);

    // No list at all means a 3.3 core context.
    CGLContextObj ctx = MakeContext(nullptr);
    ASSERT_NE(ctx, nullptr);
    ASSERT_EQ(CGLSetCurrentContext(ctx), kCGLNoError);
    EXPECT_NE(GetInt(GL_CONTEXT_PROFILE_MASK) & GL_CONTEXT_CORE_PROFILE_BIT, 0);
    EXPECT_EQ(CGLDestroyContext(ctx), kCGLNoError);
}

TEST_F(CGLTest, UnsatisfiableFormatGivesNoFormatWithoutError) {
    const CGLPixelFormatAttribute impossible[] = {kCGLPFASampleBuffers, Attr(1), kCGLPFASamples, Attr(1024), Attr(0)};
    CGLPixelFormatObj pix = nullptr;
    GLint npix = -1;
    EXPECT_EQ(CGLChoosePixelFormat(impossible, &pix, &npix), kCGLNoError);
    EXPECT_EQ(pix, nullptr);
    EXPECT_EQ(npix, 0);
}

// --- Reference counting and invalid handles --------------------------------------------------

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

TEST_F(CGLTest, DestroyedContextsAreRejected) {
    CGLContextObj ctx = MakeContext();
    ASSERT_NE(ctx, nullptr);
    CGLRetainContext(ctx);
    ASSERT_EQ(CGLDestroyContext(ctx), kCGLNoError);
    EXPECT_EQ(CGLGetContextRetainCount(ctx), 1u);  // destroyed, still referenced

    EXPECT_EQ(CGLSetCurrentContext(ctx), kCGLBadContext);
    EXPECT_EQ(CGLGetCurrentContext(), nullptr);
    EXPECT_EQ(CGLDestroyContext(ctx), kCGLBadContext);
    EXPECT_EQ(CGLGetContextRetainCount(ctx), 1u);  // a second destroy takes no reference
    CGLPixelFormatObj pix = nullptr;
    GLint npix = 0;
    ASSERT_EQ(CGLChoosePixelFormat(kCore, &pix, &npix), kCGLNoError);
    CGLContextObj child = reinterpret_cast<CGLContextObj>(&npix);
    EXPECT_EQ(CGLCreateContext(pix, ctx, &child), kCGLBadMatch);
    EXPECT_EQ(child, nullptr);

    CGLReleaseContext(ctx);
    EXPECT_EQ(UmbrafexCGL_LiveContexts(), m_contexts);
    // The handle is stale now; it is refused rather than followed.
    EXPECT_EQ(CGLSetCurrentContext(ctx), kCGLBadContext);
    EXPECT_EQ(CGLDestroyContext(ctx), kCGLBadContext);
    EXPECT_EQ(CGLGetContextRetainCount(ctx), 0u);
    EXPECT_EQ(CGLRetainContext(ctx), nullptr);
    EXPECT_EQ(CGLCreateContext(pix, ctx, &child), kCGLBadMatch);
    EXPECT_EQ(CGLReleasePixelFormat(pix), kCGLNoError);
}

TEST_F(CGLTest, NullArgumentsAreRejected) {
    CGLContextObj ctx = nullptr;
    EXPECT_EQ(CGLCreateContext(nullptr, nullptr, &ctx), kCGLBadPixelFormat);
    EXPECT_EQ(ctx, nullptr);
    CGLPixelFormatObj pix = nullptr;
    GLint npix = 0;
    ASSERT_EQ(CGLChoosePixelFormat(kCore, &pix, &npix), kCGLNoError);
    EXPECT_EQ(CGLCreateContext(pix, nullptr, nullptr), kCGLBadAddress);
    EXPECT_EQ(CGLReleasePixelFormat(pix), kCGLNoError);

    EXPECT_EQ(CGLDestroyContext(nullptr), kCGLBadContext);
    EXPECT_EQ(CGLRetainContext(nullptr), nullptr);
    CGLReleaseContext(nullptr);
    EXPECT_EQ(CGLGetContextRetainCount(nullptr), 0u);
    EXPECT_EQ(CGLSetCurrentContext(nullptr), kCGLNoError);
    EXPECT_EQ(CGLGetCurrentContext(), nullptr);
}

// --- Injected failures -----------------------------------------------------------------------

TEST_F(CGLTest, InjectedChooseFailuresHappenOnce) {
    CGLPixelFormatObj pix = nullptr;
    GLint npix = 0;
    UmbrafexCGL_FailNextChoosePixelFormat(kCGLBadAlloc, 3);
    EXPECT_EQ(CGLChoosePixelFormat(kCore, &pix, &npix), kCGLBadAlloc);
    EXPECT_EQ(pix, nullptr);
    EXPECT_EQ(npix, 3);

    UmbrafexCGL_FailNextChoosePixelFormat(kCGLNoError, 0);
    EXPECT_EQ(CGLChoosePixelFormat(kCore, &pix, &npix), kCGLNoError);
    EXPECT_EQ(pix, nullptr);

    ASSERT_EQ(CGLChoosePixelFormat(kCore, &pix, &npix), kCGLNoError);
    EXPECT_NE(pix, nullptr);
    EXPECT_EQ(CGLReleasePixelFormat(pix), kCGLNoError);
}

TEST_F(CGLTest, InjectedCreateFailuresHappenOnce) {
    CGLPixelFormatObj pix = nullptr;
    GLint npix = 0;
    ASSERT_EQ(CGLChoosePixelFormat(kCore, &pix, &npix), kCGLNoError);
    CGLContextObj ctx = nullptr;
    UmbrafexCGL_FailNextCreateContext(kCGLBadMatch);
    EXPECT_EQ(CGLCreateContext(pix, nullptr, &ctx), kCGLBadMatch);
    EXPECT_EQ(ctx, nullptr);
    UmbrafexCGL_FailNextCreateContext(kCGLNoError);
    EXPECT_EQ(CGLCreateContext(pix, nullptr, &ctx), kCGLNoError);
    EXPECT_EQ(ctx, nullptr);
    EXPECT_EQ(UmbrafexCGL_LiveContexts(), m_contexts);

    ASSERT_EQ(CGLCreateContext(pix, nullptr, &ctx), kCGLNoError);
    EXPECT_NE(ctx, nullptr);
    EXPECT_EQ(CGLDestroyContext(ctx), kCGLNoError);
    EXPECT_EQ(CGLReleasePixelFormat(pix), kCGLNoError);
}

TEST_F(CGLTest, InjectedFailuresAreResetAndTakenByAnyThread) {
    CGLPixelFormatObj pix = nullptr;
    GLint npix = 0;
    UmbrafexCGL_FailNextChoosePixelFormat(kCGLBadDisplay, 0);
    UmbrafexCGL_FailNextCreateContext(kCGLBadAlloc);
    UmbrafexCGL_ResetFailures();
    ASSERT_EQ(CGLChoosePixelFormat(kCore, &pix, &npix), kCGLNoError);
    ASSERT_NE(pix, nullptr);
    CGLContextObj ctx = nullptr;
    ASSERT_EQ(CGLCreateContext(pix, nullptr, &ctx), kCGLNoError);
    EXPECT_EQ(CGLDestroyContext(ctx), kCGLNoError);

    UmbrafexCGL_FailNextCreateContext(kCGLBadAlloc);
    CGLError onOtherThread = kCGLNoError;
    std::thread([&] {
        CGLContextObj other = nullptr;
        onOtherThread = CGLCreateContext(pix, nullptr, &other);
    }).join();
    EXPECT_EQ(onOtherThread, kCGLBadAlloc);
    ASSERT_EQ(CGLCreateContext(pix, nullptr, &ctx), kCGLNoError);
    EXPECT_EQ(CGLDestroyContext(ctx), kCGLNoError);
    EXPECT_EQ(CGLReleasePixelFormat(pix), kCGLNoError);
}

// --- Error strings ---------------------------------------------------------------------------

TEST(CGLErrorStringTest, EveryCodeHasItsOwnText) {
    EXPECT_STREQ(CGLErrorString(kCGLNoError), "no error");
    EXPECT_STREQ(CGLErrorString(kCGLBadAttribute), "invalid pixel format attribute");
    EXPECT_STREQ(CGLErrorString(kCGLBadContext), "invalid context");
    EXPECT_STREQ(CGLErrorString(kCGLBadDisplay), "invalid graphics device");
    EXPECT_STREQ(CGLErrorString(kCGLBadMatch), "invalid share context");
    EXPECT_STREQ(CGLErrorString(kCGLBadAlloc), "invalid memory allocation");
    EXPECT_STREQ(CGLErrorString(kCGLBadConnection), "invalid CoreGraphics connection");

    std::set<std::string> texts{CGLErrorString(kCGLNoError)};
    for (int code = kCGLBadAttribute; code <= kCGLBadConnection; ++code) {
        const char* text = CGLErrorString(static_cast<CGLError>(code));
        ASSERT_NE(text, nullptr);
        EXPECT_STRNE(text, "unknown error") << code;
        texts.insert(text);
    }
    EXPECT_EQ(texts.size(), 19u);
}

TEST(CGLErrorStringTest, UnknownCodesSaySo) {
    for (int code : {1, 9999, 10018, 12345}) {
        EXPECT_STREQ(CGLErrorString(static_cast<CGLError>(code)), "unknown error") << code;
    }
}

// --- Threads ---------------------------------------------------------------------------------

TEST_F(CGLTest, CurrentContextIsPerThread) {
    CGLContextObj ctx = MakeContext();
    ASSERT_NE(ctx, nullptr);
    ASSERT_EQ(CGLSetCurrentContext(ctx), kCGLNoError);
    CGLContextObj seen = ctx;
    const GLubyte* version = reinterpret_cast<const GLubyte*>("unset");
    std::thread([&] {
        seen = CGLGetCurrentContext();
        version = glGetString(GL_VERSION);
    }).join();
    EXPECT_EQ(seen, nullptr);
    EXPECT_EQ(version, nullptr);
    EXPECT_EQ(CGLGetCurrentContext(), ctx);
    EXPECT_NE(glGetString(GL_VERSION), nullptr);
    EXPECT_EQ(CGLDestroyContext(ctx), kCGLNoError);
}

TEST_F(CGLTest, ContextCurrentOnAnotherThreadIsRefused) {
    CGLContextObj ctx = MakeContext();
    ASSERT_NE(ctx, nullptr);
    ASSERT_EQ(CGLSetCurrentContext(ctx), kCGLNoError);
    CGLError elsewhere = kCGLNoError;
    std::thread([&] { elsewhere = CGLSetCurrentContext(ctx); }).join();
    EXPECT_EQ(elsewhere, kCGLBadState);

    ASSERT_EQ(CGLSetCurrentContext(nullptr), kCGLNoError);
    std::thread([&] {
        elsewhere = CGLSetCurrentContext(ctx);
        CGLSetCurrentContext(nullptr);
    }).join();
    EXPECT_EQ(elsewhere, kCGLNoError);
    EXPECT_EQ(CGLDestroyContext(ctx), kCGLNoError);
}

TEST_F(CGLTest, TwoThreadsCreateDrawAndDestroyAtOnce) {
    constexpr int kRounds = 4;
    std::barrier together(2);
    auto worker = [&](Rgba colour, std::array<Rgba, 2>* seen, bool* ok) {
        for (int round = 0; round < kRounds; ++round) {
            together.arrive_and_wait();
            CGLContextObj ctx = MakeContext();
            const bool current = ctx != nullptr && CGLSetCurrentContext(ctx) == kCGLNoError &&
                                 CGLGetCurrentContext() == ctx;
            together.arrive_and_wait();  // both contexts live and current here
            if (current) seen[round] = DrawAndReadBack({0, 0, 0, 255}, colour);
            ok[round] = current && CGLDestroyContext(ctx) == kCGLNoError && CGLGetCurrentContext() == nullptr;
        }
    };
    std::array<Rgba, 2> seenA[kRounds]{};
    std::array<Rgba, 2> seenB[kRounds]{};
    bool okA[kRounds]{};
    bool okB[kRounds]{};
    std::thread a(worker, Rgba{255, 0, 0, 255}, seenA, okA);
    std::thread b(worker, Rgba{0, 255, 0, 255}, seenB, okB);
    a.join();
    b.join();
    for (int round = 0; round < kRounds; ++round) {
        EXPECT_TRUE(okA[round]) << round;
        EXPECT_TRUE(okB[round]) << round;
        EXPECT_EQ(seenA[round][0], (Rgba{255, 0, 0, 255})) << round;
        EXPECT_EQ(seenB[round][0], (Rgba{0, 255, 0, 255})) << round;
        EXPECT_EQ(seenA[round][1], (Rgba{0, 0, 0, 255})) << round;
    }
}

}  // namespace
