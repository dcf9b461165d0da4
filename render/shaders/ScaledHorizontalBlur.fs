#version 330 core
#include "BlurKernel.glsl"
uniform float opacityF;
uniform vec4 colorF;  // fill colour; .a is the fill influence
uniform float scaleW;
uniform float scaleH;
out vec4 FragColour;

void main() {
    vec2 m = (out_uvs - 0.5) * vec2(scaleW, scaleH) + 0.5;
    vec4 c;
    if (colorF.a >= 1.0) {
        // A full fill needs only coverage, which a single-channel source keeps in red.
        float alpha = Blur(m, vec2(1.0, 0.0)).r;
        c = vec4(colorF.rgb * alpha, alpha);
    } else {
        c = Blur(m, vec2(1.0, 0.0));
        if (colorF.a > 0.0) c.rgb = mix(c.rgb, colorF.rgb * c.a, colorF.a);
    }
    FragColour = c * opacityF;
}
