#version 330 core
in vec2 out_uvs;
uniform sampler2D videoTexture;
uniform int steps;
uniform float stride;
uniform float opacityF;
uniform float scaleW;
uniform float scaleH;
out float FragColour;

#include "BlurKernel.glsl"

void main() {
    vec2 m = (out_uvs - 0.5) * vec2(scaleW, scaleH) + 0.5;
    FragColour = Blur(m, vec2(1.0, 0.0)).r * opacityF;
}
