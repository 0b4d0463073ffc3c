// The object tree through the test view: boxes from the layout pass, styles as resolved (theme, shared,
// own, checked state, inheritance), widgets' data. None of these depend on glyph shapes.
#include "ui/gfx/FontCache.h"
#include "ui/gfx/GfxTestView.h"
#include "tests/ui/gfx/Objects.h"

#include <gtest/gtest.h>

using gfx::GfxTestView;
using gfx::ObjectView;

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
    lv_obj_t* bar = lv_bar_create(lv_screen_active());
    lv_obj_t* label = lv_label_create(lv_screen_active());
    auto views = GfxTestView::snapshot();
    EXPECT_EQ(views[1].indicator.bgColor, 0xF44336u);
    EXPECT_EQ(views[2].main.textFont, &lv_font_montserrat_18);
    lv_display_set_theme(
        display, lv_theme_default_init(display, lv_palette_main(5), lv_palette_main(0), true, &lv_font_montserrat_14));
    views = GfxTestView::snapshot();
    EXPECT_EQ(views[1].indicator.bgColor, 0x2196F3u);
    EXPECT_EQ(views[2].main.textFont, &lv_font_montserrat_14);
    (void)bar;
    (void)label;
}

TEST(GfxTree, LabelsCutWithDotsOrWrap) {
    lv_obj_t* dots = objects::label(lv_screen_active(), 7, 6, 120, 29, "A rather long preset name",
                                    &lv_font_montserrat_24, 0xFFFFFF);
    lv_obj_t* wrap = objects::label(lv_screen_active(), 0, 40, 120, LV_SIZE_CONTENT, "A rather long preset name",
                                    &lv_font_montserrat_14, 0xFFFFFF, false);
    lv_obj_t* lines = lv_label_create(lv_screen_active());
    lv_label_set_text(lines, "one\ntwo");
    lv_obj_t* fits = objects::label(lv_screen_active(), 0, 100, 300, 29, "Short", &lv_font_montserrat_24, 0xFFFFFF);
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
    (void)dots, (void)wrap, (void)fits;
}

TEST(GfxTree, LineAndBarData) {
    static const lv_point_precise_t points[] = {{0, 0}, {306, 0}};
    lv_obj_t* rule = lv_line_create(lv_screen_active());
    lv_obj_set_pos(rule, 7, 33);
    lv_obj_set_size(rule, LV_SIZE_CONTENT, LV_SIZE_CONTENT);
    lv_line_set_points(rule, points, 2);
    lv_obj_t* scroll = lv_bar_create(lv_screen_active());
    lv_obj_set_size(scroll, 8, 125);
    lv_bar_set_range(scroll, 0, 8);
    lv_bar_set_mode(scroll, LV_BAR_MODE_RANGE);
    lv_bar_set_value(scroll, 7, LV_ANIM_OFF);
    lv_bar_set_start_value(scroll, 2, LV_ANIM_OFF);
    lv_obj_t* clamped = lv_bar_create(lv_screen_active());
    lv_bar_set_value(clamped, 140, LV_ANIM_OFF);
    lv_obj_t* reversed = lv_slider_create(lv_screen_active());
    lv_slider_set_range(reversed, 10, -10);
    lv_slider_set_value(reversed, -20, LV_ANIM_OFF);

    const auto views = GfxTestView::snapshot();
    ASSERT_EQ(views.size(), 5u);
    EXPECT_EQ(views[1].x, 7);
    EXPECT_EQ(views[1].y, 33);
    EXPECT_EQ(views[1].width, 306 + 2); // the points and the theme's 2-pixel width
    EXPECT_EQ(views[1].points.size(), 2u);
    EXPECT_EQ(views[2].barMode, LV_BAR_MODE_RANGE);
    EXPECT_EQ(views[2].rangeMax, 8);
    EXPECT_EQ(views[2].value, 7);
    EXPECT_EQ(views[2].startValue, 2);
    EXPECT_EQ(lv_bar_get_value(clamped), 100);
    EXPECT_EQ(views[4].rangeMin, -10);
    EXPECT_EQ(views[4].rangeMax, 10);
    EXPECT_EQ(lv_slider_get_value(reversed), -10);
    (void)rule;
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
