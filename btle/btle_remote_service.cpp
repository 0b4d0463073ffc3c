#include "btle/btle_remote_characteristic.h"

#include "btle/btle_device.h"
#include "btle/btle_utility.h"

struct btle_service {
    btle_device* device;
    char* path;
    char* uuid;
    GList* characteristics;
};

btle_service* btle_service_create(btle_device* device, const char* path, const char* uuid) {
    g_assert(device != NULL);
    g_assert(path != NULL);
    g_assert(is_valid_uuid(uuid));
    btle_service* service = g_new0(btle_service, 1);
    service->device = device;
    service->path = g_strdup(path);
    service->uuid = g_strdup(uuid);
    return service;
}

void btle_service_free(btle_service* service) {
    g_assert(service != NULL);
    g_free(service->path);
    g_free(service->uuid);
    g_list_free(service->characteristics);
    g_free(service);
}

const char* btle_service_get_uuid(const btle_service* service) {
    g_assert(service != NULL);
    return service->uuid;
}

const char* btle_service_get_path(const btle_service* service) {
    g_assert(service != NULL);
    return service->path;
}

btle_device* btle_service_get_device(const btle_service* service) {
    g_assert(service != NULL);
    return service->device;
}

void btle_service_add_characteristic(btle_service* service, btle_characteristic* characteristic) {
    g_assert(service != NULL);
    g_assert(characteristic != NULL);
    service->characteristics = g_list_append(service->characteristics, characteristic);
}

GList* btle_service_get_characteristics(const btle_service* service) {
    g_assert(service != NULL);
    return service->characteristics;
}

btle_characteristic* btle_service_get_characteristic(const btle_service* service, const char* char_uuid) {
    g_assert(service != NULL);
    g_assert(is_valid_uuid(char_uuid));
    for (GList* item = service->characteristics; item != nullptr; item = item->next) {
        auto* characteristic = static_cast<btle_characteristic*>(item->data);
        const char* uuid = btle_characteristic_get_uuid(characteristic);
        if (uuid && g_str_equal(uuid, char_uuid)) return characteristic;
    }
    return nullptr;
}
