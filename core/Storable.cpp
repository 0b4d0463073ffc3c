#include "core/Storable.h"

#include <cstdio>

uint32_t Storable::fnv1a(const std::string& text) {
    uint32_t hash = 2166136261u;
    for (unsigned char byte : text) {
        hash ^= byte;
        hash *= 16777619u;
    }
    return hash;
}

std::string Storable::keyText(uint32_t key) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", unsigned(key));
    return text;
}

std::string Storable::getStorageKeyText() const { return keyText(getStorageKey()); }

void Storable::markStorageDirty() {
    int expected = int(SyncState::Clean);
    syncState.compare_exchange_strong(expected, int(SyncState::Dirty), std::memory_order_acq_rel);
}
