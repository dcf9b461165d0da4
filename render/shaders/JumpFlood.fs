#version 330 core
// Placeholder until the jump-flood pass is written: every texel reports "no seed found".
in vec2 uv;
uniform sampler2D in_tex;
uniform sampler2D jfa_tex;
out vec2 FragColour;

void main() {
    FragColour = vec2(65535.0);
}
