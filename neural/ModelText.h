#pragma once
// Parses a model file's text. A model file is almost all one flat list of numbers, its top-level "weights";
// a general JSON parser spends most of its time there, token by token. That list is read by a scan for plain
// JSON numbers instead and the rest of the text by the general parser; a list that holds anything else, or a
// second "weights" key, sends the whole text through the general parser, so the result is the same document
// either way (its weights all floating-point numbers).
#include <nlohmann/json.hpp>

#include <cstdint>
#include <vector>

namespace RuveroRidev {

class ModelText {
public:
    // The parsed document, or a discarded value (is_discarded()) for text that is not JSON.
    static nlohmann::json Parse(const std::vector<std::uint8_t>& text);
};

} // namespace RuveroRidev
