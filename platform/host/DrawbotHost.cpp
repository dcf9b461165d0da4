#include "host/DrawbotHost.h"
#include "host/Streams.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace host {

namespace {

enum class Kind { Path, Pen, Brush, Font, Image };
enum class RefKind { Draw, Supplier, Surface };

enum PathOpCode { kMove, kLine, kBezier, kRect, kArc, kClose };
struct PathOp {
    PathOpCode code;
    float v[6];
};

struct Object {
    explicit Object(Kind k) : kind(k) {}
    ~Object() {
        if (image) cairo_surface_destroy(image);
    }
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    Kind kind;
    long refs = 1;
    DRAWBOT_ColorRGBA colour{};
    float size = 0;  // pen width or font size
    std::vector<PathOp> path;
    cairo_surface_t* image = nullptr;
    int width = 0, height = 0, rowBytes = 0;
    DRAWBOT_PixelLayout layout = 0;
};

struct Books {
    std::mutex mutex;
    std::unordered_map<void*, Object*> objects;
    std::unordered_map<const void*, std::pair<DrawbotCanvas::Impl*, RefKind>> refs;
    long misuses = 0;
    std::string failing;
    A_Err failWith = A_Err_NONE;
};

Books& TheBooks() {
    static Books books;
    return books;
}

}  // namespace

struct DrawbotCanvas::Impl {
    struct Policies {
        DRAWBOT_InterpolationPolicy interp = kDRAWBOT_InterpolationPolicy_Med;
        DRAWBOT_AntiAliasPolicy antiAlias = kDRAWBOT_AntiAliasPolicy_High;
    };

    int width = 0, height = 0;
    double scale = 1;
    cairo_surface_t* surface = nullptr;
    cairo_t* cr = nullptr;
    // Three distinct addresses: the draw, supplier and surface references.
    char tags[3] = {};
    Policies policies;
    std::vector<Policies> stack;
    std::vector<DrawnImage> images;
    std::vector<DrawnText> texts;
};

namespace {

using Canvas = DrawbotCanvas::Impl;

// Books must be locked by the caller of the lookups below.
Object* Find(void* ref, Kind kind) {
    auto& b = TheBooks();
    auto it = b.objects.find(ref);
    if (it == b.objects.end() || it->second->kind != kind) {
        b.misuses++;
        return nullptr;
    }
    return it->second;
}

Canvas* CanvasOf(const void* ref, RefKind kind) {
    auto& b = TheBooks();
    auto it = b.refs.find(ref);
    if (it == b.refs.end() || it->second.second != kind) {
        b.misuses++;
        return nullptr;
    }
    return it->second.first;
}

// Books locked by the caller.
A_Err Injected(const char* call) {
    const auto& b = TheBooks();
    return !b.failing.empty() && b.failing == call ? b.failWith : A_Err_NONE;
}

bool Finite(std::initializer_list<float> values) {
    return std::all_of(values.begin(), values.end(), [](float v) { return std::isfinite(v); });
}

template <typename Ref>
A_Err NewObject(Object* obj, Ref* out) {
    if (!out) {
        delete obj;
        return A_Err_PARAMETER;
    }
    auto& b = TheBooks();
    std::lock_guard lock(b.mutex);
    b.objects[obj] = obj;
    *out = reinterpret_cast<Ref>(obj);
    return A_Err_NONE;
}

// ---- Supplier ----

A_Err RetainObject(DRAWBOT_ObjectRef ref) {
    auto& b = TheBooks();
    std::lock_guard lock(b.mutex);
    auto it = b.objects.find(ref);
    if (it == b.objects.end()) {
        b.misuses++;
        return A_Err_PARAMETER;
    }
    it->second->refs++;
    return A_Err_NONE;
}

A_Err ReleaseObject(DRAWBOT_ObjectRef ref) {
    auto& b = TheBooks();
    std::lock_guard lock(b.mutex);
    auto it = b.objects.find(ref);
    if (it == b.objects.end()) {
        b.misuses++;
        return A_Err_PARAMETER;
    }
    if (--it->second->refs == 0) {
        delete it->second;
        b.objects.erase(it);
    }
    return A_Err_NONE;
}

bool ValidColour(const DRAWBOT_ColorRGBA* c) { return c && Finite({c->red, c->green, c->blue, c->alpha}); }

A_Err NewPen(DRAWBOT_SupplierRef, const DRAWBOT_ColorRGBA* colour, float size, DRAWBOT_PenRef* out) {
    if (!ValidColour(colour) || !std::isfinite(size) || size < 0) return A_Err_PARAMETER;
    auto* obj = new Object(Kind::Pen);
    obj->colour = *colour;
    obj->size = size;
    return NewObject(obj, out);
}

A_Err NewBrush(DRAWBOT_SupplierRef, const DRAWBOT_ColorRGBA* colour, DRAWBOT_BrushRef* out) {
    if (!ValidColour(colour)) return A_Err_PARAMETER;
    auto* obj = new Object(Kind::Brush);
    obj->colour = *colour;
    return NewObject(obj, out);
}

A_Err SupportsText(DRAWBOT_SupplierRef, DRAWBOT_Boolean* out) {
    if (out) *out = 1;
    return A_Err_NONE;
}

A_Err GetDefaultFontSize(DRAWBOT_SupplierRef, float* out) {
    if (!out) return A_Err_PARAMETER;
    *out = kDrawbotDefaultFontSize;
    return A_Err_NONE;
}

A_Err NewDefaultFont(DRAWBOT_SupplierRef, float size, DRAWBOT_FontRef* out) {
    if (!std::isfinite(size) || size <= 0) return A_Err_PARAMETER;
    auto* obj = new Object(Kind::Font);
    obj->size = size;
    return NewObject(obj, out);
}

struct LayoutInfo {
    int bytes;           // per pixel
    int r, g, b, a;      // byte offsets; a < 0: opaque
    bool premultiplied;
};

bool Layout(DRAWBOT_PixelLayout layout, LayoutInfo* info) {
    switch (layout) {
        case kDRAWBOT_PixelLayout_24RGB: *info = {3, 0, 1, 2, -1, false}; return true;
        case kDRAWBOT_PixelLayout_24BGR: *info = {3, 2, 1, 0, -1, false}; return true;
        case kDRAWBOT_PixelLayout_32RGB: *info = {4, 1, 2, 3, -1, false}; return true;
        case kDRAWBOT_PixelLayout_32BGR: *info = {4, 2, 1, 0, -1, false}; return true;
        case kDRAWBOT_PixelLayout_32ARGB_Straight: *info = {4, 1, 2, 3, 0, false}; return true;
        case kDRAWBOT_PixelLayout_32ARGB_Premul: *info = {4, 1, 2, 3, 0, true}; return true;
        case kDRAWBOT_PixelLayout_32BGRA_Straight: *info = {4, 2, 1, 0, 3, false}; return true;
        case kDRAWBOT_PixelLayout_32BGRA_Premul: *info = {4, 2, 1, 0, 3, true}; return true;
        default: return false;
    }
}

// cairo's largest image side.
constexpr A_long kMaxImageSide = 32767;

// The pixels are copied: the caller may free its buffer as soon as the image exists.
A_Err NewImageFromBuffer(DRAWBOT_SupplierRef, A_long w, A_long h, A_long rowBytes, DRAWBOT_PixelLayout layout,
                         const void* data, DRAWBOT_ImageRef* out) {
    LayoutInfo info;
    if (!out || !data || w <= 0 || h <= 0 || w > kMaxImageSide || h > kMaxImageSide || !Layout(layout, &info) ||
        int64_t(rowBytes) < int64_t(w) * info.bytes)
        return A_Err_PARAMETER;
    cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    if (cairo_surface_status(image) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(image);
        return A_Err_ALLOC;
    }
    unsigned char* dst = cairo_image_surface_get_data(image);
    const int stride = cairo_image_surface_get_stride(image);
    const auto* src = static_cast<const unsigned char*>(data);
    for (A_long y = 0; y < h; ++y) {
        const unsigned char* s = src + size_t(y) * size_t(rowBytes);
        auto* d = reinterpret_cast<uint32_t*>(dst + size_t(y) * size_t(stride));
        for (A_long x = 0; x < w; ++x, s += info.bytes) {
            uint32_t a = info.a < 0 ? 255 : s[info.a];
            uint32_t r = s[info.r], g = s[info.g], b = s[info.b];
            if (info.premultiplied) {
                // A premultiplied channel above its alpha is not a colour cairo can hold.
                r = std::min(r, a), g = std::min(g, a), b = std::min(b, a);
            } else {
                r = (r * a + 127) / 255, g = (g * a + 127) / 255, b = (b * a + 127) / 255;
            }
            d[x] = (a << 24) | (r << 16) | (g << 8) | b;
        }
    }
    cairo_surface_mark_dirty(image);
    auto* obj = new Object(Kind::Image);
    obj->image = image;
    obj->width = w;
    obj->height = h;
    obj->rowBytes = rowBytes;
    obj->layout = layout;
    return NewObject(obj, out);
}

A_Err NewPath(DRAWBOT_SupplierRef, DRAWBOT_PathRef* out) { return NewObject(new Object(Kind::Path), out); }

A_Err Yes(DRAWBOT_SupplierRef, DRAWBOT_Boolean* out) {
    if (out) *out = 1;
    return A_Err_NONE;
}
A_Err No(DRAWBOT_SupplierRef, DRAWBOT_Boolean* out) {
    if (out) *out = 0;
    return A_Err_NONE;
}

// ---- Draw ----

A_Err GetSupplier(DRAWBOT_DrawRef ref, DRAWBOT_SupplierRef* out) {
    if (!out) return A_Err_PARAMETER;
    auto& b = TheBooks();
    std::lock_guard lock(b.mutex);
    Canvas* c = CanvasOf(ref, RefKind::Draw);
    if (!c) return A_Err_PARAMETER;
    *out = nullptr;
    if (const CallFault fault = TakeCallFault(); fault != CallFault::kNone)
        return fault == CallFault::kNull ? A_Err_NONE : A_Err_ALLOC;
    *out = reinterpret_cast<DRAWBOT_SupplierRef>(&c->tags[1]);
    return A_Err_NONE;
}

A_Err GetSurface(DRAWBOT_DrawRef ref, DRAWBOT_SurfaceRef* out) {
    if (!out) return A_Err_PARAMETER;
    auto& b = TheBooks();
    std::lock_guard lock(b.mutex);
    Canvas* c = CanvasOf(ref, RefKind::Draw);
    if (!c) return A_Err_PARAMETER;
    *out = nullptr;
    if (const CallFault fault = TakeCallFault(); fault != CallFault::kNone)
        return fault == CallFault::kNull ? A_Err_NONE : A_Err_ALLOC;
    *out = reinterpret_cast<DRAWBOT_SurfaceRef>(&c->tags[2]);
    return A_Err_NONE;
}

// ---- Path ----

A_Err PathOpOn(DRAWBOT_PathRef ref, PathOp op, std::initializer_list<float> values) {
    if (!Finite(values)) return A_Err_PARAMETER;
    std::copy(values.begin(), values.end(), op.v);
    auto& b = TheBooks();
    std::lock_guard lock(b.mutex);
    Object* obj = Find(ref, Kind::Path);
    if (!obj) return A_Err_PARAMETER;
    obj->path.push_back(op);
    return A_Err_NONE;
}
A_Err MoveTo(DRAWBOT_PathRef p, float x, float y) { return PathOpOn(p, {kMove, {}}, {x, y}); }
A_Err LineTo(DRAWBOT_PathRef p, float x, float y) { return PathOpOn(p, {kLine, {}}, {x, y}); }
A_Err BezierTo(DRAWBOT_PathRef p, const DRAWBOT_PointF32* a, const DRAWBOT_PointF32* b, const DRAWBOT_PointF32* c) {
    if (!a || !b || !c) return A_Err_PARAMETER;
    return PathOpOn(p, {kBezier, {}}, {a->x, a->y, b->x, b->y, c->x, c->y});
}
A_Err AddRect(DRAWBOT_PathRef p, const DRAWBOT_RectF32* r) {
    if (!r) return A_Err_PARAMETER;
    return PathOpOn(p, {kRect, {}}, {r->left, r->top, r->width, r->height});
}
// Angles in degrees; a positive sweep turns clockwise on the y-down surface.
A_Err AddArc(DRAWBOT_PathRef p, const DRAWBOT_PointF32* c, float radius, float start, float sweep) {
    if (!c || radius < 0) return A_Err_PARAMETER;
    return PathOpOn(p, {kArc, {}}, {c->x, c->y, radius, start, sweep});
}
A_Err Close(DRAWBOT_PathRef p) { return PathOpOn(p, {kClose, {}}, {}); }

void Replay(cairo_t* cr, const std::vector<PathOp>& path) {
    constexpr double kDegrees = M_PI / 180.0;
    cairo_new_path(cr);
    for (const PathOp& op : path) {
        const float* v = op.v;
        switch (op.code) {
            case kMove: cairo_move_to(cr, v[0], v[1]); break;
            case kLine: cairo_line_to(cr, v[0], v[1]); break;
            case kBezier: cairo_curve_to(cr, v[0], v[1], v[2], v[3], v[4], v[5]); break;
            case kRect: cairo_rectangle(cr, v[0], v[1], v[2], v[3]); break;
            case kArc: {
                const double a0 = v[3] * kDegrees, a1 = (double(v[3]) + v[4]) * kDegrees;
                cairo_new_sub_path(cr);
                if (v[4] >= 0)
                    cairo_arc(cr, v[0], v[1], v[2], a0, a1);
                else
                    cairo_arc_negative(cr, v[0], v[1], v[2], a0, a1);
                break;
            }
            case kClose: cairo_close_path(cr); break;
        }
    }
}

// ---- Surface ----

void SetColour(cairo_t* cr, const DRAWBOT_ColorRGBA& c) {
    auto unit = [](float v) { return std::clamp(double(v), 0.0, 1.0); };
    cairo_set_source_rgba(cr, unit(c.red), unit(c.green), unit(c.blue), unit(c.alpha));
}

cairo_antialias_t Antialias(DRAWBOT_AntiAliasPolicy policy) {
    switch (policy) {
        case kDRAWBOT_AntiAliasPolicy_None: return CAIRO_ANTIALIAS_NONE;
        case kDRAWBOT_AntiAliasPolicy_Medium: return CAIRO_ANTIALIAS_FAST;
        default: return CAIRO_ANTIALIAS_GOOD;
    }
}

cairo_filter_t Filter(DRAWBOT_InterpolationPolicy policy) {
    switch (policy) {
        case kDRAWBOT_InterpolationPolicy_None: return CAIRO_FILTER_NEAREST;
        case kDRAWBOT_InterpolationPolicy_Med: return CAIRO_FILTER_BILINEAR;
        default: return CAIRO_FILTER_BEST;
    }
}

// Runs one drawing operation on the canvas behind a surface reference, inside
// a save/restore of its own so that nothing but the effect's calls changes
// the surface's state.
template <typename Body>
A_Err OnSurface(const char* call, DRAWBOT_SurfaceRef ref, Body&& body) {
    auto& b = TheBooks();
    std::lock_guard lock(b.mutex);
    Canvas* c = CanvasOf(ref, RefKind::Surface);
    if (!c) return A_Err_PARAMETER;
    if (A_Err err = Injected(call)) return err;
    cairo_save(c->cr);
    cairo_set_antialias(c->cr, Antialias(c->policies.antiAlias));
    A_Err err = body(*c);
    cairo_restore(c->cr);
    if (!err && cairo_status(c->cr) != CAIRO_STATUS_SUCCESS) err = A_Err_GENERIC;
    return err;
}

A_Err PushStateStack(DRAWBOT_SurfaceRef ref) {
    auto& b = TheBooks();
    std::lock_guard lock(b.mutex);
    Canvas* c = CanvasOf(ref, RefKind::Surface);
    if (!c) return A_Err_PARAMETER;
    if (A_Err err = Injected("PushStateStack")) return err;
    cairo_save(c->cr);
    c->stack.push_back(c->policies);
    return A_Err_NONE;
}

A_Err PopStateStack(DRAWBOT_SurfaceRef ref) {
    auto& b = TheBooks();
    std::lock_guard lock(b.mutex);
    Canvas* c = CanvasOf(ref, RefKind::Surface);
    if (!c) return A_Err_PARAMETER;
    if (c->stack.empty()) {
        b.misuses++;
        return A_Err_GENERIC;
    }
    cairo_restore(c->cr);
    c->policies = c->stack.back();
    c->stack.pop_back();
    return A_Err_NONE;
}

A_Err PaintRect(DRAWBOT_SurfaceRef ref, const DRAWBOT_ColorRGBA* colour, const DRAWBOT_RectF32* r) {
    if (!ValidColour(colour) || !r || !Finite({r->left, r->top, r->width, r->height})) return A_Err_PARAMETER;
    return OnSurface("PaintRect", ref, [&](Canvas& c) {
        cairo_rectangle(c.cr, r->left, r->top, r->width, r->height);
        SetColour(c.cr, *colour);
        cairo_fill(c.cr);
        return A_Err_NONE;
    });
}

A_Err FillPath(DRAWBOT_SurfaceRef ref, DRAWBOT_BrushRef brushRef, DRAWBOT_PathRef pathRef, DRAWBOT_FillType type) {
    if (type != kDRAWBOT_FillType_EvenOdd && type != kDRAWBOT_FillType_Winding) return A_Err_PARAMETER;
    return OnSurface("FillPath", ref, [&](Canvas& c) {
        Object* brush = Find(brushRef, Kind::Brush);
        Object* path = Find(pathRef, Kind::Path);
        if (!brush || !path) return A_Err_PARAMETER;
        Replay(c.cr, path->path);
        cairo_set_fill_rule(c.cr, type == kDRAWBOT_FillType_EvenOdd ? CAIRO_FILL_RULE_EVEN_ODD
                                                                     : CAIRO_FILL_RULE_WINDING);
        SetColour(c.cr, brush->colour);
        cairo_fill(c.cr);
        return A_Err_NONE;
    });
}

A_Err StrokePath(DRAWBOT_SurfaceRef ref, DRAWBOT_PenRef penRef, DRAWBOT_PathRef pathRef) {
    return OnSurface("StrokePath", ref, [&](Canvas& c) {
        Object* pen = Find(penRef, Kind::Pen);
        Object* path = Find(pathRef, Kind::Path);
        if (!pen || !path) return A_Err_PARAMETER;
        Replay(c.cr, path->path);
        cairo_set_line_width(c.cr, pen->size);
        SetColour(c.cr, pen->colour);
        cairo_stroke(c.cr);
        return A_Err_NONE;
    });
}

A_Err Clip(DRAWBOT_SurfaceRef ref, DRAWBOT_SupplierRef, const DRAWBOT_Rect32* r) {
    if (!r || r->width < 0 || r->height < 0) return A_Err_PARAMETER;
    auto& b = TheBooks();
    std::lock_guard lock(b.mutex);
    Canvas* c = CanvasOf(ref, RefKind::Surface);
    if (!c) return A_Err_PARAMETER;
    // Not inside a save of our own: the clip stays until the effect pops its state.
    cairo_new_path(c->cr);
    cairo_rectangle(c->cr, r->left, r->top, r->width, r->height);
    cairo_clip(c->cr);
    return A_Err_NONE;
}

void ClipExtents(cairo_t* cr, DRAWBOT_Rect32* out) {
    double x1, y1, x2, y2;
    cairo_clip_extents(cr, &x1, &y1, &x2, &y2);
    out->left = A_long(std::floor(x1));
    out->top = A_long(std::floor(y1));
    out->width = A_long(std::ceil(x2)) - out->left;
    out->height = A_long(std::ceil(y2)) - out->top;
}

A_Err GetClipBounds(DRAWBOT_SurfaceRef ref, DRAWBOT_Rect32* out) {
    if (!out) return A_Err_PARAMETER;
    return OnSurface("GetClipBounds", ref, [&](Canvas& c) {
        ClipExtents(c.cr, out);
        return A_Err_NONE;
    });
}

A_Err IsWithinClipBounds(DRAWBOT_SurfaceRef ref, const DRAWBOT_Rect32* r, DRAWBOT_Boolean* within) {
    if (!r || !within) return A_Err_PARAMETER;
    return OnSurface("IsWithinClipBounds", ref, [&](Canvas& c) {
        DRAWBOT_Rect32 clip;
        ClipExtents(c.cr, &clip);
        *within = r->left >= clip.left && r->top >= clip.top && r->left + r->width <= clip.left + clip.width &&
                  r->top + r->height <= clip.top + clip.height;
        return A_Err_NONE;
    });
}

// Row-vector convention: the translation is the third row. The third column
// is not used (the surface's transforms are affine).
A_Err Transform(DRAWBOT_SurfaceRef ref, const DRAWBOT_MatrixF32* m) {
    if (!m) return A_Err_PARAMETER;
    cairo_matrix_t matrix;
    cairo_matrix_init(&matrix, m->mat[0][0], m->mat[0][1], m->mat[1][0], m->mat[1][1], m->mat[2][0], m->mat[2][1]);
    cairo_matrix_t inverse = matrix;
    // A singular matrix would put the cairo context into a lasting error state.
    if (!Finite({m->mat[0][0], m->mat[0][1], m->mat[1][0], m->mat[1][1], m->mat[2][0], m->mat[2][1]}) ||
        cairo_matrix_invert(&inverse) != CAIRO_STATUS_SUCCESS)
        return A_Err_PARAMETER;
    auto& b = TheBooks();
    std::lock_guard lock(b.mutex);
    Canvas* c = CanvasOf(ref, RefKind::Surface);
    if (!c) return A_Err_PARAMETER;
    if (A_Err err = Injected("Transform")) return err;
    cairo_transform(c->cr, &matrix);
    return A_Err_NONE;
}

// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
std::vector<std::string> CodePoints(const A_UTF16Char* s) {
    std::vector<std::string> out;
    for (size_t i = 0; s[i]; ++i) {
        uint32_t cp = s[i];
        if (cp >= 0xD800 && cp < 0xDC00 && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp < 0xE000) {
            cp = 0xFFFD;
        }
        std::string u;
        if (cp < 0x80) {
            u += char(cp);
        } else if (cp < 0x800) {
            u += char(0xC0 | (cp >> 6));
            u += char(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            u += char(0xE0 | (cp >> 12));
            u += char(0x80 | ((cp >> 6) & 0x3F));
            u += char(0x80 | (cp & 0x3F));
        } else {
            u += char(0xF0 | (cp >> 18));
            u += char(0x80 | ((cp >> 12) & 0x3F));
            u += char(0x80 | ((cp >> 6) & 0x3F));
            u += char(0x80 | (cp & 0x3F));
        }
        out.push_back(u);
    }
    return out;
}

std::string Join(const std::vector<std::string>& cps, size_t from, size_t to) {
    std::string s;
    for (size_t i = from; i < to; ++i) s += cps[i];
    return s;
}

double Advance(cairo_t* cr, const std::string& text) {
    cairo_text_extents_t e;
    cairo_text_extents(cr, text.c_str(), &e);
    return e.x_advance;
}

// The text as drawn within `width`: whole when it fits, else shortened at its
// end or in its middle with an ellipsis (nothing when not even that fits).
std::string Truncated(cairo_t* cr, const std::vector<std::string>& cps, DRAWBOT_TextTruncation style,
                      double width) {
    const std::string whole = Join(cps, 0, cps.size());
    if (style == kDRAWBOT_TextTruncation_None || Advance(cr, whole) <= width) return whole;
    const std::string ellipsis = "\u2026";
    for (size_t keep = cps.size(); keep-- > 0;) {
        std::string candidate;
        if (style == kDRAWBOT_TextTruncation_PathEllipsis) {
            const size_t head = (keep + 1) / 2;
            candidate = Join(cps, 0, head) + ellipsis + Join(cps, cps.size() - (keep - head), cps.size());
        } else {
            candidate = Join(cps, 0, keep) + ellipsis;
        }
        if (Advance(cr, candidate) <= width) return candidate;
    }
    return {};
}

A_Err DrawString(DRAWBOT_SurfaceRef ref, DRAWBOT_BrushRef brushRef, DRAWBOT_FontRef fontRef,
                 const A_UTF16Char* text, const DRAWBOT_PointF32* origin, DRAWBOT_TextAlignment align,
                 DRAWBOT_TextTruncation truncation, float truncationWidth) {
    if (!text || !origin || !Finite({origin->x, origin->y}) || align < kDRAWBOT_TextAlignment_Left ||
        align > kDRAWBOT_TextAlignment_Right || truncation < kDRAWBOT_TextTruncation_None ||
        truncation > kDRAWBOT_TextTruncation_PathEllipsis)
        return A_Err_PARAMETER;
    return OnSurface("DrawString", ref, [&](Canvas& c) {
        Object* brush = Find(brushRef, Kind::Brush);
        Object* font = Find(fontRef, Kind::Font);
        if (!brush || !font) return A_Err_PARAMETER;
        cairo_select_font_face(c.cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
        cairo_set_font_size(c.cr, font->size);
        const double limit = std::isfinite(truncationWidth) ? std::max(0.0f, truncationWidth) : 0.0;
        const std::string drawn = Truncated(c.cr, CodePoints(text), truncation, limit);
        const double w = Advance(c.cr, drawn);
        double x = origin->x;
        if (align == kDRAWBOT_TextAlignment_Center) x -= w / 2;
        if (align == kDRAWBOT_TextAlignment_Right) x -= w;
        cairo_move_to(c.cr, x, origin->y);
        SetColour(c.cr, brush->colour);
        cairo_show_text(c.cr, drawn.c_str());

        double dx = x, dy = origin->y, ex = x + w, ey = origin->y;
        cairo_user_to_device(c.cr, &dx, &dy);
        cairo_user_to_device(c.cr, &ex, &ey);
        c.texts.push_back({drawn, dx, dy, ex - dx, font->size, ex, ey});
        return A_Err_NONE;
    });
}

A_Err DrawImage(DRAWBOT_SurfaceRef ref, DRAWBOT_ImageRef imageRef, const DRAWBOT_PointF32* origin, float alpha) {
    if (!origin || !Finite({origin->x, origin->y, alpha})) return A_Err_PARAMETER;
    return OnSurface("DrawImage", ref, [&](Canvas& c) {
        Object* image = Find(imageRef, Kind::Image);
        if (!image) return A_Err_PARAMETER;
        cairo_set_source_surface(c.cr, image->image, origin->x, origin->y);
        cairo_pattern_set_filter(cairo_get_source(c.cr), Filter(c.policies.interp));
        // Edge pixels stay sharp against the background rather than fading out.
        cairo_pattern_set_extend(cairo_get_source(c.cr), CAIRO_EXTEND_PAD);
        cairo_rectangle(c.cr, origin->x, origin->y, image->width, image->height);
        cairo_clip(c.cr);
        cairo_paint_with_alpha(c.cr, std::clamp(double(alpha), 0.0, 1.0));

        double l = origin->x, t = origin->y, r = l + image->width, btm = t + image->height;
        cairo_user_to_device(c.cr, &l, &t);
        cairo_user_to_device(c.cr, &r, &btm);
        c.images.push_back({image->width, image->height, image->rowBytes, image->layout, alpha, l, t, r, btm});
        return A_Err_NONE;
    });
}

A_Err SetInterpolationPolicy(DRAWBOT_SurfaceRef ref, DRAWBOT_InterpolationPolicy policy) {
    if (policy < kDRAWBOT_InterpolationPolicy_None || policy > kDRAWBOT_InterpolationPolicy_High)
        return A_Err_PARAMETER;
    return OnSurface("SetInterpolationPolicy", ref, [&](Canvas& c) {
        c.policies.interp = policy;
        return A_Err_NONE;
    });
}

A_Err GetInterpolationPolicy(DRAWBOT_SurfaceRef ref, DRAWBOT_InterpolationPolicy* out) {
    if (!out) return A_Err_PARAMETER;
    return OnSurface("GetInterpolationPolicy", ref, [&](Canvas& c) {
        *out = c.policies.interp;
        return A_Err_NONE;
    });
}

A_Err SetAntiAliasPolicy(DRAWBOT_SurfaceRef ref, DRAWBOT_AntiAliasPolicy policy) {
    if (policy < kDRAWBOT_AntiAliasPolicy_None || policy > kDRAWBOT_AntiAliasPolicy_High) return A_Err_PARAMETER;
    return OnSurface("SetAntiAliasPolicy", ref, [&](Canvas& c) {
        c.policies.antiAlias = policy;
        return A_Err_NONE;
    });
}

A_Err GetAntiAliasPolicy(DRAWBOT_SurfaceRef ref, DRAWBOT_AntiAliasPolicy* out) {
    if (!out) return A_Err_PARAMETER;
    return OnSurface("GetAntiAliasPolicy", ref, [&](Canvas& c) {
        *out = c.policies.antiAlias;
        return A_Err_NONE;
    });
}

A_Err Flush(DRAWBOT_SurfaceRef ref) {
    return OnSurface("Flush", ref, [&](Canvas& c) {
        cairo_surface_flush(c.surface);
        return A_Err_NONE;
    });
}

const DRAWBOT_DrawbotSuite1 kDraw = {GetSupplier, GetSurface};
const DRAWBOT_SupplierSuite1 kSupplier = {NewPen,  NewBrush, SupportsText, GetDefaultFontSize, NewDefaultFont,
                                          NewImageFromBuffer, NewPath, Yes, No, Yes, Yes, RetainObject,
                                          ReleaseObject};
const DRAWBOT_SurfaceSuite1 kSurface1 = {PushStateStack, PopStateStack, PaintRect, FillPath,
                                         StrokePath, Clip, GetClipBounds, IsWithinClipBounds,
                                         Transform, DrawString, DrawImage, SetInterpolationPolicy,
                                         GetInterpolationPolicy, SetAntiAliasPolicy, GetAntiAliasPolicy, Flush};
const DRAWBOT_SurfaceSuite2 kSurface2 = {PushStateStack, PopStateStack, PaintRect, FillPath,
                                         StrokePath, Clip, GetClipBounds, IsWithinClipBounds,
                                         Transform, DrawString, DrawImage, SetInterpolationPolicy,
                                         GetInterpolationPolicy, SetAntiAliasPolicy, GetAntiAliasPolicy, Flush,
                                         PaintRect};
const DRAWBOT_PathSuite1 kPath = {MoveTo, LineTo, BezierTo, AddRect, AddArc, Close};

}  // namespace

const DRAWBOT_DrawbotSuite1* DrawbotDrawSuite() { return &kDraw; }
const DRAWBOT_SupplierSuite1* DrawbotSupplierSuite() { return &kSupplier; }
const DRAWBOT_SurfaceSuite1* DrawbotSurfaceSuite1() { return &kSurface1; }
const DRAWBOT_SurfaceSuite2* DrawbotSurfaceSuite2() { return &kSurface2; }
const DRAWBOT_PathSuite1* DrawbotPathSuite() { return &kPath; }

A_Err DrawbotStrokeOnDrawRef(DRAWBOT_DrawRef ref, DRAWBOT_PathRef pathRef, const DRAWBOT_ColorRGBA& colour,
                             float width, double dx, double dy) {
    if (!ValidColour(&colour) || !std::isfinite(width) || width < 0) return A_Err_PARAMETER;
    auto& b = TheBooks();
    std::lock_guard lock(b.mutex);
    Canvas* c = CanvasOf(ref, RefKind::Draw);
    Object* path = Find(pathRef, Kind::Path);
    if (!c || !path) return A_Err_PARAMETER;
    if (A_Err err = Injected("StrokePath")) return err;
    cairo_save(c->cr);
    cairo_set_antialias(c->cr, Antialias(c->policies.antiAlias));
    cairo_translate(c->cr, dx, dy);
    Replay(c->cr, path->path);
    cairo_set_line_width(c->cr, width);
    SetColour(c->cr, colour);
    cairo_stroke(c->cr);
    cairo_restore(c->cr);
    return cairo_status(c->cr) == CAIRO_STATUS_SUCCESS ? A_Err_NONE : A_Err_GENERIC;
}

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
    b.failing.clear();
}

void DrawbotFailCall(const std::string& name, A_Err err) {
    auto& b = TheBooks();
    std::lock_guard lock(b.mutex);
    b.failing = name;
    b.failWith = err;
}

// ---- Canvas ----

DrawbotCanvas::DrawbotCanvas(int width, int height, double scale) : m(std::make_unique<Impl>()) {
    m->width = std::max(1, width);
    m->height = std::max(1, height);
    m->scale = scale > 0 && std::isfinite(scale) ? scale : 1.0;
    m->surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, int(std::ceil(m->width * m->scale)),
                                            int(std::ceil(m->height * m->scale)));
    cairo_surface_set_device_scale(m->surface, m->scale, m->scale);
    m->cr = cairo_create(m->surface);
    auto& b = TheBooks();
    std::lock_guard lock(b.mutex);
    b.refs[&m->tags[0]] = {m.get(), RefKind::Draw};
    b.refs[&m->tags[1]] = {m.get(), RefKind::Supplier};
    b.refs[&m->tags[2]] = {m.get(), RefKind::Surface};
}

DrawbotCanvas::~DrawbotCanvas() {
    {
        auto& b = TheBooks();
        std::lock_guard lock(b.mutex);
        for (const char& tag : m->tags) b.refs.erase(&tag);
    }
    cairo_destroy(m->cr);
    cairo_surface_destroy(m->surface);
}

DRAWBOT_DrawRef DrawbotCanvas::Ref() const { return reinterpret_cast<DRAWBOT_DrawRef>(&m->tags[0]); }
int DrawbotCanvas::Width() const { return m->width; }
int DrawbotCanvas::Height() const { return m->height; }
double DrawbotCanvas::Scale() const { return m->scale; }
cairo_surface_t* DrawbotCanvas::Surface() const { return m->surface; }

void DrawbotCanvas::Fill(const DRAWBOT_ColorRGBA& colour) {
    std::lock_guard lock(TheBooks().mutex);
    cairo_save(m->cr);
    cairo_identity_matrix(m->cr);
    cairo_reset_clip(m->cr);
    cairo_set_operator(m->cr, CAIRO_OPERATOR_SOURCE);
    SetColour(m->cr, colour);
    cairo_paint(m->cr);
    cairo_restore(m->cr);
}

DRAWBOT_ColorRGBA DrawbotCanvas::At(double x, double y) const {
    std::lock_guard lock(TheBooks().mutex);
    cairo_surface_flush(m->surface);
    const int w = cairo_image_surface_get_width(m->surface), h = cairo_image_surface_get_height(m->surface);
    const int px = std::clamp(int(std::floor(x * m->scale)), 0, w - 1);
    const int py = std::clamp(int(std::floor(y * m->scale)), 0, h - 1);
    const unsigned char* row = cairo_image_surface_get_data(m->surface) +
                               size_t(py) * size_t(cairo_image_surface_get_stride(m->surface));
    const uint32_t v = reinterpret_cast<const uint32_t*>(row)[px];
    const float a = float(v >> 24) / 255.0f;
    auto straight = [&](uint32_t c) { return a > 0 ? std::min(1.0f, float(c & 0xFF) / 255.0f / a) : 0.0f; };
    return {straight(v >> 16), straight(v >> 8), straight(v), a};
}

bool DrawbotCanvas::WritePNG(const std::string& path) const {
    std::lock_guard lock(TheBooks().mutex);
    cairo_surface_flush(m->surface);
    return cairo_surface_write_to_png(m->surface, path.c_str()) == CAIRO_STATUS_SUCCESS;
}

const std::vector<DrawbotCanvas::DrawnImage>& DrawbotCanvas::Images() const { return m->images; }
const std::vector<DrawbotCanvas::DrawnText>& DrawbotCanvas::Texts() const { return m->texts; }

void DrawbotCanvas::ClearRecords() {
    std::lock_guard lock(TheBooks().mutex);
    m->images.clear();
    m->texts.clear();
}

int DrawbotCanvas::StateDepth() const {
    std::lock_guard lock(TheBooks().mutex);
    return int(m->stack.size());
}

int DrawbotCanvas::EndDrawing() {
    std::lock_guard lock(TheBooks().mutex);
    int left = int(m->stack.size());
    for (; !m->stack.empty(); m->stack.pop_back()) cairo_restore(m->cr);
    m->policies = {};
    cairo_matrix_t ctm;
    cairo_get_matrix(m->cr, &ctm);
    if (ctm.xx != 1 || ctm.yx != 0 || ctm.xy != 0 || ctm.yy != 1 || ctm.x0 != 0 || ctm.y0 != 0) left++;
    // What the effect set without a push (transforms, clips) goes too.
    cairo_identity_matrix(m->cr);
    cairo_reset_clip(m->cr);
    cairo_new_path(m->cr);
    return left;
}

}  // namespace host
