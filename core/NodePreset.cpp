#include "core/NodePreset.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <unordered_set>

#include <nlohmann/json.hpp>

#include "porting/Log.h"
#include "core/NodeItem.h"
#include "core/NodeList.h"
#include "porting/Shims.h"

namespace {
const char* TAG = "NodePreset";
std::atomic<void (*)()> loadBegin{nullptr};
std::atomic<void (*)()> loadEnd{nullptr};

// Tells the engine that a bulk change runs, for as long as the guard lives.
class LoadGuard {
public:
    LoadGuard() {
        if (auto begin = loadBegin.load(std::memory_order_acquire)) begin();
    }
    ~LoadGuard() {
        if (auto end = loadEnd.load(std::memory_order_acquire)) end();
    }
    LoadGuard(const LoadGuard&) = delete;
    LoadGuard& operator=(const LoadGuard&) = delete;
};

// Nodes that hold no parameter of their own: their subtree may still hold parameters.
bool holdsNoParameter(const Node* node) {
    const char* type = node->getType();
    if (std::strcmp(type, "list") == 0 || std::strcmp(type, "action") == 0 || node->isSecret()) return true;
    const auto* item = dynamic_cast<const NodeItem*>(node);
    return item && item->isFolder();
}
}

const char* const NodePreset::SAVE_SUFFIX = NodeList::reservedNameText;

NodePreset::NodePreset(Node* parent, const char* key, const char* displayName, std::string def, NodeList* presets)
    : NodeParList(parent, key, displayName, std::move(def), presets) {}

void NodePreset::setLoadHooks(void (*begin)(), void (*end)()) {
    loadBegin.store(begin, std::memory_order_release);
    loadEnd.store(end, std::memory_order_release);
}

void NodePreset::addIgnoreNode(Node* node) {
    if (!node) return;
    std::lock_guard<std::mutex> guard(ignoreLock);
    if (std::find(ignored.begin(), ignored.end(), node) == ignored.end()) ignored.push_back(node);
}

bool NodePreset::isIgnored(const Node* node) const {
    std::lock_guard<std::mutex> guard(ignoreLock);
    return std::find(ignored.begin(), ignored.end(), node) != ignored.end();
}

std::vector<Node*> NodePreset::scope() const {
    std::vector<Node*> nodes;
    Node* parent = getParent();
    if (!parent) return nodes;
    bool after = false;
    std::deque<Node*> queue{parent};
    while (!queue.empty()) {
        Node* node = queue.front();
        queue.pop_front();
        if (node == this) {
            after = true;
            continue;
        }
        if (node != parent && (isIgnored(node) || node->isReadOnly())) continue;
        for (Node* child : node->getChildren()) queue.push_back(child);
        if (after && node != parent && !holdsNoParameter(node)) nodes.push_back(node);
    }
    return nodes;
}

std::string NodePreset::presetText() const {
    std::string text;
    for (const Node* node : scope()) {
        if (!text.empty()) text += "\r\n";
        text += node->getEntry(DESC_VALUE);
    }
    return text;
}

void NodePreset::markClean() {
    const std::vector<Node*> nodes = scope();
    NodeListElement::Data data = selectedData();
    std::lock_guard<std::mutex> guard(cleanLock);
    cleanData = std::move(data);
    cleanTimes.clear();
    for (const Node* node : nodes) cleanTimes[node] = node->getChangeTime();
    cleanTime = esp_timer_get_time();
}

NodeListElement::Data NodePreset::selectedData() const {
    const int index = getIndex();
    return index >= 0 ? getReferenceList()->dataAt(index) : nullptr;
}

bool NodePreset::isEdited() const {
    const std::vector<Node*> nodes = scope();
    const NodeListElement::Data data = selectedData();
    std::lock_guard<std::mutex> guard(cleanLock);
    // A commit publishes a new buffer and a rename keeps it, so only a slot written anew reads as replaced.
    if (data && data != cleanData) return true;
    // Change times grow strictly per node, so any change since the snapshot shows as a different time; a node
    // added to the scope later counts when it changed after the snapshot.
    for (const Node* node : nodes) {
        auto known = cleanTimes.find(node);
        const int64_t changed = node->getChangeTime();
        if (known == cleanTimes.end() ? changed > cleanTime : changed != known->second) return true;
    }
    return false;
}

bool NodePreset::save(const std::string& requested) {
    NodeList* presets = getReferenceList();
    const std::string name = requested.empty() ? getValue() : requested;
    if (name.empty() || !presets) return false;
    std::lock_guard<std::recursive_mutex> guard(loadLock);
    const std::string text = presetText();
    if (text.size() > size_t(presets->getSize())) {
        LOGW(TAG, "Preset '%s' needs %zu bytes, a slot holds %d; not saved\n", name.c_str(), text.size(),
             presets->getSize());
        return false;
    }
    int index = presets->indexOf(name);
    for (int i = 0; index < 0 && i < presets->getElementCount(); ++i) {
        if (presets->nameAt(i).empty()) index = i;
    }
    if (index < 0) {
        LOGW(TAG, "No free preset slot for '%s'\n", name.c_str());
        return false;
    }
    if (!presets->setElementAt(index, name, text.data(), text.size())) {
        LOGW(TAG, "Preset '%s' not saved\n", name.c_str());
        return false;
    }
    markClean();
    return true;
}

bool NodePreset::loadSlot(int index) {
    NodeList* presets = getReferenceList();
    std::lock_guard<std::recursive_mutex> guard(loadLock);
    const NodeListElement slot = presets->elementAt(index);
    if (slot.name.empty()) return false;
    {
        LoadGuard bulk;
        const std::vector<Node*> nodes = scope();
        for (Node* node : nodes) node->reset();
        const std::unordered_set<const Node*> inScope(nodes.begin(), nodes.end());
        const std::string text(slot.data->begin(), slot.data->end());
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find("\r\n", start);
            if (end == std::string::npos) end = text.size();
            const std::string line = text.substr(start, end - start);
            start = end + 2;
            const size_t colon = line.find(':');
            if (colon == std::string::npos) continue;
            Node* node = getParent()->pathToNode(line.substr(0, colon));
            if (!node || !inScope.count(node)) continue;
            if (!node->parseBody(line.substr(colon + 1)))
                LOGW(TAG, "Preset '%s': refused %s\n", slot.name.c_str(), line.c_str());
        }
        storeValue(slot.name);
        markClean();
        // The notification runs inside the bulk change: the engine asks for its fade before it compiles again.
        notifyChange();
    }
    return true;
}

bool NodePreset::setValue(std::string text) {
    NodeList* presets = getReferenceList();
    // A slot of exactly that name is loaded, whatever the name holds: only text that names no slot can be a
    // save request, so no stored name turns a load into a save.
    const int index = presets ? presets->indexOf(text) : -1;
    const size_t suffixLength = std::strlen(SAVE_SUFFIX);
    if (index < 0 && text.size() >= suffixLength &&
        text.compare(text.size() - suffixLength, suffixLength, SAVE_SUFFIX) == 0) {
        return save(text.substr(0, text.size() - suffixLength));
    }
    // No selection is a valid value (the stored one too), not a failed load.
    if (text.empty()) {
        if (storeValue("")) notifyChange();
        return true;
    }
    if (index < 0 || !loadSlot(index)) {
        if (storeValue("")) notifyChange();
        return false;
    }
    return true;
}

bool NodePreset::restoreStorageBody(const std::string& body) {
    const nlohmann::json parsed = nlohmann::json::parse(body, nullptr, false);
    if (!parsed.is_object() || !parsed.contains("value") || !parsed["value"].is_string()) return false;
    NodeList* presets = getReferenceList();
    const int index = presets ? presets->indexOf(parsed["value"].get<std::string>()) : -1;
    if (index >= 0 && loadSlot(index)) return true;
    if (storeValue("")) notifyChange();
    return true;
}

bool NodePreset::setByIndex(int i) {
    NodeList* presets = getReferenceList();
    if (!presets || presets->nameAt(i).empty()) return false;
    return loadSlot(i);
}

bool NodePreset::valueFromJSON(const nlohmann::json& body) {
    const nlohmann::json& name = body["value"];
    if (!name.is_string()) return false;
    auto save = body.find("save");
    if (save != body.end() && *save == "save") return this->save(name.get<std::string>());
    return setValue(name.get<std::string>());
}
