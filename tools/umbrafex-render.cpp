// umbrafex-render: loads the effect through the in-process host and renders
// one frame of a layer (an image file, or the built-in sample scene) to an
// image file, printing what it did and how long each stage took.
#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/CompWindow.h"
#include "host/EffectControls.h"
#include "host/HandleSuite.h"
#include "host/Host.h"
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
    "  --size WxH          size of the sample scene, 1 to 16384 a side (default 960x540)\n"
    "  --texture FILE      the layer chosen in the texture Layer parameter\n"
    "  --output FILE       where to write the frame, in the format its extension names (default umbrafex.png);\n"
    "                      formats without alpha get the frame over black, EXR the frame's origin as its\n"
    "                      data window inside the layer\n"
    "  --bpc 8|32          bits per channel of the render (default 8)\n"
    "  --set P=V           set parameter P (its index, or its exact name when unique) to V:\n"
    "                      a popup position or choice text, 0/1 or on/off, a number or degrees within\n"
    "                      the parameter's range, \"x,y\" layer pixels, \"r,g,b\" 0-255 or \"#rrggbb\";\n"
    "                      may be repeated\n"
    "  --gradient S        stops of the Color Gradient as position:#rrggbb[aa] joined by commas\n"
    "  --panel FILE        also draw the Effect Controls panel's custom controls into a PNG\n"
    "  --comp-window FILE  also draw the composition window (the frame and the effect's overlays) into a PNG\n"
    "  --layer-window FILE likewise the layer window\n"
    "  --zoom Z            the windows' zoom, 1/64 to 64 (default 1)\n"
    "  --rotation DEG      the layer's rotation in the composition window, -3600 to 3600 (default 0)\n"
    "  --downsample N      render at 1/N resolution, N 1 to 64 (default 1)\n"
    "  --threads N         render the frame on N host threads at once, 1 to 64 (default 1)\n"
    "  --repeat N          render N times and report the timings of each, 1 to 10000 (default 1)\n"
    "  --module PATH       the effect module to load\n"
    "  --help              this text\n";

int gStderr = -1;  // standard error, while the image library's own printing goes nowhere

// One line, last on standard error: of the image library's lines, those that
// no other repeats.
[[noreturn]] void Fail(const std::string& message) {
    if (gStderr >= 0) ::dup2(gStderr, 2);
    std::string text, line;
    for (std::stringstream in(message); std::getline(in, line);)
        if (!line.empty() && message.find(line) == message.rfind(line))
            text += (text.empty() ? "" : text.back() == ':' ? " " : "; ") + line;
    std::fprintf(stderr, "umbrafex-render: %s\n", (text.empty() ? message : text).c_str());
    std::exit(2);
}

// The largest layer or frame side: GL's largest texture on the renderers here.
constexpr int kMaxSide = 16384;

std::string Num(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

// The whole text as one finite number: no spaces around it, nothing after it.
bool ParseNumber(const std::string& s, double& v) {
    if (s.empty() || std::isspace(static_cast<unsigned char>(s[0]))) return false;
    char* end = nullptr;
    v = std::strtod(s.c_str(), &end);
    return *end == '\0' && std::isfinite(v);
}

double NumberIn(const std::string& option, const std::string& text, double lo, double hi, bool whole = false) {
    double v = 0;
    if (!ParseNumber(text, v) || v < lo || v > hi || (whole && v != std::floor(v)))
        Fail(option + " takes " + (whole ? "a whole number" : "a number") + " from " + Num(lo) + " to " + Num(hi) +
             ", not \"" + text + "\"");
    return v;
}

void CheckSize(const std::string& what, long long w, long long h) {
    if (w < 1 || h < 1 || w > kMaxSide || h > kMaxSide)
        Fail(what + " is " + std::to_string(w) + "x" + std::to_string(h) + " pixels; each side must be 1 to " +
             std::to_string(kMaxSide));
}

Options Parse(int argc, char** argv) {
    Options o;
    auto value = [&](int& i) -> std::string {
        if (i + 1 >= argc) Fail(std::string(argv[i]) + " needs a value");
        return argv[++i];
    };
    // The options whose value is taken as it is.
    const std::pair<const char*, std::string*> files[] = {
        {"--input", &o.input},       {"--texture", &o.texture},         {"--output", &o.output},
        {"--gradient", &o.gradient}, {"--panel", &o.panel},             {"--comp-window", &o.compWindow},
        {"--module", &o.module},     {"--layer-window", &o.layerWindow}};
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        const auto file = std::find_if(std::begin(files), std::end(files), [&](const auto& f) { return a == f.first; });
        if (a == "--help" || a == "-h") {
            std::fputs(kHelp, stdout);
            std::exit(0);
        } else if (file != std::end(files)) {
            *file->second = value(i);
        } else if (a == "--bpc") {
            std::string v = value(i);
            if (v != "8" && v != "32") Fail("--bpc takes 8 or 32");
            o.bpc = std::stoi(v);
        } else if (a == "--set") {
            std::string v = value(i);
            size_t eq = v.find('=');
            if (eq == std::string::npos || eq == 0) Fail("--set takes P=V, not \"" + v + "\"");
            o.sets.emplace_back(v.substr(0, eq), v.substr(eq + 1));
        } else if (a == "--zoom") {
            o.zoom = NumberIn(a, value(i), 1.0 / 64, 64);
        } else if (a == "--rotation") {
            o.rotation = NumberIn(a, value(i), -3600, 3600);
        } else if (a == "--downsample") {
            o.downsample = int(NumberIn(a, value(i), 1, 64, true));
        } else if (a == "--threads") {
            o.threads = int(NumberIn(a, value(i), 1, 64, true));
        } else if (a == "--repeat") {
            o.repeat = int(NumberIn(a, value(i), 1, 10000, true));
        } else if (a == "--size") {
            const std::string v = value(i);
            const size_t x = v.find('x');
            if (x == std::string::npos) Fail("--size takes WxH, not \"" + v + "\"");
            o.width = int(NumberIn("--size's width", v.substr(0, x), 1, kMaxSide, true));
            o.height = int(NumberIn("--size's height", v.substr(x + 1), 1, kMaxSide, true));
        } else {
            Fail("unknown option \"" + a + "\" (see --help)");
        }
    }
    return o;
}

template <typename T> T* Row(PF_EffectWorld& w, A_long y) {
    return reinterpret_cast<T*>(reinterpret_cast<char*>(w.data) + size_t(y) * size_t(w.rowbytes));
}

PF_EffectWorld& LayerPixels(host::Host& h, host::Layer& layer, A_long width, A_long height) {
    PF_EffectWorld& world = h.SetLayerSize(layer, width, height);
    if (!world.data) Fail("no memory for a " + std::to_string(width) + "x" + std::to_string(height) + " layer");
    return world;
}

void SampleLayer(host::Host& h, const Options& o) {
    if (!PaintSampleScene(LayerPixels(h, h.EffectLayer(), o.width, o.height)))
        Fail("no memory to draw the " + std::to_string(o.width) + "x" + std::to_string(o.height) + " sample scene");
}

// Standard error goes nowhere while the library works: what libpng prints is in the library's error state too.
struct Quiet {
    Quiet() {
        std::fflush(stderr);
        gStderr = ::dup(2);
        if (const int null = ::open("/dev/null", O_WRONLY); null >= 0) ::dup2(null, 2), ::close(null);
    }
    ~Quiet() { if (gStderr >= 0) ::dup2(gStderr, 2), ::close(gStderr), gStderr = -1; }
};

// How formats hold colour beside alpha, for reading and writing alike so that the renderer reads back what it
// writes: premultiplied in these, in TIFF and Targa unless the file says it is straight (as the renderer's own
// do), straight in every other; and which keep only an approximation of the pixels.
bool Premultiplies(std::string_view f) { return f == "openexr" || f == "rla" || f == "iff" || f == "softimage"; }
bool SaysWhich(std::string_view f) { return f == "tiff" || f == "targa"; }
bool Lossy(std::string_view f) { return f == "jpeg" || f == "gif" || f == "webp" || f == "heif" || f == "hdr"; }

// Asks a reader for the file's own values, not premultiplied ones; whether it gave straight ones.
OIIO::ImageSpec OwnValues() { OIIO::ImageSpec c; c.attribute("oiio:UnassociatedAlpha", 1); return c; }
bool OwnValues(const OIIO::ImageSpec& spec) { return spec.get_int_attribute("oiio:UnassociatedAlpha"); }  // straight

// Into the host's straight colour: the file's own values, divided by alpha
// where its format holds colour premultiplied, from the first part with R, G,
// B or Y (CMYK the library converts) and that part's A. The layer, returned,
// is the part's display window, transparent outside its data window.
OIIO::ROI LoadImage(host::Host& h, host::Layer& layer, const std::string& path) {
    Quiet quiet;
    const OIIO::ImageSpec config = OwnValues();
    auto in = OIIO::ImageInput::open(path, &config);
    if (!in) Fail("cannot read \"" + path + "\":\n" + OIIO::geterror());
    auto channel = [&](const char* name) { return in->spec().channelindex(name); };
    int part = 0, rgb[3] = {-1, -1, -1};
    std::string channels;  // of the parts without colour
    for (; in->seek_subimage(part, 0); ++part) {
        rgb[0] = channel("R"), rgb[1] = channel("G"), rgb[2] = channel("B");
        if (rgb[0] < 0 && rgb[1] < 0 && rgb[2] < 0) rgb[0] = rgb[1] = rgb[2] = channel("Y");
        if (rgb[0] >= 0 || rgb[1] >= 0 || rgb[2] >= 0) break;
        for (const std::string& c : in->spec().channelnames) channels += (channels.empty() ? "" : ", ") + c;
    }
    in->geterror();  // a part past the last is no fault of the file's
    if (!in->seek_subimage(part, 0)) Fail("\"" + path + "\" holds no colour channels (R, G, B or Y), only " + channels);
    const OIIO::ImageSpec spec = in->spec();
    const int n = spec.nchannels, alpha = channel("A");
    const OIIO::ROI full = spec.full_width > 0 && spec.full_height > 0 ? spec.roi_full() : spec.roi();
    CheckSize("\"" + path + "\"", full.width(), full.height());
    CheckSize("the data window of \"" + path + "\"", spec.width, spec.height);
    const std::string_view format = in->format_name();
    const bool premultiplied = alpha >= 0 && (Premultiplies(format) || (SaysWhich(format) && !OwnValues(spec)));

    std::vector<float> pixels(spec.image_pixels() * size_t(n));
    if (!in->read_image(part, 0, 0, n, OIIO::TypeDesc::FLOAT, pixels.data()) || in->has_error() || OIIO::has_error())
        Fail("cannot read \"" + path + "\":\n" + in->geterror() + "\n" + OIIO::geterror());
    PF_EffectWorld& world = LayerPixels(h, layer, full.width(), full.height());
    for (int y = std::max(spec.y, full.ybegin); y < std::min(spec.y + spec.height, full.yend); ++y) {
        PF_PixelFloat* row = Row<PF_PixelFloat>(world, y - full.ybegin);
        for (int x = std::max(spec.x, full.xbegin); x < std::min(spec.x + spec.width, full.xend); ++x) {
            const float* p = &pixels[(size_t(y - spec.y) * spec.width + size_t(x - spec.x)) * n];
            auto value = [&](int c) { return c >= 0 ? p[c] : 0.0f; };
            const float a = alpha >= 0 ? p[alpha] : 1.0f;
            const float k = premultiplied ? (a > 0 ? 1 / a : 0.0f) : 1.0f;
            row[x - full.xbegin] = {a, value(rgb[0]) * k, value(rgb[1]) * k, value(rgb[2]) * k};
        }
    }
    return full;
}

// Writes all of bytes to fd; false with errno set when any of it does not go.
bool WriteAll(int fd, const std::vector<unsigned char>& bytes) {
    for (size_t done = 0; done < bytes.size();)
        if (const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done); n > 0) done += size_t(n);
        else if (n == 0 || errno != EINTR) return false;
    return true;
}

// The output file's format, found before rendering so that a name no format
// claims is refused before any work is done.
std::unique_ptr<OIIO::ImageOutput> OpenOutput(const std::string& path) {
    auto out = OIIO::ImageOutput::create(path);
    if (!out) Fail("cannot write \"" + path + "\":\n" + OIIO::geterror());
    return out;
}

// A display window without a negative origin (DPX's) cuts frames: such formats get none, as PNG.
bool WritesWindows(OIIO::ImageOutput& out) { return out.supports("displaywindow") && out.supports("negativeorigin"); }

// Straight files get the frame's straight colour as it is, premultiplied ones
// it multiplied, formats without alpha the frame over black, formats with
// windows the frame inside the layer's display window. Written beside the
// target, synced, read back whole and compared, and only then renamed into
// place: a failed write leaves any earlier file as it was.
void WriteImage(const std::string& path, OIIO::ImageOutput& out, PF_EffectWorld& world, int bpc,
                const OIIO::ROI& layer) {
    const bool alpha = out.supports("alpha"), premultiply = !alpha || Premultiplies(out.format_name());
    const int w = world.width, h = world.height, nc = alpha ? 4 : 3;
    std::vector<float> pixels(size_t(w) * h * nc);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            PF_PixelFloat p{};
            if (bpc == 32) p = Row<PF_PixelFloat>(world, y)[x];
            else if (const PF_Pixel8& e = Row<PF_Pixel8>(world, y)[x]; true)
                p = {e.alpha / 255.0f, e.red / 255.0f, e.green / 255.0f, e.blue / 255.0f};
            const float k = premultiply ? p.alpha : 1.0f, q[4] = {p.red * k, p.green * k, p.blue * k, p.alpha};
            std::copy_n(q, nc, &pixels[(size_t(y) * w + x) * nc]);
        }
    OIIO::ImageSpec spec(w, h, nc, bpc == 32 ? OIIO::TypeDesc::FLOAT : OIIO::TypeDesc::UINT8);
    if (alpha && !premultiply) spec.attribute("oiio:UnassociatedAlpha", 1);
    if (WritesWindows(out)) {
        spec.x = layer.xbegin + world.origin_x, spec.y = layer.ybegin + world.origin_y;
        spec.set_roi_full(layer);
    }

    // Encoded in memory where the format allows, so that every byte's write is checked here.
    std::vector<unsigned char> bytes;
    OIIO::Filesystem::IOVecOutput memory(bytes);
    const bool inMemory = out.supports("ioproxy") && out.set_ioproxy(&memory);
    std::error_code ec;
    const std::filesystem::path target = std::filesystem::exists(path, ec) ? std::filesystem::canonical(path, ec)
                                                                           : std::filesystem::path(path);
    const bool regular = !std::filesystem::exists(target, ec) || std::filesystem::is_regular_file(target, ec);
    if (!regular && !inMemory) Fail("cannot write \"" + path + "\": not a regular file");
    std::string temp;
    int fd = -1;
    auto fail = [&](const std::string& why) {
        if (fd >= 0) ::close(fd);
        if (!temp.empty()) ::unlink(temp.c_str());
        Fail("cannot write \"" + path + "\":\n" + why);
    };
    if (regular) {
        // Hidden beside the target, so the rename stays on its file system, and
        // ending in its extension, so no reader takes it for another format.
        const std::string extension = target.extension().string();
        temp = (target.parent_path() / ("." + target.filename().string() + ".XXXXXX" + extension)).string();
        fd = ::mkstemps(temp.data(), int(extension.size()));
        if (fd < 0) temp.clear(), fail(std::strerror(errno));
        struct stat old {};
        const mode_t mask = ::umask(0);
        ::umask(mask);
        if (::fchmod(fd, ::stat(target.c_str(), &old) == 0 ? old.st_mode & 07777 : 0666 & ~mask) != 0)
            fail(std::strerror(errno));
    } else if ((fd = ::open(target.c_str(), O_WRONLY | O_TRUNC)) < 0) {
        fail(std::strerror(errno));
    }
    Quiet quiet;
    if (!out.open(inMemory ? path : temp, spec) || !out.write_image(OIIO::TypeDesc::FLOAT, pixels.data()) ||
        !out.close())
        fail(out.geterror());
    if ((inMemory && !WriteAll(fd, bytes)) || (regular && ::fsync(fd) != 0)) fail(std::strerror(errno));
    if (const int closed = ::close(fd); (fd = -1, closed != 0)) fail(std::strerror(errno));
    if (!regular) return;
    // Read back by the writer's format. Integer files hold 0 to 1 within a step
    // of 8 bits or finer; lossy formats need only read whole.
    OIIO::ImageSpec got;
    auto back = OIIO::ImageInput::create(out.format_name());
    std::vector<float> read(pixels.size());
    bool same = back && back->open(temp, got, OwnValues()) && got.width == w && got.height == h && got.nchannels == nc;
    same = same && back->read_image(0, 0, 0, nc, OIIO::TypeDesc::FLOAT, read.data()) && !back->has_error();
    for (size_t i = 0; same && !Lossy(out.format_name()) && i < read.size(); ++i)
        same = std::abs(read[i] - (got.format.is_floating_point() ? pixels[i] : std::clamp(pixels[i], 0.0f, 1.0f))) <=
               1 / 255.0f;
    if (!same) fail("the file written does not read back as the frame");
    if (std::rename(temp.c_str(), target.c_str()) != 0) fail(std::strerror(errno));
}

std::vector<std::string> Split(const std::string& s, char sep) {
    std::vector<std::string> parts;
    std::stringstream in(s);
    std::string part;
    while (std::getline(in, part, sep)) parts.push_back(part);
    return parts;
}

// "#rrggbb" or "#rrggbbaa", every one of them a hex digit.
bool ParseHexColour(const std::string& s, unsigned& r, unsigned& g, unsigned& b, unsigned& a) {
    if ((s.size() != 7 && s.size() != 9) || s[0] != '#' ||
        !std::all_of(s.begin() + 1, s.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
        return false;
    unsigned* out[4] = {&r, &g, &b, &a};
    a = 255;
    for (size_t i = 1; i < s.size(); i += 2) *out[i / 2] = unsigned(std::stoul(s.substr(i, 2), nullptr, 16));
    return true;
}

std::string ParamLabel(const PF_ParamDef& d) {
    std::string name = d.name;
    if (name.empty() && d.param_type == PF_Param_CHECKBOX && d.u.bd.u.nameptr) name = d.u.bd.u.nameptr;
    return name;
}

std::string Lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// "20 (Renderer), 96 (Renderer)": the parameters named key, or whose names hold it ignoring case.
std::string Matching(host::Host& h, const std::string& key, bool exact) {
    std::string list;
    for (int i = 1; i < h.NumParams(); ++i) {
        const std::string label = ParamLabel(h.ParamDefs()[size_t(i)]);
        if (exact ? label == key : !label.empty() && Lower(label).find(Lower(key)) != std::string::npos)
            list += (list.empty() ? "" : ", ") + std::to_string(i) + " (" + label + ")";
    }
    return list;
}

int FindParam(host::Host& h, const std::string& key) {
    double v;
    if (ParseNumber(key, v) && v == std::floor(v)) {
        if (v < 1 || v >= h.NumParams())
            Fail("no parameter " + key + ": they run from 1 to " + std::to_string(h.NumParams() - 1));
        return int(v);
    }
    int found = -1, named = 0;
    for (int i = 1; i < h.NumParams(); ++i)
        if (ParamLabel(h.ParamDefs()[size_t(i)]) == key) found = i, ++named;
    if (named > 1) Fail("more than one parameter is named \"" + key + "\": " + Matching(h, key, true) + "; use its index");
    if (found < 0) {
        const std::string near = Matching(h, key, false);
        Fail("no parameter is named \"" + key + "\"" + (near.empty() ? "" : "; near it: " + near));
    }
    return found;
}

void SetParam(host::Host& h, const std::string& key, const std::string& text) {
    const int index = FindParam(h, key);
    PF_ParamDef& p = h.Param(index);
    const PF_ParamDef& decl = h.ParamDefs()[size_t(index)];
    const std::string which = "parameter " + std::to_string(index) + " (" + ParamLabel(decl) + ")";
    auto bad = [&]() { Fail("\"" + text + "\" is not a value for " + which); };
    // A number within the declared valid range, whole where the parameter holds whole numbers.
    auto number = [&](double lo, double hi, bool whole) {
        double v = 0;
        if (!ParseNumber(text, v)) bad();
        if (v < lo || v > hi || (whole && v != std::floor(v)))
            Fail(which + " takes " + (whole ? "a whole number" : "a number") + " from " + Num(lo) + " to " +
                 Num(hi) + ", not \"" + text + "\"");
        return v;
    };
    constexpr double kFixedMax = 32767;  // what a 16.16 fixed-point value holds
    switch (p.param_type) {
        case PF_Param_POPUP: {
            auto choices = Split(decl.u.pd.u.namesptr ? decl.u.pd.u.namesptr : "", '|');
            for (size_t i = 0; i < choices.size(); ++i)
                if (choices[i] == text) {
                    p.u.pd.value = A_long(i + 1);
                    return;
                }
            p.u.pd.value = A_long(number(1, decl.u.pd.num_choices, true));
            return;
        }
        case PF_Param_CHECKBOX:
            if (text == "1" || text == "on" || text == "true") p.u.bd.value = 1;
            else if (text == "0" || text == "off" || text == "false") p.u.bd.value = 0;
            else bad();
            return;
        case PF_Param_FLOAT_SLIDER:
            p.u.fs_d.value = number(decl.u.fs_d.valid_min, decl.u.fs_d.valid_max, false);
            return;
        case PF_Param_SLIDER:
            p.u.sd.value = A_long(number(decl.u.sd.valid_min, decl.u.sd.valid_max, true));
            return;
        case PF_Param_FIX_SLIDER:
            p.u.fd.value = FLOAT2FIX(number(FIX_2_FLOAT(decl.u.fd.valid_min), FIX_2_FLOAT(decl.u.fd.valid_max), false));
            return;
        case PF_Param_ANGLE: {
            // An angle declared without a range takes any a fixed-point value holds.
            const bool ranged = decl.u.ad.valid_min < decl.u.ad.valid_max;
            p.u.ad.value = FLOAT2FIX(number(ranged ? FIX_2_FLOAT(decl.u.ad.valid_min) : -kFixedMax,
                                            ranged ? FIX_2_FLOAT(decl.u.ad.valid_max) : kFixedMax, false));
            return;
        }
        case PF_Param_POINT: {
            auto xy = Split(text, ',');
            double x, y;
            if (xy.size() != 2 || !ParseNumber(xy[0], x) || !ParseNumber(xy[1], y)) bad();
            if (std::abs(x) > kFixedMax || std::abs(y) > kFixedMax)
                Fail(which + " takes x and y from " + Num(-kFixedMax) + " to " + Num(kFixedMax) + ", not \"" + text +
                     "\"");
            p.u.td.x_value = FLOAT2FIX(x);
            p.u.td.y_value = FLOAT2FIX(y);
            return;
        }
        case PF_Param_COLOR: {
            unsigned r, g, b, a;
            auto rgb = Split(text, ',');
            double c[3];
            auto channel = [&](int i) {
                return ParseNumber(rgb[size_t(i)], c[i]) && c[i] >= 0 && c[i] <= 255 && c[i] == std::floor(c[i]);
            };
            if (ParseHexColour(text, r, g, b, a)) {
                p.u.cd.value = {255, A_u_char(r), A_u_char(g), A_u_char(b)};
            } else if (rgb.size() == 3 && channel(0) && channel(1) && channel(2)) {
                p.u.cd.value = {255, A_u_char(c[0]), A_u_char(c[1]), A_u_char(c[2])};
            } else {
                Fail("\"" + text + "\" is not a colour for " + which + ": give \"r,g,b\" 0-255 or \"#rrggbb\"");
            }
            return;
        }
        default:
            Fail(which + " takes no value");
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
constexpr int kMargin = 24;

// The layer's width as the window shows it: the layer window keeps its pixel aspect.
double ShownWidth(host::Host& h, PF_WindowType type) {
    const double aspect = double(h.In().pixel_aspect_ratio.num) / std::max<A_u_long>(1, h.In().pixel_aspect_ratio.den);
    return h.EffectLayer().pixels.width * (type == PF_Window_LAYER ? aspect : 1.0);
}

host::WindowView WindowAt(host::Host& h, PF_WindowType type, double zoom) {
    return {type, int(std::ceil(ShownWidth(h, type) * zoom)) + 2 * kMargin,
            int(std::ceil(h.EffectLayer().pixels.height * zoom)) + 2 * kMargin, zoom, kMargin, kMargin};
}

void WriteWindow(host::Host& h, const std::string& path, PF_WindowType type, const Options& o,
                 const PF_EffectWorld* frame) {
    const A_long w = h.EffectLayer().pixels.width, ht = h.EffectLayer().pixels.height;
    const double shownW = ShownWidth(h, type);
    const host::WindowView view = WindowAt(h, type, o.zoom);
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

// The host's name for an error code.
std::string ErrName(PF_Err err) {
    switch (err) {
        case PF_Err_NONE: return "PF_Err_NONE";
        case PF_Err_OUT_OF_MEMORY: return "PF_Err_OUT_OF_MEMORY";
        case PF_Err_INTERNAL_STRUCT_DAMAGED: return "PF_Err_INTERNAL_STRUCT_DAMAGED";
        case PF_Err_INVALID_INDEX: return "PF_Err_INVALID_INDEX";
        case PF_Err_UNRECOGNIZED_PARAM_TYPE: return "PF_Err_UNRECOGNIZED_PARAM_TYPE";
        case PF_Err_INVALID_CALLBACK: return "PF_Err_INVALID_CALLBACK";
        case PF_Err_BAD_CALLBACK_PARAM: return "PF_Err_BAD_CALLBACK_PARAM";
        case PF_Interrupt_CANCEL: return "PF_Interrupt_CANCEL";
        case PF_Err_CANNOT_PARSE_KEYFRAME_TEXT: return "PF_Err_CANNOT_PARSE_KEYFRAME_TEXT";
        default: return "error " + std::to_string(err);
    }
}

int Run(int argc, char** argv) {
    Options o = Parse(argc, argv);
    std::unique_ptr<OIIO::ImageOutput> output = OpenOutput(o.output);
    using Clock = std::chrono::steady_clock;

    host::Host h;
    if (!h.Load(o.module)) Fail(h.Error());
    const host::Registration& reg = h.GetRegistration();
    std::printf("Effect \"%s\" (%s) from %s\n", reg.name.c_str(), reg.match_name.c_str(), o.module.c_str());
    if (PF_Err err = h.GlobalSetup()) Fail("global setup failed with " + ErrName(err));
    if (PF_Err err = h.Send(PF_Cmd_PARAMS_SETUP)) Fail("parameter setup failed with " + ErrName(err));
    if (PF_Err err = h.SequenceSetup()) Fail("sequence setup failed with " + ErrName(err));

    OIIO::ROI shown(0, o.width, 0, o.height);  // the layer's display window in its file
    if (o.input.empty()) {
        SampleLayer(h, o);
        std::printf("Layer: built-in sample scene, %dx%d\n", o.width, o.height);
    } else {
        shown = LoadImage(h, h.EffectLayer(), o.input);
        std::printf("Layer: %s, %dx%d\n", o.input.c_str(), h.EffectLayer().pixels.width, h.EffectLayer().pixels.height);
    }
    if (!o.texture.empty()) {
        LoadImage(h, h.TextureLayer(), o.texture);
        h.SetTextureLayerPresent(true);
        std::printf("Texture: %s\n", o.texture.c_str());
    }
    for (const auto& [key, value] : o.sets) SetParam(h, key, value);
    for (const auto& [file, type] : {std::pair{o.compWindow, PF_Window_COMP}, std::pair{o.layerWindow, PF_Window_LAYER}})
        if (!file.empty()) {
            const host::WindowView view = WindowAt(h, type, o.zoom);
            CheckSize("the window at zoom " + Num(o.zoom), view.width, view.height);
        }
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
        PF_EffectWorld& scaled = LayerPixels(h, h.EffectLayer(), request.right, request.bottom);
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
        std::vector<std::exception_ptr> thrown(jobs.size());
        try {
            for (size_t t = 0; t < jobs.size(); ++t) {
                jobs[t] = std::make_unique<host::RenderJob>();
                jobs[t]->request.rect = request;
                jobs[t]->bitdepth = short(o.bpc);
                workers.emplace_back([&, t] {
                    try {
                        auto a = Clock::now();
                        preErr[t] = h.SmartPreRender(*jobs[t]);
                        auto b = Clock::now();
                        if (!preErr[t]) renderErr[t] = h.SmartRender(*jobs[t]);
                        preMs[t] = Ms(b - a);
                        renderMs[t] = Ms(Clock::now() - b);
                    } catch (...) {
                        thrown[t] = std::current_exception();
                    }
                });
            }
        } catch (...) {
            // A thread that could not start: the ones running finish before the failure is reported.
            for (auto& w : workers) w.join();
            throw;
        }
        for (auto& w : workers) w.join();
        for (const auto& e : thrown)
            if (e) std::rethrow_exception(e);
        double frame = Ms(Clock::now() - frameStart);
        for (size_t t = 0; t < jobs.size(); ++t) {
            double total = preMs[t] + renderMs[t];
            double host = jobs[t]->hostMs;
            std::printf("Render %d%s: pre-render %.2f ms, render %.2f ms (host services %.2f ms, %.0f%% of the "
                        "frame; the effect's own and GL work %.2f ms)",
                        round + 1, jobs.size() > 1 ? (" thread " + std::to_string(t + 1)).c_str() : "", preMs[t],
                        renderMs[t], host, total > 0 ? 100.0 * host / total : 0.0, total - host);
            std::printf("\n");
            if (preErr[t] || renderErr[t]) {
                std::fprintf(stderr, "umbrafex-render: render %d%s failed: %s\n", round + 1,
                             jobs.size() > 1 ? (" thread " + std::to_string(t + 1)).c_str() : "",
                             preErr[t] ? ("pre-render " + ErrName(preErr[t])).c_str()
                                       : ("render " + ErrName(renderErr[t])).c_str());
                status = 1;
            }
        }
        if (jobs.size() > 1) std::printf("Frame on %zu threads: %.2f ms\n", jobs.size(), frame);
    }

    PF_EffectWorld& out = jobs[0]->output;
    if (!status && out.data) {
        const int x = shown.xbegin / o.downsample, y = shown.ybegin / o.downsample;
        WriteImage(o.output, *output, out, o.bpc, OIIO::ROI(x, x + request.right, y, y + request.bottom));
        std::printf("Output: %s, %dx%d, origin (%d, %d) relative to the layer\n", o.output.c_str(), int(out.width),
                    int(out.height), int(out.origin_x), int(out.origin_y));
        if (!output->supports("alpha"))
            std::fprintf(stderr, "umbrafex-render: %s holds no alpha: wrote the frame over black\n", o.output.c_str());
        if (output->supports("displaywindow") && !WritesWindows(*output))
            std::fprintf(stderr, "umbrafex-render: %s holds no negative origin: wrote the frame without windows\n",
                         o.output.c_str());
    } else if (!status) {
        std::fprintf(stderr, "umbrafex-render: the effect produced no output world\n");
        status = 1;
    }

    // The windows show the frame at full layer size, so the layer is restored first.
    if (!o.compWindow.empty() || !o.layerWindow.empty()) {
        const PF_EffectWorld* frame = !status && out.data ? &out : nullptr;
        if (o.downsample > 1) {
            h.In().downsample_x = h.In().downsample_y = {1, 1};
            if (o.input.empty()) SampleLayer(h, o);
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
        // An effect that logs still hands back a frame (its message drawn in), so the run counts as failed.
        std::fprintf(stderr, "umbrafex-render: the effect wrote to its error log (%s):\n", logPath.c_str());
        while (std::getline(log, line)) std::fprintf(stderr, "  %s\n", line.c_str());
        status = 1;
    }

    jobs.clear();
    h.SequenceSetdown();
    h.GlobalSetdown();
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        Fail(e.what());
    } catch (...) {
        Fail("stopped by an unknown exception");
    }
}
