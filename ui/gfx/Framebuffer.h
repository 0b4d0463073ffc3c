#pragma once
#include <cstdint>
#include <string>

namespace gfx {

// The Linux framebuffer the display's picture is written to: a framebuffer device, whose geometry and
// pixel format (16-bit RGB565 or 32-bit XRGB) the driver reports, or a regular file standing in for it on
// the host, taken as 320 x 240 RGB565 and grown to that size when shorter.
class Framebuffer {
public:
    static constexpr int32_t fileWidth = 320;
    static constexpr int32_t fileHeight = 240;

    Framebuffer() = default;
    Framebuffer(const Framebuffer&) = delete;
    Framebuffer& operator=(const Framebuffer&) = delete;
    ~Framebuffer();

    // Where a framebuffer path is opened: unchanged on the device; on the host a path under /dev names a
    // file of the same name in the state folder, so the host never touches the machine's own framebuffer.
    static std::string resolvePath(const std::string& path);

    // Opens the (resolved) path; false with a log line when it cannot be opened.
    bool open(const std::string& path);
    void close();
    bool isOpen() const { return fd >= 0; }
    int32_t width() const { return widthPixels; }
    int32_t height() const { return heightPixels; }

    // Writes a picture of RGB565 pixels with its top left at (x, y); what falls outside is left out.
    bool write(const uint16_t* pixels, int32_t pictureWidth, int32_t pictureHeight, int32_t x, int32_t y);

private:
    int fd = -1;
    int32_t widthPixels = 0;
    int32_t heightPixels = 0;
    int32_t strideBytes = 0;
    int32_t bitsPerPixel = 16;
    bool writeFailed = false;
};

}
