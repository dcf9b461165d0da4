#include "render/UF3_Compositing.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "render/UF3_Bounds.h"
#include "render/UF_EffectWorld.h"
#include "shell/AEGP_SuiteHandler.h"
#include "shell/UF3_Colour.h"
#include "shell/UF3_Err.h"

namespace {

PF_UtilCallbacks NoUtils{};
const PF_UtilCallbacks& Utils(const PF_InData* in_data) {
    return in_data && in_data->utils ? *in_data->utils : NoUtils;
}

// v × 255 truncated towards zero; the low 8 bits are the opacity.
A_u_char OpacityByte(double v) {
    const double scaled = v * 255.0;
    if (!(scaled > -2147483648.0 && scaled < 2147483648.0)) return 0;
    return static_cast<A_u_char>(static_cast<int64_t>(scaled) & 0xFF);
}

// A float channel in 8 bits: truncated, clamped, NaN as full.
A_u_char ToChannel8(double v) {
    if (v > 0.0 && v < 255.0) return static_cast<A_u_char>(v);
    return v <= 0.0 ? 0 : 255;
}

bool IsStencilMode(PF_TransferMode xfer) {
    return xfer == PF_Xfer_MULTIPLY_ALPHA || xfer == PF_Xfer_MULTIPLY_ALPHA_LUMA ||
           xfer == PF_Xfer_MULTIPLY_NOT_ALPHA || xfer == PF_Xfer_MULTIPLY_NOT_ALPHA_LUMA;
}

PF_Err Transfer(PF_InData* in_data, AEGP_SuiteHandler& suites, const PF_LRect* rect, const PF_EffectWorld* src,
                const PF_CompositeMode* mode, A_long x, A_long y, PF_EffectWorld* dst) {
    return CallHost(suites.WorldTransformSuite1()->transfer_rect, static_cast<void*>(in_data->effect_ref),
                    in_data->quality, PF_ModeFlags(0), in_data->field, rect, src, mode,
                    static_cast<const PF_MaskWorld*>(nullptr), x, y, dst);
}

// One pass over dst at the render's depth; src may be dst itself.
PF_Err IterateAtDepth(PF_InData* in_data, const myParams& p, AEGP_SuiteHandler& suites, PF_EffectWorld* src,
                      PF_IteratePixel8Func fn8, PF_IteratePixelFloatFunc fn32, PF_EffectWorld* dst) {
    if (p.bitdepth == 8) {
        return CallHost(suites.Iterate8Suite1()->iterate, in_data, A_long(0), dst->height, src,
                        static_cast<const PF_Rect*>(nullptr), static_cast<void*>(nullptr), fn8, dst);
    }
    return CallHost(suites.IterateFloatSuite1()->iterate, in_data, A_long(0), dst->height, src,
                    static_cast<const PF_Rect*>(nullptr), static_cast<void*>(nullptr), fn32, dst);
}

// Alpha bias: the texture with the shadow's shape cut out of it in
// proportion to the bias, laid over the output where the two overlap.
PF_Err CompBiasedTexture(PF_InData* in_data, myParams& p, AEGP_SuiteHandler& suites, UF_EffectWorld& saved,
                         const PF_LRect& overlap, PF_Err err) {
    PF_EffectWorld* out = p.output_worldP;
    PF_EffectWorld* tex = p.noise_worldP;
    UF_EffectWorld cut;
    if (!err) err = cut.InitStructWorld(in_data, *out, overlap.right - overlap.left, overlap.bottom - overlap.top);
    PF_LRect inTexture = GetOverlappingRect(ConvertWorldRectToLocal(overlap, tex->origin_x, tex->origin_y),
                                            tex->extent_hint);
    if (IsEmptyRect(inTexture)) return err;
    if (!err) err = CallHost(Utils(in_data).copy, static_cast<void*>(in_data->effect_ref), tex, &cut.world,
                             &inTexture, static_cast<PF_Rect*>(nullptr));
    const PF_LRect inOutput = ConvertWorldRectToLocal(overlap, out->origin_x, out->origin_y);
    const PF_CompositeMode bias{PF_Xfer_MULTIPLY_NOT_ALPHA, 0, OpacityByte(p.textureAlphaBias), false, 0};
    if (!err) err = Transfer(in_data, suites, &inOutput, &saved.world, &bias, 0, 0, &cut.world);
    p.textureComp.opacity = OpacityByte(p.textureStrength);
    p.textureComp.rgb_only = true;
    if (!err) {
        err = Transfer(in_data, suites, &cut.world.extent_hint, &cut.world, &p.textureComp,
                       overlap.left - out->origin_x, overlap.top - out->origin_y, out);
    }
    return err;
}

// Fills a world of the template's depth with a colour and lays it over the
// output at the position of `shown`.
PF_Err ShowBuffer(PF_InData* in_data, UF_EffectWorld& marker, PF_EffectWorld* shown, PF_EffectWorld* out,
                  const PF_Pixel& colour, PF_Err err) {
    marker.width = shown->width;
    marker.height = shown->height;
    marker.ActuallyInit();
    if (!err) err = CallHost(Utils(in_data).fill, static_cast<void*>(in_data->effect_ref), &colour,
                             static_cast<const PF_Rect*>(nullptr), &marker.world);
    if (!err) {
        err = XferRectOffset(in_data, &marker.world, out, shown->origin_x - out->origin_x,
                             shown->origin_y - out->origin_y);
    }
    return err;
}

}  // namespace

PF_Err XferRectOffset(PF_InData* in_data, PF_LayerDef* src, PF_LayerDef* dst, int x, int y) {
    if (!src || !dst) return PF_Err_NONE;
    AEGP_SuiteHandler suites(in_data ? in_data->pica_basicP : nullptr);
    const PF_CompositeMode mode{PF_Xfer_IN_FRONT, 0, 255, false, 0};
    return Transfer(in_data, suites, &src->extent_hint, src, &mode, x, y, dst);
}

PF_Err ViewNoiseSolo(PF_InData* in_data, myParams& p, AEGP_SuiteHandler& suites) {
    PF_EffectWorld* out = p.output_worldP;
    PF_EffectWorld* tex = p.noise_worldP;
    if (!in_data || !out || !tex) return PF_Err_BAD_CALLBACK_PARAM;
    CallHost(Utils(in_data).fill, static_cast<void*>(in_data->effect_ref), static_cast<const PF_Pixel*>(nullptr),
             static_cast<const PF_Rect*>(nullptr), out);
    const PF_CompositeMode mode{PF_Xfer_COPY, 0, 255, false, 0};
    const PF_Err err = Transfer(in_data, suites, &out->extent_hint, tex, &mode, tex->origin_x - out->origin_x,
                                tex->origin_y - out->origin_y, out);
    LogIfError(err, "ViewNoiseSolo()", &p);
    return err;
}

PF_LRect GetExtentHintInWorldCoords(PF_LayerDef* world) {
    if (!world) return {0, 0, 0, 0};
    const PF_LRect& e = world->extent_hint;
    return {e.left + world->origin_x, e.top + world->origin_y, e.right + world->origin_x,
            e.bottom + world->origin_y};
}

PF_LRect ConvertWorldRectToLocal(const PF_LRect& rect, int x, int y) {
    return {rect.left - x, rect.top - y, rect.right - x, rect.bottom - y};
}

PF_LRect GetOverlappingRect(const PF_LRect& a, const PF_LRect& b) {
    return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
            std::min(a.bottom, b.bottom)};
}

PF_Err CompTextureAndInput(PF_InData* in_data, myParams& p, AEGP_SuiteHandler& suites) {
    PF_EffectWorld* out = p.output_worldP;
    if (!in_data || !out) return PF_Err_BAD_CALLBACK_PARAM;
    const PF_UtilCallbacks& utils = Utils(in_data);
    void* ref = in_data->effect_ref;

    UF_EffectWorld saved(p.in_data, *out);
    saved.width = out->width;
    saved.height = out->height;
    PF_Err err = saved.ActuallyInit();
    saved.world.origin_x = out->origin_x;
    saved.world.origin_y = out->origin_y;

    // Stencil and silhouette modes act on the shadow's real alpha, so the
    // alpha is neither raised nor restored around them.
    const bool stencil = IsStencilMode(p.textureComp.xfer);
    if (!err) {
        err = CallHost(utils.copy, ref, out, &saved.world, static_cast<PF_Rect*>(nullptr),
                       static_cast<PF_Rect*>(nullptr));
        // Opaque, so the texture blends with the shadow's colour alone.
        if (!err && !stencil) err = IterateAtDepth(in_data, p, suites, out, maxAlpha8, maxAlpha32, out);

        if (PF_EffectWorld* tex = p.noise_worldP) {
            const PF_LRect overlap =
                GetOverlappingRect(GetExtentHintInWorldCoords(tex), GetExtentHintInWorldCoords(out));
            if (p.textureAlphaBias == 0.0 || IsEmptyRect(overlap)) {
                p.textureComp.opacity = OpacityByte(p.textureStrength);
                p.textureComp.rgb_only = true;
                if (!err) {
                    err = Transfer(in_data, suites, &tex->extent_hint, tex, &p.textureComp,
                                   tex->origin_x - out->origin_x, tex->origin_y - out->origin_y, out);
                }
            } else {
                err = CompBiasedTexture(in_data, p, suites, saved, overlap, err);
            }
        }

        if (!err && !stencil) err = IterateAtDepth(in_data, p, suites, &saved.world, graftAlpha8, graftAlpha32, out);

        PF_EffectWorld* input = p.input_worldP;
        if (!err && p.sourceComp.opacity != 0 && input) {
            PF_LRect area = input->extent_hint;
            UnionLRect(&out->extent_hint, &area);
            err = Transfer(in_data, suites, &area, input, &p.sourceComp, input->origin_x - out->origin_x,
                           input->origin_y - out->origin_y, out);
        }
    }
    LogIfError(err, "CompTextureAndInput", &p);
    return err;
}

bool IsEffectWorldPtrValid(PF_LayerDef* world) {
    return world && world->width >= 1 && world->height >= 1 && !IsEmptyRect(world->extent_hint);
}

PF_Err VisualiseBufferData(PF_InData* in_data, PF_OutData* out_data, myParams& p) {
    PF_EffectWorld* out = p.output_worldP;
    if (!out) return PF_Err_NONE;
    if (!in_data) return PF_Err_BAD_CALLBACK_PARAM;
    const PF_Pixel red{128, 255, 0, 0};
    const PF_Pixel green{128, 0, 255, 0};
    const PF_Pixel blue{128, 0, 0, 255};
    UF_EffectWorld textureMarker(in_data, *out);
    UF_EffectWorld inputMarker(in_data, *out);

    PF_Err err = CallHost(Utils(in_data).fill, static_cast<void*>(in_data->effect_ref), &red,
                          static_cast<const PF_Rect*>(nullptr), out);
    if (IsEffectWorldPtrValid(p.noise_worldP)) err = ShowBuffer(in_data, textureMarker, p.noise_worldP, out, blue, err);
    if (IsEffectWorldPtrValid(p.input_worldP)) err = ShowBuffer(in_data, inputMarker, p.input_worldP, out, green, err);
    return err;
}

void CCUDebugBufferData(PF_InData*, PF_OutData*, myParams&, preRenderData*, PF_SmartRenderExtra*) {}

PF_Err XformLargerBufferIntoSmallerBuffer(PF_InData* in_data, PF_LayerDef* src, PF_LayerDef* dst) {
    if (!src || !dst) return PF_Err_NONE;
    if (!in_data) return PF_Err_BAD_CALLBACK_PARAM;
    PF_FloatMatrix m;
    SetIdentityMatrix(&m);
    const double sx = static_cast<double>(dst->width) / src->width;
    const double sy = static_cast<double>(dst->height) / src->height;
    ScaleMatrix(&m, sx, sy);
    const PF_CompositeMode mode{PF_Xfer_IN_FRONT, 0, 255, false, 0};
    return CallHost(Utils(in_data).transform_world, static_cast<void*>(in_data->effect_ref), in_data->quality,
                    PF_ModeFlags(PF_MF_Alpha_STRAIGHT), in_data->field, static_cast<const PF_EffectWorld*>(src),
                    &mode, static_cast<const PF_MaskWorld*>(nullptr), static_cast<const PF_FloatMatrix*>(&m),
                    A_long(1), PF_Boolean(true), static_cast<const PF_Rect*>(&dst->extent_hint), dst);
}

void CCU_ConcatMatrix(const PF_FloatMatrix* a, PF_FloatMatrix* b) {
    if (!a || !b) return;
    PF_FloatMatrix r;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            r.mat[i][j] = (a->mat[0][j] * b->mat[i][0] + a->mat[1][j] * b->mat[i][1]) + a->mat[2][j] * b->mat[i][2];
    *b = r;
}

PF_Err SetIdentityMatrix(PF_FloatMatrix* m) {
    if (!m) return PF_Err_BAD_CALLBACK_PARAM;
    *m = PF_FloatMatrix{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
    return PF_Err_NONE;
}

PF_Err TranslateMatrix(PF_FloatMatrix* m, double tx, double ty) {
    if (!m) return PF_Err_BAD_CALLBACK_PARAM;
    const PF_FloatMatrix t{{{1, 0, 0}, {0, 1, 0}, {tx, ty, 1}}};
    CCU_ConcatMatrix(&t, m);
    return PF_Err_NONE;
}

PF_Err SkewMatrix(PF_FloatMatrix* m, double sx, double sy) {
    if (!m) return PF_Err_BAD_CALLBACK_PARAM;
    const PF_FloatMatrix k{{{1, sy, 0}, {sx, 1, 0}, {0, 0, 1}}};
    CCU_ConcatMatrix(&k, m);
    return PF_Err_NONE;
}

PF_Err ScaleMatrix(PF_FloatMatrix* m, double sx, double sy) {
    if (!m) return PF_Err_BAD_CALLBACK_PARAM;
    if (sx == 1.0 && sy == 1.0) return PF_Err_NONE;
    const PF_FloatMatrix s{{{sx, 0, 0}, {0, sy, 0}, {0, 0, 1}}};
    CCU_ConcatMatrix(&s, m);
    return PF_Err_NONE;
}

PF_Err RotateMatrix(PF_FloatMatrix* m, PF_InData* in_data, double degrees, double cx, double cy) {
    AEGP_SuiteHandler suites(in_data ? in_data->pica_basicP : nullptr);
    if (degrees == 0.0) return PF_Err_NONE;
    if (!m) return PF_Err_BAD_CALLBACK_PARAM;
    const PF_ANSICallbacksSuite1* ansi = suites.ANSICallbacksSuite1();
    if (!ansi->sin || !ansi->cos) return PF_Err_BAD_CALLBACK_PARAM;
    const double r = degrees * UF3_DEG_TO_RAD_EXACT;
    const double s = ansi->sin(r);
    const double c = ansi->cos(r);
    const PF_FloatMatrix rot{{{c, s, 0}, {-s, c, 0}, {(1 - c) * cx + s * cy, (1 - c) * cy - s * cx, 1}}};
    CCU_ConcatMatrix(&rot, m);
    return PF_Err_NONE;
}

void FloatConversion(PF_Pixel& p8, PF_PixelFloat& pf, unsigned char toFloat) {
    if (toFloat) {
        pf.red = static_cast<float>(p8.red / 255.0);
        pf.green = static_cast<float>(p8.green / 255.0);
        pf.blue = static_cast<float>(p8.blue / 255.0);
    } else {
        p8.red = ToChannel8(static_cast<double>(pf.red) * 255.0);
        p8.green = ToChannel8(static_cast<double>(pf.green) * 255.0);
        p8.blue = ToChannel8(static_cast<double>(pf.blue) * 255.0);
    }
}

// The callbacks read the input before writing: in and out may be one pixel.
PF_Err Gamma32(void*, A_long, A_long, PF_PixelFloat* in, PF_PixelFloat* out) {
    PF_PixelFloat o = *in;
    UF3_RaiseRGB(o, UF3_GAMMA_ENCODE);
    *out = o;
    return PF_Err_NONE;
}

PF_Err Gamma8(void*, A_long, A_long, PF_Pixel* in, PF_Pixel* out) {
    const PF_Pixel i = *in;
    auto encode = [](A_u_char c) { return std::pow(static_cast<float>(c / 255.0), UF3_GAMMA_ENCODE); };
    PF_PixelFloat f{0.0f, encode(i.red), encode(i.green), encode(i.blue)};
    FloatConversion(*out, f, 0);
    out->alpha = i.alpha;
    return PF_Err_NONE;
}

PF_Err ShadowColor32(void* refcon, A_long, A_long, PF_PixelFloat* in, PF_PixelFloat* out) {
    const auto* r = static_cast<const ShadowColorRefcon*>(refcon);
    if (!r || !r->colorF) return PF_Err_BAD_CALLBACK_PARAM;
    const float a = r->gamma == 1.0f ? in->alpha : std::pow(in->alpha, r->gamma);
    out->alpha = a * r->colorF->alpha;
    out->red = r->colorF->red;
    out->green = r->colorF->green;
    out->blue = r->colorF->blue;
    return PF_Err_NONE;
}

PF_Err ShadowColor8(void* refcon, A_long, A_long, PF_Pixel* in, PF_Pixel* out) {
    const auto* r = static_cast<const ShadowColorRefcon*>(refcon);
    if (!r || !r->colorF || !r->color8) return PF_Err_BAD_CALLBACK_PARAM;
    const A_u_char inAlpha = in->alpha;
    if (r->colorF->alpha >= 1.0f && r->gamma == 1.0f) {
        out->alpha = inAlpha;
    } else {
        float a = inAlpha / 255.0f;
        if (r->gamma != 1.0f) a = std::pow(a, r->gamma);
        out->alpha = ToChannel8(static_cast<double>(a * r->colorF->alpha) * 255.0);
    }
    out->red = r->color8->red;
    out->green = r->color8->green;
    out->blue = r->color8->blue;
    return PF_Err_NONE;
}

PF_Err maxAlpha32(void*, A_long, A_long, PF_PixelFloat*, PF_PixelFloat* out) {
    out->alpha = 1.0f;
    return PF_Err_NONE;
}

PF_Err maxAlpha8(void*, A_long, A_long, PF_Pixel*, PF_Pixel* out) {
    out->alpha = 255;
    return PF_Err_NONE;
}

PF_Err graftAlpha32(void*, A_long, A_long, PF_PixelFloat* in, PF_PixelFloat* out) {
    out->alpha = in->alpha;
    return PF_Err_NONE;
}

PF_Err graftAlpha8(void*, A_long, A_long, PF_Pixel* in, PF_Pixel* out) {
    out->alpha = in->alpha;
    return PF_Err_NONE;
}

PF_Err Clamp32(void*, A_long, A_long, PF_PixelFloat*, PF_PixelFloat* out) {
    for (float* c : {&out->red, &out->green, &out->blue})
        if (*c < 0.0f) *c = 0.0f;
    return PF_Err_NONE;
}

PF_Err Swizzle32(void*, A_long, A_long, PF_PixelFloat* in, PF_PixelFloat* out) {
    const PF_PixelFloat i = *in;
    *out = {i.red, i.green, i.blue, i.alpha};
    return PF_Err_NONE;
}

double easeIn(double t, double b, double c, double d) {
    return t == 0.0 ? b : c * std::pow(2.0, 10.0 * (t / d - 1.0)) + b;
}

double easeOut(double t, double b, double c, double d) {
    return t == d ? b + c : c * (1.0 - std::pow(2.0, (-10.0 * t) / d)) + b;
}

double easeInOut(double t, double b, double c, double d) {
    if (t == 0.0) return b;
    if (t == d) return b + c;
    const double u = t / (d * 0.5);
    if (u < 1.0) return (c * 0.5) * std::pow(2.0, 10.0 * (u - 1.0)) + b;
    return (c * 0.5) * (2.0 - std::pow(2.0, -10.0 * (u - 1.0))) + b;
}

double lerp(double a, double b, double t) { return a - (a - b) * t; }
