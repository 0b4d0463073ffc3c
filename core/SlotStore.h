#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/NodeListElement.h"

// The files of a list's slots in <home>/storage. Slot i lives in <KEY>, KEY the FNV-1a of the list path, "\\"
// and i: the 128-byte name record followed by the used bytes; an empty slot has no file. The keys go through
// Storage's collision check: a slot whose key another owner holds is never loaded nor stored.
//
// A swap is atomic across a power cut: both new files are staged beside the old ones (<KEY>.swap), then a
// journal naming the two slots (the key of the list path and "\\swap") commits it, then the staged files
// replace the old ones. Building the store finishes a committed swap and drops an uncommitted one; a committed
// swap it cannot finish loads as swapped (from the staged files) and the list takes no change until it is
// finished. Temporary files of stores cut short are removed.
//
// Not thread-safe: the list serialises every store with its publication (its file lock).
class SlotStore {
public:
    // The name record: the name NUL-padded in the first 64 bytes, then the transferred length and the stored
    // length as 32-bit little-endian numbers, the rest zero.
    static constexpr int nameRecordSize = 128;
    static constexpr int maxNameLength = 63;

    static std::string nameRecord(const std::string& name, uint32_t transferred, uint32_t stored);
    // The name of a record of nameRecordSize bytes; false when its name field has no terminating NUL.
    static bool recordName(const uint8_t* record, std::string& name);
    static uint32_t recordTransferred(const uint8_t* record);
    static uint32_t recordStored(const uint8_t* record);

    // Bytes written into slot files so far by every list of the process: what a caller spends on storage.
    static uint64_t bytesStored();

    // Claims the keys of count slots of the list at listPath and recovers an interrupted swap.
    SlotStore(std::string listPath, int count);
    ~SlotStore();
    SlotStore(const SlotStore&) = delete;
    SlotStore& operator=(const SlotStore&) = delete;

    // Slot i's file, when its key is ours and the file is whole; a damaged file is logged and left alone for
    // inspection.
    bool load(int i, size_t maxSize, std::string& name, std::vector<uint8_t>& data) const;
    // Stores slot i (name "" removes its file). Refused while the key is not ours or a committed swap cannot
    // be finished.
    bool store(int i, const std::string& name, const std::vector<uint8_t>& data);
    // Stores slot i with the contents of second and slot j with those of first: stages both files, commits
    // the journal and puts the staged files in place. False, with the old files standing, when it did not
    // commit.
    bool storeSwap(int i, int j, const NodeListElement& first, const NodeListElement& second);

private:
    std::string slotPath(int i) const;
    std::string fileName(int i) const;
    std::string swapJournalPath() const;
    std::string journalFileName() const;
    static std::string fileContent(const std::string& name, const std::vector<uint8_t>& data);
    // Puts a staged file of slot i in place, if there is one: an empty staged file empties the slot.
    bool applyStaged(int i);
    void removeTemporaryFiles();
    // Finishes a committed swap that a power cut interrupted and drops staged files without a journal.
    void recoverSwap();
    // Puts the staged files of a committed swap in place and removes its journal; false while that fails.
    bool finishPendingSwap();

    const std::string listPath;
    const int count;
    // Per slot: its storage key is ours (not held by another owner). Fixed at construction.
    std::vector<bool> keyHeld;
    bool journalKeyHeld = false;
    // The slots of a committed swap whose files are not all in place yet (-1: none).
    int pendingSwap[2] = {-1, -1};
};
