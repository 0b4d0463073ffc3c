#include "core/NodeEnum.h"

#include <nlohmann/json.hpp>

#include "core/JsonText.h"
#include "porting/Log.h"

namespace {
const char* TAG = "NodeEnum";

std::vector<std::string> copyOptions(const std::vector<const char*>& options) {
    std::vector<std::string> copies;
    for (const char* option : options) copies.emplace_back(option ? option : "");
    return copies;
}
}

NodeEnum::NodeEnum(Node* parent, const char* key, const char* displayName, std::vector<const char*> options,
                   std::string def)
    : Node(parent, key, displayName), options(copyOptions(options)) {
    int found = findOption(def);
    if (found >= 0) defaultValue = this->options[size_t(found)];
    index.store(found, std::memory_order_relaxed);
}

int NodeEnum::findOption(const std::string& text) const {
    for (size_t i = 0; i < options.size(); ++i) {
        if (options[i] == text) return int(i);
    }
    for (size_t i = 0; i < options.size(); ++i) {
        if (JsonText::toUtf8(options[i]) == text) return int(i);
    }
    return -1;
}

std::string NodeEnum::getValue() const {
    int i = getIndex();
    return i >= 0 && size_t(i) < options.size() ? options[size_t(i)] : std::string();
}

bool NodeEnum::isValue(const char* text) const {
    int i = getIndex();
    return text && i >= 0 && size_t(i) < options.size() && options[size_t(i)] == text;
}

bool NodeEnum::setValue(std::string text) {
    int found = findOption(text);
    if (found < 0) {
        LOGW(TAG, "%s: '%s' is no option\n", getName(), text.c_str());
        return false;
    }
    return setIndex(found);
}

bool NodeEnum::setIndex(int i) {
    if (i < 0 || size_t(i) >= options.size()) return false;
    if (index.exchange(i, std::memory_order_relaxed) != i) notifyChange();
    return true;
}

void NodeEnum::toggle() {
    if (options.empty()) return;
    setIndex(int((size_t(getIndex() + 1)) % options.size()));
}

void NodeEnum::edit(bool up) {
    if (options.empty()) return;
    int i = getIndex();
    int next = up ? i + 1 : i - 1;
    if (i < 0) next = up ? 0 : -1;
    setIndex(next);
}

void NodeEnum::reset() {
    int i = findOption(defaultValue);
    if (i >= 0) setIndex(i);
}

void NodeEnum::valueToJSON(nlohmann::ordered_json& body, bool) const { body["value"] = JsonText::toUtf8(getValue()); }

void NodeEnum::membersToJSON(nlohmann::ordered_json& body) const {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const std::string& option : options) list.push_back(JsonText::toUtf8(option));
    body["options"] = std::move(list);
    body["def"] = JsonText::toUtf8(defaultValue);
}

bool NodeEnum::valueFromJSON(const nlohmann::json& body) {
    const nlohmann::json& value = body["value"];
    if (!value.is_string()) return false;
    int found = findOption(value.get_ref<const std::string&>());
    if (found < 0) return false;
    return setIndex(found);
}
