// Error text drawn over a frame: a dark translucent veil with the message in
// yellow, rendered by cairo into a temporary host world and laid over the
// output through the host's transfer_rect.
#pragma once

#include <cairo.h>

#include <string>

#include "AE_EffectSuites.h"
#include "params/UF3_Params.h"
#include "shell/UF_Handle.h"

// The cairo objects of one drawing, plus a 4-byte host handle taken only to
// prove the host can still allocate. The destructor releases whatever is
// held, so every way out of a drawing (exceptions included) cleans up.
struct cairoContext {
    cairoContext(PF_InData* in_data, const PF_HandleSuite1* handleSuite, PF_PixelFormat format, int width,
                 int height);
    ~cairoContext();
    cairoContext(const cairoContext&) = delete;
    cairoContext& operator=(const cairoContext&) = delete;

    PF_InData* m_in_data = nullptr;
    PF_PixelFormat m_format = 0;
    cairo_surface_t* m_surface = nullptr;
    cairo_t* m_cr = nullptr;
    UF_Handle m_handle;
    UF_HandleLock m_lock;  // held when the host could still allocate
};

// What the row callbacks read and write: the temporary world and cairo's
// ARGB32 pixels (native 32-bit words, premultiplied).
struct CairoCopyRefcon {
    PF_EffectWorld* world = nullptr;
    const unsigned char* data = nullptr;
    int stride = 0;  // bytes per surface row
};

// Draws message over world (the output) and returns the first host error.
// Holds global_mutex for the whole drawing. A missing host suite throws, with
// everything already made released.
PF_Err DrawErrorString(myParams& params, const std::string& message, PF_LayerDef* world, double textScale);

// Greedy word wrap: draws the words of text in lines no wider than maxWidth
// (a single wider word stands alone, unbroken) from baseline y down, and
// returns the baseline below the last line (y when there is no word).
double draw_wrapped_text(cairo_t* cr, const std::string& text, double x, double y, double maxWidth,
                         double lineHeight);

// Row callbacks of AEGP_IterateGeneric: un-premultiply one surface row into
// the temporary world (8-bit or 32-bit float). Pixels with zero alpha are
// left alone.
A_Err cairoCopy8(void* refcon, A_long thread_index, A_long row, A_long iterations);
A_Err cairoCopy32(void* refcon, A_long thread_index, A_long row, A_long iterations);

// Address of pixel (x, y) of an 8-bit or float world.
PF_Pixel8* sampleIntegralCairo8(PF_EffectWorld& world, int x, int y);
PF_PixelFloat* sampleIntegralCairo32(PF_EffectWorld& world, int x, int y);

// Kept for debugging sessions; does nothing.
void PrintWorldBufferData(PF_EffectWorld* world, const std::string& label);
