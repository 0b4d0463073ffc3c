#pragma once
#include "core/NodeControl.h"

class NodeParList;

// MIDI program change base + i on the selected channel selects slot i of the target's list; for a preset it
// loads that preset, also when it is the current one. Programs below base, or naming an empty slot, do nothing.
class NodeControlMidiPC : public NodeControl {
public:
    NodeControlMidiPC(Node* parent, const char* key, const char* displayName, NodeParList* target, int base,
                      NodeEnum* channel);

    void receive(Source& source, const ControlMessage& message) override;

protected:
    int number() const override { return base; }
    Node* target() const override;

private:
    NodeParList* const targetNode;
    const int base;
};
