#pragma once
#include <string>

#include <nlohmann/json_fwd.hpp>

// Text conversions shared by the node descriptions.
class JsonText {
public:
    // The text with every byte that does not belong to a valid UTF-8 sequence read as Latin-1 (so the raw
    // degree byte 0xB0 becomes U+00B0); valid UTF-8 passes unchanged.
    static std::string toUtf8(const std::string& text);
    // A float as the JSON number with its shortest round-trip decimal form (0.1f is 0.1, not
    // 0.10000000149011612).
    static double floatNumber(float value);
    // A float from a JSON number or a quoted number (the whole string, surrounding blanks allowed); false
    // for anything else, NaN or an infinity.
    static bool readFloat(const nlohmann::json& value, float& out);
    // Compact dump that never throws.
    static std::string dump(const nlohmann::ordered_json& body);
};
