// Tracing shared by ShadowAlpha.fs and ShadowColour.fs, pasted into both
// where they name it on an include line, when the shader texts are embedded.

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
