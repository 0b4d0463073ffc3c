#pragma once
// The SPI port of the device: the Linux spidev calls themselves.
#include "porting/SpiPort.h"

class SpidevPort : public SpiPort {
public:
    int open(const char* path) override;
    int writeMode(int fd, uint8_t mode) override;
    int readMode(int fd, uint8_t& mode) override;
    int message(int fd, spi_ioc_transfer& transfer) override;
};
