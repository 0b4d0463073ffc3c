#include "btle/btle_utility.h"

#include "btle/btle_logger.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

namespace {
const char HEX_DIGITS[] = "0123456789abcdef";
const char RANDOM_ALPHABET[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
} // namespace

GString* g_byte_array_as_hex(const GByteArray* byteArray) {
    g_assert(byteArray != NULL);
    GString* result = g_string_sized_new(byteArray->len * 2 + 1);
    for (guint i = 0; i < byteArray->len; i++) {
        g_string_append_c(result, HEX_DIGITS[byteArray->data[i] >> 4]);
        g_string_append_c(result, HEX_DIGITS[byteArray->data[i] & 0x0F]);
    }
    return result;
}

void bytes_to_hex(char* dest, const guint8* src, guint hex_len) {
    g_assert(dest != NULL);
    g_assert(src != NULL);
    for (guint i = 0; i < hex_len; i++) {
        guint8 byte = src[i / 2];
        dest[i] = HEX_DIGITS[(i % 2 == 0) ? (byte >> 4) : (byte & 0x0F)];
    }
}

GList* g_variant_string_array_to_list(GVariant* value) {
    g_assert(value != NULL);
    g_assert(g_str_equal(g_variant_get_type_string(value), "as"));
    GList* list = nullptr;
    GVariantIter iter;
    const char* text;
    g_variant_iter_init(&iter, value);
    while (g_variant_iter_loop(&iter, "&s", &text)) list = g_list_append(list, g_strdup(text));
    return list;
}

GByteArray* g_variant_get_byte_array(GVariant* variant) {
    g_assert(variant != NULL);
    g_assert(g_str_equal(g_variant_get_type_string(variant), "ay"));
    gsize length = 0;
    const guint8* data = static_cast<const guint8*>(g_variant_get_fixed_array(variant, &length, sizeof(guint8)));
    // g_byte_array_new_take would own the bytes; this array only points at the variant's storage.
    GByteArray* array = g_byte_array_new();
    array->data = const_cast<guint8*>(data);
    array->len = (guint)length;
    return array;
}

gboolean is_lowercase(const char* str) {
    for (const char* p = str; *p != '\0'; p++) {
        if (g_ascii_isupper(*p)) return FALSE;
    }
    return TRUE;
}

gboolean is_valid_uuid(const char* uuid) {
    if (uuid == nullptr) {
        g_critical("uuid is NULL");
        return FALSE;
    }
    if (!g_uuid_string_is_valid(uuid)) {
        g_critical("%s is not a valid UUID", uuid);
        return FALSE;
    }
    if (!is_lowercase(uuid)) {
        g_critical("%s is not entirely lowercase", uuid);
        return FALSE;
    }
    return TRUE;
}

char* replace_char(char* str, char find, char replace) {
    g_assert(str != NULL);
    for (char* p = str; *p != '\0'; p++) {
        if (*p == find) *p = replace;
    }
    return str;
}

char* path_to_address(const char* path) {
    g_assert(path != NULL);
    size_t length = strlen(path);
    // A path shorter than an address has no address in it; the whole path is converted instead.
    const char* start = length >= MAC_ADDRESS_LENGTH ? path + length - MAC_ADDRESS_LENGTH : path;
    return replace_char(g_strdup(start), '_', ':');
}

char* random_string(guint length) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    srand((unsigned)now.tv_nsec);
    char* result = static_cast<char*>(g_malloc(length + 1));
    for (guint i = 0; i < length; i++) result[i] = RANDOM_ALPHABET[rand() % 62];
    result[length] = '\0';
    return result;
}

float btle_round_with_precision(guint8 precision, float value) {
    float multiplier = (float)(long long)pow(10.0, precision);
    return roundf(value * multiplier) / multiplier;
}

char* btle_date_time_format_iso8601(GDateTime* datetime) {
    g_assert(datetime != NULL);
    char* main = g_date_time_format(datetime, "%Y-%m-%dT%H:%M:%S");
    char* offset = g_date_time_get_utc_offset(datetime) != 0 ? g_date_time_format(datetime, "%:z") : g_strdup("Z");
    char* result = g_strconcat(main, offset, NULL);
    g_free(main);
    g_free(offset);
    return result;
}

float fround(int precision, float value) {
    return (float)floor(value * pow(10.0, precision) + 0.5) / (float)(long long)pow(10.0, precision);
}

namespace {
void append_year_month_day_time(GByteArray* bytes, GDateTime* now) {
    int year = g_date_time_get_year(now);
    guint8 fields[7] = {(guint8)(year & 0xFF),
                        (guint8)(year >> 8),
                        (guint8)g_date_time_get_month(now),
                        (guint8)g_date_time_get_day_of_month(now),
                        (guint8)g_date_time_get_hour(now),
                        (guint8)g_date_time_get_minute(now),
                        (guint8)g_date_time_get_second(now)};
    g_byte_array_append(bytes, fields, sizeof fields);
}
} // namespace

GByteArray* btle_get_current_time(void) {
    GDateTime* now = g_date_time_new_now_local();
    GByteArray* bytes = g_byte_array_sized_new(10);
    append_year_month_day_time(bytes, now);
    int microseconds = g_date_time_get_microsecond(now);
    guint8 tail[3] = {(guint8)g_date_time_get_day_of_week(now), (guint8)(((microseconds / 1000) * 256) / 1000), 1};
    g_byte_array_append(bytes, tail, sizeof tail);
    g_date_time_unref(now);
    return bytes;
}

GByteArray* btle_get_date_time(void) {
    GDateTime* now = g_date_time_new_now_local();
    GByteArray* bytes = g_byte_array_sized_new(7);
    append_year_month_day_time(bytes, now);
    g_date_time_unref(now);
    return bytes;
}

void btle_return_unknown_method(GDBusMethodInvocation* invocation, const char* method) {
    g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD, "no method %s here",
                                          method);
}

guint btle_export_object(GDBusConnection* connection, const char* path, const char* xml,
                         const GDBusInterfaceVTable* vtable, gpointer object, const char* tag) {
    GError* error = nullptr;
    GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(xml, &error);
    guint id = 0;
    if (info != nullptr) {
        id = g_dbus_connection_register_object(connection, path, info->interfaces[0], vtable, object, nullptr, &error);
        g_dbus_node_info_unref(info);
    }
    if (id == 0) log_error(tag, "cannot export %s: %s", path, error != nullptr ? error->message : "unknown");
    g_clear_error(&error);
    return id;
}

gboolean btle_refuse_property_set(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* property,
                                  GVariant*, GError** error, gpointer) {
    g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_PROPERTY_READ_ONLY, "property %s is not writable", property);
    return FALSE;
}
