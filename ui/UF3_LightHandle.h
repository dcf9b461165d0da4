// The point light's radius handle in the composition and layer windows: the
// light's box in layer space, the conversions between layer, composition and
// window (frame) space, the outline drawing, and the corner drag that sets
// the active renderer's Light Radius.
#pragma once

#include "AE_EffectUI.h"

// A click within this Manhattan distance (frame pixels) of a corner grabs it.
constexpr A_long UF3_HANDLE_REACH = 15;
constexpr int UF3_OUTLINE_SEGMENTS = 64;
constexpr float UF3_CORNER_SQUARE = 6.0f;
// The whole-pixel range that 16.16 fixed point can hold.
constexpr A_long UF3_FIXED_PIXEL_MIN = -32768;
constexpr A_long UF3_FIXED_PIXEL_MAX = 32767;

// Point conversions: fixed = in as 16.16, carried through the host's event
// callbacks; out = fixed's whole pixels (rounded down). `in` and `out` may be
// the same point. The first callback error is returned and stops the chain.
typedef PF_Err (*UF3_PointConverter)(PF_InData* in_data, PF_EventExtra* extra, PF_Point* in, PF_Point* out,
                                     PF_FixedPoint* fixed);

PF_Err CompFrame2Layer(PF_InData* in_data, PF_EventExtra* extra, PF_Point* in, PF_Point* out, PF_FixedPoint* fixed);
PF_Err Layer2CompFrame(PF_InData* in_data, PF_EventExtra* extra, PF_Point* in, PF_Point* out, PF_FixedPoint* fixed);
PF_Err LayerFrame2Layer(PF_InData* in_data, PF_EventExtra* extra, PF_Point* in, PF_Point* out, PF_FixedPoint* fixed);
PF_Err Layer2LayerFrame(PF_InData* in_data, PF_EventExtra* extra, PF_Point* in, PF_Point* out, PF_FixedPoint* fixed);

// Whole pixels to 16.16, saturating beyond the fixed range instead of wrapping.
PF_Fixed UF3_PixelsToFixed(A_long pixels);

void FixedFrameFromParams(PF_InData* in_data, PF_ParamDef** params, PF_FixedRect* out);
void FrameFromParams(PF_InData* in_data, PF_ParamDef** params, PF_LRect* out);

void DrawHandles(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef** params, PF_EventExtra* extra);
bool DoClickHandles(PF_InData* in_data, PF_LRect* box, PF_ParamDef** params, UF3_PointConverter converter,
                    PF_EventExtra* extra);
bool DoDragHandles(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef** params, UF3_PointConverter converter,
                   PF_EventExtra* extra);
