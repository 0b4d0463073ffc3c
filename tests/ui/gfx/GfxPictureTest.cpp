// What only pixels show: glyphs in the right colour and place, borders drawn over content, gradients, the
// hue strip, clipping to the parent. The pages' own pictures are checked in the page tests.
#include "ui/gfx/Canvas.h"
#include "ui/gfx/GfxTestView.h"
#include "tests/ui/gfx/Objects.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using gfx::GfxTestView;

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
    lv_obj_t* post = objects::valueBar(10, 10, 72, 17, 100, 0x777777, LV_BORDER_SIDE_FULL);
    lv_obj_t* before = objects::valueBar(10, 40, 72, 17, 100, 0x777777, LV_BORDER_SIDE_FULL);
    lv_obj_set_style_border_post(before, false, 0);
    objects::valueBar(10, 70, 72, 9, 0, 0x999999, LV_BORDER_SIDE_BOTTOM | LV_BORDER_SIDE_LEFT);
    GfxTestView::render();
    EXPECT_EQ(GfxTestView::pixel(10, 18), 0xFFFFFFu); // left border over the indicator
    EXPECT_EQ(GfxTestView::pixel(40, 10), 0xFFFFFFu);
    EXPECT_EQ(GfxTestView::pixel(40, 18), shown(0x777777));
    EXPECT_EQ(GfxTestView::pixel(10, 48), shown(0x777777)); // the indicator covers an earlier border
    EXPECT_EQ(GfxTestView::pixel(40, 78), 0xFFFFFFu);       // bottom
    EXPECT_EQ(GfxTestView::pixel(10, 74), 0xFFFFFFu);       // left
    EXPECT_EQ(GfxTestView::pixel(40, 70), screenColour);    // no top
    EXPECT_EQ(GfxTestView::pixel(81, 74), screenColour);    // no right
    (void)post;
}

TEST(GfxPicture, BarsFillFromTheLeftOrFromTheBottom) {
    lv_obj_t* horizontal = objects::valueBar(0, 0, 100, 10, 25, 0xFF0000, LV_BORDER_SIDE_NONE);
    lv_obj_t* vertical = objects::valueBar(200, 0, 10, 100, 30, 0x00FF00, LV_BORDER_SIDE_NONE);
    lv_obj_t* range = objects::valueBar(250, 0, 8, 100, 0, 0x0000FF, LV_BORDER_SIDE_NONE);
    lv_bar_set_range(range, 0, 10);
    lv_bar_set_mode(range, LV_BAR_MODE_RANGE);
    lv_bar_set_value(range, 10, LV_ANIM_OFF);
    lv_bar_set_start_value(range, 5, LV_ANIM_OFF); // the upper half
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
    EXPECT_EQ(GfxTestView::pixel(10, 20), 0xFF0000u); // above the main stop
    EXPECT_EQ(GfxTestView::pixel(10, 80), 0x0000FFu); // past the gradient stop
    const uint32_t middle = GfxTestView::pixel(10, 50);
    EXPECT_NEAR(double(middle >> 16), 128, 12);
    EXPECT_NEAR(double(middle & 0xFF), 128, 12);
}

TEST(GfxPicture, TextInItsColourInsideItsBoxAndClippedToTheParent) {
    objects::panel();
    lv_obj_t* text = objects::label(lv_screen_active(), 10, 10, 200, 29, "Amp Gain", &lv_font_montserrat_24, 0xFFFFFF);
    lv_obj_t* small = lv_obj_create(lv_screen_active());
    lv_obj_set_pos(small, 100, 100);
    lv_obj_set_size(small, 30, 20);
    lv_obj_set_style_pad_all(small, 0, 0);
    lv_obj_set_style_border_width(small, 0, 0);
    lv_obj_set_style_radius(small, 0, 0);
    lv_obj_set_style_bg_color(small, lv_color_hex(0x000000), 0);
    objects::label(small, -10, 0, 200, 20, "WWWWWWWW", &lv_font_montserrat_20, 0xFF0000, false);
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
    objects::panel();
    lv_obj_t* text = objects::label(lv_screen_active(), 10, 10, 200, 29,
                                    "21.5\xB0"
                                    "C",
                                    &lv_font_montserrat_24, 0xFFFFFF);
    GfxTestView::render();
    const auto raw = picture();
    lv_label_set_text(text, "21.5\xC2\xB0"
                            "C");
    GfxTestView::render();
    EXPECT_EQ(picture(), raw);
    lv_label_set_text(text, "21.5C");
    GfxTestView::render();
    EXPECT_NE(picture(), raw);
}

TEST(GfxPicture, UnderlineRunsUnderTheText) {
    objects::panel();
    lv_obj_t* text = objects::label(lv_screen_active(), 10, 10, 200, 29, "Mm Vv", &lv_font_montserrat_20, 0xFFFFFF);
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
    objects::panel();
    lv_obj_t* slider = lv_slider_create(lv_screen_active());
    lv_obj_set_pos(slider, 100, 50);
    lv_obj_set_size(slider, 90, 10);
    lv_slider_set_value(slider, 100, LV_ANIM_OFF);
    lv_obj_set_style_bg_image_src(slider, &img_hue_10, 0);
    lv_obj_set_style_bg_image_tiled(slider, true, 0);
    lv_obj_set_style_bg_image_recolor_opa(slider, 8, 0);
    lv_obj_set_style_bg_opa(slider, LV_OPA_TRANSP, LV_PART_INDICATOR);
    lv_obj_set_style_bg_color(slider, lv_color_hex(0x00FFFF), LV_PART_KNOB);
    GfxTestView::render();
    const auto dominant = [](uint32_t rgb) {
        const uint32_t r = rgb >> 16, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
        return r > g + 100 && r > b + 100   ? 'r'
               : g > r + 100 && g > b + 100 ? 'g'
               : b > r + 100 && b > g + 100 ? 'b'
                                            : '?';
    };
    EXPECT_EQ(dominant(GfxTestView::pixel(106, 55)), 'r');
    EXPECT_EQ(dominant(GfxTestView::pixel(130, 55)), 'g');
    EXPECT_EQ(dominant(GfxTestView::pixel(160, 55)), 'b');
    EXPECT_EQ(GfxTestView::pixel(189, 55), 0x00FFFFu); // the knob at the right end, over the bar's ends
    EXPECT_EQ(GfxTestView::pixel(189, 48), 0x00FFFFu);
    (void)slider;
}
