#include "btle/btle_remote_characteristic.h"

#include "btle/btle_bluez_names.h"
#include "btle/btle_device.h"
#include "btle/btle_logger.h"
#include "btle/btle_reply.h"
#include "btle/btle_utility.h"

#include <string.h>

using namespace btle_names;

namespace {
const char* const TAG = "Characteristic";
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
} // namespace

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
    GCancellable* pending; // cancelled at free: a reply that comes later leaves the freed object alone
};

namespace {

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
        INTERFACE_CHARACTERISTIC, G_DBUS_SIGNAL_FLAGS_NONE, btle_internal_signal_characteristic_changed, characteristic,
        nullptr);
}

void btle_internal_char_read_cb(GObject* source_object, GAsyncResult* res, gpointer user_data) {
    btle_read_value_reply(source_object, res, static_cast<btle_characteristic*>(user_data), TAG);
}

void btle_internal_char_write_cb(GObject* source_object, GAsyncResult* res, gpointer user_data) {
    btle_write_value_reply<btle_characteristic>(source_object, res, static_cast<BtleWriteRequest*>(user_data), TAG);
}

void notify_reply(GObject* source_object, GAsyncResult* res, gpointer user_data, const char* method) {
    auto* characteristic = static_cast<btle_characteristic*>(user_data);
    g_autoptr(GVariant) result = nullptr;
    g_autoptr(GError) error = nullptr;
    if (!btle_finish_reply(source_object, res, TAG, method, &result, &error)) return;
    if (error && characteristic->notifying_state_callback) {
        characteristic->notifying_state_callback(characteristic->device, characteristic, error);
    }
}

void btle_internal_char_start_notify_cb(GObject* source_object, GAsyncResult* res, gpointer user_data) {
    notify_reply(source_object, res, user_data, "StartNotify");
}

void btle_internal_char_stop_notify_cb(GObject* source_object, GAsyncResult* res, gpointer user_data) {
    notify_reply(source_object, res, user_data, "StopNotify");
}

} // namespace

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
    char* flags = btle_join_strings(characteristic->flags);
    char* text = g_strdup_printf(
        "Characteristic{uuid='%s', flags='%s', properties=%d, service_uuid='%s, mtu=%d'}",
        characteristic->uuid ? characteristic->uuid : "(null)", flags, (int)characteristic->properties,
        characteristic->service ? btle_service_get_uuid(characteristic->service) : "(null)", (int)characteristic->mtu);
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
            if (g_str_equal(static_cast<const char*>(item->data), flagBit.flag))
                characteristic->properties |= flagBit.bit;
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
        const char* uuid = btle_descriptor_get_uuid(descriptor);
        if (uuid && g_str_equal(uuid, desc_uuid)) return descriptor;
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
                           "ReadValue", g_variant_new("(@a{sv})", btle_gatt_value_options(nullptr)),
                           G_VARIANT_TYPE("(ay)"), G_DBUS_CALL_FLAGS_NONE, -1, characteristic->pending,
                           btle_internal_char_read_cb, characteristic);
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
    BtleWriteRequest* request = btle_write_request_new(characteristic, byteArray);
    const char* type = writeType == BTLE_WRITE_WITH_RESPONSE ? "request" : "command";
    g_dbus_connection_call(
        characteristic->connection, BLUEZ_DBUS, characteristic->path, INTERFACE_CHARACTERISTIC, "WriteValue",
        g_variant_new("(@ay@a{sv})", btle_bytes_variant(byteArray), btle_gatt_value_options(type)), nullptr,
        G_DBUS_CALL_FLAGS_NONE, -1, characteristic->pending, btle_internal_char_write_cb, request);
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
