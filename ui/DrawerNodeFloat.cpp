#include "ui/DrawerNodeFloat.h"

#include "ui/DrawerFastNodes.h"
#include "ui/EventDispatcher.h"
#include "ui/EventId.h"
#include "ui/glcd/Glcd.h"
#include "core/NodeEnum.h"
#include "core/NodeFloat.h"

#include <algorithm>

namespace {
// The inactivity count grows by this much per tick and closes the page at kTicksPerTimeout x timeout.
constexpr int kIdleStep = 2;
constexpr int kTicksPerTimeout = 5;
}

DrawerNodeFloat::DrawerNodeFloat(NodeFloat* node, int upEvent, int downEvent, int timeout, std::string title,
                                 NodeEnum* onOff, int toggleEvent, std::string onValue)
    : node(node),
      onOff(onOff),
      upEvent(upEvent),
      downEvent(downEvent),
      timeout(timeout),
      title(std::move(title)),
      toggleEvent(toggleEvent),
      onValue(std::move(onValue)) {}

// Columns kBarLeft to end - 1 with every fourth diagonal set: a bar that reads as "present but off".
void DrawerNodeFloat::drawHatched(int end) const {
    for (int x = DrawerFastNodes::kBarLeft; x < end; ++x) {
        for (int y = DrawerFastNodes::kBarTop; y < DrawerFastNodes::kBarBottom; ++y) {
            if ((x + y) % 4 == 1) glcd_drawPixel(uint8_t(x), uint8_t(y), 1);
        }
    }
}

bool DrawerNodeFloat::draw() {
    if (!title.empty()) glcd_drawStringFont(10, 16, title.c_str(), glcd_font11, 1);
    DrawerFastNodes::drawBarFrame();
    if (!node) return true;
    const float slider = std::clamp(node->toSlider(), 0.0f, 1.0f);
    const int end = DrawerFastNodes::kBarLeft + int(slider * DrawerFastNodes::kBarSpan);
    if (!onOff || onOff->isValue(onValue.c_str())) {
        glcd_fillRect(DrawerFastNodes::kBarLeft, DrawerFastNodes::kBarTop, uint8_t(end), DrawerFastNodes::kBarBottom,
                      1);
        return true;
    }
    drawHatched(end);
    glcd_fillRect(47, 30, 75, 44, 0);
    glcd_drawStringFont(49, 31, "OFF", glcd_font14wide, 1);
    return true;
}

void DrawerNodeFloat::close() {
    if (closing) return;
    closing = true;
    EventDispatcher::addEvent(EventId::Close);
}

bool DrawerNodeFloat::onEvent(int id) {
    if (id == upEvent || id == downEvent) {
        idleCount = 0;
        if (node) node->edit(id == upEvent);
        return true;
    }
    if (id == toggleEvent && onOff) {
        idleCount = 0;
        onOff->toggle();
        return true;
    }
    if (id == EventId::Tick) {
        const int before = idleCount;
        idleCount += kIdleStep;
        if (before >= kTicksPerTimeout * timeout) close();
        return true;
    }
    return id >= EventId::Encoder1Forward && id <= EventId::Encoder1LongRelease;
}
