#include "ui/Chain.h"

#include <cstring>
#include <utility>

#include "ui/DrawerList.h"
#include "ui/DrawerNode.h"
#include "ui/DrawerSetup.h"
#include "ui/EventDispatcher.h"
#include "ui/EventId.h"
#include "core/NodeEnum.h"
#include "core/NodeFloat.h"
#include "core/NodeItem.h"
#include "core/NodeOnOff.h"
#include "core/NodePreset.h"
#include "ui/ParamSlider.h"
#include "ui/PresetView.h"

namespace {
constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kDimmed = 0x777777;
constexpr uint32_t kWarning = 0xFF8800;
// A tile whose colour has any of these bits is bright enough for black text.
constexpr int kBrightBits = 0xE0E0E0;
constexpr int kTileStep = 75, kTileFirstX = 20, kTileY = 20, kScrollPerTile = 50;

bool isLeadingOnOff(const Node* parent, const Node* child) {
    return parent->childrenAt(0) == child && std::strcmp(child->getName(), "on_off") == 0;
}

bool isFolderItem(const Node* node) { return std::strcmp(node->getType(), "item") == 0; }
}

Chain::Chain(Node* app, Node* root, NodePreset* preset, NodeFloat* level, NodeFloat* volume,
             std::vector<NodeItem*> assigns)
    : app(app), root(root), preset(preset), volumeNode(volume), levelNode(level), assigns(std::move(assigns)) {
    if (!app) return;
    for (Node* child : app->getChildren()) {
        if (!isFolderItem(child) || std::strcmp(static_cast<NodeItem*>(child)->getItemType(), "hfolder") != 0) {
            continue;
        }
        if (NodeEnum* onOff = folder_on_off(child)) {
            blocks.push_back(child);
            enables.push_back(onOff);
        } else {
            fixedNode = child;
        }
    }
}

void Chain::setNodes(Node* app, Node* root, NodePreset* preset) {
    this->app = app;
    this->root = root;
    this->preset = preset;
    cursor = -1;
}

void Chain::assignCursor(int i) {
    if (!inRange() || i < 0 || size_t(i) >= assigns.size()) return;
    const std::string path = blocks[size_t(cursor)]->getPath();
    for (size_t j = 0; j < assigns.size(); ++j) {
        if (int(j) != i && assigns[j] && assigns[j]->getValue() == path) assigns[j]->setValue("");
    }
    if (assigns[size_t(i)]) assigns[size_t(i)]->setValue(path);
}

// ---------------------------------------------------------------------------------------------------------
// Widgets
// ---------------------------------------------------------------------------------------------------------
void Chain::createBlock(lv_obj_t* parent, int x, int y, int colour, const char* name, bool selected,
                        const char* corner) {
    static const lv_point_precise_t joint[] = {{0, 0}, {95, 0}};
    lv_obj_t* line = lv_line_create(parent);
    lv_obj_set_pos(line, x - 20, y + 30);
    lv_obj_set_size(line, LV_SIZE_CONTENT, LV_SIZE_CONTENT);
    lv_line_set_points(line, joint, 2);

    lv_obj_t* tile = lv_button_create(parent);
    lv_obj_set_pos(tile, x, y);
    lv_obj_set_size(tile, 55, 55);
    lv_obj_set_style_border_color(tile, lv_color_white(), 0);
    lv_obj_set_style_border_width(tile, 1, 0);
    lv_obj_set_style_radius(tile, 5, 0);
    if (selected) {
        lv_obj_set_style_shadow_width(tile, 1, 0);
        lv_obj_set_style_shadow_color(tile, lv_color_white(), 0);
        lv_obj_set_style_shadow_spread(tile, 3, 0);
    }
    lv_obj_set_style_bg_color(tile, lv_color_hex(uint32_t(colour)), 0);

    const bool bright = (colour & kBrightBits) != 0;
    lv_obj_t* title = lv_label_create(tile);
    lv_obj_set_size(title, LV_SIZE_CONTENT, LV_SIZE_CONTENT);
    lv_obj_align(title, LV_ALIGN_CENTER, 0, 0);
    lv_label_set_text(title, name);
    lv_obj_set_style_text_color(title, bright ? lv_color_black() : lv_color_hex(kDimmed), 0);

    lv_obj_t* number = lv_label_create(tile);
    lv_obj_set_size(number, LV_SIZE_CONTENT, LV_SIZE_CONTENT);
    lv_obj_align(number, LV_ALIGN_CENTER, 18, 15);
    lv_label_set_text(number, corner);
    lv_obj_set_style_text_color(number, bright ? lv_color_black() : lv_color_white(), 0);
}

std::vector<Node*> Chain::getFastNodes(Node* block) {
    std::vector<Node*> fast;
    if (!block) return fast;
    for (Node* child : block->getChildren()) {
        if (isLeadingOnOff(block, child)) continue;
        if (!isFolderItem(child)) {
            fast.push_back(child);
            continue;
        }
        // A tempo sub-folder belongs to the tempo, not to the block's sound.
        if (child->toString() == "partempo") continue;
        for (Node* grandchild : child->getChildren()) {
            if (isLeadingOnOff(child, grandchild)) continue;
            if (!isFolderItem(grandchild)) fast.push_back(grandchild);
        }
    }
    return fast;
}

bool Chain::isEnabled(Node* block) {
    NodeEnum* onOff = folder_on_off(block);
    return onOff && onOff->isValue(NodeOnOff::ON);
}

// ---------------------------------------------------------------------------------------------------------
// Drawing
// ---------------------------------------------------------------------------------------------------------
bool Chain::draw() {
    PresetView::drawFrame();
    lv_obj_t* screen = lv_screen_active();
    const bool edited = preset && preset->isEdited();
    if (edited) {
        lv_obj_t* mark = lv_label_create(screen);
        lv_obj_set_pos(mark, 290, 9);
        lv_obj_set_size(mark, 23, 29);
        lv_obj_set_style_text_font(mark, &lv_font_montserrat_18, 0);
        lv_label_set_text(mark, LV_SYMBOL_WARNING);
        lv_obj_set_style_text_color(mark, lv_color_hex(kWarning), 0);
    }
    lv_obj_t* title = lv_label_create(screen);
    lv_obj_set_pos(title, 7, 6);
    lv_obj_set_size(title, edited ? 276 : 304, 29);
    lv_label_set_long_mode(title, LV_LABEL_LONG_DOT);
    lv_obj_set_style_text_font(title, &lv_font_montserrat_24, 0);
    lv_label_set_text(title, preset ? preset->getValue().c_str() : "");
    lv_obj_set_style_text_color(title, lv_color_hex(cursor < 0 ? kWhite : kDimmed), 0);

    drawStrip();
    drawSliders();
    return true;
}

std::string Chain::cornerText(const Node* block) const {
    const std::string path = block->getPath();
    std::string corner;
    for (size_t j = 0; j < assigns.size(); ++j) {
        if (assigns[j] && assigns[j]->getValue() == path) corner = std::to_string(j + 1);
    }
    return corner;
}

void Chain::drawStrip() {
    lv_obj_t* strip = lv_obj_create(lv_screen_active());
    lv_obj_set_pos(strip, 7, 35);
    lv_obj_set_size(strip, 306, 110);
    lv_obj_set_style_pad_all(strip, 0, 0);
    lv_obj_set_style_bg_opa(strip, LV_OPA_TRANSP, 0);
    lv_obj_set_style_border_width(strip, 0, 0);
    lv_obj_set_style_radius(strip, 0, 0);
    // The strip moves only with the cursor.
    lv_obj_remove_flag(strip, LV_OBJ_FLAG_SCROLLABLE);

    for (size_t i = 0; i < blocks.size(); ++i) {
        Node* block = blocks[i];
        const int style = block->getStyleColor();
        // A block switched off is drawn at one eighth of its brightness.
        const int colour = enables[i]->isValue(NodeOnOff::ON) ? style : (style >> 3) & 0x1F1F1F;
        createBlock(strip, kTileFirstX + kTileStep * int(i), kTileY, colour, block->getDisplayName(), int(i) == cursor,
                    cornerText(block).c_str());
    }
    lv_obj_scroll_to_x(strip, cursor * kScrollPerTile, LV_ANIM_OFF);
}

void Chain::drawSliders() {
    lv_obj_t* screen = lv_screen_active();
    if (inRange()) {
        Node* block = blocks[size_t(cursor)];
        const std::vector<Node*> fast = getFastNodes(block);
        for (size_t k = 0; k < 4; ++k) {
            create_param_slider(screen, kParamSliderX[k], k < fast.size() ? fast[k] : nullptr, block->getStyleColor(),
                                nullptr, nullptr);
        }
        return;
    }
    const std::string number = PresetView::presetNumber(preset ? preset->getIndex() : -1);
    create_param_slider(screen, kParamSliderX[0], nullptr, int(kWhite), "Preset", number.c_str());
    create_param_slider(screen, kParamSliderX[1], nullptr, int(kWhite), "List", "Edit...");
    create_param_slider(screen, kParamSliderX[2], levelNode, int(kWhite), nullptr, nullptr);
    create_param_slider(screen, kParamSliderX[3], volumeNode, int(kWhite), nullptr, nullptr);
}

// ---------------------------------------------------------------------------------------------------------
// Events
// ---------------------------------------------------------------------------------------------------------
Node* Chain::fastNode(size_t k) const {
    if (!inRange()) return nullptr;
    const std::vector<Node*> fast = getFastNodes(blocks[size_t(cursor)]);
    return k < fast.size() ? fast[k] : nullptr;
}

bool Chain::onEvent(int id) {
    using namespace EventId;
    switch (id) {
    case Idle:
        EventDispatcher::addEvent(Close);
        return false;
    case Encoder1Forward:
        if (cursor < int(blocks.size()) - 1) ++cursor;
        return true;
    case Encoder1Back:
        if (cursor >= 0) --cursor;
        return true;
    case Encoder1Press:
        // The home screen below counts a press it sees as the start of a hold: it must not see this one.
        return true;
    case Encoder1ShortRelease:
        if (inRange()) {
            new DrawerNode(blocks[size_t(cursor)]);
        } else if (fixedNode) {
            new DrawerNode(fixedNode);
        }
        return true;
    case Encoder1LongPress:
        if (inRange()) {
            enables[size_t(cursor)]->toggle();
        } else {
            new DrawerSetup(DrawerNode::open);
        }
        return true;
    case Encoder2Forward:
    case Encoder2Back:
        if (cursor < 0) {
            PresetView::stepPreset(preset, id == Encoder2Forward);
        } else if (Node* node = fastNode(0)) {
            node->edit(id == Encoder2Forward);
        }
        return true;
    case Encoder2ShortRelease:
        EventDispatcher::addEvent(Close);
        return true;
    case Encoder2LongPress:
        assignCursor(0);
        return true;
    case Encoder3LongPress:
        assignCursor(1);
        return true;
    case Encoder4LongPress:
        assignCursor(2);
        return true;
    case Encoder5LongPress:
        assignCursor(3);
        return true;
    case Encoder3Forward:
    case Encoder3Back:
        if (Node* node = fastNode(1)) node->edit(id == Encoder3Forward);
        return true;
    case Encoder3ShortRelease:
        if (cursor < 0 && preset) new DrawerList(preset);
        return true;
    case Encoder4Forward:
    case Encoder4Back:
        if (cursor < 0) {
            if (levelNode) levelNode->edit(id == Encoder4Forward);
        } else if (Node* node = fastNode(2)) {
            node->edit(id == Encoder4Forward);
        }
        return true;
    case Encoder5Forward:
    case Encoder5Back:
        if (cursor < 0) {
            if (volumeNode) volumeNode->edit(id == Encoder5Forward);
        } else if (Node* node = fastNode(3)) {
            node->edit(id == Encoder5Forward);
        }
        return true;
    default:
        return false;
    }
}
