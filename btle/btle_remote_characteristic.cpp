#include "btle_remote_characteristic.h"

#include "btle_bluez_names.h"
#include "btle_device.h"
#include "btle_logger.h"
#include "btle_utility.h"

#include <string.h>

using namespace btle_names;

namespace {
const char* const TAG = "Characteristic";
const char* const DESCRIPTOR_TAG = "Descriptor";
constexpr guint DEFAULT_MTU = 23;

struct FlagBit {
    const char* flag;
    guint bit;
};
const FlagBit FLAG_BITS[] = {
    {"broadcast", GATT_CHR_PROP_BROADCAST},
    {"read", GATT_CHR_PROP_READ},
    {"write-without-response", GATT_CHR_PROP_WRITE_WITHOUT_RESP},
    {"write", GATT_CHR_PROP_WRITE},
    {"notify", GATT_CHR_PROP_NOTIFY},
    {"indicate", GATT_CHR_PROP_INDICATE},
    {"authenticated-signed-writes", GATT_CHR_PROP_AUTH},
    {"encrypt-read", GATT_CHR_PROP_ENCRYPT_READ},
    {"encrypt-write", GATT_CHR_PROP_ENCRYPT_WRITE},
    {"encrypt-notify", GATT_CHR_PROP_ENCRYPT_NOTIFY},
    {"encrypt-indicate", GATT_CHR_PROP_ENCRYPT_INDICATE},
};
}  // namespace

struct btle_service {
    btle_device* device;
    char* path;
    char* uuid;
    GList* characteristics;
};

struct btle_characteristic {
    btle_device* device;
    btle_service* service;
    GDBusConnection* connection;
    char* path;
    char* uuid;
    char* service_path;
    gboolean notifying;
    GList* flags;
    guint properties;
    GList* descriptors;
    guint mtu;
    guint notify_signal;
    btle_characteristic_notifying_state_cb notifying_state_callback;
    btle_characteristic_read_cb on_read_callback;
    btle_characteristic_write_cb on_write_callback;
    btle_characteristic_notify_cb on_notify_callback;
    GCancellable* pending;  // cancelled at free: a reply that comes later leaves the freed object alone
};

struct btle_descriptor {
    btle_device* device;
    btle_characteristic* characteristic;
    GDBusConnection* connection;
    char* path;
    char* char_path;
    char* uuid;
    GList* flags;
    btle_descriptor_read_cb on_read_callback;
    btle_descriptor_write_cb on_write_callback;
    GCancellable* pending;  // cancelled at free, as a characteristic's
};

namespace {

// Kept from a write until its reply, so the callback can hand back the bytes that were written.
struct WriteRequest {
    btle_characteristic* characteristic;
    btle_descriptor* descriptor;
    GByteArray* value;
};

char* join_flags(GList* flags) {
    GString* text = g_string_new("[");
    for (GList* item = flags; item != nullptr; item = item->next) {
        if (item != flags) g_string_append(text, ", ");
        g_string_append(text, static_cast<const char*>(item->data));
    }
    g_string_append(text, "]");
    return g_string_free(text, FALSE);
}

GVariant* offset_options(const char* type) {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&builder, "{sv}", "offset", g_variant_new_uint16(0));
    if (type) g_variant_builder_add(&builder, "{sv}", "type", g_variant_new_string(type));
    return g_variant_builder_end(&builder);
}

GVariant* bytes_variant(const GByteArray* bytes) {
    return g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, bytes->data, bytes->len, sizeof(guint8));
}

GByteArray* copy_bytes(const GByteArray* bytes) {
    GByteArray* copy = g_byte_array_sized_new(bytes->len);
    g_byte_array_append(copy, bytes->data, bytes->len);
    return copy;
}

void log_call_failure(const char* tag, const char* method, const GError* error) {
    log_debug(tag, "failed to call '%s' (error %d: %s)", method, error->code, error->message);
}

// Finishes a call; false when it was cancelled because its object was freed (the object is not touched).
bool finish_call(GObject* source_object, GAsyncResult* res, GVariant** result, GError** error) {
    *result = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source_object), res, error);
    if (!g_error_matches(*error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) return true;
    g_clear_error(error);
    return false;
}

void btle_internal_signal_characteristic_changed(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                                 const gchar*, GVariant* parameters, gpointer user_data) {
    auto* characteristic = static_cast<btle_characteristic*>(user_data);
    g_assert(g_str_equal(g_variant_get_type_string(parameters), "(sa{sv}as)"));
    GVariantIter* properties = nullptr;
    const char* interface = nullptr;
    g_variant_get(parameters, "(&sa{sv}as)", &interface, &properties, nullptr);
    const char* name;
    GVariant* value;
    while (g_variant_iter_loop(properties, "{&sv}", &name, &value)) {
        if (g_str_equal(name, "Value") && g_variant_is_of_type(value, G_VARIANT_TYPE_BYTESTRING)) {
            GByteArray* bytes = g_variant_get_byte_array(value);
            GString* hex = g_byte_array_as_hex(bytes);
            log_debug(TAG, "notification <%s> on <%s>", hex->str, characteristic->uuid);
            g_string_free(hex, TRUE);
            if (characteristic->on_notify_callback) {
                characteristic->on_notify_callback(characteristic->device, characteristic, bytes);
            }
            g_byte_array_free(bytes, FALSE);
        } else if (g_str_equal(name, "Notifying") && g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN)) {
            characteristic->notifying = g_variant_get_boolean(value);
            log_debug(TAG, "notifying %s <%s>", characteristic->notifying ? "true" : "false", characteristic->uuid);
            if (characteristic->notifying_state_callback) {
                characteristic->notifying_state_callback(characteristic->device, characteristic, nullptr);
            }
            if (!characteristic->notifying && characteristic->notify_signal != 0) {
                g_dbus_connection_signal_unsubscribe(characteristic->connection, characteristic->notify_signal);
                characteristic->notify_signal = 0;
            }
        }
    }
    g_variant_iter_free(properties);
}

void subscribe_notifications(btle_characteristic* characteristic) {
    if (characteristic->notify_signal != 0) return;
    characteristic->notify_signal = g_dbus_connection_signal_subscribe(
        characteristic->connection, BLUEZ_DBUS, INTERFACE_PROPERTIES, "PropertiesChanged", characteristic->path,
        INTERFACE_CHARACTERISTIC, G_DBUS_SIGNAL_FLAGS_NONE, btle_internal_signal_characteristic_changed,
        characteristic, nullptr);
}

void btle_internal_char_read_cb(GObject* source_object, GAsyncResult* res, gpointer user_data) {
    auto* characteristic = static_cast<btle_characteristic*>(user_data);
    GError* error = nullptr;
    GVariant* result = nullptr;
    if (!finish_call(source_object, res, &result, &error)) return;
    if (result == nullptr) {
        log_call_failure(TAG, "ReadValue", error);
        if (characteristic->on_read_callback) {
            characteristic->on_read_callback(characteristic->device, characteristic, nullptr, error);
        }
        g_clear_error(&error);
        return;
    }
    GVariant* child = g_variant_get_child_value(result, 0);
    GByteArray* bytes = g_variant_get_byte_array(child);
    if (characteristic->on_read_callback) {
        characteristic->on_read_callback(characteristic->device, characteristic, bytes, nullptr);
    }
    g_byte_array_free(bytes, FALSE);
    g_variant_unref(child);
    g_variant_unref(result);
}

void write_request_free(WriteRequest* request) {
    g_byte_array_free(request->value, TRUE);
    g_free(request);
}

void btle_internal_char_write_cb(GObject* source_object, GAsyncResult* res, gpointer user_data) {
    auto* request = static_cast<WriteRequest*>(user_data);
    btle_characteristic* characteristic = request->characteristic;
    GError* error = nullptr;
    GVariant* result = nullptr;
    if (!finish_call(source_object, res, &result, &error)) return write_request_free(request);
    if (result) g_variant_unref(result);
    if (error) log_call_failure(TAG, "WriteValue", error);
    if (characteristic->on_write_callback) {
        characteristic->on_write_callback(characteristic->device, characteristic, request->value, error);
    }
    g_clear_error(&error);
    write_request_free(request);
}

void notify_reply(GObject* source_object, GAsyncResult* res, gpointer user_data, const char* method) {
    auto* characteristic = static_cast<btle_characteristic*>(user_data);
    GError* error = nullptr;
    GVariant* result = nullptr;
    if (!finish_call(source_object, res, &result, &error)) return;
    if (result) g_variant_unref(result);
    if (error) {
        log_call_failure(TAG, method, error);
        if (characteristic->notifying_state_callback) {
            characteristic->notifying_state_callback(characteristic->device, characteristic, error);
        }
        g_clear_error(&error);
    }
}

void btle_internal_char_start_notify_cb(GObject* source_object, GAsyncResult* res, gpointer user_data) {
    notify_reply(source_object, res, user_data, "StartNotify");
}

void btle_internal_char_stop_notify_cb(GObject* source_object, GAsyncResult* res, gpointer user_data) {
    notify_reply(source_object, res, user_data, "StopNotify");
}

void btle_internal_descriptor_read_cb(GObject* source_object, GAsyncResult* res, gpointer user_data) {
    auto* descriptor = static_cast<btle_descriptor*>(user_data);
    GError* error = nullptr;
    GVariant* result = nullptr;
    if (!finish_call(source_object, res, &result, &error)) return;
    if (result == nullptr) {
        log_call_failure(DESCRIPTOR_TAG, "ReadValue", error);
        if (descriptor->on_read_callback) descriptor->on_read_callback(descriptor->device, descriptor, nullptr, error);
        g_clear_error(&error);
        return;
    }
    GVariant* child = g_variant_get_child_value(result, 0);
    GByteArray* bytes = g_variant_get_byte_array(child);
    if (descriptor->on_read_callback) descriptor->on_read_callback(descriptor->device, descriptor, bytes, nullptr);
    g_byte_array_free(bytes, FALSE);
    g_variant_unref(child);
    g_variant_unref(result);
}

void btle_internal_descriptor_write_cb(GObject* source_object, GAsyncResult* res, gpointer user_data) {
    auto* request = static_cast<WriteRequest*>(user_data);
    btle_descriptor* descriptor = request->descriptor;
    GError* error = nullptr;
    GVariant* result = nullptr;
    if (!finish_call(source_object, res, &result, &error)) return write_request_free(request);
    if (result) g_variant_unref(result);
    if (error) log_call_failure(DESCRIPTOR_TAG, "WriteValue", error);
    if (descriptor->on_write_callback) {
        descriptor->on_write_callback(descriptor->device, descriptor, request->value, error);
    }
    g_clear_error(&error);
    write_request_free(request);
}

}  // namespace

// ---- Service ----

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
        if (characteristic->uuid && g_str_equal(characteristic->uuid, char_uuid)) return characteristic;
    }
    return nullptr;
}

// ---- Characteristic ----

btle_characteristic* btle_characteristic_create(btle_device* device, const char* path) {
    g_assert(device != NULL);
    g_assert(path != NULL);
    g_assert(strlen(path) > 0);
    btle_characteristic* characteristic = g_new0(btle_characteristic, 1);
    characteristic->device = device;
    characteristic->connection = btle_device_get_dbus_connection(device);
    characteristic->path = g_strdup(path);
    characteristic->mtu = DEFAULT_MTU;
    characteristic->pending = g_cancellable_new();
    return characteristic;
}

void btle_characteristic_free(btle_characteristic* characteristic) {
    g_assert(characteristic != NULL);
    if (characteristic->notify_signal != 0) {
        g_dbus_connection_signal_unsubscribe(characteristic->connection, characteristic->notify_signal);
    }
    g_cancellable_cancel(characteristic->pending);
    g_object_unref(characteristic->pending);
    g_list_free_full(characteristic->flags, g_free);
    g_list_free(characteristic->descriptors);
    g_free(characteristic->path);
    g_free(characteristic->uuid);
    g_free(characteristic->service_path);
    g_free(characteristic);
}

char* btle_characteristic_to_string(const btle_characteristic* characteristic) {
    g_assert(characteristic != NULL);
    char* flags = join_flags(characteristic->flags);
    char* text = g_strdup_printf("Characteristic{uuid='%s', flags='%s', properties=%d, service_uuid='%s, mtu=%d'}",
                                 characteristic->uuid ? characteristic->uuid : "(null)", flags,
                                 (int)characteristic->properties,
                                 characteristic->service ? characteristic->service->uuid : "(null)",
                                 (int)characteristic->mtu);
    g_free(flags);
    return text;
}

const char* btle_characteristic_get_uuid(const btle_characteristic* characteristic) {
    g_assert(characteristic != NULL);
    return characteristic->uuid;
}

const char* btle_characteristic_get_path(const btle_characteristic* characteristic) {
    g_assert(characteristic != NULL);
    return characteristic->path;
}

btle_device* btle_characteristic_get_device(const btle_characteristic* characteristic) {
    g_assert(characteristic != NULL);
    return characteristic->device;
}

btle_service* btle_characteristic_get_service(const btle_characteristic* characteristic) {
    g_assert(characteristic != NULL);
    return characteristic->service;
}

const char* btle_characteristic_get_service_path(const btle_characteristic* characteristic) {
    g_assert(characteristic != NULL);
    return characteristic->service_path;
}

GList* btle_characteristic_get_flags(const btle_characteristic* characteristic) {
    g_assert(characteristic != NULL);
    return characteristic->flags;
}

guint btle_characteristic_get_properties(const btle_characteristic* characteristic) {
    g_assert(characteristic != NULL);
    return characteristic->properties;
}

gboolean btle_characteristic_is_notifying(const btle_characteristic* characteristic) {
    g_assert(characteristic != NULL);
    return characteristic->notifying;
}

GList* btle_characteristic_get_descriptors(const btle_characteristic* characteristic) {
    g_assert(characteristic != NULL);
    return characteristic->descriptors;
}

guint btle_characteristic_get_mtu(const btle_characteristic* characteristic) {
    g_assert(characteristic != NULL);
    return characteristic->mtu;
}

void btle_characteristic_set_uuid(btle_characteristic* characteristic, const char* uuid) {
    g_assert(characteristic != NULL);
    g_assert(uuid != NULL);
    g_free(characteristic->uuid);
    characteristic->uuid = g_strdup(uuid);
}

void btle_characteristic_set_mtu(btle_characteristic* characteristic, guint mtu) {
    g_assert(characteristic != NULL);
    characteristic->mtu = mtu;
}

void btle_characteristic_set_service(btle_characteristic* characteristic, btle_service* service) {
    g_assert(characteristic != NULL);
    characteristic->service = service;
}

void btle_characteristic_set_service_path(btle_characteristic* characteristic, const char* service_path) {
    g_assert(characteristic != NULL);
    g_assert(service_path != NULL);
    g_free(characteristic->service_path);
    characteristic->service_path = g_strdup(service_path);
}

void btle_characteristic_set_flags(btle_characteristic* characteristic, GList* flags) {
    g_assert(characteristic != NULL);
    g_list_free_full(characteristic->flags, g_free);
    characteristic->flags = flags;
    characteristic->properties = 0;
    for (GList* item = flags; item != nullptr; item = item->next) {
        for (const FlagBit& flagBit : FLAG_BITS) {
            if (g_str_equal(static_cast<const char*>(item->data), flagBit.flag)) characteristic->properties |= flagBit.bit;
        }
    }
}

void btle_characteristic_add_descriptor(btle_characteristic* characteristic, btle_descriptor* descriptor) {
    g_assert(characteristic != NULL);
    g_assert(descriptor != NULL);
    characteristic->descriptors = g_list_append(characteristic->descriptors, descriptor);
}

btle_descriptor* btle_characteristic_get_descriptor(const btle_characteristic* characteristic, const char* desc_uuid) {
    g_assert(characteristic != NULL);
    g_assert(is_valid_uuid(desc_uuid));
    for (GList* item = characteristic->descriptors; item != nullptr; item = item->next) {
        auto* descriptor = static_cast<btle_descriptor*>(item->data);
        if (descriptor->uuid && g_str_equal(descriptor->uuid, desc_uuid)) return descriptor;
    }
    return nullptr;
}

gboolean btle_characteristic_supports_read(const btle_characteristic* characteristic) {
    g_assert(characteristic != NULL);
    return (characteristic->properties & GATT_CHR_PROP_READ) > 0;
}

gboolean btle_characteristic_supports_write(const btle_characteristic* characteristic, btle_write_type writeType) {
    g_assert(characteristic != NULL);
    guint needed = writeType == BTLE_WRITE_WITHOUT_RESPONSE ? GATT_CHR_PROP_WRITE_WITHOUT_RESP : GATT_CHR_PROP_WRITE;
    return (characteristic->properties & needed) > 0;
}

gboolean btle_characteristic_supports_notify(const btle_characteristic* characteristic) {
    g_assert(characteristic != NULL);
    return (characteristic->properties & (GATT_CHR_PROP_NOTIFY | GATT_CHR_PROP_INDICATE)) > 0;
}

void btle_characteristic_set_read_cb(btle_characteristic* characteristic, btle_characteristic_read_cb callback) {
    g_assert(characteristic != NULL);
    g_assert(callback != NULL);
    characteristic->on_read_callback = callback;
}

void btle_characteristic_set_write_cb(btle_characteristic* characteristic, btle_characteristic_write_cb callback) {
    g_assert(characteristic != NULL);
    g_assert(callback != NULL);
    characteristic->on_write_callback = callback;
}

void btle_characteristic_set_notify_cb(btle_characteristic* characteristic, btle_characteristic_notify_cb callback) {
    g_assert(characteristic != NULL);
    g_assert(callback != NULL);
    characteristic->on_notify_callback = callback;
}

void btle_characteristic_set_notifying_state_change_cb(btle_characteristic* characteristic,
                                                       btle_characteristic_notifying_state_cb callback) {
    g_assert(characteristic != NULL);
    g_assert(callback != NULL);
    characteristic->notifying_state_callback = callback;
}

void btle_characteristic_set_notifying(btle_characteristic* characteristic, gboolean notifying) {
    g_assert(characteristic != NULL);
    characteristic->notifying = notifying;
    if (notifying) subscribe_notifications(characteristic);
}

void btle_characteristic_read(btle_characteristic* characteristic) {
    g_assert(characteristic != NULL);
    g_assert((characteristic->properties & GATT_CHR_PROP_READ) > 0);
    log_debug(TAG, "reading <%s>", characteristic->uuid);
    g_dbus_connection_call(characteristic->connection, BLUEZ_DBUS, characteristic->path, INTERFACE_CHARACTERISTIC,
                           "ReadValue", g_variant_new("(@a{sv})", offset_options(nullptr)), G_VARIANT_TYPE("(ay)"),
                           G_DBUS_CALL_FLAGS_NONE, -1, characteristic->pending, btle_internal_char_read_cb,
                           characteristic);
}

void btle_characteristic_write(btle_characteristic* characteristic, const GByteArray* byteArray,
                               btle_write_type writeType) {
    g_assert(characteristic != NULL);
    g_assert(byteArray != NULL);
    g_assert(byteArray->len > 0);
    g_assert(btle_characteristic_supports_write(characteristic, writeType));
    GString* hex = g_byte_array_as_hex(byteArray);
    log_debug(TAG, "writing <%s> to <%s>", hex->str, characteristic->uuid);
    g_string_free(hex, TRUE);
    WriteRequest* request = g_new0(WriteRequest, 1);
    request->characteristic = characteristic;
    request->value = copy_bytes(byteArray);
    const char* type = writeType == BTLE_WRITE_WITH_RESPONSE ? "request" : "command";
    g_dbus_connection_call(characteristic->connection, BLUEZ_DBUS, characteristic->path, INTERFACE_CHARACTERISTIC,
                           "WriteValue", g_variant_new("(@ay@a{sv})", bytes_variant(byteArray), offset_options(type)),
                           nullptr, G_DBUS_CALL_FLAGS_NONE, -1, characteristic->pending, btle_internal_char_write_cb,
                           request);
}

void btle_characteristic_start_notify(btle_characteristic* characteristic) {
    g_assert(characteristic != NULL);
    g_assert(btle_characteristic_supports_notify(characteristic));
    log_debug(TAG, "start notify for <%s>", characteristic->uuid);
    subscribe_notifications(characteristic);
    g_dbus_connection_call(characteristic->connection, BLUEZ_DBUS, characteristic->path, INTERFACE_CHARACTERISTIC,
                           "StartNotify", nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE, -1, characteristic->pending,
                           btle_internal_char_start_notify_cb, characteristic);
}

void btle_characteristic_stop_notify(btle_characteristic* characteristic) {
    g_assert(characteristic != NULL);
    g_assert(btle_characteristic_supports_notify(characteristic));
    g_dbus_connection_call(characteristic->connection, BLUEZ_DBUS, characteristic->path, INTERFACE_CHARACTERISTIC,
                           "StopNotify", nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE, -1, characteristic->pending,
                           btle_internal_char_stop_notify_cb, characteristic);
}

// ---- Descriptor ----

btle_descriptor* btle_descriptor_create(btle_device* device, const char* path) {
    g_assert(device != NULL);
    g_assert(path != NULL);
    g_assert(strlen(path) > 0);
    btle_descriptor* descriptor = g_new0(btle_descriptor, 1);
    descriptor->device = device;
    descriptor->connection = btle_device_get_dbus_connection(device);
    descriptor->path = g_strdup(path);
    descriptor->pending = g_cancellable_new();
    return descriptor;
}

void btle_descriptor_free(btle_descriptor* descriptor) {
    g_assert(descriptor != NULL);
    g_cancellable_cancel(descriptor->pending);
    g_object_unref(descriptor->pending);
    g_free(descriptor->path);
    g_free(descriptor->char_path);
    g_free(descriptor->uuid);
    g_list_free_full(descriptor->flags, g_free);
    g_free(descriptor);
}

char* btle_descriptor_to_string(const btle_descriptor* descriptor) {
    g_assert(descriptor != NULL);
    char* flags = join_flags(descriptor->flags);
    char* text = g_strdup_printf("Descriptor{uuid='%s', flags='%s', properties=%d, char_uuid='%s'}",
                                 descriptor->uuid ? descriptor->uuid : "(null)", flags, 0,
                                 descriptor->characteristic && descriptor->characteristic->uuid
                                     ? descriptor->characteristic->uuid
                                     : "(null)");
    g_free(flags);
    return text;
}

void btle_descriptor_set_uuid(btle_descriptor* descriptor, const char* uuid) {
    g_assert(descriptor != NULL);
    g_assert(is_valid_uuid(uuid));
    g_free(descriptor->uuid);
    descriptor->uuid = g_strdup(uuid);
}

const char* btle_descriptor_get_uuid(const btle_descriptor* descriptor) {
    g_assert(descriptor != NULL);
    return descriptor->uuid;
}

const char* btle_descriptor_get_path(const btle_descriptor* descriptor) {
    g_assert(descriptor != NULL);
    return descriptor->path;
}

void btle_descriptor_set_char_path(btle_descriptor* descriptor, const char* char_path) {
    g_assert(descriptor != NULL);
    g_assert(char_path != NULL);
    g_free(descriptor->char_path);
    descriptor->char_path = g_strdup(char_path);
}

const char* btle_descriptor_get_char_path(const btle_descriptor* descriptor) {
    g_assert(descriptor != NULL);
    return descriptor->char_path;
}

void btle_descriptor_set_char(btle_descriptor* descriptor, btle_characteristic* characteristic) {
    g_assert(descriptor != NULL);
    descriptor->characteristic = characteristic;
}

btle_characteristic* btle_descriptor_get_char(const btle_descriptor* descriptor) {
    g_assert(descriptor != NULL);
    return descriptor->characteristic;
}

btle_device* btle_descriptor_get_device(const btle_descriptor* descriptor) {
    g_assert(descriptor != NULL);
    return descriptor->device;
}

void btle_descriptor_set_flags(btle_descriptor* descriptor, GList* flags) {
    g_assert(descriptor != NULL);
    g_list_free_full(descriptor->flags, g_free);
    descriptor->flags = flags;
}

void btle_descriptor_set_read_cb(btle_descriptor* descriptor, btle_descriptor_read_cb callback) {
    g_assert(descriptor != NULL);
    g_assert(callback != NULL);
    descriptor->on_read_callback = callback;
}

void btle_descriptor_set_write_cb(btle_descriptor* descriptor, btle_descriptor_write_cb callback) {
    g_assert(descriptor != NULL);
    g_assert(callback != NULL);
    descriptor->on_write_callback = callback;
}

void btle_descriptor_read(btle_descriptor* descriptor) {
    g_assert(descriptor != NULL);
    log_debug(DESCRIPTOR_TAG, "reading <%s>", descriptor->uuid);
    g_dbus_connection_call(descriptor->connection, BLUEZ_DBUS, descriptor->path, INTERFACE_DESCRIPTOR, "ReadValue",
                           g_variant_new("(@a{sv})", offset_options(nullptr)), G_VARIANT_TYPE("(ay)"),
                           G_DBUS_CALL_FLAGS_NONE, -1, descriptor->pending, btle_internal_descriptor_read_cb,
                           descriptor);
}

void btle_descriptor_write(btle_descriptor* descriptor, const GByteArray* byteArray) {
    g_assert(descriptor != NULL);
    g_assert(byteArray != NULL);
    g_assert(byteArray->len > 0);
    GString* hex = g_byte_array_as_hex(byteArray);
    log_debug(DESCRIPTOR_TAG, "writing <%s> to <%s>", hex->str, descriptor->uuid);
    g_string_free(hex, TRUE);
    WriteRequest* request = g_new0(WriteRequest, 1);
    request->descriptor = descriptor;
    request->value = copy_bytes(byteArray);
    g_dbus_connection_call(descriptor->connection, BLUEZ_DBUS, descriptor->path, INTERFACE_DESCRIPTOR, "WriteValue",
                           g_variant_new("(@ay@a{sv})", bytes_variant(byteArray), offset_options(nullptr)), nullptr,
                           G_DBUS_CALL_FLAGS_NONE, -1, descriptor->pending, btle_internal_descriptor_write_cb,
                           request);
}
