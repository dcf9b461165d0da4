#include "host/Composition.h"

#include "host/Streams.h"

#include <atomic>
#include <cmath>
#include <mutex>

namespace host {

namespace {

std::atomic<long> g_profiles{0};
// Renders on several threads ask for the same layer at once; what the host
// records of those calls is written under this lock.
std::mutex g_layerRecordMutex;
Layer* (*g_layerOf)(void*) = nullptr;

struct Profile {
    A_FpShort gamma;
};

PF_Err FloatColor(void*, const PF_ParamDef* def, PF_PixelFloat* out) {
    if (!def || !out || def->param_type != PF_Param_COLOR) return PF_Err_BAD_CALLBACK_PARAM;
    const PF_Pixel& c = def->u.cd.value;
    *out = {c.alpha / 255.0f, c.red / 255.0f, c.green / 255.0f, c.blue / 255.0f};
    return PF_Err_NONE;
}

A_Err NewProfile(A_long, AEGP_CompH compH, AEGP_ColorProfileP* out) {
    auto* comp = reinterpret_cast<Comp*>(compH);
    if (!comp || !out) return A_Err_PARAMETER;
    *out = reinterpret_cast<AEGP_ColorProfileP>(new Profile{comp->workingSpaceGamma});
    ++g_profiles;
    return A_Err_NONE;
}

A_Err ProfileGamma(AEGP_ColorProfileP profile, A_FpShort* gamma) {
    if (!profile || !gamma) return A_Err_PARAMETER;
    *gamma = reinterpret_cast<Profile*>(profile)->gamma;
    return A_Err_NONE;
}

A_Err DisposeProfile(AEGP_ColorProfileP profile) {
    if (!profile) return A_Err_PARAMETER;
    delete reinterpret_cast<Profile*>(profile);
    --g_profiles;
    return A_Err_NONE;
}

A_Err GetEffectLayer(void* effect_ref, AEGP_LayerH* out) {
    Layer* layer = g_layerOf ? g_layerOf(effect_ref) : nullptr;
    if (!out) return A_Err_PARAMETER;
    *out = nullptr;
    if (const CallFault fault = TakeCallFault(); fault != CallFault::kNone)
        return fault == CallFault::kNull ? A_Err_NONE : A_Err_ALLOC;
    *out = reinterpret_cast<AEGP_LayerH>(layer);
    return layer ? A_Err_NONE : A_Err_GENERIC;
}

A_Err GetLayerFlags(AEGP_LayerH layerH, AEGP_LayerFlags* flags) {
    auto* layer = reinterpret_cast<Layer*>(layerH);
    if (!layer || !flags) return A_Err_PARAMETER;
    *flags = layer->flags;
    return A_Err_NONE;
}

A_Err GetMaskedBounds(AEGP_LayerH layerH, AEGP_LTimeMode, const A_Time*, A_FloatRect* bounds) {
    auto* layer = reinterpret_cast<Layer*>(layerH);
    if (!layer || !bounds) return A_Err_PARAMETER;
    std::lock_guard lock(g_layerRecordMutex);
    layer->maskedBoundsQueries++;
    *bounds = layer->maskedBounds;
    return A_Err_NONE;
}

A_Err LayerToCompTime(AEGP_LayerH layerH, const A_Time* layerTime, A_Time* compTime) {
    auto* layer = reinterpret_cast<Layer*>(layerH);
    if (!layer || !layerTime || !compTime || !layerTime->scale || !layer->inPoint.scale) return A_Err_PARAMETER;
    double seconds = double(layerTime->value) / layerTime->scale + double(layer->inPoint.value) / layer->inPoint.scale;
    *compTime = {A_long(std::lround(seconds * layerTime->scale)), layerTime->scale};
    return A_Err_NONE;
}

A_Err LayerToWorld(AEGP_LayerH layerH, const A_Time* compTime, A_Matrix4* out) {
    auto* layer = reinterpret_cast<Layer*>(layerH);
    if (!layer || !compTime || !out) return A_Err_PARAMETER;
    std::lock_guard lock(g_layerRecordMutex);
    layer->lastTransformTime = *compTime;
    *out = layer->toWorld;
    return A_Err_NONE;
}

A_Err EffectToCompTime(void* effect_ref, A_long what_time, A_u_long time_scale, A_Time* out) {
    Layer* layer = g_layerOf ? g_layerOf(effect_ref) : nullptr;
    if (!layer || !out) return A_Err_PARAMETER;
    A_Time t{what_time, time_scale};
    return LayerToCompTime(reinterpret_cast<AEGP_LayerH>(layer), &t, out);
}

A_Err GetParentComp(AEGP_LayerH layerH, AEGP_CompH* out) {
    auto* layer = reinterpret_cast<Layer*>(layerH);
    if (!layer || !out) return A_Err_PARAMETER;
    *out = nullptr;
    if (const CallFault fault = TakeCallFault(); fault != CallFault::kNone)
        return fault == CallFault::kNull ? A_Err_NONE : A_Err_ALLOC;
    *out = reinterpret_cast<AEGP_CompH>(layer->comp);
    return layer->comp ? A_Err_NONE : A_Err_GENERIC;
}

A_Err GetLayerID(AEGP_LayerH layerH, AEGP_LayerIDVal* id) {
    auto* layer = reinterpret_cast<Layer*>(layerH);
    if (!layer || !id) return A_Err_PARAMETER;
    *id = layer->id;
    return A_Err_NONE;
}

PF_ColorParamSuite1 g_colorParam = {FloatColor};
PF_ColorSettingsSuite3 g_colorSettings = {NewProfile, ProfileGamma, DisposeProfile};
AEGP_LayerSuite13 g_layer{};
AEGP_PFInterfaceSuite1 g_pfInterface{};

}  // namespace

void SetIdentity(A_Matrix4& m) {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) m.mat[r][c] = r == c ? 1.0 : 0.0;
}

long ColorProfilesAlive() { return g_profiles.load(); }

const PF_ColorParamSuite1* ColorParamSuite() { return &g_colorParam; }
const PF_ColorSettingsSuite3* ColorSettingsSuite() { return &g_colorSettings; }

const AEGP_LayerSuite13* LayerSuite() {
    g_layer.AEGP_GetLayerFlags = &GetLayerFlags;
    g_layer.AEGP_GetLayerMaskedBounds = &GetMaskedBounds;
    g_layer.AEGP_ConvertLayerToCompTime = &LayerToCompTime;
    g_layer.AEGP_GetLayerToWorldXform = &LayerToWorld;
    g_layer.AEGP_GetLayerParentComp = &GetParentComp;
    g_layer.AEGP_GetLayerID = &GetLayerID;
    return &g_layer;
}

const AEGP_PFInterfaceSuite1* PFInterfaceSuite(Layer* (*layerOf)(void*)) {
    g_layerOf = layerOf;
    g_pfInterface.AEGP_GetEffectLayer = &GetEffectLayer;
    g_pfInterface.AEGP_ConvertEffectToCompTime = &EffectToCompTime;
    return &g_pfInterface;
}

}  // namespace host
