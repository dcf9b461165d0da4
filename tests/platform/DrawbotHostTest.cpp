// The DRAWBOT suites drawing on a cairo canvas, checked by the pixels they leave.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "host/DrawbotHost.h"

namespace {

constexpr DRAWBOT_ColorRGBA kBackground = {0, 0, 0, 1};
constexpr DRAWBOT_ColorRGBA kRed = {1, 0, 0, 1};

class DrawbotHost : public ::testing::Test {
protected:
    void SetUp() override {
        host::DrawbotReset();
        MakeCanvas(40, 30, 1.0);
    }
    void TearDown() override {
        EXPECT_EQ(host::DrawbotObjectsAlive(), 0u);
        EXPECT_EQ(host::DrawbotMisuses(), m_expectedMisuses);
        host::DrawbotReset();
    }
    void MakeCanvas(int w, int h, double scale) {
        canvas = std::make_unique<host::DrawbotCanvas>(w, h, scale);
        canvas->Fill(kBackground);
        ASSERT_EQ(draw->GetSupplier(canvas->Ref(), &supplierRef), A_Err_NONE);
        ASSERT_EQ(draw->GetSurface(canvas->Ref(), &surfaceRef), A_Err_NONE);
    }
    void Release(void* ref) {
        EXPECT_EQ(supplier->ReleaseObject(reinterpret_cast<DRAWBOT_ObjectRef>(ref)), A_Err_NONE);
    }
    DRAWBOT_PathRef Rect(float l, float t, float w, float h) {
        DRAWBOT_PathRef path = nullptr;
        EXPECT_EQ(supplier->NewPath(supplierRef, &path), A_Err_NONE);
        DRAWBOT_RectF32 r = {l, t, w, h};
        EXPECT_EQ(paths->AddRect(path, &r), A_Err_NONE);
        return path;
    }
    void Fill(DRAWBOT_PathRef path, const DRAWBOT_ColorRGBA& colour,
              DRAWBOT_FillType type = kDRAWBOT_FillType_Winding) {
        DRAWBOT_BrushRef brush = nullptr;
        ASSERT_EQ(supplier->NewBrush(supplierRef, &colour, &brush), A_Err_NONE);
        EXPECT_EQ(surface->FillPath(surfaceRef, brush, path, type), A_Err_NONE);
        Release(brush);
    }
    float Red(double x, double y) { return canvas->At(x, y).red; }

    const DRAWBOT_DrawbotSuite1* draw = host::DrawbotDrawSuite();
    const DRAWBOT_SupplierSuite1* supplier = host::DrawbotSupplierSuite();
    const DRAWBOT_SurfaceSuite2* surface = host::DrawbotSurfaceSuite2();
    const DRAWBOT_PathSuite1* paths = host::DrawbotPathSuite();
    std::unique_ptr<host::DrawbotCanvas> canvas;
    DRAWBOT_SupplierRef supplierRef = nullptr;
    DRAWBOT_SurfaceRef surfaceRef = nullptr;
    long m_expectedMisuses = 0;
};

TEST_F(DrawbotHost, FillsFollowTheFillRuleAndStrokesUseThePenWidth) {
    // Two nested rectangles wound the same way: even-odd leaves a hole, winding does not.
    for (DRAWBOT_FillType type : {kDRAWBOT_FillType_EvenOdd, kDRAWBOT_FillType_Winding}) {
        canvas->Fill(kBackground);
        DRAWBOT_PathRef path = Rect(0, 0, 20, 20);
        DRAWBOT_RectF32 inner = {5, 5, 10, 10};
        ASSERT_EQ(paths->AddRect(path, &inner), A_Err_NONE);
        Fill(path, kRed, type);
        Release(path);
        EXPECT_FLOAT_EQ(Red(2, 2), 1.0f);
        EXPECT_FLOAT_EQ(Red(10, 10), type == kDRAWBOT_FillType_EvenOdd ? 0.0f : 1.0f) << "fill type " << type;
        EXPECT_FLOAT_EQ(Red(25, 10), 0.0f);
    }

    canvas->Fill(kBackground);
    DRAWBOT_PathRef line = nullptr;
    DRAWBOT_PenRef pen = nullptr;
    ASSERT_EQ(supplier->NewPath(supplierRef, &line), A_Err_NONE);
    ASSERT_EQ(supplier->NewPen(supplierRef, &kRed, 4.0f, &pen), A_Err_NONE);
    paths->MoveTo(line, 0, 10);
    paths->LineTo(line, 40, 10);
    EXPECT_EQ(surface->StrokePath(surfaceRef, pen, line), A_Err_NONE);
    EXPECT_FLOAT_EQ(Red(20, 8.5), 1.0f) << "inside the 4-unit pen";
    EXPECT_FLOAT_EQ(Red(20, 12.5), 0.0f) << "outside it";
    // A pen is not a brush: refused, and counted as a misuse.
    EXPECT_NE(surface->FillPath(surfaceRef, reinterpret_cast<DRAWBOT_BrushRef>(pen), line, 0), A_Err_NONE);
    m_expectedMisuses = 1;
    Release(pen);
    Release(line);
}

TEST_F(DrawbotHost, ImagesFromBuffersInTheLayoutsUsed) {
    // One straight-alpha pixel, red at half alpha, in ARGB and in BGRA order.
    const unsigned char argb[] = {128, 255, 0, 0, 255, 0, 0, 255};
    const unsigned char bgra[] = {0, 0, 255, 128, 255, 0, 0, 255};
    for (auto [layout, data] : {std::pair{kDRAWBOT_PixelLayout_32ARGB_Straight, argb},
                                std::pair{kDRAWBOT_PixelLayout_32BGRA_Straight, bgra}}) {
        canvas->Fill(kBackground);
        DRAWBOT_ImageRef image = nullptr;
        ASSERT_EQ(supplier->NewImageFromBuffer(supplierRef, 2, 1, 8, layout, data, &image), A_Err_NONE);
        DRAWBOT_PointF32 origin = {3, 4};
        ASSERT_EQ(surface->SetInterpolationPolicy(surfaceRef, kDRAWBOT_InterpolationPolicy_None), A_Err_NONE);
        ASSERT_EQ(surface->DrawImage(surfaceRef, image, &origin, 1.0f), A_Err_NONE);
        Release(image);
        const DRAWBOT_ColorRGBA over = canvas->At(3.5, 4.5), second = canvas->At(4.5, 4.5);
        EXPECT_NEAR(over.red, 0.5f, 1.0f / 255) << "layout " << layout;
        EXPECT_FLOAT_EQ(second.blue, 1.0f) << "layout " << layout;
        EXPECT_FLOAT_EQ(Red(2.5, 4.5), 0.0f) << "nothing left of the image";
    }
    const auto& drawn = canvas->Images();
    ASSERT_EQ(drawn.size(), 2u);
    EXPECT_EQ(drawn[1].layout, kDRAWBOT_PixelLayout_32BGRA_Straight);
    EXPECT_DOUBLE_EQ(drawn[1].left, 3);
    EXPECT_DOUBLE_EQ(drawn[1].right, 5);

    DRAWBOT_ImageRef bad = nullptr;
    EXPECT_NE(supplier->NewImageFromBuffer(supplierRef, 2, 1, 7, kDRAWBOT_PixelLayout_32ARGB_Straight, argb, &bad),
              A_Err_NONE)
        << "rows shorter than the pixels they hold";
    EXPECT_EQ(bad, nullptr);
}

TEST_F(DrawbotHost, TransformsClipsAndTheStateStack) {
    ASSERT_EQ(surface->PushStateStack(surfaceRef), A_Err_NONE);
    DRAWBOT_MatrixF32 m{};
    m.mat[0][0] = 2;
    m.mat[1][1] = 2;
    m.mat[2][0] = 10;  // translation sits in the third row
    m.mat[2][2] = 1;
    ASSERT_EQ(surface->Transform(surfaceRef, &m), A_Err_NONE);
    DRAWBOT_PathRef path = Rect(0, 0, 5, 5);
    Fill(path, kRed);
    EXPECT_FLOAT_EQ(Red(19.5, 9.5), 1.0f);
    EXPECT_FLOAT_EQ(Red(9.5, 9.5), 0.0f);
    ASSERT_EQ(surface->PopStateStack(surfaceRef), A_Err_NONE);

    canvas->Fill(kBackground);
    const DRAWBOT_Rect32 clip = {0, 0, 3, 3};
    ASSERT_EQ(surface->PushStateStack(surfaceRef), A_Err_NONE);
    ASSERT_EQ(surface->Clip(surfaceRef, supplierRef, &clip), A_Err_NONE);
    DRAWBOT_Rect32 bounds{};
    ASSERT_EQ(surface->GetClipBounds(surfaceRef, &bounds), A_Err_NONE);
    EXPECT_EQ(bounds.width, 3);
    Fill(path, kRed);
    EXPECT_FLOAT_EQ(Red(2.5, 2.5), 1.0f);
    EXPECT_FLOAT_EQ(Red(4.5, 4.5), 0.0f) << "outside the clip";
    ASSERT_EQ(surface->PopStateStack(surfaceRef), A_Err_NONE);
    Release(path);

    DRAWBOT_MatrixF32 singular{};
    EXPECT_NE(surface->Transform(surfaceRef, &singular), A_Err_NONE) << "would break the surface for good";
    EXPECT_NE(surface->PopStateStack(surfaceRef), A_Err_NONE) << "nothing pushed";
    m_expectedMisuses = 1;
    surface->PushStateStack(surfaceRef);
    EXPECT_EQ(canvas->EndDrawing(), 1) << "a push the drawing never popped";
}

TEST_F(DrawbotHost, TextIsAlignedAndTruncated) {
    float size = 0;
    ASSERT_EQ(supplier->GetDefaultFontSize(supplierRef, &size), A_Err_NONE);
    DRAWBOT_FontRef font = nullptr;
    DRAWBOT_BrushRef brush = nullptr;
    ASSERT_EQ(supplier->NewDefaultFont(supplierRef, size, &font), A_Err_NONE);
    ASSERT_EQ(supplier->NewBrush(supplierRef, &kRed, &brush), A_Err_NONE);
    const std::u16string text = u"Reset \u2192";
    const auto* units = reinterpret_cast<const A_UTF16Char*>(text.c_str());
    DRAWBOT_PointF32 origin = {20, 20};
    for (DRAWBOT_TextAlignment align : {kDRAWBOT_TextAlignment_Center, kDRAWBOT_TextAlignment_Right})
        ASSERT_EQ(surface->DrawString(surfaceRef, brush, font, units, &origin, align,
                                      kDRAWBOT_TextTruncation_None, 0),
                  A_Err_NONE);
    ASSERT_EQ(surface->DrawString(surfaceRef, brush, font, units, &origin, kDRAWBOT_TextAlignment_Left,
                                  kDRAWBOT_TextTruncation_EndEllipsis, 15),
              A_Err_NONE);
    Release(brush);
    Release(font);

    const auto& drawn = canvas->Texts();
    ASSERT_EQ(drawn.size(), 3u);
    EXPECT_EQ(drawn[0].text, "Reset \u2192");
    EXPECT_NEAR(drawn[0].x + drawn[0].width / 2, 20.0, 1e-9) << "centred on the origin";
    EXPECT_NEAR(drawn[1].x + drawn[1].width, 20.0, 1e-9) << "ending at the origin";
    EXPECT_LE(drawn[2].width, 15.0);
    EXPECT_EQ(drawn[2].text.substr(drawn[2].text.size() - 3), "\u2026") << drawn[2].text;
    bool inked = false;
    for (double x = drawn[0].x; x < drawn[0].x + drawn[0].width; x += 1)
        for (double y = 12; y < 20; y += 1) inked |= Red(x, y) > 0.5f;
    EXPECT_TRUE(inked) << "the glyphs reached the surface";
}

TEST_F(DrawbotHost, HighDensityCanvasShowsEveryImagePixel) {
    MakeCanvas(10, 10, 2.0);
    // Four columns drawn at half scale: two units wide, one device pixel each.
    const unsigned char argb[] = {255, 255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255};
    DRAWBOT_ImageRef image = nullptr;
    ASSERT_EQ(supplier->NewImageFromBuffer(supplierRef, 4, 1, 16, kDRAWBOT_PixelLayout_32ARGB_Straight, argb, &image),
              A_Err_NONE);
    DRAWBOT_MatrixF32 half{};
    half.mat[0][0] = half.mat[1][1] = 0.5f;
    half.mat[2][2] = 1;
    surface->PushStateStack(surfaceRef);
    surface->Transform(surfaceRef, &half);
    DRAWBOT_PointF32 origin = {0, 0};
    ASSERT_EQ(surface->DrawImage(surfaceRef, image, &origin, 1.0f), A_Err_NONE);
    surface->PopStateStack(surfaceRef);
    Release(image);
    EXPECT_FLOAT_EQ(canvas->At(0.25, 0.25).red, 1.0f);
    EXPECT_FLOAT_EQ(canvas->At(0.75, 0.25).green, 1.0f);
    EXPECT_FLOAT_EQ(canvas->At(1.25, 0.25).blue, 1.0f);
    EXPECT_DOUBLE_EQ(canvas->Images()[0].right, 2.0) << "in canvas units";
}

}  // namespace
