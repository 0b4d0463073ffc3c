#include "btle/btle_adapter.h"

#include "btle/btle_advertisement.h"
#include "btle/btle_application.h"
#include "btle/btle_bluez_names.h"
#include "btle/btle_device.h"
#include "btle/btle_logger.h"
#include "btle/btle_reply.h"
#include "btle/btle_utility.h"

#include <string.h>

using namespace btle_names;

namespace {
const char* const TAG = "Adapter";
const char* const DISCOVERY_STATE_NAMES[] = {"stopped", "started", "starting", "stopping"};
constexpr gint16 NO_RSSI_THRESHOLD = -255;
constexpr gint16 UNKNOWN_RSSI = -255;
} // namespace

struct btle_adapter {
    char* path;
    char* address;
    char* alias;
    gboolean powered;
    gboolean discoverable;
    gboolean connectable;
    gboolean pairable;
    gboolean discovering;
    btle_discovery_state discovery_state;
    gint16 discovery_filter_rssi;
    GPtrArray* discovery_filter_service_uuids;
    char* discovery_filter_pattern;
    GDBusConnection* connection;
    guint device_prop_changed;
    guint adapter_prop_changed;
    guint device_added;
    guint device_removed;
    btle_adapter_discovery_cb discovery_callback;
    btle_adapter_device_removal_cb device_removal_callback;
    btle_adapter_discovery_state_cb discovery_state_callback;
    btle_adapter_powered_state_cb powered_state_callback;
    btle_adapter_remote_central_cb remote_central_callback;
    void* user_data;
    GHashTable* devices_cache;
    btle_advertisement* advertisement;
    GCancellable* pending; // cancelled at free so late replies leave the freed adapter alone
    btle_adapter_registration_cb registration_callback;
    // Counts advertising starts and stops: a stop answered after a later start leaves the export standing.
    guint advertising_generation;
};

namespace {

void set_discovery_state(btle_adapter* adapter, btle_discovery_state state, const GError* error) {
    adapter->discovery_state = state;
    if (adapter->discovery_state_callback) adapter->discovery_state_callback(adapter, state, error);
}

bool is_type(GVariant* value, const char* type) { return g_variant_is_of_type(value, G_VARIANT_TYPE(type)); }

// ---- reply handlers ----

// A call whose outcome only the log needs; user_data is the method's name, a string literal.
void btle_internal_adapter_call_method_cb(GObject* source_object, GAsyncResult* res, gpointer user_data) {
    g_autoptr(GVariant) result = nullptr;
    g_autoptr(GError) error = nullptr;
    btle_finish_reply(source_object, res, TAG, static_cast<const char*>(user_data), &result, &error);
}

void btle_internal_start_discovery_cb(GObject* source_object, GAsyncResult* res, gpointer user_data) {
    auto* adapter = static_cast<btle_adapter*>(user_data);
    g_autoptr(GVariant) result = nullptr;
    g_autoptr(GError) error = nullptr;
    if (!btle_finish_reply(source_object, res, TAG, "StartDiscovery", &result, &error)) return;
    if (error) {
        set_discovery_state(adapter, BTLE_DISCOVERY_STOPPED, error);
    } else if (adapter->discovery_state != BTLE_DISCOVERY_STARTED) {
        set_discovery_state(adapter, BTLE_DISCOVERY_STARTED, nullptr);
    }
}

void btle_internal_stop_discovery_cb(GObject* source_object, GAsyncResult* res, gpointer user_data) {
    auto* adapter = static_cast<btle_adapter*>(user_data);
    g_autoptr(GVariant) result = nullptr;
    g_autoptr(GError) error = nullptr;
    if (!btle_finish_reply(source_object, res, TAG, "StopDiscovery", &result, &error)) return;
    if (error) {
        set_discovery_state(adapter, adapter->discovery_state, error);
    } else if (adapter->discovery_state != BTLE_DISCOVERY_STOPPED) {
        set_discovery_state(adapter, BTLE_DISCOVERY_STOPPED, nullptr);
    }
}

// A registration call's reply: the owner hears the outcome; without an owner listening, a refusal is an error.
void report_registration(btle_adapter* adapter, btle_registration_call call, const GError* error, const char* refused,
                         const char* accepted) {
    if (error) {
        log_log_at_level(adapter->registration_callback ? LOG_LEVEL_DEBUG : LOG_LEVEL_ERROR, TAG, "%s (error %d: %s)",
                         refused, error->code, error->message);
    } else {
        log_debug(TAG, "%s", accepted);
    }
    if (adapter->registration_callback) adapter->registration_callback(adapter, call, error);
}

// What a reply to an advertising call must know of the moment it was made.
struct AdvertisingRequest {
    btle_adapter* adapter;
    guint generation;
};

void btle_internal_start_advertising_cb(GObject* source_object, GAsyncResult* res, gpointer user_data) {
    auto* request = static_cast<AdvertisingRequest*>(user_data);
    btle_adapter* adapter = request->adapter;
    g_free(request);
    g_autoptr(GVariant) result = nullptr;
    g_autoptr(GError) error = nullptr;
    if (!btle_finish_reply(source_object, res, TAG, nullptr, &result, &error)) return;
    if (!error) log_debug(TAG, "started advertising (%s)", adapter->address ? adapter->address : "(null)");
    report_registration(adapter, BTLE_ADVERTISEMENT_REGISTERED, error, "failed to register advertisement",
                        "advertisement registered");
}

void btle_internal_stop_advertising_cb(GObject* source_object, GAsyncResult* res, gpointer user_data) {
    auto* request = static_cast<AdvertisingRequest*>(user_data);
    btle_adapter* adapter = request->adapter;
    guint generation = request->generation;
    g_free(request);
    g_autoptr(GVariant) result = nullptr;
    g_autoptr(GError) error = nullptr;
    if (!btle_finish_reply(source_object, res, TAG, nullptr, &result, &error)) return;
    // A start made since this stop has BlueZ read the exported object again: it must stay.
    if (!error && adapter->advertisement && generation == adapter->advertising_generation) {
        btle_advertisement_unregister(adapter->advertisement, adapter);
    }
    if (!error) log_debug(TAG, "stopped advertising");
    report_registration(adapter, BTLE_ADVERTISEMENT_UNREGISTERED, error, "failed to unregister advertisement",
                        "advertisement unregistered");
}

void btle_internal_register_appl_cb(GObject* source_object, GAsyncResult* res, gpointer user_data) {
    auto* adapter = static_cast<btle_adapter*>(user_data);
    g_autoptr(GVariant) result = nullptr;
    g_autoptr(GError) error = nullptr;
    if (!btle_finish_reply(source_object, res, TAG, nullptr, &result, &error)) return;
    report_registration(adapter, BTLE_APPLICATION_REGISTERED, error, "failed to register application",
                        "successfully registered application");
}

void btle_internal_unregister_appl_cb(GObject* source_object, GAsyncResult* res, gpointer user_data) {
    auto* adapter = static_cast<btle_adapter*>(user_data);
    g_autoptr(GVariant) result = nullptr;
    g_autoptr(GError) error = nullptr;
    if (!btle_finish_reply(source_object, res, TAG, nullptr, &result, &error)) return;
    report_registration(adapter, BTLE_APPLICATION_UNREGISTERED, error, "failed to unregister application",
                        "successfully unregistered application");
}

// ---- devices ----

void apply_device_properties(btle_device* device, GVariant* properties) {
    GVariantIter iter;
    const char* name;
    GVariant* value;
    g_variant_iter_init(&iter, properties);
    while (g_variant_iter_loop(&iter, "{&sv}", &name, &value))
        btle_internal_device_update_property(device, name, value);
}

bool matches_discovery_filter(btle_adapter* adapter, btle_device* device) {
    if (btle_device_get_connection_state(device) != BTLE_DISCONNECTED) return false;
    if (btle_device_get_rssi(device) < adapter->discovery_filter_rssi) return false;
    if (adapter->discovery_filter_pattern) {
        const char* name = btle_device_get_name(device);
        const char* subject = name ? name : btle_device_get_address(device);
        if (subject == nullptr || !g_str_has_prefix(subject, adapter->discovery_filter_pattern)) return false;
    }
    GPtrArray* uuids = adapter->discovery_filter_service_uuids;
    if (uuids && uuids->len > 0) {
        for (guint i = 0; i < uuids->len; i++) {
            if (btle_device_has_service(device, static_cast<const char*>(uuids->pdata[i]))) return true;
        }
        return false;
    }
    return true;
}

void deliver_discovery_result(btle_adapter* adapter, btle_device* device) {
    if (!matches_discovery_filter(adapter, device)) return;
    if (adapter->discovery_callback) adapter->discovery_callback(adapter, device);
}

// Asynchronous GetAll of a device first seen in a PropertiesChanged signal.
struct GetAllRequest {
    btle_adapter* adapter;
    char* path;
};

void btle_internal_device_getall_properties_cb(GObject* source_object, GAsyncResult* res, gpointer user_data) {
    auto* request = static_cast<GetAllRequest*>(user_data);
    g_autoptr(GVariant) result = nullptr;
    g_autoptr(GError) error = nullptr;
    if (btle_finish_reply(source_object, res, TAG, "GetAll", &result, &error) && result) {
        // Looked up again: the device may have been removed while the reply was on its way.
        btle_device* device = btle_adapter_get_device_by_path(request->adapter, request->path);
        g_autoptr(GVariant) properties = g_variant_get_child_value(result, 0);
        if (device) apply_device_properties(device, properties);
    }
    g_free(request->path);
    g_free(request);
}

void request_all_device_properties(btle_adapter* adapter, const char* path) {
    GetAllRequest* request = g_new0(GetAllRequest, 1);
    request->adapter = adapter;
    request->path = g_strdup(path);
    g_dbus_connection_call(adapter->connection, BLUEZ_DBUS, path, INTERFACE_PROPERTIES, "GetAll",
                           g_variant_new("(s)", INTERFACE_DEVICE), G_VARIANT_TYPE("(a{sv})"), G_DBUS_CALL_FLAGS_NONE,
                           -1, adapter->pending, btle_internal_device_getall_properties_cb, request);
}

void btle_internal_device_changed(GDBusConnection*, const gchar*, const gchar* object_path, const gchar*, const gchar*,
                                  GVariant* parameters, gpointer user_data) {
    auto* adapter = static_cast<btle_adapter*>(user_data);
    g_assert(g_str_equal(g_variant_get_type_string(parameters), "(sa{sv}as)"));
    btle_device* device = static_cast<btle_device*>(g_hash_table_lookup(adapter->devices_cache, object_path));
    if (device == nullptr) {
        if (!g_str_has_prefix(object_path, adapter->path)) return;
        device = btle_device_create(object_path, adapter);
        g_hash_table_insert(adapter->devices_cache, g_strdup(object_path), device);
        request_all_device_properties(adapter, object_path);
        return;
    }
    btle_connection_state old_state = btle_device_get_connection_state(device);
    GVariant* properties = g_variant_get_child_value(parameters, 1);
    bool advertisementData = false;
    GVariantIter iter;
    const char* name;
    GVariant* value;
    g_variant_iter_init(&iter, properties);
    while (g_variant_iter_loop(&iter, "{&sv}", &name, &value)) {
        btle_internal_device_update_property(device, name, value);
        if (g_str_equal(name, "RSSI") || g_str_equal(name, "ManufacturerData") || g_str_equal(name, "ServiceData")) {
            advertisementData = true;
        }
    }
    g_variant_unref(properties);
    if (advertisementData && adapter->discovery_state == BTLE_DISCOVERY_STARTED) {
        deliver_discovery_result(adapter, device);
    }
    if (btle_device_get_bonding_state(device) == BTLE_BONDED && btle_device_get_rssi(device) == UNKNOWN_RSSI) {
        btle_device_set_is_central(device, TRUE);
    }
    if (btle_device_is_central(device) && btle_device_get_connection_state(device) != old_state &&
        adapter->remote_central_callback) {
        adapter->remote_central_callback(adapter, device);
    }
}

void btle_internal_adapter_changed(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                                   GVariant* parameters, gpointer user_data) {
    auto* adapter = static_cast<btle_adapter*>(user_data);
    g_assert(g_str_equal(g_variant_get_type_string(parameters), "(sa{sv}as)"));
    GVariant* properties = g_variant_get_child_value(parameters, 1);
    GVariantIter iter;
    const char* name;
    GVariant* value;
    g_variant_iter_init(&iter, properties);
    while (g_variant_iter_loop(&iter, "{&sv}", &name, &value)) {
        if (!is_type(value, "b")) continue;
        gboolean flag = g_variant_get_boolean(value);
        if (g_str_equal(name, "Powered")) {
            adapter->powered = flag;
            if (adapter->powered_state_callback) adapter->powered_state_callback(adapter, flag);
        } else if (g_str_equal(name, "Discovering")) {
            adapter->discovering = flag;
            if (!flag && adapter->discovery_state != BTLE_DISCOVERY_STOPPED) {
                set_discovery_state(adapter, BTLE_DISCOVERY_STOPPED, nullptr);
            }
        } else if (g_str_equal(name, "Discoverable")) {
            adapter->discoverable = flag;
        } else if (g_str_equal(name, "Connectable")) {
            adapter->connectable = flag;
        } else if (g_str_equal(name, "Pairable")) {
            adapter->pairable = flag;
        }
    }
    g_variant_unref(properties);
}

void btle_internal_device_appeared(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                                   GVariant* parameters, gpointer user_data) {
    auto* adapter = static_cast<btle_adapter*>(user_data);
    g_assert(g_str_equal(g_variant_get_type_string(parameters), "(oa{sa{sv}})"));
    const char* object_path = nullptr;
    GVariant* interfaces = nullptr;
    g_variant_get(parameters, "(&o@a{sa{sv}})", &object_path, &interfaces);
    GVariantIter iter;
    const char* interfaceName;
    GVariant* properties;
    g_variant_iter_init(&iter, interfaces);
    while (g_variant_iter_loop(&iter, "{&s@a{sv}}", &interfaceName, &properties)) {
        if (!g_str_equal(interfaceName, INTERFACE_DEVICE)) continue;
        if (!g_str_has_prefix(object_path, adapter->path)) {
            g_variant_unref(properties);
            break;
        }
        btle_device* device = btle_device_create(object_path, adapter);
        apply_device_properties(device, properties);
        g_hash_table_insert(adapter->devices_cache, g_strdup(object_path), device);
        if (adapter->discovery_state == BTLE_DISCOVERY_STARTED &&
            btle_device_get_connection_state(device) == BTLE_DISCONNECTED) {
            deliver_discovery_result(adapter, device);
        }
        if (btle_device_get_connection_state(device) == BTLE_CONNECTED &&
            btle_device_get_rssi(device) == UNKNOWN_RSSI && btle_device_get_uuids(device) == nullptr) {
            btle_device_set_is_central(device, TRUE);
            if (adapter->remote_central_callback) adapter->remote_central_callback(adapter, device);
        }
    }
    g_variant_unref(interfaces);
}

void btle_internal_device_disappeared(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                                      GVariant* parameters, gpointer user_data) {
    auto* adapter = static_cast<btle_adapter*>(user_data);
    g_assert(g_str_equal(g_variant_get_type_string(parameters), "(oas)"));
    const char* object_path = nullptr;
    GVariantIter* interfaces = nullptr;
    g_variant_get(parameters, "(&oas)", &object_path, &interfaces);
    const char* interfaceName;
    while (g_variant_iter_loop(interfaces, "&s", &interfaceName)) {
        if (!g_str_equal(interfaceName, INTERFACE_DEVICE)) continue;
        log_debug(TAG, "Device %s removed", object_path);
        btle_device* device = static_cast<btle_device*>(g_hash_table_lookup(adapter->devices_cache, object_path));
        if (device == nullptr) continue;
        if (adapter->device_removal_callback) adapter->device_removal_callback(adapter, device);
        g_hash_table_remove(adapter->devices_cache, object_path);
    }
    g_variant_iter_free(interfaces);
}

void subscribe_signals(btle_adapter* adapter) {
    GDBusConnection* connection = adapter->connection;
    adapter->device_prop_changed = g_dbus_connection_signal_subscribe(
        connection, BLUEZ_DBUS, INTERFACE_PROPERTIES, "PropertiesChanged", nullptr, INTERFACE_DEVICE,
        G_DBUS_SIGNAL_FLAGS_NONE, btle_internal_device_changed, adapter, nullptr);
    adapter->adapter_prop_changed = g_dbus_connection_signal_subscribe(
        connection, BLUEZ_DBUS, INTERFACE_PROPERTIES, "PropertiesChanged", adapter->path, INTERFACE_ADAPTER,
        G_DBUS_SIGNAL_FLAGS_NONE, btle_internal_adapter_changed, adapter, nullptr);
    adapter->device_added = g_dbus_connection_signal_subscribe(
        connection, BLUEZ_DBUS, INTERFACE_OBJECT_MANAGER, "InterfacesAdded", nullptr, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        btle_internal_device_appeared, adapter, nullptr);
    adapter->device_removed = g_dbus_connection_signal_subscribe(
        connection, BLUEZ_DBUS, INTERFACE_OBJECT_MANAGER, "InterfacesRemoved", nullptr, nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE, btle_internal_device_disappeared, adapter, nullptr);
}

btle_adapter* btle_adapter_create(GDBusConnection* connection, const char* path) {
    g_assert(path != NULL);
    g_assert(strlen(path) > 0);
    btle_adapter* adapter = g_new0(btle_adapter, 1);
    adapter->path = g_strdup(path);
    adapter->connection = connection;
    adapter->discovery_filter_rssi = NO_RSSI_THRESHOLD;
    adapter->devices_cache =
        g_hash_table_new_full(g_str_hash, g_str_equal, g_free, reinterpret_cast<GDestroyNotify>(btle_device_free));
    adapter->pending = g_cancellable_new();
    return adapter;
}

void apply_adapter_properties(btle_adapter* adapter, GVariant* properties) {
    GVariantIter iter;
    const char* name;
    GVariant* value;
    g_variant_iter_init(&iter, properties);
    while (g_variant_iter_loop(&iter, "{&sv}", &name, &value)) {
        if (g_str_equal(name, "Address") && is_type(value, "s")) {
            g_free(adapter->address);
            adapter->address = g_strdup(g_variant_get_string(value, nullptr));
        } else if (g_str_equal(name, "Alias") && is_type(value, "s")) {
            g_free(adapter->alias);
            adapter->alias = g_strdup(g_variant_get_string(value, nullptr));
        } else if (is_type(value, "b")) {
            gboolean flag = g_variant_get_boolean(value);
            if (g_str_equal(name, "Powered")) adapter->powered = flag;
            else if (g_str_equal(name, "Discovering")) adapter->discovering = flag;
            else if (g_str_equal(name, "Discoverable")) adapter->discoverable = flag;
            else if (g_str_equal(name, "Connectable")) adapter->connectable = flag;
            else if (g_str_equal(name, "Pairable")) adapter->pairable = flag;
        }
    }
}

btle_adapter* btle_internal_get_adapter_by_path(GPtrArray* adapters, const char* path) {
    for (guint i = 0; i < adapters->len; i++) {
        auto* adapter = static_cast<btle_adapter*>(adapters->pdata[i]);
        if (g_str_has_prefix(path, adapter->path)) return adapter;
    }
    return nullptr;
}

void set_adapter_property(btle_adapter* adapter, const char* name, GVariant* value) {
    g_dbus_connection_call(adapter->connection, BLUEZ_DBUS, adapter->path, INTERFACE_PROPERTIES, "Set",
                           g_variant_new("(ssv)", INTERFACE_ADAPTER, name, value), nullptr, G_DBUS_CALL_FLAGS_NONE, -1,
                           adapter->pending, btle_internal_adapter_call_method_cb, const_cast<char*>("Set"));
}

void call_adapter(btle_adapter* adapter, const char* interface, const char* method, GVariant* parameters,
                  GAsyncReadyCallback callback, gpointer user_data) {
    g_dbus_connection_call(adapter->connection, BLUEZ_DBUS, adapter->path, interface, method, parameters, nullptr,
                           G_DBUS_CALL_FLAGS_NONE, -1, adapter->pending, callback, user_data);
}

void call_adapter(btle_adapter* adapter, const char* interface, const char* method, GVariant* parameters,
                  GAsyncReadyCallback callback) {
    call_adapter(adapter, interface, method, parameters, callback, adapter);
}

AdvertisingRequest* advertising_request(btle_adapter* adapter) {
    auto* request = g_new0(AdvertisingRequest, 1);
    request->adapter = adapter;
    request->generation = ++adapter->advertising_generation;
    return request;
}

void free_discovery_filter(btle_adapter* adapter) {
    if (adapter->discovery_filter_service_uuids) g_ptr_array_free(adapter->discovery_filter_service_uuids, TRUE);
    adapter->discovery_filter_service_uuids = nullptr;
    g_free(adapter->discovery_filter_pattern);
    adapter->discovery_filter_pattern = nullptr;
}

} // namespace

GPtrArray* btle_adapter_find_all(GDBusConnection* connection) {
    g_assert(connection != NULL);
    GPtrArray* adapters = g_ptr_array_new();
    log_debug(TAG, "finding adapters");
    GError* error = nullptr;
    GVariant* result =
        g_dbus_connection_call_sync(connection, BLUEZ_DBUS, "/", INTERFACE_OBJECT_MANAGER, "GetManagedObjects", nullptr,
                                    G_VARIANT_TYPE("(a{oa{sa{sv}}})"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
    if (result == nullptr) {
        log_error(TAG, "Error GetManagedObjects: %s", error ? error->message : "unknown");
        g_clear_error(&error);
    } else {
        GVariant* objects = g_variant_get_child_value(result, 0);
        GVariantIter objectIter;
        const char* objectPath;
        GVariant* interfaces;
        g_variant_iter_init(&objectIter, objects);
        while (g_variant_iter_loop(&objectIter, "{&o@a{sa{sv}}}", &objectPath, &interfaces)) {
            GVariantIter interfaceIter;
            const char* interfaceName;
            GVariant* properties;
            g_variant_iter_init(&interfaceIter, interfaces);
            while (g_variant_iter_loop(&interfaceIter, "{&s@a{sv}}", &interfaceName, &properties)) {
                if (g_str_equal(interfaceName, INTERFACE_ADAPTER)) {
                    btle_adapter* adapter = btle_adapter_create(connection, objectPath);
                    subscribe_signals(adapter);
                    log_debug(TAG, "found adapter '%s'", objectPath);
                    apply_adapter_properties(adapter, properties);
                    g_ptr_array_add(adapters, adapter);
                } else if (g_str_equal(interfaceName, INTERFACE_DEVICE)) {
                    // A device reported before (or without) its adapter has no owner to live in: skipped.
                    btle_adapter* adapter = btle_internal_get_adapter_by_path(adapters, objectPath);
                    if (adapter == nullptr) continue;
                    btle_device* device = btle_device_create(objectPath, adapter);
                    g_hash_table_insert(adapter->devices_cache, g_strdup(objectPath), device);
                    apply_device_properties(device, properties);
                    const char* name = btle_device_get_name(device);
                    log_debug(TAG, "found device %s '%s'", objectPath, name ? name : "(null)");
                }
            }
        }
        g_variant_unref(objects);
        g_variant_unref(result);
    }
    log_debug(TAG, "found %d adapter%s", (int)adapters->len, adapters->len > 1 ? "s" : "");
    return adapters;
}

btle_adapter* btle_adapter_get_default(GDBusConnection* connection) {
    g_assert(connection != NULL);
    GPtrArray* adapters = btle_adapter_find_all(connection);
    btle_adapter* chosen = adapters->len > 0 ? static_cast<btle_adapter*>(adapters->pdata[0]) : nullptr;
    for (guint i = 1; i < adapters->len; i++) btle_adapter_free(static_cast<btle_adapter*>(adapters->pdata[i]));
    g_ptr_array_free(adapters, TRUE);
    return chosen;
}

btle_adapter* btle_adapter_get(GDBusConnection* connection, const char* name) {
    g_assert(connection != NULL);
    g_assert(name != NULL);
    g_assert(strlen(name) > 0);
    GPtrArray* adapters = btle_adapter_find_all(connection);
    btle_adapter* chosen = nullptr;
    for (guint i = 0; i < adapters->len; i++) {
        auto* adapter = static_cast<btle_adapter*>(adapters->pdata[i]);
        if (chosen == nullptr && g_str_equal(btle_adapter_get_name(adapter), name)) {
            chosen = adapter;
        } else {
            btle_adapter_free(adapter);
        }
    }
    g_ptr_array_free(adapters, TRUE);
    return chosen;
}

void btle_adapter_free(btle_adapter* adapter) {
    g_assert(adapter != NULL);
    g_dbus_connection_signal_unsubscribe(adapter->connection, adapter->device_prop_changed);
    g_dbus_connection_signal_unsubscribe(adapter->connection, adapter->adapter_prop_changed);
    g_dbus_connection_signal_unsubscribe(adapter->connection, adapter->device_added);
    g_dbus_connection_signal_unsubscribe(adapter->connection, adapter->device_removed);
    // Replies still on their way would reach a freed adapter: they are cancelled and their handlers
    // return at the cancellation without touching it.
    g_cancellable_cancel(adapter->pending);
    g_object_unref(adapter->pending);
    if (adapter->advertisement) btle_internal_advertisement_forget_adapter(adapter->advertisement, adapter);
    free_discovery_filter(adapter);
    g_hash_table_destroy(adapter->devices_cache);
    g_free(adapter->path);
    g_free(adapter->address);
    g_free(adapter->alias);
    g_free(adapter);
}

void btle_adapter_power_on(btle_adapter* adapter) {
    g_assert(adapter != NULL);
    set_adapter_property(adapter, "Powered", g_variant_new_boolean(TRUE));
}

void btle_adapter_power_off(btle_adapter* adapter) {
    g_assert(adapter != NULL);
    set_adapter_property(adapter, "Powered", g_variant_new_boolean(FALSE));
}

void btle_adapter_discoverable_on(btle_adapter* adapter) {
    g_assert(adapter != NULL);
    set_adapter_property(adapter, "Discoverable", g_variant_new_boolean(TRUE));
}

void btle_adapter_discoverable_off(btle_adapter* adapter) {
    g_assert(adapter != NULL);
    set_adapter_property(adapter, "Discoverable", g_variant_new_boolean(FALSE));
}

void btle_adapter_pairable_on(btle_adapter* adapter) {
    g_assert(adapter != NULL);
    set_adapter_property(adapter, "Pairable", g_variant_new_boolean(TRUE));
}

void btle_adapter_pairable_off(btle_adapter* adapter) {
    g_assert(adapter != NULL);
    set_adapter_property(adapter, "Pairable", g_variant_new_boolean(FALSE));
}

void btle_adapter_connectable_on(btle_adapter* adapter) {
    g_assert(adapter != NULL);
    set_adapter_property(adapter, "Connectable", g_variant_new_boolean(TRUE));
}

void btle_adapter_connectable_off(btle_adapter* adapter) {
    g_assert(adapter != NULL);
    set_adapter_property(adapter, "Connectable", g_variant_new_boolean(FALSE));
}

void btle_adapter_set_alias(btle_adapter* adapter, const char* alias) {
    g_assert(adapter != NULL);
    g_assert(alias != NULL);
    set_adapter_property(adapter, "Alias", g_variant_new_string(alias));
}

void btle_adapter_start_discovery(btle_adapter* adapter) {
    g_assert(adapter != NULL);
    if (adapter->discovery_state != BTLE_DISCOVERY_STOPPED) return;
    set_discovery_state(adapter, BTLE_DISCOVERY_STARTING, nullptr);
    call_adapter(adapter, INTERFACE_ADAPTER, "StartDiscovery", nullptr, btle_internal_start_discovery_cb);
}

void btle_adapter_stop_discovery(btle_adapter* adapter) {
    g_assert(adapter != NULL);
    if (adapter->discovery_state != BTLE_DISCOVERY_STARTED) return;
    set_discovery_state(adapter, BTLE_DISCOVERY_STOPPING, nullptr);
    call_adapter(adapter, INTERFACE_ADAPTER, "StopDiscovery", nullptr, btle_internal_stop_discovery_cb);
}

void btle_adapter_set_discovery_filter(btle_adapter* adapter, gint16 rssi_threshold, GPtrArray* service_uuids,
                                       const char* pattern) {
    g_assert(adapter != NULL);
    g_assert(rssi_threshold >= -127);
    g_assert(rssi_threshold <= 20);
    free_discovery_filter(adapter);
    adapter->discovery_filter_rssi = rssi_threshold;
    adapter->discovery_filter_service_uuids = g_ptr_array_new_with_free_func(g_free);
    adapter->discovery_filter_pattern = g_strdup(pattern);

    GVariantBuilder filter;
    g_variant_builder_init(&filter, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&filter, "{sv}", "Transport", g_variant_new_string("le"));
    g_variant_builder_add(&filter, "{sv}", "RSSI", g_variant_new_int16(rssi_threshold));
    g_variant_builder_add(&filter, "{sv}", "DuplicateData", g_variant_new_boolean(TRUE));
    if (pattern) g_variant_builder_add(&filter, "{sv}", "Pattern", g_variant_new_string(pattern));
    if (service_uuids && service_uuids->len > 0) {
        GVariantBuilder uuids;
        g_variant_builder_init(&uuids, G_VARIANT_TYPE("as"));
        for (guint i = 0; i < service_uuids->len; i++) {
            const char* uuid = static_cast<const char*>(service_uuids->pdata[i]);
            g_assert(g_uuid_string_is_valid(uuid));
            g_variant_builder_add(&uuids, "s", uuid);
            g_ptr_array_add(adapter->discovery_filter_service_uuids, g_strdup(uuid));
        }
        g_variant_builder_add(&filter, "{sv}", "UUIDs", g_variant_builder_end(&uuids));
    }
    call_adapter(adapter, INTERFACE_ADAPTER, "SetDiscoveryFilter", g_variant_new("(a{sv})", &filter),
                 btle_internal_adapter_call_method_cb, const_cast<char*>("SetDiscoveryFilter"));
}

void btle_adapter_remove_device(btle_adapter* adapter, btle_device* device) {
    g_assert(adapter != NULL);
    g_assert(device != NULL);
    const char* name = btle_device_get_name(device);
    const char* address = btle_device_get_address(device);
    log_debug(TAG, "removing %s (%s)", name ? name : "(null)", address ? address : "(null)");
    call_adapter(adapter, INTERFACE_ADAPTER, "RemoveDevice", g_variant_new("(o)", btle_device_get_path(device)),
                 btle_internal_adapter_call_method_cb, const_cast<char*>("RemoveDevice"));
}

void btle_adapter_start_advertising(btle_adapter* adapter, btle_advertisement* advertisement) {
    g_assert(adapter != NULL);
    g_assert(advertisement != NULL);
    if (adapter->advertisement && adapter->advertisement != advertisement) {
        btle_internal_advertisement_forget_adapter(adapter->advertisement, adapter);
    }
    adapter->advertisement = advertisement;
    btle_advertisement_register(advertisement, adapter);
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
    call_adapter(adapter, INTERFACE_ADVERTISING_MANAGER, "RegisterAdvertisement",
                 g_variant_new("(oa{sv})", btle_advertisement_get_path(advertisement), &options),
                 btle_internal_start_advertising_cb, advertising_request(adapter));
}

void btle_adapter_stop_advertising(btle_adapter* adapter, btle_advertisement* advertisement) {
    g_assert(adapter != NULL);
    g_assert(advertisement != NULL);
    call_adapter(adapter, INTERFACE_ADVERTISING_MANAGER, "UnregisterAdvertisement",
                 g_variant_new("(o)", btle_advertisement_get_path(advertisement)), btle_internal_stop_advertising_cb,
                 advertising_request(adapter));
}

void btle_adapter_register_application(btle_adapter* adapter, btle_application* application) {
    g_assert(adapter != NULL);
    g_assert(application != NULL);
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
    call_adapter(adapter, INTERFACE_GATT_MANAGER, "RegisterApplication",
                 g_variant_new("(oa{sv})", btle_application_get_path(application), &options),
                 btle_internal_register_appl_cb);
}

void btle_adapter_unregister_application(btle_adapter* adapter, btle_application* application) {
    g_assert(adapter != NULL);
    g_assert(application != NULL);
    call_adapter(adapter, INTERFACE_GATT_MANAGER, "UnregisterApplication",
                 g_variant_new("(o)", btle_application_get_path(application)), btle_internal_unregister_appl_cb);
}

GList* btle_adapter_get_devices(btle_adapter* adapter) {
    g_assert(adapter != NULL);
    return g_hash_table_get_values(adapter->devices_cache);
}

GList* btle_adapter_get_connected_devices(btle_adapter* adapter) {
    g_assert(adapter != NULL);
    GList* connected = nullptr;
    GHashTableIter iter;
    gpointer value;
    g_hash_table_iter_init(&iter, adapter->devices_cache);
    while (g_hash_table_iter_next(&iter, nullptr, &value)) {
        if (btle_device_get_connection_state(static_cast<btle_device*>(value)) == BTLE_CONNECTED) {
            connected = g_list_append(connected, value);
        }
    }
    return connected;
}

btle_device* btle_adapter_get_device_by_path(btle_adapter* adapter, const char* path) {
    g_assert(adapter != NULL);
    g_assert(path != NULL);
    return static_cast<btle_device*>(g_hash_table_lookup(adapter->devices_cache, path));
}

btle_device* btle_adapter_get_device_by_address(btle_adapter* adapter, const char* address) {
    g_assert(adapter != NULL);
    g_assert(address != NULL);
    g_assert(strlen(address) == MAC_ADDRESS_LENGTH);
    char* path = g_strdup_printf("%s/dev_%s", adapter->path, address);
    replace_char(path, ':', '_');
    btle_device* device = btle_adapter_get_device_by_path(adapter, path);
    g_free(path);
    return device;
}

void btle_adapter_set_discovery_cb(btle_adapter* adapter, btle_adapter_discovery_cb callback) {
    g_assert(adapter != NULL);
    g_assert(callback != NULL);
    adapter->discovery_callback = callback;
}

void btle_adapter_set_device_removal_cb(btle_adapter* adapter, btle_adapter_device_removal_cb callback) {
    g_assert(adapter != NULL);
    g_assert(callback != NULL);
    adapter->device_removal_callback = callback;
}

void btle_adapter_set_discovery_state_cb(btle_adapter* adapter, btle_adapter_discovery_state_cb callback) {
    g_assert(adapter != NULL);
    g_assert(callback != NULL);
    adapter->discovery_state_callback = callback;
}

void btle_adapter_set_powered_state_cb(btle_adapter* adapter, btle_adapter_powered_state_cb callback) {
    g_assert(adapter != NULL);
    g_assert(callback != NULL);
    adapter->powered_state_callback = callback;
}

void btle_adapter_set_remote_central_cb(btle_adapter* adapter, btle_adapter_remote_central_cb callback) {
    g_assert(adapter != NULL);
    adapter->remote_central_callback = callback;
}

void btle_adapter_set_registration_cb(btle_adapter* adapter, btle_adapter_registration_cb callback) {
    g_assert(adapter != NULL);
    adapter->registration_callback = callback;
}

void btle_adapter_set_user_data(btle_adapter* adapter, void* user_data) {
    g_assert(adapter != NULL);
    adapter->user_data = user_data;
}

void* btle_adapter_get_user_data(const btle_adapter* adapter) {
    g_assert(adapter != NULL);
    return adapter->user_data;
}

const char* btle_adapter_get_path(const btle_adapter* adapter) {
    g_assert(adapter != NULL);
    return adapter->path;
}

const char* btle_adapter_get_name(const btle_adapter* adapter) {
    g_assert(adapter != NULL);
    const char* slash = strrchr(adapter->path, '/');
    return slash ? slash + 1 : adapter->path;
}

const char* btle_adapter_get_address(const btle_adapter* adapter) {
    g_assert(adapter != NULL);
    return adapter->address;
}

btle_discovery_state btle_adapter_get_discovery_state(const btle_adapter* adapter) {
    g_assert(adapter != NULL);
    return adapter->discovery_state;
}

const char* btle_adapter_get_discovery_state_name(const btle_adapter* adapter) {
    g_assert(adapter != NULL);
    return DISCOVERY_STATE_NAMES[adapter->discovery_state];
}

gboolean btle_adapter_get_powered_state(const btle_adapter* adapter) {
    g_assert(adapter != NULL);
    return adapter->powered;
}

gboolean btle_adapter_is_discoverable(const btle_adapter* adapter) {
    g_assert(adapter != NULL);
    return adapter->discoverable;
}

gboolean btle_adapter_is_pairable(const btle_adapter* adapter) {
    g_assert(adapter != NULL);
    return adapter->pairable;
}

gboolean btle_adapter_is_connectable(const btle_adapter* adapter) {
    g_assert(adapter != NULL);
    return adapter->connectable;
}

GDBusConnection* btle_adapter_get_dbus_connection(const btle_adapter* adapter) {
    g_assert(adapter != NULL);
    return adapter->connection;
}

btle_advertisement* btle_adapter_get_advertisement(const btle_adapter* adapter) {
    g_assert(adapter != NULL);
    return adapter->advertisement;
}

void btle_internal_adapter_forget_advertisement(btle_adapter* adapter, const btle_advertisement* advertisement) {
    g_assert(adapter != NULL);
    if (adapter->advertisement == advertisement) adapter->advertisement = nullptr;
}
