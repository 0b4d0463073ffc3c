#include "nolt/driver/SpidevPort.h"

#include <fcntl.h>
#include <sys/ioctl.h>

int SpidevPort::open(const char* path) { return ::open(path, O_RDWR | O_CLOEXEC); }

int SpidevPort::writeMode(int fd, uint8_t mode) { return ::ioctl(fd, SPI_IOC_WR_MODE, &mode); }

int SpidevPort::readMode(int fd, uint8_t& mode) { return ::ioctl(fd, SPI_IOC_RD_MODE, &mode); }

int SpidevPort::message(int fd, spi_ioc_transfer& transfer) { return ::ioctl(fd, SPI_IOC_MESSAGE(1), &transfer); }
