// Records, commands, error codes and flags of the host's effect API.
// Values that an effect or a saved project depends on are the host's; the
// rest are this stand-in's own and live only here.
#pragma once

#include "A.h"
#include "SPBasic.h"

#define PF_MAX_EFFECT_NAME_LEN 31
#define PF_MAX_EFFECT_MSG_LEN 255
#define PF_MAX_EFFECT_PARAM_NAME_LEN 31
#define PF_MAX_PARAM_DESCRIPTION_LEN 31
#define PF_MAX_PARAM_VALUE_LEN 31
#define PF_MAX_CHANNEL_NAME_LEN 63

#define PF_VERSION(vers, subvers, bugvers, stage, build)                                      \
    (A_u_long)((((A_u_long)(vers)&0x7) << 19) | (((A_u_long)(subvers)&0xf) << 15) |          \
               (((A_u_long)(bugvers)&0xf) << 11) | (((A_u_long)(stage)&0x3) << 9) |          \
               ((A_u_long)(build)&0x1ff))

enum { PF_Stage_DEVELOP = 0, PF_Stage_ALPHA, PF_Stage_BETA, PF_Stage_RELEASE };

typedef A_long PF_Err;
typedef A_long PF_Fixed;
typedef A_u_char PF_UFixed8;
typedef A_Boolean PF_Boolean;
typedef A_FpLong PF_FpLong;
typedef A_FpShort PF_FpShort;
typedef A_u_long PF_ChannelMask;
typedef A_long PF_ParamIndex;
typedef void** PF_Handle;
typedef A_long PF_ParamValue;
typedef PF_Handle PF_ArbitraryH;
typedef struct _PF_ProgressInfo* PF_ProgPtr;
typedef A_long PF_Quality;
typedef A_long PF_ModeFlags;
typedef A_long PF_Field;
typedef A_long PF_PixelFormat;
typedef A_long PF_TransferMode;
typedef A_long PF_CheckoutIdx;
typedef void* PF_PluginDataPtr;

#define PF_FIXED_ONE ((PF_Fixed)0x00010000L)
#define INT2FIX(i) ((PF_Fixed)(i) << 16)
#define FIX2INT(f) ((A_long)(f) >> 16)
#define FIX_2_FLOAT(f) ((PF_FpLong)(f) / 65536.0)
#define FLOAT2FIX(d) ((PF_Fixed)((d)*65536.0 + ((d) < 0 ? -0.5 : 0.5)))

// Error codes (the host's values).
enum {
    PF_Err_NONE = 0,
    PF_Err_OUT_OF_MEMORY = 4,
    PF_Err_INTERNAL_STRUCT_DAMAGED = 512,
    PF_Err_INVALID_INDEX,
    PF_Err_UNRECOGNIZED_PARAM_TYPE,
    PF_Err_INVALID_CALLBACK,
    PF_Err_BAD_CALLBACK_PARAM,
    PF_Interrupt_CANCEL,
    PF_Err_CANNOT_PARSE_KEYFRAME_TEXT,
};

// Commands (the host's numbering).
enum {
    PF_Cmd_ABOUT = 0,
    PF_Cmd_GLOBAL_SETUP,
    PF_Cmd_UNUSED_0,
    PF_Cmd_GLOBAL_SETDOWN,
    PF_Cmd_PARAMS_SETUP,
    PF_Cmd_SEQUENCE_SETUP,
    PF_Cmd_SEQUENCE_RESETUP,
    PF_Cmd_SEQUENCE_FLATTEN,
    PF_Cmd_SEQUENCE_SETDOWN,
    PF_Cmd_DO_DIALOG,
    PF_Cmd_FRAME_SETUP,
    PF_Cmd_RENDER,
    PF_Cmd_FRAME_SETDOWN,
    PF_Cmd_USER_CHANGED_PARAM,
    PF_Cmd_UPDATE_PARAMS_UI,
    PF_Cmd_EVENT,
    PF_Cmd_GET_EXTERNAL_DEPENDENCIES,
    PF_Cmd_COMPLETELY_GENERAL,
    PF_Cmd_QUERY_DYNAMIC_FLAGS,
    PF_Cmd_AUDIO_RENDER,
    PF_Cmd_AUDIO_SETUP,
    PF_Cmd_AUDIO_SETDOWN,
    PF_Cmd_ARBITRARY_CALLBACK,
    PF_Cmd_SMART_PRE_RENDER,
    PF_Cmd_SMART_RENDER,
    PF_Cmd_RESERVED1,
    PF_Cmd_NUM_CMDS
};
typedef A_long PF_Cmd;

// Output flags declared at global setup.
enum {
    PF_OutFlag_NONE = 0,
    PF_OutFlag_KEEP_RESOURCE_OPEN = 1L << 0,
    PF_OutFlag_WIDE_TIME_INPUT = 1L << 1,
    PF_OutFlag_NON_PARAM_VARY = 1L << 2,
    PF_OutFlag_SEQUENCE_DATA_NEEDS_FLATTENING = 1L << 4,
    PF_OutFlag_I_DO_DIALOG = 1L << 5,
    PF_OutFlag_USE_OUTPUT_EXTENT = 1L << 6,
    PF_OutFlag_SEND_DO_DIALOG = 1L << 7,
    PF_OutFlag_DISPLAY_ERROR_MESSAGE = 1L << 8,
    PF_OutFlag_I_EXPAND_BUFFER = 1L << 9,
    PF_OutFlag_PIX_INDEPENDENT = 1L << 10,
    PF_OutFlag_I_WRITE_INPUT_BUFFER = 1L << 11,
    PF_OutFlag_I_SHRINK_BUFFER = 1L << 12,
    PF_OutFlag_WORKS_IN_PLACE = 1L << 13,
    PF_OutFlag_CUSTOM_UI = 1L << 15,
    PF_OutFlag_REFRESH_UI = 1L << 17,
    PF_OutFlag_NOP_RENDER = 1L << 18,
    PF_OutFlag_I_USE_SHUTTER_ANGLE = 1L << 19,
    PF_OutFlag_I_USE_AUDIO = 1L << 20,
    PF_OutFlag_I_AM_OBSOLETE = 1L << 21,
    PF_OutFlag_FORCE_RERENDER = 1L << 22,
    PF_OutFlag_PiPL_OVERRIDES_OUTDATA_OUTFLAGS = 1L << 23,
    PF_OutFlag_I_HAVE_EXTERNAL_DEPENDENCIES = 1L << 24,
    PF_OutFlag_DEEP_COLOR_AWARE = 1L << 25,
    PF_OutFlag_SEND_UPDATE_PARAMS_UI = 1L << 26,
};
typedef A_long PF_OutFlags;

enum {
    PF_OutFlag2_NONE = 0,
    PF_OutFlag2_SUPPORTS_QUERY_DYNAMIC_FLAGS = 1L << 0,
    PF_OutFlag2_I_USE_3D_CAMERA = 1L << 1,
    PF_OutFlag2_I_USE_3D_LIGHTS = 1L << 2,
    PF_OutFlag2_PARAM_GROUP_START_COLLAPSED_FLAG = 1L << 3,
    PF_OutFlag2_I_AM_THREADSAFE = 1L << 4,
    PF_OutFlag2_CAN_COMBINE_WITH_DESTINATION = 1L << 5,
    PF_OutFlag2_DOESNT_NEED_EMPTY_PIXELS = 1L << 6,
    PF_OutFlag2_REVEALS_ZERO_ALPHA = 1L << 7,
    PF_OutFlag2_PRESERVES_FULLY_OPAQUE_PIXELS = 1L << 8,
    PF_OutFlag2_SUPPORTS_SMART_RENDER = 1L << 10,
    PF_OutFlag2_FLOAT_COLOR_AWARE = 1L << 12,
    PF_OutFlag2_I_USE_COLORSPACE_ENUMERATION = 1L << 13,
    PF_OutFlag2_I_AM_DEPRECATED = 1L << 14,
    PF_OutFlag2_AUTOMATIC_WIDE_TIME_INPUT = 1L << 16,
    PF_OutFlag2_I_USE_TIMECODE = 1L << 17,
    PF_OutFlag2_DEPENDS_ON_UNREFERENCED_MASKS = 1L << 18,
    PF_OutFlag2_OUTPUT_IS_WATERMARKED = 1L << 19,
    PF_OutFlag2_I_MIX_GUID_DEPENDENCIES = 1L << 20,
    PF_OutFlag2_SUPPORTS_GET_FLATTENED_SEQUENCE_DATA = 1L << 22,
    PF_OutFlag2_CUSTOM_UI_ASYNC_MANAGER = 1L << 23,
    PF_OutFlag2_SUPPORTS_GPU_RENDER_F32 = 1L << 24,
    PF_OutFlag2_SUPPORTS_THREADED_RENDERING = 1L << 27,
    PF_OutFlag2_MUTABLE_RENDER_SEQUENCE_DATA_SLOWER = 1L << 28,
};
typedef A_long PF_OutFlags2;

enum { PF_InFlag_NONE = 0, PF_InFlag_PROJECT_IS_RENDER_ONLY = 1L << 0 };
typedef A_long PF_InFlags;

// Four-character application ids, read big-endian.
#define PF_APPL_ID(a, b, c, d) \
    ((A_long)(((A_u_long)(a) << 24) | ((A_u_long)(b) << 16) | ((A_u_long)(c) << 8) | (A_u_long)(d)))

// Pixels: alpha first, as the host stores them.
typedef struct {
    A_u_char alpha, red, green, blue;
} PF_Pixel;
typedef PF_Pixel PF_Pixel8;
typedef PF_Pixel PF_UnionablePixel;

typedef struct {
    A_u_short alpha, red, green, blue;
} PF_Pixel16;

typedef struct {
    PF_FpShort alpha, red, green, blue;
} PF_PixelFloat, PF_Pixel32;

typedef PF_Pixel* PF_PixelPtr;

#define PF_MAX_CHAN8 255
#define PF_HALF_CHAN8 128
#define PF_MAX_CHAN16 32768
#define PF_HALF_CHAN16 16384

typedef struct {
    A_long left, top, right, bottom;
} PF_LRect;
typedef PF_LRect PF_Rect;
typedef PF_LRect PF_UnionableRect;

typedef struct {
    PF_Fixed left, top, right, bottom;
} PF_FixedRect;

typedef struct {
    PF_Fixed x, y;
} PF_FixedPoint;

typedef struct {
    A_long h, v;
} PF_Point;

typedef struct {
    PF_FpLong x, y;
} PF_FloatPoint;

typedef struct {
    A_long num;
    A_u_long den;
} PF_RationalScale;

typedef struct {
    PF_FpLong mat[3][3];
} PF_FloatMatrix;

typedef struct {
    PF_Fixed mat[3][3];
} PF_Matrix;

typedef A_long PF_WorldFlags;
enum {
    PF_WorldFlag_DEEP = 1L << 0,
    PF_WorldFlag_WRITEABLE = 1L << 1,
    PF_WorldFlag_RESERVED0 = 1L << 24,
    PF_WorldFlag_RESERVED1 = 1L << 25,
};

enum {
    PF_NewWorldFlag_NONE = 0,
    PF_NewWorldFlag_CLEAR_PIXELS = 1L << 0,
    PF_NewWorldFlag_DEEP_PIXELS = 1L << 1,
};
typedef A_long PF_NewWorldFlags;

// A host pixel buffer.
typedef struct PF_LayerDef {
    void* reserved0;
    void* reserved1;
    PF_WorldFlags world_flags;
    PF_PixelPtr data;
    A_long rowbytes;
    A_long width;
    A_long height;
    PF_UnionableRect extent_hint;
    void* platform_ref;
    A_long reserved_long1;
    void* reserved_long4;
    PF_RationalScale pix_aspect_ratio;
    void* reserved_long2;
    A_long origin_x;
    A_long origin_y;
    A_long reserved_long3;
    A_long dephault;
} PF_LayerDef;
typedef PF_LayerDef PF_EffectWorld;

enum {
    PF_PixelFormat_ARGB32 = 0x61726762,   // 'argb'
    PF_PixelFormat_ARGB64 = 0x61653136,   // 'ae16'
    PF_PixelFormat_ARGB128 = 0x61653332,  // 'ae32'
    PF_PixelFormat_GPU_BGRA128 = 0x67703132,
    PF_PixelFormat_INVALID = 0x62616466,  // 'badf'
};

// Interactive callbacks handed in PF_InData::inter.
struct PF_ParamDef;
typedef struct {
    PF_Err (*checkout_param)(void* effect_ref, PF_ParamIndex index, A_long what_time, A_long time_step,
                             A_u_long time_scale, struct PF_ParamDef* param);
    PF_Err (*checkin_param)(void* effect_ref, struct PF_ParamDef* param);
    PF_Err (*add_param)(void* effect_ref, PF_ParamIndex index, struct PF_ParamDef* def);
    PF_Err (*abort)(void* effect_ref);
    PF_Err (*progress)(void* effect_ref, A_long current, A_long total);
    PF_Err (*register_ui)(void* effect_ref, struct PF_CustomUIInfo* cust_info);
    PF_Err (*checkout_layer_audio)(void* effect_ref, PF_ParamIndex index, A_long start_time, A_long duration,
                                   A_u_long time_scale, void* rate, A_long bytes_per_sample,
                                   A_long num_channels, A_long fmt_signed, void** audio);
    PF_Err (*checkin_layer_audio)(void* effect_ref, void* audio);
    PF_Err (*get_audio_data)(void* effect_ref, void* audio, void** data0, A_long* num_samples0, void* rate0,
                             A_long* bytes_per_sample0, A_long* num_channels0, A_long* fmt_signed0);
    void* reserved_str[3];
    void* reserved[10];
} PF_InteractCallbacks;

struct PF_UtilCallbacks;

typedef struct PF_InData {
    PF_InteractCallbacks inter;
    struct PF_UtilCallbacks* utils;
    PF_ProgPtr effect_ref;
    PF_Quality quality;
    struct {
        A_short major;
        A_short minor;
    } version;
    A_long serial_num;
    A_long appl_id;
    A_long num_params;
    A_long reserved;
    A_long what_cpu;
    A_long what_fpu;
    A_long current_time;
    A_long time_step;
    A_long total_time;
    A_long local_time_step;
    A_u_long time_scale;
    PF_Field field;
    PF_Fixed shutter_angle;
    A_long width;
    A_long height;
    PF_Rect extent_hint;
    A_long output_origin_x;
    A_long output_origin_y;
    PF_RationalScale downsample_x;
    PF_RationalScale downsample_y;
    PF_RationalScale pixel_aspect_ratio;
    PF_InFlags in_flags;
    PF_Handle global_data;
    PF_Handle sequence_data;
    PF_Handle frame_data;
    A_long start_sampL;
    A_long dur_sampL;
    A_long total_sampL;
    void* src_snd;
    SPBasicSuite* pica_basicP;
    A_long pre_effect_source_origin_x;
    A_long pre_effect_source_origin_y;
    PF_Fixed shutter_phase;
} PF_InData;

typedef struct PF_OutData {
    A_u_long my_version;
    A_char name[32];
    PF_Handle global_data;
    A_long num_params;
    PF_Handle sequence_data;
    A_long flat_sdata_size;
    PF_Handle frame_data;
    A_long width;
    A_long height;
    PF_Point origin;
    PF_OutFlags out_flags;
    A_char return_msg[PF_MAX_EFFECT_MSG_LEN + 1];
    A_long start_sampL;
    A_long dur_sampL;
    void* dest_snd;
    PF_OutFlags2 out_flags2;
} PF_OutData;

// Registration callback handed to PluginDataEntryFunction2.
typedef PF_Err (*PF_PluginDataCB2)(PF_PluginDataPtr inPtr, const A_u_char* inNameZ,
                                   const A_u_char* inMatchNameZ, const A_u_char* inCategoryZ,
                                   const A_u_char* inEntryPointNameZ, A_long inkind,
                                   A_long inApiVersionMajor, A_long inApiVersionMinor,
                                   A_long inReservedInfo, const A_u_char* inSupportURLZ);

#include "AE_EffectParams.h"
#include "AE_EffectCB.h"
