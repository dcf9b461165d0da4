// Custom user interface events (PF_Cmd_EVENT): the event record, its
// per-type information, the window a control lives in and the cursors.
#pragma once

#include "AE_EffectSuites.h"

enum {
    PF_Window_NONE = -1,
    PF_Window_COMP,
    PF_Window_LAYER,
    PF_Window_EFFECT,
    PF_Window_PREVIEW,
};
typedef A_long PF_WindowType;

// The window an event belongs to; the host owns it and hands it out by pointer.
struct _PF_ContextRef {
    A_u_long magic;
    PF_WindowType w_type;
    A_long reserved_flt;
    A_long plugin_state[4];
};
typedef struct _PF_ContextRef PF_Context;

enum {
    PF_Event_NEW_CONTEXT = 0,
    PF_Event_ACTIVATE,
    PF_Event_DO_CLICK,
    PF_Event_DRAG,
    PF_Event_DRAW,
    PF_Event_DEACTIVATE,
    PF_Event_CLOSE_CONTEXT,
    PF_Event_IDLE,
    PF_Event_KEYDOWN_OBSOLETE,
    PF_Event_ADJUST_CURSOR,
    PF_Event_KEYDOWN,
    PF_Event_MOUSE_EXITED,
    PF_Event_NUM_EVENTS
};
typedef A_long PF_EventType;

enum {
    PF_EA_NONE = 0,
    PF_EA_PARAM_TITLE,
    PF_EA_CONTROL,
};
typedef A_long PF_EffectArea;

enum {
    PF_EI_NONE = 0,
    PF_EI_DONT_DRAW = 1L << 0,
};
typedef A_long PF_EventInFlags;

enum {
    PF_EO_NONE = 0,
    PF_EO_HANDLED_EVENT = 1L << 0,
    PF_EO_ALWAYS_UPDATE = 1L << 1,
    PF_EO_NEVER_UPDATE = 1L << 2,
    PF_EO_UPDATE_NOW = 1L << 3,
};
typedef A_long PF_EventOutFlags;

enum {
    PF_Mod_NONE = 0,
    PF_Mod_CMD_CTRL_KEY = 1L << 8,
    PF_Mod_SHIFT_KEY = 1L << 9,
    PF_Mod_CAPS_LOCK_KEY = 1L << 10,
    PF_Mod_OPT_ALT_KEY = 1L << 11,
    PF_Mod_MAC_CONTROL_KEY = 1L << 12,
};
typedef A_long PF_Modifiers;

enum {
    PF_Cursor_NONE = 0,
    PF_Cursor_CUSTOM,
    PF_Cursor_ARROW,
    PF_Cursor_HOLLOW_ARROW,
    PF_Cursor_WATCH_N_WAIT,
    PF_Cursor_MAGNIFY,
    PF_Cursor_MAGNIFY_PLUS,
    PF_Cursor_MAGNIFY_MINUS,
    PF_Cursor_CROSSHAIRS,
    PF_Cursor_CROSS_RECT,
    PF_Cursor_CROSS_OVAL,
    PF_Cursor_CROSS_ROTATE,
    PF_Cursor_PAN,
    PF_Cursor_EYEDROPPER,
    PF_Cursor_HAND,
    PF_Cursor_PEN,
    PF_Cursor_PEN_ADD,
    PF_Cursor_PEN_DELETE,
    PF_Cursor_PEN_CLOSE,
    PF_Cursor_PEN_DRAG,
    PF_Cursor_PEN_CORNER,
    PF_Cursor_RESIZE_VERTICAL,
    PF_Cursor_RESIZE_HORIZONTAL,
    PF_Cursor_FINGER_POINTER,
};
typedef A_long PF_CursorType;

typedef struct {
    A_u_long when;
    PF_Point screen_point;
    A_long num_clicks;
    PF_Modifiers modifiers;
    A_intptr_t continue_refcon[4];
    PF_Boolean send_drag;
    PF_Boolean last_time;
} PF_DoClickEventInfo;

typedef struct {
    PF_Rect update_rect;
    A_long depth;
} PF_DrawEventInfo;

typedef struct {
    A_u_long when;
    PF_Point screen_point;
    A_long char_code;
    PF_Modifiers modifiers;
} PF_KeyDownEvent;

typedef struct {
    PF_Point screen_point;
    PF_Modifiers modifiers;
    PF_CursorType set_cursor;
} PF_AdjustCursorEventInfo;

typedef union {
    PF_DoClickEventInfo do_click;
    PF_DrawEventInfo draw;
    PF_KeyDownEvent key_down;
    PF_AdjustCursorEventInfo adjust_cursor;
} PF_EventUnion;

typedef struct {
    PF_ParamIndex index;
    PF_EffectArea area;
    PF_UnionableRect current_frame;
    PF_UnionableRect param_title_frame;
    A_long horiz_offset;
} PF_EffectWindowInfo;

typedef struct {
    void* refcon;
    PF_Err (*layer_to_comp)(void* refcon, PF_ContextH context, A_long curr_time, A_long time_scale,
                            PF_FixedPoint* pt);
    PF_Err (*comp_to_layer)(void* refcon, PF_ContextH context, A_long curr_time, A_long time_scale,
                            PF_FixedPoint* pt);
    PF_Err (*get_comp2layer_xform)(void* refcon, PF_ContextH context, A_long curr_time, A_long time_scale,
                                   A_long* exists, PF_FloatMatrix* comp2layer);
    PF_Err (*get_layer2comp_xform)(void* refcon, PF_ContextH context, A_long curr_time, A_long time_scale,
                                   PF_FloatMatrix* layer2comp);
    PF_Err (*source_to_frame)(void* refcon, PF_ContextH context, PF_FixedPoint* pt);
    PF_Err (*frame_to_source)(void* refcon, PF_ContextH context, PF_FixedPoint* pt);
    PF_Err (*info_draw_color)(void* refcon, PF_Pixel color);
    PF_Err (*info_draw_text)(void* refcon, const A_char* text1Z0, const A_char* text2Z0);
} PF_EventCallbacks;

typedef struct PF_EventExtra {
    PF_ContextH contextH;
    PF_EventType e_type;
    PF_EventUnion u;
    PF_EffectWindowInfo effect_win;
    PF_EventCallbacks cbs;
    PF_EventInFlags evt_in_flags;
    PF_EventOutFlags evt_out_flags;
} PF_EventExtra;
