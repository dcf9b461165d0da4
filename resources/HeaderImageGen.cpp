// Build-time generator of the Effect Controls header image: draws the product
// name on its background with cairo and writes one C++ source holding the
// pixels as straight-alpha BGRA bytes (see HeaderImage.h). An optional second
// argument also writes the image as a PNG, for looking at it.
#include <cairo.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "resources/HeaderImage.h"

namespace {

constexpr double kW = UF3_HEADER_IMAGE_WIDTH;
constexpr double kH = UF3_HEADER_IMAGE_HEIGHT;
constexpr double kCorner = 18;
// The light sits up and to the right; shadows fall down and to the left.
constexpr double kLightX = 338, kLightY = 34;
constexpr double kShadowDx = -0.55, kShadowDy = 1.0;
constexpr int kShadowSteps = 46;

void RoundedRect(cairo_t* cr, double x, double y, double w, double h, double r) {
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + w - r, y + r, r, -M_PI / 2, 0);
    cairo_arc(cr, x + w - r, y + h - r, r, 0, M_PI / 2);
    cairo_arc(cr, x + r, y + h - r, r, M_PI / 2, M_PI);
    cairo_arc(cr, x + r, y + r, r, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr);
}

void CentredText(cairo_t* cr, const char* text, double cx, double baseline, double* left = nullptr) {
    cairo_text_extents_t e;
    cairo_text_extents(cr, text, &e);
    const double x = cx - (e.x_advance / 2);
    if (left) *left = x;
    cairo_move_to(cr, x, baseline);
}

void Draw(cairo_t* cr) {
    RoundedRect(cr, 0.5, 0.5, kW - 1, kH - 1, kCorner);
    cairo_save(cr);
    cairo_clip_preserve(cr);

    cairo_pattern_t* ground = cairo_pattern_create_linear(0, 0, 0, kH);
    cairo_pattern_add_color_stop_rgb(ground, 0, 0.16, 0.18, 0.24);
    cairo_pattern_add_color_stop_rgb(ground, 1, 0.06, 0.07, 0.10);
    cairo_set_source(cr, ground);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(ground);

    cairo_pattern_t* glow = cairo_pattern_create_radial(kLightX, kLightY, 0, kLightX, kLightY, 230);
    cairo_pattern_add_color_stop_rgba(glow, 0, 1.0, 0.86, 0.58, 0.60);
    cairo_pattern_add_color_stop_rgba(glow, 0.35, 1.0, 0.74, 0.42, 0.18);
    cairo_pattern_add_color_stop_rgba(glow, 1, 1.0, 0.70, 0.40, 0.0);
    cairo_set_source(cr, glow);
    cairo_fill(cr);
    cairo_pattern_destroy(glow);

    // The light itself: a small bright disc.
    cairo_arc(cr, kLightX, kLightY, 7, 0, 2 * M_PI);
    cairo_set_source_rgba(cr, 1.0, 0.95, 0.82, 0.95);
    cairo_fill(cr);

    const char* name = "Umbrafex 3";
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr, 54);
    const double baseline = 122;

    // The long cast shadow: the name stamped along the light's direction,
    // fading with distance.
    for (int k = kShadowSteps; k >= 1; --k) {
        const double t = double(k) / kShadowSteps;
        CentredText(cr, name, kW / 2 + k * kShadowDx, baseline + k * kShadowDy);
        cairo_set_source_rgba(cr, 0.0, 0.0, 0.02, 0.10 * (1.0 - t) + 0.01);
        cairo_show_text(cr, name);
    }

    double left = 0;
    CentredText(cr, name, kW / 2, baseline, &left);
    cairo_text_path(cr, name);
    cairo_pattern_t* face = cairo_pattern_create_linear(0, baseline - 44, 0, baseline + 6);
    cairo_pattern_add_color_stop_rgb(face, 0, 1.0, 0.97, 0.90);
    cairo_pattern_add_color_stop_rgb(face, 1, 0.93, 0.80, 0.58);
    cairo_set_source(cr, face);
    cairo_fill(cr);
    cairo_pattern_destroy(face);

    cairo_pattern_t* rule = cairo_pattern_create_linear(110, 0, 290, 0);
    cairo_pattern_add_color_stop_rgba(rule, 0, 1.0, 0.85, 0.6, 0.0);
    cairo_pattern_add_color_stop_rgba(rule, 0.5, 1.0, 0.85, 0.6, 0.8);
    cairo_pattern_add_color_stop_rgba(rule, 1, 1.0, 0.85, 0.6, 0.0);
    cairo_rectangle(cr, 110, 144, 180, 1.5);
    cairo_set_source(cr, rule);
    cairo_fill(cr);
    cairo_pattern_destroy(rule);

    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 14);
    const char* tagline = "S H A D O W   &   L I G H T";
    CentredText(cr, tagline, kW / 2, 174);
    cairo_set_source_rgba(cr, 0.78, 0.81, 0.88, 0.9);
    cairo_show_text(cr, tagline);

    cairo_restore(cr);
    RoundedRect(cr, 0.5, 0.5, kW - 1, kH - 1, kCorner);
    cairo_set_line_width(cr, 1);
    cairo_set_source_rgba(cr, 1, 1, 1, 0.12);
    cairo_stroke(cr);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.cpp [IMAGE.png]\n", argv[0]);
        return 2;
    }
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, UF3_HEADER_IMAGE_WIDTH,
                                                          UF3_HEADER_IMAGE_HEIGHT);
    cairo_t* cr = cairo_create(surface);
    Draw(cr);
    const bool drawn = cairo_status(cr) == CAIRO_STATUS_SUCCESS;
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    if (!drawn) {
        std::fprintf(stderr, "%s: cairo could not draw the header image\n", argv[0]);
        cairo_surface_destroy(surface);
        return 1;
    }
    if (argc > 2) cairo_surface_write_to_png(surface, argv[2]);

    FILE* out = std::fopen(argv[1], "w");
    if (!out) {
        std::perror(argv[1]);
        cairo_surface_destroy(surface);
        return 1;
    }
    std::fprintf(out,
                 "// Generated by resources/HeaderImageGen.cpp at build time.\n"
                 "#include \"resources/HeaderImage.h\"\n\n"
                 "const unsigned char banner5_map[UF3_HEADER_IMAGE_BYTES] = {\n");
    const unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < UF3_HEADER_IMAGE_HEIGHT; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(data + size_t(y) * size_t(stride));
        for (int x = 0; x < UF3_HEADER_IMAGE_WIDTH; ++x) {
            // cairo keeps premultiplied native words; the image is straight BGRA bytes.
            const uint32_t v = row[x], a = v >> 24;
            auto straight = [a](uint32_t c) { return a ? (c * 255 + a / 2) / a : 0u; };
            std::fprintf(out, "%u,%u,%u,%u,", straight(v & 0xFF), straight((v >> 8) & 0xFF),
                         straight((v >> 16) & 0xFF), a);
            if (x % 16 == 15) std::fputc('\n', out);
        }
    }
    std::fprintf(out, "};\n");
    const bool written = std::fclose(out) == 0;
    cairo_surface_destroy(surface);
    return written ? 0 : 1;
}
