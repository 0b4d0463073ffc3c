#include "core/NodePassword.h"

#include "porting/Log.h"

NodePassword::NodePassword(Node* parent, const char* key, const char* displayName)
    : NodeItem(parent, key, displayName, "", "string") {
    setSecret(true);
}

bool NodePassword::setValue(std::string value) {
    if (!NodeItem::setValue(std::move(value))) return false;
    damaged.store(false, std::memory_order_release);
    return true;
}

void NodePassword::storedBodyUnreadable() {
    damaged.store(true, std::memory_order_release);
    LOGE("Security",
         "The stored password cannot be read: requests that need it are refused until a new one is set on the "
         "pedal (Setup, System, Password)\n");
}
