// The one owner of a host handle and the one scoped lock on it: a handle made or adopted by
// UF_Handle is disposed when its owner goes unless it is released to the host, a UF_HandleLock
// is undone when it goes, and a refused allocation or lock is a result its caller sees.
#pragma once

#include "AE_Effect.h"
#include "AE_EffectSuites.h"

// The host's handle calls, from the PF Handle Suite or from the utility callbacks (the same calls
// by the same names). A missing source or call is taken as the host refusing it.
struct UF_HandleCalls {
    PF_Handle (*host_new_handle)(A_HandleSize size) = nullptr;
    void* (*host_lock_handle)(PF_Handle h) = nullptr;
    void (*host_unlock_handle)(PF_Handle h) = nullptr;
    void (*host_dispose_handle)(PF_Handle h) = nullptr;

    UF_HandleCalls() = default;
    template <typename Calls>  // PF_HandleSuite1 or PF_UtilCallbacks
    UF_HandleCalls(const Calls* c)
        : host_new_handle(c ? c->host_new_handle : nullptr), host_lock_handle(c ? c->host_lock_handle : nullptr),
          host_unlock_handle(c ? c->host_unlock_handle : nullptr),
          host_dispose_handle(c ? c->host_dispose_handle : nullptr) {}
};

class UF_Handle {
public:
    UF_Handle() = default;
    UF_Handle(UF_HandleCalls calls, PF_Handle adopted) : m_calls(calls), m_h(adopted) {}
    // Empty when the host refuses the handle.
    static UF_Handle New(UF_HandleCalls calls, A_HandleSize size) {
        return UF_Handle(calls, calls.host_new_handle ? calls.host_new_handle(size) : nullptr);
    }
    ~UF_Handle() { Dispose(); }
    UF_Handle(UF_Handle&& other) noexcept { *this = static_cast<UF_Handle&&>(other); }
    UF_Handle& operator=(UF_Handle&& other) noexcept;

    explicit operator bool() const { return m_h != nullptr; }
    PF_Handle get() const { return m_h; }
    // Handed over (to the host, into a parameter): no longer disposed here.
    PF_Handle Release();
    // PF_Err_BAD_CALLBACK_PARAM when the host gives no call to dispose with; forgotten either way.
    PF_Err Dispose();
    // For a value the host hands back, which may still be locked.
    PF_Err UnlockAndDispose();
    // `record` names the handle while this owner holds it, and is cleared when it stops.
    void RecordIn(PF_Handle& record) { m_record = &record, record = m_h; }

private:
    UF_HandleCalls m_calls;
    PF_Handle m_h = nullptr;
    PF_Handle* m_record = nullptr;
};

// Always: the host is told the handle is done with even after it refused the lock.
enum class UF_Unlock { IfLocked, Always };

class UF_HandleLock {
public:
    // A null handle is not asked for and counts as refused.
    [[nodiscard]] UF_HandleLock(UF_HandleCalls calls, PF_Handle h, UF_Unlock unlock = UF_Unlock::IfLocked);
    ~UF_HandleLock() { Unlock(); }
    UF_HandleLock(const UF_HandleLock&) = delete;
    UF_HandleLock& operator=(const UF_HandleLock&) = delete;

    explicit operator bool() const { return m_data != nullptr; }
    template <typename T> T* As() const { return static_cast<T*>(m_data); }
    // PF_Err_OUT_OF_MEMORY when the lock was refused.
    PF_Err Error() const { return m_data ? PF_Err_NONE : PF_Err_OUT_OF_MEMORY; }
    // Early, where the host's order needs it; the destructor then does nothing.
    void Unlock();

private:
    UF_HandleCalls m_calls;
    PF_Handle m_h = nullptr;
    void* m_data = nullptr;
    bool m_unlock = false;
};

// A new handle of `size` bytes, filled while locked and handed to `*out`. A refused allocation or
// lock leaves nothing behind and `*out` as it was, and is PF_Err_OUT_OF_MEMORY.
template <typename Fill>
PF_Err UF_NewFilledHandle(UF_HandleCalls calls, A_HandleSize size, PF_Handle* out, Fill&& fill) {
    UF_Handle h = UF_Handle::New(calls, size);
    {
        const UF_HandleLock lock(calls, h.get());
        if (!lock) return lock.Error();
        fill(lock.As<void>());
    }
    *out = h.Release();
    return PF_Err_NONE;
}
