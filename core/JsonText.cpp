#include "core/JsonText.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

#include <nlohmann/json.hpp>

namespace {
// Length of the valid UTF-8 sequence starting at i, 0 when the byte does not start one.
size_t utf8SequenceLength(const std::string& text, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) return 1;
    size_t length;
    uint32_t code;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    // Overlong forms, surrogates and code points beyond U+10FFFF are not valid UTF-8.
    if ((length == 3 && code < 0x800) || (length == 4 && (code < 0x10000 || code > 0x10FFFF))) return 0;
    if (code >= 0xD800 && code <= 0xDFFF) return 0;
    return length;
}
}

std::string JsonText::toUtf8(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        size_t length = utf8SequenceLength(text, i);
        if (length > 0) {
            out.append(text, i, length);
            i += length;
        } else {
            const unsigned char latin1 = static_cast<unsigned char>(text[i]);
            out += char(0xC0 | (latin1 >> 6));
            out += char(0x80 | (latin1 & 0x3F));
            ++i;
        }
    }
    return out;
}

double JsonText::floatNumber(float value) {
    if (!std::isfinite(value)) return 0.0;
    char buffer[32];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    *result.ptr = '\0';
    return std::strtod(buffer, nullptr);
}

bool JsonText::readFloat(const nlohmann::json& value, float& out) {
    double number;
    if (value.is_number()) {
        number = value.get<double>();
    } else if (value.is_string()) {
        const std::string& text = value.get_ref<const std::string&>();
        const char* start = text.c_str();
        char* end = nullptr;
        number = std::strtod(start, &end);
        if (end == start) return false;
        while (*end == ' ' || *end == '\t') ++end;
        if (*end != '\0') return false;
    } else {
        return false;
    }
    if (!std::isfinite(number)) return false;
    out = float(number);
    return std::isfinite(out);
}

std::string JsonText::dump(const nlohmann::ordered_json& body) {
    return body.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}
