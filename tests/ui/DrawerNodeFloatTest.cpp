// The float bar page: stepping by configured events, the on/off switch with its hatched bar, which events
// pass to the pages below, and the close after inactivity; and the level bar page, stepping in tenths.
#include "tests/ui/DrawerFixture.h"
#include "ui/DrawerFastNodes.h"
#include "ui/DrawerNodeFloat.h"
#include "ui/EventId.h"
#include "core/NodeFloat.h"
#include "core/NodeItem.h"
#include "core/NodeOnOff.h"

#include <memory>
#include <string>
#include <vector>

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
