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
#include <functional>
#include <future>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Red green blue alpha (alpha 1 where the file has none), in the frame's coordinates.
struct Image {
    int w = 0, h = 0, x = 0, y = 0;
    OIIO::ImageSpec spec;  // as the file declares it, windows included
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
    im.spec = in->spec();
    im.w = im.spec.width, im.h = im.spec.height;
    const int n = im.spec.nchannels;
    std::vector<float> pixels(size_t(im.w) * im.h * n);
    EXPECT_TRUE(n == 4 || n == 3) << n;
    EXPECT_TRUE(in->read_image(0, 0, 0, n, OIIO::TypeDesc::FLOAT, pixels.data()));
    im.rgba.assign(size_t(im.w) * im.h * 4, 1.0f);
    for (size_t i = 0; i < size_t(im.w) * im.h; ++i) std::copy_n(&pixels[i * n], std::min(n, 4), &im.rgba[i * 4]);
    return im;
}

// Writes a float file with the given channels, data window and display window.
void WriteExr(const std::string& path, const std::vector<std::string>& channels, int x, int y, int w, int h,
              int fullW, int fullH, const std::function<float(int c, int px, int py)>& value) {
    OIIO::ImageSpec spec(w, h, int(channels.size()), OIIO::TypeDesc::FLOAT);
    spec.channelnames = channels;
    spec.alpha_channel = -1;
    spec.x = x, spec.y = y, spec.full_x = spec.full_y = 0, spec.full_width = fullW, spec.full_height = fullH;
    std::vector<float> pixels;
    for (int py = 0; py < h; ++py)
        for (int px = 0; px < w; ++px)
            for (int c = 0; c < int(channels.size()); ++c) pixels.push_back(value(c, px, py));
    auto out = OIIO::ImageOutput::create(path);
    ASSERT_TRUE(out && out->open(path, spec) && out->write_image(OIIO::TypeDesc::FLOAT, pixels.data()) &&
                out->close());
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

    struct Outcome {
        int status;
        std::string report, errors;
    };
    // Runs the renderer (after `before`, shell words run first in its shell);
    // `tag` names its report files, so that runs may go at once.
    Outcome Launch(const std::string& args, const std::string& before = "", const std::string& tag = "") const {
        const fs::path report = dir / ("report" + tag), errors = dir / ("errors" + tag);
        const std::string command = "(" + before + " " + UMBRAFEX_RENDER_TOOL + " " + args + ") > '" +
                                    report.string() + "' 2> '" + errors.string() + "'";
        Outcome o{std::system(command.c_str()), "", ""};
        std::stringstream out, err;
        out << std::ifstream(report).rdbuf();
        err << std::ifstream(errors).rdbuf();
        o.report = out.str(), o.errors = err.str();
        return o;
    }
    // Its report; what it wrote on standard error is left in `errors`.
    std::string Run(const std::string& args, bool succeeds = true, const std::string& before = "") {
        const Outcome o = Launch(args, before);
        errors = o.errors;
        EXPECT_EQ(o.status == 0, succeeds) << args << "\n" << o.report << errors;
        return o.report;
    }
    // The frame written, placed at the origin relative to the layer that the
    // report gives; an EXR holds that origin as its data window inside the layer.
    static Image Frame(const std::string& report, const fs::path& path, bool straight) {
        Image im = Read(path, straight);
        const size_t at = report.find("origin ("), layer = report.find("\n", report.find("Layer: "));
        int w = 0, h = 0;
        if (at == std::string::npos || std::sscanf(report.c_str() + at, "origin (%d, %d)", &im.x, &im.y) != 2 ||
            std::sscanf(report.c_str() + report.rfind(", ", layer) + 2, "%dx%d", &w, &h) != 2)
            ADD_FAILURE() << report;
        if (path.extension() == ".exr") {
            EXPECT_TRUE(im.spec.x == im.x && im.spec.y == im.y && im.spec.full_x == 0 && im.spec.full_y == 0 &&
                        im.spec.full_width == w && im.spec.full_height == h)
                << path << ": data window at " << im.spec.x << "," << im.spec.y << ", display window "
                << im.spec.full_width << "x" << im.spec.full_height << " at " << im.spec.full_x << ","
                << im.spec.full_y << "\n" << report;
        }
        return im;
    }
    std::string P(const char* name) const { return (dir / name).string(); }

    fs::path dir;
    std::string oldHome, errors;
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
    // A format without alpha gets the frame over black, and says so.
    const Image over = Frame(Run("--input " + P("layer.png") + " --output " + P("frame.ppm")), P("frame.ppm"), true);
    EXPECT_NE(errors.find("frame.ppm holds no alpha: wrote the frame over black"), std::string::npos) << errors;
    const Image s = Frame(eight, P("frame.png"), true), e = Frame(full, P("frame.exr"), false),
                back = Frame(again, P("again.exr"), false);
    for (const Image* im : {&s, &e, &back, &over})  // the frame holds the whole layer
        ASSERT_TRUE(im->x <= 0 && im->y <= 0 && im->x + im->w >= W && im->y + im->h >= H) << im->x << "," << im->y;
    int worst = 0, worstOver = 0;
    double worstExr = 0;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const unsigned char* in = &layer[(size_t(y) * W + x) * 4];
            const float a = in[3] / 255.0f;
            for (int c = 0; c < 4; ++c) {
                worst = std::max(worst, std::abs(int(std::lround(s.At(x, y)[c] * 255)) - in[c]));
                if (c < 3)
                    worstOver = std::max(worstOver, std::abs(int(std::lround(over.At(x, y)[c] * 255)) -
                                                             int(std::lround(in[c] * a))));
                const float expected = c == 3 ? a : in[c] / 255.0f * a;
                for (const Image* im : {&e, &back})  // NaN counts as worst
                    if (const double d = std::abs(im->At(x, y)[c] - expected); !(d <= worstExr)) worstExr = d;
            }
        }
    EXPECT_LE(worst, 1) << "8-bit straight colour, in 1/255";
    EXPECT_LE(worstOver, 1) << "8-bit colour over black, in 1/255";
    EXPECT_LE(worstExr, 1e-5) << "EXR colour premultiplied, from the PNG layer and from the EXR";
}

TEST_F(RenderTool, ExrChannelsAreTakenByNameAndTheDisplayWindowIsTheLayer) {
    // Opaque colour beside a depth channel, its 20x10 data window at (5, 7) in a 53x37 display window.
    WriteExr(P("rgbz.exr"), {"R", "G", "B", "Z"}, 5, 7, 20, 10, 53, 37,
             [](int c, int x, int y) { return c < 3 ? 0.25f * float(c + 1) : 2.0f + float(x + 2 * y); });
    // Red and green alone: opaque, no blue.
    WriteExr(P("rg.exr"), {"R", "G"}, 0, 0, 8, 8, 8, 8, [](int c, int, int) { return c == 0 ? 0.5f : 0.25f; });
    const std::string report = Run("--input " + P("rgbz.exr") + " --bpc 32 --output " + P("rgbz-out.exr"));
    EXPECT_NE(report.find("Layer: " + P("rgbz.exr") + ", 53x37\n"), std::string::npos) << report;
    const Image f = Frame(report, P("rgbz-out.exr"), false);
    ASSERT_TRUE(f.x <= 0 && f.y <= 0 && f.x + f.w >= 53 && f.y + f.h >= 37);
    for (int y = 0; y < 37; ++y)
        for (int x = 0; x < 53; ++x) {
            const float* p = f.At(x, y);
            const bool data = x >= 5 && x < 25 && y >= 7 && y < 17;
            if (data) {  // the layer in front of its shadow
                for (int c = 0; c < 4; ++c) EXPECT_NEAR(p[c], c < 3 ? 0.25 * (c + 1) : 1.0, 1e-6) << x << "," << y;
            } else if (x < 5 || y < 7) {  // transparent; the default light casts the shadow down and right
                EXPECT_EQ(p[3], 0.0f) << x << "," << y;
            }
        }
    const Image rg = Frame(Run("--input " + P("rg.exr") + " --bpc 32 --output " + P("rg-out.exr")), P("rg-out.exr"),
                           false);
    const float* p = rg.At(4, 4);
    EXPECT_TRUE(p[0] == 0.5f && p[1] == 0.25f && p[2] == 0.0f && p[3] == 1.0f)
        << p[0] << " " << p[1] << " " << p[2] << " " << p[3];
}

TEST_F(RenderTool, MistakesAreRefusedOnStandardErrorBeforeRendering) {
    std::ofstream(P("huge.ppm"), std::ios::binary) << "P6\n100000 100000\n255\n" << std::string(3, '\0');
    const struct {
        std::string args, says;
    } cases[] = {
        {"--input " + P("huge.ppm"), "\"" + P("huge.ppm") + "\" is 100000x100000 pixels; each side must be 1 to 16384"},
        {"--output " + P("frame.xyz"), "cannot write \"" + P("frame.xyz") + "\""},
        {"--size 64x36junk", "--size's height takes a whole number from 1 to 16384, not \"36junk\""},
        {"--size 0x36", "--size's width takes a whole number from 1 to 16384, not \"0\""},
        {"--zoom 1e9", "--zoom takes a number from 0.015625 to 64, not \"1e9\""},
        {"--zoom 64 --layer-window " + P("window.png"), "the window at zoom 64 is 61488x34608 pixels"},
        {"--rotation -4000", "--rotation takes a number from -3600 to 3600"},
        {"--downsample 65", "--downsample takes a whole number from 1 to 64"},
        {"--threads 1000", "--threads takes a whole number from 1 to 64"},
        {"--repeat 1.5", "--repeat takes a whole number from 1 to 10000"},
        {"--set Samples=0", "parameter 80 (Samples) takes a number from 1 to 2048, not \"0\""},
        {"--set Samples=1e5", "parameter 80 (Samples) takes a number from 1 to 2048, not \"1e5\""},
        {"--set 'Shadow Length=99999'", "parameter 26 (Shadow Length) takes a number from -4000 to 4000"},
        {"--set 'Light Radius=-100'",
         "more than one parameter is named \"Light Radius\": 23 (Light Radius), 25 (Light Radius); use its index"},
        {"--set 23=-100", "parameter 23 (Light Radius) takes a number from 0 to 2000, not \"-100\""},
        {"--set 23=5x", "\"5x\" is not a value for parameter 23 (Light Radius)"},
        {"--set 'Light Type=3'", "parameter 19 (Light Type) takes a whole number from 1 to 2, not \"3\""},
        {"--set 'Color=#12345g'", "\"#12345g\" is not a colour for parameter 40 (Color)"},
        {"--set 'Color=#-1-1-1'", "\"#-1-1-1\" is not a colour for parameter 40 (Color)"},
        {"--set 'Color=1,2,256'", "\"1,2,256\" is not a colour for parameter 40 (Color)"},
        {"--set Renderer=Standard",
         "more than one parameter is named \"Renderer\": 20 (Renderer), 96 (Renderer); use its index"},
        {"--set samples=3", "no parameter is named \"samples\"; near it: 80 (Samples)"},
        {"--set 125=1", "no parameter 125: they run from 1 to 124"},
    };
    // Eight at a time: each is a process of its own, a sanitized one large.
    constexpr size_t kAtOnce = 8;
    std::vector<Outcome> outcomes(std::size(cases));
    for (size_t first = 0; first < std::size(cases); first += kAtOnce) {
        std::vector<std::future<void>> runs;
        for (size_t i = first; i < std::min(std::size(cases), first + kAtOnce); ++i)
            runs.push_back(std::async(std::launch::async, [&, i] {
                outcomes[i] = Launch("--output " + P("frame.png") + " " + cases[i].args, "", std::to_string(i));
            }));
    }
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Outcome& o = outcomes[i];
        EXPECT_NE(o.status, 0) << cases[i].args;
        EXPECT_EQ(o.report.find("Render 1"), std::string::npos) << cases[i].args << "\n" << o.report;
        EXPECT_NE(o.errors.find("umbrafex-render: " + cases[i].says), std::string::npos)
            << cases[i].args << "\n" << o.errors;
    }
    EXPECT_FALSE(fs::exists(P("frame.png")));
}

TEST_F(RenderTool, AFailedWriteFailsAndLeavesTheTargetAsItWas) {
    // A target reached through a link, with a mode of its own, holding an earlier frame.
    std::ofstream(P("earlier.png")) << "an earlier frame";
    fs::permissions(P("earlier.png"), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink(P("earlier.png"), P("frame.png"));
    // Files may grow to 2 blocks: the frame does not fit, the report does.
    std::string report = Run("--size 320x180 --output " + P("frame.png"), false, "trap '' XFSZ; ulimit -f 2;");
    EXPECT_EQ(report.find("Output:"), std::string::npos) << report;
    EXPECT_NE(errors.find("cannot write \"" + P("frame.png") + "\": File too large"), std::string::npos) << errors;
    std::stringstream kept;
    kept << std::ifstream(P("earlier.png")).rdbuf();
    EXPECT_EQ(kept.str(), "an earlier frame");
    std::vector<std::string> left;  // no temporary file stays behind
    for (const auto& entry : fs::directory_iterator(dir)) left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"earlier.png", "errors", "frame.png", "report"}));

    // The device that is always full.
    if (fs::is_character_file("/dev/full")) {
        fs::create_symlink("/dev/full", P("full.exr"));
        report = Run("--size 32x18 --bpc 32 --output " + P("full.exr"), false);
        EXPECT_EQ(report.find("Output:"), std::string::npos) << report;
        EXPECT_NE(errors.find("cannot write \"" + P("full.exr") + "\": No space left on device"), std::string::npos)
            << errors;
        EXPECT_TRUE(fs::is_character_file("/dev/full"));
    }

    // Written, the frame replaces the earlier one behind the link and keeps its mode.
    Frame(Run("--size 32x18 --output " + P("frame.png")), P("frame.png"), true);
    EXPECT_TRUE(fs::is_symlink(P("frame.png")));
    EXPECT_EQ(fs::status(P("earlier.png")).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(RenderTool, FailedRendersAndErrorFramesFailOnStandardError) {
    // The host cannot make the render's first world.
    std::string report = Run("--size 32x18 --output " + P("frame.png"), false, "export UMBRAFEX_HOST_FAIL_WORLD=2;");
    EXPECT_EQ(report.find("Output:"), std::string::npos) << report;
    EXPECT_NE(errors.find("umbrafex-render: render 1 failed: "), std::string::npos) << errors;
    EXPECT_NE(errors.find("PF_Err_OUT_OF_MEMORY\n"), std::string::npos) << errors;
    EXPECT_FALSE(fs::exists(P("frame.png")));
    // No EGL driver to be found: the effect cannot make its context, draws its
    // message into the frame and returns success as a host expects.
    report =
        Run("--size 32x18 --output " + P("frame.png"), false, "export __EGL_VENDOR_LIBRARY_FILENAMES=/nonexistent;");
    EXPECT_NE(report.find("Output:"), std::string::npos) << report;
    EXPECT_NE(errors.find("umbrafex-render: the effect wrote to its error log"), std::string::npos) << errors;
    EXPECT_NE(errors.find("CreateContext"), std::string::npos) << errors;
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
