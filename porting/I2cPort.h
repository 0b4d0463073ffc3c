#pragma once
// The operating-system calls through which the expression-pedal converter reaches its I2C bus. The i2c-dev
// port makes the real calls; the host's panel converter or a test's simulated converter stands in for them.
#include "porting/Paths.h"

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

class I2cPort {
public:
    virtual ~I2cPort() = default;

    // The path open() is given for a bus path such as "/dev/i2c-5": by default where the host keeps its
    // device files (devicePath; "" when there are none, and nothing is opened). A stand-in that is its own
    // bus takes the path as it is.
    virtual std::string deviceFor(const char* path) { return devicePath(path); }

    // open(path, O_RDWR): a descriptor, or -1 with errno set.
    virtual int open(const char* path) = 0;
    // ioctl(fd, I2C_SLAVE, address): later reads and writes address that 7-bit device; 0, or -1 with errno.
    virtual int selectSlave(int fd, int address) = 0;
    // One bus transaction each: the bytes written or read, or -1 with errno set.
    virtual ssize_t write(int fd, const uint8_t* data, size_t size) = 0;
    virtual ssize_t read(int fd, uint8_t* data, size_t size) = 0;
    virtual void close(int fd) = 0;
};
