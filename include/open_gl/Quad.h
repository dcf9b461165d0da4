// Quad geometry of the passes and the bundle of one generic draw.
#pragma once

#include <array>
#include <vector>

#include "OpenGL/gl3.h"
#include "open_gl/GLObject.h"
#include "open_gl/Uniforms.h"

// Triangle-strip corners of the generic draw: x, y, z, w each.
extern const GLfloat quad_vertices[16];
// Their texture coordinates.
extern const GLfloat quad_tex[8];

// The per-thread unit quad: a vertex array over one interleaved buffer of four vertices
// (position x, y, z at attribute 0, texture u, v at attribute 1), drawn as a triangle fan.
// False, with both names 0, when the GL refused either or the buffer's storage (that refusal
// logged, naming the call).
bool InitQuad(GLObject* vao, GLObject* vbo);
// The storage of its buffer, in bytes: four vertices of five floats.
constexpr GLint kQuadBufferBytes = 4 * 5 * sizeof(GLfloat);

// The same layout covering the lower-left rx by ry fraction of the viewport with the whole
// texture.
bool InitQuadRatio(GLObject* vao, GLObject* vbo, float rx, float ry);

// Frees both; they name nothing afterwards.
void DeleteQuad(GLObject* vao, GLObject* vbo);

// A new buffer bound to `target` and filled with `size` bytes; it stays bound. A refused name
// throws a UF_Err 4 "<caller>: glGenBuffers failed", refused storage one naming the call.
GLObject CreateBuffer(const void* data, GLsizeiptr size, GLenum target, GLenum usage, const std::string& caller);
// Frees the buffer and drops one pending GL error.
void DeleteBuffer(GLObject& buffer);

// What one generic draw needs. Settings: [0] primitive mode, [2] vertex count, [6] 1,
// [8] primitive-restart index (0: none), [9] cull face (0: none), [10] program.
// Its buffers go with it, through DeleteBuffer.
struct GL_Pod {
    enum Setting { kMode = 0, kCount = 2, kInstances = 6, kRestartIndex = 8, kCullFace = 9, kProgram = 10 };
    GL_Pod() = default;
    GL_Pod(GL_Pod&&) = default;
    GL_Pod& operator=(GL_Pod&&) = default;
    ~GL_Pod();
    std::array<GLuint, 11> settings{};
    UniformMap uniforms;
    AttributeMap attributes;
    std::vector<GLObject> buffers;
};

// A pod for `program` drawing four corners as a triangle strip, with two new buffers
// (positions, then texture coordinates) behind the attributes "vertex", "tex" and
// "texCoordIn". Throws a UF_Err 4 when the GL refuses a buffer.
GL_Pod CreateQuadFromVertices(GLuint program, const UniformMap& uniforms, const GLfloat (&vertices)[16],
                              const GLfloat (&texCoords)[8]);

// A pod for the rectangle of half sizes w, h about the centre; the full quad when either is 0.
GL_Pod CreateQuad(GLuint program, const UniformMap& uniforms, float w, float h);
