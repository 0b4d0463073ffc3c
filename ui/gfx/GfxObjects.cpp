// The object tree: creating and deleting objects, their geometry, flags and states, and the widgets' own
// data (label text, line points, bar values, message box parts, keyboard maps).
#include "ui/gfx/GfxTree.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

using namespace gfx;

namespace {
lv_obj_t* createChild(lv_obj_t* parent, Kind kind) {
    if (!parent) parent = lv_screen_active();
    if (!parent) return nullptr;
    auto child = std::make_unique<lv_obj_t>(kind);
    child->parent = parent;
    lv_obj_t* created = child.get();
    parent->children.push_back(std::move(child));
    return created;
}

bool is(const lv_obj_t* obj, std::initializer_list<Kind> kinds) {
    return obj && std::find(kinds.begin(), kinds.end(), obj->kind) != kinds.end();
}

void clampBar(lv_obj_t* bar) {
    bar->value = std::clamp(bar->value, bar->rangeMin, bar->rangeMax);
    bar->startValue = std::clamp(bar->startValue, bar->rangeMin, bar->rangeMax);
}

// Rebuilds the key list from the keyboard's current map and its control words.
void loadKeys(lv_obj_t* keyboard) {
    keyboard->keys.clear();
    const auto& keyMap = keyboard->keyMaps[keyboard->keyboardMode - LV_KEYBOARD_MODE_USER_1];
    if (!keyMap.map) return;
    uint32_t row = 0;
    for (size_t i = 0; keyMap.map[i] && keyMap.map[i][0] != '\0'; ++i) {
        if (std::strcmp(keyMap.map[i], "\n") == 0) {
            ++row;
            continue;
        }
        const lv_buttonmatrix_ctrl_t ctrl = keyMap.ctrl ? keyMap.ctrl[keyboard->keys.size()] : 0;
        const uint32_t width = std::max<uint32_t>(1, ctrl & LV_BUTTONMATRIX_CTRL_WIDTH_MASK);
        keyboard->keys.push_back({keyMap.map[i], row, width, ctrl, {0, 0, -1, -1}});
    }
}
}

lv_obj_t* lv_obj_create(lv_obj_t* parent) { return createChild(parent, Kind::Obj); }

void lv_obj_delete(lv_obj_t* obj) {
    if (!obj) return;
    if (!obj->parent) {
        lv_obj_clean(obj);
        return;
    }
    lv_obj_t* parent = obj->parent;
    if (parent->msgboxContent == obj) parent->msgboxContent = nullptr;
    if (parent->msgboxFooter == obj) parent->msgboxFooter = nullptr;
    auto& siblings = parent->children;
    const auto found = std::find_if(siblings.begin(), siblings.end(), [&](const auto& c) { return c.get() == obj; });
    if (found != siblings.end()) siblings.erase(found);
}

void lv_obj_clean(lv_obj_t* obj) {
    if (!obj) return;
    obj->children.clear();
    obj->msgboxContent = obj->msgboxFooter = nullptr;
}

lv_obj_t* lv_obj_get_parent(const lv_obj_t* obj) { return obj ? obj->parent : nullptr; }

uint32_t lv_obj_get_child_count(const lv_obj_t* obj) { return obj ? uint32_t(obj->children.size()) : 0; }

void lv_obj_set_pos(lv_obj_t* obj, int32_t x, int32_t y) {
    lv_obj_set_x(obj, x);
    lv_obj_set_y(obj, y);
}

void lv_obj_set_x(lv_obj_t* obj, int32_t x) {
    if (obj) obj->x = x;
}

void lv_obj_set_y(lv_obj_t* obj, int32_t y) {
    if (obj) obj->y = y;
}

void lv_obj_set_size(lv_obj_t* obj, int32_t width, int32_t height) {
    lv_obj_set_width(obj, width);
    lv_obj_set_height(obj, height);
}

void lv_obj_set_width(lv_obj_t* obj, int32_t width) {
    if (obj) obj->width = width == LV_SIZE_CONTENT ? width : std::max(0, width);
}

void lv_obj_set_height(lv_obj_t* obj, int32_t height) {
    if (obj) obj->height = height == LV_SIZE_CONTENT ? height : std::max(0, height);
}

void lv_obj_set_align(lv_obj_t* obj, lv_align_t align) {
    if (obj) obj->align = align;
}

void lv_obj_align(lv_obj_t* obj, lv_align_t align, int32_t x, int32_t y) {
    if (!obj) return;
    obj->align = align;
    obj->x = x;
    obj->y = y;
}

void lv_obj_center(lv_obj_t* obj) { lv_obj_align(obj, LV_ALIGN_CENTER, 0, 0); }

void lv_obj_add_flag(lv_obj_t* obj, lv_obj_flag_t flag) {
    if (obj) obj->flags |= flag;
}

void lv_obj_remove_flag(lv_obj_t* obj, lv_obj_flag_t flag) {
    if (obj) obj->flags &= ~flag;
}

bool lv_obj_has_flag(const lv_obj_t* obj, lv_obj_flag_t flag) { return obj && (obj->flags & flag) == flag; }

void lv_obj_add_state(lv_obj_t* obj, lv_state_t state) {
    if (obj) obj->state |= state;
}

void lv_obj_remove_state(lv_obj_t* obj, lv_state_t state) {
    if (obj) obj->state &= ~state;
}

bool lv_obj_has_state(const lv_obj_t* obj, lv_state_t state) { return obj && (obj->state & state) == state; }

void lv_obj_scroll_to_x(lv_obj_t* obj, int32_t x, lv_anim_enable_t) {
    if (obj) obj->scrollRequest = x;
}

lv_obj_t* lv_label_create(lv_obj_t* parent) { return createChild(parent, Kind::Label); }

void lv_label_set_text(lv_obj_t* label, const char* text) {
    if (is(label, {Kind::Label})) label->text = text ? text : "";
}

void lv_label_set_text_fmt(lv_obj_t* label, const char* format, ...) {
    if (!is(label, {Kind::Label}) || !format) return;
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text(size_t(std::max(length, 0)), '\0');
    if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, args);
    va_end(args);
    label->text = std::move(text);
}

const char* lv_label_get_text(const lv_obj_t* label) {
    return is(label, {Kind::Label}) ? label->text.c_str() : nullptr;
}

void lv_label_set_long_mode(lv_obj_t* label, lv_label_long_mode_t mode) {
    if (is(label, {Kind::Label})) label->longMode = mode;
}

lv_obj_t* lv_line_create(lv_obj_t* parent) { return createChild(parent, Kind::Line); }

void lv_line_set_points(lv_obj_t* line, const lv_point_precise_t points[], uint32_t count) {
    if (!is(line, {Kind::Line})) return;
    line->points.assign(points, points ? points + count : points);
}

lv_obj_t* lv_bar_create(lv_obj_t* parent) { return createChild(parent, Kind::Bar); }

void lv_bar_set_range(lv_obj_t* bar, int32_t min, int32_t max) {
    if (!is(bar, {Kind::Bar, Kind::Slider})) return;
    bar->rangeMin = std::min(min, max);
    bar->rangeMax = std::max(min, max);
    clampBar(bar);
}

void lv_bar_set_value(lv_obj_t* bar, int32_t value, lv_anim_enable_t) {
    if (!is(bar, {Kind::Bar, Kind::Slider})) return;
    bar->value = value;
    clampBar(bar);
}

void lv_bar_set_start_value(lv_obj_t* bar, int32_t value, lv_anim_enable_t) {
    if (!is(bar, {Kind::Bar, Kind::Slider})) return;
    bar->startValue = value;
    clampBar(bar);
}

void lv_bar_set_mode(lv_obj_t* bar, lv_bar_mode_t mode) {
    if (is(bar, {Kind::Bar, Kind::Slider})) bar->barMode = mode;
}

int32_t lv_bar_get_value(const lv_obj_t* bar) { return is(bar, {Kind::Bar, Kind::Slider}) ? bar->value : 0; }

lv_obj_t* lv_slider_create(lv_obj_t* parent) { return createChild(parent, Kind::Slider); }

void lv_slider_set_range(lv_obj_t* slider, int32_t min, int32_t max) { lv_bar_set_range(slider, min, max); }

void lv_slider_set_value(lv_obj_t* slider, int32_t value, lv_anim_enable_t anim) {
    lv_bar_set_value(slider, value, anim);
}

int32_t lv_slider_get_value(const lv_obj_t* slider) { return lv_bar_get_value(slider); }

lv_obj_t* lv_button_create(lv_obj_t* parent) { return createChild(parent, Kind::Button); }

lv_obj_t* lv_msgbox_create(lv_obj_t* parent) {
    lv_obj_t* box = createChild(parent, Kind::Msgbox);
    if (!box) return nullptr;
    box->align = LV_ALIGN_CENTER;
    box->msgboxContent = createChild(box, Kind::MsgboxContent);
    return box;
}

lv_obj_t* lv_msgbox_add_text(lv_obj_t* msgbox, const char* text) {
    if (!is(msgbox, {Kind::Msgbox})) return nullptr;
    if (!msgbox->msgboxContent) msgbox->msgboxContent = createChild(msgbox, Kind::MsgboxContent);
    lv_obj_t* label = lv_label_create(msgbox->msgboxContent);
    lv_label_set_text(label, text);
    return label;
}

lv_obj_t* lv_msgbox_add_footer_button(lv_obj_t* msgbox, const char* text) {
    if (!is(msgbox, {Kind::Msgbox})) return nullptr;
    if (!msgbox->msgboxFooter) msgbox->msgboxFooter = createChild(msgbox, Kind::MsgboxFooter);
    lv_obj_t* button = lv_button_create(msgbox->msgboxFooter);
    lv_obj_t* label = lv_label_create(button);
    lv_label_set_text(label, text);
    lv_obj_center(label);
    return button;
}

lv_obj_t* lv_keyboard_create(lv_obj_t* parent) { return createChild(parent, Kind::Keyboard); }

void lv_keyboard_set_map(lv_obj_t* keyboard, lv_keyboard_mode_t mode, const char* const map[],
                         const lv_buttonmatrix_ctrl_t ctrl[]) {
    if (!is(keyboard, {Kind::Keyboard}) || mode < LV_KEYBOARD_MODE_USER_1 || mode > LV_KEYBOARD_MODE_USER_4) return;
    keyboard->keyMaps[mode - LV_KEYBOARD_MODE_USER_1] = {map, ctrl};
    if (keyboard->keyboardMode == mode) loadKeys(keyboard);
}

void lv_keyboard_set_mode(lv_obj_t* keyboard, lv_keyboard_mode_t mode) {
    if (!is(keyboard, {Kind::Keyboard}) || mode < LV_KEYBOARD_MODE_USER_1 || mode > LV_KEYBOARD_MODE_USER_4) return;
    keyboard->keyboardMode = mode;
    loadKeys(keyboard);
}

void lv_buttonmatrix_set_button_ctrl(lv_obj_t* keyboard, uint32_t key, lv_buttonmatrix_ctrl_t ctrl) {
    if (is(keyboard, {Kind::Keyboard}) && key < keyboard->keys.size()) keyboard->keys[key].ctrl |= ctrl;
}

void lv_buttonmatrix_clear_button_ctrl(lv_obj_t* keyboard, uint32_t key, lv_buttonmatrix_ctrl_t ctrl) {
    if (is(keyboard, {Kind::Keyboard}) && key < keyboard->keys.size()) keyboard->keys[key].ctrl &= ~ctrl;
}
