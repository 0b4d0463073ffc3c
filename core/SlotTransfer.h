#pragma once
#include <cstdint>
#include <memory>
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
// Every piece of transfer state belongs to one client, so that clients never mix each other's transfers: the
// upload in progress and its status (Upload) and the download copy (ReadCopy). The caller keeps them, one
// of each per client; the list only keeps a pair of its own for callers without a client of their own. What
// belongs to the list is the slots themselves, their versions and the commit, which stores one client's name
// and data as one change.
//
// Threads: any thread may run an upload chunk or a read, each with its own client state.
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

    struct InflaterEnd {
        void operator()(z_stream_s* stream) const;
    };
    // One client's upload: the name record's announcement and the data so far, and the status its "dwrite"
    // replies report. A client keeps one upload, whichever list it writes; chunk 0 of another starts over.
    struct Upload {
        const SlotTransfer* transfer = nullptr;
        int index = -1;
        int chunk = -1;
        std::string name;
        uint32_t transferred = 0; // bytes of the stream announced in the name record
        uint32_t stored = 0;      // bytes the slot will hold (announced)
        uint32_t received = 0;
        std::vector<uint8_t> data;
        std::unique_ptr<z_stream_s, InflaterEnd> inflater;
        bool streamEnded = false; // the gzip stream's trailer has been read
        // The last accepted chunk, or the final one after a commit; -1 before any and after an abort.
        int statusIndex = -1;
        int statusChunk = -1;
    };

    SlotTransfer(Slots& slots, std::string listPath, int size, int count, int chunkSize, bool compressed);
    ~SlotTransfer();
    SlotTransfer(const SlotTransfer&) = delete;
    SlotTransfer& operator=(const SlotTransfer&) = delete;

    // One upload chunk of a client: path:{"index":i,"chunk":c,"value":"hex"}; false when the write was
    // aborted, after one log line that says why. committed tells whether this chunk completed and committed
    // the upload (the caller notifies).
    bool parseWriteJSON(const std::string& text, Upload& upload, bool& committed) const;
    std::string writeStatusJSON(const Upload& upload) const;
    // The same with the list's own upload.
    bool parseWriteJSON(const std::string& text, bool& committed);
    std::string writeStatusJSON() const;
    std::optional<std::string> parseReadJSON(const std::string& text, ReadCopy& copy, bool mayCopy, bool& copied) const;
    std::string parseReadJSON(const std::string& text);
    // The two indexes of path:{"index":i,"index2":j}; false for a malformed request.
    static bool parseSwapRequest(const std::string& text, int& i, int& j);

private:
    // Each gives nullptr when the chunk is taken, else why it is refused.
    const char* acceptChunk(Upload& upload, int index, int chunk, const std::vector<uint8_t>& bytes) const;
    const char* startUpload(Upload& upload, int index, const std::vector<uint8_t>& record) const;
    const char* appendData(Upload& upload, const std::vector<uint8_t>& bytes) const;
    // Commits the finished upload; false after one log line that says why not.
    bool finishUpload(Upload& upload) const;
    bool holdsCopy(const ReadCopy& copy, int index) const;
    // True when chunk 0 of index cannot be served from copy.
    bool needsNewCopy(const ReadCopy& copy, int index) const;
    void takeCopy(ReadCopy& copy, int index) const;

    Slots& slots;
    const std::string listPath;
    const int size;
    const int count;
    const int chunkSize;
    const bool compressed;

    mutable std::mutex transferLock; // guards ownUpload and ownCopy
    Upload ownUpload;
    ReadCopy ownCopy;
};
