// The array editor: moving over the values and the menu, editing while the button is held, adding and
// deleting values, the status line and what it draws into the monochrome picture.
#include "ui/DrawerArray.h"
#include "tests/ui/DrawerFixture.h"
#include "core/NodeArray.h"
#include "core/NodeItem.h"
#include "core/NodeTemp.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

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
