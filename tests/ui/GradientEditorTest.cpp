// The gradient editor edited with the mouse, through the events the host sends.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

#include "ControlsFixture.h"
#include "host/Streams.h"
#include "shell/UF3.h"
#include "shell/UF_Handle.h"
#include "ui/JuceGradientParameter.h"

namespace {

class GradientEditor : public ControlsFixture {
protected:
    // A 324-wide control area: the bar is 300 units wide.
    void SetUp() override { StartControls({.width = 374, .indent = 50}); }

    A_long Selected() { return H().Param(UF3_GRADIENT_PT_SELECT).u.sd.value; }
    bool LocationDisabled() { return H().Param(UF3_POINT_LOCATION).ui_flags & PF_PUI_DISABLED; }
    void SetCheckbox(int index, bool on) { H().Param(index).u.bd.value = on; }
    // A button's centre; 0 to 5 in the editor's order.
    PF_Point Button(int index) {
        const Bar b = BarOf();
        const float width = (b.W + 8) / 3;
        return {A_long(b.X - 9 + (index % 3) * (width + 5) + width / 2), A_long(b.T + 65 + (index / 3) * 21)};
    }
};

TEST_F(GradientEditor, AddsAnEighthStopAndRefusesANinth) {
    std::vector<ArbGradientPt> seven;
    for (int i = 0; i < 7; ++i) seven.push_back(Stop(i / 10.0, 1, 0, 0));
    SetStops(seven);
    ASSERT_EQ(panel->Click(UF3_COLOR_GRADIENT, Under(0.9, 9)), PF_Err_NONE);
    EXPECT_EQ(panel->Last().evt_out_flags, PF_EO_HANDLED_EVENT);
    ASSERT_EQ(Stops().size(), 8u);
    EXPECT_NEAR(Stops()[7].position, 0.9, 1e-6);
    EXPECT_EQ(Selected(), 7);

    const PF_Handle before = GradientHandle();
    ASSERT_EQ(panel->Click(UF3_COLOR_GRADIENT, Under(0.95, 9)), PF_Err_NONE);
    EXPECT_EQ(Stops().size(), 8u);
    EXPECT_EQ(GradientHandle(), before) << "nothing written with eight stops";
}

// The add strip runs from the bar's bottom edge, that edge included, down the markers' depth.
TEST_F(GradientEditor, AddStripTakesTheBarsBottomEdgeButNotTheRowAbove) {
    SetStops({Stop(0, 1, 0, 0), Stop(1, 0, 0, 1)});
    ASSERT_EQ(float(Under(0.5, 0).v), BarOf().B) << "the click lands exactly on the edge";
    ASSERT_EQ(panel->Click(UF3_COLOR_GRADIENT, Under(0.5, -1)), PF_Err_NONE);
    EXPECT_EQ(Stops().size(), 2u) << "one unit up is the bar";
    ASSERT_EQ(panel->Click(UF3_COLOR_GRADIENT, Under(0.5, 0)), PF_Err_NONE);
    ASSERT_EQ(Stops().size(), 3u) << "on the edge";
    EXPECT_NEAR(Stops()[2].position, 0.5, 1e-6);
    ASSERT_EQ(panel->Click(UF3_COLOR_GRADIENT, Under(0.25, 18)), PF_Err_NONE);
    EXPECT_EQ(Stops().size(), 4u) << "on the strip's lower edge";
    ASSERT_EQ(panel->Click(UF3_COLOR_GRADIENT, Under(0.75, 19)), PF_Err_NONE);
    EXPECT_EQ(Stops().size(), 4u) << "below the strip";
}

TEST_F(GradientEditor, AddedStopTakesTheColourBlendedAsLinearBlendingSays) {
    for (bool linear : {false, true}) {
        SetStops({Stop(0, 1, 0, 0), Stop(1, 0, 0, 1)});
        SetCheckbox(UF3_LINEAR_BLENDING, linear);
        ASSERT_EQ(panel->Click(UF3_COLOR_GRADIENT, Under(0.5, 9)), PF_Err_NONE);
        ASSERT_EQ(Stops().size(), 3u);
        const ArbGradientPt added = Stops()[2];
        // 0.5 raised to 2.2 and back by 0.4545 in single precision: 0.72976.
        const float expected = linear ? std::pow(0.5f, 0.4545f) : 0.5f;
        EXPECT_NEAR(added.position, 0.5, 1e-9);
        EXPECT_FLOAT_EQ(added.color.red, expected) << "linear " << linear;
        EXPECT_FLOAT_EQ(added.color.blue, expected) << "linear " << linear;
        EXPECT_FLOAT_EQ(added.color.green, 0.0f);
        EXPECT_FLOAT_EQ(added.color.alpha, 1.0f);
    }
    EXPECT_NEAR(std::pow(0.5f, 0.4545f), 0.72976f, 1e-5f);
    // The editor's float lerp runs from a towards b, past it beyond 1.
    EXPECT_EQ(lerp(2.0f, 10.0f, 0.25f), 4.0f);
    EXPECT_EQ(lerp(2.0f, 10.0f, 1.5f), 14.0f);
}

TEST_F(GradientEditor, SelectionPublishesThePointLocation) {
    SetStops({Stop(0, 1, 0, 0), Stop(0.25, 0, 1, 0), Stop(1, 0, 0, 1)});
    ASSERT_EQ(panel->Click(UF3_COLOR_GRADIENT, Under(0.25, 10)), PF_Err_NONE);
    EXPECT_EQ(Selected(), 1);
    EXPECT_EQ(H().Param(UF3_POINT_LOCATION).u.fd.value, 1638400) << "25 % in 16.16";
    EXPECT_FALSE(LocationDisabled());
    ASSERT_EQ(panel->Click(UF3_COLOR_GRADIENT, Under(0.0, 10)), PF_Err_NONE);
    EXPECT_EQ(Selected(), 0);
    EXPECT_FALSE(LocationDisabled()) << "the first stop has a location too";
    // A marker's hit box starts one unit above the bar's bottom.
    ASSERT_EQ(panel->Click(UF3_COLOR_GRADIENT, Under(1.0, -1)), PF_Err_NONE);
    EXPECT_EQ(Selected(), 2);
    // A damaged stop past the end is shown, grabbed and published at the end.
    for (const double far : {1e300, double(INFINITY)}) {
        SetStops({Stop(0, 1, 0, 0), Stop(far, 0, 0, 1)});
        ASSERT_EQ(panel->Click(UF3_COLOR_GRADIENT, Under(1.0, 10)), PF_Err_NONE);
        EXPECT_EQ(Selected(), 1);
        EXPECT_EQ(H().Param(UF3_POINT_LOCATION).u.fd.value, 100 << 16) << far;
    }
    SetStops({Stop(0, 1, 0, 0), Stop(0.25, 0, 1, 0), Stop(1, 0, 0, 1)});

    // Empty space (under the markers, above the buttons): nothing selected, the gradient written back.
    const PF_Handle before = GradientHandle();
    ASSERT_EQ(panel->Click(UF3_COLOR_GRADIENT, Under(0.6, 22)), PF_Err_NONE);
    EXPECT_EQ(Selected(), -1);
    EXPECT_TRUE(LocationDisabled());
    EXPECT_NE(GradientHandle(), before);
    EXPECT_EQ(Stops().size(), 3u);
}

TEST_F(GradientEditor, DraggingMovesClampsAndRemovesStops) {
    SetStops({Stop(0, 1, 0, 0), Stop(0.5, 0, 1, 0), Stop(1, 0, 0, 1)});
    ASSERT_EQ(panel->Click(UF3_COLOR_GRADIENT, Under(0.5, 10)), PF_Err_NONE);
    ASSERT_TRUE(panel->Dragging());
    ASSERT_EQ(panel->DragTo(Under(0.6, 10)), PF_Err_NONE);
    EXPECT_NEAR(Stops()[1].position, 0.6, 1e-6) << "30 units on a 300-wide bar";
    ASSERT_EQ(panel->DragTo(Under(1.5, 10)), PF_Err_NONE);
    EXPECT_DOUBLE_EQ(Stops()[1].position, 1.0);
    ASSERT_EQ(panel->DragTo(Under(0.9, 10)), PF_Err_NONE);
    EXPECT_NEAR(Stops()[1].position, 0.9, 1e-6) << "the stored x stayed at the bar's end";

    // Far below the bar with three stops: the stop goes, and the rest of the drag does nothing.
    ASSERT_EQ(panel->DragTo(Under(0.9, 80)), PF_Err_NONE);
    ASSERT_EQ(Stops().size(), 2u);
    EXPECT_EQ(Selected(), -1);
    EXPECT_TRUE(LocationDisabled());
    const PF_Handle after = GradientHandle();
    ASSERT_EQ(panel->Release(Under(0.2, 10)), PF_Err_NONE);
    EXPECT_EQ(GradientHandle(), after);

    // The first stop moves as any other.
    ASSERT_EQ(panel->Click(UF3_COLOR_GRADIENT, Under(0.0, 10)), PF_Err_NONE);
    ASSERT_EQ(panel->DragTo(Under(0.1, 10)), PF_Err_NONE);
    EXPECT_NEAR(Stops()[0].position, 0.1, 1e-6);
    ASSERT_EQ(panel->Release(Under(0.1, 10)), PF_Err_NONE);

    // With two stops it only follows the mouse along the bar.
    ASSERT_EQ(panel->Click(UF3_COLOR_GRADIENT, Under(1.0, 10)), PF_Err_NONE);
    ASSERT_EQ(panel->DragTo(Under(0.8, -100)), PF_Err_NONE);
    ASSERT_EQ(Stops().size(), 2u);
    EXPECT_NEAR(Stops()[1].position, 0.8, 1e-6);

    // The gradient loses stops under a drag: the selection it carries points nowhere.
    SetStops({Stop(0.3, 1, 1, 1)});
    ASSERT_EQ(panel->Release(Under(0.5, 10)), PF_Err_NONE);
    ASSERT_EQ(Stops().size(), 1u);
    EXPECT_DOUBLE_EQ(Stops()[0].position, 0.3);
}

TEST_F(GradientEditor, NoBarLengthMovesAndAddsWithoutNaN) {
    Relayout({.width = 74, .indent = 50});  // a 24-wide area: the bar has no length
    SetStops({Stop(0, 1, 0, 0), Stop(1, 0, 0, 1)});
    ASSERT_EQ(panel->Click(UF3_COLOR_GRADIENT, Under(0, 9)), PF_Err_NONE);
    ASSERT_EQ(panel->DragTo({Under(0, 9).h + 5, Under(0, 9).v}), PF_Err_NONE);
    ASSERT_EQ(panel->Release(Under(0, 9)), PF_Err_NONE);
    for (const ArbGradientPt& s : Stops()) EXPECT_FALSE(std::isnan(s.position));
}

TEST_F(GradientEditor, DoubleClickPicksTheStopsColour) {
    SetStops({Stop(1, 0, 0, 1), Stop(0, 1, 0, 0)});  // the picked stop first in stored order
    host::AppServices::Instance().CancelPicker();
    const PF_Handle before = GradientHandle();
    ASSERT_EQ(panel->Click(UF3_COLOR_GRADIENT, Under(1.0, 10), 2), PF_Err_NONE);
    EXPECT_FALSE(panel->Dragging()) << "no drag after a double click";
    EXPECT_EQ(GradientHandle(), before) << "cancel leaves the handle";
    const auto requests = host::AppServices::Instance().PickerRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].title, "Pick Color");
    EXPECT_FLOAT_EQ(requests[0].sample.blue, 1.0f);
    EXPECT_TRUE(requests[0].wsToMonitor);

    host::AppServices::Instance().AnswerPicker({1.0f, 0.2f, 0.4f, 0.6f});
    ASSERT_EQ(panel->Click(UF3_COLOR_GRADIENT, Under(1.0, 10), 2), PF_Err_NONE);
    EXPECT_FLOAT_EQ(Stops()[0].color.red, 0.2f);
    EXPECT_FLOAT_EQ(Stops()[0].color.blue, 0.6f);
}

TEST_F(GradientEditor, ButtonsRewriteTheStoredOrder) {
    SetStops({Stop(1, 0, 0, 1), Stop(0, 1, 0, 0), Stop(0.5, 0, 1, 0)});
    auto reds = [&] {
        std::vector<float> r;
        for (const ArbGradientPt& s : Stops()) r.push_back(s.color.red + 2 * s.color.green + 4 * s.color.blue);
        return r;
    };
    // Colours coded 1 red, 2 green, 4 blue, read in stored order after each button.
    ASSERT_EQ(panel->Click(UF3_COLOR_GRADIENT, Button(0)), PF_Err_NONE);
    EXPECT_EQ(reds(), (std::vector<float>{4, 1, 2})) << "\u2190 Shift";
    EXPECT_DOUBLE_EQ(Stops()[0].position, 0.0) << "stored sorted by position";
    ASSERT_EQ(panel->Click(UF3_COLOR_GRADIENT, Button(1)), PF_Err_NONE);
    EXPECT_EQ(reds(), (std::vector<float>{1, 2, 4})) << "Shift \u2192";
    ASSERT_EQ(panel->Click(UF3_COLOR_GRADIENT, Button(2)), PF_Err_NONE);
    EXPECT_EQ(reds(), (std::vector<float>{4, 2, 1})) << "Reverse";

    const PF_Handle before = GradientHandle();
    ASSERT_EQ(panel->Click(UF3_COLOR_GRADIENT, Button(3)), PF_Err_NONE);
    ASSERT_EQ(panel->Click(UF3_COLOR_GRADIENT, Button(4)), PF_Err_NONE);
    EXPECT_EQ(H().Param(UF3_LINEAR_BLENDING).u.bd.value, 0);
    EXPECT_EQ(H().Param(UF3_INTERPOLATE).u.bd.value, 0);
    EXPECT_EQ(GradientHandle(), before) << "the toggles write no gradient";

    ASSERT_EQ(panel->Click(UF3_COLOR_GRADIENT, Button(5)), PF_Err_NONE);
    EXPECT_EQ(H().Param(UF3_LINEAR_BLENDING).u.bd.value, 1);
    EXPECT_EQ(H().Param(UF3_INTERPOLATE).u.bd.value, 1);
    EXPECT_EQ(reds(), (std::vector<float>{4, 2, 1})) << "the default, blue first";
    EXPECT_DOUBLE_EQ(Stops()[0].position, 1.0);
    ASSERT_EQ(panel->Click(UF3_COLOR_GRADIENT, Under(0, 10)), PF_Err_NONE);
    EXPECT_EQ(Selected(), 2) << "the stop at 0 is stored last";

    // A damaged stop at NaN sorts as the start, not wherever a raw comparison leaves it.
    SetStops({Stop(0.5, 0, 1, 0), Stop(NAN, 1, 0, 0), Stop(1, 0, 0, 1)});
    ASSERT_EQ(panel->Click(UF3_COLOR_GRADIENT, Button(2)), PF_Err_NONE);
    EXPECT_EQ(reds(), (std::vector<float>{4, 2, 1})) << "Reverse";
    EXPECT_TRUE(std::isnan(Stops()[0].position));
}

TEST_F(GradientEditor, CursorShowsWhatAClickWouldDo) {
    SetStops({Stop(0, 1, 0, 0), Stop(0.5, 0, 1, 0), Stop(1, 0, 0, 1)});
    PF_CursorType cursor = -1;
    ASSERT_EQ(panel->MoveTo(UF3_COLOR_GRADIENT, Under(0.5, 4), &cursor), PF_Err_NONE);
    EXPECT_EQ(cursor, PF_Cursor_FINGER_POINTER) << "on a marker, inside the strip too";
    ASSERT_EQ(panel->MoveTo(UF3_COLOR_GRADIENT, Under(0, 4), &cursor), PF_Err_NONE);
    EXPECT_EQ(cursor, PF_Cursor_FINGER_POINTER) << "the first marker too";
    // The marker's hit box reaches six units right of the stop and seven left.
    const PF_Point stop = Under(0.5, 4);
    for (A_long dx : {-8, -7, 6, 7}) {
        panel->MoveTo(UF3_COLOR_GRADIENT, {stop.h + dx, stop.v}, &cursor);
        EXPECT_EQ(cursor, dx == -8 || dx == 7 ? PF_Cursor_PEN_ADD : PF_Cursor_FINGER_POINTER) << dx;
    }
    panel->MoveTo(UF3_COLOR_GRADIENT, Under(0.3, 4), &cursor);
    EXPECT_EQ(cursor, PF_Cursor_PEN_ADD);
    panel->MoveTo(UF3_COLOR_GRADIENT, Under(0.3, -10), &cursor);
    EXPECT_EQ(cursor, PF_Cursor_NONE) << "over the bar";
    const PF_Rect area = panel->Control(UF3_COLOR_GRADIENT)->control;
    panel->MoveTo(UF3_COLOR_GRADIENT, {area.left - 5, area.top + 10}, &cursor);
    EXPECT_EQ(cursor, PF_Cursor_ARROW) << "outside the control the host's cursor stays";
    panel->MoveTo(UF3_COLOR_GRADIENT, {area.right, area.top + 10}, &cursor);
    EXPECT_EQ(cursor, PF_Cursor_NONE) << "the control's right edge is inside it";
    EXPECT_EQ(panel->Last().evt_out_flags, PF_EO_NONE);

    // A gradient that cannot be read says nothing of what a click would do: the host hears
    // why and keeps its cursor, over the strip as over a marker.
    auto& handles = host::HandleTable::Instance();
    for (const PF_Point at : {Under(0.3, 4), Under(0.5, 4)}) {
        const long before = handles.LockCalls();
        ASSERT_EQ(panel->MoveTo(UF3_COLOR_GRADIENT, at, &cursor), PF_Err_NONE);
        handles.FailLock(handles.LockCalls() - before);  // the gradient's, the last
        EXPECT_EQ(panel->MoveTo(UF3_COLOR_GRADIENT, at, &cursor), PF_Err_OUT_OF_MEMORY);
        EXPECT_EQ(cursor, PF_Cursor_ARROW) << "a cursor chosen without the stops";
        handles.ClearFaults();
    }
    ExpectBooksBalanced();
}

// An edit the host refuses any part of is not made at all, and the refusal is the event's answer:
// not the gradient, not the switches, not the selection or its position, and no drag after it.
TEST_F(GradientEditor, AnEditThatCannotBeMadeWholeIsNotMade) {
    auto& handles = host::HandleTable::Instance();
    // What an edit can change, as the host holds it.
    auto state = [&] {
        std::vector<double> v;
        for (const ArbGradientPt& s : Stops())
            v.insert(v.end(), {s.position, s.color.red, s.color.green, s.color.blue, s.color.alpha});
        v.insert(v.end(), {double(Selected()), double(H().Param(UF3_POINT_LOCATION).u.fd.value),
                           double(LocationDisabled()), double(H().Param(UF3_LINEAR_BLENDING).u.bd.value),
                           double(H().Param(UF3_INTERPOLATE).u.bd.value)});
        return v;
    };
    auto start = [&] {
        SetStops({Stop(0, 1, 0, 0), Stop(0.5, 0, 1, 0), Stop(1, 0, 0, 1)});
        H().Param(UF3_GRADIENT_PT_SELECT).u.sd.value = 2;
        H().Param(UF3_POINT_LOCATION).u.fd.value = 100 << 16;
        H().Param(UF3_POINT_LOCATION).ui_flags &= ~PF_PUI_DISABLED;
    };
    // The host's copy of the gradient for the event takes the first handle and two locks; the
    // editor's read of it is the third lock, its new gradient the second handle. The panel's
    // selection is the first refresh, its position the second.
    struct Case {
        const char* what;
        std::function<PF_Err()> edit;
        std::function<void()> refuse;
        PF_Err expected;
    };
    auto click = [&](PF_Point at, int clicks = 1) { return [=, this] { return panel->Click(UF3_COLOR_GRADIENT, at, clicks); }; };
    const Case cases[] = {
        {"add, no new handle", click(Under(0.3, 9)), [&] { handles.FailAllocation(2); }, PF_Err_OUT_OF_MEMORY},
        {"add, the gradient unreadable", click(Under(0.3, 9)), [&] { handles.FailLock(3); }, PF_Err_OUT_OF_MEMORY},
        {"add, selection refused", click(Under(0.3, 9)), [] { host::FailStreamCall(1); }, A_Err_ALLOC},
        {"add, position refused", click(Under(0.3, 9)), [] { host::FailStreamCall(2); }, A_Err_ALLOC},
        {"select, position refused", click(Under(0.5, 10)), [] { host::FailStreamCall(2); }, A_Err_ALLOC},
        {"pick, no new handle", click(Under(0.5, 10), 2), [&] {
             host::AppServices::Instance().AnswerPicker({1, 0.2f, 0.4f, 0.6f});
             handles.FailAllocation(2);
         }, PF_Err_OUT_OF_MEMORY},
        {"reverse, no new handle", click(Button(2)), [&] { handles.FailAllocation(2); }, PF_Err_OUT_OF_MEMORY},
        {"gamma, position refused", click(Button(3)), [] { host::FailStreamCall(2); }, A_Err_ALLOC},
        {"reset, position refused", click(Button(5)), [] { host::FailStreamCall(2); }, A_Err_ALLOC},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        start();
        const std::vector<double> before = state();
        const PF_Handle kept = GradientHandle();
        c.refuse();
        EXPECT_EQ(c.edit(), c.expected);
        handles.ClearFaults();
        host::FailStreamCall(0);
        EXPECT_EQ(state(), before) << "a part of the edit was made";
        EXPECT_EQ(GradientHandle(), kept);
        EXPECT_NE(panel->Last().evt_out_flags, PF_EO_HANDLED_EVENT) << "a failed edit marked handled";
        EXPECT_EQ(panel->Last().u.do_click.send_drag, 0) << "a failed edit asks for drags";
        ExpectBooksBalanced();
        // Unrefused, the same edit is made.
        start();
        EXPECT_EQ(c.edit(), PF_Err_NONE);
        EXPECT_NE(state(), before);
    }

    // A drag that moves or removes the selected stop, refused its new gradient: the stop stays
    // where the last event left it, and the drag ends.
    for (const float dy : {10.0f, 80.0f}) {
        SCOPED_TRACE(dy);
        start();
        ASSERT_EQ(panel->Click(UF3_COLOR_GRADIENT, Under(0.5, 10)), PF_Err_NONE);
        const std::vector<double> before = state();
        handles.FailAllocation(2);
        EXPECT_EQ(panel->DragTo(Under(0.6, dy)), PF_Err_OUT_OF_MEMORY);
        handles.ClearFaults();
        EXPECT_EQ(state(), before);
        EXPECT_EQ(panel->Last().u.do_click.send_drag, 0) << "a failed edit asks for more drags";
        ExpectBooksBalanced();
    }
}

TEST_F(GradientEditor, MakesItsSequenceDataWhenTheInstanceHasNone) {
    ASSERT_EQ(H().SequenceSetdown(), PF_Err_NONE);
    ASSERT_EQ(panel->Click(UF3_COLOR_GRADIENT, Under(0.5, 40)), PF_Err_NONE);
    ASSERT_NE(H().SequenceData(), nullptr) << "kept by the instance after the event";
    ASSERT_EQ(panel->MoveTo(UF3_COLOR_GRADIENT, {123, 45}), PF_Err_NONE);
    const auto* seq = static_cast<const SequenceData*>(*H().SequenceData());
    EXPECT_EQ(seq->lastMouseH, 123);
    EXPECT_EQ(seq->lastMouseV, 45);

    // A host without handle locks, or without utility callbacks, lends the control nothing.
    PF_InData in = H().In();
    PF_UtilCallbacks noLock = *in.utils;
    noLock.host_lock_handle = nullptr;
    for (PF_UtilCallbacks* utils : {&noLock, static_cast<PF_UtilCallbacks*>(nullptr)}) {
        in.utils = utils;
        EXPECT_FALSE(UF_HandleLock(in.utils, in.sequence_data));
    }
    in.utils = H().In().utils;
    EXPECT_EQ(UF_HandleLock(in.utils, in.sequence_data).As<const SequenceData>(), seq);
    ExpectBooksBalanced();
}

TEST_F(GradientEditor, AppColoursComeFromTheHost) {
    PF_OutData out{};
    const DRAWBOT_ColorRGBA highlight = AcquireAppColor(&H().In(), &out, 49);
    PF_App_Color expected{};
    ASSERT_TRUE(host::AppServices::Instance().Color(49, &expected));
    EXPECT_FLOAT_EQ(highlight.blue, expected.blue / 65535.0f);
    EXPECT_FLOAT_EQ(highlight.alpha, 1.0f);
    EXPECT_FLOAT_EQ(AcquireAppColor(&H().In(), &out, 12345).alpha, 0.0f) << "an id the host does not know";
    EXPECT_EQ(out.out_flags, 0);

    host::SuiteRegistry::Instance().SetMissing(kPFAppSuite, kPFAppSuiteVersion6);
    EXPECT_FLOAT_EQ(AcquireAppColor(&H().In(), &out, 49).alpha, 0.0f);
    EXPECT_TRUE(out.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE);
    EXPECT_STREQ(out.return_msg, "Not able to acquire AEFX Suite.");
}

TEST(GradientGeometry, TitleRowUsesTheRightHalfOfItsFrame) {
    PF_EventExtra extra{};
    extra.effect_win.current_frame = {0, 10, 400, 30};
    extra.effect_win.area = PF_EA_PARAM_TITLE;
    const DRAWBOT_RectF32 title = GetContextArea(&extra, 0);
    EXPECT_FLOAT_EQ(title.left, 200);
    EXPECT_FLOAT_EQ(title.width, 200);
    EXPECT_FLOAT_EQ(title.height, 21) << "one unit taller than the frame";
    extra.effect_win.area = PF_EA_CONTROL;
    EXPECT_FLOAT_EQ(GetContextArea(&extra, 0).height, 20);
}

TEST(GradientLabels, ConvertToUtf16WithinTheirBuffers) {
    unsigned short label[UF3_LABEL_UNITS + 8];
    std::fill(std::begin(label), std::end(label), 0xBEEF);
    copyConvertStringLiteralIntoUTF16(L"\u2190 Shift", label);
    EXPECT_EQ(label[0], 0x2190);
    EXPECT_EQ(label[7], 0);
    // Past 16 bits a character takes a surrogate pair within the same n units; a pair that no
    // longer fits is dropped whole and its units left blank.
    using Units = std::vector<unsigned short>;
    copyConvertStringLiteralIntoUTF16(L"a\U0001F600b", label);
    EXPECT_EQ(Units(label, label + 4), (Units{'a', 0xD83D, 0xDE00, 0}));
    copyConvertStringLiteralIntoUTF16(L"ab\U0001F600", label);
    EXPECT_EQ(Units(label, label + 4), (Units{'a', 'b', 0, 0}));
    // A one-unit buffer holds the terminator alone; a buffer of none is not touched.
    label[0] = label[1] = 0xBEEF;
    copyConvertStringLiteralIntoUTF16(L"ab", label, 1);
    EXPECT_EQ(Units(label, label + 2), (Units{0, 0xBEEF}));
    label[0] = 0xBEEF;
    copyConvertStringLiteralIntoUTF16(L"ab", label, 0);
    EXPECT_EQ(label[0], 0xBEEF) << "written into a buffer of no units";
    // Longer text than a label holds is cut at the buffer's end, terminator included.
    StringToWideCharArr(std::string(400, 'x'), label);
    EXPECT_EQ(label[UF3_LABEL_UNITS - 2], 'x');
    EXPECT_EQ(label[UF3_LABEL_UNITS - 1], 0);
    EXPECT_EQ(label[UF3_LABEL_UNITS], 0xBEEF) << "written past the label";
}

}  // namespace
