// The composition around the effect: its layers, the working colour space,
// and the suites that reach them (PF interface, layer, colour settings,
// colour parameter).
#pragma once

#include <mutex>

#include "AE_GeneralPlug.h"

namespace host {

struct Comp;

struct Layer {
    Comp* comp = nullptr;
    AEGP_LayerIDVal id = 0;
    AEGP_LayerFlags flags = AEGP_LayerFlag_VIDEO_ACTIVE | AEGP_LayerFlag_EFFECTS_ACTIVE;
    // The layer's pixels in layer coordinates, straight alpha, 32-bit float;
    // an empty world means the layer has no pixels (or no layer is chosen).
    PF_EffectWorld pixels{};
    // Where the pixels' first column and row lie in layer coordinates: an
    // effect earlier in the stack that grew the layer moves them off 0.
    A_long originX = 0, originY = 0;
    A_Matrix4 toWorld{};          // layer to world; identity when made by the host
    A_FloatRect maskedBounds{};   // defaults to the pixels' extent
    A_Time inPoint{0, 1};         // layer time 0 falls at this comp time
    // What the effect last asked of the layer, for tests to read.
    A_Time lastTransformTime{-1, 1};
    int maskedBoundsQueries = 0;
};

struct Comp {
    A_FpShort workingSpaceGamma = 2.2f;  // sRGB-like working space by default
    Layer effectLayer;
    Layer textureLayer;
    bool hasTextureLayer = false;
};

void SetIdentity(A_Matrix4& m);

// Working-space profiles handed out and not yet disposed.
long ColorProfilesAlive();

const PF_ColorParamSuite1* ColorParamSuite();
const PF_ColorSettingsSuite3* ColorSettingsSuite();
const AEGP_LayerSuite13* LayerSuite();
// The PF interface suite finds the effect's layer through the effect reference,
// which this host makes its Host object; `layerOf` maps one to the other.
const AEGP_PFInterfaceSuite1* PFInterfaceSuite(Layer* (*layerOf)(void* effect_ref));

}  // namespace host
