// The Standard point-light road end to end: where the shadow falls, how its
// opacity runs, how it is composited with the source, at both bit depths.
#include "render/RenderFixture.h"

namespace {

using PointLight = EffectRender;

TEST_F(PointLight, ShadowFallsAwayFromTheLightScaledAboutIt) {
    const Frame f = Render();
    ASSERT_EQ(f.err, PF_Err_NONE);
    ASSERT_LT(f.originX, 0) << "the output reaches beyond the layer, so placement must honour its origin";
    int farEdge = 0, topEdge = kH;  // along the light's row; in the column near the far end
    for (int x = 0; x < f.originX + f.width; ++x)
        if (f.Alpha(x, kLightY) >= 0.5f) farEdge = x + 1;
    for (int y = kH - 1; y >= 0; --y)
        if (f.Alpha(150, y) >= 0.5f) topEdge = y;
    // The last copy is the square scaled by 2 about the light. Bilinear
    // sampling and the one-pixel blur move an edge by up to two pixels.
    EXPECT_NEAR(farEdge, kLightX + 2.0 * (kRight - kLightX), 2.0);
    EXPECT_NEAR(topEdge, kLightY - 2.0 * (kLightY - kTop), 2.0) << "a translated copy would stop at the square";
    for (int x = kLightX; x < kLeft - 2; ++x) EXPECT_EQ(f.Alpha(x, kLightY), 0.0f) << "light side, x " << x;
    EXPECT_EQ(f.Alpha(120, 10), 0.0f) << "outside the cone";
    const auto shadow = f.At(120, kLightY), source = f.At(75, kLightY);
    EXPECT_NEAR(shadow[0], 1.0f, 0.01f);
    EXPECT_NEAR(shadow[1], 0.0f, 0.01f);
    EXPECT_NEAR(shadow[3], 1.0f, 0.01f) << "the fill colour";
    EXPECT_NEAR(source[1], 1.0f, 0.01f) << "the source in front";

    // One copy is the whole shadow: the square scaled by 2, from x 100 to 160.
    Float(UF3_SAMPLES, 1);
    const Frame one = Render();
    ASSERT_EQ(one.err, PF_Err_NONE);
    EXPECT_GT(one.Alpha(150, kLightY), 0.9f);
    EXPECT_EQ(one.Alpha(95, kLightY), 0.0f) << "between the source and its only copy";
}

TEST_F(PointLight, OpacityFallsFromStartToEndAndShadowOpacityScalesIt) {
    Float(UF3_OPACITY_END_STD, 0);
    const Frame fading = Render();
    EXPECT_GT(fading.Alpha(kRight + 2, kLightY), 0.95f) << "next to the source: Opacity Start";
    for (int x = kRight + 8; x < 160; x += 6)
        EXPECT_LE(fading.Alpha(x, kLightY), fading.Alpha(x - 6, kLightY) + 1e-3f) << "x " << x;
    EXPECT_LT(fading.Alpha(157, kLightY), 0.1f) << "far end: Opacity End";

    Float(UF3_OPACITY_END_STD, 100);
    Float(UF3_SHADOW_OPACITY, 40);
    const Frame faint = Render();
    for (int x : {kRight + 5, 120, 150}) EXPECT_NEAR(faint.Alpha(x, kLightY), 0.4f, 0.01f) << "x " << x;
}

TEST_F(PointLight, SourceOpacityBlendsTheSourceOverTheShadow) {
    Float(UF3_SOURCE_OPACITY, 0);
    const auto shadowOnly = Render().At(75, kLightY);
    EXPECT_NEAR(shadowOnly[0], 1.0f, 0.01f);
    EXPECT_NEAR(shadowOnly[1], 0.0f, 0.01f);
    EXPECT_NEAR(shadowOnly[3], 1.0f, 0.01f);

    Float(UF3_SOURCE_OPACITY, 50);
    const auto half = Render().At(75, kLightY);
    const float o = 128.0f / 255.0f;  // 50 % is ceil(127.5) of 255
    EXPECT_NEAR(half[0], 1.0f, 0.01f);
    EXPECT_NEAR(half[1], o, 0.01f);
    EXPECT_NEAR(half[3], 1.0f - o, 0.01f);
}

TEST_F(PointLight, InnerShadowStaysInsideTheSource) {
    Check(UF3_INNER_SHADOW, true);
    Float(UF3_SHADOW_LENGTH, 80);  // copies scaled up to 1.1: a band of shadow, the rest lit
    const Frame f = Render();
    ASSERT_EQ(f.err, PF_Err_NONE);
    for (int y = f.originY; y < f.originY + f.height; ++y)
        for (int x = f.originX; x < f.originX + f.width; ++x) {
            const bool inside = x >= kLeft && x < kRight && y >= kTop && y < kBottom;
            ASSERT_NEAR(f.Alpha(x, y), inside ? 1.0f : 0.0f, 1e-3f) << "at " << x << "," << y;
        }
    // The copies move away from the light and uncover the edge facing it.
    EXPECT_GT(f.At(kLeft + 1, kLightY)[3], 0.5f) << "shadowed edge";
    EXPECT_LT(f.At(kRight - 2, kLightY)[3], 0.5f) << "lit side";
}

TEST_F(PointLight, EightAndThirtyTwoBitsAgree) {
    Float(UF3_LIGHT_RADIUS_STD, 12);
    Float(UF3_OPACITY_END_STD, 20);
    Float(UF3_SOURCE_OPACITY, 70);
    const Frame deep = Render(32), bytes = Render(8);
    ASSERT_EQ(deep.err, PF_Err_NONE);
    ASSERT_EQ(bytes.err, PF_Err_NONE);
    ASSERT_EQ(deep.argb.size(), bytes.argb.size());
    // Both depths read back the same half-float buffers; 8 bits rounds once
    // on read-back and once per 8-bit host composite (half a step each), so
    // premultiplied values may differ by a step and a half.
    const float tolerance = 1.5f / 255.0f;
    for (size_t i = 0; i < deep.argb.size(); ++i) {
        const auto &d = deep.argb[i], &b = bytes.argb[i];
        ASSERT_NEAR(d[0], b[0], tolerance) << "alpha of pixel " << i;
        for (int c = 1; c < 4; ++c) ASSERT_NEAR(d[c] * d[0], b[c] * b[0], tolerance) << "channel " << c << " of " << i;
    }
}

TEST_F(PointLight, LightRadiusBlursAndShadowOffsetScalesEveryCopyAtEitherQuality) {
    Float(UF3_LIGHT_RADIUS_STD, 20);     // the last copy blurred by ceil(10 / 2.01) pixels, shown 2.01 times as wide
    Float(UF3_SHADOW_OFFSET_POINT, 10);  // every copy scaled 0.01 more, the most its range allows
    Edge extreme;
    for (const int quality : {UF3_QUALITY_EXTREME, UF3_QUALITY_MODERATE}) {
        SCOPED_TRACE(quality);
        Set(UF3_QUALITY_PRESET, quality);
        const Frame f = Render();
        ASSERT_EQ(f.err, PF_Err_NONE);
        std::vector<float> farEnd;
        for (int x = 130; x < 200; ++x) farEnd.push_back(f.Alpha(x, kLightY));
        const Edge e = EdgeOf(farEnd);
        if (quality == UF3_QUALITY_EXTREME) {
            extreme = e;
            // Without the offset the edge would stand 0.7 pixels nearer the light.
            EXPECT_NEAR(130 + e.half, kLightX + 2.01 * (kRight - kLightX), 0.35) << "the square scaled by 2 + 0.01";
            EXPECT_GE(e.ramp, 5) << "the Light Radius's blur; unblurred copies fall off within two pixels";
        } else {
            ExpectLikeExtreme(e, extreme);
        }
    }
}

// The copies pass a buffer at the quality's scale of the input: unblurred, the last copy's far
// edge (the square scaled by 2) rises from 10 % to 90 % over 0.8 of that buffer's texels, or
// 1.6 where resampling down left a step between two, each texel 2 / scale pixels wide.
TEST_F(PointLight, EachQualityResamplesTheCopiesAtItsScale) {
    for (const auto& [quality, scale] : {std::pair{UF3_QUALITY_EXTREME, 1.0}, {UF3_QUALITY_MODERATE, 0.6},
                                        {UF3_QUALITY_LOW, 0.4}}) {
        SCOPED_TRACE(quality);
        Set(UF3_QUALITY_PRESET, quality);
        const Frame f = Render();
        ASSERT_EQ(f.err, PF_Err_NONE);
        auto falls = [&](float level) {
            for (int x = 130; x < 200; ++x)
                if (f.Alpha(x, kLightY) >= level && f.Alpha(x + 1, kLightY) < level)
                    return x + (f.Alpha(x, kLightY) - level) / (f.Alpha(x, kLightY) - f.Alpha(x + 1, kLightY));
            return -1.0f;
        };
        ASSERT_GT(falls(0.9f), 0);
        const double texel = 2 / scale, width = falls(0.1f) - falls(0.9f);
        EXPECT_GE(width, 0.8 * texel);
        EXPECT_LE(width, 1.6 * texel);
    }
}

}  // namespace
