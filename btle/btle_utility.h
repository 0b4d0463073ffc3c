// Shared routines of the Bluetooth LE library: hex text, GVariant conversions, UUID checks, object paths.
#pragma once

#include <gio/gio.h>
#include <glib.h>

#ifdef __cplusplus
extern "C" {
#endif

#define MAC_ADDRESS_LENGTH 17

// Two lower-case hex digits per byte, no separators. Caller frees with g_string_free(s, TRUE).
GString* g_byte_array_as_hex(const GByteArray* byteArray);
// Writes hex_len lower-case hex digits (digit i from byte i/2, high nibble first), no terminator.
void bytes_to_hex(char* dest, const guint8* src, guint hex_len);
// "as" variant -> list of owned strings (free with g_list_free_full(list, g_free)).
GList* g_variant_string_array_to_list(GVariant* value);
// "ay" variant -> byte array borrowing the variant's bytes: free only the array
// (g_byte_array_free(array, FALSE)), and before the variant.
GByteArray* g_variant_get_byte_array(GVariant* variant);
// GLib UUID-string check plus lower case; logs a GLib critical message when it fails.
gboolean is_valid_uuid(const char* uuid);
gboolean is_lowercase(const char* str);
// Replaces every occurrence in place and returns str.
char* replace_char(char* str, char find, char replace);
// Last 17 characters of a device object path with "_" turned into ":"; g_free the result.
char* path_to_address(const char* path);
// length characters of a-z A-Z 0-9; reseeds the process-wide rand(); g_free the result.
char* random_string(guint length);
float btle_round_with_precision(guint8 precision, float value);
// "%Y-%m-%dT%H:%M:%S" plus "%:z" or "Z" for UTC; g_free the result.
char* btle_date_time_format_iso8601(GDateTime* datetime);
float fround(int precision, float value);
// Current Time (10 bytes) and Date Time (7 bytes) characteristic values of the local clock.
GByteArray* btle_get_current_time(void);
GByteArray* btle_get_date_time(void);

// The answer of a method handler to a call none of its branches takes: an error, so that a caller waiting for
// a reply gets one and the invocation is freed. GDBus hands a handler more than its declared methods: a
// Properties call on an interface whose vtable lacks the getter or setter reaches it as "Get" or "Set".
void btle_return_unknown_method(GDBusMethodInvocation* invocation, const char* method);
// Exports the first interface of the introspection XML at the path, served by the vtable with the object as
// its user data. The registration id, or 0 after one error line with the tag naming what failed to export.
guint btle_export_object(GDBusConnection* connection, const char* path, const char* xml,
                         const GDBusInterfaceVTable* vtable, gpointer object, const char* tag);
// The property setter of every exported object: none of them takes a value from the bus.
gboolean btle_refuse_property_set(GDBusConnection* connection, const gchar* sender, const gchar* path,
                                  const gchar* interface, const gchar* property, GVariant* value, GError** error,
                                  gpointer user_data);

#ifdef __cplusplus
}
#endif
