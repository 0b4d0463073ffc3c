#include "core/NodeControl.h"

#include <algorithm>
#include <cstdlib>

#include <nlohmann/json.hpp>

#include "core/NodeEnum.h"
#include "core/NodeFloat.h"
#include "core/NodeOnOff.h"

NodeControl::NodeControl(Node* parent, const char* key, const char* displayName, NodeEnum* channel)
    : Node(parent, key, displayName), channel(channel) {
    Source::addBinding(this);
}

NodeControl::~NodeControl() { Source::removeBinding(this); }

void NodeControl::setActive(bool on) {
    if (active.exchange(on, std::memory_order_relaxed) != on) notifyChange();
}

int NodeControl::getChannel() const {
    if (!channel) return omni;
    const std::string text = channel->getValue();
    char* end = nullptr;
    const long number = std::strtol(text.c_str(), &end, 10);
    // Channel nodes list "0".."15"; another option list is read by its position.
    if (text.empty() || *end != '\0') return channel->getIndex() >= 0 ? channel->getIndex() & 0x0F : omni;
    return int(number) & 0x0F;
}

bool NodeControl::onChannel(const ControlMessage& message) const {
    const int wanted = getChannel();
    return wanted == omni || wanted == message.channel;
}

void NodeControl::applyFraction(Node* target, float fraction) {
    if (!target) return;
    fraction = fraction < 0.0f ? 0.0f : fraction > 1.0f ? 1.0f : fraction;
    if (auto* onOff = dynamic_cast<NodeOnOff*>(target)) {
        onOff->setOn(fraction >= 0.5f);
    } else if (auto* choice = dynamic_cast<NodeEnum*>(target)) {
        const int options = choice->getOptionCount();
        if (options > 0) choice->setIndex(std::min(options - 1, int(fraction * float(options))));
    } else if (auto* number = dynamic_cast<NodeFloat*>(target)) {
        number->setSlider(fraction);
    }
}

void NodeControl::valueToJSON(nlohmann::ordered_json& body, bool) const { body["value"] = toString(); }

void NodeControl::membersToJSON(nlohmann::ordered_json& body) const {
    body["source"] = sourceName();
    body["number"] = number();
    body["channel"] = getChannel();
    Node* bound = target();
    body["target"] = bound ? bound->getPath() : std::string();
}

bool NodeControl::valueFromJSON(const nlohmann::json& body) {
    const nlohmann::json& value = body["value"];
    if (value == "ON") setActive(true);
    else if (value == "OFF") setActive(false);
    else return false;
    return true;
}
