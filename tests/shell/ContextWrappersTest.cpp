// The effect's CGL wrappers: their references and their exact failure texts.
#include <gtest/gtest.h>

#include <array>
#include <barrier>
#include <cstdint>
#include <string>
#include <thread>

#include "OpenGL/OpenGL.h"
#include "OpenGL/gl3.h"
#include "cgl/CGLTesting.h"
#include "open_gl/Context.h"

namespace {

constexpr CGLPixelFormatAttribute Attr(int value) {
    return static_cast<CGLPixelFormatAttribute>(value);
}

GLint GetInt(GLenum name) {
    GLint value = -1;
    glGetIntegerv(name, &value);
    return value;
}

// Clears a texture-backed framebuffer to `colour` and reads one pixel back.
std::array<uint8_t, 4> ClearAndReadBack(std::array<uint8_t, 4> colour) {
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 8, 8, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    GLuint framebuffer = 0;
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
    glClearColor(colour[0] / 255.0f, colour[1] / 255.0f, colour[2] / 255.0f, colour[3] / 255.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    std::array<uint8_t, 4> pixel{};
    glReadPixels(4, 4, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel.data());
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDeleteFramebuffers(1, &framebuffer);
    glDeleteTextures(1, &texture);
    return pixel;
}

// Every test leaves no context or pixel format behind and nothing current.
class ContextWrappersTest : public ::testing::Test {
protected:
    void SetUp() override {
        UmbrafexCGL_ResetFailures();
        m_contexts = UmbrafexCGL_LiveContexts();
        m_formats = UmbrafexCGL_LivePixelFormats();
    }
    void TearDown() override {
        UmbrafexCGL_ResetFailures();
        EXPECT_EQ(SetCurrentContext(nullptr, false), "");
        EXPECT_EQ(UmbrafexCGL_LiveContexts(), m_contexts);
        EXPECT_EQ(UmbrafexCGL_LivePixelFormats(), m_formats);
    }
    int m_contexts = 0;
    int m_formats = 0;
};

TEST_F(ContextWrappersTest, CreateContextHoldsTwoReferencesAndDeleteDropsBoth) {
    std::string error = "untouched";
    CGLContextObj ctx = CreateContext(nullptr, nullptr, error);
    ASSERT_NE(ctx, nullptr) << error;
    EXPECT_TRUE(IsContextValid(ctx));
    EXPECT_EQ(error, "untouched");
    EXPECT_EQ(CGLGetContextRetainCount(ctx), 2u);
    EXPECT_EQ(UmbrafexCGL_LivePixelFormats(), m_formats);

    EXPECT_EQ(SetCurrentContext(ctx, true), "");
    EXPECT_EQ(GetCurrentContext(error), ctx);
    EXPECT_EQ(error, "untouched");
    // The default attributes give a 3.3 core context.
    const GLint major = GetInt(GL_MAJOR_VERSION);
    EXPECT_TRUE(major > 3 || (major == 3 && GetInt(GL_MINOR_VERSION) >= 3));
    EXPECT_NE(GetInt(GL_CONTEXT_PROFILE_MASK) & GL_CONTEXT_CORE_PROFILE_BIT, 0);

    DeleteContext(ctx, error);
    EXPECT_EQ(error, "untouched");
    EXPECT_EQ(UmbrafexCGL_LiveContexts(), m_contexts);
    EXPECT_EQ(GetCurrentContext(error), nullptr);
    EXPECT_EQ(error, "No current OpenGL context is set");
    EXPECT_FALSE(IsContextValid(nullptr));
}

TEST_F(ContextWrappersTest, CreateContextPassesAttributesAndShare) {
    std::string error;
    CGLContextObj first = CreateContext(nullptr, nullptr, error);
    ASSERT_NE(first, nullptr) << error;
    ASSERT_EQ(SetCurrentContext(first, false), "");
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glFinish();

    const CGLPixelFormatAttribute gl4[] = {kCGLPFAOpenGLProfile, Attr(kCGLOGLPVersion_GL4_Core), Attr(0)};
    CGLContextObj second = CreateContext(first, gl4, error);
    ASSERT_NE(second, nullptr) << error;
    ASSERT_EQ(SetCurrentContext(second, false), "");
    EXPECT_GE(GetInt(GL_MAJOR_VERSION), 4);
    EXPECT_EQ(glIsTexture(texture), GL_TRUE);

    DeleteContext(second, error);
    DeleteContext(first, error);
    EXPECT_EQ(error, "");
}

TEST_F(ContextWrappersTest, ChoosePixelFormatFailureTexts) {
    std::string error;
    UmbrafexCGL_FailNextChoosePixelFormat(kCGLBadAlloc, 7);
    EXPECT_EQ(CreateContext(nullptr, nullptr, error), nullptr);
    EXPECT_EQ(error, "CGLChoosePixelFormat error: invalid memory allocation (npix: 7)");

    UmbrafexCGL_FailNextChoosePixelFormat(kCGLBadDisplay, -1);
    EXPECT_EQ(CreateContext(nullptr, nullptr, error), nullptr);
    EXPECT_EQ(error, "CGLChoosePixelFormat error: invalid graphics device (npix: -1)");

    const CGLPixelFormatAttribute unknown[] = {Attr(4242), Attr(0)};
    EXPECT_EQ(CreateContext(nullptr, unknown, error), nullptr);
    EXPECT_EQ(error, "CGLChoosePixelFormat error: invalid pixel format attribute (npix: 0)");

    error.clear();
    UmbrafexCGL_FailNextChoosePixelFormat(kCGLNoError, 0);
    EXPECT_EQ(CreateContext(nullptr, nullptr, error), nullptr);
    EXPECT_EQ(error, "CGLChoosePixelFormat returned NULL pixel format object");

    error.clear();
    const CGLPixelFormatAttribute impossible[] = {kCGLPFASamples, Attr(1024), Attr(0)};
    EXPECT_EQ(CreateContext(nullptr, impossible, error), nullptr);
    EXPECT_EQ(error, "CGLChoosePixelFormat returned NULL pixel format object");
}

TEST_F(ContextWrappersTest, CreateContextFailureTextsReleaseThePixelFormat) {
    std::string error;
    UmbrafexCGL_FailNextCreateContext(kCGLBadAlloc);
    EXPECT_EQ(CreateContext(nullptr, nullptr, error), nullptr);
    EXPECT_EQ(error, "CGLCreateContext error: invalid memory allocation");
    EXPECT_EQ(UmbrafexCGL_LivePixelFormats(), m_formats);

    UmbrafexCGL_FailNextCreateContext(kCGLNoError);
    EXPECT_EQ(CreateContext(nullptr, nullptr, error), nullptr);
    EXPECT_EQ(error, "CGLCreateContext returned NULL context despite no reported error");
    EXPECT_EQ(UmbrafexCGL_LivePixelFormats(), m_formats);

    // A real failure: sharing with a context that was destroyed.
    CGLContextObj gone = CreateContext(nullptr, nullptr, error);
    ASSERT_NE(gone, nullptr);
    ASSERT_EQ(CGLDestroyContext(gone), kCGLNoError);  // one of its two references stays
    EXPECT_EQ(CreateContext(gone, nullptr, error), nullptr);
    EXPECT_EQ(error, "CGLCreateContext error: invalid share context");
    CGLReleaseContext(gone);
}

TEST_F(ContextWrappersTest, DeleteContextFailureTexts) {
    std::string error;
    DeleteContext(nullptr, error);
    EXPECT_EQ(error, "DeleteContext called with NULL context");

    // Destroyed behind the wrapper's back: the wrapper's destroy then fails.
    error.clear();
    CGLContextObj ctx = CreateContext(nullptr, nullptr, error);
    ASSERT_NE(ctx, nullptr) << error;
    CGLRetainContext(ctx);
    ASSERT_EQ(CGLDestroyContext(ctx), kCGLNoError);
    DeleteContext(ctx, error);
    EXPECT_EQ(error, "CGLDestroyContext failed: invalid context");
    EXPECT_EQ(CGLGetContextRetainCount(ctx), 1u);  // DeleteContext dropped exactly one
    CGLReleaseContext(ctx);
}

TEST_F(ContextWrappersTest, SetCurrentContextNullSucceedsAndFailuresAreReturnedOrThrown) {
    std::string error;
    CGLContextObj ctx = CreateContext(nullptr, nullptr, error);
    ASSERT_NE(ctx, nullptr) << error;

    // Current on another thread.
    ASSERT_EQ(SetCurrentContext(ctx, true), "");
    std::string elsewhere;
    std::thread([&] { elsewhere = SetCurrentContext(ctx, false); }).join();
    EXPECT_EQ(elsewhere, "CGLSetCurrentContext failed: invalid context state");

    // Null always succeeds and leaves nothing current.
    std::string result = "unset";
    EXPECT_NO_THROW(result = SetCurrentContext(nullptr, true));
    EXPECT_EQ(result, "");
    EXPECT_EQ(GetCurrentContext(error), nullptr);
    EXPECT_EQ(error, "No current OpenGL context is set");
    EXPECT_EQ(glGetString(GL_VERSION), nullptr);

    // Destroyed while still referenced.
    ASSERT_EQ(CGLDestroyContext(ctx), kCGLNoError);
    EXPECT_EQ(SetCurrentContext(ctx, false), "CGLSetCurrentContext failed: invalid context");
    try {
        SetCurrentContext(ctx, true);
        ADD_FAILURE() << "no exception";
    } catch (const std::string& thrown) {
        EXPECT_EQ(thrown, "CGLSetCurrentContext failed: invalid context");
    }
    CGLReleaseContext(ctx);
}

TEST_F(ContextWrappersTest, TwoThreadsUseAndDeleteTheirOwnContextsAtOnce) {
    std::barrier together(2);
    auto worker = [&](std::array<uint8_t, 4> colour) {
        for (int round = 0; round < 4; ++round) {
            together.arrive_and_wait();
            std::string error;
            CGLContextObj ctx = CreateContext(nullptr, nullptr, error);
            if (ctx == nullptr) {
                ADD_FAILURE() << error;
                together.arrive_and_drop();  // let the other thread carry on alone
                return;
            }
            EXPECT_EQ(SetCurrentContext(ctx, false), "");
            EXPECT_EQ(GetCurrentContext(error), ctx);
            together.arrive_and_wait();  // both contexts live and current here
            EXPECT_EQ(ClearAndReadBack(colour), colour);
            DeleteContext(ctx, error);
            EXPECT_EQ(error, "");
            EXPECT_EQ(GetCurrentContext(error), nullptr);
        }
    };
    std::thread first(worker, std::array<uint8_t, 4>{255, 0, 255, 255});
    std::thread second(worker, std::array<uint8_t, 4>{0, 255, 255, 255});
    first.join();
    second.join();
}

}  // namespace
