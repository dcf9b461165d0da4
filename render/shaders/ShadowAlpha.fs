#version 330 core
// Shadow coverage by ray marching: from each output pixel, rays towards the light (spread
// over its angular extent or its disc, with blue-noise offsets) sphere-trace the jump-flood
// field until they touch the source. The hits' distances, eased, give the opacity.
// The tracing it shares with ShadowColour.fs lives in RayMarch.glsl.
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
out float FragColour;
#include "RayMarch.glsl"

// The sums over the pixel's samples.
float intensity = 0.0;
int hits = 0;

void Shade(float t, float len, Tracing tr) {
    if (t < 0.0) return;
    intensity += Ease(1.0 - t / max(len, 1e-10), tr);
    ++hits;
}

void main() {
    // Output rows run top down; shading space runs bottom up.
    vec2 position = vec2(gl_FragCoord.x, out_res.y - gl_FragCoord.y) + out_offset;
    ivec2 pixel = ivec2(floor(position));
    float noise = texelFetch(blue_noise_tex, pixel & 1023, 0).r;

    TraceSamples(pixel, noise, BeginTracing());
    if (hits > 0) {
        intensity = mix(shadow_start_opacity, shadow_end_opacity, 1.0 - intensity / float(hits)) * float(hits);
    }
    float alpha = clamp(intensity / float(max(num_samples, 1)) * shadow_opacity, 0.0, 1.0);
    if (shadowGammaF != 1.0) alpha = pow(alpha, shadowGammaF);
    FragColour = alpha;
}
