#pragma once
// Screens drawn the way the pages draw them, for the rendering tests.
#include "Gfx.h"

#include <string>
#include <vector>

namespace screens {

inline void theme() {
    lv_display_t* display = lv_display_get_default();
    lv_display_set_theme(display, lv_theme_default_init(display, lv_palette_main(LV_PALETTE_BLUE),
                                                        lv_palette_main(LV_PALETTE_RED), true, &lv_font_montserrat_14));
}

inline lv_obj_t* panel(int32_t stop) {
    lv_obj_t* panel = lv_obj_create(lv_screen_active());
    lv_obj_set_pos(panel, 0, 0);
    lv_obj_set_size(panel, 320, 170);
    lv_obj_set_style_pad_all(panel, 0, 0);
    lv_obj_set_style_radius(panel, 0, 0);
    lv_obj_set_style_bg_color(panel, lv_color_hex(0x000000), 0);
    lv_obj_set_style_bg_opa(panel, LV_OPA_COVER, 0);
    lv_obj_set_style_bg_grad_dir(panel, LV_GRAD_DIR_VER, 0);
    lv_obj_set_style_bg_main_stop(panel, stop, 0);
    lv_obj_set_style_bg_grad_stop(panel, stop, 0);
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

inline lv_obj_t* separator() {
    static const lv_point_precise_t points[] = {{0, 0}, {306, 0}};
    lv_obj_t* line = lv_line_create(lv_screen_active());
    lv_obj_set_pos(line, 7, 33);
    lv_obj_set_size(line, LV_SIZE_CONTENT, LV_SIZE_CONTENT);
    lv_line_set_points(line, points, 2);
    return line;
}

// The display module's default splash.
inline void splash() {
    static lv_style_t large, small;
    panel(0);
    lv_style_init(&large);
    lv_style_set_text_font(&large, &lv_font_montserrat_48);
    lv_style_set_text_align(&large, LV_TEXT_ALIGN_CENTER);
    lv_obj_t* title = lv_label_create(lv_screen_active());
    lv_obj_add_style(title, &large, 0);
    lv_label_set_text(title, "ZEMBO");
    lv_obj_center(title);
    lv_obj_set_style_text_color(title, lv_color_hex(0xFFFFFF), 0);
    lv_style_init(&small);
    lv_style_set_text_font(&small, &lv_font_montserrat_14);
    lv_style_set_text_align(&small, LV_TEXT_ALIGN_CENTER);
    lv_obj_t* sub = lv_label_create(lv_screen_active());
    lv_obj_add_style(sub, &small, 0);
    lv_label_set_text(sub, "platform");
    lv_obj_align(sub, LV_ALIGN_CENTER, 48, 30);
    lv_obj_set_style_text_color(sub, lv_color_hex(0xFFFFFF), 0);
}

inline lv_obj_t* hueSlider(int32_t x, int32_t y, int32_t value, uint32_t knob) {
    lv_obj_t* s = lv_slider_create(lv_screen_active());
    lv_obj_set_pos(s, x, y);
    lv_obj_set_size(s, 90, 10);
    lv_slider_set_value(s, value, LV_ANIM_OFF);
    lv_obj_set_style_bg_image_src(s, &img_hue_10, 0);
    lv_obj_set_style_bg_image_tiled(s, true, 0);
    lv_obj_set_style_bg_image_recolor_opa(s, 8, 0);
    lv_obj_set_style_bg_opa(s, LV_OPA_TRANSP, LV_PART_INDICATOR);
    lv_obj_set_style_bg_color(s, lv_color_hex(knob), LV_PART_KNOB);
    return s;
}

// A list page: title, rule, five rows with a scroll bar, names with values or arrows.
struct Row {
    std::string name;
    std::string value;  // empty: a folder (arrow)
};
inline void listPage(const char* title, const std::vector<Row>& rows, int first, int selected, int editing = -1) {
    theme();
    panel(50);
    separator();
    label(lv_screen_active(), 7, 6, 296, 29, title, &lv_font_montserrat_24, 0xFFFFFF);
    const int count = int(rows.size());
    const bool bar = count > 5;
    if (bar) {
        lv_obj_t* b = lv_bar_create(lv_screen_active());
        lv_obj_set_pos(b, 305, 39);
        lv_obj_set_size(b, 8, 125);
        lv_bar_set_range(b, 0, count);
        lv_bar_set_mode(b, LV_BAR_MODE_RANGE);
        lv_bar_set_value(b, count - first, LV_ANIM_OFF);
        lv_bar_set_start_value(b, count - 5 - first, LV_ANIM_OFF);
        lv_obj_set_style_bg_opa(b, LV_OPA_COVER, LV_PART_INDICATOR);
        lv_obj_set_style_bg_color(b, lv_color_hex(0xFFFFFF), LV_PART_INDICATOR);
        lv_obj_set_style_radius(b, 0, LV_PART_INDICATOR);
        lv_obj_set_style_border_color(b, lv_color_hex(0xFFFFFF), 0);
        lv_obj_set_style_border_width(b, 1, 0);
        lv_obj_set_style_bg_opa(b, LV_OPA_TRANSP, 0);
        lv_obj_set_style_radius(b, 5, 0);
    }
    const int width = bar ? 292 : 306;
    for (int i = 0; i < 5 && first + i < count; ++i) {
        const int y = 39 + 25 * i;
        const Row& row = rows[size_t(first + i)];
        const bool isSelected = first + i == selected;
        const uint32_t text = isSelected ? 0x000000 : 0xFFFFFF;
        if (first + i != editing) {
            lv_obj_t* h = lv_label_create(lv_screen_active());
            lv_label_set_text(h, "");
            lv_obj_set_pos(h, 7, y);
            lv_obj_set_size(h, width, 25);
            lv_obj_set_style_bg_color(h, lv_color_hex(isSelected ? 0xFFFFFF : 0x000000), 0);
            lv_obj_set_style_bg_opa(h, isSelected ? LV_OPA_COVER : LV_OPA_TRANSP, 0);
        }
        label(lv_screen_active(), 8, y + 1, 240, 20, row.name.c_str(), &lv_font_montserrat_20,
              first + i == editing ? 0xFFFFFF : text);
        if (first + i == editing) {
            lv_obj_t* v = lv_label_create(lv_screen_active());
            lv_obj_align(v, LV_ALIGN_TOP_RIGHT, bar ? -21 : -7, y);
            lv_obj_set_size(v, LV_SIZE_CONTENT, 25);
            lv_obj_set_style_text_font(v, &lv_font_montserrat_20, 0);
            lv_obj_set_style_pad_top(v, 1, 0);
            lv_obj_set_style_pad_left(v, 4, 0);
            lv_obj_set_style_pad_right(v, 4, 0);
            lv_obj_set_style_bg_color(v, lv_color_hex(isSelected ? 0xFFFFFF : 0x000000), 0);
            lv_obj_set_style_bg_opa(v, isSelected ? LV_OPA_COVER : LV_OPA_TRANSP, 0);
            lv_obj_set_style_text_color(v, lv_color_hex(isSelected ? 0x000000 : 0xFFFFFF), 0);
            lv_label_set_text(v, row.value.c_str());
        } else if (row.value == "@") {  // a colour item: the hue slider in place of the value
            hueSlider(bar ? 199 : 213, y + 7, 8, 0xFF8000);
        } else if (row.value.empty()) {
            for (const auto& [symbol, w] : {std::pair{LV_SYMBOL_MINUS, width - 136}, std::pair{LV_SYMBOL_RIGHT, width - 133}}) {
                lv_obj_t* a = label(lv_screen_active(), 140, y + 1, w, 20, symbol, &lv_font_montserrat_20, text, false);
                lv_obj_set_style_text_align(a, LV_TEXT_ALIGN_RIGHT, 0);
                lv_obj_set_style_pad_right(a, 4, 0);
            }
        } else {
            lv_obj_t* v = label(lv_screen_active(), 140, y + 1, width - 133, 20, row.value.c_str(),
                                &lv_font_montserrat_20, text, false);
            lv_obj_set_style_text_align(v, LV_TEXT_ALIGN_RIGHT, 0);
            lv_obj_set_style_pad_right(v, 4, 0);
        }
    }
}

inline lv_obj_t* valueBar(int32_t x, int32_t y, int32_t w, int32_t h, int32_t value, uint32_t colour,
                          lv_border_side_t sides, int32_t radius) {
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
    lv_obj_set_style_radius(b, radius, 0);
    lv_obj_set_style_border_post(b, true, 0);
    return b;
}

inline void paramSlider(int32_t x, const char* name, const char* value, int32_t level, uint32_t colour) {
    valueBar(x + 7, 146, 72, 17, level, colour, value ? LV_BORDER_SIDE_TOP : LV_BORDER_SIDE_FULL, 5);
    if (value) {
        lv_obj_t* v = label(lv_screen_active(), x + 6, 148, 74, 16, value, &lv_font_montserrat_14, 0xFFFFFF);
        lv_obj_set_style_text_align(v, LV_TEXT_ALIGN_CENTER, 0);
    }
    lv_obj_t* n = lv_label_create(lv_screen_active());
    lv_obj_set_pos(n, x + 7, 129);
    lv_obj_set_size(n, 72, 16);
    lv_label_set_long_mode(n, LV_LABEL_LONG_DOT);
    lv_obj_set_style_text_align(n, LV_TEXT_ALIGN_CENTER, 0);
    lv_label_set_text(n, name);
}

// The home screen's normal view.
inline void home(bool edited) {
    theme();
    panel(50);
    separator();
    if (edited) {
        lv_obj_t* w = label(lv_screen_active(), 217, 9, 23, 29, LV_SYMBOL_WARNING, &lv_font_montserrat_18, 0xFF8800);
        (void)w;
    }
    label(lv_screen_active(), 7, 6, edited ? 203 : 231, 29, "Crunchy Lead Tone With Delay", &lv_font_montserrat_24,
          0xFFFFFF);
    lv_obj_t* number = lv_label_create(lv_screen_active());
    lv_obj_set_pos(number, 5, 37);
    lv_obj_set_size(number, 209, 84);
    lv_obj_set_style_text_font(number, &ui_font_arzet_light102, 0);
    lv_obj_set_style_text_align(number, LV_TEXT_ALIGN_LEFT, 0);
    lv_obj_set_style_radius(number, 10, 0);
    lv_obj_set_style_text_color(number, lv_color_hex(0xFAFAFA), 0);
    lv_obj_set_style_text_letter_space(number, -4, 0);
    lv_obj_set_style_pad_bottom(number, 1, 0);
    lv_label_set_text_fmt(number, "%02d%c", 12, 'B');
    const char* tempo[3] = {"120", ".", "0"};
    const int32_t xs[3] = {229, 283, 298}, ws[3] = {60, 17, 14};
    for (int i = 0; i < 3; ++i) {
        lv_obj_t* t = lv_label_create(lv_screen_active());
        lv_obj_set_pos(t, xs[i], 8);
        lv_obj_set_size(t, ws[i], LV_SIZE_CONTENT);
        lv_obj_set_style_text_font(t, &ui_font_arzet24, 0);
        lv_obj_set_style_text_align(t, LV_TEXT_ALIGN_RIGHT, 0);
        lv_label_set_text(t, tempo[i]);
    }
    paramSlider(0, "Low", nullptr, 35, 0xFFFFFF);
    paramSlider(78, "Mid", nullptr, 50, 0xFFFFFF);
    paramSlider(156, "Treble", nullptr, 72, 0xFFFFFF);
    paramSlider(234, "Gain", nullptr, 90, 0xFFFFFF);
    for (const auto& [text, y] : {std::pair{"in", 77}, std::pair{"out", 102}}) {
        lv_obj_t* l = lv_label_create(lv_screen_active());
        lv_obj_set_pos(l, 209, y);
        lv_obj_set_size(l, 26, 16);
        lv_label_set_long_mode(l, LV_LABEL_LONG_DOT);
        lv_obj_set_style_text_align(l, LV_TEXT_ALIGN_RIGHT, 0);
        lv_obj_set_style_text_font(l, &lv_font_montserrat_14, 0);
        lv_label_set_text(l, text);
    }
    valueBar(241, 48, 72, 17, 64, 0xFFFFFF, LV_BORDER_SIDE_FULL, 5);
    lv_obj_t* vol = lv_label_create(lv_screen_active());
    lv_obj_set_pos(vol, 204, 49);
    lv_obj_set_size(vol, 31, 16);
    lv_label_set_long_mode(vol, LV_LABEL_LONG_DOT);
    lv_obj_set_style_text_align(vol, LV_TEXT_ALIGN_RIGHT, 0);
    lv_label_set_text(vol, "Vol");
    const int32_t meterY[4] = {110, 101, 84, 75};
    const int32_t meterValue[4] = {60, 55, 80, 100};
    for (int i = 0; i < 4; ++i)
        valueBar(241, meterY[i], 72, 9, meterValue[i], i == 3 ? 0xFF0000 : 0x999999,
                 lv_border_side_t(LV_BORDER_SIDE_BOTTOM | LV_BORDER_SIDE_LEFT), 1);
}

// A two-line message box with three buttons, the middle one selected.
inline void popup(int selected) {
    theme();
    panel(0);
    lv_obj_t* box = lv_msgbox_create(lv_screen_active());
    lv_obj_set_size(box, 240, 120);
    lv_obj_set_style_pad_top(box, 15, 0);
    lv_obj_set_style_pad_bottom(box, 15, 0);
    for (const char* text : {"Discard changes?", "Preset 01A"}) {
        lv_obj_t* t = lv_msgbox_add_text(box, text);
        lv_obj_set_style_text_font(t, &lv_font_montserrat_18, 0);
        lv_obj_set_style_text_align(t, LV_TEXT_ALIGN_CENTER, 0);
    }
    int index = 0;
    for (const char* text : {"Back", "Ok", "Save"}) {
        lv_obj_t* b = lv_msgbox_add_footer_button(box, text);
        lv_obj_set_style_border_color(b, lv_color_hex(0xFFFFFF), 0);
        lv_obj_set_style_border_width(b, 1, 0);
        lv_obj_set_style_bg_color(b, lv_color_hex(index == selected ? 0xFFFFFF : 0x000000), 0);
        lv_obj_set_style_text_color(b, lv_color_hex(index == selected ? 0x000000 : 0xFFFFFF), 0);
        ++index;
    }
}

// The keyboard page in lower case with one key highlighted.
inline void keyboard(uint32_t selectedKey) {
    static const char* const lower[] = {"123", "a", "b", "c", "d", "e", "f", "g", "h", "i", "j", LV_SYMBOL_BACKSPACE, "\n",
                                        "ABC", "k", "l", "m", "n", "o", "p", "q", "r", "s", "t", LV_SYMBOL_OK, "\n",
                                        "u", "v", "w", "x", "y", "z", "_", "-", " ", LV_SYMBOL_CLOSE, nullptr};
    static const lv_buttonmatrix_ctrl_t lowerCtrl[] = {8, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 6, 8, 4, 4, 4, 4, 4, 4,
                                                       4, 4, 4, 4, 6, 4, 4, 4, 4, 4, 4, 4, 4, 6, 6};
    static lv_style_t pressed;
    static bool initialised = false;
    if (!initialised) {
        lv_style_init(&pressed);
        lv_style_set_bg_color(&pressed, lv_color_hex(0xFFFFFF));
        lv_style_set_bg_opa(&pressed, LV_OPA_COVER);
        lv_style_set_text_color(&pressed, lv_color_hex(0x000000));
        initialised = true;
    }
    theme();
    panel(50);
    separator();
    label(lv_screen_active(), 7, 6, 296, 29, "Save as...", &lv_font_montserrat_24, 0xFFFFFF);
    label(lv_screen_active(), 7, 43, 306, 25, "Clean Sparkle", &lv_font_montserrat_20, 0xFFFFFF);
    lv_obj_t* kb = lv_keyboard_create(lv_screen_active());
    lv_keyboard_set_map(kb, LV_KEYBOARD_MODE_USER_1, lower, lowerCtrl);
    lv_keyboard_set_mode(kb, LV_KEYBOARD_MODE_USER_1);
    lv_obj_add_style(kb, &pressed, LV_PART_ITEMS | LV_STATE_CHECKED);
    lv_obj_set_pos(kb, 6, 73);
    lv_obj_set_size(kb, 308, 90);
    lv_buttonmatrix_set_button_ctrl(kb, selectedKey, LV_BUTTONMATRIX_CTRL_CHECKED);
}

// One block tile on the chain strip.
inline void tile(lv_obj_t* parent, int32_t x, int32_t y, uint32_t colour, const char* name, bool selected,
                 const char* corner) {
    static const lv_point_precise_t points[] = {{0, 0}, {95, 0}};
    lv_obj_t* line = lv_line_create(parent);
    lv_obj_set_pos(line, x - 20, y + 30);
    lv_obj_set_size(line, LV_SIZE_CONTENT, LV_SIZE_CONTENT);
    lv_line_set_points(line, points, 2);
    lv_obj_t* button = lv_button_create(parent);
    lv_obj_set_pos(button, x, y);
    lv_obj_set_size(button, 55, 55);
    lv_obj_set_style_border_color(button, lv_color_hex(0xFFFFFF), 0);
    lv_obj_set_style_border_width(button, 1, 0);
    lv_obj_set_style_radius(button, 5, 0);
    if (selected) {
        lv_obj_set_style_shadow_width(button, 1, 0);
        lv_obj_set_style_shadow_color(button, lv_color_hex(0xFFFFFF), 0);
        lv_obj_set_style_shadow_spread(button, 3, 0);
    }
    lv_obj_set_style_bg_color(button, lv_color_hex(colour), 0);
    const bool bright = colour & 0xE0E0E0;
    lv_obj_t* n = lv_label_create(button);
    lv_obj_set_size(n, LV_SIZE_CONTENT, LV_SIZE_CONTENT);
    lv_obj_align(n, LV_ALIGN_CENTER, 0, 0);
    lv_label_set_text(n, name);
    lv_obj_set_style_text_color(n, lv_color_hex(bright ? 0x000000 : 0x777777), 0);
    lv_obj_t* c = lv_label_create(button);
    lv_obj_set_size(c, LV_SIZE_CONTENT, LV_SIZE_CONTENT);
    lv_obj_align(c, LV_ALIGN_CENTER, 18, 15);
    lv_label_set_text(c, corner);
    lv_obj_set_style_text_color(c, lv_color_hex(bright ? 0x000000 : 0xFFFFFF), 0);
}

inline lv_obj_t* chain(int cursor) {
    theme();
    panel(50);
    separator();
    label(lv_screen_active(), 7, 6, 304, 29, "Clean Sparkle", &lv_font_montserrat_24, cursor < 0 ? 0xFFFFFF : 0x777777);
    lv_obj_t* strip = lv_obj_create(lv_screen_active());
    lv_obj_set_pos(strip, 7, 35);
    lv_obj_set_size(strip, 306, 110);
    lv_obj_set_style_pad_all(strip, 0, 0);
    lv_obj_set_style_bg_opa(strip, LV_OPA_TRANSP, 0);
    lv_obj_set_style_border_width(strip, 0, 0);
    lv_obj_set_style_radius(strip, 0, 0);
    lv_obj_remove_flag(strip, LV_OBJ_FLAG_SCROLLABLE);
    const struct {
        const char* name;
        uint32_t colour;
        bool on;
    } blocks[] = {{"Gate", 0x00C0FF, true}, {"Comp", 0xFFD000, false}, {"Drive", 0xFF4000, true},
                  {"Amp", 0xFF8000, true},  {"Cab", 0x80FF00, true},    {"Delay", 0x00FF80, true}};
    for (int i = 0; i < 6; ++i) {
        const uint32_t c = blocks[i].on ? blocks[i].colour : (blocks[i].colour >> 3) & 0x1F1F1F;
        tile(strip, 20 + 75 * i, 20, c, blocks[i].name, i == cursor, i == 2 ? "1" : "");
    }
    lv_obj_scroll_to_x(strip, cursor * 50, LV_ANIM_OFF);
    return strip;
}

// The product splash and the recovery screen: large centred texts.
inline void productSplash() {
    theme();
    lv_obj_t* name = label(lv_screen_active(), 0, 54, 320, 45, "Corvinhallow", &lv_font_montserrat_28, 0xFFFFFF);
    lv_obj_set_style_text_align(name, LV_TEXT_ALIGN_CENTER, 0);
    lv_obj_t* pro = label(lv_screen_active(), 126, 82, 179, 48, "PRO", &lv_font_montserrat_40, 0xFFFFFF);
    lv_obj_set_style_text_align(pro, LV_TEXT_ALIGN_CENTER, 0);
}

inline void updateMode() {
    theme();
    lv_obj_t* title = lv_label_create(lv_screen_active());
    lv_obj_set_pos(title, 0, 40);
    lv_obj_set_size(title, 320, 51);
    lv_label_set_long_mode(title, LV_LABEL_LONG_DOT);
    lv_obj_set_style_text_font(title, &lv_font_montserrat_40, 0);
    lv_obj_set_style_text_align(title, LV_TEXT_ALIGN_CENTER, 0);
    lv_label_set_text(title, "Update Mode");
    lv_obj_t* hint = lv_label_create(lv_screen_active());
    lv_obj_set_pos(hint, 78, 129);
    lv_obj_set_size(hint, 235, 29);
    lv_label_set_long_mode(hint, LV_LABEL_LONG_DOT);
    lv_obj_set_style_text_font(hint, &lv_font_montserrat_16, 0);
    lv_label_set_text(hint, "press BROWSE for settings");
}

// The home screen's value popup for one parameter.
inline void valuePopup() {
    theme();
    lv_obj_t* bar = valueBar(25, 76, 270, 30, 63, 0xFF8000, LV_BORDER_SIDE_FULL, 5);
    (void)bar;
    lv_obj_t* name = label(lv_screen_active(), 25, 51, 270, 29, "Drive Gain", &lv_font_montserrat_20, 0xFFFFFF);
    lv_obj_set_style_text_align(name, LV_TEXT_ALIGN_LEFT, 0);
    lv_obj_t* value = label(lv_screen_active(), 25, 51, 270, 29, "6.3", &lv_font_montserrat_20, 0xFFFFFF);
    lv_obj_set_style_text_align(value, LV_TEXT_ALIGN_RIGHT, 0);
}

}
