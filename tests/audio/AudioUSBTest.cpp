// The USB sound card bridge: drift between two clocks absorbed by dropping or repeating frames, the state
// file, the settings folder, and the exchange between the audio thread and the bridge.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "AudioUSB.h"
#include "DriftCorrector.h"
#include "FrameRing.h"
#include "NodeFloat.h"
#include "NodeItem.h"
#include "System.h"

namespace {

namespace fs = std::filesystem;

void numbered(float (*frame)[16], int number) {
    for (int i = 0; i < 16; ++i) frame[0][i] = frame[1][i] = float(number);
}

struct DriftResult {
    int drops = 0;
    int repeats = 0;
    int ringFull = 0;
    int badSteps = 0; // output numbers that neither advanced by 1 nor showed a single drop or repeat
    int maxFill = 0;
};

// The producer runs at `rate` times the consumer's clock and hands over bursts of four frames, as the bridge
// does; the consumer takes one frame per tick.
DriftResult simulate(double rate, int ticks, int stopAt = -1, int resumeAt = -1) {
    FrameRing ring;
    DriftCorrector corrector(12);
    DriftResult result;
    double produced = 0.0;
    int nextNumber = 1;
    int lastOut = 0;
    bool producing = true;
    for (int tick = 0; tick < ticks; ++tick) {
        if (tick == stopAt) producing = false;
        if (tick == resumeAt) producing = true;
        if (producing) produced += rate;
        while (producing && produced >= 4.0) {
            for (int k = 0; k < 4; ++k) {
                float frame[2][16];
                numbered(frame, nextNumber++);
                if (!ring.push(frame)) ++result.ringFull;
            }
            produced -= 4.0;
        }
        float out[2][16];
        corrector.take(ring, out);
        int number = int(out[0][0]);
        for (int i = 0; i < 16; ++i) {
            if (out[0][i] != out[0][0] || out[1][i] != out[0][0]) ++result.badSteps;
        }
        if (number != 0 && lastOut != 0) {
            int step = number - lastOut;
            if (step != 1 && step != 0 && step != 2) ++result.badSteps;
        }
        if (number != 0) lastOut = number;
        if (ring.size() > result.maxFill) result.maxFill = ring.size();
    }
    result.drops = corrector.getDrops();
    result.repeats = corrector.getRepeats();
    return result;
}

}

TEST(AudioUSB, DriftIsAbsorbedByDroppingOrRepeatingSingleFrames) {
    const int ticks = 300000; // 100 s of audio
    const struct {
        double rate;
        int drops;
        int repeats;
    } cases[] = {
        {1.0, 0, 0},
        {1.0005, 150, 0}, // a host 500 ppm fast: 150 frames too many in 100 s
        {0.9995, 0, 150},
        {1.0001, 30, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rate);
        DriftResult result = simulate(c.rate, ticks);
        EXPECT_NEAR(result.drops, c.drops, 4);
        EXPECT_NEAR(result.repeats, c.repeats, 4);
        EXPECT_EQ(result.ringFull, 0);
        EXPECT_EQ(result.badSteps, 0);
        EXPECT_LE(result.maxFill, 12 + 2 + 4 + 2) << "the latency stays near the target";
    }
}

TEST(AudioUSB, AStoppedProducerRepeatsOnceThenSilenceAndPrimesAgain) {
    FrameRing ring;
    DriftCorrector corrector(12);
    float frame[2][16];
    for (int n = 1; n <= 12; ++n) {
        numbered(frame, n);
        ring.push(frame);
    }
    std::vector<int> out;
    for (int i = 0; i < 15; ++i) {
        corrector.take(ring, frame);
        out.push_back(int(frame[0][0]));
    }
    // 12 frames, one repeat of the last, then silence while the ring is empty.
    EXPECT_EQ(out, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 12, 0, 0}));
    EXPECT_FALSE(corrector.isPrimed());
    for (int n = 13; n <= 23; ++n) {
        numbered(frame, n);
        ring.push(frame);
    }
    corrector.take(ring, frame);
    EXPECT_EQ(frame[0][0], 0.0f) << "11 frames are below the target";
    numbered(frame, 24);
    ring.push(frame);
    corrector.take(ring, frame);
    EXPECT_EQ(frame[0][0], 13.0f);
    EXPECT_EQ(ring.size(), 11);

    // A full ring refuses further frames; the consumer may empty it.
    FrameRing full;
    int pushed = 0;
    while (full.push(frame)) ++pushed;
    EXPECT_EQ(pushed, FrameRing::kCapacity);
    full.clear();
    EXPECT_EQ(full.size(), 0);
    EXPECT_FALSE(full.pop(frame));
    EXPECT_FALSE(full.discard());
}

TEST(AudioUSB, StateFileDecidesWhetherTheHostIsThere) {
    fs::path folder = fs::temp_directory_path() / ("pedal-udc-" + std::to_string(getpid()));
    fs::create_directories(folder);
    std::string path = (folder / "state").string();
    AudioUSB::setStatePath(path);
    const struct {
        const char* content; // null: no file
        bool connected;
    } cases[] = {{nullptr, false}, {"configured\n", true}, {"not attached\n", false}, {"  configured  ", true},
                 {"suspended", false}, {"", false}};
    for (const auto& c : cases) {
        fs::remove(path);
        if (c.content) {
            FILE* file = std::fopen(path.c_str(), "w");
            std::fputs(c.content, file);
            std::fclose(file);
        }
        testing::internal::CaptureStdout();
        EXPECT_EQ(AudioUSB::stateStep(), c.connected) << (c.content ? c.content : "(missing)");
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(AudioUSB::isHostConnected(), c.connected);
    }
    fs::remove_all(folder);
}

TEST(AudioUSB, SettingsFolderAndExchangeWithTheHost) {
    System::initialize("test");
    AudioUSB::setStatePath("/nonexistent/udc/state");
    ASSERT_TRUE(AudioUSB::initialize());
    Node* folder = System::rootNode()->pathToNode("root\\usb");
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(folder, AudioUSB::getFolder());
    EXPECT_STREQ(static_cast<NodeItem*>(folder)->getItemType(), "sfolder");
    EXPECT_GE(folder->childrenCount(), 1);
    NodeFloat* record = AudioUSB::getRecordLevel();
    NodeFloat* playback = AudioUSB::getPlaybackLevel();
    ASSERT_NE(record, nullptr);
    ASSERT_NE(playback, nullptr);
    EXPECT_EQ(record->getParent(), folder);
    EXPECT_FALSE(AudioUSB::isStreaming());

    // No stream: the frame passes untouched.
    float frame[2][16];
    numbered(frame, 5);
    AudioUSB::exchange(frame);
    EXPECT_EQ(frame[1][15], 5.0f);

    AudioUSB::beginStreaming();
    for (int n = 1; n <= 12; ++n) {
        numbered(frame, n);
        AudioUSB::exchange(frame);
        EXPECT_EQ(frame[0][0], float(n)) << "the host's side is still priming";
    }
    // One bridge period: the host's 64 samples in, the pedal's first four frames out.
    std::vector<float> captured(AudioUSB::kPeriodSamples * 2, 0.25f);
    std::vector<float> toPlay(AudioUSB::kPeriodSamples * 2, -1.0f);
    AudioUSB::hostPeriod(captured.data(), toPlay.data(), AudioUSB::kPeriodSamples);
    for (int i = 0; i < AudioUSB::kPeriodSamples; ++i) {
        EXPECT_EQ(toPlay[size_t(i) * 2], float(1 + i / 16)) << i;
        EXPECT_EQ(toPlay[size_t(i) * 2 + 1], float(1 + i / 16)) << i;
    }
    AudioUSB::hostPeriod(captured.data(), toPlay.data(), AudioUSB::kPeriodSamples);
    AudioUSB::hostPeriod(captured.data(), toPlay.data(), AudioUSB::kPeriodSamples);

    // Twelve host frames waiting: the host's audio is mixed in, at the playback level (ramped across the
    // first frame after a change).
    playback->setValue(-20.0f * std::log10(2.0f));
    numbered(frame, 0);
    AudioUSB::exchange(frame);
    EXPECT_NEAR(frame[0][15], 0.125f, 1e-6);
    EXPECT_GT(frame[0][0], 0.125f);
    numbered(frame, 0);
    AudioUSB::exchange(frame);
    EXPECT_NEAR(frame[0][0], 0.125f, 1e-6);

    AudioUSB::endStreaming();
    numbered(frame, 7);
    AudioUSB::exchange(frame);
    EXPECT_EQ(frame[0][3], 7.0f);
    EXPECT_EQ(AudioUSB::getOverruns(), 0);
}
