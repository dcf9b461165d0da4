// The Standard shaders drawn with their programs on small framebuffers and read back,
// against the same formulas computed on the CPU.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
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

using Vec4 = std::array<float, 4>;

// An image in GL row order (row 0 at the bottom), as the texture holds it.
struct Image {
    int width = 0;
    int height = 0;
    int channels = 4;
    std::vector<float> pixels;

    float At(int x, int y, int c) const { return pixels[(size_t(y) * width + x) * channels + c]; }
};

// Deterministic values in [0, 1): enough variety that a wrong tap or channel shows.
float Hash(int x, int y, int c) {
    uint32_t h = uint32_t(x) * 73856093u ^ uint32_t(y) * 19349663u ^ uint32_t(c) * 83492791u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return float(h % 1000u) / 1000.0f;
}

// Premultiplied colour: every colour channel at most alpha.
Image PremultipliedInput(int width, int height) {
    Image image{width, height, 4, {}};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const float a = Hash(x, y, 3);
            for (int c = 0; c < 3; ++c) image.pixels.push_back(Hash(x, y, c) * a);
            image.pixels.push_back(a);
        }
    return image;
}

Image CoverageInput(int width, int height) {
    Image image{width, height, 1, {}};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) image.pixels.push_back(Hash(x, y, 7));
    return image;
}

// GL_LINEAR sampling with a transparent-black border, as the framebuffer textures have it.
float Sample(const Image& image, float u, float v, int c) {
    const float x = u * image.width - 0.5f;
    const float y = v * image.height - 0.5f;
    const int x0 = int(std::floor(x));
    const int y0 = int(std::floor(y));
    const float fx = x - x0;
    const float fy = y - y0;
    const auto texel = [&](int tx, int ty) {
        if (tx < 0 || ty < 0 || tx >= image.width || ty >= image.height) return 0.0f;
        return image.At(tx, ty, c);
    };
    const float bottom = texel(x0, y0) * (1 - fx) + texel(x0 + 1, y0) * fx;
    const float top = texel(x0, y0 + 1) * (1 - fx) + texel(x0 + 1, y0 + 1) * fx;
    return bottom * (1 - fy) + top * fy;
}

// The image's channels; those it lacks read 0.
Vec4 Sample4(const Image& image, float u, float v) {
    Vec4 p{};
    for (int c = 0; c < image.channels; ++c) p[c] = Sample(image, u, v, c);
    return p;
}

// The blur kernel: 2 steps + 1 taps, Gaussian weights of variance 0.06 in radius units.
Vec4 Blur(const Image& image, float u, float v, bool horizontal, int steps, float stride) {
    Vec4 sum{};
    double weights = 0;
    for (int i = -steps; i <= steps; ++i) {
        const double x = double(i) / steps;
        const double w = std::exp(-0.5 * x * x / 0.06);
        const float du = horizontal ? i * stride / image.width : 0.0f;
        const float dv = horizontal ? 0.0f : i * stride / image.height;
        const Vec4 tap = Sample4(image, u + du, v + dv);
        for (int c = 0; c < 4; ++c) sum[c] += float(w * tap[c]);
        weights += w;
    }
    for (float& s : sum) s = float(s / weights);
    return sum;
}

// Expected output per target pixel, given the texture coordinate of its centre.
using Expectation = std::function<Vec4(float u, float v)>;

std::vector<float> Expected(int width, int height, int channels, const Expectation& at) {
    std::vector<float> out;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const Vec4 p = at((x + 0.5f) / width, (y + 0.5f) / height);
            out.insert(out.end(), p.begin(), p.begin() + channels);
        }
    return out;
}

void ExpectImagesNear(const std::vector<float>& got, const std::vector<float>& want, int width, int channels,
                      float tolerance, const std::string& what) {
    ASSERT_EQ(got.size(), want.size()) << what;
    int failures = 0;
    float largest = 0.0f;
    std::ostringstream report;
    for (size_t i = 0; i < got.size(); ++i) {
        largest = std::max(largest, std::fabs(got[i] - want[i]));
        if (std::fabs(got[i] - want[i]) <= tolerance) continue;
        if (++failures <= 6) {
            const size_t pixel = i / channels;
            report << "\n  pixel (" << pixel % width << ", " << pixel / width << ") channel " << i % channels
                   << ": got " << got[i] << ", want " << want[i];
        }
    }
    EXPECT_EQ(failures, 0) << what << ": largest difference " << largest << ", tolerance " << tolerance
                           << report.str();
    if (std::getenv("UF3_SHOW_DIFFERENCES")) std::printf("%s: largest difference %g\n", what.c_str(), largest);
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
        InitQuad(&s_vao, &s_vbo);
    }
    static void TearDownTestSuite() {
        if (s_context != nullptr) {
            SetCurrentContext(s_context, false);
            delete s_programs;
            DeleteQuad(&s_vao, &s_vbo);
        }
        s_programs = nullptr;
        GLContextSuite::TearDownTestSuite();
    }
    void SetUp() override {
        GLContextSuite::SetUp();
        ASSERT_TRUE(s_built);
    }

    // A framebuffer holding `image` in its texture: RGBA or red only, float texels.
    static void Fill(Framebuffer& fb, const Image& image) {
        const bool rgba = image.channels == 4;
        fb.FramebufferInit(image.width, image.height, 1, 32, rgba ? GL_RGBA32F : GL_R32F, rgba ? GL_RGBA : GL_RED,
                           GL_FLOAT);
        UploadFloats(fb.GetTAO(PING), image.width, image.height, rgba ? GL_RGBA : GL_RED, image.pixels);
    }

    // A cleared float target: RGBA, or red only.
    static Framebuffer Target(int width, int height, int channels) {
        Framebuffer fb;
        Fill(fb, Image{width, height, channels, std::vector<float>(size_t(width) * height * channels)});
        return fb;
    }

    // One pass as the Standard road draws it: target bound and cleared, source on unit 0,
    // the slot's program, its uniforms looked up by name, the unit quad as a fan.
    static void Draw(int slot, Framebuffer& source, Framebuffer& target, const std::function<void(GLuint)>& uniforms) {
        PF_OutData out{};
        target.BindFBO(PING, true);
        glActiveTexture(GL_TEXTURE0);
        source.BindTAO(PING);
        Program& program = (*s_programs)[size_t(slot)];
        program.Use(&out);
        uniforms(program.id);
        glBindVertexArray(s_vao);
        glDrawArrays(GL_TRIANGLE_FAN, 0, 4);
        glBindVertexArray(0);
        glUseProgram(0);
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        ASSERT_EQ(glGetError(), GLenum(GL_NO_ERROR)) << "slot " << slot;
    }

    static GLint Loc(GLuint program, const char* name) { return glGetUniformLocation(program, name); }

    inline static std::array<Program, kProgramSlotCount>* s_programs = nullptr;
    inline static bool s_built = false;
    inline static GLuint s_vao = 0;
    inline static GLuint s_vbo = 0;
};

TEST_F(StandardShaders, EveryBlurReturnsTheCentreTexelAtOneStepAndNoStride) {
    const Image rgba = PremultipliedInput(16, 8);
    const Image red = CoverageInput(16, 8);
    Framebuffer rgbaIn, redIn;
    Fill(rgbaIn, rgba);
    Fill(redIn, red);
    const auto centre = [](const Image& image) {
        return [&image](float u, float v) {
            const int x = int(u * image.width), y = int(v * image.height);
            Vec4 p{};
            for (int c = 0; c < image.channels; ++c) p[c] = image.At(x, y, c);
            return p;
        };
    };
    const auto blurUniforms = [](GLuint p) {
        glUniform1i(Loc(p, "steps"), 1);
        glUniform1f(Loc(p, "stride"), 0.0f);
        glUniform1f(Loc(p, "opacityF"), 1.0f);
        glUniform4f(Loc(p, "colorF"), 0.0f, 0.0f, 0.0f, 0.0f);
        glUniform1f(Loc(p, "scaleW"), 1.0f);
        glUniform1f(Loc(p, "scaleH"), 1.0f);
    };
    for (const int slot : {kHorizontalBlurProgram, kVerticalBlurProgram, kScaledHorizontalBlurProgram}) {
        Framebuffer out = Target(16, 8, 4);
        Draw(slot, rgbaIn, out, blurUniforms);
        ExpectImagesNear(ReadRGBA(out.GetFBO(PING), 16, 8), Expected(16, 8, 4, centre(rgba)), 16, 4, kArithmetic,
                         "slot " + std::to_string(slot));
    }
    for (const int slot : {kVerticalBlurSingleProgram, kScaledHorizontalBlurSingleProgram}) {
        Framebuffer out = Target(16, 8, 1);
        Draw(slot, redIn, out, blurUniforms);
        ExpectImagesNear(ReadRed(out.GetFBO(PING), 16, 8), Expected(16, 8, 1, centre(red)), 16, 1, kArithmetic,
                         "slot " + std::to_string(slot));
    }
}

TEST_F(StandardShaders, BlurKernelAtARealRadius) {
    const Image rgba = PremultipliedInput(16, 8);
    const Image red = CoverageInput(16, 8);
    Framebuffer rgbaIn, redIn;
    Fill(rgbaIn, rgba);
    Fill(redIn, red);

    struct Case {
        int slot;
        bool horizontal;
        int steps;
        float stride;
        float tolerance;
    };
    // Whole-texel strides land every tap on a texel centre; 1.5 puts half of them between two.
    const Case cases[] = {
        {kHorizontalBlurProgram, true, 4, 1.0f, kTranscendental},
        {kVerticalBlurProgram, false, 3, 1.0f, kTranscendental},
        {kHorizontalBlurProgram, true, 3, 1.5f, kFiltered},
        {kVerticalBlurProgram, false, 2, 1.5f, kFiltered},
    };
    for (const Case& c : cases) {
        Framebuffer out = Target(16, 8, 4);
        Draw(c.slot, rgbaIn, out, [&](GLuint p) {
            glUniform1i(Loc(p, "steps"), c.steps);
            glUniform1f(Loc(p, "stride"), c.stride);
        });
        ExpectImagesNear(ReadRGBA(out.GetFBO(PING), 16, 8),
                         Expected(16, 8, 4, [&](float u, float v) { return Blur(rgba, u, v, c.horizontal, c.steps, c.stride); }),
                         16, 4, c.tolerance,
                         "slot " + std::to_string(c.slot) + " steps " + std::to_string(c.steps) + " stride " +
                             std::to_string(c.stride));
    }

    Framebuffer out = Target(16, 8, 1);
    Draw(kVerticalBlurSingleProgram, redIn, out, [](GLuint p) {
        glUniform1i(Loc(p, "steps"), 3);
        glUniform1f(Loc(p, "stride"), 1.0f);
    });
    ExpectImagesNear(ReadRed(out.GetFBO(PING), 16, 8),
                     Expected(16, 8, 1, [&](float u, float v) { return Blur(red, u, v, false, 3, 1.0f); }), 16, 1,
                     kTranscendental, "single-channel vertical blur");
}

TEST_F(StandardShaders, ScaledHorizontalBlurInItsThreeColourCases) {
    // The target differs from the source in size: the kernel's texel is the source's.
    const Image rgba = PremultipliedInput(16, 8);
    const Image red = CoverageInput(16, 8);
    Framebuffer rgbaIn, redIn;
    Fill(rgbaIn, rgba);
    Fill(redIn, red);
    const float scaleW = 1.25f, scaleH = 0.75f, opacity = 0.7f;
    const int steps = 2;
    const float stride = 1.0f;
    const Vec4 fill{0.9f, 0.3f, 0.1f, 0.0f};

    const auto scaled = [&](float u, float v) {
        return std::array<float, 2>{(u - 0.5f) * scaleW + 0.5f, (v - 0.5f) * scaleH + 0.5f};
    };
    for (const float influence : {0.0f, 0.4f, 1.0f}) {
        // A full fill reads coverage from a single-channel source; the others read colour.
        const Image& input = influence >= 1.0f ? red : rgba;
        Framebuffer& source = influence >= 1.0f ? redIn : rgbaIn;
        Framebuffer out = Target(20, 6, 4);
        Draw(kScaledHorizontalBlurProgram, source, out, [&](GLuint p) {
            glUniform1i(Loc(p, "steps"), steps);
            glUniform1f(Loc(p, "stride"), stride);
            glUniform1f(Loc(p, "opacityF"), opacity);
            glUniform4f(Loc(p, "colorF"), fill[0], fill[1], fill[2], influence);
            glUniform1f(Loc(p, "scaleW"), scaleW);
            glUniform1f(Loc(p, "scaleH"), scaleH);
        });
        const auto want = [&](float u, float v) {
            const auto m = scaled(u, v);
            Vec4 c;
            if (influence >= 1.0f) {
                const float a = Blur(input, m[0], m[1], true, steps, stride)[0];
                c = {fill[0] * a, fill[1] * a, fill[2] * a, a};
            } else {
                c = Blur(input, m[0], m[1], true, steps, stride);
                if (influence > 0.0f)
                    for (int k = 0; k < 3; ++k) c[k] = c[k] + (fill[k] * c[3] - c[k]) * influence;
            }
            for (float& x : c) x *= opacity;
            return c;
        };
        ExpectImagesNear(ReadRGBA(out.GetFBO(PING), 20, 6), Expected(20, 6, 4, want), 20, 4, kFiltered,
                         "fill influence " + std::to_string(influence));
    }

    Framebuffer out = Target(20, 6, 1);
    Draw(kScaledHorizontalBlurSingleProgram, redIn, out, [&](GLuint p) {
        glUniform1i(Loc(p, "steps"), steps);
        glUniform1f(Loc(p, "stride"), stride);
        glUniform1f(Loc(p, "opacityF"), opacity);
        glUniform1f(Loc(p, "scaleW"), scaleW);
        glUniform1f(Loc(p, "scaleH"), scaleH);
    });
    ExpectImagesNear(ReadRed(out.GetFBO(PING), 20, 6), Expected(20, 6, 1, [&](float u, float v) {
                         const auto m = scaled(u, v);
                         return Vec4{Blur(red, m[0], m[1], true, steps, stride)[0] * opacity};
                     }),
                     20, 1, kFiltered, "single-channel scaled blur");
}

TEST_F(StandardShaders, ScaleShrinksAboutTheCentreIntoAHalfFloatTarget) {
    // The point-light road scales into half-float buffers.
    const Image rgba = PremultipliedInput(16, 8);
    Framebuffer in;
    Fill(in, rgba);
    Framebuffer out;
    out.FramebufferInit(16, 8, 1, 32, GL_RGBA16F, GL_RGBA, GL_UNSIGNED_SHORT);
    const float sx = 0.5f, sy = 0.75f;
    Draw(kScaleProgram, in, out, [&](GLuint p) { glUniform2f(Loc(p, "scale"), sx, sy); });
    const auto want = [&](float u, float v) { return Sample4(rgba, (u - 0.5f) / sx + 0.5f, (v - 0.5f) / sy + 0.5f); };
    ExpectImagesNear(ReadRGBA(out.GetFBO(PING), 16, 8), Expected(16, 8, 4, want), 16, 4, kFiltered + kHalfFloat,
                     "scale");
    // The outer columns read past the source: its transparent border.
    const std::vector<float> got = ReadRGBA(out.GetFBO(PING), 16, 8);
    for (int c = 0; c < 4; ++c) EXPECT_EQ(got[c], 0.0f) << "channel " << c;
}

TEST_F(StandardShaders, CopiesClampAtOneAndFollowTheTransposedTransform) {
    Image bright = PremultipliedInput(16, 8);
    for (size_t i = 0; i < bright.pixels.size(); i += 5) bright.pixels[i] = 1.0f + bright.pixels[i];
    Image brightRed = CoverageInput(16, 8);
    for (size_t i = 0; i < brightRed.pixels.size(); i += 3) brightRed.pixels[i] += 2.0f;
    Framebuffer in, inRed;
    Fill(in, bright);
    Fill(inRed, brightRed);

    // Column-major as the passes build it, uploaded transposed: a shift of two pixels right.
    const float shift = 2.0f * 2.0f / 16.0f;
    const float translate[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, shift, 0, 0, 1};
    const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    for (const bool shifted : {false, true}) {
        const float* xform = shifted ? translate : identity;
        const int dx = shifted ? 2 : 0;
        const auto texel = [&](const Image& image, float u, float v) {
            const int x = int(u * 16) - dx, y = int(v * 8);
            Vec4 p{};
            // Left of the moved quad nothing is drawn: the cleared target shows.
            if (x < 0) return p;
            for (int c = 0; c < image.channels; ++c) p[c] = std::min(image.At(x, y, c), 1.0f);
            return p;
        };

        Framebuffer out = Target(16, 8, 4);
        Draw(kCopyProgram, in, out, [&](GLuint p) { glUniformMatrix4fv(Loc(p, "xform"), 1, GL_TRUE, xform); });
        ExpectImagesNear(ReadRGBA(out.GetFBO(PING), 16, 8),
                         Expected(16, 8, 4, [&](float u, float v) { return texel(bright, u, v); }), 16, 4, kArithmetic,
                         shifted ? "copy, shifted" : "copy");

        Framebuffer outRed = Target(16, 8, 1);
        Draw(kCopySingleProgram, inRed, outRed,
             [&](GLuint p) { glUniformMatrix4fv(Loc(p, "xform"), 1, GL_TRUE, xform); });
        ExpectImagesNear(ReadRed(outRed.GetFBO(PING), 16, 8),
                         Expected(16, 8, 1, [&](float u, float v) { return texel(brightRed, u, v); }), 16, 1,
                         kArithmetic, shifted ? "single-channel copy, shifted" : "single-channel copy");
    }
}

TEST_F(StandardShaders, ColouriseWithAndWithoutInner) {
    const Image rgba = PremultipliedInput(16, 8);
    Framebuffer in;
    Fill(in, rgba);
    const Vec4 fill{0.2f, 0.6f, 0.9f, 0.0f};
    const float opacity = 0.65f;
    for (const int inner : {0, 1}) {
        for (const float influence : {0.0f, 0.5f, 1.0f}) {
            Framebuffer out = Target(16, 8, 4);
            Draw(kColouriseProgram, in, out, [&](GLuint p) {
                glUniform1f(Loc(p, "opacityF"), opacity);
                glUniform4f(Loc(p, "colorF"), fill[0], fill[1], fill[2], influence);
                glUniform1i(Loc(p, "innerL"), inner);
            });
            const auto want = [&](float u, float v) {
                Vec4 c = Sample4(rgba, u, v);
                // Inside: coverage inverted, and only it takes the opacity.
                if (inner) c[3] = (1 - c[3]) * opacity;
                if (influence > 0)
                    for (int k = 0; k < 3; ++k) c[k] = c[k] + (fill[k] * c[3] - c[k]) * influence;
                if (!inner)
                    for (float& x : c) x *= opacity;
                return c;
            };
            ExpectImagesNear(ReadRGBA(out.GetFBO(PING), 16, 8), Expected(16, 8, 4, want), 16, 4, kArithmetic,
                             "innerL " + std::to_string(inner) + " influence " + std::to_string(influence));
        }
    }
}

TEST_F(StandardShaders, InnerInvertOfScaledCoverage) {
    const Image red = CoverageInput(16, 8);
    Framebuffer in;
    Fill(in, red);
    Framebuffer out = Target(16, 8, 1);
    const float sw = 1.25f, sh = 1.5f;
    Draw(kInnerInvertProgram, in, out, [&](GLuint p) {
        glUniform1f(Loc(p, "scaleW"), sw);
        glUniform1f(Loc(p, "scaleH"), sh);
    });
    const std::vector<float> got = ReadRed(out.GetFBO(PING), 16, 8);
    ExpectImagesNear(got, Expected(16, 8, 1, [&](float u, float v) {
                         return Vec4{1.0f - Sample(red, (u - 0.5f) * sw + 0.5f, (v - 0.5f) * sh + 0.5f, 0)};
                     }),
                     16, 1, kFiltered, "inner invert");
    EXPECT_EQ(got[0], 1.0f) << "outside the source there is no coverage, so all of it is inside";
}

TEST_F(StandardShaders, FinalPassUnmultipliesAppliesGammaAndOpacityAndReorders) {
    Image input = PremultipliedInput(16, 8);
    // An empty texel with colour in it: no division may touch it.
    input.pixels[0] = 0.5f;
    input.pixels[1] = 0.25f;
    input.pixels[2] = 0.125f;
    input.pixels[3] = 0.0f;
    Framebuffer in;
    Fill(in, input);

    struct Case {
        int unmult, gamma;
        float shadowGamma, opacity;
        float tolerance;
    };
    const Case cases[] = {
        {0, 0, 1.0f, 1.0f, kArithmetic},  // the channel order alone
        {1, 0, 1.0f, 0.5f, kArithmetic},
        {1, 1, 2.2f, 0.8f, kTranscendental},
        {0, 1, 0.5f, 1.0f, kTranscendental},
    };
    for (const Case& k : cases) {
        Framebuffer out = Target(16, 8, 4);
        Draw(kFinalPassProgram, in, out, [&](GLuint p) {
            glUniform1i(Loc(p, "unmultL"), k.unmult);
            glUniform1i(Loc(p, "gammaB"), k.gamma);
            glUniform1f(Loc(p, "shadowOpacityF"), k.opacity);
            glUniform1f(Loc(p, "shadowGammaF"), k.shadowGamma);
        });
        const auto want = [&](float u, float v) {
            Vec4 c = Sample4(input, u, v);
            if (k.unmult && c[3] > 0)
                for (int i = 0; i < 3; ++i) c[i] /= c[3];
            if (k.shadowGamma != 1.0f) c[3] = std::pow(c[3], k.shadowGamma);
            if (k.gamma)
                for (int i = 0; i < 3; ++i) c[i] = std::pow(c[i], 0.4545f);
            c[3] *= k.opacity;
            return Vec4{c[3], c[0], c[1], c[2]};
        };
        const std::vector<float> got = ReadRGBA(out.GetFBO(PING), 16, 8);
        ExpectImagesNear(got, Expected(16, 8, 4, want), 16, 4, k.tolerance,
                         "unmult " + std::to_string(k.unmult) + " gamma " + std::to_string(k.gamma));
        if (!k.gamma) {
            EXPECT_EQ(got[1], 0.5f) << "alpha 0: colour left as it is";
        }
    }
}

}  // namespace
