// Frame-time benchmark: the sample scene rendered through the in-process host
// at two sizes and two depths, with the host-side share of each frame.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>
#include <utility>

#include "SampleScene.h"
#include "host/Host.h"

namespace {

struct Session {
    host::Host host;
    bool ready = false;
    explicit Session(A_long width, A_long height) {
        if (!host.Load(UMBRAFEX_MODULE_PATH)) return;
        ready = !host.GlobalSetup() && !host.Send(PF_Cmd_PARAMS_SETUP) && !host.SequenceSetup() &&
                PaintSampleScene(host.SetLayerSize(host.EffectLayer(), width, height));
    }
    ~Session() {
        if (host.SequenceData()) host.SequenceSetdown();
        if (host.GlobalData()) host.GlobalSetdown();
    }
};

void Frame(benchmark::State& state) {
    const A_long width = A_long(state.range(0)), height = A_long(state.range(1));
    const short bitdepth = short(state.range(2));
    Session session(width, height);
    // The Renderer popup: 1 Standard, 2 Raytraced.
    for (int i = 1; i < session.host.NumParams(); ++i)
        if (session.host.ParamDefs()[size_t(i)].param_type == PF_Param_POPUP &&
            std::string(session.host.ParamDefs()[size_t(i)].name) == "Renderer") {
            session.host.Param(i).u.pd.value = A_long(state.range(3));
            break;
        }
    if (!session.ready) {
        state.SkipWithError("the effect could not be set up");
        return;
    }
    double hostMs = 0, frameMs = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        host::RenderJob job;
        job.request.rect = {0, 0, width, height};
        job.bitdepth = bitdepth;
        if (session.host.SmartPreRender(job) || session.host.SmartRender(job)) {
            state.SkipWithError("the render failed");
            return;
        }
        frameMs += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        hostMs += job.hostMs;
    }
    double n = double(state.iterations());
    state.counters["frame_ms"] = frameMs / n;
    state.counters["host_ms"] = hostMs / n;
    state.counters["host_share_%"] = frameMs > 0 ? 100.0 * hostMs / frameMs : 0.0;
    state.counters["effect_and_gl_ms"] = (frameMs - hostMs) / n;
}

BENCHMARK(Frame)
    ->ArgNames({"width", "height", "bpc", "renderer"})
    ->Apply([](benchmark::internal::Benchmark* b) {
        for (int renderer : {2, 1})
            for (auto [w, h] : {std::pair{960, 540}, std::pair{1920, 1080}})
                for (int bpc : {8, 32}) b->Args({w, h, bpc, renderer});
    })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
