#include "params/UF3_ParamChanges.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "params/GradientData.h"
#include "params/UF3_StreamRefs.h"
#include "shell/UF3_Err.h"

namespace {

// A scalar for one parameter's stream.
struct StreamScalar {
    int index;
    double value;
};

// Parameters whose reset value is not zero, as declared.
constexpr StreamScalar kDefaultScalars[] = {
    {19, 1},   {20, 2},   {21, 135}, {23, 250},  {24, 20},  {25, 200}, {26, 200}, {30, 1},
    {31, 1},   {35, 100}, {37, 20},  {38, 20},   {39, 1},   {42, -1},  {43, 100}, {45, 100},
    {46, 1},   {47, 1},   {52, 60},  {53, 50},   {54, 25},  {55, 100}, {59, 80},  {60, 100},
    {61, 100}, {62, 25},  {67, -1},  {72, 41},   {73, 100}, {74, 100}, {75, 1},   {80, 36},
    {81, 0.75}, {82, 3},  {86, 1},   {87, 100},  {88, 100}, {89, 1},   {90, 2},   {104, 1},
};

// Host messages are plain text, cut to the field and terminated.
void ReturnMessage(const std::string& text, PF_OutData* out_data) {
    SendMessage(text, out_data);
    out_data->return_msg[std::min<size_t>(text.size(), PF_MAX_EFFECT_MSG_LEN)] = '\0';
}

void OpenInDesktop(const std::string& target) {
    // Best effort, as a link in a browser: a missing opener is not an error of the effect.
    const int ignored = std::system(("open " + target).c_str());
    (void)ignored;
}

bool IsGradientCompanion(int index) {
    return index == UF3_COLOR_GRADIENT || index == UF3_GRADIENT_PT_SELECT || index == UF3_POINT_LOCATION;
}

// Writes a stop list as parameter 41's new value in the command's array; a refused handle
// leaves the value as it was, unflagged.
PF_Err WriteGradient(AEGP_SuiteHandler& suites, PF_ParamDef** params, const std::vector<ArbGradientPt>& stops) {
    PF_ParamDef* gradient = params[UF3_COLOR_GRADIENT];
    const PF_Err err =
        Set_Arb_Gradient(suites.HandleSuite1(), &gradient->u.arb_d.value, unsigned(stops.size()), stops.data());
    if (!err) gradient->uu.change_flags |= PF_ChangeFlag_CHANGED_VALUE;
    return err;
}

// A light-size target follows only when it is not animated; one whose
// keyframes cannot be read counts as animated.
PF_Err SetUnanimated(AEGP_SuiteHandler& suites, AEGP_EffectRefH effect, int index, double value) {
    // Got and asked through version 7, set and disposed through 9.
    UF_Stream stream(suites, &AEGP_SuiteHandler::StreamSuite9);
    PF_Err err = stream.Acquire(effect, index, &AEGP_SuiteHandler::StreamSuite7);
    if (!err) {
        A_Boolean varies = true;
        if (suites.StreamSuite7()->AEGP_IsStreamTimevarying(stream.Get(), &varies)) varies = true;
        if (!varies) err = stream.SetScalar(value);
    }
    UF_Keep(err, stream.Dispose());
    return err;
}

PF_Err SyncLightSize(AEGP_SuiteHandler& suites, AEGP_EffectRefH effect, PF_ParamDef** params, int changed, PF_Err e) {
    UF_UndoGroup group;
    if (!e) e = group.Start(suites.UtilitySuite7(), UF3_UNDO_LIGHT_SIZE);
    const double radiusStd = params[UF3_LIGHT_RADIUS_STD]->u.fs_d.value;
    const double softness = params[UF3_LIGHT_SOFTNESS]->u.fs_d.value;
    const double radiusRt = params[UF3_LIGHT_RADIUS_RT]->u.fs_d.value;
    StreamScalar targets[2];
    if (params[UF3_RENDERER]->u.pd.value == UF3_RENDERER_RAYTRACED) {
        if (changed == UF3_LIGHT_SOFTNESS)
            targets[0] = {UF3_LIGHT_RADIUS_RT, 10 * softness}, targets[1] = {UF3_LIGHT_RADIUS_STD, 10 * softness};
        else
            targets[0] = {UF3_LIGHT_SOFTNESS, 0.1 * radiusRt}, targets[1] = {UF3_LIGHT_RADIUS_STD, radiusRt};
    } else {
        // The Standard renderer works in single precision.
        targets[0] = {UF3_LIGHT_SOFTNESS, double(float(0.1 * radiusStd))};
        targets[1] = {UF3_LIGHT_RADIUS_RT, double(float(radiusStd))};
    }
    for (const StreamScalar& t : targets)
        if (!e) e = SetUnanimated(suites, effect, t.index, t.value);
    UF_Keep(e, group.End());
    return e;
}

PF_Err ResetRange(AEGP_SuiteHandler& suites, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef** params,
                  AEGP_EffectRefH& effect, const UF3_ResetRange& range, PF_Err e) {
    UF_UndoGroup group;
    if (!e) e = group.Start(suites.UtilitySuite7(), UF3_UNDO_RESET_CONTROLS);
    if (range.button == UF3_RESET_COLOR && !e) e = ResetGrad(in_data, out_data, params, suites, effect);
    const auto& defaults = DefaultStreamValues();
    for (int i = range.first; i <= range.last && !e; ++i) {
        if (IsGradientCompanion(i)) continue;
        UF_Stream stream(suites, &AEGP_SuiteHandler::StreamSuite9);
        e = stream.Acquire(effect, i);
        if (!e) e = stream.Set(defaults[size_t(i)]);
        UF_Keep(e, stream.Dispose());
    }
    UF_Keep(e, group.End());
    return e;
}

PF_Err SetGradientPosition(AEGP_SuiteHandler& suites, PF_ParamDef** params, PF_Err e) {
    std::vector<ArbGradientPt> stops;
    UF_Keep(e, CreateGradientStdVecFromArb(suites.HandleSuite1(), params[UF3_COLOR_GRADIENT]->u.arb_d.value, &stops));
    const A_long selected = params[UF3_GRADIENT_PT_SELECT]->u.sd.value;
    if (selected < 0 || size_t(selected) >= stops.size()) return e;
    UF_UndoGroup group;
    if (!e) e = group.Start(suites.UtilitySuite7(), UF3_UNDO_GRADIENT_POSITION);
    // Point Location is a 16.16 percentage.
    stops[size_t(selected)].position = float(params[UF3_POINT_LOCATION]->u.fd.value / 65536.0 / 100.0);
    // A change that cannot be undone as one step is not made.
    if (!e) e = WriteGradient(suites, params, stops);
    UF_Keep(e, group.End());
    return e;
}

PF_Err ShiftColors(AEGP_SuiteHandler& suites, PF_ParamDef** params, PF_Err e) {
    UF_UndoGroup group;
    if (!e) e = group.Start(suites.UtilitySuite7(), UF3_UNDO_SHIFT_COLORS);
    std::vector<ArbGradientPt> stops;
    UF_Keep(e, CreateGradientStdVecFromArb(suites.HandleSuite1(), params[UF3_COLOR_GRADIENT]->u.arb_d.value, &stops));
    const size_t n = stops.size();
    std::vector<PF_PixelFloat> colors;
    for (const ArbGradientPt& stop : stops) colors.push_back(stop.color);
    for (size_t i = 0; i < n; ++i) stops[i].color = colors[(i + n - 1) % n];
    if (e) {
        // Not made: it could not be undone as one step, or the stops could not be read.
    } else if (n) {
        e = WriteGradient(suites, params, stops);
    } else {
        params[UF3_COLOR_GRADIENT]->uu.change_flags |= PF_ChangeFlag_CHANGED_VALUE;
    }
    UF_Keep(e, group.End());
    return e;
}

// A twirl that applies only to one choice of its popup opens with it.
void SetTwirl(PF_ParamDef* def, bool collapsed) {
    UF_SetFlag(def->flags, PF_ParamFlag_COLLAPSE_TWIRLY, collapsed);
    def->uu.change_flags |= PF_ChangeFlag_CHANGED_VALUE;
}

}  // namespace

const std::array<AEGP_StreamValue2, UF3_NUM_PARAMS>& DefaultStreamValues() {
    static const std::array<AEGP_StreamValue2, UF3_NUM_PARAMS> table = [] {
        std::array<AEGP_StreamValue2, UF3_NUM_PARAMS> t{};
        for (const StreamScalar& d : kDefaultScalars) t[size_t(d.index)].val.one_d = d.value;
        return t;
    }();
    return table;
}

PF_Err ResetGrad(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef** params, AEGP_SuiteHandler& suites,
                 AEGP_EffectRefH& effect) {
    constexpr StreamScalar kResets[] = {
        {UF3_COLOR_GRADIENT, 0},  {UF3_GRADIENT_PT_SELECT, -1}, {UF3_POINT_LOCATION, 0}, {UF3_REVERSE_DRAW_ORDER, 0},
        {UF3_LINEAR_BLENDING, 1}, {UF3_INTERPOLATE, 1},         {UF3_CYCLE_GRADIENT, 0}};
    // Loaded before any stream is set, so that a missing suite cannot leave the reset half made.
    suites.HandleSuite1();
    std::vector<std::unique_ptr<UF_Stream>> streams;
    PF_Err err = PF_Err_NONE;
    for (const StreamScalar& r : kResets) {
        if (err) break;
        streams.push_back(std::make_unique<UF_Stream>(suites, &AEGP_SuiteHandler::StreamSuite9));
        err = streams.back()->Acquire(effect, r.index);
    }
    for (size_t i = 0; i < streams.size(); ++i) {
        if (!err) err = streams[i]->SetScalar(kResets[i].value);
        UF_Keep(err, streams[i]->Dispose());
    }
    // Parameter 41's stream was set to its default above, so only the stream errors count.
    WriteGradient(suites, params, {defaultGrad.begin(), defaultGrad.end()});
    return err;
}

PF_Err UserChangedParam(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef** params, PF_LayerDef* output,
                        const PF_UserChangedParamExtra* extra) {
    // Without the changed index there is nothing to act on.
    if (!extra || !params) return PF_Err_NONE;
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    UF_EffectRef effect(suites, &AEGP_SuiteHandler::EffectSuite3);
    PF_Err e = effect.Acquire(in_data);
    if (!effect) return e;

    const int index = extra->param_index;
    switch (index) {
        case UF3_SYSTEM_PROFILE:
            OpenInDesktop(UF3_PRODUCT_PAGE_URL);
            break;
        case UF3_HOST_VERSION:
            OpenInDesktop(UF3_PRESET_GALLERY_URL);
            break;
        case UF3_OS_VERSION:
            OpenInDesktop(UF3_FREE_PLUGINS_URL);
            break;
        case UF3_GL_RENDERER:
            OpenInDesktop(UF3_SUPPORT_PAGE_URL);
            break;
        case UF3_OPEN_ERROR_LOG: {
            const std::string path = GetLogPath(true);
            std::error_code ec;
            const auto type = std::filesystem::status(path, ec).type();
            if (type == std::filesystem::file_type::not_found || type == std::filesystem::file_type::none)
                ReturnMessage(UF3_NO_ERRORS_MESSAGE + path, out_data);
            else
                OpenFileWithDefaultEditor(path);
            break;
        }
        case UF3_OPEN_LOG_DIRECTORY:
            OpenInDesktop(ShellQuoted(GetLogPath(false)));
            break;
        case UF3_CREATE_TEST_ERROR: {
            const std::string failure = LogError(UF3_TEST_ERROR_MESSAGE, nullptr);
            if (!failure.empty()) ReturnMessage(failure, out_data);
            break;
        }
        case UF3_LIGHT_TYPE:
            SetTwirl(params[UF3_LIGHT_DIRECTION], params[UF3_LIGHT_TYPE]->u.pd.value == UF3_LIGHT_POINT);
            break;
        case UF3_FILL_MODE:
            SetTwirl(params[UF3_COLOR_GRADIENT], params[UF3_FILL_MODE]->u.pd.value == UF3_FILL_SOLID);
            break;
        case UF3_LIGHT_RADIUS_STD:
        case UF3_LIGHT_SOFTNESS:
        case UF3_LIGHT_RADIUS_RT:
            e = SyncLightSize(suites, effect.Get(), params, index, e);
            break;
        case UF3_RESET_GRADIENT:
            if (!e) {
                UF_UndoGroup group;
                e = group.Start(suites.UtilitySuite7(), UF3_UNDO_RESET_COLOR);
                if (!e) e = ResetGrad(in_data, out_data, params, suites, effect.Get());
                UF_Keep(e, group.End());
            }
            break;
        case UF3_POINT_LOCATION:
            e = SetGradientPosition(suites, params, e);
            break;
        case UF3_SHIFT_COLORS:
            e = ShiftColors(suites, params, e);
            break;
        default:
            for (const UF3_ResetRange& range : UF3_RESET_RANGES)
                if (range.button == index) e = ResetRange(suites, in_data, out_data, params, effect.Get(), range, e);
            break;
    }

    UF_Keep(e, effect.Dispose());
    return e;
}
