#include "ui/JuceGradientParameter.h"

#include <algorithm>
#include <cmath>
#include <cwchar>

#include "params/UF3_ParamIndex.h"
#include "shell/AEFX_SuiteHelper.h"
#include "shell/AEGP_SuiteHandler.h"
#include "shell/UF3.h"
#include "shell/UF3_Colour.h"
#include "shell/UF_Handle.h"

namespace {

constexpr double kThird = 1.0 / 3.0;
constexpr const char* kPickerTitle = "Pick Color";

bool InAddStrip(const GradientGeometry& g, float x, float y) {
    return RectContains({g.X, g.B, g.W, UF3_GRAD_MARKER_DEPTH}, x, y);
}

// The marker's hit box reaches one unit further left than right and one above the bar's bottom.
bool OnStop(const GradientGeometry& g, double position, float x, float y) {
    const float sx = GradientStopX(g, position);
    return sx - (UF3_GRAD_MARKER_HALF + 1) <= x && x <= sx + UF3_GRAD_MARKER_HALF && g.B - 1 <= y &&
           y <= g.B + UF3_GRAD_MARKER_DEPTH;
}

// The last stop in stored order under the point, or -1.
A_long HitStop(const std::vector<ArbGradientPt>& stops, const GradientGeometry& g, float x, float y) {
    A_long hit = -1;
    for (size_t i = 0; i < stops.size(); ++i)
        if (OnStop(g, stops[i].position, x, y)) hit = A_long(i);
    return hit;
}

void SetSwitch(PF_ParamDef& def, bool on) {
    def.u.bd.value = on ? 1 : 0;
    def.uu.change_flags |= PF_ChangeFlag_CHANGED_VALUE;
}

// Buttons 0 to 5 act on the stops sorted by position; the result is the new stored list.
// The two switches are copies, set in the parameters only once the whole edit can be made.
bool ApplyButton(int button, std::vector<ArbGradientPt>& stops, PF_ParamDef& linear, PF_ParamDef& interp) {
    std::vector<ArbGradientPt> sorted = stops;
    std::stable_sort(sorted.begin(), sorted.end(), GradientStopLess);
    const size_t k = sorted.size();
    std::vector<PF_PixelFloat> colours;
    for (const ArbGradientPt& s : sorted) colours.push_back(s.color);
    bool write = true;
    switch (button) {
        case 0:
            for (size_t i = 0; i < k; ++i) sorted[i].color = colours[(i + k - 1) % k];
            break;
        case 1:
            for (size_t i = 0; i < k; ++i) sorted[i].color = colours[(i + 1) % k];
            break;
        case 2:
            for (size_t i = 0; i < k; ++i) sorted[i].color = colours[k - 1 - i];
            break;
        case 3:
            SetSwitch(linear, linear.u.bd.value == 0);
            write = false;
            break;
        case 4:
            SetSwitch(interp, interp.u.bd.value == 0);
            write = false;
            break;
        default:
            SetSwitch(linear, true);
            SetSwitch(interp, true);
            sorted.assign(defaultGrad.rbegin(), defaultGrad.rend());
            break;
    }
    stops = std::move(sorted);
    return write;
}

}  // namespace

// ---- Free functions ----

DRAWBOT_RectF32 GetContextArea(PF_EventExtra* extra, float pad) {
    const PF_Rect& f = extra->effect_win.current_frame;
    const float left = float(f.left), top = float(f.top), right = float(f.right), bottom = float(f.bottom);
    if (extra->effect_win.area == PF_EA_PARAM_TITLE) {
        const float x = left + (right - left) * 0.5f + pad;
        return {x, top, right - x, bottom - top + 1};
    }
    return {left, top, right - left, bottom - top};
}

GradientGeometry GradientGeometryOf(PF_EventExtra* extra) {
    GradientGeometry g;
    g.area = GetContextArea(extra, 0);
    g.X = g.area.left + UF3_GRAD_BAR_INSET;
    g.T = g.area.top;
    g.W = std::max(0.0f, g.area.width - UF3_GRAD_BAR_INSET) - UF3_GRAD_BAR_INSET;
    g.B = g.T + UF3_GRAD_BAR_HEIGHT;
    return g;
}

float GradientStopX(const GradientGeometry& g, double position) {
    return g.X + float(GradientStopPosition(position) * double(g.W));
}

DRAWBOT_RectF32 GradientButtonRect(const GradientGeometry& g, int index) {
    const float width = float(double(g.W + 18.0f - 10.0f) * kThird);
    DRAWBOT_RectF32 r = {g.X - 9.0f, float(double(g.T) + UF3_GRAD_BUTTON_OFFSET), width, UF3_GRAD_BAR_HEIGHT * 0.5f};
    r.left += float(index % 3) * (r.width + UF3_GRAD_BUTTON_GAP);
    if (index >= 3) r.top += UF3_GRAD_BUTTON_ROW_STEP;
    return r;
}

bool RectContains(const DRAWBOT_RectF32& r, float x, float y) {
    return r.left <= x && x <= r.left + r.width && r.top <= y && y <= r.top + r.height;
}

DRAWBOT_ColorRGBA AppColorTypeToRGBA(const PF_App_Color* colour) {
    constexpr float kUnit = 1.0f / 65535.0f;
    return {colour->red * kUnit, colour->green * kUnit, colour->blue * kUnit, 1.0f};
}

DRAWBOT_ColorRGBA AcquireAppColor(PF_InData* in_data, PF_OutData* out_data, short colorType) {
    DRAWBOT_ColorRGBA colour{0, 0, 0, 0};
    AEFX_SuiteScoper<PF_AppSuite6, true> app(in_data, kPFAppSuite, kPFAppSuiteVersion6, out_data);
    if (!app.get()) {
        if (!in_data || !in_data->pica_basicP) AEFX_ReportToHost(in_data, out_data, AEFX_RELEASE_FAILED_MESSAGE);
        return colour;
    }
    PF_App_Color appColour{};
    if (app->PF_AppGetColor && app->PF_AppGetColor(colorType, &appColour) == PF_Err_NONE)
        colour = AppColorTypeToRGBA(&appColour);
    return colour;
}

std::vector<ArbGradientPt> GammaCorrectGradVector(const std::vector<ArbGradientPt>& stops) {
    std::vector<ArbGradientPt> out = stops;
    for (ArbGradientPt& s : out) {
        UF3_RaiseRGB(s.color, UF3_GAMMA_DECODE);
        s.color.alpha = 1.0f;
    }
    return out;
}

void copyConvertStringLiteralIntoUTF16(const wchar_t* s, unsigned short* out, size_t capacity) {
    if (!out || capacity == 0) return;
    const size_t n = s ? std::min(std::wcslen(s), capacity - 1) : 0;
    size_t units = 0;
    for (size_t i = 0; i < n && units < n; ++i) {
        const uint32_t c = uint32_t(s[i]);
        if (c >= 0x10000 && c <= 0x10FFFF) {
            // A surrogate pair that no longer fits is dropped whole.
            if (units + 2 > n) break;
            out[units++] = static_cast<unsigned short>(0xD800 + ((c - 0x10000) >> 10));
            out[units++] = static_cast<unsigned short>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out[units++] = static_cast<unsigned short>(c > 0x10FFFF ? 0xFFFD : c);
        }
    }
    for (; units < n; ++units) out[units] = 0;
    out[n] = 0;
}

void StringToWideCharArr(std::string s, unsigned short* out, size_t capacity) {
    std::wstring wide;
    for (char c : s) wide += wchar_t(static_cast<unsigned char>(c));
    copyConvertStringLiteralIntoUTF16(wide.c_str(), out, capacity);
}

float lerp(float a, float b, float t) { return a - (a - b) * t; }

// ---- The control ----

JuceGradientParameter::JuceGradientParameter(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef** params,
                                             PF_EventExtra* extra, int paramIndex)
    : m_in_data(in_data), m_out_data(out_data), m_params(params), m_extra(extra), m_paramIndex(paramIndex) {
    Init();
}

void JuceGradientParameter::Init() {
    m_defaultCursor = UF3_CURSOR_DEFAULT;
    m_selectParam = UF3_GRADIENT_PT_SELECT;
    m_positionParam = UF3_POINT_LOCATION;
    m_backgroundColor = AcquireAppColor(m_in_data, m_out_data, UF3_APP_COLOR_BUTTON_FACE);
    m_textColor = AcquireAppColor(m_in_data, m_out_data, UF3_APP_COLOR_TEXT);
    m_highlightColor = AcquireAppColor(m_in_data, m_out_data, UF3_APP_COLOR_HIGHLIGHT);
}

PF_Err JuceGradientParameter::HandleEvent() {
    const PF_EventType type = m_extra->e_type;
    if (!m_in_data->sequence_data && (type == PF_Event_DO_CLICK || type == PF_Event_DRAW)) {
        if (SequenceSetup(m_in_data, m_out_data) == PF_Err_NONE) m_in_data->sequence_data = m_out_data->sequence_data;
    }
    switch (type) {
        case PF_Event_DO_CLICK:
            return MouseClick(false);
        case PF_Event_DRAG:
            return MouseClick(true);
        case PF_Event_DRAW: {
            const PF_Err err = Draw();
            m_extra->evt_out_flags = PF_EO_HANDLED_EVENT;
            return err;
        }
        case PF_Event_ADJUST_CURSOR:
            return MouseHover();
        default:
            return PF_Err_NONE;
    }
}

// The edit is worked out on copies and made only when all it needs is had: the new gradient
// handle and the panel's selection and position. A refusal on the way is the event's result
// and leaves the gradient, the switches, the panel and the drag state as they were.
PF_Err JuceGradientParameter::MouseClick(bool drag) {
    AEGP_SuiteHandler suites(m_in_data->pica_basicP);
    PF_ParamDef* p = m_params[m_paramIndex];
    PF_DoClickEventInfo& click = m_extra->u.do_click;
    const A_long mx = click.screen_point.h, my = click.screen_point.v;
    // No drag follows, or goes on after, an edit that could not be made.
    auto refused = [&](PF_Err err) {
        click.send_drag = 0;
        return err;
    };

    if (drag) {
        const UF_HandleLock sequence(m_in_data->utils, m_in_data->sequence_data);
        if (auto* seq = sequence.As<SequenceData>()) {
            seq->lastMouseH = mx;
            seq->lastMouseV = my;
        }
    }

    const PF_HandleSuite1* handles = suites.HandleSuite1();
    const PF_ParamUtilsSuite3* paramUtils = suites.ParamUtilsSuite3();
    std::vector<ArbGradientPt> stops;
    // A gradient that cannot be read is not taken for one without stops.
    PF_Err err = CreateGradientStdVecFromArb(handles, p->u.arb_d.value, &stops);
    if (err) return refused(err);
    PF_ParamDef linear = *m_params[UF3_LINEAR_BLENDING], interp = *m_params[UF3_INTERPOLATE];
    const GradientGeometry g = GradientGeometryOf(m_extra);

    auto pickColour = [&](ArbGradientPt& stop) {
        AEGP_SuiteHandler picker(m_in_data->pica_basicP);
        PF_PixelFloat result{};
        if (picker.AppSuite6()->PF_AppColorPickerDialog(kPickerTitle, &stop.color, true, &result)) return false;
        stop.color = result;
        return true;
    };

    A_long sel = drag ? A_long(click.continue_refcon[2]) : -1;
    // A selection the gradient no longer has (the handle changed under the drag) is none.
    if (sel < -1 || sel >= A_long(stops.size())) sel = -1;
    A_long lastX = mx;
    bool write = false;

    if (drag) {
        if (sel >= 0 && click.num_clicks >= 2) {
            write = pickColour(stops[size_t(sel)]);
        } else if (sel >= 0) {
            ArbGradientPt& stop = stops[size_t(sel)];
            // A bar without length moves nothing (and must not divide by zero).
            if (g.W > 0) {
                const double moved = double(float(mx - click.continue_refcon[0]) / g.W);
                stop.position = std::clamp(GradientStopPosition(stop.position) + moved, 0.0, 1.0);
            }
            if (std::fabs(float(my) - g.B) > UF3_GRAD_REMOVE_DISTANCE && stops.size() >= 3) {
                stops.erase(stops.begin() + sel);
                sel = -1;
            }
            // Kept on the bar, so that moving back from past an end moves the stop at once.
            lastX = A_long(std::min(float(A_long(std::max(float(mx), g.X))), g.X + g.W));
            write = true;
        }
    } else {
        sel = HitStop(stops, g, float(mx), float(my));
        const size_t n = stops.size();
        if (sel >= 0 && click.num_clicks >= 2) {
            write = pickColour(stops[size_t(sel)]);
        } else if (sel < 0 && click.num_clicks == 1 && n >= 1 && n < UF3_MAX_GRADIENT_STOPS) {
            write = true;
            if (InAddStrip(g, float(mx), float(my))) {
                const float along = g.W > 0 ? float(mx - g.X) / g.W : 0.0f;
                const double t = std::clamp(double(along), 0.0, 1.0);
                PF_PixelFloat colour;
                if (linear.u.bd.value != 0) {
                    std::vector<ArbGradientPt> decoded = GammaCorrectGradVector(stops);
                    std::stable_sort(decoded.begin(), decoded.end(), GradientStopLess);
                    colour = Get_Gradient_Color_At_Position_Adv(unsigned(n), decoded.data(), t, interp.u.bd.value != 0);
                    UF3_RaiseRGB(colour, UF3_GAMMA_ENCODE);
                } else {
                    colour = Get_Gradient_Color_At_Position_Adv(unsigned(n), stops.data(), t, interp.u.bd.value != 0);
                }
                stops.push_back({t, colour});
                sel = A_long(n);
            }
        }
    }

    // The selection and its position as the panel is to show them, before a button reorders the stops.
    PF_ParamDef select = *m_params[m_selectParam];
    select.u.sd.value = sel;
    PF_ParamDef location = *m_params[m_positionParam];
    if (sel >= 0 && sel < A_long(stops.size())) {
        location.u.fd.value = PF_Fixed(std::lround(GradientStopPosition(stops[size_t(sel)].position) * 100.0 * 65536.0));
        location.ui_flags &= ~PF_PUI_DISABLED;
    } else {
        location.ui_flags |= PF_PUI_DISABLED;
    }

    if (!drag) {
        for (int b = 0; b < UF3_GRAD_BUTTON_COUNT; ++b) {
            if (RectContains(GradientButtonRect(g, b), float(mx), float(my))) {
                write = ApplyButton(b, stops, linear, interp);
                break;
            }
        }
    }

    // The new handle is made first: when the host cannot supply it the old value stays.
    UF_Handle fresh;
    if (write && !stops.empty()) {
        PF_Handle made = nullptr;
        err = Set_Arb_Gradient(handles, &made, unsigned(stops.size()), stops.data());
        fresh = UF_Handle(handles, made);
        if (!err && !fresh) err = PF_Err_OUT_OF_MEMORY;
        if (err) return refused(err);
    }
    // Then the panel; a position it refuses takes the selection published before it back.
    err = paramUtils->PF_UpdateParamUI(m_in_data->effect_ref, m_selectParam, &select);
    if (!err) {
        err = paramUtils->PF_UpdateParamUI(m_in_data->effect_ref, m_positionParam, &location);
        if (err) paramUtils->PF_UpdateParamUI(m_in_data->effect_ref, m_selectParam, m_params[m_selectParam]);
    }
    if (err) return refused(err);

    // Nothing can fail from here on.
    if (fresh) {
        UF_Handle(handles, p->u.arb_d.value).UnlockAndDispose();
        p->u.arb_d.value = fresh.Release();
        p->uu.change_flags |= PF_ChangeFlag_CHANGED_VALUE;
    }
    *m_params[UF3_LINEAR_BLENDING] = linear;
    *m_params[UF3_INTERPOLATE] = interp;
    if (!drag) {
        // A double click opens the picker; no drag follows it.
        click.send_drag = click.num_clicks < 2 ? 1 : 0;
    }
    click.continue_refcon[0] = lastX;
    click.continue_refcon[1] = my;
    click.continue_refcon[2] = sel;
    m_extra->evt_out_flags = PF_EO_HANDLED_EVENT;
    return PF_Err_NONE;
}

PF_Err JuceGradientParameter::MouseHover() {
    PF_AdjustCursorEventInfo& cursor = m_extra->u.adjust_cursor;
    {
        const UF_HandleLock sequence(m_in_data->utils, m_in_data->sequence_data);
        if (auto* seq = sequence.As<SequenceData>()) {
            seq->lastMouseH = cursor.screen_point.h;
            seq->lastMouseV = cursor.screen_point.v;
        }
    }
    AEGP_SuiteHandler suites(m_in_data->pica_basicP);
    std::vector<ArbGradientPt> stops;
    // Without the stops the cursor cannot say what a click would do: the host's stays.
    if (PF_Err err = CreateGradientStdVecFromArb(suites.HandleSuite1(), m_params[m_paramIndex]->u.arb_d.value, &stops))
        return err;

    const float mx = float(cursor.screen_point.h), my = float(cursor.screen_point.v);
    const GradientGeometry g = GradientGeometryOf(m_extra);
    if (RectContains(g.area, mx, my)) cursor.set_cursor = m_defaultCursor;
    if (InAddStrip(g, mx, my)) cursor.set_cursor = UF3_CURSOR_ADD_STOP;
    if (HitStop(stops, g, mx, my) >= 0) cursor.set_cursor = UF3_CURSOR_ON_STOP;
    return PF_Err_NONE;
}
