// An LE advertisement exported as "org.bluez.LEAdvertisement1"; the adapter registers it with BlueZ.
#pragma once

#include "btle/btle_types.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum {
    BTLE_SC_1M = 0,
    BTLE_SC_2M = 1,
    BTLE_SC_CODED = 2,
} btle_secondary_channel;

// BlueZ released the advertisement: it no longer holds the registration (the adapter went, or BlueZ dropped
// it on its own) and only a new registration brings it back. Runs on the main-loop thread.
typedef void (*btle_advertisement_released_cb)(btle_advertisement* advertisement);

btle_advertisement* btle_advertisement_create(void);
void btle_advertisement_free(btle_advertisement* advertisement);

void btle_advertisement_set_local_name(btle_advertisement* advertisement, const char* local_name);
// service_uuids: array of char*, copied.
void btle_advertisement_set_services(btle_advertisement* advertisement, const GPtrArray* service_uuids);
void btle_advertisement_set_scan_response_services(btle_advertisement* advertisement, const GPtrArray* service_uuids);
void btle_advertisement_set_service_data(btle_advertisement* advertisement, const char* service_uuid,
                                         const GByteArray* byteArray);
void btle_advertisement_set_scan_response_service_data(btle_advertisement* advertisement, const char* service_uuid,
                                                       const GByteArray* byteArray);
void btle_advertisement_set_manufacturer_data(btle_advertisement* advertisement, guint16 manufacturer_id,
                                              const GByteArray* byteArray);
void btle_advertisement_set_scan_response_manufacturer_data(btle_advertisement* advertisement, guint16 manufacturer_id,
                                                            const GByteArray* byteArray);
void btle_advertisement_set_interval(btle_advertisement* advertisement, guint32 min, guint32 max);
void btle_advertisement_set_appearance(btle_advertisement* advertisement, guint16 appearance);
void btle_advertisement_set_general_discoverable(btle_advertisement* advertisement, gboolean discoverable);
void btle_advertisement_set_tx_power(btle_advertisement* advertisement, gint16 tx_power);
void btle_advertisement_set_secondary_channel(btle_advertisement* advertisement,
                                              btle_secondary_channel secondary_channel);
void btle_advertisement_set_rsi(btle_advertisement* advertisement);
// Called on every Release from BlueZ, including the one that may follow the owner's own unregistration.
void btle_advertisement_set_released_cb(btle_advertisement* advertisement, btle_advertisement_released_cb callback);

const char* btle_advertisement_get_path(const btle_advertisement* advertisement);
const char* btle_advertisement_get_local_name(const btle_advertisement* advertisement);
guint16 btle_advertisement_get_appearance(const btle_advertisement* advertisement);
gint16 btle_advertisement_get_tx_power(const btle_advertisement* advertisement);
btle_secondary_channel btle_advertisement_get_secondary_channel(const btle_advertisement* advertisement);

// Exports the object (an object still exported stays as it is); remembers the adapter as its owner.
void btle_advertisement_register(btle_advertisement* advertisement, btle_adapter* adapter);
// Unexports the object.
void btle_advertisement_unregister(btle_advertisement* advertisement, btle_adapter* adapter);
// Internal to the library: the adapter that exported the advertisement is going, so the export is withdrawn
// and the link dropped (nothing happens when another adapter owns it).
void btle_internal_advertisement_forget_adapter(btle_advertisement* advertisement, const btle_adapter* adapter);

#ifdef __cplusplus
}
#endif
