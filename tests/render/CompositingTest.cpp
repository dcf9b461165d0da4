// CPU compositing: the pixel callbacks on hand-computed pixels, the matrix and easing helpers,
// and the compositing steps run through the in-process host's pixel services.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <deque>
#include <limits>
#include <string>
#include <vector>

#include "host/PixelOps.h"
#include "host/TransferModes.h"
#include "params/UF3_ParamTable.h"
#include "render/RenderFixture.h"
#include "render/UF3_Compositing.h"
#include "shell/AEGP_SuiteHandler.h"

namespace {

using Px = std::array<float, 4>;  // alpha, red, green, blue
Px P(const PF_Pixel& p) { return {float(p.alpha), float(p.red), float(p.green), float(p.blue)}; }
Px P(const PF_PixelFloat& p) { return {p.alpha, p.red, p.green, p.blue}; }

void ExpectNear(const Px& got, const Px& want, float tol) {
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(got[c], want[c], tol) << "channel " << c << " (alpha, red, green, blue)";
}

// ---- Pixel callbacks ----

TEST(PixelCallbacks, GammaEncodesColourAndKeepsAlpha) {
    PF_PixelFloat f{0.3f, 0.25f, 0.5f, 1.0f};
    EXPECT_EQ(Gamma32(nullptr, 0, 0, &f, &f), PF_Err_NONE);  // in place, as an iterate without source runs it
    ExpectNear(P(f), {0.3f, 0.53255409f, 0.72976303f, 1.0f}, 1e-6f);
    // c/255, ^0.4545, then ×255 truncated: 1 -> 20.55, 128 -> 186.42, 200 -> 228.34.
    PF_Pixel in{77, 1, 128, 200}, out{}, ends{255, 0, 255, 0};
    EXPECT_EQ(Gamma8(nullptr, 0, 0, &in, &out), PF_Err_NONE);
    EXPECT_EQ(P(out), (Px{77, 20, 186, 228}));
    Gamma8(nullptr, 0, 0, &ends, &ends);
    EXPECT_EQ(P(ends), (Px{255, 0, 255, 0}));
}

TEST(PixelCallbacks, ShadowColourScalesAlphaByOpacityAndGamma) {
    PF_PixelFloat colour{0.5f, 0.2f, 0.4f, 0.6f};
    PF_Pixel colour8{0, 10, 20, 30};
    // 32 bits: no clamping, above one stays above the opacity.
    const float deep[][3] = {{1, 0.8f, 0.4f}, {1, 1.5f, 0.75f}, {2, 0.5f, 0.125f}};  // gamma, in, out
    for (const auto& d : deep) {
        ShadowColorRefcon ref{&colour, &colour8, d[0]};
        PF_PixelFloat in{d[1], 9, 9, 9}, out{};
        EXPECT_EQ(ShadowColor32(&ref, 0, 0, &in, &out), PF_Err_NONE);
        ExpectNear(P(out), {d[2], 0.2f, 0.4f, 0.6f}, 1e-6f);
    }
    const struct {
        float opacity, gamma;
        int in, want;
    } cases[] = {
        {1, 1, 37, 37}, {1, 1, 255, 255},        // opacity 1, gamma 1: passed through
        {2, 1, 200, 200},                        // at least 1: still passed through, not doubled
        {0.5f, 1, 255, 127}, {0.3f, 1, 200, 60}, // 127.5 truncated
        {0.5f, 1, 100, 50},                      // (100/255f × 0.5f) × 255 = 50.0000008
        {1, 2, 128, 64}, {2, 2, 255, 255},       // (128/255)^2 × 255 = 64.25; 510 clamps
        {0, 2, 255, 0}, {-0.5f, 2, 255, 0},
    };
    for (const auto& c : cases) {
        colour.alpha = c.opacity;
        ShadowColorRefcon ref{&colour, &colour8, c.gamma};
        PF_Pixel in{A_u_char(c.in), 1, 2, 3}, out{};
        EXPECT_EQ(ShadowColor8(&ref, 0, 0, &in, &out), PF_Err_NONE);
        EXPECT_EQ(P(out), (Px{float(c.want), 10, 20, 30}))
            << "opacity " << c.opacity << " gamma " << c.gamma << " alpha " << c.in;
    }
    // A missing refcon is an error, not a crash.
    PF_Pixel p8{1, 2, 3, 4};
    PF_PixelFloat pf{};
    ShadowColorRefcon half{nullptr, nullptr, 1.0f};
    EXPECT_EQ(ShadowColor8(nullptr, 0, 0, &p8, &p8), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(ShadowColor32(nullptr, 0, 0, &pf, &pf), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(ShadowColor8(&half, 0, 0, &p8, &p8), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(P(p8), (Px{1, 2, 3, 4}));
}

// The alpha raise and graft show through the host tests below.
TEST(PixelCallbacks, ClampAndConversionTouchOnlyWhatTheyName) {
    PF_PixelFloat c{-0.5f, -1.0f, 0.5f, -0.0001f};
    EXPECT_EQ(Clamp32(nullptr, 0, 0, nullptr, &c), PF_Err_NONE);  // reads only the output
    EXPECT_EQ(P(c), (Px{-0.5f, 0.0f, 0.5f, 0.0f}));

    // Conversion leaves alpha; to 8 bits it truncates, clamps and counts NaN as full.
    PF_Pixel p8{9, 51, 0, 255};
    PF_PixelFloat pf{0.75f, 0, 0, 0}, back{0.5f, 0.5f, 0.99999f, -0.1f};
    PF_PixelFloat wild{0, 2.0f, 1.0f, std::numeric_limits<float>::quiet_NaN()};
    FloatConversion(p8, pf, 1);
    ExpectNear(P(pf), {0.75f, 0.2f, 0.0f, 1.0f}, 1e-6f);
    FloatConversion(p8, back, 0);
    EXPECT_EQ(P(p8), (Px{9, 127, 254, 0}));
    FloatConversion(p8, wild, 0);
    EXPECT_EQ(P(p8), (Px{9, 255, 255, 255}));
}

// ---- Matrices and easing ----

// [x y 1]·M
// As the host maps a point: rows, with the projective divide.
std::array<double, 2> Apply(const PF_FloatMatrix& m, double x, double y) {
    const double w = x * m.mat[0][2] + y * m.mat[1][2] + m.mat[2][2];
    return {(x * m.mat[0][0] + y * m.mat[1][0] + m.mat[2][0]) / w, (x * m.mat[0][1] + y * m.mat[1][1] + m.mat[2][1]) / w};
}

TEST(Matrices, ConcatAppendsOnTheRightMayAliasAndUnitScaleIsBitForBit) {
    const PF_FloatMatrix a{{{1, 2, 0}, {3, 4, 0}, {5, 6, 1}}}, want{{{2, 4, 0}, {9, 12, 0}, {9, 12, 1}}};
    PF_FloatMatrix b{{{2, 0, 0}, {0, 3, 0}, {1, 1, 1}}};
    CCU_ConcatMatrix(&a, &b);
    EXPECT_EQ(std::memcmp(&b, &want, sizeof b), 0);
    PF_FloatMatrix shear{{{1, 1, 0}, {0, 1, 0}, {0, 0, 1}}};
    CCU_ConcatMatrix(&shear, &shear);  // twice: [[1,2,0],[0,1,0],[0,0,1]]
    EXPECT_EQ(shear.mat[0][1], 2.0);
    EXPECT_EQ(shear.mat[1][1], 1.0);

    PF_FloatMatrix m;
    ASSERT_EQ(SetIdentityMatrix(&m), PF_Err_NONE);
    TranslateMatrix(&m, 10, 20);
    ScaleMatrix(&m, 2, 3);
    EXPECT_EQ(Apply(m, 1, 2), (std::array<double, 2>{22, 66})) << "(1 + 10) × 2, (2 + 20) × 3";
    EXPECT_EQ(m.mat[2][2], 1.0) << "still affine";
    SetIdentityMatrix(&m);
    SkewMatrix(&m, 0.5, 0.25);
    EXPECT_EQ(Apply(m, 4, 2), (std::array<double, 2>{5, 3})) << "x + 0.5 y, 0.25 x + y";
    EXPECT_EQ(SkewMatrix(nullptr, 1, 1), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(SetIdentityMatrix(nullptr), PF_Err_BAD_CALLBACK_PARAM);

    // -0.0 and NaN would not survive a multiplication by the identity.
    PF_FloatMatrix odd{{{0.1, -0.0, 1.0 / 3}, {std::numeric_limits<double>::quiet_NaN(), 7, -0.0}, {1e300, 2, 3}}};
    const PF_FloatMatrix before = odd;
    EXPECT_EQ(ScaleMatrix(&odd, 1.0, 1.0), PF_Err_NONE);
    EXPECT_EQ(std::memcmp(&odd, &before, sizeof odd), 0);
    ScaleMatrix(&odd, 1.0, 1.0000001);
    EXPECT_NE(std::memcmp(&odd, &before, sizeof odd), 0);
}

TEST(Easing, ExactEndsAndHandValues) {
    using Ease = double (*)(double, double, double, double);
    const struct {
        Ease f;
        double t, b, c, d, want;
    } cases[] = {
        {easeIn, 0, 2, 3, 4, 2},        {easeIn, 4, 2, 3, 4, 5},        {easeIn, 0.5, 0, 1, 1, 0.03125},
        {easeIn, 0, 0, 1024, 1, 0},     // without the exact-end rule: b + c/1024
        {easeOut, 4, 2, 3, 4, 5},       {easeOut, 0, 2, 3, 4, 2},       {easeOut, 0.5, 0, 1, 1, 0.96875},
        {easeInOut, 0, 2, 3, 4, 2},     {easeInOut, 4, 2, 3, 4, 5},     {easeInOut, 0.25, 0, 1, 1, 0.015625},
        {easeInOut, 0.5, 0, 1, 1, 0.5}, {easeInOut, 0.75, 0, 1, 1, 0.984375},
    };
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(c.f(c.t, c.b, c.c, c.d), c.want) << "t " << c.t << " d " << c.d;
    EXPECT_EQ(lerp(2, 10, 0.25), 4.0);
    EXPECT_EQ(lerp(2, 10, 0), 2.0);
    EXPECT_EQ(lerp(-4, 4, 1.5), 8.0);
}

// ---- Through the host ----

// Wrappers around the host's services that count calls and inject failures.
struct Spy {
    static inline int iterate8 = 0, iterateFloat = 0, transfers = 0, transforms = 0;
    static inline int failTransferAt = 0;  // 1-based; 0: never
    static inline PF_Err failErr = PF_Err_NONE;
    static inline std::vector<PF_CompositeMode> modes;
    static inline struct {
        PF_FloatMatrix matrix;
        PF_ModeFlags flags;
        PF_Boolean src2dst;
        A_long count;
        PF_CompositeMode mode;
    } transform{};  // the last transform's arguments

    static void Reset() {
        iterate8 = iterateFloat = transfers = failTransferAt = transforms = 0;
        failErr = PF_Err_NONE;
        modes.clear();
    }
    static PF_Err Transfer(void* ref, PF_Quality q, PF_ModeFlags f, PF_Field field, const PF_Rect* r,
                           const PF_EffectWorld* src, const PF_CompositeMode* mode, const PF_MaskWorld* mask,
                           A_long x, A_long y, PF_EffectWorld* dst) {
        if (mode) modes.push_back(*mode);
        if (++transfers == failTransferAt) return failErr;
        return host::TransferRect(ref, q, f, field, r, src, mode, mask, x, y, dst);
    }
    static PF_Err Iterate8(PF_InData* in, A_long b, A_long e, PF_EffectWorld* src, const PF_Rect* area, void* refcon,
                           PF_IteratePixel8Func fn, PF_EffectWorld* dst) {
        ++iterate8;
        return host::Iterate8(in, b, e, src, area, refcon, fn, dst);
    }
    static PF_Err IterateFloat(PF_InData* in, A_long b, A_long e, PF_EffectWorld* src, const PF_Rect* area,
                               void* refcon, PF_IteratePixelFloatFunc fn, PF_EffectWorld* dst) {
        ++iterateFloat;
        return host::IterateFloat(in, b, e, src, area, refcon, fn, dst);
    }
    static PF_Err Transform(void* ref, PF_Quality q, PF_ModeFlags f, PF_Field field, const PF_EffectWorld* src,
                            const PF_CompositeMode* mode, const PF_MaskWorld* mask, const PF_FloatMatrix* m, A_long n,
                            PF_Boolean s2d, const PF_Rect* rect, PF_EffectWorld* dst) {
        ++transforms;
        transform = {m ? *m : PF_FloatMatrix{}, f, s2d, n, mode ? *mode : PF_CompositeMode{}};
        return host::TransformWorld(ref, q, f, field, src, mode, mask, m, n, s2d, rect, dst);
    }
};

PF_WorldTransformSuite1 g_transformSuite{};
PF_Iterate8Suite1 g_iterate8Suite{};
PF_iterateFloatSuite1 g_iterateFloatSuite{};

// The effect's host with the spies in place of its pixel services.
class HostCompositing : public EffectRender {
protected:
    void SetUp() override {
        EffectRender::SetUp();
        H().Utils().transform_world = &Spy::Transform;
        g_transformSuite = *host::WorldTransformSuite();
        g_transformSuite.transfer_rect = &Spy::Transfer;
        g_iterate8Suite = *host::Iterate8Suite();
        g_iterate8Suite.iterate = &Spy::Iterate8;
        g_iterateFloatSuite = *host::IterateFloatSuite();
        g_iterateFloatSuite.iterate = &Spy::IterateFloat;
        auto& registry = host::SuiteRegistry::Instance();
        registry.Register(kPFWorldTransformSuite, kPFWorldTransformSuiteVersion1, &g_transformSuite);
        registry.Register(kPFIterate8Suite, kPFIterate8SuiteVersion1, &g_iterate8Suite);
        registry.Register(kPFIterateFloatSuite, kPFIterateFloatSuiteVersion1, &g_iterateFloatSuite);
        Spy::Reset();
    }
    void TearDown() override {
        for (PF_EffectWorld& w : m_worlds) host::WorldTable::Instance().Dispose(&w);
        EffectRender::TearDown();  // no world, suite or handle left behind
    }

    PF_InData* In() { return &H().In(); }
    size_t WorldsAlive() { return host::WorldTable::Instance().Alive(); }

    PF_EffectWorld* World(int w, int h, int depth, int ox = 0, int oy = 0) {
        PF_EffectWorld& world = m_worlds.emplace_back();
        EXPECT_EQ(host::WorldTable::Instance().New(w, h, true, depth == 8 ? PF_PixelFormat_ARGB32 : PF_PixelFormat_ARGB128,
                                                   &world),
                  PF_Err_NONE);
        world.origin_x = ox;
        world.origin_y = oy;
        return &world;
    }

    // Pixels at either depth in 8-bit units: a float world holds value / 255.
    static char* Row(PF_EffectWorld* w, int y) { return reinterpret_cast<char*>(w->data) + size_t(y) * w->rowbytes; }
    static bool Deep(const PF_EffectWorld* w) { return w->world_flags & PF_WorldFlag_DEEP; }
    static void Put(PF_EffectWorld* w, int x, Px v, int y = 0) {
        if (Deep(w)) reinterpret_cast<PF_PixelFloat*>(Row(w, y))[x] = {v[0] / 255, v[1] / 255, v[2] / 255, v[3] / 255};
        else reinterpret_cast<PF_Pixel*>(Row(w, y))[x] = {A_u_char(v[0]), A_u_char(v[1]), A_u_char(v[2]), A_u_char(v[3])};
    }
    static Px Get(PF_EffectWorld* w, int x, int y = 0) {
        if (!Deep(w)) return P(reinterpret_cast<PF_Pixel*>(Row(w, y))[x]);
        Px p = P(reinterpret_cast<PF_PixelFloat*>(Row(w, y))[x]);
        for (float& c : p) c *= 255;
        return p;
    }
    // Exact at 8 bits; within 0.01 of 255 at 32.
    static void Expect(PF_EffectWorld* w, int x, Px want) { ExpectNear(Get(w, x), want, Deep(w) ? 0.01f : 0.0f); }

    // A record for one render at the output's depth, compositing the texture normally.
    void Prepare(myParams& p, PF_EffectWorld* out) {
        p.in_data = In();
        p.bitdepth = Deep(out) ? 32 : 8;
        p.output_worldP = out;
        p.textureComp.xfer = PF_Xfer_IN_FRONT;
        p.textureStrength = 1.0;
        p.sourceComp.xfer = PF_Xfer_IN_FRONT;
        Spy::Reset();
    }
    // CompTextureAndInput, which must give back every world it made.
    PF_Err Comp(myParams& p) {
        AEGP_SuiteHandler suites(In()->pica_basicP);
        const size_t alive = host::WorldTable::Instance().Alive();
        const PF_Err err = CompTextureAndInput(In(), p, suites);
        EXPECT_EQ(host::WorldTable::Instance().Alive(), alive) << "a working world was left behind";
        return err;
    }

    std::deque<PF_EffectWorld> m_worlds;
};

TEST_F(HostCompositing, WithoutTextureOrSourceTheShadowComesBackAsItWas) {
    for (int depth : {8, 32}) {
        SCOPED_TRACE(depth);
        PF_EffectWorld* out = World(3, 2, depth, 5, -2);
        Put(out, 0, {0, 200, 100, 50});
        Put(out, 1, {51, 1, 2, 3});
        Put(out, 2, {255, 9, 8, 7}, 1);
        const std::vector<char> before(Row(out, 0), Row(out, out->height));
        myParams p{};
        Prepare(p, out);
        ASSERT_EQ(Comp(p), PF_Err_NONE);
        EXPECT_EQ(std::memcmp(before.data(), out->data, before.size()), 0);
        EXPECT_EQ(depth == 8 ? Spy::iterate8 : Spy::iterateFloat, 2);  // raised, then restored
        EXPECT_EQ(Spy::transfers, 0);
    }
}

TEST_F(HostCompositing, TextureBlendsWithTheOpaqueShadowColourThenTheAlphaReturns) {
    PF_EffectWorld* out = World(2, 1, 8);
    PF_EffectWorld* tex = World(2, 1, 8);
    for (int x = 0; x < 2; ++x) {
        Put(out, x, {x ? 0.0f : 128.0f, 200, 100, 50});
        Put(tex, x, {255, 10, 20, 30});
    }
    myParams p{};
    Prepare(p, out);
    p.noise_worldP = tex;
    p.textureStrength = 0.5;  // opacity trunc(127.5) = 127
    ASSERT_EQ(Comp(p), PF_Err_NONE);
    EXPECT_EQ(p.textureComp.opacity, 127);
    EXPECT_TRUE(p.textureComp.rgb_only);
    // Over an opaque shadow: (127 × texture + 128 × shadow) / 255 per channel, 105.37,
    // 60.16, 40.04; then the shadow's alpha comes back.
    Expect(out, 0, {128, 105, 60, 40});
    Expect(out, 1, {0, 105, 60, 40});

    // Strength 1e7 scales past the 32-bit range: opacity 0 rather than the product's low
    // byte (2.55e9 mod 256 = 128), so the shadow comes back as it was.
    p.textureStrength = 1e7;
    ASSERT_EQ(Comp(p), PF_Err_NONE);
    EXPECT_EQ(p.textureComp.opacity, 0);
    Expect(out, 0, {128, 105, 60, 40});
}

// Whole renders: the four alpha modes act on the shadow's own alpha, with no alpha raise
// and restore around them. An opaque texture the layer's size, black above the light's row
// and white below (luma l), at strength s cuts the shadow alpha a to a·k (stencil) or
// a·(1 − k) (silhouette), k = t·s or l·t·s; on the outer shadow Alpha Bias b first cuts the
// texture alpha t to 1 − a·b. Colours stay the shadow's.
// Matte Gamma curves the shadow's alpha once: in the point road's shader, on the CPU for the
// directional road, in the Raytraced shader. A texture at strength 0 brings the gamma in and changes nothing else.
TEST_F(HostCompositing, MatteGammaCurvesTheShadowsAlphaOnceOnEitherRenderer) {
    H().SetLayerSize(H().TextureLayer(), kW, kH);
    H().SetTextureLayerPresent(true);
    Float(UF3_TEXTURE_STRENGTH, 0);
    Float(UF3_LIGHT_RADIUS_STD, 12);  // soft edges to measure on
    const std::pair<int, int> roads[] = {{UF3_RENDERER_STANDARD, UF3_LIGHT_POINT},
                                         {UF3_RENDERER_STANDARD, UF3_LIGHT_DIRECTIONAL},
                                         {UF3_RENDERER_RAYTRACED, UF3_LIGHT_POINT}};
    for (const auto& [renderer, light] : roads)
        for (short depth : {8, 32}) {
            SCOPED_TRACE(testing::Message() << "renderer " << renderer << ", light " << light << ", " << depth << " bits");
            Set(UF3_RENDERER, renderer);
            Set(UF3_LIGHT_TYPE, light);
            Float(UF3_MATTE_GAMMA, 1);
            const Frame plain = Render(depth);
            Float(UF3_MATTE_GAMMA, 2);
            const Frame curved = Render(depth);
            ASSERT_EQ(plain.err, PF_Err_NONE);
            ASSERT_EQ(curved.err, PF_Err_NONE);
            ASSERT_EQ(curved.argb.size(), plain.argb.size());
            int soft = 0;
            for (size_t i = 0; i < plain.argb.size(); ++i) {
                const float a = plain.argb[i][0];
                if (a < 0.05f || a > 0.95f) continue;
                ++soft;
                ASSERT_NEAR(curved.argb[i][0], std::sqrt(a), depth == 8 ? 2.5f / 255 : 2e-3f) << "pixel " << i;
            }
            EXPECT_GT(soft, 50);
        }
}

TEST_F(HostCompositing, StencilAndSilhouetteModesCutTheShadowsAlpha) {
    PF_EffectWorld& tex = H().SetLayerSize(H().TextureLayer(), kW, kH);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const float v = y < kLightY ? 0.0f : 1.0f;
            reinterpret_cast<PF_PixelFloat*>(Row(&tex, y))[x] = {1, v, v, v};
        }
    Set(UF3_QUALITY_PRESET, UF3_QUALITY_DRAFT);
    auto inSquare = [](int x, int y) { return x >= kLeft && x < kRight && y >= kTop && y < kBottom; };
    auto inTexture = [](int x, int y) { return x >= 0 && x < kW && y >= 0 && y < kH; };
    const struct {
        int position;
        bool luma, silhouette;
    } modes[] = {{38, false, false}, {39, true, false}, {40, false, true}, {UF3_BLEND_SILHOUETTE_LUMA, true, true}};
    for (bool inner : {false, true})
        for (short depth : {8, 32}) {
            Check(UF3_INNER_SHADOW, inner);
            H().SetTextureLayerPresent(false);
            const Frame ref = Render(depth);
            ASSERT_EQ(ref.err, PF_Err_NONE);
            H().SetTextureLayerPresent(true);
            const float tol = depth == 8 ? 2.5f / 255 : 1e-5f;
            for (const auto& m : modes)
                for (int strength : {100, 50})
                    for (int bias : {0, 50}) {
                        if (inner && bias) continue;  // the inner road lays the texture on unbiased
                        SCOPED_TRACE(std::string(inner ? "inner" : "outer") + ", " + std::to_string(depth) +
                                     " bits, mode " + std::to_string(m.position) + ", strength " +
                                     std::to_string(strength) + ", bias " + std::to_string(bias));
                        Set(UF3_TEXTURE_BLEND_MODE, m.position);
                        Float(UF3_TEXTURE_STRENGTH, strength);
                        Float(UF3_TEXTURE_ALPHA_BIAS, bias);
                        const Frame f = Render(depth);
                        ASSERT_EQ(f.err, PF_Err_NONE);
                        ASSERT_EQ(f.argb.size(), ref.argb.size());
                        const float s = std::trunc(strength * 2.55f) / 255, b = std::trunc(bias * 2.55f) / 255;
                        int cut[2] = {0, 0};  // shadow pixels seen under black, under white
                        for (int y = f.originY; y < f.originY + f.height; ++y)
                            for (int x = f.originX; x < f.originX + f.width; ++x) {
                                const Px r = ref.At(x, y), got = f.At(x, y);
                                // A transparent pixel's colour means nothing.
                                auto expect = [&](const Px& want) {
                                    if (want[0] > 0.05f) ExpectNear(got, want, tol);
                                    else EXPECT_NEAR(got[0], want[0], tol);
                                };
                                if (!inTexture(x, y) || inner != inSquare(x, y)) {
                                    expect(r);
                                    if (HasFailure()) return;
                                    continue;
                                }
                                // Inside the square the inner shadow shows as blue over the red source.
                                const float a = inner ? r[3] : r[0];
                                if (inner) ExpectNear(r, {1, 1 - a, 0, a}, tol);
                                const float l = y < kLightY ? 0.0f : 1.0f, t = inner ? 1.0f : 1.0f - a * b;
                                const float k = (m.luma ? l : 1.0f) * t * s, want = m.silhouette ? a * (1 - k) : a * k;
                                if (a > 0.1f) cut[y >= kLightY]++;
                                expect(inner ? Px{1, 1 - want, 0, want} : Px{want, r[1], r[2], r[3]});
                                if (HasFailure()) return;
                            }
                        EXPECT_GT(cut[0], 20);
                        EXPECT_GT(cut[1], 20);
                    }
        }
}

TEST_F(HostCompositing, AlphaBiasCutsTheShadowOutOfTheTextureWhereTheyOverlap) {
    // Output columns 0..3 at layer x -5..-2; the texture covers x -3..-2, that is output
    // columns 2 and 3, where the shadow's alphas are 0 and 0.2.
    for (int depth : {8, 32})
        for (double bias : {1.0, 0.0}) {
            SCOPED_TRACE(std::to_string(depth) + " bits, bias " + std::to_string(bias));
            PF_EffectWorld* out = World(4, 1, depth, -5, 3);
            PF_EffectWorld* tex = World(2, 1, depth, -3, 3);
            const float alphas[4] = {255, 0, 0, 51};
            for (int x = 0; x < 4; ++x) Put(out, x, {alphas[x], 200, 100, 50});
            for (int x = 0; x < 2; ++x) Put(tex, x, {255, 10, 20, 30});
            myParams p{};
            Prepare(p, out);
            p.noise_worldP = tex;
            p.textureAlphaBias = bias;
            ASSERT_EQ(Comp(p), PF_Err_NONE);
            ASSERT_EQ(Spy::modes.size(), bias > 0 ? 2u : 1u);
            if (bias > 0) {
                EXPECT_EQ(Spy::modes[0].xfer, PF_Xfer_MULTIPLY_NOT_ALPHA);
                EXPECT_EQ(Spy::modes[0].opacity, 255);
                EXPECT_FALSE(Spy::modes[0].rgb_only);
            }
            EXPECT_TRUE(Spy::modes.back().rgb_only);
            EXPECT_TRUE(p.textureComp.rgb_only);  // also left in the record
            EXPECT_EQ(p.textureComp.opacity, 255);
            Expect(out, 0, {255, 200, 100, 50});
            Expect(out, 1, {0, 200, 100, 50});
            Expect(out, 2, {0, 10, 20, 30});
            // With the bias the texture keeps 1 - 0.2 of its alpha: 0.8 texture + 0.2 shadow.
            Expect(out, 3, bias > 0 ? Px{51, 48, 36, 34} : Px{51, 10, 20, 30});
        }
    // A texture beside the output, touching it: the direct transfer even with a bias.
    for (double bias : {0.0, 0.7}) {
        SCOPED_TRACE(bias);
        PF_EffectWorld* out = World(2, 1, 8);
        PF_EffectWorld* tex = World(2, 1, 8, 2, 0);
        Put(out, 0, {90, 200, 100, 50});
        for (int x = 0; x < 2; ++x) Put(tex, x, {255, 10, 20, 30});
        myParams p{};
        Prepare(p, out);
        p.noise_worldP = tex;
        p.textureAlphaBias = bias;
        p.textureStrength = 0.2;  // 51
        ASSERT_EQ(Comp(p), PF_Err_NONE);
        ASSERT_EQ(Spy::modes.size(), 1u);
        EXPECT_EQ(Spy::modes[0].opacity, 51);
        EXPECT_TRUE(Spy::modes[0].rgb_only);
        Expect(out, 0, {90, 200, 100, 50});
        Expect(out, 1, {0, 0, 0, 0});
    }
}

TEST_F(HostCompositing, SourceLayerGoesOverUnlessItsOpacityIsZero) {
    for (int opacity : {255, 0}) {
        SCOPED_TRACE(opacity);
        PF_EffectWorld* out = World(4, 1, 8, 10, 0);
        for (int x = 0; x < 4; ++x) Put(out, x, {128, 100, 50, 25});
        PF_EffectWorld* input = World(2, 1, 8, 11, 0);  // over output columns 1 and 2
        Put(input, 0, {255, 255, 0, 0});
        Put(input, 1, {0, 0, 255, 0});
        myParams p{};
        Prepare(p, out);
        p.input_worldP = input;
        p.sourceComp.opacity = A_u_char(opacity);
        ASSERT_EQ(Comp(p), PF_Err_NONE);
        EXPECT_EQ(Spy::transfers, opacity ? 1 : 0);
        Expect(out, 1, opacity ? Px{255, 255, 0, 0} : Px{128, 100, 50, 25});
        for (int x : {0, 2, 3}) Expect(out, x, {128, 100, 50, 25});  // a transparent source changes nothing
    }
}

TEST_F(HostCompositing, HostFailureStopsTheLaterStepsIsLoggedOnceAndFreesTheWorlds) {
    for (PF_Err failure : {PF_Err_OUT_OF_MEMORY, PF_Interrupt_CANCEL}) {
        SCOPED_TRACE(failure);
        PF_EffectWorld* out = World(2, 1, 8);
        myParams p{};
        Prepare(p, out);
        p.noise_worldP = World(2, 1, 8);
        p.input_worldP = World(2, 1, 8);
        p.sourceComp.opacity = 255;
        p.textureStrength = 0.4;
        Spy::failTransferAt = 1;
        Spy::failErr = failure;
        EXPECT_EQ(Comp(p), failure);
        EXPECT_EQ(Spy::transfers, 1);  // the source transfer never came
        EXPECT_EQ(Spy::iterate8, 1);   // nor the alpha restoration
        EXPECT_EQ(p.textureComp.opacity, 102);
        const std::string log = Log();  // logged once: the cancel that follows is not
        EXPECT_NE(log.find("CompTextureAndInput"), std::string::npos);
        EXPECT_EQ(log.find("CompTextureAndInput"), log.rfind("CompTextureAndInput"));
    }
}

TEST_F(HostCompositing, MissingWorldsAreRefusedNotFollowed) {
    myParams p{};
    AEGP_SuiteHandler suites(In()->pica_basicP);
    EXPECT_EQ(CompTextureAndInput(In(), p, suites), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(ViewNoiseSolo(In(), p, suites), PF_Err_BAD_CALLBACK_PARAM);
    p.noise_worldP = World(2, 1, 8);  // a texture but no output
    EXPECT_EQ(ViewNoiseSolo(In(), p, suites), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(VisualiseBufferData(In(), nullptr, p), PF_Err_NONE);
    EXPECT_EQ(Spy::transfers + Spy::iterate8 + Spy::iterateFloat, 0);
}

TEST_F(HostCompositing, ViewTextureShowsTheTextureAlone) {
    PF_EffectWorld* out = World(4, 1, 8);
    for (int x = 0; x < 4; ++x) Put(out, x, {255, 200, 100, 50});
    PF_EffectWorld* tex = World(2, 1, 8, 1, 0);
    Put(tex, 0, {40, 10, 20, 30});
    myParams p{};
    Prepare(p, out);
    p.noise_worldP = tex;
    AEGP_SuiteHandler suites(In()->pica_basicP);
    ASSERT_EQ(ViewNoiseSolo(In(), p, suites), PF_Err_NONE);
    ASSERT_EQ(Spy::modes.size(), 1u);
    EXPECT_EQ(Spy::modes[0].xfer, PF_Xfer_COPY);
    EXPECT_EQ(Spy::modes[0].opacity, 255);
    for (int x : {0, 2, 3}) Expect(out, x, {0, 0, 0, 0});
    Expect(out, 1, {40, 10, 20, 30});

    Spy::failTransferAt = 2;
    Spy::failErr = PF_Err_INTERNAL_STRUCT_DAMAGED;
    EXPECT_EQ(ViewNoiseSolo(In(), p, suites), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_NE(Log().find("ViewNoiseSolo()"), std::string::npos);

    // Both worlds away from the layer's corner: the texel at layer (6, 11) lands at (1, 1) of an
    // output whose corner is layer (5, 10).
    PF_EffectWorld* placed = World(3, 3, 8, 5, 10);
    PF_EffectWorld* texel = World(1, 1, 8, 6, 11);
    Put(texel, 0, {90, 60, 70, 80});
    p.output_worldP = placed;
    p.noise_worldP = texel;
    Spy::Reset();
    ASSERT_EQ(ViewNoiseSolo(In(), p, suites), PF_Err_NONE);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x)
            ExpectNear(Get(placed, x, y), x == 1 && y == 1 ? Px{90, 60, 70, 80} : Px{0, 0, 0, 0}, 0);
}

TEST_F(HostCompositing, VisualiseBufferDataDrawsEachBufferWhereItLies) {
    PF_EffectWorld* out = World(6, 2, 8, 10, 5);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 6; ++x) Put(out, x, {255, 1, 2, 3}, y);
    PF_EffectWorld* unused = World(2, 1, 8, 10, 5);
    unused->extent_hint = {0, 0, 0, 1};  // empty: not drawn
    myParams p{};
    Prepare(p, out);
    p.noise_worldP = World(2, 1, 8, 11, 6);  // on the output's second row
    p.input_worldP = World(2, 1, 8, 13, 5);
    const size_t alive = WorldsAlive();
    ASSERT_EQ(VisualiseBufferData(In(), nullptr, p), PF_Err_NONE);
    EXPECT_EQ(WorldsAlive(), alive);
    // Red everywhere, the texture's place in blue over it, the input's in green.
    const PF_Pixel red{128, 255, 0, 0}, green{128, 0, 255, 0}, blue{128, 0, 0, 255};
    const PF_CompositeMode front{PF_Xfer_IN_FRONT, 0, 255, false, 0};
    const Px overBlue = P(host::Composite(blue, red, front, 0, 0, false));
    const Px overGreen = P(host::Composite(green, red, front, 0, 0, false));
    EXPECT_GT(overBlue[3], overBlue[1]);
    for (int x = 0; x < 6; ++x) {
        ExpectNear(Get(out, x, 0), x == 3 || x == 4 ? overGreen : P(red), 0);
        ExpectNear(Get(out, x, 1), x == 1 || x == 2 ? overBlue : P(red), 0);
    }

    p.noise_worldP = unused;
    p.input_worldP = nullptr;
    Spy::Reset();
    ASSERT_EQ(VisualiseBufferData(In(), nullptr, p), PF_Err_NONE);
    EXPECT_EQ(Spy::transfers, 0);
}

TEST_F(HostCompositing, ResamplingHandsTheHostTheIdentityBitForBitOrAScale) {
    PF_EffectWorld* src = World(4, 2, 8);
    ASSERT_EQ(XformLargerBufferIntoSmallerBuffer(In(), src, World(4, 2, 8)), PF_Err_NONE);
    const PF_FloatMatrix identity{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}}, half{{{0.5, 0, 0}, {0, 0.5, 0}, {0, 0, 1}}};
    EXPECT_EQ(std::memcmp(&Spy::transform.matrix, &identity, sizeof identity), 0);
    EXPECT_EQ(Spy::transform.flags, PF_MF_Alpha_STRAIGHT);
    EXPECT_TRUE(Spy::transform.src2dst);
    EXPECT_EQ(Spy::transform.count, 1);
    EXPECT_EQ(Spy::transform.mode.xfer, PF_Xfer_IN_FRONT);
    EXPECT_EQ(Spy::transform.mode.opacity, 255);

    PF_EffectWorld* small = World(2, 1, 8);
    ASSERT_EQ(XformLargerBufferIntoSmallerBuffer(In(), src, small), PF_Err_NONE);
    EXPECT_EQ(std::memcmp(&Spy::transform.matrix, &half, sizeof half), 0);
    EXPECT_EQ(XformLargerBufferIntoSmallerBuffer(In(), nullptr, small), PF_Err_NONE);
    EXPECT_EQ(XformLargerBufferIntoSmallerBuffer(In(), src, nullptr), PF_Err_NONE);
    EXPECT_EQ(Spy::transforms, 2);
}

TEST_F(HostCompositing, RotationTurnsAboutItsCentreAndZeroIsBitForBit) {
    PF_FloatMatrix m{{{0.1, -0.0, 0}, {std::numeric_limits<double>::quiet_NaN(), 1, 0}, {3, -0.0, 1}}};
    const PF_FloatMatrix before = m;
    auto& suites = host::SuiteRegistry::Instance();
    const long acquired = suites.Acquired(kPFANSISuite, kPFANSISuiteVersion1);
    EXPECT_EQ(RotateMatrix(&m, In(), 0.0, 4, 5), PF_Err_NONE);
    EXPECT_EQ(std::memcmp(&m, &before, sizeof m), 0);
    EXPECT_EQ(suites.Acquired(kPFANSISuite, kPFANSISuiteVersion1), acquired) << "no suite needed for 0";

    SetIdentityMatrix(&m);
    ASSERT_EQ(RotateMatrix(&m, In(), 90.0, 10, 0), PF_Err_NONE);
    const auto [x, y] = Apply(m, 11, 0);  // a quarter turn about (10, 0)
    EXPECT_NEAR(x, 10.0, 1e-12);
    EXPECT_NEAR(y, 1.0, 1e-12);
    SetIdentityMatrix(&m);
    ASSERT_EQ(RotateMatrix(&m, In(), 180.0, 10, 4), PF_Err_NONE);
    const auto [hx, hy] = Apply(m, 11, 6);  // a half turn about (10, 4)
    EXPECT_NEAR(hx, 9.0, 1e-12);
    EXPECT_NEAR(hy, 2.0, 1e-12);
    PF_InData bare{};
    EXPECT_THROW(RotateMatrix(&m, &bare, 90.0, 0, 0), A_long);
}

}  // namespace
