// The built-in sample scene: a few shapes and letters on transparency, drawn
// into a layer's straight-alpha float pixels. False where there was no memory
// to draw it.
#pragma once

#include "AE_Effect.h"

[[nodiscard]] bool PaintSampleScene(PF_EffectWorld& layer);
