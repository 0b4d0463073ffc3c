#pragma once
#include <string>
#include <vector>

#include "core/NodeControl.h"

class NodeEnum;
class NodeFloat;
class NodeItem;
class NodeLink;
class NodeOnOff;
class NodePreset;

// A freely assignable controller: MIDI control change number "address" on the selected channel, or the
// analog "ctrl" source, drives up to N linked parameters, each between its own "min" and "max" (percent of the
// target's slider range; min above max turns the direction round).
//
// Sub-nodes under home: "source" (enum "MIDI"/"CTRL"), "learn" (on/off: the next control change on the
// channel becomes the address, then learn turns OFF), "address" (0..127), "status" (read-only text: the last
// event or the learn state), and "link1".."linkN" folders with "target" (a link), "min" and "max". "learn" and
// "status" are left out of presets; the rest belongs to the preset that holds home.
class NodeControlMulti : public NodeControl {
public:
    static const char* const MIDI; // "MIDI"
    static const char* const CTRL; // "CTRL"

    NodeControlMulti(Node* parent, const char* key, const char* displayName, NodeEnum* channel, Node* home,
                     NodePreset* preset, int links);

    void receive(Source& source, const ControlMessage& message) override;

    NodeEnum* getSourceNode() const { return sourceNode; }
    NodeOnOff* getLearnNode() const { return learnNode; }
    NodeFloat* getAddressNode() const { return addressNode; }
    NodeItem* getStatusNode() const { return statusNode; }
    int getLinkCount() const { return int(links.size()); }

protected:
    std::string sourceName() const override;
    int number() const override;
    Node* target() const override { return home; }

private:
    struct Link {
        NodeLink* target;
        NodeFloat* min;
        NodeFloat* max;
    };
    void apply(float fraction);
    void setStatus(const std::string& text);

    Node* const home;
    NodeEnum* sourceNode;
    NodeOnOff* learnNode;
    NodeFloat* addressNode;
    NodeItem* statusNode;
    std::vector<Link> links;
};
