#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "HostFixture.h"
#include "OpenGL/OpenGL.h"
#include "OpenGL/gl3.h"
#include "cgl/CGLTesting.h"
#include "open_gl/Context.h"
#include "shell/DrawbotWrappers.h"
#include "shell/UF3.h"
#include "shell/UF3_Err.h"

namespace {

const GlobalData* LockGlobal(PF_Handle h) {
    return static_cast<const GlobalData*>(host::HandleTable::Instance().Lock(h));
}
void Unlock(PF_Handle h) { host::HandleTable::Instance().Unlock(h); }
// The editor's hover point as the sequence record holds it.
A_long LastMouseH(PF_Handle h) {
    A_long value = static_cast<SequenceData*>(host::HandleTable::Instance().Lock(h))->lastMouseH;
    Unlock(h);
    return value;
}

constexpr A_long kOutFlags2 = PF_OutFlag2_SUPPORTS_THREADED_RENDERING | PF_OutFlag2_I_MIX_GUID_DEPENDENCIES |
                              PF_OutFlag2_FLOAT_COLOR_AWARE | PF_OutFlag2_SUPPORTS_SMART_RENDER |
                              PF_OutFlag2_REVEALS_ZERO_ALPHA | PF_OutFlag2_PARAM_GROUP_START_COLLAPSED_FLAG;

using CommandTable = LoadedModule;

TEST_F(CommandTable, RegistrationRecordIsTheEffectsIdentity) {
    const auto& reg = H().GetRegistration();
    EXPECT_EQ(reg.calls, 1);
    EXPECT_EQ(H().RegistrationResult(), PF_Err_NONE);
    EXPECT_EQ(reg.name, "Umbrafex 3");
    EXPECT_EQ(reg.match_name, "UMBX3");
    EXPECT_EQ(reg.category, "Nimbral");
    EXPECT_EQ(reg.entry_point, "EffectMain");
    EXPECT_EQ(reg.kind, 0x65464B54);  // 'eFKT' read big-endian
    EXPECT_EQ(reg.api_major, 13);
    EXPECT_EQ(reg.api_minor, 28);
    EXPECT_EQ(reg.reserved_info, 8);
    EXPECT_NE(reg.support_url.find(".example"), std::string::npos) << reg.support_url;
}

TEST_F(CommandTable, GlobalSetupDeclaresVersionFlagsAndDriverStrings) {
    ASSERT_EQ(H().GlobalSetup(), PF_Err_NONE);
    EXPECT_EQ(H().Out().my_version, 0x84001u);
    EXPECT_EQ(H().Out().out_flags,
              PF_OutFlag_SEND_UPDATE_PARAMS_UI | PF_OutFlag_CUSTOM_UI | PF_OutFlag_USE_OUTPUT_EXTENT);
    EXPECT_EQ(H().Out().out_flags2, kOutFlags2);
    ExpectBooksBalanced();

    PF_Handle globalH = H().GlobalData();
    ASSERT_NE(globalH, nullptr);
    EXPECT_EQ(host::HandleTable::Instance().Size(globalH), sizeof(GlobalData));
    const GlobalData* global = LockGlobal(globalH);
    ASSERT_NE(global, nullptr);
    EXPECT_NE(global->context, nullptr);
    // The strings come from a real context: a core profile of 3.3 or later.
    int major = 0, minor = 0;
    ASSERT_EQ(std::sscanf(global->glVersion, "%d.%d", &major, &minor), 2) << global->glVersion;
    EXPECT_GE(major * 10 + minor, 33) << global->glVersion;
    for (const char* s : {global->glVendor, global->glRenderer, global->glShadingLanguageVersion}) EXPECT_STRNE(s, "");
    if (std::string(UmbrafexCGL_PlatformName()) != "device") {
        EXPECT_NE(std::string(global->glRenderer).find("llvmpipe"), std::string::npos) << global->glRenderer;
    }
    // The debug record starts zeroed.
    const auto* debug = reinterpret_cast<const unsigned char*>(&global->resultRect);
    const size_t debugBytes = sizeof(GlobalData) - offsetof(GlobalData, resultRect);
    EXPECT_TRUE(std::all_of(debug, debug + debugBytes, [](unsigned char b) { return b == 0; }));
    Unlock(globalH);

    const int contexts = UmbrafexCGL_LiveContexts();
    ASSERT_EQ(H().GlobalSetdown(), PF_Err_NONE);
    EXPECT_EQ(H().GlobalData(), nullptr);
    EXPECT_EQ(UmbrafexCGL_LiveContexts(), contexts - 1) << "the global context was not destroyed";
}

TEST_F(CommandTable, GlobalSetupGivesBackTheHostsCurrentContext) {
    std::string error;
    CGLContextObj mine = CreateContext(nullptr, nullptr, error);
    ASSERT_NE(mine, nullptr) << error;
    ASSERT_EQ(SetCurrentContext(mine, false), "");
    ASSERT_EQ(H().GlobalSetup(), PF_Err_NONE);
    EXPECT_EQ(CGLGetCurrentContext(), mine);
    EXPECT_NE(glGetString(GL_VERSION), nullptr) << "the host's context is no longer usable";
    // Setdown leaves the thread with no context at all.
    ASSERT_EQ(H().GlobalSetdown(), PF_Err_NONE);
    EXPECT_EQ(CGLGetCurrentContext(), nullptr);
    DeleteContext(mine, error);
}

// Without a context, a handle or a lockable handle, global setup still succeeds;
// without the basic or the handle suite it ends with 516.
TEST_F(CommandTable, GlobalSetupFailures) {
    const int contexts = UmbrafexCGL_LiveContexts();
    UmbrafexCGL_FailNextCreateContext(kCGLBadAlloc);
    ASSERT_EQ(H().GlobalSetup(), PF_Err_NONE);
    UmbrafexCGL_ResetFailures();
    const GlobalData* global = LockGlobal(H().GlobalData());
    ASSERT_NE(global, nullptr);
    EXPECT_EQ(global->context, nullptr);
    for (const char* s : {global->glVersion, global->glVendor, global->glRenderer, global->glShadingLanguageVersion})
        EXPECT_STREQ(s, "");
    Unlock(H().GlobalData());
    EXPECT_EQ(H().GlobalSetdown(), PF_Err_NONE);
    EXPECT_EQ(UmbrafexCGL_LiveContexts(), contexts);

    // No handle: no global data.
    auto& handles = host::HandleTable::Instance();
    handles.FailAllocation(1);
    EXPECT_EQ(H().GlobalSetup(), PF_Err_NONE);
    EXPECT_EQ(H().GlobalData(), nullptr);
    ExpectBooksBalanced();
    // A handle that does not lock is still handed over, and nothing is left locked.
    handles.FailLock(1);
    EXPECT_EQ(H().GlobalSetup(), PF_Err_NONE);
    EXPECT_NE(H().GlobalData(), nullptr);
    ExpectBooksBalanced();
    EXPECT_EQ(H().GlobalSetdown(), PF_Err_NONE);
    EXPECT_EQ(handles.Alive(), 0u);

    EXPECT_EQ(H().Send(PF_Cmd_GLOBAL_SETUP, nullptr, [](PF_InData& in, PF_OutData&) { in.pica_basicP = nullptr; }),
              PF_Err_BAD_CALLBACK_PARAM);
    H().In().pica_basicP = host::SuiteRegistry::Instance().Basic();
    host::SuiteRegistry::Instance().SetMissing(kPFHandleSuite, kPFHandleSuiteVersion1);
    EXPECT_EQ(H().GlobalSetup(), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(H().GlobalData(), nullptr);
    ExpectBooksBalanced();
}

// Set-down frees the record and the context set-up made whatever the host refuses on the
// way, and the refusal is its result: the record's lock refused, the handle suite or the
// basic suite missing (the utility callbacks still reach the handle).
TEST_F(CommandTable, GlobalSetdownFreesAllAndReportsARefusal) {
    auto& handles = host::HandleTable::Instance();
    auto& registry = host::SuiteRegistry::Instance();
    const int contexts = UmbrafexCGL_LiveContexts();
    struct Case {
        const char* what;
        std::function<PF_Err()> setdown;
        PF_Err expected;
    };
    const Case cases[] = {
        {"lock refused", [&] { handles.FailLock(1); return H().GlobalSetdown(); }, PF_Err_OUT_OF_MEMORY},
        {"handle suite missing", [&] { registry.FailAcquisition(1); return H().GlobalSetdown(); },
         PF_Err_BAD_CALLBACK_PARAM},
        {"handle suite null", [&] { registry.FailAcquisition(1, true); return H().GlobalSetdown(); },
         PF_Err_BAD_CALLBACK_PARAM},
        {"no basic suite", [&] {
             return H().Send(PF_Cmd_GLOBAL_SETDOWN, nullptr, [](PF_InData& in, PF_OutData&) { in.pica_basicP = nullptr; });
         }, PF_Err_BAD_CALLBACK_PARAM},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(H().GlobalSetup(), PF_Err_NONE);
        ASSERT_EQ(UmbrafexCGL_LiveContexts(), contexts + 1);
        const PF_Handle globalH = H().GlobalData();
        EXPECT_EQ(c.setdown(), c.expected);
        H().In().pica_basicP = registry.Basic();
        handles.ClearFaults();
        registry.ClearFaults();
        EXPECT_FALSE(handles.IsAlive(globalH)) << "the global record left with the host";
        EXPECT_EQ(UmbrafexCGL_LiveContexts(), contexts) << "the global context left alive";
        EXPECT_EQ(CGLGetCurrentContext(), nullptr);
        ExpectBooksBalanced();
    }
    // A record set-up could not lock holds no context; set-down still gives the handle back.
    handles.FailLock(1);
    ASSERT_EQ(H().GlobalSetup(), PF_Err_NONE);
    const PF_Handle unread = H().GlobalData();
    handles.FailLock(1);
    EXPECT_EQ(H().GlobalSetdown(), PF_Err_OUT_OF_MEMORY);
    EXPECT_FALSE(handles.IsAlive(unread));
    EXPECT_EQ(UmbrafexCGL_LiveContexts(), contexts);
    ExpectBooksBalanced();
}

TEST_F(CommandTable, PremiereGetsObsoleteFlagsButStillGlobalData) {
    Start({.appl_id = PF_APPL_ID('P', 'r', 'M', 'r')});
    std::memset(H().Out().return_msg, 0, sizeof(H().Out().return_msg));
    ASSERT_EQ(H().About(), PF_Err_NONE);
    EXPECT_STREQ(H().Out().return_msg, "");
    ASSERT_EQ(H().GlobalSetup(), PF_Err_NONE);
    EXPECT_EQ(H().Out().out_flags, PF_OutFlag_I_AM_OBSOLETE);
    EXPECT_EQ(H().Out().out_flags2, kOutFlags2);
    EXPECT_NE(H().GlobalData(), nullptr);
}

TEST_F(CommandTable, AboutTextNamesVersionAndDescription) {
    ASSERT_EQ(H().About(), PF_Err_NONE);
    const std::string text = H().Out().return_msg;
    EXPECT_EQ(text.rfind("Umbrafex 3 v1.0.8\nCast shadows & light in a variety of styles.\n\n", 0), 0u) << text;
    EXPECT_TRUE(text.ends_with('\n')) << text;
    EXPECT_LE(text.size(), 255u);
    EXPECT_EQ(text, AboutText().substr(0, 255));
    ExpectBooksBalanced();
    EXPECT_EQ(H().Send(PF_Cmd_ABOUT, nullptr, [](PF_InData& in, PF_OutData&) { in.pica_basicP = nullptr; }),
              PF_Err_BAD_CALLBACK_PARAM);
}

TEST_F(CommandTable, CommandsWithoutAnActionChangeNothing) {
    ASSERT_EQ(H().GlobalSetup(), PF_Err_NONE);
    ASSERT_EQ(H().SequenceSetup(), PF_Err_NONE);
    for (PF_Cmd cmd : std::vector<PF_Cmd>{PF_Cmd_UNUSED_0, PF_Cmd_DO_DIALOG, PF_Cmd_FRAME_SETUP, PF_Cmd_RENDER,
                                          PF_Cmd_FRAME_SETDOWN, 16, 17, 18, 19, 20, 21, 25, 26, 1000, -1}) {
        PF_OutData before{};
        const long allocations = host::HandleTable::Instance().Allocations();
        PF_Err err = H().Send(cmd, nullptr, [&](PF_InData&, PF_OutData& out) {
            std::memset(out.return_msg, 'x', sizeof(out.return_msg));
            out.out_flags = 0x5a5a;
            before = out;
        });
        EXPECT_EQ(err, PF_Err_NONE) << "command " << cmd;
        EXPECT_EQ(std::memcmp(&before, &H().Out(), sizeof(PF_OutData)), 0) << "command " << cmd << " wrote output";
        EXPECT_EQ(host::HandleTable::Instance().Allocations(), allocations) << "command " << cmd;
        ExpectBooksBalanced();
    }
    // Every numbered command answers, the routed ones included; the smart render
    // and event commands refuse to run without their extra records.
    for (PF_Cmd cmd = 0; cmd <= 25; ++cmd) {
        if (cmd == PF_Cmd_GLOBAL_SETDOWN || cmd == PF_Cmd_SEQUENCE_SETDOWN || cmd == PF_Cmd_GLOBAL_SETUP ||
            cmd == PF_Cmd_SEQUENCE_SETUP || cmd == PF_Cmd_SEQUENCE_RESETUP)
            continue;
        const bool needsExtra = cmd == PF_Cmd_SMART_PRE_RENDER || cmd == PF_Cmd_SMART_RENDER || cmd == PF_Cmd_EVENT;
        EXPECT_EQ(H().Send(cmd), needsExtra ? PF_Err_BAD_CALLBACK_PARAM : PF_Err_NONE) << "command " << cmd;
        ExpectBooksBalanced();
    }
    // So do the smart commands when their extra record lacks any one of its parts.
    PF_SmartRenderInput renderInput{};
    PF_SmartRenderCallbacks renderCbs{};
    for (PF_SmartRenderExtra x : {PF_SmartRenderExtra{&renderInput, nullptr}, PF_SmartRenderExtra{nullptr, &renderCbs}})
        EXPECT_EQ(H().Send(PF_Cmd_SMART_RENDER, &x), PF_Err_BAD_CALLBACK_PARAM);
    PF_PreRenderInput preInput{};
    PF_PreRenderOutput preOutput{};
    PF_PreRenderCallbacks preCbs{};
    for (PF_PreRenderExtra x : {PF_PreRenderExtra{nullptr, &preOutput, &preCbs}, PF_PreRenderExtra{&preInput, nullptr, &preCbs},
                                PF_PreRenderExtra{&preInput, &preOutput, nullptr}})
        EXPECT_EQ(H().Send(PF_Cmd_SMART_PRE_RENDER, &x), PF_Err_BAD_CALLBACK_PARAM);
    ExpectBooksBalanced();
}

TEST_F(CommandTable, ArbitraryCallbackIgnoresNullExtraAndForeignIds) {
    const long allocations = host::HandleTable::Instance().Allocations();
    EXPECT_EQ(H().Send(PF_Cmd_ARBITRARY_CALLBACK, nullptr), PF_Err_NONE);
    PF_ArbParamsExtra extra{};
    extra.id = 12;
    extra.which_function = PF_Arbitrary_NEW_FUNC;
    PF_ArbitraryH slot = nullptr;
    extra.u.new_func_params.arbPH = &slot;
    EXPECT_EQ(H().Send(PF_Cmd_ARBITRARY_CALLBACK, &extra), PF_Err_NONE);
    EXPECT_EQ(slot, nullptr);
    EXPECT_EQ(host::HandleTable::Instance().Allocations(), allocations);
    ExpectBooksBalanced();
}

TEST_F(CommandTable, SequenceDataLifecycle) {
    // Flatten and setdown without sequence data leave the output alone.
    auto sentinel = reinterpret_cast<PF_Handle>(0x1234);
    for (PF_Cmd cmd : {PF_Cmd_SEQUENCE_FLATTEN, PF_Cmd_SEQUENCE_SETDOWN}) {
        auto prepare = [&](PF_InData& in, PF_OutData& out) {
            in.sequence_data = nullptr;
            out.sequence_data = sentinel;
        };
        ASSERT_EQ(H().Send(cmd, nullptr, prepare), PF_Err_NONE);
        EXPECT_EQ(H().Out().sequence_data, sentinel) << "command " << cmd;
    }
    ExpectBooksBalanced();

    ASSERT_EQ(H().SequenceSetup(), PF_Err_NONE);
    PF_Handle first = H().SequenceData();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(host::HandleTable::Instance().Size(first), 8u);
    auto* seq = static_cast<SequenceData*>(host::HandleTable::Instance().Lock(first));
    EXPECT_TRUE(seq->lastMouseH == 0 && seq->lastMouseV == 0);
    seq->lastMouseH = 17;
    Unlock(first);

    // Flatten hands back the very same handle, bytes untouched.
    ASSERT_EQ(H().SequenceFlatten(), PF_Err_NONE);
    EXPECT_EQ(H().Out().sequence_data, first);
    EXPECT_EQ(LastMouseH(first), 17);

    // Re-setup makes a fresh zeroed record and does not read the old one.
    ASSERT_EQ(H().SequenceResetup(), PF_Err_NONE);
    PF_Handle second = H().SequenceData();
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, first);
    EXPECT_EQ(LastMouseH(second), 0);

    ASSERT_EQ(H().SequenceSetdown(), PF_Err_NONE);
    EXPECT_FALSE(host::HandleTable::Instance().IsAlive(second));
    EXPECT_EQ(H().Out().sequence_data, nullptr);
    EXPECT_EQ(H().In().sequence_data, nullptr);
    ExpectBooksBalanced();
}

TEST_F(CommandTable, SequenceSetupFailures) {
    // No handle: out of memory, nothing stored.
    host::HandleTable::Instance().FailAllocation(1);
    EXPECT_EQ(H().SequenceSetup(), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(H().SequenceData(), nullptr);
    // A handle that will not lock is not stored, and not leaked either.
    host::HandleTable::Instance().FailLock(1);
    EXPECT_EQ(H().SequenceSetup(), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(H().SequenceData(), nullptr);
    EXPECT_EQ(host::HandleTable::Instance().Alive(), 0u);
    ExpectBooksBalanced();
    // No handle suite: the scoped acquisition reports to the user and ends the command with 13.
    host::SuiteRegistry::Instance().SetMissing(kPFHandleSuite, kPFHandleSuiteVersion1);
    EXPECT_EQ(H().SequenceSetup(), 13);
    EXPECT_TRUE(H().Out().out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE);
    EXPECT_STREQ(H().Out().return_msg, "Not able to acquire AEFX Suite.");
    EXPECT_EQ(H().SequenceData(), nullptr);
    ExpectBooksBalanced();
}

TEST_F(CommandTable, MissingRecordsAreRejected) {
    void* module = dlopen(UMBRAFEX_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr);
    auto main = reinterpret_cast<host::EffectMainFn>(dlsym(module, "EffectMain"));
    ASSERT_NE(main, nullptr);
    PF_OutData out{};
    EXPECT_EQ(main(PF_Cmd_GLOBAL_SETUP, nullptr, &out, nullptr, nullptr, nullptr), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(main(PF_Cmd_ABOUT, &H().In(), nullptr, nullptr, nullptr, nullptr), PF_Err_BAD_CALLBACK_PARAM);
    dlclose(module);
}

TEST(CommandBoundary, TurnsEveryThrownValueIntoAnErrorCode) {
    namespace fs = std::filesystem;
    const std::pair<std::function<PF_Err()>, PF_Err> cases[] = {
        {[] { return PF_Err_NONE; }, PF_Err_NONE},
        {[]() -> PF_Err { throw A_long(516); }, 516},
        {[]() -> PF_Err { throw A_long(13); }, 13},
        {[]() -> PF_Err { throw A_long(PF_Interrupt_CANCEL); }, PF_Interrupt_CANCEL},
        {[]() -> PF_Err { throw UF_Err(PF_Err_OUT_OF_MEMORY, "no memory"); }, PF_Err_INTERNAL_STRUCT_DAMAGED},
        {[]() -> PF_Err { throw std::string("text"); }, PF_Err_INTERNAL_STRUCT_DAMAGED},
        {[]() -> PF_Err { throw DRAWBOT_Exception(3); }, PF_Err_INTERNAL_STRUCT_DAMAGED},
        {[]() -> PF_Err { throw fs::filesystem_error("blocked", std::make_error_code(std::errc::not_a_directory)); },
         PF_Err_INTERNAL_STRUCT_DAMAGED},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(CommandBoundary(cases[i].first), cases[i].second) << "case " << i;

    // A log folder blocked by a file makes the log throw: an error code, not a crash.
    const fs::path home = fs::temp_directory_path() / ("umbrafex-blocked-" + std::to_string(::getpid()));
    fs::create_directories(home);
    std::ofstream(home / "Library") << "a file where the log folder should go";
    const char* saved = std::getenv("HOME");
    const std::string savedHome = saved ? saved : "";
    ::setenv("HOME", home.c_str(), 1);
    PF_Err err = CommandBoundary([]() -> PF_Err { return LogError("render failed", nullptr).empty() ? 0 : 1; });
    saved ? ::setenv("HOME", savedHome.c_str(), 1) : ::unsetenv("HOME");
    fs::remove_all(home);
    EXPECT_EQ(err, PF_Err_INTERNAL_STRUCT_DAMAGED);
}

TEST(ErrorDelegate, MapsKindAndCode) {
    const std::pair<UF_Err, PF_Err> cases[] = {
        {UF_Err(PF_Err_OUT_OF_MEMORY, "x", UF_Err::kThrown), PF_Err_NONE},
        {UF_Err(PF_Err_OUT_OF_MEMORY, "x", UF_Err::kCaughtUF), PF_Err_OUT_OF_MEMORY},
        {UF_Err(PF_Err_OUT_OF_MEMORY, "x", UF_Err::kCaughtText), PF_Err_NONE},
        {UF_Err(PF_Interrupt_CANCEL, "", UF_Err::kCaughtInteger), PF_Err_NONE},
        {UF_Err(516, "", UF_Err::kCaughtInteger), 516},
        {UF_Err(516, "", 4), PF_Err_INVALID_CALLBACK},
        {UF_Err(516, "", -1), PF_Err_INVALID_CALLBACK},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(ErrorDelegate(cases[i].first), cases[i].second) << "case " << i;
    // By value: the caller's record is untouched.
    UF_Err err(7, "kept", UF_Err::kCaughtUF);
    ErrorDelegate(err);
    EXPECT_EQ(err.code, 7);
    EXPECT_EQ(err.message, "kept");
}

TEST(DescriptionStrings, LongDriverStringsAreCutTo99Characters) {
    char field[UF3_GL_STRING_SIZE];
    std::memset(field, 'z', sizeof field);
    const std::string longName(150, 'r');
    CopyDescriptionString(field, longName.c_str());
    EXPECT_EQ(std::string(field), longName.substr(0, 99));
    CopyDescriptionString(field, nullptr);
    EXPECT_STREQ(field, "");
    CopyDescriptionString(field, "4.5 (Core Profile) Mesa");
    EXPECT_STREQ(field, "4.5 (Core Profile) Mesa");
}

}  // namespace
