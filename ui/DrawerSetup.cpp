#include "ui/DrawerSetup.h"

#include "ui/EventDispatcher.h"
#include "ui/EventId.h"
#include "core/NodeItem.h"
#include "ui/PageLayout.h"
#include "core/System.h"

#include <cstring>

namespace {
bool isSettingsFolder(const Node* node) {
    if (std::strcmp(node->getType(), "item") != 0 || node->isLeaf()) return false;
    const auto* item = dynamic_cast<const NodeItem*>(node);
    return item && std::strcmp(item->getItemType(), "sfolder") == 0;
}
}

DrawerSetup::DrawerSetup(FolderOpener openFolder) : openFolder(openFolder) {
    if (Node* root = System::rootNode()) {
        for (int i = 0; i < root->childrenCount(); ++i) {
            Node* child = root->childrenAt(i);
            if (child && isSettingsFolder(child)) nodes.push_back(child);
        }
    }
    if (Node* system = System::systemNode()) nodes.push_back(system);
    count = int(nodes.size()) + (EventDispatcher::elements() >= 2 ? 1 : 0);
}

bool DrawerSetup::draw() {
    PageLayout::frame("Setup");
    PageLayout::scrollBar(count, first);
    const int32_t width = PageLayout::rowWidth(count);
    for (int row = 0; row < PageLayout::kRows && first + row < count; ++row) {
        const int index = first + row;
        const int32_t y = PageLayout::rowTop(row);
        const bool isSelected = index == selected;
        PageLayout::highlight(y, width, isSelected);
        if (index >= int(nodes.size())) {
            PageLayout::rowText(y, PageLayout::kNameWidth, isSelected, "Back");
            continue;
        }
        PageLayout::rowText(y, PageLayout::kNameWidth, isSelected, nodes[index]->getDisplayName());
        PageLayout::valueColumn(nodes[index], y, width, isSelected);
    }
    return true;
}

bool DrawerSetup::onEvent(int id) {
    switch (id) {
    case EventId::Encoder1Forward:
        PageLayout::moveDown(selected, first, count);
        return true;
    case EventId::Encoder1Back:
        PageLayout::moveUp(selected, first);
        return true;
    case EventId::Encoder1ShortRelease:
        openSelected();
        return true;
    case EventId::Encoder1Press:
        // Kept from the pages below: the home screen counts a press it sees as the start of a hold.
        return true;
    case EventId::Tick:
        ++ticks;
        return true;
    case EventId::Encoder2Forward:
    case EventId::Encoder2Back:
    case EventId::Encoder3Forward:
    case EventId::Encoder3Back:
    case EventId::Encoder4Forward:
    case EventId::Encoder4Back:
    case EventId::Encoder5Forward:
    case EventId::Encoder5Back:
        return true;
    case EventId::Encoder2ShortRelease:
        EventDispatcher::addEvent(EventId::Close);
        return true;
    case EventId::Idle:
        EventDispatcher::addEvent(EventId::Close);
        return false;
    default:
        return false;
    }
}

void DrawerSetup::openSelected() {
    if (selected < int(nodes.size())) {
        openFolder(nodes[selected]);
    } else if (selected < count) {
        EventDispatcher::addEvent(EventId::Close);
    }
}
