// The application's side of "PF AE App Suite": its interface colours and a
// colour picker whose answers a test or tool scripts in advance.
#pragma once

#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "AE_EffectSuites.h"

namespace host {

struct PickerDialog;
const PF_AppSuite6* AppSuite();

// One opening of the colour picker, as the effect asked for it.
struct ColorPickerRequest {
    std::string title;
    PF_PixelFloat sample{};
    bool wsToMonitor = false;
};

// Process-wide, as the application's theme and its one modal dialog are.
class AppServices {
public:
    static AppServices& Instance();

    // Interface colours by the host's colour ids; an id without one is refused.
    void SetColor(PF_App_ColorType id, PF_App_Color colour);
    void RemoveColor(PF_App_ColorType id);
    bool Color(PF_App_ColorType id, PF_App_Color* out) const;
    PF_App_Color Background() const;

    // The picker's next answers, in order: a colour the user picked, or Cancel.
    // With nothing scripted the user cancels.
    void AnswerPicker(const PF_PixelFloat& colour);
    void CancelPicker();
    std::vector<ColorPickerRequest> PickerRequests() const;

    // The default theme back, no scripted answers, no requests.
    void Reset();

private:
    friend struct PickerDialog;
    AppServices();
    struct Answer {
        bool cancel = true;
        PF_PixelFloat colour{};
    };
    mutable std::mutex m_mutex;
    std::map<PF_App_ColorType, PF_App_Color> m_colours;
    std::deque<Answer> m_answers;
    std::vector<ColorPickerRequest> m_requests;
};

}  // namespace host
