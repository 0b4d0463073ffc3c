#include "btle/btle_local_service.h"

#include "btle/btle_local_characteristic.h"
#include "btle/btle_logger.h"
#include "btle/btle_utility.h"

#include <cerrno>

namespace {
const char* const TAG = "Application";

// BlueZ reads a service through the object list; the exported object only has to exist at its path.
const char* const serviceXml = "<node name='/'>"
                               "  <interface name='org.freedesktop.DBus.Properties'>"
                               "    <property type='s' name='UUID' access='read'/>"
                               "    <property type='b' name='primary' access='read'/>"
                               "    <property type='o' name='Device' access='read'/>"
                               "    <property type='ao' name='Characteristics' access='read'/>"
                               "    <property type='s' name='Includes' access='read'/>"
                               "  </interface>"
                               "  <interface name='org.bluez.GattService1'>"
                               "    <property type='s' name='UUID' access='read'/>"
                               "    <property type='b' name='Primary' access='read'/>"
                               "    <property type='ao' name='Characteristics' access='read'/>"
                               "  </interface>"
                               "</node>";
}

btle_local_service* btle_local_service_create(btle_application* application, const char* uuid, guint index) {
    g_assert(application != NULL);
    auto* service = g_new0(btle_local_service, 1);
    service->path = g_strdup_printf("%s/service%u", application->path, index);
    service->uuid = g_strdup(uuid);
    service->characteristics =
        g_hash_table_new_full(g_str_hash, g_str_equal, g_free, (GDestroyNotify)btle_local_char_free);
    service->application = application;
    return service;
}

int btle_local_service_register(btle_local_service* service) {
    g_assert(service != NULL);
    service->registration_id =
        btle_export_object(service->application->connection, service->path, serviceXml, nullptr, service, TAG);
    if (service->registration_id == 0) return EINVAL;
    log_debug(TAG, "successfully published local service %s", service->uuid);
    return 0;
}

void btle_local_service_free(btle_local_service* service) {
    g_assert(service != NULL);
    log_debug(TAG, "freeing service %s", service->path);
    g_hash_table_destroy(service->characteristics);
    if (service->registration_id != 0)
        g_dbus_connection_unregister_object(service->application->connection, service->registration_id);
    g_free(service->path);
    g_free(service->uuid);
    g_free(service);
}
