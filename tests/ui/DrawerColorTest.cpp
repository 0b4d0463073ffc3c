// The colour editor: reading the caller's text, stepping the components, Save and Back, and the blinking
// knob in the monochrome picture.
#include "ui/DrawerColor.h"
#include "tests/ui/DrawerFixture.h"
#include "ui/EventId.h"

#include <string>
#include <vector>

namespace {
int knobColumn(int value) { return value * 95 / 256 + 11; }

// The band of one slider: its label, track, knob and value right-aligned at x 126.
std::string sliderBand(int index) { return glcdpicture::region(0, 17 + 12 * index, 127, 28 + 12 * index); }
std::string expectedSlider(int index, const char* label, int value, bool filled) {
    return glcdpicture::reference(0, 17 + 12 * index, 127, 28 + 12 * index, [&] {
        const uint8_t row = uint8_t(22 + 12 * index);
        glcd_drawStringFont(1, uint8_t(row - 5), label, glcd_font10, 1);
        glcd_drawLine(11, row, 106, row, 1);
        glcd_fillCircle(uint8_t(knobColumn(value)), row, 3, 0);
        if (filled) {
            glcd_fillCircle(uint8_t(knobColumn(value)), row, 3, 1);
        } else {
            glcd_drawCircle(uint8_t(knobColumn(value)), row, 3, 1);
        }
        glcd_drawStringFontRightAligned(126, uint8_t(row - 5), std::to_string(value).c_str(), glcd_font10, 1);
    });
}

using DrawerColorTest = DrawerPage;
}

TEST_F(DrawerColorTest, EditsTheComponentsAndSavesOrRestores) {
    struct Case {
        const char* name;
        const char* opened;
        const char* keys;
        const char* result; // the caller's string afterwards
        bool closes;
    };
    const std::vector<Case> cases = {
        {"red up three while editing", "102030", "^3>", "132030", false},
        {"the text follows every change", "102030", ">^<", "101F30", false},
        {"red stops at 255", "FE0000", "^4>", "FF0000", false},
        {"blue stops at 0", "000001", "2>^3<", "000000", false},
        {"Save keeps the edit", "102030", "^>^4>^", "112030", true},
        {"Save writes upper case", "abcdef", "4>^", "ABCDEF", true},
        {"Back restores the opened text", "abcdef", "^>^3>^", "abcdef", true},
        {"a short text opens at black", "12345", "4>^", "000000", true},
        {"Back restores a short text", "12345", "3>^", "12345", true},
        {"the cursor stops at Save", "102030", "9>^", "102030", true},
        {"the cursor stops at red", "102030", "3<^>", "112030", false},
        // A signed text reads as a negative number: the colour keeps to 24 bits and the text to six digits.
        {"a signed text stays six digits", "-00001", "4>^", "FFFFFF", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string result = c.opened;
        auto* page = new DrawerColor("Colour", &result);
        send(c.keys);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(EventDispatcher::elements(), c.closes ? 1 : 2);
        if (!c.closes) EventDispatcher::removeListener(page);
    }
}

TEST_F(DrawerColorTest, DrawsTheSlidersValuesAndButtons) {
    std::string result = "FF8000";
    new DrawerColor("Colour", &result);
    redrawGlcd();
    glcdpicture::savePng("ui_colour");
    EXPECT_EQ(glcdpicture::region(0, 0, 127, 12), glcdpicture::reference(0, 0, 127, 12, [] {
                  glcd_drawStringFont(1, 1, "Colour", glcd_font10, 1);
                  glcd_drawLine(0, 12, 127, 12, 1);
              }));
    // The highlighted red knob is a filled disc; the others are outlines.
    EXPECT_EQ(sliderBand(0), expectedSlider(0, "R", 255, true));
    EXPECT_EQ(sliderBand(1), expectedSlider(1, "G", 128, false));
    EXPECT_EQ(sliderBand(2), expectedSlider(2, "B", 0, false));
    // Neither button is highlighted: their boxes are clear.
    EXPECT_FALSE(pixel(1, 55));
    EXPECT_FALSE(pixel(126, 55));

    send("4>");
    redrawGlcd();
    EXPECT_FALSE(pixel(1, 55));
    EXPECT_TRUE(pixel(126, 55)) << "Save highlighted";
    EXPECT_FALSE(pixel(knobColumn(255), 22)) << "no knob highlighted";
}

TEST_F(DrawerColorTest, TheEditedKnobIsFilledOneTickInThree) {
    std::string result = "808080";
    new DrawerColor("Colour", &result);
    send("^");
    std::string filled;
    for (int tick = 0; tick < 6; ++tick) {
        redrawGlcd();
        filled += pixel(knobColumn(128), 22) ? '#' : '.';
        send("t");
    }
    // blink 0, 1, -1, 0, 1, -1: filled only at 1.
    EXPECT_EQ(filled, ".#..#.");
    send("^");
    redrawGlcd();
    EXPECT_TRUE(pixel(knobColumn(128), 22)) << "not editing: the highlighted knob is filled";
}

TEST_F(DrawerColorTest, ConsumesEveryEvent) {
    std::string result = "000000";
    new DrawerColor("Colour", &result);
    pages::log().clear();
    send({EventId::Idle, EventId::Encoder2ShortRelease, EventId::FootswitchAPress, EventId::Encoder1Press, 240});
    EXPECT_TRUE(pages::entriesOf("below").empty());
    EXPECT_EQ(EventDispatcher::elements(), 2);
}
