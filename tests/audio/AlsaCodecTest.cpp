// The sound card codec and the USB bridge's streams against ALSA's "null" device (it takes and gives frames
// at once, so only the frame clock paces them), its "file" device (what was played, as raw samples) and a
// device that does not exist.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include "audio/AlsaCodec.h"
#include "audio/AudioUSB.h"
#include "porting/Shims.h"
#include "tests/support/TestSupport.h"

namespace {

namespace fs = std::filesystem;

// The bridge toward the given playback device (captures from "null"), with a state file of its own; the
// state file's path.
std::string bridgeWithStateFile(const std::string& playback) {
    const std::string state = testsupport::temporaryFolder("pedal-bridge") + "/state";
    AudioUSB::setStatePath(state);
    AudioUSB::setDevices("null", playback);
    return state;
}

double threadCpuSeconds() {
    timespec used{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used);
    return double(used.tv_sec) + double(used.tv_nsec) * 1e-9;
}

// A 50 Hz sine at +30 dBFS: far beyond full scale, slow enough that its clipped form never jumps.
float loud(int sample) { return float(31.6228 * std::sin(2.0 * std::numbers::pi * 50.0 * sample / 48000.0)); }

std::vector<int32_t> rawSamples(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::vector<int32_t> samples;
    int32_t value;
    while (file.read(reinterpret_cast<char*>(&value), sizeof value)) samples.push_back(value);
    return samples;
}

}

TEST(AlsaCodec, StreamsThroughAnUnpacedDeviceAtTheFrameClockAndRefusesAMissingOne) {
    testing::internal::CaptureStdout();
    AlsaCodec missing("pedal_no_such_device");
    EXPECT_FALSE(missing.initialize());
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("ERROR (AlsaCodec): Cannot open playback device pedal_no_such_device"), std::string::npos)
        << log;

    testing::internal::CaptureStdout();
    AlsaCodec codec("null");
    ASSERT_TRUE(codec.initialize());
    ASSERT_TRUE(codec.start());
    testing::internal::GetCapturedStdout();
    const auto begin = std::chrono::steady_clock::now();
    const double cpuBefore = threadCpuSeconds();
    long frames = 0;
    while (std::chrono::steady_clock::now() - begin < std::chrono::seconds(1)) {
        float frame[2][16];
        std::fill(&frame[0][0], &frame[0][0] + 32, 0.5f);
        ASSERT_TRUE(codec.read(frame));
        ASSERT_EQ(frame[0][0], 0.0f) << "the null device captures silence";
        frame[0][0] = 2.0f; // clamped on the way out
        ASSERT_TRUE(codec.write(frame));
        ++frames;
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    const double cpu = threadCpuSeconds() - cpuBefore;
    EXPECT_LT(cpu / wall, 0.5) << frames << " frames";
    EXPECT_LE(double(frames), wall * 3000.0 + 100.0) << "no faster than the frame clock, less its lead";
}

TEST(AlsaCodec, AFailingDeviceIsReportedOnceAndRetriedLessAndLessOften) {
    // Played (and recorded) into /dev/full, the "file" device fails each time its buffer is full; reopened, it
    // works for a moment.
    testing::internal::CaptureStdout();
    AlsaCodec codec("file:FILE=/dev/full,FORMAT=raw");
    ASSERT_TRUE(codec.initialize());
    ASSERT_TRUE(codec.start());
    int64_t now = 1000000;
    porting::setClock([&now] { return now; });
    std::vector<int64_t> failures; // when a working stream stopped
    bool working = true;
    for (int frame = 0; frame < 30000; ++frame, now += 333) { // 10 s on the frame clock
        float samples[2][16] = {};
        const bool transferred = codec.read(samples) && codec.write(samples);
        if (working && !transferred) failures.push_back(now);
        working = transferred;
    }
    porting::setClock({});
    const std::string log = testing::internal::GetCapturedStdout();
    const size_t first = log.find("ERROR (AlsaCodec)");
    ASSERT_NE(first, std::string::npos) << log;
    EXPECT_EQ(log.find("ERROR (AlsaCodec)", first + 1), std::string::npos) << log;
    ASSERT_GE(failures.size(), 6u);
    EXPECT_GE(failures[2] - failures[1], 15 * (failures[1] - failures[0]) / 10) << "the waits grow";
    EXPECT_NEAR(double(failures.back() - failures[failures.size() - 2]), 2e6, 0.1e6) << "up to two seconds";
}

TEST(AlsaCodec, FloatsBeyondFullScaleSaturate) {
    const std::string path = (fs::temp_directory_path() / ("pedal-alsa-" + std::to_string(getpid()) + ".raw")).string();
    testing::internal::CaptureStdout();
    {
        AlsaCodec codec("file:FILE=" + path + ",FORMAT=raw");
        ASSERT_TRUE(codec.initialize());
        ASSERT_TRUE(codec.start());
        for (int start = 0; start < 4800; start += 16) {
            float frame[2][16];
            for (int i = 0; i < 16; ++i) {
                frame[0][i] = loud(start + i);
                frame[1][i] = -loud(start + i);
            }
            ASSERT_TRUE(codec.write(frame));
        }
    }
    testing::internal::GetCapturedStdout();
    const std::vector<int32_t> written = rawSamples(path);
    fs::remove(path);
    ASSERT_EQ(written.size(), 9600u);
    for (int n = 0; n < 4800; ++n) {
        const double expected = std::clamp(double(loud(n)), -1.0, 1.0);
        ASSERT_NEAR(written[size_t(2 * n)] / 2147483648.0, expected, 1e-6) << n;
        ASSERT_NEAR(written[size_t(2 * n + 1)] / 2147483648.0, -expected, 1e-6) << n;
    }
    // A device that takes only 16-bit samples gets the same.
    EXPECT_EQ(AlsaStream::toNarrow(31.6228f), INT16_MAX);
    EXPECT_EQ(AlsaStream::toNarrow(-31.6228f), INT16_MIN);
    EXPECT_EQ(AlsaStream::toWide(-31.6228f), INT32_MIN);
}

TEST(AudioUSB, BridgeOpensWithTheHostAndClosesWhenItLeaves) {
    const std::string state = bridgeWithStateFile("null");
    testing::internal::CaptureStdout();

    AudioUSB::stateStep();
    EXPECT_GT(AudioUSB::bridgeStep(), 0u) << "no host: the bridge waits";
    EXPECT_FALSE(AudioUSB::isStreaming());

    testsupport::writeFile(state, "configured\n");
    AudioUSB::stateStep();
    // The null devices never block: the bridge runs ahead of the clock by its devices' buffer at most, then
    // waits for each period (a simulated clock that moves only by the waits asked for).
    int64_t now = 1000000;
    porting::setClock([&now] { return now; });
    EXPECT_EQ(AudioUSB::bridgeStep(), 0u);
    EXPECT_TRUE(AudioUSB::isStreaming());
    for (int i = 0; i < 299; ++i) {
        float frame[2][16] = {};
        AudioUSB::exchange(frame);
        now += AudioUSB::bridgeStep();
    }
    EXPECT_NEAR(double(now - 1000000), 300 * 64 / 48e-3, 10000.0) << "300 transfers, 400 ms of audio";
    porting::setClock({});

    testsupport::writeFile(state, "suspended\n");
    AudioUSB::stateStep();
    EXPECT_GT(AudioUSB::bridgeStep(), 0u);
    EXPECT_FALSE(AudioUSB::isStreaming());

    // A host that comes while the devices are missing: one error line, quiet retries.
    AudioUSB::setDevices("pedal_no_such_device", "pedal_no_such_device");
    testsupport::writeFile(state, "configured\n");
    AudioUSB::stateStep();
    // The waits between attempts grow to two seconds.
    porting::setClock([&now] { return now; });
    uint32_t waits[6];
    for (uint32_t& wait : waits) {
        wait = AudioUSB::bridgeStep();
        now += wait;
    }
    porting::setClock({});
    EXPECT_EQ(waits[0], 100000u);
    EXPECT_EQ(waits[1], 200000u);
    EXPECT_EQ(waits[5], 2000000u);
    EXPECT_FALSE(AudioUSB::isStreaming());
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("I (AudioUSB): USB audio streams open"), std::string::npos) << log;
    EXPECT_NE(log.find("I (AudioUSB): USB audio streams closed"), std::string::npos) << log;
    size_t first = log.find("ERROR (AudioUSB): Cannot open capture device pedal_no_such_device");
    ASSERT_NE(first, std::string::npos) << log;
    EXPECT_EQ(log.find("ERROR (AudioUSB)", first + 1), std::string::npos) << log;
    fs::remove_all(fs::path(state).parent_path());
}

TEST(AudioUSB, FailingStreamsAreReportedOnceAndRetriedLessAndLessOften) {
    const std::string state = bridgeWithStateFile("file:FILE=/dev/full,FORMAT=raw");
    testing::internal::CaptureStdout();
    // No host first: whatever an earlier connection left is closed and forgotten.
    testsupport::writeFile(state, "not attached\n");
    AudioUSB::stateStep();
    AudioUSB::bridgeStep();
    testsupport::writeFile(state, "configured\n");
    AudioUSB::stateStep();
    int64_t now = 1000000;
    porting::setClock([&now] { return now; });
    std::vector<uint32_t> retryWaits;
    while (now < 11000000) { // 10 s; a transfer takes a period of the clock
        const uint32_t wait = AudioUSB::bridgeStep();
        if (wait >= 100000) retryWaits.push_back(wait);
        now += wait > 0 ? wait : 1333;
    }
    porting::setClock({});
    const std::string log = testing::internal::GetCapturedStdout();
    fs::remove_all(fs::path(state).parent_path());
    const size_t first = log.find("W (AudioUSB): USB audio streams stopped");
    ASSERT_NE(first, std::string::npos) << log;
    EXPECT_EQ(log.find("(AudioUSB): USB audio streams", log.find('\n', first)), std::string::npos) << log;
    ASSERT_GE(retryWaits.size(), 6u);
    EXPECT_EQ(retryWaits[0], 100000u);
    EXPECT_EQ(retryWaits[1], 200000u);
    EXPECT_EQ(retryWaits.back(), 2000000u);
}
