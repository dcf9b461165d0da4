// Whole frames through the host, with the effect linked in (so tests reach its
// GPU-stage hook, and need no module): a 200 x 100 layer with an opaque red square, a Standard
// point light left of it, the log in a temporary HOME, the books checked after.
#pragma once

#include <stdlib.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "HostFixture.h"
#include "params/UF3_ParamIndex.h"
#include "render/UF3_Render.h"
#include "shell/UF3.h"

// An output frame as straight-alpha floats (alpha, red, green, blue), read in
// the layer's coordinates; outside it reads transparent.
struct Frame {
    PF_Err err = PF_Err_NONE;
    A_long originX = 0, originY = 0, width = 0, height = 0;
    std::vector<std::array<float, 4>> argb;

    std::array<float, 4> At(int x, int y) const {
        x -= originX;
        y -= originY;
        if (x < 0 || y < 0 || x >= width || y >= height) return {0, 0, 0, 0};
        return argb[size_t(y) * size_t(width) + size_t(x)];
    }
    float Alpha(int x, int y) const { return At(x, y)[0]; }
};

// An edge along a line of samples taken from inside outwards: where it falls
// through one half (interpolated, in samples from the start; -1 if it does
// not) and how many samples lie between 10 % and 90 %.
struct Edge {
    double half = -1;
    int ramp = 0;
};
inline Edge EdgeOf(const std::vector<float>& v) {
    Edge e;
    for (size_t i = 0; i + 1 < v.size() && e.half < 0; ++i)
        if (v[i] >= 0.5f && v[i + 1] < 0.5f) e.half = double(i) + (v[i] - 0.5) / (double(v[i]) - v[i + 1]);
    for (float a : v) e.ramp += a > 0.1f && a < 0.9f;
    return e;
}
// At the default quality (Moderate) the Standard roads sample the input through
// mipmaps and blur at 0.6 of the resolution: an edge may move by a pixel and
// soften by three, not more.
inline void ExpectLikeExtreme(const Edge& moderate, const Edge& extreme) {
    ASSERT_GE(extreme.half, 0) << "no edge to compare";
    EXPECT_NEAR(moderate.half, extreme.half, 1.0);
    EXPECT_LE(std::abs(moderate.ramp - extreme.ramp), 3) << moderate.ramp << " against " << extreme.ramp;
}

class EffectRender : public LoadedModule {
protected:
    static constexpr int kW = 200, kH = 100;
    static constexpr int kLeft = 60, kTop = 35, kRight = 90, kBottom = 65;  // the square
    static constexpr int kLightX = 20, kLightY = 50;

    void SetUp() override {
        std::string home = (std::filesystem::temp_directory_path() / "uf3_render_XXXXXX").string();
        ASSERT_NE(mkdtemp(home.data()), nullptr);
        m_home = home;
        if (const char* old = std::getenv("HOME")) m_oldHome = old;
        setenv("HOME", home.c_str(), 1);

        // LoadedModule's books without its module: the effect is linked in.
        host::HandleTable::Instance().Reset();
        host::WorldTable::Instance().Reset();
        host::SuiteRegistry::Instance().ClearFaults();
        host::SuiteRegistry::Instance().ResetBooks();
        m_host = std::make_unique<host::Host>();
        H().SetEffectMain(&EffectMain);
        ASSERT_EQ(H().GlobalSetup(), PF_Err_NONE);
        ASSERT_EQ(H().Send(PF_Cmd_PARAMS_SETUP), PF_Err_NONE);
        ASSERT_EQ(H().SequenceSetup(), PF_Err_NONE);

        PF_EffectWorld& layer = H().SetLayerSize(H().EffectLayer(), kW, kH);
        for (int y = kTop; y < kBottom; ++y) {
            auto* row = reinterpret_cast<PF_PixelFloat*>(reinterpret_cast<char*>(layer.data) + y * layer.rowbytes);
            for (int x = kLeft; x < kRight; ++x) row[x] = {1, 1, 0, 0};
        }
        Set(UF3_RENDERER, UF3_RENDERER_STANDARD);
        Set(UF3_LIGHT_TYPE, UF3_LIGHT_POINT);
        Set(UF3_QUALITY_PRESET, UF3_QUALITY_EXTREME);  // full-size working buffers
        H().Param(UF3_LIGHT_ORIGIN).u.td.x_value = kLightX << 16;
        H().Param(UF3_LIGHT_ORIGIN).u.td.y_value = kLightY << 16;
        Float(UF3_LIGHT_RADIUS_STD, 0);  // every copy blurred by one pixel only
        Float(UF3_SHADOW_LENGTH, 800);   // the last copy is scaled by 2
        Float(UF3_SHADOW_OFFSET_POINT, 0);
        Float(UF3_EASING_MASTER, 0);
        Float(UF3_OPACITY_START_STD, 100);
        Float(UF3_OPACITY_END_STD, 100);
        H().Param(UF3_COLOR).u.cd.value = PF_Pixel{255, 0, 0, 255};  // blue shadow
    }

    void TearDown() override {
        gGPUStageTestHook = nullptr;
        if (m_host) {  // the books count the layers' pixels as alive
            H().DisposeWorld(H().EffectLayer().pixels);
            if (H().TextureLayer().pixels.data) H().DisposeWorld(H().TextureLayer().pixels);
        }
        LoadedModule::TearDown();
        if (m_oldHome.empty()) unsetenv("HOME");
        else setenv("HOME", m_oldHome.c_str(), 1);
        std::error_code ec;
        std::filesystem::remove_all(m_home, ec);
    }

    void Float(int i, double v) { H().Param(i).u.fs_d.value = v; }
    void Set(int i, int v) { H().Param(i).u.pd.value = v; }
    void Check(int i, bool on) { H().Param(i).u.bd.value = on; }

    // Pre-render and render of the request (the whole layer) at 8 or 32 bits per channel.
    Frame Render(short bitdepth = 32, PF_LRect request = {0, 0, kW, kH}) {
        host::RenderJob job;
        job.request.rect = request;
        job.bitdepth = bitdepth;
        Frame f;
        f.err = H().SmartPreRender(job);
        if (f.err == PF_Err_NONE) f.err = H().SmartRender(job);
        const PF_EffectWorld& out = job.output;
        if (!out.data) return f;
        f.originX = out.origin_x;
        f.originY = out.origin_y;
        f.width = out.width;
        f.height = out.height;
        for (A_long y = 0; y < out.height; ++y) {
            const char* row = reinterpret_cast<const char*>(out.data) + y * out.rowbytes;
            for (A_long x = 0; x < out.width; ++x) {
                if (bitdepth == 32) {
                    const auto& p = reinterpret_cast<const PF_PixelFloat*>(row)[x];
                    f.argb.push_back(std::array<float, 4>{p.alpha, p.red, p.green, p.blue});
                } else {
                    const auto& p = reinterpret_cast<const PF_Pixel*>(row)[x];
                    const float k = 1.0f / 255.0f;
                    f.argb.push_back(std::array<float, 4>{p.alpha * k, p.red * k, p.green * k, p.blue * k});
                }
            }
        }
        return f;
    }

    std::string Log() const {
        std::ifstream in(m_home / "Library/Logs/Nimbral/umbrafex_3_error_log.txt");
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    std::filesystem::path m_home;
    std::string m_oldHome;
};
