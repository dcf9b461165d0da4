// The Effect Controls panel as the host records it after update-parameters-UI:
// which controls are hidden, disabled and collapsed, the one-time
// initialisation, and what a repeated update sends.
#include <gtest/gtest.h>

#include <cstring>

#include <unistd.h>

#include <cstdio>
#include <string>

#include "PanelFixture.h"
#include "host/SuiteRegistry.h"
#include "params/UF3_Supervision.h"
#include "shell/AEGP_SuiteHandler.h"

namespace {

struct Choice {
    int R, L, F;
    bool I, N, A;
};

// The panel the user should see, written from the product's rules.
bool ShouldHide(int i, const Choice& c, int apiMajor) {
    const bool std = c.R == 1, rt = c.R == 2, dir = c.L == 1, point = c.L == 2;
    switch (i) {
        case 21: return point;
        case 22: return dir;
        case 23: return rt;
        case 24: return point || std;
        case 25: return dir || std;
        case 28: return std && point;
        case 29: return !(rt && point && c.N);
        case 30: return !c.I;
        case 31: return !(point && apiMajor >= 14);
        case 35: case 36: case 52: case 53: case 54: case 81: return std;
        case 37: case 38: case 55: case 56: case 57: case 80: return rt;
        case 40: return c.F == 2;
        case 41: case 43: case 44: return c.F == 1;
        case 68: case 70: return true;  // no texture layer chosen
        case 86: return c.I;
        case 89: return point;
        case 90: return dir;
        default: return i == 7 || (i >= 94 && i <= 105) || i >= 107;
    }
}

bool ShouldDisable(int i, const Choice& c) {
    switch (i) {
        case 26: return c.R == 2 && c.L == 2 && c.N && c.A;
        case 45: return c.I || c.R == 2;
        case 54: case 62: return c.F == 1;
        case 87: return c.I;
        default: return false;
    }
}

class Supervision : public PanelFixture {
protected:
    // The user sets each deciding parameter that differs, one change at a time.
    void Choose(const Choice& c) {
        const std::pair<int, A_long> values[] = {{UF3_RENDERER, c.R},       {UF3_LIGHT_TYPE, c.L},
                                                 {UF3_FILL_MODE, c.F},      {UF3_INNER_SHADOW, c.I},
                                                 {UF3_INVERSE_SHADOW, c.N}, {UF3_AUTO_SHADOW_LENGTH, c.A}};
        for (auto [index, value] : values) {
            PF_ParamDef& p = H().Param(index);
            A_long& current = p.param_type == PF_Param_POPUP ? p.u.pd.value : p.u.bd.value;
            if (current == value) continue;
            current = value;
            ASSERT_EQ(H().UserChange(index), PF_Err_NONE) << index;
        }
    }
    std::vector<int> Refreshes() {
        std::vector<int> r;
        for (int i = 0; i < UF3_NUM_PARAMS; ++i) r.push_back(UI(i).refreshes);
        return r;
    }
};

class SupervisionApi14 : public Supervision {
protected:
    void SetUp() override { StartPanel({.api_major = 14}); }
};

TEST_F(SupervisionApi14, PanelFollowsEveryRendererLightFillAndShadowChoice) {
    // One instance walks through all 64 choices, so every control is also
    // seen changing from hidden to shown and back.
    for (int bits = 0; bits < 64; ++bits) {
        const Choice c{1 + (bits & 1), 1 + (bits >> 1 & 1), 1 + (bits >> 2 & 1),
                       bool(bits & 8), bool(bits & 16), bool(bits & 32)};
        if (bits == 0) {
            ASSERT_EQ(H().Send(PF_Cmd_UPDATE_PARAMS_UI), PF_Err_NONE);  // the defaults, as applied
        }
        Choose(c);
        char where[32];
        std::snprintf(where, sizeof where, "R%d L%d F%d I%d N%d A%d", c.R, c.L, c.F, c.I, c.N, c.A);
        for (int i = 1; i < UF3_NUM_PARAMS; ++i)
            EXPECT_EQ(UI(i).hidden, ShouldHide(i, c, 14)) << "parameter " << i << " at " << where;
        for (int i : {26, 45, 54, 62, 87})
            EXPECT_EQ(UI(i).disabled, ShouldDisable(i, c)) << "parameter " << i << " at " << where;
        EXPECT_EQ(UI(UF3_LIGHT_DIRECTION).collapsed, c.L == 2) << where;
    }
    EXPECT_EQ(Groups().size(), 1u) << "initialised once for the whole walk";
}

TEST_F(Supervision, RendererAndFillChangedTogetherKeepEaseGradientDisabled) {
    // As keyframes or a loaded preset change both at once, before one update.
    for (auto [renderer, fill] : {std::pair{1, 2}, std::pair{2, 1}}) {
        H().Param(UF3_RENDERER).u.pd.value = renderer;
        H().Param(UF3_FILL_MODE).u.pd.value = fill;
        ASSERT_EQ(H().Send(PF_Cmd_UPDATE_PARAMS_UI), PF_Err_NONE);
    }
    EXPECT_FALSE(UI(UF3_EASE_GRADIENT).hidden);
    EXPECT_TRUE(UI(UF3_EASE_GRADIENT).disabled) << "shown again with Solid Fill";
}

TEST_F(Supervision, ShowLightOutlineNeedsHostApi14) {
    Choose({2, 2, 1, false, false, false});
    EXPECT_TRUE(UI(UF3_SHOW_LIGHT_OUTLINE).hidden) << "host API 13";
    EXPECT_FALSE(UI(UF3_LIGHT_ORIGIN).hidden);
}

TEST_F(Supervision, FirstUpdateInitialisesOncePerInstanceAlsoAcrossSaveAndLoad) {
    EXPECT_TRUE(UI(UF3_LIGHT_DIRECTION).collapsed) << "declared with a closed twirl";
    ASSERT_EQ(H().Send(PF_Cmd_UPDATE_PARAMS_UI), PF_Err_NONE);
    ASSERT_EQ(H().Send(PF_Cmd_UPDATE_PARAMS_UI), PF_Err_NONE);
    std::vector<host::UndoGroup> groups = Groups();
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0].name, "Umbrafex 3 Initialize");
    EXPECT_EQ(groups[0].changes, std::vector<int>{UF3_INIT});
    EXPECT_TRUE(groups[0].closed);
    EXPECT_EQ(H().Param(UF3_INIT).u.bd.value, 1);
    EXPECT_FALSE(UI(UF3_LIGHT_DIRECTION).collapsed) << "initialisation opens Light Direction";

    char path[] = "/tmp/uf3panelXXXXXX";
    const int fd = mkstemp(path);
    ASSERT_NE(fd, -1);
    close(fd);
    ASSERT_TRUE(H().SaveProject(path));
    for (bool loadProject : {true, false}) {
        host::UndoJournal::Instance().Reset();
        {
            host::Host other;
            ASSERT_TRUE(other.Load(UMBRAFEX_MODULE_PATH)) << other.Error();
            ASSERT_EQ(other.Send(PF_Cmd_PARAMS_SETUP), PF_Err_NONE);
            if (loadProject) {
                ASSERT_TRUE(other.LoadProject(path));
            }
            ASSERT_EQ(other.Send(PF_Cmd_UPDATE_PARAMS_UI), PF_Err_NONE);
        }
        EXPECT_EQ(Groups().size(), loadProject ? 0u : 1u) << (loadProject ? "reopened project" : "new instance");
    }
    std::remove(path);
}

TEST_F(Supervision, RepeatedUpdateRefreshesOnlyTheDisableAndCollapseRules) {
    ASSERT_EQ(H().Send(PF_Cmd_UPDATE_PARAMS_UI), PF_Err_NONE);
    const std::vector<int> before = Refreshes();
    ASSERT_EQ(H().Send(PF_Cmd_UPDATE_PARAMS_UI), PF_Err_NONE);
    const std::vector<int> after = Refreshes();
    std::vector<int> refreshed;
    for (int i = 0; i < UF3_NUM_PARAMS; ++i) {
        if (after[size_t(i)] != before[size_t(i)]) refreshed.push_back(i);
        EXPECT_LE(after[size_t(i)] - before[size_t(i)], 1) << "parameter " << i;
    }
    EXPECT_EQ(refreshed, (std::vector<int>{21, 26, 45, 54, 62, 87}));
}

TEST_F(Supervision, TextureWarningShowsUntilBothLayersAreCollapsed) {
    struct Row {
        bool texture, textureCollapsed, ownCollapsed, hideWarnings, hidden;
    };
    const Row rows[] = {
        {false, true, true, false, true},  {true, true, true, false, true},  {true, true, false, false, false},
        {true, false, true, false, false}, {true, false, false, true, true}, {true, false, false, false, false},
    };
    for (const Row& r : rows) {
        H().SetTextureLayerPresent(r.texture);
        H().TextureLayer().flags = r.textureCollapsed ? AEGP_LayerFlag_COLLAPSE : 0;
        H().EffectLayer().flags = r.ownCollapsed ? AEGP_LayerFlag_COLLAPSE : 0;
        H().Param(UF3_HIDE_WARNINGS).u.bd.value = r.hideWarnings;
        ASSERT_EQ(H().Send(PF_Cmd_UPDATE_PARAMS_UI), PF_Err_NONE);
        for (int i : {UF3_TEXTURE_WARNING1_GROUP_START, UF3_TEXTURE_WARNING2_GROUP_START})
            EXPECT_EQ(UI(i).hidden, r.hidden) << "parameter " << i << ": texture " << r.texture << ", collapsed "
                                              << r.textureCollapsed << "/" << r.ownCollapsed << ", hide warnings "
                                              << r.hideWarnings;
    }
}

TEST_F(Supervision, WithoutAnEffectReferenceNoControlIsTouched) {
    for (A_Err given : {A_Err_GENERIC, A_Err_NONE}) {
        H().Panel().FailEffectRef(true, given);
        EXPECT_EQ(H().Send(PF_Cmd_UPDATE_PARAMS_UI), given);
        PF_UserChangedParamExtra reset{UF3_RESET_STYLE};
        EXPECT_EQ(H().Send(PF_Cmd_USER_CHANGED_PARAM, &reset), given);
    }
    for (int i = 0; i < UF3_NUM_PARAMS; ++i) EXPECT_EQ(UI(i).refreshes, 0) << i;
    EXPECT_TRUE(Groups().empty());
    EXPECT_EQ(H().Param(UF3_INIT).u.bd.value, 0);
}

// A relabelled control: a long name is cut to what the panel holds, the flags beside it untouched.
TEST_F(Supervision, RenamedControlIsCutToItsBufferAndKeepsItsTwirl) {
    PF_ParamDef* params[UF3_NUM_PARAMS];
    for (int i = 0; i < UF3_NUM_PARAMS; ++i) params[i] = &H().Param(i);
    PF_ParamDef& def = H().Param(UF3_LIGHT_DIRECTION);
    def.flags |= PF_ParamFlag_COLLAPSE_TWIRLY | PF_ParamFlag_SKIP_REVEAL_WHEN_UNHIDDEN;
    const PF_ParamFlags flags = def.flags;
    std::memset(def.name, 'o', sizeof def.name);  // a full buffer: the copy must end the name itself
    AEGP_SuiteHandler suites(H().In().pica_basicP);
    const std::string longName(40, 'n');
    ASSERT_EQ(ChangeParamName(&H().In(), &suites, params, UF3_LIGHT_DIRECTION, false, "First", longName.c_str()),
              PF_Err_NONE);
    EXPECT_EQ(std::string(def.name, strnlen(def.name, sizeof def.name)), longName.substr(0, sizeof def.name - 1));
    EXPECT_EQ(def.flags, flags);
    ASSERT_EQ(ChangeParamName(&H().In(), &suites, params, UF3_LIGHT_DIRECTION, true, "First", nullptr), PF_Err_NONE);
    EXPECT_EQ(std::string(H().Param(UF3_LIGHT_DIRECTION).name), "First");
}

TEST_F(Supervision, MissingSuiteEndsTheUpdateAndGivesEverythingBack) {
    auto& registry = host::SuiteRegistry::Instance();
    const std::pair<const char*, int> suites[] = {{kAEGPDynamicStreamSuite, kAEGPDynamicStreamSuiteVersion2},
                                                  {kAEGPUtilitySuite, kAEGPUtilitySuiteVersion11},
                                                  {kPFParamUtilsSuite, kPFParamUtilsSuiteVersion3},
                                                  {kAEGPLayerSuite, kAEGPLayerSuiteVersion13}};
    H().SetTextureLayerPresent(true);  // so the layer suite is reached
    for (auto [name, version] : suites) {
        registry.SetMissing(name, version);
        EXPECT_EQ(H().Send(PF_Cmd_UPDATE_PARAMS_UI), PF_Err_BAD_CALLBACK_PARAM) << name;
        registry.SetMissing(name, version, false);
        ExpectStreamBooksBalanced();
        ExpectBooksBalanced();
    }
}

}  // namespace
