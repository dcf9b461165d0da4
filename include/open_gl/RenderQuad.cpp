#include "open_gl/RenderQuad.h"

#include "open_gl/Quad.h"
#include "resources/BlueNoise.h"
#include "shell/UF3.h"

namespace {

// The vertex array and the pod's buffers of one pass, deleted on every way out.
struct PassObjects {
    GLuint vao = 0;
    std::vector<GLuint>* buffers = nullptr;

    PassObjects() = default;
    PassObjects(const PassObjects&) = delete;
    PassObjects& operator=(const PassObjects&) = delete;
    ~PassObjects() {
        if (vao != 0) glDeleteVertexArrays(1, &vao);
        if (buffers == nullptr) return;
        for (GLuint buffer : *buffers) DeleteBuffer(buffer);
        buffers->clear();
    }
};

}  // namespace

void RenderGeneric(Vec4i viewport, const std::array<GLuint, 11>& settings, GLuint framebuffer, GLuint program) {
    if (settings[9] != 0) {
        glEnable(GL_CULL_FACE);
        glCullFace(settings[9]);
    }
    if (settings[8] != 0) {
        glEnable(GL_PRIMITIVE_RESTART);
        glPrimitiveRestartIndex(settings[8]);
    }
    glViewport(viewport.x, viewport.y, viewport.z, viewport.w);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glUseProgram(program);

    GLuint vao = 0;
    glGenVertexArrays(1, &vao);
    if (vao == 0) throw UF_Err(PF_Err_OUT_OF_MEMORY, "RenderGeneric: glGenVertexArrays failed");
    glBindVertexArray(vao);
    glDrawArrays(GL_TRIANGLES, 0, 6);
    glBindVertexArray(0);
    glDeleteVertexArrays(1, &vao);

    glUseProgram(0);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

void RenderQuadFBO(GLuint framebuffer, int width, int height, GLuint program, const UniformMap& uniforms) {
    GL_Pod pod = CreateQuadFromVertices(program, uniforms, quad_vertices, quad_tex);
    PassObjects objects;
    objects.buffers = &pod.buffers;

    glGenVertexArrays(1, &objects.vao);
    if (objects.vao == 0) throw UF_Err(PF_Err_OUT_OF_MEMORY, "RenderQuadFBO: glGenVertexArrays failed");
    SetProgramAttributes(objects.vao, program, pod.attributes);
    SetProgramUniforms(program, pod.uniforms);
    // A program without the array ignores it: its location is -1.
    glUniform2fv(glGetUniformLocation(program, "blue_noise_points"), kBlueNoisePointCount, blue_noise_points.data());
    RenderGeneric(Vec4i{0, 0, width, height}, pod.settings, framebuffer, program);

    glActiveTexture(GL_TEXTURE0);
}
