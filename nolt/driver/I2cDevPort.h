#pragma once
// The I2C port of the device: the Linux i2c-dev calls themselves.
#include "porting/I2cPort.h"

class I2cDevPort : public I2cPort {
public:
    int open(const char* path) override;
    int selectSlave(int fd, int address) override;
    ssize_t write(int fd, const uint8_t* data, size_t size) override;
    ssize_t read(int fd, uint8_t* data, size_t size) override;
    void close(int fd) override;
};
