#include "core/SlotTransfer.h"

#include <algorithm>
#include <cstring>

#include <nlohmann/json.hpp>
#include <zlib.h>

#include "porting/Log.h"
#include "core/SlotStore.h"

namespace {
const char* TAG = "NodeList";

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

SlotTransfer::SlotTransfer(Slots& slots, std::string listPath, int size, int count, int chunkSize, bool compressed)
    : slots(slots),
      listPath(std::move(listPath)),
      size(size),
      count(count),
      chunkSize(chunkSize),
      compressed(compressed) {}

SlotTransfer::~SlotTransfer() { endInflater(); }

bool SlotTransfer::parseSwapRequest(const std::string& text, int& i, int& j) {
    const nlohmann::json body = requestBody(text);
    return !body.is_discarded() && readInt(body, "index", i) && readInt(body, "index2", j);
}

void SlotTransfer::endInflater() {
    if (!upload.inflater) return;
    inflateEnd(upload.inflater);
    delete upload.inflater;
    upload.inflater = nullptr;
}

void SlotTransfer::abortUpload() {
    endInflater();
    upload = Upload();
    statusIndex = statusChunk = -1;
}

bool SlotTransfer::startUpload(int index, const std::vector<uint8_t>& record) {
    std::string name;
    if (record.size() != size_t(SlotStore::nameRecordSize) || !SlotStore::recordName(record.data(), name)) return false;
    if (!slots.admitsName(index, name)) return false;
    const uint32_t transferred = SlotStore::recordTransferred(record.data());
    const uint32_t stored = SlotStore::recordStored(record.data());
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

bool SlotTransfer::appendData(const std::vector<uint8_t>& bytes) {
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

bool SlotTransfer::finishUpload() {
    auto refuse = [&](const char* reason) {
        LOGW(TAG, "%s: slot %d not committed: %s\n", listPath.c_str(), upload.index, reason);
        return false;
    };
    if (compressed && upload.transferred > 0) {
        if (!upload.streamEnded) return refuse("the gzip stream does not end");
        if (upload.stored != 0 && upload.data.size() != upload.stored) return refuse("not the announced length");
    }
    return slots.commitUpload(upload.index, upload.name, std::move(upload.data));
}

bool SlotTransfer::acceptChunk(int index, int chunk, const std::vector<uint8_t>& bytes) {
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

bool SlotTransfer::parseWriteJSON(const std::string& text, bool& committed) {
    committed = false;
    std::lock_guard<std::mutex> guard(transferLock);
    const nlohmann::json body = requestBody(text);
    int index = -1, chunk = -1;
    std::vector<uint8_t> bytes;
    const bool wellFormed = !body.is_discarded() && readInt(body, "index", index) && readInt(body, "chunk", chunk) &&
                            body.contains("value") && body["value"].is_string() &&
                            fromHex(body["value"].get_ref<const std::string&>(), bytes);
    if (!wellFormed || !acceptChunk(index, chunk, bytes)) {
        LOGW(TAG, "%s: slot write aborted at index %d chunk %d\n", listPath.c_str(), index, chunk);
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
    return true;
}

std::string SlotTransfer::writeStatusJSON() const {
    std::lock_guard<std::mutex> guard(transferLock);
    return listPath + ":{\"index\":" + std::to_string(statusIndex) + ",\"chunk\":" + std::to_string(statusChunk) + "}";
}

bool SlotTransfer::needsNewCopy(const ReadCopy& copy, int index, int chunk) const {
    if (copy.transfer != this || copy.index != index || !copy.stream) return true;
    // Only a download that starts over looks at the slot again: its later chunks keep the version its
    // name record announced.
    return chunk == 0 && copy.version != slots.transferVersion(index);
}

void SlotTransfer::takeCopy(ReadCopy& copy, int index) const {
    const NodeListElement element = slots.transferElement(index);
    copy.transfer = this;
    copy.index = index;
    copy.version = element.version;
    copy.name = element.name;
    copy.storedLength = uint32_t(element.data->size());
    copy.stream = compressed && !element.data->empty()
                      ? std::make_shared<const std::vector<uint8_t>>(gzip(*element.data))
                      : element.data;
}

std::optional<std::string> SlotTransfer::parseReadJSON(const std::string& text, ReadCopy& copy, bool mayCopy,
                                                       bool& copied) const {
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
        const std::string record = SlotStore::nameRecord(copy.name, uint32_t(stream.size()), copy.storedLength);
        value = toHex(reinterpret_cast<const uint8_t*>(record.data()), record.size());
    } else {
        const size_t start = size_t(chunk - 1) * size_t(chunkSize);
        if (start < stream.size())
            value = toHex(stream.data() + start, std::min(size_t(chunkSize), stream.size() - start));
    }
    return "dread " + listPath + ":{\"index\":" + std::to_string(index) + ",\"size\":" + std::to_string(stream.size()) +
           ",\"chunk\":" + std::to_string(chunk) + ",\"value\":\"" + value + "\"}";
}

std::string SlotTransfer::parseReadJSON(const std::string& text) {
    std::lock_guard<std::mutex> guard(transferLock);
    bool copied = false;
    return parseReadJSON(text, ownCopy, true, copied).value_or("");
}
