#version 330 core
// Jump-flood distance field of the source's alpha. Each texel holds the integer field
// coordinates of the nearest seed texel found so far, or (65535, 65535) for none.
// k = 0: seed pass. k > 0: one flood pass reading the neighbours k texels away.
uniform sampler2D in_tex;
uniform sampler2D jfa_tex;
uniform vec2 jfa_res;
uniform vec2 in_res;
uniform float alpha_threshold;
uniform bool inner_shadow;
uniform int k;
uniform vec2 shadow_offset;
uniform int light_type;
uniform bool inverseShadowB;
uniform vec2 point_anchor;
out vec2 FragColour;

const vec2 kNoSeed = vec2(65535.0);
const int kPointLight = 2;

// Signed distance from p to the unit square centred at c: negative inside.
float BoxDistance(vec2 p, vec2 c) {
    vec2 a = abs(p - c) - 0.5;
    return length(max(a, 0.0)) + min(max(a.x, a.y), 0.0);
}

void main() {
    ivec2 c = ivec2(gl_FragCoord.xy);
    if (k == 0) {
        // The lookup in field texels, from this texel's exact centre: an unmoved source is
        // read texel for texel, so that an alpha equal to the threshold still seeds; the
        // interpolated uv lies a little off the centre and would filter in a neighbour.
        vec2 perInput = jfa_res / in_res;
        vec2 q = vec2(c) + 0.5;
        if (light_type == kPointLight) {
            // The source scaled about the light by the point offset.
            vec2 a = point_anchor * perInput;
            float s = shadow_offset.x;
            q = inverseShadowB ? a + (q - a) * s : a + (q - a) / s;
        } else {
            q += shadow_offset * perInput;
        }
        q -= 0.5;
        bool inside = all(greaterThanEqual(q, vec2(0.0))) && all(lessThan(q, jfa_res));
        float alpha = q != floor(q) ? texture(in_tex, (q + 0.5) / jfa_res).r
                      : inside ? texelFetch(in_tex, ivec2(q), 0).r : 0.0;
        bool seed = inner_shadow ? alpha <= 1.0 - alpha_threshold : alpha >= alpha_threshold;
        FragColour = seed ? vec2(c) : kNoSeed;
        return;
    }

    // The texel centre, exactly: equal distances then compare equal and ties keep the
    // first candidate visited. No branches: a neighbour out of range is fetched clamped and
    // dropped by the select, as is one without a seed, which costs less than skipping it.
    vec2 p = gl_FragCoord.xy;
    ivec2 last = ivec2(jfa_res) - 1;
    float best = 1e30;
    vec2 nearest = kNoSeed;
    for (int i = -1; i <= 1; ++i) {
        for (int j = -1; j <= 1; ++j) {
            ivec2 s = c + ivec2(i, j) * k;
            vec2 q = texelFetch(jfa_tex, clamp(s, ivec2(0), last), 0).xy;
            float d = BoxDistance(p, q + 0.5);
            bool take = s == clamp(s, ivec2(0), last) && q != kNoSeed && d < best;
            best = take ? d : best;
            nearest = take ? q : nearest;
        }
    }
    FragColour = nearest;
}
