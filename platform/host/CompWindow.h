// The composition and layer windows: drawing contexts that show the effect's
// layer at a zoom and a pan, the composition placing the layer with its own
// transform, and the event callbacks that convert points between layer,
// composition and window (frame) space in 16.16 fixed point. Events go to
// the effect as the application sends them; a window can be drawn into a PNG.
#pragma once

#include <memory>
#include <string>

#include "AE_EffectUI.h"
#include "host/DrawbotHost.h"
#include "host/MouseGesture.h"

namespace host {

class Host;

// What the overlay theme suite answers; tests and tools may change it.
struct OverlayTheme {
    DRAWBOT_ColorRGBA foreground = {0.45f, 0.80f, 1.00f, 1.0f};
    DRAWBOT_ColorRGBA shadow = {0.0f, 0.0f, 0.0f, 0.6f};
    float strokeWidth = 1.0f;
    float vertexSize = 6.0f;
    A_LPoint shadowOffset = {1, 1};
};
OverlayTheme& TheOverlayTheme();
const PF_EffectCustomUIOverlayThemeSuite1* OverlayThemeSuite();

// Where the composition puts the effect's layer. The layer's pixel aspect
// ratio is the input record's (num / den layer pixels wide per pixel high).
struct LayerPlacement {
    double positionX = 0, positionY = 0;  // composition pixels where the anchor lands
    double anchorX = 0, anchorY = 0;      // layer pixels
    double rotation = 0;                  // degrees, clockwise on screen
    double scaleX = 1, scaleY = 1;
};

struct WindowView {
    PF_WindowType type = PF_Window_COMP;  // or PF_Window_LAYER
    int width = 640, height = 360;        // window pixels
    double zoom = 1;                      // window pixels per composition pixel (layer window: per layer row)
    double panX = 0, panY = 0;            // where the composition's (layer's) origin lies in the window
};

class CompWindow {
public:
    explicit CompWindow(Host& host, WindowView view = {});
    ~CompWindow();
    CompWindow(const CompWindow&) = delete;
    CompWindow& operator=(const CompWindow&) = delete;

    WindowView& View() { return m_view; }
    LayerPlacement& Placement() { return m_placement; }
    DrawbotCanvas& Canvas() { return *m_canvas; }
    PF_ContextH Context() { return &m_context; }
    // The callbacks of this window's events (refcon: the window).
    PF_EventCallbacks Callbacks();

    // The exact maps that the callbacks round to 16.16.
    void LayerToComp(double* x, double* y) const;
    bool CompToLayer(double* x, double* y) const;  // false when the layer has no extent
    void SourceToFrame(double* x, double* y) const;
    bool FrameToSource(double* x, double* y) const;
    // Layer pixels to window pixels through whatever this window shows.
    void LayerToFrame(double* x, double* y) const;

    // An event of this window, as the application fills it in.
    PF_EventExtra EventFor(PF_EventType type) const;
    // Sends any event; the input record carries the layer's size, and the
    // drawing state an event leaves on the surface is cleared.
    PF_Err Send(PF_EventExtra& extra);

    // A grey backdrop, the composition's frame and the layer's pixels.
    void PaintBackground();
    // An image world on the layer: its pixel (0, 0) at layer (originX, originY),
    // each pixel `scale` layer pixels wide and high.
    void PaintWorld(const PF_EffectWorld& world, double originX = 0, double originY = 0, double scale = 1);
    PF_Err Draw();
    bool WritePNG(const std::string& path) { return m_canvas->WritePNG(path); }

    // The mouse: a click, then drags while the effect asks for them, the last with last_time set.
    PF_Err Click(PF_Point at);
    PF_Err DragTo(PF_Point at);
    PF_Err Release(PF_Point at);
    bool Dragging() const { return m_gesture.Dragging(); }

    const PF_EventExtra& Last() const { return m_last; }
    int UnbalancedDrawings() const { return m_unbalanced; }
    // The time the composition conversions were last asked at, and how often.
    A_long LastTime() const { return m_lastTime; }
    A_long LastTimeScale() const { return m_lastTimeScale; }
    int CompConversions() const { return m_compConversions; }

    // The composition's size, drawn as a frame by PaintBackground.
    int compWidth = 0, compHeight = 0;

private:
    double PixelAspect() const;
    PF_Err Drag(PF_Point at, bool last);
    static CompWindow* Of(void* refcon, PF_ContextH context);
    static PF_Err LayerToCompCB(void* refcon, PF_ContextH context, A_long t, A_long scale, PF_FixedPoint* pt);
    static PF_Err CompToLayerCB(void* refcon, PF_ContextH context, A_long t, A_long scale, PF_FixedPoint* pt);
    static PF_Err SourceToFrameCB(void* refcon, PF_ContextH context, PF_FixedPoint* pt);
    static PF_Err FrameToSourceCB(void* refcon, PF_ContextH context, PF_FixedPoint* pt);

    Host& m_host;
    WindowView m_view;
    LayerPlacement m_placement;
    PF_Context m_context{};
    std::unique_ptr<DrawbotCanvas> m_canvas;
    PF_EventExtra m_last{};
    MouseGesture m_gesture;
    int m_unbalanced = 0;
    A_long m_lastTime = -1, m_lastTimeScale = 0;
    int m_compConversions = 0;
};

}  // namespace host
