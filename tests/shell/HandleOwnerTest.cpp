// The handle owner and the scoped lock on the host's real handle table, reached through the
// handle suite and through the utility callbacks; each call is logged on its way to the table, so
// the order the host sees is checked too.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "host/HandleSuite.h"
#include "shell/UF_Handle.h"

namespace {

std::string g_calls;  // n(ew) l(ock) L (a refused lock) u(nlock) d(ispose), in order

auto& Table() { return host::HandleTable::Instance(); }
PF_Handle New(A_HandleSize size) { return g_calls += 'n', Table().New(size); }
void* Lock(PF_Handle h) {
    void* data = Table().Lock(h);
    g_calls += data ? 'l' : 'L';
    return data;
}
void Unlock(PF_Handle h) { g_calls += 'u', Table().Unlock(h); }
void Dispose(PF_Handle h) { g_calls += 'd', Table().Dispose(h); }

class HandleOwner : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        Table().Reset();
        g_calls.clear();
        m_suite = {&New, &Lock, &Unlock, &Dispose, nullptr, nullptr};
        m_utils.host_new_handle = &New;
        m_utils.host_lock_handle = &Lock;
        m_utils.host_unlock_handle = &Unlock;
        m_utils.host_dispose_handle = &Dispose;
    }
    void TearDown() override {
        EXPECT_EQ(Table().Alive(), 0u) << "handles leaked";
        EXPECT_EQ(Table().LocksHeld(), 0);
        EXPECT_EQ(Table().Misuses(), 0);
    }
    // Suite or utility callbacks: the same calls by the same names.
    UF_HandleCalls Calls() const { return GetParam() ? UF_HandleCalls(&m_suite) : UF_HandleCalls(&m_utils); }

    PF_HandleSuite1 m_suite{};
    PF_UtilCallbacks m_utils{};
};

TEST_P(HandleOwner, RefusalsAreSeenAndLeaveNothingBehind) {
    Table().FailAllocation(1);
    PF_Handle out = reinterpret_cast<PF_Handle>(&g_calls);
    bool filled = false;
    EXPECT_EQ(UF_NewFilledHandle(Calls(), 8, &out, [&](void*) { filled = true; }), PF_Err_OUT_OF_MEMORY);
    EXPECT_FALSE(filled);
    EXPECT_EQ(out, reinterpret_cast<PF_Handle>(&g_calls)) << "a refused handle changed the slot";
    EXPECT_EQ(g_calls, "n") << "a refused handle is neither locked nor disposed";

    // A refused lock: the caller sees it, and the host hears no unlock; the handle still goes.
    g_calls.clear();
    Table().FailLock(1);
    EXPECT_EQ(UF_NewFilledHandle(Calls(), 8, &out, [&](void*) { filled = true; }), PF_Err_OUT_OF_MEMORY);
    EXPECT_FALSE(filled);
    EXPECT_EQ(g_calls, "nLd");
    g_calls.clear();
    {
        UF_Handle h = UF_Handle::New(Calls(), 8);
        Table().FailLock(1);
        UF_HandleLock lock(Calls(), h.get());
        ASSERT_FALSE(lock);
        EXPECT_EQ(lock.As<void>(), nullptr);
        EXPECT_EQ(lock.Error(), PF_Err_OUT_OF_MEMORY);
        lock.Unlock();
        EXPECT_EQ(g_calls, "nL") << "an early unlock of a refused lock reached the host";
        // Where the host's order asks for it, the unlock follows a refusal too, once.
        Table().FailLock(1);
        UF_HandleLock always(Calls(), h.get(), UF_Unlock::Always);
        EXPECT_FALSE(always);
        always.Unlock();
        EXPECT_EQ(g_calls, "nLLu");
    }
    EXPECT_EQ(g_calls, "nLLud");

    // No handle, or no call to make: nothing is asked and nothing is had.
    g_calls.clear();
    EXPECT_FALSE(UF_HandleLock(Calls(), nullptr, UF_Unlock::Always));
    PF_UtilCallbacks noCalls{};
    const PF_UtilCallbacks* none = nullptr;
    for (UF_HandleCalls calls : {UF_HandleCalls(&noCalls), UF_HandleCalls(none)}) {
        EXPECT_FALSE(UF_Handle::New(calls, 8));
        PF_Handle h = Table().New(8);
        EXPECT_FALSE(UF_HandleLock(calls, h));
        EXPECT_EQ(UF_Handle(calls, h).Dispose(), PF_Err_BAD_CALLBACK_PARAM) << "a handle that cannot go says so";
        Table().Dispose(h);
    }
    EXPECT_EQ(g_calls, "");
}

TEST_P(HandleOwner, EveryWayOutUnlocksThenDisposes) {
    PF_Handle record = nullptr;
    try {
        UF_Handle h = UF_Handle::New(Calls(), 8);
        h.RecordIn(record);
        EXPECT_EQ(record, h.get());
        UF_HandleLock lock(Calls(), h.get());
        ASSERT_TRUE(lock);
        EXPECT_EQ(Table().LockCount(h.get()), 1);
        throw std::runtime_error("way out");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(g_calls, "nlud");
    EXPECT_EQ(record, nullptr) << "the record outlived the handle";

    // Moved: the handle goes once, from its last owner; one assigned over goes at once.
    g_calls.clear();
    {
        UF_Handle a = UF_Handle::New(Calls(), 8);
        UF_Handle b = std::move(a);
        EXPECT_FALSE(a);
        a = UF_Handle::New(Calls(), 8);
        a = std::move(b);
        EXPECT_EQ(g_calls, "nnd");
    }
    EXPECT_EQ(g_calls, "nndd");

    // A value handed back by the host may still be locked: unlocked first.
    g_calls.clear();
    PF_Handle hostValue = Table().New(8);
    Table().Lock(hostValue);
    EXPECT_EQ(UF_Handle(Calls(), hostValue).UnlockAndDispose(), PF_Err_NONE);
    EXPECT_EQ(g_calls, "ud");
    EXPECT_FALSE(Table().IsAlive(hostValue));
}

TEST_P(HandleOwner, ReleaseHandsTheHandleOver) {
    PF_Handle out = nullptr;
    ASSERT_EQ(UF_NewFilledHandle(Calls(), 4, &out, [](void* data) { static_cast<unsigned char*>(data)[3] = 7; }),
              PF_Err_NONE);
    EXPECT_EQ(g_calls, "nlu");
    ASSERT_TRUE(Table().IsAlive(out));
    EXPECT_EQ(Table().LockCount(out), 0) << "handed over locked";
    EXPECT_EQ(static_cast<unsigned char*>(*out)[3], 7);

    // Adopted and released: the owner lets it be.
    PF_Handle record = nullptr;
    {
        UF_Handle adopted(Calls(), out);
        adopted.RecordIn(record);
        EXPECT_EQ(adopted.Release(), out);
        EXPECT_FALSE(adopted);
        EXPECT_EQ(record, nullptr);
    }
    EXPECT_EQ(g_calls, "nlu");
    EXPECT_TRUE(Table().IsAlive(out));
    Table().Dispose(out);
}

INSTANTIATE_TEST_SUITE_P(Calls, HandleOwner, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "HandleSuite" : "UtilityCallbacks"; });

}  // namespace
