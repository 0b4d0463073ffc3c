#pragma once
// A primary service of the GATT server application, exported at "<application path>/service<n>".
#include "btle/btle_application_private.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct btle_local_service {
    char* path;
    char* uuid;
    guint registration_id;
    GHashTable* characteristics; // characteristic UUID -> btle_local_characteristic
    btle_application* application;
} btle_local_service;

btle_local_service* btle_local_service_create(btle_application* application, const char* uuid, guint index);
// Exports the service on the application's connection; 0, or 22 with a log line.
int btle_local_service_register(btle_local_service* service);
// Unexports the service and frees it with its characteristics.
void btle_local_service_free(btle_local_service* service);

#ifdef __cplusplus
}
#endif
