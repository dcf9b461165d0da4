// Every render road under a host that refuses its n-th world or handle: the
// frame fails or succeeds, but nothing crashes and nothing is left behind.
#include <gtest/gtest.h>

#include "RenderFixture.h"

namespace {

struct Road {
    const char* name;
    int renderer, light;
    bool inner;
};

class FaultSweep : public EffectRender, public ::testing::WithParamInterface<Road> {};

TEST_P(FaultSweep, RefusedAllocationsFailCleanly) {
    const Road road = GetParam();
    Set(UF3_RENDERER, road.renderer);
    Set(UF3_LIGHT_TYPE, road.light);
    Set(UF3_QUALITY_PRESET, 1);  // small buffers keep the sweep quick
    Check(UF3_INNER_SHADOW, road.inner);
    const size_t worldsBefore = host::WorldTable::Instance().Alive();
    const size_t handlesBefore = host::HandleTable::Instance().Alive();
    for (int kind = 0; kind < 2; ++kind) {
        int failed = 0;
        // Stop once a refusal lands past the last allocation the frame makes.
        for (long n = 1; n < 40; ++n) {
            if (kind == 0)
                host::WorldTable::Instance().FailAllocation(n);
            else
                host::HandleTable::Instance().FailAllocation(n);
            Frame f = Render(8);
            host::WorldTable::Instance().FailAllocation(0);
            host::HandleTable::Instance().ClearFaults();
            SCOPED_TRACE(std::string(road.name) + (kind ? " handle " : " world ") + std::to_string(n));
            EXPECT_EQ(host::WorldTable::Instance().Alive(), worldsBefore);
            EXPECT_EQ(host::HandleTable::Instance().Alive(), handlesBefore);
            EXPECT_EQ(host::HandleTable::Instance().LocksHeld(), 0);
            EXPECT_EQ(host::SuiteRegistry::Instance().Outstanding(), 0) << host::SuiteRegistry::Instance().Describe();
            if (f.err == PF_Err_NONE) break;
            failed++;
        }
        // Some refusal of each kind must reach the render, or the sweep proves nothing.
        EXPECT_GT(failed, 0) << road.name << (kind ? ": no handle refusal" : ": no world refusal") << " reached the render";
    }
}

INSTANTIATE_TEST_SUITE_P(Roads, FaultSweep,
                         ::testing::Values(Road{"standard-point", 1, 2, false}, Road{"standard-directional", 1, 1, false},
                                           Road{"standard-inner", 1, 1, true}, Road{"raytraced-directional", 2, 1, false},
                                           Road{"raytraced-point", 2, 2, false}),
                         [](const auto& info) {
                             std::string n = info.param.name;
                             for (char& c : n)
                                 if (c == '-') c = '_';
                             return n;
                         });

}  // namespace
