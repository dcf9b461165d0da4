#include <gtest/gtest.h>

#include "host/HandleSuite.h"
#include "host/Host.h"
#include "host/SuiteRegistry.h"
#include "host/WorldSuite.h"
#include "render/UF_EffectWorld.h"
#include "shell/UF3.h"

namespace {

class EffectWorld : public ::testing::Test {
protected:
    void SetUp() override {
        host::WorldTable::Instance().Reset();
        host::SuiteRegistry::Instance().ResetBooks();
        host::SuiteRegistry::Instance().ClearFaults();
        templ = h.NewWorld(4, 4, PF_PixelFormat_ARGB128);
    }
    void TearDown() override {
        h.DisposeWorld(templ);
        EXPECT_EQ(host::WorldTable::Instance().Alive(), 0u) << "worlds leaked";
        EXPECT_EQ(host::SuiteRegistry::Instance().Outstanding(), 0) << host::SuiteRegistry::Instance().Describe();
        host::SuiteRegistry::Instance().ClearFaults();
    }
    size_t Worlds() { return host::WorldTable::Instance().Alive(); }

    host::Host h;
    PF_EffectWorld templ{};
};

TEST_F(EffectWorld, AllocatesLikeItsTemplateAndGivesItBack) {
    {
        UF_EffectWorld w(&h.In(), templ);
        EXPECT_EQ(w.err, PF_Err_NONE);
        EXPECT_EQ(w.pixel_format, PF_PixelFormat_ARGB128);
        EXPECT_EQ(Worlds(), 1u) << "the constructor allocates nothing";
        w.width = 9;
        w.height = 2;
        EXPECT_EQ(w.ActuallyInit(), PF_Err_NONE);
        EXPECT_TRUE(w.initialised);
        EXPECT_EQ(w.world.width, 9);
        EXPECT_EQ(Worlds(), 2u);
        PF_PixelFormat f = 0;
        host::WorldTable::Instance().Format(&w.world, &f);
        EXPECT_EQ(f, PF_PixelFormat_ARGB128);
    }
    EXPECT_EQ(Worlds(), 1u);
}

TEST_F(EffectWorld, EmptyObjectsNeedNoHost) {
    { UF_EffectWorld empty; }
    EXPECT_EQ(host::SuiteRegistry::Instance().Acquired(kPFWorldSuite, 2), 0);

    UF_EffectWorld nothing;
    EXPECT_EQ(nothing.InitStructWorld(&h.In(), templ, 0, 0), PF_Err_NONE);
    EXPECT_FALSE(nothing.initialised);
    EXPECT_EQ(Worlds(), 1u);
}

TEST_F(EffectWorld, OnePositiveDimensionSuffices) {
    UF_EffectWorld w;
    EXPECT_EQ(w.InitStructWorld(&h.In(), templ, 0, 5), PF_Err_NONE);
    EXPECT_TRUE(w.initialised);
    EXPECT_EQ(w.world.height, 5);
}

TEST_F(EffectWorld, FailuresBecomeExceptionsWithTheirTexts) {
    UF_EffectWorld w;
    EXPECT_EQ(w.InitStructWorld(&h.In(), templ, 3, 3), PF_Err_NONE);
    try {
        w.ActuallyInit();
        FAIL() << "second allocation accepted";
    } catch (const UF_Err& e) {
        EXPECT_EQ(e.code, PF_Err_INVALID_CALLBACK);
        EXPECT_EQ(e.message, "tried to init already initialised UF_EffectWorld");
        EXPECT_EQ(e.kind, 0);
    }

    host::WorldTable::Instance().FailAllocation(1);
    UF_EffectWorld big;
    try {
        big.InitStructWorld(&h.In(), templ, 12, 34);
        FAIL() << "no throw";
    } catch (const UF_Err& e) {
        EXPECT_EQ(e.code, PF_Err_OUT_OF_MEMORY);
        EXPECT_EQ(e.message, "error initialising UF_EffectWorld of size: 12 34");
    }
    EXPECT_FALSE(big.initialised);
}

TEST_F(EffectWorld, PixelFormatErrorSurfacesAtTheFirstAllocation) {
    PF_EffectWorld stranger{};  // not one of the host's worlds
    UF_EffectWorld w(&h.In(), stranger);
    EXPECT_NE(w.err, PF_Err_NONE);
    w.width = 1;
    w.height = 1;
    EXPECT_THROW(w.ActuallyInit(), UF_Err);
    EXPECT_EQ(Worlds(), 1u);
    host::WorldTable::Instance().Reset();
    templ = h.NewWorld(4, 4, PF_PixelFormat_ARGB128);

    // InitStructWorld returns the query's error instead.
    UF_EffectWorld s;
    EXPECT_NE(s.InitStructWorld(&h.In(), stranger, 2, 2), PF_Err_NONE);
    EXPECT_FALSE(s.initialised);
}

TEST_F(EffectWorld, MissingWorldSuiteThrows13AndTheDestructorStillDoesNotThrow) {
    host::SuiteRegistry::Instance().SetMissing(kPFWorldSuite, 2);
    try {
        UF_EffectWorld w(&h.In(), templ);
        FAIL() << "no throw";
    } catch (A_long e) {
        EXPECT_EQ(e, 13);
    }
    host::SuiteRegistry::Instance().SetMissing(kPFWorldSuite, 2, false);
    {
        auto* w = new UF_EffectWorld;
        w->InitStructWorld(&h.In(), templ, 2, 2);
        host::SuiteRegistry::Instance().SetMissing(kPFWorldSuite, 2);
        EXPECT_NO_THROW(delete w);
        host::SuiteRegistry::Instance().SetMissing(kPFWorldSuite, 2, false);
    }
    // That world could not go back: give it back by hand for the books.
    host::WorldTable::Instance().Reset();
    templ = h.NewWorld(4, 4, PF_PixelFormat_ARGB128);
}

TEST_F(EffectWorld, DisposeErrorIsRecorded) {
    auto* w = new UF_EffectWorld;
    ASSERT_EQ(w->InitStructWorld(&h.In(), templ, 2, 2), PF_Err_NONE);
    PF_EffectWorld copy = w->world;
    host::WorldTable::Instance().Dispose(&copy);  // the host lost it already
    delete w;  // the destructor's dispose fails and must not throw
    EXPECT_GT(host::WorldTable::Instance().Misuses(), 0);
}

}  // namespace
