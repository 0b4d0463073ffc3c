#pragma once
// The tap-tempo page. It stays on the page stack above the home screen for the whole run. While tap tempo
// is counting (armed, more than three taps) the page is raised over whatever page is open and covers the
// screen with the tapped tempo and the master volume (the main knob still sets it meanwhile), and it
// consumes the tick, which holds the home screen's tick-timed overlays; the footswitch ids pass on to the
// home screen, which turns them into taps. Otherwise it draws nothing and passes every event on.
#include "ui/Listener.h"

class NodeFloat;
class Tempo;

class DrawerTempo : public Listener {
public:
    explicit DrawerTempo(Tempo* tempo);

    bool draw() override;
    bool onEvent(int id) override;
    bool raised() const override { return counting(); }
    // Null: no volume line.
    void setVolumeNode(NodeFloat* node) { volumeNode = node; }

private:
    bool counting() const;

    Tempo* const tempo;
    NodeFloat* volumeNode = nullptr;
};
