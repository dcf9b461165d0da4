// Owner of one host world for the length of a command: allocation deferred
// until the size is known, disposal in the destructor, which never throws.
#pragma once

#include <optional>
#include <string>

#include "AE_EffectSuites.h"
#include "shell/AEFX_SuiteHelper.h"

class UF_EffectWorld {
public:
    UF_EffectWorld() = default;
    UF_EffectWorld(PF_InData* in_data, PF_LayerDef templateWorld);
    ~UF_EffectWorld();
    UF_EffectWorld(const UF_EffectWorld&) = delete;
    UF_EffectWorld& operator=(const UF_EffectWorld&) = delete;

    PF_Err ActuallyInit();
    PF_Err InitStructWorld(PF_InData* in_data, PF_LayerDef templateWorld, int width, int height);
    [[noreturn]] static void ThrowErr(int code, std::string message);

    PF_InData* in_data = nullptr;
    PF_ProgPtr effect_ref = nullptr;
    PF_Err err = PF_Err_NONE;
    PF_Err dispose_err = PF_Err_NONE;
    PF_EffectWorld world{};
    bool initialised = false;
    PF_PixelFormat pixel_format = 0;
    A_long width = 0;
    A_long height = 0;

private:
    using WorldSuite = AEFX_SuiteScoper<PF_WorldSuite2>;
    std::optional<WorldSuite> m_worlds;  // from allocation to disposal
};
