// A loaded effect module behind a fresh in-process host, with the host's books
// checked after every test: no suite held, no handle alive or locked.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "host/DrawbotHost.h"
#include "host/HandleSuite.h"
#include "host/Host.h"
#include "host/SuiteRegistry.h"
#include "host/WorldSuite.h"

class LoadedModule : public ::testing::Test {
protected:
    void SetUp() override { Start({}); }

    void Start(host::HostOptions options) {
        host::HandleTable::Instance().Reset();
        host::WorldTable::Instance().Reset();
        host::SuiteRegistry::Instance().ClearFaults();
        host::SuiteRegistry::Instance().ResetBooks();
        host::DrawbotReset();
        m_host = std::make_unique<host::Host>(options);
        ASSERT_TRUE(m_host->Load(UMBRAFEX_MODULE_PATH)) << m_host->Error();
    }

    void TearDown() override {
        auto& handles = host::HandleTable::Instance();
        auto& suites = host::SuiteRegistry::Instance();
        handles.ClearFaults();
        suites.ClearFaults();
        if (m_host && m_host->SequenceData()) {
            EXPECT_EQ(m_host->SequenceSetdown(), PF_Err_NONE);
        }
        if (m_host && m_host->GlobalData()) {
            EXPECT_EQ(m_host->GlobalSetdown(), PF_Err_NONE);
        }
        ExpectBooksBalanced();
        // The host gives back what it holds for the effect's parameters; then nothing may be left.
        m_host.reset();
        EXPECT_EQ(handles.Alive(), 0u) << "handles leaked";
    }

    // Every acquired suite released exactly once, no handle left locked, no misuse.
    void ExpectBooksBalanced() {
        auto& handles = host::HandleTable::Instance();
        auto& suites = host::SuiteRegistry::Instance();
        EXPECT_EQ(suites.Outstanding(), 0) << suites.Describe();
        EXPECT_EQ(suites.OverReleased(), 0) << suites.Describe();
        EXPECT_EQ(handles.LocksHeld(), 0);
        EXPECT_EQ(handles.Misuses(), 0);
        EXPECT_EQ(host::DrawbotObjectsAlive(), 0u);
        EXPECT_EQ(host::WorldTable::Instance().Alive(), 0u) << "worlds leaked";
        EXPECT_EQ(host::WorldTable::Instance().Misuses(), 0);
        EXPECT_EQ(host::ColorProfilesAlive(), 0);
        if (m_host) {
            EXPECT_EQ(m_host->CheckoutsOutstanding(), 0);
            EXPECT_EQ(m_host->ArbDisposalsRefused(), 0) << "the effect refused to dispose arbitrary data";
        }
    }

    host::Host& H() { return *m_host; }

    std::unique_ptr<host::Host> m_host;
};
