#include "params/UF3_ParamTable.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string_view>

#include "params/GradientData.h"
#include "shell/AEGP_SuiteHandler.h"
#include "shell/UF3.h"
#include "shell/UF3_Version.h"
#include "shell/UF_Handle.h"

namespace {

#define UF3_STR2(x) #x
#define UF3_STR(x) UF3_STR2(x)
constexpr const char* kTitle =
    UF3_EFFECT_NAME " v" UF3_STR(UF3_MAJOR_VERSION) "." UF3_STR(UF3_MINOR_VERSION) "." UF3_STR(UF3_BUG_VERSION);
#undef UF3_STR
#undef UF3_STR2

constexpr PF_ParamFlags NT = PF_ParamFlag_CANNOT_TIME_VARY;
constexpr PF_ParamFlags CT = PF_ParamFlag_COLLAPSE_TWIRLY;
constexpr PF_ParamFlags SV = PF_ParamFlag_SUPERVISE;
constexpr PF_ParamFlags SR = PF_ParamFlag_SKIP_REVEAL_WHEN_UNHIDDEN;

constexpr PF_ParamUIFlags CTRL = PF_PUI_CONTROL | PF_PUI_DONT_ERASE_CONTROL;
constexpr PF_ParamUIFlags STD = PF_PUI_STD_CONTROL_ONLY;
constexpr PF_ParamUIFlags DIS = PF_PUI_DISABLED;
constexpr PF_ParamUIFlags INV = PF_PUI_INVISIBLE;

// One declaration. Numbers are in the units of the type's value record
// (degrees for angles, whole units for fixed sliders); `text` is a popup's
// choices or a checkbox's or button's label.
struct Row {
    A_long id;
    PF_ParamType type;
    const char* name;  // null: a label built at setup
    PF_ParamFlags flags = 0;
    PF_ParamUIFlags ui = 0;
    A_short uiWidth = 0, uiHeight = 0;
    double dflt = 0, validMin = 0, validMax = 0, sliderMin = 0, sliderMax = 0;
    A_short precision = 0;
    bool percent = false;
    const char* text = nullptr;  // null on a popup: the shared blend-mode text
    A_short choices = 0;
};

constexpr Row Group(A_long id, const char* name, PF_ParamFlags flags = 0, PF_ParamUIFlags ui = 0) {
    return {.id = id, .type = PF_Param_GROUP_START, .name = name, .flags = flags, .ui = ui};
}
constexpr Row End(A_long id) { return {.id = id, .type = PF_Param_GROUP_END, .name = ""}; }
constexpr Row Button(A_long id, const char* name, const char* label) {
    return {.id = id, .type = PF_Param_BUTTON, .name = name, .flags = SV, .text = label};
}
constexpr Row Check(A_long id, const char* label, bool on, PF_ParamFlags flags = 0, PF_ParamUIFlags ui = 0,
                    const char* name = "") {
    return {.id = id, .type = PF_Param_CHECKBOX, .name = name, .flags = flags, .ui = ui, .dflt = on ? 1.0 : 0.0,
            .text = label};
}
constexpr Row Popup(A_long id, const char* name, PF_ParamFlags flags, A_short choices, A_short dflt,
                    const char* text) {
    return {.id = id, .type = PF_Param_POPUP, .name = name, .flags = flags, .dflt = double(dflt), .text = text,
            .choices = choices};
}
constexpr Row Blend(A_long id, const char* name, PF_ParamFlags flags, A_short dflt) {
    return Popup(id, name, flags, UF3_BLEND_NUM_CHOICES, dflt, nullptr);
}
constexpr Row Float(A_long id, const char* name, PF_ParamFlags flags, double dflt, double vMin, double vMax,
                    double sMin, double sMax, A_short precision, bool percent = false) {
    return {.id = id, .type = PF_Param_FLOAT_SLIDER, .name = name, .flags = flags, .dflt = dflt,
            .validMin = vMin, .validMax = vMax, .sliderMin = sMin, .sliderMax = sMax, .precision = precision,
            .percent = percent};
}
// Percent sliders over 0..100 with two decimals, the common case.
constexpr Row Pct(A_long id, const char* name, PF_ParamFlags flags, double dflt) {
    return Float(id, name, flags, dflt, 0, 100, 0, 100, 2, true);
}
constexpr Row Angle(A_long id, const char* name, PF_ParamFlags flags, double degrees) {
    return {.id = id, .type = PF_Param_ANGLE, .name = name, .flags = flags, .dflt = degrees};
}
constexpr Row Plain(A_long id, PF_ParamType type, const char* name, PF_ParamFlags flags = 0,
                    PF_ParamUIFlags ui = 0, A_short w = 0, A_short h = 0) {
    return {.id = id, .type = type, .name = name, .flags = flags, .ui = ui, .uiWidth = w, .uiHeight = h};
}

constexpr const char* kNull = "NULL";

// Indices 1 to 124. A stored format: projects read values back by ID.
constexpr std::array<Row, UF3_NUM_PARAMS - 1> kTable = {{
    Group(47, "About & Support", CT),
    Plain(48, PF_Param_NO_DATA, nullptr, 0, CTRL, 200, 100),
    Button(49, "System Profile:", "Product Page"),
    Button(107, nullptr, "Preset Gallery"),
    Button(50, nullptr, "Free Plugins"),
    Button(51, nullptr, "Get Support"),
    Check(109, "Show Debug", false, NT),
    Check(115, "Hide Warnings", false, NT),
    Group(116, "Error Logging"),
    Button(117, "", "Open Error Log"),
    Button(118, "", "Open Log Directory"),
    Button(119, "", "Create Test Error"),
    Check(120, "Debug Analysis Enable", false, NT | SV),
    End(121),
    Group(56, ""),
    End(57),
    End(58),
    // 18
    Group(39, "Light & Shadow"),
    Popup(1, "Light Type", SV, 2, UF3_LIGHT_DIRECTIONAL, "Directional|Point"),
    Popup(68, "Renderer", 0, 2, UF3_RENDERER_RAYTRACED, "Standard|Raytraced"),
    Angle(2, "Light Direction", CT, 135),
    Plain(3, PF_Param_POINT, "Light Origin"),
    Float(5, "Light Radius", CT | SV | SR, 250, 0, 2000, 0, 500, 2),
    Float(75, "Light Softness", CT | SV | SR, 20, 0, 100, 0, 100, 2, true),
    Float(76, "Light Radius", CT | SV | SR, 200, 0, 100000, 0, 500, 2),
    Float(4, "Shadow Length", CT | SR, 200, -4000, 4000, 0, 200, 2),
    Check(69, "Inner Shadow", false),
    Check(79, "Inverse Shadow", false, SV),
    Check(81, "Auto Shadow Length", false, SV),
    Blend(7, "Inner Blend Mode", SR, UF3_BLEND_NORMAL),
    Check(77, "Show Light Outline", true),
    Button(95, "", "Reset Style"),
    End(40),
    // 34
    Group(65, "Opacity & Color"),
    Pct(86, "Opacity Start", CT | SR, 100),
    Pct(87, "Opacity End", CT | SR, 0),
    Pct(8, "Opacity Start", CT | SR, 20),
    Pct(9, "Opacity End", CT | SR, 20),
    Popup(62, "Fill Mode", SV, 2, UF3_FILL_SOLID, "Solid Fill|Gradient Fill"),
    Plain(6, PF_Param_COLOR, "Color"),
    Plain(67, PF_Param_ARBITRARY_DATA, "Color Gradient", CT | SR, CTRL, 350, 102),
    {.id = 89, .type = PF_Param_SLIDER, .name = "Gradient Pt Select", .flags = NT | SV, .ui = STD | DIS | INV,
     .dflt = -1, .validMin = -1, .validMax = 2048, .sliderMin = 0, .sliderMax = 10},
    {.id = 90, .type = PF_Param_FIX_SLIDER, .name = "Point Location", .flags = NT | CT | SV | SR, .ui = STD,
     .dflt = 100, .validMin = 0, .validMax = 100, .sliderMin = 0, .sliderMax = 100, .precision = 0,
     .percent = true},
    Angle(104, "Cycle Gradient", CT, 0),
    Pct(63, "Fill Influence", CT | SR, 100),
    Check(74, "Linear Blending", true, 0, INV),
    Check(103, "Interpolate", true, 0, INV),
    Button(92, "", "Reset Gradient"),
    Button(96, "", "Reset Color"),
    End(66),
    // 51
    Group(10, "Easing", CT),
    Pct(84, "Ease Opacity", CT | SR, 60),
    Pct(85, "Ease Softness", CT | SR, 50),
    Pct(94, "Ease Gradient", CT | SR, 25),
    Pct(12, "Easing Master", CT | SR, 100),
    Group(13, "Advanced", CT | SR),
    Group(14, "Easing Per Attribute", SR),
    End(15),
    Pct(16, "Distance", CT | SR, 80),
    Pct(17, "Softness", CT | SR, 100),
    Pct(18, "Opacity", CT | SR, 100),
    Pct(71, "Gradient", CT | SR, 25),
    End(19),
    Button(97, "", "Reset Easing"),
    End(20),
    // 66
    Group(33, "Texture", CT),
    Plain(34, PF_Param_LAYER, "Layer"),
    Group(111, "Warning: both layers need cont.", SR, DIS),
    End(112),
    Group(113, "raster for correct behavior", SR, DIS),
    End(114),
    Blend(35, "Blend Mode", 0, UF3_BLEND_SILHOUETTE_LUMA),
    Pct(36, "Strength", 0, 100),
    Pct(101, "Alpha Bias", 0, 100),
    Float(106, "Matte Gamma", CT | SR, 1, 0.01, 5, 0.5, 1.5, 2),
    Check(102, "View Texture", false),
    Button(98, "", "Reset Texture"),
    End(37),
    // 79
    Group(21, "Quality", CT),
    Float(22, "Samples", CT | SR, 36, 1, 2048, 0, 64, 0),
    Float(78, "Alpha Threshold", CT | SR, 0.75, 0.01, 1, 0.01, 1, 2),
    Popup(23, "Quality Preset", 0, 5, UF3_QUALITY_MODERATE, "Draft|Low|Moderate|High|Extreme"),
    Button(99, "", "Reset Quality"),
    End(24),
    // 85
    Group(25, "Compositing", CT),
    Blend(108, "Source Blend Mode", SR, UF3_BLEND_NORMAL),
    Pct(26, "Source Opacity", CT, 100),
    Pct(38, "Shadow Opacity", CT, 100),
    Float(27, "Shadow Offset", CT | SR, 1, 0, 10, 0, 10, 2),
    Float(73, "Shadow Offset", CT | SR, 2, 0, 10, 0, 10, 2, true),
    Float(43, "Buffer Expansion", 0, 0, 0, 1000, 0, 100, 0),
    Button(100, "", "Reset Compositing"),
    End(28),
    // 94
    Group(122, "Deprecated"),
    Popup(53, "Vendor", 0, 1, 1, kNull),
    Popup(54, "Renderer", 0, 1, 1, kNull),
    Popup(52, "OpenGL Version", 0, 1, 1, kNull),
    Popup(55, "Shader Version", 0, 1, 1, kNull),
    Check(64, "Reverse Draw Order", false, SR),
    Button(91, "", "Shift Colors"),
    Popup(11, "Mode", 0, 2, UF3_EASE_IN, "Ease In|Ease In & Out"),
    Group(41, "Opacity"),
    End(42),
    Check(80, "Shadow Within Light", true),
    Check(105, "Ignore Upstream Effects", false, NT),
    End(123),
    // 107
    Group(44, "Debug"),
    Check(124, "", false, 0, 0, "Visualize Buffer Bounds"),
    Float(29, "Left", NT | CT, 0, -5000, 5000, -500, 500, 2),
    Float(30, "Top", CT, 0, -5000, 5000, -500, 500, 2),
    Float(31, "Right", CT, 0, -5000, 5000, -500, 500, 2),
    Float(32, "Bottom", CT, 0, -5000, 5000, -500, 500, 2),
    Float(70, "Scale", CT, 100, -5000, 5000, -200, 200, 2, true),
    Popup(72, "View Inner", 0, 9, UF3_VIEW_INNER_FINAL_RESULT,
          "InTex|InFBO|blurFBO|blurFBO CPU Xform|blurFBO GPU Xform|blurFBO Xform|blurFBO Xform 2|No Inner "
          "Comp|Final Result"),
    Popup(93, "View Inner CPU Comp", 0, 5, UF3_CPU_COMP_FINAL_RESULT,
          "Input PF_COPY|Input Xfer_Rect|Max Alpha|Blend Shadow|Final Result (Stencil)"),
    Popup(61, "Pipeline", 0, 2, UF3_PIPELINE_RGBA, "Alpha|RGBA"),
    Float(60, "Render Loops", CT, 1, 1, 100000, 1, 10, 0),
    Pct(45, "Buffer Opacity", CT, 0),
    Check(59, "", false, 0, 0, "Default Buffer Behaviour"),
    Popup(82, "JFA SSAA", 0, 4, UF3_JFA_SSAA_1X, "1x|2x|4x|8x"),
    Popup(83, "SD Debug View", 0, 4, UF3_SD_VIEW_FINAL_RESULT, "Final Result|CPU Padding|In FBO|Jumpflood"),
    Float(88, "JFA Padding (obsolete)", CT, 0, 0, 1000, 0, 100, 0),
    Check(110, "Init", false, NT),
    End(46),
}};

constexpr const char* kBlendNames[UF3_BLEND_NUM_CHOICES] = {
    "Normal", "Dissolve", "(-", "Darken", "Multiply", "Color Burn", "Classic Color Burn", "Linear Burn",
    "Darker Color", "(-", "Add", "Lighten", "Screen", "Color Dodge", "Classic Color Dodge", "Linear Dodge",
    "Lighter Color", "(-", "Overlay", "Soft Light", "Hard Light", "Linear Light", "Vivid Light", "Pin Light",
    "Hard Mix", "(-", "Difference", "Classic Difference", "Exclusion", "Subtract", "Divide", "(-", "Hue",
    "Saturation", "Color", "Luminosity", "(-", "Stencil Alpha", "Stencil Luma", "Silhouette Alpha",
    "Silhouette Luma", "(-", "Alpha Add", "Luminescent Premul",
};

// Positions 2 to 44; position 1 and the separators composite normally.
constexpr int32_t kBlendModes[UF3_BLEND_NUM_CHOICES - 1] = {
    PF_Xfer_DISSOLVE,       PF_Xfer_IN_FRONT,           PF_Xfer_DARKEN,
    PF_Xfer_MULTIPLY,       PF_Xfer_COLOR_BURN2,        PF_Xfer_COLOR_BURN,
    PF_Xfer_LINEAR_BURN,    PF_Xfer_DARKER_COLOR,       PF_Xfer_IN_FRONT,
    PF_Xfer_ADD,            PF_Xfer_LIGHTEN,            PF_Xfer_SCREEN,
    PF_Xfer_COLOR_DODGE2,   PF_Xfer_COLOR_DODGE,        PF_Xfer_LINEAR_DODGE,
    PF_Xfer_LIGHTER_COLOR,  PF_Xfer_IN_FRONT,           PF_Xfer_OVERLAY,
    PF_Xfer_SOFT_LIGHT,     PF_Xfer_HARD_LIGHT,         PF_Xfer_LINEAR_LIGHT,
    PF_Xfer_VIVID_LIGHT,    PF_Xfer_PIN_LIGHT,          PF_Xfer_HARD_MIX,
    PF_Xfer_IN_FRONT,       PF_Xfer_DIFFERENCE2,        PF_Xfer_DIFFERENCE,
    PF_Xfer_EXCLUSION,      PF_Xfer_SUBTRACT,           PF_Xfer_DIVIDE,
    PF_Xfer_IN_FRONT,       PF_Xfer_HUE,                PF_Xfer_SATURATION,
    PF_Xfer_COLOR,          PF_Xfer_LUMINOSITY,         PF_Xfer_IN_FRONT,
    PF_Xfer_MULTIPLY_ALPHA, PF_Xfer_MULTIPLY_ALPHA_LUMA, PF_Xfer_MULTIPLY_NOT_ALPHA,
    PF_Xfer_MULTIPLY_NOT_ALPHA_LUMA, PF_Xfer_IN_FRONT,  PF_Xfer_ALPHA_ADD,
    PF_Xfer_ADDITIVE_PREMUL,
};

// The host keeps the choice pointers, so the text lives for the process.
const char* BlendChoices() {
    static const std::string text = GenBlendingTableStr();
    return text.c_str();
}

// At most 31 characters; the field always ends in a zero byte.
void CopyName(A_char (&field)[PF_MAX_EFFECT_PARAM_NAME_LEN + 1], std::string_view text) {
    const size_t n = std::min(text.size(), sizeof field - 1);
    std::memcpy(field, text.data(), n);
    field[n] = '\0';
}

std::string RendererLabel(const PF_InData* in_data, const AEGP_SuiteHandler& suites) {
    PF_Handle globalH = in_data->global_data;
    if (!globalH) return kNull;
    const PF_HandleSuite1* handles = suites.HandleSuite1();
    std::string text;
    // A handle too small for the record is not ours to read.
    if (handles->host_get_handle_size(globalH) >= sizeof(GlobalData)) {
        const UF_HandleLock lock(handles, globalH);
        if (const auto* global = lock.As<const GlobalData>())
            text.assign(global->glRenderer, strnlen(global->glRenderer, UF3_GL_STRING_SIZE));
    }
    return text.empty() ? kNull : text;
}

struct Labels {
    std::string hostVersion, osVersion, renderer;
};

const char* NameOf(int index, const Row& row, const Labels& labels) {
    switch (index) {
        case UF3_HEADER: return kTitle;
        case UF3_HOST_VERSION: return labels.hostVersion.c_str();
        case UF3_OS_VERSION: return labels.osVersion.c_str();
        case UF3_GL_RENDERER: return labels.renderer.c_str();
        default: return row.name;
    }
}

// Default and range ends of a slider, each in the slider's own number type.
template <typename Slider, typename To>
void SetSlider(Slider& slider, const Row& row, To to) {
    slider.value = slider.dephault = to(row.dflt);
    slider.valid_min = to(row.validMin);
    slider.valid_max = to(row.validMax);
    slider.slider_min = to(row.sliderMin);
    slider.slider_max = to(row.sliderMax);
}

void Fill(const Row& row, const char* name, PF_ParamDef& def) {
    def.uu.id = row.id;
    def.param_type = row.type;
    def.flags = row.flags;
    def.ui_flags = row.ui;
    def.ui_width = row.uiWidth;
    def.ui_height = row.uiHeight;
    CopyName(def.name, name ? name : "");
    const A_short display = row.percent ? A_short(PF_ValueDisplayFlag_PERCENT) : A_short(0);
    switch (row.type) {
        case PF_Param_FLOAT_SLIDER:
            SetSlider(def.u.fs_d, row, [](double v) { return PF_FpShort(v); });
            def.u.fs_d.value = row.dflt;  // the value keeps double precision
            def.u.fs_d.precision = row.precision;
            def.u.fs_d.display_flags = display;
            def.u.fs_d.curve_tolerance = 0.05f;
            break;
        case PF_Param_SLIDER:
            SetSlider(def.u.sd, row, [](double v) { return PF_ParamValue(v); });
            break;
        case PF_Param_FIX_SLIDER:
            SetSlider(def.u.fd, row, [](double v) { return FLOAT2FIX(v); });
            def.u.fd.precision = row.precision;
            def.u.fd.display_flags = display;
            break;
        case PF_Param_ANGLE:
            def.u.ad.value = def.u.ad.dephault = FLOAT2FIX(row.dflt);
            break;
        case PF_Param_CHECKBOX:
            def.u.bd.value = def.u.bd.dephault = row.dflt != 0;
            def.u.bd.u.nameptr = row.text;
            break;
        case PF_Param_POPUP:
            def.u.pd.value = def.u.pd.dephault = A_short(row.dflt);
            def.u.pd.num_choices = row.choices;
            def.u.pd.u.namesptr = row.text ? row.text : BlendChoices();
            break;
        case PF_Param_BUTTON:
            def.u.button_d.u.namesptr = row.text;
            break;
        case PF_Param_COLOR:
            def.u.cd.value = def.u.cd.dephault = PF_Pixel{255, 0, 0, 0};  // opaque black
            break;
        case PF_Param_LAYER:
            def.u.ld.dephault = 0;  // no layer
            break;
        case PF_Param_ARBITRARY_DATA:
            def.u.arb_d.id = UF3_GRADIENT_ARB_ID;
            def.u.arb_d.refconPV = reinterpret_cast<void*>(static_cast<uintptr_t>(UF3_GRADIENT_REFCON));
            break;
        default:  // points default to (0, 0); groups, headers carry no value
            break;
    }
}

}  // namespace

std::string GenBlendingTableStr() {
    std::string text;
    for (const char* entry : kBlendNames) {
        text += entry;
        text += '|';
    }
    return text;
}

PF_TransferMode EnumerateBlend(UF3_FULL_BLEND_TABLE_ENUM position) {
    if (position < 2 || position > UF3_BLEND_NUM_CHOICES) return PF_Xfer_IN_FRONT;
    return kBlendModes[position - 2];
}

void HoldToValidRange(int index, PF_ParamDef& def) {
    if (index < 1 || index >= UF3_NUM_PARAMS) return;
    const Row& row = kTable[size_t(index - 1)];
    if (def.param_type != row.type) return;  // not checked out
    if (row.type == PF_Param_FLOAT_SLIDER) {
        double& value = def.u.fs_d.value;
        // NaN has no nearest value: it renders as the slider's default.
        if (std::isnan(value)) value = row.dflt;
        // The range as declared, in single precision. The ease factors are
        // capped at 1 where they are formed, so Easing Master and the four
        // easings it scales keep a value past their top (a saved 150 or 300
        // still eases as it did); infinity is held to the largest finite value,
        // so that a factor of 0 stays 0.
        const bool capsItself =
            index == UF3_EASING_MASTER || (index >= UF3_EASE_DISTANCE && index <= UF3_EASE_GRADIENT_ADV);
        const double lo = PF_FpShort(row.validMin);
        const double hi = capsItself ? std::numeric_limits<double>::max() : PF_FpShort(row.validMax);
        value = std::clamp(value, lo, hi);
    } else if (row.type == PF_Param_POPUP && row.text) {
        def.u.pd.value = std::clamp<A_long>(def.u.pd.value, 1, row.choices);
    }
}

std::string exec(const char* command) {
    std::string result;
    if (!command) return result;
    FILE* pipe = popen(command, "r");
    if (!pipe) return result;
    char buffer[128];
    while (std::fgets(buffer, sizeof buffer, pipe)) result += buffer;
    pclose(pipe);
    return result;
}

PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef** params, PF_LayerDef* output) {
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    if (!in_data->inter.add_param) return PF_Err_INVALID_CALLBACK;

    Labels labels;
    labels.hostVersion =
        "AE " + std::to_string(in_data->version.major) + "." + std::to_string(in_data->version.minor);
    labels.osVersion = "OS " + exec("sw_vers -productVersion");
    labels.renderer = RendererLabel(in_data, suites);

    PF_Err uiErr = PF_Err_NONE;
    for (int index = 1; index < UF3_NUM_PARAMS; ++index) {
        // The custom UI is registered right after the header it draws.
        if (index == UF3_SYSTEM_PROFILE) {
            PF_CustomUIInfo ui{};
            ui.events = PF_CustomEFlag_COMP | PF_CustomEFlag_LAYER | PF_CustomEFlag_EFFECT;
            uiErr = in_data->inter.register_ui ? in_data->inter.register_ui(in_data->effect_ref, &ui)
                                               : PF_Err_INVALID_CALLBACK;
        }
        const Row& row = kTable[index - 1];
        PF_ParamDef def{};
        Fill(row, NameOf(index, row, labels), def);

        // Ours until the host takes the parameter.
        UF_Handle gradient;
        if (index == UF3_COLOR_GRADIENT) {
            const PF_HandleSuite1* handles = suites.HandleSuite1();
            PF_Handle made = nullptr;
            PF_Err err = Set_Arb_Gradient(handles, &made, unsigned(defaultGrad.size()), defaultGrad.data());
            gradient = UF_Handle(handles, made);
            // A parameter without its default must not be declared.
            if (err || !gradient) return err ? err : PF_Err_OUT_OF_MEMORY;
            def.u.arb_d.dephault = gradient.get();
        }
        if (PF_Err err = in_data->inter.add_param(in_data->effect_ref, -1, &def)) return err;
        gradient.Release();
    }
    out_data->num_params = UF3_NUM_PARAMS;
    return uiErr;
}
