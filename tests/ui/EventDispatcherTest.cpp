// The page stack and the dispatch pass: order, consumption, the two limits of a pass, closing pages; the

// nested UI loop of a modal page. The input/service thread: the board facade, the 200 ms tick, and the
// start-up of both UI threads around a board bring-up; the display module: the default and custom splash, the
// framebuffer placement, and nothing drawn before the display is set up.
#include "ui/EventDispatcher.h"
#include "ui/EventId.h"
#include "tests/ui/ListPageDriver.h"
#include "tests/ui/Pages.h"
#include "porting/Shims.h"
#include "ui/Board.h"
#include "ui/Bsp.h"
#include "ui/LCD.h"
#include "ui/gfx/Gfx.h"
#include "ui/gfx/GfxTestView.h"

#include <gtest/gtest.h>
#include <cstdint>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

using gfx::GfxTestView;
using gfx::ObjectView;
using pages::entriesOf;
using pages::log;
using pages::RecordingPage;

namespace {
// A clock that stands still unless a test moves it, so no pass ends on the wall clock.
int64_t now = 0;
void freezeClock() {
    porting::setClock([] { return now; });
}

void queue(std::initializer_list<int> ids) {
    for (int id : ids) EventDispatcher::addEvent(id);
}
}

TEST(EventDispatcher, EventsGoTopDownUntilOnePageConsumesThem) {
    freezeClock();
    new RecordingPage("bottom", {});
    auto* middle = new RecordingPage("middle", {7, 8});
    auto* top = new RecordingPage("top", {7});
    ASSERT_EQ(EventDispatcher::elements(), 3);
    EXPECT_TRUE(EventDispatcher::hasFocus(top));

    struct Case {
        int id;
        std::vector<std::string> reached; // pages offered the id, top first
    };
    const Case cases[] = {
        {7, {"top"}},
        {8, {"top", "middle"}},
        {9, {"top", "middle", "bottom"}},
    };
    for (const Case& c : cases) {
        log().clear();
        EventDispatcher::addEvent(c.id);
        EXPECT_TRUE(EventDispatcher::dispatch());
        std::vector<std::string> expected;
        for (const std::string& page : c.reached) expected.push_back(page + ":" + std::to_string(c.id));
        EXPECT_EQ(log(), expected) << "id " << c.id;
    }

    // A redraw goes down until a page says it drew.
    middle->drawsAll = true;
    log().clear();
    EventDispatcher::addEvent(EventId::Redraw);
    EventDispatcher::dispatch();
    EXPECT_EQ(log(), (std::vector<std::string>{"top:draw", "middle:draw"}));
}

TEST(EventDispatcher, StackMembership) {
    freezeClock();
    auto* first = new RecordingPage("first", {});
    EXPECT_TRUE(EventDispatcher::hasFocus(first));
    EventDispatcher::addListener(first); // already on the stack: stays where it is, once
    EventDispatcher::addListener(nullptr);
    EXPECT_EQ(EventDispatcher::elements(), 1);

    auto* second = new RecordingPage("second", {});
    EXPECT_FALSE(EventDispatcher::hasFocus(first));
    EXPECT_TRUE(EventDispatcher::hasFocus(second));
    EventDispatcher::addListener(first);
    EXPECT_EQ(EventDispatcher::elements(), 2);
    EXPECT_TRUE(EventDispatcher::hasFocus(second));

    // A page that is not on the stack is still deleted; one deleted directly leaves the stack.
    log().clear();
    auto* stray = new RecordingPage("stray", {});
    EventDispatcher::removeListener(stray);
    EXPECT_EQ(entriesOf("stray"), std::vector<std::string>{"deleted"});
    EventDispatcher::removeListener(nullptr);
    delete second;
    EXPECT_EQ(EventDispatcher::elements(), 1);
    EXPECT_TRUE(EventDispatcher::hasFocus(first));
    EventDispatcher::addEvent(5);
    EventDispatcher::dispatch();
    EXPECT_EQ(entriesOf("first"), std::vector<std::string>{"5"});
}

TEST(EventDispatcher, A200EventBurstTakesTwoPasses) {
    freezeClock();
    auto* page = new RecordingPage("page", {});
    for (int i = 0; i < 200; ++i) EventDispatcher::addEvent(100 + i);

    testing::internal::CaptureStdout();
    EXPECT_TRUE(EventDispatcher::dispatch());
    const std::string firstPass = testing::internal::GetCapturedStdout();
    EXPECT_EQ(page->draws, 0);
    std::vector<std::string> handled = entriesOf("page");
    ASSERT_EQ(handled.size(), 129u);
    EXPECT_EQ(handled.front(), "100");
    EXPECT_EQ(handled.back(), "228");
    EXPECT_EQ(firstPass, "W (Event): Max event per loop = 129\n");

    testing::internal::CaptureStdout();
    EXPECT_TRUE(EventDispatcher::dispatch());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    handled = entriesOf("page");
    ASSERT_EQ(handled.size(), 200u);
    EXPECT_EQ(handled.back(), "299");
}

TEST(EventDispatcher, APassEndsAfterTenMilliseconds) {
    // Every clock read is one millisecond later: the pass stops before its tenth millisecond.
    porting::setClock([] { return now += 1000; });
    new RecordingPage("page", {});
    for (int i = 0; i < 30; ++i) EventDispatcher::addEvent(100 + i);
    testing::internal::CaptureStdout();
    EXPECT_TRUE(EventDispatcher::dispatch());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    const size_t firstPass = entriesOf("page").size();
    EXPECT_GE(firstPass, 1u);
    EXPECT_LT(firstPass, 10u);
    while (entriesOf("page").size() < 30u) EventDispatcher::dispatch();
    EXPECT_EQ(entriesOf("page").back(), "129");
}

TEST(EventDispatcher, CloseDeletesOnlyTheTopPageAndEndsThePass) {
    freezeClock();
    new RecordingPage("bottom", {});
    new RecordingPage("middle", {});
    new RecordingPage("top", {});
    log().clear();
    queue({EventId::Close, 5, EventId::Close, EventId::Close, 6});

    EXPECT_FALSE(EventDispatcher::dispatch());
    EXPECT_EQ(log(), std::vector<std::string>{"top:deleted"});
    EXPECT_EQ(EventDispatcher::elements(), 2);

    // The events behind the close reach the new top page in the next pass, which closes it in turn.
    log().clear();
    EXPECT_FALSE(EventDispatcher::dispatch());
    EXPECT_EQ(log(), (std::vector<std::string>{"middle:5", "bottom:5", "middle:deleted"}));
    log().clear();
    EXPECT_FALSE(EventDispatcher::dispatch());
    EXPECT_EQ(log(), std::vector<std::string>{"bottom:deleted"});
    EXPECT_EQ(EventDispatcher::elements(), 0);

    // On an empty stack a close is dropped and the pass goes on.
    log().clear();
    queue({EventId::Close, 7});
    EXPECT_TRUE(EventDispatcher::dispatch());
    EXPECT_TRUE(EventDispatcher::dispatch());
    EXPECT_TRUE(log().empty());
}

TEST(EventDispatcher, CloseNeverDeletesAStartUpPage) {
    freezeClock();
    auto* home = new RecordingPage("home", {});
    auto* tuner = new RecordingPage("tuner", {});
    EventDispatcher::keepStartupPages();
    EXPECT_TRUE(EventDispatcher::isPermanent(home));
    EXPECT_TRUE(EventDispatcher::isPermanent(tuner));

    auto* list = new RecordingPage("list", {});
    EXPECT_FALSE(EventDispatcher::isPermanent(list));
    log().clear();
    queue({EventId::Close, EventId::Close, EventId::Close, 9});
    EXPECT_FALSE(EventDispatcher::dispatch());
    EXPECT_EQ(log(), std::vector<std::string>{"list:deleted"});

    // The surplus closes are refused with a warning; the pass goes on to the next event.
    log().clear();
    testing::internal::CaptureStdout();
    EXPECT_TRUE(EventDispatcher::dispatch());
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(log(), (std::vector<std::string>{"tuner:9", "home:9"}));
    EXPECT_EQ(EventDispatcher::elements(), 2);
    EXPECT_TRUE(EventDispatcher::hasFocus(tuner));
    EXPECT_NE(out.find("W (Event): Close ignored"), std::string::npos) << out;
}

TEST(EventDispatcher, PagesOpenedOrClosedDuringAWalk) {
    freezeClock();
    auto* bottom = new RecordingPage("bottom", {});
    auto* opener = new RecordingPage("opener", {});
    // The page opened while an event is handled is above the walk: it does not get that event.
    opener->handler = [](int id) {
        if (id == 5) new RecordingPage("opened", {});
    };
    log().clear();
    queue({5, 6});
    EventDispatcher::dispatch();
    EXPECT_EQ(log(), (std::vector<std::string>{"opener:5", "bottom:5", "opened:6", "opener:6", "bottom:6"}));

    // A page removed by the page above it during a walk is not offered the rest of that walk.
    auto* remover = new RecordingPage("remover", {});
    remover->handler = [bottom](int id) {
        if (id == 7) EventDispatcher::removeListener(bottom);
    };
    log().clear();
    queue({7});
    EventDispatcher::dispatch();
    EXPECT_EQ(log(), (std::vector<std::string>{"remover:7", "bottom:deleted", "opened:7", "opener:7"}));
}

namespace {
// A modal page as a chooser would be: it consumes the input, and after two redraws it answers into the
// caller's variable and asks to be closed. Id 99 is not its business and goes to the page below.
class ScriptedModal : public RecordingPage {
public:
    explicit ScriptedModal(int* answer) : RecordingPage("modal", {}, true), answer(answer) {}
    bool onEvent(int id) override {
        RecordingPage::onEvent(id);
        return id != 99;
    }
    bool draw() override {
        RecordingPage::draw();
        if (draws == 2) {
            *answer = 42;
            EventDispatcher::addEvent(EventId::Close);
        }
        return true;
    }

private:
    int* answer;
};

// Opens the modal page on the main encoder's short press and waits for its answer.
class Caller : public RecordingPage {
public:
    Caller() : RecordingPage("caller", {EventId::Encoder1ShortRelease}) {}
    bool onEvent(int id) override {
        RecordingPage::onEvent(id);
        if (id != EventId::Encoder1ShortRelease) return false;
        int answer = 0;
        new ScriptedModal(&answer);
        waitModal();
        log().push_back("caller:answer " + std::to_string(answer));
        return true;
    }
};
}

TEST(WaitModal, ReturnsOnlyOnceTheModalPageIsClosed) {
    new RecordingPage("home", {});
    auto* caller = new Caller;
    EventDispatcher::addEvent(EventId::Encoder1ShortRelease);
    for (int id : {10, 11, 99, 10}) EventDispatcher::addEvent(id);
    log().clear();
    EXPECT_TRUE(EventDispatcher::dispatch());

    // The modal page consumed the turns and drew twice (every sixth pass queues a redraw); the caller
    // below it got only what the modal page passed on, and was not drawn, as the modal page covers it.
    // Neither consumes 99, so it goes on to the bottom page.
    EXPECT_EQ(entriesOf("modal"), (std::vector<std::string>{"10", "11", "99", "10", "draw", "draw", "deleted"}));
    EXPECT_EQ(entriesOf("caller"), (std::vector<std::string>{"13", "99", "answer 42"}));
    EXPECT_EQ(entriesOf("home"), std::vector<std::string>{"99"});
    EXPECT_TRUE(EventDispatcher::hasFocus(caller));
    EXPECT_EQ(EventDispatcher::elements(), 2);
}

namespace {
std::vector<uint16_t> readFramebuffer() {
    std::ifstream file(pages::ownHome() + "/fb0", std::ios::binary);
    std::vector<uint16_t> pixels(320 * 240);
    file.read(reinterpret_cast<char*>(pixels.data()), std::streamsize(pixels.size() * 2));
    EXPECT_TRUE(file);
    return pixels;
}

// A board that counts its calls.
class TestBoard : public Bsp {
public:
    void initialize() override { ++initializeCalls; }
    void eventLoop() override { ++scans; }
    int initializeCalls = 0;
    int scans = 0;
};

int ticksSeen() {
    int ticks = 0;
    for (const std::string& entry : entriesOf("page")) ticks += entry == "20";
    return ticks;
}
}

TEST(Board, FacadeCallsWhicheverBoardExists) {
    // Without a board both calls do nothing; the bring-up still counts as done.
    EXPECT_FALSE(Board::isInitialized());
    EXPECT_FALSE(Board::waitInitialized(30000));
    Board::eventLoop();
    Board::initialize();
    EXPECT_TRUE(Board::isInitialized());
    EXPECT_TRUE(Board::waitInitialized(0));

    TestBoard first;
    EXPECT_EQ(Board::board, &first);
    {
        TestBoard second; // a later board replaces the earlier
        EXPECT_EQ(Board::board, &second);
        Board::initialize();
        Board::eventLoop();
        EXPECT_EQ(second.initializeCalls, 1);
        EXPECT_EQ(second.scans, 1);
        EXPECT_EQ(first.scans, 0);
    }
    EXPECT_EQ(Board::board, nullptr); // a board that went away is no longer called
    Board::eventLoop();
}

TEST(EventTasks, TickEvery200MillisecondsAndAfterAClockStepBack) {
    porting::setClock([] { return now; });
    new RecordingPage("page", {});
    struct Step {
        int64_t advance;
        int ticks; // ticks seen so far
    };
    const Step steps[] = {
        {1000000, 0},                            // the first pass sets the reference
        {199999, 0},  {1, 1},                    // 200 ms after the reference
        {150000, 1},  {50000, 2}, {-5000000, 2}, // the clock steps back: the reference starts over
        {199999, 2},  {1, 3},     {400000, 4},   // a late pass gives one tick, not two
        {200000, 5},
    };
    for (const Step& step : steps) {
        now += step.advance;
        event_tasks_loop();
        EventDispatcher::dispatch();
        EXPECT_EQ(ticksSeen(), step.ticks) << "at " << now;
    }
}

namespace {
// A board whose bring-up draws the splash and then takes longer than the UI thread's first second, as a
// slow codec search would. It notes whether the UI thread had drawn by the time it finished.
class SlowBoard : public Bsp {
public:
    void initialize() override {
        LCD::initialize();
        LCD::splash();
        framebuffer = readFramebuffer();
        vTaskDelay(1500000);
        uiDrawsAtEnd = draws.load();
    }
    void eventLoop() override {
        if (!scanned.exchange(true)) EventDispatcher::addEvent(EventId::FootswitchAPress);
    }
    std::vector<uint16_t> framebuffer;
    std::atomic<int> draws{0};
    std::atomic<bool> scanned{false};
    std::atomic<bool> pressSeen{false};
    int uiDrawsAtEnd = -1;
};

class HomePage : public Listener {
public:
    explicit HomePage(SlowBoard& board) : board(board) {}
    bool draw() override {
        ++board.draws;
        return true;
    }
    bool onEvent(int id) override {
        if (id == EventId::FootswitchAPress) board.pressSeen = true;
        return true;
    }
    SlowBoard& board;
};

// Runs in a child process (the threads never end): reports on standard error and exits.
void bringUp() {
    pages::ownHome();
    SlowBoard board;
    new HomePage(board);
    TaskHandle_t ui = nullptr, input = nullptr;
    xTaskCreatePinnedToCore(system_tasks, "systemTasks", 16384, nullptr, 0, &ui, 0);
    xTaskCreatePinnedToCore(event_tasks, "eventTasks", 16384, nullptr, 0, &input, 0);
    bool running = false;
    for (int waited = 0; waited < 1000 && !running; ++waited) {
        running = board.draws.load() > 0 && board.pressSeen.load();
        vTaskDelay(10000);
    }
    // The splash was in the framebuffer when the bring-up ended: white text in the middle of the picture.
    int white = 0;
    for (int y = 35; y < 205; ++y) {
        for (int x = 0; x < 320; ++x) white += board.framebuffer[size_t(y * 320 + x)] == 0xFFFF;
    }
    const bool ok = running && board.uiDrawsAtEnd == 0 && white >= 100;
    std::fprintf(stderr, "bring-up %s: UI running %d (draws %d, press %d), draws during the bring-up %d, %d white\n",
                 ok ? "ok" : "failed", int(running), board.draws.load(), int(board.pressSeen.load()),
                 board.uiDrawsAtEnd, white);
    std::_Exit(ok ? 0 : 1);
}
}

TEST(EventTasks, UiThreadStartsOnlyAfterTheBoardBringUp) {
    testing::GTEST_FLAG(death_test_style) = "threadsafe";
    EXPECT_EXIT(bringUp(), testing::ExitedWithCode(0), "bring-up ok");
}

namespace {
uint32_t rgb565To888(uint16_t p) {
    const uint32_t r = (p >> 11) & 0x1F, g = (p >> 5) & 0x3F, b = p & 0x1F;
    return (((r << 3) | (r >> 2)) << 16) | (((g << 2) | (g >> 4)) << 8) | ((b << 3) | (b >> 2));
}

int centreX(const ObjectView& v) { return (v.box.x1 + v.box.x2 + 1) / 2; }
int centreY(const ObjectView& v) { return (v.box.y1 + v.box.y2 + 1) / 2; }

void customSplash() {
    lv_obj_t* name = lv_label_create(lv_screen_active());
    lv_label_set_text(name, "Product");
    lv_obj_center(name);
}
}

TEST(LCD, DefaultSplash) {
    LCD::initialize();
    LCD::splash();
    const auto views = GfxTestView::snapshot();
    GfxTestView::render();
    ASSERT_TRUE(GfxTestView::savePng(std::string(PEDAL_TEST_OUT) + "/ui_lcd_splash.png"));

    // The panel covers the display, black with a black 7-pixel border.
    const auto plain = GfxTestView::ofKind(views, "obj");
    ASSERT_EQ(plain.size(), 1u) << GfxTestView::describe(views);
    driver::expectBox(*plain[0], 0, 0, 320, 170);
    EXPECT_EQ(plain[0]->main.bgColor, 0x000000u);
    EXPECT_EQ(plain[0]->main.bgOpa, LV_OPA_COVER);
    EXPECT_EQ(plain[0]->main.borderWidth, 7);
    EXPECT_EQ(plain[0]->main.radius, 0);

    // "ZEMBO" large in the centre, "platform" small, below and to the right of it; both white.
    const ObjectView* name = GfxTestView::labelWithText(views, "ZEMBO");
    const ObjectView* platform = GfxTestView::labelWithText(views, "platform");
    ASSERT_TRUE(name && platform) << GfxTestView::describe(views);
    EXPECT_EQ(name->main.textFont, &lv_font_montserrat_48);
    EXPECT_EQ(platform->main.textFont, &lv_font_montserrat_14);
    EXPECT_EQ(name->main.textColor, 0xFFFFFFu);
    EXPECT_EQ(platform->main.textColor, 0xFFFFFFu);
    EXPECT_NEAR(centreX(*name), 160, 1);
    EXPECT_NEAR(centreY(*name), 85, 1);
    EXPECT_NEAR(centreX(*platform), 160 + 48, 1);
    EXPECT_NEAR(centreY(*platform), 85 + 30, 1);

    // Pixels: black in the border, the same picture in the framebuffer file from row 35 on, nothing above it.
    EXPECT_EQ(GfxTestView::pixel(3, 3), 0x000000u);
    EXPECT_EQ(GfxTestView::pixel(316, 166), 0x000000u);
    const std::vector<uint16_t> file = readFramebuffer();
    for (int y = 0; y < 35; ++y) {
        for (int x = 0; x < 320; ++x) ASSERT_EQ(file[size_t(y * 320 + x)], 0) << x << "," << y;
    }
    for (int y = 0; y < 170; ++y) {
        for (int x = 0; x < 320; ++x) {
            ASSERT_EQ(rgb565To888(file[size_t((y + 35) * 320 + x)]), GfxTestView::pixel(x, y)) << x << "," << y;
        }
    }
}

TEST(LCD, CustomSplashReplacesTheDefault) {
    LCD::initialize();
    LCD::set_custom_splash(customSplash);
    LCD::splash();
    const auto views = GfxTestView::snapshot();
    EXPECT_NE(GfxTestView::labelWithText(views, "Product"), nullptr);
    EXPECT_EQ(GfxTestView::labelWithText(views, "ZEMBO"), nullptr);
    EXPECT_EQ(GfxTestView::labelWithText(views, "platform"), nullptr);
}

TEST(LCD, FlushAndClearWaitForTheDisplay) {
    // Objects built before the display is set up stay, and nothing reaches the framebuffer.
    lv_label_set_text(lv_label_create(lv_screen_active()), "early");
    LCD::clear();
    LCD::flush();
    EXPECT_EQ(lv_obj_get_child_count(lv_screen_active()), 1u);
    EXPECT_FALSE(std::filesystem::exists(pages::ownHome() + "/fb0"));

    LCD::initialize();
    LCD::flush();
    EXPECT_TRUE(std::filesystem::exists(pages::ownHome() + "/fb0"));
    LCD::clear();
    EXPECT_EQ(lv_obj_get_child_count(lv_screen_active()), 0u);
}
