#pragma once
// A shift-register chain behind a simulated spidev device, and a converter behind a simulated I2C bus: the
// peers the driver and board tests talk to instead of the hardware.
#include "porting/I2cPort.h"
#include "nolt/driver/IOArray.h"
#include "nolt/driver/Light.h"
#include "porting/SpiPort.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

// Where the simulated devices live: device paths are mapped below this root.
constexpr const char* kDevRoot = "/simulated";

class SimulatedChain : public SpiPort {
public:
    explicit SimulatedChain(int bytes) : inputs(size_t(bytes), 0) {}

    int open(const char* path) override {
        std::lock_guard<std::mutex> lock(mutex);
        openedPaths.push_back(path);
        if (std::string(path) != std::string(kDevRoot) + IOArray::kDevice) {
            errno = ENOENT;
            return -1;
        }
        return kDescriptor;
    }
    int writeMode(int fd, uint8_t mode) override {
        std::lock_guard<std::mutex> lock(mutex);
        if (fd != kDescriptor) return fail(EBADF);
        this->mode = mode;
        return 0;
    }
    int readMode(int fd, uint8_t& mode) override {
        std::lock_guard<std::mutex> lock(mutex);
        if (fd != kDescriptor) return fail(EBADF);
        mode = this->mode;
        return 0;
    }
    // Shifts the output frame in and the panel's contacts out, as the chain does in one transfer.
    int message(int fd, spi_ioc_transfer& transfer) override {
        std::lock_guard<std::mutex> lock(mutex);
        if (fd != kDescriptor) return fail(EBADF);
        if (failing > 0) {
            --failing;
            return fail(EIO);
        }
        lastTransfer = transfer;
        const auto* out = reinterpret_cast<const uint8_t*>(uintptr_t(transfer.tx_buf));
        auto* in = reinterpret_cast<uint8_t*>(uintptr_t(transfer.rx_buf));
        if (recording) sent.emplace_back(out, out + transfer.len);
        for (uint32_t i = 0; i < transfer.len; ++i) in[i] = i < inputs.size() ? inputs[i] : 0;
        return int(transfer.len);
    }

    // The contact of input line `line` reads `level` from the next transfer on.
    void setInput(int line, int level) {
        std::lock_guard<std::mutex> lock(mutex);
        uint8_t& byte = inputs[size_t(line / 8)];
        byte = level ? uint8_t(byte | (1u << (line % 8))) : uint8_t(byte & ~(1u << (line % 8)));
    }
    void failNext(int count) {
        std::lock_guard<std::mutex> lock(mutex);
        failing = count;
    }
    std::vector<std::vector<uint8_t>> takeSent() {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<std::vector<uint8_t>> frames;
        frames.swap(sent);
        return frames;
    }

    static constexpr int kDescriptor = 9;
    std::mutex mutex;
    std::vector<std::string> openedPaths;
    uint8_t mode = 0xFF;
    bool recording = true;
    spi_ioc_transfer lastTransfer{};

private:
    int fail(int error) {
        errno = error;
        return -1;
    }
    std::vector<uint8_t> inputs;
    std::vector<std::vector<uint8_t>> sent;
    int failing = 0;
};

// A program runs its cases in one process too: each starts with the array and the LED not set up.
class FreshDrivers : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override {
        Light::deinitialize();
        IOArray::deinitialize();
    }
};
inline const bool freshDriversInstalled =
    (testing::UnitTest::GetInstance()->listeners().Append(new FreshDrivers), true);

// Brings the array up on the simulated chain with the SPI thread's steps left to the test.
inline std::shared_ptr<SimulatedChain> startChain(int lines, int scanFrequency, int bufferMs, int pwmDepth) {
    setenv("PEDAL_DEV_ROOT", kDevRoot, 1);
    auto chain = std::make_shared<SimulatedChain>((lines + 7) / 8);
    IOArray::setPort(chain);
    IOArray::setSpiThread(false);
    IOArray::initialize(lines, scanFrequency, bufferMs, pwmDepth, -2, -2, -2, -2);
    IOArray::spi_open();
    return chain;
}

// Performs every queued transfer and takes every frame back, leaving the ring empty.
inline void drain() {
    while (IOArray::spi_step() != 0) {}
    while (IOArray::has_data() != 0) {}
}

// An ADS1115 on a simulated bus: the configuration it was sent and the conversion it presents.
class SimulatedConverter : public I2cPort {
public:
    int open(const char* path) override {
        openedPaths.push_back(path);
        if (!present) {
            errno = ENOENT;
            return -1;
        }
        return kDescriptor;
    }
    int selectSlave(int fd, int address) override {
        if (fd != kDescriptor || !answers) {
            errno = EIO;
            return -1;
        }
        selectedAddress = address;
        return 0;
    }
    ssize_t write(int fd, const uint8_t* data, size_t size) override {
        if (fd != kDescriptor) return -1;
        ++busOperations;
        writes.emplace_back(data, data + size);
        return size > 1 && shortConfigWrite ? ssize_t(size - 1) : ssize_t(size);
    }
    ssize_t read(int fd, uint8_t* data, size_t size) override {
        if (fd != kDescriptor) return -1;
        ++busOperations;
        if (failReads > 0) {
            --failReads;
            errno = EIO;
            return -1;
        }
        const uint16_t raw = uint16_t(count);
        if (size >= 1) data[0] = uint8_t(raw >> 8);
        if (size >= 2) data[1] = uint8_t(raw & 0xFF);
        return ssize_t(size < 2 ? size : 2);
    }
    void close(int fd) override { closed.push_back(fd); }

    static constexpr int kDescriptor = 11;
    bool present = true;
    bool answers = true;
    bool shortConfigWrite = false;
    int failReads = 0;
    int16_t count = 0;
    int selectedAddress = -1;
    int busOperations = 0;
    std::vector<std::string> openedPaths;
    std::vector<std::vector<uint8_t>> writes;
    std::vector<int> closed;
};

}
