#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/Node.h"
#include "core/NodeListElement.h"
#include "core/SlotStore.h"
#include "core/SlotTransfer.h"

// A fixed number of named data slots of a fixed size (presets, impulse responses, models). A slot whose name
// is empty is empty. Names are unique among the filled slots and at most 63 bytes long; a new name may not
// contain reservedNameText (a name stored before that rule still loads and may be kept).
//
// Every change is stored at once in its slot file (SlotStore: one file per filled slot, swaps atomic across a
// power cut). A change that cannot be stored is refused and the slot keeps its old contents; a slot whose
// storage key another owner holds stays empty and refuses writes.
//
// A list may have a content check (setValidator): new data that fails it is refused before anything is
// replaced, with one log line naming the list, the slot and the reason.
//
// Remote transfer ("dwrite", "dread", "dswap") runs through the list's SlotTransfer: chunk 0 is the 128-byte
// name record, the chunks after it the data (gzip-compressed for a compressing list). See docs/nodes.md.
//
// Threads: any thread may call any operation; slot state sits behind the list's lock, readers get immutable
// buffers (dataAt) and a version (versionAt) that changes at every commit, rename, delete or swap.
class NodeList : public Node, private SlotTransfer::Slots {
public:
    static constexpr int nameRecordSize = SlotStore::nameRecordSize;
    static constexpr int maxNameLength = SlotStore::maxNameLength;
    static constexpr int maxChunkSize = 4096;
    // Text that a new slot name may not contain: a preset name holding it would read as a save request.
    static constexpr const char* reservedNameText = "\",\"save\":\"save";

    // Checks a slot's new data; false with the reason for data the list's user cannot use. Runs on the
    // thread that commits (a transport's), so it must be cheap: parse and shape checks only.
    using Validator = std::function<bool(const std::vector<uint8_t>& data, std::string& reason)>;

    // Transfer chunk of 128 bytes, no compression.
    NodeList(Node* parent, const char* key, const char* displayName, const char* itemType, int size, int count);
    // chunkSize is kept within 16..4096 so that a request fits the transports' buffers.
    NodeList(Node* parent, const char* key, const char* displayName, const char* itemType, int size, int count,
             int chunkSize, bool compressed);
    ~NodeList() override;

    // Set once while the tree is built, before any transport runs.
    void setValidator(Validator check) { validator = std::move(check); }

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
    // whole slot (getSize() bytes); null means no data. Refused (false) for a bad index, an empty, too long or
    // reserved name, a name another slot has, more data than the slot holds, or data the validator refuses.
    bool setElementAt(int i, const std::string& name, const void* data);
    bool setElementAt(int i, const std::string& name, const void* data, size_t length);
    // Renames a filled slot when no other slot has that name.
    bool setNameAt(int i, const std::string& name);
    // Empties slot i.
    bool deleteAt(int i);
    // Exchanges two slots' contents.
    bool swap(int i, int j);

    // One client's upload (its chunks so far and its status), kept by the client.
    using Upload = SlotTransfer::Upload;
    // One upload chunk of the client whose upload this is: path:{"index":i,"chunk":c,"value":"hex"}; false
    // when the write was aborted. A commit stores that client's name and data and notifies.
    bool parseWriteJSON(const std::string& text, Upload& upload);
    // path:{"index":i,"chunk":c}: the last accepted chunk of the client's write in progress, or the final chunk
    // after a commit; -1,-1 before any write to this list and after an abort.
    std::string writeStatusJSON(const Upload& upload) const;
    // The same with the list's own upload, for a caller that is the only writer.
    bool parseWriteJSON(const std::string& text);
    std::string writeStatusJSON() const;
    // What one client downloads from (a snapshot of one slot kept across the chunks of one download).
    using ReadCopy = SlotTransfer::ReadCopy;

    // From path:{"index":i,"chunk":c}: "dread " and path:{"index":i,"size":n,"chunk":c,"value":"hex"}; "" for a
    // malformed request or a bad index. Chunk 0 takes a new snapshot into copy when the slot changed since
    // (or copy holds another slot); a later chunk reads the snapshot copy holds of that slot, and is answered
    // "" when it holds none (the client starts over at chunk 0). Taking a snapshot compresses a whole slot; with mayCopy false a read that would
    // take one is not run and gives nullopt. copied tells whether this read took one.
    std::optional<std::string> parseReadJSON(const std::string& text, ReadCopy& copy, bool mayCopy, bool& copied);
    // The same from the list's own copy, for a caller that is the only reader.
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

    static bool validName(const std::string& name);
    // A valid name that is not reserved, or the name slot i already has.
    bool acceptableName(int i, const std::string& name) const;
    // True when the validator (if any) takes the data; otherwise logs why and gives the reason.
    bool checkContent(int i, const std::string& name, const std::vector<uint8_t>& data, std::string& reason) const;
    // Replaces slot i (name "" empties it): checks the name against the other slots, stores the file, then
    // publishes. The caller holds fileLock and notifies after releasing its locks.
    bool replaceLocked(int i, const std::string& name, NodeListElement::Data data);
    void load();

    NodeListElement transferElement(int i) const override { return elementAt(i); }
    uint32_t transferVersion(int i) const override { return versionAt(i); }
    bool admitsName(int i, const std::string& name) const override;
    bool commitUpload(int i, const std::string& name, std::vector<uint8_t> data) override;

    const std::string itemType;
    const int size;
    const int count;
    const int chunkSize;
    const bool compressed;
    std::atomic<int> group{0};
    Validator validator;

    mutable std::mutex slotLock; // guards slots and versionCounter
    std::vector<Slot> slots;
    uint32_t versionCounter = 0;
    // Serialises file writes with their publication, so the files end in the order memory did; guards store.
    std::mutex fileLock;
    SlotStore store;
    SlotTransfer transfer;
};
