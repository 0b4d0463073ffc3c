// libFuzzer target on a slot upload into a compressing list, through the request processor as a client sends
// it: the name record, then the transferred gzip stream in "dwrite" chunks. The first two input bytes are the
// stored length the name record announces (little-endian); the rest is the stream.
//
// zlib's own inflate is the reference: the upload is taken exactly when the stream is one whole gzip member
// that ends with its last byte and inflates to the announced length (any, when 0 is announced) within the slot, and then the slot holds
// what zlib inflates; a refused upload leaves the slot as it was.
#include "remote/ComInterface.h"
#include "core/NodeList.h"
#include "core/System.h"
#include "tests/support/TestSupport.h"

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kSlotSize = 1024;
constexpr int kChunkSize = 64;

struct Fixture {
    Fixture() {
        testsupport::ensureHome("pedal-upload-fuzz");
        System::initialize("fuzz");
        list = new NodeList(System::appNode(), "slots", "Slots", "bin", kSlotSize, 2, kChunkSize, true);
        transport = new ComInterface(System::rootNode());
    }
    NodeList* list = nullptr;
    ComInterface* transport = nullptr;
};

Fixture& fixture() {
    static Fixture* instance = new Fixture;
    return *instance;
}

// The data a single gzip member that ends exactly with the stream inflates to; false for anything else.
bool inflateReference(const std::vector<uint8_t>& stream, size_t limit, std::vector<uint8_t>& out) {
    z_stream z{};
    if (inflateInit2(&z, 15 + 16) != Z_OK) return false;
    out.assign(limit + 1, 0);
    z.next_in = const_cast<Bytef*>(stream.data());
    z.avail_in = uInt(stream.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    const int status = inflate(&z, Z_FINISH);
    const bool whole = status == Z_STREAM_END && z.avail_in == 0;
    out.resize(out.size() - z.avail_out);
    inflateEnd(&z);
    return whole && out.size() <= limit;
}

std::string chunkRequest(int chunk, const std::string& value) {
    return "dwrite root\\app\\slots:{\"index\":0,\"chunk\":" + std::to_string(chunk) + ",\"value\":\"" + value + "\"}";
}

}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    Fixture& f = fixture();
    const uint32_t stored = uint32_t(data[0]) | uint32_t(data[1]) << 8;
    const std::vector<uint8_t> stream(data + 2, data + size);
    const NodeListElement::Data before = f.list->dataAt(0);

    uint8_t record[128] = {'f', 'u', 'z', 'z'};
    const uint32_t transferred = uint32_t(stream.size());
    for (int i = 0; i < 4; ++i) {
        record[64 + i] = uint8_t(transferred >> (8 * i));
        record[68 + i] = uint8_t(stored >> (8 * i));
    }
    std::string reply = f.transport->processRequest(
        chunkRequest(0, testsupport::hex(std::string(reinterpret_cast<const char*>(record), sizeof record), true)));
    int chunk = 1;
    for (size_t at = 0; at < stream.size(); at += kChunkSize, ++chunk) {
        const size_t count = std::min(stream.size() - at, size_t(kChunkSize));
        reply = f.transport->processRequest(chunkRequest(
            chunk, testsupport::hex(std::string(reinterpret_cast<const char*>(stream.data() + at), count), true)));
        if (reply.find("\"index\":-1") != std::string::npos) break;
    }
    const bool taken =
        reply.find("\"index\":-1") == std::string::npos && f.list->nameAt(0) == "fuzz" && f.list->dataAt(0) != before;

    std::vector<uint8_t> expected;
    const bool valid = inflateReference(stream, kSlotSize, expected) && !expected.empty() &&
                       (stored == 0 || expected.size() == stored);
    if (taken != valid) std::abort();
    const NodeListElement::Data after = f.list->dataAt(0);
    if (taken ? *after != expected : after != before) std::abort();
    return 0;
}
