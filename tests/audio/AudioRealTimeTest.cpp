// The audio pass allocates nothing: every operator new of this program is counted while a pass runs on the
// test's thread, through a whole fade, with the USB bridge streaming and a codec reading and writing. And the
// audio thread's flush-to-zero.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "tests/support/AllocationCounter.h"
#include "audio/AudioBlock.h"
#include "audio/AudioProcessor.h"
#include "audio/AudioUSB.h"
#include "audio/Codec.h"
#include "audio/CodecInterface.h"

namespace {

// A codec that hands out a ramp and takes the output back, without waiting.
class MemoryCodec : public CodecInterface {
public:
    const char* getName() const override { return "memory"; }
    bool initialize() override { return true; }
    bool start() override { return true; }
    bool read(float (*frame)[16]) override {
        for (int i = 0; i < 16; ++i) frame[0][i] = frame[1][i] = 0.01f * float(i);
        return true;
    }
    bool write(float (*frame)[16]) override {
        written += frame[0][15];
        return true;
    }
    void setInputGain(float) override {}
    float written = 0.0f;
};

}

TEST(AudioRealTime, AudioPassAllocatesNothing) {
    AudioBlock block(
        "halving", nullptr, [](void*, float(*frame)[Frame::kSamples]) { return frame[0][0] *= 0.5f, false; },
        AudioBlock::kFront);
    setenv("PEDAL_CODEC", "none", 1);
    MemoryCodec codec;
    Codec::add(&codec);
    ASSERT_TRUE(Codec::initialize());
    AudioUSB::beginStreaming();
    using allocationcounter::CountingScope;
    using allocationcounter::Source;
    using allocationcounter::Threads;
    {
        // The counter sees allocations: this one must count (kept from being optimised away).
        CountingScope scope(Threads::Current, Source::OperatorNew);
        static void* volatile sink;
        sink = ::operator new(16);
        ::operator delete(sink);
        ASSERT_EQ(scope.Allocations(), 1);
    }

    long allocations = 0;
    {
        CountingScope scope(Threads::Current, Source::OperatorNew);
        for (int frame = 0; frame < 20; ++frame) ASSERT_TRUE(AudioProcessor::audioStep());
        AudioProcessor::debounce(nullptr);
        for (int frame = 0; frame < 25; ++frame) ASSERT_TRUE(AudioProcessor::audioStep());
        allocations += scope.Allocations();
    }
    ASSERT_EQ(AudioProcessor::getFadeState(), AudioProcessor::FadeState::Silent);
    AudioProcessor::compileStep();
    {
        CountingScope scope(Threads::Current, Source::OperatorNew);
        // Both rings prime and both resamplers run: the bridge's transfers between the audio thread's frames.
        float captured[AudioUSB::kPeriodSamples * 2] = {};
        float toPlay[AudioUSB::kPeriodSamples * 2];
        for (int period = 0; period < 10; ++period) {
            for (int frame = 0; frame < 4; ++frame) ASSERT_TRUE(AudioProcessor::audioStep());
            AudioUSB::hostPeriod(captured, toPlay, AudioUSB::kPeriodSamples);
        }
        allocations += scope.Allocations();
        EXPECT_NE(toPlay[AudioUSB::kPeriodSamples * 2 - 2], 0.0f) << "the pedal's output reached the host";
    }
    EXPECT_EQ(AudioProcessor::getFadeState(), AudioProcessor::FadeState::Idle);
    EXPECT_EQ(allocations, 0);
    EXPECT_NE(codec.written, 0.0f);
}

TEST(AudioRealTime, FlushToZeroTurnsSubnormalsIntoZero) {
    volatile float tiny = 1e-30f;
    volatile float scale = 1e-10f;
    float before = tiny * scale;
    ASSERT_NE(before, 0.0f) << "a subnormal result without flush-to-zero";
    AudioProcessor::enableFlushToZero();
    float after = tiny * scale;
    EXPECT_EQ(after, 0.0f);
}
