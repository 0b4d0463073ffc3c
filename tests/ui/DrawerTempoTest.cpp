// The tap-tempo page over the home screen: what it draws and which events it keeps while tap tempo counts.
#include "ui/DrawerTempo.h"
#include "ui/DrawerTuner.h"
#include "tests/ui/DrawerFixture.h"
#include "ui/EventId.h"
#include "ui/LCD.h"
#include "core/NodeItem.h"
#include "porting/Shims.h"
#include "blocks/Tempo.h"
#include "blocks/Tuner.h"

namespace {
int64_t now = 1000000;

// Stands in for the home screen, which turns a footswitch into a tap.
class TapPage : public RecordingPage {
public:
    explicit TapPage(Tempo* tempo) : RecordingPage("home", {EventId::FootswitchCPress}, true), tempo(tempo) {}
    bool onEvent(int id) override {
        if (id == EventId::FootswitchCPress) tempo->manualTap();
        return RecordingPage::onEvent(id);
    }
    Tempo* tempo;
};
}

TEST(DrawerTempo, FootswitchTapsThroughTheStackSetTheTempo) {
    pages::ownHome();
    porting::setClock([] { return now; });
    LCD::initialize();
    Node* app = new NodeItem(nullptr, "app", "app", "", "folder");
    auto* tempo = new Tempo(new NodeItem(app, "tempo", "Tempo", "", "hfolder"), nullptr);
    auto* tuner = new Tuner(new NodeItem(app, "tuner", "Tuner", "", "hfolder"), false);
    new TapPage(tempo);
    auto* tempoPage = new DrawerTempo(tempo);
    new DrawerTuner(tuner);
    EventDispatcher::keepStartupPages();

    // Not counting: the home screen draws and gets the tick.
    log().clear();
    EXPECT_TRUE(GfxTestView::ofKind(redraw(), "label").empty());
    send(EventId::Tick);
    EXPECT_EQ(entriesOf("home"), (std::vector<std::string>{"draw", "20"}));

    // Four taps 400 ms apart: 150 BPM, and the page counts.
    for (int tap = 0; tap < 4; ++tap) {
        if (tap > 0) now += 400000;
        EXPECT_FALSE(tempoPage->onEvent(EventId::Tick) && tap < 3) << "counting before the fourth tap";
        send(EventId::FootswitchCPress);
    }
    EXPECT_EQ(tempo->toString(), "150.0");
    EXPECT_TRUE(tempo->manualStatus());

    // Counting: the page covers the screen with the tempo and keeps the tick from the home screen; the
    // footswitches still reach it.
    log().clear();
    const auto views = redraw();
    GfxTestView::render();
    ASSERT_TRUE(GfxTestView::savePng(std::string(PEDAL_TEST_OUT) + "/ui_tempo_tap.png"));
    const gfx::ObjectView* value = GfxTestView::labelWithText(views, "150.0");
    ASSERT_NE(value, nullptr) << GfxTestView::describe(views);
    EXPECT_EQ(value->main.textFont, &lv_font_montserrat_48);
    EXPECT_NE(GfxTestView::labelWithText(views, "TAP TEMPO"), nullptr);
    EXPECT_NE(GfxTestView::labelWithText(views, "BPM"), nullptr);
    EXPECT_NE(GfxTestView::labelWithText(views, "4 taps"), nullptr);
    send(EventId::Tick);
    for (int id : {EventId::Encoder1Forward, EventId::FootswitchAPress}) send(id);
    EXPECT_EQ(entriesOf("home"), (std::vector<std::string>{"10", "16"}));

    // 2.5 s after the last tap it disarms: the home screen draws and ticks again.
    now += Tempo::kTapDisarmUs + 1;
    log().clear();
    EXPECT_TRUE(GfxTestView::ofKind(redraw(), "label").empty());
    send(EventId::Tick);
    EXPECT_EQ(entriesOf("home"), (std::vector<std::string>{"draw", "20"}));
    EXPECT_EQ(tempo->toString(), "150.0");
}
