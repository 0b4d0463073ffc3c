#include "ui/gfx/Framebuffer.h"

#include "porting/Log.h"
#include "porting/Paths.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <linux/fb.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace gfx {

namespace {
const char* TAG = "Gfx";
}

Framebuffer::~Framebuffer() { close(); }

std::string Framebuffer::resolvePath(const std::string& path) {
#ifdef PEDAL_DEVICE
    return path;
#else
    const std::string devicePrefix = "/dev/";
    if (path.compare(0, devicePrefix.size(), devicePrefix) != 0) return path;
    return homePath() + "/" + path.substr(devicePrefix.size());
#endif
}

bool Framebuffer::open(const std::string& requestedPath) {
    close();
    const std::string path = resolvePath(requestedPath);
    struct stat info {};
    const bool exists = ::stat(path.c_str(), &info) == 0;
    if (!exists || S_ISREG(info.st_mode)) {
        std::error_code ignored;
        const auto folder = std::filesystem::path(path).parent_path();
        if (!folder.empty()) std::filesystem::create_directories(folder, ignored);
    }
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        LOGE(TAG, "Cannot open framebuffer %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    fb_var_screeninfo variable{};
    fb_fix_screeninfo fixed{};
    if (::ioctl(fd, FBIOGET_VSCREENINFO, &variable) == 0 && ::ioctl(fd, FBIOGET_FSCREENINFO, &fixed) == 0) {
        widthPixels = int32_t(variable.xres);
        heightPixels = int32_t(variable.yres);
        bitsPerPixel = int32_t(variable.bits_per_pixel);
        strideBytes = int32_t(fixed.line_length);
        if (bitsPerPixel != 16 && bitsPerPixel != 32) {
            LOGE(TAG, "Framebuffer %s has %d bits per pixel; only 16 and 32 are drawn\n", path.c_str(), bitsPerPixel);
            close();
            return false;
        }
    } else {
        widthPixels = fileWidth;
        heightPixels = fileHeight;
        bitsPerPixel = 16;
        strideBytes = fileWidth * 2;
        const off_t wanted = off_t(strideBytes) * heightPixels;
        struct stat opened {};
        if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && opened.st_size < wanted &&
            ::ftruncate(fd, wanted) != 0) {
            LOGE(TAG, "Cannot size framebuffer file %s: %s\n", path.c_str(), std::strerror(errno));
            close();
            return false;
        }
    }
    writeFailed = false;
    return true;
}

void Framebuffer::close() {
    if (fd >= 0) ::close(fd);
    fd = -1;
    widthPixels = heightPixels = strideBytes = 0;
}

bool Framebuffer::write(const uint16_t* pixels, int32_t pictureWidth, int32_t pictureHeight, int32_t x, int32_t y) {
    if (fd < 0) return false;
    const int32_t firstColumn = x < 0 ? -x : 0;
    const int32_t lastColumn = std::min(pictureWidth, widthPixels - x); // exclusive
    if (lastColumn <= firstColumn) return true;
    const int32_t bytesPerPixel = bitsPerPixel / 8;
    std::vector<uint8_t> row(size_t(lastColumn - firstColumn) * bytesPerPixel);
    for (int32_t line = 0; line < pictureHeight; ++line) {
        const int32_t target = y + line;
        if (target < 0 || target >= heightPixels) continue;
        const uint16_t* source = pixels + size_t(line) * pictureWidth + firstColumn;
        if (bytesPerPixel == 2) {
            std::memcpy(row.data(), source, row.size());
        } else {
            for (int32_t i = 0; i < lastColumn - firstColumn; ++i) {
                const uint16_t c = source[i];
                const uint32_t r = (c >> 11) & 0x1F, g = (c >> 5) & 0x3F, b = c & 0x1F;
                const uint32_t xrgb =
                    0xFF000000u | ((r << 3 | r >> 2) << 16) | ((g << 2 | g >> 4) << 8) | (b << 3 | b >> 2);
                std::memcpy(row.data() + size_t(i) * 4, &xrgb, 4);
            }
        }
        const off_t at = off_t(target) * strideBytes + off_t(x + firstColumn) * bytesPerPixel;
        if (::pwrite(fd, row.data(), row.size(), at) != ssize_t(row.size())) {
            // One line per failing framebuffer, not one per frame.
            if (!writeFailed) LOGE(TAG, "Framebuffer write failed: %s\n", std::strerror(errno));
            writeFailed = true;
            return false;
        }
    }
    writeFailed = false;
    return true;
}

}
