#include "open_gl/Quad.h"

#include <cstddef>

#include "shell/UF3.h"
#include "shell/UF3_Err.h"
#include "shell/UF3_GLErr.h"

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

void Forget(GLuint* vao, GLuint* vbo) {
    DeleteQuad(vao, vbo);
    *vao = 0;
    *vbo = 0;
}

bool MakeInterleavedQuad(const char* caller, GLuint* vao, GLuint* vbo, const GLfloat (&vertices)[20]) {
    static_assert(sizeof vertices == kQuadBufferBytes);
    glGenVertexArrays(1, vao);
    glGenBuffers(1, vbo);
    // A refused name would bind the GL's default object and draw nothing.
    if (*vao == 0 || *vbo == 0) {
        Forget(vao, vbo);
        return false;
    }
    glBindVertexArray(*vao);
    glBindBuffer(GL_ARRAY_BUFFER, *vbo);
    glBufferData(GL_ARRAY_BUFFER, sizeof vertices, vertices, GL_STATIC_DRAW);
    // Refused storage leaves names that draw nothing: no quad at all, so that it is built again.
    const std::string refused = TakeGLError(std::string(caller) + " glBufferData");
    if (!refused.empty()) {
        glBindVertexArray(0);
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        Forget(vao, vbo);
        LogError(refused, nullptr);
        return false;
    }
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, kQuadStride, nullptr);
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, kQuadStride,
                          reinterpret_cast<const void*>(3 * sizeof(GLfloat)));
    glEnableVertexAttribArray(1);
    glBindVertexArray(0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    return true;
}

}  // namespace

bool InitQuad(GLuint* vao, GLuint* vbo) {
    static const GLfloat vertices[20] = {
        -1.0f, -1.0f, 0.0f, 0.0f, 0.0f,
        -1.0f, 1.0f, 0.0f, 0.0f, 1.0f,
        1.0f, 1.0f, 0.0f, 1.0f, 1.0f,
        1.0f, -1.0f, 0.0f, 1.0f, 0.0f,
    };
    return MakeInterleavedQuad("InitQuad", vao, vbo, vertices);
}

bool InitQuadRatio(GLuint* vao, GLuint* vbo, float rx, float ry) {
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

void DeleteQuad(GLuint* vao, GLuint* vbo) {
    if (*vao != 0) glDeleteVertexArrays(1, vao);
    if (*vbo != 0) glDeleteBuffers(1, vbo);
}

GLuint CreateBuffer(const void* data, GLsizeiptr size, GLenum target, GLenum usage) {
    GLuint buffer = 0;
    glGenBuffers(1, &buffer);
    if (buffer == 0) return 0;
    glBindBuffer(target, buffer);
    glBufferData(target, size, data, usage);
    const std::string refused = TakeGLError("CreateBuffer glBufferData");
    if (!refused.empty()) {
        glBindBuffer(target, 0);
        glDeleteBuffers(1, &buffer);
        throw UF_Err(PF_Err_OUT_OF_MEMORY, refused);
    }
    return buffer;
}

void DeleteBuffer(GLuint buffer) {
    if (buffer != 0) glDeleteBuffers(1, &buffer);
    glGetError();
}

GL_Pod CreateQuadFromVertices(GLuint program, const UniformMap& uniforms, const GLfloat (&vertices)[16],
                              const GLfloat (&texCoords)[8]) {
    GL_Pod pod;
    pod.settings[GL_Pod::kMode] = GL_TRIANGLE_STRIP;
    pod.settings[GL_Pod::kCount] = 4;
    pod.settings[GL_Pod::kInstances] = 1;
    pod.settings[GL_Pod::kProgram] = program;
    // Everything that allocates comes first: once a buffer exists, nothing may throw before
    // its name is recorded in the pod.
    pod.uniforms = uniforms;
    pod.attributes["vertex"] = AttributeType{0, 4, GL_FLOAT, 4 * sizeof(GLfloat)};
    pod.attributes["tex"] = AttributeType{0, 2, GL_FLOAT, 2 * sizeof(GLfloat)};
    pod.attributes["texCoordIn"] = pod.attributes["tex"];
    pod.buffers.reserve(2);
    try {
        pod.buffers.push_back(CreateBuffer(vertices, sizeof vertices, GL_ARRAY_BUFFER, GL_STATIC_DRAW));
        pod.buffers.push_back(CreateBuffer(texCoords, sizeof texCoords, GL_ARRAY_BUFFER, GL_STATIC_DRAW));
    } catch (...) {
        for (GLuint buffer : pod.buffers) DeleteBuffer(buffer);
        throw;
    }
    if (pod.buffers[0] == 0 || pod.buffers[1] == 0) {
        for (GLuint buffer : pod.buffers) DeleteBuffer(buffer);
        throw UF_Err(PF_Err_OUT_OF_MEMORY, "CreateQuadFromVertices: glGenBuffers failed");
    }
    pod.attributes["vertex"].buffer = pod.buffers[0];
    pod.attributes["tex"].buffer = pod.buffers[1];
    pod.attributes["texCoordIn"].buffer = pod.buffers[1];
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
