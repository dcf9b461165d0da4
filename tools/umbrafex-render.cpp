// umbrafex-render: loads the effect through the in-process host and renders
// one frame of a layer (an image file, or the built-in sample scene) to an
// image file, printing what it did and how long each stage took.
#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imageio.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/CompWindow.h"
#include "host/EffectControls.h"
#include "host/HandleSuite.h"
#include "host/Host.h"
#include "host/SuiteRegistry.h"
#include "host/WorldSuite.h"
#include "SampleScene.h"

namespace {

struct Options {
    std::string module = UMBRAFEX_MODULE_PATH;
    std::string input, texture, output = "umbrafex.png";
    int bpc = 8;
    std::vector<std::pair<std::string, std::string>> sets;
    std::string gradient;
    std::string panel;  // picture of the Effect Controls panel
    std::string compWindow, layerWindow;  // pictures of the windows with the effect's overlays
    double zoom = 1;
    double rotation = 0;  // of the layer in the composition, degrees
    int downsample = 1;
    int threads = 1;
    int repeat = 1;
    int width = 960, height = 540;  // of the sample scene
};

const char* kHelp =
    "usage: umbrafex-render [options]\n"
    "Renders one frame of the Umbrafex 3 effect through the in-process host.\n"
    "\n"
    "  --input FILE        the layer the effect is applied to (default: a built-in sample scene)\n"
    "  --size WxH          size of the sample scene (default 960x540)\n"
    "  --texture FILE      the layer chosen in the texture Layer parameter\n"
    "  --output FILE       where to write the frame: PNG at 8 bits, EXR at 32 (default umbrafex.png)\n"
    "  --bpc 8|32          bits per channel of the render (default 8)\n"
    "  --set P=V           set parameter P (its index, or its exact name when unique) to V:\n"
    "                      a popup position or choice text, 0/1 or on/off, a number, degrees,\n"
    "                      \"x,y\" layer pixels, \"r,g,b\" 0-255 or \"#rrggbb\"; may be repeated\n"
    "  --gradient S        stops of the Color Gradient as position:#rrggbb[aa] joined by commas\n"
    "  --panel FILE        also draw the Effect Controls panel's custom controls into a PNG\n"
    "  --comp-window FILE  also draw the composition window (the frame and the effect's overlays) into a PNG\n"
    "  --layer-window FILE likewise the layer window\n"
    "  --zoom Z            the windows' zoom (default 1)\n"
    "  --rotation DEG      the layer's rotation in the composition window (default 0)\n"
    "  --downsample N      render at 1/N resolution (default 1)\n"
    "  --threads N         render the frame on N host threads at once (default 1)\n"
    "  --repeat N          render N times and report the timings of each (default 1)\n"
    "  --module PATH       the effect module to load\n"
    "  --help              this text\n";

[[noreturn]] void Fail(const std::string& message) {
    std::fprintf(stderr, "umbrafex-render: %s\n", message.c_str());
    std::exit(2);
}

int ToInt(const std::string& text, const char* what) {
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end || v < 1 || v > 100000) Fail(std::string("bad ") + what + ": \"" + text + "\"");
    return int(v);
}

Options Parse(int argc, char** argv) {
    Options o;
    auto value = [&](int& i) -> std::string {
        if (i + 1 >= argc) Fail(std::string(argv[i]) + " needs a value");
        return argv[++i];
    };
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kHelp, stdout);
            std::exit(0);
        } else if (a == "--input") {
            o.input = value(i);
        } else if (a == "--texture") {
            o.texture = value(i);
        } else if (a == "--output") {
            o.output = value(i);
        } else if (a == "--bpc") {
            std::string v = value(i);
            if (v != "8" && v != "32") Fail("--bpc takes 8 or 32");
            o.bpc = std::stoi(v);
        } else if (a == "--set") {
            std::string v = value(i);
            size_t eq = v.find('=');
            if (eq == std::string::npos || eq == 0) Fail("--set takes P=V, not \"" + v + "\"");
            o.sets.emplace_back(v.substr(0, eq), v.substr(eq + 1));
        } else if (a == "--gradient") {
            o.gradient = value(i);
        } else if (a == "--panel") {
            o.panel = value(i);
        } else if (a == "--comp-window") {
            o.compWindow = value(i);
        } else if (a == "--layer-window") {
            o.layerWindow = value(i);
        } else if (a == "--zoom" || a == "--rotation") {
            const std::string v = value(i);
            char* end = nullptr;
            const double d = std::strtod(v.c_str(), &end);
            if (v.empty() || *end || !std::isfinite(d) || (a == "--zoom" && d <= 0)) Fail(a + ": \"" + v + "\"");
            (a == "--zoom" ? o.zoom : o.rotation) = d;
        } else if (a == "--downsample") {
            o.downsample = ToInt(value(i), "--downsample");
        } else if (a == "--threads") {
            o.threads = ToInt(value(i), "--threads");
        } else if (a == "--repeat") {
            o.repeat = ToInt(value(i), "--repeat");
        } else if (a == "--size") {
            std::string v = value(i);
            if (std::sscanf(v.c_str(), "%dx%d", &o.width, &o.height) != 2 || o.width < 1 || o.height < 1 ||
                o.width > 16384 || o.height > 16384)
                Fail("--size takes WxH, not \"" + v + "\"");
        } else if (a == "--module") {
            o.module = value(i);
        } else {
            Fail("unknown option \"" + a + "\" (see --help)");
        }
    }
    return o;
}

template <typename T>
T* Row(PF_EffectWorld& w, A_long y) {
    return reinterpret_cast<T*>(reinterpret_cast<char*>(w.data) + size_t(y) * size_t(w.rowbytes));
}

// Files whose colour is premultiplied by convention; every other format holds
// straight colour next to its alpha.
bool StoresPremultiplied(const std::string& formatName) { return formatName == "openexr"; }

// The host's layers hold straight colour. OpenImageIO premultiplies straight
// files on read unless asked not to, so it is asked, and only colour the file
// itself stores premultiplied is divided out.
void LoadImage(host::Host& h, host::Layer& layer, const std::string& path) {
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    auto in = OIIO::ImageInput::open(path, &config);
    if (!in) Fail("cannot read \"" + path + "\": " + OIIO::geterror());
    const OIIO::ImageSpec& spec = in->spec();
    int w = spec.width, hgt = spec.height, n = spec.nchannels;
    if (w <= 0 || hgt <= 0 || n <= 0) Fail("\"" + path + "\" holds no pixels");
    std::vector<float> pixels(size_t(w) * hgt * n);
    if (!in->read_image(0, 0, 0, n, OIIO::TypeDesc::FLOAT, pixels.data())) Fail("cannot read \"" + path + "\"");
    const int alpha = spec.alpha_channel >= 0 && spec.alpha_channel < n ? spec.alpha_channel
                      : n == 4 || n == 2                                 ? n - 1
                                                                         : -1;
    const bool premultiplied = alpha >= 0 && spec.get_int_attribute("oiio:UnassociatedAlpha", 0) == 0;
    PF_EffectWorld& world = h.SetLayerSize(layer, w, hgt);
    for (int y = 0; y < hgt; ++y) {
        PF_PixelFloat* row = Row<PF_PixelFloat>(world, y);
        for (int x = 0; x < w; ++x) {
            const float* p = &pixels[(size_t(y) * w + x) * n];
            float r = p[0], g = n > 2 ? p[1] : p[0], b = n > 2 ? p[2] : p[0];
            const float a = alpha >= 0 ? p[alpha] : 1.0f;
            if (premultiplied) {
                const float k = a > 0 ? 1 / a : 0.0f;
                r *= k, g *= k, b *= k;
            }
            row[x] = {a, r, g, b};
        }
    }
}

// Straight files get the frame's straight colour as it is (no round trip
// through premultiplied 8-bit values); premultiplied ones get it multiplied.
void WriteImage(const std::string& path, PF_EffectWorld& world, int bpc) {
    auto out = OIIO::ImageOutput::create(path);
    if (!out) Fail("cannot write \"" + path + "\": " + OIIO::geterror());
    const bool premultiply = StoresPremultiplied(out->format_name());
    int w = world.width, h = world.height;
    std::vector<float> rgba(size_t(w) * h * 4);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            float* q = &rgba[(size_t(y) * w + x) * 4];
            if (bpc == 32) {
                const PF_PixelFloat& p = Row<PF_PixelFloat>(world, y)[x];
                q[0] = p.red, q[1] = p.green, q[2] = p.blue, q[3] = p.alpha;
            } else {
                const PF_Pixel8& p = Row<PF_Pixel8>(world, y)[x];
                q[0] = p.red / 255.0f, q[1] = p.green / 255.0f, q[2] = p.blue / 255.0f, q[3] = p.alpha / 255.0f;
            }
            if (premultiply) q[0] *= q[3], q[1] *= q[3], q[2] *= q[3];
        }
    }
    OIIO::ImageSpec spec(w, h, 4, bpc == 32 ? OIIO::TypeDesc::FLOAT : OIIO::TypeDesc::UINT8);
    if (!premultiply) spec.attribute("oiio:UnassociatedAlpha", 1);
    if (!out->open(path, spec) || !out->write_image(OIIO::TypeDesc::FLOAT, rgba.data()) || !out->close())
        Fail("cannot write \"" + path + "\": " + out->geterror());
}

std::vector<std::string> Split(const std::string& s, char sep) {
    std::vector<std::string> parts;
    std::stringstream in(s);
    std::string part;
    while (std::getline(in, part, sep)) parts.push_back(part);
    return parts;
}

bool ParseNumber(const std::string& s, double& v) {
    char* end = nullptr;
    v = std::strtod(s.c_str(), &end);
    return !s.empty() && *end == '\0' && std::isfinite(v);
}

bool ParseHexColour(const std::string& s, unsigned& r, unsigned& g, unsigned& b, unsigned& a) {
    a = 255;
    if (s.size() == 7 && s[0] == '#') return std::sscanf(s.c_str() + 1, "%2x%2x%2x", &r, &g, &b) == 3;
    if (s.size() == 9 && s[0] == '#') return std::sscanf(s.c_str() + 1, "%2x%2x%2x%2x", &r, &g, &b, &a) == 4;
    return false;
}

std::string ParamLabel(const PF_ParamDef& d) {
    std::string name = d.name;
    if (name.empty() && d.param_type == PF_Param_CHECKBOX && d.u.bd.u.nameptr) name = d.u.bd.u.nameptr;
    return name;
}

int FindParam(host::Host& h, const std::string& key) {
    double v;
    if (ParseNumber(key, v) && v == std::floor(v)) {
        if (v < 1 || v >= h.NumParams()) Fail("no parameter " + key);
        return int(v);
    }
    int found = -1;
    for (int i = 1; i < h.NumParams(); ++i) {
        if (ParamLabel(h.ParamDefs()[size_t(i)]) != key) continue;
        if (found >= 0) Fail("more than one parameter is named \"" + key + "\": use its index");
        found = i;
    }
    if (found < 0) Fail("no parameter is named \"" + key + "\"");
    return found;
}

void SetParam(host::Host& h, const std::string& key, const std::string& text) {
    int index = FindParam(h, key);
    PF_ParamDef& p = h.Param(index);
    double v = 0;
    auto bad = [&]() { Fail("\"" + text + "\" is not a value for parameter " + std::to_string(index) + " (" +
                            ParamLabel(p) + ")"); };
    switch (p.param_type) {
        case PF_Param_POPUP: {
            if (ParseNumber(text, v)) {
                if (v < 1 || v > p.u.pd.num_choices || v != std::floor(v)) bad();
                p.u.pd.value = A_long(v);
                return;
            }
            auto choices = Split(p.u.pd.u.namesptr ? p.u.pd.u.namesptr : "", '|');
            for (size_t i = 0; i < choices.size(); ++i)
                if (choices[i] == text) {
                    p.u.pd.value = A_long(i + 1);
                    return;
                }
            bad();
            return;
        }
        case PF_Param_CHECKBOX:
            if (text == "1" || text == "on" || text == "true") p.u.bd.value = 1;
            else if (text == "0" || text == "off" || text == "false") p.u.bd.value = 0;
            else bad();
            return;
        case PF_Param_FLOAT_SLIDER:
            if (!ParseNumber(text, v)) bad();
            p.u.fs_d.value = v;
            return;
        case PF_Param_SLIDER:
            if (!ParseNumber(text, v)) bad();
            p.u.sd.value = A_long(std::lround(v));
            return;
        case PF_Param_FIX_SLIDER:
            if (!ParseNumber(text, v)) bad();
            p.u.fd.value = FLOAT2FIX(v);
            return;
        case PF_Param_ANGLE:
            if (!ParseNumber(text, v)) bad();
            p.u.ad.value = FLOAT2FIX(v);
            return;
        case PF_Param_POINT: {
            auto xy = Split(text, ',');
            double x, y;
            if (xy.size() != 2 || !ParseNumber(xy[0], x) || !ParseNumber(xy[1], y)) bad();
            p.u.td.x_value = FLOAT2FIX(x);
            p.u.td.y_value = FLOAT2FIX(y);
            return;
        }
        case PF_Param_COLOR: {
            unsigned r, g, b, a;
            auto rgb = Split(text, ',');
            double c[3];
            if (ParseHexColour(text, r, g, b, a)) {
                p.u.cd.value = {255, A_u_char(r), A_u_char(g), A_u_char(b)};
            } else if (rgb.size() == 3 && ParseNumber(rgb[0], c[0]) && ParseNumber(rgb[1], c[1]) &&
                       ParseNumber(rgb[2], c[2]) && c[0] >= 0 && c[0] <= 255 && c[1] >= 0 && c[1] <= 255 &&
                       c[2] >= 0 && c[2] <= 255) {
                p.u.cd.value = {255, A_u_char(c[0]), A_u_char(c[1]), A_u_char(c[2])};
            } else {
                bad();
            }
            return;
        }
        default:
            Fail("parameter " + std::to_string(index) + " (" + ParamLabel(p) + ") takes no value");
    }
}

// The gradient's stored form: a byte count, 24 bytes a stop, a zero byte.
void SetGradient(host::Host& h, const std::string& text) {
    std::vector<unsigned char> flat(4);
    for (const std::string& stop : Split(text, ',')) {
        size_t colon = stop.find(':');
        double position;
        unsigned r, g, b, a;
        if (colon == std::string::npos || !ParseNumber(stop.substr(0, colon), position) ||
            !ParseHexColour(stop.substr(colon + 1), r, g, b, a) || position < 0 || position > 1)
            Fail("--gradient: \"" + stop + "\" is not position:#rrggbb[aa]");
        float colour[4] = {a / 255.0f, r / 255.0f, g / 255.0f, b / 255.0f};
        unsigned char bytes[24];
        std::memcpy(bytes, &position, 8);
        std::memcpy(bytes + 8, colour, 16);
        flat.insert(flat.end(), bytes, bytes + 24);
    }
    uint32_t count = uint32_t(flat.size() - 4);
    if (!count) Fail("--gradient needs at least one stop");
    std::memcpy(flat.data(), &count, 4);
    flat.push_back(0);
    int index = -1;
    for (int i = 1; i < h.NumParams(); ++i)
        if (h.ParamDefs()[size_t(i)].param_type == PF_Param_ARBITRARY_DATA) index = i;
    if (index < 0) Fail("the effect has no gradient parameter");
    PF_Handle value = nullptr;
    PF_ArbParamsExtra extra{};
    extra.id = h.ParamDefs()[size_t(index)].u.arb_d.id;
    extra.which_function = PF_Arbitrary_UNFLATTEN_FUNC;
    extra.u.unflatten_func_params.buf_sizeLu = A_u_long(flat.size());
    extra.u.unflatten_func_params.flat_dataPV = flat.data();
    extra.u.unflatten_func_params.arbPH = &value;
    if (h.ArbitraryRequest(extra) || !value) Fail("the effect refused the gradient");
    h.SetArbitraryValue(index, value);
    host::HandleTable::Instance().Dispose(value);
}

std::string LogPath() {
    const char* home = std::getenv("HOME");
    return std::string(home ? home : ".") + "/Library/Logs/Nimbral/umbrafex_3_error_log.txt";
}

std::uintmax_t FileSize(const std::string& path) {
    std::error_code ec;
    auto n = std::filesystem::file_size(path, ec);
    return ec ? 0 : n;
}

// The panel as a high-density display shows it: two device pixels per panel pixel.
void WritePanel(host::Host& h, const std::string& path) {
    host::PanelLayout layout;
    layout.scale = 2;
    host::EffectControls panel(h, layout);
    PF_Err err = panel.Show();
    if (PF_Err drawn = panel.DrawPanel(); !err) err = drawn;
    if (!panel.WritePNG(path)) Fail("cannot write the panel picture to " + path);
    std::printf("Panel: %s, %dx%d panel pixels at %gx, %zu custom controls", path.c_str(), panel.Canvas().Width(),
                panel.Canvas().Height(), layout.scale, panel.Controls().size());
    if (err) std::printf(", showing or drawing it failed with error %d", int(err));
    std::printf("\n");
}

// A window showing the rendered frame with the effect's overlays drawn over it.
// The composition is the layer's size with the layer centred in it.
void WriteWindow(host::Host& h, const std::string& path, PF_WindowType type, const Options& o,
                 const PF_EffectWorld* frame) {
    constexpr int kMargin = 24;
    const A_long w = h.EffectLayer().pixels.width, ht = h.EffectLayer().pixels.height;
    const double aspect = double(h.In().pixel_aspect_ratio.num) / std::max<A_u_long>(1, h.In().pixel_aspect_ratio.den);
    const double shownW = type == PF_Window_LAYER ? w * aspect : w;
    host::WindowView view{type, int(std::ceil(shownW * o.zoom)) + 2 * kMargin, int(std::ceil(ht * o.zoom)) + 2 * kMargin,
                          o.zoom, kMargin, kMargin};
    host::CompWindow window(h, view);
    window.compWidth = int(std::ceil(shownW));
    window.compHeight = ht;
    window.Placement() = {shownW / 2, ht / 2.0, w / 2.0, ht / 2.0, o.rotation, 1, 1};
    window.PaintBackground();
    if (frame && frame->data)
        window.PaintWorld(*frame, frame->origin_x * double(o.downsample), frame->origin_y * double(o.downsample),
                          o.downsample);
    PF_Err err = window.Draw();
    if (!window.WritePNG(path)) Fail("cannot write the window picture to " + path);
    std::printf("%s window: %s, %dx%d at zoom %g", type == PF_Window_COMP ? "Composition" : "Layer", path.c_str(),
                view.width, view.height, o.zoom);
    if (err) std::printf(", drawing failed with error %d", int(err));
    std::printf("\n");
}

double Ms(std::chrono::steady_clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
    Options o = Parse(argc, argv);
    using Clock = std::chrono::steady_clock;

    host::Host h;
    if (!h.Load(o.module)) Fail(h.Error());
    const host::Registration& reg = h.GetRegistration();
    std::printf("Effect \"%s\" (%s) from %s\n", reg.name.c_str(), reg.match_name.c_str(), o.module.c_str());
    if (PF_Err err = h.GlobalSetup()) Fail("global setup failed with error " + std::to_string(err));
    if (PF_Err err = h.Send(PF_Cmd_PARAMS_SETUP)) Fail("parameter setup failed with error " + std::to_string(err));
    if (PF_Err err = h.SequenceSetup()) Fail("sequence setup failed with error " + std::to_string(err));

    if (o.input.empty()) {
        PaintSampleScene(h.SetLayerSize(h.EffectLayer(), o.width, o.height));
        std::printf("Layer: built-in sample scene, %dx%d\n", o.width, o.height);
    } else {
        LoadImage(h, h.EffectLayer(), o.input);
        std::printf("Layer: %s, %dx%d\n", o.input.c_str(), h.EffectLayer().pixels.width,
                    h.EffectLayer().pixels.height);
    }
    if (!o.texture.empty()) {
        LoadImage(h, h.TextureLayer(), o.texture);
        h.SetTextureLayerPresent(true);
        std::printf("Texture: %s\n", o.texture.c_str());
    }
    for (const auto& [key, value] : o.sets) SetParam(h, key, value);
    if (!o.gradient.empty()) SetGradient(h, o.gradient);
    if (!o.panel.empty()) WritePanel(h, o.panel);

    A_long layerW = h.EffectLayer().pixels.width, layerH = h.EffectLayer().pixels.height;
    h.In().downsample_x = {1, A_u_long(o.downsample)};
    h.In().downsample_y = {1, A_u_long(o.downsample)};
    PF_LRect request{0, 0, (layerW + o.downsample - 1) / o.downsample, (layerH + o.downsample - 1) / o.downsample};
    if (o.downsample > 1) {
        // The host scales the layer for a downsampled render.
        PF_EffectWorld& full = h.EffectLayer().pixels;
        std::vector<PF_PixelFloat> small(size_t(request.right) * request.bottom);
        for (A_long y = 0; y < request.bottom; ++y)
            for (A_long x = 0; x < request.right; ++x)
                small[size_t(y) * request.right + x] = Row<PF_PixelFloat>(full, y * o.downsample)[x * o.downsample];
        PF_EffectWorld& scaled = h.SetLayerSize(h.EffectLayer(), request.right, request.bottom);
        for (A_long y = 0; y < request.bottom; ++y)
            std::memcpy(Row<PF_PixelFloat>(scaled, y), &small[size_t(y) * request.right],
                        sizeof(PF_PixelFloat) * request.right);
    }

    std::string logPath = LogPath();
    std::uintmax_t logStart = FileSize(logPath);
    int status = 0;
    std::vector<std::unique_ptr<host::RenderJob>> jobs(size_t(o.threads));
    for (int round = 0; round < o.repeat; ++round) {
        std::vector<double> preMs(jobs.size()), renderMs(jobs.size());
        std::vector<PF_Err> preErr(jobs.size()), renderErr(jobs.size());
        auto frameStart = Clock::now();
        std::vector<std::thread> workers;
        for (size_t t = 0; t < jobs.size(); ++t) {
            jobs[t] = std::make_unique<host::RenderJob>();
            jobs[t]->request.rect = request;
            jobs[t]->bitdepth = short(o.bpc);
            workers.emplace_back([&, t] {
                auto a = Clock::now();
                preErr[t] = h.SmartPreRender(*jobs[t]);
                auto b = Clock::now();
                if (!preErr[t]) renderErr[t] = h.SmartRender(*jobs[t]);
                preMs[t] = Ms(b - a);
                renderMs[t] = Ms(Clock::now() - b);
            });
        }
        for (auto& w : workers) w.join();
        double frame = Ms(Clock::now() - frameStart);
        for (size_t t = 0; t < jobs.size(); ++t) {
            double total = preMs[t] + renderMs[t];
            double host = jobs[t]->hostMs;
            std::printf("Render %d%s: pre-render %.2f ms, render %.2f ms (host services %.2f ms, %.0f%% of the "
                        "frame; the effect's own and GL work %.2f ms)",
                        round + 1, jobs.size() > 1 ? (" thread " + std::to_string(t + 1)).c_str() : "", preMs[t],
                        renderMs[t], host, total > 0 ? 100.0 * host / total : 0.0, total - host);
            if (preErr[t] || renderErr[t])
                std::printf("  FAILED (pre-render %d, render %d)", int(preErr[t]), int(renderErr[t]));
            std::printf("\n");
            if (preErr[t] || renderErr[t]) status = 1;
        }
        if (jobs.size() > 1) std::printf("Frame on %zu threads: %.2f ms\n", jobs.size(), frame);
    }

    PF_EffectWorld& out = jobs[0]->output;
    if (!status && out.data) {
        WriteImage(o.output, out, o.bpc);
        std::printf("Output: %s, %dx%d, origin (%d, %d) relative to the layer\n", o.output.c_str(), int(out.width),
                    int(out.height), int(out.origin_x), int(out.origin_y));
    } else if (!status) {
        std::printf("Output: the effect produced no output world\n");
        status = 1;
    }

    // The windows show the frame at full layer size, so the layer is restored first.
    if (!o.compWindow.empty() || !o.layerWindow.empty()) {
        const PF_EffectWorld* frame = !status && out.data ? &out : nullptr;
        if (o.downsample > 1) {
            h.In().downsample_x = h.In().downsample_y = {1, 1};
            if (o.input.empty()) PaintSampleScene(h.SetLayerSize(h.EffectLayer(), o.width, o.height));
            else LoadImage(h, h.EffectLayer(), o.input);
        }
        if (!o.compWindow.empty()) WriteWindow(h, o.compWindow, PF_Window_COMP, o, frame);
        if (!o.layerWindow.empty()) WriteWindow(h, o.layerWindow, PF_Window_LAYER, o, frame);
    }

    std::uintmax_t logEnd = FileSize(logPath);
    if (logEnd > logStart) {
        std::ifstream log(logPath);
        log.seekg(std::streamoff(logStart));
        std::string line;
        std::printf("Log lines written (%s):\n", logPath.c_str());
        while (std::getline(log, line)) std::printf("  %s\n", line.c_str());
    }

    jobs.clear();
    h.SequenceSetdown();
    h.GlobalSetdown();
    return status;
}
