#include "render/UF_EffectWorld.h"

#include "shell/UF3.h"

UF_EffectWorld::UF_EffectWorld(PF_InData* in, PF_LayerDef templateWorld)
    : in_data(in), effect_ref(in ? static_cast<PF_ProgPtr>(in->effect_ref) : nullptr) {
    WorldSuite worlds(in_data, kPFWorldSuite, kPFWorldSuiteVersion2);
    err = worlds->PF_GetPixelFormat(&templateWorld, &pixel_format);
}

PF_Err UF_EffectWorld::InitStructWorld(PF_InData* in, PF_LayerDef templateWorld, int w, int h) {
    in_data = in;
    effect_ref = in ? static_cast<PF_ProgPtr>(in->effect_ref) : nullptr;
    PF_Err formatErr;
    {
        WorldSuite worlds(in_data, kPFWorldSuite, kPFWorldSuiteVersion2);
        formatErr = worlds->PF_GetPixelFormat(&templateWorld, &pixel_format);
    }
    width = w;
    height = h;
    return formatErr ? formatErr : ActuallyInit();
}

PF_Err UF_EffectWorld::ActuallyInit() {
    if (initialised) ThrowErr(PF_Err_INVALID_CALLBACK, "tried to init already initialised UF_EffectWorld");
    // The suite that disposes the world is held from before it is made.
    const WorldSuite& worlds = m_worlds.emplace(in_data, kPFWorldSuite, kPFWorldSuiteVersion2);
    if (width > 0 || height > 0) {
        if (!err) err = worlds->PF_NewWorld(effect_ref, width, height, true, pixel_format, &world);
        if (!world.data)
            ThrowErr(PF_Err_OUT_OF_MEMORY, "error initialising UF_EffectWorld of size: " + std::to_string(width) +
                                               " " + std::to_string(height));
        initialised = true;
    }
    return err;
}

UF_EffectWorld::~UF_EffectWorld() {
    if (!in_data || !initialised || !m_worlds) return;
    dispose_err = (*m_worlds)->PF_DisposeWorld(effect_ref, &world);
    if (dispose_err && !err) err = dispose_err;
}

void UF_EffectWorld::ThrowErr(int code, std::string message) { throw UF_Err(code, std::move(message)); }
