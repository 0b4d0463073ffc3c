// The popup and the chooser as modal pages: what they draw, how they answer, and that they keep every event;
// and for every page over another, which of the panel's events it keeps and which close it.
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

#include <functional>
#include <memory>

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
