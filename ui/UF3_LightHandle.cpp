#include "ui/UF3_LightHandle.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>

#include "params/UF3_ParamIndex.h"
#include "shell/AEFX_SuiteHelper.h"
#include "shell/AEGP_SuiteHandler.h"
#include "shell/DrawbotWrappers.h"

namespace {

constexpr double kFixedOne = 65536.0;

// Horizontal layer pixels per vertical one on a square display; a ratio the
// host left empty or non-positive is taken as square rather than divided by.
double PixelAspect(const PF_InData* in_data) {
    const A_long num = in_data->pixel_aspect_ratio.num;
    const A_u_long den = in_data->pixel_aspect_ratio.den;
    return num > 0 && den > 0 ? double(num) / double(den) : 1.0;
}

// Doubles past the 32-bit range saturate rather than overflow the conversion.
A_long SaturateLong(double v) {
    if (std::isnan(v)) return 0;
    return A_long(std::clamp(v, double(std::numeric_limits<A_long>::min()), double(std::numeric_limits<A_long>::max())));
}

PF_Err Callback(PF_Err (*fn)(void*, PF_ContextH, PF_FixedPoint*), PF_EventExtra* extra, PF_FixedPoint* pt) {
    return fn ? fn(extra->cbs.refcon, extra->contextH, pt) : PF_Err_BAD_CALLBACK_PARAM;
}

PF_Err TimedCallback(PF_Err (*fn)(void*, PF_ContextH, A_long, A_long, PF_FixedPoint*), PF_InData* in_data,
                     PF_EventExtra* extra, PF_FixedPoint* pt) {
    return fn ? fn(extra->cbs.refcon, extra->contextH, in_data->current_time, in_data->time_scale, pt)
              : PF_Err_BAD_CALLBACK_PARAM;
}

enum class Step { LayerToComp, CompToLayer, SourceToFrame, FrameToSource };

PF_Err ConvertFixed(PF_InData* in_data, PF_EventExtra* extra, PF_FixedPoint* fixed, std::initializer_list<Step> steps) {
    PF_Err err = PF_Err_NONE;
    for (Step s : steps) {
        if (err) break;
        switch (s) {
            case Step::LayerToComp: err = TimedCallback(extra->cbs.layer_to_comp, in_data, extra, fixed); break;
            case Step::CompToLayer: err = TimedCallback(extra->cbs.comp_to_layer, in_data, extra, fixed); break;
            case Step::SourceToFrame: err = Callback(extra->cbs.source_to_frame, extra, fixed); break;
            case Step::FrameToSource: err = Callback(extra->cbs.frame_to_source, extra, fixed); break;
        }
    }
    return err;
}

PF_Err Convert(PF_InData* in_data, PF_EventExtra* extra, PF_Point* in, PF_Point* out, PF_FixedPoint* fixed,
               std::initializer_list<Step> steps) {
    fixed->x = UF3_PixelsToFixed(in->h);
    fixed->y = UF3_PixelsToFixed(in->v);
    const PF_Err err = ConvertFixed(in_data, extra, fixed, steps);
    out->h = fixed->x >> 16;
    out->v = fixed->y >> 16;
    return err;
}

// The box's corners in the order a click tries them (and a drawing converts them).
template <typename Point, typename Rect>
std::array<Point, 4> Corners(const Rect& box) {
    return {{{box.left, box.top}, {box.right, box.top}, {box.right, box.bottom}, {box.left, box.bottom}}};
}

// A 16.16 layer point into the event's window, by the steps Layer2CompFrame or Layer2LayerFrame take.
PF_Err LayerToFrame(PF_InData* in_data, PF_EventExtra* extra, PF_FixedPoint* fixed) {
    if (extra->contextH->w_type == PF_Window_COMP)
        return ConvertFixed(in_data, extra, fixed, {Step::LayerToComp, Step::SourceToFrame});
    return ConvertFixed(in_data, extra, fixed, {Step::SourceToFrame});
}

PF_ParamDef& RadiusParam(PF_ParamDef** params) {
    return *params[params[UF3_RENDERER]->u.pd.value == 1 ? UF3_LIGHT_RADIUS_STD : UF3_LIGHT_RADIUS_RT];
}

// The light's box about (cx, cy): the radius above and below, that over the pixel aspect to either side.
template <typename Rect, typename Edge>
void LightBox(PF_InData* in_data, PF_ParamDef** params, double cx, double cy, Edge edge, Rect* out) {
    const double r = RadiusParam(params).u.fs_d.value;
    const double halfH = r / PixelAspect(in_data);
    out->left = edge(cx - halfH);
    out->top = edge(cy - r);
    out->right = edge(cx + halfH);
    out->bottom = edge(cy + r);
}

}  // namespace

PF_Fixed UF3_PixelsToFixed(A_long pixels) { return SaturateLong(double(pixels) * kFixedOne); }

PF_Err CompFrame2Layer(PF_InData* in_data, PF_EventExtra* extra, PF_Point* in, PF_Point* out, PF_FixedPoint* fixed) {
    return Convert(in_data, extra, in, out, fixed, {Step::FrameToSource, Step::CompToLayer});
}
PF_Err Layer2CompFrame(PF_InData* in_data, PF_EventExtra* extra, PF_Point* in, PF_Point* out, PF_FixedPoint* fixed) {
    return Convert(in_data, extra, in, out, fixed, {Step::LayerToComp, Step::SourceToFrame});
}
PF_Err LayerFrame2Layer(PF_InData* in_data, PF_EventExtra* extra, PF_Point* in, PF_Point* out, PF_FixedPoint* fixed) {
    return Convert(in_data, extra, in, out, fixed, {Step::FrameToSource});
}
PF_Err Layer2LayerFrame(PF_InData* in_data, PF_EventExtra* extra, PF_Point* in, PF_Point* out, PF_FixedPoint* fixed) {
    return Convert(in_data, extra, in, out, fixed, {Step::SourceToFrame});
}

void FixedFrameFromParams(PF_InData* in_data, PF_ParamDef** params, PF_FixedRect* out) {
    const PF_PointDef& origin = params[UF3_LIGHT_ORIGIN]->u.td;
    // std::round rounds half away from zero; edges past the fixed range saturate.
    auto edge = [](double v) { return SaturateLong(std::round(v * kFixedOne)); };
    LightBox(in_data, params, origin.x_value / kFixedOne, origin.y_value / kFixedOne, edge, out);
}

void FrameFromParams(PF_InData* in_data, PF_ParamDef** params, PF_LRect* out) {
    const PF_PointDef& origin = params[UF3_LIGHT_ORIGIN]->u.td;
    auto edge = [](double v) {
        if (std::isnan(v)) return A_long(0);
        return A_long(std::clamp(std::trunc(v), double(UF3_FIXED_PIXEL_MIN), double(UF3_FIXED_PIXEL_MAX)));
    };
    LightBox(in_data, params, double(origin.x_value >> 16), double(origin.y_value >> 16), edge, out);
}

// The exact box's corners go to the window one by one, each edge rounded half
// up. Unturned, the outline is the whole-pixel ellipse of that box; turned, the
// squares sit on the converted corners and the ellipse is mapped point by point.
void DrawHandles(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef** params, PF_EventExtra* extra) {
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    PF_FixedRect exact;
    FixedFrameFromParams(in_data, params, &exact);
    std::array<PF_FixedPoint, 4> fixedCorners = Corners<PF_FixedPoint>(exact);
    std::array<PF_Point, 4> corners;
    // 64-bit so the half-up offset cannot overflow near the fixed range's end.
    auto whole = [](PF_Fixed v) { return A_long((int64_t(v) + 32768) >> 16); };
    for (size_t i = 0; i < corners.size(); ++i) {
        // A box the host cannot place in the window is not drawn anywhere.
        if (LayerToFrame(in_data, extra, &fixedCorners[i])) return;
        corners[i] = {whole(fixedCorners[i].x), whole(fixedCorners[i].y)};
    }
    const bool unturned = corners[0].v == corners[1].v && corners[1].h == corners[2].h &&
                          corners[2].v == corners[3].v && corners[3].h == corners[0].h;

    DRAWBOT_PointF32 points[UF3_OUTLINE_SEGMENTS];
    if (unturned) {
        const A_long L = corners[0].h, T = corners[0].v, R = corners[1].h, Bm = corners[2].v;
        const A_long half = (R - L) / 2, halfV = (Bm - T) / 2, cx = L + half, cy = T + halfV;
        for (int k = 0; k < UF3_OUTLINE_SEGMENTS; ++k) {
            const double a = k * 2.0 * M_PI / UF3_OUTLINE_SEGMENTS;
            points[k] = {float(cx + half * double(float(std::sin(a)))), float(cy + halfV * double(float(std::cos(a))))};
        }
    } else {
        const double cx = (double(exact.left) + exact.right) / 2, cy = (double(exact.top) + exact.bottom) / 2;
        const double half = (double(exact.right) - exact.left) / 2, halfV = (double(exact.bottom) - exact.top) / 2;
        for (int k = 0; k < UF3_OUTLINE_SEGMENTS; ++k) {
            const double a = k * 2.0 * M_PI / UF3_OUTLINE_SEGMENTS;
            PF_FixedPoint p = {SaturateLong(std::round(cx + half * double(float(std::sin(a))))),
                               SaturateLong(std::round(cy + halfV * double(float(std::cos(a)))))};
            if (LayerToFrame(in_data, extra, &p)) return;
            points[k] = {float(p.x / kFixedOne), float(p.y / kFixedOne)};
        }
    }

    DrawbotSuiteSet db(in_data, out_data);
    // Without the DRAWBOT suites there is nothing to draw with.
    if (db.Error()) return;
    UF_Drawing target(db->drawSuite, db->supplierSuite);
    PF_Err err = target.Reference(suites.EffectCustomUISuite1(), extra->contextH);
    if (!target.Drawing()) return;
    DRAWBOT_ColorRGBA foreground{};
    if (!err) err = target.GetSurface();
    // The handler acquires the theme suite once, at its first use here.
    if (!err) err = suites.EffectCustomUIOverlayThemeSuite1()->PF_GetPreferredForegroundColor(&foreground);

    if (!target.GetSupplier()) {
        DRAWBOT_PathP path(db->supplierSuite, target.Supplier());
        PF_Err pathErr = db->pathSuite->MoveTo(path, points[0].x, points[0].y);
        for (int k = 0; k <= UF3_OUTLINE_SEGMENTS && !pathErr; ++k) {
            const DRAWBOT_PointF32& p = points[k % UF3_OUTLINE_SEGMENTS];
            pathErr = db->pathSuite->LineTo(path, p.x, p.y);
        }
        if (!pathErr) suites.EffectCustomUIOverlayThemeSuite1()->PF_StrokePath(target.Drawing(), path, false);
    }

    // Painted top-left, top-right, bottom-left, bottom-right.
    const float side = UF3_CORNER_SQUARE, off = side / 2;
    for (const int i : {0, 1, 3, 2}) {
        if (err) break;
        const DRAWBOT_RectF32 square = {float(corners[i].h) - off, float(corners[i].v) - off, side, side};
        err = db->surfaceSuite->PaintRect(target.Surface(), &foreground, &square);
    }
}

bool DoClickHandles(PF_InData* in_data, PF_LRect* box, PF_ParamDef**, UF3_PointConverter converter,
                    PF_EventExtra* extra) {
    const PF_Point mouse = extra->u.do_click.screen_point;
    for (PF_Point corner : Corners<PF_Point>(*box)) {
        PF_FixedPoint fixed;
        // A corner the host cannot place in the window cannot be grabbed.
        if (converter(in_data, extra, &corner, &corner, &fixed)) continue;
        const int64_t distance = std::llabs(int64_t(corner.h) - mouse.h) + std::llabs(int64_t(corner.v) - mouse.v);
        if (distance <= UF3_HANDLE_REACH) {
            extra->u.do_click.send_drag = 1;
            extra->u.do_click.continue_refcon[0] = 1;
            return true;
        }
    }
    return false;
}

bool DoDragHandles(PF_InData* in_data, PF_OutData*, PF_ParamDef** params, UF3_PointConverter converter,
                   PF_EventExtra* extra) {
    PF_Point mouse = extra->u.do_click.screen_point;
    PF_FixedPoint fixed;
    // A mouse point the host cannot place on the layer leaves the radius as it was.
    if (!converter(in_data, extra, &mouse, &mouse, &fixed)) {
        // 64-bit differences: a light and a mouse far apart stay far apart instead of wrapping.
        const double dx = double(int64_t(params[UF3_LIGHT_ORIGIN]->u.td.x_value) - fixed.x) / kFixedOne;
        const double dy = double(int64_t(params[UF3_LIGHT_ORIGIN]->u.td.y_value) - fixed.y) / kFixedOne;
        const double horizontal = std::fabs(dx) * PixelAspect(in_data) * kFixedOne + 0.5;
        const double vertical = std::fabs(dy) * kFixedOne + 0.5;
        const double larger = int64_t(horizontal) > int64_t(vertical) ? horizontal : vertical;
        PF_ParamDef& radius = RadiusParam(params);
        radius.u.fs_d.value = double(int64_t(larger)) / kFixedOne;
        radius.uu.change_flags = PF_ChangeFlag_CHANGED_VALUE;
    }
    // The drag goes on until the host says this event is its last.
    const bool more = !extra->u.do_click.last_time;
    extra->u.do_click.send_drag = more;
    extra->u.do_click.continue_refcon[0] = more;
    return true;
}
