#include "open_gl/Uniforms.h"

namespace {

// Active names are read through a buffer of this size, terminating zero included.
constexpr GLsizei kNameBufferSize = 32;

// Reads one pending error and forgets it: a mismatched kind must not poison the next drain.
void DropGLError() {
    glGetError();
}

// The name of the active uniform or attribute at `index`, as glGetActiveUniform or
// glGetActiveAttrib reads it.
std::string ActiveName(decltype(&glGetActiveUniform) getActive, GLuint program, GLint index) {
    char name[kNameBufferSize] = {};
    GLsizei length = 0;
    GLint size = 0;
    GLenum type = 0;
    getActive(program, GLuint(index), kNameBufferSize, &length, &size, &type, name);
    return name;
}

uniform_t Make(int32_t type) {
    uniform_t u{};
    u.type = type;
    return u;
}

void SetUniform(GLint location, const uniform_t& u, GLint& textureUnit) {
    const auto& v = u.value;
    switch (u.type) {
        case kUniformUInt: glUniform1ui(location, v.ui); break;
        case kUniformInt: glUniform1i(location, v.i); break;
        case kUniformIVec2: glUniform2i(location, v.iv2.x, v.iv2.y); break;
        case kUniformIVec3: glUniform3i(location, v.iv3.x, v.iv3.y, v.iv3.z); break;
        case kUniformIVec4: glUniform4i(location, v.iv4.x, v.iv4.y, v.iv4.z, v.iv4.w); break;
        case kUniformFloat: glUniform1f(location, v.f); break;
        case kUniformVec2: glUniform2f(location, v.v2.x, v.v2.y); break;
        case kUniformVec3: glUniform3f(location, v.v3.x, v.v3.y, v.v3.z); break;
        case kUniformVec4: glUniform4f(location, v.v4.x, v.v4.y, v.v4.z, v.v4.w); break;
        case kUniformMat44: glUniformMatrix4fv(location, 1, GL_FALSE, v.m44.m); break;
        case kUniformTex1D:
        case kUniformTex2D:
            glActiveTexture(GL_TEXTURE0 + GLenum(textureUnit));
            glBindTexture(u.type == kUniformTex1D ? GL_TEXTURE_1D : GL_TEXTURE_2D, v.texture);
            glUniform1i(location, textureUnit);
            ++textureUnit;
            break;
        default: break;
    }
}

}  // namespace

uniform_t UIVEC(GLuint v) { auto u = Make(kUniformUInt); u.value.ui = v; return u; }
uniform_t IVEC(GLint v) { auto u = Make(kUniformInt); u.value.i = v; return u; }
uniform_t IVEC2(Vec2i v) { auto u = Make(kUniformIVec2); u.value.iv2 = v; return u; }
uniform_t IVEC3(Vec3i v) { auto u = Make(kUniformIVec3); u.value.iv3 = v; return u; }
uniform_t IVEC4(Vec4i v) { auto u = Make(kUniformIVec4); u.value.iv4 = v; return u; }
uniform_t VEC(GLfloat v) { auto u = Make(kUniformFloat); u.value.f = v; return u; }
uniform_t VEC2(Vec2f v) { auto u = Make(kUniformVec2); u.value.v2 = v; return u; }
uniform_t VEC3(Vec3f v) { auto u = Make(kUniformVec3); u.value.v3 = v; return u; }
uniform_t VEC4(Vec4f v) { auto u = Make(kUniformVec4); u.value.v4 = v; return u; }
uniform_t MAT44(const Matrix44f& v) { auto u = Make(kUniformMat44); u.value.m44 = v; return u; }
uniform_t TEX1D(GLuint texture) { auto u = Make(kUniformTex1D); u.value.texture = texture; return u; }
uniform_t TEX2D(GLuint texture) { auto u = Make(kUniformTex2D); u.value.texture = texture; return u; }

void SetProgramUniforms(GLuint program, const UniformMap& uniforms) {
    GLint count = 0;
    glGetProgramiv(program, GL_ACTIVE_UNIFORMS, &count);
    std::unordered_map<std::string, GLint> active;
    for (GLint index = 0; index < count; ++index) {
        const std::string name = ActiveName(glGetActiveUniform, program, index);
        active[name] = glGetUniformLocation(program, name.c_str());
    }

    glUseProgram(program);
    GLint textureUnit = 0;
    for (const auto& [name, location] : active) {
        const auto it = uniforms.find(name);
        if (it == uniforms.end()) continue;
        SetUniform(location, it->second, textureUnit);
        DropGLError();
    }
}

void SetProgramAttributes(GLuint vao, GLuint program, const AttributeMap& attributes) {
    GLint count = 0;
    glGetProgramiv(program, GL_ACTIVE_ATTRIBUTES, &count);
    DropGLError();
    std::unordered_map<std::string, GLint> active;
    for (GLint index = 0; index < count; ++index) {
        const std::string name = ActiveName(glGetActiveAttrib, program, index);
        if (name.starts_with("gl_")) continue;
        const GLint location = glGetAttribLocation(program, name.c_str());
        if (location != -1) active[name] = location;
        DropGLError();
    }

    glBindVertexArray(vao);
    for (const auto& [name, location] : active) {
        const auto it = attributes.find(name);
        if (it == attributes.end()) continue;
        const AttributeType& a = it->second;
        glBindBuffer(GL_ARRAY_BUFFER, a.buffer);
        DropGLError();
        glVertexAttribPointer(GLuint(location), a.size, a.type, GL_FALSE, a.stride, nullptr);
        glEnableVertexAttribArray(GLuint(location));
        DropGLError();
    }
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glBindVertexArray(0);
}
