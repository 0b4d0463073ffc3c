// The Bluetooth LE port's ends: a SIGINT tears it down and the process runs on; without an adapter the
// port runs its loop and the supervisor reports the missing adapter every 5 s.
#include "../btle/PrivateBus.h"
#include "BlePort.h"
#include "Bluetooth.h"
#include "RemoteTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>

namespace {

// Waits until the port's main loop has run everything handed to it so far.
bool drainPortLoop() {
    auto* done = new std::atomic<bool>(false);
    g_main_context_invoke(
        nullptr,
        [](gpointer flag) -> gboolean {
            static_cast<std::atomic<bool>*>(flag)->store(true);
            return G_SOURCE_REMOVE;
        },
        done);
    bool ran = PrivateBus::waitFor([done] { return done->load(); });
    // A marker that never ran stays allocated: the loop may still run it.
    if (ran) delete done;
    return ran;
}

size_t count(const std::string& text, const std::string& what) {
    size_t found = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++found;
    return found;
}

TEST(BluetoothShutdown, SigintUnregistersEverythingAndOnlyTheBluetoothLoopEnds) {
    TestTree& tree = testTree();
    PrivateBus bus;
    ASSERT_TRUE(bus.ready) << bus.failure;
    Bluetooth bluetooth(tree.root, tree.name);
    bluetooth.initialize();
    auto registered = [&bus] {
        GVariant* reply = bus.call("Application");
        if (reply == nullptr) return false;
        const char* path = nullptr;
        g_variant_get_child(reply, 0, "&s", &path);
        bool result = path[0] != '\0';
        g_variant_unref(reply);
        return result;
    };
    auto advertising = [&bus] {
        GVariant* reply = bus.call("Advertising");
        if (reply == nullptr) return false;
        gboolean state = FALSE;
        g_variant_get_child(reply, 0, "b", &state);
        g_variant_unref(reply);
        return bool(state);
    };
    ASSERT_TRUE(PrivateBus::waitFor([&] { return ble_started.load() && registered() && advertising(); }));

    testing::internal::CaptureStdout();
    ASSERT_EQ(kill(getpid(), SIGINT), 0);
    bool ended = PrivateBus::waitFor([] { return !ble_started.load(); });
    fflush(stdout);
    std::string output = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(ended) << "the Bluetooth loop did not end";
    EXPECT_NE(output.find("ERROR [Btle] received SIGINT"), std::string::npos) << output;
    EXPECT_NE(output.find("ERROR (BLE): Terminated\n"), std::string::npos) << output;
    EXPECT_TRUE(PrivateBus::waitFor([&] { return !registered() && !advertising(); }))
        << "the application or the advertisement is still registered";

    // This thread still runs; the transport's passes send nothing and restart nothing.
    ble_set_tx("nobody listens");
    bluetooth.tasks();
    ble_supervisor();
    EXPECT_FALSE(advertising());
}

TEST(BluetoothShutdown, WithoutAnAdapterTheSupervisorReportsItEveryFiveSeconds) {
    TestTree& tree = testTree();
    useManualClock();
    PrivateBus bus(false);
    ASSERT_TRUE(bus.ready) << bus.failure;
    Bluetooth bluetooth(tree.root, tree.name);
    bluetooth.initialize();
    ASSERT_TRUE(PrivateBus::waitFor([] { return ble_started.load(); }));

    testing::internal::CaptureStdout();
    const int64_t period = int64_t(BLE_SUPERVISOR_PERIOD);
    // The first pass finds no time stamp yet; later ones act only when more than 5 s have passed.
    for (int64_t offset : {int64_t(0), int64_t(1), period, period + 1, 2 * period + 1, 2 * period + 2}) {
        setManualClock(offset);
        bluetooth.tasks();
        ASSERT_TRUE(drainPortLoop());
    }
    ble_set_tx("no application");
    ASSERT_TRUE(drainPortLoop());
    fflush(stdout);
    std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(count(output, "ERROR (Ble Supervisor): Error in adapter or advertisment\n"), 3u) << output;
    EXPECT_FALSE(ble_advertisment.load());
}

}
