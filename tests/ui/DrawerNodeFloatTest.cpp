// The pages drawn into the monochrome picture. The float bar page: stepping by configured events, the on/off

// switch with its hatched bar, which events pass to the pages below, and the close after inactivity; the
// level bar page, stepping in tenths. The colour editor: reading the caller's text, stepping the components,
// Save and Back, and the blinking knob. The array editor: moving over the values and the menu, editing while
// the button is held, adding and deleting values, the status line and its drawing.
#include "tests/ui/DrawerFixture.h"
#include "ui/DrawerFastNodes.h"
#include "ui/DrawerNodeFloat.h"
#include "ui/EventId.h"
#include "core/NodeFloat.h"
#include "core/NodeItem.h"
#include "core/NodeOnOff.h"
#include "ui/DrawerColor.h"
#include "ui/DrawerArray.h"
#include "core/NodeArray.h"
#include "core/NodeTemp.h"

#include <memory>
#include <string>
#include <vector>
#include <algorithm>

namespace {
constexpr int UpEvent = EventId::FootswitchBPress;
constexpr int DownEvent = EventId::FootswitchAPress;
constexpr int ToggleEvent = EventId::FootswitchCPress;

class DrawerNodeFloatTest : public DrawerPage {
protected:
    void SetUp() override {
        DrawerPage::SetUp();
        folder = std::make_unique<NodeItem>(nullptr, "delay", "Delay", "", "hfolder");
        level = new NodeFloat(folder.get(), "level", "Level", 0.0f, 10.0f, 5.0f, "", 0.5f, false, 1);
        enable = new NodeOnOff(folder.get(), "Enable", "Enable", NodeOnOff::ON);
    }
    std::unique_ptr<Node> folder;
    NodeFloat* level = nullptr;
    NodeOnOff* enable = nullptr;
};

// The last filled column of the bar on its middle row.
int barEnd() {
    redrawGlcd();
    int end = -1;
    for (int x = 10; x <= 117; ++x) {
        if (pixel(x, 36)) end = x;
    }
    return end;
}
}

TEST_F(DrawerNodeFloatTest, StepsAndTogglesWithTheConfiguredEventsOnly) {
    new DrawerNodeFloat(level, UpEvent, DownEvent, 10, "Level", enable, ToggleEvent, NodeOnOff::ON);
    pages::log().clear();
    // Consumed: the configured ids (in any range), the tick and the main encoder's ids; the rest passes on.
    for (int id : {UpEvent, DownEvent, ToggleEvent, EventId::Tick, 10, 11, 12, 13, 14, 15, EventId::Idle,
                   EventId::FootswitchAShortRelease, EventId::Encoder2ShortRelease, EventId::Encoder3Forward,
                   EventId::FootswitchCShortRelease}) {
        send(id);
    }
    EXPECT_EQ(pages::entriesOf("below"), (std::vector<std::string>{"3", "17", "43", "240", "247"}));

    // One step up, one down, one toggle: back at 5 and switched off.
    EXPECT_FLOAT_EQ(level->getValue(), 5.0f);
    EXPECT_TRUE(enable->isValue(NodeOnOff::OFF));
    send({UpEvent, UpEvent});
    EXPECT_GT(level->getValue(), 5.0f);
    send({ToggleEvent});
    EXPECT_TRUE(enable->isValue(NodeOnOff::ON));
}

TEST_F(DrawerNodeFloatTest, DrawsASolidBarWhenOnAndAHatchedOneWithOffWhenOff) {
    new DrawerNodeFloat(level, UpEvent, DownEvent, 10, "Level", enable, ToggleEvent, NodeOnOff::ON);
    redrawGlcd();
    glcdpicture::savePng("ui_float_on");
    const int end = 10 + int(level->toSlider() * 107);
    EXPECT_TRUE(pixel(end - 1, 36));
    EXPECT_FALSE(pixel(end + 1, 36));
    EXPECT_EQ(glcdpicture::region(0, 13, 127, 27),
              glcdpicture::reference(0, 13, 127, 27, [] { glcd_drawStringFont(10, 16, "Level", glcd_font11, 1); }));

    send({ToggleEvent});
    redrawGlcd();
    glcdpicture::savePng("ui_float_off");
    // Hatching: the pixels with (x + y) mod 4 = 1 left of the "OFF" box.
    for (int x = 10; x < 47; ++x) {
        for (int y = 29; y < 45; ++y) EXPECT_EQ(pixel(x, y), (x + y) % 4 == 1) << x << "," << y;
    }
    EXPECT_EQ(glcdpicture::region(47, 30, 75, 43),
              glcdpicture::reference(47, 30, 75, 43, [] { glcd_drawStringFont(49, 31, "OFF", glcd_font14wide, 1); }));

    // At the bottom of the range only the "OFF" box shows.
    level->setValue(0.0f);
    redrawGlcd();
    for (int y = 29; y < 45; ++y) EXPECT_FALSE(pixel(12, y));
    EXPECT_EQ(glcdpicture::region(47, 30, 75, 43),
              glcdpicture::reference(47, 30, 75, 43, [] { glcd_drawStringFont(49, 31, "OFF", glcd_font14wide, 1); }));
}

TEST_F(DrawerNodeFloatTest, ClosesAfterInactivity) {
    // idleCount grows by 2 per tick; the page closes at the first tick at which it had reached 5 x timeout.
    struct Case {
        int timeout;
        int closingTick;
    };
    for (const Case& c : std::vector<Case>{{0, 1}, {1, 4}, {2, 6}, {10, 26}}) {
        SCOPED_TRACE("timeout " + std::to_string(c.timeout));
        new DrawerNodeFloat(level, UpEvent, DownEvent, c.timeout, "", nullptr, ToggleEvent, NodeOnOff::ON);
        int tick = 0;
        while (EventDispatcher::elements() == 2 && tick < 100) {
            ++tick;
            send("t");
        }
        EXPECT_EQ(tick, c.closingTick);
    }

    // A handled control event starts the count again.
    new DrawerNodeFloat(level, UpEvent, DownEvent, 2, "", nullptr, ToggleEvent, NodeOnOff::ON);
    send("5t");
    send({DownEvent});
    send("5t");
    EXPECT_EQ(EventDispatcher::elements(), 2);
    send("t");
    EXPECT_EQ(EventDispatcher::elements(), 1);
}

TEST_F(DrawerNodeFloatTest, TicksThatPiledUpCloseOnlyThePage) {
    auto* caller = new RecordingPage("caller", {}, true);
    new DrawerNodeFloat(level, UpEvent, DownEvent, 0, "", nullptr, ToggleEvent, NodeOnOff::ON);
    send("3t");
    EXPECT_EQ(EventDispatcher::elements(), 2);
    EXPECT_TRUE(EventDispatcher::hasFocus(caller));
}

TEST_F(DrawerNodeFloatTest, WithoutANodeDrawsTheFrameAndTitleAndStillCloses) {
    new DrawerNodeFloat(nullptr, UpEvent, DownEvent, 1, "Nothing", nullptr, ToggleEvent, NodeOnOff::ON);
    send({UpEvent, DownEvent});
    redrawGlcd();
    EXPECT_EQ(glcdpicture::region(0, 0, 127, 63), glcdpicture::reference(0, 0, 127, 63, [] {
                  glcd_drawStringFont(10, 16, "Nothing", glcd_font11, 1);
                  glcd_drawRect(10, 28, 117, 45, 1);
                  glcd_drawLine(10, 29, 10, 44, 0);
                  glcd_drawLine(117, 29, 117, 44, 0);
                  glcd_drawLine(9, 29, 9, 44, 1);
                  glcd_drawLine(118, 29, 118, 44, 1);
              }));
    send("4t");
    EXPECT_EQ(EventDispatcher::elements(), 1);
}

TEST_F(DrawerNodeFloatTest, TheLevelPageStepsInTenthsWithinTheBar) {
    new DrawerFastNodes;
    EXPECT_EQ(barEnd(), 10 + 53);
    glcdpicture::savePng("ui_fast_nodes");
    // The frame: rounded ends one column out, the title above.
    EXPECT_TRUE(pixel(9, 36));
    EXPECT_TRUE(pixel(118, 36));
    EXPECT_FALSE(pixel(9, 28));
    EXPECT_TRUE(pixel(60, 28));
    EXPECT_EQ(glcdpicture::region(0, 13, 127, 27),
              glcdpicture::reference(0, 13, 127, 27, [] { glcd_drawStringFont(10, 16, "Title", glcd_font14, 1); }));

    send(">");
    EXPECT_EQ(barEnd(), 10 + 64);
    send("20>");
    EXPECT_EQ(barEnd(), 117) << "the bar fills up to the frame";
    send("<");
    EXPECT_EQ(barEnd(), 10 + 96);
    send("30<");
    EXPECT_EQ(barEnd(), 10) << "only the first column at 0";

    pages::log().clear();
    send({EventId::Idle, EventId::Tick, EventId::FootswitchAPress, EventId::Encoder2ShortRelease});
    EXPECT_TRUE(pages::entriesOf("below").empty());
    EXPECT_EQ(EventDispatcher::elements(), 2);
    send("^");
    EXPECT_EQ(EventDispatcher::elements(), 1);
}

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

namespace {
const char kCelsius[] = "\xB0"
                        "C";

std::vector<float> valuesOf(const NodeArray& node) {
    std::vector<float> values;
    for (int i = 0; i < node.getLength(); ++i) values.push_back(node.getValueAt(i));
    return values;
}

// The menu item whose box is filled: 0 "X1"/"X10", 1 "Add", 2 "Del", 3 "Back"; -1 for none. Column 100 of
// a box is left of its text, so it is set only in the highlighted box.
int highlightedItem() {
    redrawGlcd();
    int found = -1;
    for (int item = 0; item < 4; ++item) {
        if (pixel(100, 17 + 10 * item + 4)) {
            EXPECT_EQ(found, -1) << "two items highlighted";
            found = item;
        }
    }
    return found;
}

// Redraws and compares the status line with its texts drawn by hand; '~' stands for the degree byte.
void expectStatus(std::string left, std::string right) {
    for (std::string* text : {&left, &right}) std::replace(text->begin(), text->end(), '~', '\xB0');
    redrawGlcd();
    EXPECT_EQ(glcdpicture::region(0, 57, 95, 63),
              glcdpicture::reference(0, 57, 95, 63,
                                     [&] {
                                         glcd_drawStringFont(0, 57, left.c_str(), glcd_font3x6, 1);
                                         glcd_drawStringFontRightAligned(92, 57, right.c_str(), glcd_font3x6, 1);
                                     }))
        << left << " | " << right;
}

class DrawerArrayTest : public DrawerPage {
protected:
    void SetUp() override {
        DrawerPage::SetUp();
        root = std::make_unique<NodeItem>(nullptr, "app", "app", "", "folder");
        // Temperatures every 30 s, up to four points, 0.1 degree steps between 0 and 100.
        curve = new NodeArray(root.get(), "curve", "Curve", 4, 0.0f, 100.0f, 1, kCelsius, 0.0f, 30.0f, "s");
    }
    void fill(const std::vector<float>& values) {
        curve->setLength(0);
        for (size_t i = 0; i < values.size(); ++i) curve->setValueAt(values[i], int(i));
    }
    std::unique_ptr<Node> root;
    NodeArray* curve = nullptr;
};
}

TEST_F(DrawerArrayTest, EditsMovesAddsAndDeletes) {
    // From a page opened on {25, 30, 35} (items: values 0..2, "X1" 3, "Add" 4, "Del" 5, "Back" 6; the cursor
    // starts on "Back").
    struct Case {
        const char* name;
        const char* keys;
        std::vector<float> values;
        int highlighted; // the menu item highlighted afterwards, -1 when the cursor is on a value
    };
    const std::vector<Case> cases = {
        {"opens on Back", "", {25, 30, 35}, 3},
        {"forward stops at Back", "3>", {25, 30, 35}, 3},
        {"back stops at the first value", "10<", {25, 30, 35}, -1},
        {"turning without the button moves", "4<", {25, 30, 35}, -1},
        {"held: one display step", "6<v2>^", {25.2f, 30, 35}, -1},
        {"held: down", "5<v<^", {25, 29.9f, 35}, -1},
        {"long release ends holding", "5<vl>", {25, 30, 35}, -1},
        {"X10: ten steps per detent", "3<v^<v>^", {25, 30, 36}, -1},
        {"X10 clamps at the node's maximum", "3<v^<v70>^", {25, 30, 100}, -1},
        {"Add copies the last value and keeps Add highlighted", "2<v^", {25, 30, 35, 35}, 1},
        {"Add on a full array adds nothing and stays on Add", "2<v^v^", {25, 30, 35, 35}, 1},
        {"Del removes the last value and keeps Del highlighted", "<v^", {25, 30}, 2},
        {"Del down to empty, and once more", "<v^v^v^v^", {}, 2},
        {"Add on empty writes the minimum", "<v^v^v^<v^", {0}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fill({25.0f, 30.0f, 35.0f});
        auto* page = new DrawerArray(curve);
        send(c.keys);
        ASSERT_EQ(EventDispatcher::elements(), 2);
        const std::vector<float> values = valuesOf(*curve);
        ASSERT_EQ(values.size(), c.values.size());
        for (size_t i = 0; i < values.size(); ++i) EXPECT_NEAR(values[i], c.values[i], 1e-4) << "value " << i;
        EXPECT_EQ(highlightedItem(), c.highlighted);
        EventDispatcher::removeListener(page);
    }
    // Back closes and leaves the array as it was.
    fill({25.0f, 30.0f, 35.0f});
    new DrawerArray(curve);
    send("v^");
    EXPECT_EQ(EventDispatcher::elements(), 1);
    EXPECT_EQ(valuesOf(*curve), (std::vector<float>{25.0f, 30.0f, 35.0f}));
}

TEST_F(DrawerArrayTest, StatusLineShowsTheValueThePositionAndTheScale) {
    fill({25.0f, 30.0f, 35.0f});
    new DrawerArray(curve);
    expectStatus("MIN 20~C", "MAX 40~C");
    glcdpicture::savePng("ui_array_menu");

    send("5<");
    expectStatus("VAL 30.0~C", "CUR 0:30");
    glcdpicture::savePng("ui_array_value");

    // A value above the soft range stretches the scale.
    curve->setValueAt(100.0f, 2);
    send("2>");
    expectStatus("MIN 20~C", "MAX 100~C");
    NodeTemp::unitNode()->setValue("F");
    expectStatus("MIN 68~F", "MAX 212~F");
    send("2<");
    expectStatus("VAL 86.0~F", "CUR 0:30");
}

TEST_F(DrawerArrayTest, StatusLineOfOtherUnitsAndTheDefaultPrecision) {
    auto* gains = new NodeArray(root.get(), "gains", "Gains", 8, -10.0f, 10.0f, -1, "dB", 100.0f, 250.0f, "Hz");
    gains->setValueAt(1.5f, 0);
    gains->setValueAt(-2.25f, 1);
    new DrawerArray(gains);
    send("4<");
    expectStatus("VAL -2.25dB", "CUR 350Hz");
}

TEST_F(DrawerArrayTest, DrawsTitleChartMarkerAndMenu) {
    fill({25.0f, 30.0f, 35.0f});
    new DrawerArray(curve);
    redrawGlcd();
    EXPECT_EQ(glcdpicture::region(0, 0, 127, 12), glcdpicture::reference(0, 0, 127, 12, [] {
                  glcd_drawStringFont(1, 1, "Curve", glcd_font10, 1);
                  glcd_drawLine(0, 12, 127, 12, 1);
              }));
    // The menu: "Back" highlighted (box set, text cleared), the others as text on a clear box.
    EXPECT_EQ(glcdpicture::region(100, 17, 124, 56), glcdpicture::reference(100, 17, 124, 56, [] {
                  glcd_drawStringFont(101, 18, "X1", glcd_font5x7, 1);
                  glcd_drawStringFont(101, 28, "Add", glcd_font5x7, 1);
                  glcd_drawStringFont(101, 38, "Del", glcd_font5x7, 1);
                  glcd_fillRect(100, 47, 124, 56, 1);
                  glcd_drawStringFont(101, 48, "Back", glcd_font5x7, 0);
              }));
    // No marker while the cursor is on the menu; on value 1 a dotted column at x = 1 + trunc(1 * 89 / 2).
    EXPECT_FALSE(pixel(45, 21));
    send("5<");
    redrawGlcd();
    EXPECT_TRUE(pixel(45, 21));
    EXPECT_TRUE(pixel(45, 23));
    EXPECT_FALSE(pixel(45, 22));
    // The curve: the first value 25 on a 20..40 scale, 37 rows high: row 55 - trunc(5 * 37 / 20) = 46.
    EXPECT_TRUE(pixel(1, 46));
}

TEST_F(DrawerArrayTest, DrawsNothingWithoutAnArrayNode) {
    new DrawerArray(nullptr);
    pages::log().clear();
    redrawGlcd();
    EXPECT_EQ(glcdpicture::region(0, 0, 127, 63), glcdpicture::reference(0, 0, 127, 63, [] {}));
    EXPECT_TRUE(pages::entriesOf("below").empty()) << "the pages below are not drawn";
    send("v^");
    EXPECT_EQ(EventDispatcher::elements(), 1) << "Back closes the empty page";
}
