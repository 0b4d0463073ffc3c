#pragma once
// The tuner page. It stays on the page stack above the home screen for the whole run. While the tuner is
// on, however it was switched on, the page is raised over whatever page is open and covers the screen with
// the note, the cents off it, the frequency and an in-tune mark. The tuner mutes the pedal, so nothing
// should change or open under the player's feet meanwhile: it keeps every encoder id, every footswitch id
// and the timers, and a footswitch short release switches the tuner off, which shows the page that was open
// again. The expression pedal is no panel id and keeps working: its position is its own display.
#include "ui/RaisedPage.h"

class Tuner;

class DrawerTuner : public RaisedPage {
public:
    // Within this many cents of the note the string counts as in tune.
    static constexpr float kInTuneCents = 3.0f;

    explicit DrawerTuner(Tuner* tuner);

    bool draw() override;

private:
    bool up() const override;
    bool handle(int id) override;

    Tuner* const tuner;
};
