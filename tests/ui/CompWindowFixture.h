// The loaded module with a composition or layer window of the host: a
// 320 x 240 layer, the window's drawings checked for balance after each test.
#pragma once

#include <cmath>
#include <memory>

#include "ControlsFixture.h"
#include "host/CompWindow.h"

class CompWindowFixture : public ControlsFixture {
protected:
    void SetUp() override {
        ControlsFixture::SetUp();
        host::TheOverlayTheme() = {};
        H().SetLayerSize(H().EffectLayer(), 320, 240);
    }
    void TearDown() override {
        if (win) {
            EXPECT_EQ(win->UnbalancedDrawings(), 0) << "a window drawing left surface state behind";
        }
        win.reset();
        if (H().EffectLayer().pixels.data) host::WorldTable::Instance().Dispose(&H().EffectLayer().pixels);
        ControlsFixture::TearDown();
    }

    host::CompWindow& Open(host::WindowView view) {
        win = std::make_unique<host::CompWindow>(H(), view);
        return *win;
    }
    // The window pixel that shows a layer point.
    PF_Point At(double x, double y) {
        win->LayerToFrame(&x, &y);
        return {A_long(std::lround(x)), A_long(std::lround(y))};
    }
    void PointLight(double x, double y, double radius, A_long renderer = UF3_RENDERER_STANDARD) {
        H().Param(UF3_LIGHT_TYPE).u.pd.value = UF3_LIGHT_POINT;
        H().Param(UF3_RENDERER).u.pd.value = renderer;
        H().Param(UF3_LIGHT_ORIGIN).u.td.x_value = PF_Fixed(x * 65536);
        H().Param(UF3_LIGHT_ORIGIN).u.td.y_value = PF_Fixed(y * 65536);
        H().Param(renderer == UF3_RENDERER_STANDARD ? UF3_LIGHT_RADIUS_STD : UF3_LIGHT_RADIUS_RT).u.fs_d.value = radius;
    }
    double Radius(int index) { return H().Param(index).u.fs_d.value; }

    std::unique_ptr<host::CompWindow> win;
};
