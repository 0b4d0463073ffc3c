// A remote Bluetooth device ("org.bluez.Device1") under an adapter: mirrored properties, connection and
// bonding states, and the GATT client side (remote services, reads, writes, notifications).
#pragma once

#include "btle/btle_types.h"
#include "btle/btle_remote_characteristic.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum {
    BTLE_DISCONNECTED = 0,
    BTLE_CONNECTED = 1,
    BTLE_CONNECTING = 2,
    BTLE_DISCONNECTING = 3,
} btle_connection_state;

typedef enum {
    BTLE_BOND_NONE = 0,
    BTLE_BONDING = 1,
    BTLE_BONDED = 2,
} btle_bonding_state;

typedef void (*btle_device_connection_state_cb)(btle_device* device, btle_connection_state state, const GError* error);
typedef void (*btle_device_services_resolved_cb)(btle_device* device);
typedef void (*btle_device_bonding_state_cb)(btle_device* device, btle_bonding_state new_state,
                                             btle_bonding_state old_state, const GError* error);
typedef void (*btle_device_read_char_cb)(btle_device* device, btle_characteristic* characteristic,
                                         const GByteArray* byteArray, const GError* error);
typedef void (*btle_device_write_char_cb)(btle_device* device, btle_characteristic* characteristic,
                                          const GByteArray* byteArray, const GError* error);
typedef void (*btle_device_notify_char_cb)(btle_device* device, btle_characteristic* characteristic,
                                           const GByteArray* byteArray);
typedef void (*btle_device_notify_state_cb)(btle_device* device, btle_characteristic* characteristic,
                                            const GError* error);
typedef void (*btle_device_read_desc_cb)(btle_device* device, btle_descriptor* descriptor, const GByteArray* byteArray,
                                         const GError* error);
typedef void (*btle_device_write_desc_cb)(btle_device* device, btle_descriptor* descriptor, const GByteArray* byteArray,
                                          const GError* error);

btle_device* btle_device_create(const char* path, btle_adapter* adapter);
void btle_device_free(btle_device* device);
void btle_internal_device_update_property(btle_device* device, const char* property_name, GVariant* property_value);
// New text; g_free it.
char* btle_device_to_string(const btle_device* device);

const char* btle_device_get_address(const btle_device* device);
void btle_device_set_address(btle_device* device, const char* address);
const char* btle_device_get_address_type(const btle_device* device);
void btle_device_set_address_type(btle_device* device, const char* address_type);
const char* btle_device_get_alias(const btle_device* device);
void btle_device_set_alias(btle_device* device, const char* alias);
const char* btle_device_get_name(const btle_device* device);
void btle_device_set_name(btle_device* device, const char* name);
const char* btle_device_get_path(const btle_device* device);
void btle_device_set_path(btle_device* device, const char* path);
gboolean btle_device_get_paired(const btle_device* device);
void btle_device_set_paired(btle_device* device, gboolean paired);
btle_bonding_state btle_device_get_bonding_state(const btle_device* device);
void btle_device_set_bonding_state(btle_device* device, btle_bonding_state bonding_state);
gint16 btle_device_get_rssi(const btle_device* device);
void btle_device_set_rssi(btle_device* device, gint16 rssi);
gboolean btle_device_get_trusted(const btle_device* device);
void btle_device_set_trusted(btle_device* device, gboolean trusted);
gint16 btle_device_get_txpower(const btle_device* device);
void btle_device_set_txpower(btle_device* device, gint16 txpower);
// List of strings owned by the device; the setter takes ownership (strings freed with g_free).
GList* btle_device_get_uuids(const btle_device* device);
void btle_device_set_uuids(btle_device* device, GList* uuids);
// Tables owned by the device; the setters take ownership of the table.
GHashTable* btle_device_get_manufacturer_data(const btle_device* device);
void btle_device_set_manufacturer_data(btle_device* device, GHashTable* manufacturer_data);
GHashTable* btle_device_get_service_data(const btle_device* device);
void btle_device_set_service_data(btle_device* device, GHashTable* service_data);
void btle_device_set_is_central(btle_device* device, gboolean is_central);
gboolean btle_device_is_central(const btle_device* device);
btle_connection_state btle_device_get_connection_state(const btle_device* device);
const char* btle_device_get_connection_state_name(const btle_device* device);
GDBusConnection* btle_device_get_dbus_connection(const btle_device* device);
btle_adapter* btle_device_get_adapter(const btle_device* device);
guint btle_device_get_mtu(const btle_device* device);
// List of btle_service*, owned by the device.
GList* btle_device_get_services(const btle_device* device);
void btle_device_set_user_data(btle_device* device, void* user_data);
void* btle_device_get_user_data(const btle_device* device);
gboolean btle_device_has_service(const btle_device* device, const char* service_uuid);

void btle_device_connect(btle_device* device);
void btle_device_pair(btle_device* device);
void btle_device_disconnect(btle_device* device);

btle_service* btle_device_get_service(const btle_device* device, const char* service_uuid);
btle_characteristic* btle_device_get_characteristic(const btle_device* device, const char* service_uuid,
                                                    const char* char_uuid);
gboolean btle_device_read_char(const btle_device* device, const char* service_uuid, const char* char_uuid);
gboolean btle_device_write_char(const btle_device* device, const char* service_uuid, const char* char_uuid,
                                const GByteArray* byteArray, btle_write_type writeType);
gboolean btle_device_start_notify(const btle_device* device, const char* service_uuid, const char* char_uuid);
gboolean btle_device_stop_notify(const btle_device* device, const char* service_uuid, const char* char_uuid);
gboolean btle_device_read_desc(const btle_device* device, const char* service_uuid, const char* char_uuid,
                               const char* desc_uuid);
gboolean btle_device_write_desc(const btle_device* device, const char* service_uuid, const char* char_uuid,
                                const char* desc_uuid, const GByteArray* byteArray);

void btle_device_set_connection_state_change_cb(btle_device* device, btle_device_connection_state_cb callback);
void btle_device_set_services_resolved_cb(btle_device* device, btle_device_services_resolved_cb callback);
void btle_device_set_bonding_state_changed_cb(btle_device* device, btle_device_bonding_state_cb callback);
void btle_device_set_read_char_cb(btle_device* device, btle_device_read_char_cb callback);
void btle_device_set_write_char_cb(btle_device* device, btle_device_write_char_cb callback);
void btle_device_set_notify_char_cb(btle_device* device, btle_device_notify_char_cb callback);
void btle_device_set_notify_state_cb(btle_device* device, btle_device_notify_state_cb callback);
void btle_device_set_read_desc_cb(btle_device* device, btle_device_read_desc_cb callback);
void btle_device_set_write_desc_cb(btle_device* device, btle_device_write_desc_cb callback);

#ifdef __cplusplus
}
#endif
