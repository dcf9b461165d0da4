#include "shell/UF3_Overlay.h"

#include <algorithm>
#include <cstdint>
#include <cmath>
#include <mutex>

#include "shell/AEFX_SuiteHelper.h"
#include "shell/AEGP_SuiteHandler.h"
#include "shell/UF3.h"
#include "shell/UF3_Err.h"

namespace {

constexpr double kVeilAlpha = 0.75;
constexpr double kTextAlpha = 0.75;
constexpr double kFontSize = 35.0;
constexpr double kFirstLineLift = 30.0;  // the first baseline sits half of this above the middle

// The temporary world. The normal path disposes it itself to see the error;
// the destructor covers every other way out.
struct TempWorld {
    const PF_WorldSuite2* suite;
    PF_ProgPtr effect_ref;
    PF_EffectWorld world{};
    bool made = false;

    PF_Err Dispose() {
        if (!made) return PF_Err_NONE;
        made = false;
        return suite->PF_DisposeWorld(effect_ref, &world);
    }
    ~TempWorld() { Dispose(); }
};

const uint32_t* SurfaceRow(const CairoCopyRefcon& rc, A_long row) {
    return reinterpret_cast<const uint32_t*>(rc.data + std::ptrdiff_t(row) * rc.stride);
}

template <typename Pixel>
Pixel* PixelAt(PF_EffectWorld& world, int x, int y) {
    return reinterpret_cast<Pixel*>(reinterpret_cast<char*>(world.data) + std::ptrdiff_t(y) * world.rowbytes +
                                    std::ptrdiff_t(x) * std::ptrdiff_t(sizeof(Pixel)));
}

}  // namespace

cairoContext::cairoContext(PF_InData* in_data, const PF_HandleSuite1* handleSuite, PF_PixelFormat format,
                           int width, int height)
    : m_in_data(in_data),
      m_format(format),
      m_surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height)),
      m_cr(cairo_create(m_surface)),
      m_handle(UF_Handle::New(handleSuite, 4)),
      m_lock(handleSuite, m_handle.get()) {}

// The handle is unlocked and disposed after this, as the members go.
cairoContext::~cairoContext() {
    cairo_destroy(m_cr);
    cairo_surface_destroy(m_surface);
}

double draw_wrapped_text(cairo_t* cr, const std::string& text, double x, double y, double maxWidth,
                         double lineHeight) {
    std::string line;
    auto drawLine = [&] {
        cairo_move_to(cr, x, y);
        cairo_show_text(cr, line.c_str());
        y += lineHeight;
    };
    for (const std::string& word : split_string(text)) {
        std::string candidate = line.empty() ? word : line + " " + word;
        cairo_text_extents_t extents;
        cairo_text_extents(cr, candidate.c_str(), &extents);
        if (extents.width > maxWidth && !line.empty()) {
            drawLine();
            line = word;
        } else {
            line = std::move(candidate);
        }
    }
    if (!line.empty()) drawLine();
    return y;
}

A_Err cairoCopy8(void* refcon, A_long, A_long row, A_long) {
    const auto& rc = *static_cast<const CairoCopyRefcon*>(refcon);
    const uint32_t* src = SurfaceRow(rc, row);
    for (A_long x = 0; x < rc.world->width; ++x) {
        PF_Pixel8* dst = sampleIntegralCairo8(*rc.world, x, row);
        const uint32_t p = src[x];
        const uint32_t a = p >> 24;
        dst->alpha = A_u_char(a);
        if (a == 0) continue;
        dst->red = A_u_char(std::min<uint32_t>(255, ((p >> 16) & 0xFF) * 255 / a));
        dst->green = A_u_char(std::min<uint32_t>(255, ((p >> 8) & 0xFF) * 255 / a));
        dst->blue = A_u_char(std::min<uint32_t>(255, (p & 0xFF) * 255 / a));
    }
    return A_Err(0);
}

A_Err cairoCopy32(void* refcon, A_long, A_long row, A_long) {
    const auto& rc = *static_cast<const CairoCopyRefcon*>(refcon);
    const uint32_t* src = SurfaceRow(rc, row);
    for (A_long x = 0; x < rc.world->width; ++x) {
        const uint32_t p = src[x];
        if ((p >> 24) == 0) continue;
        PF_PixelFloat* dst = sampleIntegralCairo32(*rc.world, x, row);
        dst->alpha = float(p >> 24) / 255.0f;
        dst->red = (float((p >> 16) & 0xFF) / 255.0f) / dst->alpha;
        dst->green = (float((p >> 8) & 0xFF) / 255.0f) / dst->alpha;
        dst->blue = (float(p & 0xFF) / 255.0f) / dst->alpha;
    }
    return A_Err(0);
}

PF_Pixel8* sampleIntegralCairo8(PF_EffectWorld& world, int x, int y) { return PixelAt<PF_Pixel8>(world, x, y); }

PF_PixelFloat* sampleIntegralCairo32(PF_EffectWorld& world, int x, int y) {
    return PixelAt<PF_PixelFloat>(world, x, y);
}

void PrintWorldBufferData(PF_EffectWorld*, const std::string&) {}

PF_Err DrawErrorString(myParams& params, const std::string& message, PF_LayerDef* world, double textScale) {
    std::lock_guard<std::recursive_mutex> lock(global_mutex);
    PF_InData* in_data = params.in_data;
    // Callers reach here after a failure; a missing output must not become a crash.
    if (!in_data || !world) return PF_Err_BAD_CALLBACK_PARAM;

    AEGP_SuiteHandler suites(in_data->pica_basicP);
    AEFX_SuiteScoper<PF_WorldSuite2> worldSuite(in_data, kPFWorldSuite, kPFWorldSuiteVersion2, params.out_data);

    TempWorld temp{worldSuite.get(), in_data->effect_ref};
    PF_Err err = worldSuite->PF_NewWorld(in_data->effect_ref, world->width, world->height, true,
                                         params.pixelFormat, &temp.world);
    LogIfError(err, "DrawErrorString()", &params);
    // Pixels handed out alongside an error are still the host's to take back.
    temp.made = temp.world.data != nullptr;
    if (err || !temp.made) return err;

    {
        cairoContext myCairo(in_data, suites.HandleSuite1(), params.pixelFormat, int(temp.world.width),
                             int(temp.world.height));
        unsigned char* pixels = cairo_image_surface_get_data(myCairo.m_surface);
        if (!myCairo.m_lock) {
            LogError("err DrawString() !myCairo.m_success", &params);
            err = PF_Err_OUT_OF_MEMORY;
        } else if (cairo_surface_status(myCairo.m_surface) != CAIRO_STATUS_SUCCESS) {
            // cairo refused the surface (too large, out of memory): there is nothing to read.
            err = PF_Err_OUT_OF_MEMORY;
            LogIfError(err, "DrawString() cairo_image_surface_create()", &params);
        } else {
            cairo_t* cr = myCairo.m_cr;
            const double fontSize = kFontSize * textScale * params.downsampleScale;
            cairo_select_font_face(cr, "Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
            cairo_set_font_size(cr, fontSize);

            cairo_set_source_rgba(cr, 0, 0, 0, kVeilAlpha);
            cairo_rectangle(cr, 0, 0, temp.world.width, temp.world.height);
            cairo_fill(cr);

            cairo_set_source_rgba(cr, 1, 1, 0, kTextAlpha);
            const double firstBaseline = (temp.world.height - kFirstLineLift * params.downsampleScale) / 2.0;
            const double wrapWidth =
                std::min<double>(double(in_data->width) + std::abs(double(world->origin_x)), temp.world.width);
            draw_wrapped_text(cr, message, 0, firstBaseline, wrapWidth, fontSize);
            cairo_surface_flush(myCairo.m_surface);

            CairoCopyRefcon copy{&temp.world, pixels, cairo_image_surface_get_stride(myCairo.m_surface)};
            if (params.pixelFormat == PF_PixelFormat_ARGB32) {
                err = suites.IterateSuite1()->AEGP_IterateGeneric(temp.world.height, &copy, &cairoCopy8);
            } else if (params.pixelFormat == PF_PixelFormat_ARGB128) {
                err = suites.IterateSuite1()->AEGP_IterateGeneric(temp.world.height, &copy, &cairoCopy32);
            }
            LogIfError(err, "DrawString() cairoCopy()", &params);

            if (!err) {
                PF_CompositeMode mode{};
                mode.xfer = PF_Xfer_IN_FRONT;
                mode.opacity = 255;
                mode.opacitySu = PF_MAX_CHAN16;  // deep worlds read the 16-bit opacity
                err = suites.WorldTransformSuite1()->transfer_rect(
                    in_data->effect_ref, in_data->quality, PF_ModeFlags(0), in_data->field, &world->extent_hint,
                    &temp.world, &mode, nullptr, 0, 0, world);
                LogIfError(err, "DrawString() transfer_rect()", &params);
            }
        }
    }

    const PF_Err disposeErr = temp.Dispose();
    return err ? err : disposeErr;
}
