#pragma once
// The operating-system calls through which the expression-pedal converter reaches its I2C bus. The i2c-dev
// port makes the real calls; a test installs a simulated converter in its place.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

class I2cPort {
public:
    virtual ~I2cPort() = default;

    // open(path, O_RDWR): a descriptor, or -1 with errno set.
    virtual int open(const char* path) = 0;
    // ioctl(fd, I2C_SLAVE, address): later reads and writes address that 7-bit device; 0, or -1 with errno.
    virtual int selectSlave(int fd, int address) = 0;
    // One bus transaction each: the bytes written or read, or -1 with errno set.
    virtual ssize_t write(int fd, const uint8_t* data, size_t size) = 0;
    virtual ssize_t read(int fd, uint8_t* data, size_t size) = 0;
    virtual void close(int fd) = 0;
};
