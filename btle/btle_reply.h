// The one way the library finishes its asynchronous D-Bus calls.
#pragma once

#include "btle/btle_utility.h"

#include <gio/gio.h>

// Finishes a call made with g_dbus_connection_call. False when it was cancelled because the object that made
// it was freed: the handler must return without touching that object. Otherwise *result holds the reply, or
// *error the failure, which is logged once under tag unless method is NULL (the caller reports it itself).
bool btle_finish_reply(GObject* source_object, GAsyncResult* res, const char* tag, const char* method,
                       GVariant** result, GError** error);

// Options of a GATT ReadValue or WriteValue call at offset 0, with the write type when type is not NULL.
GVariant* btle_gatt_value_options(const char* type);
GVariant* btle_bytes_variant(const GByteArray* bytes);

// Kept from a GATT write until its reply, so the callback can hand back the bytes that were written.
struct BtleWriteRequest {
    void* object;
    GByteArray* value;
};
BtleWriteRequest* btle_write_request_new(void* object, const GByteArray* value);
void btle_write_request_free(BtleWriteRequest* request);

// "[a, b]" of a list of strings; g_free the result.
char* btle_join_strings(GList* strings);

// The reply to a ReadValue of a remote characteristic or descriptor: its read callback gets the bytes or the
// error. The bytes borrow the reply's storage, so they are freed before it.
template <typename Object>
void btle_read_value_reply(GObject* source_object, GAsyncResult* res, Object* object, const char* tag) {
    g_autoptr(GVariant) result = nullptr;
    g_autoptr(GError) error = nullptr;
    if (!btle_finish_reply(source_object, res, tag, "ReadValue", &result, &error) || !object->on_read_callback) return;
    g_autoptr(GVariant) value = result ? g_variant_get_child_value(result, 0) : nullptr;
    GByteArray* bytes = value ? g_variant_get_byte_array(value) : nullptr;
    object->on_read_callback(object->device, object, bytes, error);
    if (bytes) g_byte_array_free(bytes, FALSE);
}

// The reply to a WriteValue: the write callback gets the bytes that were written and the error, if any.
template <typename Object>
void btle_write_value_reply(GObject* source_object, GAsyncResult* res, BtleWriteRequest* request, const char* tag) {
    auto* object = static_cast<Object*>(request->object);
    g_autoptr(GVariant) result = nullptr;
    g_autoptr(GError) error = nullptr;
    if (btle_finish_reply(source_object, res, tag, "WriteValue", &result, &error) && object->on_write_callback) {
        object->on_write_callback(object->device, object, request->value, error);
    }
    btle_write_request_free(request);
}
