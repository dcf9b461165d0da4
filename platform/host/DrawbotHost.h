// The DRAWBOT suites, drawing for real on cairo image surfaces. Objects
// (paths, pens, brushes, fonts, images) are reference counted and kept in
// books so tests can see every one released; a canvas is one drawable
// surface, such as the Effect Controls panel.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "DrawbotSuite.h"

typedef struct _cairo_surface cairo_surface_t;

namespace host {

const DRAWBOT_DrawbotSuite1* DrawbotDrawSuite();
const DRAWBOT_SupplierSuite1* DrawbotSupplierSuite();
const DRAWBOT_SurfaceSuite1* DrawbotSurfaceSuite1();
const DRAWBOT_SurfaceSuite2* DrawbotSurfaceSuite2();
const DRAWBOT_PathSuite1* DrawbotPathSuite();

size_t DrawbotObjectsAlive();
long DrawbotMisuses();  // unknown or released objects used, objects of the wrong kind, pops of an empty stack
void DrawbotReset();
// Fault injection: every later surface call of this name ("DrawImage",
// "Transform", ...) answers `err`; an empty name clears. DrawbotReset clears too.
void DrawbotFailCall(const std::string& name, A_Err err = A_Err_GENERIC);

// Strokes a path on the canvas behind a drawing reference with the host's own
// colour and width (the overlay theme's stroke), offset by (dx, dy) units.
A_Err DrawbotStrokeOnDrawRef(DRAWBOT_DrawRef ref, DRAWBOT_PathRef path, const DRAWBOT_ColorRGBA& colour, float width,
                             double dx = 0, double dy = 0);

// The size every NewDefaultFont caller is told to use.
constexpr float kDrawbotDefaultFontSize = 11.0f;

// A drawing surface in units (panel pixels); `scale` device pixels per unit,
// as on a high-density display.
class DrawbotCanvas {
public:
    DrawbotCanvas(int width, int height, double scale = 1.0);
    ~DrawbotCanvas();
    DrawbotCanvas(const DrawbotCanvas&) = delete;
    DrawbotCanvas& operator=(const DrawbotCanvas&) = delete;

    DRAWBOT_DrawRef Ref() const;
    int Width() const;
    int Height() const;
    double Scale() const;
    cairo_surface_t* Surface() const;

    // Replaces every pixel with `colour`.
    void Fill(const DRAWBOT_ColorRGBA& colour);
    // The straight colour of the device pixel under the point (x, y) in units.
    DRAWBOT_ColorRGBA At(double x, double y) const;
    bool WritePNG(const std::string& path) const;

    // What reached the surface, for tests; positions in canvas units.
    struct DrawnImage {
        int width = 0, height = 0, rowBytes = 0;
        DRAWBOT_PixelLayout layout = 0;
        float alpha = 0;
        double left = 0, top = 0, right = 0, bottom = 0;
    };
    struct DrawnText {
        std::string text;  // UTF-8, as drawn after truncation
        double x = 0, y = 0;  // left end of the drawn text on its baseline
        double width = 0;
        float size = 0;
        double endX = 0, endY = 0;  // right end of the baseline in canvas units, whatever the rotation
    };
    const std::vector<DrawnImage>& Images() const;
    const std::vector<DrawnText>& Texts() const;
    void ClearRecords();

    // Pushes not yet popped. EndDrawing() pops them and undoes what was set
    // without a push (a host resets its surface between drawings); it returns
    // how many pushes were left, plus one when the transform was left changed.
    int StateDepth() const;
    int EndDrawing();

    struct Impl;

private:
    std::unique_ptr<Impl> m;
};

}  // namespace host
