#include "host/CompWindow.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "host/EffectControls.h"
#include "host/Host.h"
#include "host/WorldSuite.h"

namespace host {

namespace {

constexpr double kFixedOne = 65536.0;
constexpr DRAWBOT_ColorRGBA kBackdrop = {0.16f, 0.16f, 0.16f, 1.0f};

// 16.16 of a position, to the nearest 1/65536; beyond the 32-bit range it
// saturates, as a far zoomed-in point must not wrap to the other side.
PF_Fixed ToFixed(double v) {
    if (std::isnan(v)) return 0;
    const double f = std::round(v * kFixedOne);
    return PF_Fixed(std::clamp(f, double(std::numeric_limits<PF_Fixed>::min()),
                               double(std::numeric_limits<PF_Fixed>::max())));
}

template <typename Map>
PF_Err MapFixed(PF_FixedPoint* pt, Map&& map) {
    if (!pt) return PF_Err_BAD_CALLBACK_PARAM;
    double x = pt->x / kFixedOne, y = pt->y / kFixedOne;
    if (!map(&x, &y)) return PF_Err_BAD_CALLBACK_PARAM;
    pt->x = ToFixed(x);
    pt->y = ToFixed(y);
    return PF_Err_NONE;
}

PF_Err GetPreferredForegroundColor(DRAWBOT_ColorRGBA* out) {
    if (!out) return PF_Err_BAD_CALLBACK_PARAM;
    *out = TheOverlayTheme().foreground;
    return PF_Err_NONE;
}
PF_Err GetPreferredShadowColor(DRAWBOT_ColorRGBA* out) {
    if (!out) return PF_Err_BAD_CALLBACK_PARAM;
    *out = TheOverlayTheme().shadow;
    return PF_Err_NONE;
}
PF_Err GetPreferredStrokeWidth(float* out) {
    if (!out) return PF_Err_BAD_CALLBACK_PARAM;
    *out = TheOverlayTheme().strokeWidth;
    return PF_Err_NONE;
}
PF_Err GetPreferredVertexSize(float* out) {
    if (!out) return PF_Err_BAD_CALLBACK_PARAM;
    *out = TheOverlayTheme().vertexSize;
    return PF_Err_NONE;
}
PF_Err GetPreferredShadowOffset(A_LPoint* out) {
    if (!out) return PF_Err_BAD_CALLBACK_PARAM;
    *out = TheOverlayTheme().shadowOffset;
    return PF_Err_NONE;
}

PF_Err StrokeThemed(const DRAWBOT_DrawRef ref, const DRAWBOT_PathRef path, PF_Boolean shadow) {
    const OverlayTheme& t = TheOverlayTheme();
    if (shadow) {
        if (A_Err err = DrawbotStrokeOnDrawRef(ref, path, t.shadow, t.strokeWidth, t.shadowOffset.x, t.shadowOffset.y))
            return err;
    }
    return DrawbotStrokeOnDrawRef(ref, path, t.foreground, t.strokeWidth);
}

// The effect fills nothing through the theme; this host does not offer it.
PF_Err FillThemed(const DRAWBOT_DrawRef, const DRAWBOT_PathRef, PF_Boolean) { return PF_Err_UNRECOGNIZED_PARAM_TYPE; }
PF_Err FillVertex(const DRAWBOT_DrawRef, const A_FloatPoint*, PF_Boolean) { return PF_Err_UNRECOGNIZED_PARAM_TYPE; }

const PF_EffectCustomUIOverlayThemeSuite1 kOverlayTheme = {
    GetPreferredForegroundColor, GetPreferredShadowColor, GetPreferredStrokeWidth, GetPreferredVertexSize,
    GetPreferredShadowOffset,    StrokeThemed,            FillThemed,              FillVertex};

}  // namespace

OverlayTheme& TheOverlayTheme() {
    static OverlayTheme theme;
    return theme;
}

const PF_EffectCustomUIOverlayThemeSuite1* OverlayThemeSuite() { return &kOverlayTheme; }

// ---- The window ----

CompWindow::CompWindow(Host& host, WindowView view) : m_host(host), m_view(view) {
    m_context.magic = kHostContextMagic;
    m_context.w_type = view.type;
    m_canvas = std::make_unique<DrawbotCanvas>(view.width, view.height);
    RegisterDrawingContext(&m_context, m_canvas.get());
}

CompWindow::~CompWindow() { RegisterDrawingContext(&m_context, nullptr); }

double CompWindow::PixelAspect() const {
    const PF_RationalScale& par = m_host.In().pixel_aspect_ratio;
    return par.num > 0 && par.den > 0 ? double(par.num) / double(par.den) : 1.0;
}

void CompWindow::LayerToComp(double* x, double* y) const {
    const LayerPlacement& p = m_placement;
    const double lx = (*x - p.anchorX) * PixelAspect() * p.scaleX, ly = (*y - p.anchorY) * p.scaleY;
    const double a = p.rotation * M_PI / 180.0, c = std::cos(a), s = std::sin(a);
    *x = p.positionX + lx * c - ly * s;
    *y = p.positionY + lx * s + ly * c;
}

bool CompWindow::CompToLayer(double* x, double* y) const {
    const LayerPlacement& p = m_placement;
    const double sx = PixelAspect() * p.scaleX, sy = p.scaleY;
    if (sx == 0 || sy == 0) return false;
    const double a = p.rotation * M_PI / 180.0, c = std::cos(a), s = std::sin(a);
    const double dx = *x - p.positionX, dy = *y - p.positionY;
    *x = (dx * c + dy * s) / sx + p.anchorX;
    *y = (-dx * s + dy * c) / sy + p.anchorY;
    return true;
}

void CompWindow::SourceToFrame(double* x, double* y) const {
    // The layer window shows layer pixels at their aspect ratio on square window pixels.
    const double sx = m_view.type == PF_Window_LAYER ? m_view.zoom * PixelAspect() : m_view.zoom;
    *x = *x * sx + m_view.panX;
    *y = *y * m_view.zoom + m_view.panY;
}

bool CompWindow::FrameToSource(double* x, double* y) const {
    const double sx = m_view.type == PF_Window_LAYER ? m_view.zoom * PixelAspect() : m_view.zoom;
    if (sx == 0 || m_view.zoom == 0) return false;
    *x = (*x - m_view.panX) / sx;
    *y = (*y - m_view.panY) / m_view.zoom;
    return true;
}

void CompWindow::LayerToFrame(double* x, double* y) const {
    if (m_view.type == PF_Window_COMP) LayerToComp(x, y);
    SourceToFrame(x, y);
}

CompWindow* CompWindow::Of(void* refcon, PF_ContextH context) {
    auto* w = static_cast<CompWindow*>(refcon);
    return w && context == &w->m_context ? w : nullptr;
}

PF_Err CompWindow::LayerToCompCB(void* refcon, PF_ContextH context, A_long t, A_long scale, PF_FixedPoint* pt) {
    CompWindow* w = Of(refcon, context);
    if (!w) return PF_Err_BAD_CALLBACK_PARAM;
    w->m_lastTime = t, w->m_lastTimeScale = scale, w->m_compConversions++;
    return MapFixed(pt, [w](double* x, double* y) { return w->LayerToComp(x, y), true; });
}

PF_Err CompWindow::CompToLayerCB(void* refcon, PF_ContextH context, A_long t, A_long scale, PF_FixedPoint* pt) {
    CompWindow* w = Of(refcon, context);
    if (!w) return PF_Err_BAD_CALLBACK_PARAM;
    w->m_lastTime = t, w->m_lastTimeScale = scale, w->m_compConversions++;
    return MapFixed(pt, [w](double* x, double* y) { return w->CompToLayer(x, y); });
}

PF_Err CompWindow::SourceToFrameCB(void* refcon, PF_ContextH context, PF_FixedPoint* pt) {
    CompWindow* w = Of(refcon, context);
    if (!w) return PF_Err_BAD_CALLBACK_PARAM;
    return MapFixed(pt, [w](double* x, double* y) { return w->SourceToFrame(x, y), true; });
}

PF_Err CompWindow::FrameToSourceCB(void* refcon, PF_ContextH context, PF_FixedPoint* pt) {
    CompWindow* w = Of(refcon, context);
    if (!w) return PF_Err_BAD_CALLBACK_PARAM;
    return MapFixed(pt, [w](double* x, double* y) { return w->FrameToSource(x, y); });
}

PF_EventCallbacks CompWindow::Callbacks() {
    PF_EventCallbacks cbs{};
    cbs.refcon = this;
    cbs.layer_to_comp = &LayerToCompCB;
    cbs.comp_to_layer = &CompToLayerCB;
    cbs.source_to_frame = &SourceToFrameCB;
    cbs.frame_to_source = &FrameToSourceCB;
    return cbs;
}

PF_EventExtra CompWindow::EventFor(PF_EventType type) const {
    PF_EventExtra extra{};
    extra.contextH = const_cast<PF_Context*>(&m_context);
    extra.e_type = type;
    extra.cbs = const_cast<CompWindow*>(this)->Callbacks();
    if (type == PF_Event_DRAW) {
        extra.u.draw.update_rect = {0, 0, m_canvas->Width(), m_canvas->Height()};
        extra.u.draw.depth = 32;
    }
    return extra;
}

PF_Err CompWindow::Send(PF_EventExtra& extra) {
    m_context.w_type = m_view.type;
    const PF_EffectWorld& layer = m_host.EffectLayer().pixels;
    if (layer.data) {
        m_host.In().width = layer.width;
        m_host.In().height = layer.height;
    }
    PF_Err err = m_host.Event(extra);
    m_last = extra;
    if (m_canvas->EndDrawing()) m_unbalanced++;
    return err;
}

void CompWindow::PaintBackground() {
    m_canvas->Fill(kBackdrop);
    if (m_view.type == PF_Window_COMP && compWidth > 0 && compHeight > 0) {
        cairo_t* cr = cairo_create(m_canvas->Surface());
        cairo_rectangle(cr, m_view.panX, m_view.panY, compWidth * m_view.zoom, compHeight * m_view.zoom);
        // A light grey composition, so dark shadows stay visible in pictures.
        cairo_set_source_rgb(cr, 0.62, 0.62, 0.62);
        cairo_fill(cr);
        cairo_destroy(cr);
    }
    const PF_EffectWorld& layer = m_host.EffectLayer().pixels;
    if (layer.data) PaintWorld(layer);
}

void CompWindow::PaintWorld(const PF_EffectWorld& world, double originX, double originY, double scale) {
    PF_PixelFormat format = PF_PixelFormat_INVALID;
    if (!world.data || world.width <= 0 || world.height <= 0 || WorldTable::Instance().Format(&world, &format))
        return;
    cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, world.width, world.height);
    if (cairo_surface_status(image) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(image);
        return;
    }
    unsigned char* dst = cairo_image_surface_get_data(image);
    const int stride = cairo_image_surface_get_stride(image);
    auto byte = [](double v) { return uint32_t(std::lround(std::clamp(v, 0.0, 1.0) * 255.0)); };
    for (A_long y = 0; y < world.height; ++y) {
        const char* row = static_cast<const char*>(static_cast<const void*>(world.data)) + size_t(y) * world.rowbytes;
        auto* d = reinterpret_cast<uint32_t*>(dst + size_t(y) * size_t(stride));
        for (A_long x = 0; x < world.width; ++x) {
            double a, r, g, b;
            if (format == PF_PixelFormat_ARGB128) {
                const auto& p = reinterpret_cast<const PF_PixelFloat*>(row)[x];
                a = p.alpha, r = p.red, g = p.green, b = p.blue;
            } else if (format == PF_PixelFormat_ARGB64) {
                const auto& p = reinterpret_cast<const PF_Pixel16*>(row)[x];
                a = p.alpha / 32768.0, r = p.red / 32768.0, g = p.green / 32768.0, b = p.blue / 32768.0;
            } else {
                const auto& p = reinterpret_cast<const PF_Pixel*>(row)[x];
                a = p.alpha / 255.0, r = p.red / 255.0, g = p.green / 255.0, b = p.blue / 255.0;
            }
            a = std::clamp(a, 0.0, 1.0);
            d[x] = (byte(a) << 24) | (byte(r * a) << 16) | (byte(g * a) << 8) | byte(b * a);
        }
    }
    cairo_surface_mark_dirty(image);

    // Layer to window as an affine map, from the images of three layer points.
    double x0 = originX, y0 = originY, x1 = originX + scale, y1 = originY, x2 = originX, y2 = originY + scale;
    LayerToFrame(&x0, &y0);
    LayerToFrame(&x1, &y1);
    LayerToFrame(&x2, &y2);
    cairo_matrix_t m;
    cairo_matrix_init(&m, x1 - x0, y1 - y0, x2 - x0, y2 - y0, x0, y0);
    cairo_t* cr = cairo_create(m_canvas->Surface());
    cairo_matrix_t inverse = m;
    if (cairo_matrix_invert(&inverse) == CAIRO_STATUS_SUCCESS) {
        cairo_transform(cr, &m);
        cairo_set_source_surface(cr, image, 0, 0);
        cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
        cairo_rectangle(cr, 0, 0, world.width, world.height);
        cairo_fill(cr);
    }
    cairo_destroy(cr);
    cairo_surface_destroy(image);
}

PF_Err CompWindow::Draw() {
    PF_EventExtra extra = EventFor(PF_Event_DRAW);
    return Send(extra);
}

PF_Err CompWindow::Click(PF_Point at) {
    return m_gesture.Click(EventFor(PF_Event_DO_CLICK), at, 1, [this](PF_EventExtra& e) { return Send(e); });
}

PF_Err CompWindow::Drag(PF_Point at, bool last) {
    return m_gesture.Drag(at, last, [this](PF_EventExtra& e) { return Send(e); });
}

PF_Err CompWindow::DragTo(PF_Point at) { return Drag(at, false); }
PF_Err CompWindow::Release(PF_Point at) { return Drag(at, true); }

}  // namespace host
