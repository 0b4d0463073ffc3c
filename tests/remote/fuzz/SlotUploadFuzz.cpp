// libFuzzer target on slot transfers into a compressing list of two slots, through the request processor as a
// client sends them. The input is a series of steps; each step's first byte b chooses:
//   b & 3 == 0  an upload into slot (b >> 2) & 1: two bytes of the stored length the name record announces
//               and two of the stream's length (little-endian) follow, then the stream, sent as the name record
//               and "dwrite" chunks
//   b & 3 == 1  "dread" of chunk b >> 3 of slot (b >> 2) & 1
//   otherwise   "dswap" of the two slots
//
// zlib's own inflate is the reference: an upload is taken exactly when its stream is one whole gzip member
// that ends with its last byte and inflates to the announced length (any, when 0 is announced) within the
// slot, and then the slot holds what zlib inflates; a refused upload, and a read, leave both slots as they
// were; a swap the reply confirms exchanges them, one it does not leaves them.
#include "remote/ComInterface.h"
#include "core/NodeList.h"
#include "core/System.h"
#include "tests/support/FuzzQuiet.h"
#include "tests/support/TestSupport.h"

#include <zlib.h>

#include <algorithm>
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

[[noreturn]] void fail(const char* what, int slot) {
    std::fprintf(stderr, "%s (slot %d)\n", what, slot);
    std::abort();
}

std::string request(const char* command, int slot, const std::string& rest) {
    return std::string(command) + " root\\app\\slots:{\"index\":" + std::to_string(slot) + rest + "}";
}

std::string chunkRequest(int slot, int chunk, const uint8_t* bytes, size_t count) {
    return request("dwrite", slot,
                   ",\"chunk\":" + std::to_string(chunk) + ",\"value\":\"" +
                       testsupport::hex(std::string(reinterpret_cast<const char*>(bytes), count), true) + "\"");
}

// The slots as the reference has them: contents, and the buffer each holds (a refused step keeps it).
struct Slots {
    NodeListElement::Data data[2];
    std::vector<uint8_t> content[2];
};

void upload(Fixture& f, Slots& slots, int slot, uint32_t stored, const std::vector<uint8_t>& stream) {
    // An empty transfer is no gzip member: what the list makes of it is not this reference's to say.
    if (stream.empty()) return;
    // A name of its own: the list refuses a name another slot holds.
    static unsigned uploads = 0;
    const std::string name = "fuzz" + std::to_string(++uploads);
    uint8_t record[128] = {};
    std::copy(name.begin(), name.end(), record);
    const uint32_t transferred = uint32_t(stream.size());
    for (int i = 0; i < 4; ++i) {
        record[64 + i] = uint8_t(transferred >> (8 * i));
        record[68 + i] = uint8_t(stored >> (8 * i));
    }
    std::string reply = f.transport->processRequest(chunkRequest(slot, 0, record, sizeof record));
    int chunk = 1;
    for (size_t at = 0; at < stream.size(); at += kChunkSize, ++chunk) {
        reply = f.transport->processRequest(
            chunkRequest(slot, chunk, stream.data() + at, std::min(stream.size() - at, size_t(kChunkSize))));
        if (reply.find("\"index\":-1") != std::string::npos) break;
    }
    const bool taken = reply.find("\"index\":-1") == std::string::npos && f.list->nameAt(slot) == name &&
                       f.list->dataAt(slot) != slots.data[slot];
    std::vector<uint8_t> expected;
    const bool valid = inflateReference(stream, kSlotSize, expected) && !expected.empty() &&
                       (stored == 0 || expected.size() == stored);
    if (taken != valid) fail(taken ? "an invalid upload was taken" : "a valid upload was refused", slot);
    if (taken) slots.content[slot] = expected;
}

}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fixture& f = fixture();
    Slots slots;
    auto take = [&] {
        for (int i = 0; i < 2; ++i) {
            slots.data[i] = f.list->dataAt(i);
            slots.content[i] = slots.data[i] ? *slots.data[i] : std::vector<uint8_t>();
        }
    };
    take();
    for (size_t at = 0; at < size;) {
        const uint8_t step = data[at++];
        const int slot = (step >> 2) & 1;
        if ((step & 3) == 0) {
            if (size - at < 4) return 0;
            const uint32_t stored = uint32_t(data[at]) | uint32_t(data[at + 1]) << 8;
            const size_t length = std::min(size_t(data[at + 2] | data[at + 3] << 8), size - at - 4);
            at += 4;
            upload(f, slots, slot, stored, std::vector<uint8_t>(data + at, data + at + length));
            at += length;
        } else if ((step & 3) == 1) {
            f.transport->processRequest(request("dread", slot, ",\"chunk\":" + std::to_string(step >> 3)));
        } else {
            const std::string line = request("dswap", 0, ",\"index2\":1");
            if (f.transport->processRequest(line) == line) {
                std::swap(slots.content[0], slots.content[1]);
            }
        }
        for (int i = 0; i < 2; ++i) {
            const NodeListElement::Data now = f.list->dataAt(i);
            if ((now ? *now : std::vector<uint8_t>()) != slots.content[i]) fail("the slot holds other data", i);
        }
        take();
    }
    return 0;
}
