#pragma once
// The check a model file passes before it may replace a player's slot: the player must be able to build it.
// It runs on the thread that commits an upload, so it stays cheap: the document is parsed once; a fixed-size
// shape is checked from its configuration and weight list alone (count, numbers, finite as floats) without
// allocating the network; a runtime-sized model is built, within ModelLimits, and not prewarmed.
#include <cstdint>
#include <string>
#include <vector>

namespace RuveroRidev {

class ModelCheck {
public:
    // True when the player would build a model from the text; otherwise false with the reason.
    static bool Check(const std::vector<std::uint8_t>& text, std::string& reason);
};

}  // namespace RuveroRidev
