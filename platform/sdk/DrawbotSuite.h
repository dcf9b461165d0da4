// DRAWBOT: the host's 2-D drawing suites for custom controls.
#pragma once

#include "A.h"

typedef A_long DRAWBOT_Boolean;

typedef struct _DRAWBOT_ObjectRef* DRAWBOT_ObjectRef;
typedef struct _DRAWBOT_DrawRef* DRAWBOT_DrawRef;
typedef struct _DRAWBOT_SupplierRef* DRAWBOT_SupplierRef;
typedef struct _DRAWBOT_SurfaceRef* DRAWBOT_SurfaceRef;
typedef struct _DRAWBOT_PathRef* DRAWBOT_PathRef;
typedef struct _DRAWBOT_PenRef* DRAWBOT_PenRef;
typedef struct _DRAWBOT_BrushRef* DRAWBOT_BrushRef;
typedef struct _DRAWBOT_ImageRef* DRAWBOT_ImageRef;
typedef struct _DRAWBOT_FontRef* DRAWBOT_FontRef;

typedef struct {
    A_long x, y;
} A_LPoint;

typedef struct {
    float red, green, blue, alpha;
} DRAWBOT_ColorRGBA;

typedef struct {
    float x, y;
} DRAWBOT_PointF32;

typedef struct {
    float left, top, width, height;
} DRAWBOT_RectF32;

typedef struct {
    A_long left, top, width, height;
} DRAWBOT_Rect32;

typedef struct {
    float mat[3][3];
} DRAWBOT_MatrixF32;

enum {
    kDRAWBOT_PixelLayout_24RGB = 0,
    kDRAWBOT_PixelLayout_24BGR,
    kDRAWBOT_PixelLayout_32RGB,
    kDRAWBOT_PixelLayout_32BGR,
    kDRAWBOT_PixelLayout_32ARGB_Straight,
    kDRAWBOT_PixelLayout_32ARGB_Premul,
    kDRAWBOT_PixelLayout_32BGRA_Straight,
    kDRAWBOT_PixelLayout_32BGRA_Premul,
};
typedef A_long DRAWBOT_PixelLayout;

enum {
    kDRAWBOT_TextAlignment_Left = 0,
    kDRAWBOT_TextAlignment_Center,
    kDRAWBOT_TextAlignment_Right,
};
typedef A_long DRAWBOT_TextAlignment;

enum {
    kDRAWBOT_TextTruncation_None = 0,
    kDRAWBOT_TextTruncation_EndEllipsis,
    kDRAWBOT_TextTruncation_PathEllipsis,
};
typedef A_long DRAWBOT_TextTruncation;

enum {
    kDRAWBOT_FillType_EvenOdd = 0,
    kDRAWBOT_FillType_Winding,
};
typedef A_long DRAWBOT_FillType;

enum {
    kDRAWBOT_InterpolationPolicy_None = 0,
    kDRAWBOT_InterpolationPolicy_Med,
    kDRAWBOT_InterpolationPolicy_High,
};
typedef A_long DRAWBOT_InterpolationPolicy;

enum {
    kDRAWBOT_AntiAliasPolicy_None = 0,
    kDRAWBOT_AntiAliasPolicy_Medium,
    kDRAWBOT_AntiAliasPolicy_High,
};
typedef A_long DRAWBOT_AntiAliasPolicy;

enum {
    kDRAWBOT_PathDirection_Clockwise = 0,
    kDRAWBOT_PathDirection_CounterClockwise,
};
typedef A_long DRAWBOT_PathDirection;

#define kDRAWBOT_DrawSuite "DRAWBOT Draw Suite"
#define kDRAWBOT_DrawSuite_Version1 1
typedef struct DRAWBOT_DrawbotSuite1 {
    A_Err (*GetSupplier)(DRAWBOT_DrawRef in_drawbot_ref, DRAWBOT_SupplierRef* out_supplierP);
    A_Err (*GetSurface)(DRAWBOT_DrawRef in_drawbot_ref, DRAWBOT_SurfaceRef* out_surfaceP);
} DRAWBOT_DrawbotSuite1;

#define kDRAWBOT_SupplierSuite "DRAWBOT Supplier Suite"
#define kDRAWBOT_SupplierSuite_Version1 1
typedef struct DRAWBOT_SupplierSuite1 {
    A_Err (*NewPen)(DRAWBOT_SupplierRef in_supplier_ref, const DRAWBOT_ColorRGBA* in_colorP, float in_size,
                    DRAWBOT_PenRef* out_penP);
    A_Err (*NewBrush)(DRAWBOT_SupplierRef in_supplier_ref, const DRAWBOT_ColorRGBA* in_colorP,
                      DRAWBOT_BrushRef* out_brushP);
    A_Err (*SupportsText)(DRAWBOT_SupplierRef in_supplier_ref, DRAWBOT_Boolean* out_supports_textB);
    A_Err (*GetDefaultFontSize)(DRAWBOT_SupplierRef in_supplier_ref, float* out_font_sizeF);
    A_Err (*NewDefaultFont)(DRAWBOT_SupplierRef in_supplier_ref, float in_font_sizeF, DRAWBOT_FontRef* out_fontP);
    A_Err (*NewImageFromBuffer)(DRAWBOT_SupplierRef in_supplier_ref, A_long in_width, A_long in_height,
                                A_long in_row_bytes, DRAWBOT_PixelLayout in_pl, const void* in_dataP,
                                DRAWBOT_ImageRef* out_imageP);
    A_Err (*NewPath)(DRAWBOT_SupplierRef in_supplier_ref, DRAWBOT_PathRef* out_pathP);
    A_Err (*SupportsPixelLayoutBGRA)(DRAWBOT_SupplierRef in_supplier_ref, DRAWBOT_Boolean* out_supports_bgraPB);
    A_Err (*PrefersPixelLayoutBGRA)(DRAWBOT_SupplierRef in_supplier_ref, DRAWBOT_Boolean* out_prefers_bgraPB);
    A_Err (*SupportsPixelLayoutARGB)(DRAWBOT_SupplierRef in_supplier_ref, DRAWBOT_Boolean* out_supports_argbPB);
    A_Err (*PrefersPixelLayoutARGB)(DRAWBOT_SupplierRef in_supplier_ref, DRAWBOT_Boolean* out_prefers_argbPB);
    A_Err (*RetainObject)(DRAWBOT_ObjectRef in_obj_ref);
    A_Err (*ReleaseObject)(DRAWBOT_ObjectRef in_obj_ref);
} DRAWBOT_SupplierSuite1;

#define kDRAWBOT_SurfaceSuite "DRAWBOT Surface Suite"
#define kDRAWBOT_SurfaceSuite_Version1 1
#define kDRAWBOT_SurfaceSuite_Version2 2
typedef struct DRAWBOT_SurfaceSuite1 {
    A_Err (*PushStateStack)(DRAWBOT_SurfaceRef in_surface_ref);
    A_Err (*PopStateStack)(DRAWBOT_SurfaceRef in_surface_ref);
    A_Err (*PaintRect)(DRAWBOT_SurfaceRef in_surface_ref, const DRAWBOT_ColorRGBA* in_colorP,
                       const DRAWBOT_RectF32* in_rectPR);
    A_Err (*FillPath)(DRAWBOT_SurfaceRef in_surface_ref, DRAWBOT_BrushRef in_brush_ref, DRAWBOT_PathRef in_path_ref,
                      DRAWBOT_FillType in_fill_type);
    A_Err (*StrokePath)(DRAWBOT_SurfaceRef in_surface_ref, DRAWBOT_PenRef in_pen_ref, DRAWBOT_PathRef in_path_ref);
    A_Err (*Clip)(DRAWBOT_SurfaceRef in_surface_ref, DRAWBOT_SupplierRef in_supplier_ref,
                  const DRAWBOT_Rect32* in_rectPR);
    A_Err (*GetClipBounds)(DRAWBOT_SurfaceRef in_surface_ref, DRAWBOT_Rect32* out_rectPR);
    A_Err (*IsWithinClipBounds)(DRAWBOT_SurfaceRef in_surface_ref, const DRAWBOT_Rect32* in_rectPR,
                                DRAWBOT_Boolean* out_withinPB);
    A_Err (*Transform)(DRAWBOT_SurfaceRef in_surface_ref, const DRAWBOT_MatrixF32* in_matrixP);
    A_Err (*DrawString)(DRAWBOT_SurfaceRef in_surface_ref, DRAWBOT_BrushRef in_brush_ref,
                        DRAWBOT_FontRef in_font_ref, const A_UTF16Char* in_stringP,
                        const DRAWBOT_PointF32* in_originP, DRAWBOT_TextAlignment in_alignment_style,
                        DRAWBOT_TextTruncation in_truncation_style, float in_truncation_width);
    A_Err (*DrawImage)(DRAWBOT_SurfaceRef in_surface_ref, DRAWBOT_ImageRef in_image_ref,
                       const DRAWBOT_PointF32* in_originP, float in_alpha);
    A_Err (*SetInterpolationPolicy)(DRAWBOT_SurfaceRef in_surface_ref, DRAWBOT_InterpolationPolicy in_interp);
    A_Err (*GetInterpolationPolicy)(DRAWBOT_SurfaceRef in_surface_ref, DRAWBOT_InterpolationPolicy* out_interpP);
    A_Err (*SetAntiAliasPolicy)(DRAWBOT_SurfaceRef in_surface_ref, DRAWBOT_AntiAliasPolicy in_policy);
    A_Err (*GetAntiAliasPolicy)(DRAWBOT_SurfaceRef in_surface_ref, DRAWBOT_AntiAliasPolicy* out_policyP);
    A_Err (*Flush)(DRAWBOT_SurfaceRef in_surface_ref);
} DRAWBOT_SurfaceSuite1;

typedef struct DRAWBOT_SurfaceSuite2 {
    A_Err (*PushStateStack)(DRAWBOT_SurfaceRef in_surface_ref);
    A_Err (*PopStateStack)(DRAWBOT_SurfaceRef in_surface_ref);
    A_Err (*PaintRect)(DRAWBOT_SurfaceRef in_surface_ref, const DRAWBOT_ColorRGBA* in_colorP,
                       const DRAWBOT_RectF32* in_rectPR);
    A_Err (*FillPath)(DRAWBOT_SurfaceRef in_surface_ref, DRAWBOT_BrushRef in_brush_ref, DRAWBOT_PathRef in_path_ref,
                      DRAWBOT_FillType in_fill_type);
    A_Err (*StrokePath)(DRAWBOT_SurfaceRef in_surface_ref, DRAWBOT_PenRef in_pen_ref, DRAWBOT_PathRef in_path_ref);
    A_Err (*Clip)(DRAWBOT_SurfaceRef in_surface_ref, DRAWBOT_SupplierRef in_supplier_ref,
                  const DRAWBOT_Rect32* in_rectPR);
    A_Err (*GetClipBounds)(DRAWBOT_SurfaceRef in_surface_ref, DRAWBOT_Rect32* out_rectPR);
    A_Err (*IsWithinClipBounds)(DRAWBOT_SurfaceRef in_surface_ref, const DRAWBOT_Rect32* in_rectPR,
                                DRAWBOT_Boolean* out_withinPB);
    A_Err (*Transform)(DRAWBOT_SurfaceRef in_surface_ref, const DRAWBOT_MatrixF32* in_matrixP);
    A_Err (*DrawString)(DRAWBOT_SurfaceRef in_surface_ref, DRAWBOT_BrushRef in_brush_ref,
                        DRAWBOT_FontRef in_font_ref, const A_UTF16Char* in_stringP,
                        const DRAWBOT_PointF32* in_originP, DRAWBOT_TextAlignment in_alignment_style,
                        DRAWBOT_TextTruncation in_truncation_style, float in_truncation_width);
    A_Err (*DrawImage)(DRAWBOT_SurfaceRef in_surface_ref, DRAWBOT_ImageRef in_image_ref,
                       const DRAWBOT_PointF32* in_originP, float in_alpha);
    A_Err (*SetInterpolationPolicy)(DRAWBOT_SurfaceRef in_surface_ref, DRAWBOT_InterpolationPolicy in_interp);
    A_Err (*GetInterpolationPolicy)(DRAWBOT_SurfaceRef in_surface_ref, DRAWBOT_InterpolationPolicy* out_interpP);
    A_Err (*SetAntiAliasPolicy)(DRAWBOT_SurfaceRef in_surface_ref, DRAWBOT_AntiAliasPolicy in_policy);
    A_Err (*GetAntiAliasPolicy)(DRAWBOT_SurfaceRef in_surface_ref, DRAWBOT_AntiAliasPolicy* out_policyP);
    A_Err (*Flush)(DRAWBOT_SurfaceRef in_surface_ref);
    A_Err (*PaintRect2)(DRAWBOT_SurfaceRef in_surface_ref, const DRAWBOT_ColorRGBA* in_colorP,
                        const DRAWBOT_RectF32* in_rectPR);
} DRAWBOT_SurfaceSuite2;

#define kDRAWBOT_PathSuite "DRAWBOT Path Suite"
#define kDRAWBOT_PathSuite_Version1 1
typedef struct DRAWBOT_PathSuite1 {
    A_Err (*MoveTo)(DRAWBOT_PathRef in_path_ref, float in_x, float in_y);
    A_Err (*LineTo)(DRAWBOT_PathRef in_path_ref, float in_x, float in_y);
    A_Err (*BezierTo)(DRAWBOT_PathRef in_path_ref, const DRAWBOT_PointF32* in_pt1P,
                      const DRAWBOT_PointF32* in_pt2P, const DRAWBOT_PointF32* in_pt3P);
    A_Err (*AddRect)(DRAWBOT_PathRef in_path_ref, const DRAWBOT_RectF32* in_rectPR);
    A_Err (*AddArc)(DRAWBOT_PathRef in_path_ref, const DRAWBOT_PointF32* in_centerP, float in_radius,
                    float in_start_angle, float in_sweep);
    A_Err (*Close)(DRAWBOT_PathRef in_path_ref);
} DRAWBOT_PathSuite1;
