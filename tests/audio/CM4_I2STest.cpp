// The PCM/I2S driver against a fake register window: pin functions, bit clock, framing, FIFO polling and
// sample conversion.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "audio/CM4_I2S.h"

namespace {

using Reg = CM4_I2S::Reg;
using Cs = CM4_I2S::Cs;

class FakeRegisters {
public:
    FakeRegisters() : words(CM4_I2S::kWindowWords, 0) {}
    volatile uint32_t* base() { return words.data(); }
    uint32_t& operator[](size_t index) { return words[index]; }

private:
    std::vector<uint32_t> words;
};

uint32_t field(uint32_t value, int shift, int bits) { return (value >> shift) & ((1u << bits) - 1); }

}

TEST(CM4_I2S, SetUpProgramsPinsClockAndI2sFraming) {
    FakeRegisters fake;
    // Other pins' functions must survive.
    fake[Reg::kGpFsel1] = 0x3FFFFFFF;
    fake[Reg::kGpFsel2] = 0x3FFFFFFF;
    CM4_I2S codec(fake.base());
    ASSERT_TRUE(codec.initialize());

    for (int pin : {18, 19}) EXPECT_EQ(field(fake[Reg::kGpFsel1], (pin - 10) * 3, 3), 4u) << "pin " << pin;
    for (int pin : {20, 21}) EXPECT_EQ(field(fake[Reg::kGpFsel2], (pin - 20) * 3, 3), 4u) << "pin " << pin;
    EXPECT_EQ(fake[Reg::kGpFsel1] & 0x00FFFFFFu, 0x00FFFFFFu);
    EXPECT_EQ(fake[Reg::kGpFsel2] & 0x3FFFFFC0u, 0x3FFFFFC0u);

    // Clock manager: password on every write, oscillator source, one MASH stage, enabled; the divisor gives
    // 64 bit clocks per 48 kHz frame from 54 MHz.
    EXPECT_EQ(field(fake[Reg::kPcmCtl], 24, 8), 0x5Au);
    EXPECT_EQ(field(fake[Reg::kPcmCtl], 0, 4), 1u);
    EXPECT_EQ(field(fake[Reg::kPcmCtl], 9, 2), 1u);
    EXPECT_EQ(field(fake[Reg::kPcmCtl], 4, 1), 1u);
    EXPECT_EQ(field(fake[Reg::kPcmDiv], 24, 8), 0x5Au);
    double divisor = field(fake[Reg::kPcmDiv], 12, 12) + field(fake[Reg::kPcmDiv], 0, 12) / 4096.0;
    EXPECT_DOUBLE_EQ(54e6 / divisor, 48000.0 * 64);

    // Framing: 64 clocks, frame sync high for 32, inverted, clock inverted, master mode.
    uint32_t mode = fake[Reg::kMode];
    EXPECT_EQ(field(mode, 10, 10) + 1, 64u);
    EXPECT_EQ(field(mode, 0, 10), 32u);
    EXPECT_EQ(field(mode, 20, 1), 1u);
    EXPECT_EQ(field(mode, 22, 1), 1u);
    EXPECT_EQ(field(mode, 21, 1), 0u);
    EXPECT_EQ(field(mode, 23, 1), 0u);
    for (size_t reg : {Reg::kRxc, Reg::kTxc}) {
        uint32_t channels = fake[reg];
        EXPECT_EQ(8 + field(channels, 16, 4) + 16 * field(channels, 31, 1), 32u);
        EXPECT_EQ(8 + field(channels, 0, 4) + 16 * field(channels, 15, 1), 32u);
        EXPECT_EQ(field(channels, 30, 1) & field(channels, 14, 1), 1u);
        EXPECT_EQ(field(channels, 20, 10), 1u) << "I2S: one clock after the frame start";
        EXPECT_EQ(field(channels, 4, 10), 33u);
    }
    EXPECT_EQ(fake[Reg::kCs] & Cs::kEnable, Cs::kEnable);
    EXPECT_EQ(fake[Reg::kCs] & (Cs::kRxOn | Cs::kTxOn), 0u);
    EXPECT_EQ(fake[Reg::kInten], 0u);

    ASSERT_TRUE(codec.start());
    EXPECT_EQ(fake[Reg::kCs] & (Cs::kEnable | Cs::kRxOn | Cs::kTxOn), Cs::kEnable | Cs::kRxOn | Cs::kTxOn);
}

TEST(CM4_I2S, FifoWordsConvertBothWays) {
    enum Way { Both, ToSample, ToWord };
    const struct {
        uint32_t word;
        float sample;
        Way way;
    } cases[] = {
        {0x00000000u, 0.0f, Both},
        {0x40000000u, 0.5f, Both},
        {0xC0000000u, -0.5f, Both},
        {0x80000000u, -1.0f, Both},
        {0x7FFFFFFFu, 1.0f, Both},
        {0x20000000u, 0.25f, Both},
        {0x00000100u, 1.0f / 8388608.0f, ToSample},
        {0x7FFFFFFFu, 2.5f, ToWord},
        {0x80000000u, -3.0f, ToWord},
        {0u, std::numeric_limits<float>::quiet_NaN(), ToWord},
        {0x7FFFFFFFu, std::numeric_limits<float>::infinity(), ToWord},
        {0x7FFFFFFFu, 31.6228f, ToWord},
        {0x80000000u, -31.6228f, ToWord}, // +30 dBFS saturates, never wraps
    };
    for (const auto& c : cases) {
        if (c.way != ToWord) {
            EXPECT_EQ(CM4_I2S::fromWord(c.word), c.sample) << std::hex << c.word;
        }
        if (c.way != ToSample) {
            EXPECT_EQ(CM4_I2S::toWord(c.sample), c.word) << c.sample;
        }
    }
}

TEST(CM4_I2S, ReadsAndWritesThroughTheFifoWhenItIsReadyAndRecoversFromOverflow) {
    FakeRegisters fake;
    CM4_I2S codec(fake.base());
    ASSERT_TRUE(codec.initialize());
    ASSERT_TRUE(codec.start());
    fake[Reg::kCs] |= Cs::kRxHasData | Cs::kTxHasRoom;
    fake[Reg::kFifo] = 0x40000000u;

    float frame[2][16] = {};
    ASSERT_TRUE(codec.read(frame));
    for (int i = 0; i < 32; ++i) EXPECT_EQ(frame[i / 16][i % 16], 0.5f) << i;
    codec.setInputGain(-20.0f * std::log10(2.0f));
    ASSERT_TRUE(codec.read(frame));
    EXPECT_NEAR(frame[1][15], 0.25f, 1e-6);

    // Channel 1 goes first: the last word written is channel 2's last sample.
    std::fill(frame[0], frame[0] + 16, 0.1f);
    std::fill(frame[1], frame[1] + 16, -0.1f);
    frame[1][15] = -0.5f;
    ASSERT_TRUE(codec.write(frame));
    EXPECT_EQ(fake[Reg::kFifo], 0xC0000000u);
    EXPECT_EQ(codec.getOverflows() + codec.getUnderflows(), 0);

    // An overflow clears the FIFO; a stopped clock times out.
    fake[Reg::kCs] |= Cs::kRxHasData | Cs::kRxError;
    EXPECT_TRUE(codec.read(frame));
    EXPECT_EQ(codec.getOverflows(), 1);
    EXPECT_EQ(fake[Reg::kCs] & (Cs::kRxClear | Cs::kRxError), Cs::kRxClear | Cs::kRxError)
        << "the error flag is written back to clear it, with the FIFO";
    fake[Reg::kCs] = Cs::kEnable | Cs::kRxOn | Cs::kTxOn; // no data, no room
    EXPECT_FALSE(codec.read(frame));
    EXPECT_FALSE(codec.write(frame));
}

TEST(CM4_I2S, WithoutRegistersTheHostFindsNoPort) {
    testing::internal::CaptureStdout();
    CM4_I2S codec;
    EXPECT_FALSE(codec.initialize());
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("W (CM4_I2S): "), std::string::npos) << log;
    float frame[2][16] = {};
    EXPECT_FALSE(codec.read(frame));
    EXPECT_FALSE(codec.start());
}
