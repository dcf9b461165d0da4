// The per-render record. Grows with the render road; the shell reads only
// the three host worlds it describes in its log lines.
#pragma once

#include "AE_Effect.h"

struct myParams {
    PF_EffectWorld* input_worldP = nullptr;   // the checked-out input layer
    PF_EffectWorld* output_worldP = nullptr;  // the output buffer
    PF_EffectWorld* noise_worldP = nullptr;   // the texture layer
};
