#include "ui/Home.h"

#include "nolt/driver/IOArray.h"

#include <cstring>
#include <utility>

#include "audio/AudioProcessor.h"
#include "ui/Chain.h"
#include "ui/DrawerKeyboard.h"
#include "ui/EventDispatcher.h"
#include "ui/EventId.h"
#include "core/NodeFloat.h"
#include "core/NodeItem.h"
#include "core/NodeList.h"
#include "core/NodeOnOff.h"
#include "core/NodePreset.h"
#include "ui/PageLayout.h"
#include "ui/ParamSlider.h"
#include "ui/PresetView.h"
#include "blocks/Tempo.h"
#include "blocks/Tuner.h"

namespace {
constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kWarning = 0xFF8800;
constexpr uint32_t kVolumeIdle = 0x777777;
constexpr uint32_t kMeterColour = 0x999999;
constexpr uint32_t kClipColour = 0xFF0000;

lv_obj_t* label(lv_obj_t* parent, int x, int y, int width, int height, const char* text) {
    lv_obj_t* l = lv_label_create(parent);
    lv_obj_set_pos(l, x, y);
    lv_obj_set_size(l, width, height);
    lv_label_set_text(l, text);
    return l;
}

lv_obj_t* dotLabel(lv_obj_t* parent, int x, int y, int width, int height, const char* text) {
    lv_obj_t* l = label(parent, x, y, width, height, text);
    lv_label_set_long_mode(l, LV_LABEL_LONG_DOT);
    return l;
}

// A horizontal value bar whose indicator fills from the left; its frame is drawn over the indicator.
lv_obj_t* valueBar(lv_obj_t* parent, int x, int y, int width, int height, int value, uint32_t colour) {
    lv_obj_t* b = lv_bar_create(parent);
    lv_obj_set_pos(b, x, y);
    lv_obj_set_size(b, width, height);
    lv_bar_set_range(b, 0, 100);
    lv_bar_set_value(b, value, LV_ANIM_OFF);
    lv_obj_set_style_bg_opa(b, LV_OPA_COVER, LV_PART_INDICATOR);
    lv_obj_set_style_bg_color(b, lv_color_hex(colour), LV_PART_INDICATOR);
    lv_obj_set_style_radius(b, 0, LV_PART_INDICATOR);
    lv_obj_set_style_border_color(b, lv_color_white(), LV_PART_MAIN);
    lv_obj_set_style_border_width(b, 1, LV_PART_MAIN);
    lv_obj_set_style_bg_opa(b, LV_OPA_TRANSP, LV_PART_MAIN);
    lv_obj_set_style_radius(b, 5, LV_PART_MAIN);
    lv_obj_set_style_border_post(b, true, LV_PART_MAIN);
    return b;
}

int sliderPercent(const NodeFloat* node) { return node ? int(node->toSlider() * 100.0f) : 0; }

// -110 dB reads 0, 0 dB reads 100; single precision, truncated.
int meterPercent(int channel, int direction) {
    const float level = (AudioProcessor::meter(channel, direction) + 110.0f) * 0.9090909f;
    return int(level);
}

// "120.0" and "095.5": the global tempo always as three digits, a point and one digit.
std::string paddedTempo(const std::string& text) { return text.size() == 4 ? "0" + text : text; }
}

Home::Home(Node* app, Node* root, NodePreset* preset, Tuner* tuner, Tempo* tempo, std::vector<NodeItem*> assigns)
    : app(app), root(root), preset(preset), tuner(tuner), tempo(tempo), assigns(std::move(assigns)) {}

void Home::setControls(NodeFloat* control2, NodeFloat* control3, NodeFloat* control4, NodeFloat* control5) {
    controls[0] = control2;
    controls[1] = control3;
    controls[2] = control4;
    controls[3] = control5;
}

void Home::setNodes(Node* app, Node* root, NodePreset* preset) {
    this->app = app;
    this->root = root;
    this->preset = preset;
}

// ---------------------------------------------------------------------------------------------------------
// Drawing
// ---------------------------------------------------------------------------------------------------------
bool Home::draw() {
    if (popupNode && popupTicks > 0) {
        drawPopup();
        return true;
    }
    PresetView::drawFrame();
    drawHeader();
    if (assignNode) {
        drawAssignView();
    } else {
        drawNormalView();
    }
    return true;
}

void Home::drawPopup() {
    PageLayout::theme();
    lv_obj_t* screen = lv_screen_active();
    const uint32_t colour = popupColor != 0 ? popupColor : uint32_t(get_param_color(popupNode));
    valueBar(screen, 25, 76, 270, 30, sliderPercent(popupNode), colour);

    lv_obj_t* name = dotLabel(screen, 25, 51, 270, 29, popupNode->getDisplayName());
    lv_obj_set_style_text_font(name, &lv_font_montserrat_20, 0);
    lv_obj_set_style_text_align(name, LV_TEXT_ALIGN_LEFT, 0);
    lv_obj_t* value = dotLabel(screen, 25, 51, 270, 29, popupNode->toString().c_str());
    lv_obj_set_style_text_font(value, &lv_font_montserrat_20, 0);
    lv_obj_set_style_text_align(value, LV_TEXT_ALIGN_RIGHT, 0);
}

void Home::drawHeader() {
    lv_obj_t* screen = lv_screen_active();
    const bool edited = preset->isEdited();
    if (edited) {
        lv_obj_t* mark = dotLabel(screen, 217, 9, 23, 29, LV_SYMBOL_WARNING);
        lv_obj_set_style_text_font(mark, &lv_font_montserrat_18, 0);
        lv_obj_set_style_text_color(mark, lv_color_hex(kWarning), 0);
    }
    lv_obj_t* name = dotLabel(screen, 7, 6, edited ? 203 : 231, 29, preset->getValue().c_str());
    lv_obj_set_style_text_font(name, &lv_font_montserrat_24, 0);
    lv_obj_set_style_text_color(name, lv_color_white(), 0);

    lv_obj_t* number = label(screen, 5, 37, 209, 84, PresetView::presetNumber(preset->getIndex()).c_str());
    lv_obj_set_style_text_font(number, &ui_font_arzet_light102, 0);
    lv_obj_set_style_text_align(number, LV_TEXT_ALIGN_LEFT, 0);
    lv_obj_set_style_radius(number, 10, 0);
    lv_obj_set_style_text_color(number, lv_color_hex(0xFAFAFA), 0);
    lv_obj_set_style_text_letter_space(number, -4, 0);
    lv_obj_set_style_pad_bottom(number, 1, 0);

    const std::string bpm = paddedTempo(tempo->toString());
    const struct {
        int x, width;
        std::string text;
    } parts[] = {{229, 60, bpm.substr(0, 3)}, {283, 17, "."}, {298, 14, bpm.size() > 4 ? bpm.substr(4, 1) : ""}};
    for (const auto& part : parts) {
        lv_obj_t* digits = label(screen, part.x, 8, part.width, LV_SIZE_CONTENT, part.text.c_str());
        lv_obj_set_style_text_font(digits, &ui_font_arzet24, 0);
        lv_obj_set_style_text_align(digits, LV_TEXT_ALIGN_RIGHT, 0);
    }
}

void Home::drawAssignView() {
    lv_obj_t* screen = lv_screen_active();
    const int colour = assignNode->getStyleColor();
    Chain::createBlock(screen, 238, 58, colour, assignNode->getDisplayName(), false, "");
    for (size_t k = 0; k < 4; ++k) {
        Node* node = k < fastNodes.size() ? fastNodes[k] : nullptr;
        create_param_slider(screen, kParamSliderX[k], node, colour, nullptr, nullptr);
    }
}

void Home::drawNormalView() {
    lv_obj_t* screen = lv_screen_active();
    for (size_t k = 0; k < 4; ++k) create_param_slider(screen, kParamSliderX[k], controls[k], kWhite, nullptr, nullptr);

    for (const auto& [y, text] : {std::pair{77, "in"}, std::pair{102, "out"}}) {
        lv_obj_t* l = dotLabel(screen, 209, y, 26, 16, text);
        lv_obj_set_style_text_align(l, LV_TEXT_ALIGN_RIGHT, 0);
        lv_obj_set_style_text_font(l, &lv_font_montserrat_14, 0);
    }

    valueBar(screen, 241, 48, 72, 17, sliderPercent(volumeNode),
             (IOArray::get_bit(1) || IOArray::get_bit(2)) ? 0xFFFFFF : kVolumeIdle);
    lv_obj_t* vol = dotLabel(screen, 204, 49, 31, 16, "Vol");
    lv_obj_set_style_text_align(vol, LV_TEXT_ALIGN_RIGHT, 0);
    lv_obj_set_style_text_font(vol, &lv_font_montserrat_14, 0);

    drawMeters(screen);
}

void Home::drawMeters(lv_obj_t* screen) {
    const struct {
        int y, channel, direction;
    } meters[] = {{110, 0, AudioProcessor::kOutput},
                  {101, 1, AudioProcessor::kOutput},
                  {84, 0, AudioProcessor::kInput},
                  {75, 1, AudioProcessor::kInput}};
    for (const auto& m : meters) {
        const bool clipped = AudioProcessor::channelSaturation(m.channel, m.direction);
        lv_obj_t* b = valueBar(screen, 241, m.y, 72, 9, meterPercent(m.channel, m.direction),
                               clipped ? kClipColour : kMeterColour);
        lv_obj_set_style_border_side(b, LV_BORDER_SIDE_BOTTOM | LV_BORDER_SIDE_LEFT, LV_PART_MAIN);
        lv_obj_set_style_radius(b, 1, LV_PART_MAIN);
    }
}

// ---------------------------------------------------------------------------------------------------------
// Editing
// ---------------------------------------------------------------------------------------------------------
void Home::editControl(int index, bool up) {
    // A negative index would read before the list.
    if (index < 0 || size_t(index) >= fastNodes.size()) return;
    Node* node = fastNodes[size_t(index)];
    noteEdit(node);
    if (node) {
        if (std::strcmp(node->getType(), "float") == 0) {
            node->edit(up);
            showPopup(static_cast<NodeFloat*>(node), 0);
        } else {
            node->edit(up);
        }
    }
    assignTicks = kAssignTicks;
}

void Home::editAssign(int index, bool up) {
    if (index < 0) return;
    editControl(index, up);
}

void Home::editParam(NodeFloat* node, bool up, int colour) {
    popupNode = node;
    if (!node) return;
    noteEdit(node);
    node->edit(up);
    showPopup(node, uint32_t(colour));
}

void Home::showPopup(NodeFloat* node, uint32_t colour) {
    popupNode = node;
    popupColor = colour;
    // The tap-tempo page covers this screen and holds its ticks: a popup opened now would wait there and
    // show a stale value once the page goes. The tempo page shows the value itself (coveredEdit).
    popupTicks = tempoCounting() ? 0 : kPopupTicks;
}

bool Home::tempoCounting() const { return tempo && tempo->manualStatus(); }

void Home::noteEdit(Node* node) {
    if (node && tempoCounting()) editedWhileCovered = node;
}

Node* Home::coveredEdit() const { return editedWhileCovered ? editedWhileCovered : volumeNode; }

void Home::showAssign(int index) {
    if (index == -1) {
        assignNode = nullptr;
        fastNodes.clear();
        return;
    }
    if (index < 0 || size_t(index) >= assigns.size()) return;
    NodeItem* item = assigns[size_t(index)];
    const std::string path = item ? item->getValue() : "";
    assignNode = (app && !path.empty()) ? app->pathToNode(path) : nullptr;
    fastNodes = Chain::getFastNodes(assignNode);
    assignTicks = kAssignTicks;
}

// ---------------------------------------------------------------------------------------------------------
// Events
// ---------------------------------------------------------------------------------------------------------
bool Home::onEvent(int id) {
    using namespace EventId;
    switch (id) {
    case Encoder1Forward:
    case Encoder1Back:
        if (encoderHeld != 0) {
            heldStep(id == Encoder1Forward);
        } else if (volumeNode) {
            editParam(volumeNode, id == Encoder1Forward, int(kWhite));
        }
        return true;
    case Encoder1Press:
        encoderHeld = 1;
        return true;
    case Encoder1ShortRelease:
        if (app && encoderHeld <= 1) new Chain(app, root, preset, levelNode, volumeNode, assigns);
        encoderHeld = 0;
        return true;
    case Encoder1LongRelease:
        encoderHeld = 0;
        return true;
    case FootswitchAPress:
        tapIfSelected(0);
        return true;
    case FootswitchBPress:
        tapIfSelected(1);
        return true;
    case FootswitchCPress:
        tapIfSelected(2);
        return true;
    case FootswitchAShortRelease:
        selectInBank(0);
        return true;
    case FootswitchBShortRelease:
        selectInBank(1);
        return true;
    case FootswitchCShortRelease:
        selectInBank(2);
        return true;
    case FootswitchCLongPress:
        if (tuner && tuner->getOnOff()) tuner->getOnOff()->setValue(NodeOnOff::ON);
        return true;
    case FootswitchesAB:
        switchBank(-3);
        return true;
    case FootswitchesBC:
        switchBank(3);
        return true;
    case Tick:
        tick();
        return true;
    case Encoder2LongPress:
        overwrite();
        return true;
    case Encoder3LongPress:
        saveAs();
        return true;
    default:
        break;
    }

    static constexpr int forward[4] = {Encoder2Forward, Encoder3Forward, Encoder4Forward, Encoder5Forward};
    static constexpr int shortRelease[4] = {Encoder2ShortRelease, Encoder3ShortRelease, Encoder4ShortRelease,
                                            Encoder5ShortRelease};
    for (int k = 0; k < 4; ++k) {
        if (id == forward[k] || id == forward[k] + 1) {
            const bool up = id == forward[k];
            if (assignNode) {
                editControl(k, up);
            } else if (controls[k]) {
                editParam(controls[k], up, int(kWhite));
            }
            return true;
        }
        if (id == shortRelease[k]) {
            showAssign(k);
            return true;
        }
    }
    return false;
}

void Home::heldStep(bool up) {
    // The release that follows must not open the chain screen.
    encoderHeld = 2;
    // The tap-tempo page covers the preset name: no preset is loaded unseen.
    if (!preset || tempoCounting()) return;
    // The dialog takes the release of the encoder, so the hold ends here.
    if (preset->isEdited()) encoderHeld = 0;
    PresetView::stepPreset(preset, up);
}

void Home::tapIfSelected(int footswitch) {
    if (!preset || !tempo || preset->getIndex() % 3 != footswitch) return;
    const bool wasCounting = tempoCounting();
    tempo->manualTap();
    if (!tempoCounting()) return;
    // A popup held under the tap-tempo page would come back stale when it goes.
    popupTicks = 0;
    if (!wasCounting) editedWhileCovered = nullptr;
}

void Home::selectInBank(int footswitch) {
    // While tap tempo counts, the taps' releases must not reload the preset.
    if (!preset || tempoCounting()) return;
    preset->setByIndex(preset->getIndex() / 3 * 3 + footswitch);
}

void Home::switchBank(int offset) {
    if (!preset || tempoCounting()) return;
    preset->setByIndex(preset->getIndex() + offset);
}

void Home::overwrite() {
    if (!preset || !preset->isEdited()) return;
    if (PresetView::confirmOverwrite()) PresetView::saveCurrent(preset);
}

void Home::saveAs() {
    if (!preset) return;
    std::string name = preset->getValue();
    // The keyboard edits from the current name; name stays empty unless its OK key is pressed.
    new DrawerKeyboard("Save as...", &name, "");
    waitModal();
    if (name.empty()) return;

    const std::string current = preset->getValue();
    if (name == current) {
        if (PresetView::confirmOverwrite()) PresetView::saveCurrent(preset);
        return;
    }
    // Another preset of that name would be replaced: ask first.
    NodeList* list = preset->getReferenceList();
    if (list && list->indexOf(name) >= 0 && !PresetView::confirmOverwrite()) return;
    // Select the new slot only when the save went in; a full list keeps the current preset selected and
    // edited.
    if (preset->setValue(name + NodePreset::SAVE_SUFFIX)) preset->setValue(name);
}

void Home::tick() {
    editedWhileCovered = nullptr;
    if (assignTicks > 0 && --assignTicks == 0) {
        assignNode = nullptr;
        fastNodes.clear();
    }
    if (popupTicks > 0) --popupTicks;
}
