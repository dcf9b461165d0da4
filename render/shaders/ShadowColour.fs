#version 330 core
// Shadow colour and coverage by ray marching, for Gradient Fill: ShadowAlpha.fs's tracing,
// plus the gradient taken at each hit's distance along the shadow. Change both together.
// Writes red, green, blue, alpha; the colour is premultiplied for an inner shadow only.
in vec2 uv;
uniform sampler2D jfa_tex;
uniform sampler2D blue_noise_tex;
uniform vec2 in_res;
uniform vec2 jfa_res;
uniform vec2 out_res;
uniform vec2 out_offset;
uniform int light_type;
uniform float light_direction;
uniform float light_softness;
uniform vec2 light_position;
uniform float light_radius;
uniform bool inner_shadow;
uniform bool shadow_in_light;
uniform float shadow_length;
uniform float shadow_start_opacity;
uniform float shadow_end_opacity;
uniform float shadow_distance_ease;
uniform float shadow_softness_ease;
uniform float shadowGammaF;
uniform int num_samples;
uniform float shadow_opacity;
uniform float ssaaF;
uniform bool inverse_shadow;
uniform bool auto_shadow_length;
uniform vec2 blue_noise_points[256];
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
#include "RayMarch.glsl"

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

// The sums over the pixel's samples.
float intensity = 0.0;
vec3 colour = vec3(0.0);
int hits = 0;

void Shade(float t, float len, Tracing tr) {
    if (t < 0.0) return;
    intensity += Ease(1.0 - t / max(len, 1e-10), tr);
    ++hits;
    float g = mod(t / max(len, 1e-10) + shadow_cycle_offset, 1.0);
    colour += Ramp(mix(EaseOut(g), g, 1.0 - shadow_grad_ease));
}

void main() {
    // Output rows run top down; shading space runs bottom up.
    vec2 position = vec2(gl_FragCoord.x, out_res.y - gl_FragCoord.y) + out_offset;
    ivec2 pixel = ivec2(floor(position));
    float noise = texelFetch(blue_noise_tex, pixel & 1023, 0).r;

    TraceSamples(pixel, noise, BeginTracing());
    if (hits > 0) {
        intensity = mix(shadow_start_opacity, shadow_end_opacity, 1.0 - intensity / float(hits)) * float(hits);
        colour /= float(hits);
    }
    float alpha = clamp(intensity / float(max(num_samples, 1)) * shadow_opacity, 0.0, 1.0);
    if (shadowGammaF != 1.0) alpha = pow(alpha, shadowGammaF);
    colour = max(colour, 0.0);
    if (inner_shadow) colour *= alpha;
    FragColour = vec4(colour, alpha);
}
