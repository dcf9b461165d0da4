// Which controls the Effect Controls panel shows: on every update-parameters-UI
// command the panel is brought in line with the renderer, light type, fill
// mode and inner shadow chosen; the first update of an instance also
// initialises it, once.
#pragma once

#include <vector>

#include "AE_GeneralPlug.h"
#include "shell/AEGP_SuiteHandler.h"

// Show Light Outline (31) is offered from this host API major version on.
constexpr A_short UF3_LIGHT_OUTLINE_MIN_API_MAJOR = 14;

// Undo step of the one-time initialisation.
constexpr const char* UF3_UNDO_INITIALIZE = "Umbrafex 3 Initialize";

PF_Err UpdateParameterUI(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef** params, PF_LayerDef* output);

// Shows or hides a control through its stream's hidden flag; nothing is sent
// when it already is as asked. A null effect does nothing.
PF_Err HideParam(PF_InData* in_data, AEGP_SuiteHandler* suites, AEGP_EffectRefH* effect, PF_ParamDef** params,
                 int index, bool hide);

// Greys a control out or back in; always refreshes it.
PF_Err DisableParam(PF_InData* in_data, AEGP_SuiteHandler* suites, PF_ParamDef** params, int index, bool disable);

// Collapsing also hides; un-collapsing shows again but leaves the twirl flag as it is.
PF_Err CollapseParam(PF_InData* in_data, AEGP_SuiteHandler* suites, PF_ParamDef** params, int index, bool collapse,
                     AEGP_EffectRefH* effect);

// Sets *collapsed when the layer's collapse-transformations switch is on;
// never clears it. A null layer leaves it alone.
PF_Err CheckForCollapse(PF_InData* in_data, AEGP_LayerH layer, bool* collapsed);

// The layer chosen in layer parameter `index`; *layer is left alone when none is.
PF_Err GetLayerHandleFromLayerParamIndex(PF_InData* in_data, AEGP_LayerH* layer, int index);

// Gives a control one of two names (at most 31 characters are kept).
PF_Err ChangeParamName(PF_InData* in_data, AEGP_SuiteHandler* suites, PF_ParamDef** params, int index, bool useFirst,
                       const char* firstName, const char* secondName);

// A copy of all 125 definitions.
std::vector<PF_ParamDef> MakeParamCopy(PF_ParamDef** params);
