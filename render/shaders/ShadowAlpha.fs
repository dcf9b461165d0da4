#version 330 core
// Placeholder until the ray-marched shading pass is written: no shadow anywhere.
in vec2 uv;
uniform sampler2D jfa_tex;
uniform vec2 blue_noise_points[256];
out float FragColour;

void main() {
    FragColour = 0.0;
}
