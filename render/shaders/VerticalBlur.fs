#version 330 core
in vec2 out_uvs;
uniform sampler2D videoTexture;
uniform int steps;
uniform float stride;
out vec4 FragColour;

#include "BlurKernel.glsl"

void main() {
    FragColour = Blur(out_uvs, vec2(0.0, 1.0));
}
