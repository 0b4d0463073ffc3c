#pragma once
// The recovery application: brings the board up like the full application but builds no parameter tree,
// no audio block and no MIDI binding of its own. Its one page says the device is in update mode; a new
// application image comes in through the remote transports.
//
// Threads: constructed by main before the UI thread starts; draw and onEvent run on the UI thread.
#include "ui/Listener.h"

class LindquarBsp;
class Node;

class LindquarUpdater : public Listener {
public:
    // Puts the page on top of the stack, creates the board object and writes the identity items. The nodes
    // are not used: the page shows no part of the tree.
    LindquarUpdater(Node* app, Node* root);
    ~LindquarUpdater() override;

    bool draw() override;
    // Consumes the short release of the main encoder's push (BROWSE); every other event goes on.
    bool onEvent(int id) override;

private:
    LindquarBsp* bsp;
};
