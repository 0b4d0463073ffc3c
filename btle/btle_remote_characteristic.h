// GATT client objects of a remote device: "org.bluez.GattService1", "org.bluez.GattCharacteristic1" and
// "org.bluez.GattDescriptor1" mirrors with their asynchronous reads, writes and notifications.
// (The GATT server's local objects are the application's, btle_local_*.)
#pragma once

#include "btle/btle_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define GATT_CHR_PROP_BROADCAST 0x01
#define GATT_CHR_PROP_READ 0x02
#define GATT_CHR_PROP_WRITE_WITHOUT_RESP 0x04
#define GATT_CHR_PROP_WRITE 0x08
#define GATT_CHR_PROP_NOTIFY 0x10
#define GATT_CHR_PROP_INDICATE 0x20
#define GATT_CHR_PROP_AUTH 0x40
#define GATT_CHR_PROP_ENCRYPT_READ 0x100
#define GATT_CHR_PROP_ENCRYPT_WRITE 0x200
#define GATT_CHR_PROP_ENCRYPT_NOTIFY 0x400
#define GATT_CHR_PROP_ENCRYPT_INDICATE 0x800

typedef enum {
    BTLE_WRITE_WITH_RESPONSE = 0,
    BTLE_WRITE_WITHOUT_RESPONSE = 1,
} btle_write_type;

typedef void (*btle_characteristic_notifying_state_cb)(btle_device* device, btle_characteristic* characteristic,
                                                       const GError* error);
typedef void (*btle_characteristic_read_cb)(btle_device* device, btle_characteristic* characteristic,
                                            const GByteArray* byteArray, const GError* error);
typedef void (*btle_characteristic_write_cb)(btle_device* device, btle_characteristic* characteristic,
                                             const GByteArray* byteArray, const GError* error);
typedef void (*btle_characteristic_notify_cb)(btle_device* device, btle_characteristic* characteristic,
                                              const GByteArray* byteArray);
typedef void (*btle_descriptor_read_cb)(btle_device* device, btle_descriptor* descriptor, const GByteArray* byteArray,
                                        const GError* error);
typedef void (*btle_descriptor_write_cb)(btle_device* device, btle_descriptor* descriptor, const GByteArray* byteArray,
                                         const GError* error);

// Service
btle_service* btle_service_create(btle_device* device, const char* path, const char* uuid);
void btle_service_free(btle_service* service);
const char* btle_service_get_uuid(const btle_service* service);
const char* btle_service_get_path(const btle_service* service);
btle_device* btle_service_get_device(const btle_service* service);
void btle_service_add_characteristic(btle_service* service, btle_characteristic* characteristic);
GList* btle_service_get_characteristics(const btle_service* service);
btle_characteristic* btle_service_get_characteristic(const btle_service* service, const char* char_uuid);

// Characteristic
btle_characteristic* btle_characteristic_create(btle_device* device, const char* path);
void btle_characteristic_free(btle_characteristic* characteristic);
char* btle_characteristic_to_string(const btle_characteristic* characteristic);
const char* btle_characteristic_get_uuid(const btle_characteristic* characteristic);
const char* btle_characteristic_get_path(const btle_characteristic* characteristic);
btle_device* btle_characteristic_get_device(const btle_characteristic* characteristic);
btle_service* btle_characteristic_get_service(const btle_characteristic* characteristic);
const char* btle_characteristic_get_service_path(const btle_characteristic* characteristic);
GList* btle_characteristic_get_flags(const btle_characteristic* characteristic);
guint btle_characteristic_get_properties(const btle_characteristic* characteristic);
gboolean btle_characteristic_is_notifying(const btle_characteristic* characteristic);
GList* btle_characteristic_get_descriptors(const btle_characteristic* characteristic);
guint btle_characteristic_get_mtu(const btle_characteristic* characteristic);
void btle_characteristic_set_uuid(btle_characteristic* characteristic, const char* uuid);
void btle_characteristic_set_mtu(btle_characteristic* characteristic, guint mtu);
void btle_characteristic_set_service(btle_characteristic* characteristic, btle_service* service);
void btle_characteristic_set_service_path(btle_characteristic* characteristic, const char* service_path);
// Takes ownership of the list of strings and recomputes the properties.
void btle_characteristic_set_flags(btle_characteristic* characteristic, GList* flags);
void btle_characteristic_add_descriptor(btle_characteristic* characteristic, btle_descriptor* descriptor);
btle_descriptor* btle_characteristic_get_descriptor(const btle_characteristic* characteristic, const char* desc_uuid);
gboolean btle_characteristic_supports_read(const btle_characteristic* characteristic);
gboolean btle_characteristic_supports_write(const btle_characteristic* characteristic, btle_write_type writeType);
gboolean btle_characteristic_supports_notify(const btle_characteristic* characteristic);
void btle_characteristic_set_read_cb(btle_characteristic* characteristic, btle_characteristic_read_cb callback);
void btle_characteristic_set_write_cb(btle_characteristic* characteristic, btle_characteristic_write_cb callback);
void btle_characteristic_set_notify_cb(btle_characteristic* characteristic, btle_characteristic_notify_cb callback);
void btle_characteristic_set_notifying_state_change_cb(btle_characteristic* characteristic,
                                                       btle_characteristic_notifying_state_cb callback);
void btle_characteristic_set_notifying(btle_characteristic* characteristic, gboolean notifying);
void btle_characteristic_read(btle_characteristic* characteristic);
void btle_characteristic_write(btle_characteristic* characteristic, const GByteArray* byteArray,
                               btle_write_type writeType);
void btle_characteristic_start_notify(btle_characteristic* characteristic);
void btle_characteristic_stop_notify(btle_characteristic* characteristic);

// Descriptor
btle_descriptor* btle_descriptor_create(btle_device* device, const char* path);
void btle_descriptor_free(btle_descriptor* descriptor);
char* btle_descriptor_to_string(const btle_descriptor* descriptor);
void btle_descriptor_set_uuid(btle_descriptor* descriptor, const char* uuid);
const char* btle_descriptor_get_uuid(const btle_descriptor* descriptor);
const char* btle_descriptor_get_path(const btle_descriptor* descriptor);
void btle_descriptor_set_char_path(btle_descriptor* descriptor, const char* char_path);
const char* btle_descriptor_get_char_path(const btle_descriptor* descriptor);
void btle_descriptor_set_char(btle_descriptor* descriptor, btle_characteristic* characteristic);
btle_characteristic* btle_descriptor_get_char(const btle_descriptor* descriptor);
btle_device* btle_descriptor_get_device(const btle_descriptor* descriptor);
void btle_descriptor_set_flags(btle_descriptor* descriptor, GList* flags);
void btle_descriptor_set_read_cb(btle_descriptor* descriptor, btle_descriptor_read_cb callback);
void btle_descriptor_set_write_cb(btle_descriptor* descriptor, btle_descriptor_write_cb callback);
void btle_descriptor_read(btle_descriptor* descriptor);
void btle_descriptor_write(btle_descriptor* descriptor, const GByteArray* byteArray);

#ifdef __cplusplus
}
#endif
