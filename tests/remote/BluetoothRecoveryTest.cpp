// The Bluetooth LE port when BlueZ misbehaves: no adapter, an adapter that comes and goes, a daemon that
// restarts, registrations it refuses. The port runs once per process, so every test starts by bringing the
// stand-in to a daemon with an adapter and waiting until the port has followed.
#include "tests/support/BluezBus.h"
#include "btle/port/BlePort.h"
#include "remote/Bluetooth.h"
#include "tests/remote/RemoteTestSupport.h"
#include "porting/Shims.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>

namespace {

std::unique_ptr<BluezBus> bus;
Bluetooth* bluetooth = nullptr;

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
    bool ran = BluezBus::waitFor([done] { return done->load(); });
    // A marker that never ran stays allocated: the loop may still run it.
    if (ran) delete done;
    return ran;
}

// BlueZ holds the application and the advertisement, and the port knows it.
bool registered() {
    GVariant* application = bus->call("Application");
    GVariant* advertising = bus->call("Advertising");
    const char* path = "";
    gboolean advertised = FALSE;
    if (application != nullptr) g_variant_get_child(application, 0, "&s", &path);
    if (advertising != nullptr) g_variant_get_child(advertising, 0, "b", &advertised);
    const bool both = path[0] != '\0' && advertised && ble_application_registered.load() && ble_advertisment.load();
    for (GVariant* reply : {application, advertising})
        if (reply != nullptr) g_variant_unref(reply);
    return both;
}

// One pass of "comTasks" at the given time, and the work it handed to the port's loop done.
void passAt(int64_t offset) {
    setManualClock(offset);
    bluetooth->tasks();
    ASSERT_TRUE(drainPortLoop());
}

class BluetoothRecovery : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        TestTree& tree = testTree();
        bus = std::make_unique<BluezBus>();
        ASSERT_TRUE(bus->ready) << bus->failure;
        bluetooth = new Bluetooth(tree.root, tree.name);
        bluetooth->initialize();
        ASSERT_TRUE(BluezBus::waitFor([] { return ble_started.load(); }));
    }

    static void TearDownTestSuite() {
        // The port ends before the stand-in goes, so that it does not follow BlueZ away while the process exits.
        const size_t applications = bus->count("UnregisterApplication");
        const size_t advertisements = bus->count("UnregisterAdvertisement");
        kill(getpid(), SIGINT);
        BluezBus::waitFor([] { return !ble_started.load(); });
        EXPECT_TRUE(BluezBus::waitFor([&] {
            return bus->count("UnregisterApplication") > applications &&
                   bus->count("UnregisterAdvertisement") > advertisements;
        })) << "a stopped port takes its application and advertisement back from BlueZ";
        bus.reset();
    }

    void SetUp() override {
        ASSERT_TRUE(bus->ready) << bus->failure;
        useManualClock();
        setManualClock(0);
        // The supervisor's passes count from here, whatever the tests before stamped.
        supervisor_time = uint64_t(esp_timer_get_time());
        // Every test starts from a daemon with an adapter and everything registered.
        ASSERT_TRUE(bus->restartBluez("hci0"));
        ASSERT_TRUE(BluezBus::waitFor(registered));
    }
};

TEST_F(BluetoothRecovery, WithoutAnAdapterTheSupervisorReportsItUntilOneAppears) {
    ASSERT_TRUE(bus->restartBluez(""));
    ASSERT_TRUE(BluezBus::waitFor([] { return bus->called("GetManagedObjects"); }));
    ASSERT_TRUE(drainPortLoop());

    testing::internal::CaptureStdout();
    const int64_t period = int64_t(BLE_SUPERVISOR_PERIOD);
    // Later passes act only when more than 5 s have passed since the last one that did.
    for (int64_t offset : {period + 1, period + 2, 2 * period + 1, 2 * period + 2, 3 * period + 3}) passAt(offset);
    ble_set_tx("no application");
    ASSERT_TRUE(drainPortLoop());
    fflush(stdout);
    std::string output = testing::internal::GetCapturedStdout();
    // Three passes acted; the second came within 10 s of the first line and is counted in the next.
    EXPECT_EQ(count(output, "ERROR (Ble Supervisor): Error in adapter or advertisment ("), 2u) << output;
    EXPECT_EQ(count(output, "advertisment (2 time(s) since the last line)\n"), 1u) << output;
    EXPECT_FALSE(ble_advertisment.load());

    bus->control("AddAdapter", g_variant_new("(s)", "hci0"));
    EXPECT_TRUE(BluezBus::waitFor(registered)) << "the adapter that appeared is not used";
}

TEST_F(BluetoothRecovery, ARestartedDaemonGetsTheApplicationAndAdvertisementAgain) {

    testing::internal::CaptureStdout();
    bus->stopBluez();
    ASSERT_TRUE(BluezBus::waitFor([] { return !ble_application_registered.load(); }));
    EXPECT_FALSE(ble_advertisment.load());
    ASSERT_TRUE(bus->startBluez());
    bool again = BluezBus::waitFor(registered);
    fflush(stdout);
    std::string output = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(again) << "nothing registered with the new daemon";
    EXPECT_EQ(count(output, "Bluetooth service gone"), 1u) << output;
    EXPECT_EQ(count(output, "Bluetooth service is back"), 1u) << output;
    // The new daemon has the adapter set up as the old one had.
    GVariant* reply = bus->call("Adapter");
    ASSERT_NE(reply, nullptr);
    GVariant* adapter = g_variant_get_child_value(reply, 0);
    gboolean powered = FALSE;
    EXPECT_TRUE(g_variant_lookup(adapter, "Powered", "b", &powered) && powered);
    g_variant_unref(adapter);
    g_variant_unref(reply);
}

TEST_F(BluetoothRecovery, ARemovedAdapterIsReleasedAndItsReturnRegistersAgain) {
    bus->control("RemoveAdapter", g_variant_new("(s)", "hci0"));
    ASSERT_TRUE(BluezBus::waitFor([] { return !ble_application_registered.load() && !ble_advertisment.load(); }));
    testing::internal::CaptureStdout();
    passAt(int64_t(BLE_SUPERVISOR_PERIOD) + 1);
    fflush(stdout);
    std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(count(output, "Error in adapter or advertisment"), 1u) << output;

    bus->control("AddAdapter", g_variant_new("(s)", "hci0"));
    EXPECT_TRUE(BluezBus::waitFor(registered));
}

TEST_F(BluetoothRecovery, RefusedRegistrationsAreRetriedWithABackOffAndLoggedOnce) {
    const int64_t period = int64_t(BLE_SUPERVISOR_PERIOD);
    for (const char* method : {"RegisterAdvertisement", "RegisterAdvertisement", "RegisterApplication"})
        bus->control("FailNext", g_variant_new("(s)", method));
    const uint32_t refusals = ble_registrations_refused.load();
    testing::internal::CaptureStdout();

    // A reset adapter: both registrations are refused at once.
    bus->control("RemoveAdapter", g_variant_new("(s)", "hci0"));
    bus->control("AddAdapter", g_variant_new("(s)", "hci0"));
    ASSERT_TRUE(BluezBus::waitFor([&] { return ble_registrations_refused.load() == refusals + 2; }));
    EXPECT_FALSE(ble_advertisment.load());
    EXPECT_FALSE(ble_application_registered.load());
    const size_t advertisements = bus->count("RegisterAdvertisement");

    // The supervisor tries both again: the application goes through, the advertisement is refused again.
    passAt(period + 1);
    ASSERT_TRUE(BluezBus::waitFor(
        [&] { return ble_application_registered.load() && ble_registrations_refused.load() == refusals + 3; }));
    EXPECT_EQ(bus->count("RegisterAdvertisement"), advertisements + 1);
    // Refused twice, it waits 10 s before the next try: not at 5 s ...
    passAt(2 * period + 2);
    EXPECT_EQ(bus->count("RegisterAdvertisement"), advertisements + 1);
    // ... but after them.
    passAt(3 * period + 3);
    ASSERT_TRUE(BluezBus::waitFor([] { return ble_advertisment.load(); }));
    EXPECT_EQ(bus->count("RegisterAdvertisement"), advertisements + 2);

    fflush(stdout);
    std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(count(output, "Advertisement refused"), 1u) << output;
    EXPECT_EQ(count(output, "GATT application refused"), 1u) << output;
    EXPECT_EQ(count(output, "Advertisement registered again"), 1u) << output;
    EXPECT_EQ(count(output, "GATT application registered again"), 1u) << output;
}

// BlueZ drops the registration on its own and says so with Release: the supervisor registers it again.
TEST_F(BluetoothRecovery, AnAdvertisementReleasedByBlueZIsRegisteredAgain) {
    const size_t advertisements = bus->count("RegisterAdvertisement");
    bus->control("ReleaseAdvertisement");
    ASSERT_TRUE(BluezBus::waitFor([] { return !ble_advertisment.load(); })) << "the release went unheard";
    passAt(int64_t(BLE_SUPERVISOR_PERIOD) + 1);
    EXPECT_TRUE(BluezBus::waitFor(registered));
    EXPECT_EQ(bus->count("RegisterAdvertisement"), advertisements + 1);
}

}
