#include "btle/btle_advertisement.h"

#include "btle/btle_adapter.h"
#include "btle/btle_logger.h"
#include "btle/btle_utility.h"

#include <string.h>

namespace {
const char* const TAG = "Advertisement";
const char* const ADVERTISEMENT_PATH_PREFIX = "/org/bluez/btleadv_";
const char* const INCLUDE_TX_POWER = "tx-power";
const char* const INCLUDE_RSI = "rsi";
} // namespace

struct btle_advertisement {
    char* path;
    char* local_name;
    GPtrArray* services;
    GPtrArray* scan_response_services;
    GHashTable* manufacturer_data;
    GHashTable* scan_response_manufacturer_data;
    GHashTable* service_data;
    GHashTable* scan_response_service_data;
    guint32 registration_id;
    guint32 min_interval;
    gboolean min_interval_set;
    guint32 max_interval;
    gboolean max_interval_set;
    guint16 appearance;
    gboolean appearance_set;
    gboolean discoverable;
    gboolean discoverable_set;
    gint16 tx_power;
    gboolean tx_power_set;
    GPtrArray* includes;
    btle_secondary_channel secondary_channel;
    // While exported: the connection it is exported on (a reference) and the adapter that exported it, which
    // holds it as its current advertisement and must forget it when it is freed.
    GDBusConnection* connection;
    btle_adapter* adapter;
    btle_advertisement_released_cb released_cb;
};

namespace {

void byte_array_free(gpointer data) { g_byte_array_free(static_cast<GByteArray*>(data), TRUE); }

GHashTable* new_manufacturer_table() { return g_hash_table_new_full(g_int_hash, g_int_equal, g_free, byte_array_free); }

GHashTable* new_service_data_table() { return g_hash_table_new_full(g_str_hash, g_str_equal, g_free, byte_array_free); }

GByteArray* copy_bytes(const GByteArray* byteArray) {
    GByteArray* copy = g_byte_array_sized_new(byteArray->len);
    g_byte_array_append(copy, byteArray->data, byteArray->len);
    return copy;
}

GPtrArray* copy_string_array(const GPtrArray* strings) {
    GPtrArray* copy = g_ptr_array_new_with_free_func(g_free);
    for (guint i = 0; i < strings->len; i++)
        g_ptr_array_add(copy, g_strdup(static_cast<const char*>(strings->pdata[i])));
    return copy;
}

void set_manufacturer_entry(GHashTable* table, guint16 manufacturer_id, const GByteArray* byteArray) {
    gint key = manufacturer_id;
    g_hash_table_remove(table, &key);
    gint* ownedKey = g_new0(gint, 1);
    *ownedKey = manufacturer_id;
    g_hash_table_insert(table, ownedKey, copy_bytes(byteArray));
}

void set_service_data_entry(GHashTable* table, const char* service_uuid, const GByteArray* byteArray) {
    g_hash_table_remove(table, service_uuid);
    g_hash_table_insert(table, g_strdup(service_uuid), copy_bytes(byteArray));
}

bool includes_contains(const btle_advertisement* advertisement, const char* include) {
    if (advertisement->includes == nullptr) return false;
    for (guint i = 0; i < advertisement->includes->len; i++) {
        if (g_str_equal(advertisement->includes->pdata[i], include)) return true;
    }
    return false;
}

void add_include(btle_advertisement* advertisement, const char* include) {
    if (advertisement->includes == nullptr) advertisement->includes = g_ptr_array_new();
    g_ptr_array_remove(advertisement->includes, const_cast<char*>(include));
    g_ptr_array_add(advertisement->includes, const_cast<char*>(include));
}

const char* secondary_channel_name(btle_secondary_channel channel) {
    switch (channel) {
    case BTLE_SC_2M:
        return "2M";
    case BTLE_SC_CODED:
        return "Coded";
    default:
        return "1M";
    }
}

GVariant* string_array_variant(const GPtrArray* strings) {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("as"));
    for (guint i = 0; strings != nullptr && i < strings->len; i++) {
        g_variant_builder_add(&builder, "s", static_cast<const char*>(strings->pdata[i]));
    }
    return g_variant_builder_end(&builder);
}

GVariant* bytes_variant(const GByteArray* bytes) {
    return g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, bytes->data, bytes->len, sizeof(guint8));
}

void add_manufacturer_data_entry(gpointer key, gpointer value, gpointer user_data) {
    auto* builder = static_cast<GVariantBuilder*>(user_data);
    g_variant_builder_add(builder, "{qv}", (guint16) * static_cast<gint*>(key),
                          bytes_variant(static_cast<GByteArray*>(value)));
}

void add_service_data_entry(gpointer key, gpointer value, gpointer user_data) {
    auto* builder = static_cast<GVariantBuilder*>(user_data);
    g_variant_builder_add(builder, "{sv}", static_cast<const char*>(key),
                          bytes_variant(static_cast<GByteArray*>(value)));
}

GVariant* manufacturer_data_variant(GHashTable* table) {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("a{qv}"));
    g_hash_table_foreach(table, add_manufacturer_data_entry, &builder);
    return g_variant_builder_end(&builder);
}

GVariant* service_data_variant(GHashTable* table) {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("a{sv}"));
    g_hash_table_foreach(table, add_service_data_entry, &builder);
    return g_variant_builder_end(&builder);
}

// Never returns nothing without an error: GDBus stops the process on that. A name cleared after the export
// (the declared set is fixed until the next one) reads as empty.
GVariant* advertisement_get_property(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                     const gchar* property_name, GError** error, gpointer user_data) {
    auto* advertisement = static_cast<btle_advertisement*>(user_data);
    if (g_str_equal(property_name, "Type")) return g_variant_new_string("peripheral");
    if (g_str_equal(property_name, "LocalName")) {
        return g_variant_new_string(advertisement->local_name ? advertisement->local_name : "");
    }
    if (g_str_equal(property_name, "ServiceUUIDs")) return string_array_variant(advertisement->services);
    if (g_str_equal(property_name, "ScanResponseServiceUUIDs")) {
        return string_array_variant(advertisement->scan_response_services);
    }
    if (g_str_equal(property_name, "ManufacturerData"))
        return manufacturer_data_variant(advertisement->manufacturer_data);
    if (g_str_equal(property_name, "ScanResponseManufacturerData")) {
        return manufacturer_data_variant(advertisement->scan_response_manufacturer_data);
    }
    if (g_str_equal(property_name, "ServiceData")) return service_data_variant(advertisement->service_data);
    if (g_str_equal(property_name, "ScanResponseServiceData")) {
        return service_data_variant(advertisement->scan_response_service_data);
    }
    if (g_str_equal(property_name, "MinInterval")) {
        log_debug(TAG, "setting advertising MinInterval to %dms (requires experimental if version < v5.77)",
                  (int)advertisement->min_interval);
        return g_variant_new_uint32(advertisement->min_interval);
    }
    if (g_str_equal(property_name, "MaxInterval")) {
        log_debug(TAG, "setting advertising MaxInterval to %dms (requires experimental if version < v5.77)",
                  (int)advertisement->max_interval);
        return g_variant_new_uint32(advertisement->max_interval);
    }
    if (g_str_equal(property_name, "Appearance")) return g_variant_new_uint16(advertisement->appearance);
    if (g_str_equal(property_name, "Discoverable")) return g_variant_new_boolean(advertisement->discoverable);
    if (g_str_equal(property_name, "TxPower")) return g_variant_new_int16(advertisement->tx_power);
    if (g_str_equal(property_name, "Includes")) return string_array_variant(advertisement->includes);
    if (g_str_equal(property_name, "SecondaryChannel")) {
        return g_variant_new_string(secondary_channel_name(advertisement->secondary_channel));
    }
    g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_PROPERTY, "no property %s", property_name);
    return nullptr;
}

// Answered even though BlueZ sends Release without waiting: any caller that waits gets its reply, and
// GDBus sends nothing to one that does not.
void advertisement_method_call(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                               GVariant*, GDBusMethodInvocation* invocation, gpointer user_data) {
    auto* advertisement = static_cast<btle_advertisement*>(user_data);
    if (!g_str_equal(method, "Release")) {
        btle_return_unknown_method(invocation, method);
        return;
    }
    log_debug(TAG, "advertisement released");
    g_dbus_method_invocation_return_value(invocation, nullptr);
    if (advertisement->released_cb != nullptr) advertisement->released_cb(advertisement);
}

const GDBusInterfaceVTable advertisement_vtable = {
    advertisement_method_call, advertisement_get_property, btle_refuse_property_set, {0}};

void append_property(GString* xml, const char* name, const char* type) {
    g_string_append_printf(xml, "    <property name='%s' type='%s' access='read'/>\n", name, type);
}

char* build_introspection(const btle_advertisement* advertisement) {
    GString* xml = g_string_new("<node name='/'>\n  <interface name='org.bluez.LEAdvertisement1'>\n"
                                "    <method name='Release'/>\n");
    append_property(xml, "Type", "s");
    if (advertisement->local_name) append_property(xml, "LocalName", "s");
    if (g_hash_table_size(advertisement->manufacturer_data) > 0) append_property(xml, "ManufacturerData", "a{qv}");
    if (g_hash_table_size(advertisement->scan_response_manufacturer_data) > 0) {
        append_property(xml, "ScanResponseManufacturerData", "a{qv}");
    }
    if (g_hash_table_size(advertisement->service_data) > 0) append_property(xml, "ServiceData", "a{sv}");
    if (g_hash_table_size(advertisement->scan_response_service_data) > 0) {
        append_property(xml, "ScanResponseServiceData", "a{sv}");
    }
    if (advertisement->services && advertisement->services->len > 0) append_property(xml, "ServiceUUIDs", "as");
    if (advertisement->scan_response_services && advertisement->scan_response_services->len > 0) {
        append_property(xml, "ScanResponseServiceUUIDs", "as");
    }
    if (advertisement->min_interval_set) append_property(xml, "MinInterval", "u");
    if (advertisement->max_interval_set) append_property(xml, "MaxInterval", "u");
    if (advertisement->tx_power_set && advertisement->tx_power >= -127 && advertisement->tx_power <= 20) {
        append_property(xml, "TxPower", "n");
    }
    if (advertisement->appearance_set && advertisement->appearance != 0) append_property(xml, "Appearance", "q");
    if (advertisement->discoverable_set) append_property(xml, "Discoverable", "b");
    if (includes_contains(advertisement, INCLUDE_RSI)) append_property(xml, "Includes", "as");
    if (advertisement->secondary_channel != BTLE_SC_1M) append_property(xml, "SecondaryChannel", "s");
    g_string_append(xml, "  </interface>\n</node>\n");
    return g_string_free(xml, FALSE);
}

} // namespace

btle_advertisement* btle_advertisement_create(void) {
    btle_advertisement* advertisement = g_new0(btle_advertisement, 1);
    char* suffix = random_string(4);
    advertisement->path = g_strdup_printf("%s%s", ADVERTISEMENT_PATH_PREFIX, suffix);
    g_free(suffix);
    advertisement->manufacturer_data = new_manufacturer_table();
    advertisement->scan_response_manufacturer_data = new_manufacturer_table();
    advertisement->service_data = new_service_data_table();
    advertisement->scan_response_service_data = new_service_data_table();
    advertisement->min_interval = 200;
    advertisement->max_interval = 500;
    advertisement->tx_power = 4;
    advertisement->secondary_channel = BTLE_SC_1M;
    return advertisement;
}

void btle_advertisement_free(btle_advertisement* advertisement) {
    g_assert(advertisement != NULL);
    // Unexported first: a property read arriving later would otherwise reach the freed object.
    if (advertisement->adapter != nullptr) {
        if (advertisement->registration_id != 0) btle_advertisement_unregister(advertisement, advertisement->adapter);
        btle_internal_adapter_forget_advertisement(advertisement->adapter, advertisement);
    }
    g_free(advertisement->path);
    g_free(advertisement->local_name);
    if (advertisement->services) g_ptr_array_free(advertisement->services, TRUE);
    if (advertisement->scan_response_services) g_ptr_array_free(advertisement->scan_response_services, TRUE);
    g_hash_table_destroy(advertisement->manufacturer_data);
    g_hash_table_destroy(advertisement->scan_response_manufacturer_data);
    g_hash_table_destroy(advertisement->service_data);
    g_hash_table_destroy(advertisement->scan_response_service_data);
    if (advertisement->includes) g_ptr_array_free(advertisement->includes, TRUE);
    g_free(advertisement);
}

void btle_advertisement_set_local_name(btle_advertisement* advertisement, const char* local_name) {
    g_assert(advertisement != NULL);
    g_free(advertisement->local_name);
    advertisement->local_name = g_strdup(local_name);
}

void btle_advertisement_set_services(btle_advertisement* advertisement, const GPtrArray* service_uuids) {
    g_assert(advertisement != NULL);
    g_assert(service_uuids != NULL);
    if (advertisement->services) g_ptr_array_free(advertisement->services, TRUE);
    advertisement->services = copy_string_array(service_uuids);
}

void btle_advertisement_set_scan_response_services(btle_advertisement* advertisement, const GPtrArray* service_uuids) {
    g_assert(advertisement != NULL);
    g_assert(service_uuids != NULL);
    if (advertisement->scan_response_services) g_ptr_array_free(advertisement->scan_response_services, TRUE);
    advertisement->scan_response_services = copy_string_array(service_uuids);
}

void btle_advertisement_set_service_data(btle_advertisement* advertisement, const char* service_uuid,
                                         const GByteArray* byteArray) {
    g_assert(advertisement != NULL);
    g_assert(is_valid_uuid(service_uuid));
    g_assert(byteArray != NULL);
    set_service_data_entry(advertisement->service_data, service_uuid, byteArray);
}

void btle_advertisement_set_scan_response_service_data(btle_advertisement* advertisement, const char* service_uuid,
                                                       const GByteArray* byteArray) {
    g_assert(advertisement != NULL);
    g_assert(is_valid_uuid(service_uuid));
    g_assert(byteArray != NULL);
    set_service_data_entry(advertisement->scan_response_service_data, service_uuid, byteArray);
}

void btle_advertisement_set_manufacturer_data(btle_advertisement* advertisement, guint16 manufacturer_id,
                                              const GByteArray* byteArray) {
    g_assert(advertisement != NULL);
    g_assert(byteArray != NULL);
    set_manufacturer_entry(advertisement->manufacturer_data, manufacturer_id, byteArray);
}

void btle_advertisement_set_scan_response_manufacturer_data(btle_advertisement* advertisement, guint16 manufacturer_id,
                                                            const GByteArray* byteArray) {
    g_assert(advertisement != NULL);
    g_assert(byteArray != NULL);
    set_manufacturer_entry(advertisement->scan_response_manufacturer_data, manufacturer_id, byteArray);
}

void btle_advertisement_set_interval(btle_advertisement* advertisement, guint32 min, guint32 max) {
    g_assert(advertisement != NULL);
    g_assert(min <= max);
    advertisement->min_interval = min;
    advertisement->max_interval = max;
    advertisement->min_interval_set = TRUE;
    advertisement->max_interval_set = TRUE;
}

void btle_advertisement_set_appearance(btle_advertisement* advertisement, guint16 appearance) {
    g_assert(advertisement != NULL);
    advertisement->appearance = appearance;
    advertisement->appearance_set = TRUE;
}

void btle_advertisement_set_general_discoverable(btle_advertisement* advertisement, gboolean discoverable) {
    g_assert(advertisement != NULL);
    advertisement->discoverable = discoverable;
    advertisement->discoverable_set = TRUE;
}

void btle_advertisement_set_tx_power(btle_advertisement* advertisement, gint16 tx_power) {
    g_assert(advertisement != NULL);
    g_assert(tx_power >= -127);
    g_assert(tx_power <= 20);
    advertisement->tx_power = tx_power;
    advertisement->tx_power_set = TRUE;
    add_include(advertisement, INCLUDE_TX_POWER);
}

void btle_advertisement_set_secondary_channel(btle_advertisement* advertisement,
                                              btle_secondary_channel secondary_channel) {
    g_assert(advertisement != NULL);
    g_assert(secondary_channel <= BTLE_SC_CODED);
    advertisement->secondary_channel = secondary_channel;
}

void btle_advertisement_set_rsi(btle_advertisement* advertisement) {
    g_assert(advertisement != NULL);
    add_include(advertisement, INCLUDE_RSI);
}

void btle_advertisement_set_released_cb(btle_advertisement* advertisement, btle_advertisement_released_cb callback) {
    g_assert(advertisement != NULL);
    advertisement->released_cb = callback;
}

const char* btle_advertisement_get_path(const btle_advertisement* advertisement) {
    g_assert(advertisement != NULL);
    return advertisement->path;
}

const char* btle_advertisement_get_local_name(const btle_advertisement* advertisement) {
    g_assert(advertisement != NULL);
    return advertisement->local_name;
}

guint16 btle_advertisement_get_appearance(const btle_advertisement* advertisement) {
    g_assert(advertisement != NULL);
    return advertisement->appearance;
}

gint16 btle_advertisement_get_tx_power(const btle_advertisement* advertisement) {
    g_assert(advertisement != NULL);
    return advertisement->tx_power;
}

btle_secondary_channel btle_advertisement_get_secondary_channel(const btle_advertisement* advertisement) {
    g_assert(advertisement != NULL);
    return advertisement->secondary_channel;
}

void btle_advertisement_register(btle_advertisement* advertisement, btle_adapter* adapter) {
    g_assert(advertisement != NULL);
    g_assert(adapter != NULL);
    log_debug(TAG, "btle_advertisement_register_dynamic");
    advertisement->adapter = adapter;
    // Still exported when BlueZ has not yet answered the previous unregistration (a central that connects and
    // leaves at once): the export stands, and its id is kept so that it can be unexported later.
    if (advertisement->registration_id != 0) return;
    char* xml = build_introspection(advertisement);
    GDBusConnection* connection = btle_adapter_get_dbus_connection(adapter);
    advertisement->registration_id =
        btle_export_object(connection, advertisement->path, xml, &advertisement_vtable, advertisement, TAG);
    g_free(xml);
    if (advertisement->registration_id != 0) advertisement->connection = G_DBUS_CONNECTION(g_object_ref(connection));
}

void btle_advertisement_unregister(btle_advertisement* advertisement, btle_adapter* adapter) {
    g_assert(advertisement != NULL);
    g_assert(adapter != NULL);
    if (advertisement->registration_id == 0 ||
        !g_dbus_connection_unregister_object(advertisement->connection, advertisement->registration_id)) {
        log_debug(TAG, "failed to unregister advertisement");
    }
    advertisement->registration_id = 0;
    g_clear_object(&advertisement->connection);
}

void btle_internal_advertisement_forget_adapter(btle_advertisement* advertisement, const btle_adapter* adapter) {
    g_assert(advertisement != NULL);
    if (advertisement->adapter != adapter) return;
    // The export belongs to the connection, not to the adapter: it is withdrawn with the adapter's link.
    if (advertisement->registration_id != 0) btle_advertisement_unregister(advertisement, advertisement->adapter);
    advertisement->adapter = nullptr;
}
