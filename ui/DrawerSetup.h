#pragma once
// The "Setup" page: the device's setup folders in one list, that is every settings folder ("sfolder")
// directly under the root of the tree, hidden ones included, then the system folder. Choosing a row opens
// the node browser on that folder, through the opener the page is given (the browser opens this page, so
// this page does not name the browser). The list is fixed when the page is built; names and values are read
// on every redraw.
//
// Keys: the main encoder moves (no wrap), its short press opens the row; the short press of encoder 2
// closes. Idle closes the page and goes on to the pages below; footswitches and the other push buttons
// pass through. UI thread only.
#include "ui/Listener.h"

#include <vector>

class Node;

class DrawerSetup : public Listener {
public:
    using FolderOpener = void (*)(Node* folder);

    explicit DrawerSetup(FolderOpener openFolder);

    bool draw() override;
    bool onEvent(int id) override;

private:
    void openSelected();

    FolderOpener openFolder;
    std::vector<Node*> nodes;
    int selected = 0;
    int ticks = 0;
    int first = 0;
    int count = 0;
};
