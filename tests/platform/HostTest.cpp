#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "AE_GeneralPlug.h"
#include "host/AnsiSuite.h"
#include "host/HandleSuite.h"
#include "host/Host.h"
#include "host/SuiteRegistry.h"

namespace {

class HostBooks : public ::testing::Test {
protected:
    void SetUp() override {
        host::HandleTable::Instance().Reset();
        host::SuiteRegistry::Instance().ResetBooks();
        host::SuiteRegistry::Instance().ClearFaults();
    }
    void TearDown() override { host::HandleTable::Instance().Reset(); }
    host::HandleTable& T() { return host::HandleTable::Instance(); }
};

TEST_F(HostBooks, HandlesKeepSizeLocksAndContents) {
    PF_Handle h = T().New(24);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(T().Size(h), 24u);
    EXPECT_EQ(T().Alive(), 1u);
    auto* bytes = static_cast<unsigned char*>(T().Lock(h));
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(*h, bytes) << "a handle points at its block";
    for (int i = 0; i < 24; ++i) EXPECT_EQ(bytes[i], 0) << "fresh handles are zeroed";
    std::memset(bytes, 7, 24);
    EXPECT_EQ(T().Lock(h), bytes);
    EXPECT_EQ(T().LockCount(h), 2);
    EXPECT_EQ(T().LocksHeld(), 2);
    T().Unlock(h);
    // A locked block may not move.
    EXPECT_NE(T().Resize(48, &h), PF_Err_NONE);
    T().Unlock(h);
    EXPECT_EQ(T().LocksHeld(), 0);
    ASSERT_EQ(T().Resize(48, &h), PF_Err_NONE);
    EXPECT_EQ(T().Size(h), 48u);
    bytes = static_cast<unsigned char*>(T().Lock(h));
    EXPECT_EQ(bytes[23], 7);
    EXPECT_EQ(bytes[24], 0);
    T().Unlock(h);
    T().Dispose(h);
    EXPECT_EQ(T().Alive(), 0u);
    EXPECT_EQ(T().Misuses(), 0);
}

TEST_F(HostBooks, MisuseIsCountedNotFollowed) {
    PF_Handle h = T().New(4);
    T().Dispose(h);
    T().Dispose(h);  // twice
    EXPECT_EQ(T().Lock(h), nullptr);
    int local = 0;
    void* fake = &local;
    T().Unlock(reinterpret_cast<PF_Handle>(&fake));
    EXPECT_EQ(T().Misuses(), 3);
    T().Dispose(nullptr);  // a null handle is not a misuse
    PF_Handle live = T().New(4);
    T().Unlock(live);  // unlocking an unlocked block is harmless
    EXPECT_EQ(T().LockCount(live), 0);
    EXPECT_EQ(T().Misuses(), 3);
}

TEST_F(HostBooks, InjectedAllocationAndLockFailuresHitTheNthCall) {
    T().FailAllocation(2);
    PF_Handle a = T().New(8);
    PF_Handle b = T().New(8);
    PF_Handle c = T().New(8);
    EXPECT_NE(a, nullptr);
    EXPECT_EQ(b, nullptr);
    EXPECT_NE(c, nullptr);
    T().FailLock(1);
    EXPECT_EQ(T().Lock(a), nullptr);
    EXPECT_NE(T().Lock(a), nullptr);
    T().Unlock(a);
    EXPECT_EQ(T().Alive(), 2u);
}

TEST_F(HostBooks, HandlesFromManyThreads) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i) {
                PF_Handle h = T().New(16);
                auto* p = static_cast<int*>(T().Lock(h));
                p[0] = i;
                T().Unlock(h);
                T().Dispose(h);
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(T().Alive(), 0u);
    EXPECT_EQ(T().Allocations(), 4000);
    EXPECT_EQ(T().Misuses(), 0);
}

TEST_F(HostBooks, SuiteRegistryCountsAcquiresAndReleases) {
    host::Host h;  // registers the suites
    SPBasicSuite* basic = host::SuiteRegistry::Instance().Basic();
    const void* suite = nullptr;
    ASSERT_EQ(basic->AcquireSuite(kPFHandleSuite, 2, &suite), kSPNoError);
    EXPECT_EQ(suite, host::HandleTable::Instance().Suite());
    EXPECT_EQ(host::SuiteRegistry::Instance().Outstanding(), 1);
    EXPECT_EQ(basic->ReleaseSuite(kPFHandleSuite, 2), kSPNoError);
    EXPECT_NE(basic->ReleaseSuite(kPFHandleSuite, 2), kSPNoError);
    EXPECT_EQ(host::SuiteRegistry::Instance().OverReleased(), 1);

    EXPECT_EQ(basic->AcquireSuite("No Such Suite", 1, &suite), kSPSuiteNotFoundError);
    EXPECT_EQ(suite, nullptr);
    EXPECT_EQ(basic->AcquireSuite(kPFHandleSuite, 99, &suite), kSPSuiteNotFoundError);

    host::SuiteRegistry::Instance().SetMissing(kPFHandleSuite, 2);
    EXPECT_EQ(basic->AcquireSuite(kPFHandleSuite, 2, &suite), kSPSuiteNotFoundError);
    host::SuiteRegistry::Instance().SetMissing(kPFHandleSuite, 2, false);
    host::SuiteRegistry::Instance().SetNull(kPFHandleSuite, 2);
    EXPECT_EQ(basic->AcquireSuite(kPFHandleSuite, 2, &suite), kSPNoError);
    EXPECT_EQ(suite, nullptr);
    EXPECT_EQ(basic->ReleaseSuite(kPFHandleSuite, 2), kSPNoError);
}

TEST_F(HostBooks, AnsiSprintfFormatsIntoTheBuffer) {
    char buf[64];
    EXPECT_EQ(host::AnsiSuite()->sprintf(buf, "%s %d", "code", 516), 8);
    EXPECT_STREQ(buf, "code 516");
    EXPECT_DOUBLE_EQ(host::AnsiSuite()->hypot(3, 4), 5.0);
}

TEST(HostIterate, AegpIterateGenericVisitsEveryIndexOnce) {
    host::Host h;
    const void* suite = nullptr;
    ASSERT_EQ(h.In().pica_basicP->AcquireSuite(kAEGPIterateSuite, 1, &suite), kSPNoError);
    auto* it = static_cast<const AEGP_IterateSuite1*>(suite);
    EXPECT_GE(it->AEGP_GetNumThreads(), 1);
    std::vector<std::atomic<int>> seen(100);
    auto visit = [](void* refcon, A_long, A_long i, A_long) -> A_Err {
        (*static_cast<std::vector<std::atomic<int>>*>(refcon))[size_t(i)]++;
        return A_Err_NONE;
    };
    EXPECT_EQ(it->AEGP_IterateGeneric(100, &seen, visit), A_Err_NONE);
    for (auto& n : seen) EXPECT_EQ(n.load(), 1);
    h.In().pica_basicP->ReleaseSuite(kAEGPIterateSuite, 1);
}

TEST(HostLoading, ReportsWhatIsMissing) {
    host::Host h;
    EXPECT_FALSE(h.Load("/nonexistent/module.so"));
    EXPECT_NE(h.Error().find("cannot load /nonexistent/module.so"), std::string::npos) << h.Error();
    EXPECT_EQ(h.Send(PF_Cmd_ABOUT), PF_Err_INVALID_CALLBACK) << "commands to an unloaded effect";

    // A real shared object that is not an effect.
    host::Host other;
    EXPECT_FALSE(other.Load(UMBRAFEX_CGL_LIBRARY_PATH));
    EXPECT_EQ(other.Error(), "the module has no PluginDataEntryFunction2");
}

}  // namespace
