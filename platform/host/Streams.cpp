#include "host/Streams.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <set>

#include "host/HandleSuite.h"
#include "host/Host.h"

namespace host {

// ---- Undo journal ----

UndoJournal& UndoJournal::Instance() {
    static UndoJournal journal;
    return journal;
}

A_Err UndoJournal::Start(const char* name) {
    std::lock_guard lock(m_mutex);
    if (!name) {
        ++m_misuses;
        return A_Err_PARAMETER;
    }
    if (m_depth++ == 0) m_groups.push_back({name, {}, false});
    return A_Err_NONE;
}

A_Err UndoJournal::End() {
    std::lock_guard lock(m_mutex);
    if (m_depth == 0) {
        ++m_misuses;
        return A_Err_GENERIC;
    }
    if (--m_depth == 0) m_groups.back().closed = true;
    return A_Err_NONE;
}

void UndoJournal::RecordChange(int index) {
    std::lock_guard lock(m_mutex);
    if (m_depth > 0)
        m_groups.back().changes.push_back(index);
    else
        m_ungrouped.push_back(index);
}

std::vector<UndoGroup> UndoJournal::Groups() const {
    std::lock_guard lock(m_mutex);
    return m_groups;
}

std::vector<int> UndoJournal::Ungrouped() const {
    std::lock_guard lock(m_mutex);
    return m_ungrouped;
}

int UndoJournal::Depth() const {
    std::lock_guard lock(m_mutex);
    return m_depth;
}

long UndoJournal::Misuses() const {
    std::lock_guard lock(m_mutex);
    return m_misuses;
}

void UndoJournal::Reset() {
    std::lock_guard lock(m_mutex);
    m_groups.clear();
    m_ungrouped.clear();
    m_depth = 0;
    m_misuses = 0;
}

// ---- References handed to the effect ----

namespace {

struct EffectRec {
    Host* host;
};
struct StreamRec {
    Host* host;
    int index;
};

// Live references, so that a stale or foreign one is refused rather than followed.
struct Books {
    std::mutex mutex;
    std::set<const void*> effects;
    std::set<const void*> streams;
    std::map<PF_Handle, Host*> values;  // arbitrary data copied into stream values
    long misuses = 0;
    StreamSuiteCalls calls;
    long refusable = 0;
    long failIn = 0;
    bool failNull = false;
};

Books& TheBooks() {
    static Books books;
    return books;
}

bool Live(const std::set<const void*>& set, const void* p) { return p && set.count(p); }

}  // namespace

CallFault TakeCallFault() {
    Books& b = TheBooks();
    std::lock_guard lock(b.mutex);
    b.refusable++;
    if (b.failIn > 0 && --b.failIn == 0) return b.failNull ? CallFault::kNull : CallFault::kRefuse;
    return CallFault::kNone;
}

namespace {

// Counts one refusable call that hands out no reference; true when it is to be refused.
bool Refused() { return TakeCallFault() != CallFault::kNone; }

}  // namespace

StreamBooks StreamsOutstanding() {
    Books& b = TheBooks();
    std::lock_guard lock(b.mutex);
    return {long(b.effects.size()), long(b.streams.size()), long(b.values.size()), b.misuses};
}

void FailStreamCall(long nth, bool null) {
    Books& b = TheBooks();
    std::lock_guard lock(b.mutex);
    b.failIn = nth;
    b.failNull = null;
}

long StreamCalls() {
    Books& b = TheBooks();
    std::lock_guard lock(b.mutex);
    return b.refusable;
}

StreamSuiteCalls StreamCallsByVersion() {
    Books& b = TheBooks();
    std::lock_guard lock(b.mutex);
    return b.calls;
}

// ---- Panel state ----

AEGP_DynStreamFlags& PanelState::DynamicFlags(int index) {
    if (m_dynamicFlags.size() <= size_t(index)) m_dynamicFlags.resize(size_t(index) + 1, 0);
    return m_dynamicFlags[size_t(index)];
}

int& PanelState::Refreshes(int index) {
    if (m_refreshes.size() <= size_t(index)) m_refreshes.resize(size_t(index) + 1, 0);
    return m_refreshes[size_t(index)];
}

ParamUI PanelState::UI(int index) const {
    ParamUI ui;
    if (index < 0 || index >= m_host->NumParams()) return ui;
    const PF_ParamDef& def = m_host->Param(index);
    ui.disabled = def.ui_flags & PF_PUI_DISABLED;
    ui.collapsed = def.flags & PF_ParamFlag_COLLAPSE_TWIRLY;
    ui.name.assign(def.name, strnlen(def.name, sizeof def.name));
    if (size_t(index) < m_dynamicFlags.size()) ui.hidden = m_dynamicFlags[size_t(index)] & AEGP_DynStreamFlag_HIDDEN;
    if (size_t(index) < m_refreshes.size()) ui.refreshes = m_refreshes[size_t(index)];
    return ui;
}

// ---- Suites ----

struct StreamSuites {
    static Host* HostOfEffect(AEGP_EffectRefH effectH) {
        Books& b = TheBooks();
        std::lock_guard lock(b.mutex);
        return Live(b.effects, effectH) ? reinterpret_cast<EffectRec*>(effectH)->host : nullptr;
    }

    static StreamRec* Stream(AEGP_StreamRefH streamH) {
        Books& b = TheBooks();
        std::lock_guard lock(b.mutex);
        return Live(b.streams, streamH) ? reinterpret_cast<StreamRec*>(streamH) : nullptr;
    }

    // -- PF interface: effect references. The effect_ref this host hands out is the Host itself.
    static A_Err NewEffectForEffect(AEGP_PluginID, void* effect_ref, AEGP_EffectRefH* effectPH) {
        if (!effectPH) return A_Err_PARAMETER;
        *effectPH = nullptr;
        auto* host = static_cast<Host*>(effect_ref);
        if (!host) return A_Err_PARAMETER;
        if (host->Panel().m_failEffectRef) return host->Panel().m_effectRefErr;
        if (Refused()) return A_Err_ALLOC;
        auto* rec = new EffectRec{host};
        Books& b = TheBooks();
        std::lock_guard lock(b.mutex);
        b.effects.insert(rec);
        *effectPH = reinterpret_cast<AEGP_EffectRefH>(rec);
        return A_Err_NONE;
    }

    static A_Err DisposeEffect(AEGP_EffectRefH effectH) {
        Books& b = TheBooks();
        std::lock_guard lock(b.mutex);
        if (!b.effects.erase(effectH)) {
            ++b.misuses;
            return A_Err_PARAMETER;
        }
        delete reinterpret_cast<EffectRec*>(effectH);
        return A_Err_NONE;
    }

    // -- Layers by id, within the composition that holds them.
    static A_Err LayerFromId(AEGP_CompH compH, AEGP_LayerIDVal id, AEGP_LayerH* layerPH) {
        auto* comp = reinterpret_cast<Comp*>(compH);
        if (!comp || !layerPH) return A_Err_PARAMETER;
        *layerPH = nullptr;
        for (Layer* layer : {&comp->effectLayer, &comp->textureLayer})
            if (id != 0 && layer->id == id) *layerPH = reinterpret_cast<AEGP_LayerH>(layer);
        return *layerPH ? A_Err_NONE : A_Err_PARAMETER;
    }

    // -- Streams.
    static A_Err NewStream(AEGP_PluginID, AEGP_EffectRefH effectH, PF_ParamIndex index, AEGP_StreamRefH* streamPH) {
        if (!streamPH) return A_Err_PARAMETER;
        *streamPH = nullptr;
        if (Refused()) return A_Err_ALLOC;
        Host* host = HostOfEffect(effectH);
        if (!host || index < 0 || index >= host->NumParams()) return A_Err_PARAMETER;
        auto* rec = new StreamRec{host, index};
        Books& b = TheBooks();
        std::lock_guard lock(b.mutex);
        b.streams.insert(rec);
        *streamPH = reinterpret_cast<AEGP_StreamRefH>(rec);
        return A_Err_NONE;
    }

    static A_Err DisposeStream(AEGP_StreamRefH streamH) {
        Books& b = TheBooks();
        std::lock_guard lock(b.mutex);
        if (!b.streams.erase(streamH)) {
            ++b.misuses;
            return A_Err_PARAMETER;
        }
        delete reinterpret_cast<StreamRec*>(streamH);
        return A_Err_NONE;
    }

    static A_Err IsTimeVarying(AEGP_StreamRefH streamH, A_Boolean* varies) {
        StreamRec* s = Stream(streamH);
        if (!s || !varies) return A_Err_PARAMETER;
        if (Refused()) return A_Err_ALLOC;
        *varies = s->host->KeyframeCount(s->index) > 0;
        return A_Err_NONE;
    }

    // A stream holds what the panel shows: degrees, pixels and slider units
    // rather than 16.16 fixed point, colours in 0..1.
    static A_Err NewStreamValue(AEGP_PluginID, AEGP_StreamRefH streamH, AEGP_LTimeMode mode, const A_Time* timeP,
                                A_Boolean, AEGP_StreamValue2* valueP) {
        StreamRec* s = Stream(streamH);
        if (!s || !timeP || !valueP || !timeP->scale) return A_Err_PARAMETER;
        if (Refused()) return A_Err_ALLOC;
        Host& host = *s->host;
        double seconds = double(timeP->value) / timeP->scale;
        if (mode == AEGP_LTimeMode_CompTime) {
            const A_Time& in = host.EffectLayer().inPoint;
            seconds -= in.scale ? double(in.value) / in.scale : 0.0;
        }
        PF_ParamDef v{};
        if (host.ValueAt(s->index, seconds, &v)) return A_Err_GENERIC;
        *valueP = AEGP_StreamValue2{};
        valueP->streamH = streamH;
        AEGP_StreamVal2& out = valueP->val;
        switch (v.param_type) {
            case PF_Param_FLOAT_SLIDER: out.one_d = v.u.fs_d.value; break;
            case PF_Param_SLIDER: out.one_d = v.u.sd.value; break;
            case PF_Param_FIX_SLIDER: out.one_d = v.u.fd.value / 65536.0; break;
            case PF_Param_ANGLE: out.one_d = v.u.ad.value / 65536.0; break;
            case PF_Param_CHECKBOX: out.one_d = v.u.bd.value ? 1.0 : 0.0; break;
            case PF_Param_POPUP: out.one_d = v.u.pd.value; break;
            case PF_Param_COLOR:
                out.color = {v.u.cd.value.alpha / 255.0, v.u.cd.value.red / 255.0, v.u.cd.value.green / 255.0,
                             v.u.cd.value.blue / 255.0};
                break;
            case PF_Param_POINT: out.two_d = {v.u.td.x_value / 65536.0, v.u.td.y_value / 65536.0}; break;
            case PF_Param_LAYER: {
                const Layer* layer = LayerOfParam(host, s->index);
                out.layer_id = layer ? layer->id : 0;
                break;
            }
            case PF_Param_ARBITRARY_DATA:
                if (v.u.arb_d.value) {
                    out.arbH = v.u.arb_d.value;  // the copy ValueAt made is the value's own
                    Books& b = TheBooks();
                    std::lock_guard lock(b.mutex);
                    b.values[v.u.arb_d.value] = &host;
                }
                break;
            default:
                break;
        }
        return A_Err_NONE;
    }

    static A_Err DisposeStreamValue(AEGP_StreamValue2* valueP) {
        if (!valueP) return A_Err_PARAMETER;
        Host* owner = nullptr;
        PF_Handle arb = static_cast<PF_Handle>(valueP->val.arbH);
        {
            Books& b = TheBooks();
            std::lock_guard lock(b.mutex);
            // Only a value that carries arbitrary data holds anything; others share the union's bits.
            auto it = arb ? b.values.find(arb) : b.values.end();
            if (it != b.values.end()) {
                owner = it->second;
                b.values.erase(it);
            }
        }
        if (owner) {
            PF_ParamDef def{};
            def.param_type = PF_Param_ARBITRARY_DATA;
            def.u.arb_d.value = arb;
            owner->CheckinValue(&def);
        }
        *valueP = AEGP_StreamValue2{};
        return A_Err_NONE;
    }

    static const Layer* LayerOfParam(Host& host, int index) {
        if (index == 0) return &host.EffectLayer();
        return host.Composition().hasTextureLayer ? &host.TextureLayer() : nullptr;
    }

    // Values are clamped to the declared valid range, as the panel would
    // clamp a typed number; a stream with keyframes takes no plain value.
    static A_Err SetStreamValue(AEGP_PluginID, AEGP_StreamRefH streamH, AEGP_StreamValue2* valueP) {
        StreamRec* s = Stream(streamH);
        if (!s || !valueP) return A_Err_PARAMETER;
        if (Refused()) return A_Err_ALLOC;
        Host& host = *s->host;
        const int index = s->index;
        if (host.KeyframeCount(index) > 0) return A_Err_PARAMETER;
        const PF_ParamDef& decl = host.ParamDefs()[size_t(index)];
        const AEGP_StreamVal2& in = valueP->val;
        auto fixed = [](double v) { return PF_Fixed(std::lround(v * 65536.0)); };
        auto byte = [](double v) { return A_u_char(std::lround(std::clamp(v, 0.0, 1.0) * 255.0)); };
        if (decl.param_type == PF_Param_ARBITRARY_DATA) {
            // A null handle stands for the parameter's default.
            PF_Handle value = in.arbH ? static_cast<PF_Handle>(in.arbH) : decl.u.arb_d.dephault;
            host.SetArbitraryValue(index, value);
        } else if (decl.param_type == PF_Param_LAYER) {
            if (in.layer_id != 0 && in.layer_id != host.TextureLayer().id) return A_Err_PARAMETER;
            host.SetTextureLayerPresent(in.layer_id != 0);
        } else {
            PF_ParamDef& v = host.Param(index);
            switch (decl.param_type) {
                case PF_Param_FLOAT_SLIDER:
                    v.u.fs_d.value = std::clamp<double>(in.one_d, decl.u.fs_d.valid_min, decl.u.fs_d.valid_max);
                    break;
                case PF_Param_SLIDER:
                    v.u.sd.value = std::clamp<A_long>(A_long(std::lround(in.one_d)), decl.u.sd.valid_min,
                                                      decl.u.sd.valid_max);
                    break;
                case PF_Param_FIX_SLIDER:
                    v.u.fd.value = std::clamp(fixed(in.one_d), decl.u.fd.valid_min, decl.u.fd.valid_max);
                    break;
                case PF_Param_ANGLE: v.u.ad.value = fixed(in.one_d); break;
                case PF_Param_CHECKBOX: v.u.bd.value = in.one_d != 0.0; break;
                case PF_Param_POPUP:
                    v.u.pd.value = std::clamp<A_long>(A_long(std::lround(in.one_d)), 1, decl.u.pd.num_choices);
                    break;
                case PF_Param_COLOR:
                    v.u.cd.value = {byte(in.color.alpha), byte(in.color.red), byte(in.color.green),
                                    byte(in.color.blue)};
                    break;
                case PF_Param_POINT: v.u.td.x_value = fixed(in.two_d.x), v.u.td.y_value = fixed(in.two_d.y); break;
                default:
                    break;  // groups and buttons hold no value
            }
        }
        UndoJournal::Instance().RecordChange(index);
        return A_Err_NONE;
    }

    // The same calls, counted by the version they came through.
    template <int Version>
    static long StreamSuiteCalls::*Of(long StreamSuiteCalls::*v7, long StreamSuiteCalls::*v9) {
        return Version == kAEGPStreamSuiteVersion7 ? v7 : v9;
    }
    template <int Version>
    static A_Err NewStreamThrough(AEGP_PluginID id, AEGP_EffectRefH effectH, PF_ParamIndex index,
                                  AEGP_StreamRefH* streamPH) {
        Count(Of<Version>(&StreamSuiteCalls::gets7, &StreamSuiteCalls::gets9));
        return NewStream(id, effectH, index, streamPH);
    }
    template <int Version>
    static A_Err SetStreamValueThrough(AEGP_PluginID id, AEGP_StreamRefH streamH, AEGP_StreamValue2* valueP) {
        Count(Of<Version>(&StreamSuiteCalls::sets7, &StreamSuiteCalls::sets9));
        return SetStreamValue(id, streamH, valueP);
    }
    template <int Version>
    static A_Err IsTimeVaryingThrough(AEGP_StreamRefH streamH, A_Boolean* varies) {
        Count(Of<Version>(&StreamSuiteCalls::varies7, &StreamSuiteCalls::varies9));
        return IsTimeVarying(streamH, varies);
    }
    template <int Version>
    static A_Err DisposeStreamThrough(AEGP_StreamRefH streamH) {
        Count(Of<Version>(&StreamSuiteCalls::disposes7, &StreamSuiteCalls::disposes9));
        return DisposeStream(streamH);
    }
    template <int Version>
    static A_Err NewStreamValueThrough(AEGP_PluginID id, AEGP_StreamRefH streamH, AEGP_LTimeMode mode,
                                       const A_Time* timeP, A_Boolean pre, AEGP_StreamValue2* valueP) {
        Count(Of<Version>(&StreamSuiteCalls::values7, &StreamSuiteCalls::values9));
        return NewStreamValue(id, streamH, mode, timeP, pre, valueP);
    }
    template <int Version>
    static A_Err DisposeStreamValueThrough(AEGP_StreamValue2* valueP) {
        Count(Of<Version>(&StreamSuiteCalls::valueDisposes7, &StreamSuiteCalls::valueDisposes9));
        return DisposeStreamValue(valueP);
    }
    static void Count(long StreamSuiteCalls::*counter) {
        Books& b = TheBooks();
        std::lock_guard lock(b.mutex);
        ++(b.calls.*counter);
    }

    // -- Dynamic stream flags.
    static A_Err GetDynamicFlags(AEGP_StreamRefH streamH, AEGP_DynStreamFlags* flagsP) {
        StreamRec* s = Stream(streamH);
        if (!s || !flagsP) return A_Err_PARAMETER;
        if (Refused()) return A_Err_ALLOC;
        *flagsP = s->host->Panel().DynamicFlags(s->index);
        return A_Err_NONE;
    }

    static A_Err SetDynamicFlag(AEGP_StreamRefH streamH, AEGP_DynStreamFlags flag, A_Boolean, A_Boolean set) {
        StreamRec* s = Stream(streamH);
        if (!s) return A_Err_PARAMETER;
        if (Refused()) return A_Err_ALLOC;
        AEGP_DynStreamFlags& flags = s->host->Panel().DynamicFlags(s->index);
        flags = set ? (flags | flag) : (flags & ~flag);
        return A_Err_NONE;
    }

    // -- Undo.
    static A_Err StartUndo(const A_char* name) { return Refused() ? A_Err_ALLOC : UndoJournal::Instance().Start(name); }
    static A_Err EndUndo() { return UndoJournal::Instance().End(); }

    // -- The panel: the name, the UI flags and the twirl of a control; never its value.
    static PF_Err UpdateParamUI(void* effect_ref, PF_ParamIndex index, const PF_ParamDef* defP) {
        auto* host = static_cast<Host*>(effect_ref);
        if (!host || !defP) return PF_Err_BAD_CALLBACK_PARAM;
        if (index < 0 || index >= host->NumParams()) return PF_Err_INVALID_INDEX;
        if (Refused()) return A_Err_ALLOC;
        PF_ParamDef& current = host->Param(index);
        if (defP->param_type != current.param_type) return PF_Err_BAD_CALLBACK_PARAM;
        // The panel reads the name as a C string: one that fills its buffer unended is refused.
        if (!std::memchr(defP->name, '\0', sizeof defP->name)) return PF_Err_BAD_CALLBACK_PARAM;
        current.ui_flags = defP->ui_flags;
        // A refresh carries the value the panel is to show: the gradient editor
        // publishes its selected stop and that stop's position this way.
        if (current.param_type == PF_Param_SLIDER) current.u.sd.value = defP->u.sd.value;
        if (current.param_type == PF_Param_FIX_SLIDER) current.u.fd.value = defP->u.fd.value;
        current.flags = (current.flags & ~PF_ParamFlag_COLLAPSE_TWIRLY) | (defP->flags & PF_ParamFlag_COLLAPSE_TWIRLY);
        std::memcpy(current.name, defP->name, sizeof current.name);
        current.name[sizeof current.name - 1] = '\0';
        host->Panel().Refreshes(index)++;
        return PF_Err_NONE;
    }
};

namespace {
AEGP_PFInterfaceSuite1 g_pfInterface{};
AEGP_LayerSuite13 g_layer{};
const AEGP_EffectSuite3 kEffect = {StreamSuites::DisposeEffect, nullptr};
template <int Version>
constexpr AEGP_StreamSuite9 kStream = {
    StreamSuites::NewStreamThrough<Version>,      StreamSuites::DisposeStreamThrough<Version>,
    StreamSuites::NewStreamValueThrough<Version>, StreamSuites::DisposeStreamValueThrough<Version>,
    StreamSuites::SetStreamValueThrough<Version>, StreamSuites::IsTimeVaryingThrough<Version>};
const AEGP_DynamicStreamSuite2 kDynamic = {StreamSuites::GetDynamicFlags, StreamSuites::SetDynamicFlag};
const AEGP_UtilitySuite11 kUtility = {StreamSuites::StartUndo, StreamSuites::EndUndo, nullptr};
const PF_ParamUtilsSuite3 kParamUtils = {StreamSuites::UpdateParamUI, nullptr, nullptr, nullptr};
}  // namespace

const AEGP_PFInterfaceSuite1* WithEffectRefs(const AEGP_PFInterfaceSuite1* composition) {
    g_pfInterface = *composition;
    g_pfInterface.AEGP_GetNewEffectForEffect = StreamSuites::NewEffectForEffect;
    return &g_pfInterface;
}

const AEGP_LayerSuite13* WithLayerIds(const AEGP_LayerSuite13* composition) {
    g_layer = *composition;
    g_layer.AEGP_GetLayerFromLayerID = StreamSuites::LayerFromId;
    return &g_layer;
}

const AEGP_EffectSuite3* EffectSuite() { return &kEffect; }
const AEGP_StreamSuite9* StreamSuite(int version) {
    return version == kAEGPStreamSuiteVersion7 ? &kStream<kAEGPStreamSuiteVersion7> : &kStream<kAEGPStreamSuiteVersion9>;
}
const AEGP_DynamicStreamSuite2* DynamicStreamSuite() { return &kDynamic; }
const AEGP_UtilitySuite11* UtilitySuite() { return &kUtility; }
const PF_ParamUtilsSuite3* ParamUtilsSuite() { return &kParamUtils; }

// ---- User changes ----

void Host::TakeChangedValues(std::vector<PF_ParamDef>& values) {
    std::lock_guard lock(m_paramMutex);
    for (size_t i = 1; i < values.size() && i < m_slots.size(); ++i) {
        PF_ParamDef& changed = values[i];
        if (!(changed.uu.change_flags & PF_ChangeFlag_CHANGED_VALUE)) continue;
        PF_ParamDef& current = m_slots[i].current;
        if (current.param_type == PF_Param_ARBITRARY_DATA) {
            // The effect's new handle becomes the value; the one it replaced was ours.
            PF_Handle old = current.u.arb_d.value;
            current.u.arb_d.value = changed.u.arb_d.value;
            if (old && old != current.u.arb_d.value && HandleTable::Instance().IsAlive(old)) DisposeArb(old);
        } else {
            current.u = changed.u;
        }
        current.flags = (current.flags & ~PF_ParamFlag_COLLAPSE_TWIRLY) | (changed.flags & PF_ParamFlag_COLLAPSE_TWIRLY);
        m_panel.m_arrayChanges.push_back(int(i));
    }
}

PF_Err Host::UserChange(int index) {
    UndoJournal& journal = UndoJournal::Instance();
    const size_t groupsBefore = journal.Groups().size();
    const size_t ungroupedBefore = journal.Ungrouped().size();
    m_panel.m_arrayChanges.clear();

    UserAction action;
    action.index = index;
    action.supervised = index > 0 && index < NumParams() && (m_defs[size_t(index)].flags & PF_ParamFlag_SUPERVISE);
    if (action.supervised) {
        PF_UserChangedParamExtra extra{index};
        action.changedErr = Send(PF_Cmd_USER_CHANGED_PARAM, &extra);
        action.message.assign(m_out.return_msg, strnlen(m_out.return_msg, sizeof m_out.return_msg));
    }
    action.uiErr = Send(PF_Cmd_UPDATE_PARAMS_UI);

    std::vector<UndoGroup> groups = journal.Groups();
    std::vector<int> ungrouped = journal.Ungrouped();
    action.groups.assign(groups.begin() + long(std::min(groupsBefore, groups.size())), groups.end());
    action.ungrouped.assign(ungrouped.begin() + long(std::min(ungroupedBefore, ungrouped.size())), ungrouped.end());
    action.arrayChanges = m_panel.m_arrayChanges;
    m_panel.m_lastAction = action;
    return action.changedErr ? action.changedErr : action.uiErr;
}

}  // namespace host
