#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>

#include "host/TransferModes.h"

namespace {

struct Ref {
    double a, r, g, b;
};

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

template <class P>
std::string Show(const P& p) {
    std::ostringstream o;
    o << '(' << +p.alpha << ", " << +p.red << ", " << +p.green << ", " << +p.blue << ')';
    return o.str();
}
std::string Show(const Ref& p) { return Show(PF_PixelFloat{float(p.a), float(p.r), float(p.g), float(p.b)}); }

void ExpectNear(const PF_PixelFloat& got, const Ref& want, double tol, const std::string& what) {
    const bool ok = std::abs(got.alpha - want.a) <= tol && std::abs(got.red - want.r) <= tol &&
                    std::abs(got.green - want.g) <= tol && std::abs(got.blue - want.b) <= tol;
    EXPECT_TRUE(ok) << what << ": got " << Show(got) << " want " << Show(want);
}

// 8-bit results within one level of the rounded reference.
void ExpectWithinLevel(const PF_Pixel& got, const Ref& want, const std::string& what) {
    auto level = [](double w) { return int(std::lround(std::clamp(w, 0.0, 1.0) * 255.0)); };
    const PF_Pixel w8 = P8(level(want.a), level(want.r), level(want.g), level(want.b));
    auto off = [](int a, int b) { return std::abs(a - b) > 1; };
    EXPECT_FALSE(off(got.alpha, w8.alpha) || off(got.red, w8.red) || off(got.green, w8.green) || off(got.blue, w8.blue))
        << what << ": got " << Show(got) << " want " << Show(w8) << " ± 1";
}

template <class P>
bool Same(const P& a, const P& b) {
    return a.alpha == b.alpha && a.red == b.red && a.green == b.green && a.blue == b.blue;
}

// B(cd, cs) worked by hand for two pixel pairs: cs = (0.2, 0.5, 0.8) over
// cd = (0.6, 0.1, 0.4), both sides of every branch; and the edges, channel by
// channel (cs, cd) = (0, 1), (1, 0), (0, 0), i.e. cs = (0, 1, 0) over cd = (1, 0, 0).
// Lum(cs) = 0.443 / 0.59, Lum(cd) = 0.283 / 0.3, Sat(cs) = 0.6 / 1, Sat(cd) = 0.5 / 1.
struct Blend {
    PF_TransferMode m;
    double mid[3], edge[3];
};
const double kLumClip = 0.59 - 0.3 * 0.41 / 0.7;  // (1.29, 0.29, 0.29) pulled down to a maximum of 1
const Blend kBlend[] = {
    {PF_Xfer_IN_FRONT, {0.2, 0.5, 0.8}, {0, 1, 0}}, {PF_Xfer_ADD, {0.8, 0.6, 1.0}, {1, 1, 0}},
    {PF_Xfer_LINEAR_DODGE, {0.8, 0.6, 1.0}, {1, 1, 0}}, {PF_Xfer_MULTIPLY, {0.12, 0.05, 0.32}, {0, 0, 0}},
    {PF_Xfer_SCREEN, {0.68, 0.55, 0.88}, {1, 1, 0}}, {PF_Xfer_OVERLAY, {0.36, 0.1, 0.64}, {1, 0, 0}},
    {PF_Xfer_HARD_LIGHT, {0.24, 0.1, 0.76}, {0, 1, 0}},
    {PF_Xfer_SOFT_LIGHT, {0.456, 0.1, 0.4 + 0.6 * (std::sqrt(0.4) - 0.4)}, {1, 0, 0}},
    {PF_Xfer_DARKEN, {0.2, 0.1, 0.4}, {0, 0, 0}}, {PF_Xfer_LIGHTEN, {0.6, 0.5, 0.8}, {1, 1, 0}},
    {PF_Xfer_DIFFERENCE, {0.4, 0.4, 0.4}, {1, 1, 0}}, {PF_Xfer_DIFFERENCE2, {0.4, 0.4, 0.4}, {1, 1, 0}},
    {PF_Xfer_EXCLUSION, {0.56, 0.5, 0.56}, {1, 1, 0}}, {PF_Xfer_COLOR_DODGE, {0.75, 0.2, 1.0}, {1, 0, 0}},
    {PF_Xfer_COLOR_DODGE2, {0.75, 0.2, 1.0}, {1, 0, 0}}, {PF_Xfer_COLOR_BURN, {0.0, 0.0, 0.25}, {1, 0, 0}},
    {PF_Xfer_COLOR_BURN2, {0.0, 0.0, 0.25}, {1, 0, 0}}, {PF_Xfer_LINEAR_BURN, {0.0, 0.0, 0.2}, {0, 0, 0}},
    {PF_Xfer_LINEAR_LIGHT, {0.0, 0.1, 1.0}, {0, 1, 0}}, {PF_Xfer_VIVID_LIGHT, {0.0, 0.1, 1.0}, {1, 0, 0}},
    {PF_Xfer_PIN_LIGHT, {0.4, 0.1, 0.6}, {0, 1, 0}}, {PF_Xfer_HARD_MIX, {0.0, 0.0, 1.0}, {1, 1, 0}},
    {PF_Xfer_SUBTRACT, {0.4, 0.0, 0.0}, {1, 0, 0}}, {PF_Xfer_DIVIDE, {1.0, 0.2, 0.5}, {1, 0, 1}},
    // COLOR's edge: (-0.29, 0.71, -0.29) pulled up to a minimum of 0 about Lum 0.3.
    {PF_Xfer_COLOR, {0.04, 0.34, 0.64}, {0, 0.3 / 0.59, 0}},
    {PF_Xfer_HUE, {0.0805, 0.3305, 0.5805}, {0, 0.3 / 0.59, 0}},
    {PF_Xfer_LUMINOSITY, {0.76, 0.26, 0.56}, {1, kLumClip, kLumClip}},
    {PF_Xfer_SATURATION, {0.6634, 0.0634, 0.4234}, {1, 0, 0}}, {PF_Xfer_LIGHTER_COLOR, {0.2, 0.5, 0.8}, {0, 1, 0}},
    {PF_Xfer_DARKER_COLOR, {0.6, 0.1, 0.4}, {1, 0, 0}},
};

// Partial alphas as = 0.8, ad = 0.6: with as' = as·opacity/255 and ao = as' + ad(1 − as'),
// co = (as'(1 − ad)·cs + as'·ad·B + (1 − as')·ad·cd) / ao; rgb_only keeps ad.
TEST(TransferModes, BlendModesOnHandWorkedPixels) {
    const PF_PixelFloat pairs[2][2] = {{F(0.8f, 0.2f, 0.5f, 0.8f), F(0.6f, 0.6f, 0.1f, 0.4f)},
                                       {F(0.8f, 0, 1, 0), F(0.6f, 1, 0, 0)}};
    for (const Blend& c : kBlend) {
        for (int k : {0, 1}) {
            const PF_PixelFloat &s = pairs[k][0], &d = pairs[k][1];
            const double* b = k ? c.edge : c.mid;
            for (int opacity : {0, 128, 255}) {
                for (bool rgbOnly : {false, true}) {
                    const double as = s.alpha * opacity / 255.0, ad = d.alpha, ao = as + ad * (1 - as);
                    auto co = [&](double cs, double cd, double bb) {
                        return (as * (1 - ad) * cs + as * ad * bb + (1 - as) * ad * cd) / ao;
                    };
                    const Ref want{rgbOnly ? ad : ao, co(s.red, d.red, b[0]), co(s.green, d.green, b[1]),
                                   co(s.blue, d.blue, b[2])};
                    const std::string what = "mode " + std::to_string(c.m) + (k ? " edge" : " mid") + " opacity " +
                                             std::to_string(opacity) + (rgbOnly ? " rgb_only" : "");
                    const auto mode = Mode(c.m, opacity, rgbOnly);
                    ExpectNear(host::Composite(s, d, mode, 0, 0), want, 2e-5, what + " float");
                    ExpectWithinLevel(host::Composite(To8(s), To8(d), mode, 0, 0), want, what + " 8-bit");
                }
            }
        }
    }
    // A grey source has no hue: HUE gives the destination's luminosity in grey.
    ExpectNear(host::Composite(F(1, 0.5f, 0.5f, 0.5f), F(1, 0.6f, 0.1f, 0.4f), Mode(PF_Xfer_HUE), 0, 0),
               {1, 0.283, 0.283, 0.283}, 1e-5, "grey hue");
}

TEST(TransferModes, InFrontIsOverAndPremultipliedPixelsBlendOnStraightColours) {
    // OpenImageIO's over: premultiplied FG (0, .5, 0, .5) over BG (.5, 0, 0, .5)
    // gives (.25, .5, 0, .75), i.e. straight (1/3, 2/3, 0) at alpha 0.75.
    const auto over = Mode(PF_Xfer_IN_FRONT);
    ExpectNear(host::Composite(F(0.5f, 0, 1, 0), F(0.5f, 1, 0, 0), over, 0, 0), {0.75, 1.0 / 3, 2.0 / 3, 0}, 1e-6,
               "straight");
    ExpectNear(host::Composite(F(0.5f, 0, 0.5f, 0), F(0.5f, 0.5f, 0, 0), over, 0, 0, true), {0.75, 0.25, 0.5, 0},
               1e-6, "premultiplied");
    ExpectWithinLevel(host::Composite(P8(128, 0, 128, 0), P8(128, 128, 0, 0), over, 0, 0, true), {0.75, 0.25, 0.5, 0},
                      "8-bit premultiplied");

    const PF_PixelFloat s = F(0.5f, 0.8f, 0.4f, 0.2f), d = F(0.8f, 0.5f, 0.5f, 1.0f);
    const auto mode = Mode(PF_Xfer_MULTIPLY, 200);
    const PF_PixelFloat straight = host::Composite(s, d, mode, 0, 0);
    auto premul = [](const PF_PixelFloat& p) {
        return F(p.alpha, p.red * p.alpha, p.green * p.alpha, p.blue * p.alpha);
    };
    ExpectNear(host::Composite(premul(s), premul(d), mode, 0, 0, true), R(premul(straight)), 1e-6, "premultiplied");
    // A premultiplied transparent pixel has no colour to divide out.
    ExpectNear(host::Composite(F(0, 0, 0, 0), premul(d), Mode(PF_Xfer_SCREEN), 0, 0, true), R(premul(d)), 0,
               "transparent source");
}

TEST(TransferModes, NoLayerOrNoBackdropPassesPixelsThroughExactly) {
    // Values that do not survive a multiply-then-divide by alpha in float.
    const PF_PixelFloat s = F(0.37f, 0.1234567f, 0.7654321f, 2.5f), d = F(0.61f, 0.3333333f, 0.9876543f, 0.0101f);
    const PF_Pixel s8 = P8(77, 13, 201, 254), d8 = P8(201, 99, 3, 180);
    for (const Blend& c : kBlend) {
        for (bool premul : {false, true}) {
            const std::string what = "mode " + std::to_string(c.m) + (premul ? " premultiplied" : "");
            const auto m = Mode(c.m), none = Mode(c.m, 0);
            EXPECT_TRUE(Same(host::Composite(s, d, none, 0, 0, premul), d)) << what << ": opacity 0";
            EXPECT_TRUE(Same(host::Composite(F(0, 1, 1, 1), d, m, 0, 0, premul), d)) << what << ": clear source";
            EXPECT_TRUE(Same(host::Composite(s, F(0, 0, 0, 0), m, 0, 0, premul), s)) << what << ": clear backdrop";
            EXPECT_TRUE(Same(host::Composite(s8, d8, none, 0, 0, premul), d8)) << what << ": 8-bit opacity 0";
            EXPECT_TRUE(Same(host::Composite(s8, P8(0, 0, 0, 0), m, 0, 0, premul), s8)) << what << ": 8-bit, no dst";
        }
    }
    EXPECT_TRUE(Same(host::Composite(s, d, Mode(PF_Xfer_COPY), 0, 0), s));
    EXPECT_TRUE(Same(host::Composite(s, d, Mode(PF_Xfer_COPY), 0, 0, true), s));
    EXPECT_TRUE(Same(host::Composite(s8, d8, Mode(PF_Xfer_COPY), 0, 0), s8));
}

TEST(TransferModes, OwnRuleModesWorkedByHand) {
    // Source straight (0.5 | 0.2, 0.5, 0.8), Lum 0.443; destination (0.8 | 0.6, 0.1, 0.4).
    const PF_PixelFloat s = F(0.5f, 0.2f, 0.5f, 0.8f), d = F(0.8f, 0.6f, 0.1f, 0.4f);
    const double a = 0.5 * 128.0 / 255.0;  // as' at opacity 128
    const Ref dst = R(d);
    const Ref cases[][3] = {  // opacity 255, 128, 0
        // COPY: (cs, as').
        {{0.5, 0.2, 0.5, 0.8}, {a, 0.2, 0.5, 0.8}, {0, 0.2, 0.5, 0.8}},
        // BEHIND, destination over source: ao = 0.8 + 0.2·as', co = (0.8·cd + 0.2·as'·cs) / ao.
        {{0.9, 0.5 / 0.9, 0.13 / 0.9, 0.4 / 0.9},
         {0.8 + 0.2 * a, (0.48 + 0.04 * a) / (0.8 + 0.2 * a), (0.08 + 0.1 * a) / (0.8 + 0.2 * a),
          (0.32 + 0.16 * a) / (0.8 + 0.2 * a)},
         dst},
        // MULTIPLY_ALPHA(_LUMA), MULTIPLY_NOT_ALPHA(_LUMA): only the alpha changes.
        {{0.4, 0.6, 0.1, 0.4}, {0.8 * a, 0.6, 0.1, 0.4}, {0, 0.6, 0.1, 0.4}},
        {{0.8 * 0.443 * 0.5, 0.6, 0.1, 0.4}, {0.8 * 0.443 * a, 0.6, 0.1, 0.4}, {0, 0.6, 0.1, 0.4}},
        {{0.4, 0.6, 0.1, 0.4}, {0.8 * (1 - a), 0.6, 0.1, 0.4}, dst},
        {{0.8 * (1 - 0.443 * 0.5), 0.6, 0.1, 0.4}, {0.8 * (1 - 0.443 * a), 0.6, 0.1, 0.4}, dst},
        // ALPHA_ADD: ao = min(1, as' + 0.8), co = (as'·cs + 0.8·cd) / (as' + 0.8).
        {{1.0, 0.58 / 1.3, 0.33 / 1.3, 0.72 / 1.3},
         {1.0, (0.2 * a + 0.48) / (a + 0.8), (0.5 * a + 0.08) / (a + 0.8), (0.8 * a + 0.32) / (a + 0.8)},
         dst},
        // ADDITIVE_PREMUL: premultiplied sums over ao = as' + 0.8(1 − as'), clamped to 1.
        {{0.9, 0.58 / 0.9, 0.33 / 0.9, 0.8},
         {a + 0.8 * (1 - a), (0.2 * a + 0.48) / (a + 0.8 * (1 - a)), (0.5 * a + 0.08) / (a + 0.8 * (1 - a)),
          (0.8 * a + 0.32) / (a + 0.8 * (1 - a))},
         dst},
    };
    const PF_TransferMode modes[] = {PF_Xfer_COPY,           PF_Xfer_BEHIND,           PF_Xfer_MULTIPLY_ALPHA,
                                     PF_Xfer_MULTIPLY_ALPHA_LUMA, PF_Xfer_MULTIPLY_NOT_ALPHA,
                                     PF_Xfer_MULTIPLY_NOT_ALPHA_LUMA, PF_Xfer_ALPHA_ADD, PF_Xfer_ADDITIVE_PREMUL};
    for (size_t i = 0; i < std::size(modes); ++i) {
        for (int j = 0; j < 3; ++j) {
            const int opacity = j == 0 ? 255 : j == 1 ? 128 : 0;
            for (bool rgbOnly : {false, true}) {
                Ref want = cases[i][j];
                // The four alpha modes (indices 2 to 5) change alpha even under rgb_only.
                if (rgbOnly && (i < 2 || i > 5)) want.a = d.alpha;
                const std::string what = "mode " + std::to_string(modes[i]) + " opacity " + std::to_string(opacity) +
                                         (rgbOnly ? " rgb_only" : "");
                ExpectNear(host::Composite(s, d, Mode(modes[i], opacity, rgbOnly), 0, 0), want, 1e-5, what);
                ExpectWithinLevel(host::Composite(To8(s), To8(d), Mode(modes[i], opacity, rgbOnly), 0, 0), want,
                                  what + " 8-bit");
            }
        }
    }
    // Luminescent sums clamp: white on white stays white, never above.
    ExpectNear(host::Composite(F(1, 1, 1, 1), F(1, 1, 0.5f, 1), Mode(PF_Xfer_ADDITIVE_PREMUL), 0, 0), {1, 1, 1, 1},
               1e-6, "clamped");
    // Alpha add of two transparent pixels stays transparent black.
    ExpectNear(host::Composite(F(0, 1, 1, 1), F(0, 1, 1, 1), Mode(PF_Xfer_ALPHA_ADD), 0, 0), {0, 0, 0, 0}, 0,
               "nothing to add");
}

TEST(TransferModes, DissolveIsDeterministicAndFollowsLayerAlpha) {
    const PF_PixelFloat s = F(128 / 255.0f, 1, 0, 0), d = F(1, 0, 0, 1);  // alphas exact in 8 bits
    const auto mode = Mode(PF_Xfer_DISSOLVE, 255, false, 1234);
    int fromSource = 0, sameAsSeed2 = 0;
    const int n = 200;
    for (A_long y = 0; y < n; ++y) {
        for (A_long x = 0; x < n; ++x) {
            const PF_PixelFloat got = host::Composite(s, d, mode, x, y);
            const float v = host::DissolveNoise(x, y, 1234);
            ASSERT_TRUE(v >= 0.0f && v < 1.0f) << v;
            const bool src = v < s.alpha;
            fromSource += src;
            ASSERT_TRUE(Same(got, src ? F(1, 1, 0, 0) : d)) << "source at full alpha, else the destination; got "
                                                              << Show(got) << " at " << x << "," << y;
            ASSERT_TRUE(Same(host::Composite(To8(s), To8(d), mode, x, y), To8(got))) << "8-bit at " << x << "," << y;
            ASSERT_TRUE(Same(host::Composite(s, d, Mode(PF_Xfer_DISSOLVE, 255, true, 1234), x, y),
                             F(d.alpha, got.red, got.green, got.blue)))
                << "rgb_only keeps the destination alpha at " << x << "," << y;
            sameAsSeed2 += Same(got, host::Composite(s, d, Mode(PF_Xfer_DISSOLVE, 255, false, 99), x, y));
        }
    }
    // Half the layer alpha shows half the pixels; another seed draws another pattern.
    EXPECT_NEAR(fromSource / double(n * n), 0.5, 0.02);
    EXPECT_LT(sameAsSeed2, n * n * 0.6);
    // Opacity scales the share; none shows at 0.
    int shown = 0;
    for (A_long x = 0; x < n * n; ++x) {
        shown += !Same(host::Composite(s, d, Mode(PF_Xfer_DISSOLVE, 128, false, 7), x, 3), d);
        ASSERT_TRUE(Same(host::Composite(s, d, Mode(PF_Xfer_DISSOLVE, 0, false, 7), x, 3), d)) << x;
    }
    EXPECT_NEAR(shown / double(n * n), 0.5 * 128 / 255, 0.02);
}

TEST(TransferModes, NoneAndUnknownModesLeaveTheDestination) {
    const PF_PixelFloat s = F(1, 1, 1, 1), d = F(0.5f, 0.2f, 0.3f, 0.4f);
    for (PF_TransferMode m : {PF_TransferMode(PF_Xfer_NONE), PF_TransferMode(PF_Xfer_NUM_MODES), PF_TransferMode(-7)})
        EXPECT_TRUE(Same(host::Composite(s, d, Mode(m), 0, 0), d)) << m;
    EXPECT_FALSE(host::IsKnownTransferMode(PF_Xfer_NUM_MODES));
    EXPECT_FALSE(host::IsKnownTransferMode(-2));
    EXPECT_TRUE(host::IsKnownTransferMode(PF_Xfer_DIVIDE));
}

}  // namespace
