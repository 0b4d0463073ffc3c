#pragma once
// The expression-pedal converter: an ADS1115 on an I2C bus, set to convert input AIN0 continuously, read
// in millivolts.
//
// Threads: constructed on the main thread at start-up; read_value_mv only from the "controlLoop" thread.
#include <memory>

class I2cPort;

class Ads1115 {
public:
    // Opens the bus where the port says (on the host: below $PEDAL_DEV_ROOT, or the panel's converter),
    // selects the device and writes the configuration: AIN0 against ground, +-4.096 V full scale,
    // continuous, 128 samples per second, comparator off. A failure is logged once and leaves the converter
    // unusable.
    Ads1115(const char* path, int address);
    ~Ads1115();
    Ads1115(const Ads1115&) = delete;
    Ads1115& operator=(const Ads1115&) = delete;

    // The latest conversion in millivolts (0 to 4095; a negative input reads 0), or -1 when the converter
    // is not usable or the read fails (logged; the next call tries again).
    int read_value_mv();
    // True when the device answered its address and took the configuration.
    bool isOk() const { return ok; }

    // The port through which converters constructed from now on reach the bus (null: the i2c-dev calls;
    // the host's panel converter or a test's simulated one).
    static void setPort(std::shared_ptr<I2cPort> port);

private:
    void configure();

    const char* path;
    int fd = -1;
    int address;
    bool ok = false;
    std::shared_ptr<I2cPort> bus;
};
