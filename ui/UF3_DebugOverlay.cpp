#include "ui/UF3_DebugOverlay.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>

#include "params/UF3_ParamIndex.h"
#include "shell/AEFX_SuiteHelper.h"
#include "shell/AEGP_SuiteHandler.h"
#include "shell/DrawbotWrappers.h"
#include "shell/UF3.h"
#include "shell/UF_Handle.h"
#include "ui/JuceGradientParameter.h"

namespace {

constexpr DRAWBOT_ColorRGBA kWhite = {1, 1, 1, 1};
constexpr DRAWBOT_ColorRGBA kBlack = {0, 0, 0, 1};
// Used when a failure earlier in the chain skips the supplier's query.
constexpr float kFallbackFontSize = 10.0f;
constexpr float kHeadingScale = 1.5f;
constexpr float kMargin = 3.0f;
constexpr float kLineGap = 3.0f;

}  // namespace

std::string to_string(const PF_LRect& r) {
    std::ostringstream s;
    s << "[ left: " << r.left << ", top: " << r.top << ", right: " << r.right << ", bot: " << r.bottom << " ]  ";
    return s.str();
}

std::string to_string(const PF_LayerDef& w) {
    std::ostringstream s;
    s << "[ x: " << w.origin_x << ", y: " << w.origin_y << ", width: " << w.width << ", height: " << w.height
      << ", extend:" << to_string(w.extent_hint) << " ]";
    return s.str();
}

std::vector<std::string> DebugOverlayLines(const GlobalData& g) {
    return {"Max Result Rect: " + to_string(g.maxResultRect), "Result Rect: " + to_string(g.resultRect),
            "Request Rect: " + to_string(g.requestRect),      "Output Rect: " + to_string(g.outputRect),
            "Input World: " + to_string(g.inputWorld),        "Texture World: " + to_string(g.textureWorld),
            "Output World: " + to_string(g.outputWorld)};
}

PF_Err DebugOverlaySpace(PF_InData* in_data, PF_EventExtra* extra, A_FpLong (*hypot)(A_FpLong, A_FpLong),
                         UF3_DebugSpace* space) {
    PF_FixedPoint p[3] = {{0, 0}, {1 << 16, 0}, {0, 1 << 16}};
    PF_Err err = PF_Err_NONE;
    if (extra->contextH->w_type == PF_Window_COMP) {
        if (!extra->cbs.layer_to_comp) return PF_Err_BAD_CALLBACK_PARAM;
        for (int i = 0; i < 3 && !err; ++i)
            err = extra->cbs.layer_to_comp(extra->cbs.refcon, extra->contextH, in_data->current_time,
                                           in_data->time_scale, &p[i]);
    }
    if (!extra->cbs.source_to_frame) return PF_Err_BAD_CALLBACK_PARAM;
    for (int i = 0; i < 3 && !err; ++i) err = extra->cbs.source_to_frame(extra->cbs.refcon, extra->contextH, &p[i]);
    if (err) return err;

    auto at = [](PF_Fixed v) { return v / 65536.0; };
    const float ax = float(at(p[1].x) - at(p[0].x)), ay = float(at(p[1].y) - at(p[0].y));
    const float bx = float(at(p[2].x) - at(p[0].x)), by = float(at(p[2].y) - at(p[0].y));
    const double s = hypot(ax, ay) * UF3_DEBUG_TEXT_SCALE;
    // A layer the window shows with no extent along either axis leaves no space to draw in
    // (and no matrix a surface could invert).
    space->empty = !(s > 0) || !std::isfinite(s) || double(ax) * by - double(ay) * bx == 0;
    if (space->empty) return PF_Err_NONE;
    space->matrix = {{{float(ax / s), float(ay / s), 0}, {float(bx / s), float(by / s), 0},
                      {float(at(p[0].x)), float(at(p[0].y)), 0}}};
    // The clip's size is limited to what a 32-bit rectangle holds.
    auto units = [](double v) {
        return A_long(std::clamp(std::trunc(v), 0.0, double(std::numeric_limits<A_long>::max())));
    };
    space->clip = {0, 0, units(in_data->width * s), units(in_data->height * s)};
    return PF_Err_NONE;
}

PF_Err DrawDebugOverlay(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef*,
                        PF_EventExtra* extra) {
    if (!extra) return PF_Err_BAD_CALLBACK_PARAM;
    if (!params || !params[UF3_SHOW_DEBUG]->u.bd.value) {
        extra->evt_out_flags = PF_EO_HANDLED_EVENT;
        return PF_Err_NONE;
    }
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    DrawbotSuiteSet db(in_data, out_data);
    UF_Drawing target(db->drawSuite, db->supplierSuite);

    PF_Err result = PF_Err_BAD_CALLBACK_PARAM;
    {
        AEFX_SuiteScoper<PF_EffectCustomUISuite2, true> customUI(in_data, kPFEffectCustomUISuite,
                                                                 kPFEffectCustomUISuiteVersion2, out_data);
        if (customUI.get()) result = target.Reference(customUI.get(), extra->contextH);
    }
    if (!target.Drawing()) return result;
    // The handler's own error for a DRAWBOT suite the host does not have; the set gives back what it got.
    if (db.Error()) suites.MissingSuiteError();

    if (!result) result = target.GetSurface();
    const DRAWBOT_SurfaceRef surface = target.Surface();

    {
        // Locked for the drawing; the host hears it done with even after a refusal.
        const UF_HandleLock global(suites.HandleSuite1(), in_data->global_data, UF_Unlock::Always);
        UF3_DebugSpace space{};
        if (global && !result) result = DebugOverlaySpace(in_data, extra, suites.ANSICallbacksSuite1()->hypot, &space);
        if (global && !result && !space.empty) {
            const DRAWBOT_SupplierSuite1* sup = db->supplierSuite;
            const DRAWBOT_SurfaceSuite2* surf = db->surfaceSuite;

            DRAWBOT_BrushRef headingBrush = nullptr, textBrush = nullptr, shadowBrush = nullptr;
            DRAWBOT_FontRef textFont = nullptr, headingFont = nullptr;
            float fontSize = kFallbackFontSize;
            if (!result) result = target.GetSupplier();
            if (!result) result = target.NewBrush(&kWhite, &headingBrush);
            if (!result) result = target.NewBrush(&kWhite, &textBrush);
            if (!result) result = target.NewBrush(&kBlack, &shadowBrush);
            if (!result) result = sup->GetDefaultFontSize(target.Supplier(), &fontSize);
            if (!result) result = target.NewDefaultFont(fontSize, &textFont);
            if (!result) result = target.NewDefaultFont(kHeadingScale * fontSize, &headingFont);

            // Every push is popped again, also after a failure, so the host's surface is left as found.
            int pushed = 0;
            if (!result && !(result = surf->PushStateStack(surface))) pushed++;
            if (!result) result = surf->Transform(surface, &space.matrix);
            if (!result && !(result = surf->PushStateStack(surface))) pushed++;
            // Only a clip inside the effect's own state: it goes with the pops.
            if (!result) surf->Clip(surface, target.Supplier(), &space.clip);

            DRAWBOT_PointF32 pen = {kMargin, kMargin};
            A_UTF16Char text[UF3_LABEL_UNITS];
            auto draw = [&](DRAWBOT_BrushRef brush, DRAWBOT_FontRef font, const DRAWBOT_PointF32& at) {
                return surf->DrawString(surface, brush, font, text, &at, kDRAWBOT_TextAlignment_Left,
                                        kDRAWBOT_TextTruncation_None, 0.0f);
            };
            pen.y += kHeadingScale * fontSize;
            StringToWideCharArr(UF3_DEBUG_HEADING, text, UF3_LABEL_UNITS);
            if (!result) result = draw(headingBrush, headingFont, pen);
            for (const std::string& line : DebugOverlayLines(*global.As<const GlobalData>())) {
                pen.y += fontSize + kLineGap;
                if (result) break;
                StringToWideCharArr(line, text, UF3_LABEL_UNITS);
                result = draw(shadowBrush, textFont, {pen.x - 1, pen.y + 1});
                if (!result) result = draw(textBrush, textFont, pen);
            }
            for (; pushed > 0; --pushed) {
                PF_Err popped = surf->PopStateStack(surface);
                if (!result) result = popped;
            }
            const PF_Err released = target.Release({headingBrush, shadowBrush, textFont, headingFont, textBrush});
            if (!result) result = released;
        }
    }
    extra->evt_out_flags = PF_EO_HANDLED_EVENT;
    return result;
}
