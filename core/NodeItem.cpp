#include "core/NodeItem.h"

#include <cstring>

#include <nlohmann/json.hpp>

#include "core/JsonText.h"

NodeItem::NodeItem(Node* parent, const char* key, const char* displayName, std::string value, const char* itemType)
    : Node(parent, key, displayName),
      itemType(itemType ? itemType : "string"),
      defaultValue(value),
      value(std::move(value)) {}

bool NodeItem::isFolder() const { return itemType == "hfolder" || itemType == "vfolder" || itemType == "sfolder"; }

std::string NodeItem::getValue() const {
    std::lock_guard<std::mutex> guard(valueLock);
    return value;
}

bool NodeItem::setValue(std::string newValue) {
    {
        std::lock_guard<std::mutex> guard(valueLock);
        if (value == newValue) return false;
        value = std::move(newValue);
    }
    notifyChange();
    return true;
}

std::string NodeItem::toString() const { return isSecret() ? std::string() : getValue(); }

void NodeItem::valueToJSON(nlohmann::ordered_json& body, bool reveal) const {
    if (isSecret() && !reveal) {
        body["value"] = "";
        body["set"] = !getValue().empty();
        return;
    }
    body["value"] = JsonText::toUtf8(getValue());
}

void NodeItem::membersToJSON(nlohmann::ordered_json& body) const { body["itype"] = itemType; }

bool NodeItem::valueFromJSON(const nlohmann::json& body) {
    const nlohmann::json& text = body["value"];
    if (!text.is_string() || isFolder()) return false;
    const std::string& newValue = text.get_ref<const std::string&>();
    // A described secret comes back as "" with "set": writing that echo must not clear the secret.
    if (isSecret() && newValue.empty() && body.contains("set")) return true;
    if (!acceptsValue(newValue)) return false;
    setValue(newValue);
    return true;
}
