// fb2png: writes the framebuffer file (320 x 240 RGB565, as the host display writes it) as a PNG picture.
//   fb2png [FRAMEBUFFER [OUT.png]]
// FRAMEBUFFER defaults to $PEDAL_HOME/fb0, OUT.png to FRAMEBUFFER with ".png" appended.
#include "ui/gfx/Framebuffer.h"
#include "ui/gfx/PngWriter.h"

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc > 3 || (argc > 1 && (std::string(argv[1]) == "-h" || std::string(argv[1]) == "--help"))) {
        std::fprintf(stderr, "usage: %s [FRAMEBUFFER [OUT.png]]\n", argv[0]);
        return 2;
    }
    const std::string input = argc > 1 ? argv[1] : gfx::Framebuffer::resolvePath("/dev/fb0");
    const std::string output = argc > 2 ? argv[2] : input + ".png";
    constexpr int32_t width = gfx::Framebuffer::fileWidth, height = gfx::Framebuffer::fileHeight;

    std::ifstream file(input, std::ios::binary);
    std::vector<uint16_t> pixels(size_t(width) * height);
    if (!file.read(reinterpret_cast<char*>(pixels.data()), std::streamsize(pixels.size() * 2))) {
        std::fprintf(stderr, "%s: %s is not a %d x %d RGB565 framebuffer file\n", argv[0], input.c_str(), width,
                     height);
        return 1;
    }
    if (!gfx::PngWriter::writeRgb565(output, pixels.data(), width, height, width)) return 1;
    std::printf("%s\n", output.c_str());
    return 0;
}
