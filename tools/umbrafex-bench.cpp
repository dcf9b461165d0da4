// Frame-time benchmark: the sample scene rendered through the in-process host
// at two sizes and two depths, with the host-side share of each frame.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>

#include "SampleScene.h"
#include "host/Host.h"

namespace {

struct Session {
    host::Host host;
    bool ready = false;
    explicit Session(A_long width, A_long height) {
        if (!host.Load(UMBRAFEX_MODULE_PATH)) return;
        ready = !host.GlobalSetup() && !host.Send(PF_Cmd_PARAMS_SETUP) && !host.SequenceSetup();
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
    ->ArgNames({"width", "height", "bpc"})
    ->Args({960, 540, 8})
    ->Args({960, 540, 32})
    ->Args({1920, 1080, 8})
    ->Args({1920, 1080, 32})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
