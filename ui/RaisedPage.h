#pragma once
// Base of the pages that stay on the stack for the whole run and, while what they show is on (the tuner
// muting the output, tap tempo counting), are raised over whatever page is open and cover the whole screen.
//
// While up, a raised page keeps from the pages under it every id whose effect they could not show: every
// encoder id, the footswitches (unless the page passes them on) and the timers (the tick and the idle
// close), so the pages under it keep their state, their overlays and their open pages until it goes. A
// release it keeps still ends the hold it would have ended below: the pages under it get that encoder's
// long release, which ends a hold without the action of a short press. Otherwise it draws nothing and
// passes every event on.
#include "ui/Listener.h"
#include "ui/gfx/Gfx.h"

#include <cstdint>

class RaisedPage : public Listener {
public:
    bool raised() const final { return up(); }
    bool overlay() const final { return true; }
    bool onEvent(int id) final;

protected:
    // passesFootswitches: the footswitch ids go on to the pages under it.
    explicit RaisedPage(bool passesFootswitches);

    virtual bool up() const = 0;
    // The page's own use of an id while up; true consumes it.
    virtual bool handle(int) { return false; }
    // True when the encoder turns go on to the page in front, because this page shows what they change.
    virtual bool showsTurns() const { return false; }

    // The black panel over the whole screen that a raised page draws on.
    static lv_obj_t* panel();
    static lv_obj_t* label(lv_obj_t* parent, int32_t x, int32_t y, int32_t width, int32_t height, const lv_font_t* font,
                           uint32_t colour, lv_text_align_t align, const char* text);

private:
    const bool passesFootswitches;
};
