// The effect's parameter declarations and the blend-mode popup shared by
// Inner Blend Mode, Blend Mode and Source Blend Mode.
#pragma once

#include <string>

#include "AE_Effect.h"
#include "AE_EffectCB.h"
#include "params/UF3_ParamIndex.h"

// A 1-based position in the blend-mode popup.
typedef A_long UF3_FULL_BLEND_TABLE_ENUM;

constexpr UF3_FULL_BLEND_TABLE_ENUM UF3_BLEND_NORMAL = 1;
constexpr UF3_FULL_BLEND_TABLE_ENUM UF3_BLEND_SILHOUETTE_LUMA = 41;
constexpr A_short UF3_BLEND_NUM_CHOICES = 44;

// Declares parameters 1 to 124 and registers the custom UI. A failed
// declaration is returned at once; a failed UI registration only after all
// declarations. Throws A_long 516 without a basic suite.
PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef** params, PF_LayerDef* output);

// The blend-mode choice text: every entry followed by "|".
std::string GenBlendingTableStr();

// Host transfer mode of a stored popup position; separators and positions
// outside 2..44 composite normally (PF_Xfer_IN_FRONT).
PF_TransferMode EnumerateBlend(UF3_FULL_BLEND_TABLE_ENUM position);

// Holds a checked-out value to what its parameter declares: a slider to its
// valid range (NaN to its default; Easing Master and the four per-attribute
// easings at their low end only), a popup to its first or last position.
// Blend popups keep their position (outside 2..44 they composite normally);
// other types have no range the render reads. Only the caller's copy changes.
void HoldToValidRange(int index, PF_ParamDef& def);

// Standard output of a shell command; empty when it cannot be started.
std::string exec(const char* command);
