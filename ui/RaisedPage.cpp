#include "ui/RaisedPage.h"

#include "ui/EventDispatcher.h"
#include "ui/EventId.h"

RaisedPage::RaisedPage(bool passesFootswitches) : passesFootswitches(passesFootswitches) {}

bool RaisedPage::onEvent(int id) {
    if (!up()) return false;
    if (handle(id)) return true;
    if (EventId::isFootswitch(id)) return !passesFootswitches;
    if (EventId::isEncoderTurn(id) && showsTurns()) return false;
    if (EventId::isEncoderRelease(id)) EventDispatcher::offerUnraised(EventId::encoderLongRelease(id));
    return EventId::isEncoder(id) || id == EventId::Tick || id == EventId::Idle;
}

lv_obj_t* RaisedPage::panel() {
    lv_obj_t* panel = lv_obj_create(lv_screen_active());
    lv_obj_set_pos(panel, 0, 0);
    lv_obj_set_size(panel, 320, 170);
    lv_obj_set_style_pad_all(panel, 0, 0);
    lv_obj_set_style_radius(panel, 0, 0);
    lv_obj_set_style_border_width(panel, 0, 0);
    lv_obj_set_style_bg_color(panel, lv_color_hex(0x000000), 0);
    lv_obj_set_style_bg_opa(panel, LV_OPA_COVER, 0);
    return panel;
}

lv_obj_t* RaisedPage::label(lv_obj_t* parent, int32_t x, int32_t y, int32_t width, int32_t height,
                            const lv_font_t* font, uint32_t colour, lv_text_align_t align, const char* text) {
    lv_obj_t* l = lv_label_create(parent);
    lv_obj_set_pos(l, x, y);
    lv_obj_set_size(l, width, height);
    lv_label_set_long_mode(l, LV_LABEL_LONG_DOT);
    lv_obj_set_style_text_font(l, font, 0);
    lv_obj_set_style_text_align(l, align, 0);
    lv_obj_set_style_text_color(l, lv_color_hex(colour), 0);
    lv_label_set_text(l, text);
    return l;
}
