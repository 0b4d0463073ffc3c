// The modal pages: the popup, the chooser and the on-screen keyboard (typing with the main encoder, the three

// key maps, OK and cancel), what they draw, how they answer and that they keep every event; the slot list page
// over a preset list and over a plain selector (labels, the window, choosing, saving into an empty slot and
// the slot menu); and for every page over another, which of the panel's events it keeps and which close it.
#include "ui/DrawerArray.h"
#include "ui/DrawerChooser.h"
#include "tests/ui/DrawerFixture.h"
#include "ui/DrawerKeyboard.h"
#include "ui/DrawerList.h"
#include "ui/DrawerPopup.h"
#include "ui/EventId.h"
#include "core/NodeArray.h"
#include "core/NodeItem.h"
#include "core/NodeList.h"
#include "core/NodeParList.h"
#include "ui/LCD.h"
#include "core/NodeFloat.h"
#include "core/NodePreset.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {
// The background colour of the footer button that holds `text`.
uint32_t buttonColour(const std::vector<ObjectView>& views, const std::string& text) {
    const ObjectView* label = GfxTestView::labelWithText(views, text);
    if (!label || label->parent < 0) {
        ADD_FAILURE() << "no button " << text << "\n" << GfxTestView::describe(views);
        return 0x123456;
    }
    return views[label->parent].main.bgColor;
}
}

TEST(DrawerPopup, TwoButtonsPreselectFromTheAnswerAndConfirmOnlyAfterAPress) {
    new RecordingPage("home", {});
    struct Case {
        int answerOnEntry;
        const char* keys;
        const char* highlighted; // before the keys
        int answer;
        bool closed;
    } cases[] = {
        {0, "^", "Back", 0, false}, // a release without a press
        {0, "xi", "Back", 0, false},  {0, "v^", "Back", 0, true}, {1, "v^", "Ok", 1, true},
        {0, "2>v^", "Back", 1, true}, {1, "2<v^", "Ok", 0, true},
    };
    for (const Case& c : cases) {
        int answer = c.answerOnEntry;
        auto* popup = new DrawerPopup("Are you sure?", "", DrawerPopup::kBackOk, &answer);
        const auto views = redraw();
        EXPECT_EQ(buttonColour(views, c.highlighted), 0xFFFFFFu);
        EXPECT_EQ(GfxTestView::ofKind(views, "button").size(), 2u);
        log().clear();
        send(c.keys);
        EXPECT_TRUE(entriesOf("home").empty()) << "the popup keeps every event";
        EXPECT_EQ(answer, c.answer);
        EXPECT_EQ(EventDispatcher::elements(), c.closed ? 1 : 2);
        if (!c.closed) EventDispatcher::removeListener(popup);
    }
}

TEST(DrawerPopup, DrawsItsBoxAndItsMonochromeCopy) {
    new RecordingPage("home", {});
    int answer = 5;
    new DrawerPopup("Save preset?", "Lead", DrawerPopup::kBackOkSave, &answer);
    send("3>");
    const auto views = redraw();
    driver::savePng("ui_popup_three_buttons");

    const auto boxes = GfxTestView::ofKind(views, "msgbox");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0]->width, 240);
    EXPECT_EQ(boxes[0]->height, 120);
    EXPECT_EQ(boxes[0]->main.padTop, 15);
    const ObjectView* title = GfxTestView::labelWithText(views, "Save preset?");
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->main.textFont, &lv_font_montserrat_18);
    EXPECT_EQ(title->main.textAlign, LV_TEXT_ALIGN_CENTER);
    EXPECT_NE(GfxTestView::labelWithText(views, "Lead"), nullptr);
    EXPECT_EQ(buttonColour(views, "Back"), 0x000000u);
    EXPECT_EQ(buttonColour(views, "Ok"), 0x000000u);
    EXPECT_EQ(buttonColour(views, "Save"), 0xFFFFFFu);
    const auto panels = GfxTestView::ofKind(views, "obj");
    ASSERT_FALSE(panels.empty());
    EXPECT_EQ(panels[0]->main.bgMainStop, 0);

    // The monochrome copy: a frame, and the selected (rightmost) button filled.
    EXPECT_TRUE(pixel(0, 0));
    EXPECT_TRUE(pixel(127, 63));
    EXPECT_TRUE(pixel(120, 50) || pixel(121, 45)) << "the selected button is filled";

    send("v^");
    EXPECT_EQ(answer, 2);
    EXPECT_EQ(EventDispatcher::elements(), 1);
}

TEST(DrawerPopup, OneButtonLeavesTheAnswerAlone) {
    new RecordingPage("home", {});
    int answer = 7;
    new DrawerPopup("Saved", "", DrawerPopup::kOk, &answer);
    const auto views = redraw();
    EXPECT_EQ(GfxTestView::ofKind(views, "button").size(), 1u);
    EXPECT_EQ(buttonColour(views, "Ok"), 0xFFFFFFu);
    send(">v^");
    EXPECT_EQ(answer, 7);
    EXPECT_EQ(EventDispatcher::elements(), 1);
}

TEST(DrawerChooser, AnswersTheChosenTextOrNothing) {
    new RecordingPage("home", {});
    const std::vector<std::string> options{"Rename", "Delete", "Overwrite"};
    struct Case {
        const char* keys;
        const char* answer;
    } cases[] = {
        {"^", "Rename"}, {"<>^", "Delete"}, {"3>^", ""}, {"4><^", "Overwrite"} /* no wrap past Back */, {">x", ""}};
    for (const Case& c : cases) {
        std::string answer = "unchanged";
        new DrawerChooser("lead", options, &answer);
        const auto views = redraw();
        EXPECT_TRUE(GfxTestView::ofKind(views, "bar").empty());
        for (const char* row : {"Rename", "Delete", "Overwrite", "Back"}) {
            const ObjectView* label = GfxTestView::labelWithText(views, row);
            ASSERT_NE(label, nullptr) << row;
            EXPECT_EQ(label->width, 301);
        }
        send(c.keys);
        EXPECT_EQ(answer, c.answer);
        EXPECT_EQ(EventDispatcher::elements(), 1);
    }
}

TEST(DrawerChooser, ScrollsALongList) {
    new RecordingPage("home", {});
    std::string answer = "unchanged";
    new DrawerChooser("Many", {"a", "b", "c", "d", "e", "f"}, &answer);
    send("6>");
    const auto views = redraw();
    driver::savePng("ui_chooser_scrolled");
    const auto bars = GfxTestView::ofKind(views, "bar");
    ASSERT_EQ(bars.size(), 1u);
    EXPECT_EQ(bars[0]->rangeMax, 7);
    EXPECT_EQ(bars[0]->value, 5);
    EXPECT_EQ(bars[0]->startValue, 0);
    EXPECT_EQ(GfxTestView::labelWithText(views, "Back")->width, 287);
    EXPECT_EQ(GfxTestView::labelWithText(views, "a"), nullptr);
}

// Each page over the recording page, sent the panel's events one at a time: the modal ones keep even the idle
// event and close only on their back button (the keyboard leaves the caller's text, the chooser answers
// nothing); the others let the idle event close them and go on to the page below, and keep the rest.
TEST_F(DrawerPage, EachPageKeepsThePanelsEventsUntilItsCloseEvent) {
    auto root = std::make_unique<NodeItem>(nullptr, "app", "app", "", "folder");
    auto* curve = new NodeArray(root.get(), "curve", "Curve", 4, 0.0f, 100.0f, 1, "C", 0.0f, 30.0f, "s");
    auto* irs = new NodeList(root.get(), "irs", "Cabinets", "ir", 64, 3);
    ASSERT_TRUE(irs->setElementAt(0, "V30", nullptr));
    auto* selector = new NodeParList(root.get(), "ir", "Cabinet", "V30", irs);
    std::string text;
    const int idle = EventId::Idle, tick = EventId::Tick, back = EventId::Encoder2ShortRelease;
    struct Case {
        const char* page;
        std::function<void()> open;
        std::vector<int> ids; // the last one closes the page
        std::vector<std::string> below;
        const char* textAfter;
    } cases[] = {
        {"keyboard",
         [&] { new DrawerKeyboard("Name", &text); },
         {idle, tick, 12, 14, 15, 16, 17, 40, 41, 42, 46, 50, 240, 246, 340, 440, 445, back},
         {},
         "ab"},
        {"chooser",
         [&] {
             new DrawerChooser("Many", {"a", "b"}, &text);
         },
         {16, 17, 46, 50, 246, 42, 14, idle, tick, back},
         {},
         ""},
        {"array", [&] { new DrawerArray(curve); }, {tick, EventId::FootswitchAPress, back, idle}, {"3"}, "ab"},
        {"list",
         [&] { new DrawerList(selector); },
         {16, 17, 46, 47, 50, 51, 246, 40, 42, 240, 15, tick, idle},
         {"3"},
         "ab"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.page);
        text = "ab";
        c.open();
        log().clear();
        for (size_t i = 0; i + 1 < c.ids.size(); ++i) send(c.ids[i]);
        EXPECT_TRUE(entriesOf("below").empty());
        EXPECT_EQ(EventDispatcher::elements(), 2);
        EXPECT_EQ(text, "ab");
        send(c.ids.back());
        EXPECT_EQ(entriesOf("below"), c.below);
        EXPECT_EQ(EventDispatcher::elements(), 1);
        EXPECT_EQ(text, c.textAfter);
    }
}

namespace {
const gfx::ObjectView& keyboardOf(const std::vector<gfx::ObjectView>& views) {
    const auto keyboards = GfxTestView::ofKind(views, "keyboard");
    EXPECT_EQ(keyboards.size(), 1u) << GfxTestView::describe(views);
    return *keyboards.at(0);
}

int checkedKey(const gfx::ObjectView& keyboard) {
    int found = -1;
    for (size_t i = 0; i < keyboard.keys.size(); ++i) {
        if (keyboard.keys[i].checked) {
            EXPECT_EQ(found, -1) << "two keys highlighted";
            found = int(i);
        }
    }
    return found;
}

class DrawerKeyboardTest : public DrawerPage {
protected:
    void SetUp() override {
        LCD::initialize();
        DrawerPage::SetUp();
    }
};
}

TEST_F(DrawerKeyboardTest, TypesWithTheMainEncoderAndHandsTheTextOverOnOk) {
    // Key indexes: lower map 0 "123", 1..10 a..j, 11 backspace, 12 "ABC", 13..22 k..t, 23 OK, 24..29 u..z,
    // 30 "_", 31 "-", 32 space, 33 close; digit map 0 "ABC", 1..4 "1".."4", 5 backspace, 6 "-", 7..9 "5".."7",
    // 10 OK, 11 "_", 12..14 "8" "9" "0", 15 space, 16 close.
    struct Case {
        const char* name;
        const char* keys;   // from the page's start: key 0, lower case
        const char* shown;  // the text on the page while it stays open
        const char* result; // the caller's string afterwards
        bool closes;
    };
    const std::vector<Case> cases = {
        {"letters", ">^>^27>^", "abz", "old", false},
        {"upper case after ABC", "12>^11<^", "A", "old", false},
        {"case toggles back", "12>^^11<^", "a", "old", false},
        {"digits from lower case", "^>^12>^", "19", "old", false},
        {"symbols and space", "30>^>^>^", "_- ", "old", false},
        {"backspace removes one", ">^>^9>^", "a", "old", false},
        {"backspace on empty", "11>^^", "", "old", false},
        {"OK", ">^22>^", nullptr, "a", true},
        {"digit map OK", "^>^9>^", nullptr, "1", true},
        {"close keeps", ">^32>^", nullptr, "old", true},
        {"back button keeps", ">^x", nullptr, "old", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string result = "old";
        // The page starts from the caller's text: clear it first with backspaces.
        auto* page = new DrawerKeyboard("Name", &result);
        send("11>3^11<");
        ASSERT_EQ(EventDispatcher::elements(), 2);
        send(c.keys);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(EventDispatcher::elements(), c.closes ? 1 : 2);
        if (!c.closes) {
            const auto views = redraw();
            const gfx::ObjectView* text = GfxTestView::labelWithText(views, c.shown);
            ASSERT_NE(text, nullptr) << GfxTestView::describe(views);
            EXPECT_EQ(text->y, 43);
            EventDispatcher::removeListener(page);
        }
    }
    EXPECT_TRUE(pages::entriesOf("below").empty()) << "the keyboard consumes every event";
}

TEST_F(DrawerKeyboardTest, OkAndCancelWithAnInitialValue) {
    struct Case {
        const char* name;
        bool initial;
        const char* keys;
        const char* result;
    };
    const std::vector<Case> cases = {
        {"OK unchanged undoes the initial value", true, "23>^", "Clean"},
        {"close after initial", true, "33>^", ""},
        {"back button after initial", true, "x", ""},
        {"OK after typing", true, ">^22>^", "Cleana"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string result = "Clean";
        if (c.initial) {
            new DrawerKeyboard("Save as...", &result, "");
            EXPECT_EQ(result, "");
        } else {
            new DrawerKeyboard("Save as...", &result);
        }
        const auto views = redraw();
        EXPECT_NE(GfxTestView::labelWithText(views, "Clean"), nullptr) << "editing starts from the old text";
        send(c.keys);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(EventDispatcher::elements(), 1);
    }
}

TEST_F(DrawerKeyboardTest, HighlightWrapsOverTheCurrentMapAndSurvivesMapChanges) {
    std::string result;
    new DrawerKeyboard("Name", &result);
    EXPECT_EQ(checkedKey(keyboardOf(redraw())), 0);
    send("<");
    auto keyboard = keyboardOf(redraw());
    EXPECT_EQ(checkedKey(keyboard), 33);
    EXPECT_EQ(keyboard.keys.at(33).text, LV_SYMBOL_CLOSE);
    send(">");
    EXPECT_EQ(checkedKey(keyboardOf(redraw())), 0);

    // "123" from upper case, then "ABC": back to upper case, the highlight stays on key 0.
    send("12>^12<^");
    keyboard = keyboardOf(redraw());
    ASSERT_EQ(keyboard.keys.size(), 17u);
    EXPECT_EQ(checkedKey(keyboard), 0);
    send("<");
    EXPECT_EQ(checkedKey(keyboardOf(redraw())), 16);
    send(">^");
    keyboard = keyboardOf(redraw());
    ASSERT_EQ(keyboard.keys.size(), 34u);
    EXPECT_EQ(keyboard.keys.at(1).text, "A");
    EXPECT_EQ(keyboard.keys.at(12).text, "ABC");
}

TEST_F(DrawerKeyboardTest, KeysQueuedBehindOkStillEditButDoNotReachTheCaller) {
    // OK queues the close behind the ids already waiting: a key press after it still appends to the text,
    // and a second OK or close does not queue a second close, which would take the caller's page away too.
    struct Case {
        const char* name;
        const char* after;
    };
    const std::vector<Case> cases = {{"a letter", "<^"}, {"OK again", "^"}, {"close", "10>^"}, {"back button", "x"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto* caller = new RecordingPage("caller", {}, true);
        std::string result = "x";
        new DrawerKeyboard("Name", &result);
        send("23>");
        for (int id : keys(std::string("^") + c.after)) EventDispatcher::addEvent(id);
        EXPECT_FALSE(EventDispatcher::dispatch()) << "the pass ends with the close";
        EXPECT_EQ(result, "x");
        send("");
        EXPECT_EQ(EventDispatcher::elements(), 2) << "only the keyboard closed";
        EXPECT_TRUE(EventDispatcher::hasFocus(caller));
        EventDispatcher::removeListener(caller);
    }
}

TEST_F(DrawerKeyboardTest, DrawsTheCommonFrameTheTextAndTheKeyboard) {
    std::string result = "A rather long preset name that does not fit";
    new DrawerKeyboard("Preset name", &result);
    send("5>^<");
    pages::log().clear();
    const auto views = redraw();
    EXPECT_TRUE(pages::entriesOf("below").empty()) << "nothing below the keyboard is drawn";
    driver::savePng("ui_keyboard");

    EXPECT_NE(GfxTestView::labelWithText(views, "Preset name"), nullptr) << GfxTestView::describe(views);
    const gfx::ObjectView* text = GfxTestView::labelWithText(views, result + "e");
    ASSERT_NE(text, nullptr) << GfxTestView::describe(views);
    EXPECT_EQ(text->x, 7);
    EXPECT_EQ(text->y, 43);
    EXPECT_EQ(text->width, 306);
    ASSERT_FALSE(text->lines.empty());
    EXPECT_NE(text->lines.back().find("..."), std::string::npos) << "a long text ends in dots";

    const gfx::ObjectView& keyboard = keyboardOf(views);
    expectBox(keyboard, 6, 73, 308, 90);
    EXPECT_EQ(checkedKey(keyboard), 4);
    EXPECT_EQ(keyboard.keys.at(0).width, 8u);
    EXPECT_EQ(keyboard.keys.at(11).text, LV_SYMBOL_BACKSPACE);
    EXPECT_EQ(keyboard.keys.at(23).text, LV_SYMBOL_OK);
    // The highlighted key is white with black text.
    const lv_area_t& box = keyboard.keys.at(4).box;
    EXPECT_EQ(GfxTestView::pixel(box.x1 + 3, box.y1 + 3), 0xFFFFFFu);
}

namespace {
// A preset list of `slots` slots, a preset node over it and one parameter in the preset's scope.
struct Presets {
    explicit Presets(int slots) {
        list = new NodeList(lists.get(), "presets", "Presets", "preset", 4096, slots);
        preset = new NodePreset(app.get(), "preset", "Preset", "", list);
        level = new NodeFloat(app.get(), "level", "Level", 0, 10, 5, "", 0, false, 1);
    }
    // Saves the present settings with the level at `value` under `name` into slot `index`; it becomes the
    // current preset.
    void store(int index, const std::string& name, float value) {
        level->setValue(value);
        ASSERT_TRUE(list->setElementAt(index, name, nullptr));
        ASSERT_TRUE(preset->setValue(name + NodePreset::SAVE_SUFFIX));
        ASSERT_TRUE(preset->setValue(name));
    }

    std::unique_ptr<Node> lists = std::make_unique<NodeItem>(nullptr, "lists", "Lists", "", "vfolder");
    std::unique_ptr<Node> app = std::make_unique<NodeItem>(nullptr, "app", "Application", "", "vfolder");
    NodeList* list;
    NodePreset* preset;
    NodeFloat* level;
};

std::vector<std::string> rowTexts(const std::vector<ObjectView>& views) {
    std::vector<std::string> rows;
    for (const ObjectView* label : GfxTestView::ofKind(views, "label")) {
        if (label->height == 20 && label->x == 8) rows.push_back(label->text);
    }
    return rows;
}

const ObjectView* underlined(const std::vector<ObjectView>& views) {
    for (const ObjectView* label : GfxTestView::ofKind(views, "label")) {
        if (label->main.textDecor == LV_TEXT_DECOR_UNDERLINE) return label;
    }
    return nullptr;
}
}

TEST(DrawerList, SlotLabelsCountInBanksOfThree) {
    const struct {
        int index;
        const char* label;
    } cases[] = {{0, "01A"}, {1, "01B"}, {2, "01C"}, {3, "02A"}, {59, "20C"}, {299, "100C"}};
    for (const auto& c : cases) EXPECT_EQ(DrawerList::slotLabel(c.index), c.label);
    EXPECT_EQ(DrawerList::rowText(4, ""), "02B --------------------");
    EXPECT_EQ(DrawerList::rowText(4, "Lead"), "02B Lead");
}

TEST(DrawerList, OpensOnTheCurrentPresetAtTheBottomOfTheWindowAndWraps) {
    Presets presets(60);
    presets.store(0, "Clean", 2);
    presets.store(37, "Lead", 8);
    ASSERT_EQ(presets.preset->getValue(), "Lead");
    new RecordingPage("home", {});
    new DrawerList(presets.preset);

    auto views = redraw();
    driver::savePng("ui_list_presets");
    EXPECT_EQ(rowTexts(views),
              (std::vector<std::string>{"12A --------------------", "12B --------------------",
                                        "12C --------------------", "13A --------------------", "13B Lead"}));
    ASSERT_NE(underlined(views), nullptr);
    EXPECT_EQ(underlined(views)->text, "13B Lead");
    EXPECT_EQ(underlined(views)->main.textColor, 0x000000u) << "selected";
    EXPECT_EQ(underlined(views)->width, 287);
    const auto bars = GfxTestView::ofKind(views, "bar");
    ASSERT_EQ(bars.size(), 1u);
    EXPECT_EQ(bars[0]->rangeMax, 61) << "60 slots and Back";

    // Forward past "Back" wraps to 01A; back from 01A wraps to "Back".
    send("23>");
    views = redraw();
    EXPECT_EQ(rowTexts(views).back(), "Back");
    send(">");
    views = redraw();
    EXPECT_EQ(rowTexts(views).front(), "01A Clean");
    send("<");
    views = redraw();
    EXPECT_EQ(rowTexts(views).back(), "Back");
    EXPECT_EQ(rowTexts(views).front(), "19C --------------------");
}

TEST(DrawerList, ChoosingLoadsAnotherPresetAndCloses) {
    Presets presets(6);
    presets.store(0, "Clean", 2);
    presets.store(1, "Lead", 8);
    new RecordingPage("home", {});

    // The current preset is not loaded again: the tweak of the level stays.
    presets.level->setValue(9);
    new DrawerList(presets.preset);
    send("^");
    EXPECT_EQ(EventDispatcher::elements(), 1);
    EXPECT_EQ(presets.level->getValue(), 9.0f);

    new DrawerList(presets.preset);
    send("<^");
    EXPECT_EQ(EventDispatcher::elements(), 1);
    EXPECT_EQ(presets.preset->getValue(), "Clean");
    EXPECT_EQ(presets.level->getValue(), 2.0f);

    // "Back" closes without a change.
    new DrawerList(presets.preset);
    send("<^");
    EXPECT_EQ(EventDispatcher::elements(), 1);
    EXPECT_EQ(presets.preset->getValue(), "Clean");
}

TEST(DrawerList, SavesIntoAnEmptySlotUnderATypedName) {
    Presets presets(6);
    presets.store(0, "clean", 2);
    new RecordingPage("home", {});
    new DrawerList(presets.preset);
    presets.level->setValue(7);

    // A keyboard left empty (OK at once, or cancelled), or a name that another slot has, saves nothing; the
    // page stays.
    send(keys(">^") + driver::eraseAndOk(0));
    send("^x");
    send(keys("^") + driver::typeAndOk("clean"));
    EXPECT_EQ(presets.list->nameAt(1), "");
    EXPECT_EQ(EventDispatcher::elements(), 2);

    send(keys("^") + driver::typeAndOk("solo"));
    EXPECT_EQ(presets.list->nameAt(1), "solo");
    EXPECT_EQ(presets.preset->getValue(), "solo");
    EXPECT_EQ(EventDispatcher::elements(), 2);
    const auto views = redraw();
    ASSERT_NE(underlined(views), nullptr);
    EXPECT_EQ(underlined(views)->text, "01B solo");

    // The saved preset holds the level it was saved with; the other was not overwritten.
    presets.level->setValue(1);
    ASSERT_TRUE(presets.preset->setValue("solo"));
    EXPECT_EQ(presets.level->getValue(), 7.0f);
    ASSERT_TRUE(presets.preset->setValue("clean"));
    EXPECT_EQ(presets.level->getValue(), 2.0f);
}

TEST(DrawerList, SlotMenuRenamesDeletesAndOverwrites) {
    Presets presets(6);
    presets.store(0, "clean", 2);
    presets.store(1, "lead", 8);
    new RecordingPage("home", {});
    new DrawerList(presets.preset); // on "lead"
    const std::vector<int> rename = keys("L^");

    // A cancelled chooser, a cancelled, emptied or unchanged rename, and a rename to a name in use change
    // nothing, and load nothing.
    presets.level->setValue(3);
    driver::sendScript({keys("Lx")});
    driver::sendScript({rename, keys("x")});
    driver::sendScript({rename, driver::eraseAndOk(4)});
    driver::sendScript({rename, driver::typeAndOk("")});
    driver::sendScript({rename, driver::editAndOk(4, "clean")});
    EXPECT_EQ(presets.list->nameAt(0), "clean");
    EXPECT_EQ(presets.list->nameAt(1), "lead");
    EXPECT_EQ(presets.preset->getValue(), "lead");
    EXPECT_EQ(presets.level->getValue(), 3.0f);

    // Rename to a free name: the slot is renamed and becomes the current preset.
    driver::sendScript({rename, driver::typeAndOk("x")});
    EXPECT_EQ(presets.list->nameAt(1), "leadx");
    EXPECT_EQ(presets.preset->getValue(), "leadx");
    EXPECT_EQ(presets.level->getValue(), 8.0f);

    // Overwrite keeps the name and stores the present settings.
    presets.level->setValue(4);
    driver::sendScript({keys("L2>^")});
    presets.level->setValue(0);
    ASSERT_TRUE(presets.preset->setValue("leadx"));
    EXPECT_EQ(presets.level->getValue(), 4.0f);

    driver::sendScript({keys("L>^")});
    EXPECT_EQ(presets.list->nameAt(1), "");
    EXPECT_EQ(EventDispatcher::elements(), 2) << "the page stays open after every menu choice";

    // No menu on an empty slot.
    send("L");
    EXPECT_EQ(EventDispatcher::elements(), 2);
}

TEST(DrawerList, PlainSelectorsChooseOnlyAndHaveNoMenu) {
    auto lists = std::make_unique<NodeItem>(nullptr, "lists", "Lists", "", "vfolder");
    auto* irs = new NodeList(lists.get(), "irs", "Cabinets", "ir", 64, 3);
    ASSERT_TRUE(irs->setElementAt(0, "V30", nullptr));
    auto* selector = new NodeParList(lists.get(), "ir", "Cabinet", "V30", irs);
    ASSERT_TRUE(selector->setValue("V30"));
    new RecordingPage("home", {});
    new DrawerList(selector);

    send(">L");
    EXPECT_EQ(EventDispatcher::elements(), 2) << "no menu";
    // An empty slot of a plain selector selects nothing and closes.
    send("^");
    EXPECT_EQ(EventDispatcher::elements(), 1);
    EXPECT_EQ(selector->getValue(), "");
    EXPECT_EQ(irs->nameAt(1), "");
}
