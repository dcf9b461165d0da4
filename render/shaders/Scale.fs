#version 330 core
in vec2 out_uvs;
uniform sampler2D videoTexture;
uniform vec2 scale;
out vec4 FragColour;

void main() {
    vec2 m = (out_uvs - 0.5) / scale + 0.5;
    FragColour = texture(videoTexture, m);
}
