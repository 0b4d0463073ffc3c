#include "btle/btle_device.h"

#include "btle/btle_adapter.h"
#include "btle/btle_bluez_names.h"
#include "btle/btle_logger.h"
#include "btle/btle_reply.h"
#include "btle/btle_utility.h"

#include <string.h>

using namespace btle_names;

namespace {
const char* const TAG = "Device";
const char* const CONNECTION_STATE_NAMES[] = {"DISCONNECTED", "CONNECTED", "CONNECTING", "DISCONNECTING"};
constexpr gint16 UNKNOWN_RSSI = -255;
constexpr gint16 UNKNOWN_TX_POWER = -255;
constexpr guint DEFAULT_MTU = 23;
} // namespace

struct btle_device {
    GDBusConnection* connection;
    btle_adapter* adapter;
    char* address;
    char* address_type;
    char* alias;
    btle_connection_state connection_state;
    gboolean services_resolved;
    gboolean service_discovery_started;
    gboolean paired;
    btle_bonding_state bondingState;
    char* path;
    char* name;
    gint16 rssi;
    gboolean trusted;
    gint16 txpower;
    GHashTable* manufacturer_data;
    GHashTable* service_data;
    GList* uuids;
    guint mtu;
    guint device_prop_changed;
    btle_device_connection_state_cb connection_state_callback;
    btle_device_services_resolved_cb services_resolved_callback;
    btle_device_bonding_state_cb bonding_state_callback;
    GHashTable* services;
    GList* services_list;
    GHashTable* characteristics;
    GHashTable* descriptors;
    gboolean is_central;
    btle_device_read_char_cb on_read_callback;
    btle_device_write_char_cb on_write_callback;
    btle_device_notify_char_cb on_notify_callback;
    btle_device_notify_state_cb on_notify_state_callback;
    btle_device_read_desc_cb on_read_desc_cb;
    btle_device_write_desc_cb on_write_desc_cb;
    void* user_data;
    GCancellable* pending; // cancelled at free so late replies leave the freed device alone
};

namespace {

void byte_array_free(gpointer data) { g_byte_array_free(static_cast<GByteArray*>(data), TRUE); }

void set_connection_state(btle_device* device, btle_connection_state state, const GError* error) {
    btle_connection_state old_state = device->connection_state;
    device->connection_state = state;
    if (old_state != state && device->connection_state_callback)
        device->connection_state_callback(device, state, error);
}

void set_string(char** field, const char* value) {
    g_free(*field);
    *field = g_strdup(value);
}

GByteArray* copy_variant_bytes(GVariant* value) {
    gsize length = 0;
    const guint8* data = static_cast<const guint8*>(g_variant_get_fixed_array(value, &length, sizeof(guint8)));
    GByteArray* bytes = g_byte_array_sized_new((guint)length);
    g_byte_array_append(bytes, data, (guint)length);
    return bytes;
}

GHashTable* manufacturer_data_from_variant(GVariant* value) {
    GHashTable* table = g_hash_table_new_full(g_int_hash, g_int_equal, g_free, byte_array_free);
    GVariantIter iter;
    guint16 company;
    GVariant* data;
    g_variant_iter_init(&iter, value);
    while (g_variant_iter_loop(&iter, "{qv}", &company, &data)) {
        if (!g_variant_is_of_type(data, G_VARIANT_TYPE_BYTESTRING)) continue;
        gint* key = g_new0(gint, 1);
        *key = company;
        g_hash_table_insert(table, key, copy_variant_bytes(data));
    }
    return table;
}

GHashTable* service_data_from_variant(GVariant* value) {
    GHashTable* table = g_hash_table_new_full(g_str_hash, g_str_equal, g_free, byte_array_free);
    GVariantIter iter;
    const char* uuid;
    GVariant* data;
    g_variant_iter_init(&iter, value);
    while (g_variant_iter_loop(&iter, "{&sv}", &uuid, &data)) {
        if (!g_variant_is_of_type(data, G_VARIANT_TYPE_BYTESTRING)) continue;
        g_hash_table_insert(table, g_strdup(uuid), copy_variant_bytes(data));
    }
    return table;
}

bool is_type(GVariant* value, const char* type) { return g_variant_is_of_type(value, G_VARIANT_TYPE(type)); }

void btle_internal_collect_gatt_tree_cb(GObject* source_object, GAsyncResult* res, gpointer user_data);

void request_gatt_tree(btle_device* device) {
    device->service_discovery_started = TRUE;
    g_dbus_connection_call(device->connection, BLUEZ_DBUS, "/", INTERFACE_OBJECT_MANAGER, "GetManagedObjects", nullptr,
                           G_VARIANT_TYPE("(a{oa{sa{sv}}})"), G_DBUS_CALL_FLAGS_NONE, -1, device->pending,
                           btle_internal_collect_gatt_tree_cb, device);
}

void btle_device_changed(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters,
                         gpointer user_data) {
    auto* device = static_cast<btle_device*>(user_data);
    g_assert(g_str_equal(g_variant_get_type_string(parameters), "(sa{sv}as)"));
    GVariantIter* properties = nullptr;
    const char* interface = nullptr;
    g_variant_get(parameters, "(&sa{sv}as)", &interface, &properties, nullptr);
    const char* name;
    GVariant* value;
    while (g_variant_iter_loop(properties, "{&sv}", &name, &value)) {
        if (g_str_equal(name, "Connected") && is_type(value, "b")) {
            bool connected = g_variant_get_boolean(value);
            set_connection_state(device, connected ? BTLE_CONNECTED : BTLE_DISCONNECTED, nullptr);
            if (!connected && device->device_prop_changed != 0) {
                g_dbus_connection_signal_unsubscribe(device->connection, device->device_prop_changed);
                device->device_prop_changed = 0;
            }
        } else if (g_str_equal(name, "ServicesResolved") && is_type(value, "b")) {
            device->services_resolved = g_variant_get_boolean(value);
            log_debug(TAG, "ServicesResolved %s", device->services_resolved ? "true" : "false");
            if (device->services_resolved && device->bondingState != BTLE_BONDING) {
                request_gatt_tree(device);
            } else if (device->connection_state == BTLE_CONNECTED && !device->services_resolved) {
                set_connection_state(device, BTLE_DISCONNECTING, nullptr);
            }
        } else if (g_str_equal(name, "Paired") && is_type(value, "b")) {
            device->paired = g_variant_get_boolean(value);
            log_debug(TAG, "Paired %s", device->paired ? "true" : "false");
            btle_device_set_bonding_state(device, device->paired ? BTLE_BONDED : BTLE_BOND_NONE);
            if (device->services == nullptr && device->services_resolved && !device->service_discovery_started) {
                request_gatt_tree(device);
            }
        }
    }
    g_variant_iter_free(properties);
}

void subscribe_prop_changed(btle_device* device) {
    if (device->device_prop_changed != 0) return;
    device->device_prop_changed = g_dbus_connection_signal_subscribe(
        device->connection, BLUEZ_DBUS, INTERFACE_PROPERTIES, "PropertiesChanged", device->path, INTERFACE_DEVICE,
        G_DBUS_SIGNAL_FLAGS_NONE, btle_device_changed, device, nullptr);
}

// Forwarders from the collected GATT objects to the device's own callbacks.
void device_on_char_read(btle_device* device, btle_characteristic* characteristic, const GByteArray* byteArray,
                         const GError* error) {
    if (device->on_read_callback) device->on_read_callback(device, characteristic, byteArray, error);
}

void device_on_char_write(btle_device* device, btle_characteristic* characteristic, const GByteArray* byteArray,
                          const GError* error) {
    if (device->on_write_callback) device->on_write_callback(device, characteristic, byteArray, error);
}

void device_on_notify(btle_device* device, btle_characteristic* characteristic, const GByteArray* byteArray) {
    if (device->on_notify_callback) device->on_notify_callback(device, characteristic, byteArray);
}

void device_on_notify_state(btle_device* device, btle_characteristic* characteristic, const GError* error) {
    if (device->on_notify_state_callback) device->on_notify_state_callback(device, characteristic, error);
}

void device_on_desc_read(btle_device* device, btle_descriptor* descriptor, const GByteArray* byteArray,
                         const GError* error) {
    if (device->on_read_desc_cb) device->on_read_desc_cb(device, descriptor, byteArray, error);
}

void device_on_desc_write(btle_device* device, btle_descriptor* descriptor, const GByteArray* byteArray,
                          const GError* error) {
    if (device->on_write_desc_cb) device->on_write_desc_cb(device, descriptor, byteArray, error);
}

void btle_internal_extract_service(btle_device* device, const char* path, GVariant* properties) {
    const char* uuid = nullptr;
    if (!g_variant_lookup(properties, "UUID", "&s", &uuid) || !is_valid_uuid(uuid)) return;
    btle_service* service = btle_service_create(device, path, uuid);
    g_hash_table_insert(device->services, g_strdup(path), service);
}

void btle_internal_extract_characteristic(btle_device* device, const char* path, GVariant* properties) {
    btle_characteristic* characteristic = btle_characteristic_create(device, path);
    btle_characteristic_set_read_cb(characteristic, device_on_char_read);
    btle_characteristic_set_write_cb(characteristic, device_on_char_write);
    btle_characteristic_set_notify_cb(characteristic, device_on_notify);
    btle_characteristic_set_notifying_state_change_cb(characteristic, device_on_notify_state);

    GVariantIter iter;
    const char* name;
    GVariant* value;
    g_variant_iter_init(&iter, properties);
    while (g_variant_iter_loop(&iter, "{&sv}", &name, &value)) {
        if (g_str_equal(name, "UUID") && is_type(value, "s")) {
            btle_characteristic_set_uuid(characteristic, g_variant_get_string(value, nullptr));
        } else if (g_str_equal(name, "Service") && is_type(value, "o")) {
            btle_characteristic_set_service_path(characteristic, g_variant_get_string(value, nullptr));
        } else if (g_str_equal(name, "Flags") && is_type(value, "as")) {
            btle_characteristic_set_flags(characteristic, g_variant_string_array_to_list(value));
        } else if (g_str_equal(name, "Notifying") && is_type(value, "b")) {
            btle_characteristic_set_notifying(characteristic, g_variant_get_boolean(value));
        } else if (g_str_equal(name, "MTU") && is_type(value, "q")) {
            guint16 mtu = g_variant_get_uint16(value);
            btle_characteristic_set_mtu(characteristic, mtu);
            device->mtu = mtu;
        }
    }

    const char* service_path = btle_characteristic_get_service_path(characteristic);
    btle_service* service =
        service_path ? static_cast<btle_service*>(g_hash_table_lookup(device->services, service_path)) : nullptr;
    if (service == nullptr || btle_characteristic_get_uuid(characteristic) == nullptr) {
        log_error(TAG, "could not find service %s", service_path ? service_path : "(none)");
        btle_characteristic_free(characteristic);
        return;
    }
    btle_service_add_characteristic(service, characteristic);
    btle_characteristic_set_service(characteristic, service);
    g_hash_table_insert(device->characteristics, g_strdup(path), characteristic);
    char* text = btle_characteristic_to_string(characteristic);
    log_debug(TAG, "%s", text);
    g_free(text);
}

void btle_internal_extract_descriptor(btle_device* device, const char* path, GVariant* properties) {
    btle_descriptor* descriptor = btle_descriptor_create(device, path);
    btle_descriptor_set_read_cb(descriptor, device_on_desc_read);
    btle_descriptor_set_write_cb(descriptor, device_on_desc_write);

    GVariantIter iter;
    const char* name;
    GVariant* value;
    bool hasUuid = false;
    g_variant_iter_init(&iter, properties);
    while (g_variant_iter_loop(&iter, "{&sv}", &name, &value)) {
        if (g_str_equal(name, "UUID") && is_type(value, "s") && is_valid_uuid(g_variant_get_string(value, nullptr))) {
            btle_descriptor_set_uuid(descriptor, g_variant_get_string(value, nullptr));
            hasUuid = true;
        } else if (g_str_equal(name, "Characteristic") && is_type(value, "o")) {
            btle_descriptor_set_char_path(descriptor, g_variant_get_string(value, nullptr));
        } else if (g_str_equal(name, "Flags") && is_type(value, "as")) {
            btle_descriptor_set_flags(descriptor, g_variant_string_array_to_list(value));
        }
    }

    const char* char_path = btle_descriptor_get_char_path(descriptor);
    btle_characteristic* characteristic =
        char_path ? static_cast<btle_characteristic*>(g_hash_table_lookup(device->characteristics, char_path))
                  : nullptr;
    if (characteristic == nullptr || !hasUuid) {
        log_error(TAG, "could not find characteristic %s", char_path ? char_path : "(none)");
        btle_descriptor_free(descriptor);
        return;
    }
    btle_characteristic_add_descriptor(characteristic, descriptor);
    btle_descriptor_set_char(descriptor, characteristic);
    g_hash_table_insert(device->descriptors, g_strdup(path), descriptor);
    char* text = btle_descriptor_to_string(descriptor);
    log_debug(TAG, "%s", text);
    g_free(text);
}

void free_gatt_tables(btle_device* device) {
    // Descriptors and characteristics first: services only borrow them.
    if (device->descriptors) g_hash_table_destroy(device->descriptors);
    if (device->characteristics) g_hash_table_destroy(device->characteristics);
    if (device->services) g_hash_table_destroy(device->services);
    g_list_free(device->services_list);
    device->descriptors = nullptr;
    device->characteristics = nullptr;
    device->services = nullptr;
    device->services_list = nullptr;
}

void btle_internal_collect_gatt_tree_cb(GObject* source_object, GAsyncResult* res, gpointer user_data) {
    auto* device = static_cast<btle_device*>(user_data);
    g_autoptr(GVariant) result = nullptr;
    g_autoptr(GError) error = nullptr;
    if (!btle_finish_reply(source_object, res, TAG, "GetManagedObjects", &result, &error) || !result) return;
    free_gatt_tables(device);
    device->services =
        g_hash_table_new_full(g_str_hash, g_str_equal, g_free, reinterpret_cast<GDestroyNotify>(btle_service_free));
    device->characteristics = g_hash_table_new_full(g_str_hash, g_str_equal, g_free,
                                                    reinterpret_cast<GDestroyNotify>(btle_characteristic_free));
    device->descriptors =
        g_hash_table_new_full(g_str_hash, g_str_equal, g_free, reinterpret_cast<GDestroyNotify>(btle_descriptor_free));

    g_autoptr(GVariant) objects = g_variant_get_child_value(result, 0);
    GVariantIter objectIter;
    const char* objectPath;
    GVariant* interfaces;
    g_variant_iter_init(&objectIter, objects);
    while (g_variant_iter_loop(&objectIter, "{&o@a{sa{sv}}}", &objectPath, &interfaces)) {
        if (!g_str_has_prefix(objectPath, device->path)) continue;
        GVariantIter interfaceIter;
        const char* interfaceName;
        GVariant* properties;
        g_variant_iter_init(&interfaceIter, interfaces);
        while (g_variant_iter_loop(&interfaceIter, "{&s@a{sv}}", &interfaceName, &properties)) {
            if (g_str_equal(interfaceName, INTERFACE_SERVICE)) {
                btle_internal_extract_service(device, objectPath, properties);
            } else if (g_str_equal(interfaceName, INTERFACE_CHARACTERISTIC)) {
                btle_internal_extract_characteristic(device, objectPath, properties);
            } else if (g_str_equal(interfaceName, INTERFACE_DESCRIPTOR)) {
                btle_internal_extract_descriptor(device, objectPath, properties);
            }
        }
    }

    device->services_list = g_hash_table_get_values(device->services);
    log_debug(TAG, "found %d services", (int)g_list_length(device->services_list));
    if (device->services_resolved_callback) device->services_resolved_callback(device);
}

// A refused Connect or Pair leaves the device disconnected, a refused Disconnect leaves it connected.
void device_method_reply(GObject* source_object, GAsyncResult* res, gpointer user_data, const char* method,
                         btle_connection_state state_on_failure) {
    g_autoptr(GVariant) result = nullptr;
    g_autoptr(GError) error = nullptr;
    if (!btle_finish_reply(source_object, res, TAG, method, &result, &error)) return;
    if (error) set_connection_state(static_cast<btle_device*>(user_data), state_on_failure, error);
}

void btle_internal_connect_cb(GObject* source_object, GAsyncResult* res, gpointer user_data) {
    device_method_reply(source_object, res, user_data, "Connect", BTLE_DISCONNECTED);
}

void btle_internal_pair_cb(GObject* source_object, GAsyncResult* res, gpointer user_data) {
    device_method_reply(source_object, res, user_data, "Pair", BTLE_DISCONNECTED);
}

void btle_internal_disconnect_cb(GObject* source_object, GAsyncResult* res, gpointer user_data) {
    device_method_reply(source_object, res, user_data, "Disconnect", BTLE_CONNECTED);
}

void call_device_method(btle_device* device, const char* method, GAsyncReadyCallback callback) {
    g_dbus_connection_call(device->connection, BLUEZ_DBUS, device->path, INTERFACE_DEVICE, method, nullptr, nullptr,
                           G_DBUS_CALL_FLAGS_NONE, -1, device->pending, callback, device);
}

char* manufacturer_data_text(GHashTable* table) {
    GString* text = g_string_new("[");
    if (table) {
        GHashTableIter iter;
        gpointer key, value;
        bool first = true;
        g_hash_table_iter_init(&iter, table);
        while (g_hash_table_iter_next(&iter, &key, &value)) {
            GString* hex = g_byte_array_as_hex(static_cast<GByteArray*>(value));
            g_string_append_printf(text, "%s%04X -> %s", first ? "" : ", ", *static_cast<gint*>(key), hex->str);
            g_string_free(hex, TRUE);
            first = false;
        }
    }
    g_string_append(text, "]");
    return g_string_free(text, FALSE);
}

char* service_data_text(GHashTable* table) {
    GString* text = g_string_new("[");
    if (table) {
        GHashTableIter iter;
        gpointer key, value;
        bool first = true;
        g_hash_table_iter_init(&iter, table);
        while (g_hash_table_iter_next(&iter, &key, &value)) {
            GString* hex = g_byte_array_as_hex(static_cast<GByteArray*>(value));
            g_string_append_printf(text, "%s%s -> %s", first ? "" : ", ", static_cast<const char*>(key), hex->str);
            g_string_free(hex, TRUE);
            first = false;
        }
    }
    g_string_append(text, "]");
    return g_string_free(text, FALSE);
}

} // namespace

btle_device* btle_device_create(const char* path, btle_adapter* adapter) {
    g_assert(path != NULL);
    g_assert(strlen(path) > 0);
    g_assert(adapter != NULL);
    g_assert(g_str_has_prefix(path, btle_adapter_get_path(adapter)));
    btle_device* device = g_new0(btle_device, 1);
    device->path = g_strdup(path);
    device->adapter = adapter;
    device->connection = btle_adapter_get_dbus_connection(adapter);
    device->connection_state = BTLE_DISCONNECTED;
    device->bondingState = BTLE_BOND_NONE;
    device->rssi = UNKNOWN_RSSI;
    device->txpower = UNKNOWN_TX_POWER;
    device->mtu = DEFAULT_MTU;
    device->pending = g_cancellable_new();
    return device;
}

void btle_device_free(btle_device* device) {
    g_assert(device != NULL);
    log_debug(TAG, "freeing %s", device->path);
    if (device->device_prop_changed != 0) {
        g_dbus_connection_signal_unsubscribe(device->connection, device->device_prop_changed);
    }
    g_cancellable_cancel(device->pending);
    g_object_unref(device->pending);
    free_gatt_tables(device);
    g_free(device->address);
    g_free(device->address_type);
    g_free(device->alias);
    g_free(device->name);
    g_free(device->path);
    if (device->manufacturer_data) g_hash_table_destroy(device->manufacturer_data);
    if (device->service_data) g_hash_table_destroy(device->service_data);
    g_list_free_full(device->uuids, g_free);
    g_free(device);
}

void btle_internal_device_update_property(btle_device* device, const char* property_name, GVariant* property_value) {
    g_assert(device != NULL);
    g_assert(property_name != NULL);
    g_assert(property_value != NULL);
    // BlueZ is outside the process: a property of an unexpected type is ignored rather than trusted.
    if (g_str_equal(property_name, "Address") && is_type(property_value, "s")) {
        set_string(&device->address, g_variant_get_string(property_value, nullptr));
    } else if (g_str_equal(property_name, "AddressType") && is_type(property_value, "s")) {
        set_string(&device->address_type, g_variant_get_string(property_value, nullptr));
    } else if (g_str_equal(property_name, "Alias") && is_type(property_value, "s")) {
        set_string(&device->alias, g_variant_get_string(property_value, nullptr));
    } else if (g_str_equal(property_name, "Connected") && is_type(property_value, "b")) {
        set_connection_state(device, g_variant_get_boolean(property_value) ? BTLE_CONNECTED : BTLE_DISCONNECTED,
                             nullptr);
    } else if (g_str_equal(property_name, "Name") && is_type(property_value, "s")) {
        // An empty name keeps the previous one.
        const char* name = g_variant_get_string(property_value, nullptr);
        if (strlen(name) > 0) btle_device_set_name(device, name);
    } else if (g_str_equal(property_name, "Paired") && is_type(property_value, "b")) {
        btle_device_set_paired(device, g_variant_get_boolean(property_value));
    } else if (g_str_equal(property_name, "RSSI") && is_type(property_value, "n")) {
        device->rssi = g_variant_get_int16(property_value);
    } else if (g_str_equal(property_name, "Trusted") && is_type(property_value, "b")) {
        device->trusted = g_variant_get_boolean(property_value);
    } else if (g_str_equal(property_name, "TxPower") && is_type(property_value, "n")) {
        device->txpower = g_variant_get_int16(property_value);
    } else if (g_str_equal(property_name, "UUIDs") && is_type(property_value, "as")) {
        btle_device_set_uuids(device, g_variant_string_array_to_list(property_value));
    } else if (g_str_equal(property_name, "ManufacturerData") && is_type(property_value, "a{qv}")) {
        btle_device_set_manufacturer_data(device, manufacturer_data_from_variant(property_value));
    } else if (g_str_equal(property_name, "ServiceData") && is_type(property_value, "a{sv}")) {
        btle_device_set_service_data(device, service_data_from_variant(property_value));
    }
}

char* btle_device_to_string(const btle_device* device) {
    g_assert(device != NULL);
    char* uuids = btle_join_strings(device->uuids);
    char* manufacturer = manufacturer_data_text(device->manufacturer_data);
    char* service = service_data_text(device->service_data);
    char* text =
        g_strdup_printf("Device{name='%s', address='%s', address_type=%s, rssi=%d, uuids=%s, "
                        "manufacturer_data=%s, service_data=%s, paired=%s, txpower=%d path='%s' }",
                        device->name ? device->name : "(null)", device->address ? device->address : "(null)",
                        device->address_type ? device->address_type : "(null)", device->rssi, uuids, manufacturer,
                        service, device->paired ? "true" : "false", device->txpower, device->path);
    g_free(uuids);
    g_free(manufacturer);
    g_free(service);
    return text;
}

// The plain properties: a getter and a setter each, the strings copied.
#define BTLE_DEVICE_STRING_PROPERTY(field)                                                                             \
    const char* btle_device_get_##field(const btle_device* device) {                                                   \
        g_assert(device != NULL);                                                                                      \
        return device->field;                                                                                          \
    }                                                                                                                  \
    void btle_device_set_##field(btle_device* device, const char* field) {                                             \
        g_assert(device != NULL);                                                                                      \
        g_assert(field != NULL);                                                                                       \
        set_string(&device->field, field);                                                                             \
    }
#define BTLE_DEVICE_VALUE_PROPERTY(type, field)                                                                        \
    type btle_device_get_##field(const btle_device* device) {                                                          \
        g_assert(device != NULL);                                                                                      \
        return device->field;                                                                                          \
    }                                                                                                                  \
    void btle_device_set_##field(btle_device* device, type field) {                                                    \
        g_assert(device != NULL);                                                                                      \
        device->field = field;                                                                                         \
    }
BTLE_DEVICE_STRING_PROPERTY(address)
BTLE_DEVICE_STRING_PROPERTY(address_type)
BTLE_DEVICE_STRING_PROPERTY(alias)
BTLE_DEVICE_STRING_PROPERTY(path)
BTLE_DEVICE_VALUE_PROPERTY(gint16, rssi)
BTLE_DEVICE_VALUE_PROPERTY(gboolean, trusted)
BTLE_DEVICE_VALUE_PROPERTY(gint16, txpower)
#undef BTLE_DEVICE_STRING_PROPERTY
#undef BTLE_DEVICE_VALUE_PROPERTY

const char* btle_device_get_name(const btle_device* device) {
    g_assert(device != NULL);
    return device->name;
}

void btle_device_set_name(btle_device* device, const char* name) {
    g_assert(device != NULL);
    g_assert(name != NULL);
    g_assert(strlen(name) > 0);
    set_string(&device->name, name);
}

gboolean btle_device_get_paired(const btle_device* device) {
    g_assert(device != NULL);
    return device->paired;
}

void btle_device_set_paired(btle_device* device, gboolean paired) {
    g_assert(device != NULL);
    device->paired = paired;
    btle_device_set_bonding_state(device, paired ? BTLE_BONDED : BTLE_BOND_NONE);
}

btle_bonding_state btle_device_get_bonding_state(const btle_device* device) {
    g_assert(device != NULL);
    return device->bondingState;
}

void btle_device_set_bonding_state(btle_device* device, btle_bonding_state bonding_state) {
    g_assert(device != NULL);
    btle_bonding_state old_state = device->bondingState;
    device->bondingState = bonding_state;
    if (old_state != bonding_state && device->bonding_state_callback) {
        device->bonding_state_callback(device, bonding_state, old_state, nullptr);
    }
}

GList* btle_device_get_uuids(const btle_device* device) {
    g_assert(device != NULL);
    return device->uuids;
}

void btle_device_set_uuids(btle_device* device, GList* uuids) {
    g_assert(device != NULL);
    g_list_free_full(device->uuids, g_free);
    device->uuids = uuids;
}

GHashTable* btle_device_get_manufacturer_data(const btle_device* device) {
    g_assert(device != NULL);
    return device->manufacturer_data;
}

void btle_device_set_manufacturer_data(btle_device* device, GHashTable* manufacturer_data) {
    g_assert(device != NULL);
    if (device->manufacturer_data) g_hash_table_destroy(device->manufacturer_data);
    device->manufacturer_data = manufacturer_data;
}

GHashTable* btle_device_get_service_data(const btle_device* device) {
    g_assert(device != NULL);
    return device->service_data;
}

void btle_device_set_service_data(btle_device* device, GHashTable* service_data) {
    g_assert(device != NULL);
    if (device->service_data) g_hash_table_destroy(device->service_data);
    device->service_data = service_data;
}

void btle_device_set_is_central(btle_device* device, gboolean is_central) {
    g_assert(device != NULL);
    device->is_central = is_central;
}

gboolean btle_device_is_central(const btle_device* device) {
    g_assert(device != NULL);
    return device->is_central;
}

btle_connection_state btle_device_get_connection_state(const btle_device* device) {
    g_assert(device != NULL);
    return device->connection_state;
}

const char* btle_device_get_connection_state_name(const btle_device* device) {
    g_assert(device != NULL);
    return CONNECTION_STATE_NAMES[device->connection_state];
}

GDBusConnection* btle_device_get_dbus_connection(const btle_device* device) {
    g_assert(device != NULL);
    return device->connection;
}

btle_adapter* btle_device_get_adapter(const btle_device* device) {
    g_assert(device != NULL);
    return device->adapter;
}

guint btle_device_get_mtu(const btle_device* device) {
    g_assert(device != NULL);
    return device->mtu;
}

GList* btle_device_get_services(const btle_device* device) {
    g_assert(device != NULL);
    return device->services_list;
}

void btle_device_set_user_data(btle_device* device, void* user_data) {
    g_assert(device != NULL);
    device->user_data = user_data;
}

void* btle_device_get_user_data(const btle_device* device) {
    g_assert(device != NULL);
    return device->user_data;
}

gboolean btle_device_has_service(const btle_device* device, const char* service_uuid) {
    g_assert(device != NULL);
    g_assert(g_uuid_string_is_valid(service_uuid));
    for (GList* item = device->uuids; item != nullptr; item = item->next) {
        if (g_str_equal(static_cast<const char*>(item->data), service_uuid)) return TRUE;
    }
    return FALSE;
}

void btle_device_connect(btle_device* device) {
    g_assert(device != NULL);
    if (device->connection_state != BTLE_DISCONNECTED) return;
    log_debug(TAG, "Connecting to '%s' (%s) (%s)", device->name ? device->name : "(null)",
              device->address ? device->address : "(null)", device->paired ? "BTLE_BONDED" : "BTLE_BOND_NONE");
    set_connection_state(device, BTLE_CONNECTING, nullptr);
    subscribe_prop_changed(device);
    call_device_method(device, "Connect", btle_internal_connect_cb);
}

void btle_device_pair(btle_device* device) {
    g_assert(device != NULL);
    log_debug(TAG, "pairing device '%s'", device->address ? device->address : "(null)");
    if (device->connection_state == BTLE_DISCONNECTING) return;
    if (device->connection_state == BTLE_DISCONNECTED) set_connection_state(device, BTLE_CONNECTING, nullptr);
    subscribe_prop_changed(device);
    call_device_method(device, "Pair", btle_internal_pair_cb);
}

void btle_device_disconnect(btle_device* device) {
    g_assert(device != NULL);
    if (device->connection_state != BTLE_CONNECTED) return;
    log_debug(TAG, "Disconnecting '%s' (%s)", device->name ? device->name : "(null)",
              device->address ? device->address : "(null)");
    set_connection_state(device, BTLE_DISCONNECTING, nullptr);
    call_device_method(device, "Disconnect", btle_internal_disconnect_cb);
}

btle_service* btle_device_get_service(const btle_device* device, const char* service_uuid) {
    g_assert(device != NULL);
    g_assert(is_valid_uuid(service_uuid));
    for (GList* item = device->services_list; item != nullptr; item = item->next) {
        auto* service = static_cast<btle_service*>(item->data);
        if (g_str_equal(btle_service_get_uuid(service), service_uuid)) return service;
    }
    return nullptr;
}

btle_characteristic* btle_device_get_characteristic(const btle_device* device, const char* service_uuid,
                                                    const char* char_uuid) {
    g_assert(device != NULL);
    g_assert(is_valid_uuid(service_uuid));
    g_assert(is_valid_uuid(char_uuid));
    btle_service* service = btle_device_get_service(device, service_uuid);
    return service ? btle_service_get_characteristic(service, char_uuid) : nullptr;
}

gboolean btle_device_read_char(const btle_device* device, const char* service_uuid, const char* char_uuid) {
    btle_characteristic* characteristic = btle_device_get_characteristic(device, service_uuid, char_uuid);
    if (characteristic == nullptr || !btle_characteristic_supports_read(characteristic)) return FALSE;
    btle_characteristic_read(characteristic);
    return TRUE;
}

gboolean btle_device_write_char(const btle_device* device, const char* service_uuid, const char* char_uuid,
                                const GByteArray* byteArray, btle_write_type writeType) {
    btle_characteristic* characteristic = btle_device_get_characteristic(device, service_uuid, char_uuid);
    if (characteristic == nullptr || !btle_characteristic_supports_write(characteristic, writeType)) return FALSE;
    btle_characteristic_write(characteristic, byteArray, writeType);
    return TRUE;
}

gboolean btle_device_start_notify(const btle_device* device, const char* service_uuid, const char* char_uuid) {
    btle_characteristic* characteristic = btle_device_get_characteristic(device, service_uuid, char_uuid);
    if (characteristic == nullptr || !btle_characteristic_supports_notify(characteristic)) return FALSE;
    btle_characteristic_start_notify(characteristic);
    return TRUE;
}

gboolean btle_device_stop_notify(const btle_device* device, const char* service_uuid, const char* char_uuid) {
    btle_characteristic* characteristic = btle_device_get_characteristic(device, service_uuid, char_uuid);
    if (characteristic == nullptr || !btle_characteristic_supports_notify(characteristic) ||
        !btle_characteristic_is_notifying(characteristic)) {
        return FALSE;
    }
    btle_characteristic_stop_notify(characteristic);
    return TRUE;
}

gboolean btle_device_read_desc(const btle_device* device, const char* service_uuid, const char* char_uuid,
                               const char* desc_uuid) {
    btle_characteristic* characteristic = btle_device_get_characteristic(device, service_uuid, char_uuid);
    if (characteristic == nullptr) return FALSE;
    btle_descriptor* descriptor = btle_characteristic_get_descriptor(characteristic, desc_uuid);
    if (descriptor == nullptr) return FALSE;
    btle_descriptor_read(descriptor);
    return TRUE;
}

gboolean btle_device_write_desc(const btle_device* device, const char* service_uuid, const char* char_uuid,
                                const char* desc_uuid, const GByteArray* byteArray) {
    btle_characteristic* characteristic = btle_device_get_characteristic(device, service_uuid, char_uuid);
    if (characteristic == nullptr) return FALSE;
    btle_descriptor* descriptor = btle_characteristic_get_descriptor(characteristic, desc_uuid);
    if (descriptor == nullptr) return FALSE;
    btle_descriptor_write(descriptor, byteArray);
    return TRUE;
}

void btle_device_set_connection_state_change_cb(btle_device* device, btle_device_connection_state_cb callback) {
    g_assert(device != NULL);
    g_assert(callback != NULL);
    device->connection_state_callback = callback;
}

void btle_device_set_services_resolved_cb(btle_device* device, btle_device_services_resolved_cb callback) {
    g_assert(device != NULL);
    g_assert(callback != NULL);
    device->services_resolved_callback = callback;
}

void btle_device_set_bonding_state_changed_cb(btle_device* device, btle_device_bonding_state_cb callback) {
    g_assert(device != NULL);
    g_assert(callback != NULL);
    device->bonding_state_callback = callback;
}

void btle_device_set_read_char_cb(btle_device* device, btle_device_read_char_cb callback) {
    g_assert(device != NULL);
    g_assert(callback != NULL);
    device->on_read_callback = callback;
}

void btle_device_set_write_char_cb(btle_device* device, btle_device_write_char_cb callback) {
    g_assert(device != NULL);
    g_assert(callback != NULL);
    device->on_write_callback = callback;
}

void btle_device_set_notify_char_cb(btle_device* device, btle_device_notify_char_cb callback) {
    g_assert(device != NULL);
    g_assert(callback != NULL);
    device->on_notify_callback = callback;
}

void btle_device_set_notify_state_cb(btle_device* device, btle_device_notify_state_cb callback) {
    g_assert(device != NULL);
    g_assert(callback != NULL);
    device->on_notify_state_callback = callback;
}

void btle_device_set_read_desc_cb(btle_device* device, btle_device_read_desc_cb callback) {
    g_assert(device != NULL);
    g_assert(callback != NULL);
    device->on_read_desc_cb = callback;
}

void btle_device_set_write_desc_cb(btle_device* device, btle_device_write_desc_cb callback) {
    g_assert(device != NULL);
    g_assert(callback != NULL);
    device->on_write_desc_cb = callback;
}
