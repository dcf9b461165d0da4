// PF_Cmd_EVENT: routing of every event to the control it belongs to, and the
// header image at the top of the Effect Controls panel.
#pragma once

#include "AE_EffectUI.h"

// The effect API version from which composition-window events reach the light's radius handle.
constexpr A_short UF3_CCU_MIN_API_MAJOR = 13;
constexpr A_short UF3_CCU_MIN_API_MINOR = 13;

PF_Err HandleEvent(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output,
                   PF_EventExtra* extra);
PF_Err DrawEvent(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output,
                 PF_EventExtra* extra);
