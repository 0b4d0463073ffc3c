#pragma once
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/NodeListElement.h"

struct z_stream_s;

// The remote transfer of a list's slots ("dwrite", "dread", "dswap"). Chunk 0 is the slot's name record (see
// SlotStore); chunk c >= 1 carries bytes [(c-1)*chunk, c*chunk) of the transferred stream, which for a
// compressing list is a gzip stream of the data. See docs/nodes.md.
//
// Threads: any thread may run an upload chunk or a read; one upload per list is in progress at a time.
class SlotTransfer {
public:
    // What a transfer needs of the list whose slots it moves.
    class Slots {
    public:
        virtual NodeListElement transferElement(int i) const = 0;
        virtual uint32_t transferVersion(int i) const = 0;
        // True when slot i may take that name (valid, not reserved unless slot i has it, no other slot's).
        virtual bool admitsName(int i, const std::string& name) const = 0;
        // Checks and stores an uploaded slot; false after one log line that says why not. Does not notify.
        virtual bool commitUpload(int i, const std::string& name, std::vector<uint8_t> data) = 0;

    protected:
        ~Slots() = default;
    };

    // What one client downloads from: a snapshot of one slot (its name, stored length and transferred stream)
    // taken at chunk 0 and kept for the chunks after it, so a download is one version even while the slot
    // changes. A client keeps one copy, whichever list it reads.
    struct ReadCopy {
        const SlotTransfer* transfer = nullptr;
        int index = -1;
        uint32_t version = 0;
        std::string name;
        NodeListElement::Data stream;
        uint32_t storedLength = 0;
    };

    SlotTransfer(Slots& slots, std::string listPath, int size, int count, int chunkSize, bool compressed);
    ~SlotTransfer();
    SlotTransfer(const SlotTransfer&) = delete;
    SlotTransfer& operator=(const SlotTransfer&) = delete;

    // One upload chunk: path:{"index":i,"chunk":c,"value":"hex"}; false when the write was aborted. committed
    // tells whether this chunk completed and committed the upload (the caller notifies).
    bool parseWriteJSON(const std::string& text, bool& committed);
    std::string writeStatusJSON() const;
    std::optional<std::string> parseReadJSON(const std::string& text, ReadCopy& copy, bool mayCopy, bool& copied) const;
    std::string parseReadJSON(const std::string& text);
    // The two indexes of path:{"index":i,"index2":j}; false for a malformed request.
    static bool parseSwapRequest(const std::string& text, int& i, int& j);

private:
    // The upload in progress.
    struct Upload {
        int index = -1;
        int chunk = -1;
        std::string name;
        uint32_t transferred = 0; // bytes of the stream announced in the name record
        uint32_t stored = 0;      // bytes the slot will hold (announced)
        uint32_t received = 0;
        std::vector<uint8_t> data;
        z_stream_s* inflater = nullptr;
        bool streamEnded = false; // the gzip stream's trailer has been read
    };

    bool acceptChunk(int index, int chunk, const std::vector<uint8_t>& bytes);
    bool startUpload(int index, const std::vector<uint8_t>& record);
    bool appendData(const std::vector<uint8_t>& bytes);
    // Commits the finished upload; false after one log line that says why not.
    bool finishUpload();
    void abortUpload();
    void endInflater();
    // True when a read of index at chunk cannot be served from copy.
    bool needsNewCopy(const ReadCopy& copy, int index, int chunk) const;
    void takeCopy(ReadCopy& copy, int index) const;

    Slots& slots;
    const std::string listPath;
    const int size;
    const int count;
    const int chunkSize;
    const bool compressed;

    mutable std::mutex transferLock; // guards upload, status and ownCopy
    Upload upload;
    int statusIndex = -1;
    int statusChunk = -1;
    ReadCopy ownCopy;
};
