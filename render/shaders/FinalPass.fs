#version 330 core
in vec2 out_uvs;
uniform sampler2D videoTexture;
uniform int unmultL;
uniform int gammaB;
uniform float shadowOpacityF;
uniform float shadowGammaF;
out vec4 FragColour;

void main() {
    vec4 c = texture(videoTexture, out_uvs);
    if (unmultL > 0 && c.a > 0.0) c.rgb /= c.a;
    if (shadowGammaF != 1.0) c.a = pow(c.a, shadowGammaF);
    if (gammaB > 0) c.rgb = pow(c.rgb, vec3(0.4545));
    // After the division, so the opacity does not brighten the colour.
    c.a *= shadowOpacityF;
    // Read back as RGBA, this lands in the host's alpha, red, green, blue slots.
    FragColour = vec4(c.a, c.r, c.g, c.b);
}
