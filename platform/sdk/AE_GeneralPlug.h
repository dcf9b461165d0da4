// The AEGP suites: the host's project model (layers, effects, streams, undo).
#pragma once

#include "AE_EffectSuites.h"

typedef struct _AEGP_LayerH* AEGP_LayerH;
typedef struct _AEGP_EffectRefH* AEGP_EffectRefH;
typedef struct _AEGP_StreamRefH* AEGP_StreamRefH;
typedef const struct _AEGP_ColorProfileP* AEGP_ConstColorProfileP;
typedef A_long AEGP_PluginID;
typedef A_long AEGP_LayerIDVal;
typedef A_long AEGP_LayerFlags;
typedef A_long AEGP_DynStreamFlags;
typedef A_long AEGP_LTimeMode;

enum {
    AEGP_LayerFlag_NONE = 0x00000000,
    AEGP_LayerFlag_VIDEO_ACTIVE = 0x00000001,
    AEGP_LayerFlag_AUDIO_ACTIVE = 0x00000002,
    AEGP_LayerFlag_EFFECTS_ACTIVE = 0x00000004,
    AEGP_LayerFlag_MOTION_BLUR = 0x00000008,
    AEGP_LayerFlag_FRAME_BLENDING = 0x00000010,
    AEGP_LayerFlag_LOCKED = 0x00000020,
    AEGP_LayerFlag_SHY = 0x00000040,
    AEGP_LayerFlag_COLLAPSE = 0x00000080,
    AEGP_LayerFlag_AUTO_ORIENT_ROTATION = 0x00000100,
    AEGP_LayerFlag_ADJUSTMENT_LAYER = 0x00000200,
    AEGP_LayerFlag_TIME_REMAPPING = 0x00000400,
    AEGP_LayerFlag_LAYER_IS_3D = 0x00000800,
};

enum {
    AEGP_DynStreamFlag_ACTIVE_EYEBALL = 0x01,
    AEGP_DynStreamFlag_HIDDEN = 0x02,
    AEGP_DynStreamFlag_DISABLED = 0x10,
    AEGP_DynStreamFlag_ELIDED = 0x20,
    AEGP_DynStreamFlag_SHOWN_WHEN_EMPTY = 0x400,
    AEGP_DynStreamFlag_SKIP_REVEAL_WHEN_UNHIDDEN = 0x10000,
};

enum { AEGP_LTimeMode_LayerTime = 0, AEGP_LTimeMode_CompTime = 1 };

#define kAEGPPFInterfaceSuite "AEGP PF Interface Suite"
#define kAEGPPFInterfaceSuiteVersion1 1
typedef struct AEGP_PFInterfaceSuite1 {
    A_Err (*AEGP_GetEffectLayer)(void* effect_ref, AEGP_LayerH* layerPH);
    A_Err (*AEGP_GetNewEffectForEffect)(AEGP_PluginID aegp_plugin_id, void* effect_ref,
                                        AEGP_EffectRefH* effectPH);
    A_Err (*AEGP_ConvertEffectToCompTime)(void* effect_ref, A_long what_timeL, A_u_long time_scaleLu,
                                          A_Time* comp_timePT);
} AEGP_PFInterfaceSuite1;

#define kAEGPLayerSuite "AEGP Layer Suite"
#define kAEGPLayerSuiteVersion11 11
#define kAEGPLayerSuiteVersion13 13
typedef struct AEGP_LayerSuite13 {
    A_Err (*AEGP_GetLayerFlags)(AEGP_LayerH layerH, AEGP_LayerFlags* layer_flagsP);
    A_Err (*AEGP_GetLayerMaskedBounds)(AEGP_LayerH layerH, AEGP_LTimeMode time_mode, const A_Time* timeP,
                                       A_FloatRect* boundsP);
    A_Err (*AEGP_ConvertLayerToCompTime)(AEGP_LayerH layerH, const A_Time* layer_timeP, A_Time* comp_timeP);
    A_Err (*AEGP_GetLayerToWorldXform)(AEGP_LayerH aegp_layerH, const A_Time* comp_timeP,
                                       A_Matrix4* transform);
    A_Err (*AEGP_GetLayerParentComp)(AEGP_LayerH layerH, AEGP_CompH* compPH);
    A_Err (*AEGP_GetLayerFromLayerID)(AEGP_CompH parent_compH, AEGP_LayerIDVal id, AEGP_LayerH* layerPH);
    A_Err (*AEGP_GetLayerID)(AEGP_LayerH layerH, AEGP_LayerIDVal* id_valP);
} AEGP_LayerSuite13;
typedef AEGP_LayerSuite13 AEGP_LayerSuite11;

#define kAEGPEffectSuite "AEGP Effect Suite"
#define kAEGPEffectSuiteVersion2 2
#define kAEGPEffectSuiteVersion3 3
typedef struct AEGP_EffectSuite3 {
    A_Err (*AEGP_DisposeEffect)(AEGP_EffectRefH effectH);
    A_Err (*AEGP_GetEffectParamUnionByIndex)(AEGP_PluginID aegp_plugin_id, AEGP_EffectRefH effectH,
                                             PF_ParamIndex param_index, PF_ParamType* param_typeP,
                                             PF_ParamDefUnion* uP0);
} AEGP_EffectSuite3;
typedef AEGP_EffectSuite3 AEGP_EffectSuite2;

typedef union {
    A_FpLong one_d;
    struct {
        A_FpLong x, y;
    } two_d;
    struct {
        A_FpLong alpha, red, green, blue;
    } color;
    AEGP_LayerIDVal layer_id;
    void* arbH;
} AEGP_StreamVal2;

typedef struct {
    AEGP_StreamRefH streamH;
    AEGP_StreamVal2 val;
} AEGP_StreamValue2;

#define kAEGPStreamSuite "AEGP Stream Suite"
#define kAEGPStreamSuiteVersion7 7
#define kAEGPStreamSuiteVersion9 9
typedef struct AEGP_StreamSuite9 {
    A_Err (*AEGP_GetNewEffectStreamByIndex)(AEGP_PluginID aegp_plugin_id, AEGP_EffectRefH effectH,
                                            PF_ParamIndex param_index, AEGP_StreamRefH* streamPH);
    A_Err (*AEGP_DisposeStream)(AEGP_StreamRefH streamH);
    A_Err (*AEGP_GetNewStreamValue)(AEGP_PluginID aegp_plugin_id, AEGP_StreamRefH streamH,
                                    AEGP_LTimeMode time_mode, const A_Time* timePT, A_Boolean pre_expressionB,
                                    AEGP_StreamValue2* valueP);
    A_Err (*AEGP_DisposeStreamValue)(AEGP_StreamValue2* valueP);
    A_Err (*AEGP_SetStreamValue)(AEGP_PluginID aegp_plugin_id, AEGP_StreamRefH streamH,
                                 AEGP_StreamValue2* valueP);
    A_Err (*AEGP_IsStreamTimevarying)(AEGP_StreamRefH streamH, A_Boolean* is_timevaryPB);
} AEGP_StreamSuite9;
typedef AEGP_StreamSuite9 AEGP_StreamSuite7;

#define kAEGPDynamicStreamSuite "AEGP Dynamic Stream Suite"
#define kAEGPDynamicStreamSuiteVersion2 2
typedef struct AEGP_DynamicStreamSuite2 {
    A_Err (*AEGP_GetDynamicStreamFlags)(AEGP_StreamRefH streamH, AEGP_DynStreamFlags* flagsP);
    A_Err (*AEGP_SetDynamicStreamFlag)(AEGP_StreamRefH streamH, AEGP_DynStreamFlags one_flag, A_Boolean undoableB,
                                       A_Boolean setB);
} AEGP_DynamicStreamSuite2;

#define kAEGPUtilitySuite "AEGP Utility Suite"
#define kAEGPUtilitySuiteVersion7 7
#define kAEGPUtilitySuiteVersion11 11
typedef struct AEGP_UtilitySuite11 {
    A_Err (*AEGP_StartUndoGroup)(const A_char* undo_nameZ);
    A_Err (*AEGP_EndUndoGroup)(void);
    A_Err (*AEGP_ReportInfo)(AEGP_PluginID aegp_plugin_id, const A_char* info_stringZ);
} AEGP_UtilitySuite11;
typedef AEGP_UtilitySuite11 AEGP_UtilitySuite7;

#define kAEGPIterateSuite "AEGP Iterate Suite"
#define kAEGPIterateSuiteVersion1 1
typedef struct AEGP_IterateSuite1 {
    A_long (*AEGP_GetNumThreads)(void);
    A_Err (*AEGP_IterateGeneric)(A_long iterationsL, void* refconPV,
                                 A_Err (*fn_func)(void* refconPV, A_long thread_indexL, A_long i, A_long iterationsL));
} AEGP_IterateSuite1;

