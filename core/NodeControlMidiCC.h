#pragma once
#include "core/NodeControl.h"

// MIDI control change cc on the selected channel drives the target: an on/off switch is ON from 64 and OFF
// below, a float follows through its slider position, another choice by its share of the options.
class NodeControlMidiCC : public NodeControl {
public:
    NodeControlMidiCC(Node* parent, const char* key, const char* displayName, Node* target, int cc, NodeEnum* channel);

    void receive(Source& source, const ControlMessage& message) override;

protected:
    int number() const override { return cc; }
    Node* target() const override { return targetNode; }

private:
    Node* const targetNode;
    const int cc;
};
