#include "SampleScene.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {
PF_PixelFloat* FloatRow(PF_EffectWorld& w, A_long y) {
    return reinterpret_cast<PF_PixelFloat*>(reinterpret_cast<char*>(w.data) + size_t(y) * size_t(w.rowbytes));
}
}  // namespace

bool PaintSampleScene(PF_EffectWorld& layer) {
    int w = layer.width, h = layer.height;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    // Without memory cairo hands back an error surface with no pixels.
    if (!layer.data || cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return false;
    }
    cairo_t* cr = cairo_create(surface);
    double u = std::min(w, h) / 540.0;
    cairo_set_source_rgba(cr, 0.95, 0.55, 0.15, 1.0);
    cairo_rectangle(cr, 140 * u, 150 * u, 150 * u, 150 * u);
    cairo_fill(cr);
    cairo_set_source_rgba(cr, 0.2, 0.6, 0.9, 1.0);
    cairo_arc(cr, 470 * u, 225 * u, 80 * u, 0, 2 * M_PI);
    cairo_fill(cr);
    cairo_set_source_rgba(cr, 0.4, 0.8, 0.3, 0.8);
    cairo_move_to(cr, 640 * u, 310 * u);
    cairo_line_to(cr, 720 * u, 150 * u);
    cairo_line_to(cr, 800 * u, 310 * u);
    cairo_close_path(cr);
    cairo_fill(cr);
    cairo_select_font_face(cr, "Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr, 90 * u);
    cairo_set_source_rgba(cr, 0.92, 0.92, 0.95, 1.0);
    cairo_move_to(cr, 150 * u, 440 * u);
    cairo_show_text(cr, "UMBRAFEX");
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < h; ++y) {
        auto* src = reinterpret_cast<const uint32_t*>(data + size_t(y) * stride);
        PF_PixelFloat* dst = FloatRow(layer, y);
        for (int x = 0; x < w; ++x) {
            // cairo stores premultiplied colour; layers hold straight alpha.
            float a = float((src[x] >> 24) & 0xff) / 255.0f;
            auto channel = [&](int shift) {
                float c = float((src[x] >> shift) & 0xff) / 255.0f;
                return a > 0 ? std::min(1.0f, c / a) : 0.0f;
            };
            dst[x] = {a, channel(16), channel(8), channel(0)};
        }
    }
    cairo_surface_destroy(surface);
    return true;
}

