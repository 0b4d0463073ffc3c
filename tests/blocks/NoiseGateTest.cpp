// The noise gate: silence below the threshold, an untouched pass above it, no chatter around it, the key
// taken from the external frame and only the channels of the mask gated.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "tests/blocks/BlockTestSupport.h"
#include "core/NodeFloat.h"
#include "core/NodeOnOff.h"
#include "blocks/NoiseGate.h"

using namespace blocktest;

namespace {

class NoiseGateTest : public testing::Test {
protected:
    void build(int mask) {
        folderNode = folder(testRoot(), "gate");
        gate = new NoiseGate(folderNode, mask, NoiseGate::kKeyExternal, external, false);
        gate->getOnOff()->setOn(true);
        settle();
        Stereo glideIn(size_t(SwitchFade::kFrames) * Frame::kSamples); // on silence, so it starts closed
        run(gate, glideIn);
    }
    void TearDown() override { delete gate; }

    // Plays a signal with the key in the external frame (the raw input); the frame itself carries `frame`.
    Stereo play(const std::vector<float>& key, const Stereo& input) {
        Stereo output = input;
        for (size_t start = 0; start + 16 <= key.size(); start += 16) {
            alignas(64) float frame[2][16];
            for (int i = 0; i < 16; ++i) {
                external[0][i] = key[start + size_t(i)];
                external[1][i] = 0.0f;
                frame[0][i] = input.left[start + size_t(i)];
                frame[1][i] = input.right[start + size_t(i)];
            }
            NoiseGate::exec(gate, frame);
            for (int i = 0; i < 16; ++i) {
                output.left[start + size_t(i)] = frame[0][i];
                output.right[start + size_t(i)] = frame[1][i];
            }
        }
        return output;
    }
    Stereo play(const std::vector<float>& signal) {
        Stereo input(signal.size());
        input.left = input.right = signal;
        return play(signal, input);
    }
    void parameter(int index, float value) {
        static_cast<NodeFloat*>(folderNode->childrenAt(index))->setValue(value);
        settle();
    }

    alignas(64) float external[2][16] = {};
    Node* folderNode = nullptr;
    NoiseGate* gate = nullptr;
};

// Open/closed transitions of the gate, read from the output against the input.
int transitions(const Stereo& out, const std::vector<float>& in) {
    int count = 0;
    bool open = false;
    for (size_t n = 0; n < in.size(); ++n) {
        if (std::fabs(in[n]) < 1e-6f) continue;
        const bool nowOpen = std::fabs(out.left[n] / in[n]) > 0.5f;
        if (nowOpen != open) ++count;
        open = nowOpen;
    }
    return count;
}

TEST_F(NoiseGateTest, SilencesBelowPassesUntouchedAboveAndDoesNotChatterAroundTheThreshold) {
    build(3);
    parameter(1, -60.0f); // threshold
    const size_t second = size_t(kRate);
    const std::vector<float> quiet = sine(second, 200.0, std::pow(10.0, -70.0 / 20.0));
    Stereo out = play(quiet);
    EXPECT_EQ(peak(out.left), 0.0) << "below the threshold nothing passes";
    EXPECT_EQ(peak(out.right), 0.0);

    const std::vector<float> loud = sine(second, 200.0, std::pow(10.0, -40.0 / 20.0));
    out = play(loud);
    // After the 1 ms attack every sample passes untouched.
    const size_t settled = size_t(0.01 * kRate);
    EXPECT_EQ(std::memcmp(out.left.data() + settled, loud.data() + settled, (second - settled) * sizeof(float)), 0);
    EXPECT_EQ(std::memcmp(out.right.data() + settled, loud.data() + settled, (second - settled) * sizeof(float)), 0);

    // Back to quiet: closed after hold and release.
    out = play(quiet);
    EXPECT_EQ(peak(out.left, size_t(0.3 * kRate)), 0.0);

    // No chatter around the threshold.
    parameter(1, -50.0f);
    // A low E that wavers between 2 dB above and 4 dB below the threshold, then rings out.
    const size_t samples = size_t(4.0 * kRate);
    std::vector<float> note(samples);
    for (size_t n = 0; n < samples; ++n) {
        const double t = double(n) / kRate;
        const double levelDb =
            t < 2.0 ? -51.0 + 3.0 * std::sin(2.0 * std::numbers::pi * 3.0 * t) : -51.0 - 30.0 * (t - 2.0);
        note[n] = float(std::pow(10.0, levelDb / 20.0) * std::sin(2.0 * std::numbers::pi * 82.41 * t));
    }
    out = play(note);
    EXPECT_EQ(transitions(out, note), 2) << "opens once and closes once";
}

TEST_F(NoiseGateTest, KeyComesFromTheExternalFrameAndOnlyTheMaskIsGated) {
    build(1);
    parameter(1, -60.0f);
    const size_t samples = size_t(0.5 * kRate);
    // A loud frame with a silent key: closed, channel 1 untouched.
    Stereo input(samples);
    input.left = input.right = sine(samples, 300.0, 0.5);
    Stereo out = play(std::vector<float>(samples, 0.0f), input);
    EXPECT_EQ(peak(out.left), 0.0);
    EXPECT_EQ(out.right, input.right);
    // A loud key opens it whatever the frame holds: untouched after the 1 ms attack.
    out = play(sine(samples, 300.0, 0.5), input);
    const size_t settled = size_t(0.01 * kRate);
    EXPECT_EQ(std::memcmp(out.left.data() + settled, input.left.data() + settled, (samples - settled) * sizeof(float)),
              0);
    EXPECT_EQ(out.right, input.right);
}

}
