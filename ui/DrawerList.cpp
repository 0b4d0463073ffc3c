#include "ui/DrawerList.h"

#include "ui/DrawerChooser.h"
#include "ui/DrawerKeyboard.h"
#include "ui/EventDispatcher.h"
#include "ui/EventId.h"
#include "porting/Log.h"
#include "core/NodeList.h"
#include "core/NodeParList.h"
#include "core/NodePreset.h"
#include "ui/PageLayout.h"

#include <cstdio>

namespace {
const char* const TAG = "DrawerList";
const char* const kEmptySlot = "--------------------";
}

DrawerList::DrawerList(NodeParList* node) { setNode(node); }

void DrawerList::setNode(NodeParList* selector) {
    node = selector;
    list = node ? node->getReferenceList() : nullptr;
    selected = 0;
    ticks = 0;
    first = 0;
    count = list ? list->getElementCount() : 0;
    if (list) {
        const int current = list->indexOf(node->getValue());
        if (current >= 0) selected = current;
    }
    if (EventDispatcher::elements() > 1) ++count;
    // The current slot opens on the bottom row of the window.
    if (selected > PageLayout::kRows - 1) first = selected - (PageLayout::kRows - 1);
}

int DrawerList::slotCount() const { return list ? list->getElementCount() : 0; }

std::string DrawerList::slotLabel(int index) {
    char label[16];
    std::snprintf(label, sizeof label, "%02d%c", index / 3 + 1, "ABC"[index % 3]);
    return label;
}

std::string DrawerList::rowText(int index, const std::string& name) {
    return slotLabel(index) + " " + (name.empty() ? std::string(kEmptySlot) : name);
}

bool DrawerList::draw() {
    if (!node || !node->isLeaf()) return true;
    PageLayout::frame(node->getDisplayName());
    PageLayout::scrollBar(count, first);
    const int32_t width = PageLayout::rowWidth(count) - 5;
    const std::string current = node->getValue();
    for (int row = 0; row < PageLayout::kRows && first + row < count; ++row) {
        const int index = first + row;
        const int32_t y = PageLayout::rowTop(row);
        const bool isSelected = index == selected;
        PageLayout::highlight(y, PageLayout::rowWidth(count), isSelected);
        if (index >= slotCount()) {
            PageLayout::rowText(y, width, isSelected, "Back");
            continue;
        }
        const std::string name = list->nameAt(index);
        lv_obj_t* label = PageLayout::rowText(y, width, isSelected, rowText(index, name));
        if (!name.empty() && name == current) lv_obj_set_style_text_decor(label, LV_TEXT_DECOR_UNDERLINE, 0);
    }
    return true;
}

bool DrawerList::onEvent(int id) {
    switch (id) {
    case EventId::Encoder1Forward:
        moveDown();
        break;
    case EventId::Encoder1Back:
        moveUp();
        break;
    case EventId::Encoder1ShortRelease:
        choose();
        break;
    case EventId::Encoder1LongPress:
        slotMenu();
        break;
    case EventId::Tick:
        ++ticks;
        break;
    case EventId::Encoder2ShortRelease:
        EventDispatcher::addEvent(EventId::Close);
        break;
    case EventId::Idle:
        EventDispatcher::addEvent(EventId::Close);
        return false;
    default:
        break;
    }
    return true;
}

void DrawerList::moveDown() {
    if (count < 1) return;
    if (selected >= count - 1) {
        selected = 0;
        first = 0;
        return;
    }
    ++selected;
    if (selected >= first + PageLayout::kRows) ++first;
}

void DrawerList::moveUp() {
    if (count < 1) return;
    if (selected <= 0) {
        selected = count - 1;
        first = count > PageLayout::kRows ? count - PageLayout::kRows : 0;
        return;
    }
    --selected;
    if (selected < first) --first;
}

void DrawerList::choose() {
    if (selected >= slotCount()) {
        if (selected < count) EventDispatcher::addEvent(EventId::Close);
        return;
    }
    const std::string name = list->nameAt(selected);
    if (!node->isEditable() || !name.empty()) {
        if (name != node->getValue()) node->setValue(name);
        EventDispatcher::addEvent(EventId::Close);
        return;
    }
    saveInto(selected);
}

void DrawerList::saveInto(int slot) {
    std::string text;
    new DrawerKeyboard(node->getDisplayName(), &text);
    waitModal();
    if (text.empty() || !list->nameAt(slot).empty()) return;
    // The save request finds its slot by name: a name that another slot holds would save over that
    // preset, so a name the list refuses here saves nothing.
    if (!list->setElementAt(slot, text, nullptr)) {
        LOGW(TAG, "'%s' not saved into slot %s: the name is in use or not allowed\n", text.c_str(),
             slotLabel(slot).c_str());
        return;
    }
    if (!node->setValue(text + NodePreset::SAVE_SUFFIX)) {
        // A named slot without the settings would load as a preset of defaults.
        LOGW(TAG, "'%s' could not be saved\n", text.c_str());
        list->deleteAt(slot);
        return;
    }
    node->setValue(text);
}

void DrawerList::slotMenu() {
    if (!node || !node->isEditable() || selected >= slotCount()) return;
    const std::string name = list->nameAt(selected);
    if (name.empty()) return;
    std::string choice;
    new DrawerChooser(name, {"Rename", "Delete", "Overwrite"}, &choice);
    waitModal();
    if (choice == "Delete") {
        list->deleteAt(selected);
    } else if (choice == "Rename") {
        rename(selected, name);
    } else if (choice == "Overwrite") {
        node->setValue(name + NodePreset::SAVE_SUFFIX);
    }
}

void DrawerList::rename(int slot, const std::string& name) {
    std::string text = name;
    new DrawerKeyboard(node->getDisplayName(), &text);
    waitModal();
    // An unchanged name (also a cancelled keyboard) changes nothing: loading the preset would drop the
    // present settings. A refused rename must not load the other preset that already has the name.
    if (text.empty() || text == name) return;
    if (list->setNameAt(slot, text)) node->setValue(text);
}
