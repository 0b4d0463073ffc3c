// Renders representative screens to PNG files in the build folder (look at them), and checks what only
// pixels show: glyphs in the right colour and place, borders drawn over content, gradients, the hue strip,
// clipping to the parent, the framebuffer file and its offset.
#include "Canvas.h"
#include "GfxTestView.h"
#include "Screens.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using gfx::GfxTestView;

namespace {
void save(const std::string& name) {
    GfxTestView::render();
    ASSERT_TRUE(GfxTestView::savePng(std::string(PEDAL_TEST_OUT) + "/gfx_" + name + ".png"));
}
}

TEST(GfxPicture, RendersRepresentativeScreens) {
    screens::splash();
    save("splash");
    lv_obj_clean(lv_screen_active());

    screens::listPage("Amp \xB0 settings with a long title", {{"Gain", "5.5"}, {"Bass", "0.0 dB"}, {"Colour", "@"},
                          {"Tone stack", ""}, {"Presence", "70 %"}, {"Display gjpqy", "Lead"}, {"Back", "x"}}, 1, 2, 4);
    save("list");
    lv_obj_clean(lv_screen_active());

    screens::home(true);
    save("home");
    lv_obj_clean(lv_screen_active());

    screens::popup(1);
    save("popup");
    lv_obj_clean(lv_screen_active());

    screens::keyboard(14);
    save("keyboard");
    lv_obj_clean(lv_screen_active());

    screens::chain(3);
    screens::paramSlider(0, "Gain", nullptr, 40, 0xFF8000);
    screens::paramSlider(78, "Channel", "Lead", 0, 0xFF8000);
    save("chain");
    lv_obj_clean(lv_screen_active());

    screens::productSplash();
    save("product_splash");
    lv_obj_clean(lv_screen_active());

    screens::updateMode();
    save("update_mode");
    lv_obj_clean(lv_screen_active());

    screens::valuePopup();
    save("value_popup");
}

namespace {
uint32_t shown(uint32_t rgb) { return gfx::Canvas::fromRgb565(gfx::Canvas::toRgb565(rgb)); }
const uint32_t screenColour = shown(0x15171A);

std::vector<uint32_t> picture() {
    std::vector<uint32_t> pixels;
    for (int32_t y = 0; y < 170; ++y)
        for (int32_t x = 0; x < 320; ++x) pixels.push_back(GfxTestView::pixel(x, y));
    return pixels;
}

int countColour(const lv_area_t& area, uint32_t colour) {
    int count = 0;
    for (int32_t y = area.y1; y <= area.y2; ++y)
        for (int32_t x = area.x1; x <= area.x2; ++x) count += GfxTestView::pixel(x, y) == colour;
    return count;
}
}

TEST(GfxPicture, BorderSidesAndBorderAfterTheContent) {
    lv_obj_t* post = screens::valueBar(10, 10, 72, 17, 100, 0x777777, LV_BORDER_SIDE_FULL, 0);
    lv_obj_t* before = screens::valueBar(10, 40, 72, 17, 100, 0x777777, LV_BORDER_SIDE_FULL, 0);
    lv_obj_set_style_border_post(before, false, 0);
    screens::valueBar(10, 70, 72, 9, 0, 0x999999, LV_BORDER_SIDE_BOTTOM | LV_BORDER_SIDE_LEFT, 0);
    GfxTestView::render();
    EXPECT_EQ(GfxTestView::pixel(10, 18), 0xFFFFFFu);  // left border over the indicator
    EXPECT_EQ(GfxTestView::pixel(40, 10), 0xFFFFFFu);
    EXPECT_EQ(GfxTestView::pixel(40, 18), shown(0x777777));
    EXPECT_EQ(GfxTestView::pixel(10, 48), shown(0x777777));  // the indicator covers an earlier border
    EXPECT_EQ(GfxTestView::pixel(40, 78), 0xFFFFFFu);         // bottom
    EXPECT_EQ(GfxTestView::pixel(10, 74), 0xFFFFFFu);         // left
    EXPECT_EQ(GfxTestView::pixel(40, 70), screenColour);      // no top
    EXPECT_EQ(GfxTestView::pixel(81, 74), screenColour);      // no right
    (void)post;
}

TEST(GfxPicture, BarsFillFromTheLeftOrFromTheBottom) {
    lv_obj_t* horizontal = screens::valueBar(0, 0, 100, 10, 25, 0xFF0000, LV_BORDER_SIDE_NONE, 0);
    lv_obj_t* vertical = screens::valueBar(200, 0, 10, 100, 30, 0x00FF00, LV_BORDER_SIDE_NONE, 0);
    lv_obj_t* range = screens::valueBar(250, 0, 8, 100, 0, 0x0000FF, LV_BORDER_SIDE_NONE, 0);
    lv_bar_set_range(range, 0, 10);
    lv_bar_set_mode(range, LV_BAR_MODE_RANGE);
    lv_bar_set_value(range, 10, LV_ANIM_OFF);
    lv_bar_set_start_value(range, 5, LV_ANIM_OFF);  // the upper half
    GfxTestView::render();
    EXPECT_EQ(GfxTestView::pixel(24, 5), 0xFF0000u);
    EXPECT_EQ(GfxTestView::pixel(25, 5), screenColour);
    EXPECT_EQ(GfxTestView::pixel(205, 99), 0x00FF00u);
    EXPECT_EQ(GfxTestView::pixel(205, 70), 0x00FF00u);
    EXPECT_EQ(GfxTestView::pixel(205, 69), screenColour);
    EXPECT_EQ(GfxTestView::pixel(254, 0), 0x0000FFu);
    EXPECT_EQ(GfxTestView::pixel(254, 49), 0x0000FFu);
    EXPECT_EQ(GfxTestView::pixel(254, 50), screenColour);
    (void)horizontal, (void)vertical;
}

TEST(GfxPicture, VerticalGradientBetweenItsStops) {
    lv_obj_t* box = lv_obj_create(lv_screen_active());
    lv_obj_set_size(box, 50, 101);
    lv_obj_set_style_radius(box, 0, 0);
    lv_obj_set_style_border_width(box, 0, 0);
    lv_obj_set_style_bg_color(box, lv_color_hex(0xFF0000), 0);
    lv_obj_set_style_bg_grad_color(box, lv_color_hex(0x0000FF), 0);
    lv_obj_set_style_bg_grad_dir(box, LV_GRAD_DIR_VER, 0);
    lv_obj_set_style_bg_main_stop(box, 64, 0);
    lv_obj_set_style_bg_grad_stop(box, 192, 0);
    GfxTestView::render();
    EXPECT_EQ(GfxTestView::pixel(10, 0), 0xFF0000u);
    EXPECT_EQ(GfxTestView::pixel(10, 20), 0xFF0000u);  // above the main stop
    EXPECT_EQ(GfxTestView::pixel(10, 80), 0x0000FFu);  // past the gradient stop
    const uint32_t middle = GfxTestView::pixel(10, 50);
    EXPECT_NEAR(double(middle >> 16), 128, 12);
    EXPECT_NEAR(double(middle & 0xFF), 128, 12);
}

TEST(GfxPicture, TextInItsColourInsideItsBoxAndClippedToTheParent) {
    screens::panel(50);
    lv_obj_t* text = screens::label(lv_screen_active(), 10, 10, 200, 29, "Amp Gain", &lv_font_montserrat_24, 0xFFFFFF);
    lv_obj_t* small = lv_obj_create(lv_screen_active());
    lv_obj_set_pos(small, 100, 100);
    lv_obj_set_size(small, 30, 20);
    lv_obj_set_style_pad_all(small, 0, 0);
    lv_obj_set_style_border_width(small, 0, 0);
    lv_obj_set_style_radius(small, 0, 0);
    lv_obj_set_style_bg_color(small, lv_color_hex(0x000000), 0);
    screens::label(small, -10, 0, 200, 20, "WWWWWWWW", &lv_font_montserrat_20, 0xFF0000, false);
    GfxTestView::render();
    EXPECT_GT(countColour({10, 10, 209, 38}, 0xFFFFFF), 40);
    // Nothing white outside the label's box on the panel's black.
    const int everywhere = countColour({0, 0, 319, 169}, 0xFFFFFF);
    EXPECT_EQ(countColour({10, 10, 209, 38}, 0xFFFFFF), everywhere);
    EXPECT_GT(countColour({100, 100, 129, 119}, 0xFF0000), 10);
    EXPECT_EQ(countColour({0, 0, 319, 169}, 0xFF0000), countColour({100, 100, 129, 119}, 0xFF0000));
    (void)text;
}

TEST(GfxPicture, RawDegreeByteDrawsTheDegreeSign) {
    screens::panel(50);
    lv_obj_t* text = screens::label(lv_screen_active(), 10, 10, 200, 29, "21.5\xB0" "C", &lv_font_montserrat_24, 0xFFFFFF);
    GfxTestView::render();
    const auto raw = picture();
    lv_label_set_text(text, "21.5\xC2\xB0" "C");
    GfxTestView::render();
    EXPECT_EQ(picture(), raw);
    lv_label_set_text(text, "21.5C");
    GfxTestView::render();
    EXPECT_NE(picture(), raw);
}

TEST(GfxPicture, UnderlineRunsUnderTheText) {
    screens::panel(50);
    lv_obj_t* text = screens::label(lv_screen_active(), 10, 10, 200, 29, "Mm Vv", &lv_font_montserrat_20, 0xFFFFFF);
    const auto longestRun = [] {
        int best = 0;
        for (int32_t y = 10; y < 39; ++y) {
            int run = 0;
            for (int32_t x = 10; x < 210; ++x) {
                run = GfxTestView::pixel(x, y) == 0xFFFFFF ? run + 1 : 0;
                best = std::max(best, run);
            }
        }
        return best;
    };
    GfxTestView::render();
    const int plain = longestRun();
    lv_obj_set_style_text_decor(text, LV_TEXT_DECOR_UNDERLINE, 0);
    GfxTestView::render();
    EXPECT_LT(plain, 20);
    EXPECT_GT(longestRun(), 40);
}

TEST(GfxPicture, HueSliderShowsTheHuesAndItsKnob) {
    screens::panel(50);
    lv_obj_t* slider = screens::hueSlider(100, 50, 100, 0x00FFFF);
    GfxTestView::render();
    const auto dominant = [](uint32_t rgb) {
        const uint32_t r = rgb >> 16, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
        return r > g + 100 && r > b + 100 ? 'r' : g > r + 100 && g > b + 100 ? 'g' : b > r + 100 && b > g + 100 ? 'b' : '?';
    };
    EXPECT_EQ(dominant(GfxTestView::pixel(106, 55)), 'r');
    EXPECT_EQ(dominant(GfxTestView::pixel(130, 55)), 'g');
    EXPECT_EQ(dominant(GfxTestView::pixel(160, 55)), 'b');
    EXPECT_EQ(GfxTestView::pixel(189, 55), 0x00FFFFu);  // the knob at the right end, over the bar's ends
    EXPECT_EQ(GfxTestView::pixel(189, 48), 0x00FFFFu);
    (void)slider;
}

TEST(GfxPicture, SelectedTileGlows) {
    screens::panel(50);
    screens::tile(lv_screen_active(), 40, 40, 0xFF8000, "Amp", true, "");
    screens::tile(lv_screen_active(), 160, 40, 0xFF8000, "Amp", false, "");
    GfxTestView::render();
    EXPECT_EQ(GfxTestView::pixel(38, 60), 0xFFFFFFu);   // inside the spread, left of the first tile
    EXPECT_EQ(GfxTestView::pixel(158, 60), 0x000000u);  // nothing around the other one
    EXPECT_EQ(GfxTestView::pixel(60, 50), shown(0xFF8000));
}
