#include "btle/btle_local_descriptor.h"

#include "btle/btle_local_characteristic.h"
#include "btle/btle_logger.h"
#include "btle/btle_utility.h"

#include <cerrno>

namespace {
const char* const TAG = "Application";

const char* const descriptorXml = "<node name='/'>"
                                  "  <interface name='org.bluez.GattDescriptor1'>"
                                  "    <method name='ReadValue'>"
                                  "      <arg type='a{sv}' name='options' direction='in'/>"
                                  "      <arg type='ay' name='value' direction='out'/>"
                                  "    </method>"
                                  "    <method name='WriteValue'>"
                                  "      <arg type='ay' name='value' direction='in'/>"
                                  "      <arg type='a{sv}' name='options' direction='in'/>"
                                  "    </method>"
                                  "  </interface>"
                                  "  <interface name='org.freedesktop.DBus.Properties'>"
                                  "    <property type='s' name='UUID' access='read'/>"
                                  "    <property type='o' name='Characteristic' access='read'/>"
                                  "    <property type='ay' name='Value' access='readwrite'/>"
                                  "    <property type='as' name='Flags' access='read'/>"
                                  "  </interface>"
                                  "</node>";

const char* callRead(void* object, const btle_value_options* options) {
    auto* descriptor = static_cast<btle_local_descriptor*>(object);
    btle_application* application = descriptor->application;
    if (application->read_desc_cb == nullptr) return nullptr;
    return application->read_desc_cb(application, options->device, descriptor->service_uuid, descriptor->char_uuid,
                                     descriptor->uuid);
}

const char* callWrite(void* object, const btle_value_options* options, GByteArray* bytes) {
    auto* descriptor = static_cast<btle_local_descriptor*>(object);
    btle_application* application = descriptor->application;
    if (application->write_desc_cb == nullptr) return nullptr;
    return application->write_desc_cb(application, options->device, descriptor->service_uuid, descriptor->char_uuid,
                                      descriptor->uuid, bytes);
}

void storeValue(void* object, GByteArray* bytes) {
    btle_descriptor_set_value(static_cast<btle_local_descriptor*>(object), bytes);
}

void descriptorMethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                          GVariant* parameters, GDBusMethodInvocation* invocation, gpointer userData) {
    auto* localDescriptor = static_cast<btle_local_descriptor*>(userData);
    g_assert(localDescriptor != NULL);
    if (g_str_equal(method, "ReadValue"))
        btle_local_serve_read(localDescriptor, callRead, &localDescriptor->value,
                              {"read descriptor error", "no value for descriptor"}, parameters, invocation);
    else if (g_str_equal(method, "WriteValue"))
        btle_local_serve_write(localDescriptor, callWrite, storeValue, parameters, invocation);
    else btle_return_unknown_method(invocation, method);
}

const GDBusInterfaceVTable descriptorVTable = {descriptorMethodCall, nullptr, btle_refuse_property_set, {nullptr}};
}

btle_local_descriptor* btle_local_desc_create(btle_application* application, const char* service_uuid,
                                              const char* char_uuid, const char* char_path, const char* uuid,
                                              guint index, guint permissions) {
    g_assert(application != NULL);
    auto* descriptor = g_new0(btle_local_descriptor, 1);
    descriptor->path = g_strdup_printf("%s/desc%u", char_path, index);
    descriptor->char_path = g_strdup(char_path);
    descriptor->uuid = g_strdup(uuid);
    descriptor->char_uuid = g_strdup(char_uuid);
    descriptor->service_uuid = g_strdup(service_uuid);
    descriptor->flags = flags_to_string_list(permissions);
    descriptor->application = application;
    return descriptor;
}

int btle_local_desc_register(btle_local_descriptor* descriptor) {
    g_assert(descriptor != NULL);
    descriptor->registration_id = btle_export_object(descriptor->application->connection, descriptor->path,
                                                     descriptorXml, &descriptorVTable, descriptor, TAG);
    if (descriptor->registration_id == 0) return EINVAL;
    log_debug(TAG, "successfully published local descriptor %s", descriptor->uuid);
    return 0;
}

void btle_local_desc_free(btle_local_descriptor* descriptor) {
    g_assert(descriptor != NULL);
    log_debug(TAG, "freeing descriptor %s", descriptor->path);
    if (descriptor->registration_id != 0)
        g_dbus_connection_unregister_object(descriptor->application->connection, descriptor->registration_id);
    if (descriptor->value != nullptr) g_byte_array_free(descriptor->value, TRUE);
    g_list_free(descriptor->flags);
    g_free(descriptor->path);
    g_free(descriptor->char_path);
    g_free(descriptor->uuid);
    g_free(descriptor->char_uuid);
    g_free(descriptor->service_uuid);
    g_free(descriptor);
}

void btle_descriptor_set_value(btle_local_descriptor* descriptor, const GByteArray* byteArray) {
    g_assert(descriptor != NULL);
    g_assert(byteArray != NULL);
    if (descriptor->value != nullptr) g_byte_array_free(descriptor->value, TRUE);
    descriptor->value = g_byte_array_sized_new(byteArray->len);
    g_byte_array_append(descriptor->value, byteArray->data, byteArray->len);
}
