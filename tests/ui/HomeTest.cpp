// The home screen in a product-shaped tree: what it draws (preset number, tempo, edited mark, knobs, meters,
// the value popup and the assign view) and what the panel does with it (footswitch presets and banks, tap
// tempo, the tuner, knob edits, the preset dialogs and saving). The chain screen opened from it: tiles,
// cursor and strip, the preset view, block switching, fast-node edits, assigns and closing. The pages as
// rendered pictures, each saved as a PNG in the build folder to look at: on every one, each text that nothing
// covers shows pixels of its colour inside its box, so what the object tree says is what the display shows.
//
// The tree is shaped like the product's: the preset list and preset node, block folders with their on/off
// switches and colours, the master folder with the tempo, volume and level, the tuner, the four assign items,
// and the start-up pages Home, DrawerTempo and DrawerTuner. The clock is the test's: `now` advances only when
// a test moves it. It doubles as the eye of a scripted user: every UI pass reads the clock, so the user looks
// at the screen then and, when the next text of its script is shown, presses what that step says. This drives
// the modal dialogs inside waitModal.
#include "audio/AudioProcessor.h"
#include "ui/Chain.h"
#include "tests/ui/ListPageDriver.h"
#include "ui/ParamSlider.h"
#include "ui/PresetView.h"
#include "ui/DrawerKeyboard.h"
#include "ui/DrawerNode.h"
#include "ui/DrawerPopup.h"
#include "ui/DrawerTempo.h"
#include "ui/DrawerTuner.h"
#include "ui/EventDispatcher.h"
#include "ui/EventId.h"
#include "ui/gfx/GfxTestView.h"
#include "ui/Home.h"
#include "ui/LCD.h"
#include "core/NodeEnum.h"
#include "core/NodeFloat.h"
#include "core/NodeItem.h"
#include "core/NodeList.h"
#include "core/NodeOnOff.h"
#include "core/NodePreset.h"
#include "tests/ui/Pages.h"
#include "porting/Shims.h"
#include "blocks/Tempo.h"
#include "blocks/Tuner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

using gfx::GfxTestView;
using gfx::ObjectView;
namespace ev = EventId;

namespace {
int64_t& now() {
    static int64_t time = 1000000;
    return time;
}

// What the scripted user does: when `text` is on the screen, queue `ids`. Steps run in order, once each.
struct Step {
    std::string text;
    std::vector<int> ids;
};

std::vector<Step> script;
size_t nextStep = 0;

// The scripted user's look at the screen, on every clock read.
void look() {
    static bool looking = false;
    if (looking || nextStep >= script.size()) return;
    looking = true;
    if (GfxTestView::labelWithText(GfxTestView::snapshot(), script[nextStep].text)) {
        for (int id : script[nextStep].ids) EventDispatcher::addEvent(id);
        ++nextStep;
    }
    looking = false;
}

void send(int id) {
    EventDispatcher::addEvent(id);
    EventDispatcher::dispatch();
}
// The ids of a panel script (driver::keys), each handled in a pass of its own.
void send(const char* script) {
    for (int id : driver::keys(script)) send(id);
}

// One redraw as the UI pass does it: clear, rebuild.
std::vector<ObjectView> redraw() {
    lv_obj_clean(lv_screen_active());
    send(EventId::Redraw);
    return gfx::GfxTestView::snapshot();
}

using driver::labelOf;
using driver::savePng;

NodeItem* folder(Node* parent, const char* key, const char* name, int colour, bool withSwitch, bool on) {
    auto* f = new NodeItem(parent, key, name, "", "hfolder");
    if (colour) f->setStyleColor(colour);
    f->setStyleMode("mini");
    if (withSwitch) new NodeOnOff(f, "on_off", "Enable", on ? NodeOnOff::ON : NodeOnOff::OFF);
    return f;
}

NodeFloat* knob(Node* parent, const char* key, const char* name) {
    return new NodeFloat(parent, key, name, 0.0f, 10.0f, 5.0f, "", 0.5f, false, 1);
}

struct ProductTree {
    Node* root;
    Node* app;
    NodeList* presets;
    NodePreset* preset;
    NodeItem *gate, *comp, *amp, *delay, *reverb, *output;
    NodeFloat *gain, *low, *mid, *treble;
    NodeFloat *delayTime, *feedback, *delayMix;
    NodeEnum* delayMode;
    NodeFloat *volume, *level;
    Tempo* tempo;
    Tuner* tuner;
    std::vector<NodeItem*> assigns;
    Home* home;

    // Presets "Clean", "Crunch", "Lead", "Solo", "Ambient", "Funk", "Jazz" in slots 0 to 6; "Ambient" (slot
    // 4, 02B) selected and unedited.
    ProductTree() {
        pages::ownHome();
        porting::setClock([] {
            look();
            return now();
        });
        LCD::initialize();

        root = new NodeItem(nullptr, "root", "root", "", "vfolder");
        app = new NodeItem(root, "app", "Application", "", "vfolder");
        presets = new NodeList(root, "presets", "Presets", "pst_pst", 16384, 60);
        presets->setGroup(3);
        preset = new NodePreset(app, "preset", "Preset", "", presets);

        gate = folder(app, "gate", "Gate", 0x888844, true, true);
        knob(gate, "thr", "Threshold");
        comp = folder(app, "comp", "Comp", 0xFFFF00, true, false);
        knob(comp, "sustain", "Sustain");
        amp = folder(app, "amp", "Amp", 0xFF0000, true, true);
        gain = knob(amp, "gain", "Gain");
        low = knob(amp, "low", "Low");
        mid = knob(amp, "mid", "Mid");
        treble = knob(amp, "treble", "Treble");
        delay = folder(app, "delay", "Delay", 0x00FF00, true, true);
        delayTime = knob(delay, "time", "Time");
        auto* sync = new NodeItem(delay, "sync", "Sync", "partempo", "vfolder");
        knob(sync, "div", "Division");
        auto* tone = new NodeItem(delay, "tone", "Tone", "", "vfolder");
        new NodeOnOff(tone, "on_off", "Enable", NodeOnOff::ON);
        feedback = knob(tone, "fb", "Feedback");
        delayMode = new NodeEnum(delay, "mode", "Mode", {"DIGITAL", "TAPE"}, "DIGITAL");
        delayMix = knob(delay, "mix", "Mix");
        reverb = folder(app, "reverb", "Rev", 0xFF00FF, true, true);
        knob(reverb, "decay", "Decay");
        output = folder(app, "output", "Master", 0, false, false);
        tempo = new Tempo(output, preset);
        volume = new NodeFloat(output, "vol", "Volume", 0, 100, 50, "%", 0.5f, false, 0);
        auto* pst = new NodeItem(output, "pst", "Preset Specific", "", "vfolder");
        level = new NodeFloat(pst, "level", "Level", -20, 20, 0, "dB", 0.5f, false, 1);
        preset->addIgnoreNode(volume);

        auto* settings = new NodeItem(root, "settings", "Settings", "", "sfolder");
        tuner = new Tuner(new NodeItem(settings, "tuner", "Tuner", "", "hfolder"), false);

        for (int i = 1; i <= 4; ++i) {
            const std::string key = "assign" + std::to_string(i);
            assigns.push_back(new NodeItem(root, key.c_str(), ("assing" + std::to_string(i)).c_str(), "", "string"));
        }

        for (const char* name : {"Clean", "Crunch", "Lead", "Solo", "Ambient", "Funk", "Jazz"}) {
            EXPECT_TRUE(preset->setValue(std::string(name) + NodePreset::SAVE_SUFFIX)) << name;
        }
        select(4);

        // As the product application builds them: Home at the bottom, then the tempo and tuner pages.
        home = new Home(app, nullptr, preset, tuner, tempo, assigns);
        (new DrawerTempo(tempo))->setHome(home);
        new DrawerTuner(tuner);
        home->setControls(low, mid, treble, gain);
        home->setVolumeNode(volume);
        home->setLevelNode(level);
        home->setTuner(tuner);
    }

    void select(int index) {
        tick();
        EXPECT_TRUE(preset->setByIndex(index));
        tick();
    }
    // Change times must differ for the edited mark to tell a change after a load.
    static void tick() { now() += 1000; }

    // Runs the script while id is handled (the dialogs' nested loops look at the screen on every pass).
    void withUser(std::vector<Step> steps, int id) {
        script = std::move(steps);
        nextStep = 0;
        send(id);
        EXPECT_EQ(nextStep, script.size()) << "the script did not reach its end";
        script.clear();
    }
};

const ObjectView* barAt(const std::vector<ObjectView>& views, int x, int y) {
    for (const ObjectView* v : GfxTestView::ofKind(views, "bar")) {
        if (v->x == x && v->y == y) return v;
    }
    ADD_FAILURE() << "no bar at " << x << "," << y << "\n" << GfxTestView::describe(views);
    return nullptr;
}
}

TEST(ParamWidgets, FastNodesSwitchesColoursAndBars) {
    ProductTree tree;
    // The fast nodes and their order show on the chain screen's block view.
    EXPECT_TRUE(Chain::getFastNodes(nullptr).empty());
    EXPECT_FALSE(Chain::isEnabled(tree.output)); // first child is the tempo, not a switch
    EXPECT_FALSE(Chain::isEnabled(nullptr));

    auto* tone = tree.feedback->getParent();
    auto* toneSwitch = static_cast<NodeEnum*>(tone->childrenAt(0));
    struct Case {
        const char* what;
        Node* node;
        bool blockOn, toneOn;
        int paramColour, sliderColour;
    } cases[] = {
        {"on block", tree.delayTime, true, true, 0x00FF00, 0x888844},
        {"off block", tree.delayTime, false, true, 0x007F00, 0x444422},
        // get_param_color looks at the parent only: the tone folder has no colour of its own.
        {"sub-folder on", tree.feedback, true, true, 0xFFFFFF, 0x888844},
        {"sub-folder off", tree.feedback, true, false, 0x7F7F7F, 0x444422},
        {"block off over sub-folder", tree.feedback, false, true, 0xFFFFFF, 0x444422},
    };
    auto* delaySwitch = static_cast<NodeEnum*>(tree.delay->childrenAt(0));
    for (const Case& c : cases) {
        delaySwitch->setValue(c.blockOn ? NodeOnOff::ON : NodeOnOff::OFF);
        toneSwitch->setValue(c.toneOn ? NodeOnOff::ON : NodeOnOff::OFF);
        EXPECT_EQ(get_param_color(c.node), c.paramColour) << c.what;
        lv_obj_clean(lv_screen_active());
        create_param_slider(lv_screen_active(), 78, c.node, 0x888844, nullptr, nullptr);
        const auto views = GfxTestView::snapshot();
        const ObjectView* bar = barAt(views, 85, 146);
        ASSERT_NE(bar, nullptr);
        EXPECT_EQ(bar->indicator.bgColor, uint32_t(c.sliderColour)) << c.what;
    }
    delaySwitch->setValue(NodeOnOff::ON);

    // Bars: a float's slider position (inverted turned round), options as text under a line.
    auto* inverted = new NodeFloat(tree.delay, "inv", "Inverted", 0, 10, 0, "", 0.5f, true, 0);
    struct Bar {
        Node* node;
        float value;
        int expected;
        uint8_t sides;
    } bars[] = {{tree.delayTime, 0, 0, LV_BORDER_SIDE_FULL},
                {tree.delayTime, 10, 100, LV_BORDER_SIDE_FULL},
                {inverted, 0, 100, LV_BORDER_SIDE_FULL},
                {tree.delayMode, 0, 0, LV_BORDER_SIDE_TOP}};
    for (const Bar& b : bars) {
        if (auto* f = dynamic_cast<NodeFloat*>(b.node)) f->setValue(b.value);
        lv_obj_clean(lv_screen_active());
        create_param_slider(lv_screen_active(), 0, b.node, 0xFFFFFF, nullptr, nullptr);
        const auto views = GfxTestView::snapshot();
        const ObjectView* bar = barAt(views, 7, 146);
        ASSERT_NE(bar, nullptr);
        EXPECT_EQ(bar->value, b.expected) << b.node->getName();
        EXPECT_EQ(bar->main.borderSide, b.sides) << b.node->getName();
        EXPECT_EQ(labelOf(views, b.node->getDisplayName()).y, 129);
    }
    EXPECT_EQ(labelOf(GfxTestView::snapshot(), "DIGITAL").y, 148);

    // Nothing without a node and labels; fixed labels over an empty line otherwise.
    lv_obj_clean(lv_screen_active());
    create_param_slider(lv_screen_active(), 0, nullptr, 0xFFFFFF, "Preset", nullptr);
    EXPECT_EQ(lv_obj_get_child_count(lv_screen_active()), 0u);

    // Tile texts: grey and white on a dark tile, black on a bright one.
    for (const auto& [colour, name, corner] :
         {std::tuple{0x1F1F1F, 0x777777u, 0xFFFFFFu}, std::tuple{0x202020, 0x000000u, 0x000000u}}) {
        lv_obj_clean(lv_screen_active());
        Chain::createBlock(lv_screen_active(), 20, 20, colour, "Amp", true, "3");
        const auto views = GfxTestView::snapshot();
        EXPECT_EQ(labelOf(views, "Amp").main.textColor, name) << std::hex << colour;
        EXPECT_EQ(labelOf(views, "3").main.textColor, corner) << std::hex << colour;
        const auto buttons = GfxTestView::ofKind(views, "button");
        ASSERT_EQ(buttons.size(), 1u);
        EXPECT_EQ(buttons[0]->main.shadowSpread, 3);
    }
}

TEST(Home, DrawsPresetTempoKnobsAndMeters) {
    ProductTree tree;
    EXPECT_EQ(PresetView::presetNumber(59), "20C");

    auto views = redraw();
    savePng("ui_home_normal");
    const ObjectView& name = labelOf(views, "Ambient");
    EXPECT_EQ(name.width, 231);
    EXPECT_EQ(name.main.textFont, &lv_font_montserrat_24);
    const ObjectView& number = labelOf(views, "02B");
    EXPECT_EQ(number.main.textFont, &ui_font_arzet_light102);
    EXPECT_EQ(labelOf(views, "120").x, 229);
    EXPECT_EQ(labelOf(views, "0").x, 298);
    EXPECT_EQ(labelOf(views, ".").x, 283);
    EXPECT_EQ(GfxTestView::labelWithText(views, LV_SYMBOL_WARNING), nullptr);
    // The knobs of encoders 2 to 5 in order, the volume at 50 %, the meters at rest empty.
    const char* knobs[] = {"Low", "Mid", "Treble", "Gain"};
    for (int k = 0; k < 4; ++k) EXPECT_EQ(labelOf(views, knobs[k]).x, kParamSliderX[k] + 7);
    EXPECT_EQ(barAt(views, 241, 48)->value, 50);
    for (int y : {110, 101, 84, 75}) {
        const ObjectView* meter = barAt(views, 241, y);
        ASSERT_NE(meter, nullptr);
        EXPECT_EQ(meter->value, 0);
        EXPECT_EQ(meter->main.borderSide, LV_BORDER_SIDE_BOTTOM | LV_BORDER_SIDE_LEFT);
        EXPECT_EQ(meter->indicator.bgColor, 0x999999u);
    }
    // The picture: white preset name on black at its top-left.
    EXPECT_EQ(GfxTestView::pixel(2, 2), 0x000000u);

    // Tempo 95.5 reads as three digits; an edited preset narrows the name and shows the orange mark.
    tree.tempo->getTempoNode()->setValue(95.5f);
    ProductTree::tick();
    tree.low->edit(true);
    views = redraw();
    savePng("ui_home_edited");
    EXPECT_NE(GfxTestView::labelWithText(views, "095"), nullptr) << GfxTestView::describe(views);
    EXPECT_NE(GfxTestView::labelWithText(views, "5"), nullptr);
    EXPECT_EQ(labelOf(views, "Ambient").width, 203);
    EXPECT_EQ(labelOf(views, LV_SYMBOL_WARNING).main.textColor, 0xFF8800u);

    // A loud input frame shows on the input meters: -6 dB reads 94.
    float frame[2][16];
    for (auto& channel : frame) {
        for (float& s : channel) s = 0.5f;
    }
    AudioProcessor::processFrame(frame);
    views = redraw();
    EXPECT_EQ(barAt(views, 241, 84)->value, int((AudioProcessor::meter(0, 1) + 110.0f) * 0.9090909f));
    EXPECT_GT(barAt(views, 241, 84)->value, 90);

    // No preset selected: "---".
    tree.preset->setValue("");
    EXPECT_NE(GfxTestView::labelWithText(redraw(), "---"), nullptr);
}

TEST(Home, KnobEditsShowTheValuePopupUntilItTimesOut) {
    ProductTree tree;
    send(ev::Encoder2Forward);
    EXPECT_FLOAT_EQ(tree.low->getValue(), 5.2f);
    auto views = redraw();
    savePng("ui_home_popup");
    EXPECT_EQ(labelOf(views, "Low").main.textFont, &lv_font_montserrat_20);
    EXPECT_NE(GfxTestView::labelWithText(views, tree.low->toString()), nullptr);
    const ObjectView* bar = barAt(views, 25, 76);
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->value, 52);
    EXPECT_EQ(bar->indicator.bgColor, 0xFFFFFFu); // a knob edit is white, not the amp's red

    // The other encoders and the main encoder (volume) reach their own nodes.
    for (auto [id, node, value] :
         {std::tuple{ev::Encoder3Back, tree.mid, 4.8f}, std::tuple{ev::Encoder4Forward, tree.treble, 5.2f},
          std::tuple{ev::Encoder5Forward, tree.gain, 5.2f}, std::tuple{ev::Encoder1Forward, tree.volume, 52.0f}}) {
        send(id);
        EXPECT_FLOAT_EQ(node->getValue(), value) << node->getName();
    }
    // Six ticks later the normal view is back.
    send("5t");
    EXPECT_EQ(GfxTestView::labelWithText(redraw(), "Ambient"), nullptr);
    send("t");
    EXPECT_NE(GfxTestView::labelWithText(redraw(), "Ambient"), nullptr);
}

TEST(Home, AssignViewEditsTheBlockAndCloses) {
    ProductTree tree;
    tree.assigns[1]->setValue(tree.delay->getPath());
    send(ev::Encoder3ShortRelease);
    auto views = redraw();
    savePng("ui_home_assign");
    EXPECT_EQ(labelOf(views, "Delay").main.textColor, 0x000000u);
    EXPECT_EQ(labelOf(views, "Time").x, 7);
    EXPECT_EQ(labelOf(views, "Feedback").x, 85);
    EXPECT_EQ(labelOf(views, "DIGITAL").x, 162);

    // Encoder 3 now edits the block's second fast node, in the block's colour, and renews the view.
    send("39t");
    send(ev::Encoder3Forward);
    EXPECT_FLOAT_EQ(tree.feedback->getValue(), 5.2f);
    EXPECT_FLOAT_EQ(tree.mid->getValue(), 5.0f);
    views = redraw();
    EXPECT_EQ(barAt(views, 25, 76)->indicator.bgColor, 0xFFFFFFu)
        << "the tone folder has no colour: the node's own colour rule gives white";
    send(ev::Encoder2Forward);
    EXPECT_FLOAT_EQ(tree.delayTime->getValue(), 5.2f);
    EXPECT_EQ(barAt(redraw(), 25, 76)->indicator.bgColor, 0x00FF00u);
    // An option is stepped without a popup.
    send("6t");
    send(ev::Encoder4Forward);
    EXPECT_TRUE(tree.delayMode->isValue("TAPE"));
    EXPECT_NE(GfxTestView::labelWithText(redraw(), "TAPE"), nullptr);

    // 40 ticks after the last edit it closes; then encoder 3 is the Mid knob again.
    send("39t");
    EXPECT_NE(GfxTestView::labelWithText(redraw(), "Time"), nullptr);
    send("t");
    views = redraw();
    EXPECT_EQ(GfxTestView::labelWithText(views, "Time"), nullptr);
    EXPECT_NE(GfxTestView::labelWithText(views, "Mid"), nullptr);

    // An empty assign keeps the normal view; -1 closes at once; index 4 does nothing.
    send("x");
    EXPECT_NE(GfxTestView::labelWithText(redraw(), "Low"), nullptr);
    tree.home->showAssign(1);
    tree.home->showAssign(4);
    EXPECT_NE(GfxTestView::labelWithText(redraw(), "Time"), nullptr);
    tree.home->showAssign(-1);
    EXPECT_EQ(GfxTestView::labelWithText(redraw(), "Time"), nullptr);
    tree.home->editControl(-1, true); // no assign view, no list: nothing to read
    tree.home->editAssign(-1, true);
}

TEST(Home, FootswitchesSelectInTheBankAndSwitchBanks) {
    ProductTree tree;
    struct Case {
        int id, expected;
    } cases[] = {{ev::FootswitchAShortRelease, 3},
                 {ev::FootswitchCShortRelease, 5},
                 {ev::FootswitchBShortRelease, 4},
                 {ev::FootswitchesAB, 1},
                 {ev::FootswitchesBC, 7}};
    for (const Case& c : cases) {
        tree.select(4);
        if (c.expected == 7) {
            // Slot 7 is empty: the bank switch changes nothing.
            send(c.id);
            EXPECT_EQ(tree.preset->getIndex(), 4);
            tree.preset->setValue("Jazz" + std::string(NodePreset::SAVE_SUFFIX));
            ASSERT_TRUE(tree.presets->setElementAt(7, "Blues", nullptr));
        }
        send(c.id);
        EXPECT_EQ(tree.preset->getIndex(), c.expected) << c.id;
    }
    // With no preset selected, A, B and C choose from the first bank; banks below the first do nothing.
    tree.preset->setValue("");
    send(ev::FootswitchCShortRelease);
    EXPECT_EQ(tree.preset->getIndex(), 2);
    send(ev::FootswitchesAB);
    EXPECT_EQ(tree.preset->getIndex(), 2);
}

TEST(Home, FourTapsOnTheSelectedFootswitchSetTheTempo) {
    ProductTree tree;
    // Slot 4 is footswitch B: A's press is no tap.
    send(ev::FootswitchAPress);
    EXPECT_EQ(tree.tempo->getTapCount(), 0);
    for (int tap = 0; tap < 4; ++tap) {
        if (tap > 0) now() += 400000;
        send(ev::FootswitchBPress);
        send(ev::FootswitchBShortRelease);
        EXPECT_EQ(tree.preset->getIndex(), 4);
    }
    EXPECT_EQ(tree.tempo->toString(), "150.0");
    EXPECT_TRUE(tree.tempo->manualStatus());
    // While tap tempo counts, releases and bank switches change no preset, and the tempo page draws.
    send(ev::FootswitchAShortRelease);
    send(ev::FootswitchesBC);
    EXPECT_EQ(tree.preset->getIndex(), 4);
    EXPECT_NE(GfxTestView::labelWithText(redraw(), "TAP TEMPO"), nullptr);
    send(">");
    EXPECT_NE(GfxTestView::labelWithText(redraw(), "Vol 52 %"), nullptr) << "the volume set under the tempo page";

    // Disarmed, the home screen shows the tapped tempo.
    now() += Tempo::kTapDisarmUs + 1;
    auto views = redraw();
    EXPECT_NE(GfxTestView::labelWithText(views, "150"), nullptr) << GfxTestView::describe(views);
    EXPECT_EQ(GfxTestView::labelWithText(views, "Volume"), nullptr) << "a stale popup of that volume";
    send(ev::FootswitchAShortRelease);
    EXPECT_EQ(tree.preset->getIndex(), 3);
}

TEST(Home, TunerAndTapTempoShowOverTheChainABlockPageAndSetup) {
    ProductTree tree;
    const std::pair<const char*, const char*> openings[] = {{"List", "v^"}, {"Threshold", ">^"}, {"Setup", "x<L"}};
    for (const auto& [shown, keys] : openings) {
        send(keys);
        tree.tuner->getOnOff()->setOn(*keys == 'x'); // over Setup as a remote write would, else by footswitch C
        for (int id : {ev::FootswitchCLongPress, ev::Encoder1Press, ev::Encoder1ShortRelease}) send(id);
        EXPECT_NE(GfxTestView::labelWithText(redraw(), "TUNER"), nullptr) << shown;
        send(ev::FootswitchCShortRelease);
        EXPECT_NE(GfxTestView::labelWithText(redraw(), shown), nullptr) << shown << " after the tuner";
        for (int tap = 0; tap < 4; ++tap, now() += 400000) send(ev::FootswitchBPress);
        EXPECT_NE(GfxTestView::labelWithText(redraw(), "TAP TEMPO"), nullptr) << shown;
        now() += Tempo::kTapDisarmUs;
    }
}

// Every raised page x every page under it x every panel id: the same page stays open, and what moved was shown.
TEST(RaisedPages, EveryIdOverEveryPageIsKeptOrShown) {
    ProductTree tree;
    const std::pair<std::string, std::vector<int>> unders[] = {
        {"home", {}},
        {"chain", driver::keys("v^")},
        {"chain_tile", driver::keys("v^>")},
        {"block", driver::keys("v^>^")},
        {"setup", driver::keys("v^Ll")},
        {"popup", {}},
        {"preset_list", {ev::Encoder1Press, ev::Encoder1ShortRelease, ev::Encoder3ShortRelease}}};
    std::vector<int> ids = {ev::Idle, ev::FootswitchesAB, ev::FootswitchesBC};
    for (int first : {10, 16, 40, 46, 240, 246, 340, 440}) // encoders' groups of six, footswitches' of four
        for (int k = 0; k < (first % 10 ? 4 : 6); ++k) ids.push_back(first + k);
    for (const bool tuner : {true, false}) {
        for (const auto& [under, opening] : unders) {
            for (const int id : ids) {
                if (!tuner && (under == "preset_list" || under == "popup")) break;
                SCOPED_TRACE((tuner ? "tuner over " : "tempo over ") + under + ", id " + std::to_string(id));
                for (int opener : opening) send(opener);
                if (under == "popup") new DrawerPopup("Discard?", "", DrawerPopup::kBackOkSave, nullptr);
                const int pages = EventDispatcher::elements();
                for (int tap = 0; tap < 4 && !tuner; ++tap, now() += 400000) tree.tempo->manualTap();
                tree.tuner->getOnOff()->setOn(tuner);
                const std::string sound = tree.app->getJSON(DESC_VALUE, true);
                const std::string before = GfxTestView::describe(redraw());
                send(id);
                const std::vector<ObjectView> views = redraw();
                const bool tunerOn = tuner || tree.tuner->getOnOff()->isOn(); // footswitch C held turns it on
                EXPECT_TRUE(tunerOn || under == "home" || GfxTestView::ofKind(views, "label").size() == 4);
                tree.tuner->getOnOff()->setOn(false);
                now() += Tempo::kTapDisarmUs + 1;
                EXPECT_EQ(EventDispatcher::elements(), pages);
                EXPECT_TRUE(tree.app->getJSON(DESC_VALUE, true) == sound || GfxTestView::describe(views) != before);
                while (EventDispatcher::elements() > 3) send(ev::Close);
            }
        }
    }
    tree.select(4); // a release the tuner kept still ends the hold of the main encoder: it is the volume again
    const float volume = tree.volume->getValue();
    for (int id : {ev::Encoder1Press, ev::Encoder1ShortRelease, ev::Encoder1Forward}) {
        tree.tuner->getOnOff()->setOn(id == ev::Encoder1ShortRelease);
        send(id);
    }
    EXPECT_TRUE(tree.preset->getValue() == "Ambient" && tree.volume->getValue() > volume);
}

TEST(Home, HeldMainEncoderStepsPresetsAndItsShortPressOpensTheChain) {
    ProductTree tree;
    send("v>");
    EXPECT_EQ(tree.preset->getValue(), "Funk");
    send("<<");
    EXPECT_EQ(tree.preset->getValue(), "Solo");
    EXPECT_FLOAT_EQ(tree.volume->getValue(), 50.0f);
    send("^");
    EXPECT_EQ(EventDispatcher::elements(), 3) << "a turn while held must not open the chain screen";

    send("v^");
    EXPECT_EQ(EventDispatcher::elements(), 4);
    EXPECT_NE(GfxTestView::labelWithText(redraw(), "List"), nullptr);
    // Ids the chain screen does not use still reach the home screen below it.
    send(ev::FootswitchBShortRelease);
    EXPECT_EQ(tree.preset->getValue(), "Ambient");
    send("xr");
    EXPECT_EQ(EventDispatcher::elements(), 3);
    // Unused ids are not consumed.
    for (int id : {ev::Idle, ev::Encoder1LongPress, ev::FootswitchCLongRelease, ev::Encoder2Press})
        EXPECT_FALSE(tree.home->onEvent(id)) << id;
}

TEST(Home, DiscardDialogOnAnEditedPreset) {
    ProductTree tree;
    // Buttons: Back 0, Ok 1, Save 2; the popup confirms on a press and release of the main encoder.
    struct Case {
        const char* what;
        std::vector<int> answer;
        std::string preset;
        float low;
        bool edited;
        float storedLow; // Low in slot 4 after a reload
    } cases[] = {{"back", driver::keys("v^"), "Ambient", 5.2f, true, 5.0f},
                 {"ok", driver::keys(">v^"), "Funk", 5.0f, false, 5.0f},
                 {"save", driver::keys("2>v^"), "Ambient", 5.2f, false, 5.2f}};
    for (const Case& c : cases) {
        tree.select(4);
        tree.low->setValue(5.0f);
        tree.preset->setValue("Ambient" + std::string(NodePreset::SAVE_SUFFIX));
        ProductTree::tick();
        tree.low->edit(true);
        ASSERT_TRUE(tree.preset->isEdited());
        send("v");
        tree.withUser({{"Discard changes?", c.answer}}, ev::Encoder1Forward);
        EXPECT_EQ(tree.preset->getValue(), c.preset) << c.what;
        EXPECT_FLOAT_EQ(tree.low->getValue(), c.low) << c.what;
        EXPECT_EQ(tree.preset->isEdited(), c.edited) << c.what;
        EXPECT_EQ(EventDispatcher::elements(), 3) << c.what;
        // The dialog ended the hold: a later short press opens the chain screen.
        send("^");
        EXPECT_EQ(EventDispatcher::elements(), 4) << c.what;
        send("xr");
        tree.select(4);
        EXPECT_FLOAT_EQ(tree.low->getValue(), c.storedLow) << c.what;
    }
}

TEST(Home, OverwriteAsksOnlyForAnEditedPreset) {
    ProductTree tree;
    send(ev::Encoder2LongPress); // unedited: no dialog (a dialog would wait here for ever)
    EXPECT_EQ(EventDispatcher::elements(), 3);

    ProductTree::tick();
    tree.treble->edit(false);
    tree.withUser({{"Overwrite changes?", driver::keys("v^")}}, ev::Encoder2LongPress);
    EXPECT_TRUE(tree.preset->isEdited()) << "Back keeps the edits unsaved";

    tree.withUser({{"Overwrite changes?", driver::keys(">v^")}}, ev::Encoder2LongPress);
    EXPECT_FALSE(tree.preset->isEdited());
    tree.select(0);
    tree.select(4);
    EXPECT_FLOAT_EQ(tree.treble->getValue(), 4.8f);
}

TEST(Home, SaveAsUnderANewNameSelectsTheNewSlot) {
    ProductTree tree;
    ProductTree::tick();
    tree.gain->edit(true);
    tree.withUser({{"Save as...", driver::typeAndOk("x")}}, ev::Encoder3LongPress);
    EXPECT_EQ(tree.preset->getValue(), "Ambientx");
    EXPECT_EQ(tree.preset->getIndex(), 7);
    EXPECT_FALSE(tree.preset->isEdited());
    EXPECT_FLOAT_EQ(tree.gain->getValue(), 5.2f);
    tree.select(4);
    EXPECT_FLOAT_EQ(tree.gain->getValue(), 5.0f) << "the original is untouched";
}

TEST(Home, SaveAsUnderTheSameNameAsksToOverwrite) {
    ProductTree tree;
    // Even an unedited preset is asked about.
    tree.withUser({{"Save as...", driver::typeAndOk("")}, {"Overwrite changes?", driver::keys(">v^")}},
                  ev::Encoder3LongPress);
    EXPECT_EQ(tree.preset->getValue(), "Ambient");
    EXPECT_EQ(tree.presets->nameAt(7), "");

    // Cancelled: nothing saved, nothing selected anew.
    ProductTree::tick();
    tree.gain->edit(true);
    tree.withUser({{"Save as...", {ev::Encoder2ShortRelease}}}, ev::Encoder3LongPress);
    EXPECT_TRUE(tree.preset->isEdited());
    EXPECT_EQ(tree.preset->getValue(), "Ambient");
    EXPECT_EQ(tree.presets->nameAt(7), "");
}

TEST(Home, SaveAsNeverReplacesAnotherPresetUnasked) {
    ProductTree tree;
    tree.select(3); // "Solo"
    ProductTree::tick();
    tree.mid->edit(true);
    tree.presets->setNameAt(4, "Solox");
    // Back on the question: "Solox" (slot 4) is left as it was.
    tree.withUser({{"Save as...", driver::typeAndOk("x")}, {"Overwrite changes?", driver::keys("v^")}},
                  ev::Encoder3LongPress);
    EXPECT_EQ(tree.preset->getValue(), "Solo");
    tree.select(4);
    EXPECT_FLOAT_EQ(tree.mid->getValue(), 5.0f);

    // A full list takes no new name: the current preset stays selected, still edited.
    for (int i = 0; i < tree.presets->getElementCount(); ++i) {
        if (tree.presets->nameAt(i).empty()) {
            ASSERT_TRUE(tree.presets->setElementAt(i, "P" + std::to_string(i), nullptr));
        }
    }
    ProductTree::tick();
    tree.mid->edit(true);
    tree.withUser({{"Save as...", driver::typeAndOk("x")}}, ev::Encoder3LongPress);
    EXPECT_EQ(tree.preset->getValue(), "Solox");
    EXPECT_TRUE(tree.preset->isEdited());
}

namespace {
void openChain() {
    send("v^");
    ASSERT_EQ(EventDispatcher::elements(), 4);
}

const ObjectView* strip(const std::vector<ObjectView>& views) {
    for (const ObjectView* v : GfxTestView::ofKind(views, "obj")) {
        if (v->x == 7 && v->y == 35 && v->width == 306) return v;
    }
    ADD_FAILURE() << GfxTestView::describe(views);
    return nullptr;
}

// The tile (button) that holds the label with that text.
const ObjectView* tileOf(const std::vector<ObjectView>& views, const std::string& name) {
    const ObjectView& label = labelOf(views, name);
    if (label.parent < 0) return nullptr;
    return &views[size_t(label.parent)];
}
}

TEST(Chain, PresetViewAndTiles) {
    ProductTree tree;
    tree.assigns[2]->setValue(tree.amp->getPath());
    openChain();
    auto views = redraw();
    savePng("ui_chain_preset");

    // Title white with no tile selected; the preset view's sliders.
    EXPECT_EQ(labelOf(views, "Ambient").main.textColor, 0xFFFFFFu);
    EXPECT_EQ(labelOf(views, "Ambient").width, 304);
    EXPECT_EQ(labelOf(views, "Preset").x, 7);
    EXPECT_EQ(labelOf(views, "02B").x, 6);
    EXPECT_EQ(labelOf(views, "List").x, 85);
    EXPECT_EQ(labelOf(views, "Edit...").x, 84);
    EXPECT_EQ(labelOf(views, "Level").x, 163);
    EXPECT_EQ(labelOf(views, "Volume").x, 241);

    // Tiles in the app node's order, the master folder (no switch) left out; a block that is off at one
    // eighth of its colour; the assign number in the corner.
    const char* names[] = {"Gate", "Comp", "Amp", "Delay", "Rev"};
    const int colours[] = {0x888844, (0xFFFF00 >> 3) & 0x1F1F1F, 0xFF0000, 0x00FF00, 0xFF00FF};
    for (int i = 0; i < 5; ++i) {
        const ObjectView* tile = tileOf(views, names[i]);
        ASSERT_NE(tile, nullptr) << names[i];
        EXPECT_EQ(tile->kind, "button");
        EXPECT_EQ(tile->main.bgColor, uint32_t(colours[i])) << names[i];
        EXPECT_EQ(tile->main.shadowSpread, 0) << names[i];
    }
    EXPECT_EQ(GfxTestView::labelWithText(views, "Master"), nullptr);
    EXPECT_EQ(labelOf(views, "3").parent, labelOf(views, "Amp").parent);
    EXPECT_EQ(labelOf(views, "Comp").main.textColor, 0x777777u) << "a dark tile has grey text";
    EXPECT_EQ(strip(views)->scrollRequest, -50);

    // Cursor on the fourth tile: the strip scrolls by 150, the title greys, the sliders are the block's.
    send("4>");
    views = redraw();
    savePng("ui_chain_block");
    EXPECT_EQ(strip(views)->scrollRequest, 150);
    EXPECT_EQ(labelOf(views, "Ambient").main.textColor, 0x777777u);
    EXPECT_EQ(tileOf(views, "Delay")->main.shadowSpread, 3);
    EXPECT_EQ(labelOf(views, "Time").x, 7);
    EXPECT_EQ(labelOf(views, "Feedback").x, 85);
    EXPECT_EQ(labelOf(views, "DIGITAL").x, 162);
    EXPECT_EQ(labelOf(views, "Mix").x, 241);

    // The cursor stops at the last tile and at the preset.
    send("5>");
    EXPECT_EQ(tileOf(redraw(), "Rev")->main.shadowSpread, 3);
    send("7<");
    EXPECT_EQ(labelOf(redraw(), "Ambient").main.textColor, 0xFFFFFFu);

    // An edited preset narrows the title and shows the mark.
    ProductTree::tick();
    tree.low->edit(true);
    views = redraw();
    EXPECT_EQ(labelOf(views, "Ambient").width, 276);
    EXPECT_EQ(labelOf(views, LV_SYMBOL_WARNING).x, 290);
}

TEST(Chain, EncodersEditSwitchAndAssignBlocks) {
    ProductTree tree;
    openChain();
    // No tile: encoder 2 steps the preset, 4 the level, 5 the volume; the long presses assign nothing.
    send(ev::Encoder2Forward);
    EXPECT_EQ(tree.preset->getValue(), "Funk");
    send(ev::Encoder4Forward);
    EXPECT_NEAR(tree.level->getValue(), 0.8f, 1e-4f);
    send(ev::Encoder5Back);
    EXPECT_FLOAT_EQ(tree.volume->getValue(), 48.0f);
    send(ev::Encoder2LongPress);
    for (NodeItem* assign : tree.assigns) EXPECT_EQ(assign->getValue(), "");

    // The amp tile (third): encoders 2 to 5 edit gain, low, mid, treble; the long press switches it off.
    send("3>");
    struct Case {
        int id;
        NodeFloat* node;
        float value;
    } cases[] = {{ev::Encoder2Forward, tree.gain, 5.2f},
                 {ev::Encoder3Back, tree.low, 4.8f},
                 {ev::Encoder4Forward, tree.mid, 5.2f},
                 {ev::Encoder5Forward, tree.treble, 5.2f}};
    for (const Case& c : cases) {
        send(c.id);
        EXPECT_FLOAT_EQ(c.node->getValue(), c.value) << c.node->getName();
    }
    send("L");
    EXPECT_FALSE(Chain::isEnabled(tree.amp));
    auto views = redraw();
    EXPECT_EQ(tileOf(views, "Amp")->main.bgColor, uint32_t((0xFF0000 >> 3) & 0x1F1F1F));
    EXPECT_EQ(labelOf(views, "Gain").parent, 0) << "sliders sit on the screen";

    // Assign it to 1, then to 2: it moves, and the tile shows the new number.
    send(ev::Encoder2LongPress);
    EXPECT_EQ(tree.assigns[0]->getValue(), tree.amp->getPath());
    send(ev::Encoder3LongPress);
    EXPECT_EQ(tree.assigns[0]->getValue(), "");
    EXPECT_EQ(tree.assigns[1]->getValue(), tree.amp->getPath());
    views = redraw();
    EXPECT_EQ(labelOf(views, "2").parent, labelOf(views, "Amp").parent);
    EXPECT_EQ(GfxTestView::labelWithText(views, "1"), nullptr);

    // Encoder 3's short press opens nothing with a tile selected; encoder 1's opens the block's page.
    send(ev::Encoder3ShortRelease);
    EXPECT_EQ(EventDispatcher::elements(), 4);
    send("^");
    EXPECT_EQ(EventDispatcher::elements(), 5);
    EXPECT_NE(GfxTestView::labelWithText(redraw(), "Enable"), nullptr);
    send("xr");
    EXPECT_EQ(EventDispatcher::elements(), 4);

    // Back on the preset: encoder 3 opens the preset list, encoder 1 the master folder.
    send("3<");
    send(ev::Encoder3ShortRelease);
    EXPECT_EQ(EventDispatcher::elements(), 5);
    views = redraw();
    EXPECT_EQ(GfxTestView::labelWithText(views, "List"), nullptr) << "the list page covers the chain screen";
    EXPECT_NE(GfxTestView::labelWithText(views, "Preset"), nullptr) << GfxTestView::describe(views);
    send("xr^");
    EXPECT_NE(GfxTestView::labelWithText(redraw(), "Master"), nullptr);
    send("xr");
    EXPECT_EQ(EventDispatcher::elements(), 4);
}

// Opening a page with encoder 1 on the chain screen, or on the setup page opened from it, and coming back
// leaves the main encoder on the home screen turning the volume, not stepping presets.
TEST(Chain, EncoderPressesOnItsPagesLeaveTheHomeEncoderOnTheVolume) {
    ProductTree tree;
    // Each ends back on the chain screen: the block page closed with encoder 2, the setup page with its
    // "Back" row.
    for (const char* path : {"vr^rxr", "vrLrlrvr^r"}) {
        openChain();
        send(path);
        ASSERT_EQ(EventDispatcher::elements(), 4) << "back on the chain screen";
        send("xr");
        ASSERT_EQ(EventDispatcher::elements(), 3) << "back on the home screen";
        const float volume = tree.volume->getValue();
        send(">");
        EXPECT_EQ(tree.preset->getValue(), "Ambient");
        EXPECT_GT(tree.volume->getValue(), volume);
    }
    openChain();
    send("ir");
    EXPECT_EQ(EventDispatcher::elements(), 3) << "idle closes the chain screen";
}

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
