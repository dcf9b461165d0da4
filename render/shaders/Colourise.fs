#version 330 core
in vec2 out_uvs;
uniform sampler2D videoTexture;
uniform float opacityF;
uniform vec4 colorF;  // fill colour; .a is the fill influence
uniform int innerL;
out vec4 FragColour;

void main() {
    vec4 c = texture(videoTexture, out_uvs);
    // An inner shadow lives where the source is not.
    if (innerL > 0) c.a = (1.0 - c.a) * opacityF;
    if (colorF.a > 0.0) c.rgb = mix(c.rgb, colorF.rgb * c.a, colorF.a);
    if (innerL == 0) c *= opacityF;
    FragColour = c;
}
