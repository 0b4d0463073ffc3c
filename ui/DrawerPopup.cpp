#include "ui/DrawerPopup.h"

#include "ui/EventDispatcher.h"
#include "ui/EventId.h"
#include "ui/glcd/Glcd.h"
#include "ui/PageLayout.h"

#include <algorithm>
#include <vector>

namespace {
const uint32_t kWhite = 0xFFFFFF;
const uint32_t kBlack = 0x000000;
const char* const kButtons[] = {"Back", "Ok", "Save"};

// The texts of the buttons of a kind, left to right.
std::vector<const char*> buttonsOf(int kind) {
    if (kind == DrawerPopup::kOk) return {"Ok"};
    return {kButtons, kButtons + kind + 1};
}

lv_obj_t* addText(lv_obj_t* box, const std::string& text) {
    lv_obj_t* label = lv_msgbox_add_text(box, text.c_str());
    lv_obj_set_style_text_font(label, &lv_font_montserrat_18, 0);
    lv_obj_set_style_text_align(label, LV_TEXT_ALIGN_CENTER, 0);
    return label;
}

int textWidth(const char* text) { return glcd_drawStringFont(0, 0, text, glcd_font10, GLCD_MEASURE); }

void centredText(int y, int left, int width, const char* text, uint8_t mode) {
    const int x = left + std::max(0, (width - textWidth(text)) / 2);
    glcd_drawStringFont(uint8_t(x), uint8_t(y), text, glcd_font10, mode);
}
}

DrawerPopup::DrawerPopup(std::string title, std::string text, int kind, int* result)
    : title(std::move(title)), text(std::move(text)), kind(std::clamp(kind, kOk, kBackOkSave)), result(result) {
    if (this->kind == kBackOk && result && *result != 0) selected = 1;
}

bool DrawerPopup::draw() {
    PageLayout::theme();
    PageLayout::panel(0);
    lv_obj_t* box = lv_msgbox_create(lv_screen_active());
    lv_obj_set_size(box, 240, 120);
    lv_obj_set_style_pad_top(box, 15, 0);
    lv_obj_set_style_pad_bottom(box, 15, 0);
    addText(box, title);
    if (!text.empty()) addText(box, text);
    const std::vector<const char*> buttons = buttonsOf(kind);
    for (int i = 0; i < int(buttons.size()); ++i) {
        lv_obj_t* button = lv_msgbox_add_footer_button(box, buttons[i]);
        const bool isSelected = i == selected;
        lv_obj_set_style_border_color(button, lv_color_hex(kWhite), 0);
        lv_obj_set_style_border_width(button, 1, 0);
        lv_obj_set_style_bg_color(button, lv_color_hex(isSelected ? kWhite : kBlack), 0);
        lv_obj_set_style_bg_opa(button, LV_OPA_COVER, 0);
        lv_obj_set_style_text_color(button, lv_color_hex(isSelected ? kBlack : kWhite), 0);
    }
    drawMonochrome();
    return true;
}

void DrawerPopup::drawMonochrome() const {
    glcd_fillRect(0, 0, 127, 64, 0);
    glcd_drawRect(0, 0, 127, 63, 1);
    centredText(6, 0, 128, title.c_str(), 1);
    if (!text.empty()) centredText(20, 0, 128, text.c_str(), 1);
    const std::vector<const char*> buttons = buttonsOf(kind);
    const int width = 120 / int(buttons.size());
    for (int i = 0; i < int(buttons.size()); ++i) {
        const int left = 4 + i * width;
        const int right = left + width - 3;
        if (i == selected) {
            glcd_fillRect(uint8_t(left), 44, uint8_t(right), 59, 1);
        } else {
            glcd_drawRect(uint8_t(left), 44, uint8_t(right), 58, 1);
        }
        centredText(46, left, right - left + 1, buttons[i], i == selected ? 0 : 1);
    }
}

bool DrawerPopup::onEvent(int id) {
    switch (id) {
    case EventId::Encoder1Forward:
        if (selected < kind) ++selected;
        break;
    case EventId::Encoder1Back:
        if (selected > 0) --selected;
        break;
    case EventId::Encoder1Press:
        armed = true;
        break;
    case EventId::Encoder1ShortRelease:
        if (!armed) break;
        if (kind != kOk && result) *result = selected;
        EventDispatcher::addEvent(EventId::Close);
        break;
    default:
        break;
    }
    return true;
}
