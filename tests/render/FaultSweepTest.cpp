// Every command a host sends, under a host or driver that refuses at every position the
// command reaches: its n-th world (or a world handed out with no pixels), handle, handle
// lock, suite (missing, or handed out null), stream, panel, drawing or undo call (refused,
// or a reference handed out as nothing), GL object, or its n-th iterate interrupted or
// handing a pixel outside its area. After each refusal: the command's result, nothing left
// undisposed (worlds, handles, locks, suites, effect references, streams, drawings,
// checkouts, the host's arbitrary data) and the host's context current again. Renders are
// swept on every road, with a texture layer; a refused world or handle there has its error
// come back and its line logged once, the output stays cleared until the passes draw into it
// (the message over it with Debug Analysis) and the texture goes back unless a thrown
// refusal cut the road short. A render thread whose context or render data was refused
// draws the message and renders the clean frame on its next render.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <barrier>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <thread>

#include <cairo.h>

#include "GradientStops.h"
#include "OpenGL/OpenGL.h"
#include "cgl/CGLTesting.h"
#include "host/AppSuite.h"
#include "host/CompWindow.h"
#include "host/EffectControls.h"
#include "host/PixelOps.h"
#include "host/Streams.h"
#include "params/GradientData.h"
#include "render/GLRefusal.h"
#include "render/RenderFixture.h"
#include "render/ThreadRenderData.h"

namespace {

struct Road {
    const char* name;
    int renderer, light;
    bool inner, debug;
    bool gradient = false;  // Fill Mode Gradient, so a gradient the road cannot read shows
};

// One way of refusing, by position: `refuse(n)` refuses the n-th from now (0 clears);
// `count()` grows by one for each position a command reaches.
struct Refusal {
    const char* name;
    long (*count)();
    void (*refuse)(long);
    bool cancel = false;  // an interrupt, not a failure
};

enum { kWorld, kEmptyWorld, kHandle, kLock, kMissingSuite, kNullSuite, kHostCall, kNullAnswer, kGLObject, kIterate, kStray };
const Refusal kRefusals[] = {
    {"world", [] { return host::WorldTable::Instance().Allocations(); },
     [](long n) { host::WorldTable::Instance().FailAllocation(n); }},
    {"empty world", [] { return host::WorldTable::Instance().Allocations(); },
     [](long n) { host::WorldTable::Instance().FailAllocation(n, PF_Err_NONE); }},
    {"handle", [] { return host::HandleTable::Instance().Allocations(); },
     [](long n) { host::HandleTable::Instance().FailAllocation(n); }},
    {"lock", [] { return host::HandleTable::Instance().LockCalls(); },
     [](long n) { host::HandleTable::Instance().FailLock(n); }},
    {"missing suite", [] { return host::SuiteRegistry::Instance().Acquisitions(); },
     [](long n) { host::SuiteRegistry::Instance().FailAcquisition(n); }},
    {"null suite", [] { return host::SuiteRegistry::Instance().Acquisitions(); },
     [](long n) { host::SuiteRegistry::Instance().FailAcquisition(n, true); }},
    {"host call", [] { return host::StreamCalls(); }, [](long n) { host::FailStreamCall(n); }},
    {"null answer", [] { return host::StreamCalls(); }, [](long n) { host::FailStreamCall(n, true); }},
    {"GL object", [] { return gl_refusal::Created(); }, [](long n) { gl_refusal::Refuse(n); }},
    {"iterate", [] { return host::IterateCalls(); }, [](long n) { host::SetIterateCancelAt(n); }, true},
    {"stray pixel", [] { return host::IterateCalls(); }, [](long n) { host::SetIterateStrayAt(n); }},
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

// Pixels of an 8-bit world: any drawn, and the overlay's yellow text.
struct Drawn {
    int drawn = 0, text = 0;
};
Drawn Look(const PF_EffectWorld& out) {
    Drawn d;
    for (A_long y = 0; y < out.height; ++y)
        for (A_long x = 0; x < out.width; ++x) {
            const auto& p = reinterpret_cast<const PF_Pixel*>(static_cast<const char*>(static_cast<const void*>(
                                out.data)) + y * out.rowbytes)[x];
            d.drawn += p.alpha || p.red || p.green || p.blue;
            d.text += p.red > 150 && p.green > 150 && p.blue < 50;
        }
    return d;
}

std::vector<unsigned char> Pixels(const PF_EffectWorld& out) {
    std::vector<unsigned char> bytes;
    for (A_long y = 0; y < out.height; ++y) {
        const auto* row = static_cast<const unsigned char*>(static_cast<const void*>(out.data)) + y * out.rowbytes;
        bytes.insert(bytes.end(), row, row + out.width * 4);
    }
    return bytes;
}

class FaultSweep : public EffectRender, public ::testing::WithParamInterface<Road> {
protected:
    void SetUp() override {
        EffectRender::SetUp();
        if (HasFatalFailure()) return;
        const Road road = GetParam();
        Set(UF3_RENDERER, road.renderer);
        Set(UF3_LIGHT_TYPE, road.light);
        Set(UF3_QUALITY_PRESET, 1);  // small buffers keep the sweep quick
        Check(UF3_INNER_SHADOW, road.inner);
        Check(UF3_DEBUG_ANALYSIS_ENABLE, road.debug);
        if (road.gradient) Set(UF3_FILL_MODE, UF3_FILL_GRADIENT);
        H().SetLayerSize(H().TextureLayer(), kW, kH);
        H().SetTextureLayerPresent(true);
        m_hostContext = MakeHostContext();
        ASSERT_NE(m_hostContext, nullptr);
        gGPUStageTestHook = &MarkGPUStage;
    }
    void TearDown() override {
        ClearRefusals();
        CGLSetCurrentContext(nullptr);
        if (m_hostContext) CGLDestroyContext(m_hostContext);
        EffectRender::TearDown();
    }

    static void ClearRefusals() {
        for (const Refusal& r : kRefusals) r.refuse(0);
    }

    // One 8-bit frame with `context` current; it must be current again after.
    PF_Err Render(host::RenderJob& job, CGLContextObj context) {
        EXPECT_EQ(CGLSetCurrentContext(context), kCGLNoError);
        g_gpuReached = false;
        job.request.rect = {0, 0, kW, kH};
        job.bitdepth = 8;
        PF_Err err = H().SmartPreRender(job);
        if (!err) err = H().SmartRender(job);
        EXPECT_EQ(CGLGetCurrentContext(), context) << "the host's context was not made current again";
        return err;
    }
    PF_Err Render(host::RenderJob& job) { return Render(job, m_hostContext); }

    // The first error pending on this thread's own context, which is left as it was found.
    GLenum PendingGLError() {
        if (!local_render_data || !local_render_data->local_ctx) return GL_NO_ERROR;
        CGLContextObj was = CGLGetCurrentContext();
        EXPECT_EQ(CGLSetCurrentContext(local_render_data->local_ctx), kCGLNoError);
        const GLenum first = glGetError();
        while (glGetError() != GL_NO_ERROR) {
        }
        EXPECT_EQ(CGLSetCurrentContext(was), kCGLNoError);
        return first;
    }

    // Nothing the command took is still out, against what was alive before it.
    void ExpectNothingLeft(size_t worlds, size_t handles) {
        auto& suites = host::SuiteRegistry::Instance();
        EXPECT_EQ(host::WorldTable::Instance().Alive(), worlds) << "a world left behind";
        EXPECT_EQ(host::HandleTable::Instance().Alive(), handles) << "a handle left behind";
        EXPECT_EQ(host::HandleTable::Instance().LocksHeld(), 0);
        EXPECT_EQ(suites.Outstanding(), 0) << suites.Describe();
        EXPECT_EQ(suites.OverReleased(), 0) << suites.Describe();
        const host::StreamBooks streams = host::StreamsOutstanding();
        EXPECT_EQ(streams.effects, 0) << "an effect reference left undisposed";
        EXPECT_EQ(streams.streams, 0) << "a stream left undisposed";
        EXPECT_EQ(streams.values, 0) << "a stream value left undisposed";
        EXPECT_EQ(streams.misuses, 0);
        EXPECT_EQ(host::UndoJournal::Instance().Depth(), 0) << "an undo group left open";
        EXPECT_EQ(host::DrawbotObjectsAlive(), 0u);
        EXPECT_EQ(H().CheckoutsOutstanding(), 0);
        EXPECT_EQ(H().ArbDisposalsRefused(), 0) << "arbitrary data the effect would not dispose";
        EXPECT_EQ(CGLGetCurrentContext(), m_hostContext) << "the host's context was not made current again";
    }

    // Runs `command` once clean to count what it reaches, then refused at each position, each
    // run after `prepare` (not refused). A refusal that is not an interrupt must fail the
    // command, unless `tolerated` says its answer is a sound success; a refused host call
    // fails it with the call's own error; an interrupt may only end it with 0 or a cancel.
    // `check` sees each refused run. Returns the positions swept, by refusal.
    using Checker = std::function<void(const Refusal&, long, PF_Err)>;
    using Tolerance = std::function<bool(const Refusal&, PF_Err)>;
    std::map<std::string, long> Sweep(const char* command, const std::function<void()>& prepare,
                                      const std::function<PF_Err()>& run, const Tolerance& tolerated = {},
                                      const Checker& check = {}) {
        std::map<std::string, long> swept;
        prepare();
        EXPECT_EQ(run(), PF_Err_NONE) << command << " fails with nothing refused";
        for (const Refusal& kind : kRefusals) {
            prepare();
            const long before = kind.count();
            EXPECT_EQ(run(), PF_Err_NONE) << command;
            const long positions = kind.count() - before;
            swept[kind.name] = positions;
            for (long n = 1; n <= positions; ++n) {
                SCOPED_TRACE(std::string(GetParam().name) + ": " + command + ", " + kind.name + " " +
                             std::to_string(n));
                const size_t worlds = host::WorldTable::Instance().Alive();
                const size_t handles = host::HandleTable::Instance().Alive();
                const long misuses = host::HandleTable::Instance().Misuses();
                prepare();
                kind.refuse(n);
                const PF_Err err = run();
                ClearRefusals();
                if (kind.cancel) {
                    EXPECT_TRUE(err == PF_Err_NONE || err == PF_Interrupt_CANCEL) << err;
                } else if (&kind != &kRefusals[kNullAnswer] && (!tolerated || !tolerated(kind, err))) {
                    EXPECT_NE(err, PF_Err_NONE) << "a refusal answered as a success";
                }
                // A host call refused or answered with nothing fails the command with the call's
                // own error, or leaves it what it could do without.
                if (&kind == &kRefusals[kHostCall] || &kind == &kRefusals[kNullAnswer]) {
                    EXPECT_TRUE(err == PF_Err_NONE || err == A_Err_ALLOC) << "a refused host call answered " << err;
                }
                if (check) check(kind, n, err);
                ExpectNothingLeft(worlds, handles);
                EXPECT_EQ(host::HandleTable::Instance().Misuses(), misuses) << "a handle used after it was gone";
            }
        }
        return swept;
    }

    void SweepNewThreads();

    // The host's value of the gradient, from these stops.
    void SetGradient(const std::vector<ArbGradientPt>& stops) {
        auto& handles = host::HandleTable::Instance();
        PF_Handle h = nullptr;
        ASSERT_EQ(Set_Arb_Gradient(handles.Suite(), &h, unsigned(stops.size()), stops.data()), PF_Err_NONE);
        H().SetArbitraryValue(UF3_COLOR_GRADIENT, h);
        handles.Dispose(h);
    }

    static void Report(const char* command, const std::map<std::string, long>& swept) {
        long total = 0;
        std::string line;
        for (const auto& [name, n] : swept) {
            total += n;
            if (n) line += " " + name + " " + std::to_string(n) + ",";
        }
        std::printf("[ sweep    ] %s: %ld positions:%s\n", command, total, line.c_str());
    }

    CGLContextObj m_hostContext = nullptr;
    // What the last refused render left, for the render sweep's checks.
    std::string m_lastLog;
    Drawn m_lastOutput;
    int m_lastCheckins = 0;
    bool m_lastHadOutput = false;
    std::vector<unsigned char> m_lastPixels;
    GLenum m_lastGLError = GL_NO_ERROR;
    long m_warmCreations = 0;
};

TEST_P(FaultSweep, RefusedRenderFailsCleanly) {
    const Road road = GetParam();
    EXPECT_EQ(CGLSetCurrentContext(m_hostContext), kCGLNoError);
    std::vector<unsigned char> clean;
    {
        host::RenderJob job;
        ASSERT_EQ(Render(job), PF_Err_NONE) << Log();
        EXPECT_EQ(job.pixelCheckins, 1) << "the texture goes back";
        clean = Pixels(job.output);
    }
    std::map<long, int> reached;  // by refusal kind's index: refusals that reached the road
    // The lock that reads the gradient: the render's last before the next parameter's check-out.
    long gradientRead = 0;
    {
        host::RenderJob job;
        job.request.rect = {0, 0, kW, kH};
        job.bitdepth = 8;
        const long before = host::HandleTable::Instance().LockCalls();
        ASSERT_EQ(H().SmartPreRender(job), PF_Err_NONE);
        H().FailCheckoutAt(UF3_GRADIENT_PT_SELECT);
        EXPECT_NE(H().SmartRender(job), PF_Err_NONE);
        H().FailCheckoutAt(-1);
        gradientRead = host::HandleTable::Instance().LockCalls() - before;
        EXPECT_EQ(CGLSetCurrentContext(m_hostContext), kCGLNoError);
    }
    bool gradientRefused = false;
    const auto swept = Sweep(
        "render", [] {},
        [&] {
            host::RenderJob job;
            const size_t logBefore = Log().size();
            const PF_Err err = Render(job);
            m_lastLog = Log().substr(logBefore);
            m_lastOutput = job.output.data ? Look(job.output) : Drawn{};
            m_lastCheckins = job.pixelCheckins;
            m_lastHadOutput = job.output.data != nullptr;
            m_lastPixels = m_lastHadOutput ? Pixels(job.output) : std::vector<unsigned char>{};
            m_lastGLError = PendingGLError();
            return err;
        },
        // A refusal the road can do without (a disposal the host's fallback served, a gradient
        // a solid fill does not use) may succeed, with the clean frame.
        [&](const Refusal&, PF_Err) { return m_lastPixels == clean; },
        [&](const Refusal& kind, long n, PF_Err err) {
            const bool world = &kind == &kRefusals[kWorld], handle = &kind == &kRefusals[kHandle];
            // Whatever failed, nothing is left for the next render's drain to report.
            EXPECT_EQ(m_lastGLError, GLenum(GL_NO_ERROR)) << "a GL error left pending";
            // An unreadable gradient fails a frame coloured with it, and only such a frame.
            if (&kind == &kRefusals[kLock] && n == gradientRead) {
                gradientRefused = true;
                if (road.gradient) {
                    EXPECT_NE(err, PF_Err_NONE) << "a gradient fill drawn without its gradient";
                } else {
                    EXPECT_EQ(err, PF_Err_NONE) << "a solid fill failed for a gradient it does not use";
                    EXPECT_EQ(m_lastPixels, clean);
                }
            }
            if (!m_lastHadOutput) return;  // the host's own checkouts, before the road starts
            reached[&kind - kRefusals]++;
            if (kind.cancel || err == PF_Err_NONE) return;
            // A refused suite is the host's answer, passed back; anything else is logged. The
            // refusal's own line, once; a refused parameter is logged again for each later one.
            const std::string& added = m_lastLog;
            if (std::string(kind.name).find("suite") == std::string::npos) {
                ASSERT_NE(added.find(": "), std::string::npos) << "nothing logged";
            }
            if (!world && !handle) return;
            EXPECT_EQ(err, PF_Err_OUT_OF_MEMORY);
            const size_t from = added.find(": ") + 2, to = added.find(" - input_worldP");
            const std::string line = added.substr(from, std::min(to, added.find('\n')) - from);
            EXPECT_EQ(added.find(line), added.rfind(line)) << added;
            if (world) {
                EXPECT_EQ(line.rfind("error initialising UF_EffectWorld of size: ", 0), 0u) << line;
            }
            // A thrown refusal ends the road before the check-in; the host takes the pixels back.
            EXPECT_EQ(m_lastCheckins, world ? 0 : 1);
            if (road.debug && world) {
                EXPECT_GT(m_lastOutput.text, 20) << "the message drawn over the frame";
            } else if (!g_gpuReached) {
                EXPECT_EQ(m_lastOutput.drawn, 0) << "the output was left cleared";
            }
        });
    Report((std::string(road.name) + " render").c_str(), swept);
    EXPECT_TRUE(gradientRefused) << "the gradient's read was never refused";
    if (road.renderer == UF3_RENDERER_STANDARD && road.light == UF3_LIGHT_POINT) SweepNewThreads();
    // Some refusal of each kind must reach the road, or the sweep proves nothing.
    for (int k : {kWorld, kHandle, kLock, kMissingSuite, kGLObject})
        EXPECT_GT(reached[k], 0) << road.name << ": no " << kRefusals[k].name << " refusal reached the road";

    // A refusal drawn over the frame while the overlay's own world is handed out empty: the
    // first failure is the answer, and the frame is left cleared.
    if (road.debug) {
        // The log's messages without their times.
        auto messages = [&](size_t from) {
            std::string text = Log().substr(from), out;
            for (size_t at = 0; at < text.size();) {
                const size_t end = std::min(text.find('\n', at), text.size());
                const size_t colon = text.find(": ", at);
                if (colon < end) out += text.substr(colon, end - colon) + "\n";
                at = end + 1;
            }
            return out;
        };
        long made = 0;
        std::string logged;
        {
            const long before = host::WorldTable::Instance().Allocations();
            const size_t logBefore = Log().size();
            host::RenderJob counted;
            gl_refusal::Refuse(1);
            EXPECT_NE(Render(counted), PF_Err_NONE);
            made = host::WorldTable::Instance().Allocations() - before;
            logged = messages(logBefore);
            EXPECT_GT(Look(counted.output).text, 20) << "the message drawn over the frame";
        }
        const size_t worlds = host::WorldTable::Instance().Alive(), handles = host::HandleTable::Instance().Alive();
        {
            const size_t logBefore = Log().size();
            host::RenderJob job;
            gl_refusal::Refuse(1);
            host::WorldTable::Instance().FailAllocation(made, PF_Err_NONE);  // the overlay's, the last made
            EXPECT_EQ(Render(job), PF_Err_OUT_OF_MEMORY);
            ClearRefusals();
            EXPECT_EQ(Look(job.output).drawn, 0) << "an overlay with no pixels drew";
            EXPECT_EQ(messages(logBefore), logged) << "an overlay with no pixels went on";
        }
        ExpectNothingLeft(worlds, handles);
    }

    // After every refusal the same thread renders the clean frame again.
    {
        host::RenderJob job;
        ASSERT_EQ(Render(job), PF_Err_NONE) << Log();
        EXPECT_EQ(Pixels(job.output), clean) << "a refusal left the thread rendering another frame";
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

// A new render thread whose context, pixel format or render data (shaders, programs, quad)
// is refused: the message is logged and drawn, nothing is left, and its next render builds
// what is missing and gives the clean frame. Done on one road: the thread's build is the same
// on all.
void FaultSweep::SweepNewThreads() {
    struct Outcome {
        PF_Err first = -1, second = -1;
        Drawn firstOutput;
        std::vector<unsigned char> second8;
        std::string secondLog;
        CGLContextObj current = nullptr;
    };
    // Renders twice on a thread of its own, the first after `refuse`.
    auto OnNewThread = [&](const std::function<void()>& refuse) {
        Outcome o;
        std::thread t([&] {
            {
                host::RenderJob job;
                refuse();
                o.first = Render(job, nullptr);
                ClearRefusals();
                UmbrafexCGL_ResetFailures();
                o.firstOutput = job.output.data ? Look(job.output) : Drawn{};
            }
            host::RenderJob job;
            const size_t logBefore = Log().size();
            o.second = Render(job, nullptr);
            o.secondLog = Log().substr(logBefore);
            if (job.output.data) o.second8 = Pixels(job.output);
            o.current = CGLGetCurrentContext();
        });
        t.join();
        return o;
    };
    const long before = gl_refusal::Created();
    const Outcome clean = OnNewThread([] {});
    ASSERT_EQ(clean.first, PF_Err_NONE) << Log();
    ASSERT_EQ(clean.second, PF_Err_NONE);
    const long firstRender = gl_refusal::Created() - before;
    const long beforeWarm = gl_refusal::Created();
    {
        host::RenderJob job;
        ASSERT_EQ(Render(job), PF_Err_NONE);  // this thread's render data exists from now
        host::RenderJob again;
        const long warmBefore = gl_refusal::Created();
        ASSERT_EQ(Render(again), PF_Err_NONE);
        ASSERT_GT(gl_refusal::Created() - beforeWarm, 0);
        m_warmCreations = gl_refusal::Created() - warmBefore;
    }
    // The creations a first render makes before the passes': the thread's own.
    const long build = firstRender - 2 * m_warmCreations;
    ASSERT_GT(build, 0);

    // Each kind of object the build makes, where it is made first and last: the first
    // program's two shaders and program, the last program's, then the quad's array and buffer.
    std::vector<std::function<void()>> refusals;
    for (long n : {1L, 2L, 3L, build - 4, build - 3, build - 2, build - 1, build})
        refusals.push_back([n] { gl_refusal::Refuse(n); });
    refusals.push_back([] { UmbrafexCGL_FailNextChoosePixelFormat(kCGLBadPixelFormat, 0); });
    refusals.push_back([] { UmbrafexCGL_FailNextCreateContext(kCGLBadAlloc); });
    ASSERT_GT(build, 8);
    std::printf("[ sweep    ] new render thread: %zu positions of %ld: GL object 8 of %ld, pixel format 1, context 1\n",
                refusals.size(), build + 2, build);
    for (size_t i = 0; i < refusals.size(); ++i) {
        SCOPED_TRACE("thread refusal " + std::to_string(i + 1));
        const size_t worlds = host::WorldTable::Instance().Alive();
        const size_t handles = host::HandleTable::Instance().Alive();
        const size_t logBefore = Log().size();
        const Outcome o = OnNewThread(refusals[i]);
        // The failure is drawn over the frame at once, and the render skips the passes.
        EXPECT_EQ(o.first, PF_Err_NONE);
        EXPECT_NE(Log().find("InitThreadLocalRenderData", logBefore), std::string::npos) << Log().substr(logBefore);
        EXPECT_GT(o.firstOutput.text, 20) << "the message drawn over the frame";
        EXPECT_EQ(o.second, PF_Err_NONE);
        EXPECT_EQ(o.second8, clean.second8) << "the next render on the thread is not the clean frame";
        EXPECT_EQ(o.secondLog, "") << "the next render found something to report";
        EXPECT_EQ(o.current, nullptr) << "the thread's own context left current";
        EXPECT_EQ(CGLSetCurrentContext(m_hostContext), kCGLNoError);
        ExpectNothingLeft(worlds, handles);
    }
}

// ---- Refused GL storage and transfers ------------------------------------------------------
// A driver out of memory refuses storage and pixel transfers as well as names. At every such
// call a render makes, on one thread and on each of eight that live across the frames: the
// refused render fails with 4 and one line naming the call, no GL error is left for the next
// render, and the next render on that thread is the clean frame with nothing logged. A new
// thread whose quad was refused its storage builds it again.
TEST_P(FaultSweep, RefusedGLTransferFailsItsFrameOnly) {
    const Road road = GetParam();
    gGPUStageTestHook = nullptr;  // its mark is not for several threads
    // One 8-bit frame on this thread with `context` current: its result, pixels and log lines.
    struct Rendered {
        PF_Err err = -1;
        std::vector<unsigned char> pixels;
        std::string log;
        int checkins = 0;
    };
    auto RenderOn = [&](CGLContextObj context) {
        Rendered r;
        const size_t logBefore = Log().size();
        host::RenderJob job;
        EXPECT_EQ(CGLSetCurrentContext(context), kCGLNoError);
        job.request.rect = {0, 0, kW, kH};
        job.bitdepth = 8;
        r.err = H().SmartPreRender(job);
        if (!r.err) r.err = H().SmartRender(job);
        EXPECT_EQ(CGLGetCurrentContext(), context) << "the host's context was not made current again";
        if (job.output.data) r.pixels = Pixels(job.output);
        r.log = Log().substr(logBefore);
        r.checkins = job.pixelCheckins;
        return r;
    };
    // The lines of `log` that name the refused call.
    auto Naming = [](const std::string& log, const std::string& call) {
        const std::string line = call + " failed: GL_OUT_OF_MEMORY (0x505)";
        int n = 0;
        for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) ++n;
        return n;
    };

    ASSERT_EQ(RenderOn(m_hostContext).err, PF_Err_NONE) << Log();  // this thread's render data exists
    const long before = gl_refusal::Transfers();
    const Rendered clean = RenderOn(m_hostContext);
    ASSERT_EQ(clean.err, PF_Err_NONE);
    const long positions = gl_refusal::Transfers() - before;

    std::map<std::string, long> calls;
    for (long n = 1; n <= positions; ++n) {
        SCOPED_TRACE(std::string(road.name) + ": transfer " + std::to_string(n) + " of " + std::to_string(positions));
        const size_t worlds = host::WorldTable::Instance().Alive(), handles = host::HandleTable::Instance().Alive();
        gl_refusal::RefuseTransfer(n);
        const Rendered refused = RenderOn(m_hostContext);
        gl_refusal::RefuseTransfer(0);
        const std::string call = gl_refusal::LastRefusedTransfer();
        calls[call]++;
        EXPECT_EQ(refused.err, PF_Err_OUT_OF_MEMORY) << call << " refused, answered as " << refused.err;
        EXPECT_EQ(Naming(refused.log, call), 1) << "not one line naming " << call << ":\n" << refused.log;
        EXPECT_EQ(refused.checkins, 1) << "the texture goes back";
        EXPECT_EQ(PendingGLError(), GLenum(GL_NO_ERROR)) << "a GL error left pending";
        ExpectNothingLeft(worlds, handles);
        const Rendered next = RenderOn(m_hostContext);
        EXPECT_EQ(next.err, PF_Err_NONE);
        EXPECT_EQ(next.pixels, clean.pixels) << "the next render is not the clean frame";
        EXPECT_EQ(next.log, "") << "the next render found something to report";
    }
    std::string line;
    for (const auto& [call, n] : calls) line += " " + call + " " + std::to_string(n) + ",";
    std::printf("[ sweep    ] %s render, storage and transfers: %ld positions:%s\n", road.name, positions,
                line.c_str());
    // Each road uploads and reads back; the Standard roads at Low quality make mipmaps; the
    // Raytraced road also scales with a blit and fills a buffer for each pass.
    std::vector<std::string> expected{"glTexSubImage2D", "glReadPixels"};
    if (road.renderer == UF3_RENDERER_STANDARD) expected.push_back("glGenerateMipmap");
    else expected.insert(expected.end(), {"glBlitFramebuffer", "glBufferData"});
    for (const std::string& call : expected) EXPECT_GT(calls[call], 0) << road.name << ": no " << call << " refused";

    // Eight render threads that live across the frames, each with its own context and render
    // data: at each position every thread in turn is refused, then renders again. One render
    // at a time, so that each step's log lines are that render's own.
    constexpr int kThreads = 8;
    const size_t worlds = host::WorldTable::Instance().Alive(), handles = host::HandleTable::Instance().Alive();
    std::array<std::vector<Rendered>, kThreads> refusedOn, nextOn;
    std::array<std::vector<std::string>, kThreads> callOn;
    std::array<Rendered, kThreads> warmOn;
    std::vector<std::string> stepLogs;  // what each step logged: the warm renders, then refused and next
    size_t from = Log().size();
    std::barrier step(kThreads, [&]() noexcept {
        stepLogs.push_back(Log().substr(from));
        from = Log().size();
    });
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int k = 0; k < kThreads; ++k) {
                if (k == t) warmOn[size_t(t)] = RenderOn(nullptr);
                step.arrive_and_wait();
            }
            for (long n = 1; n <= positions; ++n) {
                for (int k = 0; k < kThreads; ++k) {
                    if (k == t) {
                        gl_refusal::RefuseTransfer(n);
                        refusedOn[size_t(t)].push_back(RenderOn(nullptr));
                        gl_refusal::RefuseTransfer(0);
                        callOn[size_t(t)].push_back(gl_refusal::LastRefusedTransfer());
                    }
                    step.arrive_and_wait();
                    if (k == t) nextOn[size_t(t)].push_back(RenderOn(nullptr));
                    step.arrive_and_wait();
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(CGLSetCurrentContext(m_hostContext), kCGLNoError);
    ASSERT_EQ(stepLogs.size(), size_t(kThreads + 2 * kThreads * positions));
    for (size_t t = 0; t < kThreads; ++t) {
        EXPECT_EQ(warmOn[t].err, PF_Err_NONE) << "thread " << t;
        EXPECT_EQ(warmOn[t].pixels, clean.pixels) << "thread " << t << ": not the clean frame";
        EXPECT_EQ(stepLogs[t], "") << "thread " << t;
    }
    for (long n = 1; n <= positions; ++n) {
        for (size_t t = 0; t < kThreads; ++t) {
            SCOPED_TRACE(std::string(road.name) + ": thread " + std::to_string(t) + " of eight, transfer " +
                         std::to_string(n));
            const size_t at = kThreads + 2 * (size_t(n - 1) * kThreads + t);
            const std::string& call = callOn[t][size_t(n - 1)];
            EXPECT_EQ(call, callOn[0][size_t(n - 1)]) << "another call at the same position";
            EXPECT_EQ(refusedOn[t][size_t(n - 1)].err, PF_Err_OUT_OF_MEMORY) << call << " refused";
            EXPECT_EQ(Naming(stepLogs[at], call), 1) << "not one line naming " << call << ":\n" << stepLogs[at];
            EXPECT_EQ(nextOn[t][size_t(n - 1)].err, PF_Err_NONE);
            EXPECT_EQ(nextOn[t][size_t(n - 1)].pixels, clean.pixels) << "the next render is not the clean frame";
            EXPECT_EQ(stepLogs[at + 1], "") << "the next render found something to report";
        }
    }
    ExpectNothingLeft(worlds, handles);

    // A new thread whose quad is refused its storage: the message is logged and drawn, and its
    // next render builds the quad again and gives the clean frame.
    if (road.renderer != UF3_RENDERER_STANDARD || road.light != UF3_LIGHT_POINT) return;
    Rendered first, second;
    int drawnText = 0;
    std::thread([&] {
        gl_refusal::RefuseTransfer(1);  // the thread's first: the quad's storage, before any pass
        host::RenderJob job;
        const size_t logBefore = Log().size();
        job.request.rect = {0, 0, kW, kH};
        job.bitdepth = 8;
        first.err = H().SmartPreRender(job);
        if (!first.err) first.err = H().SmartRender(job);
        gl_refusal::RefuseTransfer(0);
        first.log = Log().substr(logBefore);
        if (job.output.data) drawnText = Look(job.output).text;
        EXPECT_STREQ(gl_refusal::LastRefusedTransfer(), "glBufferData");
        second = RenderOn(nullptr);
    }).join();
    EXPECT_EQ(CGLSetCurrentContext(m_hostContext), kCGLNoError);
    EXPECT_EQ(first.err, PF_Err_NONE) << "the thread's render data fails as its objects do";
    EXPECT_EQ(Naming(first.log, "InitQuad glBufferData"), 1) << first.log;
    EXPECT_NE(first.log.find("InitThreadLocalRenderData:!InitQuad"), std::string::npos) << first.log;
    EXPECT_GT(drawnText, 20) << "the message drawn over the frame";
    EXPECT_EQ(second.err, PF_Err_NONE);
    EXPECT_EQ(second.pixels, clean.pixels) << "the quad was not built again";
    EXPECT_EQ(second.log, "") << "the next render found something to report";
    ExpectNothingLeft(worlds, handles);
}

// The other commands: sequence set-up, flatten and unflatten, the parameter update, user
// changes, the arbitrary-data callbacks and the panel and window draws.
TEST_P(FaultSweep, RefusedCommandFailsCleanly) {
    EXPECT_EQ(CGLSetCurrentContext(m_hostContext), kCGLNoError);
    auto& handles = host::HandleTable::Instance();
    auto nothing = [] {};

    // Set up again after a set-down; a refused one is set up once more, unrefused.
    Report("sequence setup", Sweep("sequence setup", nothing, [&] {
               EXPECT_EQ(H().SequenceSetdown(), PF_Err_NONE);
               const PF_Err err = H().SequenceSetup();
               ClearRefusals();
               if (!H().SequenceData()) {
                   EXPECT_EQ(H().SequenceSetup(), PF_Err_NONE);
               }
               return err;
           }));
    Report("flatten", Sweep("flatten", nothing, [&] { return H().SequenceFlatten(); }));
    Report("unflatten", Sweep("unflatten", nothing, [&] { return H().SequenceResetup(); }));

    // The first update of an instance initialises it; each run starts uninitialised.
    Report("parameter update", Sweep("parameter update", [&] { Check(UF3_INIT, false); },
                                     [&] { return H().Send(PF_Cmd_UPDATE_PARAMS_UI); }));

    // User changes, each from the same values off their defaults and a gradient of two stops.
    // A success under a refusal must leave what the clean change leaves.
    auto start = [&] {
        host::UndoJournal::Instance().Reset();  // the streams each run sets, below
        SetGradient({{0.0, {1, 1, 1, 0}}, {0.6, {1, 0, 0, 1}}});
        H().Param(UF3_GRADIENT_PT_SELECT).u.sd.value = 1;
        H().Param(UF3_POINT_LOCATION).u.fd.value = 30 << 16;
        H().Param(UF3_LIGHT_DIRECTION).u.ad.value = 45 << 16;
        for (int i : {UF3_LIGHT_RADIUS_STD, UF3_LIGHT_SOFTNESS, UF3_LIGHT_RADIUS_RT}) Float(i, 40);
        Float(UF3_LIGHT_SOFTNESS, 7);
        Set(UF3_RENDERER, UF3_RENDERER_RAYTRACED);
    };
    auto state = [&] {
        std::vector<unsigned char> bytes;
        for (int i = 1; i < H().NumParams(); ++i) {
            const PF_ParamDef& p = H().Param(i);
            if (p.param_type == PF_Param_ARBITRARY_DATA) {
                for (const ArbGradientPt& stop : StopsOf(handles.Suite(), p.u.arb_d.value)) {
                    const auto* b = reinterpret_cast<const unsigned char*>(&stop);
                    bytes.insert(bytes.end(), b, b + sizeof stop);
                }
            } else {
                const auto* b = reinterpret_cast<const unsigned char*>(&p.u);
                bytes.insert(bytes.end(), b, b + sizeof p.u);
            }
        }
        return bytes;
    };
    // The streams set since the run's start: a stream set to the value it had shows only here.
    auto streamsSet = [] {
        std::vector<int> set = host::UndoJournal::Instance().Ungrouped();
        for (const host::UndoGroup& g : host::UndoJournal::Instance().Groups())
            set.insert(set.end(), g.changes.begin(), g.changes.end());
        std::sort(set.begin(), set.end());
        return set;
    };
    for (int button : {UF3_LIGHT_SOFTNESS, UF3_RESET_GRADIENT, UF3_RESET_COLOR, UF3_RESET_STYLE, UF3_POINT_LOCATION,
                       UF3_SHIFT_COLORS}) {
        const std::string name = "user change " + std::to_string(button);
        auto change = [&] {
            PF_UserChangedParamExtra extra{button};
            return H().Send(PF_Cmd_USER_CHANGED_PARAM, &extra);
        };
        start();
        ASSERT_EQ(change(), PF_Err_NONE) << name;
        const std::vector<unsigned char> changed = state();
        const std::vector<int> changedStreams = streamsSet();
        // A target whose keyframes cannot be read counts as animated and keeps its value.
        const bool sync = button == UF3_LIGHT_SOFTNESS;
        // A change that failed was not made whole.
        Report(name.c_str(), Sweep(name.c_str(), start, change,
                                   [&](const Refusal& kind, PF_Err err) {
                                       return !err && (state() == changed || (sync && &kind == &kRefusals[kHostCall]));
                                   },
                                   [&](const Refusal&, long, PF_Err err) {
                                       if (err) {
                                           EXPECT_FALSE(state() == changed && streamsSet() == changedStreams)
                                               << "a change made whole answered " << err;
                                       }
                                   }));
    }
    // With a target keyframed, setting it would fail: an unread keyframe must not be taken
    // for none.
    PF_ParamDef key = H().Param(UF3_LIGHT_RADIUS_STD);
    for (double t : {0.0, 1.0}) key.u.fs_d.value = 100 + t, H().SetKeyframe(UF3_LIGHT_RADIUS_STD, t, key);
    Report("user change 24 keyframed", Sweep("user change 24 keyframed", start, [&] {
               PF_UserChangedParamExtra extra{UF3_LIGHT_SOFTNESS};
               return H().Send(PF_Cmd_USER_CHANGED_PARAM, &extra);
           }, [&](const Refusal& kind, PF_Err err) { return &kind == &kRefusals[kHostCall] && !err; }));
    H().ClearKeyframes(UF3_LIGHT_RADIUS_STD);
    Set(UF3_RENDERER, GetParam().renderer);

    // The arbitrary-data callbacks on the gradient, each handed copies the host made.
    PF_Handle a = nullptr, b = nullptr, made = nullptr;
    std::vector<char> flat;
    auto copies = [&] {
        std::vector<ArbGradientPt> stops =
            StopsOf(handles.Suite(), H().Param(UF3_COLOR_GRADIENT).u.arb_d.value);
        Set_Arb_Gradient(handles.Suite(), &a, unsigned(stops.size()), stops.data());
        stops[0].position = 0.25;
        Set_Arb_Gradient(handles.Suite(), &b, unsigned(stops.size()), stops.data());
        const auto* bytes = static_cast<const char*>(*a);
        flat.assign(bytes, bytes + handles.Size(a));
        made = nullptr;
    };
    auto arb = [&](PF_FunctionSelector which) {
        A_u_long size = 0;
        PF_ArbCompareResult same = PF_ArbCompare_EQUAL;
        PF_ArbParamsExtra extra{};
        extra.which_function = which;
        extra.id = H().ParamDefs()[UF3_COLOR_GRADIENT].u.arb_d.id;
        switch (which) {
            case PF_Arbitrary_NEW_FUNC: extra.u.new_func_params.arbPH = &made; break;
            case PF_Arbitrary_DISPOSE_FUNC: extra.u.dispose_func_params.arbH = a; break;
            case PF_Arbitrary_COPY_FUNC:
                extra.u.copy_func_params.src_arbH = a;
                extra.u.copy_func_params.dst_arbPH = &made;
                break;
            case PF_Arbitrary_FLAT_SIZE_FUNC:
                extra.u.flat_size_func_params.arbH = a;
                extra.u.flat_size_func_params.flat_data_sizePLu = &size;
                break;
            case PF_Arbitrary_FLATTEN_FUNC:
                extra.u.flatten_func_params.arbH = a;
                extra.u.flatten_func_params.buf_sizeLu = A_u_long(flat.size());
                extra.u.flatten_func_params.flat_dataPV = flat.data();
                break;
            case PF_Arbitrary_UNFLATTEN_FUNC:
                extra.u.unflatten_func_params.buf_sizeLu = A_u_long(flat.size());
                extra.u.unflatten_func_params.flat_dataPV = flat.data();
                extra.u.unflatten_func_params.arbPH = &made;
                break;
            case PF_Arbitrary_INTERP_FUNC:
                extra.u.interp_func_params.left_arbH = a;
                extra.u.interp_func_params.right_arbH = b;
                extra.u.interp_func_params.tF = 0.5;
                extra.u.interp_func_params.interpPH = &made;
                break;
            case PF_Arbitrary_COMPARE_FUNC:
                extra.u.compare_func_params.a_arbH = a;
                extra.u.compare_func_params.b_arbH = b;
                extra.u.compare_func_params.compareP = &same;
                break;
        }
        const PF_Err err = H().ArbitraryRequest(extra);
        // Handed back to the effect: it is gone whatever the effect was refused.
        if (which == PF_Arbitrary_DISPOSE_FUNC) {
            EXPECT_FALSE(handles.IsAlive(a)) << "data handed back not disposed";
        }
        if (which == PF_Arbitrary_COMPARE_FUNC && !err) {
            EXPECT_EQ(same, PF_ArbCompare_NOT_EQUAL);
        }
        for (PF_Handle h : {a, b, made})
            if (h && handles.IsAlive(h)) handles.Dispose(h);
        a = b = made = nullptr;
        return err;
    };
    const char* kArbNames[] = {"new", "dispose", "copy", "flat size", "flatten", "unflatten", "interpolate",
                               "compare"};
    for (PF_FunctionSelector which = PF_Arbitrary_NEW_FUNC; which <= PF_Arbitrary_COMPARE_FUNC; ++which) {
        const std::string name = std::string("arbitrary ") + kArbNames[which];
        // Disposal without the suite still gives the data back; a comparison that cannot look
        // answers "not equal", so the host keeps both.
        Report(name.c_str(), Sweep(name.c_str(), copies, [&] { return arb(which); }, [&](const Refusal&, PF_Err err) {
                   return (which == PF_Arbitrary_DISPOSE_FUNC || which == PF_Arbitrary_COMPARE_FUNC) && !err;
               }));
    }

    // The Effect Controls panel (header image, gradient editor) and the composition and layer
    // windows (the point light's handle).
    // A drawing may succeed only as the clean one drew (the host's disposal of the effect's
    // copy of the gradient, refused, is served without the suite).
    auto drawn = [](host::DrawbotCanvas& canvas) {
        cairo_surface_flush(canvas.Surface());
        const unsigned char* data = cairo_image_surface_get_data(canvas.Surface());
        return std::vector<unsigned char>(
            data, data + size_t(cairo_image_surface_get_stride(canvas.Surface())) * size_t(canvas.Height()));
    };
    Set(UF3_FILL_MODE, UF3_FILL_GRADIENT);
    Set(UF3_LIGHT_TYPE, UF3_LIGHT_POINT);
    Check(UF3_SHOW_LIGHT_OUTLINE, true);
    ASSERT_EQ(H().Send(PF_Cmd_UPDATE_PARAMS_UI), PF_Err_NONE);  // the gradient editor shown
    host::EffectControls panel(H());
    ASSERT_NE(panel.Control(UF3_COLOR_GRADIENT), nullptr);
    ASSERT_EQ(panel.DrawPanel(), PF_Err_NONE);
    const std::vector<unsigned char> cleanPanel = drawn(panel.Canvas());
    // Without the application's suite its colours fall back to defaults, with the message.
    auto soundPanel = [&](const Refusal&, PF_Err err) {
        return !err && (drawn(panel.Canvas()) == cleanPanel ||
                        host::SuiteRegistry::Instance().LastRefused() == kPFAppSuite);
    };
    Report("panel draw", Sweep("panel draw", nothing, [&] { return panel.DrawPanel(); }, soundPanel));
    for (bool layerWindow : {false, true}) {
        host::WindowView view;
        view.type = layerWindow ? PF_Window_LAYER : PF_Window_COMP;
        host::CompWindow window(H(), view);
        const char* name = layerWindow ? "layer window draw" : "composition window draw";
        // The handle's drawing reports to nobody: the draw event answers success whatever it drew.
        Report(name, Sweep(name, nothing, [&] { return window.Draw(); }, [&](const Refusal&, PF_Err) { return true; }));
        EXPECT_EQ(window.UnbalancedDrawings(), 0);
    }
    EXPECT_EQ(panel.UnbalancedDrawings(), 0);
}

// The user's edits with the mouse: each gradient editor event (a click that adds or selects, a
// drag that moves or removes, a double click that picks a colour, each button) and the point
// light's radius drag. At every refusal the result is an error exactly when the edit was not
// made whole, and a failed edit made none of it: the host's gradient, switches, selection and
// radius are as they were, and no drag goes on.
TEST_P(FaultSweep, RefusedEditIsMadeWholeOrNotAtAll) {
    EXPECT_EQ(CGLSetCurrentContext(m_hostContext), kCGLNoError);
    auto& handles = host::HandleTable::Instance();
    const int radius = GetParam().renderer == UF3_RENDERER_STANDARD ? UF3_LIGHT_RADIUS_STD : UF3_LIGHT_RADIUS_RT;
    auto state = [&] {
        std::vector<double> v;
        for (const ArbGradientPt& s : StopsOf(handles.Suite(), H().Param(UF3_COLOR_GRADIENT).u.arb_d.value))
            v.insert(v.end(), {s.position, s.color.alpha, s.color.red, s.color.green, s.color.blue});
        v.insert(v.end(), {double(H().Param(UF3_GRADIENT_PT_SELECT).u.sd.value),
                           double(H().Param(UF3_POINT_LOCATION).u.fd.value),
                           double(H().Param(UF3_POINT_LOCATION).ui_flags & PF_PUI_DISABLED),
                           double(H().Param(UF3_LINEAR_BLENDING).u.bd.value),
                           double(H().Param(UF3_INTERPOLATE).u.bd.value), H().Param(radius).u.fs_d.value});
        return v;
    };
    // Sweeps `edit` after `prepare`, against the state the clean edit leaves; `dragging` says
    // whether a drag is under way after it.
    auto sweep = [&](const std::string& name, const std::function<void()>& prepare, const std::function<PF_Err()>& edit,
                     const std::function<bool()>& dragging) {
        std::vector<double> before, changed;
        auto prepared = [&] {
            prepare();
            before = state();
        };
        prepared();
        ASSERT_EQ(edit(), PF_Err_NONE) << name;
        changed = state();
        ASSERT_NE(changed, before) << name << " changes nothing: the sweep could not tell";
        Report(name.c_str(), Sweep(name.c_str(), prepared, edit,
                                   [&](const Refusal&, PF_Err err) { return !err && state() == changed; },
                                   [&](const Refusal&, long, PF_Err err) {
                                       const std::vector<double> now = state();
                                       EXPECT_EQ(err != PF_Err_NONE, now != changed)
                                           << "answered " << err << " for an edit " << (now == changed ? "made" : "not made");
                                       if (err) {
                                           EXPECT_EQ(now, before) << "a failed edit made a part of itself";
                                           EXPECT_FALSE(dragging()) << "a drag goes on after a failed edit";
                                       }
                                   }));
    };

    Set(UF3_FILL_MODE, UF3_FILL_GRADIENT);
    ASSERT_EQ(H().Send(PF_Cmd_UPDATE_PARAMS_UI), PF_Err_NONE);  // the gradient editor shown
    host::EffectControls panel(H());
    const host::PanelControl* control = panel.Control(UF3_COLOR_GRADIENT);
    ASSERT_NE(control, nullptr);
    const float X = control->control.left + 12.0f, T = float(control->control.top);
    const float W = float(control->control.right - control->control.left) - 24.0f, B = T + 32.0f;
    auto under = [&](double position, float dy) {
        return PF_Point{A_long(std::lround(X + position * W)), A_long(std::lround(B + dy))};
    };
    auto button = [&](int index) {
        const float width = (W + 8) / 3;
        return PF_Point{A_long(X - 9 + (index % 3) * (width + 5) + width / 2), A_long(T + 65 + (index / 3) * 21)};
    };
    // Three stops, the last selected, Linear Blending off and Interpolate on.
    auto start = [&] {
        if (panel.Dragging()) EXPECT_EQ(panel.Release(under(0.5, 10)), PF_Err_NONE);
        SetGradient({{0.0, {1, 1, 0, 0}}, {0.5, {1, 0, 1, 0}}, {1.0, {1, 0, 0, 1}}});
        H().Param(UF3_GRADIENT_PT_SELECT).u.sd.value = 2;
        H().Param(UF3_POINT_LOCATION).u.fd.value = 100 << 16;
        H().Param(UF3_POINT_LOCATION).ui_flags &= ~PF_PUI_DISABLED;
        Check(UF3_LINEAR_BLENDING, false);
        Check(UF3_INTERPOLATE, true);
    };
    auto grab = [&] {
        start();
        EXPECT_EQ(panel.Click(UF3_COLOR_GRADIENT, under(0.5, 10)), PF_Err_NONE);
        EXPECT_TRUE(panel.Dragging());
    };
    auto click = [&](PF_Point at, int clicks = 1) { return [&panel, at, clicks] { return panel.Click(UF3_COLOR_GRADIENT, at, clicks); }; };
    auto panelDragging = [&] { return panel.Dragging(); };
    sweep("editor add", start, click(under(0.3, 9)), panelDragging);
    sweep("editor select", start, click(under(0.5, 10)), panelDragging);
    sweep("editor move", grab, [&] { return panel.DragTo(under(0.6, 10)); }, panelDragging);
    sweep("editor remove", grab, [&] { return panel.DragTo(under(0.5, 80)); }, panelDragging);
    sweep("editor double click", [&] {
        start();
        host::AppServices::Instance().AnswerPicker({1.0f, 0.2f, 0.4f, 0.6f});
    }, click(under(0.5, 10), 2), panelDragging);
    host::AppServices::Instance().Reset();  // answers a refused event left unused
    for (int b = 0; b < 6; ++b) sweep("editor button " + std::to_string(b), start, click(button(b)), panelDragging);
    EXPECT_EQ(panel.UnbalancedDrawings(), 0);

    // The point light's radius, dragged from its box's top-right corner in the layer window.
    Set(UF3_LIGHT_TYPE, UF3_LIGHT_POINT);
    host::WindowView view;
    view.type = PF_Window_LAYER;
    host::CompWindow window(H(), view);
    auto at = [&](double x, double y) {
        window.LayerToFrame(&x, &y);
        return PF_Point{A_long(std::lround(x)), A_long(std::lround(y))};
    };
    auto corner = [&] {
        start();
        Float(radius, 20);
        if (window.Dragging()) EXPECT_EQ(window.Release(at(kLightX + 20, kLightY - 20)), PF_Err_NONE);
        EXPECT_EQ(window.Click(at(kLightX + 20, kLightY - 20)), PF_Err_NONE);
        EXPECT_TRUE(window.Dragging());
    };
    sweep("light radius drag", corner, [&] { return window.DragTo(at(kLightX + 30, kLightY + 40)); },
          [&] { return window.Dragging(); });
    EXPECT_EQ(window.UnbalancedDrawings(), 0);
    Set(UF3_LIGHT_TYPE, GetParam().light);
}

// Global set-up and set-down, each at every refusal: set-up may do without what it is refused
// (no record, or one without a context), set-down frees the record and the context whatever
// it is refused and answers the refusal. Nothing is left, and the thread's context is as the
// clean command leaves it: the host's after set-up, none after a set-down that destroyed one.
TEST_P(FaultSweep, RefusedGlobalSetupAndSetdownFreeAll) {
    EXPECT_EQ(CGLSetCurrentContext(m_hostContext), kCGLNoError);
    auto& handles = host::HandleTable::Instance();
    const int contexts = UmbrafexCGL_LiveContexts();
    // Set-down frees what this thread's render data does not share: the context set-up made.
    ASSERT_EQ(H().GlobalSetdown(), PF_Err_NONE);
    ASSERT_EQ(UmbrafexCGL_LiveContexts(), contexts - 1);
    ASSERT_EQ(CGLSetCurrentContext(m_hostContext), kCGLNoError);
    const size_t alive = handles.Alive();

    // Each set-up is set down again, unrefused, within its run: what it made must all go.
    bool sound = false;  // the last set-up made no record, one without a context, or a whole one
    Report("global setup", Sweep("global setup", [] {}, [&] {
               const PF_Err err = H().GlobalSetup();
               ClearRefusals();
               EXPECT_EQ(CGLGetCurrentContext(), m_hostContext) << "set-up left its context current";
               const PF_Handle globalH = H().GlobalData();
               const auto* global = globalH ? static_cast<const GlobalData*>(handles.Lock(globalH)) : nullptr;
               sound = !global || (global->context ? global->glRenderer[0] != 0 : global->glRenderer[0] == 0);
               if (global) handles.Unlock(globalH);
               if (globalH) EXPECT_EQ(H().GlobalSetdown(), PF_Err_NONE);
               EXPECT_EQ(UmbrafexCGL_LiveContexts(), contexts - 1) << "a context set-up made outlived set-down";
               EXPECT_EQ(CGLSetCurrentContext(m_hostContext), kCGLNoError);
               return err;
           },
           // Set-up does without what it is refused: no record, or a record without a context
           // (and then no driver strings). The run's own set-down reaches positions too.
           [&](const Refusal&, PF_Err err) { return !err && sound; }));
    EXPECT_EQ(handles.Alive(), alive);

    auto setup = [&] {
        if (!H().GlobalData()) EXPECT_EQ(H().GlobalSetup(), PF_Err_NONE);
        EXPECT_EQ(UmbrafexCGL_LiveContexts(), contexts);
    };
    Report("global setdown", Sweep("global setdown", setup, [&] { return H().GlobalSetdown(); }, {},
                                   [&](const Refusal&, long, PF_Err) {
                                       EXPECT_EQ(H().GlobalData(), nullptr);
                                       EXPECT_EQ(handles.Alive(), alive) << "the global record left with the host";
                                       EXPECT_EQ(UmbrafexCGL_LiveContexts(), contexts - 1) << "the global context left alive";
                                       EXPECT_EQ(CGLGetCurrentContext(), nullptr);
                                       EXPECT_EQ(CGLSetCurrentContext(m_hostContext), kCGLNoError);
                                   }));
    ASSERT_EQ(H().GlobalSetup(), PF_Err_NONE);  // for the fixture's own set-down
    EXPECT_EQ(CGLSetCurrentContext(m_hostContext), kCGLNoError);
}

INSTANTIATE_TEST_SUITE_P(Roads, FaultSweep,
                         ::testing::Values(Road{"standard-point", 1, 2, false, false},
                                           Road{"standard-directional", 1, 1, false, false, true},
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
