// The in-process host: loads the effect module, takes its registration and
// drives it with commands as the compositing application would, serving the
// suites and callbacks those commands reach.
#pragma once

#include <functional>
#include <string>

#include "AE_EffectSuites.h"

namespace host {

struct Registration {
    int calls = 0;
    std::string name, match_name, category, entry_point, support_url;
    A_long kind = 0;
    A_long api_major = 0, api_minor = 0;
    A_long reserved_info = 0;
};

typedef PF_Err (*EffectMainFn)(PF_Cmd, PF_InData*, PF_OutData*, PF_ParamDef* [], PF_LayerDef*, void*);

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
    PF_UtilCallbacks& Utils() { return m_utils; }

    void SetApplicationId(A_long id) { m_in.appl_id = id; }

private:
    void RegisterSuites();

    HostOptions m_options;
    void* m_module = nullptr;
    EffectMainFn m_main = nullptr;
    std::string m_error;
    Registration m_registration;
    PF_Err m_registrationResult = PF_Err_NONE;
    PF_InData m_in{};
    PF_OutData m_out{};
    PF_UtilCallbacks m_utils{};
};

}  // namespace host
