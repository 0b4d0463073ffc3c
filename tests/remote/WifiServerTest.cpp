#include "core/NodeItem.h"
#include "tests/remote/Peers.h"
#include "tests/remote/RemoteTestSupport.h"
#include "core/Security.h"
#include "remote/Wifi.h"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace std::string_literals;

namespace {

class WifiServer : public ::testing::Test {
protected:
    void SetUp() override {
        tree = &testTree();
        start(0);
    }
    void start(int port) {
        wifi = std::make_unique<Wifi>(tree->root, tree->name, port);
        step();
        step();
    }
    // One "comTasks" pass, 10 ms after the previous one.
    void step() {
        ++passes;
        now += 10000;
        wifi->serverStep(now);
    }
    std::function<void()> stepper() {
        return [this] { step(); };
    }
    std::string exchange(TcpPeer& peer, const std::string& bytes, int replies = 1, size_t readLimit = 65536) {
        EXPECT_TRUE(peer.send(bytes, stepper()));
        return peer.receive(replies, stepper(), readLimit);
    }
    int port() const { return wifi->listeningPort(); }

    TestTree* tree = nullptr;
    std::unique_ptr<Wifi> wifi;
    int64_t now = 1000000000;
    int passes = 0;
};

TEST_F(WifiServer, ServesRequestsOnLoopbackFramingSplitPipelinedAndOversizedOnes) {
    ASSERT_EQ(wifi->getServerState(), Wifi::SERVE);
    TcpPeer peer(port());
    ASSERT_TRUE(peer.connected());
    Reference reference(tree->root);
    EXPECT_EQ(exchange(peer, "browse root\\app\\amp\0"s), reference.processRequest("browse root\\app\\amp") + '\0');
    EXPECT_EQ(exchange(peer, "nothing\0"s), "\r\n\0"s);
    ASSERT_TRUE(peer.send("write sp", stepper()));
    for (int i = 0; i < 20; ++i) step();
    EXPECT_EQ(peer.drain(), "");
    EXPECT_EQ(exchange(peer, "lit\0"s), "split\r\n\0"s);

    EXPECT_EQ(exchange(peer, "write a\0write b\0write c\0"s, 3), "a\r\n\0b\r\n\0c\r\n\0"s);

    std::string longest = "write " + std::string(Wifi::RECEIVE_BUFFER_SIZE - 2 - 6, 'x');
    EXPECT_EQ(exchange(peer, longest + '\0'), longest.substr(6) + "\r\n" + '\0');
    std::string oversized = "write " + std::string(Wifi::RECEIVE_BUFFER_SIZE + 1000, 'y');
    EXPECT_EQ(exchange(peer, oversized + '\0' + "write next" + '\0'), "next\r\n\0"s);
    // 10 MB each, and the short request behind it answered within 50 passes (0.5 s).
    expectQuietOverlongFlood(
        [&](const std::string& bytes) {
            const int before = passes;
            const std::string reply = exchange(peer, bytes);
            EXPECT_LE(passes - before, 50);
            return reply;
        },
        10000000);
}

TEST_F(WifiServer, ThreeClientsAreServedAndAFourthWaitsForAFreeSlot) {
    std::vector<std::unique_ptr<TcpPeer>> peers;
    for (int i = 0; i < 4; ++i) {
        peers.push_back(std::make_unique<TcpPeer>(port()));
        ASSERT_TRUE(peers.back()->connected());
        step();
    }
    for (int i = 0; i < 3; ++i) {
        std::string word = "c" + std::to_string(i);
        EXPECT_EQ(exchange(*peers[i], "write " + word + '\0'), word + "\r\n" + '\0');
    }
    EXPECT_EQ(wifi->clientCount(), 3);
    ASSERT_TRUE(peers[3]->send("write fourth\0"s, stepper()));
    for (int i = 0; i < 50; ++i) step();
    EXPECT_EQ(peers[3]->drain(), "") << "the fourth client waits in the listen queue";
    peers[1].reset();
    EXPECT_EQ(peers[3]->receive(1, stepper()), "fourth\r\n\0"s);
}

TEST_F(WifiServer, IdleClientsAreClosedAfterFiveSeconds) {
    TcpPeer quiet(port());
    step();
    const int64_t accepted = now;
    TcpPeer busy(port());
    step();
    ASSERT_EQ(wifi->clientCount(), 2);
    now = accepted + Wifi::CLIENT_IDLE_US - 10000;
    step();
    EXPECT_FALSE(quiet.closedByPedal()) << "5 s exactly is not yet idle";
    // "busy" sends a request every 4 s and stays; "quiet" never sends and goes once 5 s have passed.
    for (int64_t at = accepted + 4000000; at <= accepted + 16000000; at += 4000000) {
        now = at - 10000;
        EXPECT_EQ(exchange(busy, "write still\0"s), "still\r\n\0"s);
        EXPECT_EQ(quiet.closedByPedal(), now - accepted > Wifi::CLIENT_IDLE_US) << (at - accepted);
    }
    EXPECT_FALSE(busy.closedByPedal());
    EXPECT_EQ(wifi->clientCount(), 1);
}

TEST_F(WifiServer, PeerThatClosesIsReleasedOnceAnswered) {
    TcpPeer peer(port());
    ASSERT_TRUE(peer.send("write bye\0"s, stepper()));
    peer.closeWriting();
    EXPECT_EQ(peer.receive(1, stepper()), "bye\r\n\0"s);
    for (int i = 0; i < 5 && wifi->clientCount() > 0; ++i) step();
    EXPECT_EQ(wifi->clientCount(), 0) << "the slot is freed without waiting for the idle time";
}

TEST_F(WifiServer, SlowReaderGetsALargeReplyIntactWithoutHoldingUpOthers) {
    testTree(1500);
    Reference reference(tree->root);
    std::string expected = reference.processRequest("browse root") + '\0';
    TcpPeer slow(port(), 4096), other(port());
    ASSERT_TRUE(slow.send("browse root\0"s, stepper()));
    for (int i = 0; i < 5; ++i) step();
    // The slow client has not read a byte; the other client is served all the same.
    EXPECT_EQ(exchange(other, "write meanwhile\0"s), "meanwhile\r\n\0"s);
    EXPECT_EQ(slow.receive(1, stepper(), 1000), expected);
}

TEST_F(WifiServer, ReadersThatStopOrLeaveBeforeTheirReplyAreReleasedAndTheServerGoesOn) {
    testTree(1500);
    {
        // A reader that stops is closed after the idle time.
        TcpPeer stuck(port(), 4096);
        ASSERT_TRUE(stuck.send("browse root\0"s, stepper()));
        for (int i = 0; i < 20; ++i) step();
        EXPECT_EQ(wifi->clientCount(), 1);
        now += Wifi::CLIENT_IDLE_US;
        step();
        EXPECT_EQ(wifi->clientCount(), 0);
    }
    for (int round = 0; round < 3; ++round) {
        // An orderly close before the reply: the first bytes sent draw a reset, the next send meets a broken
        // pipe (a signal that ends the process unless the send asks for none).
        TcpPeer leaves(port(), 4096);
        ASSERT_TRUE(leaves.send("browse root\0"s, stepper()));
        leaves.closeNormally();
        for (int i = 0; i < 20; ++i) step();
        // A reset while the reply is under way.
        TcpPeer resets(port(), 4096);
        ASSERT_TRUE(resets.send("browse root\0"s, stepper()));
        for (int i = 0; i < 5; ++i) step();
        resets.reset();
        for (int i = 0; i < 20; ++i) step();
    }
    // Still alive and still serving.
    TcpPeer after(port());
    EXPECT_EQ(exchange(after, "write alive\0"s), "alive\r\n\0"s);
    EXPECT_EQ(wifi->clientCount(), 1);
}

TEST_F(WifiServer, GuessingThePasswordIsSlowedToAFewAnswersAMinute) {
    tree->password->setValue("s3cret");
    TcpPeer attacker(port());
    std::string reply = exchange(attacker, "token -\0"s);
    int64_t start = now;
    int answers = 0;
    while (now - start < 60000000) {
        reply = exchange(attacker, "token 0000000000000000\0"s);
        ASSERT_EQ(reply.substr(23), "n\r\n\0"s) << reply;
        ++answers;
    }
    EXPECT_LT(answers, 100) << "wrong answers in one minute";
    EXPECT_GT(answers, 20) << "answers still come, at the longest delay";
    // The right answer is taken after the back-off, and the delay starts over.
    std::string answer = Security::answerFor("s3cret", reply.substr(6, 16));
    reply = exchange(attacker, "token " + answer + '\0');
    EXPECT_EQ(reply.substr(23), "y\r\n\0"s) << reply;
    tree->password->setValue("");
}

TEST_F(WifiServer, BusyPortIsRetriedWithoutFloodingTheLog) {
    int busyPort = 0;
    const int blocker = loopbackListener(busyPort);
    ASSERT_GE(blocker, 0);

    testing::internal::CaptureStdout();
    start(busyPort);
    for (int i = 0; i < 1000; ++i) step(); // 10 s of passes
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(wifi->getServerState(), Wifi::SERVE);
    // 100 ms doubled up to 5 s: a handful of attempts, not one every few passes.
    EXPECT_LE(wifi->listenAttempts(), 8);
    EXPECT_GE(count(log, "unable to bind"), 1u);
    EXPECT_LE(count(log, "unable to bind"), 2u) << log;

    close(blocker);
    for (int i = 0; i * 10000 <= Wifi::BIND_RETRY_MAX_US && wifi->getServerState() != Wifi::SERVE; ++i) step();
    ASSERT_EQ(wifi->getServerState(), Wifi::SERVE);
    EXPECT_EQ(port(), busyPort);
}

}
