#include "porting/Mac.h"
#include "porting/Process.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>

// Quoting for the shell is the Wi-Fi connection test's: hostile settings reach the tool byte for byte.
TEST(ProcessDeathTest, FatalSignalPrintsABackTraceAndExitsWithOne) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The line comes from a fixed table, not from strsignal (not safe in a handler).
    const std::pair<int, const char*> fatals[] = {{SIGSEGV, "SIGSEGV"}, {SIGABRT, "SIGABRT"}, {SIGTRAP, "SIGTRAP"}};
    for (const auto& [fatal, name] : fatals) {
        EXPECT_EXIT(
            {
                install_fatal_handler();
                std::raise(fatal);
            },
            testing::ExitedWithCode(1),
            std::string("Fatal signal: ") + name + " \\(" + std::to_string(fatal) + "\\)\n.*ProcessTest")
            << fatal;
    }
}

TEST(Mac, WithoutAnAdapterTheAddressStaysZero) {
    struct stat adapter {};
    if (stat("/sys/class/bluetooth/hci0", &adapter) == 0) GTEST_SKIP() << "this machine has hci0";
    uint8_t mac[6] = {1, 2, 3, 4, 5, 6};
    testing::internal::CaptureStdout();
    esp_read_mac(mac, 2);
    std::string log = testing::internal::GetCapturedStdout();
    for (uint8_t byte : mac) EXPECT_EQ(byte, 0);
    EXPECT_EQ(log.rfind("ERROR (MAC Read): ", 0), 0u) << log;
}
