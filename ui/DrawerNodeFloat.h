#pragma once
// A float parameter shown as a bar in the monochrome picture and stepped by configurable events (for
// instance a footswitch or a second encoder), with an optional on/off switch of the same block: while the
// switch is off the bar is hatched and marked "OFF". The page closes itself after a while without a
// handled control event.
#include "ui/Listener.h"

#include <string>

class NodeEnum;
class NodeFloat;

class DrawerNodeFloat : public Listener {
public:
    // upEvent and downEvent step the node; toggleEvent toggles onOff (when set), whose value onValue means
    // on. timeout: the page closes about timeout / 2 seconds after the last handled control event (the
    // inactivity count grows by 2 per 200 ms tick and closes at 5 x timeout).
    DrawerNodeFloat(NodeFloat* node, int upEvent, int downEvent, int timeout, std::string title, NodeEnum* onOff,
                    int toggleEvent, std::string onValue);

    bool draw() override;
    // The configured ids, the tick and the main encoder's ids are consumed; every other id goes on to the
    // pages below.
    bool onEvent(int id) override;

private:
    void drawHatched(int end) const;
    // Queues the close once, so that ticks that piled up while the UI thread was busy cannot close the
    // pages below as well.
    void close();

    NodeFloat* node;
    NodeEnum* onOff;
    int upEvent;
    int downEvent;
    int timeout;
    int idleCount = 0;
    std::string title;
    int toggleEvent;
    std::string onValue;
    bool closing = false;
};
