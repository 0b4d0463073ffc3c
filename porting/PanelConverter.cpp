#include "porting/PanelConverter.h"

#include "porting/PanelSocket.h"

#include <cerrno>
#include <cmath>
#include <cstring>

namespace {
// Configuration fields: operational status (write 1: start a single conversion), input multiplexer, gain
// (full scale) and mode (1: single conversion, then power down).
constexpr uint16_t kStartConversion = 0x8000;
constexpr int kMuxShift = 12;
constexpr uint16_t kMuxMask = 0x7;
constexpr uint16_t kMuxAin0ToGround = 0x4;
constexpr int kGainShift = 9;
constexpr uint16_t kGainMask = 0x7;
constexpr uint16_t kSingleShot = 0x0100;

// Full scale in millivolts for each gain setting; the last three are all the smallest range.
constexpr double kFullScaleMillivolts[8] = {6144, 4096, 2048, 1024, 512, 256, 256, 256};
}

PanelConverter::PanelConverter(std::shared_ptr<const PanelSocket> panel) : panel(std::move(panel)) {}

int PanelConverter::open(const char* path) {
    if (std::strcmp(path, kBus) != 0) {
        errno = ENOENT;
        return -1;
    }
    return kDescriptor;
}

int PanelConverter::selectSlave(int fd, int address) {
    if (fd != kDescriptor) {
        errno = EBADF;
        return -1;
    }
    // As with i2c-dev, selecting an address touches no wire: a missing device shows on the transfers.
    selectedAddress = address;
    return 0;
}

bool PanelConverter::addressed(int fd) {
    if (fd != kDescriptor) {
        errno = EBADF;
        return false;
    }
    if (selectedAddress != kAddress) {
        errno = ENXIO;
        return false;
    }
    return true;
}

ssize_t PanelConverter::write(int fd, const uint8_t* data, size_t size) {
    if (!addressed(fd)) return -1;
    if (size == 0) return 0;
    pointer = data[0] & 0x3;
    if (size >= 3 && pointer != Conversion) {
        const uint16_t value = uint16_t(data[1] << 8 | data[2]);
        if (pointer == Config) {
            // The start bit is a command and reads back as 1 (no conversion under way): a single conversion is
            // done at once.
            registers[Config] = uint16_t(value | kStartConversion);
            if (value & kSingleShot && value & kStartConversion) registers[Conversion] = uint16_t(convert());
        } else {
            registers[pointer] = value;
        }
    }
    return ssize_t(size < 3 ? size : 3);
}

ssize_t PanelConverter::read(int fd, uint8_t* data, size_t size) {
    if (!addressed(fd)) return -1;
    if (pointer == Conversion && !(registers[Config] & kSingleShot)) registers[Conversion] = uint16_t(convert());
    const uint16_t value = registers[pointer];
    if (size >= 1) data[0] = uint8_t(value >> 8);
    if (size >= 2) data[1] = uint8_t(value & 0xFF);
    return ssize_t(size < 2 ? size : 2);
}

void PanelConverter::close(int) {}

int16_t PanelConverter::convert() const {
    const uint16_t config = registers[Config];
    if (((config >> kMuxShift) & kMuxMask) != kMuxAin0ToGround) return 0;
    const double fullScale = kFullScaleMillivolts[(config >> kGainShift) & kGainMask];
    const double count = std::round(panel->ain0Millivolts() / fullScale * 32768.0);
    if (count > 32767) return 32767;
    if (count < -32768) return -32768;
    return int16_t(count);
}
