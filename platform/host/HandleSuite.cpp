#include "host/HandleSuite.h"

#include <cstdlib>
#include <cstring>

namespace host {

HandleTable& HandleTable::Instance() {
    static HandleTable table;
    return table;
}

namespace {
PF_Handle NewCB(A_HandleSize size) { return HandleTable::Instance().New(size); }
void* LockCB(PF_Handle h) { return HandleTable::Instance().Lock(h); }
void UnlockCB(PF_Handle h) { HandleTable::Instance().Unlock(h); }
void DisposeCB(PF_Handle h) { HandleTable::Instance().Dispose(h); }
A_HandleSize SizeCB(PF_Handle h) { return HandleTable::Instance().Size(h); }
PF_Err ResizeCB(A_HandleSize size, PF_Handle* h) { return HandleTable::Instance().Resize(size, h); }
}  // namespace

HandleTable::HandleTable() {
    m_suite.host_new_handle = &NewCB;
    m_suite.host_lock_handle = &LockCB;
    m_suite.host_unlock_handle = &UnlockCB;
    m_suite.host_dispose_handle = &DisposeCB;
    m_suite.host_get_handle_size = &SizeCB;
    m_suite.host_resize_handle = &ResizeCB;
}

HandleTable::Block* HandleTable::Find(PF_Handle h) const {
    auto it = m_blocks.find(h);
    return it == m_blocks.end() ? nullptr : it->second;
}

PF_Handle HandleTable::New(A_HandleSize size) {
    std::lock_guard lock(m_mutex);
    if (m_failAllocationIn > 0 && --m_failAllocationIn == 0) return nullptr;
    auto* block = new Block;
    // Zero-filled so a reader of a fresh handle never sees stale memory.
    block->data = std::calloc(size ? size : 1, 1);
    if (!block->data) {
        delete block;
        return nullptr;
    }
    block->size = size;
    auto h = reinterpret_cast<PF_Handle>(&block->data);
    m_blocks[h] = block;
    m_allocations++;
    return h;
}

void* HandleTable::Lock(PF_Handle h) {
    std::lock_guard lock(m_mutex);
    Block* block = Find(h);
    if (!block) {
        m_misuses++;
        return nullptr;
    }
    m_lockCalls++;
    if (m_failLockIn > 0 && --m_failLockIn == 0) return nullptr;
    block->locks++;
    return block->data;
}

void HandleTable::Unlock(PF_Handle h) {
    std::lock_guard lock(m_mutex);
    Block* block = Find(h);
    if (!block) {
        m_misuses++;
        return;
    }
    // Unlocking an unlocked block is harmless, as with the application's own handles.
    if (block->locks > 0) block->locks--;
}

void HandleTable::Dispose(PF_Handle h) {
    std::lock_guard lock(m_mutex);
    auto it = m_blocks.find(h);
    if (it == m_blocks.end()) {
        if (h) m_misuses++;
        return;
    }
    std::free(it->second->data);
    delete it->second;
    m_blocks.erase(it);
}

A_HandleSize HandleTable::Size(PF_Handle h) {
    std::lock_guard lock(m_mutex);
    Block* block = Find(h);
    if (!block) {
        m_misuses++;
        return 0;
    }
    return block->size;
}

PF_Err HandleTable::Resize(A_HandleSize size, PF_Handle* h) {
    std::lock_guard lock(m_mutex);
    Block* block = h ? Find(*h) : nullptr;
    if (!block) {
        m_misuses++;
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    if (block->locks) return PF_Err_INTERNAL_STRUCT_DAMAGED;  // a locked block may not move
    void* data = std::realloc(block->data, size ? size : 1);
    if (!data) return PF_Err_OUT_OF_MEMORY;
    if (size > block->size) std::memset(static_cast<char*>(data) + block->size, 0, size - block->size);
    block->data = data;
    block->size = size;
    return PF_Err_NONE;
}

size_t HandleTable::Alive() const {
    std::lock_guard lock(m_mutex);
    return m_blocks.size();
}

long HandleTable::LocksHeld() const {
    std::lock_guard lock(m_mutex);
    long n = 0;
    for (const auto& [h, block] : m_blocks) n += block->locks;
    return n;
}

long HandleTable::LockCount(PF_Handle h) const {
    std::lock_guard lock(m_mutex);
    Block* block = Find(h);
    return block ? block->locks : -1;
}

bool HandleTable::IsAlive(PF_Handle h) const {
    std::lock_guard lock(m_mutex);
    return Find(h) != nullptr;
}

long HandleTable::Misuses() const {
    std::lock_guard lock(m_mutex);
    return m_misuses;
}

long HandleTable::Allocations() const {
    std::lock_guard lock(m_mutex);
    return m_allocations;
}

long HandleTable::LockCalls() const {
    std::lock_guard lock(m_mutex);
    return m_lockCalls;
}

void HandleTable::FailAllocation(long nth) {
    std::lock_guard lock(m_mutex);
    m_failAllocationIn = nth;
}

void HandleTable::FailLock(long nth) {
    std::lock_guard lock(m_mutex);
    m_failLockIn = nth;
}

void HandleTable::ClearFaults() {
    std::lock_guard lock(m_mutex);
    m_failAllocationIn = 0;
    m_failLockIn = 0;
}

void HandleTable::Reset() {
    std::lock_guard lock(m_mutex);
    for (auto& [h, block] : m_blocks) {
        std::free(block->data);
        delete block;
    }
    m_blocks.clear();
    m_misuses = 0;
    m_allocations = 0;
    m_lockCalls = 0;
    m_failAllocationIn = 0;
    m_failLockIn = 0;
}

}  // namespace host
