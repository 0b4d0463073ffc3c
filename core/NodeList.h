#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Node.h"
#include "NodeListElement.h"

struct z_stream_s;

// A fixed number of named data slots of a fixed size (presets, impulse responses, models). A slot whose name
// is empty is empty. Names are unique among the filled slots and at most 63 bytes long.
//
// Every change is stored at once in <home>/storage/<KEY>, KEY the FNV-1a of the list path, "\\" and the index:
// the 128-byte name record followed by the used bytes; an empty slot has no file. A change that cannot be
// stored is refused and the slot keeps its old contents.
//
// Remote transfer ("dwrite", "dread", "dswap"): chunk 0 is the 128-byte name record (the name NUL-padded in
// the first 64 bytes, then the transferred length and the stored length as 32-bit little-endian numbers, the
// rest zero); chunk c >= 1 carries bytes [(c-1)*chunk, c*chunk) of the transferred stream, which for a
// compressing list is a gzip stream of the data. See docs/nodes.md.
//
// Threads: any thread may call any operation; slot state sits behind the list's lock, readers get immutable
// buffers (dataAt) and a version (versionAt) that changes at every commit, rename, delete or swap.
class NodeList : public Node {
public:
    static constexpr int nameRecordSize = 128;
    static constexpr int maxNameLength = 63;
    static constexpr int maxChunkSize = 4096;

    // Transfer chunk of 128 bytes, no compression.
    NodeList(Node* parent, const char* key, const char* displayName, const char* itemType, int size, int count);
    // chunkSize is kept within 16..4096 so that a request fits the transports' buffers.
    NodeList(Node* parent, const char* key, const char* displayName, const char* itemType, int size, int count,
             int chunkSize, bool compressed);
    ~NodeList() override;

    void setGroup(int group) { this->group.store(group < 0 ? 0 : group, std::memory_order_relaxed); }
    int getGroup() const { return group.load(std::memory_order_relaxed); }
    int getElementCount() const { return count; }
    int getSize() const { return size; }
    int getChunkSize() const { return chunkSize; }
    bool isCompressed() const { return compressed; }
    const char* getItemType() const { return itemType.c_str(); }

    // "" for an empty slot or a bad index.
    std::string nameAt(int i) const;
    // Index of the filled slot with that name; -1 for "" or none.
    int indexOf(const std::string& name) const;
    NodeListElement elementAt(int i) const;
    // Never null (an empty buffer for an empty slot or a bad index).
    NodeListElement::Data dataAt(int i) const;
    // 0 for a bad index.
    uint32_t versionAt(int i) const;

    // Writes name and data into slot i, stores it and notifies. With three arguments a non-null data holds a
    // whole slot (getSize() bytes); null means no data. Refused (false) for a bad index, an empty or too long
    // name, a name another slot has, or more data than the slot holds.
    bool setElementAt(int i, const std::string& name, const void* data);
    bool setElementAt(int i, const std::string& name, const void* data, size_t length);
    // Renames a filled slot when no other slot has that name.
    bool setNameAt(int i, const std::string& name);
    // Empties slot i.
    bool deleteAt(int i);
    // Exchanges two slots' contents.
    bool swap(int i, int j);

    // One upload chunk: path:{"index":i,"chunk":c,"value":"hex"}; false when the write was aborted.
    bool parseWriteJSON(const std::string& text);
    // path:{"index":i,"chunk":c}: the last accepted chunk of the write in progress, or the final chunk after a
    // commit; -1,-1 before any write and after an abort.
    std::string writeStatusJSON() const;
    // From path:{"index":i,"chunk":c}: "dread " and path:{"index":i,"size":n,"chunk":c,"value":"hex"}; "" for a
    // malformed request or a bad index.
    std::string parseReadJSON(const std::string& text);
    // From path:{"index":i,"index2":j}.
    bool parseSwapJSON(const std::string& text);

    const char* getType() const override { return "list"; }

protected:
    // The value is the array of slot names; writes are refused.
    void valueToJSON(nlohmann::ordered_json& body, bool reveal) const override;
    void membersToJSON(nlohmann::ordered_json& body) const override;
    bool valueFromJSON(const nlohmann::json& body) override;

private:
    struct Slot {
        std::string name;
        NodeListElement::Data data;
        uint32_t version = 0;
    };
    // The upload in progress; only one per list.
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
    // The stream "dread" serves, kept from chunk 0 or 1 so that later chunks come from one consistent copy.
    struct ReadCopy {
        int index = -1;
        uint32_t version = 0;
        std::string name;
        NodeListElement::Data stream;
        uint32_t storedLength = 0;
    };

    static bool validName(const std::string& name);
    // Replaces slot i (name "" empties it): checks the name against the other slots, stores the file, then
    // publishes. The caller holds fileLock and notifies after releasing its locks.
    bool replaceLocked(int i, const std::string& name, NodeListElement::Data data);
    bool storeSlotFile(int i, const std::string& name, const std::vector<uint8_t>& data);
    std::string fileName(int i) const;
    static std::string fileContent(const std::string& name, const std::vector<uint8_t>& data);
    static std::string nameRecord(const std::string& name, uint32_t transferred, uint32_t stored);
    void load();
    bool acceptChunk(int index, int chunk, const std::vector<uint8_t>& bytes);
    bool startUpload(int index, const std::vector<uint8_t>& record);
    bool appendData(const std::vector<uint8_t>& bytes);
    bool finishUpload();
    void abortUpload();
    void endInflater();
    // Refreshes readCopy for a read of index at chunk.
    void prepareReadCopy(int index, int chunk);

    const std::string itemType;
    const int size;
    const int count;
    const int chunkSize;
    const bool compressed;
    std::atomic<int> group{0};

    mutable std::mutex slotLock; // guards slots and versionCounter
    std::vector<Slot> slots;
    uint32_t versionCounter = 0;
    // Serialises file writes with their publication, so the files end in the order memory did.
    std::mutex fileLock;

    mutable std::mutex transferLock; // guards upload, status and readCopy
    Upload upload;
    int statusIndex = -1;
    int statusChunk = -1;
    ReadCopy readCopy;
};
