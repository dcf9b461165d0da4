// The Raytraced road: the built-in blue noise, the jump-flood field against a brute-force
// nearest-seed search, the shading passes against a CPU twin of their formulas, and whole
// frames through the host checked by where the shadow falls and what the views show.
#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <functional>
#include <numeric>
#include <sstream>
#include <tuple>
#include <vector>

#include "render/GLFixture.h"
#include "render/RenderFixture.h"
#include "render/ThreadRenderData.h"
#include "render/UF3_Raytraced.h"
#include "resources/BlueNoise.h"

namespace {

constexpr float kNoSeed = 65535.0f;

float BoxDistance(float px, float py, float cx, float cy) {
    const float ax = std::fabs(px - cx) - 0.5f, ay = std::fabs(py - cy) - 0.5f;
    const float ox = std::max(ax, 0.0f), oy = std::max(ay, 0.0f);
    return std::sqrt(ox * ox + oy * oy) + std::min(std::max(ax, ay), 0.0f);
}

TEST(BlueNoiseData, ImageIsBlueNoiseAndPointsAreWellSpreadInEveryPrefix) {
    std::vector<double> red;
    for (int i = 0; i < kBlueNoiseSize * kBlueNoiseSize; ++i) red.push_back(blue_noise_img[4 * i]);
    const double mean = std::accumulate(red.begin(), red.end(), 0.0) / double(red.size());
    EXPECT_EQ(*std::min_element(red.begin(), red.end()), 0);
    EXPECT_EQ(*std::max_element(red.begin(), red.end()), 255);
    EXPECT_NEAR(mean, 127.5, 1.0);

    // Power of a Hann-windowed 64 x 64 window: the whole by Parseval, the band below an eighth of
    // the sampling rate by a direct transform. White noise is flat (ratio about 1); blue noise is not.
    constexpr int n = 64;
    std::vector<double> f(n * n);
    double energy = 0, dc = 0, low = 0;
    int lowCount = 0;
    for (int i = 0; i < n * n; ++i) {
        const int x = i % n, y = i / n;
        const double hann = std::sin(M_PI * (x + 0.5) / n) * std::sin(M_PI * (y + 0.5) / n);
        f[size_t(i)] = (red[size_t(y + 301) * kBlueNoiseSize + size_t(x + 77)] - mean) * hann * hann;
        energy += f[size_t(i)] * f[size_t(i)], dc += f[size_t(i)];
    }
    for (int kx = -n / 8; kx <= n / 8; ++kx)
        for (int ky = -n / 8; ky <= n / 8; ++ky) {
            if (std::hypot(kx, ky) < 1 || std::hypot(kx, ky) > n / 8) continue;  // skip the mean's leakage
            std::complex<double> F = 0;
            for (int i = 0; i < n * n; ++i)
                F += f[size_t(i)] * std::polar(1.0, -2 * M_PI * (kx * (i % n) + ky * (i / n)) / n);
            low += std::norm(F), ++lowCount;
        }
    EXPECT_LT(low / lowCount / ((n * n * energy - dc * dc) / (n * n - 1)), 0.2) << "low-frequency over mean power";

    // Every prefix a quality preset uses keeps its points apart; random points come ten times closer.
    for (float c : blue_noise_points) ASSERT_TRUE(c >= 0.0f && c < 1.0f) << c;
    for (const int count : {12, 25, 50, 100, 250}) {
        double nearest = 1;
        for (int i = 0; i < count; ++i)
            for (int j = 0; j < i; ++j) {
                const double dx = std::fabs(blue_noise_points[2 * i] - blue_noise_points[2 * j]);
                const double dy = std::fabs(blue_noise_points[2 * i + 1] - blue_noise_points[2 * j + 1]);
                nearest = std::min(nearest, std::hypot(std::min(dx, 1 - dx), std::min(dy, 1 - dy)));
            }
        EXPECT_GT(nearest * std::sqrt(count), 0.5) << "first " << count << " points";
    }
}

// The passes on this thread's own GL state, as a render has it.
class RaytracedPasses : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        PF_OutData out{};
        try {
            InitThreadLocalRenderData(nullptr, &out);
        } catch (const std::string& text) {
            s_error = text;
        }
    }
    void SetUp() override {
        ASSERT_TRUE(s_error.empty()) << s_error;
        ASSERT_EQ(SetCurrentContext(local_render_data->local_ctx, false), "");
    }

    // A record for an input (and field, and output) of w x h at 32 bits per channel.
    static void Record(myParams& p, int w, int h, int ssaa = 1) {
        p.bitdepth = 32, p.ssaa = ssaa, p.lightType = UF3_LIGHT_DIRECTIONAL, p.alphaThreshold = 0.5f;
        p.inRes[0] = p.outRes[0] = float(w), p.inRes[1] = p.outRes[1] = float(h);
        p.jfaRes[0] = float(w * ssaa), p.jfaRes[1] = float(h * ssaa);
    }

    // Buffers allocated as Init_SD_Res does, field-resolution alpha (GL rows) and noise in.
    static void Prepare(const myParams& p, SDBuffers& sd, const std::vector<float>& fieldAlpha) {
        AllocateSDBuffers(p, sd);
        UploadFloats(sd[1].GetTAO(PING), int(p.jfaRes[0]), int(p.jfaRes[1]), GL_RED, fieldAlpha);
        sd[5].NoiseTexInit(blue_noise_img);
    }

    inline static std::string s_error;
};

TEST_F(RaytracedPasses, JumpFloodFindsTheNearestSeedAsABruteForceSearchDoes) {
    const int point = UF3_LIGHT_POINT, directional = UF3_LIGHT_DIRECTIONAL;
    const struct { int w, h, passes, resultIndex; float threshold; bool inner; int lightType; bool inverse;
                   float offset[2]; int ssaa = 1; } cases[] = {
        // 2^m sides run m passes, 2^m + 1 run m + 1; odd counts end in buffer 3.
        {256, 3, 8, 2, 0.5f, false, directional, false, {0, 0}},
        {257, 2, 9, 3, 0.5f, false, directional, false, {0, 0}},
        {33, 29, 6, 2, 0.5f, true, directional, false, {0, 0}},
        {31, 17, 5, 3, 0.5f, false, directional, false, {3, -2}},
        // The source scaled by 2 about (0.5, 0.5): lookups land on texel centres, unfiltered.
        {24, 20, 5, 3, 0.5f, false, point, false, {0.5f, 0}},
        {24, 20, 5, 3, 0.5f, false, point, true, {2, 0}},
        {1, 1, 0, 2, 0.5f, false, directional, false, {0, 0}},
        {9, 7, 4, 2, 2.0f, false, directional, false, {0, 0}},  // no seed at all
        // An alpha equal to the threshold seeds, up to the disc's edges, in fields of 1 and 2 texels a pixel.
        {40, 36, 6, 2, 1.0f, false, directional, false, {0, 0}},
        {40, 36, 6, 2, 1.0f, false, directional, false, {0, 0}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.w << "x" << c.h << " inner " << c.inner << " light " << c.lightType
                                          << " threshold " << c.threshold << " field " << c.ssaa << "x");
        // A disc of full alpha, a lone texel above the threshold and a faint one below it.
        const auto alpha = [&](int x, int y) -> float {
            if (x < 0 || y < 0 || x >= c.w || y >= c.h) return 0.0f;
            const float dx = x - c.w * 0.6f, dy = y - c.h * 0.4f;
            if (dx * dx + dy * dy < c.h * c.h / 9.0f + 1) return 1.0f;
            return x == 1 && y == c.h - 1 ? 0.7f : x == c.w - 2 && y == 0 ? 0.3f : 0.0f;
        };
        std::vector<float> in;
        std::vector<uint8_t> seed;
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x) {
                in.push_back(alpha(x, y));
                int lx = x + int(c.offset[0]), ly = y + int(c.offset[1]);
                if (c.lightType == UF3_LIGHT_POINT) lx = 2 * x, ly = 2 * y;
                seed.push_back(c.inner ? alpha(lx, ly) <= 1 - c.threshold : alpha(lx, ly) >= c.threshold);
            }
        myParams p{};
        Record(p, c.w / c.ssaa, c.h / c.ssaa, c.ssaa);  // w x h is the field's size
        p.alphaThreshold = c.threshold, p.innerShadow = c.inner;
        p.lightType = c.lightType, p.sdInverseShadow = c.inverse;
        p.shadowOffset[0] = c.offset[0], p.shadowOffset[1] = c.offset[1];
        p.lightPosition[0] = p.lightPosition[1] = 0.5f;
        SDBuffers sd{};
        Prepare(p, sd, in);
        ProcJFA(p, sd);
        EXPECT_EQ(JumpFloodPassCount(c.w, c.h), c.passes);
        EXPECT_EQ(p.jfaResultIndex, c.resultIndex);
        const std::vector<float> field = ReadRGBA(sd[size_t(p.jfaResultIndex)].GetFBO(PING), c.w, c.h);

        // The passes replayed on the CPU from the expected seeds give the same field, exactly.
        std::vector<float> flood;  // the nearest seed's x, y per texel
        for (int i = 0; i < c.w * c.h; ++i)
            flood.insert(flood.end(), {seed[size_t(i)] ? float(i % c.w) : kNoSeed,
                                       seed[size_t(i)] ? float(i / c.w) : kNoSeed});
        for (int m = 0, k = 1 << std::max(c.passes - 1, 0); m < c.passes; ++m, k /= 2) {
            std::vector<float> next;
            for (int y = 0; y < c.h; ++y)
                for (int x = 0; x < c.w; ++x) {
                    float best = 1e30f, qx = kNoSeed, qy = kNoSeed;
                    for (int i = -k; i <= k; i += k)
                        for (int j = -k; j <= k; j += k) {
                            if (x + i < 0 || y + j < 0 || x + i >= c.w || y + j >= c.h) continue;
                            const float* q = &flood[size_t((y + j) * c.w + x + i) * 2];
                            const float d = BoxDistance(x + 0.5f, y + 0.5f, q[0] + 0.5f, q[1] + 0.5f);
                            if (q[0] != kNoSeed && d < best) best = d, qx = q[0], qy = q[1];
                        }
                    next.push_back(qx), next.push_back(qy);
                }
            flood = next;
        }
        // Against a brute-force search: exact, but for the inner shadow, where jump flooding
        // (by its nature, not a fault) misses the nearest seed at a few texels.
        int differ = 0, missed = 0;
        for (int i = 0; i < c.w * c.h; ++i) {
            const float x = i % c.w + 0.5f, y = i / c.w + 0.5f, *q = &field[size_t(i) * 4];
            differ += q[0] != flood[size_t(i) * 2] || q[1] != flood[size_t(i) * 2 + 1];
            float best = 1e30f;
            for (int s = 0; s < c.w * c.h; ++s)
                if (seed[size_t(s)]) best = std::min(best, BoxDistance(x, y, s % c.w + 0.5f, s / c.w + 0.5f));
            missed += (q[0] == kNoSeed ? 1e30f : BoxDistance(x, y, q[0] + 0.5f, q[1] + 0.5f)) != best;
        }
        EXPECT_EQ(differ, 0) << "texels unlike the passes replayed on the CPU";
        EXPECT_LE(missed, c.inner ? c.w * c.h / 100 : 0) << "texels without a nearest seed";
    }

    // A field with a zero side (no quality preset: ssaa 0) fails at its first buffer.
    myParams p{};
    Record(p, 8, 8, 0);
    try {
        SDBuffers sd{};
        AllocateSDBuffers(p, sd);
        ADD_FAILURE() << "a zero-size field was allocated";
    } catch (const UF_Err& e) {
        EXPECT_EQ(e.code, PF_Err_OUT_OF_MEMORY);
        EXPECT_EQ(e.message, "FramebufferInit failed, resolution: 0x0");
    }
}

// CPU twin of the shading shaders, reading the field the GPU built.
struct Shading {
    const myParams& p;
    std::vector<float> field;  // RGBA texels, GL rows

    float Field(float x, float y) const {
        const float fx = x * p.ssaa, fy = y * p.ssaa;
        const int w = int(p.jfaRes[0]), h = int(p.jfaRes[1]);
        const int tx = std::clamp(int(std::floor(fx)), 0, w - 1), ty = std::clamp(int(std::floor(fy)), 0, h - 1);
        const float* q = &field[size_t(ty * w + tx) * 4];
        return BoxDistance(fx, fy, q[0] + 0.5f, q[1] + 0.5f) / float(p.ssaa);
    }
    float March(float ox, float oy, float dx, float dy, float tMax) const {
        const float ax = (0.05f - ox) / dx, bx = (p.inRes[0] - 0.05f - ox) / dx;
        const float ay = (0.05f - oy) / dy, by = (p.inRes[1] - 0.05f - oy) / dy;
        float near = std::max(std::min(ax, bx), std::min(ay, by));
        float far = std::min(std::max(ax, bx), std::max(ay, by));
        if (far < near || near > tMax || far < 0) return -1;
        float offset = 0;
        if (near > 0) ox += near * dx, oy += near * dy, offset = near, tMax -= near, far -= near;
        const bool edge = far < tMax;
        if (edge) tMax = far;
        float t = 0;
        for (int i = 0; i < 200; ++i) {
            const float d = Field(ox + dx * t, oy + dy * t);
            if (d < 0) return offset + t;
            t += d;
            if (t >= tMax) return p.innerShadow && edge ? tMax : -1;
            if (d < 0.1f) return offset + t;
        }
        return -1;
    }
    float Softness(float x) const {
        const float s = std::min(p.shadowSoftnessEase, 0.999f);
        const float c1 = s * s / std::sqrt(1 - s * s * s * s);
        return c1 == 0 ? 0.5f : c1 * std::tan(std::atan(0.5f / c1) * (2 * x - 1)) + 0.5f;
    }
    static float Ease(float x, float a) {
        const float k = 2 * a - 1, sg = k > 0 ? 1.0f : -1.0f, e = 1 - std::fabs(k);
        if (k == 0) return x;
        if ((k == -1 && x == 0) || (k == 1 && x == 1)) return 0;
        const float q = e > 0 ? std::pow(1 - std::pow(0.5f + sg * (x - 0.5f), 1 / e), e) : 1.0f;
        return 0.5f + sg * (0.5f - q);
    }
    std::array<float, 3> Ramp(float g) const {
        const auto& c = p.shadowColors;
        const auto at = [&](size_t i) { return float(p.gradient[i].position); };
        if (g <= at(0)) return c.front();
        if (g >= at(c.size() - 1)) return c.back();
        size_t i = 0;
        while (g > at(i + 1)) ++i;
        const float f = (g - at(i)) / (at(i + 1) - at(i));
        if (!p.interpolate) return f >= 0.5f ? c[i + 1] : c[i];
        return {c[i][0] + (c[i + 1][0] - c[i][0]) * f, c[i][1] + (c[i + 1][1] - c[i][1]) * f,
                c[i][2] + (c[i + 1][2] - c[i][2]) * f};
    }

    // Red, green, blue, alpha of output pixel (x, GL row y).
    std::array<float, 4> Pixel(int x, int y) const {
        const float px = std::floor(x + 0.5f + p.outOffset[0]);
        const float py = std::floor(p.outRes[1] - y - 0.5f + p.outOffset[1]);
        const int nx = int(px) & 1023, ny = int(py) & 1023;
        const float noise = blue_noise_img[4 * (ny * 1024 + nx)] / 255.0f;
        const float golden = 0.61803398875f, far = 1e20f, pi = 3.14159265f;
        float intensity = 0, colour[3] = {0, 0, 0};
        int hits = 0;
        for (int i = 0; i < p.numSamples; ++i) {
            float b[2];
            for (int c = 0; c < 2; ++c) {
                const float v = blue_noise_points[size_t(2 * (i % 256) + c)] + golden * float(i / 256);
                b[c] = v - std::floor(v);
            }
            const float ox = px + b[0], oy = py + b[1];
            float dx, dy, tLight;
            if (p.shadowInLight) {
                const float ux = b[0] + noise - std::floor(b[0] + noise), uy = b[1] + noise - std::floor(b[1] + noise);
                const float r = p.lightRadiusSD * std::sqrt(std::fabs(2 * Softness(ux) - 1));
                const float tx = p.lightPosition[0] + r * std::cos(2 * pi * uy) - ox;
                const float ty = p.lightPosition[1] + r * std::sin(2 * pi * uy) - oy;
                tLight = std::hypot(tx, ty);
                dx = tx / tLight, dy = ty / tLight;
            } else {
                const float j = noise + (i + 1) * golden;
                const float s = Softness((i + j - std::floor(j)) / p.numSamples);
                float size, aMin;
                if (p.lightType == UF3_LIGHT_POINT) {
                    const float lx = p.lightPosition[0] - ox, ly = p.lightPosition[1] - oy, D = std::hypot(lx, ly);
                    const float R = p.lightRadiusSD;
                    if (D < R || D == 0) continue;
                    size = 2 * std::asin(R / D);
                    aMin = std::atan2(ly, lx) - size / 2;
                    const float off = size * std::fabs(s - 0.5f);
                    const float chord = std::asin(std::clamp(D * std::sin(off) / R, -1.0f, 1.0f)) - off;
                    tLight = R == 0 ? D : std::sin(off) == 0 ? D - R : std::min(D, R * std::sin(chord) / std::sin(off));
                } else {
                    size = 2 * pi * p.lightSoftness;
                    aMin = p.lightDirectionSD - size / 2;
                    tLight = far;
                }
                dx = std::cos(aMin + size * s), dy = std::sin(aMin + size * s);
            }
            float len = p.shadowLengthSD;
            const float toLight = tLight;
            if (p.sdInverseShadow) {
                dx = -dx, dy = -dy, tLight = far;
                if (p.autoShadowLength) len = far;
            }
            const float t = March(ox, oy, dx, dy, std::min(tLight, len));
            if (t < 0) continue;
            if (p.sdInverseShadow && p.autoShadowLength) len = toLight + t;
            intensity += Ease(1 - t / std::max(len, 1e-10f), p.shadowDistanceEase);
            ++hits;
            if (!p.rgbaPipeline) continue;
            const float v = t / std::max(len, 1e-10f) + p.cycleOffset, g = v - std::floor(v);
            const float e = g == 1 ? 1 : 1 - std::exp2(-10 * g);
            const auto rgb = Ramp(e + (g - e) * (1 - p.shadowGradEase));
            for (int c = 0; c < 3; ++c) colour[c] += rgb[size_t(c)];
        }
        if (hits > 0) {
            const float mix = 1 - intensity / hits;
            intensity = (p.shadowStartOpacity + (p.shadowEndOpacity - p.shadowStartOpacity) * mix) * hits;
            for (float& c : colour) c /= float(hits);
        }
        float alpha = std::clamp(intensity / std::max(p.numSamples, 1) * float(p.shadowOpacity), 0.0f, 1.0f);
        if (p.shadowGamma != 1) alpha = std::pow(alpha, float(p.shadowGamma));
        std::array<float, 4> out{};
        for (int c = 0; c < 3; ++c) out[size_t(c)] = std::max(colour[c], 0.0f) * (p.innerShadow ? alpha : 1.0f);
        out[3] = alpha;
        return out;
    }
};

TEST_F(RaytracedPasses, ShadingMatchesTheCpuFormulasInEveryLightSetup) {
    constexpr int w = 48, h = 32;
    const auto base = [&](myParams& p, int ssaa) {
        Record(p, w, h, ssaa);
        p.outRes[0] = 40, p.outRes[1] = 30;
        p.outOffset[0] = 3, p.outOffset[1] = -1;  // the output inside the padded input, shifted
        p.lightDirectionSD = float(135 * M_PI / 180), p.lightSoftness = 0.08f, p.shadowLengthSD = 24;
        p.shadowStartOpacity = 1, p.shadowEndOpacity = 0.2f, p.shadowDistanceEase = 0.6f, p.shadowSoftnessEase = 0.5f;
        p.numSamples = 25, p.shadowOpacity = 0.9, p.shadowGamma = 1;
        p.lightPosition[0] = 8, p.lightPosition[1] = 22, p.lightRadiusSD = 4;
        p.shadowOffset[0] = 1.002f;  // the point light's scale of the source, as a record has it
    };
    // Colour shader: three stops, cycled, eased, premultiplied for the inner shadow, gamma.
    const auto gradient = [](myParams& g, bool inner) {
        g.rgbaPipeline = true, g.fillMode = UF3_FILL_GRADIENT, g.innerShadow = inner, g.interpolate = !inner;
        g.gradient = {{0.0, {1, 1, 0, 0}}, {0.4, {1, 0, 1, 0}}, {1.0, {1, 0, 0, 1}}};
        g.shadowColors = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
        g.cycleOffset = 0.15f, g.shadowGradEase = 0.3f, g.shadowGamma = 0.7;
    };
    const int point = UF3_LIGHT_POINT;
    const std::pair<const char*, std::function<void(myParams&)>> cases[] = {
        {"directional", [&](myParams& p) { base(p, 1); }},
        {"directional, hard (Ease Softness 0)", [&](myParams& p) { base(p, 1), p.shadowSoftnessEase = 0; }},
        {"point, field at 2x", [&](myParams& p) { base(p, 2), p.lightType = point; }},
        {"point, hard", [&](myParams& p) { base(p, 1), p.lightType = point, p.shadowSoftnessEase = 0; }},
        {"point, shadow within light", [&](myParams& p) { base(p, 1), p.lightType = point, p.shadowInLight = true; }},
        {"inverse", [&](myParams& p) { base(p, 1), p.sdInverseShadow = true; }},
        {"inverse point, auto length",
         [&](myParams& p) { base(p, 1), p.lightType = point, p.sdInverseShadow = p.autoShadowLength = true; }},
        {"inner, gamma", [&](myParams& p) { base(p, 1), p.innerShadow = true, p.shadowGamma = 0.7; }},
        {"gradient", [&](myParams& p) { base(p, 1), gradient(p, false); }},
        {"gradient, inner", [&](myParams& p) { base(p, 1), gradient(p, true); }},
        // Two stops at 0: the first colour only where the contact is at 0 (inside the source).
        {"gradient, a hard step at 0", [&](myParams& p) {
             base(p, 1), gradient(p, false), p.cycleOffset = 0;
             p.gradient = {{0.0, {1, 1, 0, 0}}, {0.0, {1, 0, 1, 0}}}, p.shadowColors = {{1, 0, 0}, {0, 1, 0}};
         }},
        {"gradient, point", [&](myParams& p) { base(p, 1), gradient(p, false), p.lightType = point; }},
        {"gradient, point, shadow within light",
         [&](myParams& p) { base(p, 1), gradient(p, false), p.lightType = point, p.shadowInLight = true; }},
    };

    // A 14 x 10 opaque rectangle (GL rows) in the input.
    std::vector<float> in;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) in.push_back(x >= 18 && x < 32 && y >= 10 && y < 20 ? 1.0f : 0.0f);
    for (const auto& [name, setup] : cases) {
        myParams p{};
        setup(p);
        std::vector<float> alpha;  // the input at field resolution, as the blit leaves it
        for (int y = 0; y < h * p.ssaa; ++y)
            for (int x = 0; x < w * p.ssaa; ++x) alpha.push_back(in[size_t(y / p.ssaa * w + x / p.ssaa)]);
        SDBuffers sd{};
        Prepare(p, sd, alpha);
        ProcJFA(p, sd);
        ProcShadow(p, sd);
        ASSERT_EQ(glGetError(), GLenum(GL_NO_ERROR)) << name;
        const Shading cpu{p, ReadRGBA(sd[size_t(p.jfaResultIndex)].GetFBO(PING), w * p.ssaa, h * p.ssaa)};
        const int ow = int(p.outRes[0]), oh = int(p.outRes[1]);
        const std::vector<float> got = ReadRGBA(sd[4].GetFBO(PING), ow, oh);

        // Float arithmetic alone differs by about 1e-5. A ray grazing a corner may hit on one
        // side and miss on the other when sin, atan or pow differ by an ulp: such pixels
        // differ by about one sample's share. Allow few of them, none beyond three samples.
        const float threshold = 1e-3f, hardLimit = 3.0f / float(p.numSamples);
        int over = 0, shadowed = 0;
        float largest = 0;
        std::ostringstream report;
        for (int y = 0; y < oh; ++y)
            for (int x = 0; x < ow; ++x) {
                const std::array<float, 4> want = cpu.Pixel(x, y);
                shadowed += want[3] > 0.05f;
                const float* g = &got[size_t(y * ow + x) * 4];
                float diff = std::fabs(g[0] - want[p.rgbaPipeline ? 0 : 3]);
                for (int ch = 1; p.rgbaPipeline && ch < 4; ++ch)
                    diff = std::max(diff, std::fabs(g[ch] - want[size_t(ch)]));
                largest = std::max(largest, diff);
                if (diff > threshold && ++over <= 4)
                    report << "\n  pixel (" << x << ", " << y << ") got " << g[0] << " " << g[1] << " " << g[2]
                           << " " << g[3] << ", want (r g b a) " << want[0] << " " << want[1] << " " << want[2]
                           << " " << want[3];
            }
        EXPECT_GT(shadowed, ow * oh / 20) << name << ": the scene casts too little shadow to test";
        EXPECT_LE(largest, hardLimit) << name << report.str();
        EXPECT_LE(over, ow * oh / 50) << name << ": pixels over " << threshold << report.str();
        // Inside the light nothing is counted: no shadow there without Shadow Within Light.
        if (p.lightType == UF3_LIGHT_POINT && !p.shadowInLight && !p.sdInverseShadow) {
            const int x = int(p.lightPosition[0] - p.outOffset[0]);
            const int y = oh - 1 - int(p.lightPosition[1] - p.outOffset[1]);
            EXPECT_EQ(got[size_t(y * ow + x) * 4], 0.0f) << name << ": at the light's centre";
        }
    }
}

// What the GPU stage of a render was given.
struct Seen {
    int ssaa = 0, numSamples = 0;
    float inRes[2]{}, jfaRes[2]{};
    float lightPosition[2]{}, outOffset[2]{};
    A_long pad = 0, padded[4]{};  // origin x, y, width, height
};

// Whole frames of the fixture's square, Raytraced, directional light at 135 degrees.
class RaytracedRender : public EffectRender {
protected:
    void SetUp() override {
        EffectRender::SetUp();
        Set(UF3_RENDERER, UF3_RENDERER_RAYTRACED);
        Set(UF3_LIGHT_TYPE, UF3_LIGHT_DIRECTIONAL);
        Set(UF3_QUALITY_PRESET, UF3_QUALITY_LOW);
        Float(UF3_SHADOW_LENGTH, 60);
    }
    // Alpha at d pixels from the square's lower right corner, along the shadow (layer y down).
    static float AlongShadow(const Frame& f, int d) { return f.Alpha(kRight + d, kBottom + d); }

    inline static Seen s_seen{};
    static void Remember(myParams& p) {
        const PF_EffectWorld& w = p.inputPadded.world;
        s_seen = {p.ssaa,
                  p.numSamples,
                  {p.inRes[0], p.inRes[1]},
                  {p.jfaRes[0], p.jfaRes[1]},
                  {p.lightPosition[0], p.lightPosition[1]},
                  {p.outOffset[0], p.outOffset[1]},
                  p.padOffset,
                  {w.origin_x, w.origin_y, w.width, w.height}};
    }
};

TEST_F(RaytracedRender, SoftShadowFallsAwayFromTheLightAndGradientColoursItAlongItsLength) {
    const Frame f = Render();
    ASSERT_EQ(f.err, PF_Err_NONE) << Log();
    // Light from the upper left: shadow to the lower right, fading along its length.
    EXPECT_GT(AlongShadow(f, 3), 0.5f);
    EXPECT_LT(AlongShadow(f, 35), AlongShadow(f, 3));
    EXPECT_EQ(f.Alpha(kLeft - 6, kTop - 6), 0.0f);
    EXPECT_EQ(f.Alpha(kRight + 6, kTop - 6), 0.0f) << "above the square's far side: in the light";
    const auto near = f.At(kRight + 3, kBottom + 3);
    EXPECT_NEAR(near[3], 1.0f, 0.01f) << "the shadow has the fill colour";
    EXPECT_NEAR(near[1], 0.0f, 0.01f);
    // Soft: across the shadow's side edge the alpha ramps over several pixels.
    int partial = 0;
    for (int x = kLeft; x < kLeft + 25; ++x)
        partial += f.Alpha(x, kBottom + 12) > 0.05f && f.Alpha(x, kBottom + 12) < 0.6f;
    EXPECT_GE(partial, 3) << "penumbra width";

    Set(UF3_FILL_MODE, UF3_FILL_GRADIENT);  // red, green, blue along the shadow
    const Frame g = Render();
    ASSERT_EQ(g.err, PF_Err_NONE) << Log();
    const auto start = g.At(kRight + 2, kBottom + 2), later = g.At(kRight + 25, kBottom + 25);
    EXPECT_GT(start[1], start[3]) << "red where the shadow starts";
    EXPECT_GT(later[2] + later[3], later[1]) << "green and blue further along";
}

// An alpha equal to Alpha Threshold seeds: the shadow is that of a layer just above it,
// in fields of 1 (Low) and 2 (Moderate) texels a pixel, the source unmoved or moved 5 pixels,
// and under a point light that does not scale it.
TEST_F(RaytracedRender, AnAlphaEqualToTheThresholdSeedsAtEitherFieldSize) {
    auto square = [&](float alpha) {
        PF_EffectWorld& layer = H().EffectLayer().pixels;
        for (int y = kTop; y < kBottom; ++y)
            for (int x = kLeft; x < kRight; ++x)
                reinterpret_cast<PF_PixelFloat*>(reinterpret_cast<char*>(layer.data) + y * layer.rowbytes)[x] = {alpha, 1, 0, 0};
    };
    // Differing pixels outside the square (inside, the layers' own alphas differ).
    auto differ = [](const Frame& a, const Frame& b) {
        int n = 0, shadow = 0;
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) {
                if (x >= kLeft && x < kRight && y >= kTop && y < kBottom) continue;
                shadow += b.Alpha(x, y) > 0;
                n += a.At(x, y) != b.At(x, y);
            }
        EXPECT_GT(shadow, 500);
        return n;
    };
    H().Param(UF3_LIGHT_DIRECTION).u.ad.value = 90 << 16;
    H().Param(UF3_LIGHT_ORIGIN).u.td.x_value = PF_Fixed(20.3 * 65536);  // off the pixel grid
    for (const auto& [preset, offset, light] :
         {std::tuple{UF3_QUALITY_LOW, 0.0, UF3_LIGHT_DIRECTIONAL}, {UF3_QUALITY_LOW, 5.0, UF3_LIGHT_DIRECTIONAL},
          {UF3_QUALITY_MODERATE, 5.0, UF3_LIGHT_DIRECTIONAL}, {UF3_QUALITY_MODERATE, 0.0, UF3_LIGHT_POINT}}) {
        SCOPED_TRACE(testing::Message() << "preset " << preset << ", offset " << offset << ", light " << light);
        Set(UF3_QUALITY_PRESET, preset);
        Set(UF3_LIGHT_TYPE, light);
        Float(UF3_SHADOW_OFFSET_DIR, offset);
        Float(UF3_ALPHA_THRESHOLD, 0.75);
        square(0.76f);
        const Frame above = Render(32);
        square(0.75f);
        const Frame at = Render(32);
        ASSERT_EQ(at.err, PF_Err_NONE) << Log();
        EXPECT_EQ(differ(at, above), 0) << "a 75 % layer at threshold 0.75, 32 bits";

        square(1);
        Float(UF3_ALPHA_THRESHOLD, 0.99);
        const Frame below = Render(8);
        Float(UF3_ALPHA_THRESHOLD, 1);
        EXPECT_EQ(differ(Render(8), below), 0) << "an opaque layer at threshold 1, 8 bits";
    }
}

TEST_F(RaytracedRender, PresetsSetSamplesAndFieldResolutionInThePaddedInputsSpace) {
    const int ssaa[] = {1, 1, 2, 2, 4}, samples[] = {12, 25, 50, 100, 250};
    gGPUStageTestHook = &Remember;
    for (int preset = UF3_QUALITY_DRAFT; preset <= UF3_QUALITY_EXTREME; ++preset) {
        Set(UF3_QUALITY_PRESET, preset);
        s_seen = Seen{};
        ASSERT_EQ(Render(8).err, PF_Err_NONE) << "preset " << preset << Log();
        EXPECT_EQ(s_seen.ssaa, ssaa[preset - 1]) << "preset " << preset;
        EXPECT_EQ(s_seen.numSamples, samples[preset - 1]) << "preset " << preset;
        for (int i = 0; i < 2; ++i)
            EXPECT_EQ(s_seen.jfaRes[i], s_seen.inRes[i] * ssaa[preset - 1]) << "preset " << preset;
    }

    // A point light and an output both away from the origin, neither on a diagonal: the
    // shading space is the padded input's pixels, y up from its bottom edge.
    Set(UF3_LIGHT_TYPE, UF3_LIGHT_POINT);
    host::RenderJob job;
    job.request.rect = {30, 20, 180, 90};
    job.bitdepth = 32;
    ASSERT_EQ(H().SmartPreRender(job), PF_Err_NONE);
    ASSERT_EQ(H().SmartRender(job), PF_Err_NONE) << Log();
    const PF_EffectWorld &in = job.pixels.at(0), &out = job.output;
    ASSERT_NE(out.origin_y, 0);
    const A_long left = in.origin_x - s_seen.pad, top = in.origin_y - s_seen.pad, height = s_seen.padded[3];
    EXPECT_EQ(s_seen.padded[0], left);
    EXPECT_EQ(s_seen.padded[1], top);
    EXPECT_EQ(s_seen.lightPosition[0], float(kLightX - left));
    EXPECT_EQ(s_seen.lightPosition[1], float(top + height - kLightY));
    EXPECT_EQ(s_seen.outOffset[0], float(out.origin_x - left));
    EXPECT_EQ(s_seen.outOffset[1], float(top + height - out.origin_y - out.height));
}

TEST_F(RaytracedRender, DebugViewsShowTheirBufferUncomposited) {
    using Test = bool (*)(const std::array<float, 4>&);  // on alpha, red, green, blue
    const struct { int view; const char* shows; Test some, every; } views[] = {
        // The padded input itself: the red square, no shadow colour.
        {UF3_SD_VIEW_CPU_PADDING, "padded input", [](const auto& p) { return p[0] == 1.0f && p[1] == 1.0f; },
         [](const auto& p) { return p[0] == 0.0f || p[3] == 0.0f; }},
        // Field-resolution coverage, one channel read back as alpha with full blue; scaling into
        // the output may overshoot it by a rounding of the filter weights.
        {UF3_SD_VIEW_IN_FBO, "coverage", [](const auto& p) { return p[0] == 1.0f; },
         [](const auto& p) { return p[0] <= 1.0f + 1e-5f && p[1] == 0.0f && p[2] == 0.0f; }},
        // The field: seed coordinates in alpha and red, far beyond coverage values; two channels.
        {UF3_SD_VIEW_JUMPFLOOD, "field", [](const auto& p) { return p[0] > 50.0f && p[1] > 20.0f; },
         [](const auto& p) { return p[2] == 0.0f; }},
    };
    Frame padded;
    for (const auto& v : views) {
        Set(UF3_SD_DEBUG_VIEW, v.view);
        const Frame f = Render();
        ASSERT_EQ(f.err, PF_Err_NONE) << v.shows << Log();
        EXPECT_TRUE(std::any_of(f.argb.begin(), f.argb.end(), v.some)) << v.shows << ": what it should show";
        EXPECT_TRUE(std::all_of(f.argb.begin(), f.argb.end(), v.every)) << v.shows << ": what it must not show";
        if (v.view == UF3_SD_VIEW_CPU_PADDING) padded = f;
        if (v.view != UF3_SD_VIEW_IN_FBO) continue;
        // At one sample per pixel the coverage is the padded input's alpha, pixel for pixel.
        ASSERT_EQ(f.argb.size(), padded.argb.size());
        for (size_t i = 0; i < f.argb.size(); ++i) ASSERT_NEAR(f.argb[i][0], padded.argb[i][0], 1e-3f) << i;
    }
    // Two samples a pixel: the field's coverage is larger than the input and still lands on it,
    // blurred only at the square's edges.
    Set(UF3_QUALITY_PRESET, UF3_QUALITY_MODERATE);
    Set(UF3_SD_DEBUG_VIEW, UF3_SD_VIEW_IN_FBO);
    const Frame fine = Render();
    ASSERT_EQ(fine.argb.size(), padded.argb.size());
    int apart = 0;
    for (size_t i = 0; i < fine.argb.size(); ++i) apart += std::fabs(fine.argb[i][0] - padded.argb[i][0]) > 0.5f;
    EXPECT_EQ(apart, 0);
}

}  // namespace
