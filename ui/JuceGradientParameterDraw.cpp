// The gradient editor's drawing: the bar as an image at twice its resolution,
// its frame, the stop markers and the six push buttons.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "params/UF3_ParamIndex.h"
#include "shell/AEFX_SuiteHelper.h"
#include "shell/AEGP_SuiteHandler.h"
#include "shell/DrawbotWrappers.h"
#include "shell/UF3.h"
#include "shell/UF3_Colour.h"
#include "shell/UF_Handle.h"
#include "ui/JuceGradientParameter.h"

namespace {

constexpr DRAWBOT_ColorRGBA kBlack = {0, 0, 0, 1};
constexpr DRAWBOT_ColorRGBA kMarkerTip = {0.7f, 0.7f, 0.7f, 1};
constexpr float kThinPen = 1.0f;
constexpr float kButtonPen = 2.0f;

// One piece of the editor's drawing: the DRAWBOT suites and the event's drawing target.
struct EditorDrawing {
    EditorDrawing(PF_InData* in_data, PF_OutData* out_data, PF_EventExtra* extra)
        : suites(in_data->pica_basicP), db(in_data, out_data), target(db->drawSuite, db->supplierSuite),
          err(db.Error() ? db.Error() : target.Open(suites.EffectCustomUISuite1(), extra->contextH)) {}
    // Without a surface (and without an error) nothing is drawn.
    bool Ready() const { return !err && target.Surface(); }

    AEGP_SuiteHandler suites;
    DrawbotSuiteSet db;
    UF_Drawing target;
    PF_Err err;
};

PF_Err ClosedPath(const DRAWBOT_PathSuite1* paths, DRAWBOT_PathRef path, const DRAWBOT_PointF32* points,
                  size_t count) {
    PF_Err err = paths->MoveTo(path, points[0].x, points[0].y);
    for (size_t i = 1; i < count && !err; ++i) err = paths->LineTo(path, points[i].x, points[i].y);
    if (!err) err = paths->Close(path);
    return err;
}

PF_Err DrawMarker(PF_InData* in_data, PF_OutData* out_data, PF_EventExtra* extra, float x, float bottom,
                  const DRAWBOT_ColorRGBA& fill, const DRAWBOT_ColorRGBA& outline) {
    EditorDrawing editor(in_data, out_data, extra);
    if (!editor.Ready()) return editor.err;
    UF_Drawing& target = editor.target;
    DRAWBOT_BrushRef fillBrush = nullptr, tipBrush = nullptr;
    DRAWBOT_PenRef pen = nullptr;
    DRAWBOT_PathRef body = nullptr, tip = nullptr;
    PF_Err err = target.NewBrush(&fill, &fillBrush);
    if (!err) err = target.NewPen(&outline, kThinPen, &pen);
    if (!err) err = target.NewBrush(&kMarkerTip, &tipBrush);
    if (!err) err = target.NewPath(&body);
    if (!err) err = target.NewPath(&tip);

    const float h = UF3_GRAD_MARKER_HALF, d = UF3_GRAD_MARKER_DEPTH;
    const DRAWBOT_PointF32 outlinePoints[] = {{x, bottom},         {x + h, bottom + h}, {x + h, bottom + d},
                                              {x - h, bottom + d}, {x - h, bottom + h}, {x, bottom}};
    const DRAWBOT_PointF32 tipPoints[] = {{x, bottom}, {x + h, bottom + h}, {x - h, bottom + h}, {x, bottom}};
    if (!err) err = ClosedPath(editor.db->pathSuite, body, outlinePoints, std::size(outlinePoints));
    if (!err) err = ClosedPath(editor.db->pathSuite, tip, tipPoints, std::size(tipPoints));

    const DRAWBOT_SurfaceSuite2* surface = editor.db->surfaceSuite;
    if (!err) err = surface->FillPath(target.Surface(), fillBrush, body, kDRAWBOT_FillType_EvenOdd);
    if (!err) err = surface->FillPath(target.Surface(), tipBrush, tip, kDRAWBOT_FillType_EvenOdd);
    if (!err) err = surface->StrokePath(target.Surface(), pen, body);
    if (!err) err = surface->StrokePath(target.Surface(), pen, tip);
    const PF_Err released = target.Release();
    return err ? err : released;
}

// Whether the composition's working space is close to linear light. Any
// error of the profile calls other than a cancel is the host's callback fault.
PF_Err WorkingSpaceIsLinear(AEGP_SuiteHandler& suites, PF_InData* in_data, bool* linear) {
    AEGP_LayerH layer = nullptr;
    PF_Err err = suites.PFInterfaceSuite1()->AEGP_GetEffectLayer(in_data->effect_ref, &layer);
    if (err || !layer) return err;
    AEGP_CompH comp = nullptr;
    err = suites.LayerSuite13()->AEGP_GetLayerParentComp(layer, &comp);
    if (err || !comp) return err;

    const PF_ColorSettingsSuite3* colour = suites.ColorSettingsSuite3();
    AEGP_ColorProfileP profile = nullptr;
    A_FpShort gamma = 1.0f;
    err = colour->AEGP_GetNewWorkingSpaceColorProfile(0, comp, &profile);
    if (!err && profile) err = colour->AEGP_GetColorProfileApproximateGamma(profile, &gamma);
    // The profile goes back even when reading its gamma failed.
    if (profile) {
        const PF_Err disposed = colour->AEGP_DisposeColorProfile(profile);
        if (!err) err = disposed;
    }
    if (err) return err == PF_Interrupt_CANCEL ? err : PF_Err_INVALID_CALLBACK;
    if (profile && gamma < UF3_LINEAR_WORKING_SPACE_GAMMA) *linear = true;
    return PF_Err_NONE;
}

unsigned char ChannelByte(float v) {
    const float scaled = v * 255.0f;
    if (!(scaled > 0.0f)) return 0;  // negative and NaN
    return scaled >= 255.0f ? 255 : static_cast<unsigned char>(scaled);
}

}  // namespace

PF_Err CompositeImage(PF_InData* in_data, PF_OutData* out_data, PF_EventExtra* extra, DRAWBOT_RectF32 rect,
                      void* pixels, int pixelLayout, unsigned width, unsigned height, unsigned rowBytes, float scale,
                      float alpha) {
    EditorDrawing editor(in_data, out_data, extra);
    if (!editor.Ready()) return editor.err;
    if (!(scale > 0.0f)) return PF_Err_BAD_CALLBACK_PARAM;

    const DRAWBOT_SurfaceSuite2* surface = editor.db->surfaceSuite;
    const DRAWBOT_SurfaceRef onto = editor.target.Surface();
    PF_Err err = surface->PushStateStack(onto);
    if (err) return err;
    DRAWBOT_MatrixF32 m{};
    m.mat[0][0] = 1.0f / scale;
    m.mat[1][1] = 1.0f / scale;
    m.mat[2][2] = 1.0f;
    err = surface->Transform(onto, &m);
    if (!err && width && height) {
        DRAWBOT_ImageRef image = nullptr;
        err = editor.target.NewImageFromBuffer(A_long(width), A_long(height), A_long(rowBytes), pixelLayout, pixels,
                                          &image);
        if (!err && image) {
            const DRAWBOT_PointF32 origin = {scale * rect.left, scale * rect.top};
            err = surface->SetInterpolationPolicy(onto, kDRAWBOT_InterpolationPolicy_High);
            if (!err) err = surface->DrawImage(onto, image, &origin, alpha);
        }
        const PF_Err released = editor.target.Release();
        if (!err) err = released;
    }
    const PF_Err popped = surface->PopStateStack(onto);
    return err ? err : popped;
}

PF_Err JuceGradientParameter::DrawRectUsingDrawBot(PF_InData* in_data, PF_OutData* out_data, PF_EventExtra* extra,
                                                   DRAWBOT_RectF32 rect) {
    EditorDrawing editor(in_data, out_data, extra);
    if (!editor.Ready()) return editor.err;
    DRAWBOT_PenRef pen = nullptr;
    DRAWBOT_PathRef path = nullptr;
    PF_Err err = editor.target.NewPen(&kBlack, kThinPen, &pen);
    if (!err) err = editor.target.NewPath(&path);
    const float l = rect.left, t = rect.top, w = rect.width, h = rect.height;
    // The top edge sits half a unit down so that the thin line covers whole pixels.
    const DRAWBOT_PointF32 points[] = {{l, t + 0.5f}, {l + w, t + 0.5f}, {l + w, t + h}, {l, t + h}};
    if (!err) err = ClosedPath(editor.db->pathSuite, path, points, std::size(points));
    if (!err) err = editor.db->surfaceSuite->StrokePath(editor.target.Surface(), pen, path);
    const PF_Err released = editor.target.Release();
    return err ? err : released;
}

PF_Err JuceGradientParameter::DrawRectUsingDrawBot(PF_InData* in_data, PF_OutData* out_data, PF_EventExtra* extra,
                                                   DRAWBOT_RectF32 rect, unsigned char hover,
                                                   const unsigned short* label) {
    const DRAWBOT_ColorRGBA border = AcquireAppColor(in_data, out_data, UF3_APP_COLOR_BUTTON_BORDER);
    const DRAWBOT_ColorRGBA face = hover ? m_textColor : m_backgroundColor;
    const DRAWBOT_ColorRGBA text = hover ? m_backgroundColor : m_textColor;

    AEFX_SuiteScoper<PF_EffectCustomUISuite1> customUI(in_data, kPFEffectCustomUISuite,
                                                       kPFEffectCustomUISuiteVersion1, out_data);
    AEFX_SuiteScoper<DRAWBOT_SupplierSuite1> supplierSuite(in_data, kDRAWBOT_SupplierSuite,
                                                           kDRAWBOT_SupplierSuite_Version1, out_data);
    AEFX_SuiteScoper<DRAWBOT_DrawbotSuite1> drawSuite(in_data, kDRAWBOT_DrawSuite, kDRAWBOT_DrawSuite_Version1,
                                                      out_data);
    AEFX_SuiteScoper<DRAWBOT_PathSuite1> pathSuite(in_data, kDRAWBOT_PathSuite, kDRAWBOT_PathSuite_Version1,
                                                   out_data);
    AEFX_SuiteScoper<DRAWBOT_SurfaceSuite2> surfaceSuite(in_data, kDRAWBOT_SurfaceSuite,
                                                         kDRAWBOT_SurfaceSuite_Version2, out_data);
    UF_Drawing target(drawSuite.get(), supplierSuite.get());
    PF_Err err = target.Open(customUI.get(), extra->contextH);
    if (err || !target.Surface()) return err;

    DRAWBOT_BrushRef textBrush = nullptr, faceBrush = nullptr;
    DRAWBOT_PenRef pen = nullptr;
    DRAWBOT_PathRef path = nullptr;
    DRAWBOT_FontRef font = nullptr;
    err = target.NewBrush(&text, &textBrush);
    if (!err) err = target.NewBrush(&face, &faceBrush);
    if (!err) err = target.NewPen(&border, kButtonPen, &pen);
    if (!err) err = target.NewPath(&path);
    const float l = rect.left, t = rect.top, w = rect.width, h = rect.height;
    const DRAWBOT_PointF32 points[] = {{l, t}, {l + w, t}, {l + w, t + h}, {l, t + h}};
    if (!err) err = ClosedPath(pathSuite.get(), path, points, std::size(points));
    // Stroked first: the face then covers the inner half of the border.
    if (!err) err = surfaceSuite->StrokePath(target.Surface(), pen, path);
    if (!err) err = surfaceSuite->FillPath(target.Surface(), faceBrush, path, kDRAWBOT_FillType_EvenOdd);

    const DRAWBOT_PointF32 origin = {float(double(l) + 0.5 * double(w)), float(double(t) + 0.75 * double(h))};
    float size = 0;
    if (!err) err = supplierSuite->GetDefaultFontSize(target.Supplier(), &size);
    if (!err) err = target.NewDefaultFont(size, &font);
    if (!err)
        err = surfaceSuite->DrawString(target.Surface(), textBrush, font, label, &origin,
                                       kDRAWBOT_TextAlignment_Center, kDRAWBOT_TextTruncation_EndEllipsis, w);
    const PF_Err released = target.Release();
    return err ? err : released;
}

PF_Err JuceGradientParameter::Draw() {
    AEGP_SuiteHandler suites(m_in_data->pica_basicP);
    const UF_HandleLock sequence(m_in_data->utils, m_in_data->sequence_data);
    const auto* seq = sequence.As<const SequenceData>();

    const bool enabled = !(m_params[m_paramIndex]->ui_flags & PF_PUI_DISABLED);
    const GradientGeometry g = GradientGeometryOf(m_extra);
    // A gradient the host will not let us read is not drawn as an empty one.
    std::vector<ArbGradientPt> stops;
    if (PF_Err read = CreateGradientStdVecFromArb(suites.HandleSuite1(), m_params[m_paramIndex]->u.arb_d.value, &stops))
        return read;
    const bool linearParam = m_params[UF3_LINEAR_BLENDING]->u.bd.value != 0;
    const bool interp = m_params[UF3_INTERPOLATE]->u.bd.value != 0;
    bool linear = linearParam;
    if (PF_Err err = WorkingSpaceIsLinear(suites, m_in_data, &linear)) return err;

    if (linear) {
        for (ArbGradientPt& s : stops) UF3_RaiseRGB(s.color, UF3_GAMMA_DECODE_D);
    }

    // The bar at twice its resolution: one row sampled, copied into every row.
    const float twice = UF3_GRAD_IMAGE_SCALE * g.W;
    const long imageWidth = twice >= 1.0f ? long(std::floor(twice)) : 0;
    std::vector<unsigned char> image;
    if (imageWidth >= 1) {
        const size_t rowBytes = 4 * size_t(imageWidth);
        image.resize(rowBytes * UF3_GRAD_IMAGE_ROWS);
        for (long c = 0; c < imageWidth; ++c) {
            // A one-pixel bar shows the gradient's start (and must not divide by zero).
            const double t = imageWidth > 1 ? double(float(c) / float(imageWidth - 1)) : 0.0;
            PF_PixelFloat colour = Get_Gradient_Color_At_Position_Adv(unsigned(stops.size()), stops.data(), t, interp);
            if (linear) UF3_RaiseRGB(colour, UF3_GAMMA_ENCODE);
            unsigned char* px = &image[4 * size_t(c)];
            px[0] = ChannelByte(colour.alpha);
            px[1] = ChannelByte(colour.red);
            px[2] = ChannelByte(colour.green);
            px[3] = ChannelByte(colour.blue);
        }
        for (int row = 1; row < UF3_GRAD_IMAGE_ROWS; ++row)
            std::copy_n(image.begin(), rowBytes, image.begin() + long(row * rowBytes));
    }

    const DRAWBOT_RectF32 bar = {g.X, g.T, g.W, UF3_GRAD_BAR_HEIGHT};
    PF_Err err = CompositeImage(m_in_data, m_out_data, m_extra, bar, image.empty() ? nullptr : image.data(),
                                kDRAWBOT_PixelLayout_32ARGB_Straight, unsigned(imageWidth), UF3_GRAD_IMAGE_ROWS,
                                unsigned(4 * imageWidth), UF3_GRAD_IMAGE_SCALE, enabled ? 1.0f : 0.25f);
    if (!err) err = DrawRectUsingDrawBot(m_in_data, m_out_data, m_extra, bar);

    const A_long selected = m_params[m_selectParam]->u.sd.value;
    for (size_t i = 0; i < stops.size() && !err; ++i) {
        const ArbGradientPt& s = stops[i];
        DRAWBOT_ColorRGBA fill = {s.color.red, s.color.green, s.color.blue, s.color.alpha};
        if (linear) UF3_RaiseRGB(fill, UF3_GAMMA_ENCODE_D);
        const DRAWBOT_ColorRGBA outline = A_long(i) == selected ? m_highlightColor : kBlack;
        err = DrawMarker(m_in_data, m_out_data, m_extra, GradientStopX(g, s.position), g.B, fill, outline);
    }

    unsigned short labels[UF3_GRAD_BUTTON_COUNT][UF3_LABEL_UNITS];
    copyConvertStringLiteralIntoUTF16(L"\u2190 Shift", labels[0]);
    copyConvertStringLiteralIntoUTF16(L"Shift \u2192", labels[1]);
    StringToWideCharArr("Reverse", labels[2]);
    StringToWideCharArr(std::string("Gamma ") + (linearParam ? "1.0" : "2.2"), labels[3]);
    StringToWideCharArr(interp ? "Interpolate" : "No Interp", labels[4]);
    StringToWideCharArr("Reset", labels[5]);

    for (int b = 0; b < UF3_GRAD_BUTTON_COUNT && !err; ++b) {
        const DRAWBOT_RectF32 r = GradientButtonRect(g, b);
        const bool hover = seq && RectContains(r, float(seq->lastMouseH), float(seq->lastMouseV));
        err = DrawRectUsingDrawBot(m_in_data, m_out_data, m_extra, r, hover, labels[b]);
    }
    return err;
}
