// The host's simulated-panel ports against a real Unix-socket client: frames out, contacts in, a panel that
// leaves and comes back, messages it gets wrong, and the converter's registers as the driver sees them.
#include "porting/PanelConverter.h"
#include "porting/PanelSocket.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// Socket paths are short (108 bytes), shorter than the test's own home folder.
std::string socketPath() { return "/tmp/pedal-panel-test-" + std::to_string(::getpid()) + ".sock"; }

std::shared_ptr<PanelSocket> openPanelPort() {
    auto port = PanelSocket::listen(socketPath());
    EXPECT_NE(port, nullptr);
    return port;
}

// A simulated panel: a plain socket client with a bounded wait on every read.
class Client {
public:
    Client() {
        fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::string path = socketPath();
        std::copy(path.begin(), path.end(), address.sun_path);
        EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << std::strerror(errno);
        timeval wait{10, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    }
    ~Client() { close(); }
    void close() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    void send(const Bytes& message) {
        ASSERT_EQ(::send(fd, message.data(), message.size(), MSG_NOSIGNAL), ssize_t(message.size()));
    }
    Bytes receive(size_t size) {
        Bytes data(size);
        size_t got = 0;
        while (got < size) {
            const ssize_t count = ::recv(fd, data.data() + got, size - got, 0);
            if (count <= 0) {
                ADD_FAILURE() << "the pedal sent " << got << " of " << size << " bytes";
                break;
            }
            got += size_t(count);
        }
        return data;
    }

private:
    int fd = -1;
};

// One transfer as the input/output array makes it; no bus clock, so the port does not pace it.
Bytes transfer(PanelSocket& port, const Bytes& out) {
    Bytes in(out.size(), 0xAA);
    spi_ioc_transfer message{};
    message.tx_buf = uintptr_t(out.data());
    message.rx_buf = uintptr_t(in.data());
    message.len = uint32_t(out.size());
    EXPECT_EQ(port.message(3, message), int(out.size()));
    return in;
}

// The transfers up to the next exchange with the panel (which reads what the panel sent, then takes in a
// panel that is waiting); the inputs each one read.
std::vector<Bytes> runMessage(PanelSocket& port, const Bytes& out) {
    std::vector<Bytes> inputs;
    for (int i = 0; i < PanelSocket::kFramesPerMessage; ++i) inputs.push_back(transfer(port, out));
    return inputs;
}

const Bytes kRest = {0xFF, 0xFF, 0xFF};

}

TEST(PanelSocket, FramesGoOutAndEveryInputFrameIsReadInOrder) {
    auto port = openPanelPort();
    ASSERT_NE(port, nullptr);
    ASSERT_EQ(port->deviceFor("/dev/spidev0.0"), "/dev/spidev0.0");
    EXPECT_LT(port->open("/dev/spidev0.1"), 0);
    EXPECT_GE(port->open("/dev/spidev0.0"), 0);
    for (const Bytes& input : runMessage(*port, {1, 2, 3}))
        ASSERT_EQ(input, kRest) << "no panel: every contact at rest";

    Client panel;
    runMessage(*port, {1, 2, 3}); // the panel is taken in at the end of this message
    EXPECT_TRUE(port->connected());
    runMessage(*port, {4, 5, 6});
    Bytes expected = {'F', 3, PanelSocket::kFramesPerMessage};
    for (int i = 0; i < PanelSocket::kFramesPerMessage; ++i) expected.insert(expected.end(), {4, 5, 6});
    EXPECT_EQ(panel.receive(expected.size()), expected);

    // An encoder detent sent at once: every step is read by a transfer of its own.
    const std::vector<Bytes> detent = {{0xFF, 0xFF, 0xDF}, {0xFF, 0xFF, 0xCF}, {0xFF, 0xFF, 0xEF}, kRest};
    for (const Bytes& frame : detent) panel.send({'I', 3, frame[0], frame[1], frame[2]});
    panel.send({'I', 3, 0xFF, 0xFF, 0x7F});
    runMessage(*port, {0, 0, 0});
    const auto inputs = runMessage(*port, {0, 0, 0});
    for (size_t i = 0; i < detent.size(); ++i) EXPECT_EQ(inputs[i], detent[i]) << "step " << i;
    EXPECT_EQ(inputs[4], (Bytes{0xFF, 0xFF, 0x7F}));
    EXPECT_EQ(inputs.back(), (Bytes{0xFF, 0xFF, 0x7F})) << "the last frame stays";
    for (int i = 0; i <= 256; ++i) panel.send({'I', 3, uint8_t(i), uint8_t(i >> 8), 0});
    runMessage(*port, {0, 0, 0});
    EXPECT_EQ(runMessage(*port, {0, 0, 0})[0], (Bytes{1, 0, 0})) << "a flood of inputs keeps only the latest queued";

    // The panel leaves with a footswitch held: it is released. A new panel is taken in.
    panel.close();
    runMessage(*port, {0, 0, 0});
    EXPECT_FALSE(port->connected());
    EXPECT_EQ(transfer(*port, {0, 0, 0}), kRest);
    Client again;
    again.send({'I', 3, 0xFE, 0xFF, 0xFF});
    runMessage(*port, {0, 0, 0});
    EXPECT_TRUE(port->connected());
    runMessage(*port, {0, 0, 0});
    EXPECT_EQ(transfer(*port, {0, 0, 0}), (Bytes{0xFE, 0xFF, 0xFF}));
}

TEST(PanelSocket, APanelThatSendsNonsenseIsDroppedAndAnotherPedalIsNotDisturbed) {
    auto port = openPanelPort();
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(PanelSocket::listen(socketPath()), nullptr) << "a second pedal on the same socket";
    runMessage(*port, {0, 0, 0}); // its check is taken for a panel that leaves at once
    runMessage(*port, {0, 0, 0});
    EXPECT_FALSE(port->connected());
    struct Case {
        const char* name;
        Bytes message;
    } cases[] = {{"unknown type", {'X'}}, {"empty frame", {'I', 0}}, {"frame too long", {'I', 17}}};
    for (const Case& c : cases) {
        Client panel;
        runMessage(*port, {0, 0, 0});
        ASSERT_TRUE(port->connected()) << c.name;
        panel.send({'I', 3, 0x00, 0x00, 0x00});
        panel.send(c.message);
        runMessage(*port, {0, 0, 0});
        runMessage(*port, {0, 0, 0});
        EXPECT_FALSE(port->connected()) << c.name;
        EXPECT_EQ(transfer(*port, {0, 0, 0}), kRest) << c.name;
    }
    port.reset();
    EXPECT_NE(PanelSocket::listen(socketPath()), nullptr) << "a stale socket file is replaced";
}

TEST(PanelConverter, RegistersAnswerAsTheChipDoes) {
    auto port = openPanelPort();
    ASSERT_NE(port, nullptr);
    PanelConverter converter(port);
    ASSERT_EQ(converter.deviceFor("/dev/i2c-5"), "/dev/i2c-5");
    EXPECT_LT(converter.open("/dev/i2c-1"), 0);
    const int fd = converter.open("/dev/i2c-5");
    ASSERT_GE(fd, 0);
    const auto readRegister = [&](uint8_t pointer) {
        uint8_t value[2] = {0, 0};
        EXPECT_EQ(converter.write(fd, &pointer, 1), 1);
        EXPECT_EQ(converter.read(fd, value, 2), 2);
        return value[0] << 8 | value[1];
    };

    // Nothing answers at another address.
    EXPECT_EQ(converter.selectSlave(fd, 0x49), 0);
    uint8_t byte = 0;
    EXPECT_EQ(converter.read(fd, &byte, 1), -1);
    EXPECT_EQ(errno, ENXIO);
    converter.selectSlave(fd, 0x48);
    EXPECT_EQ(readRegister(1), 0x8583) << "power-on configuration";

    Client panel;
    panel.send({'A', 3300 >> 8, 3300 & 0xFF});
    runMessage(*port, {0, 0, 0});
    runMessage(*port, {0, 0, 0});
    ASSERT_EQ(port->ain0Millivolts(), 3300);
    struct Case {
        uint16_t config;
        int count;
    } cases[] = {
        {0xC283, 26400}, // AIN0, +-4.096 V, continuous: 125 uV per count
        {0xC083, 17600}, // +-6.144 V
        {0xC483, 32767}, // +-2.048 V: beyond full scale
        {0xD283, 0},     // AIN1 against ground: nothing there
    };
    for (const Case& c : cases) {
        const uint8_t config[3] = {0x01, uint8_t(c.config >> 8), uint8_t(c.config & 0xFF)};
        EXPECT_EQ(converter.write(fd, config, 3), 3);
        EXPECT_EQ(readRegister(1), c.config | 0x8000);
        EXPECT_EQ(readRegister(0), c.count) << std::hex << c.config;
    }

    // A single conversion holds its result until the next one is started.
    const uint8_t single[3] = {0x01, 0xC3, 0x83};
    converter.write(fd, single, 3);
    panel.send({'A', 0, 100});
    runMessage(*port, {0, 0, 0});
    EXPECT_EQ(readRegister(0), 26400);
    converter.write(fd, single, 3);
    EXPECT_EQ(readRegister(0), 800);

    // The pedal stays where the panel left it.
    panel.close();
    runMessage(*port, {0, 0, 0});
    EXPECT_EQ(port->ain0Millivolts(), 100);
}
