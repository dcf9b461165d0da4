#include "shell/AEGP_SuiteHandler.h"

#include "shell/AEFX_SuiteHelper.h"

namespace {

struct SuiteName {
    const char* name;
    A_long version;
};

// Indexed by AEGP_SuiteHandler::Slot.
constexpr SuiteName kSuiteNames[AEGP_SuiteHandler::kSlotCount] = {
    {kPFHandleSuite, kPFHandleSuiteVersion1},
    {kPFANSISuite, kPFANSISuiteVersion1},
    {kPFWorldSuite, kPFWorldSuiteVersion2},
    {kPFWorldTransformSuite, kPFWorldTransformSuiteVersion1},
    {kPFIterate8Suite, kPFIterate8SuiteVersion1},
    {kPFIterateFloatSuite, kPFIterateFloatSuiteVersion1},
    {kPFParamUtilsSuite, kPFParamUtilsSuiteVersion3},
    {kPFAppSuite, kPFAppSuiteVersion6},
    {kPFColorSettingsSuite, kPFColorSettingsSuiteVersion3},
    {kPFColorParamSuite, kPFColorParamSuiteVersion1},
    {kPFEffectCustomUISuite, kPFEffectCustomUISuiteVersion1},
    {kPFEffectCustomUISuite, kPFEffectCustomUISuiteVersion2},
    {kPFEffectCustomUIOverlayThemeSuite, kPFEffectCustomUIOverlayThemeSuiteVersion1},
    {kAEGPPFInterfaceSuite, kAEGPPFInterfaceSuiteVersion1},
    {kAEGPLayerSuite, kAEGPLayerSuiteVersion13},
    {kAEGPLayerSuite, kAEGPLayerSuiteVersion11},
    {kAEGPEffectSuite, kAEGPEffectSuiteVersion2},
    {kAEGPEffectSuite, kAEGPEffectSuiteVersion3},
    {kAEGPStreamSuite, kAEGPStreamSuiteVersion7},
    {kAEGPStreamSuite, kAEGPStreamSuiteVersion9},
    {kAEGPDynamicStreamSuite, kAEGPDynamicStreamSuiteVersion2},
    {kAEGPUtilitySuite, kAEGPUtilitySuiteVersion7},
    {kAEGPUtilitySuite, kAEGPUtilitySuiteVersion11},
    {kAEGPIterateSuite, kAEGPIterateSuiteVersion1},
};

}  // namespace

AEGP_SuiteHandler::AEGP_SuiteHandler(const SPBasicSuite* pica_basicP) : basicSuite(pica_basicP) {
    if (!basicSuite) MissingSuiteError();
}

AEGP_SuiteHandler::~AEGP_SuiteHandler() { ReleaseAllSuites(); }

const void* AEGP_SuiteHandler::LoadSuite(const char* name, A_long version) const {
    const void* suite = AEFX_SuiteScoper<void, true>::Acquire(basicSuite, name, version);
    if (!suite) MissingSuiteError();
    return suite;
}

void AEGP_SuiteHandler::MissingSuiteError() const { throw A_long(PF_Err_BAD_CALLBACK_PARAM); }

void AEGP_SuiteHandler::ReleaseAllSuites() {
    if (!basicSuite) return;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if (m_suites[slot]) basicSuite->ReleaseSuite(kSuiteNames[slot].name, kSuiteNames[slot].version);
    }
}

void AEGP_SuiteHandler::ReleaseSuite(const char* name, A_long version) {
    if (basicSuite) basicSuite->ReleaseSuite(name, version);
}

const void* AEGP_SuiteHandler::Get(Slot slot) const {
    if (!m_suites[slot]) m_suites[slot] = LoadSuite(kSuiteNames[slot].name, kSuiteNames[slot].version);
    return m_suites[slot];
}

#define UF_SUITE_ACCESSOR(Type, Accessor, SlotName) \
    const Type* AEGP_SuiteHandler::Accessor() const { return static_cast<const Type*>(Get(SlotName)); }

UF_SUITE_ACCESSOR(PF_HandleSuite1, HandleSuite1, kHandle1)
UF_SUITE_ACCESSOR(PF_ANSICallbacksSuite1, ANSICallbacksSuite1, kANSI1)
UF_SUITE_ACCESSOR(PF_WorldSuite2, WorldSuite2, kWorld2)
UF_SUITE_ACCESSOR(PF_WorldTransformSuite1, WorldTransformSuite1, kWorldTransform1)
UF_SUITE_ACCESSOR(PF_Iterate8Suite1, Iterate8Suite1, kIterate8_1)
UF_SUITE_ACCESSOR(PF_iterateFloatSuite1, IterateFloatSuite1, kIterateFloat1)
UF_SUITE_ACCESSOR(PF_ParamUtilsSuite3, ParamUtilsSuite3, kParamUtils3)
UF_SUITE_ACCESSOR(PF_AppSuite6, AppSuite6, kApp6)
UF_SUITE_ACCESSOR(PF_ColorSettingsSuite3, ColorSettingsSuite3, kColorSettings3)
UF_SUITE_ACCESSOR(PF_ColorParamSuite1, ColorParamSuite1, kColorParam1)
UF_SUITE_ACCESSOR(PF_EffectCustomUISuite1, EffectCustomUISuite1, kCustomUI1)
UF_SUITE_ACCESSOR(PF_EffectCustomUISuite2, EffectCustomUISuite2, kCustomUI2)
UF_SUITE_ACCESSOR(PF_EffectCustomUIOverlayThemeSuite1, EffectCustomUIOverlayThemeSuite1, kOverlayTheme1)
UF_SUITE_ACCESSOR(AEGP_PFInterfaceSuite1, PFInterfaceSuite1, kPFInterface1)
UF_SUITE_ACCESSOR(AEGP_LayerSuite13, LayerSuite13, kLayer13)
UF_SUITE_ACCESSOR(AEGP_LayerSuite11, LayerSuite11, kLayer11)
UF_SUITE_ACCESSOR(AEGP_EffectSuite2, EffectSuite2, kEffect2)
UF_SUITE_ACCESSOR(AEGP_EffectSuite3, EffectSuite3, kEffect3)
UF_SUITE_ACCESSOR(AEGP_StreamSuite7, StreamSuite7, kStream7)
UF_SUITE_ACCESSOR(AEGP_StreamSuite9, StreamSuite9, kStream9)
UF_SUITE_ACCESSOR(AEGP_DynamicStreamSuite2, DynamicStreamSuite2, kDynamicStream2)
UF_SUITE_ACCESSOR(AEGP_UtilitySuite7, UtilitySuite7, kUtility7)
UF_SUITE_ACCESSOR(AEGP_UtilitySuite11, UtilitySuite11, kUtility11)
UF_SUITE_ACCESSOR(AEGP_IterateSuite1, IterateSuite1, kIterate1)

#undef UF_SUITE_ACCESSOR
