#include "core/NodeOnOff.h"

const char* const NodeOnOff::ON = "ON";
const char* const NodeOnOff::OFF = "OFF";

NodeOnOff::NodeOnOff(Node* parent, const char* key, const char* displayName, std::string def)
    : NodeEnum(parent, key, displayName, {ON, OFF}, std::move(def)) {}
