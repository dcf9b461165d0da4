// The debug overlay of render rectangles: its texts, and the drawing space it
// asks the host's windows for.
#include <gtest/gtest.h>

#include <cmath>

#include "CompWindowFixture.h"
#include "shell/AEFX_SuiteHelper.h"
#include "ui/UF3_DebugOverlay.h"

namespace {

class DebugOverlay : public CompWindowFixture {
protected:
    void SetUp() override {
        CompWindowFixture::SetUp();
        ASSERT_EQ(H().GlobalSetup(), PF_Err_NONE);
        H().Param(UF3_SHOW_DEBUG).u.bd.value = 1;
    }
    // On screen: where the heading starts and how long its baseline is, in window pixels.
    struct Seen {
        double x, y, length, dirX, dirY;
    };
    Seen Heading() {
        const auto& t = win->Canvas().Texts().at(0);
        const double dx = t.endX - t.x, dy = t.endY - t.y, len = std::hypot(dx, dy);
        return {t.x, t.y, len, dx / len, dy / len};
    }
};

const char* kZeroRect = "[ left: 0, top: 0, right: 0, bot: 0 ]  ";
const char* kZeroWorld = "[ x: 0, y: 0, width: 0, height: 0, extend:[ left: 0, top: 0, right: 0, bot: 0 ]   ]";

TEST_F(DebugOverlay, TextFormats) {
    EXPECT_EQ(to_string(PF_LRect{-10, -10, 0, 0}), "[ left: -10, top: -10, right: 0, bot: 0 ]  ");
    EXPECT_EQ(to_string(PF_LayerDef{}), kZeroWorld);
    PF_LayerDef w{};
    w.origin_x = -3, w.width = 2147483647, w.extent_hint = {1, 2, 3, 4};
    EXPECT_EQ(to_string(w), "[ x: -3, y: 0, width: 2147483647, height: 0, extend:[ left: 1, top: 2, right: 3, bot: 4 ]   ]");
}

TEST_F(DebugOverlay, ShowDebugOffDrawsNothing) {
    H().Param(UF3_SHOW_DEBUG).u.bd.value = 0;
    Open({});
    ASSERT_EQ(win->Draw(), PF_Err_NONE);
    EXPECT_EQ(win->Last().evt_out_flags, PF_EO_HANDLED_EVENT);
    EXPECT_TRUE(win->Canvas().Texts().empty());
}

TEST_F(DebugOverlay, ZeroRecordLinesKeepTheirSizeAndTurnWithTheLayer) {
    Open({.width = 800, .height = 600, .panX = 40, .panY = 30});
    win->Placement() = {.positionX = 100, .positionY = 50};
    ASSERT_EQ(win->Draw(), PF_Err_NONE);
    EXPECT_EQ(win->Last().evt_out_flags, PF_EO_HANDLED_EVENT);
    const auto& texts = win->Canvas().Texts();
    ASSERT_EQ(texts.size(), 15u) << "the heading, then each line's shadow and white copies";
    EXPECT_EQ(texts[0].text, "DEBUG: ");
    const char* labels[] = {"Max Result Rect: ", "Result Rect: ", "Request Rect: ", "Output Rect: ",
                            "Input World: ",     "Texture World: ", "Output World: "};
    for (int i = 0; i < 7; ++i) {
        const std::string expected = std::string(labels[i]) + (i < 4 ? kZeroRect : kZeroWorld);
        EXPECT_EQ(texts[size_t(1 + 2 * i)].text, expected);
        EXPECT_EQ(texts[size_t(2 + 2 * i)].text, expected);
    }
    // The pen starts 3 units in, a heading line down: one unit is 1/0.75 window pixels at zoom 1.
    const Seen at1 = Heading();
    EXPECT_NEAR(at1.x, 140 + 3 / 0.75, 1e-3);
    EXPECT_NEAR(at1.y, 80 + (3 + 1.5 * host::kDrawbotDefaultFontSize) / 0.75, 1e-3);

    for (double zoom : {0.25, 4.0}) {
        win->View().zoom = zoom;
        win->Canvas().ClearRecords();
        ASSERT_EQ(win->Draw(), PF_Err_NONE);
        EXPECT_NEAR(Heading().length, at1.length, 1e-3) << "zoom " << zoom;
    }

    win->View().zoom = 2;
    win->Placement().rotation = 90;
    win->Canvas().ClearRecords();
    ASSERT_EQ(win->Draw(), PF_Err_NONE);
    const Seen turned = Heading();
    EXPECT_NEAR(turned.length, at1.length, 1e-3);
    EXPECT_NEAR(turned.dirX, 0, 1e-6);
    EXPECT_NEAR(turned.dirY, 1, 1e-6) << "the layer's x axis points down the window";
}

// Counts the overlay's frame mappings; any past its three points is not passed on.
PF_Err (*g_toFrame)(void*, PF_ContextH, PF_FixedPoint*) = nullptr;
int g_toFrameCalls = 0;
PF_Err CountedToFrame(void* refcon, PF_ContextH context, PF_FixedPoint* p) {
    return ++g_toFrameCalls > 3 ? PF_Err_NONE : g_toFrame(refcon, context, p);
}

TEST_F(DebugOverlay, EachWindowMapsTheThreePointsOnce) {
    for (PF_WindowType type : {PF_Window_COMP, PF_Window_LAYER}) {
        Open({.type = type});
        PF_EventExtra extra = win->EventFor(PF_Event_DRAW);
        g_toFrame = extra.cbs.source_to_frame, extra.cbs.source_to_frame = CountedToFrame, g_toFrameCalls = 0;
        UF3_DebugSpace space{};
        auto hypot = [](A_FpLong a, A_FpLong b) { return std::hypot(a, b); };
        EXPECT_EQ(DebugOverlaySpace(&H().In(), &extra, hypot, &space), PF_Err_NONE);
        EXPECT_FALSE(space.empty);
        EXPECT_EQ(g_toFrameCalls, 3) << "window type " << type;
        EXPECT_EQ(win->CompConversions(), type == PF_Window_COMP ? 3 : 0) << "window type " << type;
    }
}

TEST_F(DebugOverlay, ALayerShownWithNoExtentDrawsNothing) {
    Open({});
    for (auto [sx, sy] : {std::pair{0.0, 0.0}, {0.0, 1.0}, {1.0, 0.0}}) {
        win->Placement() = {.positionX = 100, .positionY = 50, .scaleX = sx, .scaleY = sy};
        win->Canvas().ClearRecords();
        EXPECT_EQ(win->Draw(), PF_Err_NONE) << sx << " x " << sy;
        EXPECT_EQ(win->Last().evt_out_flags, PF_EO_HANDLED_EVENT);
        EXPECT_TRUE(win->Canvas().Texts().empty()) << sx << " x " << sy;
    }
}

TEST_F(DebugOverlay, TextIsClippedToTheLayer) {
    H().SetLayerSize(H().EffectLayer(), 90, 200);
    Open({.type = PF_Window_LAYER, .width = 400, .height = 300, .panX = 10, .panY = 10});
    win->Canvas().Fill({0, 0, 0, 1});
    ASSERT_EQ(win->Draw(), PF_Err_NONE);
    EXPECT_EQ(win->CompConversions(), 0);
    float inside = 0, outside = 0;
    for (double y = 10; y < 210; ++y) {
        for (double x = 10; x < 100; ++x) inside = std::max(inside, win->Canvas().At(x, y).red);
        for (double x = 101; x < 400; ++x) outside = std::max(outside, win->Canvas().At(x, y).red);
    }
    EXPECT_GT(inside, 0.5f);
    EXPECT_EQ(outside, 0.0f) << "text drawn beyond the layer's right edge";
}

TEST_F(DebugOverlay, FailuresAreReportedAndTheSurfaceIsLeftAsFound) {
    Open({});
    host::DrawbotFailCall("DrawString", A_Err_GENERIC);
    EXPECT_EQ(win->Draw(), A_Err_GENERIC);
    EXPECT_EQ(win->UnbalancedDrawings(), 0) << "pushes left after the failure";
    host::DrawbotFailCall("");
    EXPECT_EQ(host::DrawbotObjectsAlive(), 0u) << "brushes or fonts kept after the failure";
    EXPECT_EQ(host::SuiteRegistry::Instance().Outstanding(), 0);

    host::SuiteRegistry::Instance().SetMissing(kPFEffectCustomUISuite, kPFEffectCustomUISuiteVersion2);
    EXPECT_EQ(win->Draw(), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_STREQ(H().Out().return_msg, AEFX_ACQUIRE_FAILED_MESSAGE);
    EXPECT_TRUE(win->Canvas().Texts().empty());
    host::SuiteRegistry::Instance().ClearFaults();
}

}  // namespace
