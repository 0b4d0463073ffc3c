#pragma once
#include "core/NodeItem.h"

// A password item: always secret (item type "string"), so its value never shows in a reply or log line.
class NodePassword : public NodeItem {
public:
    NodePassword(Node* parent, const char* key, const char* displayName);
};
