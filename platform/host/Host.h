// The in-process host: loads the effect module, takes its registration and
// drives it with commands as the compositing application would, serving the
// suites and callbacks those commands reach.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "AE_EffectSuites.h"
#include "AE_EffectUI.h"
#include "host/Composition.h"
#include "host/Streams.h"

namespace host {

struct Registration {
    int calls = 0;
    std::string name, match_name, category, entry_point, support_url;
    A_long kind = 0;
    A_long api_major = 0, api_minor = 0;
    A_long reserved_info = 0;
};

typedef PF_Err (*EffectMainFn)(PF_Cmd, PF_InData*, PF_OutData*, PF_ParamDef* [], PF_LayerDef*, void*);

// One frame's trip through smart pre-render and smart render, as the host
// keeps it between the two commands. Owns what the host made for it.
struct LayerCheckout {
    PF_ParamIndex index = 0;
    A_long id = 0;
    PF_RenderRequest request{};
    PF_CheckoutResult result{};
    A_long what_time = 0;
};

struct RenderJob {
    RenderJob() = default;
    RenderJob(const RenderJob&) = delete;
    RenderJob& operator=(const RenderJob&) = delete;
    ~RenderJob();

    PF_RenderRequest request{};
    short bitdepth = 8;
    PF_PreRenderOutput preOutput{};
    std::vector<LayerCheckout> checkouts;
    std::map<A_long, PF_EffectWorld> pixels;  // checked out during the render, by checkout id
    PF_EffectWorld output{};
    int pixelCheckouts = 0;
    int pixelCheckins = 0;
    PF_OutData out{};  // the output record of the last command of the job
    double hostMs = 0;    // time spent in the host's pixel services during the job's commands
};

struct HostOptions {
    A_long appl_id = PF_APPL_ID('F', 'X', 'T', 'C');  // the compositing application
    A_short api_major = 13;
    A_short api_minor = 28;
};

class Host {
public:
    explicit Host(HostOptions options = {});
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // Loads the module and calls its registration entry. Returns false with
    // a message in Error() when the module or an entry point is missing.
    bool Load(const std::string& path);
    const std::string& Error() const { return m_error; }
    const Registration& GetRegistration() const { return m_registration; }
    PF_Err RegistrationResult() const { return m_registrationResult; }

    // Sends one command. `prepare` may adjust the records just before the
    // call (a test's way of handing unusual input). Global and sequence data
    // move between the records as a host moves them.
    PF_Err Send(PF_Cmd cmd, void* extra = nullptr,
                const std::function<void(PF_InData&, PF_OutData&)>& prepare = {});

    PF_Err About() { return Send(PF_Cmd_ABOUT); }
    PF_Err GlobalSetup() { return Send(PF_Cmd_GLOBAL_SETUP); }
    PF_Err GlobalSetdown() { return Send(PF_Cmd_GLOBAL_SETDOWN); }
    PF_Err SequenceSetup() { return Send(PF_Cmd_SEQUENCE_SETUP); }
    PF_Err SequenceResetup() { return Send(PF_Cmd_SEQUENCE_RESETUP); }
    PF_Err SequenceFlatten() { return Send(PF_Cmd_SEQUENCE_FLATTEN); }
    PF_Err SequenceSetdown() { return Send(PF_Cmd_SEQUENCE_SETDOWN); }

    PF_InData& In() { return m_in; }
    PF_OutData& Out() { return m_out; }
    PF_Handle GlobalData() const { return m_in.global_data; }
    PF_Handle SequenceData() const { return m_in.sequence_data; }
    // The out_flags the effect declared at global setup.
    PF_OutFlags DeclaredOutFlags() const { return m_declaredOutFlags; }
    PF_UtilCallbacks& Utils() { return m_utils; }

    void SetApplicationId(A_long id) { m_in.appl_id = id; }

    // An effect linked into the test itself rather than loaded from a module.
    void SetEffectMain(EffectMainFn main) { m_main = main; }

    // ---- Parameters ----
    // As declared through add_param; index 0 is the input layer the host supplies.
    const std::vector<PF_ParamDef>& ParamDefs() const { return m_defs; }
    int NumParams() const { return int(m_slots.size()); }
    // The current (unkeyed) value of a parameter; tests and tools set values here.
    PF_ParamDef& Param(int index);
    int UiRegistrations() const { return m_uiRegistrations; }
    const PF_CustomUIInfo& RegisteredUI() const { return m_ui; }

    // Keyframes: scalar values interpolate linearly between them, the
    // arbitrary-data parameter through the effect's own interpolation. The
    // value is copied; an arbitrary-data handle in it stays the caller's.
    void SetKeyframe(int index, double seconds, const PF_ParamDef& value);
    void ClearKeyframes(int index);
    size_t KeyframeCount(int index) const;

    // The value at a time, as checkout_param hands it out; an arbitrary-data
    // handle in the result is new and the caller's to dispose (CheckinValue).
    PF_Err ValueAt(int index, double seconds, PF_ParamDef* out);
    void CheckinValue(PF_ParamDef* value);

    // Stores a copy of `value` as the arbitrary-data parameter's current value,
    // unless the effect compares it equal to the value held; true when stored.
    bool SetArbitraryValue(int index, PF_Handle value);

    // Fault injection: the check-out of this index fails with `err` (index -1 clears).
    void FailCheckoutAt(int index, PF_Err err = PF_Err_OUT_OF_MEMORY);
    long CheckoutsOutstanding() const;
    const std::vector<int>& CheckoutLog() const { return m_checkoutLog; }

    // Saving and loading the parameter values (keyframes included) of this instance.
    bool SaveProject(const std::string& path, std::string* error = nullptr);
    bool LoadProject(const std::string& path, std::string* error = nullptr);

    // ---- Composition and worlds ----
    Comp& Composition() { return m_comp; }
    void SetWorkingSpaceGamma(A_FpShort gamma) { m_comp.workingSpaceGamma = gamma; }
    PF_EffectWorld NewWorld(A_long width, A_long height, PF_PixelFormat format);
    void DisposeWorld(PF_EffectWorld& world);

    // ---- Layers and renders ----
    Layer& EffectLayer() { return m_comp.effectLayer; }
    Layer& TextureLayer() { return m_comp.textureLayer; }
    // Gives a layer pixels: a zero-filled straight-alpha float world owned by the host.
    PF_EffectWorld& SetLayerSize(Layer& layer, A_long width, A_long height);
    // Whether parameter 67-style layer parameters point at the texture layer.
    void SetTextureLayerPresent(bool present) { m_comp.hasTextureLayer = present; }
    void FailLayerCheckout(PF_ParamIndex index, PF_Err err = PF_Err_OUT_OF_MEMORY);
    // Pixel check-ins refuse with `err` and keep the pixels (PF_Err_NONE clears).
    void FailLayerCheckin(PF_Err err) { m_failCheckinErr = err; }
    void SetGuidMixInAvailable(bool available) { m_guidAvailable = available; }
    const std::vector<std::vector<unsigned char>>& GuidMixes() const { return m_guidMixes; }

    PF_Err SmartPreRender(RenderJob& job);
    PF_Err SmartRender(RenderJob& job);

    // Arbitrary-data requests for the effect's parameter, served by the effect.
    PF_Err ArbitraryRequest(PF_ArbParamsExtra& extra);
    // Arbitrary data the effect's dispose callback refused to give back: each is a leak.
    long ArbDisposalsRefused() const { return m_arbDisposalsRefused; }

    // ---- Streams, the Effect Controls panel and undo (Streams.cpp) ----
    PanelState& Panel() { return m_panel; }
    // A user change as the host sends it, after the caller set the value
    // through Param(): PF_Cmd_USER_CHANGED_PARAM for a supervised parameter,
    // then PF_Cmd_UPDATE_PARAMS_UI. Panel().LastAction() tells what it did.
    PF_Err UserChange(int index);

    // ---- Custom controls (EffectControls.cpp) ----
    // One PF_Cmd_EVENT: the effect works on copies of the values (its own copy
    // of arbitrary data), and the values it flags as changed are taken after.
    PF_Err Event(PF_EventExtra& extra);

private:
    struct ParamSlot {
        PF_ParamDef current{};
        std::map<double, PF_ParamDef> keys;
    };

    void RegisterSuites();
    // Takes the values the effect flagged as changed in a user-changed command's array.
    void TakeChangedValues(std::vector<PF_ParamDef>& values);
    void ReleaseParams();
    PF_Err CopyArb(PF_Handle src, PF_Handle* dst);
    PF_Err NewArb(PF_Handle* dst);
    bool SameArb(PF_Handle a, PF_Handle b);
    // A handle the effect refused to dispose stays alive and is counted.
    void DisposeArb(PF_Handle h);
    PF_Err InterpolateArb(PF_Handle left, PF_Handle right, double t, PF_Handle* out);
    // Runs one command on the given records with a fresh parameter array.
    PF_Err Call(PF_Cmd cmd, PF_InData* in, PF_OutData* out, void* extra);
    // Renders run on their own copies of the records, so several threads may render at once.
    PF_Err RenderCommand(PF_Cmd cmd, RenderJob& job, void* extra);

    static PF_Err AddParamCB(void* effect_ref, PF_ParamIndex index, PF_ParamDef* def);
    static PF_Err RegisterUiCB(void* effect_ref, PF_CustomUIInfo* info);
    static PF_Err CheckoutParamCB(void* effect_ref, PF_ParamIndex index, A_long what_time, A_long time_step,
                                  A_u_long time_scale, PF_ParamDef* param);
    static PF_Err CheckinParamCB(void* effect_ref, PF_ParamDef* param);
    static Layer* LayerOf(void* effect_ref);
    static PF_Err CheckoutLayerCB(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long checkout_id,
                                  const PF_RenderRequest* req, A_long what_time, A_long time_step,
                                  A_u_long time_scale, PF_CheckoutResult* result);
    static PF_Err GuidMixInCB(PF_ProgPtr effect_ref, A_u_long size, const void* bytes);
    static PF_Err CheckoutLayerPixelsCB(PF_ProgPtr effect_ref, A_long checkout_id, PF_EffectWorld** pixels);
    static PF_Err CheckinLayerPixelsCB(PF_ProgPtr effect_ref, A_long checkout_id);
    static PF_Err CheckoutOutputCB(PF_ProgPtr effect_ref, PF_EffectWorld** output);
    Layer* LayerForParam(PF_ParamIndex index);

    HostOptions m_options;
    void* m_module = nullptr;
    EffectMainFn m_main = nullptr;
    std::string m_error;
    Registration m_registration;
    PF_Err m_registrationResult = PF_Err_NONE;
    PF_InData m_in{};
    PF_OutData m_out{};
    PF_UtilCallbacks m_utils{};
    PF_OutFlags m_declaredOutFlags = 0;

    mutable std::recursive_mutex m_paramMutex;
    std::vector<PF_ParamDef> m_defs;
    std::vector<ParamSlot> m_slots;
    int m_uiRegistrations = 0;
    PF_CustomUIInfo m_ui{};
    int m_failCheckoutIndex = -1;
    PF_Err m_failCheckoutErr = PF_Err_NONE;
    std::vector<int> m_checkoutLog;
    long m_arbDisposalsRefused = 0;
    std::multimap<PF_ParamDef*, PF_Handle> m_checkedOut;  // record checked out -> its arbitrary data

    Comp m_comp;
    std::mutex m_renderMutex;
    PF_ParamIndex m_failLayerIndex = -1;
    PF_Err m_failLayerErr = PF_Err_NONE;
    PF_Err m_failCheckinErr = PF_Err_NONE;
    bool m_guidAvailable = true;
    std::vector<std::vector<unsigned char>> m_guidMixes;
    PanelState m_panel{this};
};

}  // namespace host
