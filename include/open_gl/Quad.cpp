#include "open_gl/Quad.h"

#include "shell/UF3.h"
#include "shell/UF3_Err.h"

const GLfloat quad_vertices[16] = {
    -1.0f, -1.0f, 0.0f, 1.0f,
    1.0f, -1.0f, 0.0f, 1.0f,
    -1.0f, 1.0f, 0.0f, 1.0f,
    1.0f, 1.0f, 0.0f, 1.0f,
};

const GLfloat quad_tex[8] = {
    0.0f, 0.0f,
    1.0f, 0.0f,
    0.0f, 1.0f,
    1.0f, 1.0f,
};

namespace {

constexpr GLsizei kQuadStride = 5 * sizeof(GLfloat);

bool MakeInterleavedQuad(const char* caller, GLObject* vao, GLObject* vbo, const GLfloat (&vertices)[20]) {
    static_assert(sizeof vertices == kQuadBufferBytes);
    DeleteQuad(vao, vbo);
    GLObject array, buffer;
    try {
        array = GLObject(GLKind::kVertexArray, caller);
        buffer = GLObject(GLKind::kBuffer, caller);
    } catch (const UF_Err&) {
        return false;  // the caller reports a refused name
    }
    glBindVertexArray(array);
    try {
        buffer.BufferData(GL_ARRAY_BUFFER, sizeof vertices, vertices, GL_STATIC_DRAW, caller);
    } catch (const UF_Err& e) {
        // Names that draw nothing are no quad at all, so that it is built again.
        glBindVertexArray(0);
        LogError(e.message, nullptr);
        return false;
    }
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, kQuadStride, nullptr);
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, kQuadStride,
                          reinterpret_cast<const void*>(3 * sizeof(GLfloat)));
    glEnableVertexAttribArray(1);
    glBindVertexArray(0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    *vao = std::move(array);
    *vbo = std::move(buffer);
    return true;
}

}  // namespace

bool InitQuad(GLObject* vao, GLObject* vbo) {
    static const GLfloat vertices[20] = {
        -1.0f, -1.0f, 0.0f, 0.0f, 0.0f,
        -1.0f, 1.0f, 0.0f, 0.0f, 1.0f,
        1.0f, 1.0f, 0.0f, 1.0f, 1.0f,
        1.0f, -1.0f, 0.0f, 1.0f, 0.0f,
    };
    return MakeInterleavedQuad("InitQuad", vao, vbo, vertices);
}

bool InitQuadRatio(GLObject* vao, GLObject* vbo, float rx, float ry) {
    const GLfloat x = 2.0f * rx - 1.0f;
    const GLfloat y = 2.0f * ry - 1.0f;
    const GLfloat vertices[20] = {
        -1.0f, -1.0f, 0.0f, 0.0f, 0.0f,
        x, -1.0f, 0.0f, 1.0f, 0.0f,
        x, y, 0.0f, 1.0f, 1.0f,
        -1.0f, y, 0.0f, 0.0f, 1.0f,
    };
    return MakeInterleavedQuad("InitQuadRatio", vao, vbo, vertices);
}

void DeleteQuad(GLObject* vao, GLObject* vbo) {
    vao->Reset();
    vbo->Reset();
}

GLObject CreateBuffer(const void* data, GLsizeiptr size, GLenum target, GLenum usage, const std::string& caller) {
    GLObject buffer(GLKind::kBuffer, caller + ": glGenBuffers failed");
    buffer.BufferData(target, size, data, usage, "CreateBuffer");
    return buffer;
}

void DeleteBuffer(GLObject& buffer) {
    buffer.Reset();
    glGetError();
}

GL_Pod::~GL_Pod() {
    for (GLObject& buffer : buffers) DeleteBuffer(buffer);
}

GL_Pod CreateQuadFromVertices(GLuint program, const UniformMap& uniforms, const GLfloat (&vertices)[16],
                              const GLfloat (&texCoords)[8]) {
    GL_Pod pod;
    pod.settings[GL_Pod::kMode] = GL_TRIANGLE_STRIP;
    pod.settings[GL_Pod::kCount] = 4;
    pod.settings[GL_Pod::kInstances] = 1;
    pod.settings[GL_Pod::kProgram] = program;
    pod.uniforms = uniforms;
    const std::string caller = "CreateQuadFromVertices";
    pod.buffers.push_back(CreateBuffer(vertices, sizeof vertices, GL_ARRAY_BUFFER, GL_STATIC_DRAW, caller));
    pod.buffers.push_back(CreateBuffer(texCoords, sizeof texCoords, GL_ARRAY_BUFFER, GL_STATIC_DRAW, caller));
    pod.attributes["vertex"] = AttributeType{pod.buffers[0], 4, GL_FLOAT, 4 * sizeof(GLfloat)};
    pod.attributes["tex"] = AttributeType{pod.buffers[1], 2, GL_FLOAT, 2 * sizeof(GLfloat)};
    pod.attributes["texCoordIn"] = pod.attributes["tex"];
    return pod;
}

GL_Pod CreateQuad(GLuint program, const UniformMap& uniforms, float w, float h) {
    if (w == 0.0f || h == 0.0f) return CreateQuadFromVertices(program, uniforms, quad_vertices, quad_tex);
    const GLfloat vertices[16] = {
        -w, -h, 0.0f, 1.0f,
        w, -h, 0.0f, 1.0f,
        -w, h, 0.0f, 1.0f,
        w, h, 0.0f, 1.0f,
    };
    return CreateQuadFromVertices(program, uniforms, vertices, quad_tex);
}
