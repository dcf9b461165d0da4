#include "shell/UF3_GLErr.h"

#include <cstdio>
#include <vector>

#include "shell/UF3.h"
#include "shell/UF3_Err.h"

namespace {

// More than any driver keeps flags for; a lost context that reports forever must not hang
// the render.
constexpr int kMaxDrainedErrors = 64;

// "<name> (0x<code>)", the code in lower-case hexadecimal.
std::string Describe(GLenum error) {
    char code[16];
    std::snprintf(code, sizeof code, "%x", unsigned(error));
    return GLEnumToString(error) + " (0x" + code + ")";
}

std::string ErrorMessage(const std::string& where, GLenum error) {
    return where + " cleared pre-existing OpenGL error: " + Describe(error);
}

// The pending errors, read until none is left or `limit` have been read.
std::vector<GLenum> Drain(GLErrorSource nextError, int limit = kMaxDrainedErrors) {
    std::vector<GLenum> errors;
    for (int i = 0; i < limit; ++i) {
        const GLenum error = nextError();
        if (error == GL_NO_ERROR) break;
        errors.push_back(error);
    }
    return errors;
}

}  // namespace

std::string GLEnumToString(GLenum error) {
    switch (error) {
        case GL_NO_ERROR: return "GL_NO_ERROR";
        case GL_INVALID_ENUM: return "GL_INVALID_ENUM";
        case GL_INVALID_VALUE: return "GL_INVALID_VALUE";
        case GL_INVALID_OPERATION: return "GL_INVALID_OPERATION";
        case GL_OUT_OF_MEMORY: return "GL_OUT_OF_MEMORY";
        case GL_INVALID_FRAMEBUFFER_OPERATION: return "GL_INVALID_FRAMEBUFFER_OPERATION";
        default: return "UNKNOWN_GL_ERROR";
    }
}

void ClearThenLogExistingGLErrors(const std::string& where, bool throwError, GLErrorSource nextError) {
    // Thrown, only the first is read: the others stay for whoever looks next.
    const std::vector<GLenum> errors = Drain(nextError, throwError ? 1 : kMaxDrainedErrors);
    if (throwError && !errors.empty()) throw ErrorMessage(where, errors.front());
    for (const GLenum error : errors) LogError(ErrorMessage(where, error), nullptr);
}

std::string ClearThenReturnExistingGLErrors(const std::string& where, GLErrorSource nextError) {
    std::string all;
    for (const GLenum error : Drain(nextError)) {
        const std::string message = ErrorMessage(where, error);
        std::printf("%s\n", message.c_str());
        all += message;
    }
    return all;
}

std::string TakeGLError(const std::string& call, GLErrorSource nextError) {
    // The rest go too: one refused call is one failure, not one per flag it raised.
    const std::vector<GLenum> errors = Drain(nextError);
    return errors.empty() ? "" : call + " failed: " + Describe(errors.front());
}

void ThrowIfGLError(const std::string& call, GLErrorSource nextError) {
    std::string message = TakeGLError(call, nextError);
    if (!message.empty()) throw UF_Err(PF_Err_OUT_OF_MEMORY, std::move(message));
}

void CleanStateGL(bool checkErrors) {
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    glUseProgram(0);
    glBindVertexArray(0);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, 0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    glDisable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ZERO);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    glDisable(GL_PRIMITIVE_RESTART);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glFinish();
    if (checkErrors) ClearThenLogExistingGLErrors("CleanStateGL", false);
}
