// The Standard shaders drawn with their programs on small framebuffers and read back,
// against the same formulas computed on the CPU.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "open_gl/Framebuffer.h"
#include "open_gl/Program.h"
#include "open_gl/Quad.h"
#include "render/GLFixture.h"
#include "render/ProgramSlots.h"
#include "render/ThreadRenderData.h"

namespace {

// Float targets hold the shader's own arithmetic: only rounding of a few float operations.
constexpr float kArithmetic = 1e-5f;
// exp and pow on the GPU are a few ulp off the C library's: GLSL allows exp (3 + 2|x|) ulp,
// about 20 ulp (2.4e-6 relative) at the kernel's edge. Tight enough that dropping the
// kernel's outermost taps (weight 2.4e-4 of 1.84) still shows.
constexpr float kTranscendental = 2e-5f;
// Linear filtering: sub-texel weights are commonly fixed point with 8 fraction bits
// (llvmpipe too), so a tap between texels may be off by 1/256 of its neighbours' difference.
constexpr float kFiltered = 1.0f / 256.0f;
// Half-float storage keeps 11 significant bits: 2^-11 of values up to 1, rounded.
constexpr float kHalfFloat = 1.0f / 2048.0f;

constexpr int kW = 16, kH = 8;  // every source image
using Vec4 = std::array<float, 4>;

// A kW × kH image in GL row order (row 0 at the bottom), as the texture holds it.
struct Image {
    int channels;
    std::vector<float> pixels;
    float At(int x, int y, int c) const { return pixels[(size_t(y) * kW + x) * channels + c]; }
};

// Deterministic values in [0, 1): enough variety that a wrong tap or channel shows.
float Hash(int x, int y, int c) {
    uint32_t h = uint32_t(x) * 73856093u ^ uint32_t(y) * 19349663u ^ uint32_t(c) * 83492791u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return float(h % 1000u) / 1000.0f;
}

// Premultiplied colour (every colour channel at most alpha), or coverage alone.
Image Input(int channels) {
    Image image{channels, {}};
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            if (channels == 1) {
                image.pixels.push_back(Hash(x, y, 7));
                continue;
            }
            const float a = Hash(x, y, 3);
            for (int c = 0; c < 3; ++c) image.pixels.push_back(Hash(x, y, c) * a);
            image.pixels.push_back(a);
        }
    return image;
}

// GL_LINEAR sampling with a transparent-black border, as the framebuffer textures have it;
// the channels the image lacks read 0.
Vec4 Sample(const Image& image, float u, float v) {
    const float x = u * kW - 0.5f, y = v * kH - 0.5f;
    const int x0 = int(std::floor(x)), y0 = int(std::floor(y));
    const float fx = x - x0, fy = y - y0;
    Vec4 p{};
    for (int c = 0; c < image.channels; ++c) {
        const auto texel = [&](int tx, int ty) {
            return tx < 0 || ty < 0 || tx >= kW || ty >= kH ? 0.0f : image.At(tx, ty, c);
        };
        const float bottom = texel(x0, y0) * (1 - fx) + texel(x0 + 1, y0) * fx;
        const float top = texel(x0, y0 + 1) * (1 - fx) + texel(x0 + 1, y0 + 1) * fx;
        p[c] = bottom * (1 - fy) + top * fy;
    }
    return p;
}

// The blur kernel: 2 steps + 1 taps, Gaussian weights of variance 0.06 in radius units.
Vec4 Blur(const Image& image, float u, float v, bool horizontal, int steps, float stride) {
    Vec4 sum{};
    double weights = 0;
    for (int i = -steps; i <= steps; ++i) {
        const double x = double(i) / steps, w = std::exp(-0.5 * x * x / 0.06);
        const Vec4 tap = Sample(image, u + (horizontal ? i * stride / kW : 0.0f), v + (horizontal ? 0.0f : i * stride / kH));
        for (int c = 0; c < 4; ++c) sum[c] += float(w * tap[c]);
        weights += w;
    }
    for (float& s : sum) s = float(s / weights);
    return sum;
}

std::string Named(const std::string& what, float value) {
    std::ostringstream s;
    s << what << " " << value;
    return s.str();
}

class StandardShaders : public GLContextSuite {
protected:
    static void SetUpTestSuite() {
        GLContextSuite::SetUpTestSuite();
        if (s_context == nullptr) return;
        SetCurrentContext(s_context, false);
        s_programs = new std::array<Program, kProgramSlotCount>();
        PF_OutData out{};
        s_built = InitPrograms(*s_programs, &out);
        s_quad = new Quad;
        InitQuad(&s_quad->vao, &s_quad->vbo);
    }
    static void TearDownTestSuite() {
        if (s_context != nullptr) {
            SetCurrentContext(s_context, false);
            delete s_programs;
            delete s_quad;
        }
        s_programs = nullptr;
        s_quad = nullptr;
        GLContextSuite::TearDownTestSuite();
    }
    void SetUp() override {
        GLContextSuite::SetUp();
        ASSERT_TRUE(s_built);
    }

    // Uniforms by name: ints, and floats by count (16: a matrix, handed over transposed as the
    // passes do). A value of the wrong kind is a GL error, which fails the check.
    struct Uniforms {
        std::map<std::string, int> ints;
        std::map<std::string, std::vector<float>> floats;
    };
    using Want = std::function<Vec4(float u, float v)>;

    // One pass as the Standard road draws it: a w × h float target bound and cleared, `image`
    // in a float texture on unit 0, the slot's program with its uniforms set by name, the unit
    // quad as a fan. Every pixel read back must lie within `tolerance` of `want` at the texture
    // coordinate of its centre; returns what was read.
    static std::vector<float> Check(int slot, const Image& image, int w, int h, int channels, const Uniforms& uniforms,
                                    const Want& want, float tolerance, const std::string& what,
                                    GLenum targetFormat = 0) {
        const auto formats = [](int n) { return std::pair{n == 4 ? GL_RGBA32F : GL_R32F, n == 4 ? GL_RGBA : GL_RED}; };
        Framebuffer source, target;
        source.FramebufferInit(kW, kH, 1, 32, formats(image.channels).first, formats(image.channels).second, GL_FLOAT);
        UploadFloats(source.GetTAO(PING), kW, kH, formats(image.channels).second, image.pixels);
        target.FramebufferInit(w, h, 1, 32, targetFormat ? GLint(targetFormat) : formats(channels).first,
                               formats(channels).second, GL_FLOAT);
        PF_OutData out{};
        target.BindFBO(PING, true);
        glActiveTexture(GL_TEXTURE0);
        source.BindTAO(PING);
        Program& program = (*s_programs)[size_t(slot)];
        program.Use(&out);
        for (const auto& [name, v] : uniforms.ints) glUniform1i(glGetUniformLocation(program.id(), name.c_str()), v);
        for (const auto& [name, v] : uniforms.floats) {
            const GLint at = glGetUniformLocation(program.id(), name.c_str());
            if (v.size() == 1) glUniform1f(at, v[0]);
            if (v.size() == 2) glUniform2fv(at, 1, v.data());
            if (v.size() == 4) glUniform4fv(at, 1, v.data());
            if (v.size() == 16) glUniformMatrix4fv(at, 1, GL_TRUE, v.data());
        }
        glBindVertexArray(s_quad->vao);
        glDrawArrays(GL_TRIANGLE_FAN, 0, 4);
        glBindVertexArray(0);
        glUseProgram(0);
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR)) << what;

        const std::vector<float> got =
            channels == 4 ? ReadRGBA(target.GetFBO(PING), w, h) : ReadRed(target.GetFBO(PING), w, h);
        int failures = 0;
        float largest = -1.0f;
        std::ostringstream worst;
        for (size_t i = 0; i < got.size(); ++i) {
            const int x = int(i / channels) % w, y = int(i / channels) / w, c = int(i % channels);
            const float wanted = want((x + 0.5f) / w, (y + 0.5f) / h)[c], d = std::fabs(got[i] - wanted);
            failures += d > tolerance;
            if (d <= largest) continue;
            largest = d;
            worst.str("");
            worst << "pixel (" << x << ", " << y << ") channel " << c << ": got " << got[i] << ", want " << wanted;
        }
        EXPECT_EQ(failures, 0) << what << ", tolerance " << tolerance << "; the largest difference " << largest
                               << " at " << worst.str();
        return got;
    }

    inline static std::array<Program, kProgramSlotCount>* s_programs = nullptr;
    inline static bool s_built = false;
    // On the heap like the programs: freed with the suite's context current, not at exit.
    struct Quad {
        GLObject vao, vbo;
    };
    inline static Quad* s_quad = nullptr;
};

// The source texel under (u, v), moved right by dx target pixels and clamped at `clamp`.
Vec4 Texel(const Image& image, float u, float v, int dx = 0, float clamp = 1e30f) {
    const int x = int(u * kW) - dx, y = int(v * kH);
    Vec4 p{};
    if (x < 0) return p;  // left of a moved quad nothing is drawn: the cleared target shows
    for (int c = 0; c < image.channels; ++c) p[c] = std::min(image.At(x, y, c), clamp);
    return p;
}

TEST_F(StandardShaders, EveryBlurReturnsTheCentreTexelAtOneStepAndNoStride) {
    for (const int slot : {kHorizontalBlurProgram, kVerticalBlurProgram, kScaledHorizontalBlurProgram,
                           kVerticalBlurSingleProgram, kScaledHorizontalBlurSingleProgram}) {
        const Image image = Input(slot == kVerticalBlurSingleProgram || slot == kScaledHorizontalBlurSingleProgram ? 1 : 4);
        Check(slot, image, kW, kH, image.channels,
              {{{"steps", 1}},
               {{"stride", {0}}, {"opacityF", {1}}, {"colorF", {0, 0, 0, 0}}, {"scaleW", {1}}, {"scaleH", {1}}}},
              [&](float u, float v) { return Texel(image, u, v); }, kArithmetic, Named("slot", float(slot)));
    }
}

TEST_F(StandardShaders, BlurKernelAtARealRadius) {
    const struct {
        int slot;
        bool horizontal;
        int steps;
        float stride, tolerance;
    } cases[] = {
        // Whole-texel strides land every tap on a texel centre; 1.5 puts half of them between two.
        {kHorizontalBlurProgram, true, 4, 1.0f, kTranscendental},
        {kVerticalBlurProgram, false, 3, 1.0f, kTranscendental},
        {kHorizontalBlurProgram, true, 3, 1.5f, kFiltered},
        {kVerticalBlurProgram, false, 2, 1.5f, kFiltered},
        {kVerticalBlurSingleProgram, false, 3, 1.0f, kTranscendental},
    };
    for (const auto& c : cases) {
        const Image image = Input(c.slot == kVerticalBlurSingleProgram ? 1 : 4);
        Check(c.slot, image, kW, kH, image.channels, {{{"steps", c.steps}}, {{"stride", {c.stride}}}},
              [&](float u, float v) { return Blur(image, u, v, c.horizontal, c.steps, c.stride); }, c.tolerance,
              Named("slot", float(c.slot)) + Named(" steps", float(c.steps)) + Named(" stride", c.stride));
    }
}

TEST_F(StandardShaders, ScaledHorizontalBlurInItsThreeColourCases) {
    // The target differs from the source in size: the kernel's texel is the source's. A full
    // fill reads coverage from a single-channel source; the others read colour.
    const float scaleW = 1.25f, scaleH = 0.75f, opacity = 0.7f;
    const Vec4 fill{0.9f, 0.3f, 0.1f, 0.0f};
    const std::pair<int, float> cases[] = {{kScaledHorizontalBlurProgram, 0.0f},
                                           {kScaledHorizontalBlurProgram, 0.4f},
                                           {kScaledHorizontalBlurProgram, 1.0f},
                                           {kScaledHorizontalBlurSingleProgram, 1.0f}};
    for (const auto& [slot, influence] : cases) {
        const bool single = slot == kScaledHorizontalBlurSingleProgram;
        const Image image = Input(influence >= 1.0f ? 1 : 4);
        const auto want = [&](float u, float v) {
            Vec4 b = Blur(image, (u - 0.5f) * scaleW + 0.5f, (v - 0.5f) * scaleH + 0.5f, true, 2, 1.0f);
            if (single) b = {b[0], 0, 0, 0};
            else if (image.channels == 1) b = {fill[0] * b[0], fill[1] * b[0], fill[2] * b[0], b[0]};
            else
                for (int k = 0; k < 3; ++k) b[k] += (fill[k] * b[3] - b[k]) * influence;
            for (float& x : b) x *= opacity;
            return b;
        };
        Check(slot, image, 20, 6, single ? 1 : 4,
              {{{"steps", 2}},
               {{"stride", {1}}, {"opacityF", {opacity}}, {"scaleW", {scaleW}}, {"scaleH", {scaleH}},
                {"colorF", {fill[0], fill[1], fill[2], influence}}}},
              want, kFiltered, Named(single ? "single channel, influence" : "fill influence", influence));
    }
}

TEST_F(StandardShaders, ScaleShrinksAboutTheCentreIntoAHalfFloatTarget) {
    // The point-light road scales into half-float buffers.
    const Image image = Input(4);
    const float sx = 0.5f, sy = 0.75f;
    const std::vector<float> got = Check(
        kScaleProgram, image, kW, kH, 4, {{}, {{"scale", {sx, sy}}}},
        [&](float u, float v) { return Sample(image, (u - 0.5f) / sx + 0.5f, (v - 0.5f) / sy + 0.5f); },
        kFiltered + kHalfFloat, "scale", GL_RGBA16F);
    // The outer columns read past the source: its transparent border.
    for (int c = 0; c < 4; ++c) EXPECT_EQ(got[c], 0.0f) << "channel " << c;
}

TEST_F(StandardShaders, CopiesClampAtOneAndFollowTheTransposedTransform) {
    // Column-major as the passes build it, uploaded transposed: a shift of two pixels right.
    const std::vector<float> identity{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    std::vector<float> translate = identity;
    translate[12] = 2.0f * 2.0f / kW;
    for (const int channels : {4, 1}) {
        Image bright = Input(channels);
        for (size_t i = 0; i < bright.pixels.size(); i += channels == 4 ? 5 : 3) bright.pixels[i] += 1.0f;
        for (const bool shifted : {false, true})
            Check(channels == 4 ? kCopyProgram : kCopySingleProgram, bright, kW, kH, channels,
                  {{}, {{"xform", shifted ? translate : identity}}},
                  [&](float u, float v) { return Texel(bright, u, v, shifted ? 2 : 0, 1.0f); }, kArithmetic,
                  Named(shifted ? "shifted copy, channels" : "copy, channels", float(channels)));
    }
}

TEST_F(StandardShaders, ColouriseWithAndWithoutInner) {
    const Image image = Input(4);
    const Vec4 fill{0.2f, 0.6f, 0.9f, 0.0f};
    const float opacity = 0.65f;
    for (const int inner : {0, 1})
        for (const float influence : {0.0f, 0.5f, 1.0f}) {
            const auto want = [&](float u, float v) {
                Vec4 c = Sample(image, u, v);
                if (inner) c[3] = (1 - c[3]) * opacity;  // inside: coverage inverted, and only it takes the opacity
                for (int k = 0; k < 3; ++k) c[k] += (fill[k] * c[3] - c[k]) * influence;
                if (!inner)
                    for (float& x : c) x *= opacity;
                return c;
            };
            Check(kColouriseProgram, image, kW, kH, 4,
                  {{{"innerL", inner}}, {{"opacityF", {opacity}}, {"colorF", {fill[0], fill[1], fill[2], influence}}}},
                  want, kArithmetic, Named(inner ? "innerL, influence" : "influence", influence));
        }
}

TEST_F(StandardShaders, InnerInvertOfScaledCoverage) {
    const Image image = Input(1);
    const float sw = 1.25f, sh = 1.5f;
    const std::vector<float> got = Check(
        kInnerInvertProgram, image, kW, kH, 1, {{}, {{"scaleW", {sw}}, {"scaleH", {sh}}}},
        [&](float u, float v) { return Vec4{1.0f - Sample(image, (u - 0.5f) * sw + 0.5f, (v - 0.5f) * sh + 0.5f)[0]}; },
        kFiltered, "inner invert");
    EXPECT_EQ(got[0], 1.0f) << "outside the source there is no coverage, so all of it is inside";
}

TEST_F(StandardShaders, FinalPassUnmultipliesAppliesGammaAndOpacityAndReorders) {
    Image input = Input(4);
    // An empty texel with colour in it: no division may touch it.
    std::copy_n(std::array<float, 4>{0.5f, 0.25f, 0.125f, 0.0f}.begin(), 4, input.pixels.begin());
    const struct {
        int unmult, gamma;
        float shadowGamma, opacity, tolerance;
    } cases[] = {
        {0, 0, 1.0f, 1.0f, kArithmetic},  // the channel order alone
        {1, 0, 1.0f, 0.5f, kArithmetic},
        {1, 1, 2.2f, 0.8f, kTranscendental},
        {0, 1, 0.5f, 1.0f, kTranscendental},
    };
    for (const auto& k : cases) {
        const auto want = [&](float u, float v) {
            Vec4 c = Sample(input, u, v);
            if (k.unmult && c[3] > 0)
                for (int i = 0; i < 3; ++i) c[i] /= c[3];
            if (k.shadowGamma != 1.0f) c[3] = std::pow(c[3], k.shadowGamma);
            if (k.gamma)
                for (int i = 0; i < 3; ++i) c[i] = std::pow(c[i], 0.4545f);
            return Vec4{c[3] * k.opacity, c[0], c[1], c[2]};
        };
        const std::vector<float> got = Check(
            kFinalPassProgram, input, kW, kH, 4,
            {{{"unmultL", k.unmult}, {"gammaB", k.gamma}}, {{"shadowOpacityF", {k.opacity}}, {"shadowGammaF", {k.shadowGamma}}}},
            want, k.tolerance, Named("unmult", float(k.unmult)) + Named(" gamma", float(k.gamma)));
        if (!k.gamma) {
            EXPECT_EQ(got[1], 0.5f) << "alpha 0: colour left as it is";
        }
    }
}

}  // namespace
