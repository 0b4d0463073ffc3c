#pragma once
// Plain objects for the graphics layer's own tests: a black panel, a label, a bar with borders. The pages'
// looks are checked through the page classes in the user-interface tests, not here.
#include "ui/gfx/Gfx.h"

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
