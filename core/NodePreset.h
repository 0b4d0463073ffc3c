#pragma once
#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "core/NodeListElement.h"
#include "core/NodeParList.h"

// The preset parameter: selects a slot of the preset list and saves or restores the parameters in its scope.
//
// Scope: the nodes after the preset node in a breadth-first walk of its parent's subtree, leaving out the
// ignored subtrees, folders, lists, actions, secrets and nodes whose name begins with '_' (with their
// subtrees). Preset text: the level-0 entries of the scope, path:{"value":V}, joined by "\r\n".
//
// Loading resets the scope to its defaults, applies the lines whose node lies in the scope (others are
// skipped: a shared preset must not reach the password or the Wi-Fi settings), selects the slot, marks the
// preset unedited and notifies, also when the slot was already selected. Loads and saves are serialised; the
// load hooks tell the audio engine that a bulk change runs, so it does not compile a half-loaded preset.
class NodePreset : public NodeParList {
public:
    // The 14 characters "\",\"save\":\"save" that turn setValue into a save; no new slot name may hold them.
    static const char* const SAVE_SUFFIX;

    NodePreset(Node* parent, const char* key, const char* displayName, std::string def, NodeList* presets);

    // Called around every load (begin before the first parameter changes, end after the preset node's own
    // notification). Null hooks do nothing. Set once at start-up.
    static void setLoadHooks(void (*begin)(), void (*end)());

    // Leaves a subtree out of the scope (no duplicates).
    void addIgnoreNode(Node* node);
    // The name of a slot selects and loads that slot (even when the name ends like a save request, as names
    // stored before such names were refused may). Otherwise name + SAVE_SUFFIX saves the present parameters
    // under that name (empty: the current name; still empty: false) into the slot of that name, else the
    // first empty slot (none, or a text longer than a slot: false). "" selects no preset and loads nothing
    // (true); any other name that no slot has makes the value "" (false).
    bool setValue(std::string text) override;
    // Selects and loads slot i when it exists and has a name; false otherwise, nothing changes.
    bool setByIndex(int i);
    // True when a node of the scope changed after the last load or save, or the selected slot's data was
    // replaced since (what plays is no longer what it holds).
    bool isEdited() const;
    // The preset text of the present parameters.
    std::string presetText() const;
    bool isEditable() const override { return true; }
    // The stored selection only ever loads: a text that names no slot (one ending like a save request
    // included) selects no preset, and that is what is stored from then on.
    bool restoreStorageBody(const std::string& body) override;

protected:
    // {"value":"Name","save":"save"} saves, as the UI's save suffix does.
    bool valueFromJSON(const nlohmann::json& body) override;

private:
    std::vector<Node*> scope() const;
    bool isIgnored(const Node* node) const;
    bool save(const std::string& name);
    bool loadSlot(int index);
    void markClean();
    NodeListElement::Data selectedData() const;

    std::vector<Node*> ignored; // guarded by ignoreLock
    mutable std::mutex ignoreLock;
    std::recursive_mutex loadLock; // one load or save at a time
    // Change times of the scope at the last load or save; guarded by cleanLock.
    std::map<const Node*, int64_t> cleanTimes;
    int64_t cleanTime = 0;
    NodeListElement::Data cleanData; // the selected slot's data at the last load or save
    mutable std::mutex cleanLock;
};
