#include "tests/support/BluezBus.h"
#include "btle/btle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

const char* const DEVICE_PATH = "/org/bluez/hci0/dev_AA_BB_CC_DD_EE_FF";
std::vector<std::string> events;

std::vector<std::string> eventsStartingWith(const std::string& prefix) {
    std::vector<std::string> found;
    std::copy_if(events.begin(), events.end(), std::back_inserter(found),
                 [&](const std::string& e) { return e.rfind(prefix, 0) == 0; });
    return found;
}

void onPowered(btle_adapter*, gboolean powered) { events.push_back(powered ? "powered on" : "powered off"); }
void onCentral(btle_adapter*, btle_device* device) {
    events.push_back(std::string("central ") + btle_device_get_connection_state_name(device));
}
void onRemoved(btle_adapter*, btle_device* device) {
    events.push_back(std::string("removed ") + btle_device_get_path(device));
}
void onDiscovered(btle_adapter*, btle_device* device) {
    events.push_back(std::string("discovered ") + btle_device_get_path(device));
}
void onRegistration(btle_adapter*, btle_registration_call call, const GError* error) {
    const char* names[] = {"advertisement registered", "advertisement unregistered", "application registered",
                           "application unregistered"};
    events.push_back(std::string(names[call]) + (error ? " error" : ""));
}
void onDiscoveryState(btle_adapter* adapter, btle_discovery_state, const GError* error) {
    events.push_back(std::string("discovery ") + btle_adapter_get_discovery_state_name(adapter) +
                     (error ? " error" : ""));
}

// Whether the object answers a property read from another connection, as BlueZ would read it.
bool answers(BluezBus& bus, const char* path) {
    GDBusConnection* reader = bus.openConnection();
    std::atomic<int> answered{-1};
    std::string owner = g_dbus_connection_get_unique_name(bus.connection());
    std::thread caller([&] {
        GVariant* reply = g_dbus_connection_call_sync(reader, owner.c_str(), path, "org.freedesktop.DBus.Properties",
                                                      "GetAll", g_variant_new("(s)", "org.bluez.LEAdvertisement1"),
                                                      nullptr, G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, nullptr);
        answered = reply != nullptr;
        if (reply != nullptr) g_variant_unref(reply);
    });
    bus.waitFor([&] { return answered.load() >= 0; });
    caller.join();
    g_object_unref(reader);
    return answered.load() == 1;
}

class BtleAdapter : public ::testing::Test {
protected:
    void SetUp() override {
        events.clear();
        log_set_level(LOG_LEVEL_INFO);
    }
};

// A case on the default bus (hci0) with its adapter, which is freed after whatever the case freed itself.
class BtleAdapterOnBus : public BtleAdapter {
protected:
    void SetUp() override {
        BtleAdapter::SetUp();
        ASSERT_TRUE(bus.ready) << bus.failure;
        adapter = btle_adapter_get_default(bus.connection());
        ASSERT_NE(adapter, nullptr);
    }
    void TearDown() override {
        if (adapter != nullptr) btle_adapter_free(adapter);
    }
    BluezBus bus;
    btle_adapter* adapter = nullptr;
};

TEST_F(BtleAdapter, FindsAdaptersAndTheDevicesUnderThem) {
    BluezBus bus("hci0,hci1");
    ASSERT_TRUE(bus.ready);
    bus.addObject(DEVICE_PATH, "org.bluez.Device1",
                  props({{"Address", g_variant_new_string("AA:BB:CC:DD:EE:FF")},
                         {"Name", g_variant_new_string("phone")},
                         {"RSSI", g_variant_new_int16(-60)}}),
                  false);
    GPtrArray* all = btle_adapter_find_all(bus.connection());
    ASSERT_EQ(all->len, 2u);
    for (guint i = 0; i < all->len; i++) btle_adapter_free(static_cast<btle_adapter*>(all->pdata[i]));
    g_ptr_array_free(all, TRUE);

    btle_adapter* adapter = btle_adapter_get_default(bus.connection());
    ASSERT_NE(adapter, nullptr);
    EXPECT_STREQ(btle_adapter_get_name(adapter), "hci0");
    EXPECT_STREQ(btle_adapter_get_address(adapter), "00:11:22:33:44:50");
    EXPECT_FALSE(btle_adapter_get_powered_state(adapter));
    EXPECT_TRUE(btle_adapter_is_connectable(adapter));
    btle_device* device = btle_adapter_get_device_by_address(adapter, "AA:BB:CC:DD:EE:FF");
    ASSERT_NE(device, nullptr);
    EXPECT_STREQ(btle_device_get_name(device), "phone");
    EXPECT_EQ(btle_device_get_rssi(device), -60);
    btle_adapter_free(adapter);

    btle_adapter* second = btle_adapter_get(bus.connection(), "hci1");
    ASSERT_NE(second, nullptr);
    EXPECT_STREQ(btle_adapter_get_path(second), "/org/bluez/hci1");
    EXPECT_EQ(btle_adapter_get_device_by_path(second, DEVICE_PATH), nullptr);
    btle_adapter_free(second);
}

TEST_F(BtleAdapterOnBus, PowersOnAndReportsEveryPoweredChange) {
    btle_adapter_set_powered_state_cb(adapter, onPowered);
    btle_adapter_power_on(adapter);
    ASSERT_TRUE(bus.waitFor([&] { return btle_adapter_get_powered_state(adapter); }));
    // A report equal to the stored value still reaches the callback. The other settings as BlueZ sees them are
    // the Bluetooth transport's test.
    bus.changeObject("/org/bluez/hci0", "org.bluez.Adapter1", props({{"Powered", g_variant_new_boolean(TRUE)}}));
    ASSERT_TRUE(bus.waitFor([] { return events.size() == 2; }));
    EXPECT_EQ(events, (std::vector<std::string>{"powered on", "powered on"}));
}

TEST_F(BtleAdapterOnBus, AdvertisementDeclaresOnlyWhatWasSetAndReExportsAfterStop) {
    btle_advertisement* advertisement = btle_advertisement_create();
    EXPECT_TRUE(g_str_has_prefix(btle_advertisement_get_path(advertisement), "/org/bluez/btleadv_"));
    btle_advertisement_set_general_discoverable(advertisement, TRUE);
    btle_advertisement_set_interval(advertisement, 100, 200);
    guint8 first[] = {9, 9};
    guint8 mac[] = {1, 2, 3, 4, 5, 6};
    GByteArray* bytes = g_byte_array_new();
    g_byte_array_append(bytes, first, 2);
    btle_advertisement_set_manufacturer_data(advertisement, 0xFFFF, bytes);
    g_byte_array_set_size(bytes, 0);
    g_byte_array_append(bytes, mac, 6);
    btle_advertisement_set_manufacturer_data(advertisement, 0xFFFF, bytes);
    g_byte_array_free(bytes, TRUE);
    btle_advertisement_set_local_name(advertisement, "Pedal");

    btle_adapter_start_advertising(adapter, advertisement);
    ASSERT_TRUE(bus.waitFor([&] {
        return bus.called(std::string("RegisterAdvertisement ") + btle_advertisement_get_path(advertisement));
    }));
    GVariant* reply = bus.call("Advertisement", nullptr);
    ASSERT_NE(reply, nullptr);
    const char* xml = nullptr;
    GVariant* read = nullptr;
    g_variant_get(reply, "(&s@a{sv})", &xml, &read);
    for (const char* declared : {"Type", "LocalName", "ManufacturerData", "MinInterval", "MaxInterval", "Discoverable"})
        EXPECT_NE(strstr(xml, (std::string("name=\"") + declared + "\"").c_str()), nullptr) << declared;
    for (const char* absent : {"TxPower", "Includes", "Appearance", "ServiceUUIDs", "SecondaryChannel", "ServiceData"})
        EXPECT_EQ(strstr(xml, (std::string("name=\"") + absent + "\"").c_str()), nullptr) << absent;
    // The values BlueZ reads are the Bluetooth transport's test; a second set of one company's data replaces it.
    GVariant* manufacturer = g_variant_lookup_value(read, "ManufacturerData", G_VARIANT_TYPE("a{qv}"));
    ASSERT_NE(manufacturer, nullptr);
    ASSERT_EQ(g_variant_n_children(manufacturer), 1u);
    guint16 company = 0;
    GVariant* data = nullptr;
    g_variant_get_child(manufacturer, 0, "{qv}", &company, &data);
    EXPECT_EQ(company, 0xFFFF);
    EXPECT_EQ(g_variant_get_size(data), 6u);
    g_variant_unref(data);
    g_variant_unref(manufacturer);
    g_variant_unref(read);
    g_variant_unref(reply);

    // Stop unexports the object once BlueZ accepted it; a later start exports and registers it again.
    btle_adapter_set_registration_cb(adapter, onRegistration);
    btle_adapter_stop_advertising(adapter, advertisement);
    ASSERT_TRUE(bus.waitFor([] { return !events.empty(); }));
    EXPECT_EQ(events.back(), "advertisement unregistered");
    EXPECT_FALSE(answers(bus, btle_advertisement_get_path(advertisement)));
    btle_adapter_start_advertising(adapter, advertisement);
    ASSERT_TRUE(bus.waitFor([&] { return bus.count("RegisterAdvertisement") == 2; }));
    btle_advertisement_free(advertisement);
}

// A central connects and leaves at once: the advertisement is stopped and started again before BlueZ answers
// the stop. The export must stand for BlueZ to read, and go with the object when it is freed.
TEST_F(BtleAdapterOnBus, AStartBeforeTheStopIsAnsweredKeepsTheExportUntilTheObjectGoes) {
    btle_adapter_set_registration_cb(adapter, onRegistration);
    btle_advertisement* advertisement = btle_advertisement_create();
    btle_advertisement_set_local_name(advertisement, "Pedal");
    const std::string path = btle_advertisement_get_path(advertisement);
    btle_adapter_start_advertising(adapter, advertisement);
    ASSERT_TRUE(bus.waitFor([] { return events.size() == 1; }));
    btle_adapter_stop_advertising(adapter, advertisement);
    btle_adapter_start_advertising(adapter, advertisement);
    ASSERT_TRUE(bus.waitFor([] { return events.size() == 3; }));
    EXPECT_EQ(events, (std::vector<std::string>{"advertisement registered", "advertisement unregistered",
                                                "advertisement registered"}));
    EXPECT_TRUE(answers(bus, path.c_str()));
    btle_advertisement_free(advertisement);
    EXPECT_FALSE(answers(bus, path.c_str())) << "freed but still exported";
}

TEST_F(BtleAdapterOnBus, RegistrationOutcomesAreBlueZsAnswers) {
    btle_adapter_set_registration_cb(adapter, onRegistration);
    btle_advertisement* advertisement = btle_advertisement_create();
    btle_application* application = btle_create_application(adapter);
    bus.control("FailNext", g_variant_new("(s)", "RegisterAdvertisement"));
    bus.control("FailNext", g_variant_new("(s)", "RegisterApplication"));
    btle_adapter_start_advertising(adapter, advertisement);
    btle_adapter_register_application(adapter, application);
    ASSERT_TRUE(bus.waitFor([] { return events.size() == 2; }));
    btle_adapter_start_advertising(adapter, advertisement);
    btle_adapter_register_application(adapter, application);
    ASSERT_TRUE(bus.waitFor([] { return events.size() == 4; }));
    // A second registration of what is registered is refused, as BlueZ does.
    btle_adapter_register_application(adapter, application);
    ASSERT_TRUE(bus.waitFor([] { return events.size() == 5; }));
    EXPECT_EQ(events, (std::vector<std::string>{"advertisement registered error", "application registered error",
                                                "advertisement registered", "application registered",
                                                "application registered error"}));
    btle_application_free(application);
    btle_advertisement_free(advertisement);
}

TEST_F(BtleAdapterOnBus, RemoteCentralConnectsAndDisconnects) {
    btle_adapter_set_remote_central_cb(adapter, onCentral);
    btle_adapter_set_device_removal_cb(adapter, onRemoved);
    bus.addObject(
        DEVICE_PATH, "org.bluez.Device1",
        props({{"Address", g_variant_new_string("AA:BB:CC:DD:EE:FF")}, {"Connected", g_variant_new_boolean(TRUE)}}),
        true);
    ASSERT_TRUE(bus.waitFor([] { return events.size() == 1; }));
    btle_device* device = btle_adapter_get_device_by_path(adapter, DEVICE_PATH);
    ASSERT_NE(device, nullptr);
    EXPECT_TRUE(btle_device_is_central(device));
    EXPECT_EQ(btle_device_get_mtu(device), 23u);
    GList* connected = btle_adapter_get_connected_devices(adapter);
    EXPECT_EQ(g_list_length(connected), 1u);
    g_list_free(connected);

    bus.changeObject(DEVICE_PATH, "org.bluez.Device1", props({{"Connected", g_variant_new_boolean(FALSE)}}));
    ASSERT_TRUE(bus.waitFor([] { return events.size() == 2; }));
    bus.control("RemoveObject", g_variant_new("(o)", DEVICE_PATH));
    ASSERT_TRUE(bus.waitFor([] { return events.size() == 3; }));
    EXPECT_EQ(events, (std::vector<std::string>{"central CONNECTED", "central DISCONNECTED",
                                                std::string("removed ") + DEVICE_PATH}));
    EXPECT_EQ(btle_adapter_get_device_by_path(adapter, DEVICE_PATH), nullptr);
}

TEST_F(BtleAdapterOnBus, DiscoveryFiltersResultsAndFollowsTheStateMachine) {
    btle_adapter_set_discovery_cb(adapter, onDiscovered);
    btle_adapter_set_discovery_state_cb(adapter, onDiscoveryState);
    btle_adapter_set_discovery_filter(adapter, -70, nullptr, "ph");
    btle_adapter_start_discovery(adapter);
    ASSERT_TRUE(bus.waitFor([&] { return btle_adapter_get_discovery_state(adapter) == BTLE_DISCOVERY_STARTED; }));
    EXPECT_TRUE(bus.called("SetDiscoveryFilter DuplicateData=1,Pattern=ph,RSSI=-70,Transport=le"));

    const struct {
        const char* path;
        const char* name;
        gint16 rssi;
        bool delivered;
    } devices[] = {{"/org/bluez/hci0/dev_00_00_00_00_00_01", "phone", -50, true},
                   {"/org/bluez/hci0/dev_00_00_00_00_00_02", "phone", -90, false},
                   {"/org/bluez/hci0/dev_00_00_00_00_00_03", "tablet", -40, false}};
    for (const auto& d : devices) {
        bus.addObject(d.path, "org.bluez.Device1",
                      props({{"Name", g_variant_new_string(d.name)}, {"RSSI", g_variant_new_int16(d.rssi)}}), true);
    }
    ASSERT_TRUE(bus.waitFor([&] { return btle_adapter_get_device_by_path(adapter, devices[2].path) != nullptr; }));
    // A device never seen by a scan keeps RSSI -255 and is never delivered while a threshold is set.
    bus.addObject("/org/bluez/hci0/dev_00_00_00_00_00_04", "org.bluez.Device1",
                  props({{"Name", g_variant_new_string("phone")}}), true);
    ASSERT_TRUE(bus.waitFor(
        [&] { return btle_adapter_get_device_by_path(adapter, "/org/bluez/hci0/dev_00_00_00_00_00_04") != nullptr; }));
    EXPECT_EQ(eventsStartingWith("discovered"),
              (std::vector<std::string>{std::string("discovered ") + devices[0].path}));

    bus.changeObject("/org/bluez/hci0", "org.bluez.Adapter1", props({{"Discovering", g_variant_new_boolean(FALSE)}}));
    ASSERT_TRUE(bus.waitFor([&] { return btle_adapter_get_discovery_state(adapter) == BTLE_DISCOVERY_STOPPED; }));

    bus.control("FailNext", g_variant_new("(s)", "StartDiscovery"));
    btle_adapter_start_discovery(adapter);
    ASSERT_TRUE(bus.waitFor([] { return events.back() == "discovery stopped error"; }));
    EXPECT_EQ(eventsStartingWith("discovery "),
              (std::vector<std::string>{"discovery starting", "discovery started", "discovery stopped",
                                        "discovery starting", "discovery stopped error"}));
}

TEST_F(BtleAdapterOnBus, AServiceFilterDeliversOnlyDevicesOfferingTheService) {
    btle_adapter_set_discovery_cb(adapter, onDiscovered);
    const char* wanted = "6e400001-b5a3-f393-e0a9-e50e24dcca9e";
    const char* other = "0000180f-0000-1000-8000-00805f9b34fb";
    GPtrArray* uuids = g_ptr_array_new();
    g_ptr_array_add(uuids, const_cast<char*>(wanted));
    btle_adapter_set_discovery_filter(adapter, -90, uuids, nullptr);
    g_ptr_array_free(uuids, TRUE);
    btle_adapter_start_discovery(adapter);
    ASSERT_TRUE(bus.waitFor([&] { return btle_adapter_get_discovery_state(adapter) == BTLE_DISCOVERY_STARTED; }));
    std::vector<std::string> filters;
    for (const std::string& call : bus.calls())
        if (call.rfind("SetDiscoveryFilter", 0) == 0) filters.push_back(call);
    ASSERT_EQ(filters.size(), 1u);
    EXPECT_NE(filters[0].find("UUIDs="), std::string::npos) << filters[0];
    EXPECT_NE(filters[0].find(wanted), std::string::npos) << filters[0];

    const struct {
        const char* path;
        const char* uuid;
    } devices[] = {{"/org/bluez/hci0/dev_00_00_00_00_00_05", other}, {"/org/bluez/hci0/dev_00_00_00_00_00_06", wanted}};
    for (const auto& d : devices) {
        const char* list[] = {d.uuid};
        bus.addObject(d.path, "org.bluez.Device1",
                      props({{"RSSI", g_variant_new_int16(-50)}, {"UUIDs", g_variant_new_strv(list, 1)}}), true);
    }
    ASSERT_TRUE(bus.waitFor([&] { return btle_adapter_get_device_by_path(adapter, devices[1].path) != nullptr; }));
    EXPECT_EQ(events, (std::vector<std::string>{std::string("discovered ") + devices[1].path}));
}

TEST_F(BtleAdapterOnBus, DeviceFirstSeenInAPropertyChangeIsFetchedWhole) {
    bus.addObject(
        DEVICE_PATH, "org.bluez.Device1",
        props({{"Address", g_variant_new_string("AA:BB:CC:DD:EE:FF")}, {"Name", g_variant_new_string("late")}}), false);
    bus.changeObject(DEVICE_PATH, "org.bluez.Device1", props({{"RSSI", g_variant_new_int16(-40)}}));
    ASSERT_TRUE(bus.waitFor([&] {
        btle_device* device = btle_adapter_get_device_by_path(adapter, DEVICE_PATH);
        return device && btle_device_get_name(device) != nullptr;
    }));
    EXPECT_STREQ(btle_device_get_name(btle_adapter_get_device_by_path(adapter, DEVICE_PATH)), "late");
}

} // namespace
