#pragma once
// The host's stand-in for the expression-pedal converter on "/dev/i2c-5": an ADS1115 at address 0x48 whose
// registers behave as the chip's, with AIN0 at the voltage the panel socket last received. The register
// traffic is described in docs/panel-protocol.md.
//
// Threads: the converter's driver calls it from one thread at a time (start-up, then the control loop).
#include "porting/I2cPort.h"

#include <cstdint>
#include <memory>

class PanelSocket;

class PanelConverter : public I2cPort {
public:
    static constexpr const char* kBus = "/dev/i2c-5";
    static constexpr int kAddress = 0x48;

    explicit PanelConverter(std::shared_ptr<const PanelSocket> panel);

    std::string deviceFor(const char* path) override { return path; }
    int open(const char* path) override;
    int selectSlave(int fd, int address) override;
    ssize_t write(int fd, const uint8_t* data, size_t size) override;
    ssize_t read(int fd, uint8_t* data, size_t size) override;
    void close(int fd) override;

private:
    enum Register { Conversion = 0, Config = 1, LowThreshold = 2, HighThreshold = 3 };
    bool addressed(int fd);
    int16_t convert() const;

    static constexpr int kDescriptor = 5;
    std::shared_ptr<const PanelSocket> panel;
    int selectedAddress = -1;
    int pointer = Conversion;
    // The chip's power-on values.
    uint16_t registers[4] = {0x0000, 0x8583, 0x8000, 0x7FFF};
};
