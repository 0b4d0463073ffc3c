#pragma once
// GATT server application: exports local services, characteristics and descriptors as D-Bus objects in the
// form BlueZ's GATT manager reads, answers BlueZ's method calls through the owner's callbacks, stores written
// values and sends notifications as "PropertiesChanged" signals. Runs on the GLib main-loop thread; only
// btle_application_notify may be called from another thread (it reads tables that no longer change).
#include "btle/btle_types.h"

#ifdef __cplusplus
extern "C" {
#endif

// Property bits (the permissions of a characteristic or descriptor) map to BlueZ flags: 0x02 "read",
// 0x04 "write-without-response", 0x08 "write", 0x10 "notify", 0x20 "indicate", 0x100.. "encrypt-*",
// 0x1000.. "encrypt-authenticated-*", 0x100000.. "secure-*"; 0x01 gives no flag.

// A callback returns a D-Bus error name to refuse the request, or NULL to accept it.
typedef const char* (*onLocalCharacteristicWrite)(const btle_application* application, const char* address,
                                                  const char* service_uuid, const char* char_uuid,
                                                  GByteArray* byteArray, guint16 mtu, guint16 offset);
typedef const char* (*onLocalCharacteristicRead)(const btle_application* application, const char* address,
                                                 const char* service_uuid, const char* char_uuid, guint16 mtu,
                                                 guint16 offset);
typedef void (*onLocalCharacteristicUpdated)(const btle_application* application, const char* service_uuid,
                                             const char* char_uuid, GByteArray* byteArray);
typedef void (*onLocalCharacteristicStartNotify)(const btle_application* application, const char* service_uuid,
                                                 const char* char_uuid);
typedef void (*onLocalCharacteristicStopNotify)(const btle_application* application, const char* service_uuid,
                                                const char* char_uuid);
typedef const char* (*onLocalDescriptorWrite)(const btle_application* application, const char* address,
                                              const char* service_uuid, const char* char_uuid, const char* desc_uuid,
                                              const GByteArray* byteArray);
typedef const char* (*onLocalDescriptorRead)(const btle_application* application, const char* address,
                                             const char* service_uuid, const char* char_uuid, const char* desc_uuid);

// New application at "/org/bluez/btleapp_<adapter name>_<4 random characters>", already published.
btle_application* btle_create_application(btle_adapter* adapter);
void btle_application_publish(btle_application* application, btle_adapter* adapter);
// Frees every service, characteristic and descriptor (unexporting them) and the application itself.
void btle_application_free(btle_application* application);

// Each returns 0, or 22 (EINVAL) on any failure.
int btle_application_add_service(btle_application* application, const char* service_uuid);
int btle_application_add_characteristic(btle_application* application, const char* service_uuid, const char* char_uuid,
                                        guint permissions);
int btle_application_add_descriptor(btle_application* application, const char* service_uuid, const char* char_uuid,
                                    const char* desc_uuid, guint permissions);
int btle_application_set_char_value(const btle_application* application, const char* service_uuid,
                                    const char* char_uuid, const GByteArray* byteArray);
int btle_application_set_desc_value(const btle_application* application, const char* service_uuid,
                                    const char* char_uuid, const char* desc_uuid, const GByteArray* byteArray);
// The stored value (not a copy), or NULL.
GByteArray* btle_application_get_char_value(const btle_application* application, const char* service_uuid,
                                            const char* char_uuid);
// Emits "PropertiesChanged" with the bytes as the characteristic's "Value"; stores nothing.
int btle_application_notify(const btle_application* application, const char* service_uuid, const char* char_uuid,
                            const GByteArray* byteArray);
gboolean btle_application_char_is_notifying(const btle_application* application, const char* service_uuid,
                                            const char* char_uuid);
const char* btle_application_get_path(const btle_application* application);

void btle_application_set_char_read_cb(btle_application* application, onLocalCharacteristicRead callback);
void btle_application_set_char_write_cb(btle_application* application, onLocalCharacteristicWrite callback);
void btle_application_set_char_updated_cb(btle_application* application, onLocalCharacteristicUpdated callback);
void btle_application_set_char_start_notify_cb(btle_application* application,
                                               onLocalCharacteristicStartNotify callback);
void btle_application_set_char_stop_notify_cb(btle_application* application, onLocalCharacteristicStopNotify callback);
void btle_application_set_desc_read_cb(btle_application* application, onLocalDescriptorRead callback);
void btle_application_set_desc_write_cb(btle_application* application, onLocalDescriptorWrite callback);
void btle_application_set_user_data(btle_application* application, void* user_data);
void* btle_application_get_user_data(const btle_application* application);

#ifdef __cplusplus
}
#endif
