// The loaded module with its parameters declared, for tests that drive the
// Effect Controls panel; the host's stream and undo books are checked after
// every test on top of the suites, handles and worlds.
#pragma once

#include "HostFixture.h"
#include "host/Streams.h"
#include "params/UF3_ParamIndex.h"

class PanelFixture : public LoadedModule {
protected:
    void SetUp() override { StartPanel({}); }

    void StartPanel(host::HostOptions options) {
        Start(options);
        host::UndoJournal::Instance().Reset();
        ASSERT_EQ(H().Send(PF_Cmd_PARAMS_SETUP), PF_Err_NONE);
        ASSERT_EQ(H().NumParams(), UF3_NUM_PARAMS);
    }

    void TearDown() override {
        ExpectStreamBooksBalanced();
        LoadedModule::TearDown();
    }

    void ExpectStreamBooksBalanced() {
        const host::StreamBooks books = host::StreamsOutstanding();
        EXPECT_EQ(books.effects, 0) << "effect references not disposed";
        EXPECT_EQ(books.streams, 0) << "streams not disposed";
        EXPECT_EQ(books.values, 0) << "stream values not disposed";
        EXPECT_EQ(books.misuses, 0);
        EXPECT_EQ(host::UndoJournal::Instance().Depth(), 0) << "an undo group was left open";
        EXPECT_EQ(host::UndoJournal::Instance().Misuses(), 0);
    }

    host::ParamUI UI(int index) { return H().Panel().UI(index); }
    const host::UserAction& Action() { return H().Panel().LastAction(); }
    std::vector<host::UndoGroup> Groups() { return host::UndoJournal::Instance().Groups(); }
};
