// The gradient editor's drawing, checked on the panel's cairo surface.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>

#include "ControlsFixture.h"
#include "host/Composition.h"

namespace {

class GradientDrawing : public ControlsFixture {
protected:
    // A 300-wide bar on a high-density panel: the bar image lands pixel for pixel.
    void SetUp() override { StartControls({.width = 374, .indent = 50, .scale = 2}); }

    PF_Err Draw() {
        panel->Canvas().Fill(kGround);
        panel->Canvas().ClearRecords();
        return panel->Draw(UF3_COLOR_GRADIENT);
    }
    DRAWBOT_ColorRGBA At(double x, double y) { return panel->Canvas().At(x, y); }
    DRAWBOT_ColorRGBA AppColour(PF_App_ColorType id) {
        PF_App_Color c{};
        EXPECT_TRUE(host::AppServices::Instance().Color(id, &c));
        return {c.red / 65535.0f, c.green / 65535.0f, c.blue / 65535.0f, 1};
    }
    static void ExpectColour(const DRAWBOT_ColorRGBA& got, const DRAWBOT_ColorRGBA& want, const char* what) {
        // One 8-bit step of the surface, plus a little for the host's 16-bit colours.
        constexpr float kTolerance = 1.5f / 255;
        EXPECT_NEAR(got.red, want.red, kTolerance) << what;
        EXPECT_NEAR(got.green, want.green, kTolerance) << what;
        EXPECT_NEAR(got.blue, want.blue, kTolerance) << what;
    }
    std::set<std::string> Labels() {
        std::set<std::string> labels;
        for (const auto& t : panel->Canvas().Texts()) labels.insert(t.text);
        return labels;
    }

    static constexpr DRAWBOT_ColorRGBA kGround = {0.5f, 0.5f, 0.5f, 1};
};

TEST_F(GradientDrawing, BarImageAtTwiceTheBarsResolution) {
    SetStops({Stop(0, 1, 0, 0), Stop(1, 0, 0, 1)});
    H().Param(UF3_LINEAR_BLENDING).u.bd.value = 0;
    ASSERT_EQ(Draw(), PF_Err_NONE);
    EXPECT_EQ(panel->Last().evt_out_flags, PF_EO_HANDLED_EVENT);
    const Bar b = BarOf();
    ASSERT_EQ(panel->Canvas().Images().size(), 1u);
    const auto& image = panel->Canvas().Images()[0];
    EXPECT_EQ(image.width, 600);
    EXPECT_EQ(image.height, 64);
    EXPECT_EQ(image.rowBytes, 2400);
    EXPECT_EQ(image.layout, kDRAWBOT_PixelLayout_32ARGB_Straight);
    EXPECT_FLOAT_EQ(image.alpha, 1.0f);
    EXPECT_DOUBLE_EQ(image.left, b.X);
    EXPECT_DOUBLE_EQ(image.bottom - image.top, 32.0);
    // Each device pixel is one image column; the frame's pen covers the outer two.
    // Columns 2 and 597 are within 2/599 of the stops; the middle is the plain blend.
    ExpectColour(At(b.X + 1.25, b.T + 10), {1, 0, 0, 1}, "column 2");
    ExpectColour(At(b.X + b.W - 1.25, b.T + 10), {0, 0, 1, 1}, "column 597");
    ExpectColour(At(b.X + 0.25, b.T + 10), {0, 0, 0, 1}, "the frame");
    ExpectColour(At(b.X + b.W / 2, b.T + 0.25), {0, 0, 0, 1}, "the frame's top edge");
    ExpectColour(At(b.X + b.W - 0.25, b.T + 10), {0, 0, 0, 1}, "the frame's right edge");
    EXPECT_NEAR(At(b.X + b.W / 2, b.T + 10).red, 0.5f, 2.0f / 255);
    EXPECT_EQ(Labels(), (std::set<std::string>{"\u2190 Shift", "Shift \u2192", "Reverse", "Gamma 2.2",
                                                "Interpolate", "Reset"}));
}

// Damaged positions: each marker at the end it is taken as, and every button still drawn.
TEST_F(GradientDrawing, DamagedPositionsDrawEveryMarkerAndButton) {
    const Bar b = BarOf();
    for (const double odd : {double(NAN), -1e39}) {
        SetStops({Stop(odd, 1, 0, 0), Stop(0.5, 0, 1, 0), Stop(1e300, 0, 0, 1)});
        ASSERT_EQ(Draw(), PF_Err_NONE) << odd;
        ExpectColour(At(b.X, b.B + 12), {1, 0, 0, 1}, "the first marker");
        ExpectColour(At(b.X + b.W / 2, b.B + 12), {0, 1, 0, 1}, "the middle marker");
        ExpectColour(At(b.X + b.W, b.B + 12), {0, 0, 1, 1}, "the last marker");
        EXPECT_EQ(Labels().size(), 6u);
    }
    SetStops({Stop(0.25, 1, 0, 0), Stop(NAN, 0, 1, 0), Stop(1, 0, 0, 1)});
    ASSERT_EQ(Draw(), PF_Err_NONE);
    ExpectColour(At(b.X + b.W, b.B + 12), {0, 0, 1, 1}, "the marker after a NaN one");
    EXPECT_EQ(Labels().size(), 6u);
}

TEST_F(GradientDrawing, DisabledControlDrawsTheBarAtQuarterAlpha) {
    SetStops({Stop(0, 0, 1, 0), Stop(1, 0, 1, 0)});
    H().Param(UF3_COLOR_GRADIENT).ui_flags |= PF_PUI_DISABLED;
    ASSERT_EQ(Draw(), PF_Err_NONE);
    EXPECT_FLOAT_EQ(panel->Canvas().Images()[0].alpha, 0.25f);
    const Bar b = BarOf();
    ExpectColour(At(b.X + 100, b.T + 10), {0.375f, 0.625f, 0.375f, 1}, "green over grey at 0.25");
    // The markers are drawn as usual: the fill of the stop at 0.
    ExpectColour(At(b.X, b.B + 12), {0, 1, 0, 1}, "marker fill");
}

TEST_F(GradientDrawing, SelectedMarkerIsOutlinedInTheHighlightColour) {
    SetStops({Stop(0.25, 1, 1, 1), Stop(0.75, 1, 1, 1)});
    H().Param(UF3_GRADIENT_PT_SELECT).u.sd.value = 1;
    ASSERT_EQ(Draw(), PF_Err_NONE);
    const Bar b = BarOf();
    // The outline's bottom edge, a 1-unit pen along B + 18.
    ExpectColour(At(b.X + 0.75 * b.W, b.B + 17.75), AppColour(49), "selected");
    ExpectColour(At(b.X + 0.25 * b.W, b.B + 17.75), {0, 0, 0, 1}, "not selected");
    ExpectColour(At(b.X + 0.25 * b.W, b.B + 3), {0.7f, 0.7f, 0.7f, 1}, "the tip");
    // Both shoulders, from the tip down to half the marker's width.
    ExpectColour(At(b.X + 0.75 * b.W - 3, b.B + 2.5), AppColour(49), "left shoulder");
    ExpectColour(At(b.X + 0.75 * b.W + 3, b.B + 3), AppColour(49), "right shoulder");
    // Beside the tip, above the shoulders' ends: the panel, as between the markers.
    for (double side : {-5.0, 5.0})
        ExpectColour(At(b.X + 0.75 * b.W + side, b.B + 1.5), At(b.X + 0.5 * b.W, b.B + 1.5), "beside the tip");

    H().Param(UF3_GRADIENT_PT_SELECT).u.sd.value = -1;
    ASSERT_EQ(Draw(), PF_Err_NONE);
    ExpectColour(At(b.X + 0.75 * b.W, b.B + 17.75), {0, 0, 0, 1}, "nothing selected");
}

TEST_F(GradientDrawing, HoveredButtonSwapsFaceAndText) {
    const Bar b = BarOf();
    const float width = (b.W + 8) / 3;
    auto face = [&](int k) { return At(b.X - 9 + k * (width + 5) + 3, b.T + 57.2 + 3); };
    const PF_Point onReverse = {A_long(b.X - 9 + 2 * (width + 5) + 10), A_long(b.T + 65)};
    PF_CursorType cursor;
    ASSERT_EQ(panel->MoveTo(UF3_COLOR_GRADIENT, onReverse, &cursor), PF_Err_NONE);
    ASSERT_EQ(Draw(), PF_Err_NONE);
    ExpectColour(face(2), AppColour(2), "hovered: face in the text colour");
    ExpectColour(face(1), AppColour(1000), "others keep the face colour");

    // A click moves no hover point.
    ASSERT_EQ(panel->Click(UF3_COLOR_GRADIENT, {onReverse.h - 2 * A_long(width), onReverse.v}), PF_Err_NONE);
    ASSERT_EQ(Draw(), PF_Err_NONE);
    ExpectColour(face(2), AppColour(2), "still the last cursor point");
    EXPECT_EQ(Labels().count("No Interp"), 0u);
}

// Each button is its whole rectangle, nothing beside it, with its label on a baseline low in it.
TEST_F(GradientDrawing, ButtonFillsItsRectangleWithTheLabelLowInIt) {
    ASSERT_EQ(Draw(), PF_Err_NONE);
    const Bar b = BarOf();
    const double width = (b.W + 8) / 3, height = 16;
    const DRAWBOT_ColorRGBA text = AppColour(2);
    for (int k = 0; k < 6; ++k) {
        SCOPED_TRACE(k);
        const double l = b.X - 9 + (k % 3) * (width + 5), t = b.T + 57.2 + (k / 3) * 21;
        // Inside the face's corners, clear of the 2-unit pen and of the centred label.
        ExpectColour(At(l + width - 3, t + height - 3), AppColour(1000), "lower right corner");
        ExpectColour(At(l + 3, t + height - 3), AppColour(1000), "lower left corner");
        ExpectColour(At(l + width - 3, t + 3), AppColour(1000), "upper right corner");
        // In the gap to the left of the button, low and high alike: the panel.
        if (k % 3) ExpectColour(At(l - 2.5, t + height - 2), At(l - 2.5, t + 2), "the gap beside the button");
        // The label's glyphs in the button's lower half, from the middle to the bottom.
        int inked = 0;
        for (double y = t + height / 2; y < t + height - 1; y += 0.5)
            for (double x = l + 2; x < l + width - 2; x += 0.5) {
                const DRAWBOT_ColorRGBA c = At(x, y);
                if (std::abs(c.red - text.red) + std::abs(c.green - text.green) + std::abs(c.blue - text.blue) <
                    0.1f)
                    ++inked;
            }
        EXPECT_GT(inked, 10) << "label pixels in the lower half";
    }
}

TEST_F(GradientDrawing, LowWorkingSpaceGammaBlendsTheBarLinearly) {
    SetStops({Stop(0, 1, 0, 0), Stop(1, 0, 0, 1)});
    H().Param(UF3_LINEAR_BLENDING).u.bd.value = 0;
    H().Param(UF3_INTERPOLATE).u.bd.value = 0;
    H().SetWorkingSpaceGamma(1.0f);
    ASSERT_EQ(Draw(), PF_Err_NONE);
    EXPECT_TRUE(Labels().count("Gamma 2.2") && Labels().count("No Interp")) << "the parameters' labels";
    H().Param(UF3_INTERPOLATE).u.bd.value = 1;
    ASSERT_EQ(Draw(), PF_Err_NONE);
    const Bar b = BarOf();
    // The middle of a linear-light blend: 0.5 back through 0.4545.
    EXPECT_NEAR(At(b.X + b.W / 2, b.T + 10).red, std::pow(0.5f, 0.4545f), 3.0f / 255);

    // A stop added by clicking still follows Linear Blending alone.
    ASSERT_EQ(panel->Click(UF3_COLOR_GRADIENT, Under(0.5, 9)), PF_Err_NONE);
    EXPECT_FLOAT_EQ(Stops().back().color.red, 0.5f);

    // A gamma of exactly 1.6 is not a linear space: the bar blends the stored values.
    SetStops({Stop(0, 1, 0, 0), Stop(1, 0, 0, 1)});
    H().SetWorkingSpaceGamma(1.6f);
    ASSERT_EQ(Draw(), PF_Err_NONE);
    EXPECT_NEAR(At(b.X + b.W / 2, b.T + 10).red, 0.5f, 3.0f / 255);
}

TEST_F(GradientDrawing, FirstDrawingErrorStopsTheDrawing) {
    host::DrawbotFailCall("StrokePath", A_Err_GENERIC);
    EXPECT_EQ(Draw(), A_Err_GENERIC);
    EXPECT_EQ(panel->Last().evt_out_flags, PF_EO_HANDLED_EVENT) << "handled whatever the drawing returned";
    EXPECT_TRUE(panel->Canvas().Texts().empty()) << "no button after the frame failed";
    ExpectBooksBalanced();

    // The working space's gamma read fails: a cancel passes on, anything else is the host's
    // callback fault; the profile goes back either way.
    static A_Err gammaErr;
    PF_ColorSettingsSuite3 failing = *host::ColorSettingsSuite();
    failing.AEGP_GetColorProfileApproximateGamma = [](AEGP_ColorProfileP, A_FpShort*) { return gammaErr; };
    host::SuiteRegistry::Instance().Register(kPFColorSettingsSuite, kPFColorSettingsSuiteVersion3, &failing);
    for (const auto& [raised, want] : {std::pair<A_Err, PF_Err>{PF_Interrupt_CANCEL, PF_Interrupt_CANCEL},
                                      std::pair<A_Err, PF_Err>{A_Err_GENERIC, PF_Err_INVALID_CALLBACK}}) {
        gammaErr = raised;
        EXPECT_EQ(Draw(), want);
        EXPECT_EQ(host::ColorProfilesAlive(), 0);
    }
    host::SuiteRegistry::Instance().Register(kPFColorSettingsSuite, kPFColorSettingsSuiteVersion3,
                                             host::ColorSettingsSuite());
    ExpectBooksBalanced();
}

}  // namespace
