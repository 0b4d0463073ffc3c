#include "btle_local_service.h"

#include "btle_local_characteristic.h"
#include "btle_logger.h"

#include <cerrno>

namespace {
const char* const TAG = "Application";

// BlueZ reads a service through the object list; the exported object only has to exist at its path.
const char* const serviceXml =
    "<node name='/'>"
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
    GError* error = nullptr;
    GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(serviceXml, &error);
    if (info == nullptr) {
        log_debug(TAG, "Unable to create service node: %s\n", error != nullptr ? error->message : "unknown");
        g_clear_error(&error);
        return EINVAL;
    }
    service->registration_id = g_dbus_connection_register_object(
        service->application->connection, service->path, info->interfaces[0], nullptr, service, nullptr, &error);
    g_dbus_node_info_unref(info);
    if (service->registration_id == 0) {
        log_debug(TAG, "failed to publish local service");
        log_debug(TAG, "registering service failed: %s", error != nullptr ? error->message : "unknown");
        g_clear_error(&error);
        return EINVAL;
    }
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
