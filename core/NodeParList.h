#pragma once
#include <string>

#include "core/Node.h"

class NodeList;

// A parameter that selects one slot of a NodeList by its name ("" for none). Plain selectors choose an impulse
// response or a model; NodePreset builds on it.
//
// The selection follows its slot: a slot renamed, or written under a new name, while it is selected stays
// selected under its new name (stored, reported and shown as a change, without the change callback: what was
// loaded from it still plays). A name that still names a slot (the slot swapped elsewhere included) keeps its
// slot, and a slot emptied leaves the value as it was.
class NodeParList : public Node {
public:
    NodeParList(Node* parent, const char* key, const char* displayName, std::string def, NodeList* list);

    NodeList* getReferenceList() const { return list; }
    std::string getValue() const;
    // Index of the slot named by the value, -1 when none.
    int getIndex() const;
    // Selects the slot of that name, or none for "". A name that no slot has makes the value "" and returns
    // false. Notifies when the value changes.
    virtual bool setValue(std::string name);
    // True when edit(up) would change the selection: another named slot lies in that direction.
    bool canEdit(bool up) const;
    // False for a plain slot selector; true for a preset, whose slots the user also writes.
    virtual bool isEditable() const { return false; }
    const std::string& getDefault() const { return defaultValue; }

    const char* getType() const override { return "plist"; }
    std::string toString() const override { return getValue(); }
    // Selects the next or previous named slot through setValue.
    void edit(bool up) override;
    void reset() override { setValue(defaultValue); }

protected:
    // Index of the next named slot after (up) or before from, -1 when none.
    int neighbour(int from, bool up) const;
    // Stores the value and the slot it names; true when the value changed. No notification.
    bool storeValue(const std::string& name);

    void valueToJSON(nlohmann::ordered_json& body, bool reveal) const override;
    void membersToJSON(nlohmann::ordered_json& body) const override;
    bool valueFromJSON(const nlohmann::json& body) override;

private:
    void followSlot();

    NodeList* const list;
    const std::string defaultValue;
    std::string value; // guarded by valueLock
    int slot = -1;     // the slot value named when last seen; guarded by valueLock
};
