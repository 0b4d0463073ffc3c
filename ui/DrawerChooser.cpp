#include "ui/DrawerChooser.h"

#include "ui/EventDispatcher.h"
#include "ui/EventId.h"
#include "ui/PageLayout.h"

DrawerChooser::DrawerChooser(std::string title, std::vector<std::string> options, std::string* result)
    : count(int(options.size()) + 1), result(result), title(std::move(title)), options(std::move(options)) {}

bool DrawerChooser::draw() {
    PageLayout::frame(title);
    PageLayout::scrollBar(count, first);
    const int32_t width = PageLayout::rowWidth(count);
    for (int row = 0; row < PageLayout::kRows && first + row < count; ++row) {
        const int index = first + row;
        const int32_t y = PageLayout::rowTop(row);
        const bool isSelected = index == selected;
        PageLayout::highlight(y, width, isSelected);
        PageLayout::rowText(y, width - 5, isSelected, index < int(options.size()) ? options[index] : "Back");
    }
    return true;
}

bool DrawerChooser::onEvent(int id) {
    switch (id) {
    case EventId::Encoder1Forward:
        PageLayout::moveDown(selected, first, count);
        break;
    case EventId::Encoder1Back:
        PageLayout::moveUp(selected, first);
        break;
    case EventId::Encoder1ShortRelease:
        close(selected < int(options.size()) ? options[selected] : std::string());
        break;
    case EventId::Encoder2ShortRelease:
        close(std::string());
        break;
    default:
        break;
    }
    return true;
}

void DrawerChooser::close(const std::string& answer) {
    if (result) *result = answer;
    EventDispatcher::addEvent(EventId::Close);
}
