#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "host/SuiteRegistry.h"
#include "params/PerSampleTables.h"
#include "params/UF3_ParamIndex.h"
#include "shell/AEGP_SuiteHandler.h"

namespace {

// Records filled by hand as InitParams leaves them; easing off unless a test turns it on.
struct SampleTables : ::testing::Test {
    PF_ParamDef params[UF3_NUM_PARAMS]{};
    AEGP_SuiteHandler suites{host::SuiteRegistry::Instance().Basic()};
    PF_EffectWorld input{};
    PF_InData in{};

    void Directional(myParams& p, int n, double length, double degrees, double radius) {
        p.numSamples = n, p.downsampleScale = 1.0, p.shadowLength = length, p.lightRadius = radius;
        p.lightDirection = degrees, p.lightDirectionRad = degrees * 0.0174533;
        p.opacityStart = 1.0, p.qualityScale = 0.6;
        input.width = 100, input.height = 60;
        p.input_worldP = &input;
    }
    void Point(myParams& p, int n, double radius, double length) {
        p.numSamples = n, p.lightRadius = radius, p.opacityStart = 1.0;
        params[UF3_SHADOW_LENGTH].u.fs_d.value = length;
        params[UF3_SHADOW_OFFSET_POINT].u.fs_d.value = 2;
        in.pica_basicP = host::SuiteRegistry::Instance().Basic();
    }
};

TEST_F(SampleTables, DirectionalCopiesSpreadEvenlyWithoutEasing) {
    myParams one{};
    Directional(one, 1, 200, 90, 12);
    one.downsampleScale = 0.5;
    one.opacityEnd = 0.2;
    params[UF3_SHADOW_OFFSET_DIR].u.fs_d.value = 4;
    InitDirectionalParams(one, suites, params);
    ASSERT_EQ(one.samples.size(), 1u);
    EXPECT_EQ(one.samples[0].bufferIndex, 0);
    EXPECT_NEAR(one.samples[0].offset[0], 100.0, 1e-4);  // the whole vector, in downsampled pixels
    EXPECT_DOUBLE_EQ(one.samples[0].blur, 12.0);
    EXPECT_DOUBLE_EQ(one.samples[0].opacity, 0.2);
    EXPECT_NEAR(one.shadowOffsetVector[0], 2.0, 1e-6);
    EXPECT_EQ(one.blurBuffers.size(), 1u);

    myParams four{};
    Directional(four, 4, 80, 180, 16);
    four.easeDistance = four.easeSoftness = four.easeOpacity = 1.0;  // ignored: the master is 0
    InitDirectionalParams(four, suites, params);
    for (int i = 0; i < 4; ++i) {
        const double t = (i + 1) / 4.0;
        EXPECT_NEAR(four.samples[i].offset[1], 80 * t, 1e-4) << i;
        EXPECT_DOUBLE_EQ(four.samples[i].blur, 16 * t) << i;
        EXPECT_DOUBLE_EQ(four.samples[i].opacity, 1.0 - t) << i;
    }
}

TEST_F(SampleTables, FirstHalfOfTheCopiesShareBufferZero) {
    // Even counts split exactly in halves, where the nudged formula keeps the middle copy in buffer 0.
    const std::pair<int, std::vector<int>> splits[] = {
        {10, {0, 0, 0, 0, 0, 1, 1, 1, 1, 1}}, {2, {0, 1}}, {4, {0, 0, 1, 1}}, {3, {0, 0, 1}}};
    for (const auto& [n, want] : splits) {
        myParams p{};
        Directional(p, n, 50, 135, 8);
        InitDirectionalParams(p, suites, params);
        std::vector<int> buffers;
        for (const auto& s : p.samples) buffers.push_back(s.bufferIndex);
        EXPECT_EQ(buffers, want) << n << " copies";
        EXPECT_EQ(p.blurBuffers.size(), 2u);
    }

    myParams none{};  // no copies leave no NaN behind
    Directional(none, 0, 50, 135, 8);
    InitDirectionalParams(none, suites, params);
    EXPECT_TRUE(none.samples.empty());
    EXPECT_EQ(none.shadowStep[0], 0.0);
}

TEST_F(SampleTables, EasingPullsDirectionalCopiesTowardsTheCurve) {
    for (const int axis : {1, 0}) {  // straight down, then straight right
        myParams p{};
        Directional(p, 2, 80, axis ? 180 : 90, 16);
        p.easingMaster = 1.0;
        p.easeDistance = 0.5;
        p.easeSoftness = p.easeOpacity = 1.0;
        InitDirectionalParams(p, suites, params);
        // Copy 0: t = 0.5, e = 2^-5.
        EXPECT_NEAR(p.samples[0].offset[axis], 40 - 0.5 * (40 - 80.0 / 32), 1e-4) << axis;
        EXPECT_DOUBLE_EQ(p.samples[0].blur, 0.5);
        EXPECT_DOUBLE_EQ(p.samples[0].opacity, 1.0 - 1.0 / 32);
    }
}

TEST_F(SampleTables, BlurBuffersRoundMarginUpAndSizeDown) {
    myParams p{};
    Directional(p, 4, 50, 135, 15);
    InitDirectionalParams(p, suites, params);
    const blurBufferSpec& b = p.blurBuffers.at(0);  // m = ceil(7.5) = 8; sizes 81.6 x 57.6 round down
    EXPECT_TRUE(b.margin == 18 && b.pad == 36) << b.margin << " " << b.pad;
    EXPECT_EQ((std::vector<int>{int(b.extent[0]), int(b.extent[1]), int(b.size[0]), int(b.size[1])}),
              (std::vector<int>{136, 96, 81, 57}));
    EXPECT_DOUBLE_EQ(p.blurBuffers.at(1).margin, 25);

    myParams keep{};
    Directional(keep, 4, 50, 135, 15);
    keep.defaultBufferBehaviour = true;
    InitDirectionalParams(keep, suites, params);
    for (const auto& k : keep.blurBuffers) {
        EXPECT_EQ(k.extent[0], 100);
        EXPECT_EQ(k.size[1], 36);
    }
}

TEST_F(SampleTables, InnerBoundsKeepTheTermsTheLightDoesNotSet) {
    params[UF3_SHADOW_OFFSET_DIR].u.fs_d.value = 2;  // D = 42
    myParams right{};
    Directional(right, 2, 40, 90, 10);
    right.innerShadow = true;
    InitDirectionalParams(right, suites, params);
    // Buffer 0 saw {D + R, R, R, R}; the untouched terms then grew to 2R.
    EXPECT_EQ((std::vector<int>{int(right.blurBuffers.at(0).extent[0]), int(right.blurBuffers.at(0).extent[1]),
                                int(right.innerBoundsPx[0]), int(right.innerBoundsPx[3]), int(right.innerPad[0]),
                                int(right.innerPad[1])}),
              (std::vector<int>{100 + 52 + 10, 60 + 10 + 10, 52, 20, 72, 40}))
        << "extent x, y; bounds left, bottom; pad x, y";

    myParams wrapped{};
    Directional(wrapped, 1, 40, -135, 10);  // 225 degrees
    wrapped.innerShadow = true;
    InitDirectionalParams(wrapped, suites, params);
    EXPECT_NEAR(wrapped.innerBounds[1], 42 * std::sqrt(0.5) + 10, 1e-3);
    EXPECT_NEAR(wrapped.innerBounds[2], 42 * std::sqrt(0.5) + 10, 1e-3);
    EXPECT_EQ(wrapped.innerPad[0], 10 + 40);
    // Shadow Offset along the light: 2 at 225 degrees.
    EXPECT_NEAR(wrapped.shadowOffsetVector[0], -std::sqrt(2.0), 1e-5);
    EXPECT_NEAR(wrapped.shadowOffsetVector[1], std::sqrt(2.0), 1e-5);

    // At exactly 180 degrees sin is -8.7e-8, not 0: the side terms must still be left alone,
    // or ceil lifts them a whole pixel.
    myParams down{};
    Directional(down, 1, 40, 180, 10);
    down.innerShadow = true;
    InitDirectionalParams(down, suites, params);
    EXPECT_EQ((std::vector<int>(down.innerBoundsPx, down.innerBoundsPx + 4)), (std::vector<int>{10, 52, 10, 10}));

    // At each exact quadrant angle only the term along the light takes D + R; over two buffers
    // the others keep the previous value and grow to 2R.
    const std::pair<double, std::vector<int>> quadrants[] = {
        {0, {20, 20, 20, 52}}, {90, {52, 20, 20, 20}}, {180, {20, 52, 20, 20}}, {270, {20, 20, 52, 20}}};
    for (const auto& [degrees, want] : quadrants) {
        myParams q{};
        Directional(q, 2, 40, degrees, 10);
        q.innerShadow = true;
        InitDirectionalParams(q, suites, params);
        EXPECT_EQ((std::vector<int>(q.innerBoundsPx, q.innerBoundsPx + 4)), want) << degrees << " degrees";
    }
}

TEST_F(SampleTables, PointCopiesScaleByLengthOver800AndShrinkTheirBlur) {
    myParams flat{};
    Point(flat, 5, 0, -400);
    InitRadialGaussianParams(flat, &in, params);
    for (int i = 0; i < 5; ++i) {
        EXPECT_DOUBLE_EQ(flat.samples.at(i).blur, 1.0);
        EXPECT_DOUBLE_EQ(flat.samples.at(i).scale, 1.0 + 0.1 * (i + 1));
    }
    EXPECT_DOUBLE_EQ(flat.shadowLength, 1.5);
    EXPECT_DOUBLE_EQ(flat.shadowOffsetPx, 0.002);

    myParams wide{};
    Point(wide, 2, 40, 800);  // R halves to 20, S = 1
    InitRadialGaussianParams(wide, &in, params);
    EXPECT_DOUBLE_EQ(wide.samples.at(0).blur, 7.0);  // ceil(10 / 1.5)

    myParams eased{};
    Point(eased, 2, 40, 800);
    eased.easeDistance = eased.easeSoftness = eased.easeOpacity = 1.0;  // master stays 0
    InitRadialGaussianParams(eased, &in, params);
    EXPECT_DOUBLE_EQ(eased.samples.at(0).scale, 1.0 + 1.0 / 32);
    EXPECT_DOUBLE_EQ(eased.samples.at(0).opacity, 1.0 - 1.0 / 32);
    EXPECT_DOUBLE_EQ(eased.samples.at(0).blur, 1.0) << "ceil(20 / 32 / scale), the eased blur";
    EXPECT_DOUBLE_EQ(eased.samples.at(1).blur, 10.0);

    myParams orphan{};
    Point(orphan, 3, 10, 100);
    in.pica_basicP = nullptr;
    EXPECT_THROW(InitRadialGaussianParams(orphan, &in, params), A_long) << "no basic suite";
    EXPECT_TRUE(orphan.samples.empty());
}

}  // namespace
