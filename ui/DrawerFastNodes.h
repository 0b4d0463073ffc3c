#pragma once
// A level bar from 0 to 1 in the monochrome picture, stepped by the main encoder in tenths; a short press
// closes the page. Also holds the bar frame that the float page shares.
#include "ui/Listener.h"

class DrawerFastNodes : public Listener {
public:
    DrawerFastNodes();

    bool draw() override;
    // Consumes every id.
    bool onEvent(int id) override;

    // The rounded frame of a level bar, (9..118, 28..45); the bar itself fills columns 10 to 117.
    static void drawBarFrame();
    static constexpr int kBarLeft = 10;
    static constexpr int kBarSpan = 107;
    static constexpr int kBarTop = 29;
    static constexpr int kBarBottom = 45;

private:
    float level = 0.5f;
};
