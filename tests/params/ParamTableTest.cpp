// Parameter declarations against the in-process host: the stored format of
// all 124 declarations, the labels built at setup, the blend-mode popup and
// what a failing host callback does to the declarations.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "host/HandleSuite.h"
#include "host/Host.h"
#include "host/SuiteRegistry.h"
#include "params/GradientData.h"
#include "params/UF3_ParamTable.h"
#include "shell/UF3.h"

namespace {

// The declarations as the saved-project format fixes them, one row per
// parameter: index | disk ID | type | name | flags | UI flags | value.
// Names in parentheses other than "(empty)" are labels built at setup.
constexpr const char* kExpectedRows = R"ROWS(
| 1 | 47 | GROUP_START | "About & Support" | CT | | |
| 2 | 48 | NO_DATA | (title, built at setup) | | CTRL 200x100 | custom-drawn header |
| 3 | 49 | BUTTON | "System Profile:" | SV | | label "Product Page" |
| 4 | 107 | BUTTON | (host version label) | SV | | label "Preset Gallery" |
| 5 | 50 | BUTTON | (OS version label) | SV | | label "Free Plugins" |
| 6 | 51 | BUTTON | (GL renderer label) | SV | | label "Get Support" |
| 7 | 109 | CHECKBOX | (empty) | NT | | label "Show Debug"; default off |
| 8 | 115 | CHECKBOX | (empty) | NT | | label "Hide Warnings"; default off |
| 9 | 116 | GROUP_START | "Error Logging" | | | |
| 10 | 117 | BUTTON | (empty) | SV | | label "Open Error Log" |
| 11 | 118 | BUTTON | (empty) | SV | | label "Open Log Directory" |
| 12 | 119 | BUTTON | (empty) | SV | | label "Create Test Error" |
| 13 | 120 | CHECKBOX | (empty) | NT SV | | label "Debug Analysis Enable"; default off |
| 14 | 121 | GROUP_END | (empty) | | | |
| 15 | 56 | GROUP_START | (empty) | | | |
| 16 | 57 | GROUP_END | (empty) | | | |
| 17 | 58 | GROUP_END | (empty) | | | |
| 18 | 39 | GROUP_START | "Light & Shadow" | | | |
| 19 | 1 | POPUP | "Light Type" | SV | | 2 choices (list below); default 1 |
| 20 | 68 | POPUP | "Renderer" | | | 2 choices (list below); default 2 |
| 21 | 2 | ANGLE | "Light Direction" | CT | | default 135° |
| 22 | 3 | POINT | "Light Origin" | | | default (0, 0); restrict_bounds 0 |
| 23 | 5 | FLOAT_SLIDER | "Light Radius" | CT SV SR | | default 250; valid 0..2000; slider 0..500; precision 2 |
| 24 | 75 | FLOAT_SLIDER | "Light Softness" | CT SV SR | | default 20; valid 0..100; slider 0..100; precision 2; percent |
| 25 | 76 | FLOAT_SLIDER | "Light Radius" | CT SV SR | | default 200; valid 0..100000; slider 0..500; precision 2 |
| 26 | 4 | FLOAT_SLIDER | "Shadow Length" | CT SR | | default 200; valid -4000..4000; slider 0..200; precision 2 |
| 27 | 69 | CHECKBOX | (empty) | | | label "Inner Shadow"; default off |
| 28 | 79 | CHECKBOX | (empty) | SV | | label "Inverse Shadow"; default off |
| 29 | 81 | CHECKBOX | (empty) | SV | | label "Auto Shadow Length"; default off |
| 30 | 7 | POPUP | "Inner Blend Mode" | SR | | 44 choices (blend-mode list); default 1 |
| 31 | 77 | CHECKBOX | (empty) | | | label "Show Light Outline"; default on |
| 32 | 95 | BUTTON | (empty) | SV | | label "Reset Style" |
| 33 | 40 | GROUP_END | (empty) | | | |
| 34 | 65 | GROUP_START | "Opacity & Color" | | | |
| 35 | 86 | FLOAT_SLIDER | "Opacity Start" | CT SR | | default 100; valid 0..100; slider 0..100; precision 2; percent |
| 36 | 87 | FLOAT_SLIDER | "Opacity End" | CT SR | | default 0; valid 0..100; slider 0..100; precision 2; percent |
| 37 | 8 | FLOAT_SLIDER | "Opacity Start" | CT SR | | default 20; valid 0..100; slider 0..100; precision 2; percent |
| 38 | 9 | FLOAT_SLIDER | "Opacity End" | CT SR | | default 20; valid 0..100; slider 0..100; precision 2; percent |
| 39 | 62 | POPUP | "Fill Mode" | SV | | 2 choices (list below); default 1 |
| 40 | 6 | COLOR | "Color" | | | default alpha 255, red 0, green 0, blue 0 (opaque black) |
| 41 | 67 | ARBITRARY_DATA | "Color Gradient" | CT SR | CTRL 350x102 | gradient handle (below) |
| 42 | 89 | SLIDER | "Gradient Pt Select" | NT SV | STD DIS INV | default -1; valid -1..2048; slider 0..10 |
| 43 | 90 | FIX_SLIDER | "Point Location" | NT CT SV SR | STD | default 100; valid 0..100; slider 0..100; precision 0; percent |
| 44 | 104 | ANGLE | "Cycle Gradient" | CT | | default 0° |
| 45 | 63 | FLOAT_SLIDER | "Fill Influence" | CT SR | | default 100; valid 0..100; slider 0..100; precision 2; percent |
| 46 | 74 | CHECKBOX | (empty) | | INV | label "Linear Blending"; default on |
| 47 | 103 | CHECKBOX | (empty) | | INV | label "Interpolate"; default on |
| 48 | 92 | BUTTON | (empty) | SV | | label "Reset Gradient" |
| 49 | 96 | BUTTON | (empty) | SV | | label "Reset Color" |
| 50 | 66 | GROUP_END | (empty) | | | |
| 51 | 10 | GROUP_START | "Easing" | CT | | |
| 52 | 84 | FLOAT_SLIDER | "Ease Opacity" | CT SR | | default 60; valid 0..100; slider 0..100; precision 2; percent |
| 53 | 85 | FLOAT_SLIDER | "Ease Softness" | CT SR | | default 50; valid 0..100; slider 0..100; precision 2; percent |
| 54 | 94 | FLOAT_SLIDER | "Ease Gradient" | CT SR | | default 25; valid 0..100; slider 0..100; precision 2; percent |
| 55 | 12 | FLOAT_SLIDER | "Easing Master" | CT SR | | default 100; valid 0..100; slider 0..100; precision 2; percent |
| 56 | 13 | GROUP_START | "Advanced" | CT SR | | |
| 57 | 14 | GROUP_START | "Easing Per Attribute" | SR | | |
| 58 | 15 | GROUP_END | (empty) | | | |
| 59 | 16 | FLOAT_SLIDER | "Distance" | CT SR | | default 80; valid 0..100; slider 0..100; precision 2; percent |
| 60 | 17 | FLOAT_SLIDER | "Softness" | CT SR | | default 100; valid 0..100; slider 0..100; precision 2; percent |
| 61 | 18 | FLOAT_SLIDER | "Opacity" | CT SR | | default 100; valid 0..100; slider 0..100; precision 2; percent |
| 62 | 71 | FLOAT_SLIDER | "Gradient" | CT SR | | default 25; valid 0..100; slider 0..100; precision 2; percent |
| 63 | 19 | GROUP_END | (empty) | | | |
| 64 | 97 | BUTTON | (empty) | SV | | label "Reset Easing" |
| 65 | 20 | GROUP_END | (empty) | | | |
| 66 | 33 | GROUP_START | "Texture" | CT | | |
| 67 | 34 | LAYER | "Layer" | | | default none |
| 68 | 111 | GROUP_START | "Warning: both layers need cont." | SR | DIS | |
| 69 | 112 | GROUP_END | (empty) | | | |
| 70 | 113 | GROUP_START | "raster for correct behavior" | SR | DIS | |
| 71 | 114 | GROUP_END | (empty) | | | |
| 72 | 35 | POPUP | "Blend Mode" | | | 44 choices (blend-mode list); default 41 |
| 73 | 36 | FLOAT_SLIDER | "Strength" | | | default 100; valid 0..100; slider 0..100; precision 2; percent |
| 74 | 101 | FLOAT_SLIDER | "Alpha Bias" | | | default 100; valid 0..100; slider 0..100; precision 2; percent |
| 75 | 106 | FLOAT_SLIDER | "Matte Gamma" | CT SR | | default 1; valid 0.01..5; slider 0.5..1.5; precision 2 |
| 76 | 102 | CHECKBOX | (empty) | | | label "View Texture"; default off |
| 77 | 98 | BUTTON | (empty) | SV | | label "Reset Texture" |
| 78 | 37 | GROUP_END | (empty) | | | |
| 79 | 21 | GROUP_START | "Quality" | CT | | |
| 80 | 22 | FLOAT_SLIDER | "Samples" | CT SR | | default 36; valid 1..2048; slider 0..64; precision 0 |
| 81 | 78 | FLOAT_SLIDER | "Alpha Threshold" | CT SR | | default 0.75; valid 0.01..1; slider 0.01..1; precision 2 |
| 82 | 23 | POPUP | "Quality Preset" | | | 5 choices (list below); default 3 |
| 83 | 99 | BUTTON | (empty) | SV | | label "Reset Quality" |
| 84 | 24 | GROUP_END | (empty) | | | |
| 85 | 25 | GROUP_START | "Compositing" | CT | | |
| 86 | 108 | POPUP | "Source Blend Mode" | SR | | 44 choices (blend-mode list); default 1 |
| 87 | 26 | FLOAT_SLIDER | "Source Opacity" | CT | | default 100; valid 0..100; slider 0..100; precision 2; percent |
| 88 | 38 | FLOAT_SLIDER | "Shadow Opacity" | CT | | default 100; valid 0..100; slider 0..100; precision 2; percent |
| 89 | 27 | FLOAT_SLIDER | "Shadow Offset" | CT SR | | default 1; valid 0..10; slider 0..10; precision 2 |
| 90 | 73 | FLOAT_SLIDER | "Shadow Offset" | CT SR | | default 2; valid 0..10; slider 0..10; precision 2; percent |
| 91 | 43 | FLOAT_SLIDER | "Buffer Expansion" | | | default 0; valid 0..1000; slider 0..100; precision 0 |
| 92 | 100 | BUTTON | (empty) | SV | | label "Reset Compositing" |
| 93 | 28 | GROUP_END | (empty) | | | |
| 94 | 122 | GROUP_START | "Deprecated" | | | |
| 95 | 53 | POPUP | "Vendor" | | | 1 choice (list below); default 1 |
| 96 | 54 | POPUP | "Renderer" | | | 1 choice (list below); default 1 |
| 97 | 52 | POPUP | "OpenGL Version" | | | 1 choice (list below); default 1 |
| 98 | 55 | POPUP | "Shader Version" | | | 1 choice (list below); default 1 |
| 99 | 64 | CHECKBOX | (empty) | SR | | label "Reverse Draw Order"; default off |
| 100 | 91 | BUTTON | (empty) | SV | | label "Shift Colors" |
| 101 | 11 | POPUP | "Mode" | | | 2 choices (list below); default 1 |
| 102 | 41 | GROUP_START | "Opacity" | | | |
| 103 | 42 | GROUP_END | (empty) | | | |
| 104 | 80 | CHECKBOX | (empty) | | | label "Shadow Within Light"; default on |
| 105 | 105 | CHECKBOX | (empty) | NT | | label "Ignore Upstream Effects"; default off |
| 106 | 123 | GROUP_END | (empty) | | | |
| 107 | 44 | GROUP_START | "Debug" | | | |
| 108 | 124 | CHECKBOX | "Visualize Buffer Bounds" | | | label (empty); default off |
| 109 | 29 | FLOAT_SLIDER | "Left" | NT CT | | default 0; valid -5000..5000; slider -500..500; precision 2 |
| 110 | 30 | FLOAT_SLIDER | "Top" | CT | | default 0; valid -5000..5000; slider -500..500; precision 2 |
| 111 | 31 | FLOAT_SLIDER | "Right" | CT | | default 0; valid -5000..5000; slider -500..500; precision 2 |
| 112 | 32 | FLOAT_SLIDER | "Bottom" | CT | | default 0; valid -5000..5000; slider -500..500; precision 2 |
| 113 | 70 | FLOAT_SLIDER | "Scale" | CT | | default 100; valid -5000..5000; slider -200..200; precision 2; percent |
| 114 | 72 | POPUP | "View Inner" | | | 9 choices (list below); default 9 |
| 115 | 93 | POPUP | "View Inner CPU Comp" | | | 5 choices (list below); default 5 |
| 116 | 61 | POPUP | "Pipeline" | | | 2 choices (list below); default 2 |
| 117 | 60 | FLOAT_SLIDER | "Render Loops" | CT | | default 1; valid 1..100000; slider 1..10; precision 0 |
| 118 | 45 | FLOAT_SLIDER | "Buffer Opacity" | CT | | default 0; valid 0..100; slider 0..100; precision 2; percent |
| 119 | 59 | CHECKBOX | "Default Buffer Behaviour" | | | label (empty); default off |
| 120 | 82 | POPUP | "JFA SSAA" | | | 4 choices (list below); default 1 |
| 121 | 83 | POPUP | "SD Debug View" | | | 4 choices (list below); default 1 |
| 122 | 88 | FLOAT_SLIDER | "JFA Padding (obsolete)" | CT | | default 0; valid 0..1000; slider 0..100; precision 0 |
| 123 | 110 | CHECKBOX | (empty) | NT | | label "Init"; default off |
| 124 | 46 | GROUP_END | (empty) | | | |
)ROWS";

const std::map<std::string, A_long> kTypes = {
    {"LAYER", 0},         {"SLIDER", 1},         {"FIX_SLIDER", 2},      {"ANGLE", 3},
    {"CHECKBOX", 4},      {"COLOR", 5},          {"POINT", 6},           {"POPUP", 7},
    {"NO_DATA", 9},       {"FLOAT_SLIDER", 10},  {"ARBITRARY_DATA", 11}, {"GROUP_START", 13},
    {"GROUP_END", 14},    {"BUTTON", 15},
};
const std::map<std::string, A_long> kFlagMarks = {{"NT", 0x2}, {"CT", 0x20}, {"SV", 0x40}, {"SR", 0x200}};
const std::map<std::string, A_long> kUiMarks = {{"CTRL", 0x82}, {"STD", 0x4}, {"DIS", 0x20}, {"INV", 0x200}};

const std::vector<std::string> kBlendEntries = {
    "Normal", "Dissolve", "(-", "Darken", "Multiply", "Color Burn", "Classic Color Burn", "Linear Burn",
    "Darker Color", "(-", "Add", "Lighten", "Screen", "Color Dodge", "Classic Color Dodge", "Linear Dodge",
    "Lighter Color", "(-", "Overlay", "Soft Light", "Hard Light", "Linear Light", "Vivid Light", "Pin Light",
    "Hard Mix", "(-", "Difference", "Classic Difference", "Exclusion", "Subtract", "Divide", "(-", "Hue",
    "Saturation", "Color", "Luminosity", "(-", "Stencil Alpha", "Stencil Luma", "Silhouette Alpha",
    "Silhouette Luma", "(-", "Alpha Add", "Luminescent Premul"};

std::string ExpectedBlendText() {
    std::string s;
    for (const auto& e : kBlendEntries) s += e + "|";
    return s;
}

const std::map<int, std::string> kChoices = {
    {19, "Directional|Point"},
    {20, "Standard|Raytraced"},
    {30, ExpectedBlendText()},
    {39, "Solid Fill|Gradient Fill"},
    {72, ExpectedBlendText()},
    {82, "Draft|Low|Moderate|High|Extreme"},
    {86, ExpectedBlendText()},
    {95, "NULL"},
    {96, "NULL"},
    {97, "NULL"},
    {98, "NULL"},
    {101, "Ease In|Ease In & Out"},
    {114, "InTex|InFBO|blurFBO|blurFBO CPU Xform|blurFBO GPU Xform|blurFBO Xform|blurFBO Xform 2|No Inner "
          "Comp|Final Result"},
    {115, "Input PF_COPY|Input Xfer_Rect|Max Alpha|Blend Shadow|Final Result (Stencil)"},
    {116, "Alpha|RGBA"},
    {120, "1x|2x|4x|8x"},
    {121, "Final Result|CPU Padding|In FBO|Jumpflood"},
};

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(' '), e = s.find_last_not_of(' ');
    return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

std::vector<std::string> Split(const std::string& s, const std::string& sep) {
    std::vector<std::string> out;
    size_t start = 0, at;
    while ((at = s.find(sep, start)) != std::string::npos) {
        out.push_back(Trim(s.substr(start, at - start)));
        start = at + sep.size();
    }
    out.push_back(Trim(s.substr(start)));
    return out;
}

std::string Unquote(const std::string& s) { return s.substr(1, s.size() - 2); }

struct Expected {
    int index = 0;
    A_long id = 0, type = 0, flags = 0, ui = 0;
    int width = 0, height = 0;
    std::optional<std::string> name;  // none: built at setup
    std::string dflt;                 // as written: "250", "135°", "on", ...
    std::optional<std::pair<double, double>> valid, slider;
    std::optional<int> precision, choices;
    bool percent = false;
    std::optional<std::string> label;
};

std::pair<double, double> Range(const std::string& s) {
    size_t at = s.find("..");
    return {std::stod(s.substr(0, at)), std::stod(s.substr(at + 2))};
}

std::vector<Expected> ParseRows() {
    std::vector<Expected> rows;
    std::istringstream in(kExpectedRows);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        auto cells = Split(line.substr(1, line.size() - 2), "|");
        EXPECT_EQ(cells.size(), 7u) << line;
        Expected e;
        e.index = std::stoi(cells[0]);
        e.id = std::stol(cells[1]);
        e.type = kTypes.at(cells[2]);
        if (cells[3] == "(empty)") e.name = "";
        else if (cells[3].front() == '"') e.name = Unquote(cells[3]);
        for (const auto& mark : Split(cells[4], " "))
            if (!mark.empty()) e.flags |= kFlagMarks.at(mark);
        for (const auto& mark : Split(cells[5], " ")) {
            if (mark.empty()) continue;
            if (auto x = mark.find('x'); std::isdigit(mark[0]) && x != std::string::npos) {
                e.width = std::stoi(mark.substr(0, x));
                e.height = std::stoi(mark.substr(x + 1));
            } else {
                e.ui |= kUiMarks.at(mark);
            }
        }
        for (const auto& item : Split(cells[6], ";")) {
            if (item.rfind("default ", 0) == 0) e.dflt = item.substr(8);
            else if (item.rfind("valid ", 0) == 0) e.valid = Range(item.substr(6));
            else if (item.rfind("slider ", 0) == 0) e.slider = Range(item.substr(7));
            else if (item.rfind("precision ", 0) == 0) e.precision = std::stoi(item.substr(10));
            else if (item == "percent") e.percent = true;
            else if (item == "label (empty)") e.label = "";
            else if (item.rfind("label ", 0) == 0) e.label = Unquote(item.substr(6));
            else if (item.find(" choice") != std::string::npos) e.choices = std::stoi(item);
        }
        rows.push_back(e);
    }
    return rows;
}

// 16.16 fixed point of a whole or percent value.
A_long Fix(double v) { return A_long(std::lround(v * 65536.0)); }

// The host's books start clean for every test and are checked after it.
class ParamTable : public ::testing::Test {
protected:
    void SetUp() override {
        host::HandleTable::Instance().Reset();
        host::SuiteRegistry::Instance().ClearFaults();
        host::SuiteRegistry::Instance().ResetBooks();
        m_host = std::make_unique<host::Host>(Options());
    }
    void TearDown() override {
        auto& handles = host::HandleTable::Instance();
        auto& suites = host::SuiteRegistry::Instance();
        handles.ClearFaults();
        EXPECT_EQ(suites.Outstanding(), 0) << suites.Describe();
        EXPECT_EQ(handles.LocksHeld(), 0);
        EXPECT_EQ(handles.Misuses(), 0);
        if (m_global) handles.Dispose(m_global);
        m_host.reset();
        EXPECT_EQ(handles.Alive(), 0u) << "handles leaked";
    }
    virtual host::HostOptions Options() { return {}; }

    PF_Err Declare() { return ParamsSetup(&H().In(), &H().Out(), nullptr, nullptr); }

    // Global data whose renderer string is `renderer`.
    void GiveGlobalData(const std::string& renderer) {
        auto& handles = host::HandleTable::Instance();
        m_global = handles.New(sizeof(GlobalData));
        auto* g = static_cast<GlobalData*>(handles.Lock(m_global));
        std::memset(g, 0, sizeof(GlobalData));
        std::strncpy(g->glRenderer, renderer.c_str(), sizeof g->glRenderer - 1);
        handles.Unlock(m_global);
        H().In().global_data = m_global;
    }

    std::string NameOf(int index) { return H().ParamDefs().at(size_t(index)).name; }

    host::Host& H() { return *m_host; }
    std::unique_ptr<host::Host> m_host;
    PF_Handle m_global = nullptr;
};

TEST_F(ParamTable, DeclaresEveryParameterAsStored) {
    ASSERT_EQ(Declare(), PF_Err_NONE);
    EXPECT_EQ(H().Out().num_params, 125);
    const auto& defs = H().ParamDefs();
    const auto rows = ParseRows();
    ASSERT_EQ(rows.size(), 124u);
    ASSERT_EQ(defs.size(), 125u);

    for (const Expected& e : rows) {
        SCOPED_TRACE("parameter " + std::to_string(e.index));
        ASSERT_EQ(e.index, &e - rows.data() + 1) << "rows out of order";
        const PF_ParamDef& d = defs[size_t(e.index)];
        EXPECT_EQ(d.uu.id, e.id);
        EXPECT_EQ(d.param_type, e.type);
        EXPECT_EQ(d.flags, e.flags);
        EXPECT_EQ(d.ui_flags, e.ui);
        EXPECT_EQ(d.ui_width, e.width);
        EXPECT_EQ(d.ui_height, e.height);
        if (e.name) {
            EXPECT_STREQ(d.name, e.name->c_str());
        }

        switch (e.type) {
            case 10: {  // float slider
                const auto& fs = d.u.fs_d;
                const double dflt = std::stod(e.dflt);
                EXPECT_FLOAT_EQ(fs.dephault, float(dflt));
                EXPECT_DOUBLE_EQ(fs.value, fs.dephault);
                ASSERT_TRUE(e.valid && e.slider && e.precision);
                EXPECT_FLOAT_EQ(fs.valid_min, float(e.valid->first));
                EXPECT_FLOAT_EQ(fs.valid_max, float(e.valid->second));
                EXPECT_FLOAT_EQ(fs.slider_min, float(e.slider->first));
                EXPECT_FLOAT_EQ(fs.slider_max, float(e.slider->second));
                EXPECT_EQ(fs.precision, *e.precision);
                EXPECT_EQ(fs.display_flags, e.percent ? 1 : 0);
                EXPECT_FLOAT_EQ(fs.curve_tolerance, 0.05f);
                EXPECT_EQ(fs.phase, 0.0);
                EXPECT_EQ(fs.fs_flags, 0u);
                EXPECT_FALSE(fs.useExponent);
                break;
            }
            case 1: {  // integer slider
                const auto& sd = d.u.sd;
                EXPECT_EQ(sd.dephault, std::stoi(e.dflt));
                EXPECT_EQ(sd.value, sd.dephault);
                EXPECT_EQ(sd.valid_min, e.valid->first);
                EXPECT_EQ(sd.valid_max, e.valid->second);
                EXPECT_EQ(sd.slider_min, e.slider->first);
                EXPECT_EQ(sd.slider_max, e.slider->second);
                break;
            }
            case 2: {  // fixed slider
                const auto& fd = d.u.fd;
                EXPECT_EQ(fd.dephault, Fix(std::stod(e.dflt)));
                EXPECT_EQ(fd.value, fd.dephault);
                EXPECT_EQ(fd.valid_min, Fix(e.valid->first));
                EXPECT_EQ(fd.valid_max, Fix(e.valid->second));
                EXPECT_EQ(fd.slider_min, Fix(e.slider->first));
                EXPECT_EQ(fd.slider_max, Fix(e.slider->second));
                EXPECT_EQ(fd.precision, *e.precision);
                EXPECT_EQ(fd.display_flags, e.percent ? 1 : 0);
                break;
            }
            case 3:  // angle, no valid range
                EXPECT_EQ(d.u.ad.dephault, Fix(std::stod(e.dflt)));
                EXPECT_EQ(d.u.ad.value, d.u.ad.dephault);
                EXPECT_EQ(d.u.ad.valid_min, 0);
                EXPECT_EQ(d.u.ad.valid_max, 0);
                break;
            case 4:  // checkbox
                ASSERT_TRUE(e.dflt == "on" || e.dflt == "off");
                EXPECT_EQ(bool(d.u.bd.dephault), e.dflt == "on");
                EXPECT_EQ(bool(d.u.bd.value), e.dflt == "on");
                ASSERT_TRUE(e.label);
                ASSERT_NE(d.u.bd.u.nameptr, nullptr);
                EXPECT_STREQ(d.u.bd.u.nameptr, e.label->c_str());
                break;
            case 15:  // button
                ASSERT_TRUE(e.label);
                ASSERT_NE(d.u.button_d.u.namesptr, nullptr);
                EXPECT_STREQ(d.u.button_d.u.namesptr, e.label->c_str());
                break;
            case 7: {  // popup
                ASSERT_TRUE(e.choices);
                const std::string& text = kChoices.at(e.index);
                EXPECT_EQ(d.u.pd.num_choices, *e.choices);
                EXPECT_EQ(d.u.pd.dephault, std::stoi(e.dflt));
                EXPECT_EQ(d.u.pd.value, d.u.pd.dephault);
                ASSERT_NE(d.u.pd.u.namesptr, nullptr);
                EXPECT_EQ(std::string(d.u.pd.u.namesptr), text);
                // The host counts choices by separators: the text must agree.
                size_t bars = std::count(text.begin(), text.end(), '|');
                EXPECT_EQ(text.back() == '|' ? bars : bars + 1, size_t(*e.choices));
                break;
            }
            case 5: {  // colour, alpha first
                EXPECT_EQ(e.dflt.rfind("alpha 255, red 0, green 0, blue 0", 0), 0u);
                const PF_Pixel& c = d.u.cd.dephault;
                EXPECT_EQ(c.alpha, 255);
                EXPECT_EQ(c.red, 0);
                EXPECT_EQ(c.green, 0);
                EXPECT_EQ(c.blue, 0);
                EXPECT_EQ(std::memcmp(&d.u.cd.value, &c, sizeof c), 0);
                break;
            }
            case 6:  // point
                EXPECT_EQ(e.dflt, "(0, 0)");
                EXPECT_EQ(d.u.td.x_dephault, 0);
                EXPECT_EQ(d.u.td.y_dephault, 0);
                EXPECT_EQ(d.u.td.restrict_bounds, 0);
                break;
            case 0:  // layer
                EXPECT_EQ(e.dflt, "none");
                EXPECT_EQ(d.u.ld.dephault, 0);
                break;
            case 11:  // arbitrary data
                EXPECT_EQ(d.u.arb_d.id, 67);
                EXPECT_EQ(reinterpret_cast<uintptr_t>(d.u.arb_d.refconPV), 0x55464772u);
                EXPECT_EQ(d.u.arb_d.value, nullptr);
                EXPECT_NE(d.u.arb_d.dephault, nullptr);
                break;
            default:
                break;
        }
    }
}

TEST_F(ParamTable, BlendPopupsShareOneTextThatOutlivesSetup) {
    ASSERT_EQ(Declare(), PF_Err_NONE);
    const auto& defs = H().ParamDefs();
    const char* text = defs[30].u.pd.u.namesptr;
    EXPECT_EQ(defs[72].u.pd.u.namesptr, text);
    EXPECT_EQ(defs[86].u.pd.u.namesptr, text);

    // A second setup (another instance) may not free what the host still holds.
    host::Host second;
    ASSERT_EQ(ParamsSetup(&second.In(), &second.Out(), nullptr, nullptr), PF_Err_NONE);
    EXPECT_EQ(std::string(text), ExpectedBlendText());
    EXPECT_STREQ(second.ParamDefs()[86].u.pd.u.namesptr, text);
}

TEST(BlendModes, TextAndTransferModes) {
    const std::string text = GenBlendingTableStr();
    EXPECT_EQ(text, ExpectedBlendText());

    // Position -> host transfer mode, by the host's numbers.
    const std::map<int, A_long> modes = {
        {1, 2},   {2, 3},   {3, 2},   {4, 10},  {5, 5},   {6, 28},  {7, 24},  {8, 30},  {9, 36},
        {10, 2},  {11, 4},  {12, 11}, {13, 6},  {14, 27}, {15, 23}, {16, 29}, {17, 35}, {18, 2},
        {19, 7},  {20, 8},  {21, 9},  {22, 31}, {23, 32}, {24, 33}, {25, 34}, {26, 2},  {27, 26},
        {28, 12}, {29, 25}, {30, 37}, {31, 38}, {32, 2},  {33, 13}, {34, 14}, {35, 15}, {36, 16},
        {37, 2},  {38, 17}, {39, 18}, {40, 19}, {41, 20}, {42, 2},  {43, 22}, {44, 21},
    };
    for (const auto& [position, mode] : modes) EXPECT_EQ(EnumerateBlend(position), mode) << position;
    for (int outside : {0, 45, -1, 46, INT_MIN, INT_MAX}) {
        EXPECT_EQ(EnumerateBlend(outside), 2) << outside;
    }
}

TEST(Exec, ReadsWholeOutputAndFailsQuietly) {
    // Longer than one read buffer, over several lines.
    const std::string line(300, 'x');
    EXPECT_EQ(exec(("printf '" + line + "\\n" + line + "\\n'").c_str()), line + "\n" + line + "\n");
    EXPECT_EQ(exec("exit 3"), "");
    EXPECT_EQ(exec(nullptr), "");
}

// PATH for one test; restored afterwards.
class PathGuard {
public:
    explicit PathGuard(const std::string& path) : m_old(getenv("PATH") ? getenv("PATH") : "") {
        setenv("PATH", path.c_str(), 1);
    }
    ~PathGuard() { setenv("PATH", m_old.c_str(), 1); }

private:
    std::string m_old;
};

std::string TempDir() {
    char tmpl[] = "/tmp/uf3params.XXXXXX";
    const char* dir = mkdtemp(tmpl);
    return dir ? dir : "";
}

class ParamLabels : public ParamTable {
protected:
    host::HostOptions Options() override {
        host::HostOptions o;
        o.api_major = 7;
        o.api_minor = 5;
        return o;
    }
};

TEST_F(ParamLabels, TitleHostAndOsVersionFromTheirSources) {
    const std::string dir = TempDir();
    ASSERT_FALSE(dir.empty());
    const std::string script = dir + "/sw_vers", args = dir + "/args";
    {
        std::ofstream s(script);
        s << "#!/bin/sh\necho \"$@\" > '" << args << "'\necho 14.6.1\n";
    }
    ASSERT_EQ(chmod(script.c_str(), 0755), 0);
    {
        PathGuard path(dir + ":" + (getenv("PATH") ? getenv("PATH") : ""));
        ASSERT_EQ(Declare(), PF_Err_NONE);
    }
    EXPECT_EQ(NameOf(2), "Umbrafex 3 v1.0.8");
    EXPECT_EQ(NameOf(3), "System Profile:");
    EXPECT_EQ(NameOf(4), "AE 7.5");
    EXPECT_EQ(NameOf(5), "OS 14.6.1\n");
    std::ifstream recorded(args);
    std::string got;
    std::getline(recorded, got);
    EXPECT_EQ(got, "-productVersion");
    EXPECT_EQ(NameOf(6), "NULL");  // no global data
    unlink(args.c_str());
    unlink(script.c_str());
    rmdir(dir.c_str());
}

TEST_F(ParamLabels, MissingOsCommandAndEmptyRenderer) {
    const std::string dir = TempDir();
    GiveGlobalData("");
    {
        PathGuard path(dir);  // no sw_vers anywhere
        ASSERT_EQ(Declare(), PF_Err_NONE);
    }
    EXPECT_EQ(NameOf(5), "OS ");
    EXPECT_EQ(NameOf(6), "NULL");
    rmdir(dir.c_str());
}

TEST_F(ParamLabels, TheHostsOwnSwVersAnswersFromOsReleaseAndKeepsStandardErrorQuiet) {
    // VERSION_ID, or VERSION for a release without a number, quotes taken off.
    std::map<std::string, std::string> release;
    std::ifstream file(access("/etc/os-release", R_OK) == 0 ? "/etc/os-release" : "/usr/lib/os-release");
    for (std::string line; std::getline(file, line);) {
        const size_t eq = line.find('=');
        std::string value = eq == std::string::npos ? "" : line.substr(eq + 1);
        if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
            value = value.substr(1, value.size() - 2);
        if (eq != std::string::npos) release.emplace(line.substr(0, eq), value);
    }
    const std::string version = !release["VERSION_ID"].empty() ? release["VERSION_ID"] : release["VERSION"];
    testing::internal::CaptureStderr();
    ASSERT_EQ(Declare(), PF_Err_NONE);
    EXPECT_EQ(NameOf(5), version.empty() ? "OS " : ("OS " + version + "\n").substr(0, 31));
    EXPECT_EQ(exec("sw_vers"), "ProductName:\t\t" + release["NAME"] + "\nProductVersion:\t\t" + version +
                                   "\nBuildVersion:\t\t" + exec("sw_vers -buildVersion"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(exec("sw_vers -productName"), release["NAME"] + "\n");
    EXPECT_EQ(exec("sw_vers -productVersion -x 2>&1 || echo refused"),
              "usage: sw_vers [-productName | -productVersion | -buildVersion]\nrefused\n");
}

TEST_F(ParamLabels, RendererCutTo31Characters) {
    const std::string renderer = "NVIDIA GeForce RTX 4090/PCIe/SSE2 with a very long name";
    GiveGlobalData(renderer);
    ASSERT_EQ(Declare(), PF_Err_NONE);
    EXPECT_EQ(NameOf(6), renderer.substr(0, 31));
    EXPECT_EQ(host::HandleTable::Instance().LockCount(m_global), 0);
}

// Stands between the effect and the host's callbacks: counts, records and
// fails one chosen call.
struct Interposer {
    decltype(PF_InteractCallbacks::add_param) add = nullptr;
    decltype(PF_InteractCallbacks::register_ui) ui = nullptr;
    host::Host* host = nullptr;
    int adds = 0, failAddAt = 0;
    bool allAppended = true;
    PF_Err addErr = PF_Err_NONE, uiErr = PF_Err_NONE;
    size_t defsAtUi = 0;
};
Interposer g_inter;

PF_Err InterposedAdd(void* ref, PF_ParamIndex index, PF_ParamDef* def) {
    g_inter.allAppended &= index == -1;
    if (++g_inter.adds == g_inter.failAddAt) return g_inter.addErr;
    return g_inter.add(ref, index, def);
}

PF_Err InterposedUi(void* ref, PF_CustomUIInfo* info) {
    g_inter.defsAtUi = g_inter.host->ParamDefs().size();
    PF_Err err = g_inter.ui(ref, info);
    return g_inter.uiErr ? g_inter.uiErr : err;
}

class ParamFailures : public ParamTable {
protected:
    void Interpose(int failAddAt, PF_Err addErr, PF_Err uiErr = PF_Err_NONE) {
        auto& inter = H().In().inter;
        g_inter = Interposer{inter.add_param, inter.register_ui, &H(), 0, failAddAt, true, addErr, uiErr, 0};
        inter.add_param = &InterposedAdd;
        inter.register_ui = &InterposedUi;
        H().Out().num_params = 7;  // whatever the record held before
    }
};

TEST_F(ParamFailures, RegistersUiOnceRightAfterHeader) {
    Interpose(0, PF_Err_NONE);
    ASSERT_EQ(Declare(), PF_Err_NONE);
    EXPECT_TRUE(g_inter.allAppended);
    EXPECT_EQ(g_inter.adds, 124);
    EXPECT_EQ(H().UiRegistrations(), 1);
    EXPECT_EQ(g_inter.defsAtUi, 3u);  // input layer, group, header
    PF_CustomUIInfo expected{};
    expected.events = 7;
    EXPECT_EQ(std::memcmp(&H().RegisteredUI(), &expected, sizeof expected), 0);
}

class ParamFailsAt : public ParamFailures, public ::testing::WithParamInterface<int> {};

TEST_P(ParamFailsAt, DeclarationsStopAtOnce) {
    const int failAt = GetParam();
    Interpose(failAt, PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(Declare(), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(g_inter.adds, failAt);
    EXPECT_EQ(H().ParamDefs().size(), size_t(failAt));
    EXPECT_EQ(H().Out().num_params, 7);
    EXPECT_EQ(H().UiRegistrations(), failAt > 2 ? 1 : 0);
    // A refused gradient default is not left behind; an accepted one is the host's (default and value).
    EXPECT_EQ(host::HandleTable::Instance().Alive(), failAt > 41 ? 2u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Positions, ParamFailsAt, ::testing::Values(1, 2, 3, 41, 124));

TEST_F(ParamFailures, FailedUiRegistrationReturnedAfterAllDeclarations) {
    Interpose(0, PF_Err_NONE, PF_Err_INVALID_CALLBACK);
    EXPECT_EQ(Declare(), PF_Err_INVALID_CALLBACK);
    EXPECT_EQ(H().ParamDefs().size(), 125u);
    EXPECT_EQ(H().Out().num_params, 125);
}

TEST_F(ParamFailures, NoBasicSuiteThrowsBeforeDeclaring) {
    Interpose(0, PF_Err_NONE);
    H().In().pica_basicP = nullptr;
    try {
        Declare();
        ADD_FAILURE() << "no throw";
    } catch (A_long err) {
        EXPECT_EQ(err, 516);
    }
    EXPECT_EQ(g_inter.adds, 0);
    EXPECT_EQ(H().Out().num_params, 7);
}

TEST_F(ParamFailures, NoGradientHandleIsNotReportedAsSuccess) {
    Interpose(0, PF_Err_NONE);
    host::HandleTable::Instance().FailAllocation(1);
    EXPECT_EQ(Declare(), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(H().ParamDefs().size(), 41u);  // stopped before Color Gradient
    EXPECT_EQ(H().Out().num_params, 7);
}

TEST_F(ParamTable, DefaultGradientIsTheDefaultStops) {
    ASSERT_EQ(Declare(), PF_Err_NONE);
    PF_Handle h = H().ParamDefs()[41].u.arb_d.dephault;
    auto& handles = host::HandleTable::Instance();
    ASSERT_TRUE(handles.IsAlive(h));
    ASSERT_EQ(handles.Size(h), 77u);

    PF_Handle reference = nullptr;
    ASSERT_EQ(Set_Arb_Gradient(handles.Suite(), &reference, 3, defaultGrad.data()), PF_Err_NONE);
    ASSERT_NE(reference, nullptr);
    EXPECT_EQ(std::memcmp(handles.Lock(h), handles.Lock(reference), 77), 0);
    handles.Unlock(h);
    handles.Unlock(reference);
    handles.Dispose(reference);
}

}  // namespace
