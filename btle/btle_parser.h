// Reads typed values out of a byte array as Bluetooth characteristics encode them.
#pragma once

#include <glib.h>

#ifdef __cplusplus
extern "C" {
#endif

#define PARSER_LITTLE_ENDIAN 1234
#define PARSER_BIG_ENDIAN 4321

typedef struct parser_instance Parser;

// The parser borrows bytes; byte_order PARSER_LITTLE_ENDIAN (1234), anything else is big-endian.
Parser* parser_create(GByteArray* bytes, int byte_order);
void parser_free(Parser* parser);
void parser_set_offset(Parser* parser, guint offset);
guint parser_get_offset(const Parser* parser);

// A read with too few bytes left logs a GLib critical message, leaves the offset and returns 0
// (NAN for the floating-point reads, NULL for the date-time).
guint8 parser_get_uint8(Parser* parser);
gint8 parser_get_sint8(Parser* parser);
guint16 parser_get_uint16(Parser* parser);
gint16 parser_get_sint16(Parser* parser);
guint32 parser_get_uint24(Parser* parser);
guint32 parser_get_uint32(Parser* parser);
double parser_get_sfloat(Parser* parser);
double parser_get_float(Parser* parser);
double parser_get_754float(Parser* parser);
double parser_get_754half(Parser* parser);
// Bytes from the offset to the end; the offset does not move. g_string_free(s, TRUE).
GString* parser_get_string(Parser* parser);
// Local date-time; g_date_time_unref.
GDateTime* parser_get_date_time(Parser* parser);

#ifdef __cplusplus
}
#endif
