#include "ui/ParamSlider.h"

#include <cstring>
#include <string>

#include "core/NodeEnum.h"
#include "core/NodeFloat.h"
#include "core/NodeOnOff.h"

namespace {

// Each channel halved; a mask alone would clear each channel's top bit and turn one hue into another.
int halfBrightness(int colour) { return (colour >> 1) & 0x7F7F7F; }
constexpr int kBarY = 146, kLowerY = 148, kUpperY = 129;

bool isSwitchedOff(Node* folder) {
    NodeEnum* onOff = folder_on_off(folder);
    return onOff && onOff->isValue(NodeOnOff::OFF);
}

lv_obj_t* bar(lv_obj_t* parent, int x, int value, int colour, lv_border_side_t sides) {
    lv_obj_t* b = lv_bar_create(parent);
    lv_obj_set_pos(b, x + 7, kBarY);
    lv_obj_set_size(b, 72, 17);
    lv_bar_set_range(b, 0, 100);
    lv_bar_set_value(b, value, LV_ANIM_OFF);
    lv_obj_set_style_bg_opa(b, LV_OPA_COVER, LV_PART_INDICATOR);
    lv_obj_set_style_bg_color(b, lv_color_hex(uint32_t(colour)), LV_PART_INDICATOR);
    lv_obj_set_style_radius(b, 0, LV_PART_INDICATOR);
    lv_obj_set_style_border_color(b, lv_color_white(), LV_PART_MAIN);
    lv_obj_set_style_border_width(b, 1, LV_PART_MAIN);
    lv_obj_set_style_border_side(b, sides, LV_PART_MAIN);
    lv_obj_set_style_bg_opa(b, LV_OPA_TRANSP, LV_PART_MAIN);
    lv_obj_set_style_radius(b, 5, LV_PART_MAIN);
    lv_obj_set_style_border_post(b, true, LV_PART_MAIN);
    return b;
}

void centredLabel(lv_obj_t* parent, int x, int y, int width, const char* text) {
    lv_obj_t* l = lv_label_create(parent);
    lv_obj_set_pos(l, x, y);
    lv_obj_set_size(l, width, 16);
    lv_label_set_long_mode(l, LV_LABEL_LONG_DOT);
    lv_obj_set_style_text_align(l, LV_TEXT_ALIGN_CENTER, 0);
    lv_label_set_text(l, text);
}

int sliderValue(const NodeFloat* node) {
    const float position = node->isInverted() ? 1.0f - node->toSlider() : node->toSlider();
    return int(position * 100.0f);
}
}

NodeEnum* folder_on_off(Node* folder) {
    if (!folder) return nullptr;
    Node* first = folder->childrenAt(0);
    if (!first || std::strcmp(first->getName(), "on_off") != 0 || std::strcmp(first->getType(), "enum") != 0) {
        return nullptr;
    }
    return static_cast<NodeEnum*>(first);
}

void create_param_slider(lv_obj_t* parent, int x, Node* node, int colour, const char* upper, const char* lower) {
    if (!node) {
        if (!upper || !lower) return;
        bar(parent, x, 0, colour, LV_BORDER_SIDE_TOP);
        centredLabel(parent, x + 6, kLowerY, 74, lower);
        centredLabel(parent, x + 7, kUpperY, 72, upper);
        return;
    }

    // A parameter of a switched-off block, or of a switched-off sub-folder, is drawn at half brightness.
    Node* folder = node->getParent();
    if (isSwitchedOff(folder) || (folder && folder->getParent() && isSwitchedOff(folder->getParent()))) {
        colour = halfBrightness(colour);
    }

    const std::string type = node->getType();
    const bool choice = type == "enum" || type == "plist";
    if (type == "float") {
        bar(parent, x, sliderValue(static_cast<NodeFloat*>(node)), colour, LV_BORDER_SIDE_FULL);
    } else if (choice) {
        // Options show their value as text, so the bar is only a line above it.
        bar(parent, x, 0, colour, LV_BORDER_SIDE_TOP);
        centredLabel(parent, x + 6, kLowerY, 74, node->toString().c_str());
    }
    centredLabel(parent, x + 7, kUpperY, 72, node->getDisplayName());
}

int get_param_color(Node* node) {
    Node* folder = node ? node->getParent() : nullptr;
    const int style = folder ? folder->getStyleColor() : 0;
    int colour = style != 0 ? style : 0xFFFFFF;
    return isSwitchedOff(folder) ? halfBrightness(colour) : colour;
}
