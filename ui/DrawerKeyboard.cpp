#include "ui/DrawerKeyboard.h"

#include "ui/EventDispatcher.h"
#include "ui/EventId.h"
#include "ui/gfx/Gfx.h"
#include "ui/PageLayout.h"

#include <cstring>

namespace {
// The three key maps, handed to the keyboard widget as its user maps 1, 2 and 3. Keys are numbered in
// reading order; the row breaks take no number. Both map-switching keys sit at indexes that every map has
// (0 and 12), so the highlight stays on a key when the map changes.
const char* const kLowerMap[] = {"123",        "a",   "b", "c", "d", "e", "f", "g", "h", "i", "j", LV_SYMBOL_BACKSPACE,
                                 "\n",         "ABC", "k", "l", "m", "n", "o", "p", "q", "r", "s", "t",
                                 LV_SYMBOL_OK, "\n",  "u", "v", "w", "x", "y", "z", "_", "-", " ", LV_SYMBOL_CLOSE,
                                 nullptr};
const char* const kUpperMap[] = {"123",        "A",   "B", "C", "D", "E", "F", "G", "H", "I", "J", LV_SYMBOL_BACKSPACE,
                                 "\n",         "ABC", "K", "L", "M", "N", "O", "P", "Q", "R", "S", "T",
                                 LV_SYMBOL_OK, "\n",  "U", "V", "W", "X", "Y", "Z", "_", "-", " ", LV_SYMBOL_CLOSE,
                                 nullptr};
const lv_buttonmatrix_ctrl_t kLetterWidths[] = {8, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 6, 8, 4, 4, 4, 4,
                                                4, 4, 4, 4, 4, 4, 6, 4, 4, 4, 4, 4, 4, 4, 4, 6, 6};

const char* const kDigitMap[] = {
    "ABC", "1", "2", "3", "4", LV_SYMBOL_BACKSPACE, "\n",   "-", "5", "6", "7", LV_SYMBOL_OK, "\n",
    "_",   "8", "9", "0", " ", LV_SYMBOL_CLOSE,     nullptr};
const lv_buttonmatrix_ctrl_t kDigitWidths[] = {4, 4, 4, 4, 4, 6, 4, 4, 4, 4, 6, 4, 4, 4, 4, 6, 6};

constexpr int kLastLetterKey = 33;
constexpr int kLastDigitKey = 16;

// The text of key `index` of a map, or null past its last key.
const char* keyText(const char* const map[], int index) {
    int key = 0;
    for (int i = 0; map[i]; ++i) {
        if (std::strcmp(map[i], "\n") == 0) continue;
        if (key == index) return map[i];
        ++key;
    }
    return nullptr;
}

// The highlighted key: white with black text.
lv_style_t& pressedStyle() {
    static lv_style_t* const style = [] {
        auto* created = new lv_style_t;
        lv_style_init(created);
        lv_style_set_bg_color(created, lv_color_hex(0xFFFFFF));
        lv_style_set_bg_opa(created, LV_OPA_COVER);
        lv_style_set_text_color(created, lv_color_hex(0x000000));
        return created;
    }();
    return *style;
}
}

DrawerKeyboard::DrawerKeyboard(std::string title, std::string* result)
    : result(result), text(result ? *result : std::string()), title(std::move(title)) {}

DrawerKeyboard::DrawerKeyboard(std::string title, std::string* result, const char* initial)
    : DrawerKeyboard(std::move(title), result) {
    if (initial && result) *result = initial;
}

int DrawerKeyboard::lastKey() const { return digitMap() ? kLastDigitKey : kLastLetterKey; }

bool DrawerKeyboard::draw() {
    lv_style_t& pressed = pressedStyle();
    PageLayout::frame(title);

    lv_obj_t* shown = lv_label_create(lv_screen_active());
    lv_obj_set_pos(shown, 7, 43);
    lv_obj_set_size(shown, 306, 25);
    lv_label_set_long_mode(shown, LV_LABEL_LONG_DOT);
    lv_obj_set_style_text_font(shown, &lv_font_montserrat_20, 0);
    lv_obj_set_style_text_color(shown, lv_color_hex(0xFFFFFF), 0);
    lv_label_set_text(shown, text.c_str());

    lv_obj_t* keyboard = lv_keyboard_create(lv_screen_active());
    lv_keyboard_set_map(keyboard, LV_KEYBOARD_MODE_USER_1, kLowerMap, kLetterWidths);
    lv_keyboard_set_map(keyboard, LV_KEYBOARD_MODE_USER_2, kUpperMap, kLetterWidths);
    lv_keyboard_set_map(keyboard, LV_KEYBOARD_MODE_USER_3, kDigitMap, kDigitWidths);
    const lv_keyboard_mode_t mode = keyboardMode == kLower   ? LV_KEYBOARD_MODE_USER_1
                                    : keyboardMode == kUpper ? LV_KEYBOARD_MODE_USER_2
                                                             : LV_KEYBOARD_MODE_USER_3;
    lv_keyboard_set_mode(keyboard, mode);
    lv_obj_add_style(keyboard, &pressed, LV_PART_ITEMS | LV_STATE_CHECKED);
    lv_obj_set_pos(keyboard, 6, 73);
    lv_obj_set_size(keyboard, 308, 90);
    lv_buttonmatrix_set_button_ctrl(keyboard, uint32_t(selectedKey), LV_BUTTONMATRIX_CTRL_CHECKED);
    return true;
}

void DrawerKeyboard::pressKey() {
    const char* const* map = keyboardMode == kLower ? kLowerMap : keyboardMode == kUpper ? kUpperMap : kDigitMap;
    const char* key = keyText(map, selectedKey);
    if (!key) return;
    if (std::strcmp(key, LV_SYMBOL_BACKSPACE) == 0) {
        if (!text.empty()) text.pop_back();
    } else if (std::strcmp(key, LV_SYMBOL_OK) == 0) {
        if (closing) return;
        if (result) *result = text;
        close();
    } else if (std::strcmp(key, LV_SYMBOL_CLOSE) == 0) {
        close();
    } else if (std::strcmp(key, "123") == 0) {
        keyboardMode += 2;
    } else if (std::strcmp(key, "ABC") == 0) {
        // The letter maps' "ABC" toggles the case; the digit map's goes back to the case it came from.
        keyboardMode = digitMap() ? keyboardMode - 2 : (keyboardMode == kLower ? kUpper : kLower);
    } else {
        text += key;
    }
}

void DrawerKeyboard::close() {
    if (closing) return;
    closing = true;
    EventDispatcher::addEvent(EventId::Close);
}

bool DrawerKeyboard::onEvent(int id) {
    switch (id) {
    case EventId::Encoder1Forward:
        selectedKey = selectedKey >= lastKey() ? 0 : selectedKey + 1;
        break;
    case EventId::Encoder1Back:
        selectedKey = selectedKey <= 0 ? lastKey() : selectedKey - 1;
        break;
    case EventId::Encoder1ShortRelease:
        pressKey();
        break;
    case EventId::Encoder2ShortRelease:
        close();
        break;
    default:
        break;
    }
    return true;
}
