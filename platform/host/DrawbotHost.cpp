#include "host/DrawbotHost.h"

#include <mutex>
#include <unordered_map>
#include <vector>

namespace host {

namespace {

enum class Kind { Path, Pen, Brush, Font, Image };

struct Object {
    Kind kind;
    long refs = 1;
    std::vector<float> path;  // path commands, recorded for drawing
};

struct Books {
    std::mutex mutex;
    std::unordered_map<void*, Object*> objects;
    long misuses = 0;
};

Books& TheBooks() {
    static Books books;
    return books;
}

template <typename Ref>
A_Err NewObject(Kind kind, Ref* out) {
    if (!out) return A_Err_PARAMETER;
    auto& b = TheBooks();
    std::lock_guard lock(b.mutex);
    auto* obj = new Object{kind};
    b.objects[obj] = obj;
    *out = reinterpret_cast<Ref>(obj);
    return A_Err_NONE;
}

Object* Find(void* ref) {
    auto& b = TheBooks();
    auto it = b.objects.find(ref);
    if (it == b.objects.end()) {
        b.misuses++;
        return nullptr;
    }
    return it->second;
}

A_Err RetainObject(DRAWBOT_ObjectRef ref) {
    auto& b = TheBooks();
    std::lock_guard lock(b.mutex);
    Object* obj = Find(ref);
    if (!obj) return A_Err_PARAMETER;
    obj->refs++;
    return A_Err_NONE;
}

A_Err ReleaseObject(DRAWBOT_ObjectRef ref) {
    auto& b = TheBooks();
    std::lock_guard lock(b.mutex);
    Object* obj = Find(ref);
    if (!obj) return A_Err_PARAMETER;
    if (--obj->refs == 0) {
        b.objects.erase(ref);
        delete obj;
    }
    return A_Err_NONE;
}

A_Err NewPen(DRAWBOT_SupplierRef, const DRAWBOT_ColorRGBA*, float, DRAWBOT_PenRef* out) {
    return NewObject(Kind::Pen, out);
}
A_Err NewBrush(DRAWBOT_SupplierRef, const DRAWBOT_ColorRGBA*, DRAWBOT_BrushRef* out) {
    return NewObject(Kind::Brush, out);
}
A_Err SupportsText(DRAWBOT_SupplierRef, DRAWBOT_Boolean* out) {
    if (out) *out = 1;
    return A_Err_NONE;
}
A_Err GetDefaultFontSize(DRAWBOT_SupplierRef, float* out) {
    if (out) *out = 11.0f;
    return A_Err_NONE;
}
A_Err NewDefaultFont(DRAWBOT_SupplierRef, float, DRAWBOT_FontRef* out) { return NewObject(Kind::Font, out); }
A_Err NewImageFromBuffer(DRAWBOT_SupplierRef, A_long w, A_long h, A_long, DRAWBOT_PixelLayout, const void* data,
                         DRAWBOT_ImageRef* out) {
    if (w <= 0 || h <= 0 || !data) return A_Err_PARAMETER;
    return NewObject(Kind::Image, out);
}
A_Err NewPath(DRAWBOT_SupplierRef, DRAWBOT_PathRef* out) { return NewObject(Kind::Path, out); }
A_Err Yes(DRAWBOT_SupplierRef, DRAWBOT_Boolean* out) {
    if (out) *out = 1;
    return A_Err_NONE;
}
A_Err No(DRAWBOT_SupplierRef, DRAWBOT_Boolean* out) {
    if (out) *out = 0;
    return A_Err_NONE;
}

// Drawing onto surfaces is not served yet: the calls answer with an error.
A_Err GetSupplier(DRAWBOT_DrawRef, DRAWBOT_SupplierRef*) { return A_Err_GENERIC; }
A_Err GetSurface(DRAWBOT_DrawRef, DRAWBOT_SurfaceRef*) { return A_Err_GENERIC; }

A_Err PathOp(DRAWBOT_PathRef ref, std::initializer_list<float> values) {
    auto& b = TheBooks();
    std::lock_guard lock(b.mutex);
    Object* obj = Find(ref);
    if (!obj || obj->kind != Kind::Path) return A_Err_PARAMETER;
    obj->path.insert(obj->path.end(), values);
    return A_Err_NONE;
}
A_Err MoveTo(DRAWBOT_PathRef p, float x, float y) { return PathOp(p, {0, x, y}); }
A_Err LineTo(DRAWBOT_PathRef p, float x, float y) { return PathOp(p, {1, x, y}); }
A_Err BezierTo(DRAWBOT_PathRef p, const DRAWBOT_PointF32* a, const DRAWBOT_PointF32* b, const DRAWBOT_PointF32* c) {
    if (!a || !b || !c) return A_Err_PARAMETER;
    return PathOp(p, {2, a->x, a->y, b->x, b->y, c->x, c->y});
}
A_Err AddRect(DRAWBOT_PathRef p, const DRAWBOT_RectF32* r) {
    if (!r) return A_Err_PARAMETER;
    return PathOp(p, {3, r->left, r->top, r->width, r->height});
}
A_Err AddArc(DRAWBOT_PathRef p, const DRAWBOT_PointF32* c, float radius, float start, float sweep) {
    if (!c) return A_Err_PARAMETER;
    return PathOp(p, {4, c->x, c->y, radius, start, sweep});
}
A_Err Close(DRAWBOT_PathRef p) { return PathOp(p, {5}); }

const DRAWBOT_DrawbotSuite1 kDraw = {GetSupplier, GetSurface};
const DRAWBOT_SupplierSuite1 kSupplier = {NewPen,  NewBrush, SupportsText, GetDefaultFontSize, NewDefaultFont,
                                          NewImageFromBuffer, NewPath, Yes, No, Yes, Yes, RetainObject,
                                          ReleaseObject};
const DRAWBOT_SurfaceSuite1 kSurface1{};
const DRAWBOT_SurfaceSuite2 kSurface2{};
const DRAWBOT_PathSuite1 kPath = {MoveTo, LineTo, BezierTo, AddRect, AddArc, Close};

}  // namespace

const DRAWBOT_DrawbotSuite1* DrawbotDrawSuite() { return &kDraw; }
const DRAWBOT_SupplierSuite1* DrawbotSupplierSuite() { return &kSupplier; }
const DRAWBOT_SurfaceSuite1* DrawbotSurfaceSuite1() { return &kSurface1; }
const DRAWBOT_SurfaceSuite2* DrawbotSurfaceSuite2() { return &kSurface2; }
const DRAWBOT_PathSuite1* DrawbotPathSuite() { return &kPath; }

size_t DrawbotObjectsAlive() {
    auto& b = TheBooks();
    std::lock_guard lock(b.mutex);
    return b.objects.size();
}

long DrawbotMisuses() {
    auto& b = TheBooks();
    std::lock_guard lock(b.mutex);
    return b.misuses;
}

void DrawbotReset() {
    auto& b = TheBooks();
    std::lock_guard lock(b.mutex);
    for (auto& [ref, obj] : b.objects) delete obj;
    b.objects.clear();
    b.misuses = 0;
}

}  // namespace host
