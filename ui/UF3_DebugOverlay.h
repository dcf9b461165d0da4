// The debug overlay of render rectangles: a block of text over the layer in
// the composition and layer windows, printing the debug record of the global
// data. It turns with the layer and keeps one size at every zoom level.
#pragma once

#include <string>
#include <vector>

#include "AE_EffectUI.h"
#include "DrawbotSuite.h"

struct GlobalData;

constexpr const char* UF3_DEBUG_HEADING = "DEBUG: ";
// Drawing units per window pixel along the layer's x axis.
constexpr double UF3_DEBUG_TEXT_SCALE = 0.75;

std::string to_string(const PF_LRect& r);
std::string to_string(const PF_LayerDef& w);

// The seven lines under the heading, label and value, in drawing order.
std::vector<std::string> DebugOverlayLines(const GlobalData& g);

// The drawing space: origin on the layer's top-left corner in the window,
// axes along the layer's, and the clip covering the layer, in drawing units.
// A layer shown with no extent (scaled to 0 %) has none: nothing is drawn.
struct UF3_DebugSpace {
    DRAWBOT_MatrixF32 matrix;
    DRAWBOT_Rect32 clip;
    bool empty;
};
PF_Err DebugOverlaySpace(PF_InData* in_data, PF_EventExtra* extra, A_FpLong (*hypot)(A_FpLong, A_FpLong),
                         UF3_DebugSpace* space);

PF_Err DrawDebugOverlay(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output,
                        PF_EventExtra* extra);
