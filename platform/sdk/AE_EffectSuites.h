// The PF suites, acquired by name and version through SPBasicSuite.
#pragma once

#include "AE_Effect.h"
#include "DrawbotSuite.h"

#define kPFHandleSuite "PF Handle Suite"
#define kPFHandleSuiteVersion1 2
typedef struct PF_HandleSuite1 {
    PF_Handle (*host_new_handle)(A_HandleSize size);
    void* (*host_lock_handle)(PF_Handle pf_handle);
    void (*host_unlock_handle)(PF_Handle pf_handle);
    void (*host_dispose_handle)(PF_Handle pf_handle);
    A_HandleSize (*host_get_handle_size)(PF_Handle pf_handle);
    PF_Err (*host_resize_handle)(A_HandleSize new_sizeL, PF_Handle* handlePH);
} PF_HandleSuite1;

#define kPFANSISuite "PF ANSI Suite"
#define kPFANSISuiteVersion1 1
typedef struct PF_ANSICallbacksSuite1 {
    A_FpLong (*atan)(A_FpLong);
    A_FpLong (*atan2)(A_FpLong y, A_FpLong x);
    A_FpLong (*ceil)(A_FpLong);
    A_FpLong (*cos)(A_FpLong);
    A_FpLong (*exp)(A_FpLong);
    A_FpLong (*fabs)(A_FpLong);
    A_FpLong (*floor)(A_FpLong);
    A_FpLong (*fmod)(A_FpLong, A_FpLong);
    A_FpLong (*hypot)(A_FpLong, A_FpLong);
    A_FpLong (*log)(A_FpLong);
    A_FpLong (*log10)(A_FpLong);
    A_FpLong (*pow)(A_FpLong, A_FpLong);
    A_FpLong (*sin)(A_FpLong);
    A_FpLong (*sqrt)(A_FpLong);
    A_FpLong (*tan)(A_FpLong);
    int (*sprintf)(A_char* buffer, const A_char* format, ...);
    A_char* (*strcpy)(A_char* dest, const A_char* src);
    A_FpLong (*asin)(A_FpLong);
    A_FpLong (*acos)(A_FpLong);
} PF_ANSICallbacksSuite1;

#define kPFWorldSuite "PF World Suite"
#define kPFWorldSuiteVersion2 2
typedef struct PF_WorldSuite2 {
    PF_Err (*PF_NewWorld)(void* effect_ref, A_long widthL, A_long heightL, PF_Boolean clear_pixB,
                          PF_PixelFormat pixel_format, PF_EffectWorld* worldP);
    PF_Err (*PF_DisposeWorld)(void* effect_ref, PF_EffectWorld* worldP);
    PF_Err (*PF_GetPixelFormat)(const PF_EffectWorld* worldP, PF_PixelFormat* pixel_formatP);
} PF_WorldSuite2;

#define kPFWorldTransformSuite "PF World Transform Suite"
#define kPFWorldTransformSuiteVersion1 1
typedef struct PF_WorldTransformSuite1 {
    PF_Err (*composite_rect)(void* effect_ref, PF_Rect* src_rect, A_long src_opacity, PF_EffectWorld* source_wld,
                             A_long dest_x, A_long dest_y, PF_Field field_rdr, PF_TransferMode xfer_mode,
                             PF_EffectWorld* dest_wld);
    PF_Err (*blend)(void* effect_ref, const PF_EffectWorld* src1, const PF_EffectWorld* src2, PF_Fixed ratio,
                    PF_EffectWorld* dst);
    PF_Err (*convolve)(void* effect_ref, PF_EffectWorld* src, const PF_Rect* area, A_long flags,
                       A_long kernel_size, void* a_kernel, void* r_kernel, void* g_kernel, void* b_kernel,
                       PF_EffectWorld* dst);
    PF_Err (*copy)(void* effect_ref, PF_EffectWorld* src, PF_EffectWorld* dst, PF_Rect* src_r, PF_Rect* dst_r);
    PF_Err (*copy_hq)(void* effect_ref, PF_EffectWorld* src, PF_EffectWorld* dst, PF_Rect* src_r,
                      PF_Rect* dst_r);
    PF_Err (*transfer_rect)(void* effect_ref, PF_Quality quality, PF_ModeFlags m_flags, PF_Field field,
                            const PF_Rect* src_rec, const PF_EffectWorld* src_world,
                            const PF_CompositeMode* comp_mode, const PF_MaskWorld* mask_world0, A_long dest_x,
                            A_long dest_y, PF_EffectWorld* dst_world);
    PF_Err (*transform_world)(void* effect_ref, PF_Quality quality, PF_ModeFlags m_flags, PF_Field field,
                              const PF_EffectWorld* src_world, const PF_CompositeMode* comp_mode,
                              const PF_MaskWorld* mask_world0, const PF_FloatMatrix* matrices,
                              A_long num_matrices, PF_Boolean src2dst_matrix, const PF_Rect* dest_rect,
                              PF_EffectWorld* dst_world);
} PF_WorldTransformSuite1;

#define kPFIterate8Suite "PF Iterate8 Suite"
#define kPFIterate8SuiteVersion1 1
typedef struct PF_Iterate8Suite1 {
    PF_Err (*iterate)(PF_InData* in_data, A_long progress_base, A_long progress_final, PF_EffectWorld* src,
                      const PF_Rect* area, void* refcon, PF_IteratePixel8Func pix_fn, PF_EffectWorld* dst);
    PF_Err (*iterate_origin)(PF_InData* in_data, A_long progress_base, A_long progress_final, PF_EffectWorld* src,
                             const PF_Rect* area, const PF_Point* origin, void* refcon,
                             PF_IteratePixel8Func pix_fn, PF_EffectWorld* dst);
    PF_Err (*iterate_generic)(A_long iterationsL, void* refconPV,
                              PF_Err (*fn_func)(void* refconPV, A_long thread_indexL, A_long i, A_long iterationsL));
} PF_Iterate8Suite1;

#define kPFIterateFloatSuite "PF iterateFloat Suite"
#define kPFIterateFloatSuiteVersion1 1
typedef struct PF_iterateFloatSuite1 {
    PF_Err (*iterate)(PF_InData* in_data, A_long progress_base, A_long progress_final, PF_EffectWorld* src,
                      const PF_Rect* area, void* refcon, PF_IteratePixelFloatFunc pix_fn, PF_EffectWorld* dst);
    PF_Err (*iterate_origin)(PF_InData* in_data, A_long progress_base, A_long progress_final, PF_EffectWorld* src,
                             const PF_Rect* area, const PF_Point* origin, void* refcon,
                             PF_IteratePixelFloatFunc pix_fn, PF_EffectWorld* dst);
} PF_iterateFloatSuite1;

typedef struct _PF_ParamState {
    A_long reserved[4];
} PF_State;

#define kPFParamUtilsSuite "PF Param Utils Suite"
#define kPFParamUtilsSuiteVersion3 3
typedef struct PF_ParamUtilsSuite3 {
    PF_Err (*PF_UpdateParamUI)(void* effect_ref, PF_ParamIndex param_index, const PF_ParamDef* defP);
    PF_Err (*PF_GetCurrentState)(void* effect_ref, PF_ParamIndex param_index, const A_Time* startPT0,
                                 const A_Time* durationPT0, PF_State* stateP);
    PF_Err (*PF_AreStatesIdentical)(void* effect_ref, const PF_State* state1P, const PF_State* state2P,
                                    A_Boolean* samePB);
    PF_Err (*PF_GetKeyframeCount)(void* effect_ref, PF_ParamIndex param_index, A_long* key_countPL);
} PF_ParamUtilsSuite3;

typedef A_long PF_App_ColorType;
typedef struct {
    A_u_short flags;
    A_u_short red;
    A_u_short green;
    A_u_short blue;
} PF_App_Color;

#define kPFAppSuite "PF AE App Suite"
#define kPFAppSuiteVersion6 6
typedef struct PF_AppSuite6 {
    PF_Err (*PF_AppGetBgColor)(PF_App_Color* bg_colorP);
    PF_Err (*PF_AppGetColor)(PF_App_ColorType color_type, PF_App_Color* app_colorP);
    PF_Err (*PF_AppColorPickerDialog)(const A_char* dialog_titleZ0, const PF_PixelFloat* sample_colorP,
                                      PF_Boolean use_ws_to_monitor_xformB, PF_PixelFloat* result_colorP);
} PF_AppSuite6;

typedef struct _AEGP_CompH* AEGP_CompH;
typedef struct _AEGP_ColorProfileP* AEGP_ColorProfileP;

// Working-space colour profiles of a composition.
#define kPFColorSettingsSuite "PF Color Settings Suite"
#define kPFColorSettingsSuiteVersion3 3
typedef struct PF_ColorSettingsSuite3 {
    A_Err (*AEGP_GetNewWorkingSpaceColorProfile)(A_long aegp_plugin_id, AEGP_CompH compH,
                                                 AEGP_ColorProfileP* color_profilePP);
    A_Err (*AEGP_GetColorProfileApproximateGamma)(AEGP_ColorProfileP color_profileP, A_FpShort* approx_gammaP);
    A_Err (*AEGP_DisposeColorProfile)(AEGP_ColorProfileP color_profileP);
} PF_ColorSettingsSuite3;

#define kPFColorParamSuite "PF ColorParamSuite"
#define kPFColorParamSuiteVersion1 1
typedef struct PF_ColorParamSuite1 {
    PF_Err (*PF_GetFloatingPointColorFromColorDef)(void* effect_ref, const PF_ParamDef* color_defP,
                                                   PF_PixelFloat* fp_colorP);
} PF_ColorParamSuite1;

typedef struct _PF_ContextRef* PF_ContextH;

#define kPFEffectCustomUISuite "PF Effect Custom UI Suite"
#define kPFEffectCustomUISuiteVersion1 1
typedef struct PF_EffectCustomUISuite1 {
    PF_Err (*PF_GetDrawingReference)(const PF_ContextH effect_contextH, DRAWBOT_DrawRef* referenceP0);
} PF_EffectCustomUISuite1;

#define kPFEffectCustomUISuiteVersion2 2
typedef struct PF_EffectCustomUISuite2 {
    PF_Err (*PF_GetDrawingReference)(const PF_ContextH effect_contextH, DRAWBOT_DrawRef* referenceP0);
    PF_Err (*PF_GetContextAsyncManager)(void* in_data, void* extra, void** managerPP0);
} PF_EffectCustomUISuite2;

#define kPFEffectCustomUIOverlayThemeSuite "PF Effect Custom UI Overlay Theme Suite"
#define kPFEffectCustomUIOverlayThemeSuiteVersion1 1
typedef struct PF_EffectCustomUIOverlayThemeSuite1 {
    PF_Err (*PF_GetPreferredForegroundColor)(DRAWBOT_ColorRGBA* foreground_colorP);
    PF_Err (*PF_GetPreferredShadowColor)(DRAWBOT_ColorRGBA* shadow_colorP);
    PF_Err (*PF_GetPreferredStrokeWidth)(float* stroke_widthPF);
    PF_Err (*PF_GetPreferredVertexSize)(float* vertex_sizePF);
    PF_Err (*PF_GetPreferredShadowOffset)(A_LPoint* shadow_offsetP);
    PF_Err (*PF_StrokePath)(const DRAWBOT_DrawRef drawbot_ref, const DRAWBOT_PathRef path_ref,
                            PF_Boolean draw_shadowB);
    PF_Err (*PF_FillPath)(const DRAWBOT_DrawRef drawbot_ref, const DRAWBOT_PathRef path_ref,
                          PF_Boolean draw_shadowB);
    PF_Err (*PF_FillVertex)(const DRAWBOT_DrawRef drawbot_ref, const A_FloatPoint* center_pointP,
                            PF_Boolean draw_shadowB);
} PF_EffectCustomUIOverlayThemeSuite1;
