#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "HostFixture.h"
#include "shell/AEFX_SuiteHelper.h"
#include "shell/AEGP_SuiteHandler.h"
#include "shell/DrawbotWrappers.h"

namespace {

// The host's services without the module: the effect's suite helpers talk to
// the host's real basic suite.
class SuiteAccess : public ::testing::Test {
protected:
    void SetUp() override {
        host::SuiteRegistry::Instance().ClearFaults();
        host::SuiteRegistry::Instance().ResetBooks();
        host::HandleTable::Instance().Reset();
        host::DrawbotReset();
        m_host = std::make_unique<host::Host>();
        std::memset(&m_out, 0, sizeof m_out);
    }
    void TearDown() override {
        auto& suites = host::SuiteRegistry::Instance();
        EXPECT_EQ(suites.Outstanding(), 0) << suites.Describe();
        EXPECT_EQ(suites.OverReleased(), 0) << suites.Describe();
        EXPECT_EQ(host::DrawbotObjectsAlive(), 0u);
        suites.ClearFaults();
    }
    PF_InData* In() { return &m_host->In(); }
    long Held(const char* name, int version) { return host::SuiteRegistry::Instance().Outstanding(name, version); }
    long Acquired(const char* name, int version) { return host::SuiteRegistry::Instance().Acquired(name, version); }

    std::unique_ptr<host::Host> m_host;
    PF_OutData m_out;
};

TEST_F(SuiteAccess, HandlerAcquiresOnFirstUseAndReleasesOnceAtScopeEnd) {
    {
        AEGP_SuiteHandler suites(In()->pica_basicP);
        EXPECT_EQ(host::SuiteRegistry::Instance().Outstanding(), 0) << "acquired before first use";
        const PF_HandleSuite1* a = suites.HandleSuite1();
        const PF_HandleSuite1* b = suites.HandleSuite1();
        EXPECT_EQ(a, b);
        EXPECT_NE(a, nullptr);
        suites.ANSICallbacksSuite1();
        suites.LayerSuite13();
        suites.LayerSuite11();  // a second version of one suite is a separate acquisition
        EXPECT_EQ(Held(kPFHandleSuite, 2), 1);
        EXPECT_EQ(Held(kAEGPLayerSuite, 13), 1);
        EXPECT_EQ(Held(kAEGPLayerSuite, 11), 1);
    }
    EXPECT_EQ(Acquired(kPFHandleSuite, 2), 1);
    EXPECT_EQ(Held(kPFHandleSuite, 2), 0);
    EXPECT_EQ(Held(kAEGPLayerSuite, 13), 0);
}

TEST_F(SuiteAccess, HandlerThatAcquiredNothingReleasesNothing) {
    { AEGP_SuiteHandler suites(In()->pica_basicP); }
    EXPECT_TRUE(host::SuiteRegistry::Instance().Books().empty());
}

TEST_F(SuiteAccess, HandlerOnNullBasicSuiteThrowsBadCallbackParam) {
    try {
        AEGP_SuiteHandler suites(nullptr);
        FAIL() << "no throw";
    } catch (A_long err) {
        EXPECT_EQ(err, PF_Err_BAD_CALLBACK_PARAM);
    }
}

TEST_F(SuiteAccess, MissingSuiteThrowsAndEarlierSuitesAreStillReleased) {
    host::SuiteRegistry::Instance().SetMissing(kPFWorldSuite, 2);
    try {
        AEGP_SuiteHandler suites(In()->pica_basicP);
        suites.HandleSuite1();
        suites.WorldSuite2();
        FAIL() << "no throw";
    } catch (A_long err) {
        EXPECT_EQ(err, PF_Err_BAD_CALLBACK_PARAM);
    }
    EXPECT_EQ(Acquired(kPFHandleSuite, 2), 1);
    EXPECT_EQ(Held(kPFHandleSuite, 2), 0);
}

TEST_F(SuiteAccess, SuiteHandedOutAsNullCountsAsMissingAndIsGivenBack) {
    host::SuiteRegistry::Instance().SetNull(kPFANSISuite, 1);
    AEGP_SuiteHandler suites(In()->pica_basicP);
    EXPECT_THROW(suites.ANSICallbacksSuite1(), A_long);
    EXPECT_EQ(Held(kPFANSISuite, 1), 0);
}

TEST_F(SuiteAccess, ScoperHoldsForItsScope) {
    {
        AEFX_SuiteScoper<PF_HandleSuite1> handles(In(), kPFHandleSuite, 2, &m_out);
        EXPECT_NE(handles.get(), nullptr);
        EXPECT_EQ(Held(kPFHandleSuite, 2), 1);
    }
    EXPECT_EQ(Held(kPFHandleSuite, 2), 0);
    EXPECT_EQ(m_out.out_flags, 0);
}

TEST_F(SuiteAccess, ScoperFailureThrows13AndReportsOnlyWithAnOutputRecord) {
    host::SuiteRegistry::Instance().SetMissing(kPFEffectCustomUISuite, 1);
    std::memset(m_out.return_msg, 'q', sizeof m_out.return_msg);
    PF_OutData untouched = m_out;
    try {
        AEFX_SuiteScoper<PF_EffectCustomUISuite1> ui(In(), kPFEffectCustomUISuite, 1);
        FAIL() << "no throw";
    } catch (A_long err) {
        EXPECT_EQ(err, 13);
    }
    EXPECT_EQ(std::memcmp(&untouched, &m_out, sizeof m_out), 0);

    try {
        AEFX_SuiteScoper<PF_EffectCustomUISuite1> ui(In(), kPFEffectCustomUISuite, 1, &m_out);
        FAIL() << "no throw";
    } catch (A_long err) {
        EXPECT_EQ(err, 13);
    }
    EXPECT_TRUE(m_out.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE);
    EXPECT_STREQ(m_out.return_msg, "Not able to acquire AEFX Suite.");
}

TEST_F(SuiteAccess, ScoperMessageWithPercentSignsIsCopiedLiterally) {
    host::SuiteRegistry::Instance().SetMissing(kPFWorldSuite, 2);
    EXPECT_THROW(AEFX_SuiteScoper<PF_WorldSuite2>(In(), kPFWorldSuite, 2, &m_out, "100%s %n done"), A_long);
    EXPECT_STREQ(m_out.return_msg, "100%s %n done");
}

TEST_F(SuiteAccess, ScoperThatMayMissHoldsNothingAndGivesBackOnce) {
    host::SuiteRegistry::Instance().SetNull(kPFANSISuite, 1);
    {
        AEFX_SuiteScoper<PF_ANSICallbacksSuite1, true> ansi(In(), kPFANSISuite, 1);
        EXPECT_EQ(ansi.get(), nullptr);
        EXPECT_EQ(Held(kPFANSISuite, 1), 0) << "a suite handed out as null is given back at once";
    }
    EXPECT_EQ(Acquired(kPFANSISuite, 1), 1);
    EXPECT_EQ(m_out.out_flags, 0) << "told the user without an output record";

    host::SuiteRegistry::Instance().SetMissing(kPFWorldSuite, 2);
    {
        AEFX_SuiteScoper<PF_WorldSuite2, true> worlds(In(), kPFWorldSuite, 2, &m_out);
        EXPECT_EQ(worlds.get(), nullptr);
    }
    EXPECT_TRUE(m_out.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE);
    EXPECT_STREQ(m_out.return_msg, "Not able to acquire AEFX Suite.");

    // Given back before the scope ends, with the host's answer; the end gives back nothing more.
    {
        AEFX_SuiteScoper<PF_HandleSuite1, true> handles(In(), kPFHandleSuite, 2);
        ASSERT_NE(handles.get(), nullptr);
        EXPECT_EQ(handles.Release(), kSPNoError);
        EXPECT_EQ(handles.get(), nullptr);
        EXPECT_EQ(Held(kPFHandleSuite, 2), 0);
    }
    EXPECT_EQ(host::SuiteRegistry::Instance().OverReleased(), 0) << "given back twice";
}

TEST_F(SuiteAccess, FreeAcquireAndRelease) {
    void* suite = nullptr;
    EXPECT_EQ(AEFX_AcquireSuite(In(), &m_out, kPFANSISuite, 1, nullptr, &suite), PF_Err_NONE);
    EXPECT_NE(suite, nullptr);
    EXPECT_EQ(AEFX_ReleaseSuite(In(), &m_out, kPFANSISuite, 1, nullptr), PF_Err_NONE);

    host::SuiteRegistry::Instance().SetMissing(kPFANSISuite, 1);
    EXPECT_EQ(AEFX_AcquireSuite(In(), &m_out, kPFANSISuite, 1, nullptr, &suite), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(suite, nullptr);
    EXPECT_STREQ(m_out.return_msg, "Not able to acquire AEFX Suite.");
    EXPECT_EQ(AEFX_AcquireSuite(In(), &m_out, kPFANSISuite, 1, "custom", &suite), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_STREQ(m_out.return_msg, "custom");

    PF_InData noBasic = *In();
    noBasic.pica_basicP = nullptr;
    EXPECT_EQ(AEFX_ReleaseSuite(&noBasic, &m_out, kPFANSISuite, 1, nullptr), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_STREQ(m_out.return_msg, "Not able to release AEFX Suite.");

    // Without the host's sprintf the text is copied, still cut to the buffer.
    PF_InData noUtils = *In();
    noUtils.utils = nullptr;
    const std::string tooLong(300, 'x');
    EXPECT_EQ(AEFX_AcquireSuite(&noUtils, &m_out, kPFANSISuite, 1, tooLong.c_str(), &suite), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(std::string(m_out.return_msg), tooLong.substr(0, PF_MAX_EFFECT_MSG_LEN));
}

TEST_F(SuiteAccess, DrawbotSuitesAcquiredAndReleasedTogether) {
    DrawbotSuites suites{};
    ASSERT_EQ(AEFX_AcquireDrawbotSuites(In(), &m_out, &suites), PF_Err_NONE);
    EXPECT_NE(suites.drawSuite, nullptr);
    EXPECT_NE(suites.supplierSuite, nullptr);
    EXPECT_NE(suites.surfaceSuite, nullptr);
    EXPECT_NE(suites.pathSuite, nullptr);
    EXPECT_EQ(Held(kDRAWBOT_SurfaceSuite, 2), 1);
    EXPECT_EQ(AEFX_ReleaseDrawbotSuites(In(), &m_out), PF_Err_NONE);
}

TEST_F(SuiteAccess, DrawbotAcquisitionErrors) {
    EXPECT_EQ(AEFX_AcquireDrawbotSuites(In(), &m_out, nullptr), PF_Err_UNRECOGNIZED_PARAM_TYPE);
    EXPECT_TRUE(m_out.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE);
    EXPECT_STREQ(m_out.return_msg, "NULL suite pointer passed to AEFX_AcquireDrawbotSuites");

    // The third of four is missing: the first two are held and only they go back.
    host::SuiteRegistry::Instance().SetMissing(kDRAWBOT_SurfaceSuite, 2);
    std::memset(&m_out, 0, sizeof m_out);
    DrawbotSuites suites{};
    EXPECT_EQ(AEFX_AcquireDrawbotSuites(In(), &m_out, &suites), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_STREQ(m_out.return_msg, "Not able to acquire AEFX Suite.");
    EXPECT_NE(suites.drawSuite, nullptr);
    EXPECT_NE(suites.supplierSuite, nullptr);
    EXPECT_EQ(suites.surfaceSuite, nullptr);
    EXPECT_EQ(suites.pathSuite, nullptr);
    EXPECT_EQ(Acquired(kDRAWBOT_PathSuite, 1), 0) << "kept going after the first failure";
    EXPECT_EQ(AEFX_ReleaseDrawbotSuites(In(), &m_out, &suites), PF_Err_NONE);
    EXPECT_EQ(Held(kDRAWBOT_DrawSuite, 1), 0);
    EXPECT_EQ(Held(kDRAWBOT_SupplierSuite, 1), 0);

    // Without a basic suite nothing can go back; the user is told and the call still succeeds.
    PF_InData noBasic = *In();
    noBasic.pica_basicP = nullptr;
    std::memset(&m_out, 0, sizeof m_out);
    EXPECT_EQ(AEFX_ReleaseDrawbotSuites(&noBasic, &m_out), PF_Err_NONE);
    EXPECT_STREQ(m_out.return_msg, "Not able to release AEFX Suite.");
    EXPECT_TRUE(m_out.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE);
}

TEST_F(SuiteAccess, PathWrapperReleasesItsObjectExactlyOnce) {
    DrawbotSuites suites{};
    ASSERT_EQ(AEFX_AcquireDrawbotSuites(In(), &m_out, &suites), PF_Err_NONE);
    {
        DRAWBOT_PathP path(suites.supplierSuite, nullptr);
        EXPECT_NE(path.Get(), nullptr);
        EXPECT_EQ(suites.pathSuite->MoveTo(path, 1, 2), A_Err_NONE);
        EXPECT_EQ(host::DrawbotObjectsAlive(), 1u);
        path.ReleaseObject();
        path.ReleaseObject();
        EXPECT_EQ(host::DrawbotObjectsAlive(), 0u);
    }
    EXPECT_EQ(host::DrawbotMisuses(), 0) << "released twice";
    {
        DRAWBOT_PathP path(suites.supplierSuite, nullptr);
        EXPECT_EQ(host::DrawbotObjectsAlive(), 1u);
    }
    EXPECT_EQ(host::DrawbotObjectsAlive(), 0u);

    // A reference the host does not know: the release error surfaces as a DRAWBOT_Exception.
    SharedRefImpl<DRAWBOT_PathRef> bogus(suites.supplierSuite, reinterpret_cast<DRAWBOT_PathRef>(0x40));
    try {
        bogus.ReleaseObject();
        FAIL() << "no throw";
    } catch (const DRAWBOT_Exception& e) {
        EXPECT_EQ(e.Error(), A_Err_PARAMETER);
    }
    EXPECT_EQ(bogus.Get(), nullptr);
    AEFX_ReleaseDrawbotSuites(In(), &m_out, &suites);
}

TEST_F(SuiteAccess, DrawingReleasesEachObjectItMadeOnce) {
    DrawbotSuites suites{};
    ASSERT_EQ(AEFX_AcquireDrawbotSuites(In(), &m_out, &suites), PF_Err_NONE);
    const DRAWBOT_ColorRGBA white = {1, 1, 1, 1};
    {
        UF_Drawing drawing(suites.drawSuite, suites.supplierSuite);
        DRAWBOT_BrushRef brush = nullptr;
        DRAWBOT_PathRef path = nullptr, kept = nullptr;
        EXPECT_EQ(drawing.NewBrush(&white, &brush), A_Err_NONE);
        EXPECT_EQ(drawing.NewPath(&path), A_Err_NONE);
        EXPECT_EQ(drawing.NewPath(&kept), A_Err_NONE);
        EXPECT_NE(kept, nullptr);
        EXPECT_EQ(host::DrawbotObjectsAlive(), 3u);
        EXPECT_EQ(drawing.Release({path, brush}), A_Err_NONE);
        EXPECT_EQ(host::DrawbotObjectsAlive(), 1u) << "only the objects named go";
        EXPECT_EQ(drawing.Release({path}), A_Err_NONE);
        EXPECT_EQ(host::DrawbotMisuses(), 0) << "an object released twice";
    }
    EXPECT_EQ(host::DrawbotObjectsAlive(), 0u) << "what is left goes with the drawing";
    {
        UF_Drawing drawing(suites.drawSuite, suites.supplierSuite);
        DRAWBOT_PathRef path = nullptr;
        EXPECT_EQ(drawing.NewPath(&path), A_Err_NONE);
        EXPECT_EQ(drawing.Release(), A_Err_NONE);
        EXPECT_EQ(host::DrawbotObjectsAlive(), 0u);
    }
    EXPECT_EQ(host::DrawbotMisuses(), 0) << "released again when the drawing went";
    AEFX_ReleaseDrawbotSuites(In(), &m_out, &suites);
}

}  // namespace
