#include "NodeList.h"

#include <algorithm>
#include <cstring>

#include <nlohmann/json.hpp>
#include <zlib.h>

#include "JsonText.h"
#include "Log.h"
#include "Storage.h"

namespace {
const char* TAG = "NodeList";
constexpr int minChunkSize = 16;
constexpr int nameFieldSize = 64;
constexpr int transferredOffset = 64;
constexpr int storedOffset = 68;
const char* const stagedSuffix = ".swap";
// What Storage::storeFile writes before it renames the file into place.
const char* const temporarySuffix = ".tmp";

const NodeListElement::Data& emptyData() {
    static const NodeListElement::Data& empty = *new NodeListElement::Data(std::make_shared<const std::vector<uint8_t>>());
    return empty;
}

void putLittleEndian(std::string& out, size_t offset, uint32_t value) {
    for (int k = 0; k < 4; ++k) out[offset + size_t(k)] = char((value >> (8 * k)) & 0xFF);
}

uint32_t getLittleEndian(const uint8_t* bytes) {
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
}

std::string toHex(const uint8_t* bytes, size_t length) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out(length * 2, '0');
    for (size_t k = 0; k < length; ++k) {
        out[2 * k] = digits[bytes[k] >> 4];
        out[2 * k + 1] = digits[bytes[k] & 0x0F];
    }
    return out;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool fromHex(const std::string& text, std::vector<uint8_t>& out) {
    if (text.size() % 2 != 0) return false;
    out.resize(text.size() / 2);
    for (size_t k = 0; k < out.size(); ++k) {
        const int high = hexDigit(text[2 * k]), low = hexDigit(text[2 * k + 1]);
        if (high < 0 || low < 0) return false;
        out[k] = uint8_t(high << 4 | low);
    }
    return true;
}

// The JSON object after the first ':' of path:{...}; discarded when malformed.
nlohmann::json requestBody(const std::string& text) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos) return nlohmann::json(nlohmann::json::value_t::discarded);
    nlohmann::json body = nlohmann::json::parse(text.begin() + long(colon) + 1, text.end(), nullptr, false);
    if (!body.is_object()) return nlohmann::json(nlohmann::json::value_t::discarded);
    return body;
}

bool readInt(const nlohmann::json& body, const char* key, int& out) {
    auto found = body.find(key);
    if (found == body.end() || !found->is_number_integer()) return false;
    const int64_t value = found->get<int64_t>();
    if (value < INT32_MIN || value > INT32_MAX) return false;
    out = int(value);
    return true;
}

// gzip-wrapped deflate of the whole buffer.
std::vector<uint8_t> gzip(const std::vector<uint8_t>& data) {
    z_stream stream{};
    std::vector<uint8_t> out;
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) return out;
    out.resize(deflateBound(&stream, uLong(data.size())) + 32);
    stream.next_in = const_cast<Bytef*>(data.data());
    stream.avail_in = uInt(data.size());
    stream.next_out = out.data();
    stream.avail_out = uInt(out.size());
    const int result = deflate(&stream, Z_FINISH);
    out.resize(result == Z_STREAM_END ? stream.total_out : 0);
    deflateEnd(&stream);
    return out;
}
}

NodeList::NodeList(Node* parent, const char* key, const char* displayName, const char* itemType, int size, int count)
    : NodeList(parent, key, displayName, itemType, size, count, 128, false) {}

NodeList::NodeList(Node* parent, const char* key, const char* displayName, const char* itemType, int size, int count,
                   int chunkSize, bool compressed)
    : Node(parent, key, displayName),
      itemType(itemType ? itemType : ""),
      size(std::max(size, 0)),
      count(std::max(count, 0)),
      chunkSize(std::clamp(chunkSize, minChunkSize, maxChunkSize)),
      compressed(compressed),
      slots(size_t(this->count)) {
    for (Slot& slot : slots) slot.data = emptyData();
    for (int i = 0; i < this->count; ++i) keyHeld.push_back(Storage::claimKey(slotPath(i)));
    journalKeyHeld = Storage::claimKey(swapJournalPath());
    load();
}

NodeList::~NodeList() {
    endInflater();
    for (int i = 0; i < count; ++i) {
        if (keyHeld[size_t(i)]) Storage::releaseKey(slotPath(i));
    }
    if (journalKeyHeld) Storage::releaseKey(swapJournalPath());
}

std::string NodeList::slotPath(int i) const { return getPath() + "\\" + std::to_string(i); }

std::string NodeList::fileName(int i) const { return Storable::keyText(Storable::fnv1a(slotPath(i))); }

std::string NodeList::swapJournalPath() const { return getPath() + "\\swap"; }

std::string NodeList::nameRecord(const std::string& name, uint32_t transferred, uint32_t stored) {
    std::string record(nameRecordSize, '\0');
    std::memcpy(record.data(), name.data(), std::min(name.size(), size_t(maxNameLength)));
    putLittleEndian(record, transferredOffset, transferred);
    putLittleEndian(record, storedOffset, stored);
    return record;
}

std::string NodeList::fileContent(const std::string& name, const std::vector<uint8_t>& data) {
    std::string content = nameRecord(name, uint32_t(data.size()), uint32_t(data.size()));
    content.append(reinterpret_cast<const char*>(data.data()), data.size());
    return content;
}

void NodeList::load() {
    recoverSwap();
    for (int i = 0; i < count; ++i) {
        std::string content;
        if (!keyHeld[size_t(i)] || !Storage::loadFile(fileName(i), content)) continue;
        const auto* bytes = reinterpret_cast<const uint8_t*>(content.data());
        const size_t used = content.size() >= size_t(nameRecordSize) ? content.size() - nameRecordSize : 0;
        const void* end = content.size() >= size_t(nameRecordSize) ? std::memchr(bytes, 0, nameFieldSize) : nullptr;
        const std::string name = end ? std::string(content.data(), size_t(static_cast<const uint8_t*>(end) - bytes)) : "";
        // A damaged file is left alone for inspection; the slot stays empty.
        if (!end || name.empty() || used > size_t(size) || getLittleEndian(bytes + storedOffset) != used) {
            LOGW(TAG, "%s: ignoring damaged slot file %s (slot %d)\n", getPath().c_str(), fileName(i).c_str(), i);
            continue;
        }
        if (indexOf(name) >= 0) {
            LOGW(TAG, "%s: ignoring slot %d, its name '%s' is taken\n", getPath().c_str(), i, name.c_str());
            continue;
        }
        std::lock_guard<std::mutex> guard(slotLock);
        slots[size_t(i)] = {name, std::make_shared<const std::vector<uint8_t>>(content.begin() + nameRecordSize, content.end()),
                            ++versionCounter};
    }
}

std::string NodeList::nameAt(int i) const {
    std::lock_guard<std::mutex> guard(slotLock);
    return i >= 0 && i < count ? slots[size_t(i)].name : std::string();
}

int NodeList::indexOf(const std::string& name) const {
    if (name.empty()) return -1;
    std::lock_guard<std::mutex> guard(slotLock);
    for (int i = 0; i < count; ++i) {
        if (slots[size_t(i)].name == name) return i;
    }
    return -1;
}

NodeListElement NodeList::elementAt(int i) const {
    std::lock_guard<std::mutex> guard(slotLock);
    if (i < 0 || i >= count) return {"", emptyData(), 0};
    const Slot& slot = slots[size_t(i)];
    return {slot.name, slot.data, slot.version};
}

NodeListElement::Data NodeList::dataAt(int i) const { return elementAt(i).data; }

uint32_t NodeList::versionAt(int i) const {
    std::lock_guard<std::mutex> guard(slotLock);
    return i >= 0 && i < count ? slots[size_t(i)].version : 0;
}

bool NodeList::validName(const std::string& name) {
    return !name.empty() && name.size() <= size_t(maxNameLength) && name.find('\0') == std::string::npos;
}

bool NodeList::acceptableName(int i, const std::string& name) const {
    if (!validName(name)) return false;
    return name.find(reservedNameText) == std::string::npos || nameAt(i) == name;
}

bool NodeList::checkContent(int i, const std::string& name, const std::vector<uint8_t>& data, std::string& reason) const {
    if (!validator || validator(data, reason)) return true;
    LOGE(TAG, "%s: slot %d ('%s') refused: %s\n", getPath().c_str(), i, name.c_str(), reason.c_str());
    return false;
}

bool NodeList::storeSlotFile(int i, const std::string& name, const std::vector<uint8_t>& data) {
    if (!keyHeld[size_t(i)] || !finishPendingSwap()) return false;
    if (name.empty()) return Storage::removeFile(fileName(i));
    return Storage::storeFile(fileName(i), fileContent(name, data));
}

bool NodeList::replaceLocked(int i, const std::string& name, NodeListElement::Data data) {
    if (i < 0 || i >= count || !data || data->size() > size_t(size)) return false;
    if (!name.empty()) {
        const int owner = indexOf(name);
        if (!acceptableName(i, name) || (owner >= 0 && owner != i)) return false;
    }
    if (name.empty()) data = emptyData();
    if (!storeSlotFile(i, name, *data)) return false;
    std::lock_guard<std::mutex> guard(slotLock);
    slots[size_t(i)] = {name, std::move(data), ++versionCounter};
    return true;
}

bool NodeList::setElementAt(int i, const std::string& name, const void* data) {
    return setElementAt(i, name, data, data ? size_t(size) : 0);
}

bool NodeList::setElementAt(int i, const std::string& name, const void* data, size_t length) {
    if (!validName(name) || length > size_t(size) || (length > 0 && !data)) return false;
    const auto* bytes = static_cast<const uint8_t*>(data);
    auto buffer = std::make_shared<const std::vector<uint8_t>>(bytes, bytes + length);
    std::string reason;
    if (i < 0 || i >= count || !checkContent(i, name, *buffer, reason)) return false;
    {
        std::lock_guard<std::mutex> guard(fileLock);
        if (!replaceLocked(i, name, std::move(buffer))) return false;
    }
    notifyChange();
    return true;
}

bool NodeList::setNameAt(int i, const std::string& name) {
    if (!validName(name)) return false;
    {
        std::lock_guard<std::mutex> guard(fileLock);
        const NodeListElement current = elementAt(i);
        if (current.name.empty()) return false;
        if (current.name == name) return true;
        if (!replaceLocked(i, name, current.data)) return false;
    }
    notifyChange();
    return true;
}

bool NodeList::deleteAt(int i) {
    {
        std::lock_guard<std::mutex> guard(fileLock);
        if (i < 0 || i >= count) return false;
        if (nameAt(i).empty()) return true;
        if (!replaceLocked(i, "", emptyData())) return false;
    }
    notifyChange();
    return true;
}

bool NodeList::applyStaged(int i) {
    const std::string staged = fileName(i) + stagedSuffix;
    std::string content;
    if (!Storage::loadFile(staged, content)) return true; // in place already
    if (!content.empty()) return Storage::moveFile(staged, fileName(i));
    return Storage::removeFile(fileName(i)) && Storage::removeFile(staged);
}

std::string NodeList::journalFileName() const { return Storable::keyText(Storable::fnv1a(swapJournalPath())); }

bool NodeList::finishPendingSwap() {
    if (pendingSwap[0] < 0) return true;
    if (!applyStaged(pendingSwap[0]) || !applyStaged(pendingSwap[1]) || !Storage::removeFile(journalFileName())) {
        LOGE(TAG, "%s: the swap of slots %d and %d cannot be finished; the list takes no change\n", getPath().c_str(),
             pendingSwap[0], pendingSwap[1]);
        return false;
    }
    pendingSwap[0] = pendingSwap[1] = -1;
    return true;
}

bool NodeList::storeSwap(int i, int j, const NodeListElement& first, const NodeListElement& second) {
    if (!keyHeld[size_t(i)] || !keyHeld[size_t(j)] || !journalKeyHeld || !finishPendingSwap()) return false;
    const std::string journal = journalFileName();
    auto stagedContent = [](const NodeListElement& element) {
        return element.name.empty() ? std::string() : fileContent(element.name, *element.data);
    };
    const bool staged = Storage::storeFile(fileName(i) + stagedSuffix, stagedContent(second)) &&
                        Storage::storeFile(fileName(j) + stagedSuffix, stagedContent(first));
    // The journal is the commit: before it the old files stand, after it the next start finishes the swap.
    if (!staged || !Storage::storeFile(journal, std::to_string(i) + " " + std::to_string(j) + "\n")) {
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

void NodeList::recoverSwap() {
    if (!journalKeyHeld) return;
    const std::string journal = journalFileName();
    std::string text;
    int i = -1, j = -1;
    if (Storage::loadFile(journal, text) && std::sscanf(text.c_str(), "%d %d", &i, &j) == 2 && i >= 0 && i < count &&
        j >= 0 && j < count && keyHeld[size_t(i)] && keyHeld[size_t(j)]) {
        LOGW(TAG, "%s: finishing the interrupted swap of slots %d and %d\n", getPath().c_str(), i, j);
        pendingSwap[0] = i;
        pendingSwap[1] = j;
        if (!finishPendingSwap()) return; // the journal stays for a later store or the next start
    }
    Storage::removeFile(journal);
    // Staged files without a journal belong to a swap that never committed; a staged file whose store was
    // cut short is left as a temporary file.
    for (int k = 0; k < count; ++k) {
        if (!keyHeld[size_t(k)]) continue;
        Storage::removeFile(fileName(k) + stagedSuffix);
        Storage::removeFile(fileName(k) + stagedSuffix + temporarySuffix);
    }
}

bool NodeList::swap(int i, int j) {
    if (i < 0 || i >= count || j < 0 || j >= count) return false;
    if (i == j) return true;
    {
        std::lock_guard<std::mutex> guard(fileLock);
        const NodeListElement first = elementAt(i), second = elementAt(j);
        if (!storeSwap(i, j, first, second)) return false;
        std::lock_guard<std::mutex> slotGuard(slotLock);
        slots[size_t(i)] = {second.name, second.data, ++versionCounter};
        slots[size_t(j)] = {first.name, first.data, ++versionCounter};
    }
    notifyChange();
    return true;
}

bool NodeList::parseSwapJSON(const std::string& text) {
    const nlohmann::json body = requestBody(text);
    int i, j;
    if (body.is_discarded() || !readInt(body, "index", i) || !readInt(body, "index2", j)) return false;
    return swap(i, j);
}

void NodeList::endInflater() {
    if (!upload.inflater) return;
    inflateEnd(upload.inflater);
    delete upload.inflater;
    upload.inflater = nullptr;
}

void NodeList::abortUpload() {
    endInflater();
    upload = Upload();
    statusIndex = statusChunk = -1;
}

bool NodeList::startUpload(int index, const std::vector<uint8_t>& record) {
    if (record.size() != size_t(nameRecordSize)) return false;
    const void* end = std::memchr(record.data(), 0, nameFieldSize);
    if (!end) return false;
    const std::string name(reinterpret_cast<const char*>(record.data()), size_t(static_cast<const uint8_t*>(end) - record.data()));
    const int owner = indexOf(name);
    if (!acceptableName(index, name) || (owner >= 0 && owner != index)) return false;
    const uint32_t transferred = getLittleEndian(record.data() + transferredOffset);
    const uint32_t stored = getLittleEndian(record.data() + storedOffset);
    if (compressed) {
        // A gzip stream of incompressible data is slightly longer than the data itself.
        if (stored > uint32_t(size) || transferred > compressBound(uLong(size)) + 64) return false;
    } else if (transferred > uint32_t(size)) {
        return false;
    }
    upload.index = index;
    upload.name = name;
    upload.transferred = transferred;
    upload.stored = stored;
    upload.data.reserve(std::min<size_t>(compressed ? stored : transferred, size_t(size)));
    if (compressed && transferred > 0) {
        upload.inflater = new z_stream{};
        if (inflateInit2(upload.inflater, 15 + 16) != Z_OK) {
            delete upload.inflater;
            upload.inflater = nullptr;
            return false;
        }
    }
    return true;
}

bool NodeList::appendData(const std::vector<uint8_t>& bytes) {
    if (bytes.size() > size_t(chunkSize) || upload.received + bytes.size() > upload.transferred) return false;
    upload.received += uint32_t(bytes.size());
    if (!compressed) {
        upload.data.insert(upload.data.end(), bytes.begin(), bytes.end());
        return true;
    }
    if (bytes.empty()) return true;
    if (upload.streamEnded || !upload.inflater) return false; // bytes after the end of the gzip stream
    z_stream& stream = *upload.inflater;
    stream.next_in = const_cast<Bytef*>(bytes.data());
    stream.avail_in = uInt(bytes.size());
    uint8_t out[16384];
    for (;;) {
        stream.next_out = out;
        stream.avail_out = sizeof out;
        const int result = inflate(&stream, Z_NO_FLUSH);
        const size_t produced = sizeof out - stream.avail_out;
        if (upload.data.size() + produced > size_t(size)) return false;
        upload.data.insert(upload.data.end(), out, out + produced);
        if (result == Z_STREAM_END) {
            upload.streamEnded = true;
            return stream.avail_in == 0;
        }
        if (result == Z_BUF_ERROR && stream.avail_in == 0) return true;
        if (result != Z_OK) return false;
        if (stream.avail_in == 0 && stream.avail_out != 0) return true;
    }
}

bool NodeList::finishUpload() {
    auto refuse = [&](const char* reason) {
        LOGW(TAG, "%s: slot %d not committed: %s\n", getPath().c_str(), upload.index, reason);
        return false;
    };
    if (compressed && upload.transferred > 0) {
        if (!upload.streamEnded) return refuse("the gzip stream does not end");
        if (upload.stored != 0 && upload.data.size() != upload.stored) return refuse("not the announced length");
    }
    std::string reason;
    if (!checkContent(upload.index, upload.name, upload.data, reason)) return false;
    std::lock_guard<std::mutex> guard(fileLock);
    if (!replaceLocked(upload.index, upload.name, std::make_shared<const std::vector<uint8_t>>(std::move(upload.data)))) {
        return refuse("not stored");
    }
    return true;
}

bool NodeList::acceptChunk(int index, int chunk, const std::vector<uint8_t>& bytes) {
    if (index < 0 || index >= count) return false;
    if (chunk == 0) {
        abortUpload();
        if (!startUpload(index, bytes)) return false;
    } else if (upload.index != index || chunk != upload.chunk + 1 || !appendData(bytes)) {
        return false;
    }
    upload.chunk = chunk;
    return true;
}

bool NodeList::parseWriteJSON(const std::string& text) {
    bool committed = false;
    {
        std::lock_guard<std::mutex> guard(transferLock);
        const nlohmann::json body = requestBody(text);
        int index = -1, chunk = -1;
        std::vector<uint8_t> bytes;
        const bool wellFormed = !body.is_discarded() && readInt(body, "index", index) && readInt(body, "chunk", chunk) &&
                                body.contains("value") && body["value"].is_string() &&
                                fromHex(body["value"].get_ref<const std::string&>(), bytes);
        if (!wellFormed || !acceptChunk(index, chunk, bytes)) {
            LOGW(TAG, "%s: slot write aborted at index %d chunk %d\n", getPath().c_str(), index, chunk);
            abortUpload();
            return false;
        }
        if (upload.received == upload.transferred) {
            if (!finishUpload()) {
                abortUpload();
                return false;
            }
            endInflater();
            upload = Upload();
            committed = true;
        }
        statusIndex = index;
        statusChunk = chunk;
    }
    if (committed) notifyChange();
    return true;
}

std::string NodeList::writeStatusJSON() const {
    std::lock_guard<std::mutex> guard(transferLock);
    return getPath() + ":{\"index\":" + std::to_string(statusIndex) + ",\"chunk\":" + std::to_string(statusChunk) + "}";
}

bool NodeList::needsNewCopy(const ReadCopy& copy, int index, int chunk) const {
    if (copy.list != this || copy.index != index || !copy.stream) return true;
    // Only a download that starts over looks at the slot again: its later chunks keep the version its
    // name record announced.
    return chunk == 0 && copy.version != versionAt(index);
}

void NodeList::takeCopy(ReadCopy& copy, int index) const {
    const NodeListElement element = elementAt(index);
    copy.list = this;
    copy.index = index;
    copy.version = element.version;
    copy.name = element.name;
    copy.storedLength = uint32_t(element.data->size());
    copy.stream = compressed && !element.data->empty()
                      ? std::make_shared<const std::vector<uint8_t>>(gzip(*element.data))
                      : element.data;
}

std::optional<std::string> NodeList::parseReadJSON(const std::string& text, ReadCopy& copy, bool mayCopy, bool& copied) {
    copied = false;
    const nlohmann::json body = requestBody(text);
    int index, chunk;
    if (body.is_discarded() || !readInt(body, "index", index) || !readInt(body, "chunk", chunk)) return "";
    if (index < 0 || index >= count || chunk < 0) return "";
    if (needsNewCopy(copy, index, chunk)) {
        if (!mayCopy) return std::nullopt;
        takeCopy(copy, index);
        copied = true;
    }
    const std::vector<uint8_t>& stream = *copy.stream;
    std::string value;
    if (chunk == 0) {
        const std::string record = nameRecord(copy.name, uint32_t(stream.size()), copy.storedLength);
        value = toHex(reinterpret_cast<const uint8_t*>(record.data()), record.size());
    } else {
        const size_t start = size_t(chunk - 1) * size_t(chunkSize);
        if (start < stream.size()) value = toHex(stream.data() + start, std::min(size_t(chunkSize), stream.size() - start));
    }
    return "dread " + getPath() + ":{\"index\":" + std::to_string(index) + ",\"size\":" + std::to_string(stream.size()) +
           ",\"chunk\":" + std::to_string(chunk) + ",\"value\":\"" + value + "\"}";
}

std::string NodeList::parseReadJSON(const std::string& text) {
    std::lock_guard<std::mutex> guard(transferLock);
    bool copied = false;
    return parseReadJSON(text, ownCopy, true, copied).value_or("");
}

void NodeList::valueToJSON(nlohmann::ordered_json& body, bool) const {
    nlohmann::ordered_json names = nlohmann::ordered_json::array();
    std::lock_guard<std::mutex> guard(slotLock);
    for (const Slot& slot : slots) names.push_back(JsonText::toUtf8(slot.name));
    body["value"] = std::move(names);
}

void NodeList::membersToJSON(nlohmann::ordered_json& body) const {
    body["itype"] = JsonText::toUtf8(itemType);
    body["size"] = size;
    body["count"] = count;
    body["chunk"] = chunkSize;
    body["gzip"] = compressed;
    body["group"] = getGroup();
}

bool NodeList::valueFromJSON(const nlohmann::json&) { return false; }
