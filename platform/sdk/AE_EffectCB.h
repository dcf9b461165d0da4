// Callbacks the host hands the effect in PF_InData::utils. Included by AE_Effect.h.
#pragma once

typedef struct {
    PF_FpLong (*atan)(PF_FpLong);
    PF_FpLong (*atan2)(PF_FpLong y, PF_FpLong x);
    PF_FpLong (*ceil)(PF_FpLong);
    PF_FpLong (*cos)(PF_FpLong);
    PF_FpLong (*exp)(PF_FpLong);
    PF_FpLong (*fabs)(PF_FpLong);
    PF_FpLong (*floor)(PF_FpLong);
    PF_FpLong (*fmod)(PF_FpLong, PF_FpLong);
    PF_FpLong (*hypot)(PF_FpLong, PF_FpLong);
    PF_FpLong (*log)(PF_FpLong);
    PF_FpLong (*log10)(PF_FpLong);
    PF_FpLong (*pow)(PF_FpLong, PF_FpLong);
    PF_FpLong (*sin)(PF_FpLong);
    PF_FpLong (*sqrt)(PF_FpLong);
    PF_FpLong (*tan)(PF_FpLong);
    int (*sprintf)(A_char* buffer, const A_char* format, ...);
    A_char* (*strcpy)(A_char* dest, const A_char* src);
    PF_FpLong (*asin)(PF_FpLong);
    PF_FpLong (*acos)(PF_FpLong);
    A_long ansi_procs[1];
} PF_ANSICallbacks;

enum {
    PF_Xfer_NONE = -1,
    PF_Xfer_COPY = 0,
    PF_Xfer_BEHIND,
    PF_Xfer_IN_FRONT,
    PF_Xfer_DISSOLVE,
    PF_Xfer_ADD,
    PF_Xfer_MULTIPLY,
    PF_Xfer_SCREEN,
    PF_Xfer_OVERLAY,
    PF_Xfer_SOFT_LIGHT,
    PF_Xfer_HARD_LIGHT,
    PF_Xfer_DARKEN,
    PF_Xfer_LIGHTEN,
    PF_Xfer_DIFFERENCE,
    PF_Xfer_HUE,
    PF_Xfer_SATURATION,
    PF_Xfer_COLOR,
    PF_Xfer_LUMINOSITY,
    PF_Xfer_MULTIPLY_ALPHA,
    PF_Xfer_MULTIPLY_ALPHA_LUMA,
    PF_Xfer_MULTIPLY_NOT_ALPHA,
    PF_Xfer_MULTIPLY_NOT_ALPHA_LUMA,
    PF_Xfer_ADDITIVE_PREMUL,
    PF_Xfer_ALPHA_ADD,
    PF_Xfer_COLOR_DODGE,
    PF_Xfer_COLOR_BURN,
    PF_Xfer_EXCLUSION,
    PF_Xfer_DIFFERENCE2,
    PF_Xfer_COLOR_DODGE2,
    PF_Xfer_COLOR_BURN2,
    PF_Xfer_LINEAR_DODGE,
    PF_Xfer_LINEAR_BURN,
    PF_Xfer_LINEAR_LIGHT,
    PF_Xfer_VIVID_LIGHT,
    PF_Xfer_PIN_LIGHT,
    PF_Xfer_HARD_MIX,
    PF_Xfer_LIGHTER_COLOR,
    PF_Xfer_DARKER_COLOR,
    PF_Xfer_SUBTRACT,
    PF_Xfer_DIVIDE,
    PF_Xfer_NUM_MODES
};

typedef struct {
    PF_TransferMode xfer;
    A_long rand_seed;
    A_u_char opacity;
    PF_Boolean rgb_only;
    A_u_short opacitySu;
} PF_CompositeMode;

typedef struct {
    PF_EffectWorld mask;
    PF_Point offset;
    A_long what_is_mask;
} PF_MaskWorld;

enum {
    PF_Quality_DRAWING_AUDIO = -1,
    PF_Quality_LO = 0,
    PF_Quality_HI = 1,
};

enum {
    PF_MF_Alpha_PREMUL = 0,
    PF_MF_Alpha_STRAIGHT = 1L << 0,
};

enum {
    PF_Field_FRAME = 0L,
    PF_Field_UPPER = 1L,
    PF_Field_LOWER = 2L,
};

typedef PF_Err (*PF_IteratePixel8Func)(void* refcon, A_long x, A_long y, PF_Pixel* in, PF_Pixel* out);
typedef PF_Err (*PF_IteratePixelFloatFunc)(void* refcon, A_long x, A_long y, PF_PixelFloat* in,
                                            PF_PixelFloat* out);

// Utility callbacks. Entries this host does not serve are null.
typedef struct PF_UtilCallbacks {
    PF_Err (*begin_sampling)(void* effect_ref, PF_Quality qual, PF_ModeFlags mf, void* params);
    PF_Err (*subpixel_sample)(void* effect_ref, PF_Fixed x, PF_Fixed y, const void* params, PF_Pixel* dst_pixel);
    PF_Err (*area_sample)(void* effect_ref, PF_Fixed x, PF_Fixed y, const void* params, PF_Pixel* dst_pixel);
    void* get_batch_func_is_deprecated;
    PF_Err (*end_sampling)(void* effect_ref, PF_Quality qual, PF_ModeFlags mf, void* params);
    PF_Err (*composite_rect)(void* effect_ref, PF_Rect* src_rect, A_long src_opacity, PF_EffectWorld* source_wld,
                             A_long dest_x, A_long dest_y, PF_Field field_rdr, PF_TransferMode xfer_mode,
                             PF_EffectWorld* dest_wld);
    PF_Err (*blend)(void* effect_ref, const PF_EffectWorld* src1, const PF_EffectWorld* src2, PF_Fixed ratio,
                    PF_EffectWorld* dst);
    PF_Err (*convolve)(void* effect_ref, PF_EffectWorld* src, const PF_Rect* area, A_long flags,
                       A_long kernel_size, void* a_kernel, void* r_kernel, void* g_kernel, void* b_kernel,
                       PF_EffectWorld* dst);
    PF_Err (*copy)(void* effect_ref, PF_EffectWorld* src, PF_EffectWorld* dst, PF_Rect* src_r, PF_Rect* dst_r);
    PF_Err (*fill)(void* effect_ref, const PF_Pixel* color, const PF_Rect* dst_rect, PF_EffectWorld* world);
    PF_Err (*gaussian_kernel)(void* effect_ref, A_FpLong kRadius, A_long flags, A_FpLong multiplier,
                              A_long* diameter, void* kernel);
    PF_Err (*iterate)(PF_InData* in_data, A_long progress_base, A_long progress_final, PF_EffectWorld* src,
                      const PF_Rect* area, void* refcon, PF_IteratePixel8Func pix_fn, PF_EffectWorld* dst);
    PF_Err (*premultiply)(void* effect_ref, A_long forward, PF_EffectWorld* dst);
    PF_Err (*premultiply_color)(void* effect_ref, PF_EffectWorld* src, const PF_Pixel* color, A_long forward,
                                PF_EffectWorld* dst);
    PF_Err (*new_world)(void* effect_ref, A_long width, A_long height, PF_NewWorldFlags flags,
                        PF_EffectWorld* world);
    PF_Err (*dispose_world)(void* effect_ref, PF_EffectWorld* world);
    PF_Err (*iterate_origin)(PF_InData* in_data, A_long progress_base, A_long progress_final, PF_EffectWorld* src,
                             const PF_Rect* area, const PF_Point* origin, void* refcon,
                             PF_IteratePixel8Func pix_fn, PF_EffectWorld* dst);
    void* iterate_lut;
    PF_Err (*transfer_rect)(void* effect_ref, PF_Quality quality, PF_ModeFlags m_flags, PF_Field field,
                            const PF_Rect* src_rec, const PF_EffectWorld* src_world, const PF_CompositeMode* comp_mode,
                            const PF_MaskWorld* mask_world0, A_long dest_x, A_long dest_y, PF_EffectWorld* dst_world);
    PF_Err (*transform_world)(void* effect_ref, PF_Quality quality, PF_ModeFlags m_flags, PF_Field field,
                              const PF_EffectWorld* src_world, const PF_CompositeMode* comp_mode,
                              const PF_MaskWorld* mask_world0, const PF_FloatMatrix* matrices,
                              A_long num_matrices, PF_Boolean src2dst_matrix, const PF_Rect* dest_rect,
                              PF_EffectWorld* dst_world);
    PF_Handle (*host_new_handle)(A_HandleSize size);
    void* (*host_lock_handle)(PF_Handle pf_handle);
    void (*host_unlock_handle)(PF_Handle pf_handle);
    void (*host_dispose_handle)(PF_Handle pf_handle);
    PF_Err (*get_callback_addr)(void* effect_ref, PF_Quality quality, PF_ModeFlags mode_flags, A_long which_callback,
                                void** fn_ptr);
    PF_Err (*app)(void* effect_ref, A_long selector, ...);
    PF_ANSICallbacks ansi;
    void* colorCB;
    PF_Err (*get_platform_data)(void* effect_ref, A_long which, void* data);
    A_HandleSize (*host_get_handle_size)(PF_Handle pf_handle);
    PF_Err (*iterate_origin_non_clip_src)(PF_InData* in_data, A_long progress_base, A_long progress_final,
                                          PF_EffectWorld* src, const PF_Rect* area, const PF_Point* origin,
                                          void* refcon, PF_IteratePixel8Func pix_fn, PF_EffectWorld* dst);
    PF_Err (*iterate_generic)(A_long iterationsL, void* refconPV,
                              PF_Err (*fn_func)(void* refconPV, A_long thread_indexL, A_long i, A_long iterationsL));
    PF_Err (*host_resize_handle)(A_HandleSize new_sizeL, PF_Handle* handlePH);
    PF_Err (*subpixel_sample16)(void* effect_ref, PF_Fixed x, PF_Fixed y, const void* params, PF_Pixel16* dst_pixel);
    PF_Err (*area_sample16)(void* effect_ref, PF_Fixed x, PF_Fixed y, const void* params, PF_Pixel16* dst_pixel);
    PF_Err (*fill16)(void* effect_ref, const PF_Pixel16* color, const PF_Rect* dst_rect, PF_EffectWorld* world);
    void* premultiply_color16;
    void* iterate16;
    void* iterate_origin16;
    void* iterate_origin_non_clip_src16;
    PF_Err (*get_pixel_data8)(PF_EffectWorld* worldP, PF_PixelPtr pixelsP0, PF_Pixel8** pixPP);
    PF_Err (*get_pixel_data16)(PF_EffectWorld* worldP, PF_PixelPtr pixelsP0, PF_Pixel16** pixPP);
    A_long reserved[1];
} PF_UtilCallbacks;

// The handle macros of the SDK, for effect code that uses them.
#define PF_NEW_HANDLE(SIZE) (*in_data->utils->host_new_handle)((SIZE))
#define PF_LOCK_HANDLE(H) (*in_data->utils->host_lock_handle)((PF_Handle)(H))
#define PF_UNLOCK_HANDLE(H) (*in_data->utils->host_unlock_handle)((PF_Handle)(H))
#define PF_DISPOSE_HANDLE(H) (*in_data->utils->host_dispose_handle)((PF_Handle)(H))
#define PF_GET_HANDLE_SIZE(H) (*in_data->utils->host_get_handle_size)((PF_Handle)(H))
#define PF_SPRINTF (*in_data->utils->ansi.sprintf)
#define PF_STRCPY (*in_data->utils->ansi.strcpy)

// Smart pre-render and smart render records.
typedef struct {
    PF_LRect rect;
    PF_Field field;
    PF_ChannelMask channel_mask;
    PF_Boolean preserve_rgb_of_zero_alpha;
    char unused[3];
    A_long reserved[4];
} PF_RenderRequest;

typedef struct {
    PF_LRect result_rect;
    PF_LRect max_result_rect;
    PF_RationalScale par;
    A_long solid;
    PF_Boolean reservedB[3];
    A_long ref_width;
    A_long ref_height;
    A_long reserved[6];
} PF_CheckoutResult;

enum {
    PF_RenderOutputFlag_RETURNS_EXTRA_PIXELS = 0x1,
    PF_RenderOutputFlag_GPU_RENDER_POSSIBLE = 0x2,
    PF_RenderOutputFlag_RESERVED1 = 0x4,
};
typedef A_short PF_RenderOutputFlags;

typedef struct {
    PF_RenderRequest output_request;
    short bitdepth;
    const void* gpu_data;
    A_long what_gpu;
    A_u_long device_index;
} PF_PreRenderInput;

typedef void (*PF_DeletePreRenderDataFunc)(void* pre_render_data);

typedef struct {
    PF_LRect result_rect;
    PF_LRect max_result_rect;
    PF_Boolean solid;
    PF_Boolean reserved;
    PF_RenderOutputFlags flags;
    void* pre_render_data;
    PF_DeletePreRenderDataFunc delete_pre_render_data_func;
} PF_PreRenderOutput;

typedef struct {
    PF_Err (*checkout_layer)(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long checkout_idL,
                             const PF_RenderRequest* req, A_long what_time, A_long time_step, A_u_long time_scale,
                             PF_CheckoutResult* checkout_result);
    PF_Err (*GuidMixInPtr)(PF_ProgPtr effect_ref, A_u_long buf_sizeLu, const void* buf);
} PF_PreRenderCallbacks;

typedef struct {
    PF_PreRenderInput* input;
    PF_PreRenderOutput* output;
    PF_PreRenderCallbacks* cb;
} PF_PreRenderExtra;

typedef struct {
    PF_RenderRequest output_request;
    short bitdepth;
    void* pre_render_data;
    const void* gpu_data;
    A_long what_gpu;
    A_u_long device_index;
} PF_SmartRenderInput;

typedef struct {
    PF_Err (*checkout_layer_pixels)(PF_ProgPtr effect_ref, A_long checkout_idL, PF_EffectWorld** pixels);
    PF_Err (*checkin_layer_pixels)(PF_ProgPtr effect_ref, A_long checkout_idL);
    PF_Err (*checkout_output)(PF_ProgPtr effect_ref, PF_EffectWorld** output);
} PF_SmartRenderCallbacks;

typedef struct {
    PF_SmartRenderInput* input;
    PF_SmartRenderCallbacks* cb;
} PF_SmartRenderExtra;
