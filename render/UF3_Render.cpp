#include "render/UF3_Render.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <mutex>
#include <optional>
#include <string>

#include "OpenGL/OpenGL.h"
#include "open_gl/Context.h"
#include "params/UF3_ParamIndex.h"
#include "params/UF3_ParamTable.h"
#include "render/ThreadRenderData.h"
#include "render/UF3_Bounds.h"
#include "render/UF3_Compositing.h"
#include "render/UF3_ProcGPU.h"
#include "shell/AEGP_SuiteHandler.h"
#include "shell/UF3.h"
#include "shell/UF3_Err.h"
#include "shell/UF3_GLErr.h"
#include "shell/UF3_Overlay.h"

std::atomic<GPUStageHook> gGPUStageTestHook{nullptr};

namespace {

constexpr const char* kPaddedCopyLabel = "Init_SD_Res:PF_COPY::input_worldP->inputPadded";

// Runs body inside one catch group. A caught value is written into record
// and ErrorDelegate's code for it is returned; nothing when body finished.
template <typename Body>
std::optional<PF_Err> Catching(UF_Err& record, Body&& body) {
    try {
        body();
        return std::nullopt;
    } catch (const UF_Err& e) {
        record.code = e.code;
        record.message = e.message;
        record.kind = UF_Err::kCaughtUF;
    } catch (const std::string& text) {
        record.message = text;
        record.kind = UF_Err::kCaughtText;
    } catch (A_long code) {
        record.code = code;
        record.kind = UF_Err::kCaughtInteger;
    } catch (const std::exception& e) {
        // A library failure (bad index, no memory) is a failed render, not a
        // silent success with half-made buffers.
        record.code = PF_Err_INTERNAL_STRUCT_DAMAGED;
        record.message = std::string("Render failed with an unexpected exception: ") + e.what();
        record.kind = UF_Err::kCaughtUF;
    } catch (...) {
        record.code = PF_Err_INTERNAL_STRUCT_DAMAGED;
        record.message = "Render failed with an unexpected exception";
        record.kind = UF_Err::kCaughtUF;
    }
    return ErrorDelegate(record);
}

// Puts the host's context back on every way out of the GPU stage.
class HostContextGuard {
public:
    explicit HostContextGuard(CGLContextObj context) : m_context(context) {}
    ~HostContextGuard() { SetCurrentContext(m_context, false); }
    HostContextGuard(const HostContextGuard&) = delete;
    HostContextGuard& operator=(const HostContextGuard&) = delete;

private:
    CGLContextObj m_context;
};

PF_Err Fill(PF_InData* in_data, PF_EffectWorld* world) {
    if (!in_data->utils || !in_data->utils->fill) return PF_Err_BAD_CALLBACK_PARAM;
    return in_data->utils->fill(in_data->effect_ref, nullptr, nullptr, world);
}

PF_Err Copy(PF_InData* in_data, PF_EffectWorld* src, PF_EffectWorld* dst, PF_Rect* dstRect) {
    if (!in_data->utils || !in_data->utils->copy) return PF_Err_BAD_CALLBACK_PARAM;
    return in_data->utils->copy(in_data->effect_ref, src, dst, nullptr, dstRect);
}

PF_Err Iterate(const myParams& p, AEGP_SuiteHandler& suites, PF_EffectWorld* src, PF_EffectWorld* dst,
               void* refcon, PF_IteratePixel8Func fn8, PF_IteratePixelFloatFunc fn32) {
    const A_long rows = dst->height;
    if (p.bitdepth == 32) {
        return suites.IterateFloatSuite1()->iterate(p.in_data, 0, rows, src, nullptr, refcon, fn32, dst);
    }
    return suites.Iterate8Suite1()->iterate(p.in_data, 0, rows, src, nullptr, refcon, fn8, dst);
}

PF_Err Transfer(const myParams& p, AEGP_SuiteHandler& suites, const PF_LRect& rect, const PF_EffectWorld* src,
                const PF_CompositeMode& mode, A_long x, A_long y, PF_EffectWorld* dst) {
    PF_InData* in_data = p.in_data;
    return suites.WorldTransformSuite1()->transfer_rect(in_data->effect_ref, in_data->quality, PF_ModeFlags(0),
                                                        in_data->field, &rect, src, &mode, nullptr, x, y, dst);
}

// The worlds the chosen road renders through, and on the Raytraced road the
// padded input with the coordinates that depend on it.
PF_Err PrepareWorkWorlds(myParams& p) {
    PF_InData* in_data = p.in_data;
    PF_EffectWorld* in = p.input_worldP;
    PF_EffectWorld* out = p.output_worldP;
    PF_Err r = PF_Err_NONE;

    if (p.renderer == UF3_RENDERER_RAYTRACED) {
        const A_long pad = p.padOffset;
        r = p.inputPadded.InitStructWorld(in_data, *out, in->width + p.padTotal, in->height + p.padTotal);
        PF_Rect inside{pad, pad, pad + in->width, pad + in->height};
        if (!r) r = Copy(in_data, in, &p.inputPadded.world, &inside);
        LogIfError(r, kPaddedCopyLabel, nullptr);

        PF_EffectWorld& padded = p.inputPadded.world;
        padded.origin_x = in->origin_x - pad;
        padded.origin_y = in->origin_y - pad;
        p.input_worldP = &padded;
        p.inRes[0] = float(padded.width);
        p.inRes[1] = float(padded.height);
        p.jfaRes[0] = float(padded.width * p.ssaa);
        p.jfaRes[1] = float(padded.height * p.ssaa);
        // The shading space: padded input pixels, y up from its bottom edge.
        p.lightPosition[0] = float(p.lightOrigin[0] - padded.origin_x);
        p.lightPosition[1] = float((padded.origin_y - p.lightOrigin[1]) + padded.height);
        p.outOffset[0] = float(out->origin_x - padded.origin_x);
        p.outOffset[1] = float(padded.origin_y + padded.height - out->origin_y) - p.outRes[1];
        if (!r) r = p.innerShadowWorld.InitStructWorld(in_data, *out, out->width, out->height);
    } else if (p.lightType == UF3_LIGHT_POINT) {
        // Only an inner shadow needs a world of its own; an outer one goes
        // straight into the output.
        if (p.innerShadow) r = p.innerShadowWorld.InitStructWorld(in_data, *out, out->width, out->height);
    } else if (p.innerShadow) {
        const A_long x = p.innerBoundsPx[0], y = p.innerBoundsPx[1];
        r = p.innerInputPadded.InitStructWorld(in_data, *out, in->width + p.innerPad[0], in->height + p.innerPad[1]);
        PF_Rect inside{x, y, x + in->width, y + in->height};
        if (!r) r = Copy(in_data, in, &p.innerInputPadded.world, &inside);
        LogIfError(r, kPaddedCopyLabel, nullptr);
        if (!r) r = p.innerShadowWorld.InitStructWorld(in_data, *out, out->width, out->height);
    }
    return r;
}

// Inner shadow: the source made opaque, the shadow blended over it, then
// everything outside the source's alpha cut away. viewInnerCPUComp stops
// the road early to show one stage.
PF_Err CompositeInner(myParams& p, AEGP_SuiteHandler& suites) {
    PF_EffectWorld* out = p.output_worldP;
    PF_EffectWorld* in = p.input_worldP;
    PF_EffectWorld* inner = &p.innerShadowWorld.world;
    PF_EffectWorld* tex = p.noise_worldP;
    PF_Err err = PF_Err_NONE;

    if (p.linearBlending) err = Iterate(p, suites, inner, inner, nullptr, Gamma8, Gamma32);
    if (tex) {
        const PF_LRect rect{0, 0, std::min(in->width, tex->width), std::min(in->height, tex->height)};
        p.textureComp.opacity = A_u_char(std::clamp(std::trunc(p.textureStrength * 255.0), 0.0, 255.0));
        p.textureComp.rgb_only = true;
        if (!err) {
            err = Transfer(p, suites, rect, tex, p.textureComp, tex->origin_x - out->origin_x,
                           tex->origin_y - out->origin_y, inner);
        }
        p.textureComp.rgb_only = false;
    }
    if (p.viewInnerCPUComp == UF3_CPU_COMP_INPUT_COPY) {
        if (!err) err = Copy(p.in_data, in, out, nullptr);
        return err;
    }

    PF_CompositeMode mode{PF_Xfer_IN_FRONT, 0, 255, false, 0};
    PF_LRect area = in->extent_hint;
    UnionLRect(&out->extent_hint, &area);
    const A_long dx = in->origin_x - out->origin_x;
    const A_long dy = in->origin_y - out->origin_y;
    if (!err) err = Transfer(p, suites, area, in, mode, dx, dy, out);
    if (p.viewInnerCPUComp == UF3_CPU_COMP_INPUT_XFER_RECT) return err;

    if (!err) err = Iterate(p, suites, out, out, nullptr, maxAlpha8, maxAlpha32);
    if (p.viewInnerCPUComp == UF3_CPU_COMP_MAX_ALPHA) return err;

    mode.xfer = EnumerateBlend(p.innerBlendMode);
    if (!err) err = Transfer(p, suites, area, inner, mode, 0, 0, out);
    if (p.viewInnerCPUComp == UF3_CPU_COMP_BLEND_SHADOW) return err;

    mode.xfer = PF_Xfer_MULTIPLY_ALPHA;
    if (!err) err = Transfer(p, suites, area, in, mode, dx, dy, out);
    // Blend modes can push float colour below zero.
    if (p.bitdepth == 32 && !err) err = Iterate(p, suites, out, out, nullptr, nullptr, Clamp32);
    return err;
}

PF_Err Composite(myParams& p) {
    AEGP_SuiteHandler suites(p.in_data->pica_basicP);
    // A Raytraced debug view is the picture itself.
    if (p.renderer == UF3_RENDERER_RAYTRACED && p.sdDebugView != UF3_SD_VIEW_FINAL_RESULT) return PF_Err_NONE;

    PF_Err err = PF_Err_NONE;
    if (!p.rgbaPipeline && p.output_worldP && p.shadow_worldP) {
        const float gamma = p.renderer == UF3_RENDERER_STANDARD ? float(p.shadowGamma) : 1.0f;
        ShadowColorRefcon refcon{&p.shadowColorF, &p.shadowColor8, gamma};
        err = Iterate(p, suites, nullptr, p.shadow_worldP, &refcon, ShadowColor8, ShadowColor32);
    }
    if (!p.innerShadow) {
        if (!err) err = CompTextureAndInput(p.in_data, p, *p.suites);
        return err;
    }
    if (!err) err = CompositeInner(p, suites);
    return err;
}

// Everything from the work worlds to the texture check-in; runs inside the
// render catch group.
void RenderRoad(myParams& p, PF_Err& err, UF_Err& record, CGLContextObj hostContext) {
    if (!err) err = PrepareWorkWorlds(p);
    {
        const HostContextGuard restore(hostContext);
        if (!AcquireContext(p)) return;
        // Released after CleanStateGL's glFinish: handing the context back then flushes nothing.
        const std::unique_lock<std::mutex> turn = GLTurn(*local_render_data);
        if (!err) {
            const auto caught = Catching(record, [&] {
                if (const GPUStageHook hook = gGPUStageTestHook.load()) hook(p);
                err = ProcGPU(p);
                // Read whatever Debug Analysis says: a frame whose passes met a GL error is a
                // failed frame, not one for the next render's "GPU Begin" to report.
                ThrowIfGLError("ProcGPU");
            });
            if (caught) err = *caught;
        }
        // Passes that threw may leave errors behind; they belong to this failed frame.
        const std::string leftBehind = TakeGLError("ProcGPU");
        if (!leftBehind.empty()) LogError(leftBehind, nullptr);
        CleanStateGL(p.debugAnalysisEnable);
    }
    if (!err) err = Composite(p);
    if (!err && p.visualizeBufferBounds) err = VisualiseBufferData(p.in_data, p.out_data, p);
    // A texture parameter naming no layer handed out no pixels to give back.
    if (p.noise_worldP) {
        const PF_Err checkin = p.extra->cb->checkin_layer_pixels(p.in_data->effect_ref, UF3_TEXTURE_CHECKOUT_ID);
        if (!err) err = checkin;
    }
}

}  // namespace

bool AcquireContext(myParams& p) {
    try {
        InitThreadLocalRenderData(p.in_data, p.out_data);
        ClearThenLogExistingGLErrors("GPU Begin", p.debugAnalysisEnable);
        return true;
    } catch (const std::string& text) {
        LogError(text, &p);
        DrawErrorString(p, text, p.output_worldP, 1.0);
    } catch (...) {
        LogError("Context creation failed with an unexpected exception", &p);
    }
    return false;
}

PF_Err SmartRender(PF_InData* in_data, PF_OutData* out_data, PF_SmartRenderExtra* extra) {
    if (!extra || !extra->input || !extra->cb) return PF_Err_BAD_CALLBACK_PARAM;
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    myParams p{};
    const PF_SmartRenderCallbacks& cb = *extra->cb;
    PF_ProgPtr ref = in_data->effect_ref;

    PF_Err err = cb.checkout_layer_pixels(ref, UF3_INPUT_RECHECKOUT_ID, &p.input_worldP);
    if (!err) err = cb.checkout_layer_pixels(ref, UF3_TEXTURE_CHECKOUT_ID, &p.noise_worldP);
    if (!err) err = cb.checkout_output(ref, &p.output_worldP);
    if (err) return err;
    if (!p.output_worldP) return PF_Err_NONE;

    const auto* block = static_cast<const preRenderData*>(extra->input->pre_render_data);
    if (!block) {
        LogError("failed to acquire preRenderData", nullptr);
        return PF_Err_INVALID_CALLBACK;
    }

    err = Fill(in_data, p.output_worldP);
    if (!p.input_worldP) return err;

    p.suites = &suites;
    p.in_data = in_data;
    p.out_data = out_data;
    p.extra = extra;
    p.bitdepth = extra->input->bitdepth;
    p.preRenderCopy = *block;
    if (!err) err = InitParams(p, in_data, out_data, extra, 0);
    LogIfError(err, "InitParams()", &p);

    if (p.viewTexture && p.noise_worldP) {
        if (!err) err = ViewNoiseSolo(in_data, p, suites);
        return err;
    }

    UF_Err record;
    std::string ignored;
    const CGLContextObj hostContext = GetCurrentContext(ignored);
    const auto caught = Catching(record, [&] { RenderRoad(p, err, record, hostContext); });
    // The first failure wins.
    if (caught && err == PF_Err_NONE) err = *caught;

    if (!record.message.empty()) {
        LogError(record.message, nullptr);
        if (p.debugAnalysisEnable) DrawErrorString(p, record.message, p.output_worldP, 1.0);
    }
    return err;
}
