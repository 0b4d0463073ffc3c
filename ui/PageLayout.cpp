#include "ui/PageLayout.h"

#include "core/Node.h"

namespace {
const uint32_t kWhite = 0xFFFFFF;
const uint32_t kBlack = 0x000000;
const int32_t kPanelBorder = 7;
const int32_t kLineLength = 306;
const int32_t kValueRightPadding = 4;
const int32_t kScrollBarLeft = 305;
const int32_t kScrollBarWidth = 8;
const int32_t kScrollBarHeight = 125;
}

void PageLayout::theme() {
    lv_screen_active(); // makes the display, should no page have drawn yet
    lv_display_t* display = lv_display_get_default();
    lv_theme_t* theme = lv_theme_default_init(display, lv_palette_main(LV_PALETTE_BLUE),
                                              lv_palette_main(LV_PALETTE_RED), true, &lv_font_montserrat_14);
    lv_display_set_theme(display, theme);
}

lv_obj_t* PageLayout::panel(int32_t gradientStop) {
    lv_obj_t* panel = lv_obj_create(lv_screen_active());
    lv_obj_set_pos(panel, 0, 0);
    lv_obj_set_size(panel, 320, 170);
    lv_obj_set_style_pad_all(panel, 0, 0);
    lv_obj_set_style_radius(panel, 0, 0);
    lv_obj_set_style_bg_color(panel, lv_color_hex(kBlack), 0);
    lv_obj_set_style_bg_opa(panel, LV_OPA_COVER, 0);
    lv_obj_set_style_bg_grad_dir(panel, LV_GRAD_DIR_VER, 0);
    lv_obj_set_style_bg_main_stop(panel, gradientStop, 0);
    lv_obj_set_style_bg_grad_stop(panel, gradientStop, 0);
    lv_obj_set_style_border_color(panel, lv_color_hex(kBlack), 0);
    lv_obj_set_style_border_width(panel, kPanelBorder, 0);
    return panel;
}

void PageLayout::frame(const std::string& title) {
    theme();
    panel(50);
    lv_obj_t* screen = lv_screen_active();

    static const lv_point_precise_t separator[] = {{0, 0}, {kLineLength, 0}};
    lv_obj_t* line = lv_line_create(screen);
    lv_obj_set_pos(line, 7, 33);
    lv_obj_set_size(line, LV_SIZE_CONTENT, LV_SIZE_CONTENT);
    lv_line_set_points(line, separator, 2);

    lv_obj_t* label = lv_label_create(screen);
    lv_obj_set_pos(label, 7, 6);
    lv_obj_set_size(label, 296, 29);
    lv_label_set_long_mode(label, LV_LABEL_LONG_MODE_DOTS);
    lv_obj_set_style_text_font(label, &lv_font_montserrat_24, 0);
    lv_obj_set_style_text_color(label, lv_color_hex(kWhite), 0);
    lv_label_set_text(label, title.c_str());
}

bool PageLayout::scrollBar(int count, int first) {
    if (!hasScrollBar(count)) return false;
    lv_obj_t* bar = lv_bar_create(lv_screen_active());
    lv_obj_set_pos(bar, kScrollBarLeft, kRowTop);
    lv_obj_set_size(bar, kScrollBarWidth, kScrollBarHeight);
    lv_bar_set_mode(bar, LV_BAR_MODE_RANGE);
    lv_bar_set_range(bar, 0, count);
    // A vertical bar fills from the bottom: counting from the top of the list downward, the indicator
    // covers exactly the rows of the window.
    lv_bar_set_value(bar, count - first, LV_ANIM_OFF);
    lv_bar_set_start_value(bar, count - kRows - first, LV_ANIM_OFF);
    lv_obj_set_style_bg_opa(bar, LV_OPA_COVER, LV_PART_INDICATOR);
    lv_obj_set_style_bg_color(bar, lv_color_hex(kWhite), LV_PART_INDICATOR);
    lv_obj_set_style_radius(bar, 0, LV_PART_INDICATOR);
    lv_obj_set_style_border_color(bar, lv_color_hex(kWhite), LV_PART_MAIN);
    lv_obj_set_style_border_width(bar, 1, LV_PART_MAIN);
    lv_obj_set_style_bg_opa(bar, LV_OPA_TRANSP, LV_PART_MAIN);
    lv_obj_set_style_radius(bar, 5, LV_PART_MAIN);
    return true;
}

lv_color_t PageLayout::textColour(bool selected) { return lv_color_hex(selected ? kBlack : kWhite); }

void PageLayout::highlight(int32_t y, int32_t width, bool selected) {
    lv_obj_t* box = lv_label_create(lv_screen_active());
    lv_label_set_text(box, "");
    lv_obj_set_pos(box, kRowLeft, y);
    lv_obj_set_size(box, width, kRowHeight);
    lv_obj_set_style_bg_color(box, lv_color_hex(selected ? kWhite : kBlack), 0);
    lv_obj_set_style_bg_opa(box, selected ? LV_OPA_COVER : LV_OPA_TRANSP, 0);
}

lv_obj_t* PageLayout::rowText(int32_t y, int32_t width, bool selected, const std::string& text) {
    lv_obj_t* label = lv_label_create(lv_screen_active());
    lv_obj_set_pos(label, 8, y + 1);
    lv_obj_set_size(label, width, 20);
    lv_label_set_long_mode(label, LV_LABEL_LONG_MODE_DOTS);
    lv_obj_set_style_text_font(label, &lv_font_montserrat_20, 0);
    lv_obj_set_style_text_color(label, textColour(selected), 0);
    lv_label_set_text(label, text.c_str());
    return label;
}

namespace {
lv_obj_t* valueLabel(int32_t y, int32_t width, bool selected, const char* text) {
    lv_obj_t* label = lv_label_create(lv_screen_active());
    lv_obj_set_pos(label, PageLayout::kValueLeft, y + 1);
    lv_obj_set_size(label, width, 20);
    lv_obj_set_style_text_font(label, &lv_font_montserrat_20, 0);
    lv_obj_set_style_text_align(label, LV_TEXT_ALIGN_RIGHT, 0);
    lv_obj_set_style_pad_right(label, kValueRightPadding, 0);
    lv_obj_set_style_text_color(label, PageLayout::textColour(selected), 0);
    lv_label_set_text(label, text);
    return label;
}
}

void PageLayout::valueColumn(const Node* child, int32_t y, int32_t width, bool selected) {
    if (!child) return;
    if (!child->isLeaf()) {
        // The minus and the chevron, three pixels apart, read together as an arrow.
        valueLabel(y, width - 136, selected, LV_SYMBOL_MINUS);
        valueLabel(y, width - 133, selected, LV_SYMBOL_RIGHT);
        return;
    }
    valueLabel(y, width - 133, selected, child->toString().c_str());
}

void PageLayout::moveDown(int& selected, int& first, int count) {
    if (selected >= count - 1) return;
    ++selected;
    if (selected >= first + kRows) ++first;
}

void PageLayout::moveUp(int& selected, int& first) {
    if (selected <= 0) return;
    --selected;
    if (selected < first) --first;
}
