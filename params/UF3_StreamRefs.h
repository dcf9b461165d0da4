// Owners of the host references that parameter supervision and change
// handling hold for one command: an effect reference, a parameter stream and
// an open undo group. Each is given back on every path, also when a missing
// suite throws out of the command; Dispose()/End() report the host's answer
// where the caller needs it.
#pragma once

#include <utility>

#include "AE_GeneralPlug.h"
#include "shell/AEGP_SuiteHandler.h"

// Which version of a suite a caller uses.
using UF_EffectSuiteFn = const AEGP_EffectSuite3* (AEGP_SuiteHandler::*)() const;
using UF_StreamSuiteFn = const AEGP_StreamSuite9* (AEGP_SuiteHandler::*)() const;

class UF_EffectRef {
public:
    UF_EffectRef(AEGP_SuiteHandler& suites, UF_EffectSuiteFn suite) : m_suites(suites), m_suite(suite) {}
    ~UF_EffectRef() { Dispose(); }
    UF_EffectRef(const UF_EffectRef&) = delete;
    UF_EffectRef& operator=(const UF_EffectRef&) = delete;

    // This effect instance's reference (plugin id 0). The suite that gives it back is held
    // before it is taken: a missing one throws while there is nothing to give back yet.
    PF_Err Acquire(PF_InData* in_data) {
        m_disposer = (m_suites.*m_suite)();
        return m_suites.PFInterfaceSuite1()->AEGP_GetNewEffectForEffect(0, in_data->effect_ref, &m_ref);
    }
    PF_Err Dispose() { return m_ref ? m_disposer->AEGP_DisposeEffect(std::exchange(m_ref, nullptr)) : PF_Err_NONE; }
    AEGP_EffectRefH& Get() { return m_ref; }
    explicit operator bool() const { return m_ref != nullptr; }

private:
    AEGP_SuiteHandler& m_suites;
    UF_EffectSuiteFn m_suite;
    const AEGP_EffectSuite3* m_disposer = nullptr;
    AEGP_EffectRefH m_ref = nullptr;
};

class UF_Stream {
public:
    UF_Stream(AEGP_SuiteHandler& suites, UF_StreamSuiteFn suite) : m_suites(suites), m_suite(suite) {}
    ~UF_Stream() { Dispose(); }
    UF_Stream(const UF_Stream&) = delete;
    UF_Stream& operator=(const UF_Stream&) = delete;

    // `through`: the suite version the stream is got with, when it is not the one it is used with.
    // The suite that disposes the stream is held before the stream is taken.
    PF_Err Acquire(AEGP_EffectRefH effect, int index, UF_StreamSuiteFn through = nullptr) {
        m_disposer = Suite();
        const AEGP_StreamSuite9* getter = through ? (m_suites.*through)() : m_disposer;
        return getter->AEGP_GetNewEffectStreamByIndex(0, effect, index, &m_stream);
    }
    // Sets a value record cleared to zero but for its scalar.
    PF_Err SetScalar(double value) {
        AEGP_StreamValue2 record{};
        record.val.one_d = value;
        return Set(record);
    }
    PF_Err Set(AEGP_StreamValue2 record) { return Suite()->AEGP_SetStreamValue(0, m_stream, &record); }
    PF_Err Dispose() {
        return m_stream ? m_disposer->AEGP_DisposeStream(std::exchange(m_stream, nullptr)) : PF_Err_NONE;
    }
    AEGP_StreamRefH Get() const { return m_stream; }
    explicit operator bool() const { return m_stream != nullptr; }

private:
    const AEGP_StreamSuite9* Suite() const { return (m_suites.*m_suite)(); }

    AEGP_SuiteHandler& m_suites;
    UF_StreamSuiteFn m_suite;
    const AEGP_StreamSuite9* m_disposer = nullptr;
    AEGP_StreamRefH m_stream = nullptr;
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
