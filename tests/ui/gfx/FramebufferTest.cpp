// The framebuffer file on the host: where it is, its size, the picture at its offset, and the PNG tool.
#include "ui/gfx/Framebuffer.h"
#include "ui/gfx/GfxTestView.h"
#include "tests/ui/gfx/Objects.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {
// Tests of one program share $PEDAL_HOME and may run at once: each works in a folder of its own.
std::string home() {
    static const std::string folder = [] {
        const auto* test = testing::UnitTest::GetInstance()->current_test_info();
        const std::string own = std::string(std::getenv("PEDAL_HOME")) + "/" + test->name();
        setenv("PEDAL_HOME", own.c_str(), 1);
        return own;
    }();
    return folder;
}

std::vector<uint16_t> readFramebuffer(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::vector<uint16_t> pixels(320 * 240);
    file.read(reinterpret_cast<char*>(pixels.data()), std::streamsize(pixels.size() * 2));
    EXPECT_TRUE(file) << path;
    return pixels;
}

// The display as the display module sets it up.
lv_display_t* openDisplay() {
    lv_init();
    lv_display_t* display = lv_linux_fbdev_create();
    lv_linux_fbdev_set_file(display, "/dev/fb0");
    lv_display_set_offset(display, 0, 35);
    lv_display_set_resolution(display, 320, 170);
    return display;
}
}

TEST(Framebuffer, HostFileLivesInTheStateFolder) {
    std::filesystem::remove_all(home());
    EXPECT_EQ(gfx::Framebuffer::resolvePath("/dev/fb0"), home() + "/fb0");
    EXPECT_EQ(gfx::Framebuffer::resolvePath("/tmp/picture"), "/tmp/picture");
    openDisplay();
    EXPECT_EQ(std::filesystem::file_size(home() + "/fb0"), 320u * 240u * 2u);
    EXPECT_EQ(lv_display_get_horizontal_resolution(nullptr), 320);
    EXPECT_EQ(lv_display_get_vertical_resolution(nullptr), 170);
}

TEST(Framebuffer, PictureGoesToRows35To204) {
    std::filesystem::create_directories(home());
    { // a file from an earlier run with other contents keeps them outside the picture
        std::ofstream old(home() + "/fb0", std::ios::binary | std::ios::trunc);
        std::vector<uint16_t> marks(320 * 240, 0x1234);
        old.write(reinterpret_cast<const char*>(marks.data()), std::streamsize(marks.size() * 2));
    }
    openDisplay();
    lv_obj_t* red = lv_obj_create(lv_screen_active());
    lv_obj_set_size(red, 320, 170);
    lv_obj_set_style_radius(red, 0, 0);
    lv_obj_set_style_border_width(red, 0, 0);
    lv_obj_set_style_bg_color(red, lv_color_hex(0xFF0000), 0);
    EXPECT_EQ(lv_timer_handler(), LV_NO_TIMER_READY);

    const auto pixels = readFramebuffer(home() + "/fb0");
    for (int32_t x : {0, 160, 319}) {
        EXPECT_EQ(pixels[34 * 320 + x], 0x1234);
        EXPECT_EQ(pixels[35 * 320 + x], 0xF800);
        EXPECT_EQ(pixels[204 * 320 + x], 0xF800);
        EXPECT_EQ(pixels[205 * 320 + x], 0x1234);
    }
}

TEST(Framebuffer, PictureAppearsInTheFileAndThePngTool) {
    std::filesystem::remove_all(home());
    openDisplay();
    objects::panel();
    objects::label(lv_screen_active(), 40, 50, 240, 60, "Picture", &lv_font_montserrat_48, 0xFFFFFF);
    lv_timer_handler();
    const std::string png = std::string(PEDAL_TEST_OUT) + "/gfx_framebuffer.png";
    std::filesystem::remove(png);
    const std::string command = std::string(FB2PNG) + " " + home() + "/fb0 " + png + " > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::ifstream file(png, std::ios::binary);
    char header[24] = {};
    file.read(header, sizeof header);
    EXPECT_EQ(std::string(header + 1, 3), "PNG");
    EXPECT_EQ(std::string(header + 12, 4), "IHDR");
    EXPECT_EQ(uint8_t(header[18]) << 8 | uint8_t(header[19]), 320); // width
    EXPECT_EQ(uint8_t(header[22]) << 8 | uint8_t(header[23]), 240); // height
    EXPECT_NE(std::system((std::string(FB2PNG) + " /nonexistent/fb0 2> /dev/null").c_str()), 0);
}

TEST(Framebuffer, AFramebufferThatCannotBeOpenedLeavesRenderingWorking) {
    std::filesystem::remove_all(home());
    std::filesystem::create_directories(home() + "/fb0"); // a folder where the file should be
    openDisplay();
    lv_obj_t* white = lv_obj_create(lv_screen_active());
    lv_obj_set_style_bg_color(white, lv_color_hex(0xFFFFFF), 0);
    lv_timer_handler();
    EXPECT_EQ(gfx::GfxTestView::pixel(20, 20), 0xFFFFFFu);
}
