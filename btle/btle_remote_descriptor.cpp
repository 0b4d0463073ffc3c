#include "btle/btle_remote_characteristic.h"

#include "btle/btle_bluez_names.h"
#include "btle/btle_device.h"
#include "btle/btle_logger.h"
#include "btle/btle_reply.h"
#include "btle/btle_utility.h"

#include <string.h>

using namespace btle_names;

namespace {
const char* const TAG = "Descriptor";
} // namespace

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
    GCancellable* pending; // cancelled at free, as a characteristic's
};

namespace {

void btle_internal_descriptor_read_cb(GObject* source_object, GAsyncResult* res, gpointer user_data) {
    btle_read_value_reply(source_object, res, static_cast<btle_descriptor*>(user_data), TAG);
}

void btle_internal_descriptor_write_cb(GObject* source_object, GAsyncResult* res, gpointer user_data) {
    btle_write_value_reply<btle_descriptor>(source_object, res, static_cast<BtleWriteRequest*>(user_data), TAG);
}

} // namespace

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
    char* flags = btle_join_strings(descriptor->flags);
    char* text = g_strdup_printf("Descriptor{uuid='%s', flags='%s', properties=%d, char_uuid='%s'}",
                                 descriptor->uuid ? descriptor->uuid : "(null)", flags, 0,
                                 descriptor->characteristic && btle_characteristic_get_uuid(descriptor->characteristic)
                                     ? btle_characteristic_get_uuid(descriptor->characteristic)
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
    log_debug(TAG, "reading <%s>", descriptor->uuid);
    g_dbus_connection_call(descriptor->connection, BLUEZ_DBUS, descriptor->path, INTERFACE_DESCRIPTOR, "ReadValue",
                           g_variant_new("(@a{sv})", btle_gatt_value_options(nullptr)), G_VARIANT_TYPE("(ay)"),
                           G_DBUS_CALL_FLAGS_NONE, -1, descriptor->pending, btle_internal_descriptor_read_cb,
                           descriptor);
}

void btle_descriptor_write(btle_descriptor* descriptor, const GByteArray* byteArray) {
    g_assert(descriptor != NULL);
    g_assert(byteArray != NULL);
    g_assert(byteArray->len > 0);
    GString* hex = g_byte_array_as_hex(byteArray);
    log_debug(TAG, "writing <%s> to <%s>", hex->str, descriptor->uuid);
    g_string_free(hex, TRUE);
    BtleWriteRequest* request = btle_write_request_new(descriptor, byteArray);
    g_dbus_connection_call(
        descriptor->connection, BLUEZ_DBUS, descriptor->path, INTERFACE_DESCRIPTOR, "WriteValue",
        g_variant_new("(@ay@a{sv})", btle_bytes_variant(byteArray), btle_gatt_value_options(nullptr)), nullptr,
        G_DBUS_CALL_FLAGS_NONE, -1, descriptor->pending, btle_internal_descriptor_write_cb, request);
}
