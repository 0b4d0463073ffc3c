// The node browser: its layout, moving through the rows, editing in place, and the pages it opens; the setup

// page over the system tree: which folders it lists, and the node pages it opens.
#include "ui/DrawerNode.h"
#include "tests/ui/DrawerFixture.h"
#include "ui/EventId.h"
#include "core/NodeAction.h"
#include "core/NodeArray.h"
#include "core/NodeColor.h"
#include "core/NodeEnum.h"
#include "core/NodeFloat.h"
#include "core/NodeItem.h"
#include "core/NodeList.h"
#include "core/NodeParList.h"
#include "ui/DrawerSetup.h"
#include "core/System.h"

#include <atomic>
#include <memory>

namespace {
// A folder of leaves named "Item 1", "Item 2", ... with values "v1", "v2", ...
std::unique_ptr<Node> folderWith(int leaves) {
    auto folder = std::make_unique<NodeItem>(nullptr, "fx", "Effects", "", "vfolder");
    for (int i = 1; i <= leaves; ++i) {
        const std::string key = "item" + std::to_string(i);
        const std::string name = "Item " + std::to_string(i);
        new NodeItem(folder.get(), key.c_str(), name.c_str(), "v" + std::to_string(i), "link");
    }
    return folder;
}

// The empty labels that highlight the rows, top down.
std::vector<const ObjectView*> highlights(const std::vector<ObjectView>& views) {
    std::vector<const ObjectView*> result;
    for (const ObjectView* label : GfxTestView::ofKind(views, "label")) {
        if (label->text.empty() && label->height == 25) result.push_back(label);
    }
    return result;
}
}

TEST(DrawerNode, ThreeChildrenAndBackFillTheRowsOfTheCommonLayout) {
    auto folder = folderWith(2);
    auto* sub = new NodeItem(folder.get(), "sub", "Sub folder", "", "vfolder");
    new NodeItem(sub, "leaf", "Leaf", "x", "link");
    new RecordingPage("home", {});
    new DrawerNode(folder.get());

    const auto views = redraw();
    driver::savePng("ui_node_three_children");
    const ObjectView& title = driver::labelOf(views, "Effects");
    expectBox(title, 7, 6, 296, 29);
    EXPECT_EQ(title.main.textFont, &lv_font_montserrat_24);
    EXPECT_EQ(title.main.textColor, 0xFFFFFFu);
    EXPECT_EQ(title.longMode, LV_LABEL_LONG_MODE_DOTS);

    const auto lines = GfxTestView::ofKind(views, "line");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]->x, 7);
    EXPECT_EQ(lines[0]->y, 33);
    ASSERT_EQ(lines[0]->points.size(), 2u);
    EXPECT_EQ(lines[0]->points[1].x, 306);
    EXPECT_TRUE(GfxTestView::ofKind(views, "bar").empty());

    const auto panels = GfxTestView::ofKind(views, "obj");
    ASSERT_EQ(panels.size(), 1u);
    expectBox(*panels[0], 0, 0, 320, 170);
    EXPECT_EQ(panels[0]->main.bgColor, 0x000000u);
    EXPECT_EQ(panels[0]->main.borderWidth, 7);
    EXPECT_EQ(panels[0]->main.bgMainStop, 50);

    // Four rows of 306: the first selected (white), the others transparent.
    const auto rows = highlights(views);
    ASSERT_EQ(rows.size(), 4u);
    for (size_t i = 0; i < rows.size(); ++i) {
        expectBox(*rows[i], 7, 39 + 25 * int(i), 306, 25);
        EXPECT_EQ(rows[i]->main.bgOpa, i == 0 ? LV_OPA_COVER : LV_OPA_TRANSP);
    }
    const struct {
        const char* text;
        int row;
        uint32_t colour;
    } names[] = {{"Item 1", 0, 0x000000}, {"Item 2", 1, 0xFFFFFF}, {"Sub folder", 2, 0xFFFFFF}, {"Back", 3, 0xFFFFFF}};
    for (const auto& name : names) {
        const ObjectView& text = driver::labelOf(views, name.text);
        expectBox(text, 8, 40 + 25 * name.row, 240, 20);
        EXPECT_EQ(text.main.textFont, &lv_font_montserrat_20);
        EXPECT_EQ(text.main.textColor, name.colour) << name.text;
    }

    // Leaves show their value right-aligned from x 140; the folder shows the two-glyph arrow.
    const ObjectView& value = driver::labelOf(views, "v2");
    expectBox(value, 140, 65, 306 - 133, 20);
    EXPECT_EQ(value.main.textAlign, LV_TEXT_ALIGN_RIGHT);
    EXPECT_EQ(value.main.padRight, 4);
    EXPECT_EQ(driver::labelOf(views, LV_SYMBOL_MINUS).width, 306 - 136);
    EXPECT_EQ(driver::labelOf(views, LV_SYMBOL_RIGHT).width, 306 - 133);
    EXPECT_EQ(driver::labelOf(views, LV_SYMBOL_RIGHT).y, 90);
}

TEST(DrawerNode, ScrollBarFollowsTheWindowAndMovesDoNotWrap) {
    auto folder = folderWith(7);
    new RecordingPage("home", {});
    auto* page = new DrawerNode(folder.get());
    EXPECT_EQ(page->itemCount(), 8);

    struct Step {
        const char* keys;
        int barValue, barStart; // the window is rows [count - value, count - start)
        const char* topRow;
        const char* selectedRow;
    } steps[] = {
        {"", 8, 3, "Item 1", "Item 1"},   {"<", 8, 3, "Item 1", "Item 1"}, // no wrap at the top
        {"5>", 7, 2, "Item 2", "Item 6"}, {"9>", 5, 0, "Item 4", "Back"},  // no wrap at the bottom
        {"4<", 5, 0, "Item 4", "Item 4"}, {"<", 6, 1, "Item 3", "Item 3"},
    };
    for (const Step& step : steps) {
        send(step.keys);
        const auto views = redraw();
        const auto bars = GfxTestView::ofKind(views, "bar");
        ASSERT_EQ(bars.size(), 1u);
        expectBox(*bars[0], 305, 39, 8, 125);
        EXPECT_EQ(bars[0]->rangeMin, 0);
        EXPECT_EQ(bars[0]->rangeMax, 8);
        EXPECT_EQ(bars[0]->barMode, LV_BAR_MODE_RANGE);
        EXPECT_EQ(bars[0]->value, step.barValue) << step.selectedRow;
        EXPECT_EQ(bars[0]->startValue, step.barStart) << step.selectedRow;
        EXPECT_EQ(driver::labelOf(views, step.topRow).y, 40);
        EXPECT_EQ(driver::labelOf(views, step.selectedRow).main.textColor, 0x000000u);
        const auto rows = highlights(views);
        ASSERT_EQ(rows.size(), 5u);
        EXPECT_EQ(rows[0]->width, 292);
    }
    driver::savePng("ui_node_scrolled");
}

TEST(DrawerNode, HiddenChildrenAreNeitherShownNorCounted) {
    auto folder = folderWith(3);
    folder->childrenAt(1)->setStyleVisible(false);
    new RecordingPage("home", {});
    auto* page = new DrawerNode(folder.get());
    EXPECT_EQ(page->itemCount(), 3);
    const auto views = redraw();
    EXPECT_EQ(GfxTestView::labelWithText(views, "Item 2"), nullptr);
    EXPECT_EQ(driver::labelOf(views, "Item 3").y, 65);
    send("2>^");
    EXPECT_EQ(EventDispatcher::elements(), 1) << "the third row is Back";
}

TEST(DrawerNode, EditsLeavesInPlace) {
    auto folder = std::make_unique<NodeItem>(nullptr, "amp", "Amp", "", "hfolder");
    auto* gain = new NodeFloat(folder.get(), "gain", "Gain", 0, 10, 5, "", 0, false, 1);
    auto* mode = new NodeEnum(folder.get(), "mode", "Mode", {"Clean", "Crunch", "Lead"}, "Clean");
    new RecordingPage("home", {});
    new DrawerNode(folder.get());

    // Editing the number: turns step it; the value sits in a white box at the right edge.
    send("^2>");
    EXPECT_GT(gain->getValue(), 5.0f);
    auto views = redraw();
    driver::savePng("ui_node_editing");
    const ObjectView& box = driver::labelOf(views, gain->toString());
    EXPECT_EQ(box.x + box.width, 313);
    EXPECT_EQ(box.y, 39);
    EXPECT_EQ(box.height, 25);
    EXPECT_EQ(box.main.bgColor, 0xFFFFFFu);
    EXPECT_EQ(box.main.bgOpa, LV_OPA_COVER);
    EXPECT_EQ(box.main.textColor, 0x000000u);
    EXPECT_EQ(driver::labelOf(views, "Gain").main.textColor, 0xFFFFFFu);
    EXPECT_EQ(highlights(views).size(), 2u) << "only Mode and Back have a highlight";

    // A long press resets the number and ends the edit: the next turn moves to "Mode".
    send("L");
    EXPECT_EQ(gain->getValue(), 5.0f);
    send("<>^>");
    EXPECT_EQ(gain->getValue(), 5.0f);
    EXPECT_EQ(mode->toString(), "Crunch");

    // A long press on an option list only ends the edit; so does a short press.
    send("L>");
    EXPECT_EQ(mode->toString(), "Crunch");
    send("<^<^<");
    EXPECT_EQ(gain->getValue(), 5.0f);
    EXPECT_EQ(mode->toString(), "Clean");
}

TEST(DrawerNode, ClosesOnBackEncoderTwoAndIdleAndPassesFootswitchesOn) {
    auto folder = folderWith(2);
    new RecordingPage("home", {});
    new DrawerNode(folder.get());

    log().clear();
    send({EventId::Encoder2Forward, EventId::Encoder3Back, EventId::Encoder5Forward, EventId::Tick,
          EventId::Encoder1Press});
    for (int id : {16, 17, 18, 19, 46, 47, 48, 49, 50, 51, 246, 249, 15, 42, 44}) send(id);
    EXPECT_EQ(entriesOf("home"), (std::vector<std::string>{"16", "17", "18", "19", "46", "47", "48", "49", "50", "51",
                                                           "246", "249", "15", "42", "44"}));
    EXPECT_EQ(EventDispatcher::elements(), 2);

    // Encoder 2 closes while editing; "Back" closes; idle closes every stacked node page and goes on.
    send("^x");
    EXPECT_EQ(EventDispatcher::elements(), 1);
    new DrawerNode(folder.get());
    send("2>^");
    EXPECT_EQ(EventDispatcher::elements(), 1);
    new DrawerNode(folder.get());
    new DrawerNode(folder.get());
    new DrawerNode(folder.get());
    log().clear();
    send("i");
    EXPECT_EQ(EventDispatcher::elements(), 1);
    EXPECT_EQ(entriesOf("home"), std::vector<std::string>{"3"});
}

TEST(DrawerNode, OpensSubFoldersAndSlotLists) {
    auto folder = std::make_unique<NodeItem>(nullptr, "app", "Application", "", "vfolder");
    auto* sub = new NodeItem(folder.get(), "delay", "Delay", "", "hfolder");
    new NodeItem(sub, "time", "Time", "300", "link");
    auto lists = std::make_unique<NodeItem>(nullptr, "lists", "Lists", "", "vfolder");
    auto* irs = new NodeList(lists.get(), "irs", "Cabinets", "ir", 64, 4);
    irs->setElementAt(1, "Greenback", nullptr);
    new NodeParList(folder.get(), "ir", "Cabinet", "", irs);
    new RecordingPage("home", {});
    new DrawerNode(folder.get());

    send("^");
    EXPECT_EQ(EventDispatcher::elements(), 3);
    auto views = redraw();
    EXPECT_NE(GfxTestView::labelWithText(views, "Time"), nullptr) << GfxTestView::describe(views);
    send("x");
    send(">^");
    EXPECT_EQ(EventDispatcher::elements(), 3);
    views = redraw();
    EXPECT_EQ(driver::labelOf(views, "Cabinet").y, 6);
    EXPECT_NE(GfxTestView::labelWithText(views, "01B Greenback"), nullptr) << GfxTestView::describe(views);
    send("x");

    // A curve opens the array editor, which leaves the colour screen empty.
    new NodeArray(folder.get(), "curve", "Curve", 8, 0, 100, 1, "", 0, 1, "s");
    send(">^");
    EXPECT_EQ(EventDispatcher::elements(), 3);
    EXPECT_TRUE(GfxTestView::ofKind(redraw(), "label").empty());
}

namespace {
std::atomic<int> runs{0};
}

TEST(DrawerNode, RunsActionsAtOnceOrAfterConfirmation) {
    auto folder = std::make_unique<NodeItem>(nullptr, "sys", "System", "", "sfolder");
    new NodeAction(
        folder.get(), "now", "Now", [](NodeAction*) { ++runs; }, "smp");
    new NodeAction(
        folder.get(), "reset", "Factory reset", [](NodeAction*) { runs += 10; }, "smp_cfm");
    new RecordingPage("home", {});
    new DrawerNode(folder.get());

    send("^");
    NodeAction::tasks();
    EXPECT_EQ(runs, 1);

    struct Case {
        const char* answer; // on the popup, which opens with "Back" selected
        int runsAfter;
    } cases[] = {{"^v^", 1} /* Back */, {"xv^", 1} /* 43 ignored */, {">v^", 11} /* Ok */};
    // Events queued behind the confirming release would still go to the popup: each case ends there.
    send(">");
    for (const Case& c : cases) {
        send(keys("^") + keys(c.answer));
        NodeAction::tasks();
        EXPECT_EQ(runs, c.runsAfter);
        EXPECT_EQ(EventDispatcher::elements(), 2);
    }
}

TEST(DrawerNode, EditsTextsOnTheKeyboard) {
    auto folder = std::make_unique<NodeItem>(nullptr, "sys", "System", "", "sfolder");
    auto* alias = new NodeItem(folder.get(), "alias", "Name", "pedal", "string");
    auto* password = new NodeItem(folder.get(), "pwd", "Password", "secret", "string");
    password->setSecret(true);
    new RecordingPage("home", {});
    new DrawerNode(folder.get());

    // The keyboard starts from the value and its OK writes the text back; a cancelled one changes nothing.
    send(keys("^") + driver::typeAndOk("ab"));
    EXPECT_EQ(alias->getValue(), "pedalab");
    send("^x");
    EXPECT_EQ(alias->getValue(), "pedalab");
    EXPECT_EQ(EventDispatcher::elements(), 2);

    // The password is not shown: the keyboard starts empty, and cancelling keeps the password.
    send(">^x");
    EXPECT_EQ(password->getValue(), "secret");
    EXPECT_EQ(GfxTestView::labelWithText(redraw(), "secret"), nullptr) << "not in the value column either";
    send(keys("^") + driver::typeAndOk("new"));
    EXPECT_EQ(password->getValue(), "new") << "the keyboard started empty";
    // OK on an empty keyboard clears it.
    send(keys("^") + driver::eraseAndOk(0));
    EXPECT_EQ(password->getValue(), "");
}

TEST(DrawerNode, ColourItemsShowAHueSlider) {
    auto folder = std::make_unique<NodeItem>(nullptr, "look", "Look", "", "sfolder");
    auto* colour = new NodeColor(folder.get(), "color", "Colour", "0000FF");
    for (int i = 0; i < 5; ++i) new NodeItem(folder.get(), ("x" + std::to_string(i)).c_str(), "X", "", "link");
    new RecordingPage("home", {});
    new DrawerNode(folder.get());

    struct Case {
        const char* keys;
        bool edited;
    } cases[] = {{"", false}, {"^", true}};
    for (const Case& c : cases) {
        send(c.keys);
        const auto views = redraw();
        const auto sliders = GfxTestView::ofKind(views, "slider");
        ASSERT_EQ(sliders.size(), 1u);
        // With the scroll bar (seven rows) the slider moves 14 pixels left.
        expectBox(*sliders[0], 199, 46, 90, 10);
        EXPECT_EQ(sliders[0]->value, 66); // 240 degrees
        EXPECT_EQ(sliders[0]->knob.bgColor, 0x0000FFu);
        EXPECT_EQ(sliders[0]->main.bgImage, &img_hue_10);
        EXPECT_EQ(GfxTestView::labelWithText(views, "0000FF"), nullptr);
        bool whiteBox = false;
        for (const ObjectView* l : GfxTestView::ofKind(views, "label")) {
            if (l->x == 189 && l->width == 110 && l->main.bgOpa == LV_OPA_COVER) whiteBox = true;
        }
        EXPECT_EQ(whiteBox, c.edited);
    }
    driver::savePng("ui_node_colour");
    EXPECT_EQ(colour->getValue(), "0000FF");
}

namespace {
std::vector<std::string> names(const std::vector<ObjectView>& views) {
    std::vector<std::string> rows;
    for (const ObjectView* label : GfxTestView::ofKind(views, "label")) {
        if (label->x == 8 && label->width == 240) rows.push_back(label->text);
    }
    return rows;
}

// Two settings folders (one hidden), one without children, and a folder of another type.
void buildTree() {
    pages::ownHome();
    System::initialize("test");
    Node* root = System::rootNode();
    auto* midi = new NodeItem(root, "midi", "MIDI", "", "sfolder");
    new NodeItem(midi, "channel", "Channel", "1", "link");
    new NodeItem(root, "empty", "Empty", "", "sfolder");
    auto* wifi = new NodeItem(root, "wifi", "Wi-Fi", "", "sfolder");
    new NodeItem(wifi, "ssid", "Network", "home", "link");
    wifi->setStyleVisible(false);
    auto* other = new NodeItem(root, "other", "Other", "", "vfolder");
    new NodeItem(other, "x", "X", "", "link");
}
}

TEST(DrawerSetup, ListsTheSettingsFoldersAndTheSystemFolder) {
    buildTree();
    new RecordingPage("home", {});
    new DrawerSetup(DrawerNode::open);
    auto views = redraw();
    driver::savePng("ui_setup");
    EXPECT_NE(GfxTestView::labelWithText(views, "Setup"), nullptr);
    EXPECT_EQ(names(views),
              (std::vector<std::string>{"MIDI", "Wi-Fi", System::systemNode()->getDisplayName(), "Back"}));
    EXPECT_NE(GfxTestView::labelWithText(views, LV_SYMBOL_RIGHT), nullptr);

    // A folder row opens the node page on it; "Back" there returns here.
    send(">^");
    EXPECT_EQ(EventDispatcher::elements(), 3);
    views = redraw();
    EXPECT_NE(GfxTestView::labelWithText(views, "Network"), nullptr) << GfxTestView::describe(views);
    send("x");
    views = redraw();
    EXPECT_NE(GfxTestView::labelWithText(views, "Setup"), nullptr);

    // Footswitches and the other encoders go on to the home screen; encoder 1's press stays here, as the home
    // screen would take it for the start of a hold and step presets.
    log().clear();
    for (int id : {16, 17, 46, 49, 50, 51, 246, 12, 14, 15, 42, 40, 240, 341, 441, EventId::Tick}) send(id);
    EXPECT_EQ(entriesOf("home"),
              (std::vector<std::string>{"16", "17", "46", "49", "50", "51", "246", "14", "15", "42"}));
    EXPECT_EQ(EventDispatcher::elements(), 2);

    // No wrap; the row past the folders closes. Idle closes too and goes on.
    send("6>");
    send("^");
    EXPECT_EQ(EventDispatcher::elements(), 1);
    new DrawerSetup(DrawerNode::open);
    send("i");
    EXPECT_EQ(entriesOf("home").back(), "3");
    EXPECT_EQ(EventDispatcher::elements(), 1);
}

TEST(DrawerSetup, OpensFromALongPressOnTheApplicationFolderOnly) {
    buildTree();
    new NodeItem(System::appNode(), "amp", "Amp", "", "hfolder");
    new RecordingPage("home", {});
    new DrawerNode(System::appNode());
    send("L");
    EXPECT_EQ(EventDispatcher::elements(), 3);
    const auto views = redraw();
    EXPECT_NE(GfxTestView::labelWithText(views, "Setup"), nullptr);
    send("x");

    new DrawerNode(System::systemNode());
    send("L");
    EXPECT_EQ(EventDispatcher::elements(), 3);
}
