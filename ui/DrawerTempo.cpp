#include "ui/DrawerTempo.h"

#include "ui/EventDispatcher.h"
#include "ui/Home.h"
#include "core/NodeFloat.h"
#include "blocks/Tempo.h"

#include <string>

namespace {
const uint32_t kTitleColour = 0x9E9E9E;
const uint32_t kTempoColour = 0xFFFFFF;
const uint32_t kAccent = 0xFF9800;
}

DrawerTempo::DrawerTempo(Tempo* tempo) : RaisedPage(true), tempo(tempo) {}

bool DrawerTempo::up() const { return tempo && tempo->manualStatus(); }

bool DrawerTempo::showsTurns() const { return home && EventDispatcher::inFront(home); }

bool DrawerTempo::draw() {
    if (!up()) return false;
    lv_obj_t* panel = RaisedPage::panel();
    label(panel, 0, 8, 320, 24, &lv_font_montserrat_20, kAccent, LV_TEXT_ALIGN_CENTER, "TAP TEMPO");
    label(panel, 0, 46, 320, 60, &lv_font_montserrat_48, kTempoColour, LV_TEXT_ALIGN_CENTER, tempo->toString().c_str());
    label(panel, 0, 108, 320, 24, &lv_font_montserrat_20, kTitleColour, LV_TEXT_ALIGN_CENTER, "BPM");
    const std::string taps = std::to_string(tempo->getTapCount()) + " taps";
    Node* value = showsTurns() ? home->coveredEdit() : nullptr;
    if (!value) {
        label(panel, 0, 140, 320, 20, &lv_font_montserrat_14, kTitleColour, LV_TEXT_ALIGN_CENTER, taps.c_str());
        return true;
    }
    label(panel, 0, 140, 160, 20, &lv_font_montserrat_14, kTitleColour, LV_TEXT_ALIGN_CENTER, taps.c_str());
    const std::string name = value == home->getVolumeNode() ? "Vol" : value->getDisplayName();
    const std::string line = name + " " + value->toString();
    label(panel, 160, 140, 160, 20, &lv_font_montserrat_14, kTempoColour, LV_TEXT_ALIGN_CENTER, line.c_str());
    return true;
}
