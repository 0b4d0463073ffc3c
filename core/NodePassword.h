#pragma once
#include "core/NodeItem.h"

#include <atomic>

// A password item: always secret (item type "string"), so its value never shows in a reply or log line.
// A stored password that cannot be read leaves it damaged: it opens nothing (Security refuses every answer)
// until a new value is set, which only the pedal's own panel can do then.
class NodePassword : public NodeItem {
public:
    NodePassword(Node* parent, const char* key, const char* displayName);

    bool setValue(std::string value) override;
    void storedBodyUnreadable() override;
    bool isDamaged() const { return damaged.load(std::memory_order_acquire); }

private:
    std::atomic<bool> damaged{false};
};
