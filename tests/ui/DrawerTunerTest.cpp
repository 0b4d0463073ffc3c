// The tuner page over the home screen: a test sine through the engine shows its note, and the page keeps

// the panel's input while the tuner is on; the tap-tempo page: what it draws and which events it keeps while
// tap tempo counts.
#include "ui/DrawerTempo.h"
#include "ui/DrawerTuner.h"
#include "audio/AudioProcessor.h"
#include "tests/ui/DrawerFixture.h"
#include "ui/EventId.h"
#include "ui/LCD.h"
#include "core/NodeItem.h"
#include "core/NodeOnOff.h"
#include "porting/Shims.h"
#include "blocks/Tempo.h"
#include "blocks/Tuner.h"

#include <cmath>

namespace {
// Enough frames to fill the tuner's analysis window with the new tone.
constexpr int kFrames = 700;

void playSine(double hz, float amplitude) {
    static double phase = 0.0;
    float frame[2][16];
    for (int f = 0; f < kFrames; ++f) {
        for (int i = 0; i < 16; ++i) {
            frame[0][i] = frame[1][i] = amplitude * float(std::sin(phase));
            phase += 2.0 * M_PI * hz / 48000.0;
        }
        AudioProcessor::processFrame(frame);
    }
    AudioProcessor::compileStep();
}

Tuner* tunerOnStack() {
    pages::ownHome();
    LCD::initialize();
    Node* app = new NodeItem(nullptr, "app", "app", "", "folder");
    auto* tuner = new Tuner(new NodeItem(app, "tuner", "Tuner", "", "hfolder"), false);
    tuner->getOnOff()->setOn(true);
    EXPECT_TRUE(AudioProcessor::audioInitialize(false));
    new RecordingPage("home", {}, true);
    new DrawerTuner(tuner);
    EventDispatcher::keepStartupPages();
    return tuner;
}

int okMarks(const std::vector<ObjectView>& views) {
    int marks = 0;
    for (const ObjectView* label : GfxTestView::ofKind(views, "label")) marks += label->text == LV_SYMBOL_OK;
    return marks;
}
}

TEST(DrawerTuner, ShowsTheNoteOfATestSine) {
    tunerOnStack();
    struct Case {
        const char* name;
        double hz;
        float amplitude;
        const char* note; // "--": no pitch
        int cents;
        const char* details;
    };
    const Case cases[] = {
        {"a2", 110.0, 0.5f, "A", 0, "A2  110.0 Hz"},
        {"e4_sharp", 329.6276 * std::pow(2.0, 20.0 / 1200.0), 0.5f, "E", 20, "E4  333.5 Hz"},
        {"low_e_flat", 82.4069 * std::pow(2.0, -12.0 / 1200.0), 0.3f, "E", -12, "E2  81.8 Hz"},
        {"c_sharp3", 138.5913, 0.5f, "C#", 0, "C#3  138.6 Hz"},
        {"silence", 440.0, 0.0f, "--", 0, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        playSine(c.hz, c.amplitude);
        const auto views = redraw();
        driver::savePng(std::string("ui_tuner_") + c.name);
        EXPECT_TRUE(entriesOf("home").empty()) << "the tuner page covers the home screen";
        const ObjectView* note = GfxTestView::labelWithText(views, c.note);
        ASSERT_NE(note, nullptr) << GfxTestView::describe(views);
        EXPECT_EQ(note->main.textFont, &ui_font_arzet_light102);
        EXPECT_EQ(note->lines, std::vector<std::string>{c.note}) << "the note fits its box";
        const auto bars = GfxTestView::ofKind(views, "bar");
        ASSERT_EQ(bars.size(), 1u);
        if (!c.details) {
            EXPECT_EQ(bars[0]->value, 0);
            EXPECT_EQ(bars[0]->startValue, 0);
            EXPECT_EQ(okMarks(views), 0);
            continue;
        }
        EXPECT_NE(GfxTestView::labelWithText(views, c.details), nullptr) << GfxTestView::describe(views);
        // The bar grows from the centre toward the side the string is off.
        const int shown = c.cents < 0 ? bars[0]->startValue : bars[0]->value;
        EXPECT_NEAR(shown, c.cents, 1);
        const bool inTune = std::abs(c.cents) <= DrawerTuner::kInTuneCents;
        EXPECT_EQ(okMarks(views), inTune ? 2 : 0);
        EXPECT_EQ(note->main.textColor, inTune ? 0x00E676u : 0xFFFFFFu);
    }
}

TEST(DrawerTuner, KeepsThePanelWhileOnAndASingleFootswitchReleaseEndsIt) {
    Tuner* tuner = tunerOnStack();
    log().clear();
    for (int id :
         {EventId::Encoder1Forward, EventId::Encoder1Back, EventId::FootswitchAPress, EventId::FootswitchBLongPress,
          EventId::FootswitchesAB, EventId::FootswitchesBC, EventId::FootswitchCLongRelease,
          EventId::Encoder1ShortRelease, EventId::Encoder2ShortRelease, EventId::Tick, EventId::Encoder3Forward}) {
        EventDispatcher::addEvent(id);
        EventDispatcher::dispatch();
    }
    EXPECT_EQ(entriesOf("home"), (std::vector<std::string>{"15", "45"})); // a kept release still ends a hold
    EXPECT_TRUE(tuner->getOnOff()->isOn());

    // A footswitch's short release switches the tuner off; it does not reach the home screen either.
    log().clear();
    EventDispatcher::addEvent(EventId::FootswitchBShortRelease);
    EventDispatcher::dispatch();
    EXPECT_FALSE(tuner->getOnOff()->isOn());
    EXPECT_TRUE(entriesOf("home").empty());

    // Off: every event and the redraw go on to the home screen.
    log().clear();
    EXPECT_TRUE(GfxTestView::ofKind(redraw(), "label").empty());
    for (int id : {EventId::Encoder1Forward, EventId::FootswitchAPress, EventId::FootswitchBShortRelease}) {
        EventDispatcher::addEvent(id);
    }
    EventDispatcher::dispatch();
    EXPECT_EQ(entriesOf("home"), (std::vector<std::string>{"draw", "10", "16", "47"}));
}

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

    // Counting: the page covers the screen with the tempo and keeps the tick from the home screen; the
    // footswitches still reach it.
    log().clear();
    const auto views = redraw();
    driver::savePng("ui_tempo_tap");
    const gfx::ObjectView* value = GfxTestView::labelWithText(views, "150.0");
    ASSERT_NE(value, nullptr) << GfxTestView::describe(views);
    EXPECT_EQ(value->main.textFont, &lv_font_montserrat_48);
    EXPECT_NE(GfxTestView::labelWithText(views, "TAP TEMPO"), nullptr);
    EXPECT_NE(GfxTestView::labelWithText(views, "BPM"), nullptr);
    EXPECT_NE(GfxTestView::labelWithText(views, "4 taps"), nullptr);
    send(EventId::Tick);
    for (int id : {EventId::Encoder1Forward, EventId::FootswitchAPress}) send(id);
    EXPECT_EQ(entriesOf("home"), (std::vector<std::string>{"16"}));

    // 2.5 s after the last tap it disarms: the home screen draws and ticks again.
    now += Tempo::kTapDisarmUs + 1;
    log().clear();
    EXPECT_TRUE(GfxTestView::ofKind(redraw(), "label").empty());
    send(EventId::Tick);
    EXPECT_EQ(entriesOf("home"), (std::vector<std::string>{"draw", "20"}));
    EXPECT_EQ(tempo->toString(), "150.0");
}
