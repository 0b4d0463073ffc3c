#include "btle/btle_parser.h"

#include <math.h>

struct parser_instance {
    GByteArray* bytes;
    guint offset;
    int byteOrder;
};

namespace {

// Reserved FLOAT codes (IEEE 11073-20601) keep fixed results whatever the exponent byte holds.
constexpr guint32 FLOAT_POSITIVE_INFINITY = 0x7FFFFE;
constexpr guint32 FLOAT_NAN = 0x7FFFFF;
constexpr guint32 FLOAT_NRES = 0x800000;
constexpr guint32 FLOAT_RESERVED = 0x800001;
constexpr guint32 FLOAT_NEGATIVE_INFINITY = 0x800002;

// True when count bytes remain; a short read leaves the offset where it was.
bool has_bytes(const Parser* parser, guint count) {
    g_assert(parser != NULL);
    return parser->offset + count <= parser->bytes->len;
}

guint32 read_unsigned(Parser* parser, guint count) {
    const guint8* bytes = parser->bytes->data + parser->offset;
    guint32 value = 0;
    for (guint i = 0; i < count; i++) {
        guint index = parser->byteOrder == PARSER_LITTLE_ENDIAN ? count - 1 - i : i;
        value = (value << 8) | bytes[index];
    }
    parser->offset += count;
    return value;
}

double power_of_ten(int exponent) { return exp(exponent * log(10.0)); }

} // namespace

Parser* parser_create(GByteArray* bytes, int byte_order) {
    g_assert(bytes != NULL);
    Parser* parser = g_new0(Parser, 1);
    parser->bytes = bytes;
    parser->offset = 0;
    parser->byteOrder = byte_order;
    return parser;
}

void parser_free(Parser* parser) {
    g_assert(parser != NULL);
    g_free(parser);
}

void parser_set_offset(Parser* parser, guint offset) {
    g_assert(parser != NULL);
    parser->offset = offset;
}

guint parser_get_offset(const Parser* parser) {
    g_assert(parser != NULL);
    return parser->offset;
}

guint8 parser_get_uint8(Parser* parser) {
    g_return_val_if_fail(has_bytes(parser, 1), 0);
    return (guint8)read_unsigned(parser, 1);
}

gint8 parser_get_sint8(Parser* parser) {
    g_return_val_if_fail(has_bytes(parser, 1), 0);
    return (gint8)read_unsigned(parser, 1);
}

guint16 parser_get_uint16(Parser* parser) {
    g_return_val_if_fail(has_bytes(parser, 2), 0);
    return (guint16)read_unsigned(parser, 2);
}

gint16 parser_get_sint16(Parser* parser) {
    g_return_val_if_fail(has_bytes(parser, 2), 0);
    return (gint16)read_unsigned(parser, 2);
}

guint32 parser_get_uint24(Parser* parser) {
    g_return_val_if_fail(has_bytes(parser, 3), 0);
    return read_unsigned(parser, 3);
}

guint32 parser_get_uint32(Parser* parser) {
    g_return_val_if_fail(has_bytes(parser, 4), 0);
    return read_unsigned(parser, 4);
}

double parser_get_sfloat(Parser* parser) {
    g_return_val_if_fail(has_bytes(parser, 2), NAN);
    guint16 raw = (guint16)read_unsigned(parser, 2);
    int mantissa = raw & 0x0FFF;
    if (mantissa & 0x0800) mantissa -= 4096;
    int exponent = raw >> 12;
    if (exponent >= 8) exponent -= 16;
    return mantissa * power_of_ten(exponent);
}

double parser_get_float(Parser* parser) {
    g_return_val_if_fail(has_bytes(parser, 4), NAN);
    guint32 raw = read_unsigned(parser, 4);
    guint32 low = raw & 0xFFFFFF;
    switch (low) {
    case FLOAT_POSITIVE_INFINITY:
        return 8388606.0;
    case FLOAT_NAN:
    case FLOAT_NRES:
    case FLOAT_RESERVED:
        return 8388607.0;
    case FLOAT_NEGATIVE_INFINITY:
        return 8388610.0;
    default:
        break;
    }
    int mantissa = (int)low;
    if (mantissa & 0x800000) mantissa -= 0x1000000;
    int exponent = (gint8)(raw >> 24);
    return mantissa * power_of_ten(exponent);
}

double parser_get_754float(Parser* parser) {
    g_return_val_if_fail(has_bytes(parser, 4), NAN);
    guint32 raw = read_unsigned(parser, 4);
    bool negative = (raw >> 31) != 0;
    int exponent = (int)((raw >> 23) & 0xFF);
    guint32 fraction = raw & 0x7FFFFF;
    float result;
    if (exponent == 255) {
        result = fraction == 0 ? INFINITY : NAN;
    } else if (exponent > 0) {
        result = ldexpf((float)(fraction + 0x800000), exponent - 150);
    } else {
        result = ldexpf((float)fraction, -149);
    }
    return negative ? -result : result;
}

double parser_get_754half(Parser* parser) {
    g_return_val_if_fail(has_bytes(parser, 2), NAN);
    guint16 raw = (guint16)read_unsigned(parser, 2);
    double sign = (raw & 0x8000) ? -1.0 : 1.0;
    int exponent = (raw >> 10) & 0x1F;
    int fraction = raw & 0x3FF;
    double result;
    if (exponent == 31) {
        result = fraction == 0 ? sign * INFINITY : NAN;
    } else if (exponent > 0) {
        result = sign * ldexp(1.0 + fraction / 1024.0, exponent - 15);
    } else {
        result = fraction == 0 ? 0.0 : sign * ldexp(fraction / 1024.0, -14);
    }
    return (double)(float)result;
}

GString* parser_get_string(Parser* parser) {
    g_assert(parser != NULL);
    guint start = MIN(parser->offset, parser->bytes->len);
    return g_string_new_len(reinterpret_cast<const char*>(parser->bytes->data) + start,
                            (gssize)(parser->bytes->len - start));
}

GDateTime* parser_get_date_time(Parser* parser) {
    g_return_val_if_fail(has_bytes(parser, 7), NULL);
    int year = parser_get_uint16(parser);
    int month = parser_get_uint8(parser);
    int day = parser_get_uint8(parser);
    int hour = parser_get_uint8(parser);
    int minute = parser_get_uint8(parser);
    int second = parser_get_uint8(parser);
    GTimeZone* zone = g_time_zone_new_local();
    GDateTime* result = g_date_time_new(zone, year, month, day, hour, minute, second);
    g_time_zone_unref(zone);
    return result;
}
