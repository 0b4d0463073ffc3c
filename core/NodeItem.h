#pragma once
#include <string>

#include "core/Node.h"

// A string item with an item type: "string", "color", "link", "module", or a folder type "hfolder" (an
// effect block's folder), "vfolder", "sfolder" (a setup folder). Folders hold an empty value and children.
// The value sits behind the node's lock; getters return copies.
// A secret item (setSecret) is described as "" with "set" telling whether it holds a value, and its value
// never appears in a reply or a log line; storage keeps the real value. Remote writes to folders are refused.
class NodeItem : public Node {
public:
    NodeItem(Node* parent, const char* key, const char* displayName, std::string value, const char* itemType);

    const char* getItemType() const { return itemType.c_str(); }
    bool isFolder() const;
    virtual std::string getValue() const;
    // False without notification when unchanged; otherwise stores, notifies and returns true.
    virtual bool setValue(std::string value);
    // Whether the type takes this value (a colour, a link target); setValue refuses the others.
    virtual bool acceptsValue(const std::string& value) const {
        (void)value;
        return true;
    }
    void setSecret(bool secret) { this->secret.store(secret, std::memory_order_relaxed); }
    bool isSecret() const override { return secret.load(std::memory_order_relaxed); }
    const std::string& getDefault() const { return defaultValue; }

    const char* getType() const override { return "item"; }
    // A secret's display text is "" as well: the display must not show it either.
    std::string toString() const override;
    void reset() override { setValue(defaultValue); }

protected:
    void valueToJSON(nlohmann::ordered_json& body, bool reveal) const override;
    void membersToJSON(nlohmann::ordered_json& body) const override;
    bool valueFromJSON(const nlohmann::json& body) override;

private:
    const std::string itemType;
    const std::string defaultValue;
    std::string value; // guarded by valueLock
    std::atomic<bool> secret{false};
};
