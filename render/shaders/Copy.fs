#version 330 core
in vec2 out_uvs;
uniform sampler2D videoTexture;
out vec4 FragColour;

void main() {
    FragColour = min(texture(videoTexture, out_uvs), vec4(1.0));
}
