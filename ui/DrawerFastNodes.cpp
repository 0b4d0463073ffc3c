#include "ui/DrawerFastNodes.h"

#include "ui/EventDispatcher.h"
#include "ui/EventId.h"
#include "ui/glcd/Glcd.h"

#include <algorithm>

namespace {
constexpr float kStep = 0.1f;
}

DrawerFastNodes::DrawerFastNodes() = default;

void DrawerFastNodes::drawBarFrame() {
    glcd_drawRect(10, 28, 117, 45, 1);
    // Rounded ends: the sides move one column out, leaving the corners open.
    glcd_drawLine(10, 29, 10, 44, 0);
    glcd_drawLine(117, 29, 117, 44, 0);
    glcd_drawLine(9, 29, 9, 44, 1);
    glcd_drawLine(118, 29, 118, 44, 1);
}

bool DrawerFastNodes::draw() {
    glcd_drawStringFont(10, 16, "Title", glcd_font14, 1);
    drawBarFrame();
    glcd_fillRect(kBarLeft, kBarTop, uint8_t(kBarLeft + int(level * kBarSpan)), kBarBottom, 1);
    return true;
}

bool DrawerFastNodes::onEvent(int id) {
    // Tenths of float drift (0.5 + 4 x 0.1 is just above 0.9): the limits are tested half a step away and the
    // result kept in 0..1, so both ends of the bar are reached.
    if (id == EventId::Encoder1Forward && level < 1.0f - kStep / 2) level = std::min(level + kStep, 1.0f);
    if (id == EventId::Encoder1Back && level > kStep / 2) level = std::max(level - kStep, 0.0f);
    if (id == EventId::Encoder1ShortRelease) EventDispatcher::addEvent(EventId::Close);
    return true;
}
