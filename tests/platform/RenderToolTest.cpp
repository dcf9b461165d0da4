// The command-line renderer run as a user runs it: image files in and out
// with each format's alpha convention, and the panel picture as the host
// shows the panel.
#include <gtest/gtest.h>

#include <OpenImageIO/imageio.h>
#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Four channels, red green blue alpha, in the frame's coordinates.
struct Image {
    int w = 0, h = 0, x = 0, y = 0;
    std::vector<float> rgba;
    const float* At(int px, int py) const { return &rgba[(size_t(py - y) * w + (px - x)) * 4]; }
};

// OpenImageIO's conventions (premultiplied colour), or the file's own straight values.
Image Read(const fs::path& path, bool straight) {
    OIIO::ImageSpec config;
    if (straight) config.attribute("oiio:UnassociatedAlpha", 1);
    auto in = OIIO::ImageInput::open(path.string(), &config);
    Image im;
    if (!in) return ADD_FAILURE() << "cannot read " << path, im;
    im.w = in->spec().width, im.h = in->spec().height;
    im.rgba.resize(size_t(im.w) * im.h * 4);
    EXPECT_EQ(in->spec().nchannels, 4);
    EXPECT_TRUE(in->read_image(0, 0, 0, 4, OIIO::TypeDesc::FLOAT, im.rgba.data()));
    return im;
}

class RenderTool : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/uf3_tool_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        if (const char* home = getenv("HOME")) oldHome = home;
        setenv("HOME", dir.c_str(), 1);
    }
    void TearDown() override {
        oldHome.empty() ? unsetenv("HOME") : setenv("HOME", oldHome.c_str(), 1);
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    // Runs the renderer and returns its report.
    std::string Run(const std::string& args) {
        const std::string command =
            std::string(UMBRAFEX_RENDER_TOOL) + " " + args + " > '" + (dir / "report").string() + "' 2>&1";
        const int status = std::system(command.c_str());
        std::stringstream report;
        report << std::ifstream(dir / "report").rdbuf();
        EXPECT_EQ(status, 0) << command << "\n" << report.str();
        return report.str();
    }
    // The frame written, placed at the origin relative to the layer that the report gives.
    static Image Frame(const std::string& report, const fs::path& path, bool straight) {
        Image im = Read(path, straight);
        const size_t at = report.find("origin (");
        if (at == std::string::npos || std::sscanf(report.c_str() + at, "origin (%d, %d)", &im.x, &im.y) != 2)
            ADD_FAILURE() << report;
        return im;
    }
    std::string P(const char* name) const { return (dir / name).string(); }

    fs::path dir;
    std::string oldHome;
};

TEST_F(RenderTool, SoftEdgesComeBackAsTheyWentInAndTheExrIsPremultiplied) {
    // A square at alpha 128 fading out over 12 pixels, under the Alpha
    // Threshold, so the frame is the source unchanged; colour varies per channel.
    constexpr int W = 160, H = 100;
    std::vector<unsigned char> layer(W * H * 4, 0);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const int inside = std::min({x - 30, 130 - x, y - 20, 80 - y});
            if (inside < 0) continue;
            unsigned char* p = &layer[(size_t(y) * W + x) * 4];
            p[0] = 240, p[1] = static_cast<unsigned char>(60 + x), p[2] = static_cast<unsigned char>(2 * y);
            p[3] = static_cast<unsigned char>(inside >= 12 ? 128 : 8 + 10 * inside);
        }
    {
        auto out = OIIO::ImageOutput::create(P("layer.png"));
        OIIO::ImageSpec spec(W, H, 4, OIIO::TypeDesc::UINT8);
        spec.attribute("oiio:UnassociatedAlpha", 1);
        ASSERT_TRUE(out && out->open(P("layer.png"), spec) && out->write_image(OIIO::TypeDesc::UINT8, layer.data()) &&
                    out->close());
    }
    // The panel comes up as the host shows it: Solid Fill hides the gradient editor.
    const std::string eight =
        Run("--input " + P("layer.png") + " --output " + P("frame.png") + " --panel " + P("solid.png"));
    const std::string full = Run("--input " + P("layer.png") + " --bpc 32 --output " + P("frame.exr") +
                                 " --set 'Fill Mode=Gradient Fill' --panel " + P("gradient.png"));
    EXPECT_NE(eight.find("1 custom controls"), std::string::npos) << eight;
    EXPECT_NE(full.find("2 custom controls"), std::string::npos) << full;
    // The EXR as a layer: its premultiplied colour is divided out again.
    const std::string again = Run("--input " + P("frame.exr") + " --bpc 32 --output " + P("again.exr"));
    const Image s = Frame(eight, P("frame.png"), true), e = Frame(full, P("frame.exr"), false),
                back = Frame(again, P("again.exr"), false);
    for (const Image* im : {&s, &e, &back})  // the frame holds the whole layer
        ASSERT_TRUE(im->x <= 0 && im->y <= 0 && im->x + im->w >= W && im->y + im->h >= H) << im->x << "," << im->y;
    int worst = 0;
    double worstExr = 0;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const unsigned char* in = &layer[(size_t(y) * W + x) * 4];
            const float a = in[3] / 255.0f;
            for (int c = 0; c < 4; ++c) {
                worst = std::max(worst, std::abs(int(std::lround(s.At(x, y)[c] * 255)) - in[c]));
                const float expected = c == 3 ? a : in[c] / 255.0f * a;
                for (const Image* im : {&e, &back})  // NaN counts as worst
                    if (const double d = std::abs(im->At(x, y)[c] - expected); !(d <= worstExr)) worstExr = d;
            }
        }
    EXPECT_LE(worst, 1) << "8-bit straight colour, in 1/255";
    EXPECT_LE(worstExr, 1e-5) << "EXR colour premultiplied, from the PNG layer and from the EXR";
}

TEST_F(RenderTool, SampleSceneAgreesAtEightAndThirtyTwoBitsPremultiplied) {
    const Image eight = Frame(Run("--size 240x135 --output " + P("scene.png")), P("scene.png"), false);
    const Image full = Frame(Run("--size 240x135 --bpc 32 --output " + P("scene.exr")), P("scene.exr"), false);
    ASSERT_TRUE(eight.w == full.w && eight.h == full.h && eight.x == full.x && eight.y == full.y);
    // idiff's thresholds: at most 2 % of pixels off by more than 0.004, none by more than 0.012.
    size_t over = 0, worstAt = 0;
    double worst = 0;
    std::vector<float> difference(eight.rgba.size());
    for (size_t i = 0; i < eight.rgba.size(); i += 4) {
        double d = 0;
        for (int c = 0; c < 4; ++c) {
            difference[i + c] = std::abs(eight.rgba[i + c] - full.rgba[i + c]);
            d = std::max(d, double(difference[i + c]));
        }
        over += d > 0.004;
        if (d > worst) worst = d, worstAt = i;
    }
    EXPECT_LE(worst, 0.012) << "at (" << worstAt / 4 % eight.w << ", " << worstAt / 4 / eight.w << "): 8-bit "
                            << eight.rgba[worstAt] << " " << eight.rgba[worstAt + 1] << " " << eight.rgba[worstAt + 2]
                            << " " << eight.rgba[worstAt + 3] << ", float " << full.rgba[worstAt] << " "
                            << full.rgba[worstAt + 1] << " " << full.rgba[worstAt + 2] << " " << full.rgba[worstAt + 3];
    EXPECT_LE(over, eight.rgba.size() / 4 / 50) << "pixels over 0.004";
    if (HasFailure()) {
        const std::string path = testing::TempDir() + "umbrafex_scene_difference.exr";
        auto out = OIIO::ImageOutput::create(path);
        if (out && out->open(path, OIIO::ImageSpec(eight.w, eight.h, 4, OIIO::TypeDesc::FLOAT)) &&
            out->write_image(OIIO::TypeDesc::FLOAT, difference.data()) && out->close())
            ADD_FAILURE() << "the difference is in " << path;
    }
}

}  // namespace
