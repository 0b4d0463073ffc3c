#include "core/NodeList.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "core/JsonText.h"
#include "porting/Log.h"

namespace {
const char* TAG = "NodeList";
constexpr int minChunkSize = 16;

const NodeListElement::Data& emptyData() {
    static const NodeListElement::Data& empty =
        *new NodeListElement::Data(std::make_shared<const std::vector<uint8_t>>());
    return empty;
}
}

NodeList::NodeList(Node* parent, const char* key, const char* displayName, const char* itemType, int size, int count)
    : NodeList(parent, key, displayName, itemType, size, count, 128, false) {}

NodeList::NodeList(Node* parent, const char* key, const char* displayName, const char* itemType, int size, int count,
                   int chunkSize, bool compressed)
    : Node(parent, key, displayName),
      itemType(itemType ? itemType : ""),
      size(std::max(size, 0)),
      count(std::max(count, 0)),
      chunkSize(std::clamp(chunkSize, minChunkSize, maxChunkSize)),
      compressed(compressed),
      slots(size_t(this->count)),
      store(getPath(), this->count),
      transfer(*this, getPath(), this->size, this->count, this->chunkSize, compressed) {
    for (Slot& slot : slots) slot.data = emptyData();
    load();
}

NodeList::~NodeList() = default;

void NodeList::load() {
    for (int i = 0; i < count; ++i) {
        std::string name;
        std::vector<uint8_t> data;
        if (!store.load(i, size_t(size), name, data)) continue;
        if (indexOf(name) >= 0) {
            LOGW(TAG, "%s: ignoring slot %d, its name '%s' is taken\n", getPath().c_str(), i, name.c_str());
            continue;
        }
        std::lock_guard<std::mutex> guard(slotLock);
        slots[size_t(i)] = {name, std::make_shared<const std::vector<uint8_t>>(std::move(data)), ++versionCounter};
    }
}

std::string NodeList::nameAt(int i) const {
    std::lock_guard<std::mutex> guard(slotLock);
    return i >= 0 && i < count ? slots[size_t(i)].name : std::string();
}

int NodeList::indexOf(const std::string& name) const {
    if (name.empty()) return -1;
    std::lock_guard<std::mutex> guard(slotLock);
    for (int i = 0; i < count; ++i) {
        if (slots[size_t(i)].name == name) return i;
    }
    return -1;
}

NodeListElement NodeList::elementAt(int i) const {
    std::lock_guard<std::mutex> guard(slotLock);
    if (i < 0 || i >= count) return {"", emptyData(), 0};
    const Slot& slot = slots[size_t(i)];
    return {slot.name, slot.data, slot.version};
}

NodeListElement::Data NodeList::dataAt(int i) const { return elementAt(i).data; }

uint32_t NodeList::versionAt(int i) const {
    std::lock_guard<std::mutex> guard(slotLock);
    return i >= 0 && i < count ? slots[size_t(i)].version : 0;
}

bool NodeList::validName(const std::string& name) {
    return !name.empty() && name.size() <= size_t(maxNameLength) && name.find('\0') == std::string::npos;
}

bool NodeList::acceptableName(int i, const std::string& name) const {
    if (!validName(name)) return false;
    return name.find(reservedNameText) == std::string::npos || nameAt(i) == name;
}

bool NodeList::checkContent(int i, const std::string& name, const std::vector<uint8_t>& data,
                            std::string& reason) const {
    if (!validator || validator(data, reason)) return true;
    LOGE(TAG, "%s: slot %d ('%s') refused: %s\n", getPath().c_str(), i, name.c_str(), reason.c_str());
    return false;
}

bool NodeList::replaceLocked(int i, const std::string& name, NodeListElement::Data data) {
    if (i < 0 || i >= count || !data || data->size() > size_t(size)) return false;
    if (!name.empty() && !admitsName(i, name)) return false;
    if (name.empty()) data = emptyData();
    if (!store.store(i, name, *data)) return false;
    std::lock_guard<std::mutex> guard(slotLock);
    slots[size_t(i)] = {name, std::move(data), ++versionCounter};
    return true;
}

bool NodeList::setElementAt(int i, const std::string& name, const void* data) {
    return setElementAt(i, name, data, data ? size_t(size) : 0);
}

bool NodeList::setElementAt(int i, const std::string& name, const void* data, size_t length) {
    if (!validName(name) || length > size_t(size) || (length > 0 && !data)) return false;
    const auto* bytes = static_cast<const uint8_t*>(data);
    auto buffer = std::make_shared<const std::vector<uint8_t>>(bytes, bytes + length);
    std::string reason;
    if (i < 0 || i >= count || !checkContent(i, name, *buffer, reason)) return false;
    {
        std::lock_guard<std::mutex> guard(fileLock);
        if (!replaceLocked(i, name, std::move(buffer))) return false;
    }
    notifyChange();
    return true;
}

bool NodeList::setNameAt(int i, const std::string& name) {
    if (!validName(name)) return false;
    {
        std::lock_guard<std::mutex> guard(fileLock);
        const NodeListElement current = elementAt(i);
        if (current.name.empty()) return false;
        if (current.name == name) return true;
        if (!replaceLocked(i, name, current.data)) return false;
    }
    notifyChange();
    return true;
}

bool NodeList::deleteAt(int i) {
    {
        std::lock_guard<std::mutex> guard(fileLock);
        if (i < 0 || i >= count) return false;
        if (nameAt(i).empty()) return true;
        if (!replaceLocked(i, "", emptyData())) return false;
    }
    notifyChange();
    return true;
}

bool NodeList::swap(int i, int j) {
    if (i < 0 || i >= count || j < 0 || j >= count) return false;
    if (i == j) return true;
    {
        std::lock_guard<std::mutex> guard(fileLock);
        const NodeListElement first = elementAt(i), second = elementAt(j);
        if (!store.storeSwap(i, j, first, second)) return false;
        std::lock_guard<std::mutex> slotGuard(slotLock);
        slots[size_t(i)] = {second.name, second.data, ++versionCounter};
        slots[size_t(j)] = {first.name, first.data, ++versionCounter};
    }
    notifyChange();
    return true;
}

bool NodeList::parseSwapJSON(const std::string& text) {
    int i, j;
    return SlotTransfer::parseSwapRequest(text, i, j) && swap(i, j);
}

bool NodeList::admitsName(int i, const std::string& name) const {
    const int owner = indexOf(name);
    return acceptableName(i, name) && (owner < 0 || owner == i);
}

bool NodeList::commitUpload(int i, const std::string& name, std::vector<uint8_t> data) {
    std::string reason;
    if (!checkContent(i, name, data, reason)) return false;
    std::lock_guard<std::mutex> guard(fileLock);
    if (!replaceLocked(i, name, std::make_shared<const std::vector<uint8_t>>(std::move(data)))) {
        LOGW(TAG, "%s: slot %d not committed: not stored\n", getPath().c_str(), i);
        return false;
    }
    return true;
}

bool NodeList::parseWriteJSON(const std::string& text, Upload& upload) {
    bool committed = false;
    const bool accepted = transfer.parseWriteJSON(text, upload, committed);
    if (committed) notifyChange();
    return accepted;
}

std::string NodeList::writeStatusJSON(const Upload& upload) const { return transfer.writeStatusJSON(upload); }

bool NodeList::parseWriteJSON(const std::string& text) {
    bool committed = false;
    const bool accepted = transfer.parseWriteJSON(text, committed);
    if (committed) notifyChange();
    return accepted;
}

std::string NodeList::writeStatusJSON() const { return transfer.writeStatusJSON(); }

std::optional<std::string> NodeList::parseReadJSON(const std::string& text, ReadCopy& copy, bool mayCopy,
                                                   bool& copied) {
    return transfer.parseReadJSON(text, copy, mayCopy, copied);
}

std::string NodeList::parseReadJSON(const std::string& text) { return transfer.parseReadJSON(text); }

void NodeList::valueToJSON(nlohmann::ordered_json& body, bool) const {
    nlohmann::ordered_json names = nlohmann::ordered_json::array();
    std::lock_guard<std::mutex> guard(slotLock);
    for (const Slot& slot : slots) names.push_back(JsonText::toUtf8(slot.name));
    body["value"] = std::move(names);
}

void NodeList::membersToJSON(nlohmann::ordered_json& body) const {
    body["itype"] = JsonText::toUtf8(itemType);
    body["size"] = size;
    body["count"] = count;
    body["chunk"] = chunkSize;
    body["gzip"] = compressed;
    body["group"] = getGroup();
}

bool NodeList::valueFromJSON(const nlohmann::json&) { return false; }
