// One BlueZ adapter ("org.bluez.Adapter1"): properties, device cache, discovery, advertising and
// GATT application registration. Runs on the thread of the GLib main loop of the default context.
#pragma once

#include "btle/btle_types.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum {
    BTLE_DISCOVERY_STOPPED = 0,
    BTLE_DISCOVERY_STARTED = 1,
    BTLE_DISCOVERY_STARTING = 2,
    BTLE_DISCOVERY_STOPPING = 3,
} btle_discovery_state;

typedef void (*btle_adapter_discovery_cb)(btle_adapter* adapter, btle_device* device);
typedef void (*btle_adapter_device_removal_cb)(btle_adapter* adapter, btle_device* device);
typedef void (*btle_adapter_discovery_state_cb)(btle_adapter* adapter, btle_discovery_state state, const GError* error);
typedef void (*btle_adapter_powered_state_cb)(btle_adapter* adapter, gboolean powered);
typedef void (*btle_adapter_remote_central_cb)(btle_adapter* adapter, btle_device* device);

// BlueZ's answer to a registration call: error is NULL when it accepted the call.
typedef enum {
    BTLE_ADVERTISEMENT_REGISTERED = 0,
    BTLE_ADVERTISEMENT_UNREGISTERED = 1,
    BTLE_APPLICATION_REGISTERED = 2,
    BTLE_APPLICATION_UNREGISTERED = 3,
} btle_registration_call;
typedef void (*btle_adapter_registration_cb)(btle_adapter* adapter, btle_registration_call call, const GError* error);

// Array of new adapters (free each with btle_adapter_free, then g_ptr_array_free(array, TRUE)).
GPtrArray* btle_adapter_find_all(GDBusConnection* connection);
btle_adapter* btle_adapter_get_default(GDBusConnection* connection);
btle_adapter* btle_adapter_get(GDBusConnection* connection, const char* name);
void btle_adapter_free(btle_adapter* adapter);

void btle_adapter_power_on(btle_adapter* adapter);
void btle_adapter_power_off(btle_adapter* adapter);
void btle_adapter_discoverable_on(btle_adapter* adapter);
void btle_adapter_discoverable_off(btle_adapter* adapter);
void btle_adapter_pairable_on(btle_adapter* adapter);
void btle_adapter_pairable_off(btle_adapter* adapter);
void btle_adapter_connectable_on(btle_adapter* adapter);
void btle_adapter_connectable_off(btle_adapter* adapter);
void btle_adapter_set_alias(btle_adapter* adapter, const char* alias);

void btle_adapter_start_discovery(btle_adapter* adapter);
void btle_adapter_stop_discovery(btle_adapter* adapter);
// service_uuids: array of char* (may be NULL); pattern may be NULL.
void btle_adapter_set_discovery_filter(btle_adapter* adapter, gint16 rssi_threshold, GPtrArray* service_uuids,
                                       const char* pattern);
void btle_adapter_remove_device(btle_adapter* adapter, btle_device* device);

void btle_adapter_start_advertising(btle_adapter* adapter, btle_advertisement* advertisement);
void btle_adapter_stop_advertising(btle_adapter* adapter, btle_advertisement* advertisement);
void btle_adapter_register_application(btle_adapter* adapter, btle_application* application);
void btle_adapter_unregister_application(btle_adapter* adapter, btle_application* application);

// New lists of cached devices; the caller frees the list (g_list_free), not the devices.
GList* btle_adapter_get_devices(btle_adapter* adapter);
GList* btle_adapter_get_connected_devices(btle_adapter* adapter);
btle_device* btle_adapter_get_device_by_path(btle_adapter* adapter, const char* path);
btle_device* btle_adapter_get_device_by_address(btle_adapter* adapter, const char* address);

void btle_adapter_set_discovery_cb(btle_adapter* adapter, btle_adapter_discovery_cb callback);
void btle_adapter_set_device_removal_cb(btle_adapter* adapter, btle_adapter_device_removal_cb callback);
void btle_adapter_set_discovery_state_cb(btle_adapter* adapter, btle_adapter_discovery_state_cb callback);
void btle_adapter_set_powered_state_cb(btle_adapter* adapter, btle_adapter_powered_state_cb callback);
// NULL is accepted and removes the callback.
void btle_adapter_set_remote_central_cb(btle_adapter* adapter, btle_adapter_remote_central_cb callback);
// With this callback set, refused registrations are the owner's to report: the library logs them at DEBUG.
void btle_adapter_set_registration_cb(btle_adapter* adapter, btle_adapter_registration_cb callback);
void btle_adapter_set_user_data(btle_adapter* adapter, void* user_data);
void* btle_adapter_get_user_data(const btle_adapter* adapter);

const char* btle_adapter_get_path(const btle_adapter* adapter);
// Last component of the path, e.g. "hci0".
const char* btle_adapter_get_name(const btle_adapter* adapter);
const char* btle_adapter_get_address(const btle_adapter* adapter);
btle_discovery_state btle_adapter_get_discovery_state(const btle_adapter* adapter);
const char* btle_adapter_get_discovery_state_name(const btle_adapter* adapter);
gboolean btle_adapter_get_powered_state(const btle_adapter* adapter);
gboolean btle_adapter_is_discoverable(const btle_adapter* adapter);
gboolean btle_adapter_is_pairable(const btle_adapter* adapter);
gboolean btle_adapter_is_connectable(const btle_adapter* adapter);
GDBusConnection* btle_adapter_get_dbus_connection(const btle_adapter* adapter);
btle_advertisement* btle_adapter_get_advertisement(const btle_adapter* adapter);
// Internal to the library: the advertisement is being freed, so the adapter stops holding it.
void btle_internal_adapter_forget_advertisement(btle_adapter* adapter, const btle_advertisement* advertisement);

#ifdef __cplusplus
}
#endif
