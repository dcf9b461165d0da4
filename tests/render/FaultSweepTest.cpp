// Every render road, with a texture layer, under a host that refuses its n-th world or
// handle, at every position a frame reaches: the refusal's error comes back and its line is
// logged once, the output stays cleared until the passes draw into it (the message over it
// with Debug Analysis), the texture goes back unless a thrown refusal cut the road short, the
// host's context is current again, and nothing is left behind.
#include <gtest/gtest.h>

#include "OpenGL/OpenGL.h"
#include "render/RenderFixture.h"

namespace {

struct Road {
    const char* name;
    int renderer, light;
    bool inner, debug;
};

bool g_gpuReached = false;
void MarkGPUStage(myParams&) { g_gpuReached = true; }

CGLContextObj MakeHostContext() {
    const CGLPixelFormatAttribute attribs[] = {kCGLPFAOpenGLProfile,
                                               CGLPixelFormatAttribute(kCGLOGLPVersion_3_2_Core),
                                               CGLPixelFormatAttribute(0)};
    CGLPixelFormatObj pix = nullptr;
    GLint npix = 0;
    CGLContextObj ctx = nullptr;
    if (CGLChoosePixelFormat(attribs, &pix, &npix) == kCGLNoError && pix) {
        CGLCreateContext(pix, nullptr, &ctx);
        CGLReleasePixelFormat(pix);
    }
    return ctx;
}

class FaultSweep : public EffectRender, public ::testing::WithParamInterface<Road> {
protected:
    // One 8-bit frame with the host's own context current; it must be current again after.
    PF_Err Render(host::RenderJob& job) {
        EXPECT_EQ(CGLSetCurrentContext(m_hostContext), kCGLNoError);
        g_gpuReached = false;
        job.request.rect = {0, 0, kW, kH};
        job.bitdepth = 8;
        PF_Err err = H().SmartPreRender(job);
        if (!err) err = H().SmartRender(job);
        EXPECT_EQ(CGLGetCurrentContext(), m_hostContext) << "the host's context was not made current again";
        return err;
    }
    void TearDown() override {
        CGLSetCurrentContext(nullptr);
        if (m_hostContext) CGLDestroyContext(m_hostContext);
        EffectRender::TearDown();
    }
    CGLContextObj m_hostContext = nullptr;
};

TEST_P(FaultSweep, RefusedAllocationsFailCleanly) {
    const Road road = GetParam();
    Set(UF3_RENDERER, road.renderer);
    Set(UF3_LIGHT_TYPE, road.light);
    Set(UF3_QUALITY_PRESET, 1);  // small buffers keep the sweep quick
    Check(UF3_INNER_SHADOW, road.inner);
    Check(UF3_DEBUG_ANALYSIS_ENABLE, road.debug);
    H().SetLayerSize(H().TextureLayer(), kW, kH);
    H().SetTextureLayerPresent(true);
    m_hostContext = MakeHostContext();
    ASSERT_NE(m_hostContext, nullptr);
    gGPUStageTestHook = &MarkGPUStage;
    auto& worlds = host::WorldTable::Instance();
    auto& handles = host::HandleTable::Instance();
    const size_t worldsBefore = worlds.Alive(), handlesBefore = handles.Alive();

    long made[2];  // what a clean frame allocates, so every position is refused once
    {
        host::RenderJob job;
        const long w = worlds.Allocations(), h = handles.Allocations();
        ASSERT_EQ(Render(job), PF_Err_NONE) << Log();
        EXPECT_EQ(job.pixelCheckins, 1) << "the texture goes back";
        made[0] = worlds.Allocations() - w;
        made[1] = handles.Allocations() - h;
    }
    for (int kind = 0; kind < 2; ++kind) {
        int reached = 0;
        for (long n = 1; n <= made[kind]; ++n) {
            SCOPED_TRACE(std::string(road.name) + (kind ? " handle " : " world ") + std::to_string(n));
            const size_t logBefore = Log().size();
            {
                host::RenderJob job;
                if (kind == 0) worlds.FailAllocation(n);
                else handles.FailAllocation(n);
                const PF_Err err = Render(job);
                worlds.FailAllocation(0);
                handles.ClearFaults();
                EXPECT_EQ(err, PF_Err_OUT_OF_MEMORY);
                const PF_EffectWorld& out = job.output;
                if (!out.data) continue;  // the host's own checkouts, before the road starts
                reached++;
                // The refusal's own line, once; a refused parameter is logged again for each later one.
                const std::string added = Log().substr(logBefore);
                ASSERT_NE(added.find(": "), std::string::npos) << "nothing logged";
                const size_t from = added.find(": ") + 2, to = added.find(" - input_worldP");
                const std::string line = added.substr(from, std::min(to, added.find('\n')) - from);
                EXPECT_EQ(added.find(line), added.rfind(line)) << added;
                if (kind == 0) {
                    EXPECT_EQ(line.rfind("error initialising UF_EffectWorld of size: ", 0), 0u) << line;
                }
                // A thrown refusal ends the road before the check-in; the host takes the pixels back.
                EXPECT_EQ(job.pixelCheckins, kind == 0 ? 0 : 1);
                int text = 0, drawn = 0;
                for (A_long y = 0; y < out.height; ++y)
                    for (A_long x = 0; x < out.width; ++x) {
                        const auto& p = reinterpret_cast<const PF_Pixel*>(static_cast<const char*>(
                                            static_cast<const void*>(out.data)) + y * out.rowbytes)[x];
                        drawn += p.alpha || p.red || p.green || p.blue;
                        text += p.red > 150 && p.green > 150 && p.blue < 50;
                    }
                if (road.debug && kind == 0) {
                    EXPECT_GT(text, 20) << "the message drawn over the frame";
                } else if (!g_gpuReached) {
                    EXPECT_EQ(drawn, 0) << "the output was left cleared";
                }
            }
            EXPECT_EQ(worlds.Alive(), worldsBefore);
            EXPECT_EQ(handles.Alive(), handlesBefore);
            EXPECT_EQ(handles.LocksHeld(), 0);
            EXPECT_EQ(host::SuiteRegistry::Instance().Outstanding(), 0) << host::SuiteRegistry::Instance().Describe();
        }
        // Some refusal of each kind must reach the road, or the sweep proves nothing.
        EXPECT_GT(reached, 0) << road.name << (kind ? ": no handle refusal" : ": no world refusal") << " reached";
    }

    // A refused check-in after a clean frame is the frame's result; a cancel is passed on unlogged.
    for (PF_Err refusal : {PF_Err_INTERNAL_STRUCT_DAMAGED, PF_Interrupt_CANCEL}) {
        host::RenderJob job;
        const size_t logBefore = Log().size();
        H().FailLayerCheckin(refusal);
        EXPECT_EQ(Render(job), refusal);
        H().FailLayerCheckin(PF_Err_NONE);
        if (refusal == PF_Interrupt_CANCEL) {
            EXPECT_EQ(Log().substr(logBefore), "");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Roads, FaultSweep,
                         ::testing::Values(Road{"standard-point", 1, 2, false, false},
                                           Road{"standard-directional", 1, 1, false, false},
                                           Road{"standard-inner", 1, 1, true, true},
                                           Road{"raytraced-directional", 2, 1, false, false},
                                           Road{"raytraced-point", 2, 2, false, true}),
                         [](const auto& info) {
                             std::string n = info.param.name;
                             for (char& c : n)
                                 if (c == '-') c = '_';
                             return n;
                         });

}  // namespace
