// libFuzzer target on the panel socket: a real panel connection sends the input's bytes, in pieces with
// transfers between them, while the chain keeps transferring. The first byte chooses the transfer length
// (low four bits, plus one) and the piece size (high four bits, times 16 plus one); the rest is the stream.
//
// What must hold: a transfer fills exactly its own length, the expression pedal reads what an "A" message can
// carry, and once the panel has gone every input line reads at rest again.
#include "porting/PanelSocket.h"
#include "tests/support/TestSupport.h"

#include <linux/spi/spidev.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

struct Fixture {
    Fixture() {
        path = testsupport::temporaryFolder("pedal-panel-fuzz") + "/panel.sock";
        panel = PanelSocket::listen(path);
        if (!panel) std::abort();
        fd = panel->open(PanelSocket::kDevice);
    }
    std::string path;
    std::shared_ptr<PanelSocket> panel;
    int fd = -1;
};

Fixture& fixture() {
    static Fixture* instance = new Fixture;
    return *instance;
}

// One message's worth of transfers (the socket is served once per message); false when a transfer wrote
// past its length or failed.
bool transferMessage(Fixture& f, uint32_t length, uint8_t* lastInput) {
    uint8_t out[PanelSocket::kMaxFrameBytes + 1] = {};
    uint8_t in[PanelSocket::kMaxFrameBytes + 1];
    for (int i = 0; i < PanelSocket::kFramesPerMessage; ++i) {
        std::memset(in, 0xA5, sizeof in);
        spi_ioc_transfer transfer{};
        transfer.tx_buf = uintptr_t(out);
        transfer.rx_buf = uintptr_t(in);
        transfer.len = length;
        if (f.panel->message(f.fd, transfer) != int(length) || in[length] != 0xA5) return false;
    }
    std::memcpy(lastInput, in, length);
    return true;
}

}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    Fixture& f = fixture();
    const uint32_t length = 1 + (data[0] & 15);
    const size_t piece = 1 + size_t(data[0] >> 4) * 16;
    uint8_t input[PanelSocket::kMaxFrameBytes];

    const int client = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, f.path.c_str(), sizeof address.sun_path - 1);
    if (client < 0 || ::connect(client, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) std::abort();
    if (!transferMessage(f, length, input) || !f.panel->connected()) std::abort();
    for (size_t at = 1; at < size; at += piece) {
        const size_t count = std::min(piece, size - at);
        if (::send(client, data + at, count, MSG_NOSIGNAL) != ssize_t(count) && f.panel->connected()) std::abort();
        if (!transferMessage(f, length, input)) std::abort();
    }
    if (f.panel->ain0Millivolts() < 0 || f.panel->ain0Millivolts() > 0xFFFF) std::abort();
    ::close(client);
    if (!transferMessage(f, length, input) || f.panel->connected()) std::abort();
    if (!transferMessage(f, length, input)) std::abort();
    for (uint32_t i = 0; i < length; ++i)
        if (input[i] != 0xFF) std::abort();
    return 0;
}
