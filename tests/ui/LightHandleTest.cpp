// The point light's radius handle, driven through the host's windows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <tuple>
#include <vector>

#include <cairo.h>

#include "CompWindowFixture.h"
#include "ui/UF3_LightHandle.h"

namespace {

using LightHandle = CompWindowFixture;

bool IsForeground(const DRAWBOT_ColorRGBA& c) {
    const DRAWBOT_ColorRGBA& f = host::TheOverlayTheme().foreground;
    return std::fabs(c.red - f.red) < 0.02f && std::fabs(c.green - f.green) < 0.02f && std::fabs(c.blue - f.blue) < 0.02f;
}

// Records the points a hit test converts, as the layer window would place them.
std::vector<PF_Point> g_converted;
PF_Err RecordingConverter(PF_InData*, PF_EventExtra*, PF_Point* in, PF_Point* out, PF_FixedPoint* fixed) {
    g_converted.push_back(*in);
    *out = *in;
    *fixed = {in->h << 16, in->v << 16};
    return PF_Err_NONE;
}
PF_FixedPoint g_mouse;
PF_Err FixedMouse(PF_InData*, PF_EventExtra*, PF_Point*, PF_Point* out, PF_FixedPoint* fixed) {
    *fixed = g_mouse;
    *out = {g_mouse.x >> 16, g_mouse.y >> 16};
    return PF_Err_NONE;
}

TEST_F(LightHandle, ReachIsFifteenAndTheOutlineNeedNotBeShown) {
    Open({.width = 400, .height = 300});
    PointLight(100, 100, 40);
    H().Param(UF3_LIGHT_TYPE).u.pd.value = UF3_LIGHT_DIRECTIONAL;
    win->PaintBackground();
    const DRAWBOT_ColorRGBA before = win->Canvas().At(60, 60);
    ASSERT_EQ(win->Draw(), PF_Err_NONE);
    EXPECT_EQ(win->Last().evt_out_flags, PF_EO_HANDLED_EVENT);
    EXPECT_EQ(win->Canvas().At(60, 60).red, before.red) << "a directional light draws no outline";

    // Top-left corner at (60, 60): distance 15 grabs it, 16 does not.
    ASSERT_EQ(win->Click({60 + 8, 60 + 7}), PF_Err_NONE);
    EXPECT_TRUE(win->Dragging());
    EXPECT_EQ(win->Last().evt_out_flags, PF_EO_HANDLED_EVENT);
    EXPECT_EQ(win->Last().u.do_click.continue_refcon[0], 1);
    ASSERT_EQ(win->Release({60, 60}), PF_Err_NONE);  // back on the corner: the radius stays 40
    EXPECT_DOUBLE_EQ(Radius(UF3_LIGHT_RADIUS_STD), 40);
    ASSERT_EQ(win->Click({60 + 8, 60 + 8}), PF_Err_NONE);
    EXPECT_FALSE(win->Dragging());
    EXPECT_EQ(win->Last().evt_out_flags, PF_EO_NONE);

    // Corners are tried top-left, top-right, bottom-right, bottom-left; the first in reach wins.
    PF_LRect box = {95, 95, 105, 105};
    PF_EventExtra extra = win->EventFor(PF_Event_DO_CLICK);
    extra.u.do_click.screen_point = {108, 100};  // 8 from the top-right and from the bottom-right
    g_converted.clear();
    EXPECT_TRUE(DoClickHandles(&H().In(), &box, nullptr, RecordingConverter, &extra));
    ASSERT_EQ(g_converted.size(), 2u);
    EXPECT_EQ(g_converted[1].h, 105);
    EXPECT_EQ(g_converted[1].v, 95);
    extra.u.do_click.screen_point = {92, 108};
    g_converted.clear();
    EXPECT_TRUE(DoClickHandles(&H().In(), &box, nullptr, RecordingConverter, &extra));
    EXPECT_EQ(g_converted.size(), 4u) << "only the bottom-left corner is in reach";
}

TEST_F(LightHandle, DragsSetTheActiveRadiusThroughCompositionSpace) {
    // Zoomed and panned, so window, composition and layer pixels all differ.
    Open({.width = 600, .height = 500, .zoom = 2, .panX = 30, .panY = 20});
    win->Placement() = {.positionX = 150, .positionY = 120, .anchorX = 100, .anchorY = 100};
    H().In().current_time = 45;
    PointLight(100, 100, 20);
    const double before = Radius(UF3_LIGHT_RADIUS_RT);

    ASSERT_EQ(win->Click(At(120, 80)), PF_Err_NONE);  // the top-right corner
    ASSERT_TRUE(win->Dragging());
    EXPECT_EQ(win->LastTime(), 45);
    EXPECT_EQ(win->LastTimeScale(), H().In().time_scale);
    ASSERT_EQ(win->DragTo(At(130, 140)), PF_Err_NONE);
    EXPECT_DOUBLE_EQ(Radius(UF3_LIGHT_RADIUS_STD), 40);
    ASSERT_EQ(win->Release(At(50, 90)), PF_Err_NONE);
    EXPECT_DOUBLE_EQ(Radius(UF3_LIGHT_RADIUS_STD), 50) << "the final event still sets the radius";
    EXPECT_EQ(win->Last().u.do_click.continue_refcon[0], 0);
    EXPECT_EQ(win->Last().u.do_click.send_drag, 0);
    EXPECT_FALSE(win->Dragging());
    EXPECT_DOUBLE_EQ(Radius(UF3_LIGHT_RADIUS_RT), before);

    // A drag without a corner under way changes nothing.
    PF_EventExtra stray = win->EventFor(PF_Event_DRAG);
    stray.u.do_click.screen_point = At(200, 200);
    ASSERT_EQ(win->Send(stray), PF_Err_NONE);
    EXPECT_EQ(stray.evt_out_flags, PF_EO_NONE);
    EXPECT_DOUBLE_EQ(Radius(UF3_LIGHT_RADIUS_STD), 50);

    H().Param(UF3_RENDERER).u.pd.value = UF3_RENDERER_RAYTRACED;
    H().Param(UF3_LIGHT_RADIUS_RT).u.fs_d.value = 50;
    ASSERT_EQ(win->Click(At(50, 150)), PF_Err_NONE);  // bottom-left
    ASSERT_EQ(win->Release(At(100, 177.5)), PF_Err_NONE);
    EXPECT_DOUBLE_EQ(Radius(UF3_LIGHT_RADIUS_RT), 77.5);
    EXPECT_DOUBLE_EQ(Radius(UF3_LIGHT_RADIUS_STD), 50);
}

TEST_F(LightHandle, TheOutlineTurnsWithTheLayerAndEverySquareGrabs) {
    Open({.width = 600, .height = 500});
    PointLight(200, 100, 40);
    for (const auto& [degrees, scaleX, scaleY] : {std::tuple{0.0, 1.0, 1.0}, {30.0, 1.0, 1.0}, {90.0, 1.0, 1.0}, {30.0, 1.6, 0.8}}) {
        SCOPED_TRACE(testing::Message() << degrees << " degrees, scale " << scaleX << " x " << scaleY);
        win->Placement() = {.positionX = 300, .positionY = 250, .anchorX = 160, .anchorY = 120, .rotation = degrees,
                            .scaleX = scaleX, .scaleY = scaleY};
        win->Canvas().Fill({0, 0, 0, 1});
        ASSERT_EQ(win->Draw(), PF_Err_NONE);
        // Squares: every 4 x 4 block of foreground, gathered by square.
        std::vector<std::pair<double, double>> sums;
        std::vector<int> counts;
        for (int y = 0; y + 4 <= 500; ++y)
            for (int x = 0; x + 4 <= 600; ++x) {
                bool full = true;
                for (int i = 0; i < 16 && full; ++i) full = IsForeground(win->Canvas().At(x + i % 4 + 0.5, y + i / 4 + 0.5));
                if (!full) continue;
                size_t k = 0;
                while (k < sums.size() && std::hypot(sums[k].first / counts[k] - x, sums[k].second / counts[k] - y) > 6) ++k;
                if (k == sums.size()) sums.push_back({0, 0}), counts.push_back(0);
                sums[k].first += x, sums[k].second += y, ++counts[k];
            }
        ASSERT_EQ(sums.size(), 4u) << "four corner squares";
        for (size_t k = 0; k < sums.size(); ++k) {
            // A 6-pixel square holds 3 x 3 such blocks; its centre is 2 pixels past their mean corner.
            const PF_Point centre = {A_long(std::lround(sums[k].first / counts[k] + 2)),
                                     A_long(std::lround(sums[k].second / counts[k] + 2))};
            ASSERT_EQ(win->Click(centre), PF_Err_NONE);
            EXPECT_TRUE(win->Dragging()) << "the square at " << centre.h << "," << centre.v << " does not grab";
            ASSERT_EQ(win->Release(centre), PF_Err_NONE);
            PointLight(200, 100, 40);
        }
        // Out from the light's centre in every direction the stroke lies on the layer's circle as the
        // window shows it: a direction turned back and unscaled into the layer must be a radius long there.
        const PF_Point light = At(200, 100);
        for (int d = 0; d < 16; ++d) {
            const double a = d * M_PI / 8, back = a - degrees * M_PI / 180;
            const double expected = 40 / std::hypot(std::cos(back) / scaleX, std::sin(back) / scaleY);
            double hit = 0;
            for (double t = 1; t < 80 && hit == 0; t += 0.5)
                if (win->Canvas().At(light.h + 0.5 + t * std::cos(a), light.v + 0.5 + t * std::sin(a)).blue > 0.3f) hit = t;
            EXPECT_NEAR(hit, expected, 3) << "direction " << d << " of 16";
        }
    }
}

// Unturned, the squares sit on the exact box's corners rounded half up in the window, and the
// ellipse is the whole-pixel one of the box they make: it reaches L - 1 .. L + 2 * ((R - L) / 2).
TEST_F(LightHandle, AnUnturnedOutlineRoundsTheExactBoxHalfUp) {
    struct Case {
        PF_WindowType type;
        double zoom;
        A_long L, T, R, B;
    };
    for (const Case c : {Case{PF_Window_COMP, 1, 248, 84, 323, 159}, {PF_Window_COMP, 1.5, 360, 114, 472, 226},
                         {PF_Window_LAYER, 1, 188, 64, 263, 139}, {PF_Window_LAYER, 1.5, 270, 84, 382, 196}}) {
        SCOPED_TRACE(testing::Message() << (c.type == PF_Window_COMP ? "composition" : "layer") << " window, zoom " << c.zoom);
        Open({.type = c.type, .width = 520, .height = 260, .zoom = c.zoom, .panX = 24, .panY = 24});
        win->Placement() = {.positionX = 100, .positionY = 50, .anchorX = 40, .anchorY = 30};
        PointLight(201.5, 77.25, 37.3);
        win->Canvas().Fill({0, 0, 0, 1});
        ASSERT_EQ(win->Draw(), PF_Err_NONE);
        // The foreground pixels round each corner: the 6 x 6 square from corner - 3.
        for (const auto& [x, y] : {std::pair{c.L, c.T}, {c.R, c.T}, {c.L, c.B}, {c.R, c.B}}) {
            A_long l = x + 9, t = y + 9, r = x - 9, b = y - 9;
            for (A_long v = y - 8; v <= y + 8; ++v)
                for (A_long h = x - 8; h <= x + 8; ++h)
                    if (IsForeground(win->Canvas().At(h + 0.5, v + 0.5)))
                        l = std::min(l, h), t = std::min(t, v), r = std::max(r, h), b = std::max(b, v);
            EXPECT_EQ(l, x - 3) << "square at " << x << "," << y;
            EXPECT_EQ(t, y - 3) << "square at " << x << "," << y;
            EXPECT_EQ(r, x + 2) << "square at " << x << "," << y;
            EXPECT_EQ(b, y + 2) << "square at " << x << "," << y;
        }
        const A_long half = (c.R - c.L) / 2, halfV = (c.B - c.T) / 2;
        auto stroked = [&](A_long h, A_long v) { return win->Canvas().At(h + 0.5, v + 0.5).blue > 0.3f; };
        A_long left = c.R, right = c.L, top = c.B, bottom = c.T;
        for (A_long h = c.L - 4; h <= c.R + 4; ++h)
            if (stroked(h, c.T + halfV)) left = std::min(left, h), right = std::max(right, h);
        for (A_long v = c.T - 4; v <= c.B + 4; ++v)
            if (stroked(c.L + half, v)) top = std::min(top, v), bottom = std::max(bottom, v);
        EXPECT_EQ(left, c.L - 1);
        EXPECT_EQ(right, c.L + 2 * half);
        EXPECT_EQ(top, c.T - 1);
        EXPECT_EQ(bottom, c.T + 2 * halfV);
    }
}

TEST_F(LightHandle, PixelAspectTwoDrawsACircleInTheLayerWindow) {
    H().In().pixel_aspect_ratio = {2, 1};
    Open({.type = PF_Window_LAYER, .width = 640, .height = 320});
    PointLight(200, 150, 100);
    win->Canvas().Fill({0, 0, 0, 1});
    ASSERT_EQ(win->Draw(), PF_Err_NONE);
    EXPECT_EQ(win->CompConversions(), 0) << "the layer window makes no composition conversion";
    // 50 layer pixels to each side shown 100 window pixels wide: a circle of radius 100 round (400, 150).
    EXPECT_TRUE(IsForeground(win->Canvas().At(300.5, 49.5))) << "top-left square";
    EXPECT_TRUE(IsForeground(win->Canvas().At(500.5, 250.5))) << "bottom-right square";
    // The 1-pixel stroke lands on the pixels either side of the ellipse's extreme points.
    auto stroked = [&](double x, double y) {
        float most = 0;
        for (double dx = -1; dx <= 1; ++dx)
            for (double dy = -1; dy <= 1; ++dy) most = std::max(most, win->Canvas().At(x + dx, y + dy).blue);
        return most > 0.3f;
    };
    for (auto [x, y] : {std::pair{400.5, 50.0}, {300.0, 150.5}, {500.0, 150.5}, {400.5, 250.0}})
        EXPECT_TRUE(stroked(x, y)) << "ellipse at " << x << "," << y;
    EXPECT_LT(win->Canvas().At(400, 150).blue, 0.1f) << "inside the outline";

    ASSERT_EQ(win->Click({500, 50}), PF_Err_NONE);  // top-right: 50 layer pixels right, 100 up
    ASSERT_EQ(win->Release({500, 50}), PF_Err_NONE);
    EXPECT_DOUBLE_EQ(Radius(UF3_LIGHT_RADIUS_STD), 100);

    // A ratio the host left empty or unusable draws as a square one.
    auto drawn = [&](PF_RationalScale ratio) {
        H().In().pixel_aspect_ratio = ratio;
        win->Canvas().Fill({0, 0, 0, 1});
        EXPECT_EQ(win->Draw(), PF_Err_NONE);
        cairo_surface_t* surface = win->Canvas().Surface();
        cairo_surface_flush(surface);
        const unsigned char* bytes = cairo_image_surface_get_data(surface);
        return std::vector<unsigned char>(bytes, bytes + cairo_image_surface_get_stride(surface) * win->Canvas().Height());
    };
    const std::vector<unsigned char> square = drawn({1, 1});
    for (const PF_RationalScale bad : {PF_RationalScale{0, 1}, {2, 0}, {-2, 1}})
        EXPECT_TRUE(drawn(bad) == square) << bad.num << "/" << bad.den;
    EXPECT_FALSE(drawn({2, 1}) == square);
}

TEST_F(LightHandle, FarBoxesAndDragsStayInRange) {
    PointLight(30000, 0, 5000, UF3_RENDERER_RAYTRACED);
    std::vector<PF_ParamDef> values;
    for (int i = 0; i < H().NumParams(); ++i) values.push_back(H().Param(i));
    std::vector<PF_ParamDef*> params;
    for (auto& v : values) params.push_back(&v);

    PF_LRect box;
    FrameFromParams(&H().In(), params.data(), &box);
    EXPECT_EQ(box.left, 25000);
    EXPECT_EQ(box.right, 32767) << "limited, not wrapped";
    PF_FixedRect fixed;
    FixedFrameFromParams(&H().In(), params.data(), &fixed);
    EXPECT_EQ(fixed.right, std::numeric_limits<PF_Fixed>::max());
    EXPECT_EQ(fixed.left, 25000 << 16);
    EXPECT_EQ(UF3_PixelsToFixed(-40000), std::numeric_limits<PF_Fixed>::min());
    // A radius that is not a number leaves no box: every edge at the layer's origin, in both forms.
    values[UF3_LIGHT_RADIUS_RT].u.fs_d.value = std::numeric_limits<double>::quiet_NaN();
    FixedFrameFromParams(&H().In(), params.data(), &fixed);
    FrameFromParams(&H().In(), params.data(), &box);
    for (A_long edge : {fixed.left, fixed.top, fixed.right, fixed.bottom, box.left, box.top, box.right, box.bottom})
        EXPECT_EQ(edge, 0);
    values[UF3_LIGHT_RADIUS_RT].u.fs_d.value = 5000;

    // A mouse 60000 pixels from the light: the distance must not wrap in 32 bits.
    Open({.type = PF_Window_LAYER});
    PF_EventExtra extra = win->EventFor(PF_Event_DRAG);
    g_mouse = {-30000 << 16, 0};
    EXPECT_TRUE(DoDragHandles(&H().In(), &H().Out(), params.data(), FixedMouse, &extra));
    EXPECT_DOUBLE_EQ(values[UF3_LIGHT_RADIUS_RT].u.fs_d.value, 60000);
}

}  // namespace
