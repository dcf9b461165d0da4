// Smart pre-render and smart render as the host runs them: layer checkouts
// honour the request, the pre-render output is kept for the render, and the
// render's pixels come from the layers at the requested depth.
#include <cmath>
#include <cstring>

#include "host/Host.h"
#include "host/PixelOps.h"
#include "host/WorldSuite.h"

namespace host {

namespace {

thread_local RenderJob* t_job = nullptr;

struct JobScope {
    explicit JobScope(RenderJob& job) { t_job = &job; }
    ~JobScope() { t_job = nullptr; }
};

PF_PixelFormat FormatOf(short bitdepth) {
    return bitdepth == 32 ? PF_PixelFormat_ARGB128 : bitdepth == 16 ? PF_PixelFormat_ARGB64 : PF_PixelFormat_ARGB32;
}

PF_LRect Intersect(const PF_LRect& a, const PF_LRect& b) {
    PF_LRect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
               std::min(a.bottom, b.bottom)};
    if (r.left >= r.right || r.top >= r.bottom) r = {0, 0, 0, 0};
    return r;
}

template <typename T>
T* Row(PF_EffectWorld& w, A_long y) {
    return reinterpret_cast<T*>(reinterpret_cast<char*>(w.data) + size_t(y) * size_t(w.rowbytes));
}

// Copies the layer's pixels under `rect` into a new world of the rect's size.
PF_Err MakeRegion(const Layer& layer, const PF_LRect& rect, short bitdepth, PF_EffectWorld* out) {
    A_long w = rect.right - rect.left, h = rect.bottom - rect.top;
    PF_Err err = WorldTable::Instance().New(w, h, true, FormatOf(bitdepth), out);
    if (err) return err;
    out->origin_x = rect.left;
    out->origin_y = rect.top;
    PF_EffectWorld src = layer.pixels;
    for (A_long y = 0; y < h; ++y) {
        A_long sy = rect.top + y - layer.originY;
        if (sy < 0 || sy >= src.height) continue;
        for (A_long x = 0; x < w; ++x) {
            A_long sx = rect.left + x - layer.originX;
            if (sx < 0 || sx >= src.width) continue;
            const PF_PixelFloat& p = Row<PF_PixelFloat>(src, sy)[sx];
            if (bitdepth == 32) {
                Row<PF_PixelFloat>(*out, y)[x] = p;
            } else if (bitdepth == 16) {
                auto q = [](float v) { return A_u_short(std::lround(std::clamp(v, 0.0f, 1.0f) * PF_MAX_CHAN16)); };
                Row<PF_Pixel16>(*out, y)[x] = {q(p.alpha), q(p.red), q(p.green), q(p.blue)};
            } else {
                auto q = [](float v) { return A_u_char(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f)); };
                Row<PF_Pixel8>(*out, y)[x] = {q(p.alpha), q(p.red), q(p.green), q(p.blue)};
            }
        }
    }
    return PF_Err_NONE;
}

}  // namespace

RenderJob::~RenderJob() {
    for (auto& [id, world] : pixels)
        if (world.data) WorldTable::Instance().Dispose(&world);
    if (output.data) WorldTable::Instance().Dispose(&output);
    if (preOutput.pre_render_data && preOutput.delete_pre_render_data_func)
        preOutput.delete_pre_render_data_func(preOutput.pre_render_data);
}

PF_EffectWorld& Host::SetLayerSize(Layer& layer, A_long width, A_long height) {
    if (layer.pixels.data) WorldTable::Instance().Dispose(&layer.pixels);
    WorldTable::Instance().New(width, height, true, PF_PixelFormat_ARGB128, &layer.pixels);
    layer.maskedBounds = {0, 0, double(width), double(height)};
    layer.originX = layer.originY = 0;
    SetIdentity(layer.toWorld);
    return layer.pixels;
}

void Host::FailLayerCheckout(PF_ParamIndex index, PF_Err err) {
    m_failLayerIndex = index;
    m_failLayerErr = err;
}

Layer* Host::LayerForParam(PF_ParamIndex index) {
    if (index == 0) return &m_comp.effectLayer;
    if (index > 0 && index < PF_ParamIndex(m_defs.size()) && m_defs[size_t(index)].param_type == PF_Param_LAYER)
        return m_comp.hasTextureLayer ? &m_comp.textureLayer : nullptr;
    return nullptr;
}

PF_Err Host::CheckoutLayerCB(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long checkout_id,
                             const PF_RenderRequest* req, A_long what_time, A_long, A_u_long,
                             PF_CheckoutResult* result) {
    auto* host = reinterpret_cast<Host*>(effect_ref);
    if (!host || !req || !result || !t_job) return PF_Err_BAD_CALLBACK_PARAM;
    if (index == host->m_failLayerIndex) return host->m_failLayerErr;
    *result = PF_CheckoutResult{};
    result->par = {1, 1};
    Layer* layer = host->LayerForParam(index);
    if (layer && layer->pixels.data) {
        PF_LRect full{layer->originX, layer->originY, layer->originX + layer->pixels.width,
                      layer->originY + layer->pixels.height};
        result->result_rect = Intersect(req->rect, full);
        result->max_result_rect = full;
        result->ref_width = layer->pixels.width;
        result->ref_height = layer->pixels.height;
    }
    t_job->checkouts.push_back({index, checkout_id, *req, *result, what_time});
    return PF_Err_NONE;
}

PF_Err Host::GuidMixInCB(PF_ProgPtr effect_ref, A_u_long size, const void* bytes) {
    auto* host = reinterpret_cast<Host*>(effect_ref);
    if (!host || (size && !bytes)) return PF_Err_BAD_CALLBACK_PARAM;
    std::lock_guard lock(host->m_renderMutex);
    auto* p = static_cast<const unsigned char*>(bytes);
    host->m_guidMixes.emplace_back(p, p + size);
    return PF_Err_NONE;
}

PF_Err Host::RenderCommand(PF_Cmd cmd, RenderJob& job, void* extra) {
    PF_InData in = m_in;
    // The frame's size is the layer's, as its pixels are checked out at the
    // current downsampling (this host holds layers at the render's resolution).
    in.width = m_comp.effectLayer.pixels.width;
    in.height = m_comp.effectLayer.pixels.height;
    in.extent_hint = {0, 0, in.width, in.height};
    job.out = PF_OutData{};
    job.out.global_data = in.global_data;
    job.out.sequence_data = in.sequence_data;
    JobScope scope(job);
    double before = ThisThreadServiceMs();
    PF_Err err = Call(cmd, &in, &job.out, extra);
    job.hostMs += ThisThreadServiceMs() - before;
    return err;
}

PF_Err Host::SmartPreRender(RenderJob& job) {
    PF_PreRenderInput input{};
    input.output_request = job.request;
    input.bitdepth = job.bitdepth;
    PF_PreRenderCallbacks cb{&CheckoutLayerCB, m_guidAvailable ? &GuidMixInCB : nullptr};
    PF_PreRenderExtra extra{&input, &job.preOutput, &cb};
    return RenderCommand(PF_Cmd_SMART_PRE_RENDER, job, &extra);
}

PF_Err Host::CheckoutLayerPixelsCB(PF_ProgPtr effect_ref, A_long checkout_id, PF_EffectWorld** pixels) {
    auto* host = reinterpret_cast<Host*>(effect_ref);
    if (!host || !pixels || !t_job) return PF_Err_BAD_CALLBACK_PARAM;
    *pixels = nullptr;
    const LayerCheckout* found = nullptr;
    for (const auto& c : t_job->checkouts)
        if (c.id == checkout_id) found = &c;
    if (!found) return PF_Err_BAD_CALLBACK_PARAM;  // never checked out in pre-render
    Layer* layer = host->LayerForParam(found->index);
    const PF_LRect& r = found->result.result_rect;
    // No layer, or nothing of it in the request: the host hands out no pixels.
    if (!layer || !layer->pixels.data || r.left >= r.right || r.top >= r.bottom) return PF_Err_NONE;
    PF_EffectWorld& world = t_job->pixels[checkout_id];
    if (world.data) return PF_Err_BAD_CALLBACK_PARAM;  // already checked out
    PF_Err err = MakeRegion(*layer, r, t_job->bitdepth, &world);
    if (err) return err;
    t_job->pixelCheckouts++;
    *pixels = &world;
    return PF_Err_NONE;
}

PF_Err Host::CheckinLayerPixelsCB(PF_ProgPtr effect_ref, A_long checkout_id) {
    auto* host = reinterpret_cast<Host*>(effect_ref);
    if (!host || !t_job) return PF_Err_BAD_CALLBACK_PARAM;
    if (host->m_failCheckinErr) return host->m_failCheckinErr;
    auto it = t_job->pixels.find(checkout_id);
    if (it == t_job->pixels.end() || !it->second.data) return PF_Err_BAD_CALLBACK_PARAM;
    WorldTable::Instance().Dispose(&it->second);
    t_job->pixels.erase(it);
    t_job->pixelCheckins++;
    return PF_Err_NONE;
}

PF_Err Host::CheckoutOutputCB(PF_ProgPtr effect_ref, PF_EffectWorld** output) {
    if (!effect_ref || !output || !t_job) return PF_Err_BAD_CALLBACK_PARAM;
    *output = nullptr;
    if (!t_job->output.data) {
        const PF_LRect& r = t_job->preOutput.result_rect;
        A_long w = std::max(0, r.right - r.left), h = std::max(0, r.bottom - r.top);
        // Garbage in a fresh output, as a host's recycled buffer may hold.
        PF_Err err = WorldTable::Instance().New(w, h, false, FormatOf(t_job->bitdepth), &t_job->output);
        if (err) return err;
        t_job->output.origin_x = r.left;
        t_job->output.origin_y = r.top;
    }
    *output = &t_job->output;
    return PF_Err_NONE;
}

PF_Err Host::SmartRender(RenderJob& job) {
    PF_SmartRenderInput input{};
    input.output_request = job.request;
    input.bitdepth = job.bitdepth;
    input.pre_render_data = job.preOutput.pre_render_data;
    PF_SmartRenderCallbacks cb{&CheckoutLayerPixelsCB, &CheckinLayerPixelsCB, &CheckoutOutputCB};
    PF_SmartRenderExtra extra{&input, &cb};
    return RenderCommand(PF_Cmd_SMART_RENDER, job, &extra);
}

}  // namespace host
