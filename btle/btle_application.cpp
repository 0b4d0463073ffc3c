#include "btle/btle_application.h"

#include "btle/btle_adapter.h"
#include "btle/btle_application_private.h"
#include "btle/btle_local_characteristic.h"
#include "btle/btle_local_descriptor.h"
#include "btle/btle_local_service.h"
#include "btle/btle_logger.h"
#include "btle/btle_utility.h"

#include <cerrno>
#include <cstring>

namespace {
const char* const TAG = "Application";

const char* const managerXml =
    "<node name='/'>"
    "  <interface name='org.freedesktop.DBus.ObjectManager'>"
    "    <method name='GetManagedObjects'>"
    "      <arg type='a{oa{sa{sv}}}' name='object_paths_interfaces_and_properties' direction='out'/>"
    "    </method>"
    "  </interface>"
    "</node>";

struct FlagName {
    guint bit;
    const char* flag;
};
const FlagName flagNames[] = {
    {0x02, "read"},
    {0x04, "write-without-response"},
    {0x08, "write"},
    {0x10, "notify"},
    {0x20, "indicate"},
    {0x100, "encrypt-read"},
    {0x200, "encrypt-write"},
    {0x400, "encrypt-notify"},
    {0x800, "encrypt-indicate"},
    {0x1000, "encrypt-authenticated-read"},
    {0x2000, "encrypt-authenticated-write"},
    {0x4000, "encrypt-authenticated-notify"},
    {0x8000, "encrypt-authenticated-indicate"},
    {0x100000, "secure-read"},
    {0x200000, "secure-write"},
    {0x400000, "secure-notify"},
    {0x800000, "secure-indicate"},
};

const char* orEmpty(const char* text) { return text != nullptr ? text : ""; }

// Takes one option when its value has the expected type; anything else from the bus is skipped.
bool optionHasType(const char* key, GVariant* value, const GVariantType* type) {
    if (g_variant_is_of_type(value, type)) return true;
    log_warn(TAG, "option '%s' has type %s, skipped", key, g_variant_get_type_string(value));
    return false;
}

char* deviceAddress(const char* devicePath) {
    // A path too short to end in an address is kept as it is rather than read before its start.
    if (strlen(devicePath) < MAC_ADDRESS_LENGTH) return g_strdup(devicePath);
    return path_to_address(devicePath);
}

void parseOptions(GVariant* options, btle_value_options* result, bool write) {
    g_assert(result != NULL);
    *result = btle_value_options{};
    if (options == nullptr || !g_variant_is_of_type(options, G_VARIANT_TYPE("a{sv}"))) return;
    GVariantIter iter;
    const char* key;
    GVariant* value;
    g_variant_iter_init(&iter, options);
    while (g_variant_iter_next(&iter, "{&sv}", &key, &value)) {
        if (g_str_equal(key, "offset")) {
            if (optionHasType(key, value, G_VARIANT_TYPE_UINT16)) result->offset = g_variant_get_uint16(value);
        } else if (g_str_equal(key, "mtu")) {
            if (optionHasType(key, value, G_VARIANT_TYPE_UINT16)) result->mtu = g_variant_get_uint16(value);
        } else if (g_str_equal(key, "device")) {
            if (optionHasType(key, value, G_VARIANT_TYPE_OBJECT_PATH) && result->device == nullptr)
                result->device = deviceAddress(g_variant_get_string(value, nullptr));
        } else if (g_str_equal(key, "link")) {
            if (optionHasType(key, value, G_VARIANT_TYPE_STRING) && result->link == nullptr)
                result->link = g_variant_dup_string(value, nullptr);
        } else if (write && g_str_equal(key, "type")) {
            if (optionHasType(key, value, G_VARIANT_TYPE_STRING) && result->type == nullptr)
                result->type = g_variant_dup_string(value, nullptr);
        }
        g_variant_unref(value);
    }
    log_debug(TAG, "%s with offset=%u, mtu=%u, link=%s, device=%s", write ? "write" : "read", result->offset,
              result->mtu, orEmpty(result->link), orEmpty(result->device));
}

void optionsFree(btle_value_options* options) {
    g_assert(options != NULL);
    g_free(options->device);
    g_free(options->link);
    g_free(options->type);
    *options = btle_value_options{};
}

GVariant* pathArray(GHashTable* table, const char* (*pathOf)(gpointer)) {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("ao"));
    GHashTableIter iter;
    gpointer value;
    g_hash_table_iter_init(&iter, table);
    while (g_hash_table_iter_next(&iter, nullptr, &value)) g_variant_builder_add(&builder, "o", pathOf(value));
    return g_variant_builder_end(&builder);
}

const char* characteristicPath(gpointer object) { return static_cast<btle_local_characteristic*>(object)->path; }
const char* descriptorPath(gpointer object) { return static_cast<btle_local_descriptor*>(object)->path; }

void addObject(GVariantBuilder* objects, const char* path, const char* interface, GVariantBuilder* properties) {
    log_debug(TAG, "adding %s", path);
    GVariantBuilder interfaces;
    g_variant_builder_init(&interfaces, G_VARIANT_TYPE("a{sa{sv}}"));
    g_variant_builder_add(&interfaces, "{sa{sv}}", interface, properties);
    g_variant_builder_add(objects, "{oa{sa{sv}}}", path, &interfaces);
}

void addDescriptor(GVariantBuilder* objects, btle_local_descriptor* descriptor) {
    GVariantBuilder properties;
    g_variant_builder_init(&properties, G_VARIANT_TYPE("a{sv}"));
    if (descriptor->value != nullptr)
        g_variant_builder_add(&properties, "{sv}", "Value", btle_local_value_variant(descriptor->value));
    g_variant_builder_add(&properties, "{sv}", "UUID", g_variant_new_string(descriptor->uuid));
    g_variant_builder_add(&properties, "{sv}", "Characteristic", g_variant_new_object_path(descriptor->char_path));
    g_variant_builder_add(&properties, "{sv}", "Flags", flags_to_variant(descriptor->flags));
    addObject(objects, descriptor->path, "org.bluez.GattDescriptor1", &properties);
}

void addCharacteristic(GVariantBuilder* objects, btle_local_characteristic* characteristic) {
    GVariantBuilder properties;
    g_variant_builder_init(&properties, G_VARIANT_TYPE("a{sv}"));
    if (characteristic->value != nullptr)
        g_variant_builder_add(&properties, "{sv}", "Value", btle_local_value_variant(characteristic->value));
    g_variant_builder_add(&properties, "{sv}", "UUID", g_variant_new_string(characteristic->uuid));
    g_variant_builder_add(&properties, "{sv}", "Service", g_variant_new_object_path(characteristic->service_path));
    g_variant_builder_add(&properties, "{sv}", "Flags", flags_to_variant(characteristic->flags));
    g_variant_builder_add(&properties, "{sv}", "Notifying", g_variant_new_boolean(characteristic->notifying));
    g_variant_builder_add(&properties, "{sv}", "Descriptors", pathArray(characteristic->descriptors, descriptorPath));
    addObject(objects, characteristic->path, "org.bluez.GattCharacteristic1", &properties);

    GHashTableIter iter;
    gpointer value;
    g_hash_table_iter_init(&iter, characteristic->descriptors);
    while (g_hash_table_iter_next(&iter, nullptr, &value))
        addDescriptor(objects, static_cast<btle_local_descriptor*>(value));
}

void addService(GVariantBuilder* objects, btle_local_service* service) {
    GVariantBuilder properties;
    g_variant_builder_init(&properties, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&properties, "{sv}", "UUID", g_variant_new_string(service->uuid));
    g_variant_builder_add(&properties, "{sv}", "Primary", g_variant_new_boolean(TRUE));
    g_variant_builder_add(&properties, "{sv}", "Characteristics",
                          pathArray(service->characteristics, characteristicPath));
    addObject(objects, service->path, "org.bluez.GattService1", &properties);

    GHashTableIter iter;
    gpointer value;
    g_hash_table_iter_init(&iter, service->characteristics);
    while (g_hash_table_iter_next(&iter, nullptr, &value))
        addCharacteristic(objects, static_cast<btle_local_characteristic*>(value));
}

void applicationMethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method, GVariant*,
                           GDBusMethodInvocation* invocation, gpointer userData) {
    auto* application = static_cast<btle_application*>(userData);
    g_assert(application != NULL);
    if (!g_str_equal(method, "GetManagedObjects")) {
        btle_return_unknown_method(invocation, method);
        return;
    }
    GVariantBuilder objects;
    g_variant_builder_init(&objects, G_VARIANT_TYPE("a{oa{sa{sv}}}"));
    GHashTableIter iter;
    gpointer value;
    g_hash_table_iter_init(&iter, application->services);
    while (g_hash_table_iter_next(&iter, nullptr, &value))
        addService(&objects, static_cast<btle_local_service*>(value));
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(a{oa{sa{sv}}})", &objects));
}

const GDBusInterfaceVTable applicationVTable = {applicationMethodCall, nullptr, btle_refuse_property_set, {nullptr}};

btle_local_service* findService(const btle_application* application, const char* service_uuid) {
    return static_cast<btle_local_service*>(g_hash_table_lookup(application->services, service_uuid));
}

btle_local_characteristic* get_local_characteristic(const btle_application* application, const char* service_uuid,
                                                    const char* char_uuid) {
    btle_local_service* service = findService(application, service_uuid);
    if (service == nullptr) return nullptr;
    return static_cast<btle_local_characteristic*>(g_hash_table_lookup(service->characteristics, char_uuid));
}
}

GList* flags_to_string_list(guint permissions) {
    GList* flags = nullptr;
    for (const FlagName& name : flagNames)
        if ((permissions & name.bit) != 0) flags = g_list_append(flags, (gpointer)name.flag);
    return flags;
}

GVariant* flags_to_variant(GList* flags) {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("as"));
    for (GList* item = flags; item != nullptr; item = item->next)
        g_variant_builder_add(&builder, "s", static_cast<const char*>(item->data));
    return g_variant_builder_end(&builder);
}

void parse_read_options(GVariant* options, btle_value_options* result) { parseOptions(options, result, false); }
void parse_write_options(GVariant* options, btle_value_options* result) { parseOptions(options, result, true); }
void read_options_free(btle_value_options* options) { optionsFree(options); }
void write_options_free(btle_value_options* options) { optionsFree(options); }

void btle_local_serve_read(void* object, btle_local_read_call call, GByteArray* const* value,
                           btle_local_read_messages messages, GVariant* parameters, GDBusMethodInvocation* invocation) {
    GVariant* options = g_variant_get_child_value(parameters, 0);
    btle_value_options readOptions{};
    parse_read_options(options, &readOptions);
    g_variant_unref(options);
    const char* error = call(object, &readOptions);
    read_options_free(&readOptions);
    if (error != nullptr) {
        log_debug(TAG, "%s '%s'", messages.refused, error);
        g_dbus_method_invocation_return_dbus_error(invocation, error, messages.refused);
    } else if (*value == nullptr) {
        g_dbus_method_invocation_return_dbus_error(invocation, "org.bluez.Error.Failed", messages.empty);
    } else {
        GVariant* reply = btle_local_value_variant(*value);
        g_dbus_method_invocation_return_value(invocation, g_variant_new_tuple(&reply, 1));
    }
}

void btle_local_serve_write(void* object, btle_local_write_call call, void (*store)(void* object, GByteArray* bytes),
                            GVariant* parameters, GDBusMethodInvocation* invocation) {
    g_assert(g_str_equal(g_variant_get_type_string(parameters), "(aya{sv})"));
    GVariant* valueVariant = g_variant_get_child_value(parameters, 0);
    GVariant* options = g_variant_get_child_value(parameters, 1);
    GByteArray* bytes = g_variant_get_byte_array(valueVariant);
    btle_value_options writeOptions{};
    parse_write_options(options, &writeOptions);
    const char* error = call(object, &writeOptions, bytes);
    if (error != nullptr) {
        g_dbus_method_invocation_return_dbus_error(invocation, error, "write error");
    } else {
        store(object, bytes);
        g_dbus_method_invocation_return_value(invocation, nullptr);
    }
    write_options_free(&writeOptions);
    g_byte_array_free(bytes, FALSE);
    g_variant_unref(options);
    g_variant_unref(valueVariant);
}

btle_application* btle_create_application(btle_adapter* adapter) {
    g_assert(adapter != NULL);
    auto* application = g_new0(btle_application, 1);
    char* suffix = random_string(4);
    application->path = g_strdup_printf("/org/bluez/btleapp_%s_%s", btle_adapter_get_name(adapter), suffix);
    g_free(suffix);
    application->connection = btle_adapter_get_dbus_connection(adapter);
    application->services =
        g_hash_table_new_full(g_str_hash, g_str_equal, g_free, (GDestroyNotify)btle_local_service_free);
    btle_application_publish(application, adapter);
    return application;
}

void btle_application_publish(btle_application* application, btle_adapter* adapter) {
    g_assert(application != NULL);
    g_assert(adapter != NULL);
    application->registration_id = btle_export_object(application->connection, application->path, managerXml,
                                                      &applicationVTable, application, TAG);
    if (application->registration_id != 0) log_debug(TAG, "successfully published application");
}

void btle_application_free(btle_application* application) {
    g_assert(application != NULL);
    g_hash_table_destroy(application->services);
    if (application->registration_id != 0)
        g_dbus_connection_unregister_object(application->connection, application->registration_id);
    g_free(application->path);
    g_free(application);
}

int btle_application_add_service(btle_application* application, const char* service_uuid) {
    g_return_val_if_fail(application != NULL, EINVAL);
    g_return_val_if_fail(is_valid_uuid(service_uuid), EINVAL);
    // A second service with the same UUID would replace the first and drop its characteristics.
    if (findService(application, service_uuid) != nullptr) {
        log_debug(TAG, "failed to publish local service");
        return EINVAL;
    }
    btle_local_service* service =
        btle_local_service_create(application, service_uuid, g_hash_table_size(application->services));
    g_hash_table_insert(application->services, g_strdup(service_uuid), service);
    if (btle_local_service_register(service) != 0) {
        g_hash_table_remove(application->services, service_uuid);
        return EINVAL;
    }
    return 0;
}

int btle_application_add_characteristic(btle_application* application, const char* service_uuid, const char* char_uuid,
                                        guint permissions) {
    g_return_val_if_fail(application != NULL, EINVAL);
    g_return_val_if_fail(is_valid_uuid(service_uuid), EINVAL);
    g_return_val_if_fail(is_valid_uuid(char_uuid), EINVAL);
    btle_local_service* service = findService(application, service_uuid);
    if (service == nullptr) {
        g_critical("service %s does not exist", service_uuid);
        return EINVAL;
    }
    if (g_hash_table_contains(service->characteristics, char_uuid)) {
        log_debug(TAG, "failed to publish local characteristic");
        return EINVAL;
    }
    btle_local_characteristic* characteristic = btle_local_char_create(
        application, service_uuid, service->path, char_uuid, g_hash_table_size(service->characteristics), permissions);
    g_hash_table_insert(service->characteristics, g_strdup(char_uuid), characteristic);
    if (btle_local_char_register(characteristic) != 0) {
        g_hash_table_remove(service->characteristics, char_uuid);
        return EINVAL;
    }
    return 0;
}

int btle_application_add_descriptor(btle_application* application, const char* service_uuid, const char* char_uuid,
                                    const char* desc_uuid, guint permissions) {
    g_return_val_if_fail(application != NULL, EINVAL);
    g_return_val_if_fail(is_valid_uuid(service_uuid), EINVAL);
    g_return_val_if_fail(is_valid_uuid(char_uuid), EINVAL);
    g_return_val_if_fail(is_valid_uuid(desc_uuid), EINVAL);
    btle_local_characteristic* characteristic = get_local_characteristic(application, service_uuid, char_uuid);
    if (characteristic == nullptr) {
        g_critical("characteristic %s does not exist", char_uuid);
        return EINVAL;
    }
    if (g_hash_table_contains(characteristic->descriptors, desc_uuid)) {
        log_debug(TAG, "failed to publish local descriptor");
        return EINVAL;
    }
    btle_local_descriptor* descriptor =
        btle_local_desc_create(application, service_uuid, char_uuid, characteristic->path, desc_uuid,
                               g_hash_table_size(characteristic->descriptors), permissions);
    g_hash_table_insert(characteristic->descriptors, g_strdup(desc_uuid), descriptor);
    if (btle_local_desc_register(descriptor) != 0) {
        g_hash_table_remove(characteristic->descriptors, desc_uuid);
        return EINVAL;
    }
    return 0;
}

int btle_application_set_char_value(const btle_application* application, const char* service_uuid,
                                    const char* char_uuid, const GByteArray* byteArray) {
    g_return_val_if_fail(application != NULL, EINVAL);
    g_return_val_if_fail(is_valid_uuid(service_uuid), EINVAL);
    g_return_val_if_fail(is_valid_uuid(char_uuid), EINVAL);
    g_return_val_if_fail(byteArray != NULL, EINVAL);
    btle_local_characteristic* characteristic = get_local_characteristic(application, service_uuid, char_uuid);
    if (characteristic == nullptr) {
        g_critical("%s: characteristic with uuid %s does not exist", G_STRFUNC, char_uuid);
        return EINVAL;
    }
    btle_characteristic_set_value(application, characteristic, byteArray);
    return 0;
}

int btle_application_set_desc_value(const btle_application* application, const char* service_uuid,
                                    const char* char_uuid, const char* desc_uuid, const GByteArray* byteArray) {
    g_return_val_if_fail(application != NULL, EINVAL);
    g_return_val_if_fail(is_valid_uuid(service_uuid), EINVAL);
    g_return_val_if_fail(is_valid_uuid(char_uuid), EINVAL);
    g_return_val_if_fail(is_valid_uuid(desc_uuid), EINVAL);
    g_return_val_if_fail(byteArray != NULL, EINVAL);
    btle_local_characteristic* characteristic = get_local_characteristic(application, service_uuid, char_uuid);
    auto* descriptor =
        characteristic != nullptr
            ? static_cast<btle_local_descriptor*>(g_hash_table_lookup(characteristic->descriptors, desc_uuid))
            : nullptr;
    if (descriptor == nullptr) {
        g_critical("%s: descriptor with uuid %s does not exist", G_STRFUNC, desc_uuid);
        return EINVAL;
    }
    btle_descriptor_set_value(descriptor, byteArray);
    return 0;
}

GByteArray* btle_application_get_char_value(const btle_application* application, const char* service_uuid,
                                            const char* char_uuid) {
    g_return_val_if_fail(application != NULL, nullptr);
    g_return_val_if_fail(g_uuid_string_is_valid(service_uuid), nullptr);
    g_return_val_if_fail(g_uuid_string_is_valid(char_uuid), nullptr);
    btle_local_characteristic* characteristic = get_local_characteristic(application, service_uuid, char_uuid);
    return characteristic != nullptr ? characteristic->value : nullptr;
}

int btle_application_notify(const btle_application* application, const char* service_uuid, const char* char_uuid,
                            const GByteArray* byteArray) {
    g_return_val_if_fail(application != NULL, EINVAL);
    g_return_val_if_fail(is_valid_uuid(service_uuid), EINVAL);
    g_return_val_if_fail(is_valid_uuid(char_uuid), EINVAL);
    g_return_val_if_fail(byteArray != NULL, EINVAL);
    btle_local_characteristic* characteristic = get_local_characteristic(application, service_uuid, char_uuid);
    if (characteristic == nullptr) {
        g_critical("%s: characteristic %s does not exist", G_STRFUNC, service_uuid);
        return EINVAL;
    }
    GVariantBuilder changed;
    g_variant_builder_init(&changed, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&changed, "{sv}", "Value", btle_local_value_variant(byteArray));
    GVariantBuilder invalidated;
    g_variant_builder_init(&invalidated, G_VARIANT_TYPE("as"));
    GError* error = nullptr;
    gboolean emitted = g_dbus_connection_emit_signal(
        application->connection, nullptr, characteristic->path, "org.freedesktop.DBus.Properties", "PropertiesChanged",
        g_variant_new("(sa{sv}as)", "org.bluez.GattCharacteristic1", &changed, &invalidated), &error);
    if (!emitted) {
        log_debug(TAG, "error emitting signal: %s", error != nullptr ? error->message : "unknown");
        g_clear_error(&error);
        return EINVAL;
    }
    GString* hex = g_byte_array_as_hex(byteArray);
    log_debug(TAG, "notified <%s> on <%s>", hex->str, characteristic->uuid);
    g_string_free(hex, TRUE);
    return 0;
}

gboolean btle_application_char_is_notifying(const btle_application* application, const char* service_uuid,
                                            const char* char_uuid) {
    g_return_val_if_fail(application != NULL, FALSE);
    g_return_val_if_fail(is_valid_uuid(service_uuid), FALSE);
    g_return_val_if_fail(is_valid_uuid(char_uuid), FALSE);
    btle_local_characteristic* characteristic = get_local_characteristic(application, service_uuid, char_uuid);
    return characteristic != nullptr && characteristic->notifying;
}

const char* btle_application_get_path(const btle_application* application) {
    g_assert(application != NULL);
    return application->path;
}

void btle_application_set_char_read_cb(btle_application* application, onLocalCharacteristicRead callback) {
    g_assert(application != NULL);
    g_assert(callback != NULL);
    application->read_char_cb = callback;
}

void btle_application_set_char_write_cb(btle_application* application, onLocalCharacteristicWrite callback) {
    g_assert(application != NULL);
    g_assert(callback != NULL);
    application->write_char_cb = callback;
}

void btle_application_set_char_updated_cb(btle_application* application, onLocalCharacteristicUpdated callback) {
    g_assert(application != NULL);
    g_assert(callback != NULL);
    application->char_updated_cb = callback;
}

void btle_application_set_char_start_notify_cb(btle_application* application,
                                               onLocalCharacteristicStartNotify callback) {
    g_assert(application != NULL);
    g_assert(callback != NULL);
    application->notify_char_cb = callback;
}

void btle_application_set_char_stop_notify_cb(btle_application* application, onLocalCharacteristicStopNotify callback) {
    g_assert(application != NULL);
    g_assert(callback != NULL);
    application->stop_notify_char_cb = callback;
}

void btle_application_set_desc_read_cb(btle_application* application, onLocalDescriptorRead callback) {
    g_assert(application != NULL);
    g_assert(callback != NULL);
    application->read_desc_cb = callback;
}

void btle_application_set_desc_write_cb(btle_application* application, onLocalDescriptorWrite callback) {
    g_assert(application != NULL);
    g_assert(callback != NULL);
    application->write_desc_cb = callback;
}

void btle_application_set_user_data(btle_application* application, void* user_data) {
    g_assert(application != NULL);
    application->user_data = user_data;
}

void* btle_application_get_user_data(const btle_application* application) {
    g_assert(application != NULL);
    return application->user_data;
}
