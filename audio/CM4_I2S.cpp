#include "audio/CM4_I2S.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "audio/dsp/Frame.h"
#include "porting/Log.h"
#include "porting/Shims.h"

#ifdef PEDAL_DEVICE
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

const char* const TAG = "CM4_I2S";
// A frame lasts 333 us; a FIFO that has neither data nor room for this long means the clock has stopped.
const int64_t kFrameTimeoutUs = 20000;
// Between two looks at the FIFO the thread sleeps a fraction of a frame; the 64-word FIFOs hold two frames.
const uint32_t kPollSleepUs = 40;
// Register handshakes (clock busy flag, FIFO sync echo) complete within a few bit clocks.
const int kHandshakeTries = 1000;

bool deviceTreeIsBcm2711() {
    std::ifstream file("/proc/device-tree/compatible", std::ios::binary);
    if (!file) return false;
    std::string compatible((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    return compatible.find("brcm,bcm2711") != std::string::npos;
}

#ifdef PEDAL_DEVICE
uint32_t bigEndianCell(const unsigned char* bytes) {
    return uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 | uint32_t(bytes[3]);
}

// The processor's view of the peripheral bus: the "ranges" of the soc node map bus address 0x7E000000 to the
// physical base. The child address has the soc's own cell count (one); the parent address has the root's
// "#address-cells" (one or two).
uint64_t peripheralBase() {
    const uint64_t fallback = 0xFE000000;
    unsigned char bytes[16] = {};
    int parentCells = 1;
    std::ifstream cellsFile("/proc/device-tree/#address-cells", std::ios::binary);
    if (cellsFile.read(reinterpret_cast<char*>(bytes), 4)) parentCells = int(bigEndianCell(bytes));
    std::ifstream ranges("/proc/device-tree/soc/ranges", std::ios::binary);
    if (!ranges.read(reinterpret_cast<char*>(bytes), 4 + 4 * parentCells)) return fallback;
    if (parentCells == 1) return bigEndianCell(bytes + 4);
    if (parentCells == 2) return (uint64_t(bigEndianCell(bytes + 4)) << 32) | bigEndianCell(bytes + 8);
    return fallback;
}
#endif

}

CM4_I2S::CM4_I2S(volatile uint32_t* registers) : registers(registers) {}

volatile uint32_t* CM4_I2S::mapRegisters() {
    if (!deviceTreeIsBcm2711()) {
        LOGW(TAG, "No BCM2711 in the device tree, no PCM port\n");
        return nullptr;
    }
#ifdef PEDAL_DEVICE
    int fd = open("/dev/mem", O_RDWR | O_SYNC);
    if (fd < 0) {
        LOGE(TAG, "Cannot open /dev/mem: %s\n", std::strerror(errno));
        return nullptr;
    }
    off_t window = off_t(peripheralBase() + kWindowOffset);
    void* mapped = mmap(nullptr, kWindowBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, window);
    close(fd);
    if (mapped == MAP_FAILED) {
        LOGE(TAG, "Cannot map the peripheral registers: %s\n", std::strerror(errno));
        return nullptr;
    }
    return static_cast<volatile uint32_t*>(mapped);
#else
    LOGW(TAG, "The host build does not map /dev/mem\n");
    return nullptr;
#endif
}

bool CM4_I2S::initialize() {
    if (!registers) registers = mapRegisters();
    if (!registers) return false;
    setPinFunctions();
    startClock();
    setUpPcm();
    LOGI(TAG, "PCM port ready, 48000 Hz, 2 x 32 bit I2S\n");
    return true;
}

void CM4_I2S::setPinFunctions() {
    // Three bits per pin: pins 18 and 19 sit in the second select register, 20 and 21 in the third.
    uint32_t select1 = registers[Reg::kGpFsel1];
    select1 &= ~((7u << 24) | (7u << 27));
    select1 |= (kAlt0 << 24) | (kAlt0 << 27);
    registers[Reg::kGpFsel1] = select1;
    uint32_t select2 = registers[Reg::kGpFsel2];
    select2 &= ~((7u << 0) | (7u << 3));
    select2 |= (kAlt0 << 0) | (kAlt0 << 3);
    registers[Reg::kGpFsel2] = select2;
}

void CM4_I2S::startClock() {
    // The divisor may only change while the generator is stopped and no longer busy.
    uint32_t control = registers[Reg::kPcmCtl] & 0xFFFFFFu;
    registers[Reg::kPcmCtl] = Clock::kPassword | (control & ~Clock::kEnable);
    if (!waitFor(Reg::kPcmCtl, Clock::kBusy, 0)) {
        registers[Reg::kPcmCtl] = Clock::kPassword | Clock::kKill;
        LOGW(TAG, "PCM clock did not stop, killed\n");
    }
    registers[Reg::kPcmDiv] = Clock::kPassword | Clock::kDivisor;
    uint32_t settings = Clock::kSourceOscillator | Clock::mash(1);
    registers[Reg::kPcmCtl] = Clock::kPassword | settings;
    registers[Reg::kPcmCtl] = Clock::kPassword | settings | Clock::kEnable;
}

void CM4_I2S::setUpPcm() {
    registers[Reg::kCs] = Cs::kRamOn; // block off while it is set up
    registers[Reg::kInten] = 0;       // polled: no interrupts
    registers[Reg::kDreq] = 0;
    // 64 clocks per frame, frame sync high for the second half (inverted: low marks the left slot); data
    // changes on the falling edge and is sampled on the rising one.
    registers[Reg::kMode] =
        Mode::frameLength(64) | Mode::frameSyncLength(32) | Mode::kFrameSyncInvert | Mode::kClockInvert;
    registers[Reg::kRxc] = kChannelSettings;
    registers[Reg::kTxc] = kChannelSettings;
    registers[Reg::kCs] = Cs::kRamOn | Cs::kEnable;
    // Clearing the FIFOs takes two bit clocks; the sync bit echoes back after the same delay.
    registers[Reg::kCs] = Cs::kRamOn | Cs::kEnable | Cs::kTxClear | Cs::kRxClear | Cs::kSync;
    if (!waitFor(Reg::kCs, Cs::kSync, Cs::kSync)) LOGW(TAG, "PCM sync did not echo; no bit clock?\n");
    registers[Reg::kCs] = Cs::kRamOn | Cs::kEnable | Cs::kTxError | Cs::kRxError;
}

bool CM4_I2S::start() {
    if (!registers) return false;
    // Two frames of silence in the TX FIFO give the first processed frame time to arrive.
    for (int word = 0; word < 64 && (registers[Reg::kCs] & Cs::kTxHasRoom); ++word) registers[Reg::kFifo] = 0;
    registers[Reg::kCs] = Cs::kRamOn | Cs::kEnable | Cs::kRxOn | Cs::kTxOn;
    return true;
}

bool CM4_I2S::waitFor(std::size_t reg, uint32_t mask, uint32_t value) {
    for (int tries = 0; tries < kHandshakeTries; ++tries) {
        if ((registers[reg] & mask) == value) return true;
        vTaskDelay(1);
    }
    return false;
}

bool CM4_I2S::waitStatus(uint32_t bit) {
    if (registers[Reg::kCs] & bit) return true;
    int64_t waited = 0;
    while (waited < kFrameTimeoutUs) {
        vTaskDelay(kPollSleepUs);
        waited += kPollSleepUs;
        if (registers[Reg::kCs] & bit) return true;
    }
    return false;
}

bool CM4_I2S::read(float (*frame)[Frame::kSamples]) {
    if (!registers) return false;
    uint32_t status = registers[Reg::kCs];
    if (status & Cs::kRxError) {
        // An overflow may have cut a frame in half; start again from an empty FIFO so channel 1 stays first.
        ++overflows;
        registers[Reg::kCs] = (status & ~(Cs::kTxError | Cs::kSync)) | Cs::kRxError | Cs::kRxClear;
    }
    for (int sample = 0; sample < Frame::kSamples; ++sample) {
        for (int channel = 0; channel < 2; ++channel) {
            if (!waitStatus(Cs::kRxHasData)) return false;
            frame[channel][sample] = fromWord(registers[Reg::kFifo]) * inputGain;
        }
    }
    return true;
}

bool CM4_I2S::write(float (*frame)[Frame::kSamples]) {
    if (!registers) return false;
    uint32_t status = registers[Reg::kCs];
    if (status & Cs::kTxError) {
        ++underflows;
        registers[Reg::kCs] = (status & ~(Cs::kRxError | Cs::kSync)) | Cs::kTxError;
    }
    for (int sample = 0; sample < Frame::kSamples; ++sample) {
        for (int channel = 0; channel < 2; ++channel) {
            if (!waitStatus(Cs::kTxHasRoom)) return false;
            registers[Reg::kFifo] = toWord(frame[channel][sample]);
        }
    }
    return true;
}

void CM4_I2S::setInputGain(float gainDb) {
    if (!std::isfinite(gainDb)) return;
    inputGain = gainDb == 0.0f ? 1.0f : std::pow(10.0f, gainDb / 20.0f);
}

float CM4_I2S::fromWord(uint32_t word) { return float(int32_t(word)) * (1.0f / 2147483648.0f); }

uint32_t CM4_I2S::toWord(float sample) {
    float scaled = sample * 2147483648.0f;
    if (!(scaled == scaled)) return 0;
    if (scaled >= 2147483648.0f) return 0x7FFFFFFFu;
    if (scaled <= -2147483648.0f) return 0x80000000u;
    return uint32_t(int32_t(scaled));
}
