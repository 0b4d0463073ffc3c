#include "btle/btle_reply.h"

#include "btle/btle_logger.h"

bool btle_finish_reply(GObject* source_object, GAsyncResult* res, const char* tag, const char* method,
                       GVariant** result, GError** error) {
    *result = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source_object), res, error);
    if (g_error_matches(*error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
        g_clear_error(error);
        return false;
    }
    if (*error && method)
        log_error(tag, "failed to call '%s' (error %d: %s)", method, (*error)->code, (*error)->message);
    return true;
}

GVariant* btle_gatt_value_options(const char* type) {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&builder, "{sv}", "offset", g_variant_new_uint16(0));
    if (type) g_variant_builder_add(&builder, "{sv}", "type", g_variant_new_string(type));
    return g_variant_builder_end(&builder);
}

GVariant* btle_bytes_variant(const GByteArray* bytes) {
    return g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, bytes->data, bytes->len, sizeof(guint8));
}

BtleWriteRequest* btle_write_request_new(void* object, const GByteArray* value) {
    BtleWriteRequest* request = g_new0(BtleWriteRequest, 1);
    request->object = object;
    request->value = g_byte_array_sized_new(value->len);
    g_byte_array_append(request->value, value->data, value->len);
    return request;
}

void btle_write_request_free(BtleWriteRequest* request) {
    g_byte_array_free(request->value, TRUE);
    g_free(request);
}

char* btle_join_strings(GList* strings) {
    GString* text = g_string_new("[");
    for (GList* item = strings; item != nullptr; item = item->next) {
        if (item != strings) g_string_append(text, ", ");
        g_string_append(text, static_cast<const char*>(item->data));
    }
    g_string_append(text, "]");
    return g_string_free(text, FALSE);
}
