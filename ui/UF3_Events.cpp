#include "ui/UF3_Events.h"

#include <cstring>

#include "params/UF3_ParamIndex.h"
#include "resources/HeaderImage.h"
#include "shell/AEFX_SuiteHelper.h"
#include "shell/AEGP_SuiteHandler.h"
#include "shell/DrawbotWrappers.h"
#include "shell/UF_Handle.h"
#include "ui/JuceGradientParameter.h"
#include "ui/UF3_CompUI.h"

PF_Err HandleEvent(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output,
                   PF_EventExtra* extra) {
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    if (!extra) return PF_Err_BAD_CALLBACK_PARAM;

    switch (extra->effect_win.index) {
        case UF3_HEADER:
            return extra->e_type == PF_Event_DRAW ? DrawEvent(in_data, out_data, params, output, extra) : PF_Err_NONE;
        case UF3_COLOR_GRADIENT: {
            if (!params) return PF_Err_BAD_CALLBACK_PARAM;
            JuceGradientParameter control(in_data, out_data, params, extra, UF3_COLOR_GRADIENT);
            return control.HandleEvent();
        }
        default:
            break;
    }

    // Each part of the version is compared by itself, as the hosts report them.
    if (A_short(in_data->version.major) >= UF3_CCU_MIN_API_MAJOR &&
        A_short(in_data->version.minor) >= UF3_CCU_MIN_API_MINOR) {
        switch (extra->e_type) {
            case PF_Event_DRAW:
                DrawEventCCU(in_data, out_data, params, output, extra);
                break;
            case PF_Event_DRAG:
                DoDragCCU(in_data, out_data, params, output, extra);
                break;
            case PF_Event_DO_CLICK:
                // A click that already asks for drags continues one.
                if (extra->u.do_click.send_drag) {
                    extra->e_type = PF_Event_DRAG;
                    DoDragCCU(in_data, out_data, params, output, extra);
                } else {
                    DoClickCCU(in_data, out_data, params, output, extra);
                }
                break;
            default:
                break;
        }
    }
    return extra->e_type == PF_Event_DRAW ? DrawCompUIEvent(in_data, out_data, params, output, extra) : PF_Err_NONE;
}

PF_Err DrawEvent(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output,
                 PF_EventExtra* extra) {
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    AEFX_SuiteScoper<DRAWBOT_DrawbotSuite1> drawSuite(in_data, kDRAWBOT_DrawSuite, kDRAWBOT_DrawSuite_Version1,
                                                      out_data);
    AEFX_SuiteScoper<DRAWBOT_SupplierSuite1> supplierSuite(in_data, kDRAWBOT_SupplierSuite,
                                                           kDRAWBOT_SupplierSuite_Version1, out_data);
    AEFX_SuiteScoper<DRAWBOT_SurfaceSuite1> surfaceSuite(in_data, kDRAWBOT_SurfaceSuite,
                                                         kDRAWBOT_SurfaceSuite_Version1, out_data);

    UF_Drawing target(drawSuite.get(), supplierSuite.get());
    PF_Err err = target.Reference(suites.EffectCustomUISuite1(), extra->contextH);
    if (err || !target.Drawing()) return err;
    err = target.GetSupplier();
    if (!err) err = target.GetSurface();
    // A drawing with nothing to draw with or on is left undrawn.
    if (!err && (!target.Supplier() || !target.Surface())) return PF_Err_NONE;

    if (extra->effect_win.area == PF_EA_CONTROL) {
        const PF_HandleSuite1* handles = suites.HandleSuite1();
        const UF_Handle pixelsH = UF_Handle::New(handles, UF3_HEADER_IMAGE_BYTES);
        const UF_HandleLock pixels(handles, pixelsH.get());
        if (!pixels) {
            // Without the copy there is nothing to draw from; the host hears why.
            if (!err) err = pixels.Error();
        } else {
            std::memcpy(pixels.As<void>(), banner5_map, UF3_HEADER_IMAGE_BYTES);
            DRAWBOT_ImageRef image = nullptr;
            if (!err)
                err = target.NewImageFromBuffer(UF3_HEADER_IMAGE_WIDTH, UF3_HEADER_IMAGE_HEIGHT,
                                                UF3_HEADER_IMAGE_ROW_BYTES, kDRAWBOT_PixelLayout_32BGRA_Straight,
                                                pixels.As<void>(), &image);
            if (!err && image) {
                // Drawn at half size: the image has twice the panel's resolution.
                const PF_Rect& frame = extra->effect_win.current_frame;
                const DRAWBOT_PointF32 origin = {float(double(frame.right - frame.left) - 100.0),
                                                 float(2.0 * frame.top - 20.0)};
                DRAWBOT_MatrixF32 half{}, twice{};
                for (int i = 0; i < 3; ++i) {
                    half.mat[i][i] = 0.5f;
                    twice.mat[i][i] = 2.0f;
                }
                err = surfaceSuite->Transform(target.Surface(), &half);
                if (!err) {
                    err = surfaceSuite->DrawImage(target.Surface(), image, &origin, 1.0f);
                    // Undone even after a failed draw, so the panel's surface keeps its scale.
                    const PF_Err undone = surfaceSuite->Transform(target.Surface(), &twice);
                    if (!err) err = undone;
                }
            }
            const PF_Err released = target.Release();
            if (!err) err = released;
        }
    }
    if (!err) extra->evt_out_flags = PF_EO_HANDLED_EVENT;
    return err;
}
