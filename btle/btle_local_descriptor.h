#pragma once
// A descriptor of a local characteristic: exported at "<characteristic path>/desc<n>" with the methods of
// "org.bluez.GattDescriptor1".
#include "btle/btle_application_private.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct btle_local_descriptor {
    char* path;
    char* char_path;
    char* uuid;
    char* char_uuid;
    char* service_uuid;
    guint registration_id;
    GByteArray* value; // NULL until written or set
    GList* flags;
    btle_application* application;
} btle_local_descriptor;

btle_local_descriptor* btle_local_desc_create(btle_application* application, const char* service_uuid,
                                              const char* char_uuid, const char* char_path, const char* uuid,
                                              guint index, guint permissions);
// Exports the descriptor on the application's connection; 0, or 22 with a log line.
int btle_local_desc_register(btle_local_descriptor* descriptor);
void btle_local_desc_free(btle_local_descriptor* descriptor);
// Replaces the stored value with a copy (no callback).
void btle_descriptor_set_value(btle_local_descriptor* descriptor, const GByteArray* byteArray);

#ifdef __cplusplus
}
#endif
