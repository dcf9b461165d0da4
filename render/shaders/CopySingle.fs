#version 330 core
in vec2 out_uvs;
uniform sampler2D videoTexture;
out float FragColour;

void main() {
    FragColour = min(texture(videoTexture, out_uvs).r, 1.0);
}
