#pragma once
#include <string>

#include "core/NodeItem.h"

// A colour item (item type "color") holding six hexadecimal digits rrggbb.
class NodeColor : public NodeItem {
public:
    NodeColor(Node* parent, const char* key, const char* displayName, std::string def);

    // Accepts exactly six hexadecimal digits; anything else is refused (false, nothing changes).
    bool setValue(std::string value) override;
    bool acceptsValue(const std::string& value) const override;
    // 0..255 each; 0 when the value does not parse.
    int getR() const;
    int getG() const;
    int getB() const;
    // Hue in degrees, 0 <= h < 360; 0 for grey or a malformed value.
    float getHue() const;
    // 0xRRGGBB, or -1 when the value does not parse.
    int getRGB() const;
};
