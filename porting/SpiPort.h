#pragma once
// The operating-system calls through which the input/output array reaches its SPI device. The spidev port
// makes the real calls; the host's panel socket or a test's simulated shift-register chain stands in for
// them.
#include "porting/Paths.h"

#include <linux/spi/spidev.h>

#include <cstdint>
#include <string>

class SpiPort {
public:
    virtual ~SpiPort() = default;

    // The path open() is given for a device path such as "/dev/spidev0.0": by default where the host keeps
    // its device files (devicePath; "" when there are none, and nothing is opened). A stand-in that is its
    // own device takes the path as it is.
    virtual std::string deviceFor(const char* path) { return devicePath(path); }

    // open(path, O_RDWR): a descriptor, or -1 with errno set.
    virtual int open(const char* path) = 0;
    // ioctl(fd, SPI_IOC_WR_MODE, &mode): 0, or -1 with errno set.
    virtual int writeMode(int fd, uint8_t mode) = 0;
    // ioctl(fd, SPI_IOC_RD_MODE, &mode): 0, or -1 with errno set.
    virtual int readMode(int fd, uint8_t& mode) = 0;
    // ioctl(fd, SPI_IOC_MESSAGE(1), &transfer): shifts transfer.len bytes out of tx_buf while shifting as
    // many into rx_buf; the byte count, or -1 with errno set.
    virtual int message(int fd, spi_ioc_transfer& transfer) = 0;
};
