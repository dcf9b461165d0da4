#version 330 core
#include "BlurKernel.glsl"
out vec4 FragColour;

void main() {
    FragColour = Blur(out_uvs, vec2(1.0, 0.0));
}
