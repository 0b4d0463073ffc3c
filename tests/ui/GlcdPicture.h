#pragma once
// Reading the monochrome picture in tests: pixels, rectangular regions to compare with a reference drawing,
// counts and copies of the whole buffer, and a PNG copy (four times enlarged) to look at. Pixels are read from
// the buffer layout directly (columns stored from the right, bit 0 the top of its band), so the tests check
// the layout rather than trusting the library's own addressing.
#include "ui/glcd/Glcd.h"
#include "ui/gfx/PngWriter.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace glcdpicture {

inline bool pixel(int x, int y) { return (glcd_buffer[(127 - x) * 8 + y / 8] >> (y % 8)) & 1; }

// The pixels of the rectangle (x0, y0)..(x1, y1), inclusive, as a string of '#' and '.' rows.
inline std::string region(int x0, int y0, int x1, int y1) {
    std::string rows;
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) rows += pixel(x, y) ? '#' : '.';
        rows += '\n';
    }
    return rows;
}

// The region as a reference drawing leaves it on an empty picture; the picture itself is kept.
template <typename Draw>
inline std::string reference(int x0, int y0, int x1, int y1, Draw draw) {
    std::vector<uint8_t> saved(glcd_buffer, glcd_buffer + GLCD_BUFFER_SIZE);
    glcd_clear(0);
    draw();
    const std::string drawn = region(x0, y0, x1, y1);
    std::copy(saved.begin(), saved.end(), glcd_buffer);
    return drawn;
}

// Every lit pixel counted.
inline int litCount() {
    int lit = 0;
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 128; ++x) lit += pixel(x, y);
    }
    return lit;
}

using Snapshot = std::array<uint8_t, GLCD_BUFFER_SIZE>;

inline Snapshot snapshot() {
    Snapshot copy;
    std::copy(glcd_buffer, glcd_buffer + GLCD_BUFFER_SIZE, copy.begin());
    return copy;
}

// Saved as `name`.png in the test output folder: lit pixels dark on a pale background, each 4 x 4.
inline bool savePng(const std::string& name) {
    constexpr int kScale = 4;
    std::vector<uint16_t> pixels(size_t(128 * kScale * 64 * kScale));
    for (int y = 0; y < 64 * kScale; ++y) {
        for (int x = 0; x < 128 * kScale; ++x) {
            pixels[size_t(y * 128 * kScale + x)] = pixel(x / kScale, y / kScale) ? 0x10A2 : 0xBF17;
        }
    }
    return gfx::PngWriter::writeRgb565(std::string(PEDAL_TEST_OUT) + "/" + name + ".png", pixels.data(), 128 * kScale,
                                       64 * kScale, 128 * kScale);
}

}
