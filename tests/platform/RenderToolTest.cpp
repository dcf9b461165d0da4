// The command-line renderer run as a user runs it: image files in and out
// with each format's alpha convention, and the panel picture as the host
// shows the panel.
#include <gtest/gtest.h>

#include <OpenImageIO/imageio.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <unistd.h>

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
// Writes a float file with the given channels, data window and display window
// (at fullX, fullY), as parts of one file when `parts` holds more, and tiled
// when `tile` is set.
OIIO::ImageSpec Spec(const std::vector<std::string>& channels, int x, int y, int w, int h, int fullW, int fullH,
                     int fullX = 0, int fullY = 0) {
    OIIO::ImageSpec spec(w, h, int(channels.size()), OIIO::TypeDesc::FLOAT);
    spec.channelnames = channels;
    spec.alpha_channel = -1;
    spec.x = x, spec.y = y, spec.full_x = fullX, spec.full_y = fullY, spec.full_width = fullW, spec.full_height = fullH;
    return spec;
}
using Value = std::function<float(int c, int px, int py)>;
void WriteFile(const std::string& path, std::vector<OIIO::ImageSpec> parts, const Value& value, int tile = 0) {
    auto out = OIIO::ImageOutput::create(path);
    ASSERT_TRUE(out);
    for (OIIO::ImageSpec& spec : parts) spec.tile_width = spec.tile_height = tile;
    ASSERT_TRUE(parts.size() == 1 ? out->open(path, parts[0]) : out->open(path, int(parts.size()), parts.data()));
    for (size_t i = 0; i < parts.size(); ++i) {
        const OIIO::ImageSpec& spec = parts[i];
        std::vector<float> pixels;
        for (int py = 0; py < spec.height; ++py)
            for (int px = 0; px < spec.width; ++px)
                for (int c = 0; c < spec.nchannels; ++c) pixels.push_back(value(c, px, py));
        ASSERT_TRUE((i == 0 || out->open(path, spec, OIIO::ImageOutput::AppendSubimage)) &&
                    out->write_image(OIIO::TypeDesc::FLOAT, pixels.data()))
            << out->geterror();
    }
    ASSERT_TRUE(out->close());
}
void WriteExr(const std::string& path, const std::vector<std::string>& channels, int x, int y, int w, int h,
              int fullW, int fullH, const Value& value) {
    WriteFile(path, {Spec(channels, x, y, w, h, fullW, fullH)}, value);
}

// A square at alpha 128 fading out over 12 pixels, under the Alpha Threshold,
// so the frame is the source unchanged; colour varies per channel. Straight
// 8-bit values, written to a PNG.
constexpr int W = 160, H = 100;
std::vector<unsigned char> SoftLayer(const std::string& path) {
    std::vector<unsigned char> layer(W * H * 4, 0);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const int inside = std::min({x - 30, 130 - x, y - 20, 80 - y});
            if (inside < 0) continue;
            unsigned char* p = &layer[(size_t(y) * W + x) * 4];
            p[0] = 240, p[1] = static_cast<unsigned char>(60 + x), p[2] = static_cast<unsigned char>(2 * y);
            p[3] = static_cast<unsigned char>(inside >= 12 ? 128 : 8 + 10 * inside);
        }
    auto out = OIIO::ImageOutput::create(path);
    OIIO::ImageSpec spec(W, H, 4, OIIO::TypeDesc::UINT8);
    spec.attribute("oiio:UnassociatedAlpha", 1);
    EXPECT_TRUE(out && out->open(path, spec) && out->write_image(OIIO::TypeDesc::UINT8, layer.data()) && out->close());
    return layer;
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
    static Image Frame(const std::string& report, const fs::path& path, bool straight, int fullX = 0, int fullY = 0) {
        Image im = Read(path, straight);
        const size_t at = report.find("origin ("), layer = report.find("\n", report.find("Layer: "));
        int w = 0, h = 0;
        if (at == std::string::npos || std::sscanf(report.c_str() + at, "origin (%d, %d)", &im.x, &im.y) != 2 ||
            std::sscanf(report.c_str() + report.rfind(", ", layer) + 2, "%dx%d", &w, &h) != 2)
            ADD_FAILURE() << report;
        if (path.extension() == ".exr") {
            EXPECT_TRUE(im.spec.x == fullX + im.x && im.spec.y == fullY + im.y && im.spec.full_x == fullX &&
                        im.spec.full_y == fullY &&
                        im.spec.full_width == w && im.spec.full_height == h)
                << path << ": data window at " << im.spec.x << "," << im.spec.y << ", display window "
                << im.spec.full_width << "x" << im.spec.full_height << " at " << im.spec.full_x << ","
                << im.spec.full_y << "\n" << report;
        }
        return im;
    }
    std::string P(const std::string& name) const { return (dir / name).string(); }
    // Runs the renderer with each of the arguments, eight at a time: each is a process of its own, a sanitized one large.
    std::vector<Outcome> LaunchAll(const std::vector<std::string>& args) const {
        std::vector<Outcome> outcomes(args.size());
        for (size_t first = 0; first < args.size(); first += 8) {
            std::vector<std::future<void>> runs;
            for (size_t i = first; i < std::min(args.size(), first + 8); ++i)
                runs.push_back(std::async(std::launch::async,
                                          [&, i] { outcomes[i] = Launch(args[i], "", std::to_string(i)); }));
        }
        return outcomes;
    }

    fs::path dir;
    std::string oldHome, errors;
};

TEST_F(RenderTool, SoftEdgesComeBackAsTheyWentInAndTheExrIsPremultiplied) {
    const std::vector<unsigned char> layer = SoftLayer(P("layer.png"));
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

    // Colour in a second part after a depth map; R, G, B beside a layer's own
    // alpha, which is not theirs; CMYK, which the library converts; and a
    // display window at (100, 100), which the frame keeps.
    const Value quarter = [](int c, int, int) { return c == 3 ? 0.25f : 0.2f * float(c + 1); };
    WriteFile(P("parts.exr"), {Spec({"Z"}, 0, 0, 8, 8, 8, 8), Spec({"R", "G", "B", "A"}, 0, 0, 8, 8, 8, 8)}, quarter);
    WriteExr(P("diffuse.exr"), {"R", "G", "B", "diffuse.A"}, 0, 0, 8, 8, 8, 8, quarter);
    OIIO::ImageSpec cmyk = Spec({"C", "M", "Y", "K"}, 0, 0, 8, 8, 8, 8);
    cmyk.attribute("tiff:ColorSpace", "CMYK");
    cmyk.set_format(OIIO::TypeDesc::UINT8);
    WriteFile(P("cmyk.tif"), {cmyk}, [](int c, int, int) { return c == 0 ? 1.0f : c == 3 ? 0.6f : 0.0f; });
    WriteFile(P("placed.exr"), {Spec({"R", "G", "B"}, 110, 105, 10, 10, 40, 30, 100, 100)}, quarter);
    const struct {
        std::string file;
        float rgba[4];
        int fullX;
    } layers[] = {{"parts.exr", {0.8f, 1.6f, 2.4f, 0.25f}, 0},  // straight again: divided by alpha
                  {"diffuse.exr", {0.2f, 0.4f, 0.6f, 1}, 0},
                  {"cmyk.tif", {0, 0.4f, 0.4f, 1}, 0},
                  {"placed.exr", {0.2f, 0.4f, 0.6f, 1}, 100}};
    for (const auto& l : layers) {
        const std::string out = P("out-" + l.file + ".exr");
        const Image f = Frame(Run("--input " + P(l.file) + " --bpc 32 --output " + out), out, false, l.fullX, l.fullX);
        const float* q = f.At(l.fullX ? 14 : 4, l.fullX ? 9 : 4);
        for (int c = 0; c < 4; ++c)
            EXPECT_NEAR(q[c], l.rgba[c] * (c < 3 ? l.rgba[3] : 1), 2e-3) << l.file << " channel " << c;
    }
}

TEST_F(RenderTool, MistakesAreRefusedOnStandardErrorBeforeRendering) {
    std::ofstream(P("huge.ppm"), std::ios::binary) << "P6\n100000 100000\n255\n" << std::string(3, '\0');
    // A photo cut short and a picture damaged in its middle; a depth map; inks with alpha, which the library
    // leaves as they are.
    const Value noise = [](int c, int x, int y) { return float((x * 7919 + y * 104729 + c * 31) % 251) / 250; };
    for (const std::string name : {"photo.jpg", "picture.png"}) {
        WriteFile(P(name), {Spec({"R", "G", "B"}, 0, 0, 427, 300, 427, 300)}, noise);
        std::stringstream bytes;
        bytes << std::ifstream(P(name), std::ios::binary).rdbuf();
        std::string kept = bytes.str();
        if (name == "photo.jpg") kept.resize(kept.size() / 2);
        for (size_t i = kept.size() / 2; name == "picture.png" && i < kept.size() / 2 + 64; ++i) kept[i] ^= 0x5a;
        std::ofstream(P("bad-" + name), std::ios::binary) << kept;
    }
    WriteExr(P("depth.exr"), {"Z"}, 0, 0, 8, 8, 8, 8, noise);
    OIIO::ImageSpec inks = Spec({"C", "M", "Y", "K", "A"}, 0, 0, 8, 8, 8, 8);
    inks.attribute("tiff:ColorSpace", "CMYK");
    inks.set_format(OIIO::TypeDesc::UINT8);
    WriteFile(P("inks.tif"), {inks}, noise);
    const struct {
        std::string args, says;
    } cases[] = {
        {"--input " + P("huge.ppm"), "\"" + P("huge.ppm") + "\" is 100000x100000 pixels; each side must be 1 to 16384"},
        {"--output " + P("frame.xyz"), "cannot write \"" + P("frame.xyz") + "\": OpenImageIO could not find a format writer"},
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
        {"--input " + P("bad-photo.jpg"), "cannot read \"" + P("bad-photo.jpg") + "\": JPEG error: Premature end of JPEG file"},
        {"--texture " + P("bad-picture.png"), "cannot read \"" + P("bad-picture.png") + "\": PNG read error"},
        {"--input " + P("depth.exr"), "\"" + P("depth.exr") + "\" holds no colour channels (R, G, B or Y), only Z"},
        {"--input " + P("inks.tif"), "\"" + P("inks.tif") + "\" holds no colour channels (R, G, B or Y), only ink0, "
                                     "ink1, ink2, ink3, ink4"},
    };
    std::vector<std::string> args;
    for (const auto& c : cases) args.push_back("--output " + P("frame.png") + " " + c.args);
    const std::vector<Outcome> outcomes = LaunchAll(args);
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Outcome& o = outcomes[i];
        EXPECT_NE(o.status, 0) << cases[i].args;
        EXPECT_EQ(o.report.find("Render 1"), std::string::npos) << cases[i].args << "\n" << o.report;
        // One line, the library's own text in it once (a sanitizer's counts of suppressed leaks may follow).
        const std::string says = "umbrafex-render: " + cases[i].says, line = o.errors.substr(0, o.errors.find("---"));
        EXPECT_TRUE(line.rfind(says, 0) == 0 && line.find('\n') + 1 == line.size() &&
                    line.find(says.substr(says.size() - 12), says.size()) == std::string::npos)
            << cases[i].args << "\n" << o.errors;
    }
    EXPECT_FALSE(fs::exists(P("frame.png")));
}

TEST_F(RenderTool, EveryLayoutAndTheRenderersOwnFramesReadBackAsWritten) {
    const std::vector<unsigned char> layer = SoftLayer(P("layer.png"));
    auto premultiplied = [&](int c, int x, int y) {
        const unsigned char* p = &layer[(size_t(y) * W + x) * 4];
        return c == 3 ? p[3] / 255.0f : p[c] / 255.0f * (p[3] / 255.0f);
    };
    // Tiled files, as the library writes them premultiplied.
    for (const char* name : {"tiled.tif", "tiled.exr"}) {
        OIIO::ImageSpec spec = Spec({"R", "G", "B", "A"}, 0, 0, W, H, W, H);
        spec.alpha_channel = 3;
        WriteFile(P(name), {spec}, premultiplied, 16);
    }
    // The renderer's own frames, in every format that holds alpha exactly.
    const std::vector<std::string> formats = {"png", "exr", "tif", "tga", "bmp", "sgi", "dpx", "rla", "jp2", "iff"};
    std::vector<std::string> writes, reads = {"--input " + P("tiled.tif") + " --texture " + P("tiled.exr"),
                                              "--input " + P("tiled.exr") + " --texture " + P("tiled.tif")};
    for (const std::string& f : formats) {
        writes.push_back("--input " + P("layer.png") + " --output " + P("frame." + f));
        reads.push_back("--input " + P("frame." + f));
    }
    for (const Outcome& o : LaunchAll(writes)) EXPECT_EQ(o.status, 0) << o.report << o.errors;
    for (std::string& r : reads) r += " --bpc 32 --output " + P("back" + std::to_string(&r - reads.data()) + ".exr");
    const std::vector<Outcome> back = LaunchAll(reads);
    for (size_t i = 0; i < reads.size(); ++i) {
        ASSERT_EQ(back[i].status, 0) << reads[i] << "\n" << back[i].report << back[i].errors;
        const Image im = Frame(back[i].report, P("back" + std::to_string(i) + ".exr"), false);
        double worst = 0;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                for (int c = 0; c < 4; ++c) worst = std::max(worst, double(std::abs(im.At(x, y)[c] - premultiplied(c, x, y))));
        EXPECT_LE(worst, 1.01 / 255) << reads[i];
    }
    // DPX holds no negative origin: the frame is written without windows, which is said.
    const Outcome dpx = Launch("--input " + P("layer.png") + " --output " + P("frame.dpx"));
    EXPECT_NE(dpx.errors.find(P("frame.dpx") + " holds no negative origin: wrote the frame without windows"),
              std::string::npos) << dpx.errors;
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

    // Formats written straight to the file, not in memory: a frame cut short does not read back whole.
    for (const std::string name : {"frame.sgi", "frame.fits"}) {
        std::ofstream(P(name)) << "an earlier frame";
        report = Run("--size 320x180 --output " + P(name), false, "trap '' XFSZ; ulimit -f 8;");
        EXPECT_NE(errors.find("cannot write \"" + P(name) + "\": the file written does not read back"),
                  std::string::npos) << errors;
        std::stringstream earlier;
        earlier << std::ifstream(P(name)).rdbuf();
        EXPECT_EQ(earlier.str(), "an earlier frame");
    }

    // The temporary file ends in the target's extension, so no reader takes it for another format.
    const int watch = inotify_init1(IN_NONBLOCK);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, dir.c_str(), IN_CREATE), 0);
    Run("--size 32x18 --output " + P("named.png"));
    alignas(inotify_event) char events[4096];
    std::vector<std::string> created;
    for (ssize_t n; (n = read(watch, events, sizeof events)) > 0;)
        for (char* e = events; e < events + n; e += sizeof(inotify_event) + reinterpret_cast<inotify_event*>(e)->len)
            created.push_back(reinterpret_cast<inotify_event*>(e)->name);
    close(watch);
    EXPECT_TRUE(std::any_of(created.begin(), created.end(), [](const std::string& name) {
        return name.rfind(".named.png.", 0) == 0 && name.size() == 21 && name.substr(17) == ".png";
    })) << testing::PrintToString(created);

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
