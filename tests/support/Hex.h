#pragma once
// Bytes as the hexadecimal text the remote protocol's slot transfers carry (two digits a byte).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

inline std::string hex(const uint8_t* bytes, size_t length) {
    std::string text;
    char pair[3];
    for (size_t i = 0; i < length; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
        text += pair;
    }
    return text;
}
