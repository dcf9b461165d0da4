// User changes as the host sends them (user-changed-parameter, then
// update-parameters-UI): resets, the light-size sync, gradient edits, twirls,
// and the log and web buttons, each checked in the host's records.
#include <gtest/gtest.h>

#include <tuple>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "GradientStops.h"
#include "PanelFixture.h"
#include "params/GradientData.h"
#include "params/UF3_ParamChanges.h"

namespace fs = std::filesystem;

namespace {

// Moves a value away from its declared default; false for a parameter with no value to move.
bool Scramble(PF_ParamDef& v) {
    auto& u = v.u;
    switch (v.param_type) {
        case PF_Param_FLOAT_SLIDER:
            u.fs_d.value = u.fs_d.dephault == u.fs_d.valid_max ? u.fs_d.valid_min : u.fs_d.valid_max;
            return true;
        case PF_Param_POPUP: u.pd.value = u.pd.dephault == 1 ? 2 : 1; return u.pd.num_choices > 1;
        case PF_Param_CHECKBOX: u.bd.value = !u.bd.dephault; return true;
        case PF_Param_ANGLE: u.ad.value = u.ad.dephault + (10 << 16); return true;
        case PF_Param_COLOR: u.cd.value = {255, 10, 20, 30}; return true;
        case PF_Param_POINT: u.td.x_value = 5 << 16, u.td.y_value = 7 << 16; return true;
        default: return false;
    }
}

bool AtDefault(const PF_ParamDef& v) {
    const auto& u = v.u;
    switch (v.param_type) {
        case PF_Param_FLOAT_SLIDER: return u.fs_d.value == double(u.fs_d.dephault);
        case PF_Param_POPUP: return u.pd.value == u.pd.dephault;
        case PF_Param_CHECKBOX: return u.bd.value == u.bd.dephault;
        case PF_Param_ANGLE: return u.ad.value == u.ad.dephault;
        case PF_Param_COLOR:  // reset writes Color as all zero, transparent black
            return !u.cd.value.alpha && !u.cd.value.red && !u.cd.value.green && !u.cd.value.blue;
        case PF_Param_POINT: return u.td.x_value == u.td.x_dephault && u.td.y_value == u.td.y_dephault;
        default: return true;
    }
}

std::vector<int> Range(int first, int last, std::vector<int> prefix = {}) {
    for (int i = first; i <= last; ++i)
        if (i < 41 || i > 43) prefix.push_back(i);
    return prefix;
}

class ParamChanges : public PanelFixture {
protected:
    void SetUp() override {
        m_oldHome = getenv("HOME") ? getenv("HOME") : "";
        m_oldPath = getenv("PATH") ? getenv("PATH") : "";
        char tmpl[] = "/tmp/uf3 changes XXXXXX";  // a blank, so quoting shows
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
        fs::create_directories(Home());
        fs::create_directories(m_dir / "bin");
        setenv("HOME", Home().c_str(), 1);
        // Text the shell would run, run from here, were a path handed to it unquoted.
        m_oldCwd = fs::current_path();
        fs::current_path(m_dir);
        StartPanel({});
        // After the host put its own `open` on PATH: ours records instead.
        std::ofstream(m_dir / "bin" / "open")
            << "#!/bin/sh\n{ printf open; for a in \"$@\"; do printf ' [%s]' \"$a\"; done; echo; } >> \""
            << (m_dir / "record").string() << "\"\n";
        fs::permissions(m_dir / "bin" / "open", fs::perms::owner_all);
        setenv("PATH", ((m_dir / "bin").string() + ":" + getenv("PATH")).c_str(), 1);
        ASSERT_EQ(H().Send(PF_Cmd_UPDATE_PARAMS_UI), PF_Err_NONE);
        host::UndoJournal::Instance().Reset();
    }
    void TearDown() override {
        PanelFixture::TearDown();
        EXPECT_FALSE(fs::exists(m_dir / "ran") || fs::exists(m_dir / "ran too")) << "a shell ran text from HOME";
        fs::current_path(m_oldCwd);
        setenv("PATH", m_oldPath.c_str(), 1);
        m_oldHome.empty() ? unsetenv("HOME") : setenv("HOME", m_oldHome.c_str(), 1);
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }

    std::string Opened() {
        std::stringstream text;
        text << std::ifstream(m_dir / "record").rdbuf();
        fs::remove(m_dir / "record");
        return text.str();
    }
    // Every kind of shell quote and substitution in one folder name.
    fs::path Home() { return m_dir / "home $(touch ran) `touch 'ran too'` \"d\" 'it''s'"; }
    std::string LogFolder() { return (Home() / "Library/Logs/Nimbral").string(); }
    std::string LogFile() { return LogFolder() + "/umbrafex_3_error_log.txt"; }

    void SetGradient(std::vector<ArbGradientPt> stops) {
        PF_Handle h = nullptr;
        Set_Arb_Gradient(host::HandleTable::Instance().Suite(), &h, unsigned(stops.size()), stops.data());
        H().SetArbitraryValue(UF3_COLOR_GRADIENT, h);
        host::HandleTable::Instance().Dispose(h);
    }
    std::vector<ArbGradientPt> Gradient() {
        return StopsOf(host::HandleTable::Instance().Suite(),
                                           H().Param(UF3_COLOR_GRADIENT).u.arb_d.value);
    }
    double Value(int i) { return H().Param(i).u.fs_d.value; }

    void ExpectOneStep(const std::string& name, const std::vector<int>& changes) {
        const host::UserAction& a = Action();
        ASSERT_EQ(a.groups.size(), 1u) << "undo steps of parameter " << a.index;
        EXPECT_EQ(a.groups[0].name, name);
        EXPECT_EQ(a.groups[0].changes, changes);
        EXPECT_TRUE(a.groups[0].closed);
        EXPECT_TRUE(a.ungrouped.empty());
    }

    fs::path m_dir;
    std::string m_oldHome, m_oldPath;
    fs::path m_oldCwd;
};

TEST_F(ParamChanges, EachResetRestoresItsRangeInOneUndoStep) {
    struct Reset { int button, first, last; };
    const std::vector<ArbGradientPt> twoStops = {{0.2, {1, 1, 1, 1}}, {0.7, {1, 0, 0, 0}}};
    for (const Reset r : {Reset{32, 19, 30}, {49, 35, 46}, {64, 52, 62}, {77, 68, 76}, {83, 80, 83}, {92, 86, 105},
                          {48, 0, -1}}) {
        std::vector<bool> scrambled(UF3_NUM_PARAMS);
        for (int i = 19; i <= 105; ++i) scrambled[size_t(i)] = i < 41 || i > 43 ? Scramble(H().Param(i)) : false;
        SetGradient(twoStops);
        H().Param(UF3_GRADIENT_PT_SELECT).u.sd.value = 1;
        H().Param(UF3_POINT_LOCATION).u.fd.value = 70 << 16;

        ASSERT_EQ(H().UserChange(r.button), PF_Err_NONE) << r.button;
        // Reset Gradient, and Reset Color first, reset the gradient and its companions.
        const bool color = r.button == UF3_RESET_COLOR || r.button == UF3_RESET_GRADIENT;
        const std::vector<int> changes =
            Range(r.first, r.last, color ? std::vector<int>{41, 42, 43, 99, 46, 47, 44} : std::vector<int>{});
        ExpectOneStep(r.button == UF3_RESET_GRADIENT ? "Reset Color" : "Reset Umbrafex 3 Controls", changes);
        for (int i = 19; i <= 105; ++i) {
            if (!scrambled[size_t(i)]) continue;
            const bool reset = std::find(changes.begin(), changes.end(), i) != changes.end();
            EXPECT_EQ(AtDefault(H().Param(i)), reset) << "parameter " << i << " after button " << r.button;
        }
        // The other buttons leave the gradient and its selection alone.
        const std::vector<ArbGradientPt> stops = Gradient();
        ASSERT_EQ(stops.size(), color ? 3u : 2u) << r.button;
        for (size_t i = 0; color && i < 3; ++i) {
            EXPECT_EQ(stops[i].position, defaultGrad[i].position);
            EXPECT_EQ(std::memcmp(&stops[i].color, &defaultGrad[i].color, sizeof(PF_PixelFloat)), 0) << i;
        }
        EXPECT_EQ(H().Param(UF3_GRADIENT_PT_SELECT).u.sd.value, color ? -1 : 1) << r.button;
        EXPECT_EQ(H().Param(UF3_POINT_LOCATION).u.fd.value, color ? 0 : 70 << 16) << r.button;
    }

    // Over the ranges, the reset table holds the declared defaults, also of a parameter no
    // button resets (31).
    for (int i = 19; i <= 105; ++i) {
        const PF_ParamDef& d = H().ParamDefs()[size_t(i)];
        double declared = 0;  // colour written black, points at 0, 0; groups and buttons none
        switch (d.param_type) {
            case PF_Param_FLOAT_SLIDER: declared = d.u.fs_d.dephault; break;
            case PF_Param_POPUP: declared = i >= 95 && i <= 101 ? 0 : d.u.pd.dephault; break;
            case PF_Param_CHECKBOX: declared = d.u.bd.dephault; break;
            case PF_Param_ANGLE: declared = d.u.ad.dephault / 65536.0; break;
            case PF_Param_FIX_SLIDER: declared = d.u.fd.dephault / 65536.0; break;
            case PF_Param_SLIDER: declared = d.u.sd.dephault; break;
            case PF_Param_LAYER: declared = -1; break;  // no layer
            default: break;
        }
        EXPECT_EQ(DefaultStreamValues()[size_t(i)].val.one_d, declared) << "parameter " << i;
    }
}

TEST_F(ParamChanges, ResetStopsAtAnAnimatedParameterAndStillClosesItsGroup) {
    for (int i = 19; i <= 30; ++i) Scramble(H().Param(i));
    H().SetKeyframe(UF3_LIGHT_SOFTNESS, 0.0, H().Param(UF3_LIGHT_SOFTNESS));
    EXPECT_EQ(H().UserChange(UF3_RESET_STYLE), A_Err_PARAMETER) << "the host refuses a plain value on keyframes";
    ExpectOneStep("Reset Umbrafex 3 Controls", {19, 20, 21, 22, 23});
    for (int i = 19; i <= 30; ++i) EXPECT_EQ(AtDefault(H().Param(i)), i < 24) << "parameter " << i;
    EXPECT_EQ(H().KeyframeCount(UF3_LIGHT_SOFTNESS), 1u);
}

TEST_F(ParamChanges, LightSizesFollowEachOtherOnBothRenderers) {
    struct Row { int renderer, changed; double typed, radiusStd, softness, radiusRt; };
    const Row rows[] = {
        {2, 24, 30, 300, 30, 300},
        {2, 25, 150, 150, 15, 150},
        {2, 23, 80, 200, 20, 200},       // on Raytraced the Raytraced radius leads
        {2, 25, 3000, 2000, 100, 3000},  // the host clamps to each target's valid range
        {1, 23, 80, 80, 8, 80},
        {1, 23, 33.3, 33.3, double(float(0.1 * 33.3)), double(float(33.3))},  // Standard: single precision
        {1, 24, 30, 250, 25, 250},
    };
    for (const Row& r : rows) {
        H().Param(UF3_LIGHT_RADIUS_STD).u.fs_d.value = 250;
        H().Param(UF3_LIGHT_SOFTNESS).u.fs_d.value = 20;
        H().Param(UF3_LIGHT_RADIUS_RT).u.fs_d.value = 200;
        H().Param(UF3_RENDERER).u.pd.value = r.renderer;
        H().Param(r.changed).u.fs_d.value = r.typed;
        ASSERT_EQ(H().UserChange(r.changed), PF_Err_NONE);
        const std::string row = "renderer " + std::to_string(r.renderer) + ", " + std::to_string(r.changed) +
                                " := " + std::to_string(r.typed);
        EXPECT_DOUBLE_EQ(Value(UF3_LIGHT_RADIUS_STD), r.radiusStd) << row;
        EXPECT_DOUBLE_EQ(Value(UF3_LIGHT_SOFTNESS), r.softness) << row;
        EXPECT_DOUBLE_EQ(Value(UF3_LIGHT_RADIUS_RT), r.radiusRt) << row;
        std::vector<int> targets = r.renderer == 1 ? std::vector<int>{24, 25}
                                   : r.changed == 24 ? std::vector<int>{25, 23}
                                                     : std::vector<int>{24, 23};
        ExpectOneStep("", targets);
    }
    // On Raytraced, a keyframed target keeps its keyframes and value.
    H().Param(UF3_RENDERER).u.pd.value = 2;
    PF_ParamDef key = H().Param(UF3_LIGHT_RADIUS_STD);
    for (double t : {0.0, 1.0}) key.u.fs_d.value = 100 + t, H().SetKeyframe(UF3_LIGHT_RADIUS_STD, t, key);
    H().Param(UF3_LIGHT_SOFTNESS).u.fs_d.value = 30;
    ASSERT_EQ(H().UserChange(UF3_LIGHT_SOFTNESS), PF_Err_NONE);
    EXPECT_EQ(Value(UF3_LIGHT_RADIUS_RT), 300);
    EXPECT_EQ(Value(UF3_LIGHT_RADIUS_STD), 250) << "a keyframed target keeps its value";
    EXPECT_EQ(H().KeyframeCount(UF3_LIGHT_RADIUS_STD), 2u);
    ExpectOneStep("", {UF3_LIGHT_RADIUS_RT});

    // The targets are got and read through version 7 of the stream suite, set and disposed
    // through 9; the keyframed one is read and left alone.
    const host::StreamSuiteCalls before = host::StreamCallsByVersion();
    PF_UserChangedParamExtra changed{UF3_LIGHT_SOFTNESS};
    ASSERT_EQ(H().Send(PF_Cmd_USER_CHANGED_PARAM, &changed), PF_Err_NONE);
    const host::StreamSuiteCalls after = host::StreamCallsByVersion();
    using C = host::StreamSuiteCalls;
    for (auto [v7, v9, through7, through9] : {std::tuple{&C::gets7, &C::gets9, 2, 0}, {&C::varies7, &C::varies9, 2, 0},
                                              {&C::sets7, &C::sets9, 0, 1}, {&C::disposes7, &C::disposes9, 0, 2}}) {
        EXPECT_EQ(after.*v7 - before.*v7, through7);
        EXPECT_EQ(after.*v9 - before.*v9, through9);
    }
    host::SuiteRegistry::Instance().SetMissing(kAEGPStreamSuite, kAEGPStreamSuiteVersion9);
    EXPECT_NE(H().Send(PF_Cmd_USER_CHANGED_PARAM, &changed), PF_Err_NONE);
    host::SuiteRegistry::Instance().ClearFaults();
    EXPECT_EQ(host::StreamsOutstanding().streams, 0) << "a stream left behind by the missing suite";
}

TEST_F(ParamChanges, PointLocationMovesOnlyASelectedStop) {
    for (int selected : {1, 0, -1, 3}) {
        SetGradient({{0.0, {1, 1, 0, 0}}, {0.3, {1, 0, 1, 0}}, {1.0, {1, 0, 0, 1}}});
        H().Param(UF3_GRADIENT_PT_SELECT).u.sd.value = selected;
        H().Param(UF3_POINT_LOCATION).u.fd.value = 50 << 16;
        ASSERT_EQ(H().UserChange(UF3_POINT_LOCATION), PF_Err_NONE);
        const std::vector<ArbGradientPt> stops = Gradient();
        ASSERT_EQ(stops.size(), 3u);
        const double was[] = {0.0, 0.3, 1.0};
        for (int i = 0; i < 3; ++i) EXPECT_EQ(stops[i].position, i == selected ? 0.5 : was[i]) << selected << " " << i;
        if (selected == 0 || selected == 1) {
            ExpectOneStep("Set Gradient Position", {});
            EXPECT_EQ(Action().arrayChanges, std::vector<int>{UF3_COLOR_GRADIENT});
        } else {
            EXPECT_TRUE(Action().groups.empty()) << selected;
            EXPECT_TRUE(Action().arrayChanges.empty()) << selected;
        }
    }
    // The last stop moved before the middle one stays last: the stored order is kept.
    H().Param(UF3_GRADIENT_PT_SELECT).u.sd.value = 2;
    H().Param(UF3_POINT_LOCATION).u.fd.value = 25 << 16;
    ASSERT_EQ(H().UserChange(UF3_POINT_LOCATION), PF_Err_NONE);
    EXPECT_EQ(Gradient()[2].position, 0.25);
    EXPECT_EQ(Gradient()[1].position, 0.3);
}

TEST_F(ParamChanges, ShiftColorsMovesEachColourOneStopOn) {
    ASSERT_EQ(H().UserChange(UF3_SHIFT_COLORS), PF_Err_NONE);
    ExpectOneStep("Shift Colors", {});
    const std::vector<ArbGradientPt> stops = Gradient();
    ASSERT_EQ(stops.size(), 3u);
    const size_t from[] = {2, 0, 1};  // blue, red, green
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(stops[i].position, defaultGrad[i].position);
        EXPECT_EQ(std::memcmp(&stops[i].color, &defaultGrad[from[i]].color, sizeof(PF_PixelFloat)), 0) << i;
    }
}

// Which controls show is the panel supervision's business; here only the records a change leaves.
TEST_F(ParamChanges, LightTypeOpensItsTwirlAndFillModeTwirlsWithoutAnUndoStep) {
    H().Param(UF3_LIGHT_TYPE).u.pd.value = UF3_LIGHT_POINT;
    ASSERT_EQ(H().UserChange(UF3_LIGHT_TYPE), PF_Err_NONE);
    EXPECT_EQ(Action().arrayChanges, std::vector<int>{UF3_LIGHT_DIRECTION});
    H().Param(UF3_LIGHT_TYPE).u.pd.value = UF3_LIGHT_DIRECTIONAL;
    ASSERT_EQ(H().UserChange(UF3_LIGHT_TYPE), PF_Err_NONE);
    EXPECT_FALSE(UI(UF3_LIGHT_DIRECTION).hidden || UI(UF3_LIGHT_DIRECTION).collapsed);
    for (int fill : {UF3_FILL_GRADIENT, UF3_FILL_SOLID}) {
        H().Param(UF3_FILL_MODE).u.pd.value = fill;
        ASSERT_EQ(H().UserChange(UF3_FILL_MODE), PF_Err_NONE);
        EXPECT_EQ(UI(UF3_COLOR_GRADIENT).collapsed, fill == UF3_FILL_SOLID);
        EXPECT_TRUE(Action().groups.empty()) << "a twirl is no undo step";
    }
}

TEST_F(ParamChanges, LogAndWebButtonsRunTheDesktopOpen) {
    ASSERT_EQ(H().UserChange(UF3_OPEN_ERROR_LOG), PF_Err_NONE);
    EXPECT_EQ(Action().message, "No errors reported. Searched: " + LogFile());
    EXPECT_EQ(Opened(), "");

    ASSERT_EQ(H().UserChange(UF3_CREATE_TEST_ERROR), PF_Err_NONE);
    EXPECT_EQ(Action().message, "");
    std::ifstream log(LogFile());
    std::string line;
    ASSERT_TRUE(std::getline(log, line));
    EXPECT_TRUE(line.ends_with(": Test Error")) << line;

    ASSERT_EQ(H().UserChange(UF3_OPEN_ERROR_LOG), PF_Err_NONE);
    EXPECT_EQ(Opened(), "open [" + LogFile() + "]\n");
    ASSERT_EQ(H().UserChange(UF3_OPEN_LOG_DIRECTORY), PF_Err_NONE);
    EXPECT_EQ(Opened(), "open [" + LogFolder() + "]\n");

    for (int button : {3, 4, 5, 6}) ASSERT_EQ(H().UserChange(button), PF_Err_NONE);
    EXPECT_EQ(Opened(),
              "open [https://nimbral.example/umbrafex-3]\n"
              "open [https://nimbral.example/umbrafex-3/presets]\n"
              "open [https://nimbral.example/free-plugins]\n"
              "open [https://nimbral.example/support]\n");
    EXPECT_TRUE(Groups().empty());
}

TEST_F(ParamChanges, CreateTestErrorReportsAnUnwritableLog) {
    fs::create_directories(LogFolder());
    if (geteuid() != 0) {
        std::ofstream(LogFile()) << "";
        fs::permissions(LogFile(), fs::perms::owner_read);
    } else {
        // Root writes through mode bits; a link to itself refuses everyone.
        fs::create_symlink("umbrafex_3_error_log.txt", LogFile());
    }
    ASSERT_EQ(H().UserChange(UF3_CREATE_TEST_ERROR), PF_Err_NONE);
    EXPECT_EQ(Action().message, "Failed to open log file: " + LogFile());
}

}  // namespace
