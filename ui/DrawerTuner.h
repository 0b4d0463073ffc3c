#pragma once
// The tuner page. It stays on the page stack above the home screen for the whole run. While the tuner is
// on it covers the screen with the note, the cents off it, the frequency and an in-tune mark; it consumes
// the main encoder's turns and every footswitch id (the tuner mutes the pedal, so nothing should change
// under the player's feet meanwhile), and a footswitch short release switches the tuner off. Otherwise it
// draws nothing and passes every event on.
#include "Listener.h"

class Tuner;

class DrawerTuner : public Listener {
public:
    // Within this many cents of the note the string counts as in tune.
    static constexpr float kInTuneCents = 3.0f;

    explicit DrawerTuner(Tuner* tuner);

    bool draw() override;
    bool onEvent(int id) override;

private:
    bool active() const;

    Tuner* const tuner;
};
