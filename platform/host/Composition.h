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
    A_long width = 0;
    A_long height = 0;
};

struct Comp {
    A_FpShort workingSpaceGamma = 2.2f;  // sRGB-like working space by default
    Layer effectLayer;
};

// Working-space profiles handed out and not yet disposed.
long ColorProfilesAlive();

const PF_ColorParamSuite1* ColorParamSuite();
const PF_ColorSettingsSuite3* ColorSettingsSuite();
const AEGP_LayerSuite13* LayerSuite();
// The PF interface suite finds the effect's layer through the effect reference,
// which this host makes its Host object; `layerOf` maps one to the other.
const AEGP_PFInterfaceSuite1* PFInterfaceSuite(Layer* (*layerOf)(void* effect_ref));

}  // namespace host
