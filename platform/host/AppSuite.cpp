#include "host/AppSuite.h"

namespace host {

namespace {

PF_App_Color Grey(double v) {
    const auto c = A_u_short(v * 65535.0 + 0.5);
    return {0, c, c, c};
}

PF_App_Color Rgb(double r, double g, double b) {
    return {0, A_u_short(r * 65535.0 + 0.5), A_u_short(g * 65535.0 + 0.5), A_u_short(b * 65535.0 + 0.5)};
}

// A dark theme. The ids are the application's; the effect reads 2 (text),
// 9 (button border), 49 (highlight) and 1000 (button face).
void DefaultTheme(std::map<PF_App_ColorType, PF_App_Color>& colours) {
    colours.clear();
    colours[0] = Grey(0.10);   // frame
    colours[1] = Grey(0.16);   // fill
    colours[2] = Grey(0.80);   // text
    colours[3] = Grey(0.26);   // light tinge
    colours[4] = Grey(0.12);   // dark tinge
    colours[5] = Rgb(0.20, 0.47, 0.86);
    colours[6] = Grey(0.06);   // shadow
    colours[7] = Grey(0.08);
    colours[8] = Grey(0.22);
    colours[9] = Grey(0.09);   // button border
    colours[49] = Rgb(0.23, 0.60, 1.00);  // selection highlight
    colours[1000] = Grey(0.24);           // button face
}

PF_Err GetBgColor(PF_App_Color* out) {
    if (!out) return PF_Err_BAD_CALLBACK_PARAM;
    *out = AppServices::Instance().Background();
    return PF_Err_NONE;
}

PF_Err GetColor(PF_App_ColorType id, PF_App_Color* out) {
    if (!out) return PF_Err_BAD_CALLBACK_PARAM;
    return AppServices::Instance().Color(id, out) ? PF_Err_NONE : PF_Err_BAD_CALLBACK_PARAM;
}


}  // namespace

// The dialog itself: records the request and plays the next scripted answer.
struct PickerDialog {
    static PF_Err Open(const A_char* title, const PF_PixelFloat* sample, PF_Boolean wsToMonitor,
                       PF_PixelFloat* result) {
        if (!sample || !result) return PF_Err_BAD_CALLBACK_PARAM;
        AppServices& app = AppServices::Instance();
        std::lock_guard lock(app.m_mutex);
        app.m_requests.push_back({title ? title : "", *sample, wsToMonitor != 0});
        if (app.m_answers.empty()) return PF_Interrupt_CANCEL;
        AppServices::Answer answer = app.m_answers.front();
        app.m_answers.pop_front();
        if (answer.cancel) return PF_Interrupt_CANCEL;
        *result = answer.colour;
        return PF_Err_NONE;
    }
};

namespace {
const PF_AppSuite6 kApp = {GetBgColor, GetColor, PickerDialog::Open};
}  // namespace

const PF_AppSuite6* AppSuite() { return &kApp; }

AppServices& AppServices::Instance() {
    static AppServices services;
    return services;
}

AppServices::AppServices() { DefaultTheme(m_colours); }

void AppServices::SetColor(PF_App_ColorType id, PF_App_Color colour) {
    std::lock_guard lock(m_mutex);
    m_colours[id] = colour;
}

void AppServices::RemoveColor(PF_App_ColorType id) {
    std::lock_guard lock(m_mutex);
    m_colours.erase(id);
}

bool AppServices::Color(PF_App_ColorType id, PF_App_Color* out) const {
    std::lock_guard lock(m_mutex);
    auto it = m_colours.find(id);
    if (it == m_colours.end()) return false;
    *out = it->second;
    return true;
}

PF_App_Color AppServices::Background() const {
    std::lock_guard lock(m_mutex);
    auto it = m_colours.find(1);
    return it == m_colours.end() ? Grey(0.16) : it->second;
}

void AppServices::AnswerPicker(const PF_PixelFloat& colour) {
    std::lock_guard lock(m_mutex);
    m_answers.push_back({false, colour});
}

void AppServices::CancelPicker() {
    std::lock_guard lock(m_mutex);
    m_answers.push_back({true, {}});
}

std::vector<ColorPickerRequest> AppServices::PickerRequests() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
}

void AppServices::Reset() {
    std::lock_guard lock(m_mutex);
    DefaultTheme(m_colours);
    m_answers.clear();
    m_requests.clear();
}

}  // namespace host
