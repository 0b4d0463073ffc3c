#include "nolt/driver/Ads1115.h"

#include "nolt/driver/I2cDevPort.h"
#include "porting/I2cPort.h"
#include "porting/Log.h"

#include <cstdint>
#include <mutex>
#include <string>

namespace {
const char* const TAG = "Ads1115";

// Register pointer 1 (configuration), then the word 0xC283 most significant byte first: start a
// conversion, AIN0 against ground, +-4.096 V (125 uV per count), continuous, 128 samples per second,
// comparator disabled.
const uint8_t kConfiguration[3] = {0x01, 0xC2, 0x83};
const uint8_t kConversionRegister = 0x00;
constexpr double kMillivoltsPerCount = 0.125;

std::mutex portMutex;
std::shared_ptr<I2cPort> installedPort;

std::shared_ptr<I2cPort> currentPort() {
    std::lock_guard<std::mutex> lock(portMutex);
    if (!installedPort) installedPort = std::make_shared<I2cDevPort>();
    return installedPort;
}
}

void Ads1115::setPort(std::shared_ptr<I2cPort> port) {
    std::lock_guard<std::mutex> lock(portMutex);
    installedPort = std::move(port);
}

Ads1115::Ads1115(const char* path, int address) : path(path), address(address), bus(currentPort()) {
    const std::string device = bus->deviceFor(path);
    if (device.empty()) {
        LOGW(TAG, "no device for %s; expression pedal off\n", path);
        return;
    }
    fd = bus->open(device.c_str());
    if (fd < 0) {
        LOGE(TAG, "Failed to open device %s\n", device.c_str());
        return;
    }
    if (bus->selectSlave(fd, address) < 0) {
        LOGE(TAG, "Failed to open address %d\n", address);
        return;
    }
    LOGI(TAG, "Device initialized %s - %d\n", path, address);
    ok = true;
    configure();
}

Ads1115::~Ads1115() {
    if (fd >= 0) bus->close(fd);
}

void Ads1115::configure() {
    if (bus->write(fd, kConfiguration, sizeof kConfiguration) < ssize_t(sizeof kConfiguration)) {
        LOGE(TAG, "Failed to write config\n");
        ok = false;
    }
}

int Ads1115::read_value_mv() {
    if (!ok) return -1;
    // The pointer write's result is not looked at: a failed one shows as a failed read below.
    (void)bus->write(fd, &kConversionRegister, 1);
    uint8_t count[2] = {0, 0};
    if (bus->read(fd, count, sizeof count) != ssize_t(sizeof count)) {
        LOGE(TAG, "read error\n");
        return -1;
    }
    const int16_t signedCount = int16_t(uint16_t(count[0] << 8 | count[1]));
    const double millivolts = signedCount * kMillivoltsPerCount;
    return millivolts < 0 ? 0 : int(millivolts);
}
