#include "btle/btle.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

GByteArray* bytesOf(std::vector<guint8> values) {
    GByteArray* bytes = g_byte_array_new();
    g_byte_array_append(bytes, values.data(), values.size());
    return bytes;
}

struct ParseCase {
    std::vector<guint8> bytes;
    int order;
    double (*read)(Parser*);
    double expected;
};

double readUint16(Parser* p) { return parser_get_uint16(p); }
double readSint16(Parser* p) { return parser_get_sint16(p); }
double readUint24(Parser* p) { return parser_get_uint24(p); }
double readUint32(Parser* p) { return parser_get_uint32(p); }
double readSint8(Parser* p) { return parser_get_sint8(p); }

TEST(BtleParser, ReadsIntegersAndFloatsInBothByteOrders) {
    const double inf = INFINITY;
    const ParseCase cases[] = {
        {{0x34, 0x12}, PARSER_LITTLE_ENDIAN, readUint16, 0x1234},
        {{0x34, 0x12}, PARSER_BIG_ENDIAN, readUint16, 0x3412},
        {{0xFE, 0xFF}, PARSER_LITTLE_ENDIAN, readSint16, -2},
        {{0x80}, PARSER_LITTLE_ENDIAN, readSint8, -128},
        {{0x01, 0x02, 0x03}, PARSER_LITTLE_ENDIAN, readUint24, 0x030201},
        {{0x01, 0x02, 0x03}, PARSER_BIG_ENDIAN, readUint24, 0x010203},
        {{0x01, 0x02, 0x03, 0x04}, PARSER_BIG_ENDIAN, readUint32, 0x01020304},
        {{0x01, 0xF0}, PARSER_LITTLE_ENDIAN, parser_get_sfloat, 0.1},
        {{0xFF, 0x0F}, PARSER_LITTLE_ENDIAN, parser_get_sfloat, -1.0},
        {{0xFE, 0xFF, 0x7F, 0x00}, PARSER_LITTLE_ENDIAN, parser_get_float, 8388606.0},
        {{0x02, 0x00, 0x80, 0x05}, PARSER_LITTLE_ENDIAN, parser_get_float, 8388610.0},
        {{0x00, 0x00, 0x80, 0x11}, PARSER_LITTLE_ENDIAN, parser_get_float, 8388607.0},
        {{0x7B, 0x00, 0x00, 0xFE}, PARSER_LITTLE_ENDIAN, parser_get_float, 1.23},
        {{0x00, 0x3C}, PARSER_LITTLE_ENDIAN, parser_get_754half, 1.0},
        {{0x00, 0xC0}, PARSER_LITTLE_ENDIAN, parser_get_754half, -2.0},
        {{0x00, 0x7C}, PARSER_LITTLE_ENDIAN, parser_get_754half, inf},
        {{0x00, 0xFC}, PARSER_LITTLE_ENDIAN, parser_get_754half, -inf},
        {{0x01, 0x00}, PARSER_LITTLE_ENDIAN, parser_get_754half, std::ldexp(1.0, -24)},
        {{0x01, 0x00, 0x00, 0x00}, PARSER_LITTLE_ENDIAN, parser_get_754float, std::ldexp(1.0, -149)},
        {{0x00, 0x00, 0xC0, 0x3F}, PARSER_LITTLE_ENDIAN, parser_get_754float, 1.5},
        {{0x3F, 0xC0, 0x00, 0x00}, PARSER_BIG_ENDIAN, parser_get_754float, 1.5},
        {{0x00, 0x00, 0x80, 0xFF}, PARSER_LITTLE_ENDIAN, parser_get_754float, -inf},
        {{0x00, 0x00, 0x00, 0x80}, PARSER_LITTLE_ENDIAN, parser_get_754float, -0.0},
        {{0x01, 0x7C}, PARSER_LITTLE_ENDIAN, parser_get_754half, NAN},
    };
    for (const auto& c : cases) {
        GByteArray* bytes = bytesOf(c.bytes);
        Parser* parser = parser_create(bytes, c.order);
        double value = c.read(parser);
        if (std::isnan(c.expected)) {
            EXPECT_TRUE(std::isnan(value));
        } else if (std::isinf(c.expected) || c.expected == 0) {
            EXPECT_EQ(value, c.expected);
            EXPECT_EQ(std::signbit(value), std::signbit(c.expected)) << "first byte " << int(c.bytes[0]);
        } else {
            EXPECT_NEAR(value, c.expected, std::fabs(c.expected) * 1e-6 + 1e-300) << "first byte " << int(c.bytes[0]);
        }
        EXPECT_EQ(parser_get_offset(parser), c.bytes.size()) << "every read advances by its size";
        parser_free(parser);
        g_byte_array_free(bytes, TRUE);
    }
}

TEST(BtleParser, ShortReadLeavesTheOffsetAndReturnsZeroStringAndDateTime) {
    GByteArray* bytes = bytesOf({0x01, 0x02, 0x03});
    Parser* parser = parser_create(bytes, PARSER_LITTLE_ENDIAN);
    parser_set_offset(parser, 1);
    EXPECT_EQ(parser_get_uint32(parser), 0u);
    EXPECT_EQ(parser_get_uint24(parser), 0u);
    EXPECT_EQ(parser_get_offset(parser), 1u);
    EXPECT_EQ(parser_get_uint16(parser), 0x0302);
    EXPECT_EQ(parser_get_uint8(parser), 0u);
    EXPECT_EQ(parser_get_offset(parser), 3u);
    EXPECT_EQ(parser_get_date_time(parser), nullptr);
    parser_free(parser);
    g_byte_array_free(bytes, TRUE);

    // Strings and dates.
    GByteArray* text_bytes = bytesOf({'x', 'a', 'b', 0xE8, 0x07, 3, 1, 14, 5, 9});
    Parser* text_parser = parser_create(text_bytes, PARSER_LITTLE_ENDIAN);
    parser_set_offset(text_parser, 1);
    GString* text = parser_get_string(text_parser);
    EXPECT_EQ(std::string(text->str, text->len).substr(0, 2), "ab");
    EXPECT_EQ(parser_get_offset(text_parser), 1u);
    g_string_free(text, TRUE);
    parser_set_offset(text_parser, 3);
    GDateTime* when = parser_get_date_time(text_parser);
    ASSERT_NE(when, nullptr);
    char* iso = g_date_time_format(when, "%Y-%m-%d %H:%M:%S");
    EXPECT_STREQ(iso, "2024-03-01 14:05:09");
    g_free(iso);
    g_date_time_unref(when);
    parser_free(text_parser);
    g_byte_array_free(text_bytes, TRUE);
}

TEST(BtleUtility, HexAddressesUuidsAndRandomText) {
    GByteArray* bytes = bytesOf({0x0A, 0xFF});
    GString* hex = g_byte_array_as_hex(bytes);
    EXPECT_STREQ(hex->str, "0aff");
    g_string_free(hex, TRUE);
    char digits[4];
    bytes_to_hex(digits, bytes->data, 3);
    EXPECT_EQ(std::string(digits, 3), "0af");
    g_byte_array_free(bytes, TRUE);

    char* address = path_to_address("/org/bluez/hci0/dev_AA_BB_CC_DD_EE_FF");
    EXPECT_STREQ(address, "AA:BB:CC:DD:EE:FF");
    g_free(address);

    const struct {
        const char* uuid;
        gboolean valid;
    } uuids[] = {{"6e400001-b5a3-f393-e0a9-e50e24dcca9e", TRUE},
                 {"6E400001-B5A3-F393-E0A9-E50E24DCCA9E", FALSE},
                 {"6e400001", FALSE},
                 {nullptr, FALSE}};
    for (const auto& c : uuids) EXPECT_EQ(is_valid_uuid(c.uuid), c.valid) << (c.uuid ? c.uuid : "null");

    char text[] = "a:b:c";
    EXPECT_STREQ(replace_char(text, ':', '_'), "a_b_c");

    char* random = random_string(64);
    ASSERT_EQ(strlen(random), 64u);
    for (const char* p = random; *p; p++) EXPECT_TRUE(g_ascii_isalnum(*p)) << "random strings use the alphabet";
    g_free(random);
}

TEST(BtleUtility, ClockCharacteristicsVariantConversionsRoundingAndIsoText) {
    GByteArray* current = btle_get_current_time();
    GByteArray* date = btle_get_date_time();
    ASSERT_EQ(current->len, 10u);
    ASSERT_EQ(date->len, 7u);
    GDateTime* now = g_date_time_new_now_local();
    EXPECT_EQ(current->data[0] | (current->data[1] << 8), g_date_time_get_year(now));
    EXPECT_EQ(current->data[2], g_date_time_get_month(now));
    EXPECT_GE(current->data[7], 1);
    EXPECT_LE(current->data[7], 7);
    EXPECT_EQ(current->data[9], 1);
    EXPECT_EQ(0, memcmp(current->data, date->data, 4));
    g_date_time_unref(now);
    g_byte_array_free(current, TRUE);
    g_byte_array_free(date, TRUE);

    const char* strings[] = {"a", "b"};
    GVariant* array = g_variant_ref_sink(g_variant_new_strv(strings, 2));
    GList* list = g_variant_string_array_to_list(array);
    ASSERT_EQ(g_list_length(list), 2u);
    EXPECT_STREQ(static_cast<char*>(list->data), "a");
    g_list_free_full(list, g_free);
    g_variant_unref(array);

    guint8 raw[] = {1, 2, 3};
    GVariant* bytes = g_variant_ref_sink(g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, raw, 3, 1));
    GByteArray* view = g_variant_get_byte_array(bytes);
    ASSERT_EQ(view->len, 3u);
    EXPECT_EQ(view->data[2], 3);
    g_byte_array_free(view, FALSE);
    g_variant_unref(bytes);

    // Rounding and ISO text.
    EXPECT_FLOAT_EQ(btle_round_with_precision(2, 1.005f * 1.0f + 0.0001f), 1.01f);
    EXPECT_FLOAT_EQ(btle_round_with_precision(0, -2.5f), -3.0f);
    EXPECT_FLOAT_EQ(fround(1, 2.25f), 2.3f);
    GDateTime* utc = g_date_time_new_utc(2026, 3, 1, 14, 5, 9);
    char* iso = btle_date_time_format_iso8601(utc);
    EXPECT_STREQ(iso, "2026-03-01T14:05:09Z");
    g_free(iso);
    g_date_time_unref(utc);
    GTimeZone* zone = g_time_zone_new_offset(3600);
    GDateTime* local = g_date_time_new(zone, 2026, 3, 1, 14, 5, 9);
    iso = btle_date_time_format_iso8601(local);
    EXPECT_STREQ(iso, "2026-03-01T14:05:09+01:00");
    g_free(iso);
    g_date_time_unref(local);
    g_time_zone_unref(zone);
}

} // namespace
