#pragma once
// What the home screen and the chain screen share about the selected preset: the background with the title
// rule, the preset's bank number, and stepping or saving it with the dialogs that guard an edited preset.
// UI thread only.
#include <string>

class NodePreset;

class PresetView {
public:
    // The theme and the background with the title rule.
    static void drawFrame();
    // "01A" for slot 0 (bank index / 3 + 1, letter A to C); "---" for a negative index.
    static std::string presetNumber(int index);
    // One step to the next (up) or previous named preset; an edited preset first asks whether to discard
    // the changes (Ok steps), keep them by saving (Save; no step) or do nothing (Back).
    static void stepPreset(NodePreset* preset, bool up);
    // Saves the present parameters under the preset's current name.
    static bool saveCurrent(NodePreset* preset);
    // Asks whether to overwrite the stored preset; true on Ok.
    static bool confirmOverwrite();
};
