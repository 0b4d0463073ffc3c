// The graphics layer. The object tree through the test view: boxes from the layout pass, styles as resolved

// (theme, shared, own, checked state, inheritance), widgets' data. What only pixels show: glyphs in the right
// colour and place, borders drawn over content, gradients, the hue strip, clipping to the parent. Text:
// UTF-8 reading with Latin-1 for stray bytes, the faces behind the fonts (WOFF through FreeType, symbols from
// the symbol face), line heights of the program's fonts, and what happens without font files. The framebuffer
// file on the host: where it is, its size, the picture at its offset, and the PNG tool. The pages' own
// pictures are checked in the page tests.
#include "ui/gfx/Canvas.h"
#include "ui/gfx/FontCache.h"
#include "ui/gfx/Framebuffer.h"
#include "ui/gfx/Gfx.h"
#include "ui/gfx/GfxTestView.h"
#include "ui/gfx/TextLayout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using gfx::FontCache;
using gfx::GfxTestView;
using gfx::ObjectView;
using gfx::TextLayout;

// Each case starts with a new display and the faces of the font package, also when the whole program runs in
// one process.
class FreshDisplay : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override {
        unsetenv("PEDAL_FONT_DIR");
        unsetenv("PEDAL_SYMBOL_FONT");
        lv_deinit();
    }
};
const bool freshDisplayInstalled = (testing::UnitTest::GetInstance()->listeners().Append(new FreshDisplay), true);

// Plain objects for the graphics layer's own tests: a black panel, a label, a bar with borders. The pages'
// looks are checked through the page classes in the user-interface tests, not here.
namespace objects {

// A screen-sized black panel with a 7-pixel black border.
inline lv_obj_t* panel() {
    lv_obj_t* panel = lv_obj_create(lv_screen_active());
    lv_obj_set_pos(panel, 0, 0);
    lv_obj_set_size(panel, 320, 170);
    lv_obj_set_style_pad_all(panel, 0, 0);
    lv_obj_set_style_radius(panel, 0, 0);
    lv_obj_set_style_bg_color(panel, lv_color_hex(0x000000), 0);
    lv_obj_set_style_bg_opa(panel, LV_OPA_COVER, 0);
    lv_obj_set_style_border_color(panel, lv_color_hex(0x000000), 0);
    lv_obj_set_style_border_width(panel, 7, 0);
    return panel;
}

inline lv_obj_t* label(lv_obj_t* parent, int32_t x, int32_t y, int32_t w, int32_t h, const char* text,
                       const lv_font_t* font, uint32_t colour, bool dots = true) {
    lv_obj_t* l = lv_label_create(parent);
    lv_obj_set_pos(l, x, y);
    lv_obj_set_size(l, w, h);
    if (dots) lv_label_set_long_mode(l, LV_LABEL_LONG_DOT);
    lv_obj_set_style_text_font(l, font, 0);
    lv_obj_set_style_text_color(l, lv_color_hex(colour), 0);
    lv_label_set_text(l, text);
    return l;
}

// A bar whose indicator is drawn in colour, with a white border on the given sides drawn after it.
inline lv_obj_t* valueBar(int32_t x, int32_t y, int32_t w, int32_t h, int32_t value, uint32_t colour,
                          lv_border_side_t sides) {
    lv_obj_t* b = lv_bar_create(lv_screen_active());
    lv_obj_set_pos(b, x, y);
    lv_obj_set_size(b, w, h);
    lv_bar_set_value(b, value, LV_ANIM_OFF);
    lv_obj_set_style_bg_opa(b, LV_OPA_COVER, LV_PART_INDICATOR);
    lv_obj_set_style_bg_color(b, lv_color_hex(colour), LV_PART_INDICATOR);
    lv_obj_set_style_radius(b, 0, LV_PART_INDICATOR);
    lv_obj_set_style_border_color(b, lv_color_hex(0xFFFFFF), 0);
    lv_obj_set_style_border_width(b, 1, 0);
    lv_obj_set_style_border_side(b, sides, 0);
    lv_obj_set_style_bg_opa(b, LV_OPA_TRANSP, 0);
    lv_obj_set_style_radius(b, 0, 0);
    lv_obj_set_style_border_post(b, true, 0);
    return b;
}

}

namespace {
const ObjectView& only(const std::vector<ObjectView>& views, const std::string& kind) {
    const auto found = GfxTestView::ofKind(views, kind);
    EXPECT_EQ(found.size(), 1u) << GfxTestView::describe(views);
    return *found.at(0);
}
}

TEST(GfxTree, ScreenIsTheDisplayWithTheDarkTheme) {
    lv_display_t* display = lv_linux_fbdev_create();
    EXPECT_EQ(display, lv_display_get_default());
    EXPECT_EQ(display, lv_linux_fbdev_create());
    lv_display_set_resolution(display, 320, 170);
    const auto views = GfxTestView::snapshot();
    ASSERT_EQ(views.size(), 1u);
    EXPECT_EQ(views[0].kind, "screen");
    EXPECT_EQ(views[0].width, 320);
    EXPECT_EQ(views[0].height, 170);
    EXPECT_EQ(views[0].main.bgOpa, LV_OPA_COVER);
    EXPECT_EQ(views[0].main.bgColor, 0x15171Au);
    EXPECT_EQ(views[0].main.textColor, 0xFFFFFFu);
    EXPECT_EQ(views[0].main.textFont, &lv_font_montserrat_14);
}

TEST(GfxTree, PositionsFollowAlignmentParentContentAndScroll) {
    lv_obj_t* parent = lv_obj_create(lv_screen_active());
    lv_obj_set_pos(parent, 10, 20);
    lv_obj_set_size(parent, 200, 100);
    lv_obj_set_style_pad_all(parent, 5, 0);
    lv_obj_set_style_border_width(parent, 2, 0);
    struct Case {
        lv_align_t align;
        int32_t dx, dy;
        int32_t x, y; // expected top left of a 20 x 10 child
    } cases[] = {
        {LV_ALIGN_DEFAULT, 3, 4, 10 + 7 + 3, 20 + 7 + 4},
        {LV_ALIGN_TOP_LEFT, 0, 0, 17, 27},
        {LV_ALIGN_TOP_RIGHT, -7, 2, 17 + 186 - 20 - 7, 27 + 2},
        {LV_ALIGN_CENTER, 0, 0, 17 + (186 - 20) / 2, 27 + (86 - 10) / 2},
        {LV_ALIGN_CENTER, 48, 30, 17 + (186 - 20) / 2 + 48, 27 + (86 - 10) / 2 + 30},
        {LV_ALIGN_BOTTOM_MID, 0, -1, 17 + 83, 27 + 86 - 10 - 1},
    };
    for (const Case& c : cases) {
        lv_obj_t* child = lv_obj_create(parent);
        lv_obj_set_size(child, 20, 10);
        lv_obj_align(child, c.align, c.dx, c.dy);
    }
    const auto views = GfxTestView::snapshot(parent);
    ASSERT_EQ(views.size(), 1 + std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(views[i + 1].x, cases[i].x) << "case " << i;
        EXPECT_EQ(views[i + 1].y, cases[i].y) << "case " << i;
        EXPECT_EQ(views[i + 1].width, 20);
        EXPECT_EQ(views[i + 1].height, 10);
    }
}

TEST(GfxTree, ScrollShiftsChildrenWithinTheirReach) {
    // Six 55-pixel buttons 75 apart on a 306-pixel strip that does not scroll by itself, and a line that
    // reaches past the last one: 375 + 97 = 472.
    lv_obj_t* strip = lv_obj_create(lv_screen_active());
    lv_obj_set_pos(strip, 7, 35);
    lv_obj_set_size(strip, 306, 110);
    lv_obj_set_style_pad_all(strip, 0, 0);
    lv_obj_set_style_border_width(strip, 0, 0);
    lv_obj_remove_flag(strip, LV_OBJ_FLAG_SCROLLABLE);
    for (int i = 0; i < 6; ++i) {
        lv_obj_t* button = lv_button_create(strip);
        lv_obj_set_pos(button, 20 + 75 * i, 20);
        lv_obj_set_size(button, 55, 55);
    }
    static const lv_point_precise_t points[] = {{0, 0}, {95, 0}};
    lv_obj_t* line = lv_line_create(strip);
    lv_obj_set_pos(line, 375, 50);
    lv_obj_set_size(line, LV_SIZE_CONTENT, LV_SIZE_CONTENT);
    lv_line_set_points(line, points, 2);
    lv_obj_scroll_to_x(strip, 150, LV_ANIM_OFF);
    auto views = GfxTestView::snapshot(strip);
    EXPECT_EQ(views[0].scrollRequest, 150);
    EXPECT_EQ(views[0].scrollX, 150);
    EXPECT_FALSE(lv_obj_has_flag(strip, LV_OBJ_FLAG_SCROLLABLE));
    const auto buttons = GfxTestView::ofKind(views, "button");
    ASSERT_EQ(buttons.size(), 6u);
    EXPECT_EQ(buttons[0]->x, 7 + 20 - 150);
    EXPECT_EQ(buttons[3]->x, 7 + 20 + 225 - 150);

    lv_obj_scroll_to_x(strip, 1000, LV_ANIM_OFF);
    views = GfxTestView::snapshot(strip);
    EXPECT_EQ(views[0].scrollX, 472 - 306);

    lv_obj_scroll_to_x(strip, -50, LV_ANIM_OFF);
    views = GfxTestView::snapshot(strip);
    EXPECT_EQ(views[0].scrollRequest, -50);
    EXPECT_EQ(views[0].scrollX, 0);
}

TEST(GfxTree, StylesLayerThemeSharedOwnAndCheckedState) {
    static lv_style_t blue, green, checked;
    lv_style_init(&blue);
    lv_style_set_bg_color(&blue, lv_color_hex(0x0000FF));
    lv_style_set_radius(&blue, 3);
    lv_style_init(&green);
    lv_style_set_bg_color(&green, lv_color_hex(0x00FF00));
    lv_style_init(&checked);
    lv_style_set_bg_color(&checked, lv_color_hex(0xFFFFFF));

    lv_obj_create(nullptr); // themed only
    lv_obj_t* shared = lv_obj_create(nullptr);
    lv_obj_add_style(shared, &blue, 0);
    lv_obj_add_style(shared, &green, 0); // added later: wins
    lv_obj_t* own = lv_obj_create(nullptr);
    lv_obj_add_style(own, &green, 0);
    lv_obj_set_style_bg_color(own, lv_color_hex(0x123456), 0);
    lv_obj_add_style(own, &blue, 0); // own properties still win
    lv_obj_t* check = lv_obj_create(nullptr);
    lv_obj_set_style_bg_color(check, lv_color_hex(0x654321), 0);
    lv_obj_add_style(check, &checked, LV_PART_MAIN | LV_STATE_CHECKED);

    auto views = GfxTestView::snapshot();
    ASSERT_EQ(views.size(), 5u);
    EXPECT_EQ(views[1].main.bgColor, 0x282B30u); // the theme's card
    EXPECT_EQ(views[1].main.radius, 8);
    EXPECT_EQ(views[2].main.bgColor, 0x00FF00u);
    EXPECT_EQ(views[2].main.radius, 3);
    EXPECT_EQ(views[3].main.bgColor, 0x123456u);
    EXPECT_EQ(views[4].main.bgColor, 0x654321u);
    lv_obj_add_state(check, LV_STATE_CHECKED);
    views = GfxTestView::snapshot();
    EXPECT_EQ(views[4].main.bgColor, 0xFFFFFFu);

    // Re-initialising a shared style empties it.
    lv_style_init(&green);
    views = GfxTestView::snapshot();
    EXPECT_EQ(views[2].main.bgColor, 0x0000FFu);
}

TEST(GfxTree, TextPropertiesComeFromTheParentOthersDoNot) {
    lv_obj_t* box = lv_obj_create(lv_screen_active());
    lv_obj_set_style_text_color(box, lv_color_hex(0xFF8800), 0);
    lv_obj_set_style_text_font(box, &lv_font_montserrat_20, 0);
    lv_obj_set_style_bg_color(box, lv_color_hex(0x00FF00), 0);
    lv_obj_t* inner = lv_label_create(box);
    lv_obj_t* own = lv_label_create(box);
    lv_obj_set_style_text_color(own, lv_color_hex(0x0000FF), 0);
    lv_obj_t* button = lv_button_create(box); // the theme gives buttons their own text colour
    lv_obj_t* inButton = lv_label_create(button);
    const auto views = GfxTestView::snapshot(box);
    auto viewOf = [&](const lv_obj_t* o) {
        for (const auto& v : views)
            if (v.object == o) return v;
        return ObjectView{};
    };
    EXPECT_EQ(viewOf(inner).main.textColor, 0xFF8800u);
    EXPECT_EQ(viewOf(inner).main.textFont, &lv_font_montserrat_20);
    EXPECT_EQ(viewOf(inner).main.bgOpa, LV_OPA_TRANSP);
    EXPECT_EQ(viewOf(own).main.textColor, 0x0000FFu);
    EXPECT_EQ(viewOf(inButton).main.textColor, 0xFFFFFFu);
    EXPECT_EQ(viewOf(inButton).main.textFont, &lv_font_montserrat_20);
}

TEST(GfxTree, ThemeFollowsItsLatestSettings) {
    lv_display_t* display = lv_linux_fbdev_create();
    lv_display_set_theme(display,
                         lv_theme_default_init(display, lv_palette_main(LV_PALETTE_RED),
                                               lv_palette_main(LV_PALETTE_BLUE), true, &lv_font_montserrat_18));
    lv_bar_create(lv_screen_active());
    lv_label_create(lv_screen_active());
    auto views = GfxTestView::snapshot();
    EXPECT_EQ(views[1].indicator.bgColor, 0xF44336u);
    EXPECT_EQ(views[2].main.textFont, &lv_font_montserrat_18);
    lv_display_set_theme(
        display, lv_theme_default_init(display, lv_palette_main(5), lv_palette_main(0), true, &lv_font_montserrat_14));
    views = GfxTestView::snapshot();
    EXPECT_EQ(views[1].indicator.bgColor, 0x2196F3u);
    EXPECT_EQ(views[2].main.textFont, &lv_font_montserrat_14);
}

TEST(GfxTree, LabelsCutWithDotsOrWrap) {
    objects::label(lv_screen_active(), 7, 6, 120, 29, "A rather long preset name", &lv_font_montserrat_24, 0xFFFFFF);
    objects::label(lv_screen_active(), 0, 40, 120, LV_SIZE_CONTENT, "A rather long preset name", &lv_font_montserrat_14,
                   0xFFFFFF, false);
    lv_obj_t* lines = lv_label_create(lv_screen_active());
    lv_label_set_text(lines, "one\ntwo");
    objects::label(lv_screen_active(), 0, 100, 300, 29, "Short", &lv_font_montserrat_24, 0xFFFFFF);
    const auto views = GfxTestView::snapshot();
    ASSERT_EQ(views.size(), 5u);
    ASSERT_EQ(views[1].lines.size(), 1u);
    EXPECT_EQ(views[1].lines[0].substr(views[1].lines[0].size() - 3), "...");
    EXPECT_EQ(views[1].lines[0].rfind("A rather", 0), 0u);
    EXPECT_GT(views[2].lines.size(), 1u);
    EXPECT_EQ(views[2].lines[0].rfind("A rather", 0), 0u);
    EXPECT_EQ(views[2].height, // grew to its lines
              int32_t(views[2].lines.size()) * gfx::FontCache::instance().metrics(&lv_font_montserrat_14).lineHeight);
    EXPECT_EQ(views[3].lines, (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(views[4].lines, std::vector<std::string>{"Short"});
}

TEST(GfxTree, LineAndBarData) {
    static const lv_point_precise_t points[] = {{0, 0}, {306, 0}};
    lv_obj_t* rule = lv_line_create(lv_screen_active());
    lv_obj_set_pos(rule, 7, 33);
    lv_obj_set_size(rule, LV_SIZE_CONTENT, LV_SIZE_CONTENT);
    lv_line_set_points(rule, points, 2);
    lv_obj_t* clamped = lv_bar_create(lv_screen_active());
    lv_bar_set_value(clamped, 140, LV_ANIM_OFF);
    lv_obj_t* reversed = lv_slider_create(lv_screen_active());
    lv_slider_set_range(reversed, 10, -10);
    lv_slider_set_value(reversed, -20, LV_ANIM_OFF);

    const auto views = GfxTestView::snapshot();
    ASSERT_EQ(views.size(), 4u);
    EXPECT_EQ(views[1].x, 7);
    EXPECT_EQ(views[1].y, 33);
    EXPECT_EQ(views[1].width, 306 + 2); // the points and the theme's 2-pixel width
    EXPECT_EQ(views[1].points.size(), 2u);
    EXPECT_EQ(lv_bar_get_value(clamped), 100);
    EXPECT_EQ(views[3].rangeMin, -10);
    EXPECT_EQ(views[3].rangeMax, 10);
    EXPECT_EQ(lv_slider_get_value(reversed), -10);
}

TEST(GfxTree, MessageBoxStacksTextsAndSharesItsFooter) {
    lv_obj_t* box = lv_msgbox_create(lv_screen_active());
    lv_obj_set_size(box, 240, 120);
    lv_obj_set_style_pad_top(box, 15, 0);
    lv_obj_set_style_pad_bottom(box, 15, 0);
    for (const char* text : {"First line", "Second line"}) lv_msgbox_add_text(box, text);
    for (const char* text : {"Back", "Ok", "Save"}) lv_msgbox_add_footer_button(box, text);
    const auto views = GfxTestView::snapshot();
    const ObjectView& shown = only(views, "msgbox");
    EXPECT_EQ(shown.x, 40) << "centred on the screen";
    EXPECT_EQ(shown.y, 25);
    const auto buttons = GfxTestView::ofKind(views, "button");
    ASSERT_EQ(buttons.size(), 3u);
    EXPECT_EQ(buttons[2]->box.y2, shown.box.y2 - 15);
    EXPECT_NEAR(buttons[0]->width, buttons[2]->width, 1);
    EXPECT_LT(buttons[0]->box.x2, buttons[1]->x);
    const ObjectView* first = GfxTestView::labelWithText(views, "First line");
    const ObjectView* second = GfxTestView::labelWithText(views, "Second line");
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->y, shown.y + 15);
    EXPECT_GE(second->y, first->box.y2);
    EXPECT_LT(second->box.y2, buttons[0]->y);
}

TEST(GfxTree, KeyboardKeysFollowTheirWidthsAndCheckedFlag) {
    static const char* const keys[] = {"wide", "a", "b", "mid", "\n", "c", "d", ""};
    static const lv_buttonmatrix_ctrl_t widths[] = {8, 4, 4, 6, 4, 4};
    lv_obj_t* board = lv_keyboard_create(lv_screen_active());
    lv_obj_set_pos(board, 6, 73);
    lv_obj_set_size(board, 308, 90);
    lv_keyboard_set_map(board, LV_KEYBOARD_MODE_USER_1, keys, widths);
    lv_keyboard_set_mode(board, LV_KEYBOARD_MODE_USER_1);
    lv_buttonmatrix_set_button_ctrl(board, 2, LV_BUTTONMATRIX_CTRL_CHECKED);
    const auto views = GfxTestView::snapshot();
    const ObjectView& keyboard = only(views, "keyboard");
    ASSERT_EQ(keyboard.keys.size(), 6u);
    EXPECT_EQ(keyboard.keys[0].text, "wide");
    // Within a row, widths follow 8 : 4 : 4 : 6 and fill it inside the 4-pixel padding.
    const auto w = [&](size_t i) { return keyboard.keys[i].box.x2 - keyboard.keys[i].box.x1 + 1; };
    EXPECT_NEAR(w(0), 2 * w(1), 2);
    EXPECT_NEAR(w(3) * 2, 3 * w(1), 2);
    EXPECT_EQ(keyboard.keys[0].box.x1, 6 + 4);
    EXPECT_EQ(keyboard.keys[3].box.x2, 6 + 308 - 4 - 1);
    EXPECT_EQ(keyboard.keys[0].box.y1, keyboard.keys[1].box.y1);
    EXPECT_GT(keyboard.keys[4].box.y1, keyboard.keys[0].box.y2);
    for (size_t i = 0; i < keyboard.keys.size(); ++i) EXPECT_EQ(keyboard.keys[i].checked, i == 2) << i;
    // A new mode brings that map's own control words: the highlight is gone until set again.
    lv_obj_t* kb = const_cast<lv_obj_t*>(keyboard.object);
    static const char* const digits[] = {"1", "2", "\n", "3", ""};
    static const lv_buttonmatrix_ctrl_t digitCtrl[] = {1, 1, 2};
    lv_keyboard_set_map(kb, LV_KEYBOARD_MODE_USER_3, digits, digitCtrl);
    lv_keyboard_set_mode(kb, LV_KEYBOARD_MODE_USER_3);
    const auto after = GfxTestView::snapshot(kb);
    ASSERT_EQ(after[0].keys.size(), 3u);
    EXPECT_FALSE(after[0].keys[2].checked);
    EXPECT_EQ(after[0].keys[2].box.x1, 6 + 4);
    EXPECT_EQ(after[0].keys[2].box.x2, 6 + 308 - 4 - 1);
}

TEST(GfxTree, CleanAndDeleteRemoveObjects) {
    lv_obj_t* screen = lv_screen_active();
    lv_obj_t* keep = lv_obj_create(screen);
    lv_obj_t* gone = lv_obj_create(screen);
    lv_label_create(gone);
    lv_obj_delete(gone);
    EXPECT_EQ(lv_obj_get_child_count(screen), 1u);
    EXPECT_EQ(lv_obj_get_parent(keep), screen);
    lv_obj_t* box = lv_msgbox_create(screen);
    lv_msgbox_add_text(box, "kept");
    lv_obj_clean(box);
    EXPECT_NE(lv_msgbox_add_text(box, "again"), nullptr); // the box rebuilds its content area
    lv_obj_clean(screen);
    lv_obj_clean(screen); // an empty screen stays empty
    EXPECT_EQ(lv_obj_get_child_count(screen), 0u);
    lv_obj_delete(screen); // the screen itself stays
    EXPECT_EQ(GfxTestView::snapshot().size(), 1u);
}

namespace {
uint32_t shown(uint32_t rgb) { return gfx::Canvas::fromRgb565(gfx::Canvas::toRgb565(rgb)); }
const uint32_t screenColour = shown(0x15171A);

int countColour(const lv_area_t& area, uint32_t colour) {
    int count = 0;
    for (int32_t y = area.y1; y <= area.y2; ++y)
        for (int32_t x = area.x1; x <= area.x2; ++x) count += GfxTestView::pixel(x, y) == colour;
    return count;
}
}

TEST(GfxPicture, BorderSidesAndBorderAfterTheContent) {
    objects::valueBar(10, 10, 72, 17, 100, 0x777777, LV_BORDER_SIDE_FULL);
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
}

TEST(GfxPicture, BarsFillFromTheLeftOrFromTheBottom) {
    objects::valueBar(0, 0, 100, 10, 25, 0xFF0000, LV_BORDER_SIDE_NONE);
    objects::valueBar(200, 0, 10, 100, 30, 0x00FF00, LV_BORDER_SIDE_NONE);
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
    objects::label(lv_screen_active(), 10, 10, 200, 29, "Amp Gain", &lv_font_montserrat_24, 0xFFFFFF);
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
}

TEST(GfxText, Utf8WithLatin1ForStrayBytes) {
    struct Case {
        std::string text;
        std::vector<uint32_t> codepoints;
    } cases[] = {
        {"Ab", {'A', 'b'}},
        {"\xC2\xB0"
         "C",
         {0xB0, 'C'}}, // degree sign, valid UTF-8
        {"\xB0"
         "C",
         {0xB0, 'C'}},                                  // the raw byte: Latin-1
        {"\xE2\x82\xAC", {0x20AC}},                     // euro sign
        {"\xF0\x9F\x8E\xB8", {0x1F3B8}},                // four bytes
        {"\xEF\x81\xB1", {0xF071}},                     // a symbol
        {"\xC0\xAF", {0xC0, 0xAF}},                     // overlong
        {"\xE0\x80\xAF", {0xE0, 0x80, 0xAF}},           // overlong, three bytes
        {"\xED\xA0\x80", {0xED, 0xA0, 0x80}},           // surrogate
        {"\xF4\x90\x80\x80", {0xF4, 0x90, 0x80, 0x80}}, // past U+10FFFF
        {"\xE2\x82", {0xE2, 0x82}},                     // truncated at the end
        {"\xE9t\xE9", {0xE9, 't', 0xE9}},               // Latin-1 text
    };
    for (const Case& c : cases) {
        std::vector<uint32_t> read;
        for (size_t pos = 0; pos < c.text.size();) read.push_back(TextLayout::nextCodepoint(c.text, pos));
        EXPECT_EQ(read, c.codepoints) << c.text;
    }
}

TEST(GfxText, MontserratLoadsFromTheWoffFilesAndSymbolsFromTheSymbolFace) {
    FontCache& fonts = FontCache::instance();
    const gfx::Glyph& letter = fonts.glyph(&lv_font_montserrat_14, 'A');
    EXPECT_GT(letter.width, 5);
    EXPECT_GT(letter.advance, 5);
    EXPECT_GT(fonts.glyph(&lv_font_montserrat_14, 0xB0).width, 0);
    for (const char* symbol :
         {LV_SYMBOL_RIGHT, LV_SYMBOL_MINUS, LV_SYMBOL_WARNING, LV_SYMBOL_OK, LV_SYMBOL_CLOSE, LV_SYMBOL_BACKSPACE}) {
        size_t pos = 0;
        const gfx::Glyph& g = fonts.glyph(&lv_font_montserrat_20, TextLayout::nextCodepoint(symbol, pos));
        EXPECT_GT(g.width, 3) << symbol;
        EXPECT_GT(g.height, 0) << symbol;
    }
    // Larger sizes give taller lines; the program's fonts have the line heights asked for.
    int32_t previous = 0;
    for (const lv_font_t* font :
         {&lv_font_montserrat_14, &lv_font_montserrat_18, &lv_font_montserrat_24, &lv_font_montserrat_48}) {
        EXPECT_GT(fonts.metrics(font).lineHeight, previous) << font->name;
        previous = fonts.metrics(font).lineHeight;
    }
    EXPECT_EQ(fonts.metrics(&ui_font_arzet_light102).lineHeight, 101);
    EXPECT_EQ(fonts.metrics(&ui_font_arzet24).lineHeight, 24);
    EXPECT_LE(fonts.metrics(&ui_font_arzet_light102).ascent, 101);
    EXPECT_GT(fonts.glyph(&ui_font_arzet_light102, '0').height, 50);
}

TEST(GfxText, LetterSpaceAndWidth) {
    const int32_t plain = TextLayout::width("01A", &ui_font_arzet_light102, 0);
    EXPECT_EQ(TextLayout::width("01A", &ui_font_arzet_light102, -4), plain - 8);
    EXPECT_EQ(TextLayout::width("", &lv_font_montserrat_14, 5), 0);
    // The 209-pixel preset number label holds the widest bank text.
    EXPECT_LE(TextLayout::width("20C", &ui_font_arzet_light102, -4), 209);
}

TEST(GfxText, MissingFontFilesDrawNothingButKeepTheLayout) {
    setenv("PEDAL_FONT_DIR", "/nonexistent-fonts", 1);
    setenv("PEDAL_SYMBOL_FONT", "/nonexistent-fonts/symbols.ttf", 1);
    lv_obj_t* label = lv_label_create(lv_screen_active());
    lv_obj_set_width(label, 100);
    lv_label_set_text(label, "No glyphs here but a box");
    lv_obj_set_style_text_color(label, lv_color_hex(0xFFFFFF), 0);
    const auto views = gfx::GfxTestView::snapshot();
    ASSERT_EQ(views.size(), 2u);
    EXPECT_GT(views[1].height, 0);
    EXPECT_FALSE(views[1].lines.empty());
    gfx::GfxTestView::render();
    for (int32_t y = 0; y < 170; ++y)
        for (int32_t x = 0; x < 320; ++x) ASSERT_EQ(gfx::GfxTestView::pixel(x, y), screenColour) << x << "," << y;
}

namespace {
// The test's own empty state folder, made by the test main.
std::string home() { return std::getenv("PEDAL_HOME"); }

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
    EXPECT_EQ(gfx::Framebuffer::resolvePath("/dev/fb0"), home() + "/fb0");
    EXPECT_EQ(gfx::Framebuffer::resolvePath("/tmp/picture"), "/tmp/picture");
    openDisplay();
    EXPECT_EQ(std::filesystem::file_size(home() + "/fb0"), 320u * 240u * 2u);
    EXPECT_EQ(lv_display_get_horizontal_resolution(nullptr), 320);
    EXPECT_EQ(lv_display_get_vertical_resolution(nullptr), 170);
}

TEST(Framebuffer, PictureGoesToRows35To204) {
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
    std::filesystem::create_directories(home() + "/fb0"); // a folder where the file should be
    openDisplay();
    lv_obj_t* white = lv_obj_create(lv_screen_active());
    lv_obj_set_style_bg_color(white, lv_color_hex(0xFFFFFF), 0);
    lv_timer_handler();
    EXPECT_EQ(gfx::GfxTestView::pixel(20, 20), 0xFFFFFFu);
}
