// A GL context made once per suite and current on the test thread, with helpers to put
// pixels into textures and read them back.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "OpenGL/OpenGL.h"
#include "OpenGL/gl3.h"
#include "open_gl/Context.h"

class GLContextSuite : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::string error;
        s_context = CreateContext(nullptr, nullptr, error);
        s_error = error;
    }
    static void TearDownTestSuite() {
        if (s_context == nullptr) return;
        SetCurrentContext(nullptr, false);
        std::string ignored;
        DeleteContext(s_context, ignored);
        s_context = nullptr;
    }
    void SetUp() override {
        ASSERT_NE(s_context, nullptr) << s_error;
        ASSERT_EQ(SetCurrentContext(s_context, false), "");
        while (glGetError() != GL_NO_ERROR) {
        }
    }
    void TearDown() override {
        // Tests may leave their context elsewhere; the next one starts on the suite's.
        SetCurrentContext(s_context, false);
    }

    inline static CGLContextObj s_context = nullptr;
    inline static std::string s_error;
};

// Tight RGBA float rows, bottom row first as the GL counts them.
inline std::vector<float> ReadRGBA(GLuint framebuffer, int width, int height) {
    std::vector<float> pixels(size_t(width) * height * 4);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_FLOAT, pixels.data());
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    return pixels;
}

inline std::vector<float> ReadRed(GLuint framebuffer, int width, int height) {
    std::vector<float> pixels(size_t(width) * height);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, width, height, GL_RED, GL_FLOAT, pixels.data());
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    return pixels;
}

// Fills a texture's level 0 from tight rows of `channels` floats.
inline void UploadFloats(GLuint texture, int width, int height, GLenum format, const std::vector<float>& pixels) {
    glBindTexture(GL_TEXTURE_2D, texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, format, GL_FLOAT, pixels.data());
    glBindTexture(GL_TEXTURE_2D, 0);
}

inline GLint GetInt(GLenum name) {
    GLint value = -1;
    glGetIntegerv(name, &value);
    return value;
}
