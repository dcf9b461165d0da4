// The smart render road: its catch frame (result, compositing, log, drawn
// message), a missing pre-render block, and several threads rendering at
// once.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <thread>
#include <tuple>
#include <vector>

#include "GradientStops.h"
#include "OpenGL/gl3.h"
#include "cgl/CGLTesting.h"
#include "host/HandleSuite.h"
#include "open_gl/Context.h"
#include "params/GradientData.h"
#include "params/UF3_ParamTable.h"
#include "render/RenderFixture.h"
#include "render/ThreadRenderData.h"

namespace {

enum class Raise { kUFErr, kText, kCancel, kBadParam, kLibrary };
Raise g_raise = Raise::kUFErr;

void RaiseFromGPUStage(myParams&) {
    switch (g_raise) {
        case Raise::kUFErr: throw UF_Err(PF_Err_INVALID_CALLBACK, "injected UF_Err");
        case Raise::kText: throw std::string("injected text");
        case Raise::kCancel: throw A_long(PF_Interrupt_CANCEL);
        case Raise::kBadParam: throw A_long(PF_Err_BAD_CALLBACK_PARAM);
        case Raise::kLibrary: throw std::out_of_range("injected index");
    }
}

using RenderRoad = EffectRender;

TEST_F(RenderRoad, TheCatchFrameMapsLogsAndDecidesOnCompositing) {
    struct Case { Raise raise; PF_Err result; bool composited; const char* logged; };  // null: nothing logged
    const Case cases[] = {
        {Raise::kUFErr, PF_Err_INVALID_CALLBACK, false, "injected UF_Err"},
        {Raise::kText, PF_Err_NONE, true, "injected text"},
        {Raise::kCancel, PF_Err_NONE, true, nullptr},
        {Raise::kBadParam, PF_Err_BAD_CALLBACK_PARAM, false, nullptr},
        // A library exception must not pass for a finished render.
        {Raise::kLibrary, PF_Err_INTERNAL_STRUCT_DAMAGED, false, "injected index"},
    };
    gGPUStageTestHook = &RaiseFromGPUStage;
    for (const Case& c : cases) {
        g_raise = c.raise;
        const size_t logBefore = Log().size();
        const Frame f = Render();
        SCOPED_TRACE(int(c.raise));
        EXPECT_EQ(f.err, c.result);
        // The hook runs before the passes: no shadow either way, only the composited source.
        EXPECT_EQ(f.Alpha(120, kLightY), 0.0f);
        EXPECT_EQ(f.Alpha(75, kLightY), c.composited ? 1.0f : 0.0f);
        const std::string added = Log().substr(logBefore);
        if (c.logged) EXPECT_NE(added.find(c.logged), std::string::npos) << added;
        else EXPECT_EQ(added, "");
    }
}

TEST_F(RenderRoad, WithDebugAnalysisTheMessageIsDrawnOverTheFrame) {
    Check(UF3_DEBUG_ANALYSIS_ENABLE, true);
    gGPUStageTestHook = &RaiseFromGPUStage;
    g_raise = Raise::kUFErr;
    const Frame f = Render(8);
    EXPECT_EQ(f.err, PF_Err_INVALID_CALLBACK);
    int yellow = 0, veiled = 0;
    for (const auto& p : f.argb) {
        // Yellow at 0.75 over the veil un-premultiplies to about 0.8.
        if (p[1] > 0.6f && p[2] > 0.6f && p[3] < 0.2f) ++yellow;
        if (p[0] > 0.7f && p[0] < 0.8f && p[1] < 0.05f && p[2] < 0.05f && p[3] < 0.05f) ++veiled;
    }
    EXPECT_GT(yellow, 20) << "text pixels";
    EXPECT_GT(veiled, int(f.argb.size()) / 2) << "the dark veil over the cleared frame";
    EXPECT_NE(Log().find("injected UF_Err"), std::string::npos);
}

TEST_F(RenderRoad, AMissingPreRenderBlockFailsTheRender) {
    host::RenderJob job;
    job.request.rect = {0, 0, kW, kH};
    job.bitdepth = 32;
    ASSERT_EQ(H().SmartPreRender(job), PF_Err_NONE);
    job.preOutput.delete_pre_render_data_func(job.preOutput.pre_render_data);
    job.preOutput.pre_render_data = nullptr;
    EXPECT_EQ(H().SmartRender(job), PF_Err_INVALID_CALLBACK);
    EXPECT_NE(Log().find("failed to acquire preRenderData"), std::string::npos);
}

// A damaged project may hold stops at NaN, infinite or huge positions, also in
// keyframes; the stored data stays as it is, but every frame keeps to the
// colours of the stops, and a gradient that starts red shows red.
TEST_F(RenderRoad, DamagedGradientPositionsGiveFramesWithinTheStopsColours) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    const float lo = 0.2f, hi = 0.8f;
    const PF_PixelFloat red = {1, hi, lo, lo}, green = {1, lo, hi, lo}, blue = {1, lo, lo, hi};
    struct Case {
        std::vector<ArbGradientPt> stops, otherKey;  // a second key makes the frame fall halfway between
        bool startsRed;
    };
    const Case cases[] = {
        // Before the first finite stop t would be formed from -inf, after the last from NaN.
        {{{-kInf, red}, {0.5, green}, {NAN, blue}}, {}, false},
        // Beyond single precision: a shader reading them as floats would divide infinities.
        {{{-1e300, red}, {0.5, green}, {1e39, blue}}, {}, true},
        // Equal keys: in single precision inf + (inf - inf) * t is NaN.
        {{{0.0, red}, {kInf, blue}}, {{0.0, red}, {kInf, blue}}, true},
        // A stop the other key lacks is looked up at 1.7e308, between -1.7e308 and 1.75e308.
        {{{-1.7e308, red}, {1.75e308, blue}}, {{-1.7e308, red}, {1.75e308, blue}, {1.7e308, green}}, true},
    };
    const PF_HandleSuite1* hs = host::HandleTable::Instance().Suite();
    Set(UF3_FILL_MODE, UF3_FILL_GRADIENT);
    Check(UF3_LINEAR_BLENDING, false);
    Set(UF3_LIGHT_TYPE, UF3_LIGHT_DIRECTIONAL);
    Set(UF3_QUALITY_PRESET, UF3_QUALITY_LOW);
    Float(UF3_SHADOW_LENGTH, 40);
    Float(UF3_SAMPLES, 40);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        PF_Handle h = nullptr, other = nullptr;
        ASSERT_EQ(Set_Arb_Gradient(hs, &h, unsigned(c.stops.size()), c.stops.data()), PF_Err_NONE);
        H().ClearKeyframes(UF3_COLOR_GRADIENT);
        H().SetArbitraryValue(UF3_COLOR_GRADIENT, h);
        H().In().current_time = 0;
        if (!c.otherKey.empty()) {
            ASSERT_EQ(Set_Arb_Gradient(hs, &other, unsigned(c.otherKey.size()), c.otherKey.data()), PF_Err_NONE);
            PF_ParamDef key = H().Param(UF3_COLOR_GRADIENT);
            key.u.arb_d.value = h;
            H().SetKeyframe(UF3_COLOR_GRADIENT, 0.0, key);
            key.u.arb_d.value = other;
            H().SetKeyframe(UF3_COLOR_GRADIENT, 1.0, key);
            H().In().current_time = H().In().time_scale / 2;
            host::HandleTable::Instance().Dispose(other);
        }
        host::HandleTable::Instance().Dispose(h);
        for (const int renderer : {UF3_RENDERER_STANDARD, UF3_RENDERER_RAYTRACED})
            for (const short depth : {8, 32}) {
                SCOPED_TRACE(testing::Message() << "renderer " << renderer << ", " << depth << " bits");
                Set(UF3_RENDERER, renderer);
                const Frame f = Render(depth);
                ASSERT_EQ(f.err, PF_Err_NONE) << Log();
                float most = 0, least = 1;
                int shadowed = 0, reddish = 0;
                for (int y = f.originY; y < f.originY + f.height; ++y)
                    for (int x = f.originX; x < f.originX + f.width; ++x) {
                        const auto p = f.At(x, y);
                        for (float v : p) ASSERT_TRUE(std::isfinite(v) && v >= 0 && v <= 1) << x << "," << y << ": " << v;
                        // Away from the source and where the 8-bit colour is well resolved.
                        if (x >= kLeft - 1 && x <= kRight && y >= kTop - 1 && y <= kBottom) continue;
                        if (p[0] < 0.5f) continue;
                        ++shadowed;
                        reddish += p[1] > p[3] + 0.2f;
                        for (int k = 1; k < 4; ++k) most = std::max(most, p[size_t(k)]), least = std::min(least, p[size_t(k)]);
                    }
                EXPECT_GT(shadowed, 100);
                // 8 bits round on read-back and composite; 32 bits pass half-float work buffers.
                const float step = depth == 8 ? 2.5f / 255 : 2e-3f;
                EXPECT_LE(most, hi + step);
                EXPECT_GE(least, lo - step);
                if (c.startsRed) {
                    EXPECT_GT(reddish, 0) << "the first stop's colour is shown";
                }
            }
        const std::vector<ArbGradientPt> stored =
            StopsOf(hs, H().Param(UF3_COLOR_GRADIENT).u.arb_d.value);
        ASSERT_EQ(stored.size(), c.stops.size());
        for (size_t i = 0; i < stored.size(); ++i)
            EXPECT_EQ(std::memcmp(&stored[i].position, &c.stops[i].position, 8), 0) << "the stored stops are left as they were";
    }
    H().ClearKeyframes(UF3_COLOR_GRADIENT);
    H().In().current_time = 0;
}

// Every GL object a render made on this thread's context is gone: only the
// thread's quad is left.
void ExpectOnlyTheThreadsQuad() {
    ASSERT_TRUE(local_render_data);
    ASSERT_EQ(SetCurrentContext(local_render_data->local_ctx, false), "");
    for (GLuint name = 1; name < 512; ++name) {
        EXPECT_FALSE(glIsTexture(name)) << "texture " << name;
        EXPECT_FALSE(glIsFramebuffer(name)) << "framebuffer " << name;
        EXPECT_EQ(bool(glIsVertexArray(name)), name == local_render_data->quadVAO) << "vertex array " << name;
        EXPECT_EQ(bool(glIsBuffer(name)), name == local_render_data->quadVBO) << "buffer " << name;
    }
    SetCurrentContext(nullptr, false);
}

TEST_F(RenderRoad, AStaleGLErrorIsShownWrappedInTheFrameLoggedOnceWithSizesAndGoneNextFrame) {
    Check(UF3_DEBUG_ANALYSIS_ENABLE, true);
    ASSERT_EQ(Render(8).err, PF_Err_NONE);  // makes this thread's context
    ASSERT_EQ(SetCurrentContext(local_render_data->local_ctx, false), "");
    glBindVertexArray(0xBADu);  // never generated: GL_INVALID_OPERATION stays pending
    SetCurrentContext(nullptr, false);

    const std::string message = "GPU Begin cleared pre-existing OpenGL error: GL_INVALID_OPERATION (0x502)";
    // A wide layer, so the whole message has room in the frame.
    H().SetLayerSize(H().EffectLayer(), 800, 300);
    const Frame f = Render(8, {0, 0, 800, 300});
    EXPECT_EQ(f.err, PF_Err_NONE);
    int left = f.width, right = -1, top = f.height, bottom = -1;  // of the yellow text
    for (int y = 0; y < f.height; ++y)
        for (int x = 0; x < f.width; ++x) {
            const auto& p = f.argb[size_t(y) * size_t(f.width) + size_t(x)];
            if (p[1] < 0.6f || p[2] < 0.6f || p[3] > 0.2f) continue;
            left = std::min(left, x), right = std::max(right, x), top = std::min(top, y), bottom = std::max(bottom, y);
        }
    // Wrapped at the layer's width plus the origin offset the 7 words take 2 lines of 35
    // pixels; wrapped at the offset alone they would stand one a line.
    EXPECT_TRUE(left >= 0 && right < 800 - f.originX) << left << " to " << right;
    EXPECT_LT(bottom - top, 3 * 35) << "lines " << top << " to " << bottom;
    EXPECT_LT(bottom, f.height - 1) << "the last line inside the frame";

    const std::string sizes = " - input_worldP of size: 800x300. output_worldP of size: " + std::to_string(f.width) +
                              "x" + std::to_string(f.height) + ". ";
    std::string log = Log();
    size_t lines = 0;
    for (size_t at = log.find(message); at != std::string::npos; at = log.find(message, at + 1)) {
        EXPECT_EQ(log.substr(at + message.size(), sizes.size() + 1), sizes + "\n");
        ++lines;
    }
    EXPECT_EQ(lines, 1u);
    const Frame next = Render(8);
    EXPECT_EQ(next.err, PF_Err_NONE);
    EXPECT_EQ(Log(), log) << "the next frame is clean";
    EXPECT_TRUE(std::all_of(next.argb.begin(), next.argb.end(), [](const auto& p) { return p[0] == 0; }))
        << "no veil over the (empty) layer's frame";
}

TEST_F(RenderRoad, FourThreadsRenderTheSameBytesAsOne) {
    Float(UF3_LIGHT_RADIUS_STD, 10);
    Set(UF3_QUALITY_PRESET, UF3_QUALITY_MODERATE);
    const int contextsBefore = UmbrafexCGL_LiveContexts();
    Frame single;
    std::thread([&] {
        single = Render();
        ExpectOnlyTheThreadsQuad();
    }).join();
    ASSERT_EQ(single.err, PF_Err_NONE);

    Frame frames[4];
    std::vector<std::thread> threads;
    for (Frame& f : frames)
        threads.emplace_back([&] {
            f = Render();
            ExpectOnlyTheThreadsQuad();
        });
    for (std::thread& t : threads) t.join();
    for (const Frame& f : frames) {
        EXPECT_EQ(f.err, PF_Err_NONE);
        ASSERT_EQ(f.argb.size(), single.argb.size());
        EXPECT_EQ(std::memcmp(f.argb.data(), single.argb.data(), f.argb.size() * sizeof f.argb[0]), 0);
    }
    EXPECT_EQ(UmbrafexCGL_LiveContexts(), contextsBefore) << "each thread's context goes with it";
}

// An effect earlier in the stack may hand the layer over grown, its pixels starting above and
// left of 0. Moved so, with the light and the texture moved along, every road must give the
// same pixels, moved.
TEST_F(RenderRoad, ALayerWhosePixelsStartOffTheOriginGivesTheSameFrameMoved) {
    PF_EffectWorld& tex = H().SetLayerSize(H().TextureLayer(), kW, kH);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {  // quarters, so that any shift shows
            const float v = (x < 75) != (y < 50) ? 1.0f : 0.3f;
            reinterpret_cast<PF_PixelFloat*>(reinterpret_cast<char*>(tex.data) + y * tex.rowbytes)[x] = {1, v, 0.5f, 1 - v};
        }
    H().SetTextureLayerPresent(true);
    Set(UF3_TEXTURE_BLEND_MODE, UF3_BLEND_NORMAL);
    Float(UF3_TEXTURE_STRENGTH, 50);
    const int dx = -20, dy = -10;
    const struct { int renderer, light; bool inner; double bias; } roads[] = {
        {UF3_RENDERER_STANDARD, UF3_LIGHT_DIRECTIONAL, true, 0}, {UF3_RENDERER_STANDARD, UF3_LIGHT_POINT, true, 0},
        {UF3_RENDERER_RAYTRACED, UF3_LIGHT_POINT, true, 0}, {UF3_RENDERER_STANDARD, UF3_LIGHT_POINT, false, 0},
        {UF3_RENDERER_RAYTRACED, UF3_LIGHT_DIRECTIONAL, false, 50}};
    for (const auto& r : roads) {
        SCOPED_TRACE(testing::Message() << "renderer " << r.renderer << ", light " << r.light << ", inner " << r.inner);
        Float(UF3_TEXTURE_ALPHA_BIAS, r.bias);
        Set(UF3_RENDERER, r.renderer);
        Set(UF3_LIGHT_TYPE, r.light);
        Check(UF3_INNER_SHADOW, r.inner);
        auto place = [&](int x, int y) {
            for (host::Layer* l : {&H().EffectLayer(), &H().TextureLayer()}) l->originX = x, l->originY = y;
            H().Param(UF3_LIGHT_ORIGIN).u.td.x_value = (kLightX + x) << 16;
            H().Param(UF3_LIGHT_ORIGIN).u.td.y_value = (kLightY + y) << 16;
        };
        place(0, 0);
        const Frame at0 = Render();
        place(dx, dy);
        const Frame moved = Render(32, {dx, dy, kW + dx, kH + dy});
        place(0, 0);
        ASSERT_EQ(at0.err, PF_Err_NONE);
        ASSERT_EQ(moved.err, PF_Err_NONE);
        ASSERT_EQ(std::tuple(moved.originX, moved.originY, moved.width, moved.height),
                  std::tuple(at0.originX + dx, at0.originY + dy, at0.width, at0.height));
        int shaded = 0;
        for (int y = at0.originY; y < at0.originY + at0.height; ++y)
            for (int x = at0.originX; x < at0.originX + at0.width; ++x) {
                const auto a = at0.At(x, y), b = moved.At(x + dx, y + dy);
                for (size_t c = 0; c < 4; ++c) ASSERT_NEAR(b[c], a[c], 1e-4f) << x << ", " << y << " channel " << c;
                shaded += a[0] > 0.05f && a[1] < 0.9f;
            }
        EXPECT_GT(shaded, 20) << "a shadow to compare";
    }
}

// A host's expression or a damaged project may hand a slider a value past its valid range or NaN,
// or a popup a position it does not have. Every value the render reads then renders as the
// nearest valid one (a popup's first or last position), NaN as the slider's default, the blend
// popups outside 2..44 as Normal. The ease factors cap themselves, so Easing Master and the four
// easings it scales keep a value past their top: that frame is one of valid values elsewhere.
TEST_F(RenderRoad, ValuesPastTheirRangeRenderAsTheNearestValidValue) {
    constexpr int kLW = 64, kLH = 48;
    PF_EffectWorld& layer = H().SetLayerSize(H().EffectLayer(), kLW, kLH);
    PF_EffectWorld& tex = H().SetLayerSize(H().TextureLayer(), kLW, kLH);
    auto px = [](PF_EffectWorld& w, int x, int y) -> PF_PixelFloat& {
        return reinterpret_cast<PF_PixelFloat*>(reinterpret_cast<char*>(w.data) + y * w.rowbytes)[x];
    };
    for (int y = 0; y < kLH; ++y)
        for (int x = 0; x < kLW; ++x) {
            // A square with a half-transparent rim, and a texture that varies across it.
            const bool core = x >= 22 && x < 38 && y >= 16 && y < 32, rim = x >= 18 && x < 42 && y >= 12 && y < 36;
            px(layer, x, y) = core ? PF_PixelFloat{1, 0.9f, 0.6f, 0.2f} : rim ? PF_PixelFloat{0.5f, 0.2f, 0.7f, 0.4f}
                                                                          : PF_PixelFloat{0, 0, 0, 0};
            const float v = float(x) / kLW;
            px(tex, x, y) = {0.3f + 0.7f * float(y) / kLH, v, (x / 8 + y / 8) % 2 ? 0.8f : 0.1f, 1 - v};
        }
    H().SetTextureLayerPresent(true);
    Set(UF3_QUALITY_PRESET, UF3_QUALITY_DRAFT);
    Float(UF3_SAMPLES, 6);
    Float(UF3_LIGHT_RADIUS_STD, 6);
    Float(UF3_LIGHT_RADIUS_RT, 20);
    Float(UF3_SHADOW_LENGTH, 12);
    Float(UF3_EASING_MASTER, 60);
    Float(UF3_FILL_INFLUENCE, 70);
    Float(UF3_SHADOW_OPACITY, 80);
    Float(UF3_SOURCE_OPACITY, 90);
    Float(UF3_TEXTURE_STRENGTH, 60);
    H().Param(UF3_LIGHT_ORIGIN).u.td.x_value = 6 << 16;
    H().Param(UF3_LIGHT_ORIGIN).u.td.y_value = 24 << 16;

    // Each slider and popup the render reads, in a scene where it shows (the debug rectangle's
    // sliders show in debug views only). The widest ranges are rendered downsampled (by
    // `shrink`), so that their ends make frames of a few hundred pixels; the step past an end
    // grows along, to stay as far past in the frame's pixels.
    struct Case {
        int index;
        int light = UF3_LIGHT_DIRECTIONAL, fill = UF3_FILL_SOLID;
        bool inner = false;
        int shrink = 1;
        bool keepsTop = false;  // past the top it is not held, see below
    };
    constexpr int kPoint = UF3_LIGHT_POINT, kGradient = UF3_FILL_GRADIENT;
    const Case cases[] = {
        {UF3_LIGHT_TYPE}, {UF3_RENDERER}, {.index = UF3_LIGHT_RADIUS_STD, .shrink = 16}, {UF3_LIGHT_SOFTNESS},
        {UF3_LIGHT_RADIUS_RT, kPoint}, {.index = UF3_SHADOW_LENGTH, .shrink = 16},
        {.index = UF3_INNER_BLEND_MODE, .inner = true}, {UF3_OPACITY_START_RT}, {UF3_OPACITY_END_RT},
        {UF3_OPACITY_START_STD}, {UF3_OPACITY_END_STD}, {UF3_FILL_MODE}, {UF3_FILL_INFLUENCE}, {UF3_EASE_OPACITY},
        {UF3_EASE_SOFTNESS}, {.index = UF3_EASE_GRADIENT, .fill = kGradient},
        {.index = UF3_EASING_MASTER, .keepsTop = true}, {.index = UF3_EASE_DISTANCE, .keepsTop = true},
        {.index = UF3_EASE_SOFTNESS_ADV, .keepsTop = true}, {.index = UF3_EASE_OPACITY_ADV, .keepsTop = true},
        {.index = UF3_EASE_GRADIENT_ADV, .fill = kGradient, .keepsTop = true}, {UF3_TEXTURE_BLEND_MODE},
        {UF3_TEXTURE_STRENGTH}, {UF3_TEXTURE_ALPHA_BIAS}, {UF3_MATTE_GAMMA}, {UF3_SAMPLES}, {UF3_ALPHA_THRESHOLD},
        {UF3_QUALITY_PRESET},
        {UF3_SOURCE_BLEND_MODE}, {UF3_SOURCE_OPACITY}, {UF3_SHADOW_OPACITY}, {UF3_SHADOW_OFFSET_DIR},
        {UF3_SHADOW_OFFSET_POINT, kPoint}, {.index = UF3_BUFFER_EXPANSION, .shrink = 8},
        {.index = UF3_VIEW_INNER_CPU_COMP, .inner = true}, {UF3_SD_DEBUG_VIEW}, {.index = UF3_JFA_PADDING, .shrink = 8},
    };
    const auto shape = [](const Frame& g) { return std::tuple(g.err, g.originX, g.originY, g.width, g.height); };
    int wrong = 0, total = 0;
    for (const Case& c : cases) {
        const PF_ParamDef& declared = H().ParamDefs()[size_t(c.index)];
        const bool popup = declared.param_type == PF_Param_POPUP;
        const bool blend = popup && declared.u.pd.num_choices == UF3_BLEND_NUM_CHOICES;
        ASSERT_TRUE(popup || declared.param_type == PF_Param_FLOAT_SLIDER) << c.index;
        const PF_ParamDef saved = H().Param(c.index);
        Set(UF3_LIGHT_TYPE, c.light);
        Set(UF3_FILL_MODE, c.fill);
        Check(UF3_INNER_SHADOW, c.inner);
        H().In().downsample_x = H().In().downsample_y = {1, A_u_long(c.shrink)};
        // (past the end or NaN, the valid value it renders as).
        std::vector<std::pair<double, double>> ends;
        if (popup) {
            const int last = declared.u.pd.num_choices;
            ends.push_back({0, 1});
            ends.push_back({last + 1, blend ? UF3_BLEND_NORMAL : last});
        } else {
            const double lo = declared.u.fs_d.valid_min, hi = declared.u.fs_d.valid_max;
            const double step = (0.04 + (hi - lo) * 0.01) * c.shrink;
            ends.push_back({lo - step, lo});
            if (!c.keepsTop) ends.push_back({hi + step, hi});
            ends.push_back({std::nan(""), declared.u.fs_d.dephault});
        }
        for (const int renderer : {UF3_RENDERER_STANDARD, UF3_RENDERER_RAYTRACED})
            for (const short depth : {8, 32})
                for (const auto& [past, nearest] : ends) {
                    Set(UF3_RENDERER, renderer);
                    auto render = [&](double v) {
                        if (popup) H().Param(c.index).u.pd.value = A_long(v);
                        else H().Param(c.index).u.fs_d.value = v;
                        return Render(depth, {0, 0, kLW, kLH});
                    };
                    const Frame f = render(past), want = render(nearest);
                    H().Param(c.index) = saved;
                    ++total;
                    const long nanPixels = std::count_if(f.argb.begin(), f.argb.end(), [](const auto& q) {
                        return std::any_of(q.begin(), q.end(), [](float v) { return std::isnan(v); });
                    });
                    if (want.err == PF_Err_NONE && shape(f) == shape(want) && nanPixels == 0 &&
                        std::memcmp(f.argb.data(), want.argb.data(), f.argb.size() * sizeof f.argb[0]) == 0)
                        continue;
                    ++wrong;
                    ADD_FAILURE() << "parameter " << c.index << " at " << past << " (as " << nearest << "), renderer "
                                  << renderer << ", " << depth << " bits: result " << f.err << " against " << want.err
                                  << ", " << f.width << "x" << f.height << " against " << want.width << "x"
                                  << want.height << ", " << nanPixels << " NaN pixels";
                }
    }
    H().In().downsample_x = H().In().downsample_y = {1, 1};
    EXPECT_EQ(wrong, 0) << "of " << total;

    // Each ease factor is its easing / 100 x the master / 100, capped at 1, so a master or an
    // easing past 100 renders as valid values with the same factors (all exact in binary):
    // 150 x 50 as 75 x 100, and 50 x 300 (capped) as 100 x 100.
    const int easings[] = {UF3_EASING_MASTER, UF3_EASE_DISTANCE, UF3_EASE_SOFTNESS_ADV, UF3_EASE_OPACITY_ADV,
                           UF3_EASE_GRADIENT_ADV};
    const std::array<double, 5> past[][2] = {{{150, 50, 50, 50, 50}, {75, 100, 100, 100, 100}},
                                             {{50, 300, 50, 25, 75}, {100, 100, 25, 12.5, 37.5}}};
    Set(UF3_RENDERER, UF3_RENDERER_STANDARD);
    Set(UF3_FILL_MODE, UF3_FILL_GRADIENT);
    Check(UF3_INNER_SHADOW, false);
    for (const auto& [over, as] : past)
        for (const int light : {UF3_LIGHT_DIRECTIONAL, UF3_LIGHT_POINT}) {
            Set(UF3_LIGHT_TYPE, light);
            auto render = [&](const std::array<double, 5>& values) {
                for (size_t k = 0; k < values.size(); ++k) Float(easings[k], values[k]);
                return Render(32, {0, 0, kLW, kLH});
            };
            const Frame f = render(over), want = render(as);
            EXPECT_TRUE(f.err == PF_Err_NONE && want.err == PF_Err_NONE && shape(f) == shape(want) &&
                        std::memcmp(f.argb.data(), want.argb.data(), f.argb.size() * sizeof f.argb[0]) == 0)
                << "master " << over[0] << " with " << over[1] << ", " << over[2] << ", " << over[3] << ", "
                << over[4] << " against master " << as[0] << " with " << as[1] << ", " << as[2] << ", " << as[3]
                << ", " << as[4] << ", light " << light;
        }
}

}  // namespace
