// Each render thread's own context, programs and quad: built once, found again, made on
// several threads at once, torn down with the thread, and not kept when creation failed; and
// render threads that live across many frames, as a host's do.
#include <gtest/gtest.h>

#include <array>
#include <barrier>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "OpenGL/OpenGL.h"
#include "cgl/CGLTesting.h"
#include "open_gl/Framebuffer.h"
#include "render/GLFixture.h"
#include "render/RenderFixture.h"
#include "render/ThreadRenderData.h"

namespace {

// Draws one flat colour through the copy program and the thread's quad; returns the pixel read.
std::array<float, 4> DrawColour(const std::array<float, 4>& colour) {
    PF_OutData out{};
    Framebuffer source, target;
    for (Framebuffer* f : {&source, &target}) f->FramebufferInit(4, 4, 1, 32, GL_RGBA32F, GL_RGBA, GL_FLOAT);
    std::vector<float> pixels;
    for (int i = 0; i < 16; ++i) pixels.insert(pixels.end(), colour.begin(), colour.end());
    UploadFloats(source.GetTAO(PING), 4, 4, GL_RGBA, pixels);

    LocalGLStruct& record = *local_render_data;
    target.BindFBO(PING, true);
    glActiveTexture(GL_TEXTURE0);
    source.BindTAO(PING);
    record.programs[kCopyProgram].Use(&out);
    const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    glUniformMatrix4fv(glGetUniformLocation(record.programs[kCopyProgram].id(), "xform"), 1, GL_TRUE, identity);
    glBindVertexArray(record.quadVAO);
    glDrawArrays(GL_TRIANGLE_FAN, 0, 4);
    glBindVertexArray(0);
    glUseProgram(0);
    const std::vector<float> got = ReadRGBA(target.GetFBO(PING), 4, 4);
    return {got[20], got[21], got[22], got[23]};
}

class ThreadRenderData : public ::testing::Test {
protected:
    void SetUp() override {
        UmbrafexCGL_ResetFailures();
        m_contexts = UmbrafexCGL_LiveContexts();
    }
    void TearDown() override {
        UmbrafexCGL_ResetFailures();
        EXPECT_EQ(UmbrafexCGL_LiveContexts(), m_contexts) << "a thread's context outlived it";
    }
    int m_contexts = 0;
};

TEST_F(ThreadRenderData, TheFirstRenderBuildsEverythingAndTheNextOnlyMakesItCurrent) {
    std::thread([&] {  // a thread of its own, so its record goes when the thread ends
        PF_OutData out{};
        ASSERT_FALSE(local_render_data);
        ASSERT_NO_THROW(InitThreadLocalRenderData(nullptr, &out)) << Message(out);
        ASSERT_TRUE(local_render_data);
        LocalGLStruct* record = local_render_data.get();
        EXPECT_NE(record->local_ctx, nullptr);
        EXPECT_EQ(CGLGetCurrentContext(), record->local_ctx);
        EXPECT_EQ(UmbrafexCGL_LiveContexts(), m_contexts + 1);
        std::array<GLuint, kProgramSlotCount> ids{};
        for (int slot = 0; slot < kProgramSlotCount; ++slot) {
            ids[size_t(slot)] = record->programs[size_t(slot)].id();
            EXPECT_EQ(record->programs[size_t(slot)].initialised(), slot != 1 && slot != 15) << "slot " << slot;
        }
        EXPECT_EQ(DrawColour({0.25f, 0.5f, 0.75f, 1.0f}), (std::array<float, 4>{0.25f, 0.5f, 0.75f, 1.0f}));

        // The render road hands the thread back to the host's context between renders.
        SetCurrentContext(nullptr, false);
        ASSERT_NO_THROW(InitThreadLocalRenderData(nullptr, &out));
        EXPECT_EQ(local_render_data.get(), record);
        EXPECT_EQ(CGLGetCurrentContext(), record->local_ctx);
        EXPECT_EQ(UmbrafexCGL_LiveContexts(), m_contexts + 1) << "no second context";
        for (int slot = 0; slot < kProgramSlotCount; ++slot)
            EXPECT_EQ(record->programs[size_t(slot)].id(), ids[size_t(slot)]) << "slot " << slot << " rebuilt";
        EXPECT_EQ(DrawColour({1.0f, 0.0f, 0.5f, 0.5f}), (std::array<float, 4>{1.0f, 0.0f, 0.5f, 0.5f}));

        // Tearing the record down leaves the thread with nothing current and the context gone.
        local_render_data.reset();
        EXPECT_EQ(CGLGetCurrentContext(), nullptr);
        EXPECT_EQ(UmbrafexCGL_LiveContexts(), m_contexts);
    }).join();
}

// A quad whose buffer has no storage draws nothing: the next call builds it again, even when
// the driver's refusal was read by someone else and the names look whole.
TEST_F(ThreadRenderData, AQuadWithoutStorageIsBuiltAgain) {
    std::thread([&] {  // a thread of its own, so its record goes when the thread ends
        PF_OutData out{};
        ASSERT_NO_THROW(InitThreadLocalRenderData(nullptr, &out)) << Message(out);
        LocalGLStruct& record = *local_render_data;
        glBindBuffer(GL_ARRAY_BUFFER, record.quadVBO);
        glBufferData(GL_ARRAY_BUFFER, 0, nullptr, GL_STATIC_DRAW);
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        const GLuint program = record.programs[kCopyProgram].id();
        ASSERT_NO_THROW(InitThreadLocalRenderData(nullptr, &out)) << Message(out);
        EXPECT_EQ(record.programs[kCopyProgram].id(), program) << "the programs were whole";
        GLint size = 0;
        glBindBuffer(GL_ARRAY_BUFFER, record.quadVBO);
        glGetBufferParameteriv(GL_ARRAY_BUFFER, GL_BUFFER_SIZE, &size);
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        EXPECT_EQ(size, 80);
        EXPECT_EQ(DrawColour({0.25f, 0.5f, 0.75f, 1.0f}), (std::array<float, 4>{0.25f, 0.5f, 0.75f, 1.0f}));
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    }).join();
}

TEST_F(ThreadRenderData, TwoThreadsRenderAtOnceEachOnItsOwnContext) {
    std::barrier together(2);
    std::array<CGLContextObj, 2> contexts{};
    std::array<std::array<float, 4>, 2> drawn{};
    const std::array<std::array<float, 4>, 2> colours{{{1.0f, 0.0f, 0.0f, 1.0f}, {0.0f, 0.5f, 1.0f, 0.25f}}};
    const auto render = [&](size_t t) {
        PF_OutData out{};
        EXPECT_NO_THROW(InitThreadLocalRenderData(nullptr, &out)) << Message(out);
        contexts[t] = CGLGetCurrentContext();
        // Both hold their contexts before either draws, and both draw before either ends.
        together.arrive_and_wait();
        if (local_render_data) drawn[t] = DrawColour(colours[t]);
        together.arrive_and_wait();
    };
    std::thread first(render, 0), second(render, 1);
    first.join(), second.join();
    EXPECT_TRUE(contexts[0] && contexts[1] && contexts[0] != contexts[1]) << contexts[0] << " " << contexts[1];
    EXPECT_EQ(drawn, colours);
}

TEST_F(ThreadRenderData, AFailedContextIsReportedAndTheNextRenderTriesAgain) {
    TempHome home;
    std::thread([&] {  // a thread of its own, so its record goes when the thread ends
        PF_OutData out{};
        UmbrafexCGL_FailNextCreateContext(kCGLBadAlloc);
        try {
            InitThreadLocalRenderData(nullptr, &out);
            ADD_FAILURE() << "a render without a context must not go on";
        } catch (const std::string& text) {
            EXPECT_EQ(text, "InitThreadLocalRenderData:!local_render_data->local_ctx");
        }
        const std::string expected = std::string("CreateContext errorCGLCreateContext error: ") +
                                     CGLErrorString(kCGLBadAlloc);
        EXPECT_EQ(Message(out), expected);
        EXPECT_EQ(home.LogMessages(), std::vector<std::string>{expected});
        EXPECT_FALSE(local_render_data) << "no record without a context stays on the thread";
        EXPECT_EQ(CGLGetCurrentContext(), nullptr);

        // The pixel format's failure reads the same way, with its count.
        PF_OutData second{};
        UmbrafexCGL_FailNextChoosePixelFormat(kCGLBadPixelFormat, 0);
        EXPECT_THROW(InitThreadLocalRenderData(nullptr, &second), std::string);
        EXPECT_EQ(Message(second), std::string("CreateContext errorCGLChoosePixelFormat error: ") +
                                       CGLErrorString(kCGLBadPixelFormat) + " (npix: 0)");

        // The next render on this thread gets a context, programs and quad.
        PF_OutData third{};
        ASSERT_NO_THROW(InitThreadLocalRenderData(nullptr, &third)) << Message(third);
        ASSERT_TRUE(local_render_data);
        EXPECT_NE(local_render_data->local_ctx, nullptr);
        EXPECT_EQ(CGLGetCurrentContext(), local_render_data->local_ctx);
        EXPECT_TRUE(local_render_data->programs[kFinalPassProgram].initialised());
        EXPECT_EQ(DrawColour({0.5f, 0.5f, 0.5f, 0.5f}), (std::array<float, 4>{0.5f, 0.5f, 0.5f, 0.5f}));
    }).join();
}

// A host keeps its render threads: each renders frame after frame on the context, programs
// and quad its first frame made, with the others doing the same at the same time. Mesa's
// llvmpipe crashes under this unless the threads take turns at their GL work.
class PersistentRenderThreads : public EffectRender {
protected:
    void SetUp() override {
        EffectRender::SetUp();
        Set(UF3_LIGHT_TYPE, UF3_LIGHT_DIRECTIONAL);
        H().Param(UF3_LIGHT_DIRECTION).u.ad.value = FLOAT2FIX(135);
        // Many copies make many draws and framebuffer changes: the driver's crash needs them.
        Float(UF3_SHADOW_LENGTH, 40);
        Float(UF3_SAMPLES, 40);
        Float(UF3_LIGHT_RADIUS_STD, 3);
        Float(UF3_SHADOW_OFFSET_DIR, 0);
        Set(UF3_QUALITY_PRESET, UF3_QUALITY_MODERATE);
    }
};

TEST_F(PersistentRenderThreads, EightThreadsRenderFortyFramesEachAllTheReference) {
    constexpr int kThreads = 8, kFrames = 40;
    const int contextsBefore = UmbrafexCGL_LiveContexts();
    Frame reference;
    std::thread([&] { reference = Render(8); }).join();
    ASSERT_EQ(reference.err, PF_Err_NONE);
    ASSERT_GT(reference.Alpha(kRight + 10, kBottom + 10), 0.5f) << "no shadow in the reference";
    const std::string logBefore = Log();

    struct Tally {
        int failed = 0, wrong = 0, firstBad = -1;
    };
    std::array<Tally, kThreads> tallies{};
    std::barrier together(kThreads);
    std::vector<std::thread> threads;
    for (Tally& tally : tallies)
        threads.emplace_back([&] {
            together.arrive_and_wait();
            for (int frame = 0; frame < kFrames; ++frame) {
                const Frame f = Render(8);
                const bool same = f.err == PF_Err_NONE && f.argb.size() == reference.argb.size() &&
                                  f.width == reference.width &&
                                  std::memcmp(f.argb.data(), reference.argb.data(),
                                              f.argb.size() * sizeof f.argb[0]) == 0;
                tally.failed += f.err != PF_Err_NONE;
                tally.wrong += !same;
                if (!same && tally.firstBad < 0) tally.firstBad = frame;
            }
        });
    for (std::thread& t : threads) t.join();
    for (size_t t = 0; t < tallies.size(); ++t) {
        EXPECT_EQ(tallies[t].failed, 0) << "thread " << t << ": frames answered with an error";
        EXPECT_EQ(tallies[t].wrong, 0) << "thread " << t << ": frames unlike the reference, the first "
                                       << tallies[t].firstBad;
    }
    EXPECT_EQ(Log(), logBefore) << "a clean frame logged something";
    EXPECT_EQ(UmbrafexCGL_LiveContexts(), contextsBefore) << "each thread's context goes with it";
}

}  // namespace
