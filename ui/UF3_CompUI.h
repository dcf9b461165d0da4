// Controls of the composition and layer windows, reached through HandleEvent:
// the point light's radius handle (draw, click, drag) and the debug overlay
// of render rectangles (draw).
#pragma once

#include "AE_EffectUI.h"

PF_Err DrawEventCCU(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output,
                    PF_EventExtra* extra);
PF_Err DoClickCCU(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output,
                  PF_EventExtra* extra);
PF_Err DoDragCCU(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output,
                 PF_EventExtra* extra);
PF_Err DrawCompUIEvent(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output,
                       PF_EventExtra* extra);
