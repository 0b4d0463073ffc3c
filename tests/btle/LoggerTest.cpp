#include "btle/btle_logger.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <glib.h>
#include <glib/gstdio.h>

#include <fstream>
#include <cctype>
#include <string>
#include <vector>

namespace {

std::vector<std::string> handled;
void handler(int level, const char* tag, const char* message) {
    handled.push_back(std::to_string(level) + "|" + tag + "|" + message);
}

using testsupport::readFile;

TEST(BtleLogger, LineFormatLevelFilterTruncationAndTheHandler) {
    std::string file = testsupport::temporaryFolder("btlelog") + "/log";
    log_set_filename(file.c_str(), 0, 0);
    log_set_level(LOG_LEVEL_INFO);
    log_debug("Adapter", "dropped %d", 1);
    log_warn("Device", "kept %s", "text");
    log_error("Device", "%s", std::string(2000, 'x').c_str());
    std::string text = readFile(file);
    EXPECT_EQ(text.find("dropped"), std::string::npos);
    // "2026-01-31 12:34:56:789 WARN [Device] kept text": a timestamp of digits in that shape leads the line.
    const std::string shape = "dddd-dd-dd dd:dd:dd:ddd WARN [Device] kept text\n";
    const size_t at = text.find(" WARN [Device] kept text\n");
    ASSERT_TRUE(at != std::string::npos && at >= 23) << text.substr(0, 200);
    for (size_t i = 0; i < shape.size(); ++i) {
        const char c = text[at - 23 + i];
        EXPECT_TRUE(shape[i] == 'd' ? std::isdigit(static_cast<unsigned char>(c)) != 0 : c == shape[i]) << text;
    }
    size_t start = text.find("ERROR [Device] ");
    ASSERT_NE(start, std::string::npos);
    std::string message = text.substr(start + 15);
    EXPECT_EQ(message, std::string(1023, 'x') + "\n");

    // A handler receives the messages instead of the file.
    file = testsupport::temporaryFolder("btlelog") + "/h";
    log_set_filename(file.c_str(), 0, 0);
    log_set_level(LOG_LEVEL_DEBUG);
    log_set_handler(handler);
    log_info("Agent", "value %d", 7);
    log_set_handler(nullptr);
    ASSERT_EQ(handled.size(), 1u);
    EXPECT_EQ(handled[0], "1|Agent|value 7");
    EXPECT_EQ(readFile(file), "");
    log_enabled(0);
    log_error("Agent", "silenced");
    log_enabled(1);
    EXPECT_EQ(readFile(file), "");
}

TEST(BtleLogger, RotationShiftsEveryFileAndOpensAFreshOne) {
    std::string file = testsupport::temporaryFolder("btlelog") + "/x";
    for (int i = 1; i <= 5; i++) {
        std::ofstream(file + "." + std::to_string(i)) << "old" << i;
    }
    std::ofstream(file) << std::string(100, 'c');
    log_set_filename(file.c_str(), 50, 5);
    log_set_level(LOG_LEVEL_ERROR);
    // Below the level: nothing is written, but the full file is still rotated.
    log_debug("Tag", "not written");
    EXPECT_EQ(readFile(file), "");
    EXPECT_EQ(readFile(file + ".1"), std::string(100, 'c'));
    EXPECT_EQ(readFile(file + ".2"), "old1");
    EXPECT_EQ(readFile(file + ".5"), "old4");
}

} // namespace
