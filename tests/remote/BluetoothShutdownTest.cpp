// The Bluetooth LE port's end: a SIGINT tears it down and the process runs on. (The port starts once per
// process, so this binary holds this one test.)
#include "tests/support/BluezBus.h"
#include "btle/port/BlePort.h"
#include "remote/Bluetooth.h"
#include "tests/remote/RemoteTestSupport.h"

#include <gtest/gtest.h>

#include <csignal>

namespace {

TEST(BluetoothShutdown, SigintUnregistersEverythingAndOnlyTheBluetoothLoopEnds) {
    TestTree& tree = testTree();
    BluezBus bus;
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
    ASSERT_TRUE(BluezBus::waitFor([&] { return ble_started.load() && registered() && advertising(); }));

    testing::internal::CaptureStdout();
    ASSERT_EQ(kill(getpid(), SIGINT), 0);
    bool ended = BluezBus::waitFor([] { return !ble_started.load(); });
    fflush(stdout);
    std::string output = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(ended) << "the Bluetooth loop did not end";
    EXPECT_NE(output.find("ERROR [Btle] received SIGINT"), std::string::npos) << output;
    EXPECT_NE(output.find("ERROR (BLE): Terminated\n"), std::string::npos) << output;
    EXPECT_TRUE(BluezBus::waitFor([&] { return !registered() && !advertising(); }))
        << "the application or the advertisement is still registered";

    // This thread still runs; the transport's passes send nothing and restart nothing.
    ble_set_tx("nobody listens");
    bluetooth.tasks();
    ble_supervisor();
    EXPECT_FALSE(advertising());
}

}
