#include "core/NodeParList.h"

#include <nlohmann/json.hpp>

#include "core/JsonText.h"
#include "core/NodeList.h"

NodeParList::NodeParList(Node* parent, const char* key, const char* displayName, std::string def, NodeList* list)
    : Node(parent, key, displayName), list(list), defaultValue(def), value(std::move(def)) {}

std::string NodeParList::getValue() const {
    // Every reader sees the name the slot has now, so following it is part of reading.
    const_cast<NodeParList*>(this)->followSlot();
    std::lock_guard<std::mutex> guard(valueLock);
    return value;
}

void NodeParList::followSlot() {
    if (!list) return;
    std::string current;
    int index = -1;
    {
        std::lock_guard<std::mutex> guard(valueLock);
        current = value;
        index = slot;
    }
    if (current.empty()) return;
    const int found = list->indexOf(current);
    const std::string renamed = found < 0 ? list->nameAt(index) : current;
    if (renamed.empty()) return;
    {
        std::lock_guard<std::mutex> guard(valueLock);
        if (value != current) return;
        value = renamed;
        slot = found < 0 ? index : found;
    }
    if (renamed != current) notifyChange(false);
}

int NodeParList::getIndex() const { return list ? list->indexOf(getValue()) : -1; }

bool NodeParList::storeValue(const std::string& name) {
    const int index = list ? list->indexOf(name) : -1;
    std::lock_guard<std::mutex> guard(valueLock);
    slot = index;
    if (value == name) return false;
    value = name;
    return true;
}

bool NodeParList::setValue(std::string name) {
    const bool found = name.empty() || (list && list->indexOf(name) >= 0);
    if (storeValue(found ? name : std::string())) notifyChange();
    return found;
}

int NodeParList::neighbour(int from, bool up) const {
    if (!list) return -1;
    const int count = list->getElementCount();
    if (from < 0) from = up ? -1 : count;
    for (int i = up ? from + 1 : from - 1; i >= 0 && i < count; i += up ? 1 : -1) {
        if (!list->nameAt(i).empty()) return i;
    }
    return -1;
}

bool NodeParList::canEdit(bool up) const { return neighbour(getIndex(), up) >= 0; }

void NodeParList::edit(bool up) {
    const int next = neighbour(getIndex(), up);
    if (next >= 0) setValue(list->nameAt(next));
}

void NodeParList::valueToJSON(nlohmann::ordered_json& body, bool) const {
    body["value"] = JsonText::toUtf8(getValue());
}

void NodeParList::membersToJSON(nlohmann::ordered_json& body) const {
    body["list"] = list ? list->getPath() : std::string();
    body["editable"] = isEditable();
}

bool NodeParList::valueFromJSON(const nlohmann::json& body) {
    const nlohmann::json& text = body["value"];
    if (!text.is_string()) return false;
    return setValue(text.get<std::string>());
}
