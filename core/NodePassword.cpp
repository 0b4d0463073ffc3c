#include "core/NodePassword.h"

NodePassword::NodePassword(Node* parent, const char* key, const char* displayName)
    : NodeItem(parent, key, displayName, "", "string") {
    setSecret(true);
}
