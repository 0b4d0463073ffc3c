#include "audio/dsp/QuadFIR.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/audio/dsp/Reference.h"

namespace {

// A decaying noise burst, like the tail of a cabinet response.
std::vector<float> decayingResponse(int length, std::uint32_t seed) {
    std::vector<float> response = reference::noise(length, seed);
    for (int i = 0; i < length; ++i) response[i] *= static_cast<float>(std::exp(-3.0 * i / length));
    return response;
}

// Runs `input` through the filter frame by frame on the given lanes.
std::vector<std::vector<float>> run(QuadFIR& fir, std::vector<std::vector<float>> lanes) {
    const std::size_t length = lanes[0].size();
    for (std::size_t i = 0; i < length; i += QuadFIR::kBlock) {
        float* pointers[QuadFIR::kLanes] = {};
        for (std::size_t lane = 0; lane < lanes.size(); ++lane) pointers[lane] = lanes[lane].data() + i;
        fir.process(pointers, static_cast<int>(lanes.size()));
    }
    return lanes;
}

void expectConvolution(const std::vector<float>& output, const std::vector<float>& input,
                       const std::vector<float>& response, const char* what) {
    const std::vector<double> expected = reference::convolve(input, response);
    double tolerance = 2e-5;
    for (double sample : expected) tolerance = std::max(tolerance, 2e-5 * std::fabs(sample));
    for (std::size_t n = 0; n < output.size(); ++n) {
        ASSERT_NEAR(output[n], expected[n], tolerance) << what << " sample " << n;
    }
}

} // namespace

TEST(QuadFIR, PartitionedConvolutionEqualsDirectConvolution) {
    struct Case {
        int maxTaps;
        int length;
    };
    // Lengths on, around and between partition boundaries; a response shorter than the configured maximum;
    // and one longer than it, whose extra taps are dropped.
    const Case cases[] = {{1, 1}, {16, 16}, {32, 17}, {100, 100}, {2048, 2048}, {2048, 700}, {64, 300}};
    for (const Case& c : cases) {
        QuadFIR fir;
        ASSERT_TRUE(fir.configure(c.maxTaps, 1));
        const std::vector<float> response = decayingResponse(c.length, 7u + c.length);
        const float* responses[] = {response.data()};
        ASSERT_TRUE(fir.setImpulseResponses(responses, 1, c.length));
        const std::vector<float> input = reference::noise(4096 + 16 * 40, 3u);
        const auto output = run(fir, {input});
        std::vector<float> used(response.begin(), response.begin() + std::min(c.length, fir.maxTaps()));
        expectConvolution(output[0], input, used, ("taps " + std::to_string(c.length)).c_str());
    }
}

TEST(QuadFIR, EachLaneHasItsOwnResponseOrSharesTheLastOne) {
    QuadFIR fir;
    ASSERT_TRUE(fir.configure(512, 3));
    const auto left = decayingResponse(512, 1u), right = decayingResponse(300, 2u);
    const float* responses[] = {left.data(), right.data()};
    ASSERT_TRUE(fir.setImpulseResponses(responses, 2, 300)); // both cut to 300 taps
    const auto a = reference::noise(2048, 10u), b = reference::noise(2048, 11u), c = reference::noise(2048, 12u);
    const auto output = run(fir, {a, b, c});
    const std::vector<float> leftUsed(left.begin(), left.begin() + 300);
    expectConvolution(output[0], a, leftUsed, "lane 0");
    expectConvolution(output[1], b, right, "lane 1");
    expectConvolution(output[2], c, right, "lane 2 shares lane 1's response");
}

TEST(QuadFIR, PassesThroughUntilAResponseIsLoadedAndSwitchesOnTheNextFrame) {
    QuadFIR fir;
    ASSERT_TRUE(fir.configure(2048, 1));
    const auto input = reference::noise(16 * 60, 5u);
    std::vector<float> samples = input;
    float* lane[] = {samples.data()};
    for (int frame = 0; frame < 20; ++frame) {
        lane[0] = samples.data() + 16 * frame;
        fir.process(lane, 1);
    }
    for (int n = 0; n < 16 * 20; ++n) ASSERT_NEAR(samples[n], input[n], 1e-6) << n;

    // Two uploads before the audio side runs: the later one wins. After the switch the output is the new
    // response applied to the whole input history, so nothing of the old response is mixed in, not even in
    // the work the longer levels had spread over the frames before the switch.
    const auto first = decayingResponse(2048, 20u), second = decayingResponse(1500, 21u);
    const float* firstResponses[] = {first.data()};
    const float* secondResponses[] = {second.data()};
    ASSERT_TRUE(fir.setImpulseResponses(firstResponses, 1, 2048));
    ASSERT_TRUE(fir.setImpulseResponses(secondResponses, 1, 1500));
    EXPECT_TRUE(fir.swapPending());
    for (int frame = 20; frame < 60; ++frame) {
        lane[0] = samples.data() + 16 * frame;
        fir.process(lane, 1);
    }
    EXPECT_FALSE(fir.swapPending());
    const std::vector<double> expected = reference::convolve(input, second);
    for (int n = 16 * 20; n < 16 * 60; ++n) ASSERT_NEAR(samples[n], expected[n], 1e-4) << n;
}

TEST(QuadFIR, RefusesBadArguments) {
    QuadFIR fir;
    const float tap = 1.0f;
    const float* responses[] = {&tap};
    EXPECT_FALSE(fir.setImpulseResponses(responses, 1, 1)) << "before configure";
    EXPECT_FALSE(fir.configure(0, 1));
    EXPECT_FALSE(fir.configure(16, 0));
    EXPECT_FALSE(fir.configure(16, 5));
    ASSERT_TRUE(fir.configure(16, 2));
    EXPECT_FALSE(fir.setImpulseResponses(nullptr, 1, 1));
    EXPECT_FALSE(fir.setImpulseResponses(responses, 0, 1));
    EXPECT_FALSE(fir.setImpulseResponses(responses, 1, 0));
    const float* withNull[] = {&tap, nullptr};
    EXPECT_FALSE(fir.setImpulseResponses(withNull, 2, 1));
    const float notFinite[] = {1.0f, NAN};
    const float* withNan[] = {notFinite};
    EXPECT_FALSE(fir.setImpulseResponses(withNan, 1, 2));
    EXPECT_FALSE(fir.swapPending());
}

// The control thread uploads responses while the audio thread runs: every frame must come out exactly as
// one of the two responses applied to the input, never a blend of a half-written bank.
TEST(QuadFIR, ConcurrentUploadsNeverTearAFrame) {
    constexpr int kTaps = 96;
    const auto first = decayingResponse(kTaps, 30u), second = decayingResponse(kTaps, 31u);
    QuadFIR fir;
    ASSERT_TRUE(fir.configure(kTaps, 1));
    const float* firstResponses[] = {first.data()};
    const float* secondResponses[] = {second.data()};
    ASSERT_TRUE(fir.setImpulseResponses(firstResponses, 1, kTaps));

    std::vector<float> history(16, 0.0f);
    float* silence[] = {history.data()};
    fir.process(silence, 1); // takes the first response

    // The writer uploads again as soon as the audio side has taken the previous upload, as a compile thread
    // does on a slot change, only much faster.
    std::atomic<bool> readerDone{false};
    std::thread writer([&] {
        for (int i = 0; !readerDone.load(); ++i) {
            fir.setImpulseResponses(i % 2 ? firstResponses : secondResponses, 1, kTaps);
            while (fir.swapPending() && !readerDone.load()) std::this_thread::yield();
        }
    });

    int torn = 0;
    int switches = 0;
    bool wasFirst = true;
    // Long enough to see the writer at work even when both threads share one busy core.
    for (int frames = 0; frames < 20000 && (frames < 2000 || switches < 50); ++frames) {
        std::vector<float> frame = reference::noise(16, 1000u + frames);
        history.insert(history.end(), frame.begin(), frame.end());
        float* lane[] = {frame.data()};
        fir.process(lane, 1);
        bool matchesFirst = true, matchesSecond = true;
        for (int i = 0; i < 16; ++i) {
            const std::size_t n = history.size() - 16 + i;
            double a = 0.0, b = 0.0;
            for (int k = 0; k < kTaps && static_cast<std::size_t>(k) <= n; ++k) {
                a += first[k] * static_cast<double>(history[n - k]);
                b += second[k] * static_cast<double>(history[n - k]);
            }
            matchesFirst = matchesFirst && std::fabs(frame[i] - a) < 1e-4;
            matchesSecond = matchesSecond && std::fabs(frame[i] - b) < 1e-4;
        }
        if (!matchesFirst && !matchesSecond) ++torn;
        if (matchesFirst != wasFirst && matchesFirst != matchesSecond) {
            ++switches;
            wasFirst = matchesFirst;
        }
    }
    readerDone = true;
    writer.join();
    EXPECT_EQ(torn, 0) << "with " << switches << " switches seen";
}
