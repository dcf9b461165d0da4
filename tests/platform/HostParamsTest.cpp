#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>

#include "AE_GeneralPlug.h"
#include "host/Composition.h"
#include "host/HandleSuite.h"
#include "host/Host.h"
#include "host/SuiteRegistry.h"
#include "host/WorldSuite.h"

namespace {

PF_ParamDef FloatSlider(A_long id, double value) {
    PF_ParamDef def{};
    def.uu.id = id;
    def.param_type = PF_Param_FLOAT_SLIDER;
    def.u.fs_d.value = value;
    def.u.fs_d.dephault = float(value);
    return def;
}

class HostParams : public ::testing::Test {
protected:
    void SetUp() override {
        host::HandleTable::Instance().Reset();
        host::WorldTable::Instance().Reset();
        PF_ParamDef popup{};
        popup.uu.id = 7;
        popup.param_type = PF_Param_POPUP;
        popup.u.pd.value = 1;
        PF_ParamDef color{};
        color.uu.id = 8;
        color.param_type = PF_Param_COLOR;
        color.u.cd.value = {255, 0, 0, 0};
        PF_ParamDef slider = FloatSlider(5, 10.0);
        ASSERT_EQ(Add(-1, slider), PF_Err_NONE);  // 1
        ASSERT_EQ(Add(-1, popup), PF_Err_NONE);   // 2
        ASSERT_EQ(Add(3, color), PF_Err_NONE);    // 3: the next index is also accepted
    }
    PF_Err Add(PF_ParamIndex index, PF_ParamDef def) {
        return h.In().inter.add_param(h.In().effect_ref, index, &def);
    }
    PF_ParamDef CheckOut(int index, A_long time, A_u_long scale = 30) {
        PF_ParamDef p{};
        EXPECT_EQ(h.In().inter.checkout_param(h.In().effect_ref, index, time, 1, scale, &p), PF_Err_NONE);
        EXPECT_EQ(h.In().inter.checkin_param(h.In().effect_ref, &p), PF_Err_NONE);
        return p;
    }
    host::Host h;
};

TEST_F(HostParams, DeclarationsAreKeptInOrderAfterTheInputLayer) {
    ASSERT_EQ(h.NumParams(), 4);
    EXPECT_EQ(h.ParamDefs()[0].param_type, PF_Param_LAYER);
    EXPECT_EQ(h.ParamDefs()[1].uu.id, 5);
    EXPECT_EQ(h.ParamDefs()[2].param_type, PF_Param_POPUP);
    EXPECT_EQ(h.ParamDefs()[3].uu.id, 8);
    // Only appending is served.
    EXPECT_EQ(Add(1, FloatSlider(9, 0)), PF_Err_INVALID_INDEX);
    EXPECT_EQ(Add(7, FloatSlider(9, 0)), PF_Err_INVALID_INDEX);
    EXPECT_EQ(h.NumParams(), 4);
}

TEST_F(HostParams, ScalarKeyframesInterpolateAndOthersHold) {
    h.SetKeyframe(1, 0.0, FloatSlider(5, 0.0));
    h.SetKeyframe(1, 2.0, FloatSlider(5, 100.0));
    EXPECT_DOUBLE_EQ(CheckOut(1, 0).u.fs_d.value, 0.0);
    EXPECT_DOUBLE_EQ(CheckOut(1, 15).u.fs_d.value, 25.0);  // 0.5 s of 2
    EXPECT_DOUBLE_EQ(CheckOut(1, 60).u.fs_d.value, 100.0);
    EXPECT_DOUBLE_EQ(CheckOut(1, 300).u.fs_d.value, 100.0) << "after the last key";
    EXPECT_DOUBLE_EQ(CheckOut(1, -30).u.fs_d.value, 0.0) << "before the first key";
    EXPECT_DOUBLE_EQ(h.Param(1).u.fs_d.value, 10.0) << "keys leave the static value alone";

    PF_ParamDef a = h.Param(2), b = h.Param(2);
    a.u.pd.value = 1;
    b.u.pd.value = 2;
    h.SetKeyframe(2, 0.0, a);
    h.SetKeyframe(2, 1.0, b);
    EXPECT_EQ(CheckOut(2, 29).u.pd.value, 1) << "a popup holds until its next key";
    EXPECT_EQ(CheckOut(2, 30).u.pd.value, 2);

    PF_ParamDef black = h.Param(3), white = h.Param(3);
    white.u.cd.value = {255, 255, 255, 255};
    h.SetKeyframe(3, 0.0, black);
    h.SetKeyframe(3, 1.0, white);
    PF_Pixel mid = CheckOut(3, 15).u.cd.value;
    EXPECT_EQ(mid.alpha, 255);
    EXPECT_EQ(mid.red, 128);  // 127.5 rounds half away from zero

    h.ClearKeyframes(1);
    EXPECT_EQ(h.KeyframeCount(1), 0u);
    EXPECT_DOUBLE_EQ(CheckOut(1, 15).u.fs_d.value, 10.0);

    // Finite keys give a finite value between them, however far apart the keys lie in time
    // and in value: neither the time fraction nor the difference of the values may overflow.
    constexpr double kMax = std::numeric_limits<double>::max();
    struct Span { double t0, v0, t1, v1; };
    const Span spans[] = {{-1.5e308, -kMax, 1.5e308, kMax}, {0, kMax, 2, -kMax}, {-kMax, 1, kMax, 3},
                          {-1.5e308, kMax, 1.5e308, kMax}};
    for (const Span& k : spans) {
        h.ClearKeyframes(1);
        h.SetKeyframe(1, k.t0, FloatSlider(5, k.v0));
        h.SetKeyframe(1, k.t1, FloatSlider(5, k.v1));
        double previous = k.v0;
        for (const double f : {0.0, 1e-300, 0.25, 0.5, 0.75, 1 - 1e-16, 1.0}) {
            const double seconds = k.t0 * (1 - f) + k.t1 * f;
            PF_ParamDef v{};
            ASSERT_EQ(h.ValueAt(1, seconds, &v), PF_Err_NONE);
            const double x = v.u.fs_d.value;
            EXPECT_TRUE(std::isfinite(x) && x >= std::min(k.v0, k.v1) && x <= std::max(k.v0, k.v1))
                << x << " at " << seconds << " s between keys " << k.v0 << " at " << k.t0 << " s and " << k.v1
                << " at " << k.t1 << " s";
            EXPECT_TRUE(k.v1 >= k.v0 ? x >= previous : x <= previous)
                << "not on the way from key to key at " << seconds;
            previous = x;
        }
        PF_ParamDef mid{};
        ASSERT_EQ(h.ValueAt(1, k.t0 / 2 + k.t1 / 2, &mid), PF_Err_NONE);
        EXPECT_DOUBLE_EQ(mid.u.fs_d.value, k.v0 / 2 + k.v1 / 2) << "half way between " << k.t0 << " and " << k.t1;
    }
    h.ClearKeyframes(1);
}

TEST_F(HostParams, CheckoutFailuresAndBooks) {
    h.FailCheckoutAt(2, PF_Err_OUT_OF_MEMORY);
    PF_ParamDef p{};
    EXPECT_EQ(h.In().inter.checkout_param(h.In().effect_ref, 2, 0, 1, 30, &p), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(h.CheckoutsOutstanding(), 0);
    EXPECT_EQ(h.In().inter.checkin_param(h.In().effect_ref, &p), PF_Err_NONE) << "checking in a failed checkout";
    EXPECT_EQ(h.In().inter.checkout_param(h.In().effect_ref, 99, 0, 1, 30, &p), PF_Err_INVALID_INDEX);

    PF_ParamDef q{};
    EXPECT_EQ(h.In().inter.checkout_param(h.In().effect_ref, 1, 0, 1, 30, &q), PF_Err_NONE);
    EXPECT_EQ(h.CheckoutsOutstanding(), 1);
    EXPECT_EQ(h.In().inter.checkin_param(h.In().effect_ref, &q), PF_Err_NONE);
    EXPECT_EQ(h.In().inter.checkin_param(h.In().effect_ref, &q), PF_Err_NONE);
    EXPECT_EQ(h.CheckoutsOutstanding(), 0);
    EXPECT_EQ((std::vector<int>{2, 99, 1}), h.CheckoutLog());
}

TEST_F(HostParams, ProjectRoundTripMatchesByDiskId) {
    auto dir = std::filesystem::temp_directory_path() / ("umbrafex-project-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::string path = (dir / "scene.uhp").string();
    h.Param(1).u.fs_d.value = 0.1 + 0.2;  // not exactly representable in short decimal
    h.Param(2).u.pd.value = 2;
    h.Param(3).u.cd.value = {200, 1, 2, 3};
    h.SetKeyframe(1, 0.5, FloatSlider(5, -7.25));
    std::string error;
    ASSERT_TRUE(h.SaveProject(path, &error)) << error;

    h.Param(1).u.fs_d.value = 0;
    h.Param(2).u.pd.value = 1;
    h.Param(3).u.cd.value = {0, 0, 0, 0};
    h.ClearKeyframes(1);
    ASSERT_TRUE(h.LoadProject(path, &error)) << error;
    EXPECT_EQ(h.Param(1).u.fs_d.value, 0.1 + 0.2);
    EXPECT_EQ(h.Param(2).u.pd.value, 2);
    EXPECT_EQ(h.Param(3).u.cd.value.alpha, 200);
    EXPECT_EQ(h.Param(3).u.cd.value.blue, 3);
    EXPECT_EQ(h.KeyframeCount(1), 1u);
    EXPECT_DOUBLE_EQ(CheckOut(1, 15).u.fs_d.value, -7.25);

    // Values of unknown parameters are skipped; malformed files are refused.
    std::ofstream(path, std::ios::app) << "value 4242 10 1.5\n";
    EXPECT_TRUE(h.LoadProject(path, &error)) << error;
    std::ofstream(path, std::ios::trunc) << "not a project\n";
    EXPECT_FALSE(h.LoadProject(path, &error));
    EXPECT_NE(error.find("not a project file"), std::string::npos);
    std::filesystem::remove_all(dir);
}

TEST(HostWorlds, WorldsAtEveryDepthWithPaddedRows) {
    auto& worlds = host::WorldTable::Instance();
    worlds.Reset();
    struct Case {
        PF_PixelFormat format;
        size_t pixel;
    } cases[] = {{PF_PixelFormat_ARGB32, 4}, {PF_PixelFormat_ARGB64, 8}, {PF_PixelFormat_ARGB128, 16}};
    for (auto c : cases) {
        PF_EffectWorld w{};
        ASSERT_EQ(worlds.Suite()->PF_NewWorld(nullptr, 7, 3, true, c.format, &w), PF_Err_NONE);
        EXPECT_EQ(w.width, 7);
        EXPECT_EQ(w.height, 3);
        EXPECT_GE(size_t(w.rowbytes), 7 * c.pixel);
        EXPECT_EQ(w.rowbytes % 64, 0);
        EXPECT_EQ(bool(w.world_flags & PF_WorldFlag_DEEP), c.format != PF_PixelFormat_ARGB32);
        PF_PixelFormat f = 0;
        EXPECT_EQ(worlds.Suite()->PF_GetPixelFormat(&w, &f), PF_Err_NONE);
        EXPECT_EQ(f, c.format);
        auto* bytes = reinterpret_cast<unsigned char*>(w.data);
        EXPECT_EQ(bytes[w.rowbytes * 2 + 7 * c.pixel - 1], 0) << "cleared";
        EXPECT_EQ(worlds.Alive(), 1u);
        EXPECT_EQ(worlds.Suite()->PF_DisposeWorld(nullptr, &w), PF_Err_NONE);
        EXPECT_EQ(w.data, nullptr);
    }
    EXPECT_EQ(worlds.Alive(), 0u);

    PF_EffectWorld w{};
    EXPECT_NE(worlds.Suite()->PF_NewWorld(nullptr, 4, 4, true, 12345, &w), PF_Err_NONE) << "unknown format";
    worlds.FailAllocation(1);
    EXPECT_EQ(worlds.Suite()->PF_NewWorld(nullptr, 4, 4, true, PF_PixelFormat_ARGB32, &w), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(w.data, nullptr);
    PF_EffectWorld stranger{};
    int pixels[4] = {};
    stranger.data = reinterpret_cast<PF_PixelPtr>(pixels);
    EXPECT_NE(worlds.Suite()->PF_DisposeWorld(nullptr, &stranger), PF_Err_NONE);
    EXPECT_EQ(worlds.Misuses(), 1);
}

TEST(HostComposition, WorkingSpaceGammaAndTheEffectLayer) {
    host::Host h;
    h.SetWorkingSpaceGamma(1.0f);
    SPBasicSuite* basic = h.In().pica_basicP;
    const void *pfi = nullptr, *layers = nullptr, *settings = nullptr;
    ASSERT_EQ(basic->AcquireSuite(kAEGPPFInterfaceSuite, 1, &pfi), 0);
    ASSERT_EQ(basic->AcquireSuite(kAEGPLayerSuite, 13, &layers), 0);
    ASSERT_EQ(basic->AcquireSuite(kPFColorSettingsSuite, 3, &settings), 0);
    AEGP_LayerH layer = nullptr;
    AEGP_CompH comp = nullptr;
    AEGP_ColorProfileP profile = nullptr;
    A_FpShort gamma = 0;
    EXPECT_EQ(static_cast<const AEGP_PFInterfaceSuite1*>(pfi)->AEGP_GetEffectLayer(h.In().effect_ref, &layer), 0);
    EXPECT_EQ(static_cast<const AEGP_LayerSuite13*>(layers)->AEGP_GetLayerParentComp(layer, &comp), 0);
    auto* cs = static_cast<const PF_ColorSettingsSuite3*>(settings);
    EXPECT_EQ(cs->AEGP_GetNewWorkingSpaceColorProfile(0, comp, &profile), 0);
    EXPECT_EQ(host::ColorProfilesAlive(), 1);
    EXPECT_EQ(cs->AEGP_GetColorProfileApproximateGamma(profile, &gamma), 0);
    EXPECT_FLOAT_EQ(gamma, 1.0f);
    EXPECT_EQ(cs->AEGP_DisposeColorProfile(profile), 0);
    EXPECT_EQ(host::ColorProfilesAlive(), 0);
    basic->ReleaseSuite(kAEGPPFInterfaceSuite, 1);
    basic->ReleaseSuite(kAEGPLayerSuite, 13);
    basic->ReleaseSuite(kPFColorSettingsSuite, 3);
}

}  // namespace
