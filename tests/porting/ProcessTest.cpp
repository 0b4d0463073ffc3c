#include "porting/Mac.h"
#include "porting/Process.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>

TEST(Process, EscapeShQuotesForSingleQuotedArguments) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"", ""}, {"plain", "plain"}, {"it's", "it'\\''s"}, {"''", "'\\'''\\''"}, {"a\"b $x", "a\"b $x"},
    };
    for (const Case& c : cases) EXPECT_EQ(escape_sh(c.in), c.out) << c.in;
    // What it gives survives the shell.
    std::string text = "Joe's \"net\" $HOME `x` ;'";
    std::string command = "test \"$(printf '%s' '" + escape_sh(text) + "')\" = '" + escape_sh(text) + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
}

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
