// Per-command cache of host suites: each suite is acquired on first use and
// all are released together when the handler goes out of scope.
#pragma once

#include "AE_EffectSuites.h"
#include "AE_GeneralPlug.h"

class AEGP_SuiteHandler {
public:
    explicit AEGP_SuiteHandler(const SPBasicSuite* pica_basicP);
    ~AEGP_SuiteHandler();
    AEGP_SuiteHandler(const AEGP_SuiteHandler&) = delete;
    AEGP_SuiteHandler& operator=(const AEGP_SuiteHandler&) = delete;

    const PF_HandleSuite1* HandleSuite1() const;
    const PF_ANSICallbacksSuite1* ANSICallbacksSuite1() const;
    const PF_WorldSuite2* WorldSuite2() const;
    const PF_WorldTransformSuite1* WorldTransformSuite1() const;
    const PF_Iterate8Suite1* Iterate8Suite1() const;
    const PF_iterateFloatSuite1* IterateFloatSuite1() const;
    const PF_ParamUtilsSuite3* ParamUtilsSuite3() const;
    const PF_AppSuite6* AppSuite6() const;
    const PF_ColorSettingsSuite3* ColorSettingsSuite3() const;
    const PF_ColorParamSuite1* ColorParamSuite1() const;
    const PF_EffectCustomUISuite1* EffectCustomUISuite1() const;
    const PF_EffectCustomUISuite2* EffectCustomUISuite2() const;
    const PF_EffectCustomUIOverlayThemeSuite1* EffectCustomUIOverlayThemeSuite1() const;
    const AEGP_PFInterfaceSuite1* PFInterfaceSuite1() const;
    const AEGP_LayerSuite13* LayerSuite13() const;
    const AEGP_LayerSuite11* LayerSuite11() const;
    const AEGP_EffectSuite2* EffectSuite2() const;
    const AEGP_EffectSuite3* EffectSuite3() const;
    const AEGP_StreamSuite7* StreamSuite7() const;
    const AEGP_StreamSuite9* StreamSuite9() const;
    const AEGP_DynamicStreamSuite2* DynamicStreamSuite2() const;
    const AEGP_UtilitySuite7* UtilitySuite7() const;
    const AEGP_UtilitySuite11* UtilitySuite11() const;
    const AEGP_IterateSuite1* IterateSuite1() const;

    const void* LoadSuite(const char* name, A_long version) const;
    [[noreturn]] void MissingSuiteError() const;
    void ReleaseAllSuites();
    void ReleaseSuite(const char* name, A_long version);

    // One slot per suite and version, in the fixed order of release.
    enum Slot {
        kHandle1, kANSI1, kWorld2, kWorldTransform1, kIterate8_1, kIterateFloat1, kParamUtils3, kApp6,
        kColorSettings3, kColorParam1, kCustomUI1, kCustomUI2, kOverlayTheme1, kPFInterface1, kLayer13,
        kLayer11, kEffect2, kEffect3, kStream7, kStream9, kDynamicStream2, kUtility7, kUtility11, kIterate1,
        kSlotCount
    };

private:
    const void* Get(Slot slot) const;

    const SPBasicSuite* basicSuite;
    mutable const void* m_suites[kSlotCount] = {};
};
