#version 330 core
#include "BlurKernel.glsl"
out float FragColour;

void main() {
    FragColour = Blur(out_uvs, vec2(0.0, 1.0)).r;
}
