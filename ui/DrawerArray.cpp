#include "ui/DrawerArray.h"

#include "ui/EventDispatcher.h"
#include "ui/EventId.h"
#include "ui/glcd/Glcd.h"
#include "core/NodeArray.h"
#include "core/NodeTemp.h"

#include <cstdio>
#include <cstring>

namespace {
// Items after the values: the step mode, "Add", "Del", "Back".
constexpr int kStepItem = 0;
constexpr int kAddItem = 1;
constexpr int kDeleteItem = 2;
constexpr int kBackItem = 3;
constexpr int kMenuItems = 4;

// The chart's plot area and scale: at least 20 to 40, nothing drawn below 0.
constexpr int kChartLeft = 1, kChartTop = 18, kChartRight = 90, kChartBottom = 55;
constexpr float kFloor = 0.0f, kCeiling = 250.0f;
constexpr float kRangeLow = 20.0f, kRangeHigh = 40.0f;

constexpr uint8_t kStatusRow = 57;
constexpr uint8_t kStatusRight = 92;
// The node's default precision is a step of 0.01.
constexpr int kDefaultDecimals = 2;

const char kCelsius[] = "\xB0"
                        "C";

// A value in the unit the user reads: temperatures follow the system's temperature setting.
struct Shown {
    float value;
    std::string unit;
};
Shown shown(float value, const char* unit) {
    if (std::strcmp(unit, kCelsius) == 0) return {NodeTemp::convertTemperature(value), NodeTemp::getTemperatureUnit()};
    return {value, unit};
}
}

DrawerArray::DrawerArray(NodeArray* node) : node(node) {
    refill();
    cursor = count() + kBackItem;
}

void DrawerArray::refill() {
    values.clear();
    if (node) {
        const int length = node->getLength();
        for (int i = 0; i < length; ++i) values.push_back(node->getValueAt(i));
    }
    if (cursor > count() + kBackItem) cursor = count() + kBackItem;
}

bool DrawerArray::draw() {
    if (!node || !node->isLeaf()) return true;
    refill();
    glcd_drawStringFont(1, 1, node->getDisplayName(), glcd_font10, 1);
    glcd_drawLine(0, 12, 127, 12, 1);
    if (count() > 0) {
        chart.setData(values.data(), count());
        chart.setSize(kChartLeft, kChartTop, kChartRight, kChartBottom);
        chart.setYLimits(kFloor, kCeiling, true, false);
        chart.setYRange(kRangeLow, kRangeHigh, true, true);
        chart.draw(0, count() - 1, cursor < count() ? cursor : -1);
    }
    drawMenu();
    if (count() > 0) drawStatus();
    return true;
}

void DrawerArray::drawMenu() const {
    const char* const texts[kMenuItems] = {times10 ? "X10" : "X1", "Add", "Del", "Back"};
    for (int item = 0; item < kMenuItems; ++item) {
        const uint8_t top = uint8_t(17 + 10 * item);
        const bool highlighted = cursor == count() + item;
        glcd_fillRect(100, top, 124, top + 9, highlighted ? 1 : 0);
        glcd_drawStringFont(101, top + 1, texts[item], glcd_font5x7, highlighted ? 0 : 1);
    }
}

void DrawerArray::drawStatus() {
    char left[48];
    char right[48];
    const char* unit = node->getUnit();
    if (cursor < count()) {
        const int decimals = node->getDecimals() < 0 ? kDefaultDecimals : node->getDecimals();
        const Shown value = shown(values[size_t(cursor)], unit);
        std::snprintf(left, sizeof left, "VAL %.*f%s", decimals, double(value.value), value.unit.c_str());
        const int t = int(node->getXStart() + float(cursor) * node->getXStep());
        if (std::strcmp(node->getXUnit(), "s") == 0) {
            std::snprintf(right, sizeof right, "CUR %01d:%02d", t / 60, t % 60);
        } else {
            std::snprintf(right, sizeof right, "CUR %d%s", t, node->getXUnit());
        }
    } else {
        const Shown low = shown(chart.getMin(), unit);
        const Shown high = shown(chart.getMax(), unit);
        std::snprintf(left, sizeof left, "MIN %.0f%s", double(low.value), low.unit.c_str());
        std::snprintf(right, sizeof right, "MAX %.0f%s", double(high.value), high.unit.c_str());
    }
    glcd_drawStringFont(0, kStatusRow, left, glcd_font3x6, 1);
    glcd_drawStringFontRightAligned(kStatusRight, kStatusRow, right, glcd_font3x6, 1);
}

void DrawerArray::move(bool forward) {
    if (forward) {
        if (cursor < count() + kBackItem) ++cursor;
    } else if (cursor > 0) {
        --cursor;
    }
}

void DrawerArray::editValue(bool up) {
    const int steps = times10 ? 10 : 1;
    for (int step = 0; step < steps; ++step) node->editAt(cursor, up);
    refill();
}

void DrawerArray::activate() {
    const int n = count();
    if (cursor < n) return;
    switch (cursor - n) {
    case kStepItem:
        times10 = !times10;
        break;
    case kAddItem:
        // The highlight follows "Add" as the list grows; a full array grows no more, and then the
        // highlight stays on "Add" rather than landing on "Del", where a second press would delete.
        if (node) {
            node->setValueAt(n > 0 ? values.back() : node->getMin(), n);
            refill();
            cursor += count() - n;
        }
        break;
    case kDeleteItem:
        if (node && n >= 1) {
            node->setLength(n - 1);
            refill();
            cursor -= n - count();
        }
        break;
    case kBackItem:
        EventDispatcher::addEvent(EventId::Close);
        break;
    default:
        break;
    }
}

bool DrawerArray::onEvent(int id) {
    refill();
    switch (id) {
    case EventId::Idle:
        EventDispatcher::addEvent(EventId::Close);
        return false;
    case EventId::Encoder1Forward:
    case EventId::Encoder1Back: {
        const bool forward = id == EventId::Encoder1Forward;
        if (held && cursor < count()) {
            editValue(forward);
        } else {
            move(forward);
        }
        break;
    }
    case EventId::Encoder1Press:
        held = true;
        break;
    case EventId::Encoder1ShortRelease:
        held = false;
        activate();
        break;
    case EventId::Encoder1LongRelease:
        held = false;
        break;
    default:
        break;
    }
    return true;
}
