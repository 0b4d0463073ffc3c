// The board's panel and pedal: the input scanner over a simulated shift-register chain (debounce, short
// and long presses, footswitch combinations, encoder detents, the idle event), the array's bring-up and
// the "ctrl" source reading the converter. Each test runs in its own process: the scanner keeps its state
// for the process.
#include "nolt/driver/Ads1115.h"
#include "tests/board/BoardTestSupport.h"
#include "ui/Board.h"
#include "porting/CommandRunner.h"
#include "core/Control.h"
#include "ui/EventDispatcher.h"
#include "ui/EventId.h"
#include "nolt/driver/IOArray.h"
#include "board/LindquarBsp.h"
#include "ui/Listener.h"
#include "porting/RecordingCommandRunner.h"
#include "porting/Shims.h"
#include "tests/nolt/driver/SimulatedChain.h"
#include "core/SourceCtrl.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int64_t kFrameMicros = 200; // 5000 frames per second
constexpr int64_t kMs = 1000;

// The top page: records every event id the dispatcher offers.
class EventLog : public Listener {
public:
    bool draw() override { return false; }
    bool onEvent(int id) override {
        ids.push_back(id);
        return true;
    }
    std::vector<int> ids;
};

struct Button {
    const char* name;
    int bit;
    int pressId;
};
const Button kButtons[] = {
    {"footswitch A", 23, 16},   {"footswitch B", 16, 46},    {"footswitch C", 0, 246},    {"encoder 1 push", 22, 12},
    {"encoder 2 push", 19, 42}, {"encoder 3 push", 12, 242}, {"encoder 4 push", 10, 342}, {"encoder 5 push", 5, 442},
};

struct Encoder {
    const char* name;
    int bitA;
    int bitB;
    int forwardId;
    int backId;
};
const Encoder kEncoders[] = {
    {"encoder 1", 21, 20, 10, 11},  {"encoder 2", 17, 18, 40, 41}, {"encoder 3", 13, 14, 240, 241},
    {"encoder 4", 11, 4, 340, 341}, {"encoder 5", 3, 6, 440, 441},
};

// The panel at rest: every contact open (pulled up to 1), every encoder on a detent with both lines at 1.
class Panel : public testing::Test {
protected:
    void SetUp() override {
        boardtest::ownHome();
        CommandRunner::install(std::make_shared<RecordingCommandRunner>());
        porting::setClock([this] { return now; });
        bsp = std::make_unique<LindquarBsp>();
        chain = sim::startChain(LindquarBsp::kPanelLines, LindquarBsp::kScanFrequency, LindquarBsp::kFramesInFlightMs,
                                LindquarBsp::kPwmDepth);
        chain->recording = false;
        for (int line = 0; line < LindquarBsp::kPanelLines; ++line) chain->setInput(line, 1);
        log = new EventLog();
    }
    void TearDown() override {
        EventDispatcher::removeListener(log);
        porting::setClock({});
    }

    // Frames as the chain delivers them, each scanned when it arrives.
    void run(int64_t micros) {
        for (int64_t elapsed = 0; elapsed < micros; elapsed += kFrameMicros) {
            now += kFrameMicros;
            IOArray::tasks();
            IOArray::spi_step();
            bsp->eventLoop();
        }
    }
    void press(int bit) { chain->setInput(bit, 0); }
    void release(int bit) { chain->setInput(bit, 1); }
    void hold(int bit, int64_t micros) {
        press(bit);
        run(micros);
        release(bit);
    }
    // The encoder's lines step through the readings 2 * A + B, 5 ms each.
    void turn(const Encoder& encoder, const std::vector<int>& readings) {
        for (int reading : readings) {
            chain->setInput(encoder.bitA, reading >> 1);
            chain->setInput(encoder.bitB, reading & 1);
            run(5 * kMs);
        }
    }
    std::vector<int> events() {
        EventDispatcher::dispatch();
        std::vector<int> ids;
        ids.swap(log->ids);
        return ids;
    }

    int64_t now = 1700000000LL * 1000000;
    std::unique_ptr<LindquarBsp> bsp;
    std::shared_ptr<sim::SimulatedChain> chain;
    EventLog* log = nullptr;
};

TEST_F(Panel, ButtonGestures) {
    bsp->idleSeconds = 3600; // the footswitches' long holds add up to more than the idle time
    run(100 * kMs);
    for (const Button& button : kButtons) {
        SCOPED_TRACE(button.name);
        const int id = button.pressId;

        // Contact chatter shorter than 50 ms: nothing.
        for (int bounce = 0; bounce < 6; ++bounce) {
            press(button.bit);
            run(3 * kMs);
            release(button.bit);
            run(2 * kMs);
        }
        run(200 * kMs);
        EXPECT_EQ(events(), std::vector<int>{}) << "bounce";

        // The press is reported once the contact has settled for 50 ms.
        press(button.bit);
        run(45 * kMs);
        EXPECT_EQ(events(), std::vector<int>{}) << "not settled yet";
        run(10 * kMs);
        EXPECT_EQ(events(), std::vector<int>{id});
        run(245 * kMs);
        release(button.bit);
        run(200 * kMs);
        EXPECT_EQ(events(), std::vector<int>{id + 1}) << "short press";

        press(button.bit);
        run(1540 * kMs);
        EXPECT_EQ(events(), std::vector<int>{id}) << "long press not yet";
        run(20 * kMs);
        EXPECT_EQ(events(), std::vector<int>{id + 2}) << "long press, once";
        run(40 * kMs);
        release(button.bit);
        run(200 * kMs);
        EXPECT_EQ(events(), std::vector<int>{id + 3}) << "long release";

        // A contact held far longer still releases as a long press, and the next press is a fresh one.
        hold(button.bit, 10000 * kMs);
        run(200 * kMs);
        EXPECT_EQ(events(), (std::vector<int>{id, id + 2, id + 3})) << "held 10 s";
        hold(button.bit, 100 * kMs);
        run(200 * kMs);
        EXPECT_EQ(events(), (std::vector<int>{id, id + 1})) << "short again";
    }
}

TEST_F(Panel, FootswitchCombinations) {
    run(100 * kMs);
    struct Case {
        const char* what;
        int first;
        int second;
        int64_t leadMicros; // the first footswitch goes down this long before the second
        int64_t togetherMicros;
        std::vector<int> expected;
    } cases[] = {
        {"A and B briefly", 23, 16, 0, 500 * kMs, {50}},
        {"B and C briefly", 16, 0, 0, 500 * kMs, {51}},
        {"B and A within the debounce", 16, 23, 30 * kMs, 800 * kMs, {50}},
        {"A settled before B", 23, 16, 200 * kMs, 500 * kMs, {16, 50}},
        {"A and B held long", 23, 16, 0, 2000 * kMs, {}},
        {"C and B held long", 0, 16, 0, 1600 * kMs, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        press(c.first);
        run(c.leadMicros);
        press(c.second);
        run(c.togetherMicros);
        release(c.first);
        release(c.second);
        run(300 * kMs);
        EXPECT_EQ(events(), c.expected);

        // Alone again, each footswitch reports its own presses.
        hold(c.first, 100 * kMs);
        run(200 * kMs);
        hold(c.second, 100 * kMs);
        run(200 * kMs);
        const int firstId = c.first == 23 ? 16 : c.first == 16 ? 46 : 246;
        const int secondId = c.second == 23 ? 16 : c.second == 16 ? 46 : 246;
        EXPECT_EQ(events(), (std::vector<int>{firstId, firstId + 1, secondId, secondId + 1})) << "afterwards";
    }
}

TEST_F(Panel, EncoderDetents) {
    run(100 * kMs);
    // From the detent 3: forward runs 1, 0, 2, 3; back runs 2, 0, 1, 3.
    for (const Encoder& encoder : kEncoders) {
        SCOPED_TRACE(encoder.name);
        turn(encoder, {1, 0});
        EXPECT_EQ(events(), std::vector<int>{}) << "two quarter steps";
        turn(encoder, {2});
        EXPECT_EQ(events(), std::vector<int>{encoder.forwardId}) << "the third quarter step";
        turn(encoder, {3});
        EXPECT_EQ(events(), std::vector<int>{});

        turn(encoder, {2, 0, 1, 3});
        EXPECT_EQ(events(), std::vector<int>{encoder.backId});
        turn(encoder, {1, 0, 2, 3, 1, 0, 2, 3});
        EXPECT_EQ(events(), (std::vector<int>{encoder.forwardId, encoder.forwardId}));

        // Both lines changed between two frames: the partial count goes, so the steps after it make none.
        turn(encoder, {1, 0, 3, 1, 3});
        EXPECT_EQ(events(), std::vector<int>{}) << "fast turn";

        // Left between detents for 2 s: the partial count goes as well.
        turn(encoder, {1, 0});
        run(2100 * kMs);
        turn(encoder, {2, 3});
        EXPECT_EQ(events(), std::vector<int>{}) << "paused";
        turn(encoder, {1, 0, 2, 3});
        events();
    }
}

TEST_F(Panel, IdleEventEveryThirtySecondsOfAnUntouchedPanel) {
    EXPECT_EQ(IOArray::ms_to_tick(bsp->idleSeconds * 1000), 150000);
    const int64_t frames = 150000;
    run(frames * kFrameMicros);
    EXPECT_EQ(events(), std::vector<int>{}) << "150,000 frames";
    run(kFrameMicros);
    EXPECT_EQ(events(), std::vector<int>{EventId::Idle});
    run(frames * kFrameMicros);
    EXPECT_EQ(events(), std::vector<int>{});
    run(kFrameMicros);
    EXPECT_EQ(events(), std::vector<int>{EventId::Idle}) << "repeats while untouched";

    // A held footswitch is not part of the panel's activity; a held push is.
    press(23);
    run((frames + 1) * kFrameMicros);
    EXPECT_EQ(events(), (std::vector<int>{16, 18, EventId::Idle}));
    release(23);
    press(19);
    run(2 * (frames + 1) * kFrameMicros);
    EXPECT_EQ(events(), (std::vector<int>{19, 42, 44}));
    release(19);
    run(100 * kMs);
    EXPECT_EQ(events(), std::vector<int>{45});
    run((frames + 1) * kFrameMicros - 100 * kMs);
    EXPECT_EQ(events(), std::vector<int>{EventId::Idle});
}

TEST(LindquarBspPanel, BringUpStartsTheProductChain) {
    boardtest::ownHome();
    setenv("PEDAL_CODEC", "none", 1);
    setenv("PEDAL_DEV_ROOT", sim::kDevRoot, 1);
    CommandRunner::install(std::make_shared<RecordingCommandRunner>());
    auto chain = std::make_shared<sim::SimulatedChain>(3);
    IOArray::setPort(chain);
    IOArray::setSpiThread(false);
    LindquarBsp bsp;
    testing::internal::CaptureStdout();
    Board::initialize();
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("I (IO Array): Initialized freq = 120000, max_io = 24, queue = 500\n"), std::string::npos)
        << log;
    EXPECT_EQ(IOArray::get_max_pwm(), 32);
    EXPECT_TRUE(IOArray::spi_open());
    EXPECT_EQ(chain->mode, SPI_MODE_2);
}

TEST(LindquarBspPanel, PedalSourceReadsTheConverter) {
    boardtest::ownHome();
    setenv("PEDAL_DEV_ROOT", sim::kDevRoot, 1);
    CommandRunner::install(std::make_shared<RecordingCommandRunner>());
    auto converter = std::make_shared<sim::SimulatedConverter>();
    Ads1115::setPort(converter);
    LindquarBsp bsp;
    ASSERT_NE(bsp.ads, nullptr);
    EXPECT_EQ(converter->openedPaths, std::vector<std::string>{"/simulated/dev/i2c-5"});
    EXPECT_EQ(converter->selectedAddress, 0x48);
    auto* pedal = dynamic_cast<SourceCtrl*>(Control::getSource("ctrl"));
    ASSERT_NE(pedal, nullptr);

    // 3.3 V is full scale; a failed read sends nothing, so the last value holds.
    struct Step {
        int16_t count;
        int failedReads;
        int lastSent;
    } steps[] = {{26400, 0, 255}, {8000, 0, 77}, {0, 0, 0}, {13200, 1, 0}, {13200, 0, 127}, {-40, 0, 0}};
    for (const Step& step : steps) {
        converter->count = step.count;
        converter->failReads = step.failedReads;
        pedal->tasks();
        EXPECT_EQ(pedal->getLastSent(), step.lastSent) << "count " << step.count;
    }
}

}
