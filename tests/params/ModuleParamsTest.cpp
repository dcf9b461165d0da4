// The parameters as a host sees them: declared by the loaded module, stored,
// keyframed and saved by the host, with the gradient served by the effect.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <vector>

#include "GradientStops.h"
#include "HostFixture.h"
#include "params/GradientData.h"
#include "params/UF3_ParamIndex.h"

namespace {

std::vector<unsigned char> Bytes(PF_Handle h) {
    auto& t = host::HandleTable::Instance();
    auto* p = static_cast<unsigned char*>(t.Lock(h));
    std::vector<unsigned char> out(p, p + t.Size(h));
    t.Unlock(h);
    return out;
}

PF_Handle Gradient(std::vector<ArbGradientPt> stops) {
    PF_Handle h = nullptr;
    EXPECT_EQ(Set_Arb_Gradient(host::HandleTable::Instance().Suite(), &h, unsigned(stops.size()), stops.data()),
              PF_Err_NONE);
    return h;
}

class ModuleParams : public LoadedModule {
protected:
    void SetUp() override {
        LoadedModule::SetUp();
        ASSERT_EQ(H().GlobalSetup(), PF_Err_NONE);
        ASSERT_EQ(H().Send(PF_Cmd_PARAMS_SETUP), PF_Err_NONE);
        ASSERT_EQ(H().NumParams(), UF3_NUM_PARAMS);
        ExpectBooksBalanced();
    }
    std::vector<ArbGradientPt> CheckOutGradient(A_long time) {
        PF_ParamDef p{};
        auto& in = H().In();
        EXPECT_EQ(in.inter.checkout_param(in.effect_ref, UF3_COLOR_GRADIENT, time, 1, 30, &p), PF_Err_NONE);
        auto stops = StopsOf(host::HandleTable::Instance().Suite(), p.u.arb_d.value);
        EXPECT_EQ(in.inter.checkin_param(in.effect_ref, &p), PF_Err_NONE);
        return stops;
    }
};

TEST_F(ModuleParams, TheHostKeepsTheDefaultGradientAsItsValue) {
    PF_Handle value = H().Param(UF3_COLOR_GRADIENT).u.arb_d.value;
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(Bytes(value).size(), 77u);
    EXPECT_EQ(Bytes(value), Bytes(H().ParamDefs()[UF3_COLOR_GRADIENT].u.arb_d.dephault));
    EXPECT_NE(value, H().ParamDefs()[UF3_COLOR_GRADIENT].u.arb_d.dephault) << "the value is a copy";
    EXPECT_EQ(CheckOutGradient(0).size(), 3u);
    EXPECT_EQ(H().CheckoutsOutstanding(), 0);
}

TEST_F(ModuleParams, AnEqualGradientIsNotStoredAgain) {
    PF_Handle same = Gradient({defaultGrad.begin(), defaultGrad.end()});
    PF_Handle before = H().Param(UF3_COLOR_GRADIENT).u.arb_d.value;
    EXPECT_FALSE(H().SetArbitraryValue(UF3_COLOR_GRADIENT, same)) << "compared equal, nothing to store";
    EXPECT_EQ(H().Param(UF3_COLOR_GRADIENT).u.arb_d.value, before);

    // The same stops in another stored order are a different value.
    std::vector<ArbGradientPt> reversed(defaultGrad.rbegin(), defaultGrad.rend());
    PF_Handle other = Gradient(reversed);
    EXPECT_TRUE(H().SetArbitraryValue(UF3_COLOR_GRADIENT, other));
    EXPECT_EQ(Bytes(H().Param(UF3_COLOR_GRADIENT).u.arb_d.value), Bytes(other));
    EXPECT_FALSE(host::HandleTable::Instance().IsAlive(before)) << "the replaced value was disposed";
    host::HandleTable::Instance().Dispose(same);
    host::HandleTable::Instance().Dispose(other);
}

TEST_F(ModuleParams, GradientKeyframesInterpolateThroughTheEffect) {
    PF_Handle two = Gradient({{0.0, {1, 1, 0, 0}}, {1.0, {1, 0, 0, 1}}});
    PF_Handle three = Gradient({{0.0, {1, 1, 0, 0}}, {0.6, {1, 0, 1, 0}}, {0.8, {1, 0, 0, 0}}});
    PF_ParamDef key = H().Param(UF3_COLOR_GRADIENT);
    key.u.arb_d.value = two;
    H().SetKeyframe(UF3_COLOR_GRADIENT, 0.0, key);
    key.u.arb_d.value = three;
    H().SetKeyframe(UF3_COLOR_GRADIENT, 1.0, key);
    host::HandleTable::Instance().Dispose(two);
    host::HandleTable::Instance().Dispose(three);

    auto mid = CheckOutGradient(15);  // half way
    ASSERT_EQ(mid.size(), 3u);
    // Positions blend in single precision: (1.0 + 0.6) / 2, and the unpartnered third stop stays put.
    EXPECT_EQ(mid[1].position, double(0.8f));
    EXPECT_EQ(mid[2].position, double(0.8f));
    EXPECT_FLOAT_EQ(mid[1].color.green, 0.5f);
    EXPECT_EQ(CheckOutGradient(0).size(), 2u);
    EXPECT_EQ(CheckOutGradient(30).size(), 3u);
}

TEST_F(ModuleParams, ProjectRoundTripKeepsEveryValueAndTheGradientByteForByte) {
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("umbrafex-module-project-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::string path = (dir / "instance.uhp").string();

    // Move every parameter off its default where the type has a value.
    for (int i = 1; i < H().NumParams(); ++i) {
        PF_ParamDef& p = H().Param(i);
        switch (p.param_type) {
            case PF_Param_FLOAT_SLIDER: p.u.fs_d.value += 1.25; break;
            case PF_Param_SLIDER: p.u.sd.value += 3; break;
            case PF_Param_FIX_SLIDER: p.u.fd.value += 0x8000; break;
            case PF_Param_ANGLE: p.u.ad.value += 45 << 16; break;
            case PF_Param_CHECKBOX: p.u.bd.value = !p.u.bd.value; break;
            case PF_Param_POPUP: p.u.pd.value = 1 + p.u.pd.value % p.u.pd.num_choices; break;
            case PF_Param_COLOR: p.u.cd.value = {128, 10, 20, 30}; break;
            case PF_Param_POINT: p.u.td.x_value = 5 << 16; p.u.td.y_value = 7 << 16; break;
            default: break;
        }
    }
    PF_Handle custom = Gradient({{0.25, {0.5f, 0.1f, 0.2f, 0.3f}}, {0.75, {1, 0.9f, 0.8f, 0.7f}}});
    PF_Handle old = H().Param(UF3_COLOR_GRADIENT).u.arb_d.value;
    H().Param(UF3_COLOR_GRADIENT).u.arb_d.value = custom;
    host::HandleTable::Instance().Dispose(old);
    std::vector<PF_ParamDef> saved;
    for (int i = 0; i < H().NumParams(); ++i) saved.push_back(H().Param(i));
    std::vector<unsigned char> savedGradient = Bytes(custom);

    std::string error;
    ASSERT_TRUE(H().SaveProject(path, &error)) << error;

    // A second host instance of the same effect loads the file.
    host::Host second;
    ASSERT_TRUE(second.Load(UMBRAFEX_MODULE_PATH)) << second.Error();
    ASSERT_EQ(second.Send(PF_Cmd_PARAMS_SETUP), PF_Err_NONE);
    ASSERT_TRUE(second.LoadProject(path, &error)) << error;
    for (int i = 1; i < H().NumParams(); ++i) {
        const PF_ParamDef& a = saved[size_t(i)];
        const PF_ParamDef& b = second.Param(i);
        SCOPED_TRACE("parameter " + std::to_string(i));
        switch (a.param_type) {
            case PF_Param_FLOAT_SLIDER: EXPECT_EQ(a.u.fs_d.value, b.u.fs_d.value); break;
            case PF_Param_SLIDER: EXPECT_EQ(a.u.sd.value, b.u.sd.value); break;
            case PF_Param_FIX_SLIDER: EXPECT_EQ(a.u.fd.value, b.u.fd.value); break;
            case PF_Param_ANGLE: EXPECT_EQ(a.u.ad.value, b.u.ad.value); break;
            case PF_Param_CHECKBOX: EXPECT_EQ(a.u.bd.value, b.u.bd.value); break;
            case PF_Param_POPUP: EXPECT_EQ(a.u.pd.value, b.u.pd.value); break;
            case PF_Param_COLOR: EXPECT_EQ(std::memcmp(&a.u.cd.value, &b.u.cd.value, 4), 0); break;
            case PF_Param_POINT:
                EXPECT_EQ(a.u.td.x_value, b.u.td.x_value);
                EXPECT_EQ(a.u.td.y_value, b.u.td.y_value);
                break;
            case PF_Param_ARBITRARY_DATA: EXPECT_EQ(Bytes(b.u.arb_d.value), savedGradient); break;
            default: break;
        }
    }
    fs::remove_all(dir);
}

}  // namespace
