// The Color Gradient parameter's data: stops, the flat handle form, colour
// lookups along a gradient and the parameter's arbitrary-data callback.
#pragma once

#include <array>
#include <vector>

#include "AE_EffectSuites.h"

struct ArbGradientPt {
    double position;      // 0 at the start of the gradient, 1 at the end
    PF_PixelFloat color;  // straight colour, alpha first
};
static_assert(sizeof(ArbGradientPt) == 24, "stops are stored as 24 bytes");

constexpr unsigned UF3_MAX_GRADIENT_STOPS = 8;
constexpr A_long UF3_GRADIENT_REFCON = 0x55464772;  // 'UFGr'

extern const std::array<ArbGradientPt, 3> defaultGrad;

// Where a stop counts as lying wherever a position is read: a damaged project
// may hold NaN (taken as the start) or a position past either end, even past
// single precision (taken as that end). The stored stops keep what they hold.
double GradientStopPosition(double position);
// The one order of stops by position; a strict weak order whatever they hold.
bool GradientStopLess(const ArbGradientPt& a, const ArbGradientPt& b);

PF_Err Set_Arb_Gradient(const PF_HandleSuite1* handles, PF_Handle* out, unsigned n, const ArbGradientPt* stops);
// The stops in stored order into `*stops`; PF_Err_OUT_OF_MEMORY, with no stops, when the handle
// will not lock: an unreadable gradient, which each caller must not take for an empty one.
PF_Err CreateGradientStdVecFromArb(const PF_HandleSuite1* handles, PF_Handle h, std::vector<ArbGradientPt>* stops);
PF_PixelFloat Get_Gradient_Color_At_Position_Adv(unsigned n, const ArbGradientPt* stops, double position,
                                                 bool interpolate);
PF_PixelFloat Get_Gradient_Color_At_Position(unsigned n, const ArbGradientPt* stops, double position);
PF_Err Arb_Gradient_Interpolate(const PF_HandleSuite1* handles, double t, PF_Handle* left, PF_Handle* right,
                                PF_Handle* result);
PF_Err GradientArb_Handler(PF_InData* in_data, PF_ArbParamsExtra* extra);
PF_Err Arb_Handler(PF_InData* in_data, PF_ArbParamsExtra* extra);
