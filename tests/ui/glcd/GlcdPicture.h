#pragma once
// Reading the monochrome picture back in tests, and saving it as a PNG scaled up for looking at it.
#include "Glcd.h"
#include "PngWriter.h"

#include <array>
#include <cstring>
#include <string>
#include <vector>

namespace glcdtest {

// Read from the buffer layout directly (columns stored from the right, bit 0 the top of its band), so the
// tests check the layout rather than trusting the library's own addressing.
inline bool pixel(int x, int y) { return (glcd_buffer[(127 - x) * 8 + y / 8] >> (y % 8)) & 1; }

inline int litCount()
{
    int lit = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 128; ++x) lit += pixel(x, y);
    return lit;
}

using Snapshot = std::array<uint8_t, GLCD_BUFFER_SIZE>;

inline Snapshot snapshot()
{
    Snapshot copy;
    std::memcpy(copy.data(), glcd_buffer, copy.size());
    return copy;
}

// The lit pixels as text rows, for readable failure messages.
inline std::string rowsText(int x0, int y0, int x1, int y1)
{
    std::string text = "\n";
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) text += pixel(x, y) ? '#' : '.';
        text += '\n';
    }
    return text;
}

// Lit pixels dark on a pale background, each pixel a 4 x 4 block.
inline bool savePng(const std::string& name)
{
    constexpr int SCALE = 4;
    std::vector<uint16_t> image(128 * SCALE * 64 * SCALE);
    for (int y = 0; y < 64 * SCALE; ++y)
        for (int x = 0; x < 128 * SCALE; ++x)
            image[y * 128 * SCALE + x] = pixel(x / SCALE, y / SCALE) ? 0x10A2 : 0xBF17;
    return gfx::PngWriter::writeRgb565(std::string(PEDAL_TEST_OUT) + "/" + name + ".png", image.data(),
                                       128 * SCALE, 64 * SCALE, 128 * SCALE);
}

}
