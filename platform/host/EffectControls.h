// The Effect Controls panel's custom controls: where each one sits, the
// drawing context the panel hands the effect, and events sent as the
// application sends them (draw, click and the drags that follow it, cursor
// adjustment). The panel can be drawn into a PNG.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "AE_EffectUI.h"
#include "host/DrawbotHost.h"
#include "host/MouseGesture.h"

namespace host {

class Host;

const PF_EffectCustomUISuite1* CustomUISuite1();
const PF_EffectCustomUISuite2* CustomUISuite2();
// Marks the contexts this host hands out, in the panel and in the windows.
constexpr A_u_long kHostContextMagic = PF_APPL_ID('U', 'F', 'c', 'x');
// A window's context as PF_GetDrawingReference finds it; null forgets it.
void RegisterDrawingContext(const PF_Context* context, DrawbotCanvas* canvas);

struct PanelLayout {
    int width = 400;        // of the panel, in panel pixels
    int indent = 50;        // left edge of every control area
    int titleHeight = 20;   // the row with the parameter's name
    double scale = 1;       // device pixels per panel pixel
};

// One custom control: its title row and its control area, in panel pixels.
struct PanelControl {
    int index = 0;
    PF_Rect title{};
    PF_Rect control{};
};

class EffectControls {
public:
    explicit EffectControls(Host& host, PanelLayout layout = {});
    ~EffectControls();
    EffectControls(const EffectControls&) = delete;
    EffectControls& operator=(const EffectControls&) = delete;

    // Lays the panel out from the parameters as they are now: every custom
    // control that is not hidden, top to bottom. Made once by the constructor.
    void Layout();
    // What the application does as the panel comes up: the effect gets
    // PF_Cmd_UPDATE_PARAMS_UI when it asked for it at global setup, then the
    // panel is laid out with the controls that command left shown.
    PF_Err Show();
    const std::vector<PanelControl>& Controls() const { return m_controls; }
    const PanelControl* Control(int index) const;
    DrawbotCanvas& Canvas() { return *m_canvas; }
    PF_ContextH Context() { return &m_context; }

    // An event for a control's area, filled in as the panel would send it.
    PF_EventExtra EventFor(int index, PF_EffectArea area, PF_EventType type) const;
    // Sends any event; the drawing state it leaves on the panel is cleared.
    PF_Err Send(PF_EventExtra& extra);

    PF_Err Draw(int index, PF_EffectArea area = PF_EA_CONTROL);
    // The background, the parameters' names and every control area.
    PF_Err DrawPanel();
    bool WritePNG(const std::string& path) { return m_canvas->WritePNG(path); }

    // The mouse: a click, then, while the effect asks for them, drags carrying
    // the continue_refcon it left, the last with last_time set.
    PF_Err Click(int index, PF_Point at, int clicks = 1);
    PF_Err DragTo(PF_Point at);
    PF_Err Release(PF_Point at);
    bool Dragging() const { return m_gesture.Dragging(); }
    // A cursor-adjust event; `cursor` receives what the effect set (the
    // panel offers PF_Cursor_ARROW).
    PF_Err MoveTo(int index, PF_Point at, PF_CursorType* cursor = nullptr);

    const PF_EventExtra& Last() const { return m_last; }
    // Events that left pushed surface state or a changed transform behind.
    int UnbalancedDrawings() const { return m_unbalanced; }

private:
    PF_Err Drag(PF_Point at, bool last);

    Host& m_host;
    PanelLayout m_layout;
    PF_Context m_context{};
    std::unique_ptr<DrawbotCanvas> m_canvas;
    std::vector<PanelControl> m_controls;
    PF_EventExtra m_last{};
    MouseGesture m_gesture;
    int m_unbalanced = 0;
};

}  // namespace host
