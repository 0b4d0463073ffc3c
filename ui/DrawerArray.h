#pragma once
// The curve editor for an array node: a chart of the values over the x axis and a menu ("X1"/"X10", "Add",
// "Del", "Back") in the monochrome picture. The main encoder steps the highlight over the values and the
// menu; turning it while its button is held changes the value under the highlight, one display step (or
// ten in "X10" mode) per detent. The node does the clamping, the stepping and the change notification.
//
// The page draws only into the monochrome picture, which no display shows; the editing works through the
// events alone. Opened by the node browser for a node of type "array"; closed by "Back" or the idle event.
#include "ui/glcd/GlcdChart.h"
#include "ui/Listener.h"

#include <vector>

class NodeArray;

class DrawerArray : public Listener {
public:
    // A null node leaves the page empty, with only the menu to leave it.
    explicit DrawerArray(NodeArray* node);

    bool draw() override;
    // True for every id but the idle event, which closes the page and goes on to the pages below.
    bool onEvent(int id) override;

private:
    int count() const { return int(values.size()); }
    // Reloads the values from the node and keeps the cursor on an item that exists, as the node may change
    // from elsewhere (a remote write) while the page is open.
    void refill();
    void move(bool forward);
    void editValue(bool up);
    void activate();
    void drawMenu() const;
    void drawStatus();

    NodeArray* node;
    GlcdChart chart;
    std::vector<float> values;
    int cursor = 0;
    bool times10 = false;
    bool held = false;
};
