#include <algorithm>
#include <array>
#include <cmath>
#include <mutex>
#include <numbers>
#include <string>

#include "AE_GeneralPlug.h"
#include "params/GradientData.h"
#include "params/UF3_ParamIndex.h"
#include "params/UF3_ParamTable.h"
#include "params/UF3_Params.h"
#include "params/UF3_StreamRefs.h"
#include "shell/AEFX_SuiteHelper.h"
#include "shell/AEGP_SuiteHandler.h"
#include "shell/UF3.h"
#include "shell/UF3_Colour.h"
#include "shell/UF3_Err.h"

namespace {

constexpr float kPi = std::numbers::pi_v<float>;
// Debug stage of the Standard roads; 8 runs them to the end.
constexpr int32_t kFullRoadStage = 8;

struct QualityPreset {
    int32_t ssaa;
    int32_t samples;
};
// Raytraced quality presets 1 "Draft" to 5 "Extreme".
constexpr std::array<QualityPreset, 5> kQualityPresets{{{1, 12}, {1, 25}, {2, 50}, {2, 100}, {4, 250}}};

typedef std::array<PF_ParamDef, UF3_NUM_PARAMS> ParamArray;

double Float(const ParamArray& a, int i) { return a[i].u.fs_d.value; }
int32_t Popup(const ParamArray& a, int i) { return a[i].u.pd.value; }
bool Checked(const ParamArray& a, int i) { return a[i].u.bd.value != 0; }
double Degrees(const ParamArray& a, int i) { return FIX_2_FLOAT(a[i].u.ad.value); }

// A world's width and height; left alone without a world.
void SizeOf(const PF_EffectWorld* world, float (&size)[2]) {
    if (!world) return;
    size[0] = static_cast<float>(world->width);
    size[1] = static_cast<float>(world->height);
}

bool KnownPixelFormat(PF_PixelFormat format) {
    return format == PF_PixelFormat_ARGB32 || format == PF_PixelFormat_ARGB64 || format == PF_PixelFormat_ARGB128;
}

PF_Err Checkout(PF_InData* in_data, int index, PF_ParamDef* def) {
    return in_data->inter.checkout_param(in_data->effect_ref, index, in_data->current_time, in_data->time_step,
                                         in_data->time_scale, def);
}

PF_Err Checkin(PF_InData* in_data, PF_ParamDef* def) { return in_data->inter.checkin_param(in_data->effect_ref, def); }

// Two threads must never read the gradient handle at once.
PF_Err ReadGradient(myParams& p, PF_InData* in_data, AEGP_SuiteHandler& suites, PF_ParamDef* def, bool used) {
    // Loaded before the check-out so that a missing suite cannot leave the
    // parameter checked out.
    const PF_HandleSuite1* handles = suites.HandleSuite1();
    const std::lock_guard<std::mutex> lock(param_checkout_mutex);
    PF_Err err = Checkout(in_data, UF3_COLOR_GRADIENT, def);
    // A gradient that cannot be locked fails a frame coloured with it rather than drawing
    // without it; a solid fill does without.
    PF_Err readErr = PF_Err_NONE;
    if (!err) readErr = CreateGradientStdVecFromArb(handles, def->u.arb_d.value, &p.gradient);
    if (used) UF_Keep(err, readErr);
    UF_Keep(err, Checkin(in_data, def));
    // The record's copy, not the stored stops, takes the positions lookups use:
    // the Raytraced colour shader reads them as they are.
    for (ArbGradientPt& stop : p.gradient) stop.position = GradientStopPosition(stop.position);
    std::stable_sort(p.gradient.begin(), p.gradient.end(), GradientStopLess);
    return err;
}

void DeriveRaytraced(myParams& p, const ParamArray& a) {
    const double direction = Degrees(a, UF3_LIGHT_DIRECTION);
    const bool point = p.lightType == UF3_LIGHT_POINT;
    p.lightDirectionSD = static_cast<float>(UF3_Radians(270.0 - direction));
    p.boundsAngle = static_cast<float>(UF3_Radians(p.lightDirection - 90.0));
    p.lightSoftness = static_cast<float>(Float(a, UF3_LIGHT_SOFTNESS) * 0.01);
    p.lightRadiusSD = static_cast<float>(2.0 * Float(a, UF3_LIGHT_RADIUS_RT) * p.downsampleScale);
    p.alphaThreshold = static_cast<float>(Float(a, UF3_ALPHA_THRESHOLD));
    p.lightOriginRT[0] = FIX_2_FLOAT(a[UF3_LIGHT_ORIGIN].u.td.x_value);
    p.lightOriginRT[1] = FIX_2_FLOAT(a[UF3_LIGHT_ORIGIN].u.td.y_value);
    p.sdInverseShadow = p.inverseShadow;
    p.shadowInLight = Checked(a, UF3_SHADOW_WITHIN_LIGHT) && point;
    p.autoShadowLength = Checked(a, UF3_AUTO_SHADOW_LENGTH) && point;
    p.sdDebugView = Popup(a, UF3_SD_DEBUG_VIEW);
    p.sourceOpacityF = static_cast<float>(Float(a, UF3_SOURCE_OPACITY) / 100.0);
    p.shadowLengthSD = static_cast<float>(std::max(p.shadowLength * p.downsampleScale, 0.001));
    p.shadowDistanceEase = static_cast<float>(Float(a, UF3_EASE_OPACITY) / 100.0);
    p.shadowSoftnessEase = static_cast<float>(Float(a, UF3_EASE_SOFTNESS) / 100.0);
    p.shadowGradEase = static_cast<float>(Float(a, UF3_EASE_GRADIENT) / 100.0);
    p.shadowStartOpacity = static_cast<float>(Float(a, UF3_OPACITY_START_RT) / 100.0);
    p.shadowEndOpacity = static_cast<float>(Float(a, UF3_OPACITY_END_RT) / 100.0);

    if (p.qualityPreset >= 1 && p.qualityPreset <= static_cast<int32_t>(kQualityPresets.size())) {
        p.ssaa = kQualityPresets[p.qualityPreset - 1].ssaa;
        p.numSamples = kQualityPresets[p.qualityPreset - 1].samples;
    }

    SizeOf(p.output_worldP, p.outRes);
    SizeOf(p.input_worldP, p.inRes);

    int32_t pad;
    if (!point) {
        const float off = static_cast<float>(p.downsampleScale) * static_cast<float>(Float(a, UF3_SHADOW_OFFSET_DIR));
        const float angle = (p.inverseShadow ? kPi : 0.0f) + p.lightDirectionSD;
        p.shadowOffset[0] = std::cos(angle) * off;
        p.shadowOffset[1] = std::sin(angle) * off;
        pad = std::max(static_cast<int32_t>(std::ceil(off)), 1);
    } else {
        const double offset = Float(a, UF3_SHADOW_OFFSET_POINT);
        p.pointShadowOffset = static_cast<float>(offset);
        p.pointShadowScale = static_cast<float>(1.0 + offset * 0.001);
        p.shadowOffset[0] = p.pointShadowScale;
        p.shadowOffset[1] = 0.0f;
        pad = p.preRenderCopy.pointPad;
    }
    p.padOffset = pad + p.jfaPadding;
    p.padTotal = 2 * p.padOffset;
    if (p.input_worldP) {
        p.jfaRes[0] = static_cast<float>(p.input_worldP->width * p.ssaa + p.padTotal);
        p.jfaRes[1] = static_cast<float>(p.ssaa * p.input_worldP->height + p.padTotal);
    }
}

// Linear blending is wrong in a working space that is already linear.
// Returns the chain's error; 512 means InitParams must stop at once.
PF_Err CheckWorkingSpace(myParams& p, PF_InData* in_data, AEGP_SuiteHandler& suites) {
    AEGP_LayerH layer = nullptr;
    AEGP_CompH comp = nullptr;
    PF_Err err = suites.PFInterfaceSuite1()->AEGP_GetEffectLayer(in_data->effect_ref, &layer);
    if (!err && layer) err = suites.LayerSuite13()->AEGP_GetLayerParentComp(layer, &comp);
    if (err || !layer || !comp) return err;

    const PF_ColorSettingsSuite3* colour = suites.ColorSettingsSuite3();
    AEGP_ColorProfileP profile = nullptr;
    const A_Err profileErr = colour->AEGP_GetNewWorkingSpaceColorProfile(0, comp, &profile);
    A_Err gammaErr = A_Err_NONE;
    A_Err disposeErr = A_Err_NONE;
    if (profile) {
        A_FpShort gamma = 1.0f;
        gammaErr = colour->AEGP_GetColorProfileApproximateGamma(profile, &gamma);
        if (gammaErr) gamma = 1.0f;
        if (gamma < UF3_LINEAR_WORKING_SPACE_GAMMA) p.linearBlending = false;
        disposeErr = colour->AEGP_DisposeColorProfile(profile);
    }
    PF_Err result = PF_Err_NONE;
    for (const A_Err e : {profileErr, gammaErr, disposeErr}) {
        if (e && e != PF_Interrupt_CANCEL) return PF_Err_INTERNAL_STRUCT_DAMAGED;
        if (e) result = e;
    }
    return result;
}

// Gradient position of Standard copy s of n: evenly spread, cycled, then
// pulled towards an exponential ease-out.
float SampleGradientPosition(int32_t s, int32_t n, float cycleOffset, double easeGradient) {
    const float x = n == 1 ? 0.0f : static_cast<float>(s) / (static_cast<float>(n) - 0.999f);
    float d = std::fmod(x + cycleOffset, 1.0f);
    if (d < 0.0f) d += 1.0f;
    const float e = d == 1.0f ? 1.0f : 1.0f - std::exp2(-10.0f * d);
    return d - (d - e) * static_cast<float>(easeGradient);
}

}  // namespace

PF_Err InitParams(myParams& p, PF_InData* in_data, PF_OutData* out_data, PF_SmartRenderExtra* extra,
                  uint8_t preRender) {
    AEGP_SuiteHandler suites(in_data ? in_data->pica_basicP : nullptr);
    const bool renderPass = preRender == 0;
    const std::string phase = renderPass ? "smart_render" : "pre_render";
    PF_Err err = PF_Err_NONE;

    if (renderPass) {
        AEFX_SuiteScoper<PF_WorldSuite2> worlds(in_data, kPFWorldSuite, kPFWorldSuiteVersion2);
        err = worlds->PF_GetPixelFormat(p.output_worldP, &p.pixelFormat);
        LogIfError(err, "PF_GetPixelFormat", &p);
        // Logged only: the render goes on with whatever it was given.
        if (!KnownPixelFormat(p.pixelFormat)) {
            LogError("PF_GetPixelFormat returned format of " + std::to_string(p.pixelFormat), &p);
        }
    }

    ParamArray params{};
    for (int i = 1; i < UF3_NUM_PARAMS; ++i) {
        if (i == UF3_COLOR_GRADIENT) {
            if (renderPass && !err)
                err = ReadGradient(p, in_data, suites, &params[i], Popup(params, UF3_FILL_MODE) == UF3_FILL_GRADIENT);
        } else if (i != UF3_TEXTURE_LAYER) {
            // Checked in whatever happened, as the host asks; a failed
            // check-out only stops the later ones.
            if (!err) err = Checkout(in_data, i, &params[i]);
            UF_Keep(err, Checkin(in_data, &params[i]));
            // A value past its range (an expression, a damaged project)
            // renders as the nearest valid one.
            HoldToValidRange(i, params[i]);
        }
        LogIfError(err, phase + "InitParams() PF_CHECKOUT_PARAM" + std::to_string(i), &p);
    }
    const ParamArray& a = params;

    p.debugAnalysisEnable = Checked(a, UF3_DEBUG_ANALYSIS_ENABLE);
    p.visualizeBufferBounds = Checked(a, UF3_VISUALIZE_BUFFER_BOUNDS);
    p.cycleOffset = static_cast<float>(-Degrees(a, UF3_CYCLE_GRADIENT) / 360.0);
    p.downsampleScale =
        static_cast<float>(in_data->downsample_x.num) / static_cast<float>(in_data->downsample_x.den);
    p.renderer = Popup(a, UF3_RENDERER);
    p.lightType = Popup(a, UF3_LIGHT_TYPE);
    p.innerShadow = Checked(a, UF3_INNER_SHADOW);

    const bool standard = p.renderer == UF3_RENDERER_STANDARD;
    const bool raytraced = p.renderer == UF3_RENDERER_RAYTRACED;
    const bool point = p.lightType == UF3_LIGHT_POINT;
    const bool directional = p.lightType == UF3_LIGHT_DIRECTIONAL;

    // A negative length flips the shadow, except for the Standard point
    // light, which scales copies about the light and cannot flip.
    const double length = Float(a, UF3_SHADOW_LENGTH);
    if (standard && point) {
        p.shadowLength = std::max(length, 0.0);
        p.inverseShadow = false;
    } else {
        const bool inverse = Checked(a, UF3_INVERSE_SHADOW);
        p.inverseShadow = (inverse && length >= 0.0) || (!inverse && length < 0.0);
        p.shadowLength = std::fabs(length);
    }
    p.lightDirection = Degrees(a, UF3_LIGHT_DIRECTION) - (p.inverseShadow ? 180.0 : 0.0);
    p.lightDirectionRad = p.lightDirection * UF3_DEG_TO_RAD;

    p.bufferMargin = static_cast<int32_t>(std::ceil(Float(a, UF3_BUFFER_EXPANSION) * p.downsampleScale * 0.5));
    p.qualityPreset = Popup(a, UF3_QUALITY_PRESET);
    p.qualityScale = p.qualityPreset * 0.2;
    p.numSamples = static_cast<int32_t>(Float(a, UF3_SAMPLES));
    p.innerBlendMode = Popup(a, UF3_INNER_BLEND_MODE);
    p.lightRadius = Float(a, UF3_LIGHT_RADIUS_STD) * p.downsampleScale;
    p.fillMode = Popup(a, UF3_FILL_MODE);
    p.shadowColor8 = a[UF3_COLOR].u.cd.value;

    if (!err) {
        err = suites.ColorParamSuite1()->PF_GetFloatingPointColorFromColorDef(in_data->effect_ref, &params[UF3_COLOR],
                                                                             &p.shadowColorF);
    }

    p.opacityStart = Float(a, UF3_OPACITY_START_STD) / 100.0;
    p.opacityEnd = Float(a, UF3_OPACITY_END_STD) / 100.0;
    p.shadowOpacity = Float(a, UF3_SHADOW_OPACITY) / 100.0;
    p.shadowGamma = p.noise_worldP ? 1.0 / Float(a, UF3_MATTE_GAMMA) : 1.0;
    p.shadowColorF.alpha = static_cast<float>(p.shadowOpacity);
    p.sourceOpacity8 = static_cast<uint8_t>(std::ceil(Float(a, UF3_SOURCE_OPACITY) * 2.55));
    p.sourceBlendMode = Popup(a, UF3_SOURCE_BLEND_MODE);
    p.sourceComp.xfer = EnumerateBlend(p.sourceBlendMode);
    p.sourceComp.opacity = p.sourceOpacity8;
    p.easingMaster = Float(a, UF3_EASING_MASTER) / 100.0;
    p.easeSoftness = std::min(1.0, Float(a, UF3_EASE_SOFTNESS_ADV) / 100.0 * p.easingMaster);
    p.easeDistance = std::min(1.0, Float(a, UF3_EASE_DISTANCE) / 100.0 * p.easingMaster);
    p.easeOpacity = std::min(1.0, Float(a, UF3_EASE_OPACITY_ADV) / 100.0 * p.easingMaster);
    p.easeGradient = std::min(1.0, Float(a, UF3_EASE_GRADIENT_ADV) / 100.0 * p.easingMaster);
    p.viewInnerCPUComp = Popup(a, UF3_VIEW_INNER_CPU_COMP);
    p.debugLeft = Float(a, UF3_DEBUG_LEFT);
    p.debugTop = Float(a, UF3_DEBUG_TOP);
    p.debugScale = Float(a, UF3_DEBUG_SCALE) / 100.0;
    p.defaultBufferBehaviour = Checked(a, UF3_DEFAULT_BUFFER_BEHAVIOUR);
    p.jfaPadding = static_cast<int32_t>(std::ceil(Float(a, UF3_JFA_PADDING) * p.downsampleScale));

    if (raytraced) DeriveRaytraced(p, a);

    p.rgbaPipeline = p.fillMode == UF3_FILL_GRADIENT;
    p.interpolate = Checked(a, UF3_INTERPOLATE);
    p.fillInfluence = 1.0;
    if (standard && !p.innerShadow) {
        p.fillInfluence = Float(a, UF3_FILL_INFLUENCE) / 100.0;
        if (p.fillInfluence < 1.0) p.rgbaPipeline = true;
    }
    p.textureStrength = Float(a, UF3_TEXTURE_STRENGTH) / 100.0;
    p.textureAlphaBias = Float(a, UF3_TEXTURE_ALPHA_BIAS) / 100.0;
    p.textureBlendMode = Popup(a, UF3_TEXTURE_BLEND_MODE);
    p.viewTexture = Checked(a, UF3_VIEW_TEXTURE);
    p.textureComp.xfer = EnumerateBlend(p.textureBlendMode);
    p.viewInner = kFullRoadStage;

    if (point) {
        p.lightOrigin[0] = FIX_2_FLOAT(a[UF3_LIGHT_ORIGIN].u.td.x_value);
        p.lightOrigin[1] = FIX_2_FLOAT(a[UF3_LIGHT_ORIGIN].u.td.y_value);
        if (standard && !err) err = InitRadialGaussianParams(p, in_data, params.data());
    } else if (directional && !err) {
        err = InitDirectionalParams(p, suites, params.data());
    }

    if (renderPass && p.fillMode == UF3_FILL_GRADIENT) {
        p.linearBlending = Checked(a, UF3_LINEAR_BLENDING);
        if (!err) {
            err = CheckWorkingSpace(p, in_data, suites);
            if (err == PF_Err_INTERNAL_STRUCT_DAMAGED) return err;
        }
        if (p.linearBlending) {
            for (ArbGradientPt& stop : p.gradient) UF3_RaiseRGB(stop.color, UF3_GAMMA_DECODE);
        }
        if (standard) {
            const int32_t n = p.numSamples;
            const int32_t withRecord = std::min<int32_t>(n, static_cast<int32_t>(p.samples.size()));
            for (int32_t s = 0; s < withRecord; ++s) {
                const float position = SampleGradientPosition(s, n, p.cycleOffset, p.easeGradient);
                p.samples[s].color = Get_Gradient_Color_At_Position_Adv(
                    static_cast<unsigned>(p.gradient.size()), p.gradient.data(), position, p.interpolate);
            }
        } else if (raytraced) {
            for (const ArbGradientPt& stop : p.gradient) {
                p.shadowColors.push_back({stop.color.red, stop.color.green, stop.color.blue});
            }
        }
    }
    return err;
}
