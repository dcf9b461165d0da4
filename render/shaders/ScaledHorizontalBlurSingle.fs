#version 330 core
#include "BlurKernel.glsl"
uniform float opacityF;
uniform float scaleW;
uniform float scaleH;
out float FragColour;

void main() {
    vec2 m = (out_uvs - 0.5) * vec2(scaleW, scaleH) + 0.5;
    FragColour = Blur(m, vec2(1.0, 0.0)).r * opacityF;
}
