// CPU compositing: the pixel callbacks on hand-computed pixels, the matrix
// and easing helpers, and the compositing steps run through the in-process
// host's pixel services with their worlds and suites accounted for.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "host/HandleSuite.h"
#include "host/Host.h"
#include "host/PixelOps.h"
#include "host/SuiteRegistry.h"
#include "host/TransferModes.h"
#include "host/WorldSuite.h"
#include "render/UF3_Compositing.h"
#include "shell/AEGP_SuiteHandler.h"

namespace fs = std::filesystem;

namespace {

void ExpectPixel(const PF_Pixel& p, int a, int r, int g, int b) {
    EXPECT_EQ(p.alpha, a);
    EXPECT_EQ(p.red, r);
    EXPECT_EQ(p.green, g);
    EXPECT_EQ(p.blue, b);
}

void ExpectPixel(const PF_PixelFloat& p, float a, float r, float g, float b, float tol = 1e-6f) {
    EXPECT_NEAR(p.alpha, a, tol);
    EXPECT_NEAR(p.red, r, tol);
    EXPECT_NEAR(p.green, g, tol);
    EXPECT_NEAR(p.blue, b, tol);
}

// ---- Pixel callbacks ----

TEST(PixelCallbacks, GammaEncodesColourAndKeepsAlpha) {
    PF_PixelFloat f{0.3f, 0.25f, 0.5f, 1.0f};
    EXPECT_EQ(Gamma32(nullptr, 0, 0, &f, &f), PF_Err_NONE);  // in place, as an iterate without source runs it
    ExpectPixel(f, 0.3f, 0.53255409f, 0.72976303f, 1.0f);

    // c/255, ^0.4545, then x255 truncated: 1 -> 20.55, 128 -> 186.42, 200 -> 228.34.
    PF_Pixel in{77, 1, 128, 200};
    PF_Pixel out{};
    EXPECT_EQ(Gamma8(nullptr, 0, 0, &in, &out), PF_Err_NONE);
    ExpectPixel(out, 77, 20, 186, 228);
    PF_Pixel ends{255, 0, 255, 0};
    Gamma8(nullptr, 0, 0, &ends, &ends);
    ExpectPixel(ends, 255, 0, 255, 0);
}

TEST(PixelCallbacks, ShadowColor32ScalesAlphaWithoutClamping) {
    PF_PixelFloat colour{0.5f, 0.2f, 0.4f, 0.6f};
    PF_Pixel colour8{};
    ShadowColorRefcon ref{&colour, &colour8, 1.0f};
    PF_PixelFloat in{0.8f, 9.0f, 9.0f, 9.0f}, out{};
    EXPECT_EQ(ShadowColor32(&ref, 0, 0, &in, &out), PF_Err_NONE);
    ExpectPixel(out, 0.4f, 0.2f, 0.4f, 0.6f);
    in.alpha = 1.5f;  // above one stays above the opacity
    ShadowColor32(&ref, 0, 0, &in, &out);
    EXPECT_FLOAT_EQ(out.alpha, 0.75f);
    ref.gamma = 2.0f;
    in.alpha = 0.5f;
    ShadowColor32(&ref, 0, 0, &in, &out);
    EXPECT_FLOAT_EQ(out.alpha, 0.125f);
}

TEST(PixelCallbacks, ShadowColor8OpacityAndGammaCases) {
    PF_PixelFloat colour{1.0f, 0.0f, 0.0f, 0.0f};
    PF_Pixel colour8{0, 10, 20, 30};
    ShadowColorRefcon ref{&colour, &colour8, 1.0f};
    auto run = [&](A_u_char alpha) {
        PF_Pixel in{alpha, 1, 2, 3}, out{};
        EXPECT_EQ(ShadowColor8(&ref, 0, 0, &in, &out), PF_Err_NONE);
        EXPECT_EQ(out.red, 10);
        EXPECT_EQ(out.green, 20);
        EXPECT_EQ(out.blue, 30);
        return int(out.alpha);
    };
    // Opacity 1, gamma 1: passed through untouched.
    EXPECT_EQ(run(37), 37);
    EXPECT_EQ(run(255), 255);
    colour.alpha = 2.0f;  // at least 1: still passed through, not doubled
    EXPECT_EQ(run(200), 200);
    // Opacity 0.5: 255 -> 127.5 -> 127; 100 -> (100/255f * 0.5f) * 255 = 50.0000008 -> 50.
    colour.alpha = 0.5f;
    EXPECT_EQ(run(255), 127);
    EXPECT_EQ(run(100), 50);
    colour.alpha = 0.3f;
    EXPECT_EQ(run(200), 60);
    // Gamma 2 at opacity 1: (128/255)^2 * 255 = 64.25.
    colour.alpha = 1.0f;
    ref.gamma = 2.0f;
    EXPECT_EQ(run(128), 64);
    colour.alpha = 2.0f;
    EXPECT_EQ(run(255), 255);  // 510 clamps
    colour.alpha = 0.0f;
    EXPECT_EQ(run(255), 0);
    colour.alpha = -0.5f;
    EXPECT_EQ(run(255), 0);
}

TEST(PixelCallbacks, AlphaHelpersTouchOnlyWhatTheyName) {
    PF_Pixel in8{12, 1, 2, 3}, out8{40, 50, 60, 70};
    maxAlpha8(nullptr, 0, 0, &in8, &out8);
    ExpectPixel(out8, 255, 50, 60, 70);
    graftAlpha8(nullptr, 0, 0, &in8, &out8);
    ExpectPixel(out8, 12, 50, 60, 70);

    PF_PixelFloat in{0.25f, 1, 2, 3}, out{0.5f, 0.1f, 0.2f, 0.3f};
    maxAlpha32(nullptr, 0, 0, &in, &out);
    ExpectPixel(out, 1.0f, 0.1f, 0.2f, 0.3f);
    graftAlpha32(nullptr, 0, 0, &in, &out);
    ExpectPixel(out, 0.25f, 0.1f, 0.2f, 0.3f);

    // Clamp reads only the output pixel.
    PF_PixelFloat c{-0.5f, -1.0f, 0.5f, -0.0001f};
    EXPECT_EQ(Clamp32(nullptr, 0, 0, nullptr, &c), PF_Err_NONE);
    ExpectPixel(c, -0.5f, 0.0f, 0.5f, 0.0f, 0.0f);

    PF_PixelFloat s{0.1f, 0.2f, 0.3f, 0.4f};
    Swizzle32(nullptr, 0, 0, &s, &s);
    ExpectPixel(s, 0.2f, 0.3f, 0.4f, 0.1f, 0.0f);
}

TEST(PixelCallbacks, MissingRefconIsAnErrorNotACrash) {
    PF_Pixel p8{1, 2, 3, 4};
    PF_PixelFloat pf{0.1f, 0.2f, 0.3f, 0.4f};
    EXPECT_EQ(ShadowColor8(nullptr, 0, 0, &p8, &p8), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(ShadowColor32(nullptr, 0, 0, &pf, &pf), PF_Err_BAD_CALLBACK_PARAM);
    ShadowColorRefcon half{nullptr, nullptr, 1.0f};
    EXPECT_EQ(ShadowColor8(&half, 0, 0, &p8, &p8), PF_Err_BAD_CALLBACK_PARAM);
    ExpectPixel(p8, 1, 2, 3, 4);
}

TEST(PixelCallbacks, FloatConversionTruncatesClampsAndLeavesAlpha) {
    PF_Pixel p8{9, 51, 0, 255};
    PF_PixelFloat pf{0.75f, 0, 0, 0};
    FloatConversion(p8, pf, 1);
    ExpectPixel(pf, 0.75f, 0.2f, 0.0f, 1.0f);

    PF_PixelFloat back{0.5f, 0.5f, 0.99999f, -0.1f};
    FloatConversion(p8, back, 0);
    ExpectPixel(p8, 9, 127, 254, 0);  // 127.5 and 254.997 truncate
    PF_PixelFloat wild{0, 2.0f, 1.0f, std::numeric_limits<float>::quiet_NaN()};
    FloatConversion(p8, wild, 0);
    ExpectPixel(p8, 9, 255, 255, 255);  // NaN counts as full
}

// ---- Matrices, easing, rectangles ----

// [x y 1]·M
void Apply(const PF_FloatMatrix& m, double x, double y, double* ox, double* oy) {
    *ox = x * m.mat[0][0] + y * m.mat[1][0] + m.mat[2][0];
    *oy = x * m.mat[0][1] + y * m.mat[1][1] + m.mat[2][1];
}

TEST(Matrices, ConcatMultipliesOnTheRightAndMayAlias) {
    const PF_FloatMatrix a{{{1, 2, 0}, {3, 4, 0}, {5, 6, 1}}};
    PF_FloatMatrix b{{{2, 0, 0}, {0, 3, 0}, {1, 1, 1}}};
    CCU_ConcatMatrix(&a, &b);
    const PF_FloatMatrix expected{{{2, 4, 0}, {9, 12, 0}, {9, 12, 1}}};
    EXPECT_EQ(std::memcmp(&b, &expected, sizeof b), 0);

    PF_FloatMatrix m{{{1, 1, 0}, {0, 1, 0}, {0, 0, 1}}};
    CCU_ConcatMatrix(&m, &m);  // shear twice: [[1,2,0],[0,1,0],[0,0,1]]
    EXPECT_EQ(m.mat[0][1], 2.0);
    EXPECT_EQ(m.mat[0][0], 1.0);
    EXPECT_EQ(m.mat[1][1], 1.0);
}

TEST(Matrices, AppendedTransformsApplyAfterThoseAlreadyThere) {
    PF_FloatMatrix m;
    ASSERT_EQ(SetIdentityMatrix(&m), PF_Err_NONE);
    TranslateMatrix(&m, 10, 20);
    ScaleMatrix(&m, 2, 3);
    double x, y;
    Apply(m, 1, 2, &x, &y);
    EXPECT_EQ(x, 22.0);  // (1 + 10) * 2
    EXPECT_EQ(y, 66.0);  // (2 + 20) * 3

    SetIdentityMatrix(&m);
    SkewMatrix(&m, 0.5, 2);
    Apply(m, 4, 6, &x, &y);
    EXPECT_EQ(x, 7.0);   // 4 + 0.5 * 6
    EXPECT_EQ(y, 14.0);  // 2 * 4 + 6
    EXPECT_EQ(SetIdentityMatrix(nullptr), PF_Err_BAD_CALLBACK_PARAM);
}

TEST(Matrices, UnitScaleLeavesTheMatrixBitForBit) {
    // -0.0 and NaN would not survive a multiplication by the identity.
    PF_FloatMatrix m{{{0.1, -0.0, 1.0 / 3}, {std::numeric_limits<double>::quiet_NaN(), 7, -0.0}, {1e300, 2, 3}}};
    PF_FloatMatrix before = m;
    EXPECT_EQ(ScaleMatrix(&m, 1.0, 1.0), PF_Err_NONE);
    EXPECT_EQ(std::memcmp(&m, &before, sizeof m), 0);
    ScaleMatrix(&m, 1.0, 1.0000001);
    EXPECT_NE(std::memcmp(&m, &before, sizeof m), 0);
}

TEST(Easing, ExactEndsAndHandValues) {
    EXPECT_EQ(easeIn(0, 2, 3, 4), 2.0);
    EXPECT_EQ(easeIn(4, 2, 3, 4), 5.0);
    EXPECT_DOUBLE_EQ(easeIn(0.5, 0, 1, 1), 0.03125);  // 2^-5
    EXPECT_EQ(easeOut(4, 2, 3, 4), 5.0);
    EXPECT_EQ(easeOut(0, 2, 3, 4), 2.0);
    EXPECT_DOUBLE_EQ(easeOut(0.5, 0, 1, 1), 0.96875);
    EXPECT_EQ(easeInOut(0, 2, 3, 4), 2.0);
    EXPECT_EQ(easeInOut(4, 2, 3, 4), 5.0);
    EXPECT_DOUBLE_EQ(easeInOut(0.25, 0, 1, 1), 0.015625);
    EXPECT_DOUBLE_EQ(easeInOut(0.5, 0, 1, 1), 0.5);
    EXPECT_DOUBLE_EQ(easeInOut(0.75, 0, 1, 1), 0.984375);
    // Without the exact-end rule easeIn(0) would be b + c/1024.
    EXPECT_NE(easeIn(0, 0, 1024, 1), 1.0);
    EXPECT_EQ(lerp(2, 10, 0.25), 4.0);
    EXPECT_EQ(lerp(2, 10, 0), 2.0);
    EXPECT_EQ(lerp(-4, 4, 1.5), 8.0);
}

TEST(Rects, ExtentsOverlapsAndValidity) {
    PF_EffectWorld w{};
    w.width = 10;
    w.height = 5;
    w.extent_hint = {1, 2, 9, 5};
    w.origin_x = -4;
    w.origin_y = 7;
    const PF_LRect e = GetExtentHintInWorldCoords(&w);
    const PF_LRect expected{-3, 9, 5, 12};
    EXPECT_EQ(std::memcmp(&e, &expected, sizeof e), 0);
    // Disjoint rectangles give an inverted one, unchecked.
    const PF_LRect o = GetOverlappingRect({0, 0, 10, 10}, {20, 5, 30, 8});
    const PF_LRect inverted{20, 5, 10, 8};
    EXPECT_EQ(std::memcmp(&o, &inverted, sizeof o), 0);

    EXPECT_TRUE(IsEffectWorldPtrValid(&w));
    EXPECT_FALSE(IsEffectWorldPtrValid(nullptr));
    w.extent_hint = {3, 0, 3, 5};
    EXPECT_FALSE(IsEffectWorldPtrValid(&w));
}

// ---- Through the host ----

// Wrappers around the host's services that count calls and inject failures.
struct Spy {
    static inline int iterate8 = 0;
    static inline int iterateFloat = 0;
    static inline int transfers = 0;
    static inline int failTransferAt = 0;  // 1-based; 0: never
    static inline PF_Err failErr = PF_Err_NONE;
    static inline std::vector<PF_CompositeMode> modes;
    static inline int transforms = 0;
    static inline PF_FloatMatrix matrix{};
    static inline PF_ModeFlags transformFlags = 0;
    static inline PF_Boolean src2dst = false;
    static inline A_long numMatrices = 0;
    static inline PF_CompositeMode transformMode{};

    static void Reset() {
        iterate8 = iterateFloat = transfers = failTransferAt = transforms = 0;
        failErr = PF_Err_NONE;
        modes.clear();
    }

    static PF_Err Transfer(void* ref, PF_Quality q, PF_ModeFlags f, PF_Field field, const PF_Rect* r,
                           const PF_EffectWorld* src, const PF_CompositeMode* mode, const PF_MaskWorld* mask,
                           A_long x, A_long y, PF_EffectWorld* dst) {
        ++transfers;
        if (mode) modes.push_back(*mode);
        if (transfers == failTransferAt) return failErr;
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
        if (m) matrix = *m;
        if (mode) transformMode = *mode;
        transformFlags = f;
        src2dst = s2d;
        numMatrices = n;
        return host::TransformWorld(ref, q, f, field, src, mode, mask, m, n, s2d, rect, dst);
    }
};

PF_WorldTransformSuite1 g_transformSuite{};
PF_Iterate8Suite1 g_iterate8Suite{};
PF_iterateFloatSuite1 g_iterateFloatSuite{};

class HostCompositing : public ::testing::Test {
protected:
    void SetUp() override {
        host::HandleTable::Instance().Reset();
        host::WorldTable::Instance().Reset();
        auto& registry = host::SuiteRegistry::Instance();
        registry.ClearFaults();
        registry.ResetBooks();
        std::string pattern = (fs::temp_directory_path() / "uf3_comp_XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_home = pattern;
        if (const char* old = std::getenv("HOME")) m_oldHome = old;
        setenv("HOME", m_home.c_str(), 1);

        m_host = std::make_unique<host::Host>();
        H().Utils().transform_world = &Spy::Transform;
        g_transformSuite = *host::WorldTransformSuite();
        g_transformSuite.transfer_rect = &Spy::Transfer;
        g_iterate8Suite = *host::Iterate8Suite();
        g_iterate8Suite.iterate = &Spy::Iterate8;
        g_iterateFloatSuite = *host::IterateFloatSuite();
        g_iterateFloatSuite.iterate = &Spy::IterateFloat;
        registry.Register(kPFWorldTransformSuite, kPFWorldTransformSuiteVersion1, &g_transformSuite);
        registry.Register(kPFIterate8Suite, kPFIterate8SuiteVersion1, &g_iterate8Suite);
        registry.Register(kPFIterateFloatSuite, kPFIterateFloatSuiteVersion1, &g_iterateFloatSuite);
        Spy::Reset();
    }

    void TearDown() override {
        for (PF_EffectWorld* w : m_worlds) host::WorldTable::Instance().Dispose(w);
        m_worlds.clear();
        auto& registry = host::SuiteRegistry::Instance();
        registry.ClearFaults();
        EXPECT_EQ(registry.Outstanding(), 0) << registry.Describe();
        EXPECT_EQ(registry.OverReleased(), 0) << registry.Describe();
        EXPECT_EQ(host::WorldTable::Instance().Alive(), 0u) << "worlds leaked";
        EXPECT_EQ(host::WorldTable::Instance().Misuses(), 0);
        m_host.reset();
        if (m_oldHome.empty()) unsetenv("HOME");
        else setenv("HOME", m_oldHome.c_str(), 1);
        std::error_code ec;
        fs::remove_all(m_home, ec);
    }

    host::Host& H() { return *m_host; }
    PF_InData* In() { return &H().In(); }

    PF_EffectWorld* World(int w, int h, int depth, int ox = 0, int oy = 0) {
        auto world = std::make_unique<PF_EffectWorld>();
        EXPECT_EQ(host::WorldTable::Instance().New(w, h, true,
                                                   depth == 8 ? PF_PixelFormat_ARGB32 : PF_PixelFormat_ARGB128,
                                                   world.get()),
                  PF_Err_NONE);
        world->origin_x = ox;
        world->origin_y = oy;
        m_worlds.push_back(world.get());
        m_owned.push_back(std::move(world));
        return m_worlds.back();
    }

    template <typename P>
    static P& At(PF_EffectWorld* w, int x, int y = 0) {
        return reinterpret_cast<P*>(reinterpret_cast<char*>(w->data) + size_t(y) * size_t(w->rowbytes))[x];
    }

    // A record for one render at `depth`, compositing the texture normally.
    void Prepare(myParams& p, int depth, PF_EffectWorld* out) {
        p.in_data = In();
        p.bitdepth = static_cast<int16_t>(depth);
        p.output_worldP = out;
        p.textureComp.xfer = PF_Xfer_IN_FRONT;
        p.textureStrength = 1.0;
        p.sourceComp.xfer = PF_Xfer_IN_FRONT;
    }

    std::string Log() {
        std::ifstream f(m_home / "Library/Logs/Nimbral/umbrafex_3_error_log.txt");
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }

    size_t Lines(const std::string& text) {
        std::istringstream log(Log());
        size_t n = 0;
        for (std::string line; std::getline(log, line);) n += line.find(text) != std::string::npos;
        return n;
    }

    size_t WorldsAlive() { return host::WorldTable::Instance().Alive(); }

    std::unique_ptr<host::Host> m_host;
    std::vector<PF_EffectWorld*> m_worlds;
    std::vector<std::unique_ptr<PF_EffectWorld>> m_owned;
    fs::path m_home;
    std::string m_oldHome;
};

TEST_F(HostCompositing, WithoutTextureOrSourceTheShadowComesBackAsItWas) {
    for (int depth : {8, 32}) {
        SCOPED_TRACE(depth);
        PF_EffectWorld* out = World(3, 2, depth, 5, -2);
        if (depth == 8) {
            At<PF_Pixel>(out, 0) = {0, 200, 100, 50};
            At<PF_Pixel>(out, 1) = {51, 1, 2, 3};
            At<PF_Pixel>(out, 2, 1) = {255, 9, 8, 7};
        } else {
            At<PF_PixelFloat>(out, 0) = {0.0f, 0.8f, 0.4f, 0.2f};
            At<PF_PixelFloat>(out, 1) = {0.2f, 0.1f, 0.2f, 0.3f};
            At<PF_PixelFloat>(out, 2, 1) = {1.0f, 0.5f, 0.5f, 0.5f};
        }
        std::vector<char> before(size_t(out->rowbytes) * out->height);
        std::memcpy(before.data(), out->data, before.size());
        const size_t alive = WorldsAlive();
        myParams p{};
        Prepare(p, depth, out);
        AEGP_SuiteHandler suites(In()->pica_basicP);
        Spy::Reset();
        ASSERT_EQ(CompTextureAndInput(In(), p, suites), PF_Err_NONE);
        EXPECT_EQ(std::memcmp(before.data(), out->data, before.size()), 0);
        EXPECT_EQ(depth == 8 ? Spy::iterate8 : Spy::iterateFloat, 2);  // raised, then restored
        EXPECT_EQ(Spy::transfers, 0);
        EXPECT_EQ(WorldsAlive(), alive);
    }
}

TEST_F(HostCompositing, TextureBlendsWithTheOpaqueShadowColourThenTheAlphaReturns) {
    PF_EffectWorld* out = World(2, 1, 8);
    At<PF_Pixel>(out, 0) = {128, 200, 100, 50};
    At<PF_Pixel>(out, 1) = {0, 200, 100, 50};
    PF_EffectWorld* tex = World(2, 1, 8);
    At<PF_Pixel>(tex, 0) = {255, 10, 20, 30};
    At<PF_Pixel>(tex, 1) = {255, 10, 20, 30};
    myParams p{};
    Prepare(p, 8, out);
    p.noise_worldP = tex;
    p.textureStrength = 0.5;  // opacity trunc(127.5) = 127
    AEGP_SuiteHandler suites(In()->pica_basicP);
    ASSERT_EQ(CompTextureAndInput(In(), p, suites), PF_Err_NONE);
    EXPECT_EQ(p.textureComp.opacity, 127);
    EXPECT_TRUE(p.textureComp.rgb_only);
    // Over an opaque shadow: (127 * texture + 128 * shadow) / 255 per channel,
    // 105.37, 60.16, 40.04; then the shadow's alpha comes back.
    ExpectPixel(At<PF_Pixel>(out, 0), 128, 105, 60, 40);
    ExpectPixel(At<PF_Pixel>(out, 1), 0, 105, 60, 40);
}

TEST_F(HostCompositing, StencilModesSkipTheAlphaSteps) {
    const PF_TransferMode stencils[] = {PF_Xfer_MULTIPLY_ALPHA, PF_Xfer_MULTIPLY_ALPHA_LUMA,
                                        PF_Xfer_MULTIPLY_NOT_ALPHA, PF_Xfer_MULTIPLY_NOT_ALPHA_LUMA};
    for (PF_TransferMode mode : {PF_TransferMode(PF_Xfer_IN_FRONT), stencils[0], stencils[1], stencils[2],
                                 stencils[3], PF_TransferMode(PF_Xfer_MULTIPLY)}) {
        SCOPED_TRACE(mode);
        PF_EffectWorld* out = World(2, 1, 32);
        At<PF_PixelFloat>(out, 0) = {0.5f, 0.8f, 0.4f, 0.2f};
        PF_EffectWorld* tex = World(2, 1, 32);
        At<PF_PixelFloat>(tex, 0) = {1.0f, 0.1f, 0.2f, 0.3f};
        myParams p{};
        Prepare(p, 32, out);
        p.noise_worldP = tex;
        p.textureComp.xfer = mode;
        AEGP_SuiteHandler suites(In()->pica_basicP);
        Spy::Reset();
        ASSERT_EQ(CompTextureAndInput(In(), p, suites), PF_Err_NONE);
        const bool stencil = mode >= PF_Xfer_MULTIPLY_ALPHA && mode <= PF_Xfer_MULTIPLY_NOT_ALPHA_LUMA;
        EXPECT_EQ(Spy::iterateFloat, stencil ? 0 : 2);
        EXPECT_EQ(Spy::iterate8, 0);
        ASSERT_EQ(Spy::modes.size(), 1u);
        EXPECT_EQ(Spy::modes[0].xfer, mode);
    }
}

TEST_F(HostCompositing, AlphaBiasCutsTheShadowOutOfTheTexture) {
    // Output columns 0..3 at layer x -5..-2; the texture covers x -3..-2,
    // that is output columns 2 and 3. Shadow alphas there: 0 and 0.2.
    for (int depth : {8, 32}) {
        for (double bias : {1.0, 0.0}) {
            SCOPED_TRACE(std::to_string(depth) + " bias " + std::to_string(bias));
            PF_EffectWorld* out = World(4, 1, depth, -5, 3);
            PF_EffectWorld* tex = World(2, 1, depth, -3, 3);
            const A_u_char alphas[4] = {255, 0, 0, 51};
            for (int x = 0; x < 4; ++x) {
                if (depth == 8) At<PF_Pixel>(out, x) = {alphas[x], 200, 100, 50};
                else At<PF_PixelFloat>(out, x) = {alphas[x] / 255.0f, 0.8f, 0.4f, 0.2f};
            }
            for (int x = 0; x < 2; ++x) {
                if (depth == 8) At<PF_Pixel>(tex, x) = {255, 10, 20, 30};
                else At<PF_PixelFloat>(tex, x) = {1.0f, 0.1f, 0.2f, 0.3f};
            }
            const size_t alive = WorldsAlive();
            myParams p{};
            Prepare(p, depth, out);
            p.noise_worldP = tex;
            p.textureAlphaBias = bias;
            AEGP_SuiteHandler suites(In()->pica_basicP);
            Spy::Reset();
            ASSERT_EQ(CompTextureAndInput(In(), p, suites), PF_Err_NONE);
            EXPECT_EQ(WorldsAlive(), alive);
            if (bias > 0) {
                ASSERT_EQ(Spy::modes.size(), 2u);
                EXPECT_EQ(Spy::modes[0].xfer, PF_Xfer_MULTIPLY_NOT_ALPHA);
                EXPECT_EQ(Spy::modes[0].opacity, 255);
                EXPECT_FALSE(Spy::modes[0].rgb_only);
                EXPECT_TRUE(Spy::modes[1].rgb_only);  // also left in the record
            } else {
                EXPECT_EQ(Spy::modes.size(), 1u);
            }
            EXPECT_TRUE(p.textureComp.rgb_only);
            EXPECT_EQ(p.textureComp.opacity, 255);
            if (depth == 8) {
                ExpectPixel(At<PF_Pixel>(out, 0), 255, 200, 100, 50);
                ExpectPixel(At<PF_Pixel>(out, 1), 0, 200, 100, 50);
                ExpectPixel(At<PF_Pixel>(out, 2), 0, 10, 20, 30);
                // Bias: texture alpha 255 * (1 - 0.2) = 204, so 0.8 texture + 0.2 shadow:
                // 48, 36, 34. Without: the texture alone.
                if (bias > 0) ExpectPixel(At<PF_Pixel>(out, 3), 51, 48, 36, 34);
                else ExpectPixel(At<PF_Pixel>(out, 3), 51, 10, 20, 30);
            } else {
                ExpectPixel(At<PF_PixelFloat>(out, 0), 1.0f, 0.8f, 0.4f, 0.2f);
                ExpectPixel(At<PF_PixelFloat>(out, 2), 0.0f, 0.1f, 0.2f, 0.3f);
                const float a = 51 / 255.0f;
                if (bias > 0) ExpectPixel(At<PF_PixelFloat>(out, 3), a, 0.24f, 0.24f, 0.28f, 1e-5f);
                else ExpectPixel(At<PF_PixelFloat>(out, 3), a, 0.1f, 0.2f, 0.3f, 1e-5f);
            }
        }
    }
}

TEST_F(HostCompositing, TextureBesideTheOutputLeavesTheShadowColours) {
    for (double bias : {0.0, 0.7}) {
        SCOPED_TRACE(bias);
        PF_EffectWorld* out = World(2, 1, 8);
        At<PF_Pixel>(out, 0) = {90, 200, 100, 50};
        PF_EffectWorld* tex = World(2, 1, 8, 2, 0);  // touching, not overlapping
        At<PF_Pixel>(tex, 0) = {255, 10, 20, 30};
        At<PF_Pixel>(tex, 1) = {255, 10, 20, 30};
        myParams p{};
        Prepare(p, 8, out);
        p.noise_worldP = tex;
        p.textureAlphaBias = bias;
        p.textureStrength = 0.2;  // 51
        AEGP_SuiteHandler suites(In()->pica_basicP);
        Spy::Reset();
        ASSERT_EQ(CompTextureAndInput(In(), p, suites), PF_Err_NONE);
        ASSERT_EQ(Spy::modes.size(), 1u);  // the direct transfer, even with a bias
        EXPECT_EQ(Spy::modes[0].opacity, 51);
        EXPECT_TRUE(Spy::modes[0].rgb_only);
        ExpectPixel(At<PF_Pixel>(out, 0), 90, 200, 100, 50);
        ExpectPixel(At<PF_Pixel>(out, 1), 0, 0, 0, 0);
    }
}

TEST_F(HostCompositing, SourceLayerGoesOverUnlessItsOpacityIsZero) {
    for (A_u_char opacity : {A_u_char(255), A_u_char(0)}) {
        SCOPED_TRACE(int(opacity));
        PF_EffectWorld* out = World(4, 1, 8, 10, 0);
        for (int x = 0; x < 4; ++x) At<PF_Pixel>(out, x) = {128, 100, 50, 25};
        PF_EffectWorld* input = World(2, 1, 8, 11, 0);  // over output columns 1 and 2
        At<PF_Pixel>(input, 0) = {255, 255, 0, 0};
        At<PF_Pixel>(input, 1) = {0, 0, 255, 0};
        myParams p{};
        Prepare(p, 8, out);
        p.input_worldP = input;
        p.sourceComp.opacity = opacity;
        AEGP_SuiteHandler suites(In()->pica_basicP);
        Spy::Reset();
        ASSERT_EQ(CompTextureAndInput(In(), p, suites), PF_Err_NONE);
        EXPECT_EQ(Spy::transfers, opacity ? 1 : 0);
        ExpectPixel(At<PF_Pixel>(out, 0), 128, 100, 50, 25);
        if (opacity) ExpectPixel(At<PF_Pixel>(out, 1), 255, 255, 0, 0);
        else ExpectPixel(At<PF_Pixel>(out, 1), 128, 100, 50, 25);
        ExpectPixel(At<PF_Pixel>(out, 2), 128, 100, 50, 25);  // a transparent source changes nothing
        ExpectPixel(At<PF_Pixel>(out, 3), 128, 100, 50, 25);
    }
}

TEST_F(HostCompositing, HostFailureStopsTheLaterStepsIsLoggedOnceAndFreesTheWorlds) {
    for (PF_Err failure : {PF_Err_OUT_OF_MEMORY, PF_Interrupt_CANCEL}) {
        SCOPED_TRACE(failure);
        PF_EffectWorld* out = World(2, 1, 8);
        At<PF_Pixel>(out, 0) = {100, 1, 2, 3};
        PF_EffectWorld* tex = World(2, 1, 8);
        PF_EffectWorld* input = World(2, 1, 8);
        const size_t alive = WorldsAlive();
        myParams p{};
        Prepare(p, 8, out);
        p.noise_worldP = tex;
        p.input_worldP = input;
        p.sourceComp.opacity = 255;
        p.textureStrength = 0.4;
        AEGP_SuiteHandler suites(In()->pica_basicP);
        Spy::Reset();
        Spy::failTransferAt = 1;
        Spy::failErr = failure;
        EXPECT_EQ(CompTextureAndInput(In(), p, suites), failure);
        EXPECT_EQ(Spy::transfers, 1);  // the source transfer never came
        EXPECT_EQ(Spy::iterate8, 1);   // nor the alpha restoration
        EXPECT_EQ(p.textureComp.opacity, 102);
        EXPECT_EQ(WorldsAlive(), alive);
        EXPECT_EQ(Lines("CompTextureAndInput"), 1u);  // the cancel that follows is not logged
    }
}

TEST_F(HostCompositing, MissingWorldsAreRefusedNotFollowed) {
    myParams p{};
    AEGP_SuiteHandler suites(In()->pica_basicP);
    EXPECT_EQ(CompTextureAndInput(In(), p, suites), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(ViewNoiseSolo(In(), p, suites), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(VisualiseBufferData(In(), nullptr, p), PF_Err_NONE);
    EXPECT_EQ(Spy::transfers + Spy::iterate8 + Spy::iterateFloat, 0);
}

TEST_F(HostCompositing, ViewTextureShowsTheTextureAlone) {
    PF_EffectWorld* out = World(4, 1, 8, 0, 0);
    for (int x = 0; x < 4; ++x) At<PF_Pixel>(out, x) = {255, 200, 100, 50};
    PF_EffectWorld* tex = World(2, 1, 8, 1, 0);
    At<PF_Pixel>(tex, 0) = {40, 10, 20, 30};
    At<PF_Pixel>(tex, 1) = {0, 0, 0, 0};
    myParams p{};
    Prepare(p, 8, out);
    p.noise_worldP = tex;
    AEGP_SuiteHandler suites(In()->pica_basicP);
    ASSERT_EQ(ViewNoiseSolo(In(), p, suites), PF_Err_NONE);
    ASSERT_EQ(Spy::modes.size(), 1u);
    EXPECT_EQ(Spy::modes[0].xfer, PF_Xfer_COPY);
    EXPECT_EQ(Spy::modes[0].opacity, 255);
    ExpectPixel(At<PF_Pixel>(out, 0), 0, 0, 0, 0);
    ExpectPixel(At<PF_Pixel>(out, 1), 40, 10, 20, 30);
    ExpectPixel(At<PF_Pixel>(out, 2), 0, 0, 0, 0);
    ExpectPixel(At<PF_Pixel>(out, 3), 0, 0, 0, 0);

    Spy::failTransferAt = 2;
    Spy::failErr = PF_Err_INTERNAL_STRUCT_DAMAGED;
    EXPECT_EQ(ViewNoiseSolo(In(), p, suites), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_NE(Log().find("ViewNoiseSolo()"), std::string::npos);
}

TEST_F(HostCompositing, VisualiseBufferDataDrawsEachBufferWhereItLies) {
    PF_EffectWorld* out = World(6, 1, 8, 10, 0);
    for (int x = 0; x < 6; ++x) At<PF_Pixel>(out, x) = {255, 1, 2, 3};
    PF_EffectWorld* tex = World(2, 1, 8, 11, 0);
    PF_EffectWorld* input = World(2, 1, 8, 13, 0);
    PF_EffectWorld* unused = World(2, 1, 8, 10, 0);
    unused->extent_hint = {0, 0, 0, 1};  // empty: not drawn
    const size_t alive = WorldsAlive();
    myParams p{};
    Prepare(p, 8, out);
    p.noise_worldP = tex;
    p.input_worldP = input;
    ASSERT_EQ(VisualiseBufferData(In(), nullptr, p), PF_Err_NONE);
    EXPECT_EQ(WorldsAlive(), alive);
    const PF_Pixel red{128, 255, 0, 0}, green{128, 0, 255, 0}, blue{128, 0, 0, 255};
    const PF_CompositeMode front{PF_Xfer_IN_FRONT, 0, 255, false, 0};
    const PF_Pixel overBlue = host::Composite(blue, red, front, 0, 0, false);
    const PF_Pixel overGreen = host::Composite(green, red, front, 0, 0, false);
    ExpectPixel(At<PF_Pixel>(out, 0), 128, 255, 0, 0);
    for (int x : {1, 2}) ExpectPixel(At<PF_Pixel>(out, x), overBlue.alpha, overBlue.red, overBlue.green, overBlue.blue);
    for (int x : {3, 4})
        ExpectPixel(At<PF_Pixel>(out, x), overGreen.alpha, overGreen.red, overGreen.green, overGreen.blue);
    ExpectPixel(At<PF_Pixel>(out, 5), 128, 255, 0, 0);
    EXPECT_GT(overBlue.blue, overBlue.red);

    p.noise_worldP = unused;
    p.input_worldP = nullptr;
    Spy::Reset();
    ASSERT_EQ(VisualiseBufferData(In(), nullptr, p), PF_Err_NONE);
    EXPECT_EQ(Spy::transfers, 0);
}

TEST_F(HostCompositing, ResamplingHandsTheHostAScaleOrTheIdentity) {
    PF_EffectWorld* src = World(4, 2, 8);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) At<PF_Pixel>(src, x, y) = {255, A_u_char(x * 60), A_u_char(y * 90), 7};
    PF_EffectWorld* same = World(4, 2, 8);
    ASSERT_EQ(XformLargerBufferIntoSmallerBuffer(In(), src, same), PF_Err_NONE);
    const PF_FloatMatrix identity{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
    EXPECT_EQ(std::memcmp(&Spy::matrix, &identity, sizeof identity), 0);
    EXPECT_EQ(Spy::transformFlags, PF_MF_Alpha_STRAIGHT);
    EXPECT_TRUE(Spy::src2dst);
    EXPECT_EQ(Spy::numMatrices, 1);
    EXPECT_EQ(Spy::transformMode.xfer, PF_Xfer_IN_FRONT);
    EXPECT_EQ(Spy::transformMode.opacity, 255);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) {
            const PF_Pixel& a = At<PF_Pixel>(src, x, y);
            ExpectPixel(At<PF_Pixel>(same, x, y), a.alpha, a.red, a.green, a.blue);
        }

    PF_EffectWorld* half = World(2, 1, 8);
    ASSERT_EQ(XformLargerBufferIntoSmallerBuffer(In(), src, half), PF_Err_NONE);
    const PF_FloatMatrix scale{{{0.5, 0, 0}, {0, 0.5, 0}, {0, 0, 1}}};
    EXPECT_EQ(std::memcmp(&Spy::matrix, &scale, sizeof scale), 0);
    EXPECT_EQ(Spy::transforms, 2);

    EXPECT_EQ(XformLargerBufferIntoSmallerBuffer(In(), nullptr, half), PF_Err_NONE);
    EXPECT_EQ(XformLargerBufferIntoSmallerBuffer(In(), src, nullptr), PF_Err_NONE);
    EXPECT_EQ(Spy::transforms, 2);
}

TEST_F(HostCompositing, RotationTurnsAboutItsCentreAndZeroIsBitForBit) {
    PF_FloatMatrix m{{{0.1, -0.0, 0}, {std::numeric_limits<double>::quiet_NaN(), 1, 0}, {3, -0.0, 1}}};
    const PF_FloatMatrix before = m;
    EXPECT_EQ(RotateMatrix(&m, In(), 0.0, 4, 5), PF_Err_NONE);
    EXPECT_EQ(std::memcmp(&m, &before, sizeof m), 0);
    EXPECT_EQ(host::SuiteRegistry::Instance().Acquired(kPFANSISuite, kPFANSISuiteVersion1), 0);

    SetIdentityMatrix(&m);
    ASSERT_EQ(RotateMatrix(&m, In(), 90.0, 10, 0), PF_Err_NONE);
    double x, y;
    Apply(m, 11, 0, &x, &y);  // a quarter turn about (10, 0)
    EXPECT_NEAR(x, 10.0, 1e-12);
    EXPECT_NEAR(y, 1.0, 1e-12);
    EXPECT_EQ(host::SuiteRegistry::Instance().Outstanding(kPFANSISuite, kPFANSISuiteVersion1), 0);

    PF_InData bare{};
    EXPECT_THROW(RotateMatrix(&m, &bare, 90.0, 0, 0), A_long);
}

}  // namespace
