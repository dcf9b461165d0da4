#include "params/UF3_Supervision.h"

#include <cstring>

#include "params/UF3_ParamIndex.h"
#include "params/UF3_StreamRefs.h"

std::vector<PF_ParamDef> MakeParamCopy(PF_ParamDef** params) {
    std::vector<PF_ParamDef> copy(UF3_NUM_PARAMS);
    for (int i = 0; i < UF3_NUM_PARAMS; ++i) copy[size_t(i)] = *params[i];
    return copy;
}

namespace {

// Sets a control's hidden flag through its stream, then refreshes it from `copy`. `onlyIfChanged`
// sends nothing when it already is as asked: the refresh would only make the panel flicker.
PF_Err SetHidden(PF_InData* in_data, AEGP_SuiteHandler& suites, AEGP_EffectRefH effect, int index, bool hide,
                 PF_ParamDef copy, bool onlyIfChanged) {
    UF_Stream stream(suites, &AEGP_SuiteHandler::StreamSuite7);
    PF_Err err = stream.Acquire(effect, index);
    AEGP_DynStreamFlags flags = 0;
    if (!err && onlyIfChanged) err = suites.DynamicStreamSuite2()->AEGP_GetDynamicStreamFlags(stream.Get(), &flags);
    if (!err && !(onlyIfChanged && bool(flags & AEGP_DynStreamFlag_HIDDEN) == hide)) {
        err = suites.DynamicStreamSuite2()->AEGP_SetDynamicStreamFlag(stream.Get(), AEGP_DynStreamFlag_HIDDEN, false,
                                                                      hide);
        if (!err) err = suites.ParamUtilsSuite3()->PF_UpdateParamUI(in_data->effect_ref, index, &copy);
    }
    UF_Keep(err, stream.Dispose());
    return err;
}

}  // namespace

PF_Err HideParam(PF_InData* in_data, AEGP_SuiteHandler* suites, AEGP_EffectRefH* effect, PF_ParamDef** params,
                 int index, bool hide) {
    return effect ? SetHidden(in_data, *suites, *effect, index, hide, *params[index], true) : PF_Err_NONE;
}

PF_Err DisableParam(PF_InData* in_data, AEGP_SuiteHandler* suites, PF_ParamDef** params, int index, bool disable) {
    PF_ParamDef copy = *params[index];
    UF_SetFlag(copy.ui_flags, PF_PUI_DISABLED, disable);
    return suites->ParamUtilsSuite3()->PF_UpdateParamUI(in_data->effect_ref, index, &copy);
}

PF_Err CollapseParam(PF_InData* in_data, AEGP_SuiteHandler* suites, PF_ParamDef** params, int index, bool collapse,
                     AEGP_EffectRefH* effect) {
    if (!effect) return PF_Err_NONE;
    PF_ParamDef copy = *params[index];
    if (collapse) copy.flags |= PF_ParamFlag_COLLAPSE_TWIRLY;
    return SetHidden(in_data, *suites, *effect, index, collapse, copy, false);
}

PF_Err CheckForCollapse(PF_InData* in_data, AEGP_LayerH layer, bool* collapsed) {
    if (!layer) return PF_Err_NONE;
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    AEGP_LayerFlags flags = 0;
    PF_Err err = suites.LayerSuite13()->AEGP_GetLayerFlags(layer, &flags);
    if (!err && collapsed && (flags & AEGP_LayerFlag_COLLAPSE)) *collapsed = true;
    return err;
}

PF_Err GetLayerHandleFromLayerParamIndex(PF_InData* in_data, AEGP_LayerH* layer, int index) {
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    UF_EffectRef effect(suites, &AEGP_SuiteHandler::EffectSuite2);
    PF_Err err = effect.Acquire(in_data);
    UF_Stream stream(suites, &AEGP_SuiteHandler::StreamSuite9);
    if (!err) err = stream.Acquire(effect.Get(), index);

    AEGP_StreamValue2 value{};
    bool haveValue = false;
    if (!err) {
        const A_Time layerStart{0, 1};
        err = suites.StreamSuite9()->AEGP_GetNewStreamValue(0, stream.Get(), AEGP_LTimeMode_LayerTime, &layerStart,
                                                            true, &value);
        haveValue = !err;
    }
    if (!err && value.val.layer_id != 0) {
        AEGP_LayerH own = nullptr;
        AEGP_CompH comp = nullptr;
        AEGP_LayerH chosen = nullptr;
        err = suites.PFInterfaceSuite1()->AEGP_GetEffectLayer(in_data->effect_ref, &own);
        // A host that answers with no layer or composition has no texture layer to offer.
        if (!err && own) err = suites.LayerSuite11()->AEGP_GetLayerParentComp(own, &comp);
        if (!err && comp) err = suites.LayerSuite13()->AEGP_GetLayerFromLayerID(comp, value.val.layer_id, &chosen);
        if (!err && layer) *layer = chosen;
    }
    if (haveValue) UF_Keep(err, suites.StreamSuite9()->AEGP_DisposeStreamValue(&value));
    UF_Keep(err, stream.Dispose());
    UF_Keep(err, effect.Dispose());
    return err;
}

PF_Err ChangeParamName(PF_InData* in_data, AEGP_SuiteHandler* suites, PF_ParamDef** params, int index, bool useFirst,
                       const char* firstName, const char* secondName) {
    PF_ParamDef copy = *params[index];
    const char* name = useFirst ? firstName : secondName;
    std::strncpy(copy.name, name ? name : "", sizeof copy.name - 1);
    copy.name[sizeof copy.name - 1] = '\0';
    return suites->ParamUtilsSuite3()->PF_UpdateParamUI(in_data->effect_ref, index, &copy);
}

namespace {

// Init goes on and stays on (it is saved with the project), and Light
// Direction's twirl is opened, as one undo step.
PF_Err Initialize(PF_InData* in_data, AEGP_SuiteHandler& suites, AEGP_EffectRefH effect,
                  std::vector<PF_ParamDef>& copies) {
    UF_UndoGroup group;
    PF_Err err = group.Start(suites.UtilitySuite11(), UF3_UNDO_INITIALIZE);
    if (err) return err;
    UF_Stream init(suites, &AEGP_SuiteHandler::StreamSuite9);
    err = init.Acquire(effect, UF3_INIT);
    if (!err) err = init.SetScalar(1.0);
    if (!err) {
        copies[UF3_LIGHT_DIRECTION].flags = 0;
        err = suites.ParamUtilsSuite3()->PF_UpdateParamUI(in_data->effect_ref, UF3_LIGHT_DIRECTION,
                                                          &copies[UF3_LIGHT_DIRECTION]);
    }
    UF_Keep(err, init.Dispose());
    UF_Keep(err, group.End());
    return err;
}

}  // namespace

PF_Err UpdateParameterUI(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef** params, PF_LayerDef* output) {
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    UF_EffectRef effect(suites, &AEGP_SuiteHandler::EffectSuite2);
    PF_Err err = effect.Acquire(in_data);
    if (!effect) return err;

    // The rules refresh controls from copies, so a change made for one
    // refresh (Light Direction's flags at initialisation) carries to the next.
    std::vector<PF_ParamDef> copies = MakeParamCopy(params);
    std::vector<PF_ParamDef*> copy;
    for (PF_ParamDef& def : copies) copy.push_back(&def);
    AEGP_EffectRefH* ref = &effect.Get();

    const A_long R = params[UF3_RENDERER]->u.pd.value;
    const A_long L = params[UF3_LIGHT_TYPE]->u.pd.value;
    const A_long F = params[UF3_FILL_MODE]->u.pd.value;
    const bool I = params[UF3_INNER_SHADOW]->u.bd.value != 0;
    const bool N = params[UF3_INVERSE_SHADOW]->u.bd.value != 0;
    const bool A = params[UF3_AUTO_SHADOW_LENGTH]->u.bd.value != 0;
    const bool W = params[UF3_HIDE_WARNINGS]->u.bd.value != 0;
    const bool T = params[UF3_INIT]->u.bd.value != 0;
    const A_short V = in_data->version.major;
    const bool standard = R == UF3_RENDERER_STANDARD, raytraced = R == UF3_RENDERER_RAYTRACED;
    const bool directional = L == UF3_LIGHT_DIRECTIONAL, point = L == UF3_LIGHT_POINT;
    const bool solid = F == UF3_FILL_SOLID, gradient = F == UF3_FILL_GRADIENT;

    // Each rule runs only while every earlier one succeeded.
    auto H = [&](int i, bool hide) {
        if (!err) err = HideParam(in_data, &suites, ref, copy.data(), i, hide);
    };
    auto D = [&](int i, bool disable) {
        if (!err) err = DisableParam(in_data, &suites, copy.data(), i, disable);
        // A later refresh of the same control in this walk (Ease Gradient is
        // disabled, then shown or hidden) must carry this state, not undo it.
        if (!err) UF_SetFlag(copies[size_t(i)].ui_flags, PF_PUI_DISABLED, disable);
    };
    auto C = [&](int i, bool collapse) {
        if (!err) err = CollapseParam(in_data, &suites, copy.data(), i, collapse, ref);
    };

    H(UF3_SHOW_DEBUG, true);
    for (int i = UF3_DEBUG_GROUP_START; i <= UF3_DEBUG_GROUP_END; ++i) H(i, true);
    if (!err && !T) err = Initialize(in_data, suites, effect.Get(), copies);
    for (int i = UF3_DEPRECATED_GROUP_START; i <= UF3_IGNORE_UPSTREAM_EFFECTS; ++i) H(i, true);

    // Renderer.
    for (int i : {UF3_LIGHT_RADIUS_STD, UF3_EASING_MASTER, UF3_ADVANCED_GROUP_START,
                  UF3_EASING_PER_ATTRIBUTE_GROUP_START, UF3_OPACITY_START_STD, UF3_OPACITY_END_STD, UF3_SAMPLES})
        H(i, raytraced);
    for (int i : {UF3_EASE_OPACITY, UF3_EASE_SOFTNESS, UF3_OPACITY_START_RT, UF3_OPACITY_END_RT, UF3_ALPHA_THRESHOLD})
        H(i, standard);

    // Fill mode.
    H(UF3_COLOR, gradient);
    for (int i : {UF3_COLOR_GRADIENT, UF3_POINT_LOCATION, UF3_CYCLE_GRADIENT}) H(i, solid);
    D(UF3_EASE_GRADIENT_ADV, solid);
    D(UF3_EASE_GRADIENT, solid);
    H(UF3_EASE_GRADIENT, standard);

    // Inner shadow.
    H(UF3_INNER_BLEND_MODE, !I);
    H(UF3_SOURCE_BLEND_MODE, I);
    D(UF3_SOURCE_OPACITY, I);
    H(UF3_FILL_INFLUENCE, false);
    D(UF3_FILL_INFLUENCE, I || raytraced);

    // Light type.
    H(UF3_SHADOW_OFFSET_DIR, point);
    H(UF3_SHADOW_OFFSET_POINT, directional);
    C(UF3_LIGHT_DIRECTION, point);
    H(UF3_LIGHT_ORIGIN, directional);
    H(UF3_LIGHT_RADIUS_RT, directional || standard);
    H(UF3_SHOW_LIGHT_OUTLINE, directional || V < UF3_LIGHT_OUTLINE_MIN_API_MAJOR);

    // Inverse shadow and its automatic length exist only for a Raytraced point light.
    const bool autoLength = raytraced && point && N;
    H(UF3_INVERSE_SHADOW, standard && point);
    H(UF3_AUTO_SHADOW_LENGTH, !autoLength);
    D(UF3_SHADOW_LENGTH, autoLength && A);
    H(UF3_LIGHT_SOFTNESS, point || standard);

    // The texture warning: both layers need continuous rasterization.
    AEGP_LayerH texture = nullptr;
    if (!err) err = GetLayerHandleFromLayerParamIndex(in_data, &texture, UF3_TEXTURE_LAYER);
    if (!err) {
        bool both = true;
        if (texture && !W) {
            AEGP_LayerH own = nullptr;
            bool textureCollapsed = false, ownCollapsed = false;
            err = suites.PFInterfaceSuite1()->AEGP_GetEffectLayer(in_data->effect_ref, &own);
            if (!err) err = CheckForCollapse(in_data, texture, &textureCollapsed);
            if (!err) err = CheckForCollapse(in_data, own, &ownCollapsed);
            both = textureCollapsed && ownCollapsed;
        }
        H(UF3_TEXTURE_WARNING1_GROUP_START, both);
        H(UF3_TEXTURE_WARNING2_GROUP_START, both);
    }

    UF_Keep(err, effect.Dispose());
    return err;
}
