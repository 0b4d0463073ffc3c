// The input/service thread: the board facade, the 200 ms tick, and the start-up of both UI threads around
// a board bring-up.
#include "ui/Board.h"
#include "ui/Bsp.h"
#include "ui/EventDispatcher.h"
#include "ui/EventId.h"
#include "ui/LCD.h"
#include "tests/ui/Pages.h"
#include "porting/Shims.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <vector>

using pages::entriesOf;
using pages::RecordingPage;

namespace {
int64_t now = 0;

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
    auto* page = new RecordingPage("page", {});
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
    (void)page;
}

namespace {
// A board whose bring-up draws the splash and then takes longer than the UI thread's first second, as a
// slow codec search would. It notes whether the UI thread had drawn by the time it finished.
class SlowBoard : public Bsp {
public:
    void initialize() override {
        LCD::initialize();
        LCD::splash();
        std::ifstream file(pages::ownHome() + "/fb0", std::ios::binary);
        framebuffer.resize(320 * 240);
        file.read(reinterpret_cast<char*>(framebuffer.data()), std::streamsize(framebuffer.size() * 2));
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
    bool ok = true;
    if (!running) {
        std::fprintf(stderr, "the UI did not run within 10 s: draws %d, press %d\n", board.draws.load(),
                     int(board.pressSeen.load()));
        ok = false;
    }
    if (board.uiDrawsAtEnd != 0) {
        std::fprintf(stderr, "the UI drew %d times during the bring-up\n", board.uiDrawsAtEnd);
        ok = false;
    }
    // The splash was in the framebuffer when the bring-up ended: white text in the middle of the picture.
    int white = 0;
    for (int y = 35; y < 205; ++y) {
        for (int x = 0; x < 320; ++x) white += board.framebuffer[size_t(y * 320 + x)] == 0xFFFF;
    }
    if (white < 100) {
        std::fprintf(stderr, "no splash in the framebuffer (%d white pixels)\n", white);
        ok = false;
    }
    std::fprintf(stderr, ok ? "bring-up ok\n" : "bring-up failed\n");
    std::fflush(stdout);
    std::_Exit(ok ? 0 : 1);
}
}

TEST(EventTasks, UiThreadStartsOnlyAfterTheBoardBringUp) {
    testing::GTEST_FLAG(death_test_style) = "threadsafe";
    EXPECT_EXIT(bringUp(), testing::ExitedWithCode(0), "bring-up ok");
}
