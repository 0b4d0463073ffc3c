// The recovery application as it starts on the device: boot selection reading 0 on line 40, the system
// tree, the updater page over the board bring-up, and the page drawn into the framebuffer.
#include "tests/board/BoardTestSupport.h"
#include "ui/Board.h"
#include "porting/CommandRunner.h"
#include "ui/EventDispatcher.h"
#include "ui/EventId.h"
#include "ui/gfx/Gfx.h"
#include "ui/gfx/GfxTestView.h"
#include "ui/LCD.h"
#include "board/LindquarUpdater.h"
#include "porting/RecordingCommandRunner.h"
#include "core/System.h"
#include "board/Update.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using gfx::GfxTestView;
using gfx::ObjectView;

namespace {

// The home of the case that started the application: its display writes the framebuffer file there.
const std::string& appHome() {
    static const std::string home = boardtest::ownHome();
    return home;
}

// Starts the recovery application once per process, as main does up to the board bring-up; its page, with
// the pages an earlier case opened above it closed.
LindquarUpdater* recovery() {
    static LindquarUpdater* page = [] {
        appHome();
        unsetenv("APP_CALLED");
        setenv("PEDAL_GPIO40", "0", 1);
        setenv("PEDAL_CODEC", "none", 1);
        CommandRunner::install(std::make_shared<RecordingCommandRunner>());
        System::setBootSelection(Update::initialize, Update::isRecovery, Update::getFormat);
        System::initialize("test");
        auto* started = new LindquarUpdater(System::appNode(), System::rootNode());
        Board::initialize();
        return started;
    }();
    for (int open = EventDispatcher::elements(); open > 1 && !EventDispatcher::hasFocus(page); --open) {
        EventDispatcher::addEvent(EventId::Close);
        EventDispatcher::dispatch();
    }
    return page;
}

TEST(LindquarUpdater, StartsAsTheRecoveryApplication) {
    EXPECT_TRUE(EventDispatcher::hasFocus(recovery()));
    EXPECT_TRUE(System::isRecovery());
    EXPECT_NE(Board::board, nullptr);
    EXPECT_TRUE(LCD::isInitialized());
}

TEST(LindquarUpdater, OnlyTheBrowseShortPressIsConsumedAndOpensTheSettings) {
    LindquarUpdater* page = recovery();
    const int ignored[] = {EventId::Encoder1Press,
                           EventId::Encoder1LongPress,
                           EventId::Encoder1LongRelease,
                           EventId::Encoder1Forward,
                           EventId::Encoder1Back,
                           EventId::Encoder2ShortRelease,
                           EventId::Encoder5Forward,
                           EventId::FootswitchAPress,
                           EventId::FootswitchBShortRelease,
                           EventId::FootswitchCLongPress,
                           EventId::FootswitchesAB,
                           EventId::Idle,
                           EventId::Tick};
    for (int id : ignored) EXPECT_FALSE(page->onEvent(id)) << "event " << id;
    EXPECT_TRUE(EventDispatcher::hasFocus(page)) << "no other event opens or closes a page";

    EXPECT_TRUE(page->onEvent(EventId::Encoder1ShortRelease));
    EXPECT_FALSE(EventDispatcher::hasFocus(page)) << "BROWSE opens the system settings above the page";
}

TEST(LindquarUpdater, PageInTheFramebuffer) {
    recovery();
    // One UI round as the UI thread runs it: clear, redraw, render.
    LCD::clear();
    EventDispatcher::addEvent(EventId::Redraw);
    EventDispatcher::dispatch();
    const auto views = GfxTestView::snapshot();
    GfxTestView::render();
    ASSERT_TRUE(GfxTestView::savePng(std::string(PEDAL_TEST_OUT) + "/board_recovery_page.png"));

    const ObjectView* title = GfxTestView::labelWithText(views, "Update Mode");
    const ObjectView* hint = GfxTestView::labelWithText(views, "press BROWSE for settings");
    ASSERT_TRUE(title && hint) << GfxTestView::describe(views);
    EXPECT_EQ(GfxTestView::ofKind(views, "label").size(), 2u) << "the splash is gone";
    struct Expected {
        const ObjectView* label;
        int x, y, width, height;
        const lv_font_t* font;
        lv_text_align_t align;
    } expected[] = {{title, 0, 40, 320, 51, &lv_font_montserrat_40, LV_TEXT_ALIGN_CENTER},
                    {hint, 78, 129, 235, 29, &lv_font_montserrat_16, LV_TEXT_ALIGN_AUTO}};
    for (const auto& e : expected) {
        SCOPED_TRACE(e.label->text);
        EXPECT_EQ((std::vector<int>{e.label->x, e.label->y, e.label->width, e.label->height}),
                  (std::vector<int>{e.x, e.y, e.width, e.height}));
        EXPECT_EQ(e.label->main.textFont, e.font);
        EXPECT_EQ(e.label->main.textAlign, e.align);
        EXPECT_EQ(e.label->longMode, LV_LABEL_LONG_MODE_DOTS);
        EXPECT_EQ(e.label->lines, std::vector<std::string>{e.label->text}) << "shown whole on one line";
    }

    // The framebuffer file holds the page from row 35 on: light text strokes inside the title's box on a
    // dark background.
    LCD::flush();
    const std::string& home = appHome();
    EXPECT_GT(boardtest::lightPixels(home, title->box.x1, title->box.y1, title->box.x2, title->box.y2), 200)
        << "title strokes in the framebuffer";
    EXPECT_EQ(boardtest::lightPixels(home, 0, 0, 10, 10), 0) << "dark background";
}

}
