#include "params/GradientData.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "shell/AEFX_SuiteHelper.h"
#include "shell/AEGP_SuiteHandler.h"
#include "shell/UF_Handle.h"

const std::array<ArbGradientPt, 3> defaultGrad = {{
    {0.0, {1.0f, 1.0f, 0.0f, 0.0f}},
    {0.5, {1.0f, 0.0f, 1.0f, 0.0f}},
    {1.0, {1.0f, 0.0f, 0.0f, 1.0f}},
}};

namespace {

constexpr size_t kCountBytes = 4;
constexpr size_t kStopBytes = 24;

// The flat form is little-endian byte for byte; the targets we build for are
// little-endian, so memcpy of each field gives exactly that layout.
static_assert(std::endian::native == std::endian::little, "the gradient's flat form is little-endian");

void WriteStop(unsigned char* at, const ArbGradientPt& s) {
    std::memcpy(at, &s.position, 8);
    std::memcpy(at + 8, &s.color.alpha, 4);
    std::memcpy(at + 12, &s.color.red, 4);
    std::memcpy(at + 16, &s.color.green, 4);
    std::memcpy(at + 20, &s.color.blue, 4);
}

ArbGradientPt ReadStop(const unsigned char* at) {
    ArbGradientPt s{};
    std::memcpy(&s.position, at, 8);
    std::memcpy(&s.color.alpha, at + 8, 4);
    std::memcpy(&s.color.red, at + 12, 4);
    std::memcpy(&s.color.green, at + 16, 4);
    std::memcpy(&s.color.blue, at + 20, 4);
    return s;
}

PF_PixelFloat Lerp(const PF_PixelFloat& a, const PF_PixelFloat& b, float t) {
    return {a.alpha + (b.alpha - a.alpha) * t, a.red + (b.red - a.red) * t, a.green + (b.green - a.green) * t,
            a.blue + (b.blue - a.blue) * t};
}

// The new-value form: one zero byte, a gradient without stops.
PF_Err NewEmpty(const PF_HandleSuite1* hs, PF_Handle* out) {
    return UF_NewFilledHandle(hs, 1, out, [](void* data) { static_cast<unsigned char*>(data)[0] = 0; });
}

// The copy is built before the old destination goes, so a failed copy leaves
// the destination as it was and a copy onto itself reads a live source.
PF_Err ArbCopy(const PF_HandleSuite1* hs, PF_ArbitraryH src, PF_ArbitraryH* dstPH) {
    if (!dstPH || !src) return PF_Err_OUT_OF_MEMORY;
    PF_Handle copy = nullptr;
    {
        UF_HandleLock from(hs, src);
        if (!from) return from.Error();
        const A_HandleSize size = hs->host_get_handle_size(src);
        if (PF_Err err = UF_NewFilledHandle(hs, size, &copy, [&](void* to) { std::memcpy(to, from.As<void>(), size); }))
            return err;
    }
    {
        UF_Handle old(hs, *dstPH);
        // Only a handle that locks is taken for one of ours.
        if (!UF_HandleLock(hs, old.get())) old.Release();
    }
    *dstPH = copy;
    return PF_Err_NONE;
}

PF_Err ArbFlatSize(const PF_HandleSuite1* hs, PF_ArbitraryH h, A_u_long* sizeP) {
    if (!sizeP) return PF_Err_INTERNAL_STRUCT_DAMAGED;
    if (h) *sizeP = static_cast<A_u_long>(hs->host_get_handle_size(h));
    return PF_Err_NONE;
}

PF_Err ArbFlatten(const PF_HandleSuite1* hs, PF_ArbitraryH h, A_u_long bufSize, void* buf) {
    if (!buf) return PF_Err_INTERNAL_STRUCT_DAMAGED;
    if (!h) return PF_Err_NONE;
    UF_HandleLock data(hs, h);
    if (!data) return data.Error();
    const A_HandleSize size = hs->host_get_handle_size(h);
    if (size != bufSize) return PF_Err_OUT_OF_MEMORY;
    std::memcpy(buf, data.As<void>(), size);
    return PF_Err_NONE;
}

PF_Err ArbUnflatten(const PF_HandleSuite1* hs, A_u_long bufSize, const void* buf, PF_ArbitraryH* arbPH) {
    if (!buf) return PF_Err_INTERNAL_STRUCT_DAMAGED;
    if (!arbPH) return PF_Err_NONE;
    return UF_NewFilledHandle(hs, bufSize, arbPH, [&](void* data) { std::memcpy(data, buf, bufSize); });
}

// Equal only when both handles are shown to hold the same bytes.
PF_ArbCompareResult ArbCompareHandles(const PF_HandleSuite1* hs, PF_ArbitraryH a, PF_ArbitraryH b) {
    if (!a || !b) return a == b ? PF_ArbCompare_EQUAL : PF_ArbCompare_NOT_EQUAL;
    const A_HandleSize size = hs->host_get_handle_size(a);
    if (size != hs->host_get_handle_size(b)) return PF_ArbCompare_NOT_EQUAL;
    const UF_HandleLock pa(hs, a);
    const UF_HandleLock pb(hs, pa ? b : nullptr);
    return pb && std::memcmp(pa.As<void>(), pb.As<void>(), size) == 0 ? PF_ArbCompare_EQUAL : PF_ArbCompare_NOT_EQUAL;
}

}  // namespace

double GradientStopPosition(double position) {
    if (std::isnan(position)) return 0.0;
    return std::clamp(position, 0.0, 1.0);
}

// Compared by the positions lookups use: finite, so std::sort cannot walk off the array.
bool GradientStopLess(const ArbGradientPt& a, const ArbGradientPt& b) {
    return GradientStopPosition(a.position) < GradientStopPosition(b.position);
}

PF_Err Set_Arb_Gradient(const PF_HandleSuite1* handles, PF_Handle* out, unsigned n, const ArbGradientPt* stops) {
    if (n == 0 || !stops || !handles || !out) return PF_Err_NONE;
    const uint64_t arrayBytes = uint64_t(n) * kStopBytes;
    // The byte count is stored in 32 bits.
    if (arrayBytes > std::numeric_limits<uint32_t>::max()) return PF_Err_OUT_OF_MEMORY;
    return UF_NewFilledHandle(handles, kCountBytes + arrayBytes + 1, out, [&](void* to) {
        auto* data = static_cast<unsigned char*>(to);
        const uint32_t count = static_cast<uint32_t>(arrayBytes);
        std::memcpy(data, &count, kCountBytes);
        for (unsigned i = 0; i < n; ++i) WriteStop(data + kCountBytes + kStopBytes * i, stops[i]);
        data[kCountBytes + arrayBytes] = 0;
    });
}

PF_Err CreateGradientStdVecFromArb(const PF_HandleSuite1* handles, PF_Handle h, std::vector<ArbGradientPt>* stops) {
    stops->clear();
    if (!handles || !h) return PF_Err_NONE;
    const UF_HandleLock lock(handles, h);
    if (!lock) return lock.Error();
    const auto* data = lock.As<const unsigned char>();
    // The stored count is trusted only as far as the handle's own size goes.
    const A_HandleSize size = handles->host_get_handle_size(h);
    if (size < kCountBytes) return PF_Err_NONE;
    uint32_t count = 0;
    std::memcpy(&count, data, kCountBytes);
    const uint64_t n = std::min<uint64_t>(count / kStopBytes, (size - kCountBytes) / kStopBytes);
    stops->reserve(n);
    for (uint64_t i = 0; i < n; ++i) stops->push_back(ReadStop(data + kCountBytes + kStopBytes * i));
    return PF_Err_NONE;
}

PF_PixelFloat Get_Gradient_Color_At_Position_Adv(unsigned n, const ArbGradientPt* stops, double position,
                                                 bool interpolate) {
    if (n == 0 || !stops) return {0.0f, 0.0f, 0.0f, 0.0f};
    // With every position finite, t below is too.
    std::vector<ArbGradientPt> sorted(stops, stops + n);
    for (ArbGradientPt& s : sorted) s.position = GradientStopPosition(s.position);
    std::sort(sorted.begin(), sorted.end(), GradientStopLess);
    position = GradientStopPosition(position);

    PF_PixelFloat prevColor = sorted.front().color;
    double prevPosition = 0.0;
    const ArbGradientPt* next = nullptr;
    for (const ArbGradientPt& s : sorted) {
        if (s.position <= position) {
            prevColor = s.color;
            prevPosition = s.position;
        } else {
            next = &s;
            break;
        }
    }
    if (!next) return prevColor;
    // Before the first stop: its colour, without forming t (a first stop at
    // 0.0 would divide by zero and turn the colour into NaN).
    if (next == &sorted.front()) return next->color;

    const double t = (position - prevPosition) / (next->position - prevPosition);
    if (interpolate) return Lerp(prevColor, next->color, static_cast<float>(t));
    return t >= 0.5 ? next->color : prevColor;
}

PF_PixelFloat Get_Gradient_Color_At_Position(unsigned n, const ArbGradientPt* stops, double position) {
    return Get_Gradient_Color_At_Position_Adv(n, stops, position, true);
}

PF_Err Arb_Gradient_Interpolate(const PF_HandleSuite1* handles, double t, PF_Handle* left, PF_Handle* right,
                                PF_Handle* result) {
    if (!left || !right || !result || !handles) return PF_Err_BAD_CALLBACK_PARAM;
    std::vector<ArbGradientPt> L, R;
    const PF_Err errL = CreateGradientStdVecFromArb(handles, *left, &L);
    const PF_Err errR = CreateGradientStdVecFromArb(handles, *right, &R);
    if (errL || errR) return errL ? errL : errR;
    const size_t n = std::min<size_t>(std::max(L.size(), R.size()), UF3_MAX_GRADIENT_STOPS);
    // The host expects a value back; an empty gradient is the new-value form.
    if (n == 0) return NewEmpty(handles, result);

    const float tf = static_cast<float>(t);
    std::vector<ArbGradientPt> out(n);
    for (size_t i = 0; i < n; ++i) {
        ArbGradientPt a, b;
        if (i < L.size() && i < R.size()) {
            a = L[i];
            b = R[i];
        } else if (i < L.size()) {
            a = L[i];
            b = {a.position, Get_Gradient_Color_At_Position(unsigned(R.size()), R.data(), a.position)};
        } else {
            b = R[i];
            a = {b.position, Get_Gradient_Color_At_Position(unsigned(L.size()), L.data(), b.position)};
        }
        // Placed on the gradient before narrowing: a far position would become an infinity.
        const float pa = float(GradientStopPosition(a.position)), pb = float(GradientStopPosition(b.position));
        out[i].position = pa + (pb - pa) * tf;
        out[i].color = Lerp(a.color, b.color, tf);
    }
    return Set_Arb_Gradient(handles, result, unsigned(n), out.data());
}

PF_Err GradientArb_Handler(PF_InData* in_data, PF_ArbParamsExtra* extra) {
    if (!extra || !in_data) return PF_Err_INTERNAL_STRUCT_DAMAGED;
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    if (extra->which_function == PF_Arbitrary_INTERP_FUNC) {
        auto& p = extra->u.interp_func_params;
        return Arb_Gradient_Interpolate(suites.HandleSuite1(), p.tF, &p.left_arbH, &p.right_arbH, p.interpPH);
    }
    return Arb_Handler(in_data, extra);
}

PF_Err Arb_Handler(PF_InData* in_data, PF_ArbParamsExtra* extra) {
    if (!in_data || !extra || !in_data->pica_basicP) return PF_Err_INTERNAL_STRUCT_DAMAGED;
    AEFX_SuiteScoper<PF_HandleSuite1, true> handles(in_data, kPFHandleSuite, kPFHandleSuiteVersion1);
    const PF_HandleSuite1* hs = handles.get();
    if (!hs) {
        // Data the host hands back must go even without the suite, or it is lost for good.
        const UF_HandleCalls utils(in_data->utils);
        if (extra->which_function != PF_Arbitrary_DISPOSE_FUNC || !utils.host_dispose_handle)
            return PF_Err_INTERNAL_STRUCT_DAMAGED;
        UF_Handle(utils, extra->u.dispose_func_params.arbH).Dispose();
        return PF_Err_NONE;
    }
    PF_Err err = PF_Err_NONE;
    switch (extra->which_function) {
        case PF_Arbitrary_NEW_FUNC:
            if (extra->u.new_func_params.arbPH) err = NewEmpty(hs, extra->u.new_func_params.arbPH);
            break;
        case PF_Arbitrary_DISPOSE_FUNC:
            UF_Handle(hs, extra->u.dispose_func_params.arbH).UnlockAndDispose();
            break;
        case PF_Arbitrary_COPY_FUNC:
            err = ArbCopy(hs, extra->u.copy_func_params.src_arbH, extra->u.copy_func_params.dst_arbPH);
            break;
        case PF_Arbitrary_FLAT_SIZE_FUNC:
            err = ArbFlatSize(hs, extra->u.flat_size_func_params.arbH, extra->u.flat_size_func_params.flat_data_sizePLu);
            break;
        case PF_Arbitrary_FLATTEN_FUNC: {
            auto& p = extra->u.flatten_func_params;
            err = ArbFlatten(hs, p.arbH, p.buf_sizeLu, p.flat_dataPV);
            break;
        }
        case PF_Arbitrary_UNFLATTEN_FUNC: {
            auto& p = extra->u.unflatten_func_params;
            err = ArbUnflatten(hs, p.buf_sizeLu, p.flat_dataPV, p.arbPH);
            break;
        }
        case PF_Arbitrary_COMPARE_FUNC: {
            auto& p = extra->u.compare_func_params;
            if (p.compareP) *p.compareP = ArbCompareHandles(hs, p.a_arbH, p.b_arbH);
            break;
        }
        default:
            break;
    }

    const SPErr releaseErr = handles.Release();
    return err ? err : static_cast<PF_Err>(releaseErr);
}
