// Event routing and the header image, through events the host sends.
#include <gtest/gtest.h>

#include <cmath>

#include "ControlsFixture.h"
#include "host/CompWindow.h"
#include "resources/HeaderImage.h"
#include "shell/AEFX_SuiteHelper.h"
#include "shell/UF3.h"
#include "ui/UF3_Events.h"

namespace {

class Events : public ControlsFixture {
protected:
    // A 600-wide header frame starting at the panel's left edge.
    void SetUp() override { StartControls({.width = 600, .indent = 0}); }
};

TEST_F(Events, HeaderImageIsDrawnAtHalfSizeFromTheFrame) {
    const PF_Rect frame = panel->Control(UF3_HEADER)->control;
    ASSERT_EQ(frame.right - frame.left, 600);
    panel->Canvas().Fill({0, 0, 0, 1});
    ASSERT_EQ(panel->Draw(UF3_HEADER), PF_Err_NONE);
    EXPECT_EQ(panel->Last().evt_out_flags, PF_EO_HANDLED_EVENT);

    ASSERT_EQ(panel->Canvas().Images().size(), 1u);
    const auto& image = panel->Canvas().Images()[0];
    EXPECT_EQ(image.width, UF3_HEADER_IMAGE_WIDTH);
    EXPECT_EQ(image.height, UF3_HEADER_IMAGE_HEIGHT);
    EXPECT_EQ(image.layout, kDRAWBOT_PixelLayout_32BGRA_Straight);
    EXPECT_DOUBLE_EQ(image.left, 250);
    EXPECT_DOUBLE_EQ(image.top, frame.top - 10);
    EXPECT_DOUBLE_EQ(image.right - image.left, 200);
    // The image's middle row is opaque; nothing lands left of it.
    const double midY = frame.top - 10 + 56;
    EXPECT_EQ(panel->Canvas().At(350, midY).alpha, 1.0f);
    EXPECT_GT(panel->Canvas().At(251, midY).blue, 0.02f) << "the image's own background";
    EXPECT_EQ(panel->Canvas().At(249, midY).blue, 0.0f);

    // Channel by channel, the whole opaque image against 2 x 2 averages of the built-in pixels
    // (blue, green, red, alpha): about 0.001 apart, where red and blue swapped are 0.06.
    double error[3] = {0, 0, 0};
    int count = 0;
    for (int y = 0; y + 1 < UF3_HEADER_IMAGE_HEIGHT; y += 2)
        for (int x = 0; x + 1 < UF3_HEADER_IMAGE_WIDTH; x += 2) {
            double bgra[4] = {0, 0, 0, 0};
            for (int i = 0; i < 4; ++i)
                for (int c = 0; c < 4; ++c)
                    bgra[c] += banner5_map[size_t(y + i / 2) * UF3_HEADER_IMAGE_ROW_BYTES + size_t(x + i % 2) * 4 + c] / 4.0 / 255;
            if (bgra[3] < 1) continue;
            const DRAWBOT_ColorRGBA seen = panel->Canvas().At(250 + x / 2 + 0.5, frame.top - 10 + y / 2 + 0.5);
            error[0] += std::fabs(seen.red - bgra[2]), error[1] += std::fabs(seen.green - bgra[1]);
            error[2] += std::fabs(seen.blue - bgra[0]);
            ++count;
        }
    ASSERT_GT(count, 15000);
    for (int c = 0; c < 3; ++c) EXPECT_LT(error[c] / count, 0.01) << "channel " << c;
}

TEST_F(Events, HeaderTitleAreaAndMouseEventsDrawNothing) {
    ASSERT_EQ(panel->Draw(UF3_HEADER, PF_EA_PARAM_TITLE), PF_Err_NONE);
    EXPECT_EQ(panel->Last().evt_out_flags, PF_EO_HANDLED_EVENT) << "handled although nothing was drawn";
    ASSERT_EQ(panel->Click(UF3_HEADER, {300, 60}), PF_Err_NONE);
    EXPECT_EQ(panel->Last().evt_out_flags, PF_EO_NONE);
    EXPECT_FALSE(panel->Dragging());
    EXPECT_TRUE(panel->Canvas().Images().empty());
}

TEST_F(Events, HeaderFailuresAreReportedAndLeaveNothingBehind) {
    // The host cannot supply the image's handle: nothing drawn, and the event says why.
    host::HandleTable::Instance().FailAllocation(1);
    EXPECT_EQ(panel->Draw(UF3_HEADER), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(panel->Last().evt_out_flags, PF_EO_NONE);
    EXPECT_TRUE(panel->Canvas().Images().empty());
    ExpectBooksBalanced();

    host::DrawbotFailCall("DrawImage", A_Err_GENERIC);
    EXPECT_EQ(panel->Draw(UF3_HEADER), A_Err_GENERIC);
    EXPECT_EQ(panel->Last().evt_out_flags, PF_EO_NONE);
    host::DrawbotFailCall("");
    EXPECT_EQ(panel->UnbalancedDrawings(), 0) << "the half-size transform was left on the surface";
    ExpectBooksBalanced();

    host::SuiteRegistry::Instance().SetMissing(kDRAWBOT_SurfaceSuite, kDRAWBOT_SurfaceSuite_Version1);
    EXPECT_EQ(panel->Draw(UF3_HEADER), kAEFX_MissingSuiteThrow);
    EXPECT_STREQ(H().Out().return_msg, "Not able to acquire AEFX Suite.");
    host::SuiteRegistry::Instance().ClearFaults();

    PF_InData noBasic = H().In();
    noBasic.pica_basicP = nullptr;
    PF_OutData out{};
    PF_EventExtra extra = panel->EventFor(UF3_HEADER, PF_EA_CONTROL, PF_Event_DRAW);
    EXPECT_EQ(CommandBoundary([&] { return HandleEvent(&noBasic, &out, nullptr, nullptr, &extra); }),
              PF_Err_BAD_CALLBACK_PARAM);
}

TEST_F(Events, CompositionWindowEventsPassTheVersionGate) {
    ASSERT_EQ(H().GlobalSetup(), PF_Err_NONE);
    H().Param(UF3_SHOW_DEBUG).u.bd.value = 1;
    host::CompWindow window(H());
    struct Case {
        A_short major, minor;
        bool reaches;
    };
    for (Case c : {Case{13, 12, false}, Case{12, 20, false}, Case{14, 0, false}, Case{13, 13, true},
                   Case{13, 28, true}}) {
        H().In().version.major = c.major;
        H().In().version.minor = c.minor;
        // A click already asking for drags is taken as a drag by the radius handle's routing.
        PF_EventExtra click = panel->EventFor(0, PF_EA_NONE, PF_Event_DO_CLICK);
        click.u.do_click.send_drag = 1;
        EXPECT_EQ(panel->Send(click), PF_Err_NONE);
        EXPECT_EQ(click.e_type, c.reaches ? PF_Event_DRAG : PF_Event_DO_CLICK) << c.major << "." << c.minor;
        window.Canvas().ClearRecords();
        EXPECT_EQ(window.Draw(), PF_Err_NONE);
        EXPECT_FALSE(window.Canvas().Texts().empty()) << "draws reach the debug overlay at every version";
    }
    EXPECT_EQ(window.UnbalancedDrawings(), 0);
}

}  // namespace
