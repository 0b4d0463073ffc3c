#pragma once
#include <string>

#include "core/NodeEnum.h"

// The shared temperature-unit setting "temp_unit" (options "C" and "F", default "C") under the system node,
// created and registered with Storage on first use. Temperatures are kept in degrees Celsius and converted
// only for display.
class NodeTemp : public NodeEnum {
public:
    // v * 1.8 + 32 when the setting is "F", else v.
    static float convertTemperature(float celsius);
    // The byte 0xB0 followed by "C" or "F" (two bytes, not UTF-8).
    static std::string getTemperatureUnit();
    // The setting node.
    static NodeTemp* unitNode();

private:
    explicit NodeTemp(Node* parent);
};
