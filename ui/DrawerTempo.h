#pragma once
// The tap-tempo page. It stays on the page stack above the home screen for the whole run. While tap tempo
// is counting (armed, more than three taps) the page is raised over whatever page is open and covers the
// screen with the tapped tempo. The footswitch ids pass on to the home screen, which turns them into taps.
// The knobs keep working only where the home screen is in front: there encoder 1 is the volume and the
// others its knobs, and the page shows a value line of the last one turned (the volume until another is);
// over any other page it keeps them, as their effect would not show.
#include "ui/RaisedPage.h"

class Home;
class Tempo;

class DrawerTempo : public RaisedPage {
public:
    explicit DrawerTempo(Tempo* tempo);

    bool draw() override;
    // Null: no value line, and the knobs are kept everywhere.
    void setHome(Home* page) { home = page; }

private:
    bool up() const override;
    bool showsTurns() const override;

    Tempo* const tempo;
    Home* home = nullptr;
};
