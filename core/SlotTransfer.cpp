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

SlotTransfer::~SlotTransfer() = default;

bool SlotTransfer::parseSwapRequest(const std::string& text, int& i, int& j) {
    const nlohmann::json body = requestBody(text);
    return !body.is_discarded() && readInt(body, "index", i) && readInt(body, "index2", j);
}

void SlotTransfer::InflaterEnd::operator()(z_stream_s* stream) const {
    inflateEnd(stream);
    delete stream;
}

const char* SlotTransfer::startUpload(Upload& upload, int index, const std::vector<uint8_t>& record) const {
    std::string name;
    if (record.size() != size_t(SlotStore::nameRecordSize) || !SlotStore::recordName(record.data(), name))
        return "malformed name record";
    if (!slots.admitsName(index, name)) return "the name is not allowed or another slot has it";
    const uint32_t transferred = SlotStore::recordTransferred(record.data());
    const uint32_t stored = SlotStore::recordStored(record.data());
    // A gzip stream of incompressible data is slightly longer than the data itself.
    const bool fits = compressed ? stored <= uint32_t(size) && transferred <= compressBound(uLong(size)) + 64
                                 : transferred <= uint32_t(size);
    if (!fits) return "more data announced than the slot holds";
    upload.index = index;
    upload.name = name;
    upload.transferred = transferred;
    upload.stored = stored;
    upload.data.reserve(std::min<size_t>(compressed ? stored : transferred, size_t(size)));
    if (compressed && transferred > 0) {
        upload.inflater.reset(new z_stream{});
        if (inflateInit2(upload.inflater.get(), 15 + 16) != Z_OK) {
            delete upload.inflater.release();
            return "no inflater";
        }
    }
    return nullptr;
}

const char* SlotTransfer::appendData(Upload& upload, const std::vector<uint8_t>& bytes) const {
    if (bytes.size() > size_t(chunkSize)) return "chunk longer than the list's chunk size";
    if (upload.received + bytes.size() > upload.transferred) return "more bytes than announced";
    upload.received += uint32_t(bytes.size());
    if (!compressed) {
        upload.data.insert(upload.data.end(), bytes.begin(), bytes.end());
        return nullptr;
    }
    if (bytes.empty()) return nullptr;
    if (upload.streamEnded || !upload.inflater) return "bytes after the end of the gzip stream";
    z_stream& stream = *upload.inflater;
    stream.next_in = const_cast<Bytef*>(bytes.data());
    stream.avail_in = uInt(bytes.size());
    uint8_t out[16384];
    for (;;) {
        stream.next_out = out;
        stream.avail_out = sizeof out;
        const int result = inflate(&stream, Z_NO_FLUSH);
        const size_t produced = sizeof out - stream.avail_out;
        if (upload.data.size() + produced > size_t(size)) return "the data inflates beyond the slot size";
        upload.data.insert(upload.data.end(), out, out + produced);
        if (result == Z_STREAM_END) {
            upload.streamEnded = true;
            return stream.avail_in == 0 ? nullptr : "bytes after the end of the gzip stream";
        }
        if (result == Z_BUF_ERROR && stream.avail_in == 0) return nullptr;
        if (result != Z_OK) return "not a gzip stream";
        if (stream.avail_in == 0 && stream.avail_out != 0) return nullptr;
    }
}

bool SlotTransfer::finishUpload(Upload& upload) const {
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

const char* SlotTransfer::acceptChunk(Upload& upload, int index, int chunk, const std::vector<uint8_t>& bytes) const {
    if (index < 0 || index >= count) return "no such slot";
    if (chunk == 0) {
        upload = Upload();
        upload.transfer = this;
        if (const char* reason = startUpload(upload, index, bytes)) return reason;
    } else if (upload.transfer != this || upload.index != index || upload.chunk < 0) {
        return "no upload of this slot in progress on this connection";
    } else if (chunk != upload.chunk + 1) {
        return "chunk out of order";
    } else if (const char* reason = appendData(upload, bytes)) {
        return reason;
    }
    upload.chunk = chunk;
    return nullptr;
}

bool SlotTransfer::parseWriteJSON(const std::string& text, Upload& upload, bool& committed) const {
    committed = false;
    const nlohmann::json body = requestBody(text);
    int index = -1, chunk = -1;
    std::vector<uint8_t> bytes;
    const bool wellFormed = !body.is_discarded() && readInt(body, "index", index) && readInt(body, "chunk", chunk) &&
                            body.contains("value") && body["value"].is_string() &&
                            fromHex(body["value"].get_ref<const std::string&>(), bytes);
    const char* reason = wellFormed ? acceptChunk(upload, index, chunk, bytes) : "malformed chunk";
    const bool finished = !reason && upload.received == upload.transferred;
    if (reason || (finished && !finishUpload(upload))) {
        if (reason)
            LOGW(TAG, "%s: slot write aborted at index %d chunk %d: %s\n", listPath.c_str(), index, chunk, reason);
        upload = Upload();
        upload.transfer = this;
        return false;
    }
    if (finished) {
        upload = Upload();
        upload.transfer = this;
        committed = true;
    }
    upload.statusIndex = index;
    upload.statusChunk = chunk;
    return true;
}

std::string SlotTransfer::writeStatusJSON(const Upload& upload) const {
    const bool ours = upload.transfer == this;
    return listPath + ":{\"index\":" + std::to_string(ours ? upload.statusIndex : -1) +
           ",\"chunk\":" + std::to_string(ours ? upload.statusChunk : -1) + "}";
}

bool SlotTransfer::parseWriteJSON(const std::string& text, bool& committed) {
    std::lock_guard<std::mutex> guard(transferLock);
    return parseWriteJSON(text, ownUpload, committed);
}

std::string SlotTransfer::writeStatusJSON() const {
    std::lock_guard<std::mutex> guard(transferLock);
    return writeStatusJSON(ownUpload);
}

bool SlotTransfer::holdsCopy(const ReadCopy& copy, int index) const {
    return copy.transfer == this && copy.index == index && copy.stream;
}

bool SlotTransfer::needsNewCopy(const ReadCopy& copy, int index) const {
    // Only a download that starts over looks at the slot again: its later chunks keep the version its
    // name record announced.
    return !holdsCopy(copy, index) || copy.version != slots.transferVersion(index);
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
    // A later chunk without a copy of this slot would come from whatever version the slot holds now, not
    // the one whose name record the client read: it is answered empty, and the client starts over.
    if (chunk > 0 && !holdsCopy(copy, index)) return "";
    if (chunk == 0 && needsNewCopy(copy, index)) {
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
