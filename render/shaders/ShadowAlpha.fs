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
}

void main() {
    // Output rows run top down; shading space runs bottom up.
    vec2 position = vec2(gl_FragCoord.x, out_res.y - gl_FragCoord.y) + out_offset;
    ivec2 pixel = ivec2(floor(position));
    float noise = texelFetch(blue_noise_tex, pixel & 1023, 0).r;

    float intensity = 0.0;
    int hits = 0;
    for (int i = 0; i < num_samples; ++i) {
        vec2 b = fract(blue_noise_points[i % 256] + kGolden * float(i / 256));
        vec2 ro = vec2(pixel) + b;
        vec2 rd;
        float tLight;
        if (shadow_in_light) {
            // A point on the light's disc.
            vec2 u = fract(b + noise);
            float r = light_radius * sqrt(abs(2.0 * Softness(u.x) - 1.0));
            float theta = 2.0 * kPi * u.y;
            vec2 target = light_position + r * vec2(cos(theta), sin(theta));
            rd = normalize(target - ro);
            tLight = distance(ro, target);
        } else {
            float s = Softness((float(i) + fract(noise + float(i + 1) * kGolden)) / float(num_samples));
            float size, aMin;
            if (light_type == kPointLight) {
                float D = distance(ro, light_position);
                // Inside the light nothing casts a shadow; at its very centre no direction exists.
                if (D < light_radius || D == 0.0) continue;
                float aMid = atan(light_position.y - ro.y, light_position.x - ro.x);
                size = 2.0 * asin(light_radius / D);
                aMin = aMid - size / 2.0;
                float off = size * abs(s - 0.5);
                // Along this ray, the distance to the light's near edge; D - r on the centre ray.
                float sinOff = sin(off);
                if (light_radius == 0.0) {
                    tLight = D;
                } else if (sinOff == 0.0) {
                    tLight = D - light_radius;
                } else {
                    float chord = asin(clamp(D * sinOff / light_radius, -1.0, 1.0)) - off;
                    tLight = min(D, light_radius * sin(chord) / sinOff);
                }
            } else {
                size = 2.0 * kPi * light_softness;
                aMin = light_direction - size / 2.0;
                tLight = kFar;
            }
            float a = aMin + size * s;
            rd = vec2(cos(a), sin(a));
        }

        float len = shadow_length;
        float toLight = tLight;
        if (inverse_shadow) {
            rd = -rd;
            tLight = kFar;
            if (auto_shadow_length) len = kFar;
        }
        float t = March(ro, rd, min(tLight, len));
        if (t >= 0.0) {
            if (inverse_shadow && auto_shadow_length) len = toLight + t;
            intensity += Ease(1.0 - t / max(len, 1e-10), shadow_distance_ease);
            ++hits;
        }
    }
    if (hits > 0) {
        intensity = mix(shadow_start_opacity, shadow_end_opacity, 1.0 - intensity / float(hits)) * float(hits);
    }
    float alpha = clamp(intensity / float(max(num_samples, 1)) * shadow_opacity, 0.0, 1.0);
    if (shadowGammaF != 1.0) alpha = pow(alpha, shadowGammaF);
    FragColour = alpha;
}
