#include "render/UF3_Bounds.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <numbers>

#include "params/UF3_ParamIndex.h"
#include "render/UF3_Compositing.h"
#include "shell/AEGP_SuiteHandler.h"
#include "shell/UF3_Err.h"

namespace {

constexpr float kPi = std::numbers::pi_v<float>;
// Room beyond the blur reach of the Standard road, pixels.
constexpr A_long kStandardShadowSlack = 10;
// Added to the Raytraced point reach, pixels.
constexpr float kPointReachSlack = 10.0f;

// Rounded values outside the int32 range (and NaN) have no pixel; clamp them
// rather than convert out of range.
A_long ToPixel(double v) {
    if (std::isnan(v)) return 0;
    if (v <= static_cast<double>(std::numeric_limits<A_long>::min())) return std::numeric_limits<A_long>::min();
    if (v >= static_cast<double>(std::numeric_limits<A_long>::max())) return std::numeric_limits<A_long>::max();
    return static_cast<A_long>(v);
}

PF_LRect Hull(const PF_LRect& a, const PF_LRect& b) {
    return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
            std::max(a.bottom, b.bottom)};
}

PF_Err CheckoutLayer(PF_PreRenderExtra* extra, PF_InData* in_data, PF_ParamIndex index, A_long id,
                     const PF_RenderRequest& request, PF_CheckoutResult& result) {
    if (!extra->cb) return PF_Err_BAD_CALLBACK_PARAM;
    return CallHost(extra->cb->checkout_layer, in_data->effect_ref, index, id, &request, in_data->current_time,
                    in_data->time_step, in_data->time_scale, &result);
}

bool MixesCacheIdentity(const PF_InData* in_data) {
    return in_data->version.major > 13 || (in_data->version.major == 13 && in_data->version.minor > 8);
}

// Mixes the layer's placement, downsampling and request into the frame's
// cache identity, so a moved layer or a new request is not served stale.
PF_Err MixCacheIdentity(PF_InData* in_data, PF_PreRenderExtra* extra) {
    CacheIdentityBlock block;
    std::memset(&block, 0, sizeof block);
    block.downsample_x = in_data->downsample_x;
    block.downsample_y = in_data->downsample_y;
    block.outputRequest = extra->input->output_request.rect;
    {
        AEGP_SuiteHandler suites(in_data->pica_basicP);
        const AEGP_PFInterfaceSuite1* pfInterface = suites.PFInterfaceSuite1();
        const AEGP_LayerSuite13* layers = suites.LayerSuite13();
        AEGP_LayerH layer = nullptr;
        AEGP_LayerFlags flags = AEGP_LayerFlag_NONE;
        PF_Err err = CallHost(pfInterface->AEGP_GetEffectLayer, static_cast<void*>(in_data->effect_ref), &layer);
        if (!err && layer) err = CallHost(layers->AEGP_GetLayerFlags, layer, &flags);
        if (layer) {
            const A_Time layerTime{in_data->current_time, in_data->time_scale};
            A_Time compTime{0, in_data->time_scale};
            if (!err && !(flags & AEGP_LayerFlag_COLLAPSE)) {
                A_FloatRect bounds{};
                err = CallHost(layers->AEGP_GetLayerMaskedBounds, layer, AEGP_LTimeMode(AEGP_LTimeMode_LayerTime),
                               &layerTime, &bounds);
            }
            if (!err) err = CallHost(layers->AEGP_ConvertLayerToCompTime, layer, &layerTime, &compTime);
            if (!err) err = CallHost(layers->AEGP_GetLayerToWorldXform, layer, &compTime, &block.layerToWorld);
        }
        if (err) return err;
    }
    const PF_Err err = extra->cb->GuidMixInPtr(in_data->effect_ref, sizeof block, &block);
    LogIfError(err, "GuidMixInPtr", nullptr);
    return err;
}

// Range of sin over [x0, x1], single precision.
void SineRange(float x0, float x1, float& lo, float& hi) {
    const float n = std::round(x0 / kPi);
    const float end = x1 / kPi;
    lo = std::min(std::sin(x0), std::sin(x1));
    hi = std::max(std::sin(x0), std::sin(x1));
    if (end >= n + 1.5f) {
        lo = -1.0f;
        hi = 1.0f;
    } else if (end >= n + 0.5f) {
        const float peak = std::sin(n * kPi + kPi / 2.0f);
        lo = std::min(lo, peak);
        hi = std::max(hi, peak);
    }
}

struct Float2 {
    float x, y;
};

struct BoxDistance {
    float l, t, r, b;
    Float2 c, h;
    Float2 o;        // how far the light lies outside the box along each axis, else 0
    float distance;  // from the light to the box; negative inside
};

BoxDistance MeasureBox(const PF_LRect& rect, const float (&light)[2]) {
    BoxDistance m{};
    m.l = static_cast<float>(rect.left);
    m.t = static_cast<float>(rect.top);
    m.r = static_cast<float>(rect.right);
    m.b = static_cast<float>(rect.bottom);
    m.c = {(m.l + m.r) * 0.5f, (m.t + m.b) * 0.5f};
    m.h = {(m.r - m.l) * 0.5f, (m.b - m.t) * 0.5f};
    const float qx = std::fabs(light[0] - m.c.x) - m.h.x;
    const float qy = std::fabs(light[1] - m.c.y) - m.h.y;
    m.o = {std::max(qx, 0.0f), std::max(qy, 0.0f)};
    m.distance = std::sqrt(m.o.x * m.o.x + m.o.y * m.o.y) + std::min(std::max(qx, qy), 0.0f);
    return m;
}

float PointReach(const myParams& p) { return (p.pointShadowOffset * 0.01f + 1.0f) * p.shadowLengthSD + kPointReachSlack; }

struct FloatBox {
    float minX = std::numeric_limits<float>::infinity();
    float minY = std::numeric_limits<float>::infinity();
    float maxX = -std::numeric_limits<float>::infinity();
    float maxY = -std::numeric_limits<float>::infinity();
};

// The eight points reached by going `reach` along the two tangents from the
// light disc through each corner: outwards, or back towards the light's side
// for the inverse shadow.
FloatBox TangentFarPoints(const BoxDistance& m, const float (&light)[2], float radius, float reach, bool inverse) {
    const Float2 corners[4] = {{m.l, m.t}, {m.r, m.t}, {m.r, m.b}, {m.l, m.b}};
    FloatBox box;
    for (const Float2& k : corners) {
        float dx = k.x - light[0];
        const float dy = k.y - light[1];
        if (std::fabs(dx) == std::fabs(radius)) dx += 0.0001f;  // keeps dx + radius off zero
        float e = dx * dx + dy * dy - radius * radius;
        float denom = dx + radius;
        if (inverse) {
            e = std::fabs(e);
            denom = std::max(denom, 0.001f);
        }
        const float root = std::sqrt(e);
        for (const float u : {(dy + root) / denom, (dy - root) / denom}) {
            const float uu = u * u;
            const Float2 n{(1.0f - uu) / (1.0f + uu), 2.0f * u / (1.0f + uu)};
            const Float2 t{dx - radius * n.x, dy - radius * n.y};
            const float len = std::sqrt(t.x * t.x + t.y * t.y);
            if (!(len > 0.0f)) continue;  // a corner on the circle has no tangent direction
            const float step = inverse ? -reach / len : reach / len;
            const Float2 f{k.x + step * t.x, k.y + step * t.y};
            if (std::isnan(f.x) || std::isnan(f.y)) continue;
            box.minX = std::min(box.minX, f.x);
            box.minY = std::min(box.minY, f.y);
            box.maxX = std::max(box.maxX, f.x);
            box.maxY = std::max(box.maxY, f.y);
        }
    }
    return box;
}

}  // namespace

bool IsEmptyRect(const PF_LRect& r) { return r.left >= r.right || r.top >= r.bottom; }

void UnionLRect(const PF_LRect* source, PF_LRect* destination) {
    if (!source || !destination) return;
    if (IsEmptyRect(*destination)) {
        *destination = *source;
    } else if (!IsEmptyRect(*source)) {
        *destination = Hull(*source, *destination);
    }
}

void IntersectLRect(const PF_LRect* a, PF_LRect* destination) {
    if (!a || !destination) return;
    if (IsEmptyRect(*a)) {
        *destination = *a;
    } else if (!IsEmptyRect(*destination)) {
        *destination = GetOverlappingRect(*a, *destination);
    }
}

PF_LRect GrowRect(const PF_LRect& r, A_long by) {
    return {ToPixel(double(r.left) - by), ToPixel(double(r.top) - by), ToPixel(double(r.right) + by),
            ToPixel(double(r.bottom) + by)};
}

void DisposePreRenderData(void* pre_render_data) { std::free(pre_render_data); }

PF_LRect CalculateDirectionalLightShadowBounds(const PF_LRect& rect, float angle, float softness, float distance) {
    const float spread = 2.0f * softness * kPi;
    const float a0 = angle - spread / 2.0f;
    const float a1 = a0 + spread;
    float cmin, cmax, smin, smax;
    SineRange(a0 + kPi / 2.0f, a1 + kPi / 2.0f, cmin, cmax);
    SineRange(a0, a1, smin, smax);
    const PF_LRect moved{ToPixel(double(rect.left) + std::floor(distance * cmin)),
                         ToPixel(double(rect.top) + std::floor(distance * smin)),
                         ToPixel(double(rect.right) + std::ceil(distance * cmax)),
                         ToPixel(double(rect.bottom) + std::ceil(distance * smax))};
    if (IsEmptyRect(moved)) return rect;
    if (IsEmptyRect(rect)) return moved;
    return Hull(rect, moved);
}

PF_LRect CalculateDirectionalLightOutputRect(myParams& p, const PF_CheckoutResult& result) {
    if (p.innerShadow) return result.max_result_rect;
    return CalculateDirectionalLightShadowBounds(result.max_result_rect, p.boundsAngle, p.lightSoftness,
                                                 static_cast<float>(p.shadowLengthSD + p.shadowOffsetPx));
}

PF_LRect CalculatePointLightOutputRect(myParams& p, const PF_CheckoutResult& result) {
    if (p.innerShadow) return result.max_result_rect;
    const float light[2] = {static_cast<float>(p.lightOriginRT[0]), static_cast<float>(p.lightOriginRT[1])};
    return p.sdInverseShadow ? CalculateInverseShadowBounds(result.max_result_rect, light, p)
                             : CalculatePointLightShadowBounds(result.max_result_rect, light, p);
}

PF_LRect CalculatePointLightShadowBounds(const PF_LRect& rect, const float (&light)[2], const myParams& p) {
    const BoxDistance m = MeasureBox(rect, light);
    const float radius = p.lightRadiusSD;
    const float reach = PointReach(p);
    if (m.distance <= radius) return GrowRect(rect, ToPixel(std::ceil(reach)));

    FloatBox box = TangentFarPoints(m, light, radius, reach, false);
    // A disc beside the box throws the shadow straight across it.
    if (m.t <= light[1] + radius && light[1] - radius <= m.b) {
        if (light[0] <= m.l) box.maxX = m.r + reach;
        else box.minX = m.l - reach;
    }
    if (m.l <= light[0] + radius && light[0] - radius <= m.r) {
        if (light[1] <= m.t) box.maxY = m.b + reach;
        else box.minY = m.t - reach;
    }
    PF_LRect bounds{ToPixel(std::floor(box.minX)), ToPixel(std::floor(box.minY)), ToPixel(std::floor(box.maxX)),
                    ToPixel(std::floor(box.maxY))};
    if (IsEmptyRect(bounds)) return rect;
    UnionLRect(&rect, &bounds);
    return bounds;
}

PF_LRect CalculateInverseShadowBounds(const PF_LRect& rect, const float (&light)[2], const myParams& p) {
    const BoxDistance m = MeasureBox(rect, light);
    const float radius = p.lightRadiusSD;
    const float reach = PointReach(p);
    if (m.distance <= -radius) return rect;

    const FloatBox box = TangentFarPoints(m, light, radius, reach, true);
    // A side the disc reaches past casts all the way to the reach.
    auto beyond = [&](float along, float across) {
        const float a = std::max(along, 0.0f);
        return radius < std::sqrt(a * a + across * across);
    };
    const float left = beyond(light[0] - m.l, m.o.y) ? box.minX : m.l - reach;
    const float right = beyond(m.r - light[0], m.o.y) ? box.maxX : m.r + reach;
    const float top = beyond(light[1] - m.t, m.o.x) ? box.minY : m.t - reach;
    const float bottom = beyond(m.b - light[1], m.o.x) ? box.maxY : m.b + reach;

    PF_LRect shadow{ToPixel(std::floor(left)), ToPixel(std::floor(top)), ToPixel(std::ceil(right)),
                    ToPixel(std::ceil(bottom))};
    UnionLRect(&rect, &shadow);
    const PF_LRect lightBox{ToPixel(std::floor(light[0] - radius)), ToPixel(std::floor(light[1] - radius)),
                            ToPixel(std::floor(light[0] + radius) + 1.0), ToPixel(std::floor(light[1] + radius) + 1.0)};
    PF_LRect lit = lightBox;
    UnionLRect(&rect, &lit);

    if (p.autoShadowLength) return lit;
    IntersectLRect(&lit, &shadow);
    return shadow;
}

PF_Err CheckoutInput(PF_PreRenderExtra* extra, PF_InData* in_data, PF_CheckoutResult& result,
                     PF_RenderRequest& request) {
    PF_Err err = CheckoutLayer(extra, in_data, UF3_INPUT, UF3_INPUT_CHECKOUT_ID, request, result);
    request = extra->input->output_request;
    request.rect = result.max_result_rect;
    request.field = PF_Field_FRAME;
    if (!err) err = CheckoutLayer(extra, in_data, UF3_INPUT, UF3_INPUT_RECHECKOUT_ID, request, result);
    return err;
}

PF_Err PreRenderSD(PF_InData* in_data, PF_OutData* out_data, PF_PreRenderExtra* extra, myParams& p,
                   PF_CheckoutResult& result, PF_RenderRequest& request) {
    const PF_Err err = CheckoutInput(extra, in_data, result, request);
    PF_PreRenderOutput* out = extra->output;
    if (p.defaultBufferBehaviour) {
        UnionLRect(&result.result_rect, &out->result_rect);
        UnionLRect(&result.max_result_rect, &out->max_result_rect);
        return err;
    }
    const PF_LRect& input = result.max_result_rect;
    if (!IsEmptyRect(input)) {
        if (p.lightType == UF3_LIGHT_POINT) {
            const double longest = std::max(input.right - input.left, input.bottom - input.top);
            p.jfaPadding = ToPixel(std::trunc(std::max(p.pointShadowOffset * 0.01 * longest, 1.0)));
            out->max_result_rect = CalculatePointLightOutputRect(p, result);
        } else if (p.lightType == UF3_LIGHT_DIRECTIONAL) {
            out->max_result_rect = CalculateDirectionalLightOutputRect(p, result);
        }
    } else {
        out->max_result_rect = input;
    }
    p.jfaPadding += p.bufferMargin;
    out->max_result_rect = GrowRect(out->max_result_rect, p.bufferMargin);
    out->result_rect = out->max_result_rect;
    IntersectLRect(&extra->input->output_request.rect, &out->result_rect);
    return err;
}

namespace {

// Standard road: the input grown by the margin, and (unless the output keeps
// the input's size) room for the displaced or scaled shadow copies.
PF_Err PreRenderStandard(PF_InData* in_data, PF_PreRenderExtra* extra, myParams& p, preRenderData& block,
                         PF_CheckoutResult& result, PF_RenderRequest& request, PF_Err err) {
    PF_PreRenderOutput* out = extra->output;
    if (!err) err = CheckoutLayer(extra, in_data, UF3_INPUT, UF3_INPUT_CHECKOUT_ID, request, result);
    request.rect = GrowRect(result.max_result_rect, p.bufferMargin);
    if (p.innerShadow) request.preserve_rgb_of_zero_alpha = true;
    block.inputRequest = request.rect;
    if (!err) err = CheckoutLayer(extra, in_data, UF3_INPUT, UF3_INPUT_RECHECKOUT_ID, request, result);

    if (p.innerShadow || p.defaultBufferBehaviour) {
        PF_LRect grown = GrowRect(result.max_result_rect, p.bufferMargin);
        UnionLRect(&result.result_rect, &grown);
        result.max_result_rect = grown;
        UnionLRect(&result.result_rect, &out->result_rect);
        UnionLRect(&grown, &out->max_result_rect);
        return err;
    }

    const A_long g = ToPixel(std::ceil(p.lightRadius)) + p.bufferMargin + kStandardShadowSlack;
    const PF_LRect& in = result.max_result_rect;
    PF_LRect offset, shadow;
    if (p.lightType == UF3_LIGHT_POINT) {
        // Copies scale about the light, up to the last copy's scale.
        const double s = p.shadowLength + p.shadowOffsetPx;
        const double ox = p.lightOrigin[0], oy = p.lightOrigin[1];
        offset = in;
        shadow = {ToPixel(std::trunc(ox + s * (in.left - ox))), ToPixel(std::trunc(oy + s * (in.top - oy))),
                  ToPixel(std::ceil(ox + s * (in.right - ox))), ToPixel(std::ceil(oy + s * (in.bottom - oy)))};
    } else {
        const double* v = p.shadowVector;
        const double* w = p.shadowOffsetVector;
        offset = {ToPixel(in.left + std::floor(w[0])), ToPixel(in.top + std::floor(w[1])),
                  ToPixel(in.right + std::ceil(w[0])), ToPixel(in.bottom + std::ceil(w[1]))};
        shadow = {ToPixel(in.left + std::floor(v[0]) + std::floor(w[0])),
                  ToPixel(in.top + std::floor(v[1]) + std::floor(w[1])),
                  ToPixel(in.right + std::ceil(v[0]) + std::ceil(w[0])),
                  ToPixel(in.bottom + std::ceil(v[1]) + std::ceil(w[1]))};
    }
    PF_LRect reach = GrowRect(offset, g);
    UnionLRect(&in, &reach);
    PF_LRect whole = GrowRect(shadow, g);
    UnionLRect(&reach, &whole);
    // The shadow may reach past the request: the result is not limited to it.
    UnionLRect(&whole, &out->result_rect);
    UnionLRect(&whole, &out->max_result_rect);
    const PF_LRect& r = result.result_rect;
    const PF_LRect& o = out->result_rect;
    block.centreOffset[0] = ((double(r.right) + r.left) - (double(o.right) + o.left)) * 0.5;
    block.centreOffset[1] = ((double(r.bottom) + r.top) - (double(o.bottom) + o.top)) * 0.5;
    return err;
}

}  // namespace

PF_Err SmartPreRender(PF_InData* in_data, PF_OutData* out_data, PF_PreRenderExtra* extra) {
    if (!in_data || !extra || !extra->input || !extra->output || !extra->cb) return PF_Err_BAD_CALLBACK_PARAM;
    PF_Err err = PF_Err_NONE;

    if (MixesCacheIdentity(in_data) && extra->cb->GuidMixInPtr) err = MixCacheIdentity(in_data, extra);

    auto* block = static_cast<preRenderData*>(std::calloc(1, sizeof(preRenderData)));
    if (!block) return PF_Err_OUT_OF_MEMORY;
    // The host owns the block from here on, also when the render never comes.
    extra->output->pre_render_data = block;
    extra->output->delete_pre_render_data_func = &DisposePreRenderData;

    myParams p{};
    p.in_data = in_data;
    p.out_data = out_data;
    if (!err) err = InitParams(p, in_data, out_data, nullptr, 1);
    LogIfError(err, "PreRender:InitParams", &p);

    PF_RenderRequest request = extra->input->output_request;
    request.field = PF_Field_FRAME;
    PF_CheckoutResult result{};

    if (p.renderer == UF3_RENDERER_RAYTRACED) {
        if (!err) err = PreRenderSD(in_data, out_data, extra, p, result, request);
        block->pointPad = p.jfaPadding;
    } else if (p.renderer == UF3_RENDERER_STANDARD) {
        err = PreRenderStandard(in_data, extra, p, *block, result, request, err);
    }

    block->inputResult = result.result_rect;
    block->inputMaxResult = result.max_result_rect;

    // Parameter 67 is checked out even when it names no layer: the host then
    // hands back an empty result and smart render finds no pixels.
    PF_RenderRequest textureRequest = request;
    textureRequest.rect = result.result_rect;
    UnionLRect(&extra->output->result_rect, &textureRequest.rect);
    PF_CheckoutResult textureResult{};
    if (!err) {
        err = CheckoutLayer(extra, in_data, UF3_TEXTURE_LAYER, UF3_TEXTURE_CHECKOUT_ID, textureRequest,
                            textureResult);
    }

    extra->output->flags |= PF_RenderOutputFlag_RETURNS_EXTRA_PIXELS;
    return err;
}
