// The GATT server application as BlueZ and a phone meet it: exported on a private bus, called through D-Bus
// from another connection, with the BlueZ stand-in providing the adapter.
#include "tests/support/BluezBus.h"
#include "btle/btle.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

const char* const serviceUuid = "6e400001-b5a3-f393-e0a9-e50e24dcca9e";
const char* const rxUuid = "6e400002-b5a3-f393-e0a9-e50e24dcca9e";
const char* const txUuid = "6e400003-b5a3-f393-e0a9-e50e24dcca9e";
const char* const descUuid = "00002901-0000-1000-8000-00805f9b34fb";

// Written by the callbacks on the loop thread. Those that run before their call is answered are read after
// the answer; the notify callbacks run after it, so their counts are atomic and waited for.
struct Calls {
    int writes = 0;
    int updates = 0;
    std::atomic<int> startNotify = 0;
    std::atomic<int> stopNotify = 0;
    std::string lastWrite;
    std::string lastAddress;
    int lastMtu = -1;
    const char* refuseWrites = nullptr;

    void reset() {
        writes = updates = startNotify = stopNotify = 0;
        lastWrite.clear();
        lastAddress.clear();
        lastMtu = -1;
        refuseWrites = nullptr;
    }
} calls;

const char* onWrite(const btle_application*, const char* address, const char*, const char*, GByteArray* bytes,
                    guint16 mtu, guint16) {
    ++calls.writes;
    calls.lastWrite.assign(reinterpret_cast<const char*>(bytes->data), bytes->len);
    calls.lastAddress = address != nullptr ? address : "";
    calls.lastMtu = mtu;
    return calls.refuseWrites;
}
void onUpdated(const btle_application*, const char*, const char*, GByteArray*) { ++calls.updates; }
void onStart(const btle_application*, const char*, const char*) { ++calls.startNotify; }
void onStop(const btle_application*, const char*, const char*) { ++calls.stopNotify; }

class GattApplication : public ::testing::Test {
protected:
    void SetUp() override {
        bus = std::make_unique<BluezBus>();
        ASSERT_TRUE(bus->ready) << bus->failure;
        // Connections of the test's own: the process-wide system bus connection would outlive this test's
        // daemon, and closing it would leave the next test a closed one.
        connection = bus->openConnection();
        ASSERT_NE(connection, nullptr) << bus->failure;
        client = bus->openConnection();
        ASSERT_NE(client, nullptr) << bus->failure;
        adapter = btle_adapter_get_default(connection);
        ASSERT_NE(adapter, nullptr);
        app = btle_create_application(adapter);
        calls.reset();
    }

    void startLoop() {
        loop = g_main_loop_new(nullptr, FALSE);
        loopThread = std::thread([this] { g_main_loop_run(loop); });
    }

    void TearDown() override {
        if (loop != nullptr) {
            g_main_loop_quit(loop);
            loopThread.join();
            g_main_loop_unref(loop);
        }
        if (app != nullptr) btle_application_free(app);
        if (adapter != nullptr) btle_adapter_free(adapter);
        for (GDBusConnection* opened : {connection, client}) {
            if (opened == nullptr) continue;
            g_dbus_connection_close_sync(opened, nullptr, nullptr);
            g_object_unref(opened);
        }
        bus.reset();
    }

    // A method of one of the application's objects, called from another connection as BlueZ would.
    GVariant* callObject(const std::string& path, const char* interface, const char* method, GVariant* parameters,
                         std::string* errorName = nullptr, std::string* message = nullptr) {
        GError* error = nullptr;
        GVariant* reply =
            g_dbus_connection_call_sync(client, g_dbus_connection_get_unique_name(connection), path.c_str(), interface,
                                        method, parameters, nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
        if (reply == nullptr) {
            gchar* name = g_dbus_error_get_remote_error(error);
            if (errorName != nullptr) *errorName = name != nullptr ? name : "";
            g_dbus_error_strip_remote_error(error);
            if (message != nullptr) *message = error->message;
            g_free(name);
            g_error_free(error);
        }
        return reply;
    }

    GVariant* managedObjects() {
        GVariant* reply = callObject(btle_application_get_path(app), "org.freedesktop.DBus.ObjectManager",
                                     "GetManagedObjects", nullptr);
        if (reply == nullptr) return nullptr;
        GVariant* objects = g_variant_get_child_value(reply, 0);
        g_variant_unref(reply);
        return objects;
    }

    GVariant* emptyOptions() { return g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0); }

    static bool succeeded(GVariant* reply) {
        if (reply != nullptr) g_variant_unref(reply);
        return reply != nullptr;
    }

    // The bytes a ReadValue call answers with, or its error's name and message.
    std::string readValue(const std::string& path, const char* interface) {
        std::string errorName, message;
        GVariant* reply =
            callObject(path, interface, "ReadValue", g_variant_new("(@a{sv})", emptyOptions()), &errorName, &message);
        if (reply == nullptr) return errorName + ": " + message;
        GVariant* value = g_variant_get_child_value(reply, 0);
        const std::string bytes = variantBytes(value);
        g_variant_unref(value);
        g_variant_unref(reply);
        return bytes;
    }

    std::string path(const char* suffix) { return std::string(btle_application_get_path(app)) + suffix; }

    std::unique_ptr<BluezBus> bus;
    GDBusConnection* connection = nullptr;
    GDBusConnection* client = nullptr;
    btle_adapter* adapter = nullptr;
    btle_application* app = nullptr;
    GMainLoop* loop = nullptr;
    std::thread loopThread;
};

TEST_F(GattApplication, ObjectsAreNumberedAndListedAsBlueZExpects) {
    startLoop();
    GVariant* objects = managedObjects();
    ASSERT_NE(objects, nullptr);
    EXPECT_EQ(g_variant_n_children(objects), 0u);
    g_variant_unref(objects);

    ASSERT_EQ(btle_application_add_service(app, serviceUuid), 0);
    ASSERT_EQ(btle_application_add_characteristic(app, serviceUuid, rxUuid, 0x04), 0);
    ASSERT_EQ(btle_application_add_characteristic(app, serviceUuid, txUuid, 0x12), 0);
    ASSERT_EQ(btle_application_add_descriptor(app, serviceUuid, txUuid, descUuid, 0x02 | 0x08 | 0x01), 0);

    // Refused: unknown service or characteristic, an upper-case UUID, a second service with the same UUID.
    EXPECT_EQ(btle_application_add_characteristic(app, descUuid, rxUuid, 0x04), 22);
    EXPECT_EQ(btle_application_add_descriptor(app, serviceUuid, descUuid, descUuid, 0x02), 22);
    EXPECT_EQ(btle_application_add_service(app, "6E400001-B5A3-F393-E0A9-E50E24DCCA9E"), 22);
    EXPECT_EQ(btle_application_add_service(app, serviceUuid), 22);

    // How BlueZ lists the service and its characteristics is the Bluetooth transport's test; the descriptor:
    objects = managedObjects();
    ASSERT_NE(objects, nullptr);
    EXPECT_EQ(g_variant_n_children(objects), 4u);
    GVariant* interfaces = g_variant_lookup_value(objects, path("/service0/char1/desc0").c_str(), nullptr);
    ASSERT_NE(interfaces, nullptr);
    GVariant* properties = g_variant_lookup_value(interfaces, "org.bluez.GattDescriptor1", nullptr);
    ASSERT_NE(properties, nullptr);
    EXPECT_EQ(flagsOf(properties), "read,write");
    EXPECT_FALSE(g_variant_lookup(properties, "Value", "@ay", nullptr));
    g_variant_unref(properties);
    g_variant_unref(interfaces);
    g_variant_unref(objects);

    // Freed, the application takes back every object it exported: a restarted BlueZ meets only its successor.
    const std::string exported[] = {path(""), path("/service0"), path("/service0/char1"),
                                    path("/service0/char1/desc0")};
    btle_application_free(app);
    app = nullptr;
    for (const std::string& gone : exported) {
        GVariant* reply = callObject(gone, "org.freedesktop.DBus.Introspectable", "Introspect", nullptr);
        ASSERT_NE(reply, nullptr);
        const char* xml = "";
        g_variant_get(reply, "(&s)", &xml);
        EXPECT_EQ(std::string(xml).find("<interface"), std::string::npos) << gone << xml;
        g_variant_unref(reply);
    }
}

// Any client on the bus may call anything on any object: each call that waits for a reply gets a value or an
// error (GDBus stops the process when a getter gives nothing without an error; a call left unanswered keeps
// its message for good). BlueZ reads the properties through the object list, so none is a Properties member.
TEST_F(GattApplication, EveryCallIsAnsweredWithAValueOrAnError) {
    ASSERT_EQ(btle_application_add_service(app, serviceUuid), 0);
    ASSERT_EQ(btle_application_add_characteristic(app, serviceUuid, rxUuid, 0x04), 0);
    ASSERT_EQ(btle_application_add_characteristic(app, serviceUuid, txUuid, 0x12), 0);
    ASSERT_EQ(btle_application_add_descriptor(app, serviceUuid, txUuid, descUuid, 0x02), 0);
    startLoop();
    const char* characteristic = "org.bluez.GattCharacteristic1";
    const char* properties = "org.freedesktop.DBus.Properties";
    auto set = [](const char* interface) { return g_variant_new("(ssv)", interface, "Value", byteVariant("x")); };
    struct Case {
        const char* suffix; // under the application's path
        const char* interface;
        const char* method;
        GVariant* parameters;
        const char* value; // the reply's text form, or null when an error is the answer
    } cases[] = {
        {"/service0/char1", characteristic, "Confirm", nullptr, "()"},
        {"/service0/char1", characteristic, "NoSuchMethod", nullptr, nullptr},
        {"/service0/char1", properties, "Get", g_variant_new("(ss)", characteristic, "Value"), nullptr},
        {"/service0/char1", properties, "GetAll", g_variant_new("(s)", characteristic), "(@a{sv} {},)"},
        {"/service0/char1", properties, "Set", set(characteristic), nullptr},
        {"/service0/char1/desc0", properties, "Set", set("org.bluez.GattDescriptor1"), nullptr},
        {"/service0", properties, "Set", set(properties), nullptr},
        {"", properties, "Set", set("org.freedesktop.DBus.ObjectManager"), nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.suffix) + " " + c.method);
        std::string errorName;
        GVariant* reply = callObject(path(c.suffix), c.interface, c.method, c.parameters, &errorName);
        if (c.value == nullptr) {
            EXPECT_EQ(reply, nullptr);
            EXPECT_TRUE(errorName.rfind("org.freedesktop.DBus.Error.", 0) == 0) << errorName;
        } else {
            ASSERT_NE(reply, nullptr) << errorName;
            gchar* text = g_variant_print(reply, TRUE);
            EXPECT_STREQ(text, c.value);
            g_free(text);
        }
        if (reply != nullptr) g_variant_unref(reply);
    }
}

TEST_F(GattApplication, WritesReadsAndNotifications) {
    ASSERT_EQ(btle_application_add_service(app, serviceUuid), 0);
    ASSERT_EQ(btle_application_add_characteristic(app, serviceUuid, rxUuid, 0x04 | 0x02), 0);
    ASSERT_EQ(btle_application_add_characteristic(app, serviceUuid, txUuid, 0x12), 0);
    ASSERT_EQ(btle_application_add_descriptor(app, serviceUuid, rxUuid, descUuid, 0x0A), 0);
    btle_application_set_char_write_cb(app, onWrite);
    btle_application_set_char_updated_cb(app, onUpdated);
    btle_application_set_char_start_notify_cb(app, onStart);
    btle_application_set_char_stop_notify_cb(app, onStop);
    startLoop();
    const std::string rx = path("/service0/char0");
    const char* characteristic = "org.bluez.GattCharacteristic1";

    EXPECT_EQ(readValue(rx, characteristic), "org.bluez.Error.Failed: no value") << "never written";

    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&options, "{sv}", "device",
                          g_variant_new_object_path("/org/bluez/hci0/dev_AA_BB_CC_DD_EE_FF"));
    g_variant_builder_add(&options, "{sv}", "mtu", g_variant_new_uint16(185));
    GVariant* writeOptions = g_variant_ref_sink(g_variant_builder_end(&options));

    // A write the callback refuses: its error goes back, nothing is stored, no update is reported.
    calls.refuseWrites = "org.bluez.Error.NotPermitted";
    std::string errorName, message;
    EXPECT_EQ(callObject(rx, characteristic, "WriteValue",
                         g_variant_new("(@ay@a{sv})", byteVariant("no"), writeOptions), &errorName, &message),
              nullptr);
    EXPECT_EQ(errorName, "org.bluez.Error.NotPermitted");
    EXPECT_EQ(message, "write error");
    EXPECT_EQ(btle_application_get_char_value(app, serviceUuid, rxUuid), nullptr);
    EXPECT_EQ(calls.updates, 0);

    // An accepted write is stored and reported, with the device address and MTU from the options.
    calls.refuseWrites = nullptr;
    ASSERT_TRUE(
        succeeded(callObject(rx, characteristic, "WriteValue",
                             g_variant_new("(@ay@a{sv})", byteVariant(std::string("ab\0c", 4)), writeOptions))));
    EXPECT_EQ(calls.writes, 2);
    EXPECT_EQ(calls.lastAddress, "AA:BB:CC:DD:EE:FF");
    EXPECT_EQ(calls.lastMtu, 185);
    EXPECT_EQ(calls.updates, 1);
    GByteArray* stored = btle_application_get_char_value(app, serviceUuid, rxUuid);
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(stored->data), stored->len), std::string("ab\0c", 4));
    EXPECT_EQ(readValue(rx, characteristic), std::string("ab\0c", 4));
    g_variant_unref(writeOptions);

    // Descriptor: no value, then a write, then the value.
    const std::string desc = rx + "/desc0";
    const char* descriptor = "org.bluez.GattDescriptor1";
    EXPECT_EQ(readValue(desc, descriptor), "org.bluez.Error.Failed: no value for descriptor");
    ASSERT_TRUE(succeeded(callObject(desc, descriptor, "WriteValue",
                                     g_variant_new("(@ay@a{sv})", byteVariant("label"), emptyOptions()))));
    EXPECT_EQ(readValue(desc, descriptor), "label");

    // Notifying follows StartNotify and StopNotify.
    const std::string tx = path("/service0/char1");
    ASSERT_TRUE(succeeded(callObject(tx, characteristic, "StartNotify", nullptr)));
    EXPECT_TRUE(btle_application_char_is_notifying(app, serviceUuid, txUuid));
    // BlueZ hears the answer before the owner's callback runs.
    EXPECT_TRUE(BluezBus::waitFor([] { return calls.startNotify.load() == 1; }));
    ASSERT_TRUE(succeeded(callObject(tx, characteristic, "StopNotify", nullptr)));
    EXPECT_FALSE(btle_application_char_is_notifying(app, serviceUuid, txUuid));
    EXPECT_TRUE(BluezBus::waitFor([] { return calls.stopNotify.load() == 1; }));

    // A notification leaves the stored value alone; how it reaches a central is the Bluetooth transport's test.
    GByteArray* note = g_byte_array_new();
    g_byte_array_append(note, reinterpret_cast<const guint8*>("hi\0"), 3);
    EXPECT_EQ(btle_application_notify(app, serviceUuid, rxUuid, note), 0);
    EXPECT_EQ(btle_application_notify(app, serviceUuid, descUuid, note), 22);
    g_byte_array_free(note, TRUE);
    stored = btle_application_get_char_value(app, serviceUuid, rxUuid);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(stored->data), stored->len), std::string("ab\0c", 4));
}

}
