// The input/output array against a simulated shift-register chain: the frames it puts on the wire, the
// input frames it hands back, software PWM, the ring of transfers in flight and a chain that fails.
// Every test runs in its own process: the array is set up once per process.
#include "nolt/driver/IOArray.h"
#include "tests/nolt/driver/SimulatedChain.h"
#include "nolt/driver/SpidevPort.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

using sim::SimulatedChain;

namespace {

int countOf(const std::string& text, const std::string& part) {
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

// Whether output line `line` is set in a frame of 24 lines as sent (lines 0 to 7 in the last byte).
bool lineInFrame(const std::vector<uint8_t>& frame, int line) {
    return (frame[frame.size() - 1 - size_t(line / 8)] >> (line % 8)) & 1;
}

// The product chain's set-up (rate, sizes, SPI mode) is the board's bring-up test.
TEST(IOArray, FrameLayout) {
    auto chain = sim::startChain(24, 5000, 100, 32);
    EXPECT_EQ(chain->openedPaths, std::vector<std::string>{"/simulated/dev/spidev0.0"});
    IOArray::set_bit(0, 1);
    IOArray::set_bit(23, 1);
    IOArray::set_bit(9, 1);
    IOArray::set_bit(9, 0);
    IOArray::set_bit(10, 1);
    chain->setInput(0, 1);
    chain->setInput(17, 1);
    IOArray::tasks();
    ASSERT_EQ(IOArray::spi_step(), 1);

    const std::vector<std::vector<uint8_t>> sent = chain->takeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], (std::vector<uint8_t>{0x80, 0x04, 0x01})) << "lines 0..7 travel in the last byte";
    EXPECT_EQ(IOArray::get_output_status(0), 0x80);
    EXPECT_EQ(IOArray::get_output_status(2), 0x01);
    EXPECT_EQ(chain->lastTransfer.len, 3u);
    EXPECT_EQ(chain->lastTransfer.speed_hz, 120000u);
    EXPECT_EQ(chain->lastTransfer.bits_per_word, 8);
    EXPECT_EQ(chain->lastTransfer.delay_usecs, 0);
    EXPECT_EQ(chain->lastTransfer.cs_change, 0);

    EXPECT_EQ(IOArray::get_bit(0), 0) << "nothing taken yet";
    EXPECT_EQ(IOArray::has_data(), 2);
    struct Read {
        int line;
        int level;
    } reads[] = {{0, 1}, {1, 0}, {17, 1}, {16, 0}, {23, 0}, {-1, 0}, {24, 0}};
    for (const Read& read : reads) {
        EXPECT_EQ(IOArray::get_bit(read.line), read.level) << "line " << read.line;
    }
    EXPECT_EQ(IOArray::get_byte(0), 0x01);
    EXPECT_EQ(IOArray::get_byte(2), 0x02);
    EXPECT_EQ(IOArray::get_byte(3), 0);
    EXPECT_EQ(IOArray::has_data(), 0) << "one frame was transferred";

    IOArray::spi_step();
    EXPECT_EQ(IOArray::has_data(), 1) << "the same contacts again";
    chain->setInput(17, 0);
    IOArray::spi_step();
    EXPECT_EQ(IOArray::has_data(), 2);
    EXPECT_EQ(IOArray::get_bit(17), 0);

    IOArray::set_byte(0, 0x5A);
    EXPECT_EQ(IOArray::get_output_status(2), 0x5A) << "byte 0 is the last one sent";
}

TEST(IOArray, RingHoldsTheFramesOfTheBufferTime) {
    auto chain = sim::startChain(24, 5000, 100, 32);
    IOArray::tasks();
    int queued = 0;
    while (IOArray::spi_step() != 0) ++queued;
    EXPECT_EQ(queued, 499) << "one slot of the 500 stays free to tell a full ring from an empty one";
    EXPECT_FALSE(IOArray::task_send()) << "no slot is free until a frame is taken back";
    EXPECT_EQ(IOArray::has_data(), 1) << "the first frame equals the all-zero start";
    EXPECT_TRUE(IOArray::task_send());
    EXPECT_FALSE(IOArray::task_send());

    // Drained by the input thread before it topped the ring up: the SPI thread went without frames.
    sim::drain();
    testing::internal::CaptureStdout();
    IOArray::tasks();
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(countOf(log, "W (IO Array): output queue is empty\n"), 1) << log;
}

TEST(IOArray, SoftwarePwmOverOnePeriod) {
    auto chain = sim::startChain(24, 5000, 100, 32);
    struct Line {
        int line;
        bool set;
        int duty;
        int litFrames; // of each 32-frame period, counted from the period's first frame
    } lines[] = {
        {9, true, 16, 16},  // half duty: frames 0 to 15
        {0, true, 31, 31},  // the brightest duty below the depth
        {14, true, 0, 0},   // duty 0 keeps a set line dark
        {20, true, -1, 32}, // no PWM: the line follows set_bit
        {3, false, 20, 0},  // a cleared line stays dark whatever its duty
        {23, true, 40, 32}, // a duty beyond the depth is always on
    };
    for (const Line& l : lines) {
        IOArray::set_bit(l.line, l.set);
        IOArray::set_pwm(l.line, l.duty);
    }
    IOArray::tasks();
    sim::drain();
    const std::vector<std::vector<uint8_t>> sent = chain->takeSent();
    ASSERT_GE(sent.size(), 64u);
    for (const Line& l : lines) {
        SCOPED_TRACE("line " + std::to_string(l.line));
        for (size_t frame = 0; frame < 64; ++frame) {
            EXPECT_EQ(lineInFrame(sent[frame], l.line), int(frame % 32) < l.litFrames) << "frame " << frame;
        }
    }

    IOArray::set_pwm(9, -1);
    IOArray::tasks();
    sim::drain();
    for (const auto& frame : chain->takeSent()) ASSERT_TRUE(lineInFrame(frame, 9)) << "back to following set_bit";
}

TEST(IOArray, SecondInitializeAndBadArgumentsChangeNothing) {
    IOArray::set_bit(1, 1);
    IOArray::set_pwm(1, 3);
    EXPECT_EQ(IOArray::get_bit(1), 0);
    EXPECT_EQ(IOArray::has_data(), 0);
    EXPECT_FALSE(IOArray::task_send()) << "nothing before initialize";

    testing::internal::CaptureStdout();
    auto chain = sim::startChain(20, 5000, 100, 24);
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("W (IO Array): pwm depth must be a power of 2\n"), std::string::npos) << log;
    EXPECT_EQ(IOArray::get_max_pwm(), 256);
    EXPECT_EQ(IOArray::get_max_io(), 24) << "a partial byte counts as a whole one";
    EXPECT_EQ(IOArray::get_output_status(2), 0) << "set_bit before initialize was dropped";

    testing::internal::CaptureStdout();
    EXPECT_EQ(IOArray::initialize(8, 1000, 10, 16, -2, -2, -2, -2), 0);
    IOArray::set_pwm_depth(12);
    log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("W (IO Array): already initialized\n"), std::string::npos) << log;
    EXPECT_NE(log.find("W (IO Array): pwm depth must be a power of 2\n"), std::string::npos) << log;
    EXPECT_EQ(IOArray::get_max_io(), 24);
    EXPECT_EQ(IOArray::get_max_pwm(), 256);
    IOArray::set_pwm_depth(8);
    EXPECT_EQ(IOArray::get_max_pwm(), 8);

    for (int line : {-1, 24, 1000}) {
        IOArray::set_bit(line, 1);
        IOArray::set_pwm(line, 1);
    }
    IOArray::set_byte(3, 0xFF);
    IOArray::set_byte(-1, 0xFF);
    for (int byte = 0; byte < 3; ++byte) EXPECT_EQ(IOArray::get_output_status(byte), 0);
}

TEST(IOArray, ShortBufferTimeKeepsTwoSlots) {
    sim::startChain(8, 1000, 1, 32);
    IOArray::tasks();
    int queued = 0;
    while (IOArray::spi_step() != 0) ++queued;
    EXPECT_EQ(queued, 1);
    EXPECT_EQ(IOArray::ms_to_tick(3), 3);
    EXPECT_EQ(IOArray::ms_to_tick(2147483647), 2147483647) << "saturates instead of overflowing";
}

TEST(IOArray, FailedTransfersGiveTheirSlotsBackAndLogOncePerRun) {
    auto chain = sim::startChain(24, 5000, 100, 32);
    chain->setInput(5, 1);
    IOArray::tasks();
    chain->failNext(3);
    testing::internal::CaptureStdout();
    std::vector<int> results;
    for (int i = 0; i < 5; ++i) results.push_back(IOArray::spi_step());
    chain->failNext(1);
    results.push_back(IOArray::spi_step());
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(results, (std::vector<int>{-1, -1, -1, 1, 1, -1}));
    EXPECT_EQ(countOf(log, "ERROR (IO Array): Transmission error\n"), 2) << log;

    // The failed frames are skipped: only the two good ones are handed to the scanner.
    EXPECT_EQ(IOArray::has_data(), 2);
    EXPECT_EQ(IOArray::get_bit(5), 1);
    EXPECT_EQ(IOArray::has_data(), 1);
    EXPECT_EQ(IOArray::has_data(), 0);

    // Every slot came back: a full ring of frames is in flight again after one top-up, over and over.
    for (int round = 0; round < 3; ++round) {
        chain->failNext(100);
        IOArray::tasks();
        int performed = 0;
        while (IOArray::spi_step() != 0) ++performed;
        EXPECT_EQ(performed, 499) << "round " << round;
        while (IOArray::has_data() != 0) {}
    }
}

TEST(IOArray, NoDeviceLeavesTheArrayInactive) {
    struct Case {
        const char* name;
        bool devRoot;
        const char* expectedLine;
    } cases[] = {
        {"host without device root", false, "W (IO Array): no device for /dev/spidev0.0; the panel is not scanned\n"},
        {"device missing below the root", true, "ERROR (IO Array): Open SPI error\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string root = std::string(std::getenv("PEDAL_HOME")) + "/devroot";
        std::filesystem::create_directories(root);
        if (c.devRoot) {
            setenv("PEDAL_DEV_ROOT", root.c_str(), 1);
        } else {
            unsetenv("PEDAL_DEV_ROOT");
        }
        IOArray::setPort(std::make_shared<SpidevPort>());
        testing::internal::CaptureStdout();
        EXPECT_FALSE(IOArray::spi_open());
        const std::string log = testing::internal::GetCapturedStdout();
        EXPECT_EQ(log, c.expectedLine);
    }
    // Set up with the SPI thread: it finds no device and ends; nothing ever comes back, and the full ring
    // stays quiet.
    IOArray::setSpiThread(true);
    IOArray::initialize(24, 5000, 100, 32, -2, -2, -2, -2);
    IOArray::tasks();
    testing::internal::CaptureStdout();
    for (int pass = 0; pass < 5; ++pass) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        IOArray::tasks();
        EXPECT_EQ(IOArray::has_data(), 0);
    }
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(countOf(log, "Transmission error"), 0) << log;
    EXPECT_EQ(countOf(log, "output queue is empty"), 0) << log;
}

TEST(IOArray, SpiThreadCarriesFramesBothWays) {
    setenv("PEDAL_DEV_ROOT", sim::kDevRoot, 1);
    auto chain = std::make_shared<SimulatedChain>(3);
    chain->setInput(22, 1);
    IOArray::setPort(chain);
    IOArray::initialize(24, 5000, 100, 32, -2, -2, -2, -2);
    IOArray::set_bit(12, 1);

    // Bounded wait for the "IO Array SPI" thread: frames go out and come back as the input thread asks.
    bool received = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!received && std::chrono::steady_clock::now() < deadline) {
        IOArray::tasks();
        while (IOArray::has_data() != 0) received = IOArray::get_bit(22) == 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(received) << "no input frame came back from the SPI thread within 10 s";
    const auto sent = chain->takeSent();
    ASSERT_FALSE(sent.empty());
    EXPECT_TRUE(lineInFrame(sent.back(), 12));
}

}
