// Shadow bounds on hand-computed rectangles, and smart pre-render driven by the in-process
// host: checkouts, output rectangles, the pre-render block and the cache identity.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <limits>
#include <numbers>
#include <string>
#include <tuple>
#include <vector>

#include "params/UF3_ParamTable.h"
#include "render/RenderFixture.h"
#include "render/UF3_Bounds.h"

namespace {

using Box = std::array<A_long, 4>;  // left, top, right, bottom
Box B(const PF_LRect& r) { return {r.left, r.top, r.right, r.bottom}; }

TEST(RectOps, UnionAndIntersectFollowTheEmptyRectangleRules) {
    const struct {
        bool unite;
        PF_LRect src, dst;
        Box want;
        const char* why;
    } cases[] = {
        {true, {5, 6, 7, 8}, {0, 0, 0, 0}, {5, 6, 7, 8}, "an empty destination takes the source"},
        {true, {10, 10, 2, 20}, {5, 6, 7, 8}, {5, 6, 7, 8}, "an empty source is absent"},
        {true, {-3, 7, 2, 30}, {5, 6, 7, 8}, {-3, 6, 7, 30}, "the union"},
        {true, {10, 10, 2, 20}, {4, 4, 4, 9}, {10, 10, 2, 20}, "an empty destination takes even an empty source"},
        {false, {20, -10, 150, 30}, {0, 0, 100, 50}, {20, 0, 100, 30}, "the overlap"},
        {false, {200, 0, 300, 10}, {20, 0, 100, 30}, {200, 0, 100, 10}, "the overlap may come out empty"},
        {false, {20, -10, 150, 30}, {5, 5, 5, 5}, {5, 5, 5, 5}, "an empty destination is kept"},
        {false, {3, 9, 8, 9}, {0, 0, 10, 10}, {3, 9, 8, 9}, "an empty first is copied"},
    };
    for (auto c : cases) {
        c.unite ? UnionLRect(&c.src, &c.dst) : IntersectLRect(&c.src, &c.dst);
        EXPECT_EQ(B(c.dst), c.want) << c.why;
    }
    EXPECT_TRUE(IsEmptyRect({200, 0, 100, 10}));
    PF_LRect r{1, 2, 3, 4};
    UnionLRect(nullptr, &r);
    UnionLRect(&r, nullptr);
    EXPECT_EQ(B(r), (Box{1, 2, 3, 4}));
    // The Raytraced empty-input road relies on an empty rectangle growing into a real one.
    EXPECT_EQ(B(GrowRect({0, 0, 0, 0}, 3)), (Box{-3, -3, 3, 3}));
    DisposePreRenderData(nullptr);
}

// The bounds are reached through the output rectangle of the record, which also routes an
// inner shadow to the input rectangle alone.
TEST(DirectionalBounds, HandComputedCases) {
    const A_long lo = std::numeric_limits<A_long>::min(), hi = std::numeric_limits<A_long>::max();
    const struct {
        PF_LRect rect;
        float angle, softness, distance;
        Box want;
        const char* why;
    } cases[] = {
        // cos 0.6 = 0.8253, sin 0.6 = 0.5646: moved by 25 × those, floor near, ceil far.
        {{10, 20, 110, 70}, 0.6f, 0.0f, 25.0f, {10, 20, 131, 85}, "softness 0 moves along the light"},
        // In single precision sin(pi) is -8.7e-8, not 0: the floor takes the top one pixel up.
        {{0, 0, 50, 40}, std::numbers::pi_v<float>, 0.0f, 10.0f, {-10, -1, 50, 40}, "softness 0 at pi"},
        {{0, 0, 100, 50}, 0.3f, 1.0f, 12.5f, {-13, -13, 113, 63}, "softness 1 grows by the distance"},
        {{0, 0, 100, 50}, -2.0f, 1.0f, 12.5f, {-13, -13, 113, 63}, "softness 1 whatever the angle"},
        // Spread pi/2 about 0: cosine over [-pi/4, pi/4] is [0.707, 1], sine [-0.707, 0.707].
        {{0, 0, 20, 20}, 0.0f, 0.25f, 10.0f, {0, -8, 30, 28}, "partial spread peaks inside the arc"},
        {{0, 0, 10, 10}, 0.0f, 1.0f, 1e30f, {lo, lo, hi, hi}, "reach past the integer range clamps"},
        {{5, 5, 5, 5}, 0.0f, 1.0f, 3.0f, {2, 2, 8, 8}, "empty input: the moved rectangle alone"},
        {{0, 0, 30, 30}, 0.0f, 1.0f, -20.0f, {0, 0, 30, 30}, "negative distance: the input stays"},
    };
    for (const auto& c : cases) {
        myParams p{};  // neither copyable nor movable: filled in place
        p.boundsAngle = c.angle;
        p.lightSoftness = c.softness;
        p.shadowLengthSD = c.distance - 0.5;
        p.shadowOffsetPx = 0.5;
        PF_CheckoutResult result{};
        result.max_result_rect = c.rect;
        EXPECT_EQ(B(CalculateDirectionalLightOutputRect(p, result)), c.want) << c.why;
        p.innerShadow = true;
        EXPECT_EQ(B(CalculateDirectionalLightOutputRect(p, result)), B(c.rect)) << c.why << ", inner";
    }
}

TEST(PointBounds, HandComputedCases) {
    const struct {
        bool inverse, autoLength;
        float radius, length, offsetPct, light[2];
        PF_LRect rect;
        Box want;
        const char* why;
    } cases[] = {
        // Reach (0.5 × 0.01 + 1) × 20 + 10 = 30.1 -> 31.
        {false, false, 4, 20, 0.5f, {50, 50}, {0, 0, 100, 100}, {-31, -31, 131, 131}, "disc over the rectangle"},
        {false, false, 4, 20, 0.5f, {104, 50}, {0, 0, 100, 100}, {-31, -31, 131, 131}, "disc touching it"},
        // Radius 0: (0,0) -> (30,40); (60,0) -> (105.69,20.31); (60,40) -> (97.37,73.22);
        // (0,40) -> (17.56,86.82). All four sides floor.
        {false, false, 0, 40, 0, {-30, -40}, {0, 0, 60, 40}, {0, 0, 105, 86}, "corners pushed and floored"},
        // Level with the rectangle: the right side is r + L = 110, not the far corner's 108.8.
        {false, false, 0, 40, 0, {-30, 20}, {0, 0, 60, 40}, {0, -28, 110, 67}, "light beside the rectangle"},
        // Reach 21: corners pulled to (-12.6,-16.8), (40.8,-8.5), (44.3,26.0), (-7.4,20.3).
        {true, false, 0, 11, 0, {-30, -40}, {0, 0, 60, 40}, {-13, -17, 60, 40}, "inverse runs towards the light"},
        {true, true, 0, 11, 0, {-30, -40}, {0, 0, 60, 40}, {-30, -40, 60, 40}, "inverse, auto length"},
        {true, true, 4, 500, 0, {120.5f, 40}, {0, 0, 100, 80}, {0, 0, 125, 80}, "inverse, auto: with light box"},
        {true, false, 5, 500, 0, {30.5f, 20.25f}, {0, 0, 100, 80}, {0, 0, 100, 80}, "inverse, light deep inside"},
        // A disc past every side: the reach, limited by the light box (-1,-1,11,11).
        {true, false, 5.5f, 11, 0, {5, 5}, {0, 0, 10, 10}, {-1, -1, 11, 11}, "inverse, disc over it"},
        // Clear of the disc: thrown left to l - 30.1; top and bottom from the tangents through
        // the far corners, (0,0) to y -30.098 and (0,100) to y 130.098.
        {false, false, 4, 20, 0.5f, {104.5f, 50}, {0, 0, 100, 100}, {-31, -31, 100, 130}, "disc clear of it"},
        // A disc of radius 4 far up and left: the tangent through (0,40) reaches y 66.37, not
        // the 65.85 of a ray from the disc's centre.
        {false, false, 4, 20, 0.5f, {-59.5f, -59.75f}, {0, 0, 60, 40}, {0, 0, 87, 66}, "tangents off the disc"},
        // A disc over the right edge, above: thrown straight down to b + 30, where the
        // tangents through (60,40) would stop short of y 70.
        {false, false, 4, 20, 0, {63.5f, -5}, {0, 0, 60, 40}, {-30, 0, 63, 70}, "disc over a side's end"},
        // Level with the box across x, the disc crosses its top line: the shadow runs up past
        // it to the light box's -5, not to the -2.55 of the corners pulled towards the light.
        {true, false, 8, 0, 0, {120, 3}, {100, 0, 140, 80}, {100, -5, 140, 80}, "inverse, disc over the top"},
        {true, false, 8, 0, 0, {137, 40}, {100, 0, 140, 80}, {100, 0, 146, 80}, "inverse, disc over the right side"},
        {true, false, 8, 0, 0, {103, 40}, {100, 0, 140, 80}, {95, 0, 140, 80}, "inverse, disc over the left side"},
        // A disc of radius 15 at (100,-20), 20 above the left side's top end: clear of that side,
        // so the left comes from the tangent through (100,0), sin 15/20 off the side: 100 - 10 ×
        // 0.75 = 92.5, not the reach's 90. Over the top's line, the top runs up to t - 10.
        {true, false, 15, 0, 0, {100, -20}, {100, 0, 140, 80}, {92, -10, 140, 80}, "inverse, disc above a side's end"},
        // The disc just touching the right edge's line from above (21 - 1 = 20): thrown straight
        // down to b + 41 = 61 exactly; the near-vertical tangent through (20,20) lands a hair
        // short of it and would floor to 60. Left: the tangent through (0,0) reaches x -32.8.
        {false, false, 1, 31, 0, {21, -17}, {0, 0, 20, 20}, {-33, 0, 20, 61}, "disc touching a side's line"},
    };
    for (const auto& c : cases) {
        myParams p{};
        p.lightRadiusSD = c.radius;
        p.shadowLengthSD = c.length;
        p.pointShadowOffset = c.offsetPct;
        p.autoShadowLength = c.autoLength;
        p.sdInverseShadow = c.inverse;
        p.lightOriginRT[0] = c.light[0];
        p.lightOriginRT[1] = c.light[1];
        PF_CheckoutResult result{};
        result.max_result_rect = c.rect;
        EXPECT_EQ(B(CalculatePointLightOutputRect(p, result)), c.want) << c.why;
        p.innerShadow = true;
        EXPECT_EQ(B(CalculatePointLightOutputRect(p, result)), B(c.rect)) << c.why << ", inner";
    }
}

// ---- Smart pre-render through the host ----

using Checkout = std::tuple<PF_ParamIndex, A_long, Box>;  // index, id, request

class PreRender : public EffectRender {
protected:
    void SetUp() override {
        EffectRender::SetUp();
        // A plain directional Standard shadow: 0 degrees casts straight up.
        Set(UF3_LIGHT_TYPE, UF3_LIGHT_DIRECTIONAL);
        Degrees(UF3_LIGHT_DIRECTION, 0);
        Float(UF3_SHADOW_LENGTH, 30);
        Float(UF3_SHADOW_OFFSET_DIR, 4);
        Float(UF3_LIGHT_RADIUS_STD, 7.5);  // ceil -> 8
        Float(UF3_BUFFER_EXPANSION, 6);    // margin 3
        Float(UF3_JFA_PADDING, 2);
    }

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

    // Every checkout of the job; each must ask for frames.
    static std::vector<Checkout> Checkouts(const host::RenderJob& job) {
        std::vector<Checkout> all;
        for (const host::LayerCheckout& c : job.checkouts) {
            EXPECT_EQ(c.request.field, PF_Field_FRAME) << "checkout " << c.id;
            all.emplace_back(c.index, c.id, B(c.request.rect));
        }
        return all;
    }
    static const preRenderData& Block(const host::RenderJob& job) {
        return *static_cast<const preRenderData*>(job.preOutput.pre_render_data);
    }
};

TEST_F(PreRender, StandardDirectionalMakesRoomForTheShadow) {
    host::RenderJob job;
    ASSERT_EQ(Run(job), PF_Err_NONE);
    // Shadow vector (0,-30), offset (0,-4), grown by 8 + 3 + 10: offset (0,-4,200,96) ->
    // (-21,-25,221,117); shadow (0,-34,200,66) -> (-21,-55,221,87).
    EXPECT_EQ(Checkouts(job), (std::vector<Checkout>{{UF3_INPUT, 555, {0, 0, 200, 100}},
                                                     {UF3_INPUT, 0, {-3, -3, 203, 103}},
                                                     {UF3_TEXTURE_LAYER, 67, {-21, -55, 221, 117}}}));
    EXPECT_EQ(B(job.preOutput.result_rect), (Box{-21, -55, 221, 117}));
    EXPECT_EQ(B(job.preOutput.max_result_rect), (Box{-21, -55, 221, 117}));
    EXPECT_EQ(job.preOutput.flags, PF_RenderOutputFlag_RETURNS_EXTRA_PIXELS);
    ASSERT_NE(job.preOutput.pre_render_data, nullptr);
    EXPECT_EQ(job.preOutput.delete_pre_render_data_func, &DisposePreRenderData);
    const preRenderData& b = Block(job);
    EXPECT_EQ(b.centreOffset[0], 0.0);   // (200 + 0 - (221 - 21)) / 2
    EXPECT_EQ(b.centreOffset[1], 19.0);  // (100 + 0 - (117 - 55)) / 2
    EXPECT_EQ(b.pointPad, 0);
    EXPECT_EQ(B(b.inputRequest), (Box{-3, -3, 203, 103}));
    EXPECT_EQ(B(b.inputResult), (Box{0, 0, 200, 100}));
    EXPECT_EQ(B(b.inputMaxResult), (Box{0, 0, 200, 100}));

    // Cast to the left: offset (-4, 0) moves the input's right side in to 196 -> 217, beyond
    // the shadow's 166 -> 187; left, the shadow's -34 -> -55.
    Degrees(UF3_LIGHT_DIRECTION, 270);
    host::RenderJob left;
    ASSERT_EQ(Run(left), PF_Err_NONE);
    EXPECT_EQ(left.preOutput.result_rect.left, -55);
    EXPECT_EQ(left.preOutput.result_rect.right, 217);

    // At 110 degrees, down and right: shadow (28.19, 10.26) and offset (3.76, 1.37) both add
    // to the far sides, ceil each: right 200 + 29 + 4 + 21 = 254, bottom 100 + 11 + 2 + 21 =
    // 134; near sides from the offset copy, 0 + 3 - 21 and 0 + 1 - 21.
    Degrees(UF3_LIGHT_DIRECTION, 110);
    host::RenderJob diagonal;
    ASSERT_EQ(Run(diagonal), PF_Err_NONE);
    EXPECT_EQ(B(diagonal.preOutput.result_rect), (Box{-18, -20, 254, 134}));
}

TEST_F(PreRender, StandardPointScalesTheInputAboutTheLight) {
    // Scale 1 + 80/800 + 10 × 0.001 = 1.11 about (100.5, 50.25): near sides truncate
    // (-11.06 -> -11, -5.53 -> -5), far ones ceil (210.9 -> 211, 105.5 -> 106); grown by
    // 8 + 3 + 10 (radius 15 halves to 7.5).
    Set(UF3_LIGHT_TYPE, UF3_LIGHT_POINT);
    Float(UF3_SHADOW_LENGTH, 80);
    Float(UF3_SHADOW_OFFSET_POINT, 10);
    Float(UF3_LIGHT_RADIUS_STD, 15);
    Origin(100.5, 50.25);
    host::RenderJob job;
    ASSERT_EQ(Run(job), PF_Err_NONE);
    EXPECT_EQ(B(job.preOutput.result_rect), (Box{-32, -26, 232, 127}));
    EXPECT_EQ(B(job.preOutput.max_result_rect), (Box{-32, -26, 232, 127}));
    ASSERT_EQ(job.checkouts.size(), 3u);
    EXPECT_EQ(B(job.checkouts[2].request.rect), (Box{-32, -26, 232, 127}));
}

TEST_F(PreRender, StandardInnerAndDefaultBufferKeepTheInputSize) {
    for (bool inner : {true, false}) {
        SCOPED_TRACE(inner ? "inner shadow" : "default buffer behaviour");
        Check(UF3_INNER_SHADOW, inner);
        Check(UF3_DEFAULT_BUFFER_BEHAVIOUR, !inner);
        host::RenderJob job;
        ASSERT_EQ(Run(job, {50, 20, 120, 60}), PF_Err_NONE);
        ASSERT_EQ(job.checkouts.size(), 3u);
        EXPECT_EQ(Checkouts(job)[0], (Checkout{UF3_INPUT, 555, {50, 20, 120, 60}}));
        EXPECT_EQ(Checkouts(job)[1], (Checkout{UF3_INPUT, 0, {-3, -3, 203, 103}}));
        EXPECT_EQ(bool(job.checkouts[1].request.preserve_rgb_of_zero_alpha), inner);
        EXPECT_EQ(bool(job.checkouts[2].request.preserve_rgb_of_zero_alpha), inner);
        EXPECT_EQ(B(job.preOutput.result_rect), (Box{0, 0, 200, 100}));
        EXPECT_EQ(B(job.preOutput.max_result_rect), (Box{-3, -3, 203, 103}));
        EXPECT_EQ(B(Block(job).inputMaxResult), (Box{-3, -3, 203, 103}));
        EXPECT_EQ(B(Block(job).inputResult), (Box{0, 0, 200, 100}));
        EXPECT_EQ(Block(job).centreOffset[1], 0.0);
    }
}

TEST_F(PreRender, RaytracedDirectionalBoundsClipToTheRequest) {
    // Light direction 90 -> bounds angle 0; softness 0; distance 30 + 4.5.
    // Moved (34,0,235,100) with the input (0,0,235,100), grown by 3.
    Set(UF3_RENDERER, UF3_RENDERER_RAYTRACED);
    Degrees(UF3_LIGHT_DIRECTION, 90);
    Float(UF3_LIGHT_SOFTNESS, 0);
    Float(UF3_SHADOW_OFFSET_DIR, 4.5);
    host::RenderJob job;
    ASSERT_EQ(Run(job, {10, 10, 300, 50}), PF_Err_NONE);
    EXPECT_EQ(B(job.preOutput.max_result_rect), (Box{-3, -3, 238, 103}));
    EXPECT_EQ(B(job.preOutput.result_rect), (Box{10, 10, 238, 50}));
    EXPECT_EQ(Checkouts(job), (std::vector<Checkout>{{UF3_INPUT, 555, {10, 10, 300, 50}},
                                                     {UF3_INPUT, 0, {0, 0, 200, 100}},
                                                     {UF3_TEXTURE_LAYER, 67, {0, 0, 238, 100}}}));
    ASSERT_NE(job.preOutput.pre_render_data, nullptr);
    const preRenderData& b = Block(job);
    EXPECT_EQ(b.pointPad, 2 + 3);  // JFA padding plus the margin
    EXPECT_EQ(B(b.inputRequest), (Box{0, 0, 0, 0}));
    EXPECT_EQ(B(b.inputResult), (Box{0, 0, 200, 100}));
    EXPECT_EQ(B(b.inputMaxResult), (Box{0, 0, 200, 100}));
    EXPECT_EQ(job.preOutput.flags, PF_RenderOutputFlag_RETURNS_EXTRA_PIXELS);
}

TEST_F(PreRender, RaytracedPointPadAndDiscOverTheLayer) {
    // Pad trunc(3.3 × 0.01 × 200) = 6, plus margin 3. The light sits on the layer:
    // grown by ceil((0.033 + 1) × 20 + 10) = 31, then by 3.
    Set(UF3_RENDERER, UF3_RENDERER_RAYTRACED);
    Set(UF3_LIGHT_TYPE, UF3_LIGHT_POINT);
    Float(UF3_SHADOW_OFFSET_POINT, 3.3);
    Float(UF3_SHADOW_LENGTH, 20);
    Origin(100, 50);
    host::RenderJob job;
    ASSERT_EQ(Run(job, {-100, -100, 150, 300}), PF_Err_NONE);
    EXPECT_EQ(Block(job).pointPad, 9);
    EXPECT_EQ(B(job.preOutput.max_result_rect), (Box{-34, -34, 234, 134}));
    EXPECT_EQ(B(job.preOutput.result_rect), (Box{-34, -34, 150, 134}));

    // The pad follows the layer's own longest side wherever the layer sits: moved down by
    // 150 it is still trunc(3.3 × 0.01 × 200) = 6; a 100 × 300 layer at y 40 gives
    // trunc(9.9) = 9. Each plus the margin 3.
    for (auto [w, h, y, pad] : {std::tuple{200, 100, 150, 9}, std::tuple{100, 300, 40, 12}}) {
        H().SetLayerSize(H().EffectLayer(), w, h);
        H().EffectLayer().originY = y;
        host::RenderJob moved;
        ASSERT_EQ(Run(moved, {-100, -100, 150, 300}), PF_Err_NONE);
        ASSERT_EQ(B(moved.checkouts[1].result.max_result_rect), (Box{0, y, w, y + h}));
        EXPECT_EQ(Block(moved).pointPad, pad) << w << " x " << h << " at y " << y;
    }
}

TEST_F(PreRender, RaytracedEmptyInputAndDefaultBuffer) {
    Set(UF3_RENDERER, UF3_RENDERER_RAYTRACED);
    Check(UF3_DEFAULT_BUFFER_BEHAVIOUR, true);
    {
        host::RenderJob job;
        ASSERT_EQ(Run(job, {50, 20, 120, 60}), PF_Err_NONE);
        EXPECT_EQ(B(job.preOutput.result_rect), (Box{0, 0, 200, 100})) << "default buffer behaviour";
        EXPECT_EQ(B(job.preOutput.max_result_rect), (Box{0, 0, 200, 100}));
        EXPECT_EQ(Block(job).pointPad, 2) << "no margin with the default buffer";
    }
    // A layer without pixels: the empty maximum result grows by the margin into
    // (-3,-3,3,3); the result follows the intersection rules (an empty request is copied).
    Check(UF3_DEFAULT_BUFFER_BEHAVIOUR, false);
    H().SetLayerSize(H().EffectLayer(), 0, 0);
    for (const auto& [request, want] : {std::pair{PF_LRect{0, 0, 200, 100}, Box{0, 0, 3, 3}},
                                        std::pair{PF_LRect{0, 0, 0, 0}, Box{0, 0, 0, 0}}}) {
        host::RenderJob job;
        ASSERT_EQ(Run(job, request), PF_Err_NONE);
        EXPECT_EQ(B(job.preOutput.max_result_rect), (Box{-3, -3, 3, 3}));
        EXPECT_EQ(B(job.preOutput.result_rect), want);
    }
}

TEST_F(PreRender, FailuresStopTheLaterCheckoutsButStillLeaveRectangles) {
    {
        H().FailLayerCheckout(UF3_INPUT, PF_Err_OUT_OF_MEMORY);
        host::RenderJob job;
        EXPECT_EQ(Run(job), PF_Err_OUT_OF_MEMORY);
        EXPECT_TRUE(job.checkouts.empty());
        ASSERT_NE(job.preOutput.pre_render_data, nullptr);
        EXPECT_EQ(job.preOutput.flags, PF_RenderOutputFlag_RETURNS_EXTRA_PIXELS);
        EXPECT_EQ(B(job.preOutput.result_rect), (Box{-21, -55, 21, 17})) << "shadow room around an empty input";
    }
    {
        H().FailLayerCheckout(UF3_TEXTURE_LAYER, PF_Interrupt_CANCEL);
        host::RenderJob job;
        EXPECT_EQ(Run(job), PF_Interrupt_CANCEL);
        EXPECT_EQ(job.checkouts.size(), 2u);
        EXPECT_EQ(B(job.preOutput.result_rect), (Box{-21, -55, 221, 117}));
    }
    Set(UF3_RENDERER, UF3_RENDERER_RAYTRACED);
    for (PF_ParamIndex i : {UF3_INPUT, UF3_TEXTURE_LAYER}) {
        SCOPED_TRACE(i);
        H().FailLayerCheckout(i, PF_Err_INTERNAL_STRUCT_DAMAGED);
        host::RenderJob job;
        EXPECT_EQ(Run(job), PF_Err_INTERNAL_STRUCT_DAMAGED);
        EXPECT_EQ(job.checkouts.size(), i == UF3_INPUT ? 0u : 2u);
        EXPECT_EQ(job.preOutput.flags, PF_RenderOutputFlag_RETURNS_EXTRA_PIXELS);
    }
    H().FailLayerCheckout(-1, PF_Err_NONE);

    // A parameter that cannot be read: logged, and nothing is checked out.
    H().FailCheckoutAt(UF3_SAMPLES, PF_Err_OUT_OF_MEMORY);
    host::RenderJob job;
    EXPECT_EQ(Run(job), PF_Err_OUT_OF_MEMORY);
    H().FailCheckoutAt(-1);
    EXPECT_TRUE(job.checkouts.empty());
    EXPECT_NE(job.preOutput.pre_render_data, nullptr);
    EXPECT_NE(Log().find("PreRender:InitParams"), std::string::npos);
}

// ---- Cache identity ----

TEST_F(PreRender, CacheIdentityIsMixedOnlyAfterVersion13Point8) {
    A_Matrix4 m{};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) m.mat[r][c] = r * 4 + c + 0.25;
    H().EffectLayer().toWorld = m;
    const struct {
        A_short major, minor;
        bool mixes;
    } versions[] = {{13, 8, false}, {12, 30, false}, {13, 9, true}, {14, 0, true}};
    for (const auto& v : versions) {
        SCOPED_TRACE(std::to_string(v.major) + "." + std::to_string(v.minor));
        H().In().version = {v.major, v.minor};
        const size_t before = H().GuidMixes().size();
        host::RenderJob job;
        ASSERT_EQ(Run(job), PF_Err_NONE);
        EXPECT_EQ(H().GuidMixes().size() - before, v.mixes ? 1u : 0u);
    }

    // The 232 bytes: placement, downsampling, zeros, then the request.
    H().In().downsample_x = {1, 2};
    H().In().downsample_y = {3, 4};
    H().In().current_time = 30;  // layer time 1 s
    H().EffectLayer().inPoint = {15, 30};
    host::RenderJob job;
    ASSERT_EQ(Run(job, {-7, 8, 90, 91}), PF_Err_NONE);
    const std::vector<unsigned char>& bytes = H().GuidMixes().back();
    ASSERT_EQ(bytes.size(), 232u);
    EXPECT_EQ(std::memcmp(bytes.data(), &m, 128), 0) << "the placement matrix";
    const auto longs = [&](size_t at) {
        std::array<A_long, 4> v;
        std::memcpy(v.data(), bytes.data() + at, sizeof v);
        return v;
    };
    EXPECT_EQ(longs(128), (std::array<A_long, 4>{1, 2, 3, 4})) << "the downsampling";
    for (size_t i = 144; i < 216; ++i) EXPECT_EQ(bytes[i], 0) << "byte " << i;
    EXPECT_EQ(longs(216), (std::array<A_long, 4>{-7, 8, 90, 91})) << "the request";
    // The transform is taken at comp time: layer time plus the in point.
    EXPECT_EQ(H().EffectLayer().lastTransformTime.value, 45);
    EXPECT_EQ(H().EffectLayer().lastTransformTime.scale, 30u);
}

TEST_F(PreRender, CollapsedLayersSkipTheMaskedBoundsAndAMissingCallbackMixesNothing) {
    H().In().version = {13, 9};
    host::Layer& layer = H().EffectLayer();
    for (bool collapsed : {false, true}) {
        SCOPED_TRACE(collapsed ? "collapsed" : "not collapsed");
        layer.flags = collapsed ? (layer.flags | AEGP_LayerFlag_COLLAPSE) : (layer.flags & ~AEGP_LayerFlag_COLLAPSE);
        layer.maskedBoundsQueries = 0;
        layer.lastTransformTime = {-1, 1};
        host::RenderJob job;
        ASSERT_EQ(Run(job), PF_Err_NONE);
        EXPECT_EQ(layer.maskedBoundsQueries, collapsed ? 0 : 1);
        EXPECT_EQ(layer.lastTransformTime.value, 0);
        EXPECT_EQ(H().GuidMixes().back().size(), 232u);
    }

    const size_t mixes = H().GuidMixes().size();
    layer.flags &= ~AEGP_LayerFlag_COLLAPSE;
    layer.maskedBoundsQueries = 0;
    H().SetGuidMixInAvailable(false);
    host::RenderJob job;
    ASSERT_EQ(Run(job), PF_Err_NONE);
    EXPECT_EQ(H().GuidMixes().size(), mixes);
    EXPECT_EQ(layer.maskedBoundsQueries, 0);
    EXPECT_EQ(job.checkouts.size(), 3u);
}

TEST_F(PreRender, MissingLayerSuiteOrRecordsEndTheCommandBeforeAnythingIsAllocated) {
    H().In().version = {13, 9};
    host::SuiteRegistry::Instance().SetMissing(kAEGPLayerSuite, kAEGPLayerSuiteVersion13);
    host::RenderJob job;
    EXPECT_EQ(Run(job), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(job.preOutput.pre_render_data, nullptr);
    EXPECT_TRUE(job.checkouts.empty());
    // TearDown checks that the interface suite went back.

    PF_InData in{};
    PF_OutData out{};
    PF_PreRenderExtra extra{};
    EXPECT_EQ(SmartPreRender(&in, &out, nullptr), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(SmartPreRender(&in, &out, &extra), PF_Err_BAD_CALLBACK_PARAM);
}

}  // namespace
