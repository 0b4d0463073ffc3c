#pragma once
#include <cstdint>
#include <string>

namespace gfx {

// Writes RGB565 pictures as 8-bit RGB PNG files (for looking at the display off the device).
class PngWriter {
public:
    // `stride` is in pixels. False with a log line when the file cannot be written.
    static bool writeRgb565(const std::string& path, const uint16_t* pixels, int32_t width, int32_t height,
                            int32_t stride);
};

}
