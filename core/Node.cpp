#include "core/Node.h"

#include <cstdio>
#include <deque>

#include <nlohmann/json.hpp>

#include "core/JsonText.h"
#include "porting/Log.h"
#include "porting/Shims.h"

namespace {
const char* TAG = "Node";

// Appends are rare (start-up, a late transport); one lock for the whole tree keeps them simple. Readers
// never take it.
std::mutex& appendLock() {
    static std::mutex& lock = *new std::mutex;
    return lock;
}

std::string makePath(const Node* parent, const std::string& name) {
    if (!parent) return name;
    return parent->getPath() + "\\" + name;
}

// True when prefix is an ancestor path of path: the same names up to a backslash boundary, so "a\\b" is a
// prefix of "a\\b\\c" but not of "a\\bc".
bool isAncestorPath(const std::string& prefix, const std::string& path) {
    return path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0 && path[prefix.size()] == '\\';
}
}

Node::Node(Node* parent, const char* key, const char* displayName)
    : parent(parent),
      name(key ? key : ""),
      displayName(displayName ? displayName : (key ? key : "")),
      path(makePath(parent, name)) {
    if (parent) parent->appendChild(this);
}

Node::~Node() {
    Node* child = firstChild.load(std::memory_order_acquire);
    while (child) {
        Node* next = child->nextSibling.load(std::memory_order_acquire);
        delete child;
        child = next;
    }
}

void Node::appendChild(Node* child) {
    std::lock_guard<std::mutex> guard(appendLock());
    // The child is complete before it becomes reachable: the release store publishes it.
    if (lastChild) {
        lastChild->nextSibling.store(child, std::memory_order_release);
    } else {
        firstChild.store(child, std::memory_order_release);
    }
    lastChild = child;
    childCount.fetch_add(1, std::memory_order_release);
}

std::list<Node*> Node::getChildren() const {
    std::list<Node*> children;
    for (Node* child = firstChild.load(std::memory_order_acquire); child;
         child = child->nextSibling.load(std::memory_order_acquire)) {
        children.push_back(child);
    }
    return children;
}

Node* Node::childrenAt(int i) const { return childrenAt(i, false); }

int Node::childrenCount(bool visibleOnly) const {
    if (!visibleOnly) return childrenCount();
    int count = 0;
    for (Node* child = firstChild.load(std::memory_order_acquire); child;
         child = child->nextSibling.load(std::memory_order_acquire)) {
        if (child->isVisible()) ++count;
    }
    return count;
}

Node* Node::childrenAt(int i, bool visibleOnly) const {
    if (i < 0) return nullptr;
    for (Node* child = firstChild.load(std::memory_order_acquire); child;
         child = child->nextSibling.load(std::memory_order_acquire)) {
        if (visibleOnly && !child->isVisible()) continue;
        if (i == 0) return child;
        --i;
    }
    return nullptr;
}

Node* Node::pathToNode(const std::string& wanted) const {
    if (wanted.empty()) return nullptr;
    std::deque<const Node*> queue{this};
    while (!queue.empty()) {
        const Node* node = queue.front();
        queue.pop_front();
        if (node->path == wanted) return const_cast<Node*>(node);
        if (!isAncestorPath(node->path, wanted)) continue;
        for (Node* child = node->firstChild.load(std::memory_order_acquire); child;
             child = child->nextSibling.load(std::memory_order_acquire)) {
            queue.push_back(child);
        }
    }
    return nullptr;
}

bool Node::isStyleKey(const std::string& key) { return key == "visible" || key == "mode" || key == "color"; }

bool Node::setStyle(const std::string& key, const std::string& value) {
    {
        std::lock_guard<std::mutex> guard(valueLock);
        std::string* slot = key == "visible" ? &styleVisible
                            : key == "mode"  ? &styleMode
                            : key == "color" ? &styleColor
                                             : nullptr;
        if (!slot) return false;
        if (*slot == value) return true;
        *slot = value;
    }
    // A style change is reported by "read" through the change time; it is no value change, so neither the
    // callback nor storage hears of it.
    touch();
    return true;
}

std::string Node::getStyle(const std::string& key) const {
    std::lock_guard<std::mutex> guard(valueLock);
    if (key == "visible") return styleVisible;
    if (key == "mode") return styleMode;
    if (key == "color") return styleColor;
    return "";
}

int Node::getStyleColor() const {
    const std::string color = getStyle("color");
    if (color.size() != 7 || color[0] != '#') return 0;
    int rgb = 0;
    for (size_t i = 1; i < 7; ++i) {
        const char c = color[i];
        int digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else return 0;
        rgb = rgb * 16 + digit;
    }
    return rgb;
}

void Node::setStyleColor(int rgb) {
    char text[8];
    std::snprintf(text, sizeof text, "#%06X", unsigned(rgb) & 0xFFFFFFu);
    setStyle("color", text);
}

void Node::setOnChange(OnChange callback) {
    if (callback) onChange.store(callback, std::memory_order_release);
}

void Node::touch() {
    // Strictly increasing, so two changes within one clock tick still order against a reader's time.
    int64_t now = esp_timer_get_time();
    int64_t previous = changeTime.load(std::memory_order_relaxed);
    while (
        !changeTime.compare_exchange_weak(previous, now > previous ? now : previous + 1, std::memory_order_acq_rel)) {}
}

void Node::notifyChange(bool callback) {
    touch();
    markStorageDirty();
    if (!callback) return;
    if (OnChange onChanged = onChange.load(std::memory_order_acquire)) onChanged(this);
}

std::string Node::bodyText(DescriptionLevel level, bool reveal) const {
    nlohmann::ordered_json body = nlohmann::ordered_json::object();
    if (level >= DESC_FULL) {
        body["type"] = getType();
        body["name"] = JsonText::toUtf8(displayName);
    }
    valueToJSON(body, reveal);
    if (level >= DESC_STYLE) {
        std::string visible, mode, color;
        {
            std::lock_guard<std::mutex> guard(valueLock);
            visible = styleVisible;
            mode = styleMode;
            color = styleColor;
        }
        if (!visible.empty()) body["visible"] = JsonText::toUtf8(visible);
        if (!mode.empty()) body["mode"] = JsonText::toUtf8(mode);
        if (!color.empty()) body["color"] = JsonText::toUtf8(color);
    }
    if (level >= DESC_FULL) membersToJSON(body);
    return JsonText::dump(body);
}

std::string Node::getBody(DescriptionLevel level) const { return bodyText(level, false); }

std::string Node::getEntry(DescriptionLevel level) const { return path + ":" + getBody(level); }

std::string Node::getJSON(DescriptionLevel level, bool recursive) const {
    return getJSON_after(level, recursive, nullptr, false, 0, false);
}

std::string Node::getJSON_after(DescriptionLevel level, bool recursive, Node* after, bool changedOnly, long time,
                                bool leafShortcut) const {
    if (!recursive || (leafShortcut && isLeaf())) return getEntry(level);
    std::string out;
    bool skipping = after != nullptr;
    std::deque<const Node*> queue{this};
    while (!queue.empty()) {
        const Node* node = queue.front();
        queue.pop_front();
        for (Node* child = node->firstChild.load(std::memory_order_acquire); child;
             child = child->nextSibling.load(std::memory_order_acquire)) {
            queue.push_back(child);
        }
        if (skipping) {
            if (node == after) skipping = false;
            continue;
        }
        if (changedOnly && node->getChangeTime() <= int64_t(time)) continue;
        if (!out.empty()) out += "\r\n";
        out += node->getEntry(level);
    }
    return out;
}

bool Node::parseBody(const std::string& text) {
    const nlohmann::json body = nlohmann::json::parse(text, nullptr, false);
    if (body.is_discarded() || !body.is_object() || !body.contains("value")) return false;
    return valueFromJSON(body);
}

bool Node::parseJSON(const std::string& line) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0) return false;
    Node* target = pathToNode(line.substr(0, colon));
    if (!target) {
        LOGW(TAG, "No node for the path of a write\n");
        return false;
    }
    if (target->isReadOnly()) {
        LOGW(TAG, "%s is read-only\n", target->getPath().c_str());
        return false;
    }
    if (!target->parseBody(line.substr(colon + 1))) {
        LOGW(TAG, "Refused value for %s\n", target->getPath().c_str());
        return false;
    }
    return true;
}

std::string Node::storageBody() const { return bodyText(DESC_VALUE, true); }

bool Node::restoreStorageBody(const std::string& body) { return parseBody(body); }
