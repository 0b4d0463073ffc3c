#include "core/Storage.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <mutex>
#include <shared_mutex>
#include <sstream>
#include <unistd.h>
#include <unordered_map>
#include <vector>

#include "porting/Log.h"
#include "core/Node.h"
#include "porting/Paths.h"

namespace {
const char* TAG = "Storage";
constexpr int callsPerWrite = 50;

// Who holds a key: a registered item, or (item null) the objects that keep their own file under that path.
// Objects of one path share its file, as a tree built twice does; only another path is a collision.
struct KeyOwner {
    const Storable* item;
    std::string path;
    int fileClaims;
};

// The registry lives as long as the process and is never destroyed: a polling thread may still sweep while
// the process ends.
std::mutex& registryLock = *new std::mutex;
std::vector<Storable*>& items = *new std::vector<Storable*>;                                  // guarded by registryLock
std::unordered_map<uint32_t, KeyOwner>& owners = *new std::unordered_map<uint32_t, KeyOwner>; // same
size_t sweepCursor = 0;                                                                       // guarded by registryLock
int callsSinceWrite = 0;                                                                      // guarded by registryLock

// Secrets (passwords) are stored in plain text: only the pedal's own user may read them or list the folder.
constexpr mode_t secretFileMode = 0600;
constexpr mode_t fileMode = 0644;
constexpr mode_t folderMode = 0700;

bool isSecret(const Storable* item) {
    auto* node = dynamic_cast<const Node*>(item);
    return node && node->isSecret();
}

mode_t modeOf(const Storable* item) { return isSecret(item) ? secretFileMode : fileMode; }

// Every file write holds the gate shared; finish holds it exclusively, so it waits for the writes in progress
// and no write starts after the storage is closed.
std::shared_mutex& writeGate = *new std::shared_mutex;
bool closed = false; // guarded by writeGate
std::atomic<void (*)(const std::string&)> fileStepObserver{nullptr};

void fileStepDone(const std::string& name) {
    if (auto observer = fileStepObserver.load(std::memory_order_acquire)) observer(name);
}

// Makes a rename or removal in the folder durable. Some file systems cannot sync a folder (EINVAL); their
// renames are as durable as they get.
bool syncFolder(const std::string& folder) {
    int directory = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0) return false;
    const bool synced = ::fsync(directory) == 0 || errno == EINVAL;
    ::close(directory);
    return synced;
}

// Takes the key for an item, or (item null) for a file of that path; false with an error line when it is
// held otherwise. Caller holds registryLock.
bool claimLocked(uint32_t key, const std::string& path, const Storable* item) {
    auto found = owners.find(key);
    if (found == owners.end()) {
        owners.emplace(key, KeyOwner{item, path, item ? 0 : 1});
        return true;
    }
    KeyOwner& owner = found->second;
    if (item && owner.item == item) return true;
    if (!item && !owner.item && owner.path == path) {
        ++owner.fileClaims;
        return true;
    }
    LOGE(TAG, "Key %s of %s is taken by %s; not stored\n", Storable::keyText(key).c_str(), path.c_str(),
         owner.path.c_str());
    return false;
}

bool ensureFolder(const std::string& folder) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        LOGE(TAG, "Cannot create %s: %s\n", folder.c_str(), error.message().c_str());
        return false;
    }
    // A folder made by an older version is narrowed too.
    ::chmod(folder.c_str(), folderMode);
    return true;
}

bool writeAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += size_t(n);
    }
    return true;
}

// Temporary file, fsync, rename over the old file, fsync of the folder: after a power cut the key holds
// either the old or the new body, never a torn one.
bool writeFileAtomically(const std::string& folder, const std::string& file, const std::string& data, mode_t mode) {
    const std::string temporary = file + ".tmp";
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) return false;
    // A temporary file left by an earlier run keeps its old mode through open: set it before the data.
    bool written = ::fchmod(fd, mode) == 0 && writeAll(fd, data) && ::fsync(fd) == 0;
    written = ::close(fd) == 0 && written;
    if (!written || ::rename(temporary.c_str(), file.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        errno = error;
        return false;
    }
    syncFolder(folder);
    return true;
}

enum class ReadResult { Missing, Unreadable, Read };

ReadResult readFile(const std::string& file, std::string& content) {
    std::error_code error;
    if (!std::filesystem::exists(file, error)) return error ? ReadResult::Unreadable : ReadResult::Missing;
    std::ifstream in(file, std::ios::binary);
    if (!in) return ReadResult::Unreadable;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) return ReadResult::Unreadable;
    content = buffer.str();
    return ReadResult::Read;
}
}

std::string Storage::folder() { return homePath() + "/storage"; }

int Storage::itemCount() {
    std::lock_guard<std::mutex> guard(registryLock);
    return int(items.size());
}

bool Storage::addItem(Storable* item) {
    if (!item) return false;
    const std::string path = item->storagePath();
    const uint32_t key = Storable::fnv1a(path);
    {
        std::lock_guard<std::mutex> guard(registryLock);
        auto owner = owners.find(key);
        if (owner != owners.end() && owner->second.item == item) return true;
        if (!claimLocked(key, path, item)) return false;
        item->storageKey.store(key, std::memory_order_relaxed);
    }

    // The restore runs the item's setter and so its callback: never under the registry lock.
    const std::string directory = folder();
    ensureFolder(directory);
    const std::string file = directory + "/" + Storable::keyText(key);
    std::string body;
    switch (readFile(file, body)) {
    case ReadResult::Read:
        // A secret stored by an older version may still be readable by others.
        if (isSecret(item)) ::chmod(file.c_str(), secretFileMode);
        if (!item->restoreStorageBody(body)) {
            LOGW(TAG, "Ignoring unreadable %s (%s)\n", file.c_str(), path.c_str());
            item->storedBodyUnreadable();
        } else if (item->storageBody() != body) {
            // The object took another value than the stored one (a selection whose slot is gone): store what
            // it holds, so the next start does not meet the old text again.
            writeItem(item);
            break;
        }
        item->syncState.store(int(Storable::SyncState::Clean), std::memory_order_release);
        break;
    case ReadResult::Unreadable:
        LOGW(TAG, "Ignoring unreadable %s (%s)\n", file.c_str(), path.c_str());
        item->storedBodyUnreadable();
        item->syncState.store(int(Storable::SyncState::Clean), std::memory_order_release);
        break;
    case ReadResult::Missing:
        writeItem(item);
        break;
    }

    std::lock_guard<std::mutex> guard(registryLock);
    items.push_back(item);
    return true;
}

bool Storage::claimKey(const std::string& path) {
    std::lock_guard<std::mutex> guard(registryLock);
    return claimLocked(Storable::fnv1a(path), path, nullptr);
}

void Storage::releaseKey(const std::string& path) {
    std::lock_guard<std::mutex> guard(registryLock);
    auto found = owners.find(Storable::fnv1a(path));
    if (found == owners.end() || found->second.item || found->second.path != path) return;
    if (--found->second.fileClaims == 0) owners.erase(found);
}

bool Storage::writeItem(Storable* item) {
    std::shared_lock<std::shared_mutex> gate(writeGate);
    if (closed) return false;
    return writeOpenItem(item);
}

bool Storage::writeOpenItem(Storable* item) {
    // Clean before the body is read: a change during the write marks the item dirty again.
    item->syncState.store(int(Storable::SyncState::Clean), std::memory_order_release);
    const std::string directory = folder();
    const std::string file = directory + "/" + item->getStorageKeyText();
    if (!ensureFolder(directory) || !writeFileAtomically(directory, file, item->storageBody(), modeOf(item))) {
        item->syncState.store(int(Storable::SyncState::Dirty), std::memory_order_release);
        LOGE(TAG, "Cannot write %s (%s): %s\n", file.c_str(), item->storagePath().c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

void Storage::tasks() {
    Storable* next = nullptr;
    {
        std::lock_guard<std::mutex> guard(registryLock);
        // The count stays at its limit while nothing is dirty, so the first change after a quiet spell is
        // written at the next call; later ones wait their 50 calls.
        if (callsSinceWrite < callsPerWrite) ++callsSinceWrite;
        if (callsSinceWrite < callsPerWrite || items.empty()) return;
        for (size_t k = 0; k < items.size(); ++k) {
            size_t index = (sweepCursor + k) % items.size();
            if (items[index]->getSyncState() == Storable::SyncState::Dirty) {
                next = items[index];
                sweepCursor = index + 1;
                break;
            }
        }
        if (!next) return;
        callsSinceWrite = 0;
    }
    writeItem(next);
}

int Storage::finish(int timeLimitMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeLimitMs);
    std::unique_lock<std::shared_mutex> gate(writeGate);
    closed = true;
    std::vector<Storable*> registered;
    {
        std::lock_guard<std::mutex> guard(registryLock);
        registered = items;
    }
    int left = 0;
    for (Storable* item : registered) {
        if (item->getSyncState() != Storable::SyncState::Dirty) continue;
        if (std::chrono::steady_clock::now() >= deadline || !writeOpenItem(item)) ++left;
    }
    if (left > 0) LOGE(TAG, "%d changed values not stored at the end\n", left);
    return left;
}

void Storage::setFileStepObserver(void (*observer)(const std::string& name)) {
    fileStepObserver.store(observer, std::memory_order_release);
}

bool Storage::storeFile(const std::string& name, const std::string& data) {
    std::shared_lock<std::shared_mutex> gate(writeGate);
    if (closed) return false;
    const std::string directory = folder();
    if (!ensureFolder(directory)) return false;
    if (!writeFileAtomically(directory, directory + "/" + name, data, fileMode)) {
        LOGE(TAG, "Cannot write %s/%s: %s\n", directory.c_str(), name.c_str(), std::strerror(errno));
        return false;
    }
    fileStepDone(name);
    return true;
}

bool Storage::loadFile(const std::string& name, std::string& data) {
    return readFile(folder() + "/" + name, data) == ReadResult::Read;
}

bool Storage::removeFile(const std::string& name) {
    std::shared_lock<std::shared_mutex> gate(writeGate);
    if (closed) return false;
    const std::string directory = folder();
    std::error_code error;
    // Without the folder sync a removed file can come back after a power cut.
    const bool removed = std::filesystem::remove(directory + "/" + name, error);
    if (removed && !syncFolder(directory)) error = std::error_code(errno, std::generic_category());
    if (error) {
        LOGE(TAG, "Cannot remove %s/%s: %s\n", directory.c_str(), name.c_str(), error.message().c_str());
        return false;
    }
    if (removed) fileStepDone(name);
    return true;
}

bool Storage::moveFile(const std::string& from, const std::string& to) {
    std::shared_lock<std::shared_mutex> gate(writeGate);
    if (closed) return false;
    const std::string directory = folder();
    if (::rename((directory + "/" + from).c_str(), (directory + "/" + to).c_str()) != 0 || !syncFolder(directory)) {
        LOGE(TAG, "Cannot move %s/%s to %s: %s\n", directory.c_str(), from.c_str(), to.c_str(), std::strerror(errno));
        return false;
    }
    fileStepDone(to);
    return true;
}
