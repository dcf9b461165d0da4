// The built-in sample scene: a few shapes and letters on transparency, drawn
// into a layer's straight-alpha float pixels.
#pragma once

#include "AE_Effect.h"

void PaintSampleScene(PF_EffectWorld& layer);
