#include "btle/btle_local_characteristic.h"

#include "btle/btle_local_descriptor.h"
#include "btle/btle_logger.h"
#include "btle/btle_utility.h"

#include <cerrno>

namespace {
const char* const TAG = "Application";

const char* const characteristicXml =
    "<node name='/'>"
    "  <interface name='org.bluez.GattCharacteristic1'>"
    "    <method name='ReadValue'>"
    "      <arg type='a{sv}' name='options' direction='in'/>"
    "      <arg type='ay' name='value' direction='out'/>"
    "    </method>"
    "    <method name='WriteValue'>"
    "      <arg type='ay' name='value' direction='in'/>"
    "      <arg type='a{sv}' name='options' direction='in'/>"
    "    </method>"
    "    <method name='StartNotify'/>"
    "    <method name='StopNotify'/>"
    "    <method name='Confirm'/>"
    "  </interface>"
    // Not registered: BlueZ reads the properties through the object list. Declared on the registered
    // interface, a read-write "Value" would let any peer on the bus call a setter that is not there.
    "  <interface name='org.freedesktop.DBus.Properties'>"
    "    <property type='s' name='UUID' access='read'/>"
    "    <property type='o' name='Service' access='read'/>"
    "    <property type='ay' name='Value' access='readwrite'/>"
    "    <property type='b' name='Notifying' access='read'/>"
    "    <property type='as' name='Flags' access='read'/>"
    "    <property type='ao' name='Descriptors' access='read'/>"
    "  </interface>"
    "</node>";

GVariant* descriptorPaths(const btle_local_characteristic* characteristic) {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("ao"));
    GHashTableIter iter;
    gpointer value;
    g_hash_table_iter_init(&iter, characteristic->descriptors);
    while (g_hash_table_iter_next(&iter, nullptr, &value))
        g_variant_builder_add(&builder, "o", static_cast<btle_local_descriptor*>(value)->path);
    return g_variant_builder_end(&builder);
}

const char* callRead(void* object, const btle_value_options* options) {
    auto* characteristic = static_cast<btle_local_characteristic*>(object);
    btle_application* application = characteristic->application;
    log_debug(TAG, "read <%s>", characteristic->uuid);
    if (application->read_char_cb == nullptr) return nullptr;
    return application->read_char_cb(application, options->device, characteristic->service_uuid, characteristic->uuid,
                                     options->mtu, options->offset);
}

const char* callWrite(void* object, const btle_value_options* options, GByteArray* bytes) {
    auto* characteristic = static_cast<btle_local_characteristic*>(object);
    btle_application* application = characteristic->application;
    log_debug(TAG, "write <%s>", characteristic->uuid);
    if (application->write_char_cb == nullptr) return nullptr;
    return application->write_char_cb(application, options->device, characteristic->service_uuid, characteristic->uuid,
                                      bytes, options->mtu, options->offset);
}

void storeValue(void* object, GByteArray* bytes) {
    auto* characteristic = static_cast<btle_local_characteristic*>(object);
    btle_characteristic_set_value(characteristic->application, characteristic, bytes);
}

void characteristicMethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                              GVariant* parameters, GDBusMethodInvocation* invocation, gpointer userData) {
    auto* characteristic = static_cast<btle_local_characteristic*>(userData);
    g_assert(characteristic != NULL);
    btle_application* application = characteristic->application;
    if (g_str_equal(method, "ReadValue")) {
        btle_local_serve_read(characteristic, callRead, &characteristic->value,
                              {"read characteristic error", "no value"}, parameters, invocation);
    } else if (g_str_equal(method, "WriteValue")) {
        btle_local_serve_write(characteristic, callWrite, storeValue, parameters, invocation);
    } else if (g_str_equal(method, "StartNotify")) {
        log_debug(TAG, "start notify <%s>", characteristic->uuid);
        characteristic->notifying = TRUE;
        g_dbus_method_invocation_return_value(invocation, nullptr);
        if (application->notify_char_cb != nullptr)
            application->notify_char_cb(application, characteristic->service_uuid, characteristic->uuid);
    } else if (g_str_equal(method, "StopNotify")) {
        log_debug(TAG, "stop notify <%s>", characteristic->uuid);
        characteristic->notifying = FALSE;
        g_dbus_method_invocation_return_value(invocation, nullptr);
        if (application->stop_notify_char_cb != nullptr)
            application->stop_notify_char_cb(application, characteristic->service_uuid, characteristic->uuid);
    } else if (g_str_equal(method, "Confirm")) {
        log_debug(TAG, "indication confirmed <%s>", characteristic->uuid);
        g_dbus_method_invocation_return_value(invocation, nullptr);
    } else {
        btle_return_unknown_method(invocation, method);
    }
}

GVariant* characteristic_get_property(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* property,
                                      GError** error, gpointer userData) {
    auto* characteristic = static_cast<btle_local_characteristic*>(userData);
    g_assert(characteristic != NULL);
    log_debug(TAG, "local characteristic get property : %s", property);
    if (g_str_equal(property, "UUID")) return g_variant_new_string(characteristic->uuid);
    if (g_str_equal(property, "Service")) return g_variant_new_object_path(characteristic->service_path);
    if (g_str_equal(property, "Flags")) return flags_to_variant(characteristic->flags);
    if (g_str_equal(property, "Notifying")) return g_variant_new_boolean(characteristic->notifying);
    if (g_str_equal(property, "Descriptors")) return descriptorPaths(characteristic);
    if (g_str_equal(property, "Value")) {
        // GDBus stops the process when a getter returns nothing without an error, and any central may ask for
        // the value of a characteristic that holds none (TX never does): that value reads as empty.
        const GByteArray none{nullptr, 0};
        return btle_local_value_variant(characteristic->value != nullptr ? characteristic->value : &none);
    }
    g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_PROPERTY, "no property %s", property);
    return nullptr;
}

const GDBusInterfaceVTable characteristicVTable = {
    characteristicMethodCall, characteristic_get_property, btle_refuse_property_set, {nullptr}};
}

GVariant* btle_local_value_variant(const GByteArray* byteArray) {
    static const guint8 none = 0;
    const guint8* data = byteArray->len > 0 ? byteArray->data : &none;
    return g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, data, byteArray->len, sizeof(guint8));
}

btle_local_characteristic* btle_local_char_create(btle_application* application, const char* service_uuid,
                                                  const char* service_path, const char* uuid, guint index,
                                                  guint permissions) {
    g_assert(application != NULL);
    auto* characteristic = g_new0(btle_local_characteristic, 1);
    characteristic->service_uuid = g_strdup(service_uuid);
    characteristic->service_path = g_strdup(service_path);
    characteristic->uuid = g_strdup(uuid);
    characteristic->path = g_strdup_printf("%s/char%u", service_path, index);
    characteristic->permissions = permissions;
    characteristic->flags = flags_to_string_list(permissions);
    characteristic->descriptors =
        g_hash_table_new_full(g_str_hash, g_str_equal, g_free, (GDestroyNotify)btle_local_desc_free);
    characteristic->application = application;
    return characteristic;
}

int btle_local_char_register(btle_local_characteristic* characteristic) {
    g_assert(characteristic != NULL);
    characteristic->registration_id = btle_export_object(characteristic->application->connection, characteristic->path,
                                                         characteristicXml, &characteristicVTable, characteristic, TAG);
    if (characteristic->registration_id == 0) return EINVAL;
    log_debug(TAG, "successfully published local characteristic %s", characteristic->uuid);
    return 0;
}

void btle_local_char_free(btle_local_characteristic* characteristic) {
    g_assert(characteristic != NULL);
    log_debug(TAG, "freeing characteristic %s", characteristic->path);
    g_hash_table_destroy(characteristic->descriptors);
    if (characteristic->registration_id != 0)
        g_dbus_connection_unregister_object(characteristic->application->connection, characteristic->registration_id);
    if (characteristic->value != nullptr) g_byte_array_free(characteristic->value, TRUE);
    g_list_free(characteristic->flags);
    g_free(characteristic->path);
    g_free(characteristic->uuid);
    g_free(characteristic->service_path);
    g_free(characteristic->service_uuid);
    g_free(characteristic);
}

void btle_characteristic_set_value(const btle_application* application, btle_local_characteristic* characteristic,
                                   const GByteArray* byteArray) {
    g_assert(application != NULL);
    g_assert(characteristic != NULL);
    g_assert(byteArray != NULL);
    GString* hex = g_byte_array_as_hex(byteArray);
    log_debug(TAG, "set value <%s> to <%s>", characteristic->uuid, hex->str);
    g_string_free(hex, TRUE);
    if (characteristic->value != nullptr) g_byte_array_free(characteristic->value, TRUE);
    characteristic->value = g_byte_array_sized_new(byteArray->len);
    g_byte_array_append(characteristic->value, byteArray->data, byteArray->len);
    if (application->char_updated_cb != nullptr)
        application->char_updated_cb(application, characteristic->service_uuid, characteristic->uuid,
                                     characteristic->value);
}
