#include "core/NodeTemp.h"

#include "core/Storage.h"
#include "core/System.h"

NodeTemp::NodeTemp(Node* parent) : NodeEnum(parent, "temp_unit", "Temperature unit", {"C", "F"}, "C") {}

NodeTemp* NodeTemp::unitNode() {
    // Built once, by whichever thread asks first; without the system node it stays a detached setting.
    static NodeTemp* const node = [] {
        Node* system = System::systemNode();
        auto* created = new NodeTemp(system);
        if (system) Storage::addItem(created);
        return created;
    }();
    return node;
}

float NodeTemp::convertTemperature(float celsius) {
    return unitNode()->isValue("F") ? celsius * 1.8f + 32.0f : celsius;
}

std::string NodeTemp::getTemperatureUnit() { return std::string("\xB0") + (unitNode()->isValue("F") ? "F" : "C"); }
