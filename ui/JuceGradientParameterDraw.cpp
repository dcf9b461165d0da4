// The gradient editor's drawing: the bar as an image at twice its resolution,
// its frame, the stop markers and the six push buttons.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "params/UF3_ParamIndex.h"
#include "shell/AEFX_SuiteHelper.h"
#include "shell/AEGP_SuiteHandler.h"
#include "shell/UF3.h"
#include "shell/UF_Handle.h"
#include "ui/JuceGradientParameter.h"

namespace {

constexpr DRAWBOT_ColorRGBA kBlack = {0, 0, 0, 1};
constexpr DRAWBOT_ColorRGBA kMarkerTip = {0.7f, 0.7f, 0.7f, 1};
constexpr float kThinPen = 1.0f;
constexpr float kButtonPen = 2.0f;


// DRAWBOT objects made during one drawing, released together: explicitly at
// the end (the first error counts), or by the destructor when an exception passes.
class DrawbotObjects {
public:
    explicit DrawbotObjects(const DRAWBOT_SupplierSuite1* supplier) : m_supplier(supplier) {}
    ~DrawbotObjects() { Release(); }
    DrawbotObjects(const DrawbotObjects&) = delete;
    DrawbotObjects& operator=(const DrawbotObjects&) = delete;

    template <typename Ref>
    void Keep(Ref ref) {
        if (ref) m_refs.push_back(reinterpret_cast<DRAWBOT_ObjectRef>(ref));
    }
    PF_Err Release() {
        PF_Err first = PF_Err_NONE;
        for (auto it = m_refs.rbegin(); it != m_refs.rend(); ++it) {
            const PF_Err err = m_supplier->ReleaseObject(*it);
            if (!first) first = err;
        }
        m_refs.clear();
        return first;
    }

private:
    const DRAWBOT_SupplierSuite1* m_supplier;
    std::vector<DRAWBOT_ObjectRef> m_refs;
};

// The drawing reference of the event's context with its supplier and surface.
// No reference (without an error) leaves all three null.
struct DrawTarget {
    DRAWBOT_DrawRef drawing = nullptr;
    DRAWBOT_SupplierRef supplier = nullptr;
    DRAWBOT_SurfaceRef surface = nullptr;
};

PF_Err GetTarget(const PF_EffectCustomUISuite1* customUI, const DRAWBOT_DrawbotSuite1* draw, PF_EventExtra* extra,
                 DrawTarget* target) {
    PF_Err err = customUI->PF_GetDrawingReference(extra->contextH, &target->drawing);
    if (!err && target->drawing) err = draw->GetSupplier(target->drawing, &target->supplier);
    if (!err && target->drawing) err = draw->GetSurface(target->drawing, &target->surface);
    return err;
}

PF_Err ClosedPath(const DRAWBOT_PathSuite1* paths, DRAWBOT_PathRef path, const DRAWBOT_PointF32* points,
                  size_t count) {
    PF_Err err = paths->MoveTo(path, points[0].x, points[0].y);
    for (size_t i = 1; i < count && !err; ++i) err = paths->LineTo(path, points[i].x, points[i].y);
    if (!err) err = paths->Close(path);
    return err;
}

PF_Err DrawMarker(PF_InData* in_data, PF_OutData* out_data, PF_EventExtra* extra, float x, float bottom,
                  const DRAWBOT_ColorRGBA& fill, const DRAWBOT_ColorRGBA& outline) {
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    DrawbotSuiteSet db(in_data, out_data);
    if (PF_Err err = db.Error()) return err;
    DrawTarget target;
    PF_Err err = GetTarget(suites.EffectCustomUISuite1(), db->drawSuite, extra, &target);
    if (err || !target.surface) return err;

    DrawbotObjects objects(db->supplierSuite);
    DRAWBOT_BrushRef fillBrush = nullptr, tipBrush = nullptr;
    DRAWBOT_PenRef pen = nullptr;
    DRAWBOT_PathRef body = nullptr, tip = nullptr;
    const DRAWBOT_SupplierSuite1* supplier = db->supplierSuite;
    err = supplier->NewBrush(target.supplier, &fill, &fillBrush);
    objects.Keep(fillBrush);
    if (!err) err = supplier->NewPen(target.supplier, &outline, kThinPen, &pen);
    objects.Keep(pen);
    if (!err) err = supplier->NewBrush(target.supplier, &kMarkerTip, &tipBrush);
    objects.Keep(tipBrush);
    if (!err) err = supplier->NewPath(target.supplier, &body);
    objects.Keep(body);
    if (!err) err = supplier->NewPath(target.supplier, &tip);
    objects.Keep(tip);

    const float h = UF3_GRAD_MARKER_HALF, d = UF3_GRAD_MARKER_DEPTH;
    const DRAWBOT_PointF32 outlinePoints[] = {{x, bottom},         {x + h, bottom + h}, {x + h, bottom + d},
                                              {x - h, bottom + d}, {x - h, bottom + h}, {x, bottom}};
    const DRAWBOT_PointF32 tipPoints[] = {{x, bottom}, {x + h, bottom + h}, {x - h, bottom + h}, {x, bottom}};
    if (!err) err = ClosedPath(db->pathSuite, body, outlinePoints, std::size(outlinePoints));
    if (!err) err = ClosedPath(db->pathSuite, tip, tipPoints, std::size(tipPoints));

    const DRAWBOT_SurfaceSuite2* surface = db->surfaceSuite;
    if (!err) err = surface->FillPath(target.surface, fillBrush, body, kDRAWBOT_FillType_EvenOdd);
    if (!err) err = surface->FillPath(target.surface, tipBrush, tip, kDRAWBOT_FillType_EvenOdd);
    if (!err) err = surface->StrokePath(target.surface, pen, body);
    if (!err) err = surface->StrokePath(target.surface, pen, tip);
    const PF_Err released = objects.Release();
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
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    DrawbotSuiteSet db(in_data, out_data);
    if (PF_Err err = db.Error()) return err;
    DrawTarget target;
    PF_Err err = GetTarget(suites.EffectCustomUISuite1(), db->drawSuite, extra, &target);
    if (err || !target.surface) return err;
    if (!(scale > 0.0f)) return PF_Err_BAD_CALLBACK_PARAM;

    const DRAWBOT_SurfaceSuite2* surface = db->surfaceSuite;
    if ((err = surface->PushStateStack(target.surface))) return err;
    DRAWBOT_MatrixF32 m{};
    m.mat[0][0] = 1.0f / scale;
    m.mat[1][1] = 1.0f / scale;
    m.mat[2][2] = 1.0f;
    err = surface->Transform(target.surface, &m);
    if (!err && width && height) {
        DrawbotObjects objects(db->supplierSuite);
        DRAWBOT_ImageRef image = nullptr;
        err = db->supplierSuite->NewImageFromBuffer(target.supplier, A_long(width), A_long(height), A_long(rowBytes),
                                                    pixelLayout, pixels, &image);
        objects.Keep(image);
        if (!err && image) {
            const DRAWBOT_PointF32 origin = {scale * rect.left, scale * rect.top};
            err = surface->SetInterpolationPolicy(target.surface, kDRAWBOT_InterpolationPolicy_High);
            if (!err) err = surface->DrawImage(target.surface, image, &origin, alpha);
        }
        const PF_Err released = objects.Release();
        if (!err) err = released;
    }
    const PF_Err popped = surface->PopStateStack(target.surface);
    return err ? err : popped;
}

PF_Err JuceGradientParameter::DrawRectUsingDrawBot(PF_InData* in_data, PF_OutData* out_data, PF_EventExtra* extra,
                                                   DRAWBOT_RectF32 rect) {
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    DrawbotSuiteSet db(in_data, out_data);
    if (PF_Err err = db.Error()) return err;
    DrawTarget target;
    PF_Err err = GetTarget(suites.EffectCustomUISuite1(), db->drawSuite, extra, &target);
    if (err || !target.surface) return err;

    DrawbotObjects objects(db->supplierSuite);
    DRAWBOT_PenRef pen = nullptr;
    DRAWBOT_PathRef path = nullptr;
    err = db->supplierSuite->NewPen(target.supplier, &kBlack, kThinPen, &pen);
    objects.Keep(pen);
    if (!err) err = db->supplierSuite->NewPath(target.supplier, &path);
    objects.Keep(path);
    const float l = rect.left, t = rect.top, w = rect.width, h = rect.height;
    // The top edge sits half a unit down so that the thin line covers whole pixels.
    const DRAWBOT_PointF32 points[] = {{l, t + 0.5f}, {l + w, t + 0.5f}, {l + w, t + h}, {l, t + h}};
    if (!err) err = ClosedPath(db->pathSuite, path, points, std::size(points));
    if (!err) err = db->surfaceSuite->StrokePath(target.surface, pen, path);
    const PF_Err released = objects.Release();
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
    DrawTarget target;
    PF_Err err = GetTarget(customUI.get(), drawSuite.get(), extra, &target);
    if (err || !target.surface) return err;

    DrawbotObjects objects(supplierSuite.get());
    DRAWBOT_BrushRef textBrush = nullptr, faceBrush = nullptr;
    DRAWBOT_PenRef pen = nullptr;
    DRAWBOT_PathRef path = nullptr;
    DRAWBOT_FontRef font = nullptr;
    err = supplierSuite->NewBrush(target.supplier, &text, &textBrush);
    objects.Keep(textBrush);
    if (!err) err = supplierSuite->NewBrush(target.supplier, &face, &faceBrush);
    objects.Keep(faceBrush);
    if (!err) err = supplierSuite->NewPen(target.supplier, &border, kButtonPen, &pen);
    objects.Keep(pen);
    if (!err) err = supplierSuite->NewPath(target.supplier, &path);
    objects.Keep(path);
    const float l = rect.left, t = rect.top, w = rect.width, h = rect.height;
    const DRAWBOT_PointF32 points[] = {{l, t}, {l + w, t}, {l + w, t + h}, {l, t + h}};
    if (!err) err = ClosedPath(pathSuite.get(), path, points, std::size(points));
    // Stroked first: the face then covers the inner half of the border.
    if (!err) err = surfaceSuite->StrokePath(target.surface, pen, path);
    if (!err) err = surfaceSuite->FillPath(target.surface, faceBrush, path, kDRAWBOT_FillType_EvenOdd);

    const DRAWBOT_PointF32 origin = {float(double(l) + 0.5 * double(w)), float(double(t) + 0.75 * double(h))};
    float size = 0;
    if (!err) err = supplierSuite->GetDefaultFontSize(target.supplier, &size);
    if (!err) err = supplierSuite->NewDefaultFont(target.supplier, size, &font);
    objects.Keep(font);
    if (!err)
        err = surfaceSuite->DrawString(target.surface, textBrush, font, label, &origin,
                                       kDRAWBOT_TextAlignment_Center, kDRAWBOT_TextTruncation_EndEllipsis, w);
    const PF_Err released = objects.Release();
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
        for (ArbGradientPt& s : stops) {
            s.color.red = float(std::pow(double(s.color.red), 2.2));
            s.color.green = float(std::pow(double(s.color.green), 2.2));
            s.color.blue = float(std::pow(double(s.color.blue), 2.2));
        }
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
            if (linear) {
                colour.red = std::pow(colour.red, 0.4545f);
                colour.green = std::pow(colour.green, 0.4545f);
                colour.blue = std::pow(colour.blue, 0.4545f);
            }
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
        if (linear) {
            fill.red = float(std::pow(double(fill.red), 0.4545));
            fill.green = float(std::pow(double(fill.green), 0.4545));
            fill.blue = float(std::pow(double(fill.blue), 0.4545));
        }
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
        bool hover = false;
        if (seq) {
            const float hx = float(seq->lastMouseH), hy = float(seq->lastMouseV);
            hover = r.left <= hx && hx <= r.left + r.width && r.top <= hy && hy <= r.top + r.height;
        }
        err = DrawRectUsingDrawBot(m_in_data, m_out_data, m_extra, r, hover, labels[b]);
    }
    return err;
}
