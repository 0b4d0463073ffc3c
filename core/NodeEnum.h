#pragma once
#include <atomic>
#include <string>
#include <vector>

#include "core/Node.h"

// A parameter choosing one of a fixed list of options. edit() stops at the first and last option; only
// toggle() wraps. The selection is an atomic index, so readers need no lock.
class NodeEnum : public Node {
public:
    // Value and default are def when def is one of the options, else empty.
    NodeEnum(Node* parent, const char* key, const char* displayName, std::vector<const char*> options, std::string def);

    std::string getValue() const;
    // -1 when no option is selected.
    int getIndex() const { return index.load(std::memory_order_relaxed); }
    bool isValue(const char* text) const;
    // Selects the option equal to text and notifies when it changes; a text that is no option only logs a
    // warning and returns false.
    virtual bool setValue(std::string text);
    // Selects option i (0 <= i < count); notifies when it changes.
    bool setIndex(int i);
    // Next option, wrapping to the first.
    void toggle();
    int getOptionCount() const { return int(options.size()); }
    const std::string& getOption(int i) const { return options.at(size_t(i)); }
    const std::string& getDefault() const { return defaultValue; }

    const char* getType() const override { return "enum"; }
    std::string toString() const override { return getValue(); }
    void edit(bool up) override;
    void reset() override;

protected:
    void valueToJSON(nlohmann::ordered_json& body, bool reveal) const override;
    void membersToJSON(nlohmann::ordered_json& body) const override;
    bool valueFromJSON(const nlohmann::json& body) override;
    // Index of the option equal to text (compared also in its JSON form, so a client's UTF-8 text matches a
    // Latin-1 option); -1 when none.
    int findOption(const std::string& text) const;

private:
    const std::vector<std::string> options;
    std::string defaultValue;
    std::atomic<int> index{-1};
};
