#include "shell/UF3.h"

#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "OpenGL/gl3.h"
#include "open_gl/Context.h"
#include "params/GradientData.h"
#include "params/UF3_ParamChanges.h"
#include "params/UF3_ParamTable.h"
#include "params/UF3_Supervision.h"
#include "render/UF3_Bounds.h"
#include "render/UF3_Render.h"
#include "shell/AEFX_SuiteHelper.h"
#include "shell/AEGP_SuiteHandler.h"
#include "shell/UF3_Version.h"
#include "shell/UF_Handle.h"
#include "ui/UF3_Events.h"

std::mutex param_checkout_mutex;
std::recursive_mutex global_mutex;

PF_Err ErrorDelegate(UF_Err err) {
    switch (err.kind) {
        case UF_Err::kThrown:
        case UF_Err::kCaughtText:
            return PF_Err_NONE;
        case UF_Err::kCaughtUF:
            return err.code;
        case UF_Err::kCaughtInteger:
            return err.code == PF_Interrupt_CANCEL ? PF_Err_NONE : err.code;
        default:
            return PF_Err_INVALID_CALLBACK;
    }
}

void CopyDescriptionString(char (&field)[UF3_GL_STRING_SIZE], const char* text) {
    std::memset(field, 0, sizeof(field));
    if (text) std::strncpy(field, text, sizeof(field) - 1);
}

std::string AboutText() {
    return std::string(UF3_EFFECT_NAME) + " v" + std::to_string(UF3_MAJOR_VERSION) + "." +
           std::to_string(UF3_MINOR_VERSION) + "." + std::to_string(UF3_BUG_VERSION) + "\n" + UF3_DESCRIPTION +
           "\n\n" + UF3_CREDIT;
}

namespace {

PF_Err About(PF_InData* in_data, PF_OutData* out_data) {
    if (in_data->appl_id == UF3_HOST_APPL_PREMIERE) return PF_Err_NONE;
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    const std::string text = AboutText();
    const size_t n = std::min(text.size(), size_t(PF_MAX_EFFECT_MSG_LEN));
    std::memcpy(out_data->return_msg, text.data(), n);
    out_data->return_msg[n] = '\0';
    return PF_Err_NONE;
}

// The context each global set-up made, by its global handle: set-down frees it even when the
// host will not lend it the record that holds it.
std::mutex g_globalContextsMutex;
std::map<PF_Handle, CGLContextObj> g_globalContexts;

void RememberGlobalContext(PF_Handle globalH, CGLContextObj context) {
    const std::lock_guard<std::mutex> lock(g_globalContextsMutex);
    g_globalContexts[globalH] = context;
}

CGLContextObj ForgetGlobalContext(PF_Handle globalH) {
    const std::lock_guard<std::mutex> lock(g_globalContextsMutex);
    const auto it = g_globalContexts.find(globalH);
    if (it == g_globalContexts.end()) return nullptr;
    const CGLContextObj context = it->second;
    g_globalContexts.erase(it);
    return context;
}

void ReadDescriptionStrings(GlobalData* global) {
    auto text = [](GLenum name) { return reinterpret_cast<const char*>(glGetString(name)); };
    CopyDescriptionString(global->glVersion, text(GL_VERSION));
    CopyDescriptionString(global->glVendor, text(GL_VENDOR));
    CopyDescriptionString(global->glRenderer, text(GL_RENDERER));
    CopyDescriptionString(global->glShadingLanguageVersion, text(GL_SHADING_LANGUAGE_VERSION));
}

PF_Err GlobalSetup(PF_InData* in_data, PF_OutData* out_data) {
    out_data->my_version =
        PF_VERSION(UF3_MAJOR_VERSION, UF3_MINOR_VERSION, UF3_BUG_VERSION, PF_Stage_DEVELOP, 1);
    out_data->out_flags = PF_OutFlag_SEND_UPDATE_PARAMS_UI | PF_OutFlag_CUSTOM_UI | PF_OutFlag_USE_OUTPUT_EXTENT;
    out_data->out_flags2 = PF_OutFlag2_SUPPORTS_THREADED_RENDERING | PF_OutFlag2_I_MIX_GUID_DEPENDENCIES |
                           PF_OutFlag2_FLOAT_COLOR_AWARE | PF_OutFlag2_SUPPORTS_SMART_RENDER |
                           PF_OutFlag2_REVEALS_ZERO_ALPHA | PF_OutFlag2_PARAM_GROUP_START_COLLAPSED_FLAG;

    AEGP_SuiteHandler suites(in_data->pica_basicP);
    if (in_data->appl_id == UF3_HOST_APPL_PREMIERE) out_data->out_flags = PF_OutFlag_I_AM_OBSOLETE;

    const PF_HandleSuite1* handles = suites.HandleSuite1();
    UF_Handle owned = UF_Handle::New(handles, sizeof(GlobalData));
    if (!owned) return PF_Err_NONE;
    // Handed to the host even when it will not lend the record; unlocked after that either way.
    PF_Handle globalH = out_data->global_data = owned.Release();
    UF_HandleLock lock(handles, globalH, UF_Unlock::Always);
    auto* global = lock.As<GlobalData>();
    if (!global) return PF_Err_NONE;
    std::memset(global, 0, sizeof(GlobalData));

    // Our own context, only to read what the driver calls itself; the host's
    // current context is put back afterwards.
    std::string error;
    CGLContextObj saved = GetCurrentContext(error);
    CGLContextObj context = CreateContext(nullptr, nullptr, error);
    if (context) {
        global->context = context;
        RememberGlobalContext(globalH, context);
        if (SetCurrentContext(context, false).empty()) ReadDescriptionStrings(global);
    }
    SetCurrentContext(saved, false);
    return PF_Err_NONE;
}

// Frees what set-up made whatever the host refuses on the way: without the handle suite
// through the utility callbacks, without the record by the context set-up remembered. The
// first refusal is the result.
PF_Err GlobalSetdown(PF_InData* in_data, PF_OutData*) {
    PF_Err err = PF_Err_NONE;
    std::optional<AEGP_SuiteHandler> suites;
    const PF_HandleSuite1* suite = nullptr;
    try {
        suites.emplace(in_data->pica_basicP);
        suite = suites->HandleSuite1();
    } catch (A_long missing) {
        err = missing;
    }
    const UF_HandleCalls calls = suite ? UF_HandleCalls(suite) : UF_HandleCalls(in_data->utils);

    PF_Handle globalH = in_data->global_data;
    CGLContextObj context = ForgetGlobalContext(globalH);
    if (globalH) {
        {
            const UF_HandleLock lock(calls, globalH);
            if (auto* global = lock.As<GlobalData>()) {
                if (global->context) context = global->context;
                global->context = nullptr;
            }
            if (!err) err = lock.Error();
        }
        const PF_Err disposed = UF_Handle(calls, globalH).Dispose();
        if (!disposed) in_data->global_data = nullptr;
        if (!err) err = disposed;
    }
    if (context) {
        std::string error;
        SetCurrentContext(context, false);
        DeleteContext(context, error);
        SetCurrentContext(nullptr, false);
    }
    return err;
}

PF_Err SequenceFlatten(PF_InData* in_data, PF_OutData* out_data) {
    if (in_data->sequence_data) out_data->sequence_data = in_data->sequence_data;
    return PF_Err_NONE;
}

PF_Err SequenceSetdown(PF_InData* in_data, PF_OutData* out_data) {
    if (!in_data->sequence_data) return PF_Err_NONE;
    // A host without the utility callback lends its handle suite.
    if (UF_Handle(in_data->utils, in_data->sequence_data).Dispose()) {
        AEFX_SuiteScoper<PF_HandleSuite1> handles(in_data, kPFHandleSuite, kPFHandleSuiteVersion1, out_data);
        UF_Handle(handles.get(), in_data->sequence_data).Dispose();
    }
    out_data->sequence_data = nullptr;
    in_data->sequence_data = nullptr;
    return PF_Err_NONE;
}

PF_Err ArbitraryCallback(PF_InData* in_data, void* extra) {
    auto* arb = static_cast<PF_ArbParamsExtra*>(extra);
    if (!arb || arb->id != UF3_GRADIENT_ARB_ID) return PF_Err_NONE;
    return GradientArb_Handler(in_data, arb);
}

// The commands that need only the two records.
constexpr std::pair<PF_Cmd, PF_Err (*)(PF_InData*, PF_OutData*)> kRecordCommands[] = {
    {PF_Cmd_ABOUT, About},
    {PF_Cmd_GLOBAL_SETUP, GlobalSetup},
    {PF_Cmd_GLOBAL_SETDOWN, GlobalSetdown},
    {PF_Cmd_SEQUENCE_SETUP, SequenceSetup},
    {PF_Cmd_SEQUENCE_RESETUP, SequenceSetup},
    {PF_Cmd_SEQUENCE_FLATTEN, SequenceFlatten},
    {PF_Cmd_SEQUENCE_SETDOWN, SequenceSetdown},
};

PF_Err Dispatch(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output,
                void* extra) {
    for (const auto& [command, run] : kRecordCommands)
        if (command == cmd) return run(in_data, out_data);
    switch (cmd) {
        case PF_Cmd_PARAMS_SETUP:
            return ParamsSetup(in_data, out_data, params, output);
        case PF_Cmd_USER_CHANGED_PARAM:
            return UserChangedParam(in_data, out_data, params, output,
                                    static_cast<const PF_UserChangedParamExtra*>(extra));
        case PF_Cmd_UPDATE_PARAMS_UI:
            return UpdateParameterUI(in_data, out_data, params, output);
        case PF_Cmd_ARBITRARY_CALLBACK:
            return ArbitraryCallback(in_data, extra);
        case PF_Cmd_SMART_PRE_RENDER:
            return SmartPreRender(in_data, out_data, static_cast<PF_PreRenderExtra*>(extra));
        case PF_Cmd_SMART_RENDER:
            return SmartRender(in_data, out_data, static_cast<PF_SmartRenderExtra*>(extra));
        case PF_Cmd_EVENT:
            return HandleEvent(in_data, out_data, params, output, static_cast<PF_EventExtra*>(extra));
        // Every other command, the legacy render among them, has nothing to do.
        default:
            return PF_Err_NONE;
    }
}

}  // namespace

PF_Err SequenceSetup(PF_InData* in_data, PF_OutData* out_data) {
    AEFX_SuiteScoper<PF_HandleSuite1> handles(in_data, kPFHandleSuite, kPFHandleSuiteVersion1, out_data);
    return UF_NewFilledHandle(handles.get(), sizeof(SequenceData), &out_data->sequence_data, [](void* data) {
        auto* seq = static_cast<SequenceData*>(data);
        seq->lastMouseH = 0;
        seq->lastMouseV = 0;
    });
}

PF_Err SequenceResetup(PF_InData* in_data, PF_OutData* out_data) { return SequenceSetup(in_data, out_data); }

extern "C" DllExport PF_Err PluginDataEntryFunction2(PF_PluginDataPtr inPtr, PF_PluginDataCB2 inPluginDataCallBackPtr,
                                                     SPBasicSuite* inSPBasicSuitePtr, const char* inHostName,
                                                     const char* inHostVersion) {
    if (!inPluginDataCallBackPtr) return PF_Err_BAD_CALLBACK_PARAM;
    auto text = [](const char* s) { return reinterpret_cast<const A_u_char*>(s); };
    return inPluginDataCallBackPtr(inPtr, text(UF3_EFFECT_NAME), text(UF3_MATCH_NAME), text(UF3_CATEGORY),
                                   text(UF3_ENTRY_POINT), UF3_KIND, UF3_API_MAJOR, UF3_API_MINOR, UF3_RESERVED_INFO,
                                   text(UF3_SUPPORT_URL));
}

extern "C" DllExport PF_Err EffectMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                                       PF_LayerDef* output, void* extra) {
    // Every command needs both records; without them there is nothing to answer.
    if (!in_data || !out_data) return PF_Err_BAD_CALLBACK_PARAM;
    return CommandBoundary([&] { return Dispatch(cmd, in_data, out_data, params, output, extra); });
}
