#include "ui/DrawerTuner.h"

#include "ui/EventId.h"
#include "ui/gfx/Gfx.h"
#include "core/NodeOnOff.h"
#include "blocks/Tuner.h"

#include <cmath>
#include <cstdio>

namespace {
const uint32_t kTitleColour = 0x9E9E9E;
const uint32_t kNoteColour = 0xFFFFFF;
const uint32_t kNoSignalColour = 0x424242;
const uint32_t kInTuneColour = 0x00E676;
const uint32_t kOffColour = 0xFF3D00;
const uint32_t kScaleColour = 0x303030;

constexpr int32_t kScaleX = 20, kScaleY = 110, kScaleWidth = 280, kScaleHeight = 12;

// Cents as a bar growing from the centre of a -50..50 scale, with a mark at the centre.
void centsScale(lv_obj_t* parent, float cents, uint32_t colour) {
    lv_obj_t* bar = lv_bar_create(parent);
    lv_obj_set_pos(bar, kScaleX, kScaleY);
    lv_obj_set_size(bar, kScaleWidth, kScaleHeight);
    lv_bar_set_mode(bar, LV_BAR_MODE_RANGE);
    lv_bar_set_range(bar, -50, 50);
    const int32_t value = int32_t(std::lround(std::fmax(-50.0f, std::fmin(50.0f, cents))));
    lv_bar_set_start_value(bar, value < 0 ? value : 0, LV_ANIM_OFF);
    lv_bar_set_value(bar, value > 0 ? value : 0, LV_ANIM_OFF);
    lv_obj_set_style_radius(bar, 0, LV_PART_MAIN);
    lv_obj_set_style_radius(bar, 0, LV_PART_INDICATOR);
    lv_obj_set_style_bg_color(bar, lv_color_hex(kScaleColour), LV_PART_MAIN);
    lv_obj_set_style_bg_opa(bar, LV_OPA_COVER, LV_PART_MAIN);
    lv_obj_set_style_bg_color(bar, lv_color_hex(colour), LV_PART_INDICATOR);
    lv_obj_set_style_bg_opa(bar, LV_OPA_COVER, LV_PART_INDICATOR);

    static const lv_point_precise_t centre[] = {{0, 0}, {0, kScaleHeight + 12}};
    lv_obj_t* mark = lv_line_create(parent);
    lv_obj_set_pos(mark, kScaleX + kScaleWidth / 2, kScaleY - 6);
    lv_line_set_points(mark, centre, 2);
    lv_obj_set_style_line_color(mark, lv_color_hex(kNoteColour), 0);
    lv_obj_set_style_line_width(mark, 2, 0);
}
}

DrawerTuner::DrawerTuner(Tuner* tuner) : RaisedPage(false), tuner(tuner) {}

bool DrawerTuner::up() const { return tuner && tuner->getOnOff()->isOn(); }

bool DrawerTuner::draw() {
    if (!up()) return false;
    lv_obj_t* panel = RaisedPage::panel();

    label(panel, 8, 6, 150, 20, &lv_font_montserrat_14, kTitleColour, LV_TEXT_ALIGN_LEFT, "TUNER");

    const Tuner::Reading reading = tuner->getReading();
    if (!reading.valid) {
        label(panel, 60, 2, 200, 101, &ui_font_arzet_light102, kNoSignalColour, LV_TEXT_ALIGN_CENTER, "--");
        centsScale(panel, 0.0f, kScaleColour);
        label(panel, 20, 136, 280, 24, &lv_font_montserrat_20, kNoSignalColour, LV_TEXT_ALIGN_CENTER, "Play a string");
        return true;
    }

    const bool inTune = std::fabs(reading.cents) <= kInTuneCents;
    const uint32_t colour = inTune ? kInTuneColour : kOffColour;
    // The note as large as the display allows: it is read from standing height.
    label(panel, 60, 2, 200, 101, &ui_font_arzet_light102, inTune ? kInTuneColour : kNoteColour, LV_TEXT_ALIGN_CENTER,
          Tuner::noteName(reading.note));
    if (inTune) {
        label(panel, 30, 36, 40, 34, &lv_font_montserrat_28, kInTuneColour, LV_TEXT_ALIGN_CENTER, LV_SYMBOL_OK);
        label(panel, 250, 36, 40, 34, &lv_font_montserrat_28, kInTuneColour, LV_TEXT_ALIGN_CENTER, LV_SYMBOL_OK);
    }
    centsScale(panel, reading.cents, colour);

    char text[32];
    const long cents = std::lround(reading.cents);
    std::snprintf(text, sizeof text, cents == 0 ? "%ld cents" : "%+ld cents", cents);
    label(panel, 20, 136, 130, 24, &lv_font_montserrat_20, colour, LV_TEXT_ALIGN_LEFT, text);
    // The octave beside the frequency: the big note is the string, this tells E2 from E4.
    std::snprintf(text, sizeof text, "%s%d  %.1f Hz", Tuner::noteName(reading.note), reading.note / 12 - 1,
                  double(reading.frequency));
    label(panel, 150, 136, 150, 24, &lv_font_montserrat_20, kTitleColour, LV_TEXT_ALIGN_RIGHT, text);
    return true;
}

bool DrawerTuner::handle(int id) {
    if (!EventId::isFootswitchShortRelease(id)) return false;
    tuner->getOnOff()->setOn(false);
    return true;
}
