// Host handles: movable memory blocks with a size and a lock count, and the
// books tests read (handles alive, locks held, misuse seen).
#pragma once

#include <cstddef>
#include <mutex>
#include <unordered_map>

#include "AE_EffectSuites.h"

namespace host {

class HandleTable {
public:
    static HandleTable& Instance();

    PF_Handle New(A_HandleSize size);
    void* Lock(PF_Handle h);
    void Unlock(PF_Handle h);
    void Dispose(PF_Handle h);
    A_HandleSize Size(PF_Handle h);
    PF_Err Resize(A_HandleSize size, PF_Handle* h);

    // Books.
    size_t Alive() const;
    long LocksHeld() const;          // sum of lock counts over live handles
    long LockCount(PF_Handle h) const;
    bool IsAlive(PF_Handle h) const;
    long Misuses() const;            // unknown handles disposed, locked or unlocked; unlocks below zero
    long Allocations() const;
    long LockCalls() const;          // locks asked for so far, refused ones included

    // Fault injection: the n-th allocation from now (1 = the next) fails;
    // 0 clears. Likewise for locks.
    void FailAllocation(long nth);
    void FailLock(long nth);
    void ClearFaults();

    // Frees every live handle (between tests).
    void Reset();

    const PF_HandleSuite1* Suite() const { return &m_suite; }

private:
    HandleTable();
    struct Block {
        void* data = nullptr;  // must stay first: a PF_Handle points here
        A_HandleSize size = 0;
        long locks = 0;
    };
    Block* Find(PF_Handle h) const;

    mutable std::mutex m_mutex;
    std::unordered_map<PF_Handle, Block*> m_blocks;
    long m_misuses = 0;
    long m_allocations = 0;
    long m_failAllocationIn = 0;
    long m_failLockIn = 0;
    long m_lockCalls = 0;
    PF_HandleSuite1 m_suite{};
};

}  // namespace host
