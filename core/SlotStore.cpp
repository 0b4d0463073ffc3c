#include "core/SlotStore.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "porting/Log.h"
#include "core/Storable.h"
#include "core/Storage.h"

namespace {
const char* TAG = "NodeList";
constexpr int nameFieldSize = 64;
constexpr int transferredOffset = 64;
constexpr int storedOffset = 68;
const char* const stagedSuffix = ".swap";
// What Storage::storeFile writes before it renames the file into place.
const char* const temporarySuffix = ".tmp";

std::atomic<uint64_t> storedBytes{0};

// Storage::storeFile, counted.
bool storeCounted(const std::string& name, const std::string& content) {
    storedBytes += content.size();
    return Storage::storeFile(name, content);
}

void putLittleEndian(std::string& out, size_t offset, uint32_t value) {
    for (int k = 0; k < 4; ++k) out[offset + size_t(k)] = char((value >> (8 * k)) & 0xFF);
}

uint32_t getLittleEndian(const uint8_t* bytes) {
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
}
}

std::string SlotStore::nameRecord(const std::string& name, uint32_t transferred, uint32_t stored) {
    std::string record(nameRecordSize, '\0');
    std::memcpy(record.data(), name.data(), std::min(name.size(), size_t(maxNameLength)));
    putLittleEndian(record, transferredOffset, transferred);
    putLittleEndian(record, storedOffset, stored);
    return record;
}

bool SlotStore::recordName(const uint8_t* record, std::string& name) {
    const void* end = std::memchr(record, 0, nameFieldSize);
    if (!end) return false;
    name.assign(reinterpret_cast<const char*>(record), size_t(static_cast<const uint8_t*>(end) - record));
    return true;
}

uint64_t SlotStore::bytesStored() { return storedBytes.load(); }

uint32_t SlotStore::recordTransferred(const uint8_t* record) { return getLittleEndian(record + transferredOffset); }

uint32_t SlotStore::recordStored(const uint8_t* record) { return getLittleEndian(record + storedOffset); }

SlotStore::SlotStore(std::string listPath, int count) : listPath(std::move(listPath)), count(count) {
    for (int i = 0; i < count; ++i) keyHeld.push_back(Storage::claimKey(slotPath(i)));
    journalKeyHeld = Storage::claimKey(swapJournalPath());
    recoverSwap();
}

SlotStore::~SlotStore() {
    for (int i = 0; i < count; ++i) {
        if (keyHeld[size_t(i)]) Storage::releaseKey(slotPath(i));
    }
    if (journalKeyHeld) Storage::releaseKey(swapJournalPath());
}

std::string SlotStore::slotPath(int i) const { return listPath + "\\" + std::to_string(i); }

std::string SlotStore::fileName(int i) const { return Storable::keyText(Storable::fnv1a(slotPath(i))); }

std::string SlotStore::swapJournalPath() const { return listPath + "\\swap"; }

std::string SlotStore::journalFileName() const { return Storable::keyText(Storable::fnv1a(swapJournalPath())); }

std::string SlotStore::fileContent(const std::string& name, const std::vector<uint8_t>& data) {
    std::string content = nameRecord(name, uint32_t(data.size()), uint32_t(data.size()));
    content.append(reinterpret_cast<const char*>(data.data()), data.size());
    return content;
}

bool SlotStore::load(int i, size_t maxSize, std::string& name, std::vector<uint8_t>& data) const {
    std::string content;
    if (!keyHeld[size_t(i)]) return false;
    // A committed swap that could not be finished stands as acknowledged: its slots show their staged
    // contents (an empty staged file is an empty slot), while every store is refused until it is finished.
    const bool swapped =
        (i == pendingSwap[0] || i == pendingSwap[1]) && Storage::loadFile(fileName(i) + stagedSuffix, content);
    if (swapped && content.empty()) return false;
    if (!swapped && !Storage::loadFile(fileName(i), content)) return false;
    const auto* bytes = reinterpret_cast<const uint8_t*>(content.data());
    const bool whole = content.size() >= size_t(nameRecordSize);
    const size_t used = whole ? content.size() - nameRecordSize : 0;
    if (!whole || !recordName(bytes, name) || name.empty() || used > maxSize || recordStored(bytes) != used) {
        LOGW(TAG, "%s: ignoring damaged slot file %s (slot %d)\n", listPath.c_str(), fileName(i).c_str(), i);
        return false;
    }
    data.assign(content.begin() + nameRecordSize, content.end());
    return true;
}

bool SlotStore::store(int i, const std::string& name, const std::vector<uint8_t>& data) {
    if (!keyHeld[size_t(i)] || !finishPendingSwap()) return false;
    if (name.empty()) return Storage::removeFile(fileName(i));
    return storeCounted(fileName(i), fileContent(name, data));
}

bool SlotStore::applyStaged(int i) {
    const std::string staged = fileName(i) + stagedSuffix;
    std::string content;
    if (!Storage::loadFile(staged, content)) return true; // in place already
    if (!content.empty()) return Storage::moveFile(staged, fileName(i));
    return Storage::removeFile(fileName(i)) && Storage::removeFile(staged);
}

bool SlotStore::finishPendingSwap() {
    if (pendingSwap[0] < 0) return true;
    if (!applyStaged(pendingSwap[0]) || !applyStaged(pendingSwap[1]) || !Storage::removeFile(journalFileName())) {
        LOGE(TAG, "%s: the swap of slots %d and %d cannot be finished; the list takes no change\n", listPath.c_str(),
             pendingSwap[0], pendingSwap[1]);
        return false;
    }
    pendingSwap[0] = pendingSwap[1] = -1;
    return true;
}

bool SlotStore::storeSwap(int i, int j, const NodeListElement& first, const NodeListElement& second) {
    if (!keyHeld[size_t(i)] || !keyHeld[size_t(j)] || !journalKeyHeld || !finishPendingSwap()) return false;
    const std::string journal = journalFileName();
    auto stagedContent = [](const NodeListElement& element) {
        return element.name.empty() ? std::string() : fileContent(element.name, *element.data);
    };
    const bool staged = storeCounted(fileName(i) + stagedSuffix, stagedContent(second)) &&
                        storeCounted(fileName(j) + stagedSuffix, stagedContent(first));
    // The journal is the commit: before it the old files stand, after it the next start finishes the swap.
    if (!staged || !storeCounted(journal, std::to_string(i) + " " + std::to_string(j) + "\n")) {
        Storage::removeFile(fileName(i) + stagedSuffix);
        Storage::removeFile(fileName(j) + stagedSuffix);
        return false;
    }
    // Committed: the swap stands whatever follows. Should a step after the commit fail, the journal stays
    // and every later store of this list finishes the swap first (or is refused), so that the next start
    // cannot replay the staged files over a newer upload.
    pendingSwap[0] = i;
    pendingSwap[1] = j;
    finishPendingSwap();
    return true;
}

void SlotStore::removeTemporaryFiles() {
    // A store cut short leaves a temporary file: the slot's, a staged file's or the journal's own.
    Storage::removeFile(journalFileName() + temporarySuffix);
    for (int k = 0; k < count; ++k) {
        if (!keyHeld[size_t(k)]) continue;
        Storage::removeFile(fileName(k) + temporarySuffix);
        Storage::removeFile(fileName(k) + stagedSuffix + temporarySuffix);
    }
}

void SlotStore::recoverSwap() {
    if (!journalKeyHeld) return;
    removeTemporaryFiles();
    const std::string journal = journalFileName();
    std::string text;
    int i = -1, j = -1;
    if (Storage::loadFile(journal, text) && std::sscanf(text.c_str(), "%d %d", &i, &j) == 2 && i >= 0 && i < count &&
        j >= 0 && j < count && keyHeld[size_t(i)] && keyHeld[size_t(j)]) {
        LOGW(TAG, "%s: finishing the interrupted swap of slots %d and %d\n", listPath.c_str(), i, j);
        pendingSwap[0] = i;
        pendingSwap[1] = j;
        if (!finishPendingSwap()) return; // the journal stays for a later store or the next start
    }
    Storage::removeFile(journal);
    // Staged files without a journal belong to a swap that never committed.
    for (int k = 0; k < count; ++k) {
        if (keyHeld[size_t(k)]) Storage::removeFile(fileName(k) + stagedSuffix);
    }
}
