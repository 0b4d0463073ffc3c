#include "core/NodeColor.h"

#include <algorithm>
#include <cmath>

#include "porting/Log.h"

namespace {
int parseRGB(const std::string& text) {
    if (text.size() != 6) return -1;
    int rgb = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else return -1;
        rgb = rgb * 16 + digit;
    }
    return rgb;
}
}

NodeColor::NodeColor(Node* parent, const char* key, const char* displayName, std::string def)
    : NodeItem(parent, key, displayName, std::move(def), "color") {}

bool NodeColor::acceptsValue(const std::string& value) const { return parseRGB(value) >= 0; }

bool NodeColor::setValue(std::string value) {
    if (!acceptsValue(value)) {
        LOGW("NodeColor", "%s: not a colour rrggbb\n", getName());
        return false;
    }
    return NodeItem::setValue(std::move(value));
}

int NodeColor::getRGB() const { return parseRGB(getValue()); }

int NodeColor::getR() const {
    int rgb = getRGB();
    return rgb < 0 ? 0 : (rgb >> 16) & 0xFF;
}

int NodeColor::getG() const {
    int rgb = getRGB();
    return rgb < 0 ? 0 : (rgb >> 8) & 0xFF;
}

int NodeColor::getB() const {
    int rgb = getRGB();
    return rgb < 0 ? 0 : rgb & 0xFF;
}

float NodeColor::getHue() const {
    int rgb = getRGB();
    if (rgb < 0) return 0.0f;
    const float r = float((rgb >> 16) & 0xFF) / 255.0f;
    const float g = float((rgb >> 8) & 0xFF) / 255.0f;
    const float b = float(rgb & 0xFF) / 255.0f;
    const float high = std::max({r, g, b});
    const float low = std::min({r, g, b});
    const float chroma = high - low;
    if (chroma <= 0.0f) return 0.0f;
    float hue;
    if (high == r) hue = std::fmod((g - b) / chroma, 6.0f);
    else if (high == g) hue = (b - r) / chroma + 2.0f;
    else hue = (r - g) / chroma + 4.0f;
    hue *= 60.0f;
    if (hue < 0.0f) hue += 360.0f;
    if (hue >= 360.0f) hue -= 360.0f;
    return hue;
}
