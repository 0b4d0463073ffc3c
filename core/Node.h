#pragma once
// The parameter tree. Every setting of the pedal is a Node: named, addressed by the path of names from the
// root joined with one backslash ("root\\sys\\_name"), described and set as JSON text.
//
// Threads: nodes are built at start-up and live for the whole run. Children are append-only and linked
// through atomic pointers, so a reader on another thread walks a consistent list while a late node (for
// instance a transport's settings) is appended. Values are atomics or sit behind the node's short lock with
// copying getters; no callback and no storage call runs while that lock is held.
//
// Deleting a node deletes its subtree; only delete roots (tests), never a node still linked to a parent.
#include <atomic>
#include <cstdint>
#include <list>
#include <mutex>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "core/DescriptionLevel.h"
#include "core/Storable.h"

class Node : public Storable {
public:
    using OnChange = void (*)(Node*);

    // Appends the node to parent (null for a root). The display name defaults to the key.
    Node(Node* parent, const char* key, const char* displayName);
    ~Node() override;
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    const char* getName() const { return name.c_str(); }
    const char* getDisplayName() const { return displayName.c_str(); }
    Node* getParent() const { return parent; }
    // The names from the root down joined by one backslash.
    std::string getPath() const { return path; }

    // Children in insertion order.
    std::list<Node*> getChildren() const;
    int childrenCount() const { return childCount.load(std::memory_order_acquire); }
    Node* childrenAt(int i) const;
    // With visibleOnly only children whose style "visible" is not "false" count.
    int childrenCount(bool visibleOnly) const;
    Node* childrenAt(int i, bool visibleOnly) const;
    bool isLeaf() const { return childrenCount() == 0; }
    // Breadth-first search from this node for the node whose path equals path, descending only into nodes
    // whose path is a prefix of it (on a name boundary). Null when none or path is empty.
    Node* pathToNode(const std::string& path) const;
    // True when the name begins with '_': remote writes refuse it.
    bool isReadOnly() const { return !name.empty() && name[0] == '_'; }

    // Style properties "visible", "mode" and "color" (text values; unset keys are not described).
    static bool isStyleKey(const std::string& key);
    // Sets a style key; false for another key. A change updates the change time. Nothing when equal.
    bool setStyle(const std::string& key, const std::string& value);
    // The style value, "" when unset.
    std::string getStyle(const std::string& key) const;
    void setStyleVisible(bool visible) { setStyle("visible", visible ? "true" : "false"); }
    bool isVisible() const { return getStyle("visible") != "false"; }
    void setStyleMode(const std::string& mode) { setStyle("mode", mode); }
    // 0xRRGGBB; 0 when absent or not '#' and six hexadecimal digits.
    int getStyleColor() const;
    // Sets "#RRGGBB" (upper case).
    void setStyleColor(int rgb);

    // Linkable nodes can be the target of a NodeLink (controller links); effect parameters are linkable.
    void setLinkable(bool linkable) { this->linkable.store(linkable, std::memory_order_relaxed); }
    bool isLinkable() const { return linkable.load(std::memory_order_relaxed); }

    // Called on the changing thread after every value change; null is ignored.
    void setOnChange(OnChange callback);
    // Microseconds (esp_timer_get_time) of the last value or style change; 0 when never changed.
    int64_t getChangeTime() const { return changeTime.load(std::memory_order_acquire); }

    virtual const char* getType() const = 0;
    // The value as display text.
    virtual std::string toString() const { return ""; }
    // One step up or down in the type's own way; the change is notified.
    virtual void edit(bool up) { (void)up; }
    // Back to the default value.
    virtual void reset() {}
    // Secret values are never described: "value" is "" and "set" tells whether one is set.
    virtual bool isSecret() const { return false; }

    std::string getJSON(DescriptionLevel level, bool recursive) const;
    // Without recursive, or with leafShortcut on a leaf: this node's entry. Otherwise the entries of this
    // node and its subtree in breadth-first order, skipping every node up to and including `after` when
    // given and, with changedOnly, every node whose change time is not later than `time`. Entries are
    // joined by "\r\n" with none after the last. An entry is path:{body}.
    std::string getJSON_after(DescriptionLevel level, bool recursive, Node* after, bool changedOnly, long time,
                              bool leafShortcut) const;
    // This node's entry: path, ':' and the body.
    std::string getEntry(DescriptionLevel level) const;
    // The brace-enclosed JSON body at the level.
    std::string getBody(DescriptionLevel level) const;
    // One line path:{"value":...}: resolves the path from this node and sets the target. False, with
    // nothing changed, for a malformed line, a missing node, a name beginning with '_' or a refused value.
    bool parseJSON(const std::string& line);
    // Sets this node from a body text {"value":...} (no path, no read-only check). False when refused.
    bool parseBody(const std::string& body);

    std::string storagePath() const override { return path; }
    std::string storageBody() const override;
    bool restoreStorageBody(const std::string& body) override;

protected:
    // Writes "value" (and "set" for a secret) into the body; reveal is true only for storage.
    virtual void valueToJSON(nlohmann::ordered_json& body, bool reveal) const = 0;
    // Adds the type's own members of the full description.
    virtual void membersToJSON(nlohmann::ordered_json& body) const { (void)body; }
    // Sets the value from a parsed body object that has a "value" member; false (nothing changed) when
    // refused.
    virtual bool valueFromJSON(const nlohmann::json& body) = 0;

    // Records a value change: change time, storage state, then the callback, which a change with no effect
    // of its own to act on (a name that follows its renamed slot) leaves out. Call without the lock held.
    void notifyChange(bool callback = true);
    // The node's short lock for string values and style.
    mutable std::mutex valueLock;

private:
    void appendChild(Node* child);
    std::string bodyText(DescriptionLevel level, bool reveal) const;
    void touch();

    Node* const parent;
    const std::string name;
    const std::string displayName;
    const std::string path;
    std::atomic<Node*> firstChild{nullptr};
    std::atomic<Node*> nextSibling{nullptr};
    Node* lastChild = nullptr; // guarded by the tree's append lock
    std::atomic<int> childCount{0};
    std::atomic<bool> linkable{false};
    std::atomic<OnChange> onChange{nullptr};
    std::atomic<int64_t> changeTime{0};
    std::string styleVisible, styleMode, styleColor; // guarded by valueLock
};
