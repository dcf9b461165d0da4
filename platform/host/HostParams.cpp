// The host's side of the effect's parameters: declarations, current values,
// keyframes, check-out at a time, and arbitrary data served by the effect.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "host/HandleSuite.h"
#include "host/Host.h"
#include "host/WorldSuite.h"

namespace host {

namespace {

Host* HostOf(void* effect_ref) { return static_cast<Host*>(effect_ref); }

// Always between a and b: near the largest double b - a overflows, and
// a + inf * 0 would be NaN.
double Lerp(double a, double b, double t) {
    const double d = b - a;
    const double v = std::isfinite(d) ? a + d * t : a * (1 - t) + b * t;
    return std::clamp(v, std::min(a, b), std::max(a, b));
}
A_long LerpRound(A_long a, A_long b, double t) { return A_long(std::lround(Lerp(a, b, t))); }
A_u_char LerpByte(A_u_char a, A_u_char b, double t) { return A_u_char(std::lround(Lerp(a, b, t))); }

// Scalar interpolation; types without a continuous value hold the left key.
void InterpolateScalar(const PF_ParamDef& a, const PF_ParamDef& b, double t, PF_ParamDef* out) {
    *out = a;
    switch (a.param_type) {
        case PF_Param_FLOAT_SLIDER:
            out->u.fs_d.value = Lerp(a.u.fs_d.value, b.u.fs_d.value, t);
            break;
        case PF_Param_SLIDER:
            out->u.sd.value = LerpRound(a.u.sd.value, b.u.sd.value, t);
            break;
        case PF_Param_FIX_SLIDER:
            out->u.fd.value = LerpRound(a.u.fd.value, b.u.fd.value, t);
            break;
        case PF_Param_ANGLE:
            out->u.ad.value = LerpRound(a.u.ad.value, b.u.ad.value, t);
            break;
        case PF_Param_COLOR:
            out->u.cd.value.alpha = LerpByte(a.u.cd.value.alpha, b.u.cd.value.alpha, t);
            out->u.cd.value.red = LerpByte(a.u.cd.value.red, b.u.cd.value.red, t);
            out->u.cd.value.green = LerpByte(a.u.cd.value.green, b.u.cd.value.green, t);
            out->u.cd.value.blue = LerpByte(a.u.cd.value.blue, b.u.cd.value.blue, t);
            break;
        case PF_Param_POINT:
            out->u.td.x_value = LerpRound(a.u.td.x_value, b.u.td.x_value, t);
            out->u.td.y_value = LerpRound(a.u.td.y_value, b.u.td.y_value, t);
            break;
        case PF_Param_POINT_3D:
            out->u.point3d_d.x_value = Lerp(a.u.point3d_d.x_value, b.u.point3d_d.x_value, t);
            out->u.point3d_d.y_value = Lerp(a.u.point3d_d.y_value, b.u.point3d_d.y_value, t);
            out->u.point3d_d.z_value = Lerp(a.u.point3d_d.z_value, b.u.point3d_d.z_value, t);
            break;
        default:
            break;
    }
}

// Byte-for-byte arbitrary data, for an effect that cannot be asked.
PF_Err RawCopy(PF_Handle src, PF_Handle* dst) {
    auto& t = HandleTable::Instance();
    *dst = nullptr;
    if (!src) return PF_Err_NONE;
    A_HandleSize size = t.Size(src);
    PF_Handle h = t.New(size);
    if (!h) return PF_Err_OUT_OF_MEMORY;
    void* from = t.Lock(src);
    void* to = t.Lock(h);
    if (from && to) std::memcpy(to, from, size);
    t.Unlock(src);
    t.Unlock(h);
    *dst = h;
    return PF_Err_NONE;
}

}  // namespace

Layer* Host::LayerOf(void* effect_ref) { return effect_ref ? &HostOf(effect_ref)->m_comp.effectLayer : nullptr; }

PF_Err Host::Call(PF_Cmd cmd, PF_InData* in, PF_OutData* out, void* extra) {
    if (!m_main) return PF_Err_INVALID_CALLBACK;
    // The effect receives copies of the current values, as a host hands them to one command.
    std::vector<PF_ParamDef> values;
    {
        std::lock_guard lock(m_paramMutex);
        for (auto& slot : m_slots) values.push_back(slot.current);
    }
    // Values arrive with no change flags; what the effect flags on a user change it means.
    for (auto& v : values) v.uu.change_flags = PF_ChangeFlag_NONE;
    std::vector<PF_ParamDef*> pointers;
    for (auto& v : values) pointers.push_back(&v);
    PF_Err err = m_main(cmd, in, out, pointers.data(), nullptr, extra);
    if (cmd == PF_Cmd_USER_CHANGED_PARAM) TakeChangedValues(values);
    return err;
}

PF_ParamDef& Host::Param(int index) {
    std::lock_guard lock(m_paramMutex);
    return m_slots.at(size_t(index)).current;
}

PF_Err Host::ArbitraryRequest(PF_ArbParamsExtra& extra) {
    if (!m_main) return PF_Err_INVALID_CALLBACK;
    // A record of its own: the request may arrive in the middle of another command.
    PF_InData in = m_in;
    PF_OutData out{};
    return m_main(PF_Cmd_ARBITRARY_CALLBACK, &in, &out, nullptr, nullptr, &extra);
}

namespace {
A_short ArbId(const std::vector<PF_ParamDef>& defs) {
    for (const auto& d : defs)
        if (d.param_type == PF_Param_ARBITRARY_DATA) return d.u.arb_d.id;
    return 0;
}
}  // namespace

PF_Err Host::CopyArb(PF_Handle src, PF_Handle* dst) {
    *dst = nullptr;
    if (!src) return PF_Err_NONE;
    if (!m_main) return RawCopy(src, dst);
    PF_ArbParamsExtra extra{};
    extra.which_function = PF_Arbitrary_COPY_FUNC;
    extra.id = ArbId(m_defs);
    extra.u.copy_func_params.src_arbH = src;
    extra.u.copy_func_params.dst_arbPH = dst;
    return ArbitraryRequest(extra);
}

PF_Err Host::NewArb(PF_Handle* dst) {
    *dst = nullptr;
    if (!m_main) return PF_Err_NONE;
    PF_ArbParamsExtra extra{};
    extra.which_function = PF_Arbitrary_NEW_FUNC;
    extra.id = ArbId(m_defs);
    extra.u.new_func_params.arbPH = dst;
    return ArbitraryRequest(extra);
}

bool Host::SameArb(PF_Handle a, PF_Handle b) {
    if (!m_main) return a == b;
    PF_ArbCompareResult result = PF_ArbCompare_NOT_EQUAL;
    PF_ArbParamsExtra extra{};
    extra.which_function = PF_Arbitrary_COMPARE_FUNC;
    extra.id = ArbId(m_defs);
    extra.u.compare_func_params.a_arbH = a;
    extra.u.compare_func_params.b_arbH = b;
    extra.u.compare_func_params.compareP = &result;
    return ArbitraryRequest(extra) == PF_Err_NONE && result == PF_ArbCompare_EQUAL;
}

bool Host::SetArbitraryValue(int index, PF_Handle value) {
    std::lock_guard lock(m_paramMutex);
    PF_ParamDef& current = m_slots.at(size_t(index)).current;
    if (current.param_type != PF_Param_ARBITRARY_DATA || SameArb(current.u.arb_d.value, value)) return false;
    PF_Handle copy = nullptr;
    if (CopyArb(value, &copy) || !copy) return false;
    DisposeArb(current.u.arb_d.value);
    current.u.arb_d.value = copy;
    return true;
}

void Host::DisposeArb(PF_Handle h) {
    if (!h) return;
    if (!m_main) {
        HandleTable::Instance().Dispose(h);
        return;
    }
    PF_ArbParamsExtra extra{};
    extra.which_function = PF_Arbitrary_DISPOSE_FUNC;
    extra.id = ArbId(m_defs);
    extra.u.dispose_func_params.arbH = h;
    if (ArbitraryRequest(extra) != PF_Err_NONE) m_arbDisposalsRefused++;
}

PF_Err Host::InterpolateArb(PF_Handle left, PF_Handle right, double t, PF_Handle* out) {
    *out = nullptr;
    if (!m_main) return RawCopy(t < 1.0 ? left : right, out);
    PF_ArbParamsExtra extra{};
    extra.which_function = PF_Arbitrary_INTERP_FUNC;
    extra.id = ArbId(m_defs);
    extra.u.interp_func_params.left_arbH = left;
    extra.u.interp_func_params.right_arbH = right;
    extra.u.interp_func_params.tF = t;
    extra.u.interp_func_params.interpPH = out;
    return ArbitraryRequest(extra);
}

PF_Err Host::AddParamCB(void* effect_ref, PF_ParamIndex index, PF_ParamDef* def) {
    Host* host = HostOf(effect_ref);
    if (!host || !def) return PF_Err_BAD_CALLBACK_PARAM;
    std::lock_guard lock(host->m_paramMutex);
    // Only appending is served: -1, or the next index.
    if (index != -1 && index != PF_ParamIndex(host->m_slots.size())) return PF_Err_INVALID_INDEX;
    PF_ParamDef stored = *def;
    ParamSlot slot{stored, {}};
    host->m_defs.push_back(stored);
    if (stored.param_type == PF_Param_ARBITRARY_DATA) {
        // The host takes the default handle; the current value starts as a copy
        // of it, or as the effect's new value when there is no default.
        PF_Handle value = nullptr;
        PF_Err err = stored.u.arb_d.dephault ? host->CopyArb(stored.u.arb_d.dephault, &value) : host->NewArb(&value);
        if (err) {
            host->m_defs.pop_back();
            return err;
        }
        slot.current.u.arb_d.value = value;
    }
    host->m_slots.push_back(slot);
    return PF_Err_NONE;
}

PF_Err Host::RegisterUiCB(void* effect_ref, PF_CustomUIInfo* info) {
    Host* host = HostOf(effect_ref);
    if (!host || !info) return PF_Err_BAD_CALLBACK_PARAM;
    host->m_uiRegistrations++;
    host->m_ui = *info;
    return PF_Err_NONE;
}

void Host::SetKeyframe(int index, double seconds, const PF_ParamDef& value) {
    std::lock_guard lock(m_paramMutex);
    ParamSlot& slot = m_slots.at(size_t(index));
    PF_ParamDef key = value;
    if (key.param_type == PF_Param_ARBITRARY_DATA) CopyArb(value.u.arb_d.value, &key.u.arb_d.value);
    auto it = slot.keys.find(seconds);
    if (it != slot.keys.end()) {
        if (it->second.param_type == PF_Param_ARBITRARY_DATA) DisposeArb(it->second.u.arb_d.value);
        it->second = key;
    } else {
        slot.keys.emplace(seconds, key);
    }
}

void Host::ClearKeyframes(int index) {
    std::lock_guard lock(m_paramMutex);
    ParamSlot& slot = m_slots.at(size_t(index));
    for (auto& [time, key] : slot.keys)
        if (key.param_type == PF_Param_ARBITRARY_DATA) DisposeArb(key.u.arb_d.value);
    slot.keys.clear();
}

size_t Host::KeyframeCount(int index) const {
    std::lock_guard lock(m_paramMutex);
    return m_slots.at(size_t(index)).keys.size();
}

PF_Err Host::ValueAt(int index, double seconds, PF_ParamDef* out) {
    std::lock_guard lock(m_paramMutex);
    if (index < 0 || size_t(index) >= m_slots.size() || !out) return PF_Err_INVALID_INDEX;
    const ParamSlot& slot = m_slots[size_t(index)];
    bool arb = slot.current.param_type == PF_Param_ARBITRARY_DATA;
    if (slot.keys.empty()) {
        *out = slot.current;
        return arb ? CopyArb(slot.current.u.arb_d.value, &out->u.arb_d.value) : PF_Err_NONE;
    }
    auto right = slot.keys.lower_bound(seconds);
    if (right == slot.keys.begin() || right == slot.keys.end() || right->first == seconds) {
        const PF_ParamDef& key = right == slot.keys.end() ? std::prev(right)->second : right->second;
        *out = key;
        return arb ? CopyArb(key.u.arb_d.value, &out->u.arb_d.value) : PF_Err_NONE;
    }
    auto left = std::prev(right);
    // Halved first: keys far apart near the largest double would overflow.
    double t = (seconds / 2 - left->first / 2) / (right->first / 2 - left->first / 2);
    if (arb) {
        *out = left->second;
        return InterpolateArb(left->second.u.arb_d.value, right->second.u.arb_d.value, t, &out->u.arb_d.value);
    }
    InterpolateScalar(left->second, right->second, t, out);
    return PF_Err_NONE;
}

void Host::CheckinValue(PF_ParamDef* value) {
    if (value && value->param_type == PF_Param_ARBITRARY_DATA) {
        DisposeArb(value->u.arb_d.value);
        value->u.arb_d.value = nullptr;
    }
}

void Host::FailCheckoutAt(int index, PF_Err err) {
    std::lock_guard lock(m_paramMutex);
    m_failCheckoutIndex = index;
    m_failCheckoutErr = err;
}

long Host::CheckoutsOutstanding() const {
    std::lock_guard lock(m_paramMutex);
    return long(m_checkedOut.size());
}

PF_Err Host::CheckoutParamCB(void* effect_ref, PF_ParamIndex index, A_long what_time, A_long time_step,
                             A_u_long time_scale, PF_ParamDef* param) {
    Host* host = HostOf(effect_ref);
    if (!host || !param) return PF_Err_BAD_CALLBACK_PARAM;
    {
        std::lock_guard lock(host->m_paramMutex);
        host->m_checkoutLog.push_back(index);
        if (index == host->m_failCheckoutIndex) return host->m_failCheckoutErr;
    }
    double seconds = time_scale ? double(what_time) / double(time_scale) : 0.0;
    PF_Err err = host->ValueAt(index, seconds, param);
    if (err) return err;
    std::lock_guard lock(host->m_paramMutex);
    PF_Handle arb = param->param_type == PF_Param_ARBITRARY_DATA ? param->u.arb_d.value : nullptr;
    host->m_checkedOut.emplace(param, arb);
    return PF_Err_NONE;
}

PF_Err Host::CheckinParamCB(void* effect_ref, PF_ParamDef* param) {
    Host* host = HostOf(effect_ref);
    if (!host || !param) return PF_Err_BAD_CALLBACK_PARAM;
    PF_Handle arb = nullptr;
    {
        std::lock_guard lock(host->m_paramMutex);
        auto it = host->m_checkedOut.find(param);
        if (it == host->m_checkedOut.end() && param->param_type == PF_Param_ARBITRARY_DATA) {
            // Checked in from a copy of the record: recognise it by its handle.
            for (auto i = host->m_checkedOut.begin(); i != host->m_checkedOut.end(); ++i)
                if (i->second && i->second == param->u.arb_d.value) it = i;
        }
        // Checking in what was never checked out (after a failed check-out) is harmless.
        if (it == host->m_checkedOut.end()) return PF_Err_NONE;
        arb = it->second;
        host->m_checkedOut.erase(it);
    }
    if (arb) {
        host->DisposeArb(arb);
        if (param->u.arb_d.value == arb) param->u.arb_d.value = nullptr;
    }
    return PF_Err_NONE;
}

void Host::ReleaseParams() {
    std::lock_guard lock(m_paramMutex);
    for (size_t i = 0; i < m_slots.size(); ++i) {
        if (m_slots[i].current.param_type != PF_Param_ARBITRARY_DATA) continue;
        ClearKeyframes(int(i));
        DisposeArb(m_slots[i].current.u.arb_d.value);
        DisposeArb(m_defs[i].u.arb_d.dephault);
        m_slots[i].current.u.arb_d.value = nullptr;
        m_defs[i].u.arb_d.dephault = nullptr;
    }
}

PF_EffectWorld Host::NewWorld(A_long width, A_long height, PF_PixelFormat format) {
    PF_EffectWorld world{};
    WorldTable::Instance().New(width, height, true, format, &world);
    return world;
}

void Host::DisposeWorld(PF_EffectWorld& world) { WorldTable::Instance().Dispose(&world); }

}  // namespace host
