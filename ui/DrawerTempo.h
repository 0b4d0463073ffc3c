#pragma once
// The tap-tempo page. It stays on the page stack above the home screen for the whole run. While tap tempo
// is counting (armed, more than three taps) it covers the screen with the tapped tempo and consumes the
// tick, which holds the home screen's tick-timed overlays; the footswitch ids pass on to the home screen,
// which turns them into taps. Otherwise it draws nothing and passes every event on.
#include "Listener.h"

class Tempo;

class DrawerTempo : public Listener {
public:
    explicit DrawerTempo(Tempo* tempo);

    bool draw() override;
    bool onEvent(int id) override;

private:
    bool counting() const;

    Tempo* const tempo;
};
