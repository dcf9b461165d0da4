#include "ui/UF3_CompUI.h"

#include "params/UF3_ParamIndex.h"
#include "ui/UF3_DebugOverlay.h"
#include "ui/UF3_LightHandle.h"

namespace {

constexpr A_long kLightTypePoint = 2;

PF_WindowType WindowOf(const PF_EventExtra* extra) {
    return extra && extra->contextH ? extra->contextH->w_type : PF_Window_NONE;
}

// The converter for the event's window: `comp` or `layer`, and none for any other window.
UF3_PointConverter ConverterFor(const PF_EventExtra* extra, UF3_PointConverter comp, UF3_PointConverter layer) {
    const PF_WindowType w = WindowOf(extra);
    return w == PF_Window_COMP ? comp : w == PF_Window_LAYER ? layer : nullptr;
}

}  // namespace

PF_Err DrawEventCCU(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef*,
                    PF_EventExtra* extra) {
    if (!params || !extra) return PF_Err_NONE;
    if (params[UF3_LIGHT_TYPE]->u.pd.value == kLightTypePoint && params[UF3_SHOW_LIGHT_OUTLINE]->u.bd.value) {
        const PF_WindowType w = WindowOf(extra);
        if (w == PF_Window_COMP || w == PF_Window_LAYER) {
            DrawHandles(in_data, out_data, params, extra);
            extra->evt_out_flags = PF_EO_HANDLED_EVENT;
        }
    } else {
        extra->evt_out_flags = PF_EO_HANDLED_EVENT;
    }
    return PF_Err_NONE;
}

// The corners can be grabbed whether or not the outline is shown.
PF_Err DoClickCCU(PF_InData* in_data, PF_OutData*, PF_ParamDef* params[], PF_LayerDef*, PF_EventExtra* extra) {
    if (!params || !extra) return PF_Err_NONE;
    const UF3_PointConverter converter = ConverterFor(extra, Layer2CompFrame, Layer2LayerFrame);
    if (!converter) return PF_Err_NONE;
    PF_LRect box;
    FrameFromParams(in_data, params, &box);
    if (DoClickHandles(in_data, &box, params, converter, extra)) extra->evt_out_flags = PF_EO_HANDLED_EVENT;
    return PF_Err_NONE;
}

PF_Err DoDragCCU(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef*,
                 PF_EventExtra* extra) {
    if (!params || !extra) return PF_Err_NONE;
    const UF3_PointConverter converter = ConverterFor(extra, CompFrame2Layer, LayerFrame2Layer);
    if (!converter) return PF_Err_NONE;
    if (extra->u.do_click.continue_refcon[0] == 1) {
        DoDragHandles(in_data, out_data, params, converter, extra);
        extra->evt_out_flags = PF_EO_HANDLED_EVENT;
    }
    return PF_Err_NONE;
}

PF_Err DrawCompUIEvent(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output,
                       PF_EventExtra* extra) {
    return DrawDebugOverlay(in_data, out_data, params, output, extra);
}
