// The error overlay: exact copy conversions, and whole drawings through the
// in-process host with its books checked after each.
#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "host/HandleSuite.h"
#include "host/Host.h"
#include "host/PixelOps.h"
#include "host/SuiteRegistry.h"
#include "host/WorldSuite.h"
#include "shell/UF3.h"
#include "shell/UF3_Overlay.h"


namespace {
using Px = std::array<int, 4>;
Px Ch(const PF_Pixel8* p) { return {p->alpha, p->red, p->green, p->blue}; }
auto& Worlds() { return host::WorldTable::Instance(); }
auto& Handles() { return host::HandleTable::Instance(); }
auto& Suites() { return host::SuiteRegistry::Instance(); }
const AEGP_IterateSuite1 kFailingIterate{
    nullptr, [](A_long, void*, A_Err (*)(void*, A_long, A_long, A_long)) { return A_Err(PF_Err_OUT_OF_MEMORY); }};

TEST(OverlayCopy, UnpremultipliesOneRowIntoPaddedWorlds) {
    PF_EffectWorld w8{}, wf{};
    Worlds().New(3, 2, true, PF_PixelFormat_ARGB32, &w8);
    Worlds().New(3, 2, true, PF_PixelFormat_ARGB128, &wf);
    uint32_t surface[2][3] = {{}, {0xBFBF6420u, 0x00FFFFFFu, 0x40800000u}};  // A191 R191 G100 B32; A0; A64 R128
    CairoCopyRefcon rc{&w8, reinterpret_cast<unsigned char*>(surface), int(sizeof surface[0])};
    // Row 0 is clear, and the surface's next pixel is row 1's inked one: the row padding stays as it was.
    ASSERT_TRUE(w8.rowbytes >= 4 * A_long(sizeof(PF_Pixel8)) && wf.rowbytes >= 4 * A_long(sizeof(PF_PixelFloat)));
    *sampleIntegralCairo8(w8, 3, 0) = *sampleIntegralCairo8(w8, 1, 1) = {9, 7, 7, 7};
    *sampleIntegralCairo32(wf, 3, 0) = {9, 7, 7, 7};
    cairoCopy8(&rc, 0, 0, 2);
    EXPECT_EQ(Ch(sampleIntegralCairo8(w8, 3, 0)), (Px{9, 7, 7, 7}));
    cairoCopy8(&rc, 0, 1, 2);
    EXPECT_EQ(Ch(sampleIntegralCairo8(w8, 0, 1)), (Px{191, 255, 133, 42}));
    EXPECT_EQ(Ch(sampleIntegralCairo8(w8, 1, 1)), (Px{0, 7, 7, 7}));
    EXPECT_EQ(Ch(sampleIntegralCairo8(w8, 2, 1)), (Px{64, 255, 0, 0}));
    rc.world = &wf;
    cairoCopy32(&rc, 0, 0, 2);
    EXPECT_EQ(sampleIntegralCairo32(wf, 3, 0)->alpha, 9.0f);
    cairoCopy32(&rc, 0, 1, 2);
    const PF_PixelFloat* f = sampleIntegralCairo32(wf, 0, 1);
    EXPECT_FLOAT_EQ(f[0].green, 100 / 191.0f);
    EXPECT_FLOAT_EQ(f[0].blue, 32 / 191.0f);
    EXPECT_TRUE(f[1].red == 0.0f && f[2].red == 2.0f);  // zero alpha skipped; no clamping
    Worlds().Reset();
}

class Overlay : public ::testing::Test {
protected:
    void SetUp() override {
        Handles().Reset(), Worlds().Reset(), Suites().ResetBooks(), setenv("HOME", home.c_str(), 1);
        p.in_data = &h.In(), p.output_worldP = &out, p.downsampleScale = 1.0, h.In().width = 400;
    }
    void TearDown() override {
        Suites().ClearFaults(), std::filesystem::remove_all(home);
        if (out.data) Worlds().Dispose(&out);
        EXPECT_EQ(Suites().Outstanding() + Handles().Alive() + Handles().Misuses(), 0u);
        EXPECT_EQ(Worlds().Alive() + Worlds().Misuses(), 0u);
        oldHome ? setenv("HOME", oldHome, 1) : unsetenv("HOME");
    }
    // Draws text over a fresh opaque grey output; `prepare` may then spoil the host.
    PF_Err Draw(const std::string& text, PF_PixelFormat format, A_u_char grey, A_long w = 400, A_long ht = 200) {
        const PF_Pixel c{255, grey, grey, grey};
        if (out.data) Worlds().Dispose(&out);
        Worlds().New(w, ht, false, format, &out), host::Fill(nullptr, &c, nullptr, &out);
        if (p.pixelFormat = format; prepare) prepare();
        return DrawErrorString(p, text, &out, 1.0);
    }
    // Bounding box {left, top, right, bottom} of text drawn over black; every inked pixel yellow.
    Px Ink() {
        Px box{out.width, out.height, -1, -1};
        for (int i = 0, x, y; i < out.width * out.height; ++i) {
            const Px c = Ch(sampleIntegralCairo8(out, x = i % out.width, y = i / out.width));
            if (!c[1]) continue;
            EXPECT_TRUE(c[0] == 255 && c[2] == c[1] && c[3] == 0);
            peak = std::max(peak, c[1]);
            box = {std::min(box[0], x), std::min(box[1], y), std::max(box[2], x), std::max(box[3], y)};
        }
        return box;
    }
    const char* oldHome = std::getenv("HOME");
    // One folder per process: ctest runs the tests of this suite side by side.
    std::string home = testing::TempDir() + "uf3_overlay_" + std::to_string(::getpid());
    std::function<void()> prepare;
    int peak = 0;  // brightest red inked
    host::Host h;
    myParams p{};
    PF_EffectWorld out{};
};

TEST_F(Overlay, EmptyMessageVeilsTheExtentHintAtEachDepth) {
    EXPECT_EQ(Draw("", PF_PixelFormat_ARGB32, 255), PF_Err_NONE);
    for (int i = 0; i < 400 * 200; ++i)
        ASSERT_EQ(Ch(sampleIntegralCairo8(out, i % 400, i / 400)), (Px{255, 64, 64, 64})) << i;
    prepare = [&] { out.extent_hint = {0, 0, 2, 3}; };
    EXPECT_EQ(Draw("", PF_PixelFormat_ARGB128, 255, 5, 3), PF_Err_NONE);
    EXPECT_NEAR(sampleIntegralCairo32(out, 1, 2)->red, 64 / 255.0f, 1e-5);
    EXPECT_EQ(sampleIntegralCairo32(out, 2, 2)->red, 1.0f);  // outside the extent hint
    EXPECT_EQ(Draw("no overlay at 16 bits", PF_PixelFormat_ARGB64, 255, 5, 3), PF_Err_NONE);
    EXPECT_EQ(reinterpret_cast<PF_Pixel16*>(out.data)->red, PF_MAX_CHAN16);
}

TEST_F(Overlay, TextWrapsAtInputWidthPlusOriginOffsetAndScalesWithResolution) {
    h.In().width = 100;
    ASSERT_EQ(Draw("ab ab ab ab ab ab", PF_PixelFormat_ARGB32, 0), PF_Err_NONE);
    const Px narrow = Ink();
    prepare = [&] { out.origin_x = -300; };
    ASSERT_EQ(Draw("ab ab ab ab ab ab", PF_PixelFormat_ARGB32, 0), PF_Err_NONE);
    const Px wide = Ink();
    EXPECT_TRUE(narrow[2] < 110 && narrow[3] - narrow[1] > 70 && wide[2] > 200 && wide[3] - wide[1] < 35);
    EXPECT_EQ(peak, 190);  // 0.75 yellow on the 0.75 veil: 191/239 straight, then over black
    ASSERT_EQ(Draw("HEH", PF_PixelFormat_ARGB32, 0), PF_Err_NONE);
    const Px full = Ink();  // baseline (200 - 30) / 2 = 85
    p.downsampleScale = 0.5;
    ASSERT_EQ(Draw("HEH", PF_PixelFormat_ARGB32, 0), PF_Err_NONE);
    const Px half = Ink();  // baseline (200 - 15) / 2 = 92.5
    EXPECT_TRUE(std::abs(full[3] - 84) <= 1 && std::abs(half[3] - 92) <= 1) << full[3] << " " << half[3];
    EXPECT_NEAR(half[3] - half[1], (full[3] - full[1]) / 2.0, 1.5);
}

TEST_F(Overlay, HostFailuresAreReportedAndReleaseEverything) {
    for (int fault = 0; fault < 5; ++fault) {  // 4: wider than cairo draws
        prepare = [fault] {
            if (fault == 0) Worlds().FailAllocation(1);
            if (fault == 1) Handles().FailAllocation(1);
            if (fault == 2) Handles().FailLock(1);  // allocated, never locked
            if (fault == 3) Suites().Register(kAEGPIterateSuite, 1, &kFailingIterate);
        };
        EXPECT_EQ(Draw("x", PF_PixelFormat_ARGB32, 255, fault == 4 ? 40000 : 400, 1), PF_Err_OUT_OF_MEMORY) << fault;
        EXPECT_EQ(Ch(sampleIntegralCairo8(out, 0, 0)), (Px{255, 255, 255, 255})) << fault;
    }
    std::ifstream f(home + "/Library/Logs/Nimbral/umbrafex_3_error_log.txt");
    const std::string log(std::istreambuf_iterator<char>(f), {});
    for (const char* line : {"DrawErrorString()PF_Err_OUT_OF_MEMORY - output_worldP of size: 400x1. \n",
                             "err DrawString() !myCairo.m_success", "DrawString() cairoCopy()PF_Err_OUT_OF_MEMORY"})
        EXPECT_NE(log.find(line), std::string::npos) << line;
    prepare = [] { Suites().SetMissing(kAEGPIterateSuite, 1); };
    EXPECT_ANY_THROW(Draw("x", PF_PixelFormat_ARGB32, 255));
    bool free = false;
    std::thread([&] { if ((free = global_mutex.try_lock())) global_mutex.unlock(); }).join();
    EXPECT_TRUE(free && Worlds().Alive() == 1);  // the output alone
}
}  // namespace
