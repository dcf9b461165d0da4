// CPU side of the render: colouring, gamma, laying the texture and the
// source over the shadow, and the debug views, all through the host's pixel
// services; plus the matrix, easing and rectangle helpers they need.
#pragma once

#include "AE_EffectSuites.h"
#include "params/UF3_Params.h"

class AEGP_SuiteHandler;

// Host entries a host does not serve are null: a missing one is an error, not a crash.
template <typename Fn, typename... Args>
PF_Err CallHost(Fn fn, Args... args) {
    return fn ? static_cast<PF_Err>(fn(args...)) : PF_Err_BAD_CALLBACK_PARAM;
}

// Refcon of the shadow-colour callbacks.
struct ShadowColorRefcon {
    PF_PixelFloat* colorF;  // alpha holds the shadow opacity
    PF_Pixel* color8;
    float gamma;            // applied to the incoming alpha
};

// Lays src's extent over dst with its top-left at (x, y). Null worlds: nothing, 0.
PF_Err XferRectOffset(PF_InData* in_data, PF_LayerDef* src, PF_LayerDef* dst, int x, int y);

// "View Texture": the output shows the texture layer alone.
PF_Err ViewNoiseSolo(PF_InData* in_data, myParams& p, AEGP_SuiteHandler& suites);

// Extent hint shifted by the world's origin.
PF_LRect GetExtentHintInWorldCoords(PF_LayerDef* world);
PF_LRect ConvertWorldRectToLocal(const PF_LRect& rect, int x, int y);
// Max of lefts and tops, min of rights and bottoms; may be empty (inverted).
PF_LRect GetOverlappingRect(const PF_LRect& a, const PF_LRect& b);

// Texture and source layers over the coloured shadow in p.output_worldP.
PF_Err CompTextureAndInput(PF_InData* in_data, myParams& p, AEGP_SuiteHandler& suites);

bool IsEffectWorldPtrValid(PF_LayerDef* world);

// Replaces the output with the buffers' areas: output red, texture blue, input green.
PF_Err VisualiseBufferData(PF_InData* in_data, PF_OutData* out_data, myParams& p);

void CCUDebugBufferData(PF_InData* in_data, PF_OutData* out_data, myParams& p, preRenderData* pre,
                        PF_SmartRenderExtra* extra);

// Resamples src onto dst, scaled to dst's size.
PF_Err XformLargerBufferIntoSmallerBuffer(PF_InData* in_data, PF_LayerDef* src, PF_LayerDef* dst);

// Row-vector matrices: [x y 1]·M. Appended transforms apply after those
// already in the matrix.
void CCU_ConcatMatrix(const PF_FloatMatrix* a, PF_FloatMatrix* b);  // b := b·a
PF_Err SetIdentityMatrix(PF_FloatMatrix* m);
PF_Err TranslateMatrix(PF_FloatMatrix* m, double tx, double ty);
PF_Err SkewMatrix(PF_FloatMatrix* m, double sx, double sy);
PF_Err ScaleMatrix(PF_FloatMatrix* m, double sx, double sy);
PF_Err RotateMatrix(PF_FloatMatrix* m, PF_InData* in_data, double degrees, double cx, double cy);

// Iterate callbacks.
PF_Err Gamma32(void* refcon, A_long x, A_long y, PF_PixelFloat* in, PF_PixelFloat* out);
PF_Err Gamma8(void* refcon, A_long x, A_long y, PF_Pixel* in, PF_Pixel* out);
PF_Err ShadowColor32(void* refcon, A_long x, A_long y, PF_PixelFloat* in, PF_PixelFloat* out);
PF_Err ShadowColor8(void* refcon, A_long x, A_long y, PF_Pixel* in, PF_Pixel* out);
PF_Err maxAlpha32(void* refcon, A_long x, A_long y, PF_PixelFloat* in, PF_PixelFloat* out);
PF_Err maxAlpha8(void* refcon, A_long x, A_long y, PF_Pixel* in, PF_Pixel* out);
PF_Err graftAlpha32(void* refcon, A_long x, A_long y, PF_PixelFloat* in, PF_PixelFloat* out);
PF_Err graftAlpha8(void* refcon, A_long x, A_long y, PF_Pixel* in, PF_Pixel* out);
PF_Err Clamp32(void* refcon, A_long x, A_long y, PF_PixelFloat* in, PF_PixelFloat* out);
PF_Err Swizzle32(void* refcon, A_long x, A_long y, PF_PixelFloat* in, PF_PixelFloat* out);

// Colour channels between 8 bits and float; alpha is left alone.
void FloatConversion(PF_Pixel& p8, PF_PixelFloat& pf, unsigned char toFloat);

// Exponential easing: t time, b start, c change, d duration.
double easeIn(double t, double b, double c, double d);
double easeOut(double t, double b, double c, double d);
double easeInOut(double t, double b, double c, double d);
double lerp(double a, double b, double t);
