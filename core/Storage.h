#pragma once
// Persisted node values. The product code opts a node in with Storage::addItem(node) once the node is built
// (any Node is a Storable). Layout: <home>/storage/<KEY>, KEY the 32-bit FNV-1a of the node's path as 8
// upper-case hexadecimal digits, the file holding the node's level-0 body {"value":...} (a secret's real
// value included). Writes are atomic: a temporary file, fsync, rename, fsync of the folder, so power-off
// leaves either the old or the new file.
//
// Loss window: the sweep writes the first change after a quiet spell at its next call (10 ms) and then one
// changed item every 0.5 s, so after n items changed at once the last one is on disk some n x 0.5 s later. An
// orderly end (finish) writes what is still waiting; only a power cut or a kill -9 within that window loses
// those values, and then each file holds its previous value. Slot files are written at once.
#include <cstdint>
#include <string>

#include "core/Storable.h"

class Storage {
public:
    // Registers an item: derives its key, restores its stored value through the item's own setter (a
    // stored value replaces the default; without a file the current value is written at once; an
    // unreadable or malformed file is ignored and left alone) and appends it once to the sweep.
    // A key that another item already holds is refused with an error line (false); neither file is
    // touched. Safe to call from any thread, also after the threads run.
    static bool addItem(Storable* item);
    // The same collision check for objects that keep their own files (a slot list claims one key per slot):
    // false, with an error line, when an item or another path holds the key. Objects of the same path share
    // the key (and its file); each claim is given back with releaseKey.
    static bool claimKey(const std::string& path);
    static void releaseKey(const std::string& path);
    // One step of the sweep: writes at most one changed item every 50 calls (on "eventTasks", every 10 ms).
    // A failed write leaves the old file and keeps the item changed, so a later step retries it.
    static void tasks();
    // For an orderly end of the process: waits for a write in progress, writes every changed item while
    // timeLimitMs allows, and closes the storage, so that nothing is written (and no file is left half
    // replaced) once it returns; later writes are refused. Returns the number of changed items left unwritten.
    static int finish(int timeLimitMs);
    // <home>/storage
    static std::string folder();
    // Number of registered items.
    static int itemCount();

    // Whole files in the storage folder for objects that keep their own files (slot lists), written at once
    // with the same atomic replace. storeFile is false (old file kept) on failure; loadFile false when the
    // file is missing or unreadable; removeFile true when the file is gone afterwards, moveFile true when
    // `from` has replaced `to` in one step. Removals and moves are made durable with a folder sync too.
    static bool storeFile(const std::string& name, const std::string& data);
    static bool loadFile(const std::string& name, std::string& data);
    static bool removeFile(const std::string& name);
    static bool moveFile(const std::string& from, const std::string& to);

    // Called with the file's name after every completed store, move or removal of a whole file (null: none).
    // A test ends the process there to act out a power cut between two steps of a multi-file change.
    static void setFileStepObserver(void (*observer)(const std::string& name));

private:
    static bool writeItem(Storable* item);
    // writeItem for a caller that holds the write gate.
    static bool writeOpenItem(Storable* item);
};
