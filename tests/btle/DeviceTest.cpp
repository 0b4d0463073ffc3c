#include "tests/support/BluezBus.h"
#include "btle/btle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const char* const DEVICE_PATH = "/org/bluez/hci0/dev_AA_BB_CC_DD_EE_FF";
const char* const SERVICE_UUID = "6e400001-b5a3-f393-e0a9-e50e24dcca9e";
const char* const CHAR_UUID = "6e400003-b5a3-f393-e0a9-e50e24dcca9e";
const char* const DESC_UUID = "00002902-0000-1000-8000-00805f9b34fb";
std::vector<std::string> events;

std::string hexOf(const GByteArray* bytes) {
    if (bytes == nullptr) return "none";
    GString* hex = g_byte_array_as_hex(bytes);
    std::string text = hex->str;
    g_string_free(hex, TRUE);
    return text;
}

void onState(btle_device*, btle_connection_state state, const GError* error) {
    events.push_back("state " + std::to_string(state) + (error ? " error" : ""));
}
void onBonding(btle_device*, btle_bonding_state now, btle_bonding_state old, const GError*) {
    events.push_back("bond " + std::to_string(now) + "<-" + std::to_string(old));
}
void onResolved(btle_device*) { events.push_back("resolved"); }
void onRead(btle_device*, btle_characteristic*, const GByteArray* bytes, const GError* error) {
    events.push_back("read " + hexOf(bytes) + (error ? " error" : ""));
}
void onWrite(btle_device*, btle_characteristic*, const GByteArray* bytes, const GError* error) {
    events.push_back("write " + hexOf(bytes) + (error ? " error" : ""));
}
void onNotify(btle_device*, btle_characteristic*, const GByteArray* bytes) {
    events.push_back("notify " + hexOf(bytes));
}
void onNotifyState(btle_device*, btle_characteristic* characteristic, const GError* error) {
    events.push_back(std::string("notifying ") + (btle_characteristic_is_notifying(characteristic) ? "on" : "off") +
                     (error ? " error" : ""));
}

// A property change as the library's own signal handler hands it over.
void update(btle_device* device, const char* property, GVariant* value) {
    g_variant_ref_sink(value);
    btle_internal_device_update_property(device, property, value);
    g_variant_unref(value);
}

GVariant* strv(std::initializer_list<const char*> items) {
    std::vector<const char*> list(items);
    return g_variant_new_strv(list.data(), (gssize)list.size());
}

class BtleDevice : public ::testing::Test {
protected:
    void SetUp() override {
        events.clear();
        log_set_level(LOG_LEVEL_INFO);
    }
};

TEST_F(BtleDevice, NewDeviceDefaultsAndTextForm) {
    BluezBus bus;
    ASSERT_TRUE(bus.ready);
    btle_adapter* adapter = btle_adapter_get_default(bus.connection());
    ASSERT_NE(adapter, nullptr);
    btle_device* device = btle_device_create(DEVICE_PATH, adapter);
    EXPECT_EQ(btle_device_get_connection_state(device), BTLE_DISCONNECTED);
    EXPECT_EQ(btle_device_get_bonding_state(device), BTLE_BOND_NONE);
    char* text = btle_device_to_string(device);
    EXPECT_NE(strstr(text, "uuids=[], manufacturer_data=[], service_data=[]"), nullptr) << text;
    g_free(text);

    GVariantBuilder data;
    g_variant_builder_init(&data, G_VARIANT_TYPE("a{qv}"));
    guint8 raw[] = {0x0A, 0xFF};
    g_variant_builder_add(&data, "{qv}", (guint16)0x004C, g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, raw, 2, 1));
    update(device, "ManufacturerData", g_variant_builder_end(&data));
    update(device, "UUIDs", strv({SERVICE_UUID}));
    text = btle_device_to_string(device);
    EXPECT_NE(strstr(text, "manufacturer_data=[004C -> 0aff]"), nullptr) << text;
    EXPECT_NE(strstr(text, (std::string("uuids=[") + SERVICE_UUID + "]").c_str()), nullptr) << text;
    g_free(text);
    EXPECT_TRUE(btle_device_has_service(device, SERVICE_UUID));

    btle_device_set_connection_state_change_cb(device, onState);
    btle_device_set_bonding_state_changed_cb(device, onBonding);
    for (const char* property : {"Connected", "Connected", "Paired"})
        update(device, property, g_variant_new_boolean(TRUE));
    btle_device_set_name(device, "kept");
    update(device, "Name", g_variant_new_string(""));
    EXPECT_STREQ(btle_device_get_name(device), "kept");
    EXPECT_EQ(events, (std::vector<std::string>{"state 1", "bond 2<-0"}));
    btle_device_free(device);
    btle_adapter_free(adapter);
}

const std::string service = std::string(DEVICE_PATH) + "/service0010";
const std::string characteristic = service + "/char0011";
const std::string descriptor = characteristic + "/desc0013";

// A device with one service, one characteristic and its descriptor, and a characteristic of no service.
void addGattTree(BluezBus& bus) {
    std::string orphan = std::string(DEVICE_PATH) + "/service0099/char0001";
    bus.addObject(
        DEVICE_PATH, "org.bluez.Device1",
        props({{"Address", g_variant_new_string("AA:BB:CC:DD:EE:FF")}, {"Name", g_variant_new_string("sensor")}}));
    bus.addObject(service.c_str(), "org.bluez.GattService1", props({{"UUID", g_variant_new_string(SERVICE_UUID)}}));
    bus.addObject(characteristic.c_str(), "org.bluez.GattCharacteristic1",
                  props({{"UUID", g_variant_new_string(CHAR_UUID)},
                         {"Service", g_variant_new_object_path(service.c_str())},
                         {"Flags", strv({"read", "write", "notify", "something-else"})},
                         {"MTU", g_variant_new_uint16(185)}}));
    bus.addObject(descriptor.c_str(), "org.bluez.GattDescriptor1",
                  props({{"UUID", g_variant_new_string(DESC_UUID)},
                         {"Characteristic", g_variant_new_object_path(characteristic.c_str())}}));
    bus.addObject(orphan.c_str(), "org.bluez.GattCharacteristic1",
                  props({{"UUID", g_variant_new_string(CHAR_UUID)},
                         {"Service", g_variant_new_object_path("/org/bluez/hci0/dev_AA_BB_CC_DD_EE_FF/service0099")}}));
}

// The device connected and its GATT tree collected.
btle_device* resolvedDevice(BluezBus& bus, btle_adapter* adapter) {
    btle_device* device = btle_adapter_get_device_by_path(adapter, DEVICE_PATH);
    if (device == nullptr) return nullptr;
    btle_device_set_connection_state_change_cb(device, onState);
    btle_device_set_services_resolved_cb(device, onResolved);
    btle_device_connect(device);
    if (!bus.waitFor([&] { return btle_device_get_connection_state(device) == BTLE_CONNECTED; })) return nullptr;
    bus.changeObject(DEVICE_PATH, "org.bluez.Device1", props({{"ServicesResolved", g_variant_new_boolean(TRUE)}}));
    if (!bus.waitFor([] { return !events.empty() && events.back() == "resolved"; })) return nullptr;
    return device;
}

TEST_F(BtleDevice, ConnectsCollectsTheGattTreeAndUsesIt) {
    BluezBus bus;
    ASSERT_TRUE(bus.ready);
    addGattTree(bus);
    btle_adapter* adapter = btle_adapter_get_default(bus.connection());
    ASSERT_NE(adapter, nullptr);
    btle_device* device = resolvedDevice(bus, adapter);
    ASSERT_NE(device, nullptr);
    btle_device_set_read_char_cb(device, onRead);
    btle_device_set_write_char_cb(device, onWrite);
    btle_device_set_notify_char_cb(device, onNotify);
    btle_device_set_notify_state_cb(device, onNotifyState);
    EXPECT_EQ(g_list_length(btle_device_get_services(device)), 1u);
    EXPECT_EQ(btle_device_get_mtu(device), 185u);
    btle_characteristic* remote = btle_device_get_characteristic(device, SERVICE_UUID, CHAR_UUID);
    ASSERT_NE(remote, nullptr);
    EXPECT_EQ(btle_characteristic_get_properties(remote), 0x1Au);
    EXPECT_NE(btle_characteristic_get_descriptor(remote, DESC_UUID), nullptr);

    EXPECT_TRUE(btle_device_read_char(device, SERVICE_UUID, CHAR_UUID));
    guint8 raw[] = {0xAB, 0xCD};
    GByteArray* bytes = g_byte_array_new();
    g_byte_array_append(bytes, raw, 2);
    EXPECT_TRUE(btle_device_write_char(device, SERVICE_UUID, CHAR_UUID, bytes, BTLE_WRITE_WITH_RESPONSE));
    EXPECT_FALSE(btle_device_write_char(device, SERVICE_UUID, CHAR_UUID, bytes, BTLE_WRITE_WITHOUT_RESPONSE));
    g_byte_array_free(bytes, TRUE);
    EXPECT_FALSE(btle_device_stop_notify(device, SERVICE_UUID, CHAR_UUID)) << "not notifying yet";
    EXPECT_TRUE(btle_device_start_notify(device, SERVICE_UUID, CHAR_UUID));
    ASSERT_TRUE(bus.waitFor([] { return events.size() >= 6; }));
    EXPECT_TRUE(bus.called("WriteValue " + characteristic + " abcd type=request"));
    EXPECT_TRUE(bus.called("ReadValue " + characteristic + " offset=0"));

    guint8 note[] = {0x42};
    bus.changeObject(characteristic.c_str(), "org.bluez.GattCharacteristic1",
                     props({{"Value", g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, note, 1, 1)},
                            {"Notifying", g_variant_new_boolean(FALSE)}}));
    ASSERT_TRUE(bus.waitFor([] { return events.size() >= 8; }));
    EXPECT_EQ(events, (std::vector<std::string>{"state 2", "state 1", "resolved", "read 010203", "write abcd",
                                                "notifying on", "notify 42", "notifying off"}));
    // After "Notifying" false the subscription is gone: a later value is not delivered.
    bus.changeObject(characteristic.c_str(), "org.bluez.GattCharacteristic1",
                     props({{"Value", g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, note, 1, 1)}}));
    bus.settle(200);
    EXPECT_EQ(events.size(), 8u);
    btle_adapter_free(adapter);
}

// Every call's reply comes after its object is freed (the adapter, which frees the device and its GATT objects):
// the reply must touch nothing of it (AddressSanitizer reports it otherwise) and reach no callback.
TEST_F(BtleDevice, RepliesAfterTheObjectIsFreedAreDropped) {
    BluezBus bus;
    ASSERT_TRUE(bus.ready);
    addGattTree(bus);
    static guint8 raw[] = {0x01};
    static GByteArray value = {raw, 1};
    using Call = void (*)(btle_adapter*, btle_device*);
    const std::vector<std::pair<const char*, Call>> calls = {
        {"Connect", [](btle_adapter*, btle_device* device) { btle_device_connect(device); }},
        {"Pair", [](btle_adapter*, btle_device* device) { btle_device_pair(device); }},
        {"Disconnect", [](btle_adapter*, btle_device* device) { btle_device_disconnect(device); }},
        {"GetManagedObjects",
         [](btle_adapter*, btle_device* d) { update(d, "ServicesResolved", g_variant_new_boolean(TRUE)); }},
        {"ReadValue", [](btle_adapter*, btle_device* d) { btle_device_read_char(d, SERVICE_UUID, CHAR_UUID); }},
        {"WriteValue",
         [](btle_adapter*, btle_device* d) {
             btle_device_write_char(d, SERVICE_UUID, CHAR_UUID, &value, BTLE_WRITE_WITH_RESPONSE);
         }},
        {"StartNotify", [](btle_adapter*, btle_device* d) { btle_device_start_notify(d, SERVICE_UUID, CHAR_UUID); }},
        {"ReadValue desc",
         [](btle_adapter*, btle_device* d) { btle_device_read_desc(d, SERVICE_UUID, CHAR_UUID, DESC_UUID); }},
        {"WriteValue desc",
         [](btle_adapter*, btle_device* d) { btle_device_write_desc(d, SERVICE_UUID, CHAR_UUID, DESC_UUID, &value); }},
        {"StartDiscovery", [](btle_adapter* adapter, btle_device*) { btle_adapter_start_discovery(adapter); }},
    };
    for (const auto& [method, call] : calls) {
        SCOPED_TRACE(method);
        bus.changeObject(
            DEVICE_PATH, "org.bluez.Device1",
            props({{"Connected", g_variant_new_boolean(FALSE)}, {"ServicesResolved", g_variant_new_boolean(FALSE)}}));
        btle_adapter* adapter = btle_adapter_get_default(bus.connection());
        ASSERT_NE(adapter, nullptr);
        btle_device* device = resolvedDevice(bus, adapter);
        ASSERT_NE(device, nullptr);
        btle_device_set_read_char_cb(device, onRead);
        btle_device_set_write_char_cb(device, onWrite);
        btle_device_set_notify_state_cb(device, onNotifyState);
        call(adapter, device);
        btle_adapter_free(adapter);
        events.clear();
        bus.settle(50);
        EXPECT_TRUE(events.empty()) << events.front();
    }
}

TEST_F(BtleDevice, PairingBondsAndARefusedConnectOrPairFallsBack) {
    BluezBus bus;
    ASSERT_TRUE(bus.ready);
    bus.addObject(DEVICE_PATH, "org.bluez.Device1", props({{"Address", g_variant_new_string("AA:BB:CC:DD:EE:FF")}}));
    btle_adapter* adapter = btle_adapter_get_default(bus.connection());
    ASSERT_NE(adapter, nullptr);
    btle_device* device = btle_adapter_get_device_by_path(adapter, DEVICE_PATH);
    ASSERT_NE(device, nullptr);
    btle_device_set_connection_state_change_cb(device, onState);
    btle_device_set_bonding_state_changed_cb(device, onBonding);
    btle_device_pair(device);
    ASSERT_TRUE(bus.waitFor([&] { return btle_device_get_bonding_state(device) == BTLE_BONDED; }));
    EXPECT_TRUE(bus.called(std::string("Pair ") + DEVICE_PATH));
    EXPECT_TRUE(btle_device_get_paired(device));

    // A refused Connect or Pair of a device that is not connected drops it back to disconnected, with the error.
    using Call = void (*)(btle_device*);
    const std::pair<const char*, Call> refused[] = {{"Connect", [](btle_device* d) { btle_device_connect(d); }},
                                                    {"Pair", [](btle_device* d) { btle_device_pair(d); }}};
    for (const auto& [method, call] : refused) {
        SCOPED_TRACE(method);
        bus.control("FailNext", g_variant_new("(s)", method));
        bus.changeObject(DEVICE_PATH, "org.bluez.Device1", props({{"Connected", g_variant_new_boolean(FALSE)}}));
        ASSERT_TRUE(bus.waitFor([&] { return btle_device_get_connection_state(device) == BTLE_DISCONNECTED; }));
        events.clear();
        call(device);
        ASSERT_TRUE(bus.waitFor([] { return events.size() == 2; }));
        EXPECT_EQ(events, (std::vector<std::string>{"state 2", "state 0 error"}));
    }
    btle_adapter_free(adapter);
}

} // namespace
