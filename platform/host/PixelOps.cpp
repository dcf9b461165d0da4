#include "host/PixelOps.h"

#include "AE_GeneralPlug.h"

#include <tbb/global_control.h>
#include <tbb/parallel_for.h>

#include <chrono>
#include <tbb/partitioner.h>
#include <tbb/task_arena.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <type_traits>
#include <vector>

#include "host/TransferModes.h"
#include "host/WorldSuite.h"

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#endif

namespace host {

namespace {

// The distribution's libtbb is not built for ThreadSanitizer, so it cannot see
// the hand-off of work to the pool and back. These marks state those two
// edges (caller → tasks, tasks → caller) and nothing between tasks, so races
// among the callbacks themselves are still reported.
struct HandOff {
    char start = 0, done = 0;
#if defined(__SANITIZE_THREAD__)
    void Send() { __tsan_release(&start); }
    void Receive() { __tsan_acquire(&start); }
    void Finish() { __tsan_release(&done); }
    void Collect() { __tsan_acquire(&done); }
#else
    void Send() {}
    void Receive() {}
    void Finish() {}
    void Collect() {}
#endif
};

std::atomic<long> g_cancelAfterRows{0};
std::atomic<long> g_cancelAtCall{0};
std::atomic<long> g_strayAtCall{0};
std::atomic<long> g_iterateCalls{0};
std::atomic<int> g_threads{0};

// The pool's workers otherwise wind down on their own while the process exits,
// and LeakSanitizer's stop-the-world at exit now and then crashes on a thread
// that is halfway gone. Joining them first leaves only the main thread there.
struct JoinWorkersAtExit {
    tbb::task_scheduler_handle handle{tbb::attach{}};
    ~JoinWorkersAtExit() { (void)tbb::finalize(handle, std::nothrow); }
} g_joinWorkersAtExit;

enum class Depth { k8, k16, k32 };

size_t PixelBytes(Depth d) {
    switch (d) {
        case Depth::k8:
            return sizeof(PF_Pixel8);
        case Depth::k16:
            return sizeof(PF_Pixel16);
        default:
            return sizeof(PF_PixelFloat);
    }
}

// A world's pixels as this file reads them; snapshots use the same shape.
struct View {
    unsigned char* base = nullptr;
    ptrdiff_t rowbytes = 0;
    A_long width = 0;
    A_long height = 0;
    Depth depth = Depth::k8;

    template <class P>
    P* Row(int64_t y) const {
        return reinterpret_cast<P*>(base + ptrdiff_t(y) * rowbytes);
    }
    // Lowest and one-past-highest byte the pixels occupy.
    const unsigned char* Low() const { return rowbytes < 0 && height > 0 ? base + (height - 1) * rowbytes : base; }
    const unsigned char* High() const {
        if (width <= 0 || height <= 0) return Low();
        return Low() + (height - 1) * std::abs(rowbytes) + width * PixelBytes(depth);
    }
};

PF_Err ViewOf(const PF_EffectWorld* world, View* view) {
    if (!world || !world->data || world->width < 0 || world->height < 0) return PF_Err_BAD_CALLBACK_PARAM;
    Depth depth = Depth::k8;
    // Only deep worlds need the table: their flag does not tell 16 from 32 bits.
    if (world->world_flags & PF_WorldFlag_DEEP) {
        PF_PixelFormat format = PF_PixelFormat_INVALID;
        if (WorldTable::Instance().Format(world, &format) != PF_Err_NONE) return PF_Err_BAD_CALLBACK_PARAM;
        if (format == PF_PixelFormat_ARGB64)
            depth = Depth::k16;
        else if (format == PF_PixelFormat_ARGB128)
            depth = Depth::k32;
        else if (format != PF_PixelFormat_ARGB32)
            return PF_Err_BAD_CALLBACK_PARAM;
    }
    if (std::abs(int64_t(world->rowbytes)) < int64_t(world->width) * int64_t(PixelBytes(depth)))
        return PF_Err_BAD_CALLBACK_PARAM;
    *view = View{reinterpret_cast<unsigned char*>(world->data), world->rowbytes, world->width, world->height, depth};
    return PF_Err_NONE;
}

bool Overlaps(const View& a, const View& b) { return a.Low() < b.High() && b.Low() < a.High(); }

// A packed copy of a source that shares memory with the destination.
struct Snapshot {
    std::vector<unsigned char> bytes;
    View view;
    Snapshot(const Snapshot&) = delete;
    explicit Snapshot(const View& src) : view(src) {
        size_t row = size_t(src.width) * PixelBytes(src.depth);
        bytes.resize(std::max<size_t>(row * size_t(src.height), 1));
        for (A_long y = 0; y < src.height; ++y) std::memcpy(bytes.data() + row * y, src.Row<unsigned char>(y), row);
        view.base = bytes.data();
        view.rowbytes = ptrdiff_t(row);
    }
};

struct Rect {
    int64_t l = 0, t = 0, r = 0, b = 0;
    bool Empty() const { return r <= l || b <= t; }
    int64_t W() const { return r - l; }
    int64_t H() const { return b - t; }
};

Rect FromPF(const PF_Rect& r) { return {r.left, r.top, r.right, r.bottom}; }
Rect Bounds(const View& v) { return {0, 0, v.width, v.height}; }
Rect Intersect(const Rect& a, const Rect& b) {
    return {std::max(a.l, b.l), std::max(a.t, b.t), std::min(a.r, b.r), std::min(a.b, b.b)};
}
Rect Shift(const Rect& a, int64_t dx, int64_t dy) { return {a.l + dx, a.t + dy, a.r + dx, a.b + dy}; }

// Channel values in float, 0..1 for the integer depths.
inline PF_PixelFloat Load(const PF_Pixel8& p) {
    return {p.alpha / 255.0f, p.red / 255.0f, p.green / 255.0f, p.blue / 255.0f};
}
inline PF_PixelFloat Load(const PF_Pixel16& p) {
    constexpr float k = 1.0f / PF_MAX_CHAN16;
    return {p.alpha * k, p.red * k, p.green * k, p.blue * k};
}
inline PF_PixelFloat Load(const PF_PixelFloat& p) { return p; }

inline float Clamp01(float v) { return v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f; }
inline A_u_char To8(float v) { return A_u_char(Clamp01(v) * 255.0f + 0.5f); }
inline A_u_short To16(float v) { return A_u_short(Clamp01(v) * PF_MAX_CHAN16 + 0.5f); }

inline void Store(const PF_PixelFloat& v, PF_Pixel8* p) { *p = {To8(v.alpha), To8(v.red), To8(v.green), To8(v.blue)}; }
inline void Store(const PF_PixelFloat& v, PF_Pixel16* p) {
    *p = {To16(v.alpha), To16(v.red), To16(v.green), To16(v.blue)};
}
inline void Store(const PF_PixelFloat& v, PF_PixelFloat* p) { *p = v; }

template <class F>
PF_Err WithPixel(Depth d, F&& f) {
    switch (d) {
        case Depth::k8:
            return f(PF_Pixel8{});
        case Depth::k16:
            return f(PF_Pixel16{});
        default:
            return f(PF_PixelFloat{});
    }
}

// Runs fn(y) for rows [top, bottom) on the worker threads allowed.
template <class Fn>
void ForRows(int64_t top, int64_t bottom, Fn&& fn) {
    HandOff handOff;
    auto body = [&] {
        handOff.Send();
        tbb::parallel_for(top, bottom, [&](int64_t y) {
            handOff.Receive();
            fn(y);
            handOff.Finish();
        });
        handOff.Collect();
    };
    int n = g_threads.load();
    if (n > 0) {
        tbb::task_arena arena(n);
        arena.execute(body);
    } else {
        body();
    }
}

// The first error reported wins; later ones are dropped.
struct FirstError {
    std::atomic<PF_Err> err{PF_Err_NONE};
    void Set(PF_Err e) {
        PF_Err none = PF_Err_NONE;
        if (e != PF_Err_NONE) err.compare_exchange_strong(none, e);
    }
    bool Stopped() const { return err.load(std::memory_order_relaxed) != PF_Err_NONE; }
};

PF_PixelFloat Transparent() { return {0, 0, 0, 0}; }

template <class P>
PF_PixelFloat At(const View& v, int64_t x, int64_t y) {
    return Load(v.Row<P>(y)[x]);
}

// Bilinear sample with centres at half-integers. Taps outside `valid` are
// either clamped to its edge or transparent. A sample landing on one tap
// returns that pixel exactly. straight: colours are weighted by alpha and
// divided out again, so transparent neighbours do not darken the result.
template <class P>
PF_PixelFloat Bilinear(const View& v, const Rect& valid, double u, double w, bool clampEdges, bool straight) {
    double fx = u - 0.5, fy = w - 0.5;
    double x0d = std::floor(fx), y0d = std::floor(fy);
    float tx = float(fx - x0d), ty = float(fy - y0d);
    if (!std::isfinite(x0d) || !std::isfinite(y0d) || x0d < -4e9 || x0d > 4e9 || y0d < -4e9 || y0d > 4e9)
        return Transparent();
    int64_t xs[2] = {int64_t(x0d), int64_t(x0d) + 1};
    int64_t ys[2] = {int64_t(y0d), int64_t(y0d) + 1};
    float wx[2] = {1.0f - tx, tx};
    float wy[2] = {1.0f - ty, ty};

    auto tap = [&](int64_t x, int64_t y, bool* inside) {
        if (clampEdges) {
            x = std::clamp(x, valid.l, valid.r - 1);
            y = std::clamp(y, valid.t, valid.b - 1);
        } else if (x < valid.l || x >= valid.r || y < valid.t || y >= valid.b) {
            *inside = false;
            return Transparent();
        }
        *inside = true;
        return At<P>(v, x, y);
    };

    if (tx == 0.0f && ty == 0.0f) {
        bool inside;
        return tap(xs[0], ys[0], &inside);
    }
    float a = 0, r = 0, g = 0, b = 0;
    for (int j = 0; j < 2; ++j) {
        for (int i = 0; i < 2; ++i) {
            float k = wx[i] * wy[j];
            if (k == 0.0f) continue;
            bool inside;
            PF_PixelFloat p = tap(xs[i], ys[j], &inside);
            if (!inside) continue;
            float m = straight ? k * p.alpha : k;
            a += k * p.alpha;
            r += m * p.red;
            g += m * p.green;
            b += m * p.blue;
        }
    }
    if (straight) {
        if (a <= 0.0f) return Transparent();
        return {a, r / a, g / a, b / a};
    }
    return {a, r, g, b};
}

template <class P>
PF_PixelFloat Nearest(const View& v, double u, double w) {
    double x = std::floor(u), y = std::floor(w);
    if (!(x >= 0 && y >= 0 && x < v.width && y < v.height)) return Transparent();
    return At<P>(v, int64_t(x), int64_t(y));
}

bool Invert(const double m[3][3], double out[3][3]) {
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            if (!std::isfinite(m[i][j])) return false;
    double c00 = m[1][1] * m[2][2] - m[1][2] * m[2][1];
    double c01 = m[1][2] * m[2][0] - m[1][0] * m[2][2];
    double c02 = m[1][0] * m[2][1] - m[1][1] * m[2][0];
    double det = m[0][0] * c00 + m[0][1] * c01 + m[0][2] * c02;
    if (!std::isfinite(det) || std::fabs(det) < 1e-12) return false;
    double k = 1.0 / det;
    out[0][0] = c00 * k;
    out[1][0] = c01 * k;
    out[2][0] = c02 * k;
    out[0][1] = (m[0][2] * m[2][1] - m[0][1] * m[2][2]) * k;
    out[1][1] = (m[0][0] * m[2][2] - m[0][2] * m[2][0]) * k;
    out[2][1] = (m[0][1] * m[2][0] - m[0][0] * m[2][1]) * k;
    out[0][2] = (m[0][1] * m[1][2] - m[0][2] * m[1][1]) * k;
    out[1][2] = (m[0][2] * m[1][0] - m[0][0] * m[1][2]) * k;
    out[2][2] = (m[0][0] * m[1][1] - m[0][1] * m[1][0]) * k;
    return true;
}

template <class PixelFn>
PF_Err IterateImpl(PF_EffectWorld* src, const PF_Rect* area, void* refcon, PixelFn pix_fn, PF_EffectWorld* dst,
                   Depth want) {
    if (!dst || !pix_fn) return PF_Err_BAD_CALLBACK_PARAM;
    View d, s;
    if (PF_Err e = ViewOf(dst, &d)) return e;
    if (d.depth != want) return PF_Err_BAD_CALLBACK_PARAM;
    Rect r = Bounds(d);
    if (src) {
        if (PF_Err e = ViewOf(src, &s)) return e;
        if (s.depth != want) return PF_Err_BAD_CALLBACK_PARAM;
        r = Intersect(r, Bounds(s));
    }
    if (area) r = Intersect(r, FromPF(*area));

    long cancelAfter = g_cancelAfterRows.exchange(0);
    g_iterateCalls++;
    if (g_cancelAtCall.load() > 0 && g_cancelAtCall.fetch_sub(1) == 1) cancelAfter = 1;
    const bool stray = g_strayAtCall.load() > 0 && g_strayAtCall.fetch_sub(1) == 1;
    if (r.Empty()) return PF_Err_NONE;

    using P = std::conditional_t<std::is_same_v<PixelFn, PF_IteratePixel8Func>, PF_Pixel8, PF_PixelFloat>;
    FirstError first;
    std::atomic<long> rowsDone{0};
    ForRows(r.t, r.b, [&](int64_t y) {
        if (first.Stopped()) return;
        P* out = d.Row<P>(y);
        P* in = src ? s.Row<P>(y) : out;
        for (int64_t x = r.l; x < r.r; ++x) {
            if (PF_Err e = pix_fn(refcon, A_long(x), A_long(y), &in[x], &out[x])) {
                first.Set(e);
                return;
            }
        }
        if (cancelAfter > 0 && rowsDone.fetch_add(1) + 1 >= cancelAfter) first.Set(PF_Interrupt_CANCEL);
    });
    if (stray && !first.err.load()) {
        // One opaque white pixel just right of the area's first row, in no world's memory.
        using C = decltype(P{}.alpha);
        const C full = std::is_same_v<P, PF_Pixel8> ? C(255) : C(1);
        P in{full, full, full, full}, out = in;
        return pix_fn(refcon, A_long(r.r), A_long(r.t), &in, &out);
    }
    return first.err.load();
}

}  // namespace

// Time spent inside the pixel services, per calling thread: the host-side
// share of a render, reported apart from the effect's own (GL) work.
thread_local double t_serviceMs = 0;

struct ServiceTimer {
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    ~ServiceTimer() {
        t_serviceMs += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    }
};

PF_Err Fill(void*, const PF_Pixel* color, const PF_Rect* rect, PF_EffectWorld* world) {
    ServiceTimer timer;
    View v;
    if (PF_Err e = ViewOf(world, &v)) return e;
    const PF_Pixel c = color ? *color : PF_Pixel{0, 0, 0, 0};
    Rect r = Bounds(v);
    if (rect) r = Intersect(r, FromPF(*rect));
    if (r.Empty()) return PF_Err_NONE;
    return WithPixel(v.depth, [&](auto tag) {
        using P = decltype(tag);
        P value;
        Store(Load(c), &value);
        for (int64_t y = r.t; y < r.b; ++y) std::fill(v.Row<P>(y) + r.l, v.Row<P>(y) + r.r, value);
        return PF_Err_NONE;
    });
}

PF_Err Copy(void*, PF_EffectWorld* src, PF_EffectWorld* dst, PF_Rect* src_r, PF_Rect* dst_r) {
    ServiceTimer timer;
    View s, d;
    if (PF_Err e = ViewOf(src, &s)) return e;
    if (PF_Err e = ViewOf(dst, &d)) return e;
    const Rect sr = src_r ? FromPF(*src_r) : Bounds(s);
    const Rect dr = dst_r ? FromPF(*dst_r) : Bounds(d);
    if (sr.Empty() || dr.Empty()) return PF_Err_NONE;

    std::optional<Snapshot> keep;
    if (Overlaps(s, d)) s = keep.emplace(s).view;

    if (sr.W() == dr.W() && sr.H() == dr.H()) {
        const int64_t dx = dr.l - sr.l, dy = dr.t - sr.t;
        const Rect area = Intersect(Intersect(dr, Bounds(d)), Shift(Intersect(sr, Bounds(s)), dx, dy));
        if (area.Empty()) return PF_Err_NONE;
        if (s.depth == d.depth) {
            const size_t px = PixelBytes(d.depth);
            for (int64_t y = area.t; y < area.b; ++y)
                std::memcpy(d.Row<unsigned char>(y) + area.l * px, s.Row<unsigned char>(y - dy) + (area.l - dx) * px,
                            size_t(area.W()) * px);
            return PF_Err_NONE;
        }
        return WithPixel(s.depth, [&](auto stag) {
            return WithPixel(d.depth, [&](auto dtag) {
                using S = decltype(stag);
                using D = decltype(dtag);
                for (int64_t y = area.t; y < area.b; ++y) {
                    const S* in = s.Row<S>(y - dy);
                    D* out = d.Row<D>(y);
                    for (int64_t x = area.l; x < area.r; ++x) Store(Load(in[x - dx]), &out[x]);
                }
                return PF_Err_NONE;
            });
        });
    }

    // Resampling: destination pixel centres map linearly onto the source rect.
    const Rect valid = Intersect(sr, Bounds(s));
    const Rect area = Intersect(dr, Bounds(d));
    if (valid.Empty() || area.Empty()) return PF_Err_NONE;
    const double kx = double(sr.W()) / double(dr.W());
    const double ky = double(sr.H()) / double(dr.H());
    return WithPixel(s.depth, [&](auto stag) {
        return WithPixel(d.depth, [&](auto dtag) {
            using S = decltype(stag);
            using D = decltype(dtag);
            ForRows(area.t, area.b, [&](int64_t y) {
                D* out = d.Row<D>(y);
                const double v = double(sr.t) + (double(y - dr.t) + 0.5) * ky;
                for (int64_t x = area.l; x < area.r; ++x) {
                    const double u = double(sr.l) + (double(x - dr.l) + 0.5) * kx;
                    Store(Bilinear<S>(s, valid, u, v, true, false), &out[x]);
                }
            });
            return PF_Err_NONE;
        });
    });
}

PF_Err TransferRect(void*, PF_Quality, PF_ModeFlags m_flags, PF_Field, const PF_Rect* src_rect,
                    const PF_EffectWorld* src, const PF_CompositeMode* comp, const PF_MaskWorld*, A_long dest_x,
                    A_long dest_y, PF_EffectWorld* dst) {
    ServiceTimer timer;
    if (!comp || !IsKnownTransferMode(comp->xfer)) return PF_Err_BAD_CALLBACK_PARAM;
    View s, d;
    if (PF_Err e = ViewOf(src, &s)) return e;
    if (PF_Err e = ViewOf(dst, &d)) return e;
    const Rect sr = Intersect(src_rect ? FromPF(*src_rect) : Bounds(s), Bounds(s));
    const int64_t dx = int64_t(dest_x) - (src_rect ? int64_t(src_rect->left) : 0);
    const int64_t dy = int64_t(dest_y) - (src_rect ? int64_t(src_rect->top) : 0);
    const Rect area = Intersect(Shift(sr, dx, dy), Bounds(d));
    if (area.Empty()) return PF_Err_NONE;

    std::optional<Snapshot> keep;
    if (Overlaps(s, d)) s = keep.emplace(s).view;
    // Layers in this host hold straight alpha, so rectangles always blend as
    // straight pixels; the mode flags only steer transform_world's sampling.
    const bool premul = false;
    const PF_CompositeMode mode = *comp;
    return WithPixel(s.depth, [&](auto stag) {
        return WithPixel(d.depth, [&](auto dtag) {
            using S = decltype(stag);
            using D = decltype(dtag);
            ForRows(area.t, area.b, [&](int64_t y) {
                const S* in = s.Row<S>(y - dy);
                D* out = d.Row<D>(y);
                for (int64_t x = area.l; x < area.r; ++x)
                    Store(Composite(Load(in[x - dx]), Load(out[x]), mode, A_long(x), A_long(y), premul), &out[x]);
            });
            return PF_Err_NONE;
        });
    });
}

PF_Err CompositeRect(void* effect_ref, PF_Rect* src_rect, A_long src_opacity, PF_EffectWorld* src, A_long dest_x,
                     A_long dest_y, PF_Field field, PF_TransferMode xfer, PF_EffectWorld* dst) {
    PF_CompositeMode mode{};
    mode.xfer = xfer;
    mode.opacity = A_u_char(std::clamp<A_long>(src_opacity, 0, 255));
    mode.opacitySu = A_u_short(mode.opacity * PF_MAX_CHAN16 / 255);
    return TransferRect(effect_ref, PF_Quality_HI, PF_MF_Alpha_PREMUL, field, src_rect, src, &mode, nullptr, dest_x,
                        dest_y, dst);
}

PF_Err TransformWorld(void*, PF_Quality quality, PF_ModeFlags m_flags, PF_Field, const PF_EffectWorld* src,
                      const PF_CompositeMode* comp, const PF_MaskWorld*, const PF_FloatMatrix* matrices,
                      A_long num_matrices, PF_Boolean src2dst, const PF_Rect* dest_rect, PF_EffectWorld* dst) {
    ServiceTimer timer;
    if (!comp || !IsKnownTransferMode(comp->xfer) || !matrices || num_matrices < 1) return PF_Err_BAD_CALLBACK_PARAM;
    View s, d;
    if (PF_Err e = ViewOf(src, &s)) return e;
    if (PF_Err e = ViewOf(dst, &d)) return e;

    // Sampling needs destination → source; a singular matrix has no such map
    // either way round.
    double m[3][3];
    if (!Invert(matrices[0].mat, m)) return PF_Err_BAD_CALLBACK_PARAM;
    if (!src2dst) std::memcpy(m, matrices[0].mat, sizeof m);

    Rect area = Bounds(d);
    if (dest_rect) area = Intersect(area, FromPF(*dest_rect));
    if (area.Empty()) return PF_Err_NONE;

    std::optional<Snapshot> keep;
    if (Overlaps(s, d)) s = keep.emplace(s).view;
    const bool straight = m_flags & PF_MF_Alpha_STRAIGHT;
    const bool bilinear = quality == PF_Quality_HI;
    const PF_CompositeMode mode = *comp;
    const Rect valid = Bounds(s);
    return WithPixel(s.depth, [&](auto stag) {
        return WithPixel(d.depth, [&](auto dtag) {
            using S = decltype(stag);
            using D = decltype(dtag);
            ForRows(area.t, area.b, [&](int64_t y) {
                D* out = d.Row<D>(y);
                const double py = double(y) + 0.5;
                for (int64_t x = area.l; x < area.r; ++x) {
                    const double px = double(x) + 0.5;
                    double u = px * m[0][0] + py * m[1][0] + m[2][0];
                    double v = px * m[0][1] + py * m[1][1] + m[2][1];
                    const double w = px * m[0][2] + py * m[1][2] + m[2][2];
                    PF_PixelFloat sample = Transparent();
                    // Points behind the projection (w ≤ 0) have no source.
                    if (w > 1e-12) {
                        if (w != 1.0) {
                            u /= w;
                            v /= w;
                        }
                        sample = bilinear ? Bilinear<S>(s, valid, u, v, false, straight) : Nearest<S>(s, u, v);
                    }
                    Store(Composite(sample, Load(out[x]), mode, A_long(x), A_long(y), !straight), &out[x]);
                }
            });
            return PF_Err_NONE;
        });
    });
}

PF_Err Iterate8(PF_InData*, A_long, A_long, PF_EffectWorld* src, const PF_Rect* area, void* refcon,
                PF_IteratePixel8Func pix_fn, PF_EffectWorld* dst) {
    ServiceTimer timer;
    return IterateImpl(src, area, refcon, pix_fn, dst, Depth::k8);
}

PF_Err IterateFloat(PF_InData*, A_long, A_long, PF_EffectWorld* src, const PF_Rect* area, void* refcon,
                    PF_IteratePixelFloatFunc pix_fn, PF_EffectWorld* dst) {
    ServiceTimer timer;
    return IterateImpl(src, area, refcon, pix_fn, dst, Depth::k32);
}

PF_Err IterateGeneric(A_long iterations, void* refcon,
                      PF_Err (*fn)(void* refcon, A_long thread_index, A_long i, A_long iterations)) {
    ServiceTimer timer;
    if (!fn || iterations < -1) return PF_Err_BAD_CALLBACK_PARAM;
    int n = g_threads.load();
    tbb::task_arena arena(n > 0 ? n : tbb::task_arena::automatic);
    if (iterations == -1) iterations = arena.max_concurrency();
    FirstError first;
    HandOff handOff;
    arena.execute([&] {
        handOff.Send();
        tbb::parallel_for(
            A_long(0), iterations,
            [&](A_long i) {
                handOff.Receive();
                if (!first.Stopped()) first.Set(fn(refcon, tbb::this_task_arena::current_thread_index(), i, iterations));
                handOff.Finish();
            },
            tbb::simple_partitioner());
        handOff.Collect();
    });
    return first.err.load();
}

void SetIterateCancelAfterRows(long rows) { g_cancelAfterRows.store(rows > 0 ? rows : 0); }
void SetIterateCancelAt(long nth) { g_cancelAtCall.store(nth > 0 ? nth : 0); }
void SetIterateStrayAt(long nth) { g_strayAtCall.store(nth > 0 ? nth : 0); }
long IterateCalls() { return g_iterateCalls.load(); }
void SetIterateThreads(int n) { g_threads.store(n > 0 ? n : 0); }

const PF_WorldTransformSuite1* WorldTransformSuite() {
    static const PF_WorldTransformSuite1 suite = {
        &CompositeRect, nullptr, nullptr, &Copy, &Copy, &TransferRect, &TransformWorld,
    };
    return &suite;
}

const PF_Iterate8Suite1* Iterate8Suite() {
    static const PF_Iterate8Suite1 suite = {&Iterate8, nullptr, &IterateGeneric};
    return &suite;
}

const PF_iterateFloatSuite1* IterateFloatSuite() {
    static const PF_iterateFloatSuite1 suite = {&IterateFloat, nullptr};
    return &suite;
}

void FillPixelCallbacks(PF_UtilCallbacks* utils) {
    if (!utils) return;
    utils->fill = &Fill;
    utils->copy = &Copy;
    utils->composite_rect = &CompositeRect;
    utils->transfer_rect = &TransferRect;
    utils->transform_world = &TransformWorld;
    utils->iterate = &Iterate8;
    utils->iterate_generic = &IterateGeneric;
}

namespace {
A_long AegpThreads() { return A_long(tbb::this_task_arena::max_concurrency()); }
A_Err AegpIterate(A_long iterations, void* refcon, A_Err (*fn)(void*, A_long, A_long, A_long)) {
    return IterateGeneric(iterations, refcon, fn);
}
const AEGP_IterateSuite1 kAegpIterate = {AegpThreads, AegpIterate};
}  // namespace

const AEGP_IterateSuite1* AegpIterateSuite() { return &kAegpIterate; }

double ThisThreadServiceMs() { return t_serviceMs; }

}  // namespace host
