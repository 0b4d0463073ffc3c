// The expression-pedal converter against a simulated ADS1115 on a simulated I2C bus: the configuration it
// writes, the conversion to millivolts and every way the device can be missing or fail.
#include "nolt/driver/Ads1115.h"
#include "tests/nolt/driver/SimulatedChain.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using sim::SimulatedConverter;

namespace {

std::shared_ptr<SimulatedConverter> installConverter() {
    setenv("PEDAL_DEV_ROOT", sim::kDevRoot, 1);
    auto converter = std::make_shared<SimulatedConverter>();
    Ads1115::setPort(converter);
    return converter;
}

TEST(Ads1115, ConfiguresContinuousConversionOfAin0AndReadsMillivolts) {
    auto converter = installConverter();
    testing::internal::CaptureStdout();
    auto ads = std::make_unique<Ads1115>("/dev/i2c-5", 72);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "I (Ads1115): Device initialized /dev/i2c-5 - 72\n");
    EXPECT_TRUE(ads->isOk());
    ASSERT_EQ(converter->writes.size(), 1u);
    EXPECT_EQ(converter->writes[0], (std::vector<uint8_t>{0x01, 0xC2, 0x83}));
    // 125 uV per count over +-4.096 V; a negative input reads 0, fractions are cut.
    struct Case {
        int16_t count;
        int millivolts;
    } cases[] = {{26400, 3300}, {0, 0}, {7, 0}, {8, 1}, {15, 1}, {-5, 0}, {-32768, 0}, {32767, 4095}, {256, 32}};
    for (const Case& c : cases) {
        converter->count = c.count;
        converter->writes.clear();
        EXPECT_EQ(ads->read_value_mv(), c.millivolts) << "count " << c.count;
        EXPECT_EQ(converter->writes, std::vector<std::vector<uint8_t>>{{0x00}}) << "selects the conversion register";
    }
    // A failed read is logged; the next one tries again.
    converter->failReads = 1;
    testing::internal::CaptureStdout();
    EXPECT_EQ(ads->read_value_mv(), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR (Ads1115): read error\n");
    EXPECT_EQ(ads->read_value_mv(), 32);
    ads.reset();
    EXPECT_EQ(converter->closed, std::vector<int>{SimulatedConverter::kDescriptor});
}

TEST(Ads1115, UnusableConverterReadsMinusOneWithoutTouchingTheBus) {
    struct Case {
        const char* name;
        bool devRoot;
        bool present;
        bool answers;
        bool shortConfigWrite;
        const char* expectedLog;
    } cases[] = {
        {"host without device root", false, true, true, false,
         "W (Ads1115): no device for /dev/i2c-5; expression pedal off\n"},
        {"no bus", true, false, true, false, "ERROR (Ads1115): Failed to open device /simulated/dev/i2c-5\n"},
        {"no device at the address", true, true, false, false, "ERROR (Ads1115): Failed to open address 72\n"},
        {"configuration not taken", true, true, true, true,
         "I (Ads1115): Device initialized /dev/i2c-5 - 72\nERROR (Ads1115): Failed to write config\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto converter = installConverter();
        if (!c.devRoot) unsetenv("PEDAL_DEV_ROOT");
        converter->present = c.present;
        converter->answers = c.answers;
        converter->shortConfigWrite = c.shortConfigWrite;
        converter->count = 8000;
        testing::internal::CaptureStdout();
        Ads1115 ads("/dev/i2c-5", 72);
        const int operationsAfterSetUp = converter->busOperations;
        EXPECT_EQ(ads.read_value_mv(), -1);
        EXPECT_EQ(ads.read_value_mv(), -1);
        const std::string log = testing::internal::GetCapturedStdout();
        EXPECT_EQ(log, c.expectedLog);
        EXPECT_FALSE(ads.isOk());
        EXPECT_EQ(converter->busOperations, operationsAfterSetUp);
        if (!c.devRoot) {
            EXPECT_TRUE(converter->openedPaths.empty()) << "the host opens nothing";
        }
    }
}

}
