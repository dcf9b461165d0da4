#include "host/TransferModes.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace host {

namespace {

struct Rgb {
    float c[3];
};

float Clamp01(float v) { return v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f; }  // NaN goes to 0

float LumOf(const Rgb& v) { return Luminosity(v.c[0], v.c[1], v.c[2]); }

Rgb ClipColor(Rgb v) {
    float l = LumOf(v);
    float n = std::min({v.c[0], v.c[1], v.c[2]});
    float x = std::max({v.c[0], v.c[1], v.c[2]});
    for (float& c : v.c) {
        if (n < 0.0f && l - n != 0.0f) c = l + (c - l) * l / (l - n);
        if (x > 1.0f && x - l != 0.0f) c = l + (c - l) * (1.0f - l) / (x - l);
    }
    return v;
}

Rgb SetLum(Rgb v, float l) {
    float d = l - LumOf(v);
    for (float& c : v.c) c += d;
    return ClipColor(v);
}

float SatOf(const Rgb& v) { return std::max({v.c[0], v.c[1], v.c[2]}) - std::min({v.c[0], v.c[1], v.c[2]}); }

Rgb SetSat(Rgb v, float s) {
    int lo = 0, hi = 0;
    for (int i = 1; i < 3; ++i) {
        if (v.c[i] < v.c[lo]) lo = i;
        if (v.c[i] > v.c[hi]) hi = i;
    }
    if (lo == hi) return Rgb{{0, 0, 0}};  // grey: no hue to saturate
    int mid = 3 - lo - hi;
    Rgb r{};
    float range = v.c[hi] - v.c[lo];
    r.c[mid] = (v.c[mid] - v.c[lo]) * s / range;
    r.c[hi] = s;
    r.c[lo] = 0.0f;
    return r;
}

float Dodge(float cd, float cs) {
    if (cd <= 0.0f) return 0.0f;
    if (cs >= 1.0f) return 1.0f;
    return std::min(1.0f, cd / (1.0f - cs));
}

float Burn(float cd, float cs) {
    if (cd >= 1.0f) return 1.0f;
    if (cs <= 0.0f) return 0.0f;
    return 1.0f - std::min(1.0f, (1.0f - cd) / cs);
}

float HardLight(float cd, float cs) {
    if (cs <= 0.5f) return cd * 2.0f * cs;
    float s = 2.0f * cs - 1.0f;
    return cd + s - cd * s;
}

float SoftLight(float cd, float cs) {
    if (cs <= 0.5f) return cd - (1.0f - 2.0f * cs) * cd * (1.0f - cd);
    float d = cd <= 0.25f ? ((16.0f * cd - 12.0f) * cd + 4.0f) * cd : std::sqrt(std::max(cd, 0.0f));
    return cd + (2.0f * cs - 1.0f) * (d - cd);
}

float Separable(PF_TransferMode mode, float cd, float cs) {
    switch (mode) {
        case PF_Xfer_IN_FRONT:
            return cs;
        case PF_Xfer_ADD:
        case PF_Xfer_LINEAR_DODGE:
            return std::min(1.0f, cd + cs);
        case PF_Xfer_MULTIPLY:
            return cd * cs;
        case PF_Xfer_SCREEN:
            return cd + cs - cd * cs;
        case PF_Xfer_OVERLAY:
            return HardLight(cs, cd);
        case PF_Xfer_SOFT_LIGHT:
            return SoftLight(cd, cs);
        case PF_Xfer_HARD_LIGHT:
            return HardLight(cd, cs);
        case PF_Xfer_DARKEN:
            return std::min(cd, cs);
        case PF_Xfer_LIGHTEN:
            return std::max(cd, cs);
        case PF_Xfer_DIFFERENCE:
        case PF_Xfer_DIFFERENCE2:
            return std::fabs(cd - cs);
        case PF_Xfer_EXCLUSION:
            return cd + cs - 2.0f * cd * cs;
        case PF_Xfer_COLOR_DODGE:
        case PF_Xfer_COLOR_DODGE2:
            return Dodge(cd, cs);
        case PF_Xfer_COLOR_BURN:
        case PF_Xfer_COLOR_BURN2:
            return Burn(cd, cs);
        case PF_Xfer_LINEAR_BURN:
            return std::max(0.0f, cd + cs - 1.0f);
        case PF_Xfer_LINEAR_LIGHT:
            return Clamp01(cd + 2.0f * cs - 1.0f);
        case PF_Xfer_VIVID_LIGHT:
            return cs <= 0.5f ? Burn(cd, 2.0f * cs) : Dodge(cd, 2.0f * cs - 1.0f);
        case PF_Xfer_PIN_LIGHT:
            return cs <= 0.5f ? std::min(cd, 2.0f * cs) : std::max(cd, 2.0f * cs - 1.0f);
        case PF_Xfer_HARD_MIX:
            return cd + cs >= 1.0f ? 1.0f : 0.0f;
        case PF_Xfer_SUBTRACT:
            return std::max(0.0f, cd - cs);
        case PF_Xfer_DIVIDE:
            return cs == 0.0f ? 1.0f : std::min(1.0f, cd / cs);
        default:
            return cs;
    }
}

Rgb BlendColour(PF_TransferMode mode, const Rgb& d, const Rgb& s) {
    switch (mode) {
        case PF_Xfer_HUE:
            return SetLum(SetSat(s, SatOf(d)), LumOf(d));
        case PF_Xfer_SATURATION:
            return SetLum(SetSat(d, SatOf(s)), LumOf(d));
        case PF_Xfer_COLOR:
            return SetLum(s, LumOf(d));
        case PF_Xfer_LUMINOSITY:
            return SetLum(d, LumOf(s));
        case PF_Xfer_LIGHTER_COLOR:
            return LumOf(s) > LumOf(d) ? s : d;
        case PF_Xfer_DARKER_COLOR:
            return LumOf(s) < LumOf(d) ? s : d;
        default: {
            Rgb r;
            for (int i = 0; i < 3; ++i) r.c[i] = Separable(mode, d.c[i], s.c[i]);
            return r;
        }
    }
}

// Modes composited with B(cd, cs) through the common source-over weighting.
bool UsesBlendFunction(PF_TransferMode mode) {
    switch (mode) {
        case PF_Xfer_NONE:
        case PF_Xfer_COPY:
        case PF_Xfer_BEHIND:
        case PF_Xfer_DISSOLVE:
        case PF_Xfer_MULTIPLY_ALPHA:
        case PF_Xfer_MULTIPLY_ALPHA_LUMA:
        case PF_Xfer_MULTIPLY_NOT_ALPHA:
        case PF_Xfer_MULTIPLY_NOT_ALPHA_LUMA:
        case PF_Xfer_ALPHA_ADD:
        case PF_Xfer_ADDITIVE_PREMUL:
            return false;
        default:
            return IsKnownTransferMode(mode);
    }
}

bool ActsOnAlphaOnly(PF_TransferMode mode) {
    return mode == PF_Xfer_MULTIPLY_ALPHA || mode == PF_Xfer_MULTIPLY_ALPHA_LUMA ||
           mode == PF_Xfer_MULTIPLY_NOT_ALPHA || mode == PF_Xfer_MULTIPLY_NOT_ALPHA_LUMA;
}

Rgb ColourOf(const PF_PixelFloat& p) { return Rgb{{p.red, p.green, p.blue}}; }
PF_PixelFloat Pixel(float a, const Rgb& c) { return PF_PixelFloat{a, c.c[0], c.c[1], c.c[2]}; }

Rgb Unpremultiply(const PF_PixelFloat& p) {
    if (p.alpha <= 0.0f) return Rgb{{0, 0, 0}};
    return Rgb{{p.red / p.alpha, p.green / p.alpha, p.blue / p.alpha}};
}

// Straight-alpha composite of s over d; alphas already in 0..1.
PF_PixelFloat Straight(const Rgb& cs, float as, const Rgb& cd, float ad, const PF_CompositeMode& mode, A_long x,
                       A_long y) {
    const float o = mode.opacity / 255.0f;
    const float asp = as * o;
    switch (mode.xfer) {
        case PF_Xfer_COPY:
            return Pixel(asp, cs);
        case PF_Xfer_BEHIND: {
            float ao = ad + asp * (1.0f - ad);
            if (ao <= 0.0f) return Pixel(0.0f, Rgb{});
            Rgb r;
            for (int i = 0; i < 3; ++i) r.c[i] = (ad * cd.c[i] + asp * (1.0f - ad) * cs.c[i]) / ao;
            return Pixel(ao, r);
        }
        case PF_Xfer_DISSOLVE:
            if (DissolveNoise(x, y, mode.rand_seed) < asp) return Pixel(1.0f, cs);
            return Pixel(ad, cd);
        case PF_Xfer_MULTIPLY_ALPHA:
            return Pixel(ad * asp, cd);
        case PF_Xfer_MULTIPLY_ALPHA_LUMA:
            return Pixel(ad * Clamp01(LumOf(cs)) * asp, cd);
        case PF_Xfer_MULTIPLY_NOT_ALPHA:
            return Pixel(ad * (1.0f - asp), cd);
        case PF_Xfer_MULTIPLY_NOT_ALPHA_LUMA:
            return Pixel(ad * (1.0f - Clamp01(LumOf(cs)) * asp), cd);
        case PF_Xfer_ALPHA_ADD: {
            float sum = asp + ad;
            if (sum <= 0.0f) return Pixel(0.0f, Rgb{});
            Rgb r;
            for (int i = 0; i < 3; ++i) r.c[i] = (asp * cs.c[i] + ad * cd.c[i]) / sum;
            return Pixel(std::min(1.0f, sum), r);
        }
        case PF_Xfer_ADDITIVE_PREMUL: {
            float ao = asp + ad * (1.0f - asp);
            if (ao <= 0.0f) return Pixel(0.0f, Rgb{});
            Rgb r;
            for (int i = 0; i < 3; ++i) r.c[i] = std::min(1.0f, std::min(1.0f, asp * cs.c[i] + ad * cd.c[i]) / ao);
            return Pixel(ao, r);
        }
        default:
            break;
    }
    float ao = asp + ad * (1.0f - asp);
    if (ao <= 0.0f) return Pixel(0.0f, Rgb{});
    Rgb b = BlendColour(mode.xfer, cd, cs);
    Rgb r;
    for (int i = 0; i < 3; ++i)
        r.c[i] = (asp * (1.0f - ad) * cs.c[i] + asp * ad * b.c[i] + (1.0f - asp) * ad * cd.c[i]) / ao;
    return Pixel(ao, r);
}

A_u_char To8(float v) { return A_u_char(Clamp01(v) * 255.0f + 0.5f); }

}  // namespace

bool IsKnownTransferMode(PF_TransferMode mode) { return mode >= PF_Xfer_NONE && mode < PF_Xfer_NUM_MODES; }

float Luminosity(float r, float g, float b) { return 0.3f * r + 0.59f * g + 0.11f * b; }

float DissolveNoise(A_long x, A_long y, A_long seed) {
    // A 64-bit mix of the three inputs; the top 24 bits give an exact float in [0, 1).
    uint64_t h = uint64_t(uint32_t(x)) | (uint64_t(uint32_t(y)) << 32);
    h ^= uint64_t(uint32_t(seed)) * 0x9E3779B97F4A7C15ull;
    h ^= h >> 30;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 27;
    h *= 0x94D049BB133111EBull;
    h ^= h >> 31;
    return float(h >> 40) / 16777216.0f;
}

PF_PixelFloat Composite(const PF_PixelFloat& src, const PF_PixelFloat& dst, const PF_CompositeMode& mode, A_long x,
                        A_long y, bool premultiplied) {
    if (!IsKnownTransferMode(mode.xfer) || mode.xfer == PF_Xfer_NONE) return dst;

    // Cases whose result is one of the inputs untouched return it as it is, so
    // copies through the blend are exact at every depth.
    const bool opaqueLayer = mode.opacity == 255 && !mode.rgb_only;
    if (mode.xfer == PF_Xfer_COPY && opaqueLayer) return src;
    if (UsesBlendFunction(mode.xfer)) {
        if (dst.alpha <= 0.0f && opaqueLayer) return src;
        if (src.alpha <= 0.0f || mode.opacity == 0) return dst;
    }

    const float as = Clamp01(src.alpha);
    const float ad = Clamp01(dst.alpha);
    Rgb cs = premultiplied ? Unpremultiply(src) : ColourOf(src);
    Rgb cd = premultiplied ? Unpremultiply(dst) : ColourOf(dst);
    PF_PixelFloat r = Straight(cs, as, cd, ad, mode, x, y);
    // rgb_only keeps the destination's alpha under a colour blend; the stencil
    // and silhouette modes change nothing but alpha, so they act on it anyway.
    if (mode.rgb_only && !ActsOnAlphaOnly(mode.xfer)) r.alpha = dst.alpha;
    if (premultiplied) {
        float a = Clamp01(r.alpha);
        r.red *= a;
        r.green *= a;
        r.blue *= a;
    }
    return r;
}

PF_Pixel Composite(const PF_Pixel& src, const PF_Pixel& dst, const PF_CompositeMode& mode, A_long x, A_long y,
                   bool premultiplied) {
    auto in = [](const PF_Pixel& p) {
        return PF_PixelFloat{p.alpha / 255.0f, p.red / 255.0f, p.green / 255.0f, p.blue / 255.0f};
    };
    PF_PixelFloat r = Composite(in(src), in(dst), mode, x, y, premultiplied);
    return PF_Pixel{To8(r.alpha), To8(r.red), To8(r.green), To8(r.blue)};
}

}  // namespace host
