// The on-screen keyboard: typing with the main encoder, the three key maps, OK and cancel, and what it draws.
#include "tests/ui/DrawerFixture.h"
#include "ui/DrawerKeyboard.h"
#include "ui/LCD.h"

#include <string>
#include <vector>

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
        {"OK unchanged, two arguments", false, "23>^", "Clean"},
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
    EXPECT_EQ(keyboard.x, 6);
    EXPECT_EQ(keyboard.y, 73);
    EXPECT_EQ(keyboard.width, 308);
    EXPECT_EQ(keyboard.height, 90);
    EXPECT_EQ(checkedKey(keyboard), 4);
    EXPECT_EQ(keyboard.keys.at(0).width, 8u);
    EXPECT_EQ(keyboard.keys.at(11).text, LV_SYMBOL_BACKSPACE);
    EXPECT_EQ(keyboard.keys.at(23).text, LV_SYMBOL_OK);
    // The highlighted key is white with black text.
    const lv_area_t& box = keyboard.keys.at(4).box;
    EXPECT_EQ(GfxTestView::pixel(box.x1 + 3, box.y1 + 3), 0xFFFFFFu);
}
