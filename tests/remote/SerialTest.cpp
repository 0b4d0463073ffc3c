#include "tests/remote/Peers.h"
#include "tests/remote/RemoteTestSupport.h"
#include "remote/Serial.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

using namespace std::string_literals;

namespace {

class SerialPort : public ::testing::Test {
protected:
    void SetUp() override {
        tree = &testTree();
        ASSERT_FALSE(peer.terminalPath().empty()) << "no pseudo-terminal";
        serial = std::make_unique<Serial>(tree->root, "/dev/ttyGS0", 0, 0);
        serial->initialize();
        ASSERT_TRUE(serial->isActive());
        peer.releaseTerminal();
    }
    std::string exchange(const std::string& bytes, int replies = 1, size_t readLimit = 65536) {
        auto step = [this] { serial->tasks(); };
        EXPECT_TRUE(peer.send(bytes, step));
        return peer.receive(replies, step, readLimit);
    }
    TestTree* tree = nullptr;
    PtyPeer peer;
    std::unique_ptr<Serial> serial;
};

TEST_F(SerialPort, EveryByteValuePassesUnchangedBothWays) {
    // Bytes a cooked terminal would translate, swallow or act on: CR, LF, XON/XOFF, ^C, ^V, ^O, DEL, 0xFF.
    std::string argument;
    for (int value = 1; value < 256; ++value) argument += char(value);
    argument += "\r\r\x16\x16\x0f";
    std::string reply = exchange("write " + argument + '\0');
    EXPECT_EQ(reply, argument + "\r\n" + '\0');
}

TEST_F(SerialPort, FramingOfSplitPipelinedAndOversizedRequests) {
    Reference reference(tree->root);
    std::string browse = "browse root\\app\\amp";
    auto step = [this] { serial->tasks(); };

    // Split over several writes, with passes in between: answered once, when its NUL arrives.
    ASSERT_TRUE(peer.send("browse ro", step));
    for (int i = 0; i < 20; ++i) serial->tasks();
    EXPECT_EQ(peer.drain(), "");
    EXPECT_EQ(exchange("ot\\app\\amp" + std::string(1, '\0')), reference.processRequest(browse) + '\0');

    // Two requests in one write: both answered, in order.
    EXPECT_EQ(exchange("write a\0write b\0"s, 2), "a\r\n\0b\r\n\0"s);

    // The longest request that fits (9,999 bytes and its NUL) is taken.
    std::string longest = "write " + std::string(Serial::bufferSize - 1 - 6, 'x');
    EXPECT_EQ(exchange(longest + '\0'), longest.substr(6) + "\r\n" + '\0');

    // One byte more: the request is dropped up to its NUL and the next one is served.
    std::string oversized = "write " + std::string(Serial::bufferSize + 500, 'y');
    EXPECT_EQ(exchange(oversized + '\0' + "write next" + '\0'), "next\r\n\0"s);
    expectQuietOverlongFlood([&](const std::string& bytes) { return exchange(bytes); }, Serial::bufferSize + 500);

    // A reply that is only the separator goes out as CR, LF, NUL.
    EXPECT_EQ(exchange("nothing\0"s), "\r\n\0"s);
}

TEST_F(SerialPort, SlowReaderReceivesALargeReplyIntact) {
    testTree(1500);
    Reference reference(tree->root);
    std::string expected = reference.processRequest("browse root") + '\0';
    ASSERT_GT(expected.size(), 200000u);
    // Reading 100 bytes per pass keeps the terminal's buffer full, so most writes are short or refused.
    // A request pipelined behind it waits until the whole reply is out.
    std::string reply = exchange("browse root\0write queued\0"s, 2, 100);
    EXPECT_EQ(reply.size(), expected.size() + 9);
    EXPECT_TRUE(reply == expected + "queued\r\n\0"s);
    EXPECT_EQ(exchange("write after\0"s), "after\r\n\0"s) << "the port works on after the long reply";
}

TEST_F(SerialPort, PortThatGoesAwayIsOpenedAgainWithoutJoiningRequests) {
    useManualClock();
    auto step = [this] { serial->tasks(); };
    // Half a request, then the cable goes: the peer's end closes.
    ASSERT_TRUE(peer.send("write lo", step));
    for (int i = 0; i < 20; ++i) serial->tasks();
    testing::internal::CaptureStdout();
    peer.unplug();
    serial->tasks();
    EXPECT_FALSE(serial->isActive()) << "the hang-up is noticed";
    // Nothing to open for a while, then for as long a port that opens and reads end-of-file at once: tried
    // again with growing delays, without a log line each time.
    const std::string device = std::string(std::getenv("PEDAL_DEV_ROOT")) + "/dev/ttyGS0";
    for (int i = 0; i < 200; ++i) {
        if (i == 100) writeFile(device, "");
        setManualClock(i * 100000);
        serial->tasks();
    }
    EXPECT_FALSE(serial->isActive());
    std::remove(device.c_str());
    peer.plugIn();
    setManualClock(200 * 100000 + Serial::REOPEN_MAX_US);
    serial->tasks();
    ASSERT_TRUE(serial->isActive()) << "opened again within the longest delay";
    peer.releaseTerminal();
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(log, "W (Serial): /dev/ttyGS0 - port lost, opening it again\n"
                   "I (Serial): /dev/ttyGS0 - port back\n");
    EXPECT_EQ(exchange("write again\0"s), "again\r\n\0"s) << "the cut request is not joined to the next";
}

TEST(SerialPortWithoutTree, EmptyReplySendsNothing) {
    PtyPeer peer;
    Serial serial(nullptr, "/dev/ttyGS0", 0, 0);
    serial.initialize();
    ASSERT_TRUE(serial.isActive());
    auto step = [&] { serial.tasks(); };
    ASSERT_TRUE(peer.send("browse root\0"s, step));
    for (int i = 0; i < 200; ++i) serial.tasks();
    EXPECT_EQ(peer.drain(), "");
}

TEST(SerialPortMissing, StaysInactive) {
    unsetenv("PEDAL_DEV_ROOT");
    Serial serial(testTree().root, "/dev/ttyGS0", 0, 0);
    testing::internal::CaptureStdout();
    serial.initialize();
    serial.tasks();
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_FALSE(serial.isActive());
    EXPECT_NE(log.find("ERROR (Serial): /dev/ttyGS0 - error\n"), std::string::npos) << log;
}

}
