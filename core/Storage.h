#pragma once
// Persisted node values. The product code opts a node in with Storage::addItem(node) once the node is built
// (any Node is a Storable). Layout: <home>/storage/<KEY>, KEY the 32-bit FNV-1a of the node's path as 8
// upper-case hexadecimal digits, the file holding the node's level-0 body {"value":...} (a secret's real
// value included). Writes are atomic: a temporary file, fsync, rename, fsync of the folder, so power-off
// leaves either the old or the new file.
#include <string>

#include "Storable.h"

class Storage {
public:
    // Registers an item: derives its key, restores its stored value through the item's own setter (a
    // stored value replaces the default; without a file the current value is written at once; an
    // unreadable or malformed file is ignored and left alone) and appends it once to the sweep.
    // A key that another item already holds is refused with an error line (false); neither file is
    // touched. Safe to call from any thread, also after the threads run.
    static bool addItem(Storable* item);
    // One step of the sweep: writes at most one changed item every 50 calls (on "eventTasks", every 10 ms).
    // A failed write leaves the old file and keeps the item changed, so a later step retries it.
    static void tasks();
    // <home>/storage
    static std::string folder();
    // Number of registered items.
    static int itemCount();

    // Whole files in the storage folder for objects that keep their own files (slot lists), written at once
    // with the same atomic replace. storeFile is false (old file kept) on failure; loadFile false when the
    // file is missing or unreadable; removeFile true when the file is gone afterwards.
    static bool storeFile(const std::string& name, const std::string& data);
    static bool loadFile(const std::string& name, std::string& data);
    static bool removeFile(const std::string& name);

private:
    static bool writeItem(Storable* item);
};
