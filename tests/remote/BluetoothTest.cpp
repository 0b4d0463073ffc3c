// The Bluetooth LE transport end to end: a private D-Bus daemon, a BlueZ stand-in that also plays the phone,
// the port layer's own thread and main loop, and requests written to RX as BlueZ would write them. The suite
// ends with the port's shutdown.
#include "tests/support/BluezBus.h"
#include "btle/port/BlePort.h"
#include "remote/Bluetooth.h"
#include "core/NodeItem.h"
#include "tests/remote/RemoteTestSupport.h"
#include "porting/Shims.h"

#include <gtest/gtest.h>

#include <csignal>
#include <map>
#include <memory>

using namespace std::string_literals;

namespace {

const std::string longName = "Corvinhallow-PRO-Stage-25";
const char* const devicePath = "/org/bluez/hci0/dev_11_22_33_44_55_66";

std::unique_ptr<BluezBus> bus;
Bluetooth* bluetooth = nullptr;

// Options as BlueZ sends them with a write without response; mtu 0 leaves the option out.
GVariant* writeOptions(int mtu) {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&builder, "{sv}", "device", g_variant_new_object_path(devicePath));
    g_variant_builder_add(&builder, "{sv}", "type", g_variant_new_string("command"));
    if (mtu > 0) g_variant_builder_add(&builder, "{sv}", "mtu", g_variant_new_uint16(guint16(mtu)));
    return g_variant_builder_end(&builder);
}

// The central writes the bytes to a characteristic; "" when the write was accepted, else the error name.
std::string centralWrite(const std::string& bytes, GVariant* options, const char* uuid = BLE_RX_UUID) {
    GVariant* reply = bus->call("Write", g_variant_new("(s@ay@a{sv})", uuid, byteVariant(bytes), options));
    if (reply == nullptr) return "call failed: " + bus->lastError;
    const char* error = nullptr;
    g_variant_get(reply, "(&s)", &error);
    std::string result = error;
    g_variant_unref(reply);
    return result;
}

std::vector<std::string> takeNotifications() {
    std::vector<std::string> chunks;
    GVariant* reply = bus->call("TakeNotifications", g_variant_new("(s)", BLE_TX_UUID));
    if (reply == nullptr) return chunks;
    GVariant* array = g_variant_get_child_value(reply, 0);
    for (gsize i = 0; i < g_variant_n_children(array); ++i) {
        GVariant* chunk = g_variant_get_child_value(array, i);
        chunks.push_back(variantBytes(chunk));
        g_variant_unref(chunk);
    }
    g_variant_unref(array);
    g_variant_unref(reply);
    return chunks;
}

// Collects notifications until a chunk ends in the NUL that closes a reply (bounded wait).
std::vector<std::string> receiveReply() {
    std::vector<std::string> chunks;
    BluezBus::waitFor([&] {
        for (std::string& chunk : takeNotifications()) chunks.push_back(std::move(chunk));
        return !chunks.empty() && !chunks.back().empty() && chunks.back().back() == '\0';
    });
    return chunks;
}

std::string joined(const std::vector<std::string>& chunks) {
    std::string text;
    for (const std::string& chunk : chunks) text += chunk;
    return text;
}

// Live heap bytes as the address sanitizer counts them; 0 in a build without it.
extern "C" size_t __sanitizer_get_current_allocated_bytes() __attribute__((weak));
size_t liveHeapBytes() {
    return __sanitizer_get_current_allocated_bytes ? __sanitizer_get_current_allocated_bytes() : 0;
}

std::map<std::string, GVariant*> dictionary(GVariant* dict) {
    std::map<std::string, GVariant*> entries;
    GVariantIter iter;
    const char* key;
    GVariant* value;
    g_variant_iter_init(&iter, dict);
    while (g_variant_iter_next(&iter, "{&sv}", &key, &value)) entries[key] = value;
    return entries;
}

class BluetoothTransport : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        TestTree& tree = testTree();
        useManualClock();
        bus = std::make_unique<BluezBus>();
        ASSERT_TRUE(bus->ready) << bus->failure;
        auto* name = new NodeItem(tree.amp, "devname", "Device name", longName, "string");
        bluetooth = new Bluetooth(tree.root, name);
        bluetooth->initialize();
        ASSERT_TRUE(BluezBus::waitFor([] { return ble_started.load() && !applicationPath().empty(); }))
            << "the pedal did not register its GATT application";
    }

    // The port ends as the pedal ends it, before the stand-in goes (so that it does not follow BlueZ away):
    // a SIGINT unregisters everything and ends only the Bluetooth loop.
    static void TearDownTestSuite() {
        testing::internal::CaptureStdout();
        ASSERT_EQ(kill(getpid(), SIGINT), 0);
        const bool ended = BluezBus::waitFor([] { return !ble_started.load(); });
        fflush(stdout);
        const std::string output = testing::internal::GetCapturedStdout();
        ASSERT_TRUE(ended) << "the Bluetooth loop did not end";
        EXPECT_NE(output.find("ERROR [Btle] received SIGINT"), std::string::npos) << output;
        EXPECT_NE(output.find("ERROR (BLE): Terminated\n"), std::string::npos) << output;
        EXPECT_TRUE(BluezBus::waitFor([] { return applicationPath().empty() && !advertising().registered; }))
            << "the application or the advertisement is still registered";
        // This thread still runs; the transport's passes send nothing and restart nothing.
        ble_set_tx("nobody listens");
        bluetooth->tasks();
        supervisor_time = 0;
        ble_supervisor();
        EXPECT_FALSE(advertising().registered);
        bus.reset();
    }

    static std::string applicationPath() {
        GVariant* reply = bus->call("Application");
        if (reply == nullptr) return "";
        const char* path = nullptr;
        g_variant_get_child(reply, 0, "&s", &path);
        std::string result = path;
        g_variant_unref(reply);
        return result;
    }

    struct Advertising {
        bool registered = false;
        unsigned registrations = 0;
        unsigned unregistrations = 0;
    };
    static Advertising advertising() {
        Advertising state;
        GVariant* reply = bus->call("Advertising");
        if (reply == nullptr) return state;
        gboolean registered = FALSE;
        g_variant_get(reply, "(buu@a{sv})", &registered, &state.registrations, &state.unregistrations, nullptr);
        state.registered = registered;
        g_variant_unref(reply);
        return state;
    }

    static void connectCentral() {
        bus->control("Connect", g_variant_new("(q)", guint16(517)));
        // The pedal has seen the connection once a write after it is answered.
        flush();
    }

    // Waits until the pedal has handled what the stand-in sent before: a write is answered after it.
    static void flush() {
        ASSERT_EQ(centralWrite("write flush\0"s, writeOptions(0)), "");
        EXPECT_EQ(ble_get_rx(), "write flush");
    }

    // One pass of "comTasks" and the reply it sends.
    std::vector<std::string> pass() {
        bluetooth->tasks();
        return receiveReply();
    }
};

TEST_F(BluetoothTransport, BlueZSeesTheServiceTheAdvertisementAndTheAdapterSettings) {
    GVariant* reply = bus->call("Application");
    ASSERT_NE(reply, nullptr) << bus->lastError;
    const char* appPath = nullptr;
    GVariant* objects = nullptr;
    g_variant_get(reply, "(&s@a{oa{sa{sv}}})", &appPath, &objects);
    EXPECT_TRUE(g_str_has_prefix(appPath, "/org/bluez/btleapp_hci0_")) << appPath;
    EXPECT_EQ(strlen(appPath), strlen("/org/bluez/btleapp_hci0_") + 4);

    std::string service = std::string(appPath) + "/service0";
    struct Expected {
        std::string path;
        const char* interface;
        const char* uuid;
        const char* flags;
    } table[] = {
        {service, "org.bluez.GattService1", BLE_SERVICE_UUID, ""},
        {service + "/char0", "org.bluez.GattCharacteristic1", BLE_RX_UUID, "write-without-response"},
        {service + "/char1", "org.bluez.GattCharacteristic1", BLE_TX_UUID, "read,notify"},
    };
    EXPECT_EQ(g_variant_n_children(objects), 3u);
    for (const Expected& expected : table) {
        SCOPED_TRACE(expected.path);
        GVariant* interfaces = g_variant_lookup_value(objects, expected.path.c_str(), G_VARIANT_TYPE("a{sa{sv}}"));
        ASSERT_NE(interfaces, nullptr);
        GVariant* properties = g_variant_lookup_value(interfaces, expected.interface, G_VARIANT_TYPE("a{sv}"));
        ASSERT_NE(properties, nullptr);
        const char* uuid = nullptr;
        ASSERT_TRUE(g_variant_lookup(properties, "UUID", "&s", &uuid));
        EXPECT_STREQ(uuid, expected.uuid);
        if (std::string(expected.interface) == "org.bluez.GattService1") {
            gboolean primary = FALSE;
            EXPECT_TRUE(g_variant_lookup(properties, "Primary", "b", &primary) && primary);
        } else {
            EXPECT_EQ(flagsOf(properties), expected.flags);
            // Nothing was written yet, so BlueZ sees no value.
            EXPECT_FALSE(g_variant_lookup(properties, "Value", "@ay", nullptr));
            const char* servicePath = nullptr;
            EXPECT_TRUE(g_variant_lookup(properties, "Service", "&o", &servicePath));
            EXPECT_EQ(servicePath, service);
        }
        g_variant_unref(properties);
        g_variant_unref(interfaces);
    }
    g_variant_unref(objects);
    g_variant_unref(reply);

    // The advertisement declares exactly what the port layer set, and the name keeps 19 characters.
    reply = bus->call("Advertising");
    ASSERT_NE(reply, nullptr);
    gboolean registered = FALSE;
    GVariant* advertisement = nullptr;
    g_variant_get(reply, "(buu@a{sv})", &registered, nullptr, nullptr, &advertisement);
    EXPECT_TRUE(registered);
    auto properties = dictionary(advertisement);
    std::vector<std::string> keys;
    for (auto& [key, value] : properties) keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"Discoverable", "LocalName", "ManufacturerData", "MaxInterval",
                                              "MinInterval", "Type"}));
    EXPECT_STREQ(g_variant_get_string(properties["Type"], nullptr), "peripheral");
    EXPECT_EQ(g_variant_get_string(properties["LocalName"], nullptr), longName.substr(0, 19));
    EXPECT_EQ(g_variant_get_uint32(properties["MinInterval"]), 100u);
    EXPECT_EQ(g_variant_get_uint32(properties["MaxInterval"]), 200u);
    EXPECT_TRUE(g_variant_get_boolean(properties["Discoverable"]));
    GVariant* manufacturer = properties["ManufacturerData"];
    ASSERT_EQ(g_variant_n_children(manufacturer), 1u);
    guint16 company = 0;
    GVariant* data = nullptr;
    g_variant_get_child(manufacturer, 0, "{qv}", &company, &data);
    EXPECT_EQ(company, 0xFFFF);
    EXPECT_EQ(g_variant_n_children(data), 6u);
    g_variant_unref(data);
    for (auto& [key, value] : properties) g_variant_unref(value);
    g_variant_unref(advertisement);
    g_variant_unref(reply);

    reply = bus->call("Adapter");
    ASSERT_NE(reply, nullptr);
    GVariant* adapter = g_variant_get_child_value(reply, 0);
    gboolean powered = FALSE, discoverable = FALSE, pairable = TRUE;
    const char* alias = nullptr;
    EXPECT_TRUE(g_variant_lookup(adapter, "Powered", "b", &powered) && powered);
    EXPECT_TRUE(g_variant_lookup(adapter, "Discoverable", "b", &discoverable) && discoverable);
    EXPECT_TRUE(g_variant_lookup(adapter, "Pairable", "b", &pairable) && !pairable);
    ASSERT_TRUE(g_variant_lookup(adapter, "Alias", "&s", &alias));
    EXPECT_EQ(alias, longName.substr(0, 19));
    g_variant_unref(adapter);
    g_variant_unref(reply);
}

TEST_F(BluetoothTransport, RequestsWrittenToRxAreAnsweredAsNotificationsEndingInNul) {
    Reference reference(testTree().root);
    struct Case {
        const char* what;
        int mtu;
        std::string request;
        size_t chunk;
    } cases[] = {
        {"small MTU is raised to 128", 23, "browse root\\app\\amp", 120},
        {"no MTU option", 0, "browse root\\app", 120},
        {"large MTU", 247, "browse root", 239},
        {"reply one short of a chunk", 128, "write " + std::string(117, 'a'), 120},
        {"reply of exactly one chunk", 128, "write " + std::string(118, 'b'), 120},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(centralWrite(c.request + '\0', writeOptions(c.mtu)), "");
        EXPECT_EQ(ble_mtu.load(), c.chunk + 8);
        std::vector<std::string> chunks = pass();
        std::string expected = reference.processRequest(c.request) + '\0';
        EXPECT_EQ(joined(chunks), expected);
        ASSERT_FALSE(chunks.empty());
        for (size_t i = 0; i + 1 < chunks.size(); ++i) EXPECT_EQ(chunks[i].size(), c.chunk);
        EXPECT_EQ(chunks.size(), (expected.size() + c.chunk - 1) / c.chunk);
    }
    // An empty reply text is one notification holding the NUL.
    ble_set_tx("");
    EXPECT_EQ(receiveReply(), std::vector<std::string>{"\0"s});
}

TEST_F(BluetoothTransport, RequestsAreReassembledAcrossWritesAndServedOnePerPass) {
    // "write a", NUL and "wri" in one write, "te b" and NUL in the next: two requests.
    ASSERT_EQ(centralWrite("write a\0wri"s, writeOptions(0)), "");
    ASSERT_EQ(centralWrite("te b\0"s, writeOptions(0)), "");
    EXPECT_EQ(joined(pass()), "a\r\n\0"s);
    EXPECT_EQ(joined(pass()), "b\r\n\0"s);
    // Nothing waiting: a pass sends nothing.
    bluetooth->tasks();
    EXPECT_EQ(ble_get_rx(), "");

    // The longest request that fits the 10,000-byte buffer, written in 500-byte pieces as BlueZ would.
    auto writeInPieces = [](const std::string& bytes) {
        for (size_t at = 0; at < bytes.size(); at += 500)
            ASSERT_EQ(centralWrite(bytes.substr(at, 500), writeOptions(247)), "");
    };
    std::string longest = "write " + std::string(BLE_RECEIVE_SIZE - 1 - 6, 'x');
    writeInPieces(longest + '\0');
    EXPECT_EQ(joined(pass()), longest.substr(6) + "\r\n" + '\0');

    // One byte more: that request is dropped whole, and the next one is served.
    std::string oversized = "write " + std::string(BLE_RECEIVE_SIZE - 6, 'y');
    writeInPieces(oversized + '\0' + "write next" + '\0');
    EXPECT_EQ(joined(pass()), "next\r\n\0"s);
    expectQuietOverlongFlood(
        [&](const std::string& bytes) {
            writeInPieces(bytes);
            return joined(pass());
        },
        BLE_RECEIVE_SIZE);
    EXPECT_EQ(ble_get_rx(), "");
}

TEST_F(BluetoothTransport, ReadsAreRefusedAndOddWritesAreHarmless) {
    for (const char* uuid : {BLE_RX_UUID, BLE_TX_UUID}) {
        GVariant* reply = bus->call("Read", g_variant_new("(s)", uuid));
        ASSERT_NE(reply, nullptr) << bus->lastError;
        const char* error = nullptr;
        g_variant_get(reply, "(&s@ay)", &error, nullptr);
        EXPECT_STREQ(error, "org.bluez.Error.Rejected") << uuid;
        g_variant_unref(reply);
    }
    // An option of the wrong type is skipped instead of stopping the pedal.
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&builder, "{sv}", "mtu", g_variant_new_string("lots"));
    g_variant_builder_add(&builder, "{sv}", "device", g_variant_new_string("not a path"));
    g_variant_builder_add(&builder, "{sv}", "offset", g_variant_new_int32(-1));
    ASSERT_EQ(centralWrite("write typed\0"s, g_variant_builder_end(&builder)), "");
    EXPECT_EQ(ble_mtu.load(), 128u);
    EXPECT_EQ(joined(pass()), "typed\r\n\0"s);

    // Bytes written to TX are no request.
    ASSERT_EQ(centralWrite("write tx\0"s, writeOptions(0), BLE_TX_UUID), "");
    EXPECT_EQ(ble_get_rx(), "");
}

TEST_F(BluetoothTransport, SecondStartChangesNothing) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(ble_start("Other"), 0);
    fflush(stdout);
    std::string output = testing::internal::GetCapturedStdout();
    EXPECT_NE(output.find("ERROR (BLE): Already initialized\n"), std::string::npos) << output;
    EXPECT_EQ(std::string(ble_device_name), longName.substr(0, 19));
}

TEST_F(BluetoothTransport, AdvertisingFollowsTheCentralAndTheSupervisor) {
    ASSERT_TRUE(BluezBus::waitFor([] { return advertising().registered; }));
    Advertising before = advertising();

    // A phone connects: advertising stops.
    setManualClock(0);
    connectCentral();
    ASSERT_TRUE(BluezBus::waitFor([] { return !advertising().registered && !ble_advertisment.load(); }));

    // Within 5 s of the last event the supervisor leaves it off; after that it advertises again.
    setManualClock(0);
    flush();
    bluetooth->tasks();
    setManualClock(BLE_SUPERVISOR_PERIOD);
    bluetooth->tasks();
    // A read round trip lets the pedal's loop run what the pass handed it, without renewing the time stamp.
    GVariant* read = bus->call("Read", g_variant_new("(s)", BLE_TX_UUID));
    ASSERT_NE(read, nullptr);
    g_variant_unref(read);
    EXPECT_FALSE(advertising().registered);
    testing::internal::CaptureStdout();
    setManualClock(BLE_SUPERVISOR_PERIOD + 1);
    bluetooth->tasks();
    ASSERT_TRUE(BluezBus::waitFor([] { return advertising().registered && ble_advertisment.load(); }));
    fflush(stdout);
    std::string output = testing::internal::GetCapturedStdout();
    EXPECT_NE(output.find("W (Ble Supervisor): Started advertising\n"), std::string::npos) << output;
    Advertising restarted = advertising();
    EXPECT_EQ(restarted.registrations, before.registrations + 1);

    // The phone leaves while the supervisor's advertisement is up: it is not registered a second time.
    bus->control("Disconnect");
    flush();
    Advertising after = advertising();
    EXPECT_TRUE(after.registered);
    EXPECT_EQ(after.registrations, restarted.registrations);

    // The known phone connects again and leaves at once, before BlueZ has answered the unregistration:
    // the advertisement is unregistered and registered once each, and stays exported for BlueZ to read.
    connectCentral();
    bus->control("Disconnect");
    // The pedal learns of the registration from BlueZ's answer, which its loop runs after BlueZ has it.
    ASSERT_TRUE(BluezBus::waitFor([&] {
        Advertising now = advertising();
        return now.registered && now.registrations == after.registrations + 1 && ble_advertisment.load();
    }));
    Advertising again = advertising();
    EXPECT_EQ(again.unregistrations, after.unregistrations + 1);
}

TEST_F(BluetoothTransport, NothingOfACentralReachesTheNext) {
    connectCentral();
    // A request queued, a request being served, half a request and a large MTU: then the phone leaves.
    ASSERT_EQ(centralWrite("write queued\0write served\0write hal"s, writeOptions(247)), "");
    ASSERT_EQ(ble_get_rx(), "write queued");
    EXPECT_EQ(ble_mtu.load(), 247u);
    bus->control("Disconnect");
    ASSERT_TRUE(BluezBus::waitFor([] { return ble_mtu.load() == BLE_MIN_MTU; }));
    // The reply to the request it was served goes nowhere.
    ble_set_tx("for the one who left");

    // Joined to the half request or served after the queued one, this would be answered otherwise.
    connectCentral();
    ASSERT_EQ(centralWrite("write next\0"s, writeOptions(0)), "");
    EXPECT_EQ(joined(pass()), "next\r\n\0"s);
    EXPECT_EQ(ble_get_rx(), "");
    flush();
    EXPECT_TRUE(takeNotifications().empty());
    bus->control("Disconnect");
}

TEST_F(BluetoothTransport, AFloodIsDroppedBeyondTheQueueAndLaterRequestsAreServedAtOnce) {
    // A central writes without waiting for replies: 64 requests per write, 4096 in all.
    std::string burst;
    for (int i = 0; i < 64; ++i) burst += "write f\0"s;
    testing::internal::CaptureStdout();
    for (int i = 0; i < 64; ++i) ASSERT_EQ(centralWrite(burst, writeOptions(0)), "");
    fflush(stdout);
    std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(count(output, "Receive queue full"), 1u) << "one line per burst";

    // Only the queue's worth is kept, and once it is served a new request is answered in the next pass.
    size_t served = 0;
    for (std::string request = ble_get_rx(); !request.empty(); request = ble_get_rx()) ++served;
    EXPECT_EQ(served, BLE_RX_QUEUE_LIMIT);
    ASSERT_EQ(centralWrite("write polite\0"s, writeOptions(0)), "");
    EXPECT_EQ(joined(pass()), "polite\r\n\0"s);
}

TEST_F(BluetoothTransport, ANotificationLongerThanTheLinkAllowsIsCut) {
    // A central that kept the ATT MTU of 23 gets 20 bytes of each 120-byte notification: it cannot read
    // the reply, which is why a client must negotiate a larger MTU.
    Reference reference(testTree().root);
    std::string expected = reference.processRequest("browse root\\app") + '\0';
    ASSERT_GT(expected.size(), 120u);
    bus->control("SetLinkMtu", g_variant_new("(q)", guint16(23)));
    ASSERT_EQ(centralWrite("browse root\\app\0"s, writeOptions(23)), "");
    bluetooth->tasks();
    size_t notifications = (expected.size() + 119) / 120;
    std::vector<std::string> chunks;
    BluezBus::waitFor([&] {
        for (std::string& chunk : takeNotifications()) chunks.push_back(std::move(chunk));
        return chunks.size() >= notifications;
    });
    bus->control("SetLinkMtu", g_variant_new("(q)", guint16(517)));
    ASSERT_EQ(chunks.size(), notifications);
    for (const std::string& chunk : chunks) EXPECT_LE(chunk.size(), 20u);
    EXPECT_NE(joined(chunks), expected);
}

TEST_F(BluetoothTransport, TheSupervisorTakesALaterStampForActivity) {
    // The loop thread stamps a write after this thread has read the clock: the stamp is newer than the
    // supervisor's time, which must not count as a long silence.
    setManualClock(10 * BLE_SUPERVISOR_PERIOD);
    const uint64_t stamp = uint64_t(esp_timer_get_time()) + 1000;
    supervisor_time = stamp;
    ble_supervisor();
    EXPECT_EQ(supervisor_time.load(), stamp);
}

// Any peer on the bus may write a characteristic's "Value" through Properties: each write is refused at once
// and nothing of it is kept.
TEST_F(BluetoothTransport, PropertyWritesOfAnyPeerAreRefusedAndKeepNothing) {
    const size_t before = liveHeapBytes();
    for (int batch = 0; batch < 10; ++batch) {
        GVariant* reply = bus->call("SetValues", g_variant_new("(su)", BLE_RX_UUID, 500u));
        ASSERT_NE(reply, nullptr) << bus->lastError;
        guint32 refused = 0;
        const char* name = nullptr;
        g_variant_get(reply, "(u&s)", &refused, &name);
        EXPECT_EQ(refused, 500u) << "answered " << name;
        g_variant_unref(reply);
    }
    EXPECT_LT(liveHeapBytes(), before + (size_t(8) << 20));
}

// A flood while "comTasks" drains the queue (10 requests a write, 8 served between writes, for 5 s) is
// reported with its count once per 10 s, not once per write.
TEST_F(BluetoothTransport, ADrainingFloodIsReportedOncePerTenSeconds) {
    std::string ten;
    for (int i = 0; i < 10; ++i) ten += "write f\0"s;
    testing::internal::CaptureStdout();
    for (int write = 0; write < 500; ++write) {
        setManualClock(int64_t(1) << 40 | int64_t(write) * 10000);
        ASSERT_EQ(centralWrite(ten, writeOptions(0)), "");
        for (int served = 0; served < 8; ++served) ble_get_rx();
    }
    fflush(stdout);
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_LE(count(output, "Receive queue full"), 2u) << output.substr(0, 1000);
    while (!ble_get_rx().empty()) {}
}

}
