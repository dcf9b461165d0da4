// One full-screen pass into a framebuffer: the draw of the Raytraced passes.
#pragma once

#include <array>

#include "OpenGL/gl3.h"
#include "open_gl/Uniforms.h"

// Draws six vertices as triangles with an empty vertex array: the vertex shader places them
// by vertex number. Enables culling or primitive restart when the settings ask for them
// (they are not disabled again). Leaves vertex array, program and framebuffer 0 bound.
void RenderGeneric(Vec4i viewport, const std::array<GLuint, 11>& settings, GLuint framebuffer, GLuint program);

// One pass: `program` (0 when its slot never built) drawn over the whole width × height
// target `framebuffer`, with `uniforms` set and the built-in blue-noise points uploaded to
// "blue_noise_points". Leaves framebuffer, program and vertex array 0 bound and texture
// unit 0 active; the uniforms' textures stay bound on their units. Every GL object it makes
// is gone when it returns, whichever way it returns.
void RenderQuadFBO(GLuint framebuffer, int width, int height, GLuint program, const UniformMap& uniforms);
