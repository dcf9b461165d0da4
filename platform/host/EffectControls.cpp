#include "host/EffectControls.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "host/AppSuite.h"
#include "host/HandleSuite.h"
#include "host/Host.h"
#include "host/Streams.h"

namespace host {

namespace {

constexpr A_u_long kContextMagic = kHostContextMagic;
// Space above the first control and between controls, in panel pixels.
constexpr int kPanelMargin = 12;
constexpr int kControlGap = 6;

// The panels alive, by the context each hands out.
struct Contexts {
    std::mutex mutex;
    std::unordered_map<const PF_Context*, DrawbotCanvas*> canvases;
};

Contexts& TheContexts() {
    static Contexts contexts;
    return contexts;
}

PF_Err GetDrawingReference(const PF_ContextH contextH, DRAWBOT_DrawRef* out) {
    if (!out) return PF_Err_BAD_CALLBACK_PARAM;
    *out = nullptr;
    auto& c = TheContexts();
    std::lock_guard lock(c.mutex);
    auto it = c.canvases.find(contextH);
    if (it == c.canvases.end() || contextH->magic != kContextMagic) return PF_Err_BAD_CALLBACK_PARAM;
    if (const CallFault fault = TakeCallFault(); fault != CallFault::kNone)
        return fault == CallFault::kNull ? PF_Err_NONE : PF_Err(A_Err_ALLOC);
    *out = it->second->Ref();
    return PF_Err_NONE;
}

PF_Err GetContextAsyncManager(void*, void*, void** out) {
    if (out) *out = nullptr;
    return PF_Err_BAD_CALLBACK_PARAM;
}

const PF_EffectCustomUISuite1 kCustomUI1 = {GetDrawingReference};
const PF_EffectCustomUISuite2 kCustomUI2 = {GetDrawingReference, GetContextAsyncManager};

DRAWBOT_ColorRGBA Colour(const PF_App_Color& c) {
    return {c.red / 65535.0f, c.green / 65535.0f, c.blue / 65535.0f, 1.0f};
}

}  // namespace

const PF_EffectCustomUISuite1* CustomUISuite1() { return &kCustomUI1; }
const PF_EffectCustomUISuite2* CustomUISuite2() { return &kCustomUI2; }

void RegisterDrawingContext(const PF_Context* context, DrawbotCanvas* canvas) {
    auto& c = TheContexts();
    std::lock_guard lock(c.mutex);
    if (canvas)
        c.canvases[context] = canvas;
    else
        c.canvases.erase(context);
}

// ---- The event command ----

PF_Err Host::Event(PF_EventExtra& extra) {
    if (!m_main) return PF_Err_INVALID_CALLBACK;
    m_out = PF_OutData{};
    m_out.global_data = m_in.global_data;
    m_out.sequence_data = m_in.sequence_data;

    // The effect may dispose of the arbitrary data it is handed and store
    // new data in its place, so it gets copies; the values stay the host's.
    std::vector<PF_ParamDef> values;
    {
        std::lock_guard lock(m_paramMutex);
        for (auto& slot : m_slots) values.push_back(slot.current);
    }
    std::vector<PF_Handle> copies(values.size(), nullptr);
    for (size_t i = 1; i < values.size(); ++i) {
        values[i].uu.change_flags = PF_ChangeFlag_NONE;
        if (values[i].param_type != PF_Param_ARBITRARY_DATA || !values[i].u.arb_d.value) continue;
        if (PF_Err err = CopyArb(values[i].u.arb_d.value, &copies[i])) {
            for (PF_Handle h : copies)
                if (h) DisposeArb(h);
            return err;
        }
        values[i].u.arb_d.value = copies[i];
    }
    values[0].uu.change_flags = PF_ChangeFlag_NONE;
    std::vector<PF_ParamDef*> pointers;
    for (auto& v : values) pointers.push_back(&v);

    PF_Err err = m_main(PF_Cmd_EVENT, &m_in, &m_out, pointers.data(), nullptr, &extra);

    // Sequence data the effect made for itself during the event is the instance's from now on.
    if (m_out.sequence_data && m_out.sequence_data != m_in.sequence_data) m_in.sequence_data = m_out.sequence_data;
    TakeChangedValues(values);
    for (size_t i = 1; i < copies.size(); ++i) {
        if (!copies[i] || copies[i] == Param(int(i)).u.arb_d.value) continue;
        if (HandleTable::Instance().IsAlive(copies[i])) DisposeArb(copies[i]);
    }
    return err;
}

// ---- The panel ----

EffectControls::EffectControls(Host& host, PanelLayout layout) : m_host(host), m_layout(layout) {
    m_context.magic = kContextMagic;
    m_context.w_type = PF_Window_EFFECT;
    Layout();
}

EffectControls::~EffectControls() {
    auto& c = TheContexts();
    std::lock_guard lock(c.mutex);
    c.canvases.erase(&m_context);
}

void EffectControls::Layout() {
    m_controls.clear();
    int y = kPanelMargin;
    const auto& defs = m_host.ParamDefs();
    for (int i = 1; i < int(defs.size()); ++i) {
        if (!(defs[size_t(i)].ui_flags & PF_PUI_CONTROL)) continue;
        if ((m_host.Param(i).ui_flags & PF_PUI_INVISIBLE) || m_host.Panel().UI(i).hidden) continue;
        PanelControl control;
        control.index = i;
        control.title = {0, y, m_layout.width, y + m_layout.titleHeight};
        y += m_layout.titleHeight;
        control.control = {m_layout.indent, y, m_layout.width, y + defs[size_t(i)].ui_height};
        y += defs[size_t(i)].ui_height + kControlGap;
        m_controls.push_back(control);
    }
    const int height = y + kPanelMargin;
    if (!m_canvas || m_canvas->Width() != m_layout.width || m_canvas->Height() != height) {
        auto canvas = std::make_unique<DrawbotCanvas>(m_layout.width, height, m_layout.scale);
        auto& c = TheContexts();
        std::lock_guard lock(c.mutex);
        c.canvases[&m_context] = canvas.get();
        m_canvas = std::move(canvas);
    }
}

PF_Err EffectControls::Show() {
    PF_Err err = PF_Err_NONE;
    if (m_host.DeclaredOutFlags() & PF_OutFlag_SEND_UPDATE_PARAMS_UI) err = m_host.Send(PF_Cmd_UPDATE_PARAMS_UI);
    Layout();
    return err;
}

const PanelControl* EffectControls::Control(int index) const {
    for (const PanelControl& c : m_controls)
        if (c.index == index) return &c;
    return nullptr;
}

PF_EventExtra EffectControls::EventFor(int index, PF_EffectArea area, PF_EventType type) const {
    PF_EventExtra extra{};
    extra.contextH = const_cast<PF_Context*>(&m_context);
    extra.e_type = type;
    extra.effect_win.index = index;
    extra.effect_win.area = area;
    if (const PanelControl* c = Control(index)) {
        extra.effect_win.current_frame = area == PF_EA_PARAM_TITLE ? c->title : c->control;
        extra.effect_win.param_title_frame = c->title;
    }
    if (type == PF_Event_DRAW) {
        extra.u.draw.update_rect = extra.effect_win.current_frame;
        extra.u.draw.depth = 32;
    }
    return extra;
}

PF_Err EffectControls::Send(PF_EventExtra& extra) {
    PF_Err err = m_host.Event(extra);
    m_last = extra;
    if (m_canvas->EndDrawing()) m_unbalanced++;
    return err;
}

PF_Err EffectControls::Draw(int index, PF_EffectArea area) {
    PF_EventExtra extra = EventFor(index, area, PF_Event_DRAW);
    return Send(extra);
}

PF_Err EffectControls::DrawPanel() {
    m_canvas->Fill(Colour(AppServices::Instance().Background()));
    PF_App_Color text{};
    AppServices::Instance().Color(2, &text);
    cairo_t* cr = cairo_create(m_canvas->Surface());
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, kDrawbotDefaultFontSize);
    cairo_set_source_rgb(cr, text.red / 65535.0, text.green / 65535.0, text.blue / 65535.0);
    for (const PanelControl& c : m_controls) {
        const std::string name(m_host.Param(c.index).name,
                               strnlen(m_host.Param(c.index).name, sizeof m_host.Param(c.index).name));
        cairo_move_to(cr, c.title.left + 20, c.title.bottom - 6);
        cairo_show_text(cr, name.c_str());
    }
    cairo_destroy(cr);

    PF_Err first = PF_Err_NONE;
    for (const PanelControl& c : m_controls) {
        PF_Err err = Draw(c.index, PF_EA_CONTROL);
        if (!first) first = err;
    }
    return first;
}

PF_Err EffectControls::Click(int index, PF_Point at, int clicks) {
    return m_gesture.Click(EventFor(index, PF_EA_CONTROL, PF_Event_DO_CLICK), at, clicks, [this](PF_EventExtra& e) { return Send(e); });
}

PF_Err EffectControls::Drag(PF_Point at, bool last) {
    return m_gesture.Drag(at, last, [this](PF_EventExtra& e) { return Send(e); });
}

PF_Err EffectControls::DragTo(PF_Point at) { return Drag(at, false); }
PF_Err EffectControls::Release(PF_Point at) { return Drag(at, true); }

PF_Err EffectControls::MoveTo(int index, PF_Point at, PF_CursorType* cursor) {
    PF_EventExtra extra = EventFor(index, PF_EA_CONTROL, PF_Event_ADJUST_CURSOR);
    extra.u.adjust_cursor.screen_point = at;
    extra.u.adjust_cursor.set_cursor = PF_Cursor_ARROW;
    PF_Err err = Send(extra);
    if (cursor) *cursor = extra.u.adjust_cursor.set_cursor;
    return err;
}

}  // namespace host
