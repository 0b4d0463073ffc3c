#pragma once
#include "core/NodeEnum.h"

// An on/off switch: a NodeEnum over ON (option 0) and OFF (option 1).
class NodeOnOff : public NodeEnum {
public:
    static const char* const ON;  // "ON"
    static const char* const OFF; // "OFF"

    NodeOnOff(Node* parent, const char* key, const char* displayName, std::string def);

    bool isOn() const { return getIndex() == 0; }
    void setOn(bool on) { setIndex(on ? 0 : 1); }
};
