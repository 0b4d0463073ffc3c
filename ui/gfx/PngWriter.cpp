#include "ui/gfx/PngWriter.h"

#include "porting/Log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <png.h>
#include <vector>

namespace gfx {

namespace {
const char* TAG = "Gfx";

// libpng reports errors by longjmp; this keeps the jump inside one plain C-style function with no
// objects that need destruction between setjmp and the jump.
bool encode(FILE* file, const std::vector<png_bytep>& rows, int32_t width, int32_t height) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, info ? &info : nullptr);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, const_cast<png_bytepp>(rows.data()));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}
}

bool PngWriter::writeRgb565(const std::string& path, const uint16_t* pixels, int32_t width, int32_t height,
                            int32_t stride) {
    if (width <= 0 || height <= 0 || stride < width) {
        LOGE(TAG, "Cannot write %s: picture of %d x %d\n", path.c_str(), width, height);
        return false;
    }
    std::vector<uint8_t> rgb(size_t(width) * height * 3);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const uint16_t c = pixels[size_t(y) * stride + x];
            const uint32_t r = (c >> 11) & 0x1F, g = (c >> 5) & 0x3F, b = c & 0x1F;
            uint8_t* out = &rgb[(size_t(y) * width + x) * 3];
            out[0] = uint8_t(r << 3 | r >> 2);
            out[1] = uint8_t(g << 2 | g >> 4);
            out[2] = uint8_t(b << 3 | b >> 2);
        }
    }
    std::vector<png_bytep> rows(static_cast<size_t>(height));
    for (int32_t y = 0; y < height; ++y) rows[size_t(y)] = &rgb[size_t(y) * width * 3];

    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        LOGE(TAG, "Cannot write %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    const bool encoded = encode(file, rows, width, height);
    const bool closed = std::fclose(file) == 0;
    if (!encoded || !closed) {
        LOGE(TAG, "Cannot write %s: PNG encoding failed\n", path.c_str());
        return false;
    }
    return true;
}

}
