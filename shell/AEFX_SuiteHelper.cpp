#include "shell/AEFX_SuiteHelper.h"

#include <cstring>

void AEFX_ReportToHost(const PF_InData* in_data, PF_OutData* out_data, const char* message) {
    if (!out_data) return;
    out_data->out_flags |= PF_OutFlag_DISPLAY_ERROR_MESSAGE;
    const char* text = message ? message : "";
    // Through the host's sprintf when it has one; "%s" keeps any '%' in the text literal.
    // Either way the text is cut to the buffer.
    char bounded[PF_MAX_EFFECT_MSG_LEN + 1];
    std::strncpy(bounded, text, PF_MAX_EFFECT_MSG_LEN);
    bounded[PF_MAX_EFFECT_MSG_LEN] = '\0';
    if (in_data && in_data->utils && in_data->utils->ansi.sprintf)
        in_data->utils->ansi.sprintf(out_data->return_msg, "%s", bounded);
    else
        std::memcpy(out_data->return_msg, bounded, std::strlen(bounded) + 1);
}

namespace {
const void* Acquire(const PF_InData* in_data, const char* name, A_long version) {
    return AEFX_SuiteScoper<void, true>::Acquire(in_data ? in_data->pica_basicP : nullptr, name, version);
}

struct DrawbotSuiteName {
    const char* name;
    A_long version;
};
// In the order of DrawbotSuites' fields.
constexpr DrawbotSuiteName kDrawbotSuites[] = {
    {kDRAWBOT_DrawSuite, kDRAWBOT_DrawSuite_Version1},
    {kDRAWBOT_SupplierSuite, kDRAWBOT_SupplierSuite_Version1},
    {kDRAWBOT_SurfaceSuite, kDRAWBOT_SurfaceSuite_Version2},
    {kDRAWBOT_PathSuite, kDRAWBOT_PathSuite_Version1},
};
}  // namespace

PF_Err AEFX_AcquireSuite(const PF_InData* in_data, PF_OutData* out_data, const char* name, A_long version,
                         const char* message, void** suite) {
    const void* acquired = suite ? Acquire(in_data, name, version) : nullptr;
    if (suite) *suite = const_cast<void*>(acquired);
    if (acquired) return PF_Err_NONE;
    AEFX_ReportToHost(in_data, out_data, message ? message : AEFX_ACQUIRE_FAILED_MESSAGE);
    return PF_Err_BAD_CALLBACK_PARAM;
}

PF_Err AEFX_ReleaseSuite(const PF_InData* in_data, PF_OutData* out_data, const char* name, A_long version,
                         const char* message) {
    const SPBasicSuite* basic = in_data ? in_data->pica_basicP : nullptr;
    if (!basic) {
        AEFX_ReportToHost(in_data, out_data, message ? message : AEFX_RELEASE_FAILED_MESSAGE);
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    basic->ReleaseSuite(name, version);
    return PF_Err_NONE;
}

PF_Err AEFX_AcquireDrawbotSuites(const PF_InData* in_data, PF_OutData* out_data, DrawbotSuites* suites) {
    if (!suites) {
        AEFX_ReportToHost(in_data, out_data, "NULL suite pointer passed to AEFX_AcquireDrawbotSuites");
        return PF_Err_UNRECOGNIZED_PARAM_TYPE;
    }
    *suites = {};
    const void** slots[] = {reinterpret_cast<const void**>(&suites->drawSuite),
                            reinterpret_cast<const void**>(&suites->supplierSuite),
                            reinterpret_cast<const void**>(&suites->surfaceSuite),
                            reinterpret_cast<const void**>(&suites->pathSuite)};
    for (int i = 0; i < 4; ++i) {
        *slots[i] = Acquire(in_data, kDrawbotSuites[i].name, kDrawbotSuites[i].version);
        if (!*slots[i]) {
            AEFX_ReportToHost(in_data, out_data, AEFX_ACQUIRE_FAILED_MESSAGE);
            return PF_Err_BAD_CALLBACK_PARAM;
        }
    }
    return PF_Err_NONE;
}

PF_Err AEFX_ReleaseDrawbotSuites(const PF_InData* in_data, PF_OutData* out_data, const DrawbotSuites* acquired) {
    const SPBasicSuite* basic = in_data ? in_data->pica_basicP : nullptr;
    const void* held[] = {acquired ? acquired->drawSuite : nullptr, acquired ? acquired->supplierSuite : nullptr,
                          acquired ? acquired->surfaceSuite : nullptr, acquired ? acquired->pathSuite : nullptr};
    for (int i = 0; i < 4; ++i) {
        const auto& s = kDrawbotSuites[i];
        if (acquired && !held[i]) continue;
        if (basic)
            basic->ReleaseSuite(s.name, s.version);
        else
            AEFX_ReportToHost(in_data, out_data, AEFX_RELEASE_FAILED_MESSAGE);
    }
    return PF_Err_NONE;
}
