#include "ui/gfx/Gfx.h"

#include <array>
#include <cstddef>

namespace {
constexpr int hueWidth = 90;
constexpr int hueHeight = 10;

constexpr uint16_t rgb565(int r, int g, int b) { return uint16_t((r >> 3) << 11 | (g >> 2) << 5 | (b >> 3)); }

// Hue from 0 degrees at the left edge to 360 at the right edge, full saturation and value, so a knob at a
// fraction of the width sits over the colour of that hue.
constexpr uint16_t hueAt(int column) {
    const int scaled = column * 6 * 255 / (hueWidth - 1); // 0 .. 6 * 255
    const int sector = scaled / 255 < 6 ? scaled / 255 : 5;
    const int rising = scaled - sector * 255;
    const int falling = 255 - rising;
    switch (sector) {
    case 0:
        return rgb565(255, rising, 0);
    case 1:
        return rgb565(falling, 255, 0);
    case 2:
        return rgb565(0, 255, rising);
    case 3:
        return rgb565(0, falling, 255);
    case 4:
        return rgb565(rising, 0, 255);
    default:
        return rgb565(255, 0, falling);
    }
}

constexpr std::array<uint16_t, hueWidth * hueHeight> makeHueStrip() {
    std::array<uint16_t, hueWidth * hueHeight> pixels{};
    for (int y = 0; y < hueHeight; ++y)
        for (int x = 0; x < hueWidth; ++x) pixels[std::size_t(y * hueWidth + x)] = hueAt(x);
    return pixels;
}

constexpr std::array<uint16_t, hueWidth* hueHeight> hueStrip = makeHueStrip();
}

const lv_image_dsc_t img_hue_10{
    {LV_COLOR_FORMAT_RGB565, hueWidth, hueHeight, hueWidth * 2},
    uint32_t(sizeof(hueStrip)),
    reinterpret_cast<const uint8_t*>(hueStrip.data()),
};
