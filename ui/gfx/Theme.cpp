#include "ui/gfx/Theme.h"

namespace gfx {

namespace {
struct Surfaces {
    uint32_t screen;
    uint32_t card;
    uint32_t cardBorder;
    uint32_t text;
    uint32_t key;
    uint32_t line;
};
constexpr Surfaces darkSurfaces{0x15171A, 0x282B30, 0x3A3D42, 0xFFFFFF, 0x3B3E42, 0x9E9E9E};
constexpr Surfaces lightSurfaces{0xF5F5F5, 0xFFFFFF, 0xE0E0E0, 0x212121, 0xE6E6E6, 0x9E9E9E};

lv_style_t& rule(lv_theme_t& theme, Kind kind, lv_style_selector_t selector) {
    theme.rules.push_back({kind, selector, lv_style_t{}});
    return theme.rules.back().style;
}
}

void Theme::build(lv_theme_t& theme) {
    const Surfaces& s = theme.dark ? darkSurfaces : lightSurfaces;
    theme.rules.clear();
    const lv_color_t primary = theme.primary;

    lv_style_t* style = &rule(theme, Kind::Screen, LV_PART_MAIN);
    lv_style_set_bg_color(style, lv_color_hex(s.screen));
    lv_style_set_bg_opa(style, LV_OPA_COVER);
    lv_style_set_text_color(style, lv_color_hex(s.text));
    lv_style_set_text_font(style, theme.font ? theme.font : &lv_font_montserrat_14);

    for (Kind card : {Kind::Obj, Kind::Msgbox}) {
        style = &rule(theme, card, LV_PART_MAIN);
        lv_style_set_bg_color(style, lv_color_hex(s.card));
        lv_style_set_bg_opa(style, LV_OPA_COVER);
        lv_style_set_border_color(style, lv_color_hex(s.cardBorder));
        lv_style_set_border_width(style, card == Kind::Obj ? 1 : 0);
        lv_style_set_radius(style, 8);
        lv_style_set_pad_all(style, 12);
        lv_style_set_pad_row(style, 8);
        lv_style_set_pad_column(style, 8);
    }
    style = &rule(theme, Kind::MsgboxFooter, LV_PART_MAIN);
    lv_style_set_pad_column(style, 8);

    style = &rule(theme, Kind::Line, LV_PART_MAIN);
    lv_style_set_line_color(style, lv_color_hex(s.line));
    lv_style_set_line_width(style, 2);

    for (Kind bar : {Kind::Bar, Kind::Slider}) {
        style = &rule(theme, bar, LV_PART_MAIN);
        lv_style_set_bg_color(style, primary);
        lv_style_set_bg_opa(style, LV_OPA_50);
        lv_style_set_radius(style, LV_RADIUS_CIRCLE);
        style = &rule(theme, bar, LV_PART_INDICATOR);
        lv_style_set_bg_color(style, primary);
        lv_style_set_bg_opa(style, LV_OPA_COVER);
        lv_style_set_radius(style, LV_RADIUS_CIRCLE);
    }
    style = &rule(theme, Kind::Slider, LV_PART_KNOB);
    lv_style_set_bg_color(style, primary);
    lv_style_set_bg_opa(style, LV_OPA_COVER);
    lv_style_set_radius(style, LV_RADIUS_CIRCLE);
    lv_style_set_pad_all(style, 3);

    style = &rule(theme, Kind::Button, LV_PART_MAIN);
    lv_style_set_bg_color(style, primary);
    lv_style_set_bg_opa(style, LV_OPA_COVER);
    lv_style_set_radius(style, 6);
    lv_style_set_pad_top(style, 6);
    lv_style_set_pad_bottom(style, 6);
    lv_style_set_pad_left(style, 12);
    lv_style_set_pad_right(style, 12);
    lv_style_set_text_color(style, lv_color_hex(0xFFFFFF));

    style = &rule(theme, Kind::Keyboard, LV_PART_MAIN);
    lv_style_set_bg_color(style, lv_color_hex(s.card));
    lv_style_set_bg_opa(style, LV_OPA_COVER);
    lv_style_set_pad_all(style, 4);
    lv_style_set_pad_row(style, 4);
    lv_style_set_pad_column(style, 4);
    style = &rule(theme, Kind::Keyboard, LV_PART_ITEMS);
    lv_style_set_bg_color(style, lv_color_hex(s.key));
    lv_style_set_bg_opa(style, LV_OPA_COVER);
    lv_style_set_radius(style, 4);
    lv_style_set_text_color(style, lv_color_hex(s.text));
    lv_style_set_text_align(style, LV_TEXT_ALIGN_CENTER);
    style = &rule(theme, Kind::Keyboard, LV_PART_ITEMS | LV_STATE_CHECKED);
    lv_style_set_bg_color(style, primary);
    lv_style_set_text_color(style, lv_color_hex(0xFFFFFF));
}

}
