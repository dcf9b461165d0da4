// The loaded module with its parameters and sequence data, and the host's
// Effect Controls panel to send events through. On top of the panel's books,
// every drawing must leave the surface's state as it found it and use no
// DRAWBOT object wrongly.
#pragma once

#include <cmath>
#include <memory>
#include <vector>

#include "GradientStops.h"
#include "host/AppSuite.h"
#include "host/EffectControls.h"
#include "host/HandleSuite.h"
#include "params/GradientData.h"
#include "params/PanelFixture.h"

class ControlsFixture : public PanelFixture {
protected:
    void SetUp() override { StartControls({}); }

    void StartControls(host::PanelLayout layout) {
        host::AppServices::Instance().Reset();
        StartPanel({});
        ASSERT_EQ(H().SequenceSetup(), PF_Err_NONE);
        panel = std::make_unique<host::EffectControls>(H(), layout);
    }

    void Relayout(host::PanelLayout layout) { panel = std::make_unique<host::EffectControls>(H(), layout); }

    void TearDown() override {
        if (panel) {
            EXPECT_EQ(panel->UnbalancedDrawings(), 0) << "a drawing left surface state behind";
        }
        EXPECT_EQ(host::DrawbotMisuses(), 0);
        host::DrawbotFailCall("");
        panel.reset();
        PanelFixture::TearDown();
    }

    const PF_HandleSuite1* Handles() { return host::HandleTable::Instance().Suite(); }

    void SetStops(const std::vector<ArbGradientPt>& stops) {
        PF_Handle h = nullptr;
        ASSERT_EQ(Set_Arb_Gradient(Handles(), &h, unsigned(stops.size()), stops.data()), PF_Err_NONE);
        H().SetArbitraryValue(UF3_COLOR_GRADIENT, h);
        host::HandleTable::Instance().Dispose(h);
    }
    std::vector<ArbGradientPt> Stops() {
        return StopsOf(Handles(), H().Param(UF3_COLOR_GRADIENT).u.arb_d.value);
    }
    PF_Handle GradientHandle() { return H().Param(UF3_COLOR_GRADIENT).u.arb_d.value; }

    // The gradient bar of the panel's layout: left X, top T, width W, bottom B.
    struct Bar {
        float X, T, W, B;
    };
    Bar BarOf() {
        const PF_Rect& f = panel->Control(UF3_COLOR_GRADIENT)->control;
        return {f.left + 12.0f, float(f.top), float(f.right - f.left) - 24.0f, f.top + 32.0f};
    }
    // A point at a position along the bar, dy below its bottom.
    PF_Point Under(double position, float dy) {
        const Bar b = BarOf();
        return {A_long(std::lround(b.X + position * b.W)), A_long(std::lround(b.B + dy))};
    }

    static ArbGradientPt Stop(double position, float r, float g, float b) { return {position, {1.0f, r, g, b}}; }

    std::unique_ptr<host::EffectControls> panel;
};
