// The home screen in a product-shaped tree: what it draws (preset number, tempo, edited mark, knobs, meters,
// the value popup and the assign view) and what the panel does with it (footswitch presets and banks, tap
// tempo, the tuner, knob edits, the preset dialogs and saving).
#include "audio/AudioProcessor.h"
#include "ui/Chain.h"
#include "tests/ui/HomeScreen.h"
#include "tests/ui/ListPageDriver.h"
#include "ui/ParamSlider.h"
#include "ui/PresetView.h"

using gfx::GfxTestView;
using gfx::ObjectView;
using homescreen::labelOf;
using homescreen::now;
using homescreen::ProductTree;
using homescreen::redraw;
using homescreen::savePng;
using homescreen::send;
using homescreen::Step;
namespace ev = EventId;

namespace {
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
    const std::pair<const char*, std::vector<int>> openings[] = {
        {"List", {ev::Encoder1Press, ev::Encoder1ShortRelease}},
        {"Threshold", {ev::Encoder1Forward, ev::Encoder1ShortRelease}},
        {"Setup", {ev::Encoder2ShortRelease, ev::Encoder1Back, ev::Encoder1LongPress}}};
    for (const auto& [shown, ids] : openings) {
        for (int id : ids) send(id);
        tree.tuner->getOnOff()->setOn(ids.size() == 3); // over Setup as a remote write would, else by footswitch C
        for (int id : {ev::FootswitchCLongPress, ev::Encoder1Press, ev::Encoder1ShortRelease}) send(id);
        EXPECT_NE(GfxTestView::labelWithText(redraw(), "TUNER"), nullptr) << shown;
        send(ev::FootswitchCShortRelease);
        EXPECT_NE(GfxTestView::labelWithText(redraw(), shown), nullptr) << shown << " after the tuner";
        for (int tap = 0; tap < 4; ++tap, now() += 400000) send(ev::FootswitchBPress);
        EXPECT_NE(GfxTestView::labelWithText(redraw(), "TAP TEMPO"), nullptr) << shown;
        now() += Tempo::kTapDisarmUs;
    }
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
    const std::vector<int> back = {ev::Encoder1Press, ev::Encoder1ShortRelease};
    const std::vector<int> ok = {ev::Encoder1Forward, ev::Encoder1Press, ev::Encoder1ShortRelease};
    const std::vector<int> save = {ev::Encoder1Forward, ev::Encoder1Forward, ev::Encoder1Press,
                                   ev::Encoder1ShortRelease};
    struct Case {
        const char* what;
        std::vector<int> answer;
        std::string preset;
        float low;
        bool edited;
        float storedLow; // Low in slot 4 after a reload
    } cases[] = {{"back", back, "Ambient", 5.2f, true, 5.0f},
                 {"ok", ok, "Funk", 5.0f, false, 5.0f},
                 {"save", save, "Ambient", 5.2f, false, 5.2f}};
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
    tree.withUser({{"Overwrite changes?", {ev::Encoder1Press, ev::Encoder1ShortRelease}}}, ev::Encoder2LongPress);
    EXPECT_TRUE(tree.preset->isEdited()) << "Back keeps the edits unsaved";

    tree.withUser({{"Overwrite changes?", {ev::Encoder1Forward, ev::Encoder1Press, ev::Encoder1ShortRelease}}},
                  ev::Encoder2LongPress);
    EXPECT_FALSE(tree.preset->isEdited());
    tree.select(0);
    tree.select(4);
    EXPECT_FLOAT_EQ(tree.treble->getValue(), 4.8f);
}

namespace {
const std::vector<int> kConfirm = {ev::Encoder1Forward, ev::Encoder1Press, ev::Encoder1ShortRelease};
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
    tree.withUser({{"Save as...", driver::typeAndOk("")}, {"Overwrite changes?", kConfirm}}, ev::Encoder3LongPress);
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
    tree.withUser(
        {{"Save as...", driver::typeAndOk("x")}, {"Overwrite changes?", {ev::Encoder1Press, ev::Encoder1ShortRelease}}},
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
