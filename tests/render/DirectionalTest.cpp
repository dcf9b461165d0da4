// The directional Standard roads: per-pass uniforms and refusals called
// directly, then whole frames through the host checked by where the shadow
// falls, how soft it is and what colour it takes.
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "host/WorldSuite.h"
#include "render/RenderFixture.h"
#include "render/ThreadRenderData.h"
#include "render/UF3_Directional.h"
#include "render/UF3_ProcGPU.h"
#include "shell/AEGP_SuiteHandler.h"

namespace {

class DirectionalPasses : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NO_THROW(InitThreadLocalRenderData(nullptr, &m_out));
        p.in_data = &m_host.In(), p.out_data = &m_out, p.suites = &m_suites, p.bitdepth = 8;
        p.renderer = UF3_RENDERER_STANDARD, p.lightType = UF3_LIGHT_DIRECTIONAL, p.fillMode = UF3_FILL_SOLID;
        p.fillInfluence = 1.0, p.qualityScale = 1.0, p.qualityPreset = UF3_QUALITY_EXTREME;
        p.numSamples = 2, p.numBlurBuffers = 2;
        p.samples = {{0, 2.0, 0.8, {3, 4}, {1, 0.1f, 0.2f, 0.3f}, 0}, {1, 6.0, 0.25, {30.5, -12.25}, {1, 0.4f, 0.5f, 0.6f}, 0}};
        p.blurBuffers = {{0, 0, {28, 28}, {28, 28}}, {0, 0, {150, 90}, {150, 90}}};
        // An 8 x 8 opaque input and an uncleared 16 x 16 output.
        host::WorldTable::Instance().New(8, 8, false, PF_PixelFormat_ARGB32, &m_in);
        std::memset(m_in.data, 0xFF, size_t(m_in.rowbytes) * 8);
        host::WorldTable::Instance().New(16, 16, false, PF_PixelFormat_ARGB32, &m_outWorld);
        p.input_worldP = &m_in, p.output_worldP = &m_outWorld;
    }
    void TearDown() override {
        for (PF_EffectWorld* w : {&m_in, &m_outWorld})
            if (w->data) host::WorldTable::Instance().Dispose(w);
    }
    GLuint Use(ProgramSlot slot) {
        Program& program = local_render_data->programs[size_t(slot)];
        program.Use(&m_out);
        return program.id();
    }
    static std::vector<float> Uniform(GLuint program, const char* name, int count) {
        std::vector<float> v(static_cast<size_t>(count));
        glGetUniformfv(program, glGetUniformLocation(program, name), v.data());
        return v;
    }
    static int LiveGLObjects() {
        int n = 0;
        for (GLuint name = 1; name < 1024; ++name) n += glIsTexture(name) + glIsFramebuffer(name);
        return n;
    }

    host::Host m_host;
    AEGP_SuiteHandler m_suites{m_host.In().pica_basicP};
    PF_OutData m_out{};
    PF_EffectWorld m_in{}, m_outWorld{};
    myParams p{};
};

TEST_F(DirectionalPasses, UniformValuesOfAKnownRecord) {
    PF_EffectWorld out{};
    out.width = 300, out.height = 100, p.output_worldP = &out;
    p.shadowOffsetVector[0] = 1.5, p.shadowOffsetVector[1] = 2.5;
    p.preRenderCopy.centreOffset[0] = -4, p.preRenderCopy.centreOffset[1] = 3.5;
    p.innerBoundsPx[0] = 3, p.innerBoundsPx[1] = 5, p.innerBoundsPx[2] = 11, p.innerBoundsPx[3] = 2;
    p.debugScale = 0.3;  // 0.3 x 0.9f rounds otherwise than 0.27 does
    p.steps = 7, p.stride = 0.75f, p.scaleW = 1.25, p.scaleH = 0.5;
    p.rgbaPipeline = true, p.fillInfluence = 0.4, p.fillMode = UF3_FILL_GRADIENT;
    int i = 1, k = 1;

    GLuint program = Use(kScaledHorizontalBlurProgram);
    SendBlurWUniforms(p, &i, &k, &program);
    EXPECT_EQ(Uniform(program, "colorF", 4), (std::vector<float>{0.4f, 0.5f, 0.6f, 0.4f})) << "the copy's colour";
    const auto steps = [](GLuint program) {
        GLint n = 0;
        glGetUniformiv(program, glGetUniformLocation(program, "steps"), &n);
        return n;
    };
    EXPECT_EQ(steps(program), 7);
    for (auto [name, value] : {std::pair{"opacityF", 0.25f}, {"stride", 0.75f}, {"scaleW", 1.25f}, {"scaleH", 0.5f}})
        EXPECT_EQ(Uniform(program, name, 1)[0], value) << name;

    program = Use(kVerticalBlurProgram);
    p.steps = 3, p.stride = 2.5f;
    SendBlurHUniforms(p, &i, &k, &program);
    EXPECT_EQ(steps(program), 3);
    EXPECT_EQ(Uniform(program, "stride", 1)[0], 2.5f);

    // Read back row after row of M: scale on the diagonal, move in column 3.
    const auto matrix = [](float tx, float ty, float sx, float sy) {
        return std::vector<float>{sx, 0, 0, tx, 0, sy, 0, ty, 0, 0, 1, 0, 0, 0, 0, 1};
    };
    program = Use(kCopyProgram);
    SendXformUniforms(p, &i, &k, &program, &m_out);
    EXPECT_EQ(Uniform(program, "xform", 16),
              matrix(float(2.0 * 28.0 / 300), float(2.0 * -6.25 / 100), 150.0f / 300.0f, 90.0f / 100.0f));
    SendInnerXformUniforms(p, &i, &k, &program, &m_out);
    EXPECT_EQ(Uniform(program, "xform", 16), matrix(float(72.0 / 300), float(-22.5 / 100), float(0.3 * double(0.5f)),
                                                    float(0.3 * double(90.0f / 100.0f))));
}

TEST_F(DirectionalPasses, BadIndicesThrowOutOfRangeAndLeaveNoGLObjects) {
    GLuint program = Use(kCopyProgram);
    int ok = 0, past = 2, negative = -1;
    EXPECT_THROW(SendBlurWUniforms(p, &past, &ok, &program), std::out_of_range);
    EXPECT_THROW(SendXformUniforms(p, &ok, &past, &program, &m_out), std::out_of_range);
    EXPECT_THROW(SendInnerXformUniforms(p, &negative, &ok, &program, &m_out), std::out_of_range);
    EXPECT_THROW(SendXformUniforms(p, nullptr, &ok, &program, &m_out), std::out_of_range);

    const int live = LiveGLObjects();
    p.samples[1].bufferIndex = 2;
    EXPECT_THROW(ProcOuterDirectional(p), std::out_of_range);
    EXPECT_EQ(LiveGLObjects(), live);
    p.blurBuffers.clear(), p.numBlurBuffers = 0, p.innerShadow = true;
    ASSERT_EQ(p.innerInputPadded.InitStructWorld(p.in_data, m_in, 8, 8), PF_Err_NONE);
    EXPECT_THROW(ProcInnerDirectional(p), std::out_of_range);
    EXPECT_EQ(LiveGLObjects(), live);
}

TEST_F(DirectionalPasses, EmptyAreasEndTheRoadWithoutAShadow) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(m_outWorld.data);
    const std::vector<uint8_t> garbage(bytes, bytes + m_outWorld.rowbytes * 16);
    PF_EffectWorld input = m_in;
    input.width = 0, p.input_worldP = &input;
    EXPECT_EQ(ProcOuterDirectional(p), PF_Err_NONE);
    p.innerShadow = true;  // an inner padded world never allocated
    EXPECT_EQ(ProcInnerDirectional(p), PF_Err_NONE);
    EXPECT_EQ(p.shadow_worldP, nullptr);
    PF_EffectWorld output = m_outWorld;
    output.height = 0, p.output_worldP = &output, p.input_worldP = &m_in, p.innerShadow = false;
    EXPECT_EQ(ProcOuterDirectional(p), PF_Err_NONE);
    EXPECT_TRUE(std::equal(garbage.begin(), garbage.end(), bytes)) << "no read-back";
    // The point road refuses a missing world of either kind.
    for (PF_EffectWorld** missing : {&p.input_worldP, &p.output_worldP}) {
        PF_EffectWorld* kept = std::exchange(*missing, nullptr);
        EXPECT_THROW(ProcPointLight(p), UF_Err);
        *missing = kept;
    }

    // Every copy in a zero-sized blur buffer: none drawn, still a clear read-back.
    p.output_worldP = &m_outWorld, p.samples[1].bufferIndex = 0, p.blurBuffers[0].size[0] = 0;
    EXPECT_EQ(ProcOuterDirectional(p), PF_Err_NONE);
    EXPECT_EQ(p.shadow_worldP, &m_outWorld);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) ASSERT_EQ(bytes[y * m_outWorld.rowbytes + x * 4], 0) << x << ", " << y;
}

// One unmoved copy in buffer 0 gives back the inverted coverage of its own area:
// a 2-pixel ring round the 8 x 8 source, whatever the size of buffer 1.
TEST_F(DirectionalPasses, TheInnerRoadMapsEachBufferOntoBufferZerosArea) {
    p.innerShadow = true, p.debugScale = 1.0, p.numSamples = 1;
    p.samples = {{0, 1.0, 1.0, {0, 0}, {}, 0}};
    p.blurBuffers = {{0, 0, {12, 12}, {12, 12}}, {0, 0, {24, 24}, {24, 24}}};
    ASSERT_EQ(p.innerInputPadded.InitStructWorld(p.in_data, m_in, 12, 12), PF_Err_NONE);
    ASSERT_EQ(p.innerShadowWorld.InitStructWorld(p.in_data, m_outWorld, 16, 16), PF_Err_NONE);
    PF_EffectWorld& padded = p.innerInputPadded.world;
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 12; ++x)
            reinterpret_cast<PF_Pixel*>(reinterpret_cast<char*>(padded.data) + y * padded.rowbytes)[x] =
                x >= 2 && x < 10 && y >= 2 && y < 10 ? PF_Pixel{255, 255, 255, 255} : PF_Pixel{0, 0, 0, 0};
    ASSERT_EQ(ProcInnerDirectional(p), PF_Err_NONE);
    const PF_EffectWorld& out = p.innerShadowWorld.world;
    const auto shade = [&](int x) { return reinterpret_cast<const PF_Pixel*>(reinterpret_cast<const char*>(out.data) + 8 * out.rowbytes)[x].alpha; };
    // Buffer 0's 12 pixels drawn at the output's centre: ring at 2..4 and 12..14, blurred by a pixel.
    for (int x : {2, 3, 12, 13}) EXPECT_GT(shade(x), 100) << "ring at " << x;
    for (int x = 5; x < 11; ++x) EXPECT_LT(shade(x), 30) << "inside at " << x;
    for (int x : {0, 15}) EXPECT_EQ(shade(x), 0) << "beyond buffer 0 at " << x;
}

// The fixture's red 30 x 30 square (60..90, 35..65) under a directional light.
class DirectionalShadow : public EffectRender {
protected:
    void SetUp() override {
        EffectRender::SetUp();
        Set(UF3_LIGHT_TYPE, UF3_LIGHT_DIRECTIONAL);
        Direction(90);
        Float(UF3_SHADOW_LENGTH, 40);
        Float(UF3_SAMPLES, 40);
        Float(UF3_SHADOW_OFFSET_DIR, 0);
    }
    void Direction(double degrees) { H().Param(UF3_LIGHT_DIRECTION).u.ad.value = FLOAT2FIX(degrees); }
    static void ExpectColour(const std::array<float, 4>& argb, std::array<float, 4> want, const char* where) {
        // A transparent pixel's colour means nothing.
        for (size_t c = 0; c < (want[0] > 0 ? 4u : 1u); ++c)
            EXPECT_NEAR(argb[c], want[c], 0.03f) << where << " channel " << c;
    }
};

TEST_F(DirectionalShadow, CastAlongTheLightToLengthPlusOffsetInsideTheReportedRect) {
    Float(UF3_SHADOW_LENGTH, 30);
    Float(UF3_SAMPLES, 30);
    Float(UF3_SHADOW_OFFSET_DIR, 4);
    const double reach = (30 + 4) * std::sqrt(0.5);  // both along the light, at 45 degrees to the axes
    for (const double degrees : {135.0, 45.0}) {
        SCOPED_TRACE(degrees);
        Direction(degrees);
        const Frame f = Render();
        ASSERT_EQ(f.err, PF_Err_NONE);
        // 135: down and right; 45: up and right. Corners of the square's last copy:
        const int dy = degrees == 135.0 ? 1 : -1;
        const double farX = kRight + reach, farY = (dy > 0 ? kBottom : kTop) + dy * reach;
        EXPECT_GT(f.Alpha(int(farX) - 3, int(farY) - 3 * dy), 0.9f) << "inside the last copy";
        EXPECT_GT(f.Alpha(kRight + 12, (dy > 0 ? kBottom : kTop) + 12 * dy), 0.9f) << "halfway";
        EXPECT_EQ(f.Alpha(int(farX) + 3, int(farY) + 3 * dy), 0.0f) << "beyond the length";
        EXPECT_EQ(f.Alpha(kLeft - 3, dy > 0 ? kTop - 3 : kBottom + 3), 0.0f) << "on the light's side";
        // The frame is the result rectangle pre-render reported: nothing cut off at its edges.
        float rim = 0;
        for (int x = 0; x < f.width; ++x) rim += f.argb[size_t(x)][0] + f.argb[f.argb.size() - 1 - size_t(x)][0];
        for (int y = 0; y < f.height; ++y) rim += f.argb[size_t(y * f.width)][0] + f.argb[size_t(y * f.width + f.width - 1)][0];
        EXPECT_EQ(rim, 0.0f);
    }
    // A single copy is the whole shadow, at the full length.
    Float(UF3_SAMPLES, 1);
    const Frame one = Render();
    ASSERT_EQ(one.err, PF_Err_NONE);
    EXPECT_GT(one.Alpha(int(kRight + reach) - 3, int(kTop - reach) + 3), 0.1f);
}

TEST_F(DirectionalShadow, BlurGrowsAlongTheShadow) {
    Float(UF3_SHADOW_LENGTH, 60);
    Float(UF3_SAMPLES, 20);
    Float(UF3_LIGHT_RADIUS_STD, 16);
    const Frame f = Render();
    ASSERT_EQ(f.err, PF_Err_NONE);
    // Rows the top edge takes to rise from 10% to 90% at column x.
    const auto edge = [&](int x) {
        int rows = 0;
        for (int y = 15; y < 55; ++y) rows += f.Alpha(x, y) > 0.1f && f.Alpha(x, y) < 0.9f;
        return rows;
    };
    EXPECT_LE(edge(96), 3) << "copies near the source are barely blurred";
    EXPECT_GE(edge(145), 6) << "the far copies carry most of the Light Radius";
}

TEST_F(DirectionalShadow, AtTheDefaultQualityBothRoadsKeepTheirEdges) {
    Float(UF3_SAMPLES, 20);  // two blur buffers
    for (const bool inner : {false, true}) {
        SCOPED_TRACE(inner ? "inner" : "outer");
        Check(UF3_INNER_SHADOW, inner);
        Direction(inner ? 135 : 90);
        Float(UF3_SHADOW_LENGTH, inner ? 8 : 60);
        Float(UF3_LIGHT_RADIUS_STD, inner ? 6 : 16);
        std::vector<Edge> extreme;
        for (const int quality : {UF3_QUALITY_EXTREME, UF3_QUALITY_MODERATE}) {
            Set(UF3_QUALITY_PRESET, quality);
            const Frame f = Render();
            ASSERT_EQ(f.err, PF_Err_NONE);
            std::vector<std::vector<float>> lines(2);
            if (inner) {  // the shadowed band, from the lit side; inside the source its colour shows it
                for (int y = kBottom - 1; y >= kTop; --y) lines[0].push_back(1 - f.At(75, y)[3]);
                for (int x = kRight - 1; x >= kLeft; --x) lines[1].push_back(1 - f.At(x, 50)[3]);
            } else {      // the top edge far along the shadow, where the blur is widest, and the far end
                for (int y = 50; y > 0; --y) lines[0].push_back(f.Alpha(145, y));
                for (int x = 100; x < 180; ++x) lines[1].push_back(f.Alpha(x, 50));
            }
            for (size_t k = 0; k < lines.size(); ++k) {
                if (quality == UF3_QUALITY_EXTREME) extreme.push_back(EdgeOf(lines[k]));
                else ExpectLikeExtreme(EdgeOf(lines[k]), extreme[k]);
            }
        }
    }
}

TEST_F(DirectionalShadow, InnerShadowAndEachCpuCompStage) {
    Direction(120);  // pads of different width and height
    Check(UF3_INNER_SHADOW, true);
    Float(UF3_SHADOW_LENGTH, 8);
    Float(UF3_SAMPLES, 8);
    const std::array<float, 4> red{1, 1, 0, 0}, blue{1, 0, 0, 1}, clear{0, 0, 0, 0};
    const int lightSide = kLeft + 2, farSide = kRight - 3, y = 50;
    for (int stage = UF3_CPU_COMP_INPUT_COPY; stage <= UF3_CPU_COMP_FINAL_RESULT; ++stage) {
        SCOPED_TRACE(stage);
        Set(UF3_VIEW_INNER_CPU_COMP, stage);
        const Frame f = Render(stage == UF3_CPU_COMP_FINAL_RESULT ? 8 : 32);
        ASSERT_EQ(f.err, PF_Err_NONE);
        const bool shadowed = stage >= UF3_CPU_COMP_BLEND_SHADOW;
        ExpectColour(f.At(75, y), red, "centre");
        ExpectColour(f.At(farSide, y), red, "edge away from the light");
        ExpectColour(f.At(lightSide, y), shadowed ? blue : red, "edge facing the light");
        // 8 x cos 60 deep: the band's last row, and the first row past it.
        ExpectColour(f.At(75, kTop + 3), shadowed ? blue : red, "top edge");
        ExpectColour(f.At(75, kTop + 4), red, "below the top band");
        // Outside: the source's transparency, made opaque, covered by the
        // shadow, then cut away by the stencil.
        const std::array<float, 4> opaque{1, 0, 0, 0}, outside[] = {clear, clear, opaque, blue, clear};
        ExpectColour(f.At(30, 80), outside[stage - 1], "outside");
    }
}

TEST_F(DirectionalShadow, FillColoursAtSamplePoints) {
    // Straight behind the red square: blue fill, or red when the fill has no influence.
    const std::pair<double, std::array<float, 4>> cases[] = {
        {100, {1, 0, 0, 1}}, {50, {1, 0.5f, 0, 0.5f}}, {0, {1, 1, 0, 0}}};
    for (const auto& [influence, want] : cases)
        for (const short depth : {8, 32}) {
            SCOPED_TRACE(testing::Message() << "influence " << influence << ", " << depth << " bits");
            Float(UF3_FILL_INFLUENCE, influence);
            const Frame f = Render(depth);
            ASSERT_EQ(f.err, PF_Err_NONE);
            ExpectColour(f.At(110, 50), want, "shadow");
            ExpectColour(f.At(75, 50), {1, 1, 0, 0}, "source");
        }
}

TEST_F(DirectionalShadow, GradientRunsAlongTheCopiesAndLinearBlendingEncodesIt) {
    // Copy i is in front at x = 91 + i and takes the gradient at i / 39.001:
    // red, green at the middle, blue at the end.
    Set(UF3_FILL_MODE, UF3_FILL_GRADIENT);
    Check(UF3_LINEAR_BLENDING, false);
    const Frame plain = Render();
    ASSERT_EQ(plain.err, PF_Err_NONE);
    for (auto [x, channel] : {std::pair{92, 1}, {111, 2}, {129, 3}}) EXPECT_GT(plain.At(x, 50)[size_t(channel)], 0.85f) << x;

    Check(UF3_LINEAR_BLENDING, true);
    const Frame linear = Render();
    ASSERT_EQ(linear.err, PF_Err_NONE);
    // Between pure stops the mix is made in linear light and encoded with 1/2.2.
    const auto mixed = plain.At(101, 50), encoded = linear.At(101, 50);
    ASSERT_TRUE(mixed[1] > 0.3f && mixed[2] > 0.3f) << "a mix of red and green";
    for (int c = 1; c <= 2; ++c) EXPECT_NEAR(encoded[size_t(c)], std::pow(mixed[size_t(c)], 0.4545f), 0.02f) << c;
}

}  // namespace
