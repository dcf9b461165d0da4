#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "host/TransferModes.h"

namespace {

// ---- A small reference in double, written from the blend formulas ---------

struct Ref {
    double a, r, g, b;
};
using Rgb = std::array<double, 3>;

double Lum(const Rgb& c) { return 0.3 * c[0] + 0.59 * c[1] + 0.11 * c[2]; }

Rgb Clip(Rgb c) {
    double l = Lum(c), n = std::min({c[0], c[1], c[2]}), x = std::max({c[0], c[1], c[2]});
    for (double& v : c) {
        if (n < 0) v = l + (v - l) * l / (l - n);
        if (x > 1) v = l + (v - l) * (1 - l) / (x - l);
    }
    return c;
}
Rgb WithLum(Rgb c, double l) {
    double d = l - Lum(c);
    for (double& v : c) v += d;
    return Clip(c);
}
double Sat(const Rgb& c) { return std::max({c[0], c[1], c[2]}) - std::min({c[0], c[1], c[2]}); }
Rgb WithSat(const Rgb& c, double s) {
    double lo = std::min({c[0], c[1], c[2]}), hi = std::max({c[0], c[1], c[2]});
    Rgb r{};
    if (hi == lo) return r;
    for (int i = 0; i < 3; ++i) r[i] = (c[i] - lo) * s / (hi - lo);  // lo → 0, hi → s, mid scaled between
    return r;
}

double Sep(PF_TransferMode m, double d, double s) {
    auto dodge = [](double d, double s) { return d == 0 ? 0 : s >= 1 ? 1 : std::min(1.0, d / (1 - s)); };
    auto burn = [](double d, double s) { return d >= 1 ? 1 : s <= 0 ? 0 : 1 - std::min(1.0, (1 - d) / s); };
    auto hard = [](double d, double s) { return s <= 0.5 ? 2 * s * d : 1 - (1 - d) * (2 - 2 * s); };
    switch (m) {
        case PF_Xfer_IN_FRONT: return s;
        case PF_Xfer_ADD:
        case PF_Xfer_LINEAR_DODGE: return std::min(1.0, d + s);
        case PF_Xfer_MULTIPLY: return d * s;
        case PF_Xfer_SCREEN: return 1 - (1 - d) * (1 - s);
        case PF_Xfer_OVERLAY: return hard(s, d);
        case PF_Xfer_HARD_LIGHT: return hard(d, s);
        case PF_Xfer_SOFT_LIGHT: {
            if (s <= 0.5) return d - (1 - 2 * s) * d * (1 - d);
            double dd = d <= 0.25 ? ((16 * d - 12) * d + 4) * d : std::sqrt(d);
            return d + (2 * s - 1) * (dd - d);
        }
        case PF_Xfer_DARKEN: return std::min(d, s);
        case PF_Xfer_LIGHTEN: return std::max(d, s);
        case PF_Xfer_DIFFERENCE:
        case PF_Xfer_DIFFERENCE2: return std::abs(d - s);
        case PF_Xfer_EXCLUSION: return d + s - 2 * d * s;
        case PF_Xfer_COLOR_DODGE:
        case PF_Xfer_COLOR_DODGE2: return dodge(d, s);
        case PF_Xfer_COLOR_BURN:
        case PF_Xfer_COLOR_BURN2: return burn(d, s);
        case PF_Xfer_LINEAR_BURN: return std::max(0.0, d + s - 1);
        case PF_Xfer_LINEAR_LIGHT: return std::clamp(d + 2 * s - 1, 0.0, 1.0);
        case PF_Xfer_VIVID_LIGHT: return s <= 0.5 ? burn(d, 2 * s) : dodge(d, 2 * s - 1);
        case PF_Xfer_PIN_LIGHT: return s <= 0.5 ? std::min(d, 2 * s) : std::max(d, 2 * s - 1);
        case PF_Xfer_HARD_MIX: return d + s >= 1 ? 1 : 0;
        case PF_Xfer_SUBTRACT: return std::max(0.0, d - s);
        case PF_Xfer_DIVIDE: return s == 0 ? 1 : std::min(1.0, d / s);
        default: ADD_FAILURE() << "no reference for mode " << m; return 0;
    }
}

Rgb B(PF_TransferMode m, const Rgb& d, const Rgb& s) {
    switch (m) {
        case PF_Xfer_HUE: return WithLum(WithSat(s, Sat(d)), Lum(d));
        case PF_Xfer_SATURATION: return WithLum(WithSat(d, Sat(s)), Lum(d));
        case PF_Xfer_COLOR: return WithLum(s, Lum(d));
        case PF_Xfer_LUMINOSITY: return WithLum(d, Lum(s));
        case PF_Xfer_LIGHTER_COLOR: return Lum(s) > Lum(d) ? s : d;
        case PF_Xfer_DARKER_COLOR: return Lum(s) < Lum(d) ? s : d;
        default: return {Sep(m, d[0], s[0]), Sep(m, d[1], s[1]), Sep(m, d[2], s[2])};
    }
}

Ref RefComposite(PF_TransferMode m, const Ref& s, const Ref& d, int opacity, bool rgbOnly) {
    double as = s.a * opacity / 255.0, ad = d.a;
    // Whole pixels pass through when one side adds nothing.
    if (ad == 0 && opacity == 255 && !rgbOnly) return s;
    if (as == 0) return d;
    double ao = as + ad * (1 - as);
    Rgb cs{s.r, s.g, s.b}, cd{d.r, d.g, d.b}, b = B(m, cd, cs), co{};
    if (ao > 0)
        for (int i = 0; i < 3; ++i) co[i] = (as * (1 - ad) * cs[i] + as * ad * b[i] + (1 - as) * ad * cd[i]) / ao;
    return {rgbOnly ? d.a : ao, co[0], co[1], co[2]};
}

// ---- Helpers ---------------------------------------------------------------

PF_CompositeMode Mode(PF_TransferMode xfer, int opacity = 255, bool rgbOnly = false, A_long seed = 0) {
    PF_CompositeMode m{};
    m.xfer = xfer;
    m.opacity = A_u_char(opacity);
    m.rgb_only = rgbOnly;
    m.rand_seed = seed;
    return m;
}

PF_PixelFloat F(float a, float r, float g, float b) { return {a, r, g, b}; }
PF_Pixel P8(int a, int r, int g, int b) { return {A_u_char(a), A_u_char(r), A_u_char(g), A_u_char(b)}; }
PF_Pixel To8(const PF_PixelFloat& p) {
    auto c = [](float v) { return A_u_char(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f)); };
    return {c(p.alpha), c(p.red), c(p.green), c(p.blue)};
}
Ref R(const PF_PixelFloat& p) { return {p.alpha, p.red, p.green, p.blue}; }
Ref R(const PF_Pixel& p) { return {p.alpha / 255.0, p.red / 255.0, p.green / 255.0, p.blue / 255.0}; }

std::string Show(const PF_PixelFloat& p) {
    return "(" + std::to_string(p.alpha) + ", " + std::to_string(p.red) + ", " + std::to_string(p.green) + ", " +
           std::to_string(p.blue) + ")";
}
std::string Show(const PF_Pixel& p) {
    return "(" + std::to_string(p.alpha) + ", " + std::to_string(p.red) + ", " + std::to_string(p.green) + ", " +
           std::to_string(p.blue) + ")";
}

void ExpectNear(const PF_PixelFloat& got, const Ref& want, double tol, const std::string& what) {
    EXPECT_NEAR(got.alpha, want.a, tol) << what << " alpha, got " << Show(got);
    EXPECT_NEAR(got.red, want.r, tol) << what << " red, got " << Show(got);
    EXPECT_NEAR(got.green, want.g, tol) << what << " green, got " << Show(got);
    EXPECT_NEAR(got.blue, want.b, tol) << what << " blue, got " << Show(got);
}

// 8-bit results within one level of the rounded reference.
void ExpectWithinLevel(const PF_Pixel& got, const Ref& want, const std::string& what) {
    auto level = [](double v) { return int(std::lround(std::clamp(v, 0.0, 1.0) * 255.0)); };
    EXPECT_LE(std::abs(got.alpha - level(want.a)), 1) << what << " alpha, got " << Show(got);
    EXPECT_LE(std::abs(got.red - level(want.r)), 1) << what << " red, got " << Show(got);
    EXPECT_LE(std::abs(got.green - level(want.g)), 1) << what << " green, got " << Show(got);
    EXPECT_LE(std::abs(got.blue - level(want.b)), 1) << what << " blue, got " << Show(got);
}

bool Same(const PF_PixelFloat& a, const PF_PixelFloat& b) {
    return a.alpha == b.alpha && a.red == b.red && a.green == b.green && a.blue == b.blue;
}
bool Same(const PF_Pixel& a, const PF_Pixel& b) {
    return a.alpha == b.alpha && a.red == b.red && a.green == b.green && a.blue == b.blue;
}

const std::vector<PF_TransferMode> kBlendModes = {
    PF_Xfer_IN_FRONT,     PF_Xfer_ADD,          PF_Xfer_MULTIPLY,      PF_Xfer_SCREEN,       PF_Xfer_OVERLAY,
    PF_Xfer_SOFT_LIGHT,   PF_Xfer_HARD_LIGHT,   PF_Xfer_DARKEN,        PF_Xfer_LIGHTEN,      PF_Xfer_DIFFERENCE,
    PF_Xfer_HUE,          PF_Xfer_SATURATION,   PF_Xfer_COLOR,         PF_Xfer_LUMINOSITY,   PF_Xfer_COLOR_DODGE,
    PF_Xfer_COLOR_BURN,   PF_Xfer_EXCLUSION,    PF_Xfer_DIFFERENCE2,   PF_Xfer_COLOR_DODGE2, PF_Xfer_COLOR_BURN2,
    PF_Xfer_LINEAR_DODGE, PF_Xfer_LINEAR_BURN,  PF_Xfer_LINEAR_LIGHT,  PF_Xfer_VIVID_LIGHT,  PF_Xfer_PIN_LIGHT,
    PF_Xfer_HARD_MIX,     PF_Xfer_LIGHTER_COLOR, PF_Xfer_DARKER_COLOR, PF_Xfer_SUBTRACT,     PF_Xfer_DIVIDE,
};

const std::vector<PF_TransferMode> kOwnRuleModes = {
    PF_Xfer_COPY,          PF_Xfer_BEHIND,           PF_Xfer_DISSOLVE,        PF_Xfer_MULTIPLY_ALPHA,
    PF_Xfer_MULTIPLY_ALPHA_LUMA, PF_Xfer_MULTIPLY_NOT_ALPHA, PF_Xfer_MULTIPLY_NOT_ALPHA_LUMA,
    PF_Xfer_ALPHA_ADD,     PF_Xfer_ADDITIVE_PREMUL,
};

// Foreground / background pairs: partial alphas, opaque, each side
// transparent, and mid-grey on the branch points. The 8-bit forms stay clear
// of HARD_MIX's step so rounding cannot flip it.
struct Pair {
    PF_PixelFloat s, d;
};
const std::vector<Pair> kPairs = {
    {F(0.8f, 0.2f, 0.5f, 0.8f), F(0.6f, 0.6f, 0.1f, 0.4f)},
    {F(1.0f, 0.9f, 0.05f, 0.3f), F(1.0f, 0.25f, 0.75f, 1.0f)},
    {F(0.3f, 0.0f, 1.0f, 0.5f), F(0.0f, 0.7f, 0.2f, 0.9f)},
    {F(0.0f, 0.4f, 0.4f, 0.4f), F(0.5f, 0.3f, 0.6f, 0.9f)},
    {F(0.5f, 0.5f, 0.5f, 0.5f), F(1.0f, 0.5f, 0.5f, 0.5f)},
    {F(0.7f, 1.0f, 0.0f, 0.35f), F(0.9f, 0.0f, 1.0f, 0.15f)},
};

// ---- The blend modes -------------------------------------------------------

TEST(TransferModes, BlendModesFollowTheirFormulasAtBothDepths) {
    for (PF_TransferMode m : kBlendModes) {
        for (int opacity : {0, 128, 255}) {
            for (bool rgbOnly : {false, true}) {
                for (size_t i = 0; i < kPairs.size(); ++i) {
                    const Pair& p = kPairs[i];
                    std::string what = "mode " + std::to_string(m) + " opacity " + std::to_string(opacity) +
                                       (rgbOnly ? " rgb_only" : "") + " pair " + std::to_string(i);
                    auto mode = Mode(m, opacity, rgbOnly);
                    ExpectNear(host::Composite(p.s, p.d, mode, 0, 0), RefComposite(m, R(p.s), R(p.d), opacity, rgbOnly),
                               2e-5, what + " float");
                    PF_Pixel s8 = To8(p.s), d8 = To8(p.d);
                    ExpectWithinLevel(host::Composite(s8, d8, mode, 0, 0),
                                      RefComposite(m, R(s8), R(d8), opacity, rgbOnly), what + " 8-bit");
                }
            }
        }
    }
}

// Opaque over opaque leaves B(cd, cs) itself. Worked by hand for
// cs = (0.2, 0.5, 0.8) over cd = (0.6, 0.1, 0.4): both sides of every branch.
TEST(TransferModes, OpaquePixelsGiveTheBlendFunctionWorkedByHand) {
    const PF_PixelFloat s = F(1, 0.2f, 0.5f, 0.8f), d = F(1, 0.6f, 0.1f, 0.4f);
    struct Case {
        PF_TransferMode m;
        double r, g, b;
    };
    const Case cases[] = {
        {PF_Xfer_IN_FRONT, 0.2, 0.5, 0.8},       {PF_Xfer_ADD, 0.8, 0.6, 1.0},
        {PF_Xfer_LINEAR_DODGE, 0.8, 0.6, 1.0},   {PF_Xfer_MULTIPLY, 0.12, 0.05, 0.32},
        {PF_Xfer_SCREEN, 0.68, 0.55, 0.88},      {PF_Xfer_OVERLAY, 0.36, 0.1, 0.64},
        {PF_Xfer_HARD_LIGHT, 0.24, 0.1, 0.76},   {PF_Xfer_SOFT_LIGHT, 0.456, 0.1, 0.4 + 0.6 * (std::sqrt(0.4) - 0.4)},
        {PF_Xfer_DARKEN, 0.2, 0.1, 0.4},         {PF_Xfer_LIGHTEN, 0.6, 0.5, 0.8},
        {PF_Xfer_DIFFERENCE, 0.4, 0.4, 0.4},     {PF_Xfer_DIFFERENCE2, 0.4, 0.4, 0.4},
        {PF_Xfer_EXCLUSION, 0.56, 0.5, 0.56},    {PF_Xfer_COLOR_DODGE, 0.75, 0.2, 1.0},
        {PF_Xfer_COLOR_DODGE2, 0.75, 0.2, 1.0},  {PF_Xfer_COLOR_BURN, 0.0, 0.0, 0.25},
        {PF_Xfer_COLOR_BURN2, 0.0, 0.0, 0.25},   {PF_Xfer_LINEAR_BURN, 0.0, 0.0, 0.2},
        {PF_Xfer_LINEAR_LIGHT, 0.0, 0.1, 1.0},   {PF_Xfer_VIVID_LIGHT, 0.0, 0.1, 1.0},
        {PF_Xfer_PIN_LIGHT, 0.4, 0.1, 0.6},      {PF_Xfer_HARD_MIX, 0.0, 0.0, 1.0},
        {PF_Xfer_SUBTRACT, 0.4, 0.0, 0.0},       {PF_Xfer_DIVIDE, 1.0, 0.2, 0.5},
        // Lum(cs) = 0.443, Lum(cd) = 0.283, Sat(cs) = 0.6, Sat(cd) = 0.5.
        {PF_Xfer_COLOR, 0.04, 0.34, 0.64},       {PF_Xfer_LUMINOSITY, 0.76, 0.26, 0.56},
        {PF_Xfer_HUE, 0.0805, 0.3305, 0.5805},   {PF_Xfer_SATURATION, 0.6634, 0.0634, 0.4234},
        {PF_Xfer_LIGHTER_COLOR, 0.2, 0.5, 0.8},  {PF_Xfer_DARKER_COLOR, 0.6, 0.1, 0.4},
    };
    for (const Case& c : cases) {
        std::string what = "mode " + std::to_string(c.m);
        ExpectNear(host::Composite(s, d, Mode(c.m), 0, 0), {1, c.r, c.g, c.b}, 1e-5, what);
        ExpectWithinLevel(host::Composite(To8(s), To8(d), Mode(c.m), 0, 0), {1, c.r, c.g, c.b}, what + " 8-bit");
    }
}

TEST(TransferModes, NonSeparableModesClipBackIntoGamut) {
    // COLOR of pure red onto grey 0.2: SetLum gives (0.9, -0.1, -0.1), pulled
    // toward Lum = 0.2 until the minimum reaches 0.
    ExpectNear(host::Composite(F(1, 1, 0, 0), F(1, 0.2f, 0.2f, 0.2f), Mode(PF_Xfer_COLOR), 0, 0),
               {1, 0.2 + 0.7 * 0.2 / 0.3, 0, 0}, 1e-5, "low clip");
    // LUMINOSITY of white onto red: (1.7, 0.7, 0.7) clips to white.
    ExpectNear(host::Composite(F(1, 1, 1, 1), F(1, 1, 0, 0), Mode(PF_Xfer_LUMINOSITY), 0, 0), {1, 1, 1, 1}, 1e-5,
               "high clip");
    // HUE from a grey source has no hue: the result is the destination's luminosity in grey.
    ExpectNear(host::Composite(F(1, 0.5f, 0.5f, 0.5f), F(1, 0.6f, 0.1f, 0.4f), Mode(PF_Xfer_HUE), 0, 0),
               {1, 0.283, 0.283, 0.283}, 1e-5, "grey hue");
}

// OpenImageIO's over: premultiplied FG (0, .5, 0, .5) over BG (.5, 0, 0, .5)
// gives (.25, .5, 0, .75), i.e. straight (1/3, 2/3, 0) at alpha 0.75.
TEST(TransferModes, InFrontIsTheOverOperator) {
    const auto mode = Mode(PF_Xfer_IN_FRONT);
    ExpectNear(host::Composite(F(0.5f, 0, 1, 0), F(0.5f, 1, 0, 0), mode, 0, 0), {0.75, 1.0 / 3, 2.0 / 3, 0}, 1e-6,
               "straight");
    ExpectNear(host::Composite(F(0.5f, 0, 0.5f, 0), F(0.5f, 0.5f, 0, 0), mode, 0, 0, true), {0.75, 0.25, 0.5, 0}, 1e-6,
               "premultiplied");
    PF_Pixel got = host::Composite(P8(128, 0, 255, 0), P8(128, 255, 0, 0), mode, 0, 0);
    ExpectWithinLevel(got, {0.75, 1.0 / 3, 2.0 / 3, 0}, "8-bit");
    got = host::Composite(P8(128, 0, 128, 0), P8(128, 128, 0, 0), mode, 0, 0, true);
    ExpectWithinLevel(got, {0.75, 0.25, 0.5, 0}, "8-bit premultiplied");
}

TEST(TransferModes, PremultipliedPixelsBlendOnTheirStraightColours) {
    // Straight s = (0.5 | 0.8, 0.4, 0.2), d = (0.8 | 0.5, 0.5, 1.0) under MULTIPLY.
    const PF_PixelFloat s = F(0.5f, 0.8f, 0.4f, 0.2f), d = F(0.8f, 0.5f, 0.5f, 1.0f);
    const auto mode = Mode(PF_Xfer_MULTIPLY, 200);
    PF_PixelFloat straight = host::Composite(s, d, mode, 0, 0);
    auto premul = [](const PF_PixelFloat& p) { return F(p.alpha, p.red * p.alpha, p.green * p.alpha, p.blue * p.alpha); };
    ExpectNear(host::Composite(premul(s), premul(d), mode, 0, 0, true), R(premul(straight)), 1e-6, "premultiplied");
    // A premultiplied transparent pixel has no colour to divide out.
    ExpectNear(host::Composite(F(0, 0, 0, 0), premul(d), Mode(PF_Xfer_SCREEN, 255), 0, 0, true), R(premul(d)), 0,
               "transparent source");
}

TEST(TransferModes, NoLayerOrNoBackdropPassesPixelsThroughExactly) {
    // Values that do not survive a multiply-then-divide by alpha in float.
    const PF_PixelFloat s = F(0.37f, 0.1234567f, 0.7654321f, 2.5f);
    const PF_PixelFloat d = F(0.61f, 0.3333333f, 0.9876543f, 0.0101f);
    const PF_Pixel s8 = P8(77, 13, 201, 254), d8 = P8(201, 99, 3, 180);
    for (PF_TransferMode m : kBlendModes) {
        std::string what = "mode " + std::to_string(m);
        for (bool premul : {false, true}) {
            EXPECT_TRUE(Same(host::Composite(s, d, Mode(m, 0), 0, 0, premul), d)) << what << ": opacity 0";
            EXPECT_TRUE(Same(host::Composite(F(0, 1, 1, 1), d, Mode(m), 0, 0, premul), d)) << what << ": clear source";
            EXPECT_TRUE(Same(host::Composite(s, F(0, 0, 0, 0), Mode(m), 0, 0, premul), s)) << what << ": clear backdrop";
            EXPECT_TRUE(Same(host::Composite(s8, d8, Mode(m, 0), 0, 0, premul), d8)) << what << ": 8-bit opacity 0";
            EXPECT_TRUE(Same(host::Composite(s8, P8(0, 0, 0, 0), Mode(m), 0, 0, premul), s8))
                << what << ": 8-bit clear backdrop";
        }
    }
    EXPECT_TRUE(Same(host::Composite(s, d, Mode(PF_Xfer_COPY), 0, 0), s));
    EXPECT_TRUE(Same(host::Composite(s, d, Mode(PF_Xfer_COPY), 0, 0, true), s));
    EXPECT_TRUE(Same(host::Composite(s8, d8, Mode(PF_Xfer_COPY), 0, 0), s8));
}

// ---- Modes with their own rule ---------------------------------------------

TEST(TransferModes, OwnRuleModesWorkedByHand) {
    // Source straight (0.5 | 0.2, 0.5, 0.8), Lum 0.443; destination (0.8 | 0.6, 0.1, 0.4).
    const PF_PixelFloat s = F(0.5f, 0.2f, 0.5f, 0.8f), d = F(0.8f, 0.6f, 0.1f, 0.4f);
    const double o = 128.0 / 255.0;
    struct Case {
        PF_TransferMode m;
        int opacity;
        Ref want;
    };
    const Case cases[] = {
        {PF_Xfer_COPY, 255, {0.5, 0.2, 0.5, 0.8}},
        {PF_Xfer_COPY, 128, {0.5 * o, 0.2, 0.5, 0.8}},
        // Destination over source: ao = 0.8 + 0.5·0.2 = 0.9, co = (0.8·cd + 0.1·cs) / 0.9.
        {PF_Xfer_BEHIND, 255, {0.9, 0.5 / 0.9, 0.13 / 0.9, 0.4 / 0.9}},
        {PF_Xfer_MULTIPLY_ALPHA, 255, {0.4, 0.6, 0.1, 0.4}},
        {PF_Xfer_MULTIPLY_ALPHA, 128, {0.8 * 0.5 * o, 0.6, 0.1, 0.4}},
        {PF_Xfer_MULTIPLY_ALPHA_LUMA, 255, {0.8 * 0.443 * 0.5, 0.6, 0.1, 0.4}},
        {PF_Xfer_MULTIPLY_NOT_ALPHA, 255, {0.4, 0.6, 0.1, 0.4}},
        {PF_Xfer_MULTIPLY_NOT_ALPHA, 128, {0.8 * (1 - 0.5 * o), 0.6, 0.1, 0.4}},
        {PF_Xfer_MULTIPLY_NOT_ALPHA_LUMA, 255, {0.8 * (1 - 0.443 * 0.5), 0.6, 0.1, 0.4}},
        // Alpha add: ao = min(1, 1.3), colour (0.5·cs + 0.8·cd) / 1.3.
        {PF_Xfer_ALPHA_ADD, 255, {1.0, 0.58 / 1.3, 0.33 / 1.3, 0.72 / 1.3}},
        // At opacity 128 the sum 0.5·o + 0.8 still passes 1.
        {PF_Xfer_ALPHA_ADD, 128, {1.0, (0.1 * o + 0.48) / (0.5 * o + 0.8), (0.25 * o + 0.08) / (0.5 * o + 0.8),
                                  (0.4 * o + 0.32) / (0.5 * o + 0.8)}},
        // Luminescent premul: premultiplied sums (0.58, 0.33, 0.72) over ao = 0.9.
        {PF_Xfer_ADDITIVE_PREMUL, 255, {0.9, 0.58 / 0.9, 0.33 / 0.9, 0.8}},
    };
    for (const Case& c : cases) {
        std::string what = "mode " + std::to_string(c.m) + " opacity " + std::to_string(c.opacity);
        ExpectNear(host::Composite(s, d, Mode(c.m, c.opacity), 0, 0), c.want, 1e-5, what);
        ExpectWithinLevel(host::Composite(To8(s), To8(d), Mode(c.m, c.opacity), 0, 0), c.want, what + " 8-bit");
    }
    // Luminescent sums clamp: white on white stays white, never above.
    ExpectNear(host::Composite(F(1, 1, 1, 1), F(1, 1, 0.5f, 1), Mode(PF_Xfer_ADDITIVE_PREMUL), 0, 0), {1, 1, 1, 1},
               1e-6, "clamped");
    // Alpha add of two transparent pixels stays transparent black.
    ExpectNear(host::Composite(F(0, 1, 1, 1), F(0, 1, 1, 1), Mode(PF_Xfer_ALPHA_ADD), 0, 0), {0, 0, 0, 0}, 0,
               "nothing to add");
}

TEST(TransferModes, DissolveIsDeterministicAndFollowsLayerAlpha) {
    const PF_PixelFloat s = F(0.5f, 1, 0, 0), d = F(1, 0, 0, 1);
    const auto mode = Mode(PF_Xfer_DISSOLVE, 255, false, 1234);
    int fromSource = 0, sameAsSeed2 = 0;
    const int n = 200;
    for (A_long y = 0; y < n; ++y) {
        for (A_long x = 0; x < n; ++x) {
            PF_PixelFloat got = host::Composite(s, d, mode, x, y);
            const bool src = host::DissolveNoise(x, y, 1234) < 0.5f;
            if (src) {
                ASSERT_TRUE(Same(got, F(1, 1, 0, 0))) << "source pixels come through at full alpha, got " << Show(got);
                ++fromSource;
            } else {
                ASSERT_TRUE(Same(got, d)) << "elsewhere the destination stays";
            }
            ASSERT_TRUE(Same(got, host::Composite(s, d, mode, x, y))) << "same pixel, same answer";
            if (Same(got, host::Composite(s, d, Mode(PF_Xfer_DISSOLVE, 255, false, 99), x, y))) ++sameAsSeed2;
            float v = host::DissolveNoise(x, y, 1234);
            ASSERT_TRUE(v >= 0.0f && v < 1.0f);
        }
    }
    // Half the layer alpha shows half the pixels; another seed draws another pattern.
    EXPECT_NEAR(fromSource / double(n * n), 0.5, 0.02);
    EXPECT_LT(sameAsSeed2, n * n * 0.6);
    // Opacity scales the share; none shows at 0.
    int shown = 0;
    for (A_long x = 0; x < n * n; ++x)
        if (!Same(host::Composite(s, d, Mode(PF_Xfer_DISSOLVE, 128, false, 7), x, 3), d)) ++shown;
    EXPECT_NEAR(shown / double(n * n), 0.5 * 128 / 255, 0.02);
    for (A_long x = 0; x < 1000; ++x)
        ASSERT_TRUE(Same(host::Composite(s, d, Mode(PF_Xfer_DISSOLVE, 0, false, 7), x, 3), d));
}

TEST(TransferModes, RgbOnlyKeepsDestinationAlphaInEveryMode) {
    std::vector<PF_TransferMode> all = kBlendModes;
    all.insert(all.end(), kOwnRuleModes.begin(), kOwnRuleModes.end());
    const PF_PixelFloat s = F(0.7f, 0.9f, 0.2f, 0.4f), d = F(0.45f, 0.1f, 0.6f, 0.3f);
    const PF_Pixel s8 = To8(s), d8 = To8(d);
    for (PF_TransferMode m : all) {
        for (int opacity : {128, 255}) {
            PF_PixelFloat got = host::Composite(s, d, Mode(m, opacity, true), 3, 4);
            EXPECT_EQ(got.alpha, d.alpha) << "mode " << m;
            EXPECT_EQ(host::Composite(s8, d8, Mode(m, opacity, true), 3, 4).alpha, d8.alpha) << "mode " << m;
            // Colour as the full blend gives it.
            PF_PixelFloat full = host::Composite(s, d, Mode(m, opacity), 3, 4);
            EXPECT_NEAR(got.red, full.red, 1e-6) << "mode " << m;
            EXPECT_NEAR(got.blue, full.blue, 1e-6) << "mode " << m;
        }
    }
}

TEST(TransferModes, NoneAndUnknownModesLeaveTheDestination) {
    const PF_PixelFloat s = F(1, 1, 1, 1), d = F(0.5f, 0.2f, 0.3f, 0.4f);
    EXPECT_TRUE(Same(host::Composite(s, d, Mode(PF_Xfer_NONE), 0, 0), d));
    EXPECT_TRUE(Same(host::Composite(s, d, Mode(PF_Xfer_NUM_MODES), 0, 0), d));
    EXPECT_TRUE(Same(host::Composite(s, d, Mode(-7), 0, 0), d));
    EXPECT_FALSE(host::IsKnownTransferMode(PF_Xfer_NUM_MODES));
    EXPECT_FALSE(host::IsKnownTransferMode(-2));
    EXPECT_TRUE(host::IsKnownTransferMode(PF_Xfer_DIVIDE));
}

}  // namespace
