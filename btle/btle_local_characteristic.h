#pragma once
// A characteristic of a local GATT service: exported at "<service path>/char<n>" with the methods of
// "org.bluez.GattCharacteristic1"; its value is stored here when a central writes it.
#include "btle/btle_application_private.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct btle_local_characteristic {
    char* service_uuid;
    char* service_path;
    char* uuid;
    char* path;
    guint registration_id;
    GByteArray* value; // NULL until written or set
    guint permissions;
    GList* flags;
    gboolean notifying;
    GHashTable* descriptors; // descriptor UUID -> btle_local_descriptor
    btle_application* application;
} btle_local_characteristic;

btle_local_characteristic* btle_local_char_create(btle_application* application, const char* service_uuid,
                                                  const char* service_path, const char* uuid, guint index,
                                                  guint permissions);
// Exports the characteristic on the application's connection; 0, or 22 with a log line.
int btle_local_char_register(btle_local_characteristic* characteristic);
// Unexports the object and frees it with its descriptors.
void btle_local_char_free(btle_local_characteristic* characteristic);
// Replaces the stored value with a copy and calls the application's updated callback.
void btle_characteristic_set_value(const btle_application* application, btle_local_characteristic* characteristic,
                                   const GByteArray* byteArray);
// The "Value" entry of a PropertiesChanged signal or object list.
GVariant* btle_local_value_variant(const GByteArray* byteArray);

#ifdef __cplusplus
}
#endif
