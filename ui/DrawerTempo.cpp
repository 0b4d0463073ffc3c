#include "ui/DrawerTempo.h"

#include "ui/EventId.h"
#include "ui/gfx/Gfx.h"
#include "core/NodeFloat.h"
#include "blocks/Tempo.h"

#include <string>

namespace {
const uint32_t kBackground = 0x000000;
const uint32_t kTitleColour = 0x9E9E9E;
const uint32_t kTempoColour = 0xFFFFFF;
const uint32_t kAccent = 0xFF9800;

lv_obj_t* label(lv_obj_t* parent, int32_t x, int32_t y, int32_t width, int32_t height, const lv_font_t* font,
                uint32_t colour, const char* text) {
    lv_obj_t* l = lv_label_create(parent);
    lv_obj_set_pos(l, x, y);
    lv_obj_set_size(l, width, height);
    lv_label_set_long_mode(l, LV_LABEL_LONG_DOT);
    lv_obj_set_style_text_font(l, font, 0);
    lv_obj_set_style_text_align(l, LV_TEXT_ALIGN_CENTER, 0);
    lv_obj_set_style_text_color(l, lv_color_hex(colour), 0);
    lv_label_set_text(l, text);
    return l;
}
}

DrawerTempo::DrawerTempo(Tempo* tempo) : tempo(tempo) {}

bool DrawerTempo::counting() const { return tempo && tempo->manualStatus(); }

bool DrawerTempo::draw() {
    if (!counting()) return false;
    lv_obj_t* panel = lv_obj_create(lv_screen_active());
    lv_obj_set_pos(panel, 0, 0);
    lv_obj_set_size(panel, 320, 170);
    lv_obj_set_style_pad_all(panel, 0, 0);
    lv_obj_set_style_radius(panel, 0, 0);
    lv_obj_set_style_border_width(panel, 0, 0);
    lv_obj_set_style_bg_color(panel, lv_color_hex(kBackground), 0);
    lv_obj_set_style_bg_opa(panel, LV_OPA_COVER, 0);

    label(panel, 0, 8, 320, 24, &lv_font_montserrat_20, kAccent, "TAP TEMPO");
    label(panel, 0, 46, 320, 60, &lv_font_montserrat_48, kTempoColour, tempo->toString().c_str());
    label(panel, 0, 108, 320, 24, &lv_font_montserrat_20, kTitleColour, "BPM");
    const std::string taps = std::to_string(tempo->getTapCount()) + " taps";
    if (!volumeNode) {
        label(panel, 0, 140, 320, 20, &lv_font_montserrat_14, kTitleColour, taps.c_str());
        return true;
    }
    label(panel, 0, 140, 160, 20, &lv_font_montserrat_14, kTitleColour, taps.c_str());
    const std::string volume = "Vol " + volumeNode->toString();
    label(panel, 160, 140, 160, 20, &lv_font_montserrat_14, kTempoColour, volume.c_str());
    return true;
}

bool DrawerTempo::onEvent(int id) { return id == EventId::Tick && counting(); }
