// The float bar page: stepping by configured events, the on/off switch with its hatched bar, which events
// pass to the pages below, and the close after inactivity.
#include "tests/ui/DrawerFixture.h"
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
}

TEST_F(DrawerNodeFloatTest, StepsAndTogglesWithTheConfiguredEventsOnly) {
    new DrawerNodeFloat(level, UpEvent, DownEvent, 10, "Level", enable, ToggleEvent, NodeOnOff::ON);
    pages::log().clear();
    // Consumed: the configured ids (in any range), the tick and the main encoder's ids; the rest passes on.
    struct Case {
        int id;
        bool passes;
    };
    const std::vector<Case> cases = {
        {UpEvent, false},
        {DownEvent, false},
        {ToggleEvent, false},
        {EventId::Tick, false},
        {10, false},
        {11, false},
        {12, false},
        {13, false},
        {14, false},
        {15, false},
        {EventId::Idle, true},
        {EventId::FootswitchAShortRelease, true},
        {EventId::Encoder2ShortRelease, true},
        {EventId::Encoder3Forward, true},
        {EventId::FootswitchCShortRelease, true},
    };
    std::vector<std::string> passed;
    for (const Case& c : cases) {
        send({c.id});
        if (c.passes) passed.push_back(std::to_string(c.id));
    }
    EXPECT_EQ(pages::entriesOf("below"), passed);

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
            send({EventId::Tick});
        }
        EXPECT_EQ(tick, c.closingTick);
    }

    // A handled control event starts the count again.
    new DrawerNodeFloat(level, UpEvent, DownEvent, 2, "", nullptr, ToggleEvent, NodeOnOff::ON);
    send(std::vector<int>(5, EventId::Tick));
    send({DownEvent});
    send(std::vector<int>(5, EventId::Tick));
    EXPECT_EQ(EventDispatcher::elements(), 2);
    send({EventId::Tick});
    EXPECT_EQ(EventDispatcher::elements(), 1);
}

TEST_F(DrawerNodeFloatTest, TicksThatPiledUpCloseOnlyThePage) {
    auto* caller = new RecordingPage("caller", {}, true);
    new DrawerNodeFloat(level, UpEvent, DownEvent, 0, "", nullptr, ToggleEvent, NodeOnOff::ON);
    send({EventId::Tick, EventId::Tick, EventId::Tick});
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
    send(std::vector<int>(4, EventId::Tick));
    EXPECT_EQ(EventDispatcher::elements(), 1);
}
