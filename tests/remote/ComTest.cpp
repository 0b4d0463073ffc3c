#include "remote/Com.h"
#include "core/NodeItem.h"
#include "tests/remote/RemoteTestSupport.h"
#include "porting/Shims.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

struct CountingTransport : ComInterface {
    CountingTransport() : ComInterface(nullptr) {}
    void initialize() override { ++initialized; }
    void tasks() override {
        // The thread must have initialised every transport before its first pass.
        if (initialized.load() == 1) ++passes;
        else ++passesBeforeInitialize;
    }
    std::atomic<int> initialized{0};
    std::atomic<int> passes{0};
    std::atomic<int> passesBeforeInitialize{0};
};

TEST(Com, RegistersTransportsOnceInConstructionOrderAndPollsEach) {
    CountingTransport first, second;
    Com::addIface(&first);
    Com::addIface(nullptr);
    EXPECT_EQ(Com::ifaces, (std::list<ComInterface*>{&first, &second}));
    {
        CountingTransport third;
        EXPECT_EQ(Com::ifaces.back(), &third);
    }
    EXPECT_EQ(Com::ifaces.size(), 2u) << "a destroyed transport leaves the list";

    EXPECT_TRUE(Com::initialize());
    EXPECT_TRUE(Com::initialize());
    EXPECT_EQ(first.initialized, 1);
    EXPECT_EQ(second.initialized, 1);
    Com::pass();
    Com::pass();
    EXPECT_EQ(first.passes, 2);
    EXPECT_EQ(second.passes, 2);
}

TEST(Com, ThreadInitialisesThenPollsRepeatedly) {
    // Transports live for the whole run, like the thread that polls them.
    Com::initialized = false;
    auto* transport = new CountingTransport;
    ASSERT_TRUE(xTaskCreatePinnedToCore(Com::com_tasks, "comTasks", 4096, nullptr, 0, nullptr, 0));
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (transport->passes < 5 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_GE(transport->passes, 5) << "the thread did not poll within 10 s";
    EXPECT_EQ(transport->initialized, 1);
    EXPECT_EQ(transport->passesBeforeInitialize, 0);
    EXPECT_TRUE(Com::initialized);
    Com::initialize();
    EXPECT_EQ(transport->initialized, 1) << "initialize after the thread did it changes nothing";
    // Once stop() returns no transport takes a request: the end's last storage write comes after it.
    Com::stop(1000);
    const int stoppedAt = transport->passes;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(transport->passes, stoppedAt);
}

TEST(Com, ATransportHeldAfterAWrongAnswerOnlyMovesBytes) {
    struct Transport : ComInterface {
        using ComInterface::ComInterface;
        void tasks() override { ++passes; }
        void heldTasks() override { ++heldPasses; }
        int passes = 0, heldPasses = 0;
    };
    TestTree& tree = testTree();
    tree.password->setValue("s3cret");
    useManualClock();
    Transport attacked(tree.root), other(tree.root);
    attacked.processRequest("token -");
    attacked.processRequest("token 0000000000000000");
    Com::pass();
    EXPECT_EQ(attacked.heldPasses, 1);
    EXPECT_EQ(attacked.passes, 0);
    EXPECT_EQ(other.passes, 1) << "another transport is not held up";
    setManualClock(ComInterface::FIRST_ANSWER_DELAY_US);
    Com::pass();
    EXPECT_EQ(attacked.passes, 1);
    tree.password->setValue("");
}

}
