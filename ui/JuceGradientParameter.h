// The gradient editor of parameter 41 Color Gradient in the Effect Controls
// panel: a bar, one marker per stop and six push buttons, edited with the
// mouse. One object lives for one event; what outlives it is in host records
// (the gradient, parameters 42 and 43, the click's continue_refcon, the
// sequence data's last mouse point).
#pragma once

#include <string>
#include <vector>

#include "AE_EffectUI.h"
#include "params/GradientData.h"

// Host application colour ids the editor draws with.
constexpr PF_App_ColorType UF3_APP_COLOR_BUTTON_FACE = 1000;
constexpr PF_App_ColorType UF3_APP_COLOR_TEXT = 2;
constexpr PF_App_ColorType UF3_APP_COLOR_HIGHLIGHT = 49;
constexpr PF_App_ColorType UF3_APP_COLOR_BUTTON_BORDER = 9;

// Cursors: anywhere over the control, over the strip where a click adds a
// stop, over a stop's marker.
constexpr PF_CursorType UF3_CURSOR_DEFAULT = PF_Cursor_NONE;
constexpr PF_CursorType UF3_CURSOR_ADD_STOP = PF_Cursor_PEN_ADD;
constexpr PF_CursorType UF3_CURSOR_ON_STOP = PF_Cursor_FINGER_POINTER;

// UTF-16 units of a label buffer, terminator included.
constexpr size_t UF3_LABEL_UNITS = 256;

// Geometry of the control, from its area.
constexpr float UF3_GRAD_BAR_INSET = 12.0f;
constexpr float UF3_GRAD_BAR_HEIGHT = 32.0f;
constexpr float UF3_GRAD_MARKER_HALF = 6.0f;
constexpr float UF3_GRAD_MARKER_DEPTH = 18.0f;
constexpr float UF3_GRAD_REMOVE_DISTANCE = 70.0f;
constexpr double UF3_GRAD_BUTTON_OFFSET = 57.2;
constexpr float UF3_GRAD_BUTTON_HEIGHT = 16.0f;
constexpr float UF3_GRAD_BUTTON_GAP = 5.0f;
constexpr float UF3_GRAD_BUTTON_ROW_STEP = 21.0f;
constexpr int UF3_GRAD_BUTTON_COUNT = 6;
constexpr int UF3_GRAD_IMAGE_ROWS = 64;
constexpr float UF3_GRAD_IMAGE_SCALE = 2.0f;

class JuceGradientParameter final {
public:
    JuceGradientParameter(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef** params, PF_EventExtra* extra,
                          int paramIndex);
    JuceGradientParameter(const JuceGradientParameter&) = delete;
    JuceGradientParameter& operator=(const JuceGradientParameter&) = delete;

    virtual void Init();
    PF_Err HandleEvent();
    virtual PF_Err MouseClick(bool drag);
    virtual PF_Err MouseHover();
    virtual PF_Err Draw();

    PF_Err DrawRectUsingDrawBot(PF_InData* in_data, PF_OutData* out_data, PF_EventExtra* extra,
                                DRAWBOT_RectF32 rect);
    PF_Err DrawRectUsingDrawBot(PF_InData* in_data, PF_OutData* out_data, PF_EventExtra* extra,
                                DRAWBOT_RectF32 rect, unsigned char hover, const unsigned short* label);

private:
    PF_InData* m_in_data;
    PF_OutData* m_out_data;
    PF_ParamDef** m_params;
    PF_EventExtra* m_extra;
    int32_t m_paramIndex;
    int32_t m_defaultCursor = 0;
    int32_t m_selectParam = 0;
    int32_t m_positionParam = 0;
    DRAWBOT_ColorRGBA m_backgroundColor{};
    DRAWBOT_ColorRGBA m_textColor{};
    DRAWBOT_ColorRGBA m_highlightColor{};
};

// The bar and its parts, from the control area: bar left X, top T, width W
// (negative when the area is narrower than the insets) and bottom B.
struct GradientGeometry {
    DRAWBOT_RectF32 area;
    float X, T, W, B;
};
GradientGeometry GradientGeometryOf(PF_EventExtra* extra);
float GradientStopX(const GradientGeometry& g, double position);
// The button's rectangle, index 0 to 5.
DRAWBOT_RectF32 GradientButtonRect(const GradientGeometry& g, int index);
// Whether (x, y) lies in r, its edges included.
bool RectContains(const DRAWBOT_RectF32& r, float x, float y);

DRAWBOT_RectF32 GetContextArea(PF_EventExtra* extra, float pad);
DRAWBOT_ColorRGBA AcquireAppColor(PF_InData* in_data, PF_OutData* out_data, short colorType);
DRAWBOT_ColorRGBA AppColorTypeToRGBA(const PF_App_Color* colour);
std::vector<ArbGradientPt> GammaCorrectGradVector(const std::vector<ArbGradientPt>& stops);

// Label conversion into UTF-16 buffers of `capacity` units (terminator
// included); longer text is cut, never written past the buffer.
void StringToWideCharArr(std::string s, unsigned short* out, size_t capacity = UF3_LABEL_UNITS);
void copyConvertStringLiteralIntoUTF16(const wchar_t* s, unsigned short* out, size_t capacity = UF3_LABEL_UNITS);

float lerp(float a, float b, float t);

// Draws a pixel buffer with its top-left corner on (rect.left, rect.top),
// each pixel covering 1/scale units.
PF_Err CompositeImage(PF_InData* in_data, PF_OutData* out_data, PF_EventExtra* extra, DRAWBOT_RectF32 rect,
                      void* pixels, int pixelLayout, unsigned width, unsigned height, unsigned rowBytes, float scale,
                      float alpha);
