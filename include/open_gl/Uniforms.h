// Tagged uniform values, maps from uniform or attribute name to value, and the calls that
// hand such maps to a program.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

#include "OpenGL/gl3.h"

struct Vec2i { GLint x, y; };
struct Vec3i { GLint x, y, z; };
struct Vec4i { GLint x, y, z, w; };
struct Vec2f { GLfloat x, y; };
struct Vec3f { GLfloat x, y, z; };
struct Vec4f { GLfloat x, y, z, w; };
// Handed to the GL as stored.
struct Matrix44f { GLfloat m[16]; };

// The kind stored in uniform_t::type; it, not the GL's declared type, picks the call.
enum UniformKind : int32_t {
    kUniformUInt = 0,   // glUniform1ui
    kUniformInt = 1,    // glUniform1i; booleans too
    kUniformIVec2 = 2,
    kUniformIVec3 = 3,
    kUniformIVec4 = 4,
    kUniformFloat = 5,  // glUniform1f
    kUniformVec2 = 6,
    kUniformVec3 = 7,
    kUniformVec4 = 8,
    kUniformMat44 = 9,  // one matrix, not transposed
    kUniformTex1D = 10, // bound on the next texture unit; the sampler gets the unit
    kUniformTex2D = 11,
};

struct uniform_t {
    int32_t type;
    union {
        GLuint ui;
        GLint i;
        Vec2i iv2;
        Vec3i iv3;
        Vec4i iv4;
        GLfloat f;
        Vec2f v2;
        Vec3f v3;
        Vec4f v4;
        Matrix44f m44;
        GLuint texture;
    } value;
};

uniform_t UIVEC(GLuint v);
uniform_t IVEC(GLint v);
uniform_t IVEC2(Vec2i v);
uniform_t IVEC3(Vec3i v);
uniform_t IVEC4(Vec4i v);
uniform_t VEC(GLfloat v);
uniform_t VEC2(Vec2f v);
uniform_t VEC3(Vec3f v);
uniform_t VEC4(Vec4f v);
uniform_t MAT44(const Matrix44f& v);
uniform_t TEX1D(GLuint texture);
uniform_t TEX2D(GLuint texture);

// Keyed by the name the GL reports for the active uniform ("name[0]" for an array).
using UniformMap = std::unordered_map<std::string, uniform_t>;

// A vertex attribute's source: always from offset 0 of `buffer`, never normalised.
struct AttributeType {
    GLuint buffer;
    GLint size;
    GLenum type;
    GLsizei stride;
};
using AttributeMap = std::unordered_map<std::string, AttributeType>;

// Leaves `program` in use with every active uniform that `uniforms` names set. Names the
// program does not use are ignored; only the first 31 characters of a uniform's name are
// seen, so longer names are never set. Textures go on units 0, 1, 2, ... and stay bound.
// Errors raised by a call (a kind that does not fit the uniform) are dropped.
void SetProgramUniforms(GLuint program, const UniformMap& uniforms);

// Records in `vao` the buffer and layout of every active attribute of `program` that
// `attributes` names; leaves vertex array 0 and array buffer 0 bound.
void SetProgramAttributes(GLuint vao, GLuint program, const AttributeMap& attributes);
