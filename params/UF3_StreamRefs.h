// Owners of the host references that parameter supervision and change
// handling hold for one command: an effect reference, a parameter stream and
// an open undo group. Each is given back on every path, also when a missing
// suite throws out of the command; Dispose()/End() report the host's answer
// where the caller needs it.
#pragma once

#include <utility>

#include "AE_GeneralPlug.h"
#include "shell/AEGP_SuiteHandler.h"

// A reference given back once, through the suite held before it was taken: a missing suite
// throws while there is nothing to give back yet.
template <typename S, typename Ref, A_Err (*S::*GiveBack)(Ref)>
class UF_HostRef {
public:
    // Which version of the suite a caller uses.
    using SuiteFn = const S* (AEGP_SuiteHandler::*)() const;

    UF_HostRef(AEGP_SuiteHandler& suites, SuiteFn suite) : m_suites(suites), m_suite(suite) {}
    ~UF_HostRef() { Dispose(); }
    UF_HostRef(const UF_HostRef&) = delete;
    UF_HostRef& operator=(const UF_HostRef&) = delete;

    PF_Err Dispose() { return m_ref ? (m_disposer->*GiveBack)(std::exchange(m_ref, nullptr)) : PF_Err_NONE; }
    explicit operator bool() const { return m_ref != nullptr; }

protected:
    const S* Suite() const { return (m_suites.*m_suite)(); }

    AEGP_SuiteHandler& m_suites;
    SuiteFn m_suite;
    const S* m_disposer = nullptr;
    Ref m_ref = nullptr;
};

class UF_EffectRef : public UF_HostRef<AEGP_EffectSuite3, AEGP_EffectRefH, &AEGP_EffectSuite3::AEGP_DisposeEffect> {
public:
    using UF_HostRef::UF_HostRef;

    // This effect instance's reference (plugin id 0).
    PF_Err Acquire(PF_InData* in_data) {
        m_disposer = Suite();
        return m_suites.PFInterfaceSuite1()->AEGP_GetNewEffectForEffect(0, in_data->effect_ref, &m_ref);
    }
    AEGP_EffectRefH& Get() { return m_ref; }
};

class UF_Stream : public UF_HostRef<AEGP_StreamSuite9, AEGP_StreamRefH, &AEGP_StreamSuite9::AEGP_DisposeStream> {
public:
    using UF_HostRef::UF_HostRef;

    // `through`: the suite version the stream is got with, when it is not the one it is used with.
    PF_Err Acquire(AEGP_EffectRefH effect, int index, SuiteFn through = nullptr) {
        m_disposer = Suite();
        const AEGP_StreamSuite9* getter = through ? (m_suites.*through)() : m_disposer;
        return getter->AEGP_GetNewEffectStreamByIndex(0, effect, index, &m_ref);
    }
    // Sets a value record cleared to zero but for its scalar.
    PF_Err SetScalar(double value) {
        AEGP_StreamValue2 record{};
        record.val.one_d = value;
        return Set(record);
    }
    PF_Err Set(AEGP_StreamValue2 record) { return Suite()->AEGP_SetStreamValue(0, m_ref, &record); }
    AEGP_StreamRefH Get() const { return m_ref; }
};

// An undo group is closed only when it was opened.
class UF_UndoGroup {
public:
    UF_UndoGroup() = default;
    ~UF_UndoGroup() { End(); }
    UF_UndoGroup(const UF_UndoGroup&) = delete;
    UF_UndoGroup& operator=(const UF_UndoGroup&) = delete;

    PF_Err Start(const AEGP_UtilitySuite11* suite, const char* name) {
        PF_Err err = suite->AEGP_StartUndoGroup(name);
        if (!err) m_suite = suite;
        return err;
    }
    PF_Err End() { return m_suite ? std::exchange(m_suite, nullptr)->AEGP_EndUndoGroup() : PF_Err_NONE; }

private:
    const AEGP_UtilitySuite11* m_suite = nullptr;
};

// The first error of a chain: later results count only while it is 0.
inline void UF_Keep(PF_Err& err, PF_Err next) {
    if (!err) err = next;
}
// Sets or clears `bit` in a definition's flags.
inline void UF_SetFlag(A_long& flags, A_long bit, bool on) { flags = on ? flags | bit : flags & ~bit; }
