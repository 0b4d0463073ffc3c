#include "nolt/driver/I2cDevPort.h"

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <sys/ioctl.h>
#include <unistd.h>

int I2cDevPort::open(const char* path) { return ::open(path, O_RDWR | O_CLOEXEC); }

int I2cDevPort::selectSlave(int fd, int address) { return ::ioctl(fd, I2C_SLAVE, address); }

ssize_t I2cDevPort::write(int fd, const uint8_t* data, size_t size) { return ::write(fd, data, size); }

ssize_t I2cDevPort::read(int fd, uint8_t* data, size_t size) { return ::read(fd, data, size); }

void I2cDevPort::close(int fd) { ::close(fd); }
