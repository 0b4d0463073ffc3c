#include "core/NodeControlMulti.h"

#include <cmath>

#include "core/NodeEnum.h"
#include "core/NodeFloat.h"
#include "core/NodeItem.h"
#include "core/NodeLink.h"
#include "core/NodeOnOff.h"
#include "core/NodePreset.h"

namespace {
// Status text written by the controller only: remote and preset writes are refused.
class StatusItem : public NodeItem {
public:
    using NodeItem::NodeItem;
    bool acceptsValue(const std::string&) const override { return false; }
};
}

const char* const NodeControlMulti::MIDI = "MIDI";
const char* const NodeControlMulti::CTRL = "CTRL";

NodeControlMulti::NodeControlMulti(Node* parent, const char* key, const char* displayName, NodeEnum* channel,
                                   Node* home, NodePreset* preset, int linkCount)
    : NodeControl(parent, key, displayName, channel), home(home) {
    sourceNode = new NodeEnum(home, "source", "Source", {MIDI, CTRL}, MIDI);
    learnNode = new NodeOnOff(home, "learn", "Learn", NodeOnOff::OFF);
    addressNode = new NodeFloat(home, "address", "Address", 0, 127, 0, "", 0.5f, false, 0);
    statusNode = new StatusItem(home, "status", "Status", "", "string");
    for (int i = 1; i <= linkCount; ++i) {
        const std::string name = "link" + std::to_string(i);
        auto* folder = new NodeItem(home, name.c_str(), ("Link " + std::to_string(i)).c_str(), "", "vfolder");
        links.push_back({new NodeLink(folder, "target", "Target", ""),
                         new NodeFloat(folder, "min", "Min", 0, 100, 0, "%", 0.5f, false, 0),
                         new NodeFloat(folder, "max", "Max", 0, 100, 100, "%", 0.5f, false, 0)});
    }
    if (preset) {
        preset->addIgnoreNode(learnNode);
        preset->addIgnoreNode(statusNode);
    }
}

std::string NodeControlMulti::sourceName() const { return sourceNode->isValue(CTRL) ? "ctrl" : "midi"; }

int NodeControlMulti::number() const { return int(std::lround(addressNode->getValue())); }

void NodeControlMulti::setStatus(const std::string& text) { statusNode->NodeItem::setValue(text); }

void NodeControlMulti::receive(Source& source, const ControlMessage& message) {
    const bool ctrl = sourceNode->isValue(CTRL);
    if (ctrl) {
        if (source.getKind() != Source::Kind::Ctrl || message.type != ControlMessage::Type::Analog) return;
        setStatus("CTRL " + std::to_string(message.value));
        apply(message.fraction());
        return;
    }
    if (source.getKind() != Source::Kind::Midi || message.type != ControlMessage::Type::ControlChange) return;
    if (!onChannel(message)) return;
    if (learnNode->isOn()) {
        addressNode->setValue(float(message.number));
        learnNode->setOn(false);
    } else if (message.number != number()) {
        return;
    }
    setStatus("CC " + std::to_string(message.number) + ": " + std::to_string(message.value));
    apply(message.fraction());
}

void NodeControlMulti::apply(float fraction) {
    for (const Link& link : links) {
        Node* target = link.target->getTarget();
        if (!target) continue;
        const float low = link.min->getValue() / 100.0f, high = link.max->getValue() / 100.0f;
        applyFraction(target, low + (high - low) * fraction);
    }
}
