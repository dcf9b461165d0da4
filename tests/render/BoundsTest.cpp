// Shadow bounds on hand-computed rectangles, and smart pre-render driven by
// the in-process host: checkouts, output rectangles, the pre-render block
// and the cache identity.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <numbers>
#include <sstream>
#include <string>

#include "host/HandleSuite.h"
#include "host/Host.h"
#include "host/SuiteRegistry.h"
#include "host/WorldSuite.h"
#include "params/UF3_ParamIndex.h"
#include "params/UF3_ParamTable.h"
#include "render/UF3_Bounds.h"
#include "shell/UF3.h"

namespace fs = std::filesystem;

namespace {

void ExpectRect(const PF_LRect& r, A_long l, A_long t, A_long rr, A_long b) {
    EXPECT_EQ(r.left, l);
    EXPECT_EQ(r.top, t);
    EXPECT_EQ(r.right, rr);
    EXPECT_EQ(r.bottom, b);
}

// ---- Rectangle operations ----

TEST(RectOps, UnionTreatsEmptyRectanglesAsAbsent) {
    PF_LRect dst{0, 0, 0, 0};
    const PF_LRect src{5, 6, 7, 8};
    UnionLRect(&src, &dst);
    ExpectRect(dst, 5, 6, 7, 8);

    const PF_LRect inverted{10, 10, 2, 20};  // left past right: empty
    UnionLRect(&inverted, &dst);
    ExpectRect(dst, 5, 6, 7, 8);

    const PF_LRect far{-3, 7, 2, 30};
    UnionLRect(&far, &dst);
    ExpectRect(dst, -3, 6, 7, 30);

    // An empty destination takes even an empty source.
    PF_LRect emptyDst{4, 4, 4, 9};
    UnionLRect(&inverted, &emptyDst);
    ExpectRect(emptyDst, 10, 10, 2, 20);

    UnionLRect(nullptr, &dst);
    UnionLRect(&src, nullptr);
    ExpectRect(dst, -3, 6, 7, 30);
}

TEST(RectOps, IntersectCopiesAnEmptyFirstAndKeepsAnEmptyDestination) {
    PF_LRect dst{0, 0, 100, 50};
    const PF_LRect a{20, -10, 150, 30};
    IntersectLRect(&a, &dst);
    ExpectRect(dst, 20, 0, 100, 30);

    const PF_LRect disjoint{200, 0, 300, 10};
    IntersectLRect(&disjoint, &dst);
    ExpectRect(dst, 200, 0, 100, 10);  // the overlap may come out empty
    EXPECT_TRUE(IsEmptyRect(dst));

    PF_LRect kept{5, 5, 5, 5};
    IntersectLRect(&a, &kept);
    ExpectRect(kept, 5, 5, 5, 5);

    PF_LRect over{0, 0, 10, 10};
    const PF_LRect emptyA{3, 9, 8, 9};
    IntersectLRect(&emptyA, &over);
    ExpectRect(over, 3, 9, 8, 9);
}

TEST(RectOps, GrowingAnEmptyRectangleMakesARealOne) {
    // The Raytraced empty-input road relies on it.
    ExpectRect(GrowRect({0, 0, 0, 0}, 3), -3, -3, 3, 3);
    DisposePreRenderData(nullptr);
}

// ---- Directional bounds ----

TEST(DirectionalBounds, SoftnessZeroMovesTheRectangleAlongTheLight) {
    // cos 0.6 = 0.8253, sin 0.6 = 0.5646: moved by 25 × those, floor on the
    // near side, ceil on the far side.
    ExpectRect(CalculateDirectionalLightShadowBounds({10, 20, 110, 70}, 0.6f, 0.0f, 25.0f), 10, 20, 131, 85);
    // In single precision sin(pi) is -8.7e-8, not 0: the floor takes the top one pixel up.
    ExpectRect(CalculateDirectionalLightShadowBounds({0, 0, 50, 40}, std::numbers::pi_v<float>, 0.0f, 10.0f), -10,
               -1, 50, 40);
}

TEST(DirectionalBounds, SoftnessOneGrowsByTheDistanceEverywhere) {
    ExpectRect(CalculateDirectionalLightShadowBounds({0, 0, 100, 50}, 0.3f, 1.0f, 12.5f), -13, -13, 113, 63);
    ExpectRect(CalculateDirectionalLightShadowBounds({0, 0, 100, 50}, -2.0f, 1.0f, 12.5f), -13, -13, 113, 63);
}

TEST(DirectionalBounds, PartialSpreadTakesTheExtremeInsideTheArc) {
    // Spread pi/2 about 0: cosine over [-pi/4, pi/4] is [0.707, 1] (peak
    // inside), sine is [-0.707, 0.707].
    ExpectRect(CalculateDirectionalLightShadowBounds({0, 0, 20, 20}, 0.0f, 0.25f, 10.0f), 0, -8, 30, 28);
}

TEST(DirectionalBounds, ReachBeyondTheIntegerRangeClamps) {
    const A_long lo = std::numeric_limits<A_long>::min(), hi = std::numeric_limits<A_long>::max();
    ExpectRect(CalculateDirectionalLightShadowBounds({0, 0, 10, 10}, 0.0f, 1.0f, 1e30f), lo, lo, hi, hi);
}

TEST(DirectionalBounds, EmptyRectanglesOnEitherSide) {
    // Empty input: the moved rectangle alone.
    ExpectRect(CalculateDirectionalLightShadowBounds({5, 5, 5, 5}, 0.0f, 1.0f, 3.0f), 2, 2, 8, 8);
    // A negative distance turns the moved rectangle inside out: the input stays.
    ExpectRect(CalculateDirectionalLightShadowBounds({0, 0, 30, 30}, 0.0f, 1.0f, -20.0f), 0, 0, 30, 30);
}

// ---- Point-light bounds ----

// The record is neither copyable nor movable: fill one in place.
myParams& PointRecord(myParams& p, float radius, float shadowLength, float offsetPct = 0.0f) {
    p.lightRadiusSD = radius;
    p.shadowLengthSD = shadowLength;
    p.pointShadowOffset = offsetPct;
    return p;
}

TEST(PointBounds, ADiscOverTheRectangleGrowsItByTheReach) {
    // Reach L = (0.5 × 0.01 + 1) × 20 + 10 = 30.1 -> 31.
    myParams p{};
    PointRecord(p, 4.0f, 20.0f, 0.5f);
    const PF_LRect rect{0, 0, 100, 100};
    const float inside[2] = {50.0f, 50.0f};
    ExpectRect(CalculatePointLightShadowBounds(rect, inside, p), -31, -31, 131, 131);
    const float touching[2] = {104.0f, 50.0f};  // 4 from the edge, radius 4
    ExpectRect(CalculatePointLightShadowBounds(rect, touching, p), -31, -31, 131, 131);
    const float clear[2] = {104.5f, 50.0f};
    // Clear of it: thrown left only, to l - 30.1.
    const PF_LRect r = CalculatePointLightShadowBounds(rect, clear, p);
    EXPECT_EQ(r.left, -31);
    EXPECT_EQ(r.right, 100);
}

TEST(PointBounds, CornersArePushedAlongTheTangentsAndFloored) {
    // Radius 0: each corner moves 50 straight away from the light.
    // (0,0) -> (30,40); (60,0) -> (105.69,20.31); (60,40) -> (97.37,73.22);
    // (0,40) -> (17.56,86.82). All four sides floor, the far ones too.
    myParams p{};
    PointRecord(p, 0.0f, 40.0f);
    const float light[2] = {-30.0f, -40.0f};
    ExpectRect(CalculatePointLightShadowBounds({0, 0, 60, 40}, light, p), 0, 0, 105, 86);
}

TEST(PointBounds, ALightBesideTheRectangleThrowsTheShadowStraightAcross) {
    // Light level with the rectangle on its left: the right side is r + L =
    // 110, not the far corner's 108.8. Top from corner (0,0): 40 - 27.7 -> -28.
    myParams p{};
    PointRecord(p, 0.0f, 40.0f);
    const float light[2] = {-30.0f, 20.0f};
    ExpectRect(CalculatePointLightShadowBounds({0, 0, 60, 40}, light, p), 0, -28, 110, 67);
}

TEST(PointBounds, InverseShadowRunsTowardsTheLight) {
    // Reach 21: corners pulled towards (-30,-40): (-12.6,-16.8), (40.8,-8.5),
    // (44.3,26.0), (-7.4,20.3). S = (-13,-17,45,27) with the rectangle; the
    // light box (-30,-40,-29,-39) with the rectangle bounds it.
    myParams p{};
    PointRecord(p, 0.0f, 11.0f);
    const float light[2] = {-30.0f, -40.0f};
    ExpectRect(CalculateInverseShadowBounds({0, 0, 60, 40}, light, p), -13, -17, 60, 40);
    p.autoShadowLength = true;
    ExpectRect(CalculateInverseShadowBounds({0, 0, 60, 40}, light, p), -30, -40, 60, 40);
}

TEST(PointBounds, InverseAutoLengthIsTheRectangleWithTheLightBox) {
    myParams p{};
    PointRecord(p, 4.0f, 500.0f);
    p.autoShadowLength = true;
    const float light[2] = {120.5f, 40.0f};
    ExpectRect(CalculateInverseShadowBounds({0, 0, 100, 80}, light, p), 0, 0, 125, 80);
}

TEST(PointBounds, InverseWithTheLightDeepInsideKeepsTheRectangle) {
    myParams p{};
    PointRecord(p, 5.0f, 500.0f);
    const float light[2] = {30.5f, 20.25f};
    ExpectRect(CalculateInverseShadowBounds({0, 0, 100, 80}, light, p), 0, 0, 100, 80);
    // A disc past every side: all four sides fall back to the reach, then the
    // light box (-1,-1,11,11) limits them.
    myParams q{};
    PointRecord(q, 5.5f, 11.0f);
    const float centre[2] = {5.0f, 5.0f};
    ExpectRect(CalculateInverseShadowBounds({0, 0, 10, 10}, centre, q), -1, -1, 11, 11);
}

TEST(PointBounds, OutputRectPicksTheRoadFromTheRecord) {
    myParams p{};
    PointRecord(p, 0.0f, 40.0f);
    p.lightOriginRT[0] = -30.0;
    p.lightOriginRT[1] = -40.0;
    PF_CheckoutResult result{};
    result.max_result_rect = {0, 0, 60, 40};
    ExpectRect(CalculatePointLightOutputRect(p, result), 0, 0, 105, 86);
    p.sdInverseShadow = true;
    p.shadowLengthSD = 11.0f;
    ExpectRect(CalculatePointLightOutputRect(p, result), -13, -17, 60, 40);
    p.innerShadow = true;
    ExpectRect(CalculatePointLightOutputRect(p, result), 0, 0, 60, 40);
}

// ---- Smart pre-render through the host ----

class PreRender : public ::testing::Test {
protected:
    void SetUp() override {
        host::HandleTable::Instance().Reset();
        host::WorldTable::Instance().Reset();
        host::SuiteRegistry::Instance().ClearFaults();
        host::SuiteRegistry::Instance().ResetBooks();
        std::string pattern = (fs::temp_directory_path() / "uf3_bounds_XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_home = pattern;
        if (const char* old = std::getenv("HOME")) m_oldHome = old;
        setenv("HOME", m_home.c_str(), 1);

        m_host = std::make_unique<host::Host>();
        ASSERT_EQ(ParamsSetup(&H().In(), &H().Out(), nullptr, nullptr), PF_Err_NONE);
        H().SetEffectMain(&EffectMain);
        H().SetLayerSize(H().EffectLayer(), 200, 100);

        // A plain directional Standard shadow: 0 degrees casts straight up.
        Popup(UF3_RENDERER, UF3_RENDERER_STANDARD);
        Popup(UF3_LIGHT_TYPE, UF3_LIGHT_DIRECTIONAL);
        Degrees(UF3_LIGHT_DIRECTION, 0);
        Float(UF3_SHADOW_LENGTH, 30);
        Float(UF3_SHADOW_OFFSET_DIR, 4);
        Float(UF3_LIGHT_RADIUS_STD, 7.5);   // ceil -> 8
        Float(UF3_BUFFER_EXPANSION, 6);     // margin 3
        Float(UF3_JFA_PADDING, 2);
    }

    void TearDown() override {
        auto& suites = host::SuiteRegistry::Instance();
        suites.ClearFaults();
        EXPECT_EQ(suites.Outstanding(), 0) << suites.Describe();
        EXPECT_EQ(suites.OverReleased(), 0) << suites.Describe();
        EXPECT_EQ(H().CheckoutsOutstanding(), 0);
        m_host.reset();
        EXPECT_EQ(host::WorldTable::Instance().Alive(), 0u);
        EXPECT_EQ(host::HandleTable::Instance().Alive(), 0u);
        if (m_oldHome.empty()) unsetenv("HOME");
        else setenv("HOME", m_oldHome.c_str(), 1);
        std::error_code ec;
        fs::remove_all(m_home, ec);
    }

    host::Host& H() { return *m_host; }
    void Float(int i, double v) { H().Param(i).u.fs_d.value = v; }
    void Popup(int i, int v) { H().Param(i).u.pd.value = v; }
    void Check(int i, bool on) { H().Param(i).u.bd.value = on; }
    void Degrees(int i, double d) { H().Param(i).u.ad.value = PF_Fixed(d * 65536); }
    void Origin(double x, double y) {
        H().Param(UF3_LIGHT_ORIGIN).u.td.x_value = PF_Fixed(x * 65536);
        H().Param(UF3_LIGHT_ORIGIN).u.td.y_value = PF_Fixed(y * 65536);
    }

    PF_Err Run(host::RenderJob& job, PF_LRect request = {0, 0, 200, 100}) {
        job.request.rect = request;
        job.request.field = PF_Field_UPPER;  // the effect asks for frames whatever it is given
        return H().SmartPreRender(job);
    }

    static const preRenderData& Block(const host::RenderJob& job) {
        return *static_cast<const preRenderData*>(job.preOutput.pre_render_data);
    }

    std::string Log() {
        std::ifstream f(m_home / "Library/Logs/Nimbral/umbrafex_3_error_log.txt");
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }

    std::unique_ptr<host::Host> m_host;
    fs::path m_home;
    std::string m_oldHome;
};

void ExpectCheckout(const host::LayerCheckout& c, PF_ParamIndex index, A_long id, A_long l, A_long t, A_long r,
                    A_long b) {
    EXPECT_EQ(c.index, index);
    EXPECT_EQ(c.id, id);
    ExpectRect(c.request.rect, l, t, r, b);
    EXPECT_EQ(c.request.field, PF_Field_FRAME);
}

TEST_F(PreRender, StandardDirectionalMakesRoomForTheShadow) {
    host::RenderJob job;
    ASSERT_EQ(Run(job), PF_Err_NONE);

    ASSERT_EQ(job.checkouts.size(), 3u);
    ExpectCheckout(job.checkouts[0], UF3_INPUT, 555, 0, 0, 200, 100);
    ExpectCheckout(job.checkouts[1], UF3_INPUT, 0, -3, -3, 203, 103);
    EXPECT_FALSE(job.checkouts[1].request.preserve_rgb_of_zero_alpha);
    // Shadow vector (0,-30), offset vector (0,-4), all grown by 8 + 3 + 10.
    // Offset (0,-4,200,96) -> (-21,-25,221,117); shadow (0,-34,200,66) -> (-21,-55,221,87).
    ExpectCheckout(job.checkouts[2], UF3_TEXTURE_LAYER, 67, -21, -55, 221, 117);

    ExpectRect(job.preOutput.result_rect, -21, -55, 221, 117);
    ExpectRect(job.preOutput.max_result_rect, -21, -55, 221, 117);
    EXPECT_EQ(job.preOutput.flags, PF_RenderOutputFlag_RETURNS_EXTRA_PIXELS);
    ASSERT_NE(job.preOutput.pre_render_data, nullptr);
    EXPECT_EQ(job.preOutput.delete_pre_render_data_func, &DisposePreRenderData);

    const preRenderData& b = Block(job);
    EXPECT_EQ(b.centreOffset[0], 0.0);   // (200 + 0 - (221 - 21)) / 2
    EXPECT_EQ(b.centreOffset[1], 19.0);  // (100 + 0 - (117 - 55)) / 2
    EXPECT_EQ(b.pointPad, 0);
    ExpectRect(b.inputRequest, -3, -3, 203, 103);
    ExpectRect(b.inputResult, 0, 0, 200, 100);
    ExpectRect(b.inputMaxResult, 0, 0, 200, 100);
}

TEST_F(PreRender, StandardPointScalesTheInputAboutTheLight) {
    // Scale 1 + 80/800 + 10 * 0.001 = 1.11 about (100.5, 50.25): the near
    // sides truncate (-11.06 -> -11, -5.53 -> -5), the far ones ceil
    // (210.9 -> 211, 105.5 -> 106); all grown by 8 + 3 + 10 (radius 15 halves to 7.5).
    Popup(UF3_LIGHT_TYPE, UF3_LIGHT_POINT);
    Float(UF3_SHADOW_LENGTH, 80);
    Float(UF3_SHADOW_OFFSET_POINT, 10);
    Float(UF3_LIGHT_RADIUS_STD, 15);
    Origin(100.5, 50.25);
    host::RenderJob job;
    ASSERT_EQ(Run(job), PF_Err_NONE);
    ExpectRect(job.preOutput.result_rect, -32, -26, 232, 127);
    ExpectRect(job.preOutput.max_result_rect, -32, -26, 232, 127);
    ASSERT_EQ(job.checkouts.size(), 3u);
    ExpectCheckout(job.checkouts[2], UF3_TEXTURE_LAYER, 67, -32, -26, 232, 127);
}

TEST_F(PreRender, StandardInnerAndDefaultBufferKeepTheInputSize) {
    for (bool inner : {true, false}) {
        SCOPED_TRACE(inner ? "inner shadow" : "default buffer behaviour");
        Check(UF3_INNER_SHADOW, inner);
        Check(UF3_DEFAULT_BUFFER_BEHAVIOUR, !inner);
        host::RenderJob job;
        ASSERT_EQ(Run(job, {50, 20, 120, 60}), PF_Err_NONE);
        ASSERT_EQ(job.checkouts.size(), 3u);
        ExpectCheckout(job.checkouts[0], UF3_INPUT, 555, 50, 20, 120, 60);
        ExpectCheckout(job.checkouts[1], UF3_INPUT, 0, -3, -3, 203, 103);
        EXPECT_EQ(bool(job.checkouts[1].request.preserve_rgb_of_zero_alpha), inner);
        EXPECT_EQ(bool(job.checkouts[2].request.preserve_rgb_of_zero_alpha), inner);
        ExpectRect(job.preOutput.result_rect, 0, 0, 200, 100);
        ExpectRect(job.preOutput.max_result_rect, -3, -3, 203, 103);
        ExpectRect(Block(job).inputMaxResult, -3, -3, 203, 103);
        ExpectRect(Block(job).inputResult, 0, 0, 200, 100);
        EXPECT_EQ(Block(job).centreOffset[1], 0.0);
    }
}

TEST_F(PreRender, RaytracedDirectionalBoundsClipToTheRequest) {
    // Light direction 90 -> bounds angle 0; softness 0; distance 30 + 4.5.
    // Moved (34,0,235,100) with the input (0,0,235,100), grown by 3.
    Popup(UF3_RENDERER, UF3_RENDERER_RAYTRACED);
    Degrees(UF3_LIGHT_DIRECTION, 90);
    Float(UF3_LIGHT_SOFTNESS, 0);
    Float(UF3_SHADOW_OFFSET_DIR, 4.5);
    host::RenderJob job;
    ASSERT_EQ(Run(job, {10, 10, 300, 50}), PF_Err_NONE);
    ExpectRect(job.preOutput.max_result_rect, -3, -3, 238, 103);
    ExpectRect(job.preOutput.result_rect, 10, 10, 238, 50);
    ASSERT_EQ(job.checkouts.size(), 3u);
    ExpectCheckout(job.checkouts[0], UF3_INPUT, 555, 10, 10, 300, 50);
    ExpectCheckout(job.checkouts[1], UF3_INPUT, 0, 0, 0, 200, 100);
    ExpectCheckout(job.checkouts[2], UF3_TEXTURE_LAYER, 67, 0, 0, 238, 100);
    const preRenderData& b = Block(job);
    EXPECT_EQ(b.pointPad, 2 + 3);  // JFA padding plus the margin
    ExpectRect(b.inputRequest, 0, 0, 0, 0);
    ExpectRect(b.inputResult, 0, 0, 200, 100);
    ExpectRect(b.inputMaxResult, 0, 0, 200, 100);
    EXPECT_EQ(job.preOutput.flags, PF_RenderOutputFlag_RETURNS_EXTRA_PIXELS);
}

TEST_F(PreRender, RaytracedPointPadAndDiscOverTheLayer) {
    // Pad trunc(3.3 * 0.01 * 200) = 6, plus margin 3. The light sits on the
    // layer: grown by ceil((0.033 + 1) * 20 + 10) = 31, then by 3.
    Popup(UF3_RENDERER, UF3_RENDERER_RAYTRACED);
    Popup(UF3_LIGHT_TYPE, UF3_LIGHT_POINT);
    Float(UF3_SHADOW_OFFSET_POINT, 3.3);
    Float(UF3_SHADOW_LENGTH, 20);
    Origin(100, 50);
    host::RenderJob job;
    ASSERT_EQ(Run(job, {-100, -100, 150, 300}), PF_Err_NONE);
    EXPECT_EQ(Block(job).pointPad, 9);
    ExpectRect(job.preOutput.max_result_rect, -34, -34, 234, 134);
    ExpectRect(job.preOutput.result_rect, -34, -34, 150, 134);
}

TEST_F(PreRender, RaytracedEmptyInputAndDefaultBuffer) {
    Popup(UF3_RENDERER, UF3_RENDERER_RAYTRACED);
    {
        SCOPED_TRACE("default buffer behaviour");
        Check(UF3_DEFAULT_BUFFER_BEHAVIOUR, true);
        host::RenderJob job;
        ASSERT_EQ(Run(job, {50, 20, 120, 60}), PF_Err_NONE);
        ExpectRect(job.preOutput.result_rect, 0, 0, 200, 100);
        ExpectRect(job.preOutput.max_result_rect, 0, 0, 200, 100);
        EXPECT_EQ(Block(job).pointPad, 2);  // no margin on this road
        Check(UF3_DEFAULT_BUFFER_BEHAVIOUR, false);
    }
    // A layer without pixels: the empty maximum result grows by the margin
    // into (-3,-3,3,3); the result follows the intersection rules.
    H().SetLayerSize(H().EffectLayer(), 0, 0);
    {
        host::RenderJob job;
        ASSERT_EQ(Run(job, {0, 0, 200, 100}), PF_Err_NONE);
        ExpectRect(job.preOutput.max_result_rect, -3, -3, 3, 3);
        ExpectRect(job.preOutput.result_rect, 0, 0, 3, 3);
    }
    {
        host::RenderJob job;
        ASSERT_EQ(Run(job, {0, 0, 0, 0}), PF_Err_NONE);
        ExpectRect(job.preOutput.max_result_rect, -3, -3, 3, 3);
        ExpectRect(job.preOutput.result_rect, 0, 0, 0, 0);  // an empty request is copied
    }
}

TEST_F(PreRender, TextureLayerIsCheckedOutWhetherOrNotItIsSet) {
    for (bool present : {false, true}) {
        H().SetTextureLayerPresent(present);
        if (present) H().SetLayerSize(H().TextureLayer(), 30, 30);
        host::RenderJob job;
        ASSERT_EQ(Run(job), PF_Err_NONE);
        ASSERT_EQ(job.checkouts.size(), 3u);
        EXPECT_EQ(job.checkouts[2].index, UF3_TEXTURE_LAYER);
        EXPECT_EQ(job.checkouts[2].id, 67);
        EXPECT_EQ(IsEmptyRect(job.checkouts[2].result.max_result_rect), !present);
    }
}

TEST_F(PreRender, FailedCheckoutsStopTheLaterOnesButStillLeaveRectangles) {
    {
        H().FailLayerCheckout(UF3_INPUT, PF_Err_OUT_OF_MEMORY);
        host::RenderJob job;
        EXPECT_EQ(Run(job), PF_Err_OUT_OF_MEMORY);
        EXPECT_TRUE(job.checkouts.empty());
        ASSERT_NE(job.preOutput.pre_render_data, nullptr);
        EXPECT_EQ(job.preOutput.flags, PF_RenderOutputFlag_RETURNS_EXTRA_PIXELS);
        // Nothing was checked out: the shadow room is around an empty input.
        ExpectRect(job.preOutput.result_rect, -21, -55, 21, 17);
    }
    {
        H().FailLayerCheckout(UF3_TEXTURE_LAYER, PF_Interrupt_CANCEL);
        host::RenderJob job;
        EXPECT_EQ(Run(job), PF_Interrupt_CANCEL);
        EXPECT_EQ(job.checkouts.size(), 2u);
        ExpectRect(job.preOutput.result_rect, -21, -55, 221, 117);
    }
    for (PF_ParamIndex i : {UF3_INPUT, UF3_TEXTURE_LAYER}) {
        SCOPED_TRACE(i);
        Popup(UF3_RENDERER, UF3_RENDERER_RAYTRACED);
        H().FailLayerCheckout(i, PF_Err_INTERNAL_STRUCT_DAMAGED);
        host::RenderJob job;
        EXPECT_EQ(Run(job), PF_Err_INTERNAL_STRUCT_DAMAGED);
        EXPECT_EQ(job.checkouts.size(), i == UF3_INPUT ? 0u : 2u);
        EXPECT_EQ(job.preOutput.flags, PF_RenderOutputFlag_RETURNS_EXTRA_PIXELS);
    }
    H().FailLayerCheckout(-1, PF_Err_NONE);
}

TEST_F(PreRender, ParameterFailureIsLoggedAndSkipsEveryCheckout) {
    H().FailCheckoutAt(UF3_SAMPLES, PF_Err_OUT_OF_MEMORY);
    host::RenderJob job;
    EXPECT_EQ(Run(job), PF_Err_OUT_OF_MEMORY);
    H().FailCheckoutAt(-1);
    EXPECT_TRUE(job.checkouts.empty());
    EXPECT_NE(job.preOutput.pre_render_data, nullptr);
    EXPECT_NE(Log().find("PreRender:InitParams"), std::string::npos);
}

// ---- Cache identity ----

A_Matrix4 Placement() {
    A_Matrix4 m{};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) m.mat[r][c] = r * 4 + c + 0.25;
    return m;
}

TEST_F(PreRender, CacheIdentityIsMixedOnlyAfterVersion13Point8) {
    H().EffectLayer().toWorld = Placement();
    const struct {
        A_short major, minor;
        bool mixes;
    } versions[] = {{13, 8, false}, {12, 30, false}, {13, 9, true}, {14, 0, true}};
    for (const auto& v : versions) {
        SCOPED_TRACE(std::to_string(v.major) + "." + std::to_string(v.minor));
        H().In().version.major = v.major;
        H().In().version.minor = v.minor;
        const size_t before = H().GuidMixes().size();
        host::RenderJob job;
        ASSERT_EQ(Run(job), PF_Err_NONE);
        EXPECT_EQ(H().GuidMixes().size() - before, v.mixes ? 1u : 0u);
    }
}

TEST_F(PreRender, CacheIdentityBlockLayout) {
    H().In().version = {13, 9};
    H().In().downsample_x = {1, 2};
    H().In().downsample_y = {3, 4};
    H().In().current_time = 30;  // layer time 1 s
    H().EffectLayer().inPoint = {15, 30};
    const A_Matrix4 m = Placement();
    H().EffectLayer().toWorld = m;
    host::RenderJob job;
    ASSERT_EQ(Run(job, {-7, 8, 90, 91}), PF_Err_NONE);
    ASSERT_EQ(H().GuidMixes().size(), 1u);
    const std::vector<unsigned char>& bytes = H().GuidMixes()[0];
    ASSERT_EQ(bytes.size(), 232u);
    EXPECT_EQ(std::memcmp(bytes.data(), &m, 128), 0);
    A_long ds[4];
    std::memcpy(ds, bytes.data() + 128, sizeof ds);
    EXPECT_EQ(ds[0], 1);
    EXPECT_EQ(ds[1], 2);
    EXPECT_EQ(ds[2], 3);
    EXPECT_EQ(ds[3], 4);
    for (size_t i = 144; i < 216; ++i) EXPECT_EQ(bytes[i], 0) << "byte " << i;
    A_long request[4];
    std::memcpy(request, bytes.data() + 216, sizeof request);
    EXPECT_EQ(request[0], -7);
    EXPECT_EQ(request[1], 8);
    EXPECT_EQ(request[2], 90);
    EXPECT_EQ(request[3], 91);
    // The transform is taken at comp time: layer time plus the in point.
    EXPECT_EQ(H().EffectLayer().lastTransformTime.value, 45);
    EXPECT_EQ(H().EffectLayer().lastTransformTime.scale, 30u);
}

TEST_F(PreRender, CollapsedLayersSkipTheMaskedBounds) {
    H().In().version = {13, 9};
    for (bool collapsed : {false, true}) {
        SCOPED_TRACE(collapsed ? "collapsed" : "not collapsed");
        host::Layer& layer = H().EffectLayer();
        layer.flags = collapsed ? (layer.flags | AEGP_LayerFlag_COLLAPSE) : (layer.flags & ~AEGP_LayerFlag_COLLAPSE);
        layer.maskedBoundsQueries = 0;
        layer.lastTransformTime = {-1, 1};
        host::RenderJob job;
        ASSERT_EQ(Run(job), PF_Err_NONE);
        EXPECT_EQ(layer.maskedBoundsQueries, collapsed ? 0 : 1);
        EXPECT_EQ(layer.lastTransformTime.value, 0);
        EXPECT_EQ(H().GuidMixes().back().size(), 232u);
    }
}

TEST_F(PreRender, NoMixingCallbackNoMixing) {
    H().In().version = {14, 0};
    H().SetGuidMixInAvailable(false);
    host::RenderJob job;
    ASSERT_EQ(Run(job), PF_Err_NONE);
    EXPECT_TRUE(H().GuidMixes().empty());
    EXPECT_EQ(H().EffectLayer().maskedBoundsQueries, 0);
    EXPECT_EQ(job.checkouts.size(), 3u);
}

TEST_F(PreRender, MissingLayerSuiteEndsTheCommandBeforeAnythingIsAllocated) {
    H().In().version = {13, 9};
    host::SuiteRegistry::Instance().SetMissing(kAEGPLayerSuite, kAEGPLayerSuiteVersion13);
    host::RenderJob job;
    EXPECT_EQ(Run(job), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(job.preOutput.pre_render_data, nullptr);
    EXPECT_TRUE(job.checkouts.empty());
    // TearDown checks that the interface suite went back.
}

TEST(PreRenderRecords, MissingRecordsAreRefused) {
    PF_InData in{};
    PF_OutData out{};
    EXPECT_EQ(SmartPreRender(&in, &out, nullptr), PF_Err_BAD_CALLBACK_PARAM);
    PF_PreRenderExtra extra{};
    EXPECT_EQ(SmartPreRender(&in, &out, &extra), PF_Err_BAD_CALLBACK_PARAM);
}

}  // namespace
