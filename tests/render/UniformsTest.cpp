// Uniform maps handed to programs, the quads, and the full-screen pass of the Raytraced road.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "open_gl/Framebuffer.h"
#include "open_gl/Program.h"
#include "open_gl/Quad.h"
#include "open_gl/RenderQuad.h"
#include "open_gl/Uniforms.h"
#include "render/GLFixture.h"
#include "render/shaders/ShaderSources.h"
#include "resources/BlueNoise.h"

namespace {

// 32 characters: one more than a name the uniform maps can see.
constexpr const char* kLongName = "a_uniform_name_of_32_characters_";

// Every kind of value, each used so that the compiler keeps it active.
const char* const kEveryKindFS = R"(#version 330 core
in vec2 uv;
uniform uint u1;
uniform int i1; uniform ivec2 i2; uniform ivec3 i3; uniform ivec4 i4;
uniform float f1; uniform vec2 f2; uniform vec3 f3; uniform vec4 f4; uniform mat4 m4;
uniform float a_uniform_name_of_32_characters_;
uniform sampler2D texA; uniform sampler2D texB; uniform sampler2D texC; uniform sampler1D line;
out vec4 FragColour;
void main() {
    float s = float(u1) + float(i1 + i2.x + i3.y + i4.w) + f1 + f2.y + f3.z + f4.x + m4[1][2];
    s += a_uniform_name_of_32_characters_;
    FragColour = vec4(s) + texture(texA, uv) + texture(texB, uv) + texture(texC, uv) + texture(line, uv.x);
}
)";

// Writes the blue-noise point of each pixel (16 × 16 pixels, 256 points) and, in blue and
// alpha, the textures and a value handed in through the map.
const char* const kPointsFS = R"(#version 330 core
in vec2 uv;
uniform vec2 blue_noise_points[256];
uniform sampler2D texA; uniform sampler2D texB; uniform float f1;
out vec4 FragColour;
void main() {
    int k = int(gl_FragCoord.y) * 16 + int(gl_FragCoord.x);
    FragColour = vec4(blue_noise_points[k], texture(texA, uv).r + texture(texB, uv).r, f1);
}
)";

// The unit quads' texture coordinates, shown as colour.
const char* const kUvsFromQuadFS = R"(#version 330 core
in vec2 out_uvs;
out vec4 FragColour;
void main() { FragColour = vec4(out_uvs, 0.0, 1.0); }
)";

template <typename IsName>
int CountNames(IsName isName) {
    int alive = 0;
    for (GLuint name = 1; name < 4096; ++name) alive += isName(name) ? 1 : 0;
    return alive;
}
int Buffers() { return CountNames([](GLuint n) { return glIsBuffer(n); }); }
int VertexArrays() { return CountNames([](GLuint n) { return glIsVertexArray(n); }); }

GLuint MakeTexture(float red) {
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_R32F, 1, 1, 0, GL_RED, GL_FLOAT, &red);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glBindTexture(GL_TEXTURE_2D, 0);
    return texture;
}

class Uniforms : public GLContextSuite {
protected:
    void SetUp() override {
        GLContextSuite::SetUp();
        ASSERT_TRUE(m_program.InitInternal(kFullScreenVS, kEveryKindFS, &m_out)) << m_out.return_msg;
    }
    GLint Loc(const char* name) const { return glGetUniformLocation(m_program.id(), name); }
    std::vector<float> Floats(const char* name, int n) const {
        float v[16] = {};
        glGetUniformfv(m_program.id(), Loc(name), v);
        return std::vector<float>(v, v + n);
    }
    PF_OutData m_out{};
    Program m_program;
};

TEST_F(Uniforms, EveryKindReachesItsUniformAndUnseenNamesChangeNothing) {
    Matrix44f m{};
    for (int i = 0; i < 16; ++i) m.m[i] = float(i);
    SetProgramUniforms(m_program.id(), {{"u1", UIVEC(7u)},
                                      {"i1", IVEC(-3)},
                                      {"i2", IVEC2({1, 2})},
                                      {"i3", IVEC3({3, 4, 5})},
                                      {"i4", IVEC4({6, 7, 8, 9})},
                                      {"f1", VEC(0.5f)},
                                      {"f2", VEC2({1.5f, 2.5f})},
                                      {"f3", VEC3({3.5f, 4.5f, 5.5f})},
                                      {"f4", VEC4({6.5f, 7.5f, 8.5f, 9.5f})},
                                      {"m4", MAT44(m)}});
    EXPECT_EQ(GetInt(GL_CURRENT_PROGRAM), GLint(m_program.id())) << "left in use";
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    // Read back as floats: a value the GL refused leaves 0.
    const std::pair<const char*, std::vector<float>> want[] = {
        {"u1", {7}}, {"i1", {-3}}, {"i2", {1, 2}}, {"i3", {3, 4, 5}}, {"i4", {6, 7, 8, 9}}, {"f1", {0.5f}},
        {"f2", {1.5f, 2.5f}}, {"f3", {3.5f, 4.5f, 5.5f}}, {"f4", {6.5f, 7.5f, 8.5f, 9.5f}},
        {"m4", std::vector<float>(m.m, m.m + 16)},  // handed over as stored, not transposed
    };
    for (const auto& [name, values] : want) EXPECT_EQ(Floats(name, int(values.size())), values) << name;

    SetProgramUniforms(m_program.id(), {{"not_in_the_program", VEC(1.0f)},
                                      {kLongName, VEC(2.0f)},
                                      {"a_uniform_name_of_32_characters", VEC(3.0f)},
                                      {"f1", IVEC(9)}});  // the wrong kind: the GL refuses it
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR)) << "errors of the calls are dropped";
    EXPECT_EQ(Floats(kLongName, 1)[0], 0.0f) << "a name over 31 characters is never set";
    EXPECT_EQ(Floats("f1", 1)[0], 0.5f) << "a refused value leaves the old one";
    glUseProgram(0);
}

TEST_F(Uniforms, EachTextureGetsItsOwnUnitAndItsSamplerThatUnit) {
    const GLuint textures[3] = {MakeTexture(0.1f), MakeTexture(0.2f), MakeTexture(0.3f)};
    GLuint line = 0;
    glGenTextures(1, &line);
    glBindTexture(GL_TEXTURE_1D, line);
    const float texel = 0.4f;
    glTexImage1D(GL_TEXTURE_1D, 0, GL_R32F, 1, 0, GL_RED, GL_FLOAT, &texel);
    glBindTexture(GL_TEXTURE_1D, 0);
    SetProgramUniforms(m_program.id(), {{"texA", TEX2D(textures[0])},
                                      {"texB", TEX2D(textures[1])},
                                      {"texC", TEX2D(textures[2])},
                                      {"line", TEX1D(line)}});
    std::set<GLint> units;
    const char* samplers[4] = {"texA", "texB", "texC", "line"};
    for (int i = 0; i < 4; ++i) {
        const GLint unit = GLint(Floats(samplers[i], 1)[0]);
        units.insert(unit);
        glActiveTexture(GL_TEXTURE0 + GLenum(unit));
        EXPECT_EQ(GetInt(i < 3 ? GL_TEXTURE_BINDING_2D : GL_TEXTURE_BINDING_1D), GLint(i < 3 ? textures[i] : line))
            << samplers[i] << " on unit " << unit;
    }
    EXPECT_EQ(units, (std::set<GLint>{0, 1, 2, 3})) << "units counted from 0, one per texture";
    for (GLint unit = 0; unit < 4; ++unit) {
        glActiveTexture(GL_TEXTURE0 + GLenum(unit));
        glBindTexture(GL_TEXTURE_2D, 0);
        glBindTexture(GL_TEXTURE_1D, 0);
    }
    glActiveTexture(GL_TEXTURE0);
    glUseProgram(0);
    glDeleteTextures(3, textures);
    glDeleteTextures(1, &line);
}

TEST_F(Uniforms, FullScreenPassDrawsEveryPixelWithItsUniformsAndLeavesNothingBehind) {
    Program points;
    ASSERT_TRUE(points.InitInternal(kFullScreenVS, kPointsFS, &m_out)) << m_out.return_msg;
    Framebuffer target;
    target.FramebufferInit(16, 16, 1, 32, GL_RGBA32F, GL_RGBA, GL_FLOAT);
    const GLuint textures[2] = {MakeTexture(0.5f), MakeTexture(0.25f)};
    const int buffers = Buffers(), arrays = VertexArrays();
    const auto expectStateRestored = [&] {
        EXPECT_EQ(GetInt(GL_FRAMEBUFFER_BINDING), 0);
        EXPECT_EQ(GetInt(GL_CURRENT_PROGRAM), 0);
        EXPECT_EQ(GetInt(GL_VERTEX_ARRAY_BINDING), 0);
        EXPECT_EQ(GetInt(GL_ACTIVE_TEXTURE), GL_TEXTURE0);
        EXPECT_EQ(Buffers(), buffers) << "the pass's buffers are gone";
        EXPECT_EQ(VertexArrays(), arrays) << "the pass's vertex arrays are gone";
    };

    glActiveTexture(GL_TEXTURE3);  // whatever was active before
    RenderQuadFBO(target.GetFBO(PING), 16, 16, points.id(),
                  {{"texA", TEX2D(textures[0])}, {"texB", TEX2D(textures[1])}, {"f1", VEC(0.5f)}, {"unused_here", VEC(1.0f)}});
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    expectStateRestored();
    // The textures stay on their units, 0 and 1 in either order.
    std::set<GLint> bound{GetInt(GL_TEXTURE_BINDING_2D)};
    glActiveTexture(GL_TEXTURE1);
    bound.insert(GetInt(GL_TEXTURE_BINDING_2D));
    glActiveTexture(GL_TEXTURE0);
    EXPECT_EQ(bound, (std::set<GLint>{GLint(textures[0]), GLint(textures[1])}));

    const std::vector<float> got = ReadRGBA(target.GetFBO(PING), 16, 16);
    int wrong = 0;
    for (int k = 0; k < 256; ++k) {
        const std::vector<float> p(&got[size_t(k) * 4], &got[size_t(k) * 4] + 4);
        const std::vector<float> want{blue_noise_points[2 * k], blue_noise_points[2 * k + 1], 0.75f, 0.5f};
        if (p != want && ++wrong <= 5) ADD_FAILURE() << "pixel " << k % 16 << ", " << k / 16 << " differs";
        EXPECT_TRUE(want[0] >= 0 && want[0] < 1 && want[1] >= 0 && want[1] < 1) << "point " << k;
    }

    // A slot that never built hands program 0: nothing is drawn and the state is the same.
    target.BindFBO(PING, true);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    RenderQuadFBO(target.GetFBO(PING), 16, 16, 0, {{"f1", VEC(0.5f)}});
    glGetError();
    expectStateRestored();
    const std::vector<float> empty = ReadRGBA(target.GetFBO(PING), 16, 16);
    EXPECT_EQ(*std::max_element(empty.begin(), empty.end()), 0.0f);
    glDeleteTextures(2, textures);
}

TEST_F(Uniforms, ARatioQuadCoversItsShareOfTheTargetWithTheWholeTexture) {
    Program program;
    ASSERT_TRUE(program.InitInternal(kPassThroughVS, kUvsFromQuadFS, &m_out)) << m_out.return_msg;
    Framebuffer target;
    target.FramebufferInit(8, 8, 1, 32, GL_RGBA32F, GL_RGBA, GL_FLOAT);
    const int buffers = Buffers(), arrays = VertexArrays();
    GLObject vao, vbo;
    InitQuadRatio(&vao, &vbo, 0.5f, 0.25f);  // of the unit quad's footprint: the lower-left 4 × 2 pixels
    target.BindFBO(PING, true);
    program.Use(&m_out);
    glBindVertexArray(vao);
    glDrawArrays(GL_TRIANGLE_FAN, 0, 4);
    glBindVertexArray(0);
    glUseProgram(0);
    const std::vector<float> got = ReadRGBA(target.GetFBO(PING), 8, 8);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const float* p = &got[(size_t(y) * 8 + x) * 4];
            const bool inside = x < 4 && y < 2;
            EXPECT_EQ(p[3], inside ? 1.0f : 0.0f) << "pixel " << x << ", " << y;
            if (!inside) continue;
            EXPECT_NEAR(p[0], (x + 0.5f) / 4, 1e-6) << "pixel " << x << ", " << y;
            EXPECT_NEAR(p[1], (y + 0.5f) / 2, 1e-6) << "pixel " << x << ", " << y;
        }
    const GLuint array = vao;
    DeleteQuad(&vao, &vbo);
    EXPECT_NE(array, 0u);
    EXPECT_FALSE(glIsVertexArray(array));
    EXPECT_EQ(vao, 0u) << "the owners name nothing afterwards";
    EXPECT_EQ(Buffers(), buffers);
    EXPECT_EQ(VertexArrays(), arrays);
}

}  // namespace
