#include "open_gl/RenderQuad.h"

#include "open_gl/Quad.h"
#include "resources/BlueNoise.h"

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

    GLObject vao(GLKind::kVertexArray, "RenderGeneric: glGenVertexArrays failed");
    glBindVertexArray(vao);
    glDrawArrays(GL_TRIANGLES, 0, 6);
    glBindVertexArray(0);
    vao.Reset();

    glUseProgram(0);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

void RenderQuadFBO(GLuint framebuffer, int width, int height, GLuint program, const UniformMap& uniforms) {
    GL_Pod pod = CreateQuadFromVertices(program, uniforms, quad_vertices, quad_tex);
    const GLObject vao(GLKind::kVertexArray, "RenderQuadFBO: glGenVertexArrays failed");
    SetProgramAttributes(vao, program, pod.attributes);
    SetProgramUniforms(program, pod.uniforms);
    // A program without the array ignores it: its location is -1.
    glUniform2fv(glGetUniformLocation(program, "blue_noise_points"), kBlueNoisePointCount, blue_noise_points.data());
    RenderGeneric(Vec4i{0, 0, width, height}, pod.settings, framebuffer, program);

    glActiveTexture(GL_TEXTURE0);
}
