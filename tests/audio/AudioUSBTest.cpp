// The USB sound card bridge: drift between two clocks resampled away, the state file, the settings folder,
// and the exchange between the audio thread and the bridge.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

#include "audio/AudioUSB.h"
#include "audio/DriftCorrector.h"
#include "audio/FrameRing.h"
#include "core/NodeFloat.h"
#include "core/NodeItem.h"
#include "core/System.h"
#include "tests/support/TestSupport.h"

namespace {

namespace fs = std::filesystem;

void numbered(float (*frame)[16], int number) {
    for (int i = 0; i < 16; ++i) frame[0][i] = frame[1][i] = float(number);
}

// A tone of amplitude 0.5 faded in over 50 ms (so its start is no step), at the given sample rate.
float tone(long sample, double rate, double hertz) {
    const double seconds = double(sample) / rate;
    const double fade = seconds < 0.05 ? 0.5 - 0.5 * std::cos(std::numbers::pi * seconds / 0.05) : 1.0;
    return float(0.5 * fade * std::sin(2.0 * std::numbers::pi * hertz * seconds));
}

// The largest sample-to-sample step of that tone (its slope at a zero crossing, one sample long).
double toneStep(double hertz) { return 2.0 * 0.5 * std::sin(std::numbers::pi * hertz / 48000.0); }

struct BridgeRun {
    double pedalStep = 0.0;     // largest step of the pedal's tone as the host hears it
    double hostStep = 0.0;      // largest step of the host's tone as the pedal mixes it in
    int worstFillError[2] = {}; // after settling, toward the host and from it
};

// The audio thread's frames on the codec's clock and the bridge's transfers on the host's, `ppm` faster,
// interleaved in simulated time through the bridge's own exchange and host period. Each side plays its own
// tone; the fill of each ring is averaged over one transfer, as the sawtooth of the 64-sample transfers
// would otherwise hide the drift.
// The host's periods end after hostSeconds: its stream runs dry, or closes when `closes`.
BridgeRun runBridge(double ppm, double seconds, double settleSeconds, double hostSeconds = 1e9, bool closes = false) {
    const double pedalHertz = 1000.0, hostHertz = 750.0;
    const double hostRate = 48000.0 * (1.0 + ppm * 1e-6);
    AudioUSB::beginStreaming();
    BridgeRun run;
    long codecSamples = 0, hostSamples = 0;
    float lastPedal = 0.0f, lastHost = 0.0f;
    int fillSum[2] = {}, readings = 0;
    while (double(codecSamples) < seconds * 48000.0) {
        if (double(hostSamples) / hostRate >= hostSeconds) {
            if (closes) AudioUSB::endStreaming();
        } else if (double(hostSamples) / hostRate <= double(codecSamples) / 48000.0) {
            float captured[AudioUSB::kPeriodSamples * 2], toPlay[AudioUSB::kPeriodSamples * 2];
            for (int i = 0; i < AudioUSB::kPeriodSamples; ++i) {
                captured[2 * i] = captured[2 * i + 1] = tone(hostSamples + i, hostRate, hostHertz);
            }
            AudioUSB::hostPeriod(captured, toPlay, AudioUSB::kPeriodSamples);
            for (int i = 0; i < AudioUSB::kPeriodSamples; ++i) {
                run.pedalStep = std::max(run.pedalStep, double(std::fabs(toPlay[2 * i] - lastPedal)));
                lastPedal = toPlay[2 * i];
            }
            hostSamples += AudioUSB::kPeriodSamples;
            continue;
        }
        float frame[2][16], played[16];
        for (int i = 0; i < 16; ++i)
            frame[0][i] = frame[1][i] = played[i] = tone(codecSamples + i, 48000.0, pedalHertz);
        AudioUSB::exchange(frame);
        for (int i = 0; i < 16; ++i) {
            const float fromHost = frame[0][i] - played[i];
            run.hostStep = std::max(run.hostStep, double(std::fabs(fromHost - lastHost)));
            lastHost = fromHost;
        }
        codecSamples += 16;
        if (double(codecSamples) < settleSeconds * 48000.0) continue;
        fillSum[0] += AudioUSB::getQueuedSamples(true);
        fillSum[1] += AudioUSB::getQueuedSamples(false);
        if (++readings < AudioUSB::kPeriodSamples / 16) continue;
        for (int direction = 0; direction < 2; ++direction) {
            const int error = std::abs(fillSum[direction] / readings - AudioUSB::kTargetQueueSamples);
            run.worstFillError[direction] = std::max(run.worstFillError[direction], error);
            fillSum[direction] = 0;
        }
        readings = 0;
    }
    return run;
}

}

TEST(AudioUSB, ClockDriftIsResampledAwayWithoutAStep) {
    for (double ppm : {100.0, -100.0}) {
        SCOPED_TRACE(testing::Message() << ppm << " ppm");
        const BridgeRun run = runBridge(ppm, 60.0, 10.0);
        EXPECT_LE(run.pedalStep, 1.02 * toneStep(1000.0));
        EXPECT_LE(run.hostStep, 1.02 * toneStep(750.0));
        EXPECT_LE(run.worstFillError[0], 32) << "toward the host";
        EXPECT_LE(run.worstFillError[1], 32) << "from the host";
        EXPECT_EQ(AudioUSB::getRestarts(), 0);
        EXPECT_EQ(AudioUSB::getOverruns(), 0);
        AudioUSB::endStreaming();
        float frame[2][16] = {};
        for (int f = 0; f < 8; ++f) AudioUSB::exchange(frame); // the host's audio ramps out
    }
}

TEST(AudioUSB, TheHostsAudioRampsOutWhenItsStreamRunsDryOrCloses) {
    for (bool closes : {false, true}) {
        EXPECT_LE(runBridge(0.0, 1.0, 1.0, 0.5, closes).hostStep, 1.02 * toneStep(750.0)) << closes;
        AudioUSB::endStreaming();
        float frame[2][16] = {};
        for (int f = 0; f < 8; ++f) AudioUSB::exchange(frame);
    }
}

TEST(AudioUSB, AStoppedProducerGivesSilenceThenPrimesAgain) {
    FrameRing ring;
    DriftCorrector corrector(192);
    corrector.prepare();
    float frame[2][16];
    numbered(frame, 1);
    for (int n = 1; n <= 12; ++n) ring.push(frame);
    // Twelve frames of ones come out as ones once the filter's delay has passed.
    for (int i = 0; i < 10; ++i) corrector.take(ring, frame);
    EXPECT_NEAR(frame[0][0], 1.0f, 1e-3);
    EXPECT_NEAR(frame[1][15], 1.0f, 1e-3);
    EXPECT_TRUE(corrector.isPrimed());
    for (int i = 0; i < 3; ++i) corrector.take(ring, frame);
    EXPECT_FALSE(corrector.isPrimed()) << "the ring ran dry";
    EXPECT_EQ(corrector.getRestarts(), 1);
    EXPECT_EQ(frame[0][15], 0.0f);
    for (int n = 1; n <= 11; ++n) ring.push(frame);
    corrector.take(ring, frame);
    EXPECT_FALSE(corrector.isPrimed()) << "11 frames are below the target";
    ring.push(frame);
    corrector.take(ring, frame);
    EXPECT_TRUE(corrector.isPrimed());

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
    const std::string folder = testsupport::temporaryFolder("pedal-udc"), path = folder + "/state";
    AudioUSB::setStatePath(path);
    const struct {
        const char* content; // null: no file
        bool connected;
    } cases[] = {{nullptr, false},         {"configured\n", true}, {"not attached\n", false},
                 {"  configured  ", true}, {"suspended", false},   {"", false}};
    for (const auto& c : cases) {
        fs::remove(path);
        if (c.content) testsupport::writeFile(path, c.content);
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
    NodeFloat* playback = AudioUSB::getPlaybackLevel();
    ASSERT_NE(playback, nullptr);
    EXPECT_EQ(AudioUSB::getRecordLevel()->getParent(), folder);
    const int overruns = AudioUSB::getOverruns(); // a run dry before left the ring toward the host full
    EXPECT_FALSE(AudioUSB::isStreaming());

    // No stream: the frame passes untouched.
    float frame[2][16];
    numbered(frame, 5);
    AudioUSB::exchange(frame);
    EXPECT_EQ(frame[1][15], 5.0f);

    AudioUSB::beginStreaming();
    std::vector<float> captured(AudioUSB::kPeriodSamples * 2, 0.25f);
    std::vector<float> toPlay(AudioUSB::kPeriodSamples * 2, -1.0f);
    for (int period = 0; period < 8; ++period) {
        for (int n = 0; n < 4; ++n) {
            for (int i = 0; i < 16; ++i) frame[0][i] = frame[1][i] = 0.5f;
            AudioUSB::exchange(frame);
            if (period < 3) {
                EXPECT_EQ(frame[0][0], 0.5f) << "the host's side is still priming";
            }
        }
        AudioUSB::hostPeriod(captured.data(), toPlay.data(), AudioUSB::kPeriodSamples);
    }
    // The pedal's output reaches the host once the resampling filter's delay has passed.
    EXPECT_NEAR(toPlay[0], 0.5f, 1e-3);
    EXPECT_NEAR(toPlay[AudioUSB::kPeriodSamples * 2 - 1], 0.5f, 1e-3);

    // The host's audio is mixed in, at the playback level (ramped across the first frame after a change).
    playback->setValue(-20.0f * std::log10(2.0f));
    numbered(frame, 0);
    AudioUSB::exchange(frame);
    EXPECT_NEAR(frame[0][15], 0.125f, 1e-3);
    EXPECT_GT(frame[0][0], 0.2f);
    numbered(frame, 0);
    AudioUSB::exchange(frame);
    EXPECT_NEAR(frame[0][0], 0.125f, 1e-3);

    AudioUSB::endStreaming();
    for (int f = 0; f < 8; ++f) numbered(frame, 7), AudioUSB::exchange(frame); // after the host's ramp out
    EXPECT_EQ(frame[0][3], 7.0f);
    EXPECT_EQ(AudioUSB::getOverruns(), overruns);
}
