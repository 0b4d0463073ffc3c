// The firmware upload as a remote client sees it: "supd"/"upd" requests through a transport, with the updater
// installed in the remote services the way the program installs it, and the image file they leave behind.
#include "tests/board/BoardTestSupport.h"
#include "remote/ComInterface.h"
#include "core/NodeItem.h"
#include "remote/RemoteServices.h"
#include "board/Update.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

struct Transport : ComInterface {
    using ComInterface::ComInterface;
};

// Every byte value, repeated to the length.
std::string pattern(size_t length, int seed = 0) {
    std::string bytes(length, '\0');
    for (size_t i = 0; i < length; ++i) bytes[i] = char((i * 7 + size_t(seed)) & 0xFF);
    return bytes;
}

std::filesystem::perms modeOf(const std::string& path) {
    return std::filesystem::status(path).permissions() & std::filesystem::perms::mask;
}

class UpdateUpload : public ::testing::Test {
protected:
    void SetUp() override {
        home = boardtest::ownHome();
        image = home + "/app_run";
        RemoteServices::setFirmware({Update::update_start, Update::update_data});
        Update::update_abort();
    }

    std::string request(const std::string& line) { return transport.processRequest(line); }

    NodeItem root{nullptr, "root", "Root", "", "vfolder"};
    Transport transport{&root};
    std::string home;
    std::string image;
};

TEST_F(UpdateUpload, ReplySequencesAndTheImageTheyLeave) {
    const std::string five("\x01\xAB\x00\xFF\x7F", 5);
    const std::string big = pattern(3000);
    struct Case {
        const char* name;
        std::vector<std::string> requests;
        std::vector<std::string> replies;
        std::string installed; // the image afterwards
    } cases[] = {
        {"one batch", {"supd 5", "upd " + testsupport::hex(five)}, {"2048", "5"}, five},
        {"two batches", {"supd 5", "upd 01ab00", "upd ff7f"}, {"2048", "3", "5"}, five},
        {"lower-case digits", {"supd 2", "upd 0aFf"}, {"2048", "2"}, "\x0A\xFF"},
        {"pairs past the size are ignored", {"supd 2", "upd 0102FFFF"}, {"2048", "2"}, "\x01\x02"},
        {"a batch takes at most 2048 bytes",
         {"supd 3000", "upd " + testsupport::hex(big), "upd " + testsupport::hex(big.substr(2048))},
         {"2048", "2048", "3000"},
         big},
        {"refused batches store nothing",
         {"supd 5", "upd 010", "upd 0G", "upd 0102", "upd 0Z0304", "upd 03 4", "upd 030405"},
         {"2048", "0", "0", "2", "2", "2", "5"},
         std::string("\x01\x02\x03\x04\x05", 5)},
        {"a new start drops the transfer in progress",
         {"supd 4", "upd 0909", "supd 2", "upd 0102"},
         {"2048", "2", "2048", "2"},
         "\x01\x02"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(image);
        std::vector<std::string> replies;
        for (const auto& line : c.requests) replies.push_back(request(line));
        EXPECT_EQ(replies, c.replies);
        EXPECT_EQ(boardtest::readFile(image), c.installed);
        EXPECT_EQ(modeOf(image), std::filesystem::perms(0755)) << "executable, and writable by its owner only";
        EXPECT_EQ(request("upd 00"), "0") << "after the install no transfer is in progress";
        EXPECT_FALSE(std::filesystem::exists(image + ".new"));
    }
}

TEST_F(UpdateUpload, TheImageIsWrittenOnlyWithItsLastByte) {
    boardtest::writeFile(image, "working image", std::filesystem::perms(0755));
    EXPECT_EQ(request("supd 5"), "2048");
    EXPECT_EQ(request("upd 010203"), "3");
    EXPECT_EQ(boardtest::readFile(image), "working image");
    EXPECT_EQ(request("upd 0405"), "5");
    EXPECT_EQ(boardtest::readFile(image), std::string("\x01\x02\x03\x04\x05", 5));
}

TEST_F(UpdateUpload, DataWithoutATransferIsRefused) {
    EXPECT_EQ(request("upd 00"), "0") << "before any start";
    const std::string refusedSizes[] = {"0",  "-5", "abc",  "12abc",     "+5",
                                        " 5", "5 ", "0x10", "134217729", "99999999999999999999999"};
    for (const auto& size : refusedSizes) {
        SCOPED_TRACE(size);
        EXPECT_EQ(request("supd " + size), "2048");
        EXPECT_EQ(request("upd 0102"), "0");
    }
    EXPECT_FALSE(std::filesystem::exists(image));
}

TEST_F(UpdateUpload, AShortWriteLeavesTheOldImageAndAFurtherRequestRetries) {
    const std::string old = pattern(5000, 3);
    const std::string fresh = pattern(4000, 11);
    boardtest::writeFile(image, old, std::filesystem::perms(0755));

    // The file size limit makes the write stop short for real, as a full disk would.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);

    EXPECT_EQ(request("supd 4000"), "2048");
    EXPECT_EQ(request("upd " + testsupport::hex(fresh.substr(0, 2048))), "2048");
    EXPECT_EQ(request("upd " + testsupport::hex(fresh.substr(2048))), "0") << "no success for an image not written";
    EXPECT_EQ(boardtest::readFile(image), old) << "the working image is untouched";
    EXPECT_EQ(modeOf(image), std::filesystem::perms(0755));
    EXPECT_FALSE(std::filesystem::exists(image + ".new"));
    EXPECT_EQ(request("upd 00"), "0") << "the write fails again";
    EXPECT_EQ(boardtest::readFile(image), old);

    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
    EXPECT_EQ(request("upd 00"), "4000") << "the kept image is written once it can be";
    EXPECT_EQ(boardtest::readFile(image), fresh);
    EXPECT_EQ(request("upd 00"), "0");
}

TEST_F(UpdateUpload, AFolderThatCannotTakeTheFileGetsZeroUntilItCan) {
    const std::string missing = home + "/not-yet";
    setenv("PEDAL_HOME", missing.c_str(), 1);
    EXPECT_EQ(request("supd 2"), "2048");
    EXPECT_EQ(request("upd 0102"), "0");
    EXPECT_EQ(request("upd 0304"), "0") << "the retry fails as well";
    std::filesystem::create_directories(missing);
    EXPECT_EQ(request("upd 0304"), "2") << "the retry writes the image received, not the retry's data";
    EXPECT_EQ(boardtest::readFile(missing + "/app_run"), "\x01\x02");
}

TEST_F(UpdateUpload, ARunningImageIsReplacedWhileItRuns) {
    std::filesystem::copy_file("/bin/sleep", image);
    std::filesystem::permissions(image, std::filesystem::perms(0755));
    std::string path = image;
    std::string seconds = "120";
    char* argv[] = {path.data(), seconds.data(), nullptr};
    pid_t running = 0;
    ASSERT_EQ(posix_spawn(&running, path.c_str(), nullptr, nullptr, argv, environ), 0);

    const std::string fresh = pattern(100, 5);
    EXPECT_EQ(request("supd 100"), "2048");
    EXPECT_EQ(request("upd " + testsupport::hex(fresh)), "100");
    EXPECT_EQ(boardtest::readFile(image), fresh);
    EXPECT_EQ(kill(running, 0), 0) << "the running image goes on";

    kill(running, SIGKILL);
    int status = 0;
    waitpid(running, &status, 0);
}

}
