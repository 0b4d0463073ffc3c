#pragma once
#include <atomic>
#include <cstdint>
#include <string>

// Base of every object that Storage can persist. Storage derives the key from storagePath(), writes
// storageBody() and hands a stored body back through restoreStorageBody(), which must go through the
// object's own setter so that restoring has the same effects as a user's change.
class Storable {
public:
    enum class SyncState : int {
        Unregistered = 0, // not handed to Storage
        Clean = 1,        // the file holds the current value
        Dirty = 2,        // changed since the last write
    };

    virtual ~Storable() = default;

    // 32-bit FNV-1a of the storage path; valid once registered.
    uint32_t getStorageKey() const { return storageKey.load(std::memory_order_relaxed); }
    // The key as 8 upper-case hexadecimal digits: the file name under <home>/storage.
    std::string getStorageKeyText() const;
    SyncState getSyncState() const { return SyncState(syncState.load(std::memory_order_acquire)); }

    // FNV-1a (32 bit) of the text.
    static uint32_t fnv1a(const std::string& text);
    static std::string keyText(uint32_t key);

    virtual std::string storagePath() const = 0;
    virtual std::string storageBody() const = 0;
    virtual bool restoreStorageBody(const std::string& body) = 0;
    // Storage found the object's file but could not read it or restore from it; the object keeps its value.
    virtual void storedBodyUnreadable() {}

protected:
    // Called by the object on every change; a registered object becomes Dirty.
    void markStorageDirty();

private:
    friend class Storage;
    std::atomic<uint32_t> storageKey{0};
    std::atomic<int> syncState{int(SyncState::Unregistered)};
};
