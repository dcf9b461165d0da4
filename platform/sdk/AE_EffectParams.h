// Parameter definitions of the host's effect API. Included by AE_Effect.h.
#pragma once

enum {
    PF_Param_RESERVED = -1,
    PF_Param_LAYER = 0,
    PF_Param_SLIDER,
    PF_Param_FIX_SLIDER,
    PF_Param_ANGLE,
    PF_Param_CHECKBOX,
    PF_Param_COLOR,
    PF_Param_POINT,
    PF_Param_POPUP,
    PF_Param_CUSTOM,
    PF_Param_NO_DATA,
    PF_Param_FLOAT_SLIDER,
    PF_Param_ARBITRARY_DATA,
    PF_Param_PATH,
    PF_Param_GROUP_START,
    PF_Param_GROUP_END,
    PF_Param_BUTTON,
    PF_Param_RESERVED2,
    PF_Param_RESERVED3,
    PF_Param_POINT_3D,
};
typedef A_long PF_ParamType;

enum {
    PF_ParamFlag_NONE = 0,
    PF_ParamFlag_RESERVED1 = 1L << 0,
    PF_ParamFlag_CANNOT_TIME_VARY = 1L << 1,
    PF_ParamFlag_CANNOT_INTERP = 1L << 2,
    PF_ParamFlag_COLLAPSE_TWIRLY = 1L << 5,
    PF_ParamFlag_SUPERVISE = 1L << 6,
    PF_ParamFlag_START_COLLAPSED = PF_ParamFlag_COLLAPSE_TWIRLY,
    PF_ParamFlag_USE_VALUE_FOR_OLD_PROJECTS = 1L << 7,
    PF_ParamFlag_LAYER_PARAM_IS_TRACKMATTE = 1L << 7,
    PF_ParamFlag_EXCLUDE_FROM_HAVE_INPUTS_CHANGED = 1L << 8,
    PF_ParamFlag_SKIP_REVEAL_WHEN_UNHIDDEN = 1L << 9,
};
typedef A_long PF_ParamFlags;

enum {
    PF_PUI_NONE = 0,
    PF_PUI_TOPIC = 1L << 0,
    PF_PUI_CONTROL = 1L << 1,
    PF_PUI_STD_CONTROL_ONLY = 1L << 2,
    PF_PUI_NO_ECW_UI = 1L << 3,
    PF_PUI_ECW_SEPARATOR = 1L << 4,
    PF_PUI_DISABLED = 1L << 5,
    PF_PUI_DONT_ERASE_TOPIC = 1L << 6,
    PF_PUI_DONT_ERASE_CONTROL = 1L << 7,
    PF_PUI_RADIO_BUTTON = 1L << 8,
    PF_PUI_INVISIBLE = 1L << 9,
};
typedef A_long PF_ParamUIFlags;

enum {
    PF_ValueDisplayFlag_NONE = 0,
    PF_ValueDisplayFlag_PERCENT = 1 << 0,
    PF_ValueDisplayFlag_PIXEL = 1 << 1,
    PF_ValueDisplayFlag_REVERSE = 1 << 3,
};
typedef A_short PF_ValueDisplayFlags;

enum {
    PF_ChangeFlag_NONE = 0,
    PF_ChangeFlag_CHANGED_VALUE = 1L << 0,
    PF_ChangeFlag_RESERVED = 1L << 1,
    PF_ChangeFlag_SET_TO_VARY = 1L << 2,
    PF_ChangeFlag_SET_TO_CONSTANT = 1L << 3,
};
typedef A_long PF_ChangeFlags;

typedef struct {
    PF_ParamValue value;
    A_char value_str[PF_MAX_PARAM_VALUE_LEN + 1];
    A_char value_desc[PF_MAX_PARAM_DESCRIPTION_LEN + 1];
    PF_ParamValue valid_min, valid_max;
    PF_ParamValue slider_min, slider_max;
    PF_ParamValue dephault;
} PF_SliderDef;

typedef struct {
    PF_Fixed value;
    A_char value_str[PF_MAX_PARAM_VALUE_LEN + 1];
    A_char value_desc[PF_MAX_PARAM_DESCRIPTION_LEN + 1];
    PF_Fixed valid_min, valid_max;
    PF_Fixed slider_min, slider_max;
    PF_Fixed dephault;
    A_short precision;
    A_short display_flags;
} PF_FixedSliderDef;

enum { PF_FSliderFlag_NONE = 0, PF_FSliderFlag_WANT_PHASE = 1L << 0 };
typedef A_u_long PF_FSliderFlags;

typedef struct {
    PF_FpLong value;
    PF_FpLong phase;
    A_char value_desc[PF_MAX_PARAM_DESCRIPTION_LEN + 1];
    PF_FpShort valid_min, valid_max;
    PF_FpShort slider_min, slider_max;
    PF_FpShort dephault;
    A_short precision;
    A_short display_flags;
    PF_FSliderFlags fs_flags;
    PF_FpShort curve_tolerance;
    PF_Boolean useExponent;
    PF_FpShort exponent;
} PF_FloatSliderDef;

typedef struct {
    PF_Fixed value;
    PF_Fixed dephault;
    PF_Fixed valid_min, valid_max;
} PF_AngleDef;

typedef struct {
    PF_ParamValue value;
    PF_Boolean dephault;
    A_char reserved;
    A_short reserved1;
    union {
        const A_char* nameptr;
    } u;
} PF_CheckBoxDef;

typedef struct {
    PF_UnionablePixel value;
    PF_UnionablePixel dephault;
} PF_ColorDef;

typedef struct {
    PF_Fixed x_value;
    PF_Fixed y_value;
    A_char reserved[3];
    PF_Boolean restrict_bounds;
    PF_Fixed x_dephault;
    PF_Fixed y_dephault;
} PF_PointDef;

typedef struct {
    PF_ParamValue value;
    A_short num_choices;
    A_short dephault;
    union {
        const A_char* namesptr;
    } u;
} PF_PopupDef;

typedef struct {
    PF_ParamValue value;
    union {
        const A_char* namesptr;
    } u;
} PF_ButtonDef;

typedef struct {
    A_short id;
    A_short pad;
    PF_ArbitraryH dephault;
    PF_ArbitraryH value;
    void* refconPV;
} PF_ArbitraryDef;

typedef struct {
    PF_FpLong x_value, y_value, z_value;
    PF_FpLong x_dephault, y_dephault, z_dephault;
    char reserved[16];
} PF_Point3DDef;

typedef union {
    PF_LayerDef ld;
    PF_SliderDef sd;
    PF_FixedSliderDef fd;
    PF_AngleDef ad;
    PF_CheckBoxDef bd;
    PF_ColorDef cd;
    PF_PointDef td;
    PF_PopupDef pd;
    PF_FloatSliderDef fs_d;
    PF_ArbitraryDef arb_d;
    PF_ButtonDef button_d;
    PF_Point3DDef point3d_d;
} PF_ParamDefUnion;

typedef struct PF_ParamDef {
    union {
        A_long id;
        PF_ChangeFlags change_flags;
    } uu;
    PF_ParamUIFlags ui_flags;
    A_short ui_width;
    A_short ui_height;
    PF_ParamType param_type;
    A_char name[PF_MAX_EFFECT_PARAM_NAME_LEN + 1];
    PF_ParamFlags flags;
    A_long unused;
    PF_ParamDefUnion u;
} PF_ParamDef;

typedef PF_ParamDef** PF_ParamList;

// Arbitrary-data callbacks (PF_Cmd_ARBITRARY_CALLBACK).
enum {
    PF_Arbitrary_NEW_FUNC = 0,
    PF_Arbitrary_DISPOSE_FUNC,
    PF_Arbitrary_COPY_FUNC,
    PF_Arbitrary_FLAT_SIZE_FUNC,
    PF_Arbitrary_FLATTEN_FUNC,
    PF_Arbitrary_UNFLATTEN_FUNC,
    PF_Arbitrary_INTERP_FUNC,
    PF_Arbitrary_COMPARE_FUNC,
    PF_Arbitrary_PRINT_SIZE_FUNC,
    PF_Arbitrary_PRINT_FUNC,
    PF_Arbitrary_SCAN_FUNC,
};
typedef A_long PF_FunctionSelector;

enum {
    PF_ArbCompare_EQUAL = 0,
    PF_ArbCompare_LESS,
    PF_ArbCompare_MORE,
    PF_ArbCompare_NOT_EQUAL,
};
typedef A_long PF_ArbCompareResult;

typedef struct {
    PF_FunctionSelector which_function;
    A_short id;
    A_short padding;
    union {
        struct {
            void* refconPV;
            PF_ArbitraryH* arbPH;
        } new_func_params;
        struct {
            void* refconPV;
            PF_ArbitraryH arbH;
        } dispose_func_params;
        struct {
            void* refconPV;
            PF_ArbitraryH src_arbH;
            PF_ArbitraryH* dst_arbPH;
        } copy_func_params;
        struct {
            void* refconPV;
            PF_ArbitraryH arbH;
            A_u_long* flat_data_sizePLu;
        } flat_size_func_params;
        struct {
            void* refconPV;
            PF_ArbitraryH arbH;
            A_u_long buf_sizeLu;
            void* flat_dataPV;
        } flatten_func_params;
        struct {
            void* refconPV;
            A_u_long buf_sizeLu;
            const void* flat_dataPV;
            PF_ArbitraryH* arbPH;
        } unflatten_func_params;
        struct {
            void* refconPV;
            PF_ArbitraryH left_arbH;
            PF_ArbitraryH right_arbH;
            PF_FpLong tF;
            PF_ArbitraryH* interpPH;
        } interp_func_params;
        struct {
            void* refconPV;
            PF_ArbitraryH a_arbH;
            PF_ArbitraryH b_arbH;
            PF_ArbCompareResult* compareP;
        } compare_func_params;
        struct {
            void* refconPV;
            PF_ArbitraryH arbH;
            A_u_long* print_sizePLu;
        } print_size_func_params;
        struct {
            void* refconPV;
            A_long print_flags;
            PF_ArbitraryH arbH;
            A_u_long print_sizeLu;
            A_char* print_bufferPC;
        } print_func_params;
        struct {
            void* refconPV;
            const A_char* bufPC;
            A_u_long bytes_to_scanLu;
            PF_ArbitraryH* arbPH;
        } scan_func_params;
    } u;
} PF_ArbParamsExtra;

// Custom UI registration.
enum {
    PF_CustomEFlag_NONE = 0,
    PF_CustomEFlag_COMP = 1L << 0,
    PF_CustomEFlag_LAYER = 1L << 1,
    PF_CustomEFlag_EFFECT = 1L << 2,
    PF_CustomEFlag_PREVIEW = 1L << 3,
};
typedef A_long PF_CustomEventFlags;

typedef struct PF_CustomUIInfo {
    A_long reserved;
    PF_CustomEventFlags events;
    A_long comp_ui_width;
    A_long comp_ui_height;
    A_long comp_ui_alignment;
    A_long layer_ui_width;
    A_long layer_ui_height;
    A_long layer_ui_alignment;
    A_long preview_ui_width;
    A_long preview_ui_height;
    A_long preview_ui_alignment;
    void* events_func;
} PF_CustomUIInfo;

typedef struct {
    PF_ParamIndex param_index;
} PF_UserChangedParamExtra;
