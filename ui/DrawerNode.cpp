#include "ui/DrawerNode.h"

#include "ui/DrawerArray.h"
#include "ui/DrawerKeyboard.h"
#include "ui/DrawerList.h"
#include "ui/DrawerPopup.h"
#include "ui/DrawerSetup.h"
#include "ui/EventDispatcher.h"
#include "ui/EventId.h"
#include "ui/glcd/Glcd.h"
#include "core/NodeAction.h"
#include "core/NodeArray.h"
#include "core/NodeColor.h"
#include "core/NodeItem.h"
#include "core/NodeParList.h"
#include "ui/PageLayout.h"
#include "core/System.h"

#include <cstdlib>
#include <cstring>

namespace {
const uint32_t kWhite = 0xFFFFFF;
const int32_t kValueBoxOffset = -7;
const int32_t kScrolledValueBoxOffset = -21;
const int32_t kHueSliderLeft = 213;
const int32_t kScrolledHueSliderLeft = 199;
const int32_t kHueBoxLeft = 203;
const int32_t kScrolledHueBoxLeft = 189;
// Hue in degrees (0..360) onto the slider's 0..100.
const float kHueToSlider = 0.2777778f;
// The keyboard's maps hold printable characters only, so this text can only be the one handed in: a
// secret's keyboard still holding it was cancelled.
const char* const kUntouchedSecret = "\x01";

bool isType(const Node* node, const char* type) { return std::strcmp(node->getType(), type) == 0; }

const NodeItem* asItemOfType(const Node* node, const char* itemType) {
    if (!isType(node, "item")) return nullptr;
    const auto* item = dynamic_cast<const NodeItem*>(node);
    return item && std::strcmp(item->getItemType(), itemType) == 0 ? item : nullptr;
}

bool isColourItem(const Node* node) { return node->isLeaf() && asItemOfType(node, "color"); }

// The item's own colour; black when its text is not a hexadecimal RGB number.
uint32_t itemColour(const NodeItem* item) {
    if (const auto* colour = dynamic_cast<const NodeColor*>(item)) {
        const int rgb = colour->getRGB();
        return rgb < 0 ? 0 : uint32_t(rgb);
    }
    const std::string text = item->getValue();
    char* end = nullptr;
    const unsigned long rgb = std::strtoul(text.c_str(), &end, 16);
    return text.empty() || *end != '\0' ? 0 : uint32_t(rgb & 0xFFFFFF);
}

float itemHue(const NodeItem* item) {
    const auto* colour = dynamic_cast<const NodeColor*>(item);
    return colour ? colour->getHue() : 0.0f;
}
}

DrawerNode::DrawerNode(Node* node) : node(node) {}

void DrawerNode::open(Node* folder) { new DrawerNode(folder); }

void DrawerNode::setNode(Node* folder) {
    node = folder;
    selected = 0;
    first = 0;
    editing = nullptr;
}

int DrawerNode::childCount() const { return node ? node->childrenCount(true) : 0; }

bool DrawerNode::hasBackRow() const { return EventDispatcher::elements() >= 2; }

int DrawerNode::itemCount() const { return childCount() + (hasBackRow() ? 1 : 0); }

void DrawerNode::clampWindow(int count) {
    if (selected >= count) selected = count > 0 ? count - 1 : 0;
    if (first + 4 >= count) first = (count > PageLayout::kRows ? count : PageLayout::kRows) - PageLayout::kRows;
}

bool DrawerNode::draw() {
    if (!node) return true;
    if (node->isLeaf()) {
        // A leaf has nothing to list; only the monochrome picture names it.
        glcd_drawStringFont(1, 1, node->getDisplayName(), glcd_font10, 1);
        return true;
    }
    const int count = itemCount();
    clampWindow(count);
    PageLayout::frame(node->getDisplayName());
    const bool scrolled = PageLayout::scrollBar(count, first);
    if (!scrolled && count < 1) return true;
    for (int row = 0; row < PageLayout::kRows && first + row < count; ++row) drawRow(row, first + row, count);
    return true;
}

void DrawerNode::drawRow(int row, int index, int count) {
    const int32_t y = PageLayout::rowTop(row);
    const int32_t width = PageLayout::rowWidth(count);
    const bool isSelected = index == selected;
    const bool scrolled = PageLayout::hasScrollBar(count);
    if (index >= childCount()) {
        PageLayout::highlight(y, width, isSelected);
        PageLayout::rowText(y, PageLayout::kNameWidth, isSelected, "Back");
        return;
    }
    const Node* child = node->childrenAt(index, true);
    if (!child) return;
    const bool edited = child == editing;
    if (edited) {
        PageLayout::rowText(y, PageLayout::kNameWidth, false, child->getDisplayName());
    } else {
        PageLayout::highlight(y, width, isSelected);
        PageLayout::rowText(y, PageLayout::kNameWidth, isSelected, child->getDisplayName());
    }
    if (isColourItem(child)) {
        drawHueSlider(static_cast<const NodeItem*>(child), y, edited, scrolled);
    } else if (edited) {
        drawEditedValue(child, y, isSelected, scrolled);
    } else {
        PageLayout::valueColumn(child, y, width, isSelected);
    }
}

void DrawerNode::drawEditedValue(const Node* child, int32_t y, bool isSelected, bool scrolled) const {
    lv_obj_t* box = lv_label_create(lv_screen_active());
    lv_obj_align(box, LV_ALIGN_TOP_RIGHT, scrolled ? kScrolledValueBoxOffset : kValueBoxOffset, y);
    lv_obj_set_size(box, LV_SIZE_CONTENT, PageLayout::kRowHeight);
    lv_obj_set_style_text_font(box, &lv_font_montserrat_20, 0);
    lv_obj_set_style_pad_top(box, 1, 0);
    lv_obj_set_style_pad_left(box, 4, 0);
    lv_obj_set_style_pad_right(box, 4, 0);
    lv_obj_set_style_bg_color(box, lv_color_hex(kWhite), 0);
    lv_obj_set_style_bg_opa(box, isSelected ? LV_OPA_COVER : LV_OPA_TRANSP, 0);
    lv_obj_set_style_text_color(box, PageLayout::textColour(isSelected), 0);
    lv_label_set_text(box, child->toString().c_str());
}

void DrawerNode::drawHueSlider(const NodeItem* child, int32_t y, bool edited, bool scrolled) const {
    lv_obj_t* screen = lv_screen_active();
    if (edited) {
        lv_obj_t* box = lv_label_create(screen);
        lv_label_set_text(box, "");
        lv_obj_set_pos(box, scrolled ? kScrolledHueBoxLeft : kHueBoxLeft, y);
        lv_obj_set_size(box, 110, PageLayout::kRowHeight);
        lv_obj_set_style_bg_color(box, lv_color_hex(kWhite), 0);
        lv_obj_set_style_bg_opa(box, LV_OPA_COVER, 0);
    }
    lv_obj_t* slider = lv_slider_create(screen);
    lv_obj_set_pos(slider, scrolled ? kScrolledHueSliderLeft : kHueSliderLeft, y + 7);
    lv_obj_set_size(slider, 90, 10);
    lv_slider_set_value(slider, int32_t(itemHue(child) * kHueToSlider), LV_ANIM_OFF);
    lv_obj_set_style_bg_image_src(slider, &img_hue_10, 0);
    lv_obj_set_style_bg_image_tiled(slider, true, 0);
    lv_obj_set_style_bg_image_recolor_opa(slider, 8, 0);
    lv_obj_set_style_bg_opa(slider, LV_OPA_TRANSP, LV_PART_INDICATOR);
    lv_obj_set_style_bg_color(slider, lv_color_hex(itemColour(child)), LV_PART_KNOB);
}

bool DrawerNode::onEvent(int id) {
    switch (id) {
    case EventId::Idle:
        EventDispatcher::addEvent(EventId::Close);
        return false;
    case EventId::Encoder2ShortRelease:
        EventDispatcher::addEvent(EventId::Close);
        return true;
    case EventId::Encoder1Press:
    case EventId::Tick:
    case EventId::Encoder2Forward:
    case EventId::Encoder2Back:
    case EventId::Encoder3Forward:
    case EventId::Encoder3Back:
    case EventId::Encoder4Forward:
    case EventId::Encoder4Back:
    case EventId::Encoder5Forward:
    case EventId::Encoder5Back:
        return true;
    case EventId::Encoder1Forward:
    case EventId::Encoder1Back:
    case EventId::Encoder1ShortRelease:
    case EventId::Encoder1LongPress:
        return editing ? onEditEvent(id) : onBrowseEvent(id);
    default:
        return false;
    }
}

bool DrawerNode::onEditEvent(int id) {
    switch (id) {
    case EventId::Encoder1Forward:
        editing->edit(true);
        break;
    case EventId::Encoder1Back:
        editing->edit(false);
        break;
    case EventId::Encoder1LongPress:
        if (editing->isLeaf() && isType(editing, "float")) editing->reset();
        editing = nullptr;
        break;
    default:
        editing = nullptr;
        break;
    }
    return true;
}

bool DrawerNode::onBrowseEvent(int id) {
    switch (id) {
    case EventId::Encoder1Forward:
        PageLayout::moveDown(selected, first, itemCount());
        break;
    case EventId::Encoder1Back:
        PageLayout::moveUp(selected, first);
        break;
    case EventId::Encoder1ShortRelease:
        openSelected();
        break;
    default:
        if (node && node == System::appNode()) new DrawerSetup(open);
        break;
    }
    return true;
}

void DrawerNode::openSelected() {
    const int children = childCount();
    if (selected >= children) {
        if (selected == children && hasBackRow()) EventDispatcher::addEvent(EventId::Close);
        return;
    }
    Node* child = node->childrenAt(selected, true);
    if (!child) return;
    if (!child->isLeaf()) {
        new DrawerNode(child);
        return;
    }
    openLeaf(child);
}

void DrawerNode::openLeaf(Node* child) {
    if (asItemOfType(child, "string")) {
        editText(static_cast<NodeItem*>(child));
        return;
    }
    if (isType(child, "action")) {
        const auto* action = dynamic_cast<const NodeAction*>(child);
        const std::string actionType = action ? action->getActionType() : "";
        if (actionType == "smp") {
            child->edit(true);
            return;
        }
        if (actionType == "smp_cfm") {
            confirmAndRun(child);
            return;
        }
    }
    if (isType(child, "plist")) {
        if (auto* selector = dynamic_cast<NodeParList*>(child)) {
            new DrawerList(selector);
            return;
        }
    }
    if (isType(child, "array")) {
        if (auto* array = dynamic_cast<NodeArray*>(child)) {
            new DrawerArray(array);
            return;
        }
    }
    editing = child;
}

void DrawerNode::editText(NodeItem* child) {
    if (!child->isSecret()) {
        std::string text = child->getValue();
        new DrawerKeyboard(child->getDisplayName(), &text);
        waitModal();
        child->setValue(text);
        return;
    }
    // A secret (the password) is not shown on the screen: the keyboard starts empty, and a cancelled
    // keyboard leaves the secret as it was instead of clearing it.
    std::string text;
    new DrawerKeyboard(child->getDisplayName(), &text, kUntouchedSecret);
    waitModal();
    if (text != kUntouchedSecret) child->setValue(text);
}

void DrawerNode::confirmAndRun(Node* action) {
    int answer = 0;
    new DrawerPopup("Are you sure?", "", 1, &answer);
    waitModal();
    if (answer == 1) action->edit(true);
}
