// The cabinet block: an impulse response uploaded gzip-compressed through its slot list comes out of the
// block trimmed and normalised; other rates and malformed files are refused while the sound plays on; a
// response replaced while playing is swapped under the fade, never with a click, also with real threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "tests/blocks/BlockTestSupport.h"
#include "blocks/IrLoader.h"
#include "core/NodeFloat.h"
#include "core/NodeList.h"
#include "core/NodeOnOff.h"
#include "core/NodeParList.h"
#include "porting/Shims.h"

using namespace blocktest;

namespace {

// The response the block must play, from the definitions: the first 2048 taps, the last 128 of them faded
// by a raised cosine when the file was longer, scaled to unit energy per channel on average.
std::vector<std::vector<double>> expected(std::vector<std::vector<float>> channels) {
    std::vector<std::vector<double>> out;
    double energy = 0.0;
    for (const std::vector<float>& channel : channels) {
        std::vector<double> taps(channel.begin(), channel.end());
        if (taps.size() > 2048) {
            taps.resize(2048);
            for (size_t i = 0; i < 128; ++i) {
                taps[2048 - 128 + i] *= 0.5 * (1.0 + std::cos(std::numbers::pi * double(i + 1) / 129.0));
            }
        }
        for (double tap : taps) energy += tap * tap;
        out.push_back(taps);
    }
    const double scale = 1.0 / std::sqrt(energy / double(channels.size()));
    for (std::vector<double>& taps : out) {
        for (double& tap : taps) tap *= scale;
    }
    return out;
}

class IrLoaderTest : public testing::Test {
protected:
    void SetUp() override {
        Node* root = testRoot();
        loader = new IrLoader(folder(root, "ir"), root, "ir_list");
        loader->getOnOff()->setOn(true);
        settle();
    }
    void TearDown() override {
        delete loader;
        porting::setClock({});
    }
    // After a change of response has run its course on silence.
    Stereo impulseResponse(size_t samples = 4096) {
        Stereo silence(size_t(IrLoader::kChangeFrames + 1) * Frame::kSamples);
        run(loader, silence);
        Stereo signal(samples);
        signal.left[0] = signal.right[0] = 1.0f;
        run(loader, signal);
        return signal;
    }
    void expectResponse(const Stereo& out, const std::vector<std::vector<double>>& taps) {
        for (int channel = 0; channel < 2; ++channel) {
            const std::vector<float>& played = channel == 0 ? out.left : out.right;
            const std::vector<double>& wanted = taps[std::min(size_t(channel), taps.size() - 1)];
            for (size_t n = 0; n < played.size(); ++n) {
                ASSERT_NEAR(played[n], n < wanted.size() ? wanted[n] : 0.0, 2e-5)
                    << "channel " << channel << " tap " << n;
            }
        }
    }

    IrLoader* loader = nullptr;
};

TEST_F(IrLoaderTest, UploadedResponseComesOutTrimmedAndNormalised) {
    struct Case {
        const char* name;
        size_t length;
        int channels;
        Encoding encoding;
    };
    const Case cases[] = {
        {"Float mono", 3000, 1, Encoding::Float32},
        {"24-bit stereo", 2500, 2, Encoding::Pcm24},
        {"16-bit short", 700, 1, Encoding::Pcm16}, // shorter than 2048: kept whole, no fade
    };
    int slot = 0;
    for (const Case& c : cases) {
        std::vector<std::vector<float>> channels;
        for (int i = 0; i < c.channels; ++i) channels.push_back(cabinet(c.length, 17u + uint32_t(i) * 101u));
        if (c.channels == 2) {
            for (float& tap : channels[1]) tap *= 0.5f; // a quieter right side keeps its balance
        }
        const std::vector<uint8_t> file = wav(channels, 48000, c.encoding);
        ASSERT_TRUE(uploadSlot(*loader->getList(), slot, c.name, file)) << c.name;
        // What the file really holds after quantisation, read back from the bytes by hand.
        if (c.encoding != Encoding::Float32) {
            const double scale = c.encoding == Encoding::Pcm16 ? 32767.0 : 8388607.0;
            const double full = c.encoding == Encoding::Pcm16 ? 32768.0 : 8388608.0;
            for (std::vector<float>& channel : channels) {
                for (float& tap : channel) tap = float(double(std::lround(tap * scale)) / full);
            }
        }
        ASSERT_TRUE(loader->getSelector()->setValue(c.name));
        settle();
        expectResponse(impulseResponse(), expected(channels));
        ++slot;
    }
}

TEST_F(IrLoaderTest, BadFilesAreRefusedAndTheSoundPlaysOn) {
    const std::vector<std::vector<float>> good = {cabinet(1000, 5)};
    ASSERT_TRUE(uploadSlot(*loader->getList(), 0, "Good", wav(good, 48000, Encoding::Float32)));
    ASSERT_TRUE(loader->getSelector()->setValue("Good"));
    settle();
    expectResponse(impulseResponse(), expected(good));

    std::vector<uint8_t> cut = wav(good, 48000, Encoding::Float32);
    cut.resize(30);
    // The header and ten samples: it would play as a ten-tap response.
    std::vector<uint8_t> truncated = wav(good, 48000, Encoding::Float32);
    truncated.resize(44 + 10 * 4);
    std::vector<uint8_t> garbage(5000);
    for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = uint8_t(i * 7 + 3);
    struct Case {
        const char* name;
        std::vector<uint8_t> file;
        const char* reason;
    };
    const Case cases[] = {
        {"44k", wav(good, 44100, Encoding::Float32), "44100 Hz"},
        {"Three", wav({good[0], good[0], good[0]}, 48000, Encoding::Float32), "3 channels"},
        {"Cut", cut, "no data chunk"},
        {"Truncated", truncated, "truncated: 40 of 4000 data bytes"},
        {"Noise", garbage, "not a RIFF WAVE file"},
        {"Silent", wav({std::vector<float>(500, 0.0f)}, 48000, Encoding::Float32), "silent"},
    };
    NodeList* list = loader->getList();
    for (const Case& c : cases) {
        // Uploaded over the slot that plays: refused at the last chunk, before anything is replaced.
        testing::internal::CaptureStdout();
        EXPECT_FALSE(uploadSlot(*list, 0, c.name, c.file)) << c.name;
        settle();
        const std::string log = testing::internal::GetCapturedStdout();
        EXPECT_NE(log.find("ERROR (NodeList): " + list->getPath() + ": slot 0 ('" + c.name + "') refused: "),
                  std::string::npos)
            << log;
        EXPECT_NE(log.find(c.reason), std::string::npos) << log;
        EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << "one line: " << log;
        EXPECT_EQ(list->writeStatusJSON(), list->getPath() + ":{\"index\":-1,\"chunk\":-1}");
        EXPECT_EQ(list->nameAt(0), "Good");
        // The response that played before stays in place.
        expectResponse(impulseResponse(), expected(good));
    }
    // Deleting the slot that plays, or selecting none, leaves a plain pass.
    ASSERT_TRUE(loader->getSelector()->setValue("Good"));
    settle();
    ASSERT_TRUE(loader->getList()->deleteAt(0));
    settle();
    expectResponse(impulseResponse(), {{1.0}});
}

// Output sample-to-sample steps while a sine plays through the engine and the playing slot is replaced by
// an inverted response: a swap without a crossfade would jump by the sine's whole swing. The sound goes on.
TEST_F(IrLoaderTest, ReplacingThePlayingSlotCrossfadesInsteadOfClicking) {
    int64_t now = 1000000000;
    porting::setClock([&now] { return now; });
    ASSERT_TRUE(uploadSlot(*loader->getList(), 0, "Cab", wav({{1.0f}}, 48000, Encoding::Float32)));
    ASSERT_TRUE(loader->getSelector()->setValue("Cab"));
    settle();
    const std::vector<float> tone = sine(size_t(2 * kRate), 200.0, 0.5);
    bool sawSilence = false;
    std::vector<float> played;
    for (size_t start = 0; start < tone.size(); start += 16) {
        const int frameIndex = int(start / 16);
        if (frameIndex == 1500) {
            ASSERT_TRUE(uploadSlot(*loader->getList(), 0, "Cab", wav({{-1.0f}}, 48000, Encoding::Float32)));
        }
        alignas(64) float frame[2][16];
        for (int i = 0; i < 16; ++i) frame[0][i] = frame[1][i] = tone[start + size_t(i)];
        AudioProcessor::processFrame(frame);
        now += 333;
        if (frameIndex % 30 == 29) AudioProcessor::compileStep(); // every 10 ms
        sawSilence |= AudioProcessor::getFadeState() == AudioProcessor::FadeState::Silent;
        played.insert(played.end(), frame[0], frame[0] + 16);
    }
    EXPECT_FALSE(sawSilence);
    EXPECT_LT(largestStep(played, 0, played.size()), 0.04) << "the 200 Hz sine alone moves by up to 0.013 per sample";
    // Before the upload the tone played as it is, at the end inverted.
    EXPECT_NEAR(played[1000], tone[1000], 1e-5);
    EXPECT_NEAR(played.back(), -tone.back(), 1e-5);
    EXPECT_EQ(AudioProcessor::getFadeState(), AudioProcessor::FadeState::Idle);
}

// The same with real threads: uploads on this thread, the audio and compile passes on their own. Under the
// address sanitizer this shows that no buffer is read after it was freed.
TEST_F(IrLoaderTest, UploadsWhileThreadsRunReadNoFreedBuffer) {
    ASSERT_TRUE(uploadSlot(*loader->getList(), 0, "Cab", wav({cabinet(3000, 1)}, 48000, Encoding::Float32)));
    ASSERT_TRUE(loader->getSelector()->setValue("Cab"));
    settle();
    std::atomic<bool> stop{false};
    std::atomic<long> frames{0};
    std::thread audio([&] {
        const std::vector<float> hiss = noise(16);
        while (!stop.load()) {
            alignas(64) float frame[2][16];
            for (int i = 0; i < 16; ++i) frame[0][i] = frame[1][i] = hiss[size_t(i)];
            AudioProcessor::processFrame(frame);
            for (int i = 0; i < 16; ++i) ASSERT_TRUE(std::isfinite(frame[0][i]));
            frames.fetch_add(1);
        }
    });
    std::thread compile([&] {
        while (!stop.load()) {
            AudioProcessor::compileStep();
            std::this_thread::yield();
        }
    });
    for (int round = 0; round < 10; ++round) {
        ASSERT_TRUE(uploadSlot(*loader->getList(), round % 2, "Cab" + std::to_string(round % 2),
                               wav({cabinet(2000 + size_t(round) * 300, uint32_t(round))}, 48000, Encoding::Float32)));
        loader->getSelector()->setValue("Cab" + std::to_string(round % 2));
        const long target = frames.load() + 200;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (frames.load() < target && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
        ASSERT_GE(frames.load(), target) << "the audio thread stalled";
    }
    stop = true;
    audio.join();
    compile.join();
}

}
