// Smart pre-render: what the frame's cache identity depends on, which input
// area the shadow needs, and how far the shadow reaches beyond the layer.
#pragma once

#include <cstddef>

#include "AE_Effect.h"
#include "AE_GeneralPlug.h"
#include "params/UF3_Params.h"

// Checkout identifiers. Smart render checks the pixels out by these.
constexpr A_long UF3_INPUT_CHECKOUT_ID = 555;
constexpr A_long UF3_INPUT_RECHECKOUT_ID = 0;
constexpr A_long UF3_TEXTURE_CHECKOUT_ID = 67;

// What the host mixes into the frame's cache identity beyond the parameters:
// the layer's placement, the downsampling and the requested area.
struct CacheIdentityBlock {
    A_Matrix4 layerToWorld;          // at the comp time of the current frame
    PF_RationalScale downsample_x;
    PF_RationalScale downsample_y;
    unsigned char zero[72];
    PF_LRect outputRequest;
};
static_assert(sizeof(CacheIdentityBlock) == 232);
static_assert(offsetof(CacheIdentityBlock, downsample_x) == 128);
static_assert(offsetof(CacheIdentityBlock, downsample_y) == 136);
static_assert(offsetof(CacheIdentityBlock, zero) == 144);
static_assert(offsetof(CacheIdentityBlock, outputRequest) == 216);

// The body of PF_Cmd_SMART_PRE_RENDER. Leaves a preRenderData block in
// extra->output that the host frees through DisposePreRenderData.
PF_Err SmartPreRender(PF_InData* in_data, PF_OutData* out_data, PF_PreRenderExtra* extra);

// Raytraced road: input checkouts and the output rectangles. Leaves the
// point-light pad in p.jfaPadding.
PF_Err PreRenderSD(PF_InData* in_data, PF_OutData* out_data, PF_PreRenderExtra* extra, myParams& p,
                   PF_CheckoutResult& result, PF_RenderRequest& request);

// Checks the input out with id 555 and the given request, then again with
// id 0 for its whole maximum result. Returns the first failure.
PF_Err CheckoutInput(PF_PreRenderExtra* extra, PF_InData* in_data, PF_CheckoutResult& result,
                     PF_RenderRequest& request);

// Frees a preRenderData block; null is allowed.
void DisposePreRenderData(void* pre_render_data);

// Rectangles: right and bottom exclusive, empty when left >= right or top >= bottom.
bool IsEmptyRect(const PF_LRect& r);
// An empty destination becomes the source; an empty source changes nothing.
void UnionLRect(const PF_LRect* source, PF_LRect* destination);
// An empty a is copied into the destination; an empty destination stays;
// otherwise the overlap, which may be empty.
void IntersectLRect(const PF_LRect* a, PF_LRect* destination);
PF_LRect GrowRect(const PF_LRect& r, A_long by);

// Shadow bounds, all in single precision.
PF_LRect CalculateDirectionalLightShadowBounds(const PF_LRect& rect, float angle, float softness, float distance);
PF_LRect CalculateDirectionalLightOutputRect(myParams& p, const PF_CheckoutResult& result);
PF_LRect CalculatePointLightOutputRect(myParams& p, const PF_CheckoutResult& result);
PF_LRect CalculatePointLightShadowBounds(const PF_LRect& rect, const float (&light)[2], const myParams& p);
PF_LRect CalculateInverseShadowBounds(const PF_LRect& rect, const float (&light)[2], const myParams& p);
