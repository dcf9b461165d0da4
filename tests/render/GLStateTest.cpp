// Draining pending GL errors and putting GL state back after the passes.
#include <gtest/gtest.h>

#include <deque>
#include <ios>
#include <utility>
#include <string>
#include <vector>

#include "open_gl/Program.h"
#include "render/GLFixture.h"
#include "shell/UF3.h"
#include "shell/UF3_GLErr.h"

namespace {

// Pending errors as a driver with one flag per code would hold them.
std::deque<GLenum> g_pending;
GLenum NextPending() {
    if (g_pending.empty()) return GL_NO_ERROR;
    const GLenum error = g_pending.front();
    g_pending.pop_front();
    return error;
}

// Raises GL_INVALID_OPERATION on the current context: a vertex array name never generated.
void RaiseInvalidOperation() {
    glBindVertexArray(0xBADu);
}

class GLErrors : public GLContextSuite {};
class GLStateReset : public GLContextSuite {};

TEST(GLErrorNames, EveryCodeOfTheTableAndNothingElse) {
    // Stack overflow and underflow (0x503, 0x504) do not exist in a core context.
    const std::pair<GLenum, const char*> names[] = {
        {0, "GL_NO_ERROR"}, {0x500, "GL_INVALID_ENUM"}, {0x501, "GL_INVALID_VALUE"},
        {0x502, "GL_INVALID_OPERATION"}, {0x505, "GL_OUT_OF_MEMORY"}, {0x506, "GL_INVALID_FRAMEBUFFER_OPERATION"},
        {0x503, "UNKNOWN_GL_ERROR"}, {0x504, "UNKNOWN_GL_ERROR"}, {0x507, "UNKNOWN_GL_ERROR"},
        {0xFFFFFFFFu, "UNKNOWN_GL_ERROR"}};
    for (const auto& [code, name] : names) EXPECT_EQ(GLEnumToString(code), name) << code;
}

TEST_F(GLErrors, RealPendingErrorIsNamedAndClearedAndNothingPendingReportsNothing) {
    TempHome home;
    EXPECT_NO_THROW(ClearThenLogExistingGLErrors("GPU Begin", true));
    testing::internal::CaptureStdout();
    EXPECT_EQ(ClearThenReturnExistingGLErrors("GPU Begin"), "");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(home.LogMessages().empty());

    RaiseInvalidOperation();
    ClearThenLogExistingGLErrors("GPU Begin", false);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR)) << "the drain must clear what it reports";
    EXPECT_EQ(home.LogMessages(),
              std::vector<std::string>{"GPU Begin cleared pre-existing OpenGL error: GL_INVALID_OPERATION (0x502)"});
}

TEST_F(GLErrors, SeveralPendingErrorsInTheOrderTheGLGivesThem) {
    TempHome home;
    g_pending = {GL_INVALID_VALUE, GL_OUT_OF_MEMORY, 0x0504};
    ClearThenLogExistingGLErrors("CleanStateGL", false, NextPending);
    EXPECT_TRUE(g_pending.empty());
    EXPECT_EQ(home.LogMessages(), (std::vector<std::string>{
                                      "CleanStateGL cleared pre-existing OpenGL error: GL_INVALID_VALUE (0x501)",
                                      "CleanStateGL cleared pre-existing OpenGL error: GL_OUT_OF_MEMORY (0x505)",
                                      "CleanStateGL cleared pre-existing OpenGL error: UNKNOWN_GL_ERROR (0x504)",
                                  }));

    // Throwing reads the first only; the second stays for the next look.
    g_pending = {GL_INVALID_FRAMEBUFFER_OPERATION, GL_INVALID_ENUM};
    try {
        ClearThenLogExistingGLErrors("GPU Begin", true, NextPending);
        ADD_FAILURE() << "a pending error must be thrown";
    } catch (const std::string& message) {
        EXPECT_EQ(message, "GPU Begin cleared pre-existing OpenGL error: GL_INVALID_FRAMEBUFFER_OPERATION (0x506)");
    }
    EXPECT_EQ(g_pending, std::deque<GLenum>{GL_INVALID_ENUM});

    // Returned: run together, printed one a line.
    g_pending = {GL_INVALID_ENUM, GL_INVALID_VALUE};
    testing::internal::CaptureStdout();
    const std::string all = ClearThenReturnExistingGLErrors("X", NextPending);
    const std::string printed = testing::internal::GetCapturedStdout();
    const std::string first = "X cleared pre-existing OpenGL error: GL_INVALID_ENUM (0x500)";
    const std::string second = "X cleared pre-existing OpenGL error: GL_INVALID_VALUE (0x501)";
    EXPECT_EQ(all, first + second);
    EXPECT_EQ(printed, first + "\n" + second + "\n");
    EXPECT_EQ(home.LogMessages().size(), 3u) << "neither throwing nor returning logs";

    // Read after a call: the call named with the first, every one cleared, nothing logged.
    g_pending = {GL_OUT_OF_MEMORY, GL_INVALID_VALUE};
    EXPECT_EQ(TakeGLError("FBOtoEffectWorld glReadPixels", NextPending),
              "FBOtoEffectWorld glReadPixels failed: GL_OUT_OF_MEMORY (0x505)");
    EXPECT_TRUE(g_pending.empty()) << "an error left for the next render";
    EXPECT_EQ(TakeGLError("glReadPixels", NextPending), "");
    g_pending = {GL_INVALID_OPERATION, GL_OUT_OF_MEMORY};
    try {
        ThrowIfGLError("CreateBuffer glBufferData", NextPending);
        ADD_FAILURE() << "a failed call must be thrown";
    } catch (const UF_Err& e) {
        EXPECT_EQ(e.code, PF_Err_OUT_OF_MEMORY);
        EXPECT_EQ(e.message, "CreateBuffer glBufferData failed: GL_INVALID_OPERATION (0x502)");
    }
    EXPECT_TRUE(g_pending.empty());
    EXPECT_NO_THROW(ThrowIfGLError("CreateBuffer glBufferData", NextPending));
    EXPECT_EQ(home.LogMessages().size(), 3u) << "reading after a call logs nothing";
}

TEST_F(GLErrors, AnErrorSourceThatNeverEmptiesCannotHangTheDrain) {
    TempHome home;
    ClearThenLogExistingGLErrors("GPU Begin", false, [] { return GLenum(GL_OUT_OF_MEMORY); });
    EXPECT_GT(home.LogMessages().size(), 1u);
    EXPECT_LE(home.LogMessages().size(), 1000u);
    EXPECT_EQ(TakeGLError("glReadPixels", [] { return GLenum(GL_OUT_OF_MEMORY); }),
              "glReadPixels failed: GL_OUT_OF_MEMORY (0x505)");
}

TEST_F(GLStateReset, PutsTheTouchedStateBackAndLeavesTheRest) {
    GLuint textures[2] = {}, buffers[3] = {}, framebuffer = 0, vao = 0;
    glGenTextures(2, textures);
    glGenBuffers(3, buffers);
    glGenFramebuffers(1, &framebuffer);
    glGenVertexArrays(1, &vao);
    Program program;
    ASSERT_TRUE(program.InitInternal("#version 330 core\nvoid main() { gl_Position = vec4(0.0); }\n",
                                     "#version 330 core\nout vec4 c;\nvoid main() { c = vec4(1.0); }\n", nullptr));

    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, framebuffer);
    program.Use(nullptr);
    glBindVertexArray(vao);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, textures[0]);
    glActiveTexture(GL_TEXTURE1);
    glBindTexture(GL_TEXTURE_2D, textures[1]);
    glBindBuffer(GL_ARRAY_BUFFER, buffers[0]);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, buffers[1]);
    glBindBuffer(GL_PIXEL_UNPACK_BUFFER, buffers[2]);
    for (auto [name, value] : {std::pair{GL_UNPACK_ALIGNMENT, 1}, {GL_PACK_ALIGNMENT, 8},
                               {GL_UNPACK_ROW_LENGTH, 17}, {GL_PACK_ROW_LENGTH, 19}})
        glPixelStorei(name, value);
    for (GLenum cap : {GL_BLEND, GL_DEPTH_TEST, GL_CULL_FACE, GL_PRIMITIVE_RESTART, GL_SCISSOR_TEST}) glEnable(cap);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glCullFace(GL_FRONT);
    glClearColor(0.25f, 0.5f, 0.75f, 1.0f);
    glViewport(1, 2, 3, 4);
    glScissor(5, 6, 7, 8);
    glColorMask(GL_TRUE, GL_FALSE, GL_TRUE, GL_FALSE);
    glGetError();
    RaiseInvalidOperation();

    CleanStateGL(false);

    EXPECT_EQ(glGetError(), GLenum(GL_INVALID_OPERATION)) << "unchecked, a pending error stays pending";
    const std::pair<GLenum, GLint> reset[] = {
        {GL_READ_FRAMEBUFFER_BINDING, 0}, {GL_DRAW_FRAMEBUFFER_BINDING, 0}, {GL_CURRENT_PROGRAM, 0},
        {GL_VERTEX_ARRAY_BINDING, 0}, {GL_ACTIVE_TEXTURE, GL_TEXTURE0}, {GL_TEXTURE_BINDING_2D, 0},
        {GL_ARRAY_BUFFER_BINDING, 0}, {GL_PIXEL_PACK_BUFFER_BINDING, 0}, {GL_PIXEL_UNPACK_BUFFER_BINDING, 0},
        {GL_UNPACK_ALIGNMENT, 4}, {GL_PACK_ALIGNMENT, 4}, {GL_UNPACK_ROW_LENGTH, 0}, {GL_PACK_ROW_LENGTH, 0},
        {GL_BLEND_SRC_RGB, GL_ONE}, {GL_BLEND_SRC_ALPHA, GL_ONE}, {GL_BLEND_DST_RGB, GL_ZERO},
        {GL_BLEND_DST_ALPHA, GL_ZERO}, {GL_CULL_FACE_MODE, GL_BACK}};
    for (const auto& [name, value] : reset) EXPECT_EQ(GetInt(name), value) << "state 0x" << std::hex << name;
    for (GLenum cap : {GL_BLEND, GL_DEPTH_TEST, GL_CULL_FACE, GL_PRIMITIVE_RESTART})
        EXPECT_FALSE(glIsEnabled(cap)) << "capability 0x" << std::hex << cap;
    GLfloat clear[4] = {-1, -1, -1, -1};
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
    EXPECT_EQ(std::vector<GLfloat>(clear, clear + 4), std::vector<GLfloat>(4, 0.0f));

    // Not the reset's business.
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(std::vector<GLint>(viewport, viewport + 4), (std::vector<GLint>{1, 2, 3, 4}));
    EXPECT_TRUE(glIsEnabled(GL_SCISSOR_TEST));
    GLint scissor[4] = {};
    glGetIntegerv(GL_SCISSOR_BOX, scissor);
    EXPECT_EQ(std::vector<GLint>(scissor, scissor + 4), (std::vector<GLint>{5, 6, 7, 8}));
    GLboolean mask[4] = {};
    glGetBooleanv(GL_COLOR_WRITEMASK, mask);
    EXPECT_EQ(mask[1], GL_FALSE);
    glActiveTexture(GL_TEXTURE1);
    EXPECT_EQ(GetInt(GL_TEXTURE_BINDING_2D), GLint(textures[1])) << "other units keep their textures";
    glActiveTexture(GL_TEXTURE0);

    glDisable(GL_SCISSOR_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glViewport(0, 0, 1, 1);
    glDeleteVertexArrays(1, &vao);
    glDeleteFramebuffers(1, &framebuffer);
    glDeleteBuffers(3, buffers);
    glDeleteTextures(2, textures);
}

TEST_F(GLStateReset, CheckedResetLogsWhatIsPending) {
    TempHome home;
    RaiseInvalidOperation();
    CleanStateGL(true);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    EXPECT_EQ(home.LogMessages(),
              std::vector<std::string>{"CleanStateGL cleared pre-existing OpenGL error: GL_INVALID_OPERATION (0x502)"});

    CleanStateGL(true);
    EXPECT_EQ(home.LogMessages().size(), 1u) << "a clean context logs nothing";
}

}  // namespace
