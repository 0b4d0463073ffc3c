#include "ui/DrawerColor.h"

#include "ui/EventDispatcher.h"
#include "ui/EventId.h"
#include "ui/glcd/Glcd.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {
constexpr int kColorTextLength = 6;
constexpr uint32_t kColorMask = 0xFFFFFF;
constexpr uint8_t kTrackLeft = 11, kTrackRight = 106, kTrackSpan = 95;
constexpr uint8_t kKnobRadius = 3;
constexpr uint8_t kValueRight = 126;
const char* const kLabels[] = {"R", "G", "B"};

uint8_t sliderRow(int index) { return uint8_t(22 + 12 * index); }
}

DrawerColor::DrawerColor(std::string title, std::string* result)
    : result(result), initialText(result ? *result : std::string()), title(std::move(title)) {
    // Read as strtol reads it (the leading hexadecimal digits), kept to 24 bits so that the text written
    // back is always six digits, whatever sign or prefix the stored text had.
    if (initialText.size() == size_t(kColorTextLength))
        color = uint32_t(std::strtol(initialText.c_str(), nullptr, 16)) & kColorMask;
}

void DrawerColor::updateColor() {
    if (!result) return;
    char text[16];
    std::snprintf(text, sizeof text, "%06X", unsigned(color & kColorMask));
    *result = text;
}

int DrawerColor::component(int index) const { return int((color >> (8 * (2 - index))) & 0xFF); }

void DrawerColor::setComponent(int index, int value) {
    const int shift = 8 * (2 - index);
    color = (color & ~(0xFFu << shift)) | (uint32_t(std::clamp(value, 0, 255)) << shift);
}

void DrawerColor::drawSlider(int index) const {
    const uint8_t row = sliderRow(index);
    glcd_drawLine(kTrackLeft, row, kTrackRight, row, 1);
    const uint8_t knob = uint8_t(component(index) * kTrackSpan / 256 + kTrackLeft);
    glcd_fillCircle(knob, row, kKnobRadius, 0);
    const bool filled = cursor == index && !(editing && blink < 1);
    if (filled) {
        glcd_fillCircle(knob, row, kKnobRadius, 1);
    } else {
        glcd_drawCircle(knob, row, kKnobRadius, 1);
    }
    const uint8_t textRow = uint8_t(row - 5);
    glcd_drawStringFont(1, textRow, kLabels[index], glcd_font10, 1);
    glcd_drawStringFontRightAligned(kValueRight, textRow, std::to_string(component(index)).c_str(), glcd_font10, 1);
}

void DrawerColor::drawButtons() const {
    const bool back = cursor == kBack;
    const bool save = cursor == kSave;
    glcd_fillRect(0, 53, 63, 63, back ? 1 : 0);
    glcd_drawStringFont(22, 53, "Back", glcd_font10, back ? 0 : 1);
    glcd_fillRect(64, 53, 127, 63, save ? 1 : 0);
    glcd_drawStringFont(86, 53, "Save", glcd_font10, save ? 0 : 1);
}

bool DrawerColor::draw() {
    glcd_drawStringFont(1, 1, title.c_str(), glcd_font10, 1);
    glcd_drawLine(0, 12, 127, 12, 1);
    for (int index = kRed; index <= kBlue; ++index) drawSlider(index);
    drawButtons();
    return true;
}

bool DrawerColor::onEvent(int id) {
    switch (id) {
    case EventId::Encoder1Forward:
    case EventId::Encoder1Back: {
        const int step = id == EventId::Encoder1Forward ? 1 : -1;
        if (editing) {
            setComponent(cursor, component(cursor) + step);
            updateColor();
        } else {
            cursor = std::clamp(cursor + step, int(kRed), int(kSave));
        }
        break;
    }
    case EventId::Encoder1ShortRelease:
        if (cursor <= kBlue) {
            editing = !editing;
        } else if (cursor == kBack) {
            if (result) *result = initialText;
            EventDispatcher::addEvent(EventId::Close);
        } else {
            updateColor();
            EventDispatcher::addEvent(EventId::Close);
        }
        break;
    case EventId::Tick:
        blink = blink >= 1 ? -1 : blink + 1;
        break;
    default:
        break;
    }
    return true;
}
