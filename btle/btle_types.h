// Opaque objects of the Bluetooth LE library, shared by its headers.
#pragma once

#include <gio/gio.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct btle_adapter btle_adapter;
typedef struct btle_advertisement btle_advertisement;
typedef struct btle_device btle_device;
typedef struct btle_service btle_service;
typedef struct btle_characteristic btle_characteristic;
typedef struct btle_descriptor btle_descriptor;
typedef struct btle_agent btle_agent;
typedef struct btle_application btle_application;

#ifdef __cplusplus
}
#endif
