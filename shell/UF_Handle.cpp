#include "shell/UF_Handle.h"

#include <utility>

UF_Handle& UF_Handle::operator=(UF_Handle&& other) noexcept {
    if (this == &other) return *this;
    Dispose();
    m_calls = other.m_calls;
    m_h = std::exchange(other.m_h, nullptr);
    m_record = std::exchange(other.m_record, nullptr);
    return *this;
}

PF_Handle UF_Handle::Release() {
    if (m_record) *std::exchange(m_record, nullptr) = nullptr;
    return std::exchange(m_h, nullptr);
}

PF_Err UF_Handle::Dispose() {
    PF_Handle h = Release();
    if (!h) return PF_Err_NONE;
    if (!m_calls.host_dispose_handle) return PF_Err_BAD_CALLBACK_PARAM;
    m_calls.host_dispose_handle(h);
    return PF_Err_NONE;
}

PF_Err UF_Handle::UnlockAndDispose() {
    if (m_h && m_calls.host_unlock_handle) m_calls.host_unlock_handle(m_h);
    return Dispose();
}

UF_HandleLock::UF_HandleLock(UF_HandleCalls calls, PF_Handle h, UF_Unlock unlock) : m_calls(calls), m_h(h) {
    if (!h || !calls.host_lock_handle) return;
    m_data = calls.host_lock_handle(h);
    m_unlock = m_data != nullptr || unlock == UF_Unlock::Always;
}

void UF_HandleLock::Unlock() {
    if (std::exchange(m_unlock, false) && m_calls.host_unlock_handle) m_calls.host_unlock_handle(m_h);
    m_data = nullptr;
}
