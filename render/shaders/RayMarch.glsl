// Tracing shared by ShadowAlpha.fs and ShadowColour.fs, with the inputs both read, pasted
// into both where they name it on an include line, when the shader texts are embedded.
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

const float kPi = 3.14159265;
const float kGolden = 0.61803398875;
const float kFar = 1e20;
const int kPointLight = 2;
const int kMaxSteps = 200;

// What the tracing needs from the uniforms alone, worked out once per pixel instead of once
// per sample or march step; each value is the expression the sample loop used to evaluate.
struct Tracing {
    float fieldScale;   // 1 / ssaaF, exact as ssaaF is 1, 2 or 4
    ivec2 fieldLast;    // the last texel of the field
    vec2 softness;      // the softness curve's factor and its angle scale
    vec4 ease;          // the distance ease's k, sign(k), 1 - |k| and its reciprocal
    float size, aMin;   // a directional light's spread and its first angle
};

Tracing BeginTracing() {
    Tracing tr;
    tr.fieldScale = 1.0 / ssaaF;
    tr.fieldLast = ivec2(jfa_res) - 1;
    float s = min(shadow_softness_ease, 0.999);
    float c1 = s * s / sqrt(1.0 - s * s * s * s);
    tr.softness = vec2(c1, c1 == 0.0 ? 0.0 : atan(0.5 / c1));
    float k = 2.0 * shadow_distance_ease - 1.0;
    float e = 1.0 - abs(k);
    tr.ease = vec4(k, sign(k), e, 1.0 / e);
    tr.size = 2.0 * kPi * light_softness;
    tr.aMin = light_direction - tr.size / 2.0;
    return tr;
}

float BoxDistance(vec2 p, vec2 c) {
    vec2 a = abs(p - c) - 0.5;
    return length(max(a, 0.0)) + min(max(a.x, a.y), 0.0);
}

// Distance in input pixels from p to the nearest source texel. A texel without a seed
// holds (65535, 65535): far enough that the march steps past its end.
float FieldDistance(vec2 p, Tracing tr) {
    vec2 f = p * ssaaF;
    ivec2 texel = clamp(ivec2(floor(f)), ivec2(0), tr.fieldLast);
    vec2 q = texelFetch(jfa_tex, texel, 0).xy;
    return BoxDistance(f, q + 0.5) * tr.fieldScale;
}

// Distance along the ray to its first contact with the source, or -1.
float March(vec2 ro, vec2 rd, float tMax, Tracing tr) {
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
        float d = FieldDistance(ro + rd * t, tr);
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
float Softness(float x, Tracing tr) {
    if (tr.softness.x == 0.0) return 0.5;
    return tr.softness.x * tan(tr.softness.y * (2.0 * x - 1.0)) + 0.5;
}

float Ease(float x, Tracing tr) {
    vec4 c = tr.ease;
    if (c.x == 0.0) return x;
    if ((c.x == -1.0 && x == 0.0) || (c.x == 1.0 && x == 1.0)) return 0.0;
    // At |k| = 1 the inner power is infinite: base^inf is 0 below 1 (1 is excluded above).
    float q = c.z > 0.0 ? pow(1.0 - pow(0.5 + c.y * (x - 0.5), c.w), c.z) : 1.0;
    return 0.5 + c.y * (0.5 - q);
}

// The including shader sums up each sample: its contact t along the ray (or -1 for none),
// measured against the shadow length len.
void Shade(float t, float len, Tracing tr);

// The sample's origin: the pixel plus its blue-noise point.
vec2 SampleOrigin(int i, ivec2 pixel, out vec2 b) {
    b = fract(blue_noise_points[i % 256] + kGolden * float(i / 256));
    return vec2(pixel) + b;
}

// Marches one sample's ray and hands the contact to Shade. tLight is the distance along the
// ray to the light.
void ShadeRay(vec2 ro, vec2 rd, float tLight, Tracing tr) {
    float len = shadow_length;
    float toLight = tLight;
    if (inverse_shadow) {
        rd = -rd;
        tLight = kFar;
        if (auto_shadow_length) len = kFar;
    }
    float t = March(ro, rd, min(tLight, len), tr);
    if (t >= 0.0 && inverse_shadow && auto_shadow_length) len = toLight + t;
    Shade(t, len, tr);
}

// Every sample of the pixel, in order. The shader computes both sides of each branch for all
// the pixels it shades at once, so each kind of light has its own loop; the loops of the other
// kinds run no samples and cost next to nothing.
void TraceSamples(ivec2 pixel, float noise, Tracing tr) {
    int kind = shadow_in_light ? 0 : light_type == kPointLight ? 1 : 2;

    // Rays to points on the light's disc.
    for (int i = 0; i < (kind == 0 ? num_samples : 0); ++i) {
        vec2 b;
        vec2 ro = SampleOrigin(i, pixel, b);
        vec2 u = fract(b + noise);
        float r = light_radius * sqrt(abs(2.0 * Softness(u.x, tr) - 1.0));
        float theta = 2.0 * kPi * u.y;
        vec2 target = light_position + r * vec2(cos(theta), sin(theta));
        ShadeRay(ro, normalize(target - ro), distance(ro, target), tr);
    }

    // Rays spread over the angle a point light fills.
    for (int i = 0; i < (kind == 1 ? num_samples : 0); ++i) {
        vec2 b;
        vec2 ro = SampleOrigin(i, pixel, b);
        float s = Softness((float(i) + fract(noise + float(i + 1) * kGolden)) / float(num_samples), tr);
        float D = distance(ro, light_position);
        // Inside the light nothing casts a shadow; at its very centre no direction exists.
        if (D < light_radius || D == 0.0) continue;
        float aMid = atan(light_position.y - ro.y, light_position.x - ro.x);
        float size = 2.0 * asin(light_radius / D);
        float aMin = aMid - size / 2.0;
        float off = size * abs(s - 0.5);
        // Along this ray, the distance to the light's near edge; D - r on the centre ray.
        float sinOff = sin(off);
        float tLight;
        if (light_radius == 0.0) {
            tLight = D;
        } else if (sinOff == 0.0) {
            tLight = D - light_radius;
        } else {
            float chord = asin(clamp(D * sinOff / light_radius, -1.0, 1.0)) - off;
            tLight = min(D, light_radius * sin(chord) / sinOff);
        }
        float a = aMin + size * s;
        ShadeRay(ro, vec2(cos(a), sin(a)), tLight, tr);
    }

    // Rays spread over a directional light's angle.
    for (int i = 0; i < (kind == 2 ? num_samples : 0); ++i) {
        vec2 b;
        vec2 ro = SampleOrigin(i, pixel, b);
        float s = Softness((float(i) + fract(noise + float(i + 1) * kGolden)) / float(num_samples), tr);
        float a = tr.aMin + tr.size * s;
        ShadeRay(ro, vec2(cos(a), sin(a)), kFar, tr);
    }
}

// The sums over the pixel's samples, which Shade adds to.
float intensity = 0.0;
int hits = 0;

// Traces the pixel's samples and returns its coverage.
float ShadowAlpha() {
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
    return alpha;
}
