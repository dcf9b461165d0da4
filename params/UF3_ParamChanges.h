// What the effect does when the user changes or presses a supervised
// parameter: web pages and the error log, reset buttons, the light-size
// sync, twirls and gradient edits. Value changes go through the host's
// streams inside one undo group per user action.
#pragma once

#include <array>

#include "AE_GeneralPlug.h"
#include "params/UF3_ParamIndex.h"
#include "shell/AEGP_SuiteHandler.h"
#include "shell/UF3.h"

// The maker's pages behind the four system-profile buttons (3 to 6).
constexpr const char* UF3_PRODUCT_PAGE_URL = "https://nimbral.example/umbrafex-3";
constexpr const char* UF3_PRESET_GALLERY_URL = "https://nimbral.example/umbrafex-3/presets";
constexpr const char* UF3_FREE_PLUGINS_URL = "https://nimbral.example/free-plugins";
constexpr const char* UF3_SUPPORT_PAGE_URL = UF3_SUPPORT_URL;

// Undo steps.
constexpr const char* UF3_UNDO_RESET_CONTROLS = "Reset Umbrafex 3 Controls";
constexpr const char* UF3_UNDO_RESET_COLOR = "Reset Color";
constexpr const char* UF3_UNDO_SHIFT_COLORS = "Shift Colors";
constexpr const char* UF3_UNDO_GRADIENT_POSITION = "Set Gradient Position";
constexpr const char* UF3_UNDO_LIGHT_SIZE = "";

constexpr const char* UF3_NO_ERRORS_MESSAGE = "No errors reported. Searched: ";
constexpr const char* UF3_TEST_ERROR_MESSAGE = "Test Error";

// A reset button and the parameters it restores (41 to 43 are always skipped).
struct UF3_ResetRange {
    int button;
    int first;
    int last;
};
constexpr std::array<UF3_ResetRange, 6> UF3_RESET_RANGES = {{
    {UF3_RESET_STYLE, UF3_LIGHT_TYPE, UF3_INNER_BLEND_MODE},
    {UF3_RESET_COLOR, UF3_OPACITY_START_RT, UF3_LINEAR_BLENDING},
    {UF3_RESET_EASING, UF3_EASE_OPACITY, UF3_EASE_GRADIENT_ADV},
    {UF3_RESET_TEXTURE, UF3_TEXTURE_WARNING1_GROUP_START, UF3_VIEW_TEXTURE},
    {UF3_RESET_QUALITY, UF3_SAMPLES, UF3_RESET_QUALITY},
    {UF3_RESET_COMPOSITING, UF3_SOURCE_BLEND_MODE, UF3_IGNORE_UPSTREAM_EFFECTS},
}};

// The stream value a reset writes into each parameter: the declared
// defaults, except Color (40), which is written all zero (black).
const std::array<AEGP_StreamValue2, UF3_NUM_PARAMS>& DefaultStreamValues();

PF_Err UserChangedParam(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef** params, PF_LayerDef* output,
                        const PF_UserChangedParamExtra* extra);

// Restores the default gradient with no stop selected, Point Location 0,
// Reverse Draw Order off, Linear Blending and Interpolate on, Cycle 0.
PF_Err ResetGrad(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef** params, AEGP_SuiteHandler& suites,
                 AEGP_EffectRefH& effect);
