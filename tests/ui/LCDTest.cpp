// The display module: the default and custom splash, the framebuffer placement, and nothing drawn before
// the display is set up.
#include "ui/LCD.h"
#include "ui/gfx/Gfx.h"
#include "ui/gfx/GfxTestView.h"
#include "tests/ui/Pages.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using gfx::GfxTestView;
using gfx::ObjectView;

namespace {
std::vector<uint16_t> readFramebuffer() {
    std::ifstream file(pages::ownHome() + "/fb0", std::ios::binary);
    std::vector<uint16_t> pixels(320 * 240);
    file.read(reinterpret_cast<char*>(pixels.data()), std::streamsize(pixels.size() * 2));
    EXPECT_TRUE(file);
    return pixels;
}

uint32_t rgb565To888(uint16_t p) {
    const uint32_t r = (p >> 11) & 0x1F, g = (p >> 5) & 0x3F, b = p & 0x1F;
    return (((r << 3) | (r >> 2)) << 16) | (((g << 2) | (g >> 4)) << 8) | ((b << 3) | (b >> 2));
}

int centreX(const ObjectView& v) { return (v.box.x1 + v.box.x2 + 1) / 2; }
int centreY(const ObjectView& v) { return (v.box.y1 + v.box.y2 + 1) / 2; }

bool customSplashCalled = false;
void customSplash() {
    customSplashCalled = true;
    lv_obj_t* name = lv_label_create(lv_screen_active());
    lv_label_set_text(name, "Product");
    lv_obj_center(name);
}
}

TEST(LCD, DefaultSplash) {
    std::filesystem::remove_all(pages::ownHome());
    LCD::initialize();
    LCD::splash();
    const auto views = GfxTestView::snapshot();
    ASSERT_TRUE(GfxTestView::savePng(std::string(PEDAL_TEST_OUT) + "/ui_lcd_splash.png"));

    // The panel covers the display, black with a black 7-pixel border.
    const auto plain = GfxTestView::ofKind(views, "obj");
    ASSERT_EQ(plain.size(), 1u) << GfxTestView::describe(views);
    EXPECT_EQ(plain[0]->x, 0);
    EXPECT_EQ(plain[0]->y, 0);
    EXPECT_EQ(plain[0]->width, 320);
    EXPECT_EQ(plain[0]->height, 170);
    EXPECT_EQ(plain[0]->main.bgColor, 0x000000u);
    EXPECT_EQ(plain[0]->main.bgOpa, LV_OPA_COVER);
    EXPECT_EQ(plain[0]->main.borderWidth, 7);
    EXPECT_EQ(plain[0]->main.radius, 0);

    // "ZEMBO" large in the centre, "platform" small, below and to the right of it; both white.
    const ObjectView* name = GfxTestView::labelWithText(views, "ZEMBO");
    const ObjectView* platform = GfxTestView::labelWithText(views, "platform");
    ASSERT_TRUE(name && platform) << GfxTestView::describe(views);
    EXPECT_EQ(name->main.textFont, &lv_font_montserrat_48);
    EXPECT_EQ(platform->main.textFont, &lv_font_montserrat_14);
    EXPECT_EQ(name->main.textColor, 0xFFFFFFu);
    EXPECT_EQ(platform->main.textColor, 0xFFFFFFu);
    EXPECT_NEAR(centreX(*name), 160, 1);
    EXPECT_NEAR(centreY(*name), 85, 1);
    EXPECT_NEAR(centreX(*platform), 160 + 48, 1);
    EXPECT_NEAR(centreY(*platform), 85 + 30, 1);

    // Pixels: black in the border, white strokes in the name's box, the same picture in the framebuffer
    // file from row 35 on, nothing above it.
    GfxTestView::render();
    EXPECT_EQ(GfxTestView::pixel(3, 3), 0x000000u);
    EXPECT_EQ(GfxTestView::pixel(316, 166), 0x000000u);
    int white = 0;
    for (int y = name->box.y1; y <= name->box.y2; ++y) {
        for (int x = name->box.x1; x <= name->box.x2; ++x) white += GfxTestView::pixel(x, y) == 0xFFFFFFu;
    }
    EXPECT_GT(white, 100);
    const std::vector<uint16_t> file = readFramebuffer();
    for (int y = 0; y < 35; ++y) {
        for (int x = 0; x < 320; ++x) ASSERT_EQ(file[size_t(y * 320 + x)], 0) << x << "," << y;
    }
    for (int y = 0; y < 170; ++y) {
        for (int x = 0; x < 320; ++x) {
            ASSERT_EQ(rgb565To888(file[size_t((y + 35) * 320 + x)]), GfxTestView::pixel(x, y)) << x << "," << y;
        }
    }
}

TEST(LCD, CustomSplashReplacesTheDefault) {
    LCD::initialize();
    LCD::set_custom_splash(customSplash);
    LCD::splash();
    EXPECT_TRUE(customSplashCalled);
    const auto views = GfxTestView::snapshot();
    EXPECT_NE(GfxTestView::labelWithText(views, "Product"), nullptr);
    EXPECT_EQ(GfxTestView::labelWithText(views, "ZEMBO"), nullptr);
    EXPECT_EQ(GfxTestView::labelWithText(views, "platform"), nullptr);
}

TEST(LCD, FlushAndClearWaitForTheDisplay) {
    std::filesystem::remove_all(pages::ownHome());
    // Objects built before the display is set up stay, and nothing reaches the framebuffer.
    lv_label_set_text(lv_label_create(lv_screen_active()), "early");
    LCD::clear();
    LCD::flush();
    EXPECT_EQ(lv_obj_get_child_count(lv_screen_active()), 1u);
    EXPECT_FALSE(std::filesystem::exists(pages::ownHome() + "/fb0"));

    LCD::initialize();
    LCD::flush();
    EXPECT_TRUE(std::filesystem::exists(pages::ownHome() + "/fb0"));
    LCD::clear();
    EXPECT_EQ(lv_obj_get_child_count(lv_screen_active()), 0u);
    LCD::clear(); // an empty screen stays empty
    EXPECT_EQ(lv_obj_get_child_count(lv_screen_active()), 0u);
}
