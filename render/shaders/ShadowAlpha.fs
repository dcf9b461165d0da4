#version 330 core
// Shadow coverage by ray marching: from each output pixel, rays towards the light (spread
// over its angular extent or its disc, with blue-noise offsets) sphere-trace the jump-flood
// field until they touch the source. The hits' distances, eased, give the opacity.
// Shares its tracing with ShadowColour.fs; change both together.
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

const float kPi = 3.14159265;
const float kGolden = 0.61803398875;
const float kFar = 1e20;
const int kPointLight = 2;
const int kMaxSteps = 200;

float BoxDistance(vec2 p, vec2 c) {
    vec2 a = abs(p - c) - 0.5;
    return length(max(a, 0.0)) + min(max(a.x, a.y), 0.0);
}

// Distance in input pixels from p to the nearest source texel. A texel without a seed
// holds (65535, 65535): far enough that the march steps past its end.
float FieldDistance(vec2 p) {
    vec2 f = p * ssaaF;
    ivec2 texel = clamp(ivec2(floor(f)), ivec2(0), ivec2(jfa_res) - 1);
    vec2 q = texelFetch(jfa_tex, texel, 0).xy;
    return BoxDistance(f, q + 0.5) / ssaaF;
}

// Distance along the ray to its first contact with the source, or -1.
float March(vec2 ro, vec2 rd, float tMax) {
    // Clip to the input's box first: outside it the field says nothing.
    vec2 t0 = (vec2(0.05) - ro) / rd;
    vec2 t1 = (in_res - 0.05 - ro) / rd;
    vec2 tMin = min(t0, t1), tMaxAxis = max(t0, t1);
    float near = max(tMin.x, tMin.y);
    float far = min(tMaxAxis.x, tMaxAxis.y);
    if (far < near || near > tMax || far < 0.0) return -1.0;
    float offset = 0.0;
    if (near > 0.0) {
        ro += near * rd;
        offset = near;
        tMax -= near;
        far -= near;
    }
    bool edge = far < tMax;
    if (edge) tMax = far;

    float t = 0.0;
    // "+ min(0, num_samples)" keeps the compiler from unrolling the loop.
    for (int i = 0; i < kMaxSteps + min(0, num_samples); ++i) {
        float d = FieldDistance(ro + rd * t);
        if (d < 0.0) return offset + t;
        t += d;
        if (t >= tMax) {
            // An inner shadow's ray leaving the box has met the source's outside.
            if (inner_shadow && edge) return tMax;
            break;
        }
        if (d < 0.1) return offset + t;
    }
    return -1.0;
}

// Concentrates samples towards the light's centre as the ease falls to 0 (all at 0.5).
float Softness(float x) {
    float s = min(shadow_softness_ease, 0.999);
    float c1 = s * s / sqrt(1.0 - s * s * s * s);
    if (c1 == 0.0) return 0.5;
    float c2 = atan(0.5 / c1);
    return c1 * tan(c2 * (2.0 * x - 1.0)) + 0.5;
}

float Ease(float x, float a) {
    float k = 2.0 * a - 1.0;
    if (k == 0.0) return x;
    if ((k == -1.0 && x == 0.0) || (k == 1.0 && x == 1.0)) return 0.0;
    float sg = sign(k);
    float e = 1.0 - abs(k);
    // At |k| = 1 the inner power is infinite: base^inf is 0 below 1 (1 is excluded above).
    float q = e > 0.0 ? pow(1.0 - pow(0.5 + sg * (x - 0.5), 1.0 / e), e) : 1.0;
    return 0.5 + sg * (0.5 - q);
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
