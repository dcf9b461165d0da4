// Scoped acquisition of one host suite, the free acquire/release helpers and
// the DRAWBOT suite set used by every custom drawing.
#pragma once

#include "AE_EffectSuites.h"

#define AEFX_ACQUIRE_FAILED_MESSAGE "Not able to acquire AEFX Suite."
#define AEFX_RELEASE_FAILED_MESSAGE "Not able to release AEFX Suite."

// Thrown (as an integer) when a scoped suite cannot be had.
constexpr A_long kAEFX_MissingSuiteThrow = 13;

// Writes `message` into the host's message buffer through its ANSI sprintf
// and asks the host to show it.
void AEFX_ReportToHost(const PF_InData* in_data, PF_OutData* out_data, const char* message);

// The one way a suite is taken from the host. The `ALLOW_NO_SUITE` form holds nothing when the suite is
// missing (with an output record the user is told) instead of throwing 13.
template <typename SuiteType, bool ALLOW_NO_SUITE = false>
class AEFX_SuiteScoper {
public:
    AEFX_SuiteScoper(const PF_InData* in_data, const char* name, A_long version, PF_OutData* out_data = nullptr,
                     const char* message = AEFX_ACQUIRE_FAILED_MESSAGE)
        : suite(static_cast<const SuiteType*>(Acquire(in_data ? in_data->pica_basicP : nullptr, name, version))),
          basicSuite(in_data ? in_data->pica_basicP : nullptr), suiteName(name), suiteVersion(version) {
        if (suite) return;
        if (out_data) AEFX_ReportToHost(in_data, out_data, message);
        if (!ALLOW_NO_SUITE) throw kAEFX_MissingSuiteThrow;
    }
    ~AEFX_SuiteScoper() { Release(); }
    AEFX_SuiteScoper(const AEFX_SuiteScoper&) = delete;
    AEFX_SuiteScoper& operator=(const AEFX_SuiteScoper&) = delete;

    // The suite, or null when the host has none. A success with no suite still holds the host's
    // count, so that one goes back at once.
    static const void* Acquire(const SPBasicSuite* basic, const char* name, A_long version) {
        const void* acquired = nullptr;
        const SPErr err = basic ? basic->AcquireSuite(name, version, &acquired) : kSPBadParameterError;
        if (!err && !acquired) basic->ReleaseSuite(name, version);
        return err ? nullptr : acquired;
    }
    // Gives the suite back before the scope ends, with the host's answer.
    SPErr Release() {
        if (!suite) return kSPNoError;
        suite = nullptr;
        return basicSuite->ReleaseSuite(suiteName, suiteVersion);
    }

    const SuiteType* operator->() const { return suite; }
    const SuiteType* get() const { return suite; }

private:
    const SuiteType* suite;
    const SPBasicSuite* basicSuite;
    const char* suiteName;
    A_long suiteVersion;
};

typedef struct {
    const DRAWBOT_DrawbotSuite1* drawSuite;
    const DRAWBOT_SupplierSuite1* supplierSuite;
    const DRAWBOT_SurfaceSuite2* surfaceSuite;
    const DRAWBOT_PathSuite1* pathSuite;
} DrawbotSuites;

PF_Err AEFX_AcquireSuite(const PF_InData* in_data, PF_OutData* out_data, const char* name, A_long version,
                         const char* message, void** suite);
PF_Err AEFX_ReleaseSuite(const PF_InData* in_data, PF_OutData* out_data, const char* name, A_long version,
                         const char* message);
PF_Err AEFX_AcquireDrawbotSuites(const PF_InData* in_data, PF_OutData* out_data, DrawbotSuites* suites);
// With `acquired`, only the suites that record holds go back, so a drawing
// whose acquisition failed part-way never releases what it did not get.
PF_Err AEFX_ReleaseDrawbotSuites(const PF_InData* in_data, PF_OutData* out_data,
                                 const DrawbotSuites* acquired = nullptr);

// The four DRAWBOT suites for one drawing; only what was obtained goes back.
class DrawbotSuiteSet {
public:
    DrawbotSuiteSet(const PF_InData* in_data, PF_OutData* out_data) : m_in_data(in_data), m_out_data(out_data) {
        m_err = AEFX_AcquireDrawbotSuites(in_data, out_data, &m_suites);
    }
    ~DrawbotSuiteSet() { AEFX_ReleaseDrawbotSuites(m_in_data, m_out_data, &m_suites); }
    DrawbotSuiteSet(const DrawbotSuiteSet&) = delete;
    DrawbotSuiteSet& operator=(const DrawbotSuiteSet&) = delete;

    PF_Err Error() const { return m_err; }
    const DrawbotSuites* operator->() const { return &m_suites; }

private:
    const PF_InData* m_in_data;
    PF_OutData* m_out_data;
    DrawbotSuites m_suites{};
    PF_Err m_err;
};
