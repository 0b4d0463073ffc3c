#pragma once
// The module's PCM/I2S port driven directly through the BCM2711 peripheral registers: the pins through the
// GPIO function select, the bit clock from the PCM clock manager (the processor is the clock master: 64 bit
// clocks per frame, 3.072 MHz from the 54 MHz oscillator), and the PCM block in I2S framing with two 32-bit
// slots. The audio thread polls the FIFOs.
//
// Every register is reached through one base pointer to a window of the peripheral space that runs from
// the clock manager to the end of the PCM block. On the device the window is mapped from "/dev/mem" when the
// device tree names a BCM2711; a test hands the constructor a fake block of memory of kWindowWords words.
#include <cstddef>
#include <cstdint>

#include "audio/CodecInterface.h"
#include "audio/dsp/Frame.h"

class CM4_I2S : public CodecInterface {
public:
    // The window: from the clock manager (peripheral base + 0x101000) to the end of the PCM block
    // (peripheral base + 0x203000 + 0x24), rounded to whole pages.
    static constexpr uint32_t kWindowOffset = 0x100000;
    static constexpr std::size_t kWindowBytes = 0x104000;
    static constexpr std::size_t kWindowWords = kWindowBytes / 4;

    // Word indexes of the registers inside the window.
    struct Reg {
        // Clock manager, PCM clock.
        static constexpr std::size_t kPcmCtl = (0x1000 + 0x98) / 4;
        static constexpr std::size_t kPcmDiv = (0x1000 + 0x9C) / 4;
        // GPIO function select for pins 10..19 and 20..29.
        static constexpr std::size_t kGpFsel1 = (0x100000 + 0x04) / 4;
        static constexpr std::size_t kGpFsel2 = (0x100000 + 0x08) / 4;
        // PCM block.
        static constexpr std::size_t kCs = (0x103000 + 0x00) / 4;
        static constexpr std::size_t kFifo = (0x103000 + 0x04) / 4;
        static constexpr std::size_t kMode = (0x103000 + 0x08) / 4;
        static constexpr std::size_t kRxc = (0x103000 + 0x0C) / 4;
        static constexpr std::size_t kTxc = (0x103000 + 0x10) / 4;
        static constexpr std::size_t kDreq = (0x103000 + 0x14) / 4;
        static constexpr std::size_t kInten = (0x103000 + 0x18) / 4;
    };

    // Control and status bits of the PCM block.
    struct Cs {
        static constexpr uint32_t kEnable = 1u << 0;
        static constexpr uint32_t kRxOn = 1u << 1;
        static constexpr uint32_t kTxOn = 1u << 2;
        static constexpr uint32_t kTxClear = 1u << 3;
        static constexpr uint32_t kRxClear = 1u << 4;
        static constexpr uint32_t kTxError = 1u << 15;
        static constexpr uint32_t kRxError = 1u << 16;
        static constexpr uint32_t kTxHasRoom = 1u << 19; // TXD: the TX FIFO takes a word
        static constexpr uint32_t kRxHasData = 1u << 20; // RXD: the RX FIFO holds a word
        static constexpr uint32_t kSync = 1u << 24;
        static constexpr uint32_t kRamOn = 1u << 25; // STBY: takes the FIFO RAM out of standby
    };

    // Mode bits.
    struct Mode {
        static constexpr uint32_t kFrameSyncInvert = 1u << 20;
        static constexpr uint32_t kClockInvert = 1u << 22;
        static constexpr uint32_t frameSyncLength(uint32_t clocks) { return clocks & 0x3FF; }
        static constexpr uint32_t frameLength(uint32_t clocks) { return ((clocks - 1) & 0x3FF) << 10; }
    };

    // Clock manager: every write carries the password; the divisor is 12.12 fixed point.
    struct Clock {
        static constexpr uint32_t kPassword = 0x5Au << 24;
        static constexpr uint32_t kEnable = 1u << 4;
        static constexpr uint32_t kKill = 1u << 5;
        static constexpr uint32_t kBusy = 1u << 7;
        static constexpr uint32_t kSourceOscillator = 1;
        static constexpr uint32_t mash(uint32_t stages) { return (stages & 3) << 9; }
        static constexpr uint32_t kOscillatorHz = 54000000;
        static constexpr uint32_t kBitClockHz = 48000 * 64;
        // 54 MHz / 3.072 MHz = 17.578125: integer 17, fraction 0.578125 * 4096 = 2368, both exact.
        static constexpr uint32_t kDivisor = (17u << 12) | 2368u;
    };

    // Channel settings (RXC and TXC): two 32-bit slots, channel 1 one clock after the frame start (I2S
    // delay), channel 2 one clock after the middle of the frame.
    static constexpr uint32_t kChannelSettings =
        (1u << 31) | (1u << 30) | (1u << 20) | (8u << 16) | (1u << 15) | (1u << 14) | (33u << 4) | 8u;
    static constexpr uint32_t kAlt0 = 4; // GPIO function ALT0: PCM on pins 18 (clock), 19 (frame), 20, 21

    // registers: the window to use (a test's fake); null maps the real one in initialize().
    explicit CM4_I2S(volatile uint32_t* registers = nullptr);

    const char* getName() const override { return "CM4_I2S"; }
    bool initialize() override;
    bool start() override;
    bool read(float (*frame)[Frame::kSamples]) override;
    bool write(float (*frame)[Frame::kSamples]) override;
    void setInputGain(float gainDb) override;

    // 32-bit FIFO word to a sample in [-1, 1) and back (clamped; NaN gives 0).
    static float fromWord(uint32_t word);
    static uint32_t toWord(float sample);
    // FIFO overflows and underflows seen since start (each one resynchronises the FIFO).
    int getOverflows() const { return overflows; }
    int getUnderflows() const { return underflows; }

private:
    static volatile uint32_t* mapRegisters();
    void setPinFunctions();
    void startClock();
    void setUpPcm();
    bool waitFor(std::size_t reg, uint32_t mask, uint32_t value);
    // Waits until the status bit is set; false after the frame timeout.
    bool waitStatus(uint32_t bit);

    volatile uint32_t* registers;
    float inputGain = 1.0f;
    int overflows = 0;
    int underflows = 0;
};
