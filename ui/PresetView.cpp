#include "ui/PresetView.h"

#include <cstdio>

#include "ui/DrawerPopup.h"
#include "ui/EventDispatcher.h"
#include "core/NodePreset.h"
#include "ui/PageLayout.h"

namespace {
// The answers of the preset dialogs are the indexes of their buttons: "Back", "Ok", "Save".
constexpr int kAnswerOk = 1, kAnswerSave = 2;

int askPopup(const char* title, int kind) {
    int answer = 0;
    new DrawerPopup(title, "", kind, &answer);
    waitModal();
    return answer;
}
}

void PresetView::drawFrame() {
    PageLayout::theme();
    PageLayout::panel(50);
    static const lv_point_precise_t rule[] = {{0, 0}, {306, 0}};
    lv_obj_t* line = lv_line_create(lv_screen_active());
    lv_obj_set_pos(line, 7, 33);
    lv_obj_set_size(line, LV_SIZE_CONTENT, LV_SIZE_CONTENT);
    lv_line_set_points(line, rule, 2);
}

std::string PresetView::presetNumber(int index) {
    if (index < 0) return "---";
    char text[16];
    std::snprintf(text, sizeof text, "%02d%c", index / 3 + 1, 'A' + index % 3);
    return text;
}

void PresetView::stepPreset(NodePreset* preset, bool up) {
    if (!preset) return;
    if (!preset->isEdited()) {
        if (preset->canEdit(up)) preset->edit(up);
        return;
    }
    switch (askPopup("Discard changes?", DrawerPopup::kBackOkSave)) {
    case kAnswerOk:
        preset->edit(up);
        break;
    case kAnswerSave:
        saveCurrent(preset);
        break;
    default:
        break;
    }
}

bool PresetView::saveCurrent(NodePreset* preset) {
    return preset->setValue(preset->getValue() + NodePreset::SAVE_SUFFIX);
}

bool PresetView::confirmOverwrite() { return askPopup("Overwrite changes?", DrawerPopup::kBackOk) == kAnswerOk; }
