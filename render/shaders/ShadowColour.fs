#version 330 core
// Shadow colour and coverage by ray marching, for Gradient Fill: ShadowAlpha.fs's tracing,
// plus the gradient taken at each hit's distance along the shadow. Change both together.
// Writes red, green, blue, alpha; the colour is premultiplied for an inner shadow only.
#include "RayMarch.glsl"
uniform float shadow_cycle_offset;
uniform int shadow_grad_interp;
uniform float shadow_grad_ease;
uniform int num_shadow_colors;

struct ShadowColor {
    vec3 color;
    float position;
};
// Gradient stops by ascending position.
uniform ShadowColor shadow_colors[8];
out vec4 FragColour;

float EaseOut(float g) { return g == 1.0 ? 1.0 : 1.0 - exp2(-10.0 * g); }

vec3 Ramp(float g) {
    int n = clamp(num_shadow_colors, 0, 8);
    if (n == 0) return vec3(0.0);
    if (g <= shadow_colors[0].position) return shadow_colors[0].color;
    if (g >= shadow_colors[n - 1].position) return shadow_colors[n - 1].color;
    // The first stop past g; g is above the stop before it, so the span is never empty.
    for (int i = 0; i < n - 1; ++i) {
        ShadowColor lo = shadow_colors[i], hi = shadow_colors[i + 1];
        if (g > hi.position) continue;
        float f = (g - lo.position) / (hi.position - lo.position);
        if (shadow_grad_interp > 0) return mix(lo.color, hi.color, f);
        return f >= 0.5 ? hi.color : lo.color;
    }
    return shadow_colors[n - 1].color;
}

// The colour summed over the pixel's samples.
vec3 colour = vec3(0.0);

void Shade(float t, float len, Tracing tr) {
    if (t < 0.0) return;
    intensity += Ease(1.0 - t / max(len, 1e-10), tr);
    ++hits;
    float g = mod(t / max(len, 1e-10) + shadow_cycle_offset, 1.0);
    colour += Ramp(mix(EaseOut(g), g, 1.0 - shadow_grad_ease));
}

void main() {
    float alpha = ShadowAlpha();
    if (hits > 0) colour /= float(hits);
    colour = max(colour, 0.0);
    if (inner_shadow) colour *= alpha;
    FragColour = vec4(colour, alpha);
}
