// A GL context made once per suite and current on the test thread, helpers to put pixels
// into textures and read them back, and a private log folder.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "AE_Effect.h"

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

// What the effect left in the host's message buffer.
inline std::string Message(const PF_OutData& out) {
    return std::string(out.return_msg, strnlen(out.return_msg, sizeof out.return_msg));
}

// HOME pointed at a fresh folder for one test, so the error log is the test's own.
class TempHome {
public:
    TempHome() {
        std::string pattern = (std::filesystem::temp_directory_path() / "uf3_gl_XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) m_path = pattern;
        if (const char* home = std::getenv("HOME")) m_saved = home;
        setenv("HOME", m_path.c_str(), 1);
    }
    ~TempHome() {
        if (m_saved) setenv("HOME", m_saved->c_str(), 1); else unsetenv("HOME");
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    // The log's lines, each cut to what follows the timestamp and header.
    std::vector<std::string> LogMessages() const {
        std::vector<std::string> messages;
        std::ifstream log(m_path / "Library/Logs/Nimbral/umbrafex_3_error_log.txt");
        const std::string header = "Umbrafex 3 v1.0.8: ";
        for (std::string line; std::getline(log, line);) {
            const size_t at = line.find(header);
            messages.push_back(at == std::string::npos ? line : line.substr(at + header.size()));
        }
        return messages;
    }

private:
    std::filesystem::path m_path;
    std::optional<std::string> m_saved;
};
