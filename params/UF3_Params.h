// The per-render record: every setting the render road needs, derived once
// per call from the parameters, plus the road's working state. A record
// made with `myParams p{};` is the zero-filled state InitParams expects.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "AE_Effect.h"
#include "params/GradientData.h"
#include "render/UF_EffectWorld.h"

class AEGP_SuiteHandler;

// Left by smart pre-render for the host to hand back to smart render.
struct preRenderData {
    double centreOffset[2]{};   // input result centre minus output result centre, pixels
    int32_t pointPad{};         // Raytraced point-light pad, pixels
    PF_LRect inputRequest{};
    PF_LRect inputResult{};
    PF_LRect inputMaxResult{};
};

// One shadow copy of the Standard renderer.
struct perSampleData {
    int32_t bufferIndex{};   // index into blurBuffers
    double blur{};           // pixels
    double opacity{};        // 0..1
    double offset[2]{};      // displacement from the input, pixels (directional)
    PF_PixelFloat color{};   // gradient fill only
    double scale{};          // about the light (point light)
};

// One blur buffer of the directional Standard road.
struct blurBufferSpec {
    double margin{};
    double pad{};
    int32_t extent[2]{};  // input pixels covered
    int32_t size[2]{};    // framebuffer size
};

// Member order is load-bearing: the implicit destructor destroys members in
// reverse, which gives shadowColors, inputPadded, blurBuffers, samples,
// gradient, innerInputPadded, innerShadowWorld.
struct myParams {
    int32_t renderer{};          // 1 Standard, 2 Raytraced
    int32_t lightType{};         // 1 Directional, 2 Point
    int32_t fillMode{};          // 1 Solid, 2 Gradient
    int32_t viewInner{};         // debug stage of the Standard paths; 8 is the full road
    int32_t viewInnerCPUComp{};
    int32_t sdDebugView{};
    int32_t qualityPreset{};
    int32_t textureBlendMode{};  // raw popup positions
    int32_t innerBlendMode{};
    int32_t sourceBlendMode{};
    PF_CompositeMode textureComp{};
    PF_CompositeMode sourceComp{};
    int16_t bitdepth{};
    bool rgbaPipeline{};

    PF_EffectWorld* input_worldP{};   // the checked-out input layer
    PF_EffectWorld* output_worldP{};  // the output buffer
    PF_EffectWorld* noise_worldP{};   // the texture layer
    PF_EffectWorld* shadow_worldP{};
    UF_EffectWorld innerShadowWorld{};
    UF_EffectWorld innerInputPadded{};

    float blur{};
    float stride{};
    double scaleW{};
    double scaleH{};
    int32_t steps{};

    preRenderData preRenderCopy{};
    PF_InData* in_data{};
    PF_OutData* out_data{};
    PF_SmartRenderExtra* extra{};
    AEGP_SuiteHandler* suites{};
    PF_PixelFormat pixelFormat{};

    int32_t bufferMargin{};
    double downsampleScale{};
    bool innerShadow{};
    bool inverseShadow{};
    double fillInfluence{};
    bool linearBlending{};
    bool interpolate{};
    float cycleOffset{};  // turns
    std::vector<ArbGradientPt> gradient{};
    PF_PixelFloat shadowColorF{};
    PF_Pixel shadowColor8{};
    double opacityStart{};
    double opacityEnd{};
    double shadowOpacity{};
    double shadowGamma{};
    int32_t inputSize[2]{};
    int32_t numSamples{};
    int32_t numBlurBuffers{};
    std::vector<perSampleData> samples{};
    std::vector<blurBufferSpec> blurBuffers{};
    double lightDirection{};  // degrees
    double lightDirectionRad{};
    double shadowLength{};
    double lightRadius{};

    // Raytraced renderer.
    UF_EffectWorld inputPadded{};
    float inRes[2]{};
    float outRes[2]{};
    float jfaRes[2]{};
    float shadowOffset[2]{};
    float lightPosition[2]{};
    float outOffset[2]{};
    std::vector<std::array<float, 3>> shadowColors{};
    bool sdInverseShadow{};
    bool shadowInLight{};
    bool autoShadowLength{};
    double lightOriginRT[2]{};
    float lightDirectionSD{};
    float boundsAngle{};
    float lightSoftness{};
    float lightRadiusSD{};
    float alphaThreshold{};
    float pointShadowOffset{};
    float pointShadowScale{};
    float shadowLengthSD{};
    float shadowDistanceEase{};
    float shadowSoftnessEase{};
    float shadowGradEase{};
    float shadowStartOpacity{};
    float shadowEndOpacity{};
    int32_t jfaResultIndex{};
    int32_t ssaa{};
    int32_t padOffset{};
    int32_t padTotal{};
    int32_t jfaPadding{};

    double easingMaster{};
    double easeSoftness{};
    double easeDistance{};
    double easeOpacity{};
    double easeGradient{};
    double qualityScale{};
    double debugLeft{};
    double debugTop{};
    double debugScale{};
    bool defaultBufferBehaviour{};
    double shadowVector[2]{};
    double shadowStep[2]{};
    double lightOrigin[2]{};
    double pointScaleStep{};
    double pointBlurStep{};
    float sourceOpacityF{};
    uint8_t sourceOpacity8{};
    double shadowOffsetPx{};
    double shadowOffsetVector[2]{};
    int32_t innerPad[2]{};
    double innerBounds[4]{};    // left, top, right, bottom beyond the input
    int32_t innerBoundsPx[4]{};
    double textureStrength{};
    double textureAlphaBias{};
    bool viewTexture{};
    bool debugAnalysisEnable{};
    bool visualizeBufferBounds{};
};

// Checks out every parameter and derives the render settings into a
// zero-filled record. preRender is 1 from smart pre-render (no worlds, no
// gradient), 0 from smart render. Returns the first host error; a missing
// suite throws A_long 516.
PF_Err InitParams(myParams& p, PF_InData* in_data, PF_OutData* out_data, PF_SmartRenderExtra* extra,
                  uint8_t preRender);

// Sample and blur-buffer tables of a directional light (either renderer);
// params is indexed by parameter index. Appends to the record's lists.
PF_Err InitDirectionalParams(myParams& p, AEGP_SuiteHandler& suites, PF_ParamDef* params);

// Sample table of a point light on the Standard renderer.
PF_Err InitRadialGaussianParams(myParams& p, PF_InData* in_data, PF_ParamDef* params);
