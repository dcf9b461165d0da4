// A click and the drags that follow it while the effect asks for them, sent
// as a host sends them: what the effect leaves in the event record (its
// continue_refcon, send_drag) comes back with the next drag.
#pragma once

#include "AE_EffectUI.h"

namespace host {

class MouseGesture {
public:
    template <typename SendFn>
    PF_Err Click(PF_EventExtra extra, PF_Point at, int clicks, SendFn&& send) {
        extra.u.do_click.when = ++m_clock;
        extra.u.do_click.screen_point = at;
        extra.u.do_click.num_clicks = clicks;
        m_dragging = false;
        PF_Err err = send(extra);
        if (!err && extra.u.do_click.send_drag) {
            m_drag = extra;
            m_dragging = true;
        }
        return err;
    }

    template <typename SendFn>
    PF_Err Drag(PF_Point at, bool last, SendFn&& send) {
        if (!m_dragging) return PF_Err_NONE;
        PF_EventExtra extra = m_drag;
        extra.e_type = PF_Event_DRAG;
        extra.evt_out_flags = PF_EO_NONE;
        extra.u.do_click.when = ++m_clock;
        extra.u.do_click.screen_point = at;
        extra.u.do_click.last_time = last;
        PF_Err err = send(extra);
        m_drag = extra;
        if (last || err || !extra.u.do_click.send_drag) m_dragging = false;
        return err;
    }

    bool Dragging() const { return m_dragging; }

private:
    PF_EventExtra m_drag{};
    bool m_dragging = false;
    A_u_long m_clock = 0;
};

}  // namespace host
