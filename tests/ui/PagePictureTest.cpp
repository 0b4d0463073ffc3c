// The pages as rendered pictures, each saved as a PNG in the build folder to look at: the splash, the home
// screen and its value popup, the chain screen, a node page, a dialog and the keyboard. On every one, each
// text that nothing covers shows pixels of its colour inside its box, so what the object tree says is what
// the display shows; the selected block tile glows.
#include "ui/Chain.h"
#include "ui/DrawerKeyboard.h"
#include "ui/DrawerNode.h"
#include "ui/DrawerPopup.h"
#include "tests/ui/HomeScreen.h"

#include <algorithm>
#include <cstdlib>

using gfx::GfxTestView;
using gfx::ObjectView;
using homescreen::ProductTree;
using homescreen::redraw;
using homescreen::savePng;
using homescreen::send;
namespace ev = EventId;

namespace {
// Within what the edge of a thin, smoothed stroke loses of its colour.
bool near(uint32_t pixel, uint32_t colour) {
    for (int shift : {0, 8, 16}) {
        if (std::abs(int(pixel >> shift & 0xFF) - int(colour >> shift & 0xFF)) > 0x40) return false;
    }
    return true;
}

// The part of the view's box that its ancestors and the screen let through.
lv_area_t visibleBox(const std::vector<ObjectView>& views, size_t index) {
    lv_area_t box = views[index].box;
    for (int parent = views[index].parent; parent >= 0; parent = views[size_t(parent)].parent) {
        const lv_area_t& outer = views[size_t(parent)].box;
        box = {std::max(box.x1, outer.x1), std::max(box.y1, outer.y1), std::min(box.x2, outer.x2),
               std::min(box.y2, outer.y2)};
    }
    return {std::max(box.x1, 0), std::max(box.y1, 0), std::min(box.x2, 319), std::min(box.y2, 169)};
}

// True when an opaque object drawn later lies over the middle of the box.
bool covered(const std::vector<ObjectView>& views, size_t index, const lv_area_t& box) {
    const int32_t x = (box.x1 + box.x2) / 2, y = (box.y1 + box.y2) / 2;
    for (size_t later = index + 1; later < views.size(); ++later) {
        const ObjectView& view = views[later];
        if (view.main.bgOpa == LV_OPA_COVER && view.box.x1 <= x && x <= view.box.x2 && view.box.y1 <= y &&
            y <= view.box.y2) {
            return true;
        }
    }
    return false;
}

// Renders the screen, saves it and checks every uncovered text; the number of texts checked.
int expectTextsDrawn(const std::vector<ObjectView>& views, const std::string& page) {
    savePng("ui_page_" + page);
    int checked = 0;
    for (size_t i = 0; i < views.size(); ++i) {
        const ObjectView& label = views[i];
        if (label.kind != "label" || label.lines.empty() ||
            label.lines[0].find_first_not_of(' ') == std::string::npos) {
            continue;
        }
        const lv_area_t box = visibleBox(views, i);
        if (box.x1 > box.x2 || box.y1 > box.y2 || covered(views, i, box)) continue;
        int inColour = 0;
        int32_t topRow = box.y2 + 1;
        for (int32_t y = box.y1; y <= box.y2; ++y) {
            for (int32_t x = box.x1; x <= box.x2; ++x) {
                if (!near(GfxTestView::pixel(x, y), label.main.textColor)) continue;
                ++inColour;
                topRow = std::min(topRow, y);
            }
        }
        EXPECT_GT(inColour, 0) << page << ": \"" << label.text << "\" not drawn in its box\n"
                               << GfxTestView::describe(views);
        // Text starts at the top of its box: the glyphs' first row lies in the upper third of it.
        if (box.y1 == label.box.y1) {
            EXPECT_LE(topRow, box.y1 + std::max(4, (box.y2 - box.y1) / 3))
                << page << ": \"" << label.text << "\" sits low";
        }
        ++checked;
    }
    return checked;
}
}

TEST(PagePicture, EveryPageShowsItsTextsWhereItsObjectsAre) {
    ProductTree tree;
    lv_obj_clean(lv_screen_active());
    LCD::splash();
    EXPECT_EQ(expectTextsDrawn(GfxTestView::snapshot(), "splash"), 2);

    EXPECT_GE(expectTextsDrawn(redraw(), "home"), 10);
    send(ev::Encoder2Forward);
    EXPECT_GE(expectTextsDrawn(redraw(), "home_value_popup"), 2);
    send("6t");

    // The chain screen with the cursor on the delay tile, which glows white around its edge.
    send("v^4>");
    auto views = redraw();
    EXPECT_GE(expectTextsDrawn(views, "chain"), 8);
    const ObjectView* delay = GfxTestView::labelWithText(views, "Delay");
    ASSERT_NE(delay, nullptr);
    const ObjectView& tile = views[size_t(delay->parent)];
    const int32_t middle = (tile.box.y1 + tile.box.y2) / 2;
    EXPECT_EQ(GfxTestView::pixel(tile.box.x1 - 2, middle), 0xFFFFFFu) << "the glow left of the selected tile";
    const ObjectView& rev = views[size_t(GfxTestView::labelWithText(views, "Rev")->parent)];
    EXPECT_NE(GfxTestView::pixel(rev.box.x1 - 2, middle), 0xFFFFFFu) << "no glow round another tile";

    send("^");
    EXPECT_GE(expectTextsDrawn(redraw(), "node"), 5);
    send("xxr");

    int answer = 0;
    new DrawerPopup("Discard changes?", "Preset 01A", DrawerPopup::kBackOkSave, &answer);
    EXPECT_EQ(expectTextsDrawn(redraw(), "popup"), 5);
    send("xr");

    std::string name = "Crunch";
    new DrawerKeyboard("Save as...", &name);
    EXPECT_GE(expectTextsDrawn(redraw(), "keyboard"), 2);
}
