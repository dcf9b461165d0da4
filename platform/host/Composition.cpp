#include "host/Composition.h"

#include <atomic>
#include <cmath>

namespace host {

namespace {

std::atomic<long> g_profiles{0};
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
    *out = reinterpret_cast<AEGP_LayerH>(layer);
    return layer ? A_Err_NONE : A_Err_GENERIC;
}

A_Err GetLayerFlags(AEGP_LayerH layerH, AEGP_LayerFlags* flags) {
    auto* layer = reinterpret_cast<Layer*>(layerH);
    if (!layer || !flags) return A_Err_PARAMETER;
    *flags = layer->flags;
    return A_Err_NONE;
}

A_Err GetParentComp(AEGP_LayerH layerH, AEGP_CompH* out) {
    auto* layer = reinterpret_cast<Layer*>(layerH);
    if (!layer || !out) return A_Err_PARAMETER;
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

long ColorProfilesAlive() { return g_profiles.load(); }

const PF_ColorParamSuite1* ColorParamSuite() { return &g_colorParam; }
const PF_ColorSettingsSuite3* ColorSettingsSuite() { return &g_colorSettings; }

const AEGP_LayerSuite13* LayerSuite() {
    g_layer.AEGP_GetLayerFlags = &GetLayerFlags;
    g_layer.AEGP_GetLayerParentComp = &GetParentComp;
    g_layer.AEGP_GetLayerID = &GetLayerID;
    return &g_layer;
}

const AEGP_PFInterfaceSuite1* PFInterfaceSuite(Layer* (*layerOf)(void*)) {
    g_layerOf = layerOf;
    g_pfInterface.AEGP_GetEffectLayer = &GetEffectLayer;
    return &g_pfInterface;
}

}  // namespace host
