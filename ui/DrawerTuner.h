#pragma once
// The tuner page. It stays on the page stack above the home screen for the whole run. While the tuner is
// on, however it was switched on, the page is raised over whatever page is open and covers the screen with
// the note, the cents off it, the frequency and an in-tune mark; it consumes every id of the main encoder
// and of the footswitches (the tuner mutes the pedal, so nothing should change or open under the player's
// feet meanwhile), and a footswitch short release switches the tuner off, which shows the page that was
// open again. Otherwise it draws nothing and passes every event on.
#include "ui/Listener.h"

class Tuner;

class DrawerTuner : public Listener {
public:
    // Within this many cents of the note the string counts as in tune.
    static constexpr float kInTuneCents = 3.0f;

    explicit DrawerTuner(Tuner* tuner);

    bool draw() override;
    bool onEvent(int id) override;
    bool raised() const override { return active(); }

private:
    bool active() const;

    Tuner* const tuner;
};
