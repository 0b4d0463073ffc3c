// The protocol client in tools/ against the real transports: a loopback TCP connection and a USB serial line
// made of two pseudo-terminals joined by a relay, as a cable would join the pedal and a computer. Firmware
// goes to the real updater, which installs the image in the test's home.
#include "Com.h"
#include "ComInterface.h"
#include "NodeItem.h"
#include "NodeList.h"
#include "Peers.h"
#include "RemoteServices.h"
#include "RemoteTestSupport.h"
#include "Serial.h"
#include "Shims.h"
#include "System.h"
#include "Update.h"
#include "Wifi.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <pty.h>
#include <random>
#include <thread>
#include <unistd.h>

namespace {

std::string shellQuoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Moves what is readable on `from` to `to`, keeping what `to` did not take yet.
void relay(int from, int to, std::string& pending) {
    char buffer[4096];
    ssize_t got = read(from, buffer, sizeof(buffer));
    if (got > 0) pending.append(buffer, size_t(got));
    if (pending.empty()) return;
    ssize_t put = write(to, pending.data(), pending.size());
    if (put > 0) pending.erase(0, size_t(put));
}

class TestPedal : public ::testing::Test {
protected:
    void SetUp() override {
        tree = &testTree();
        tree->password->setValue("");
        RemoteServices::setFirmware({Update::update_start, Update::update_data});
        Update::update_abort();
        installedImage = std::string(std::getenv("PEDAL_HOME")) + "/app_run";
        serial = std::make_unique<Serial>(tree->root, "/dev/ttyGS0", 0, 0);
        serial->initialize();
        ASSERT_TRUE(serial->isActive());
        pedalEnd.releaseTerminal();
        ASSERT_EQ(openpty(&computerMaster, &computerTerminal, nullptr, nullptr, nullptr), 0);
        fcntl(computerMaster, F_SETFL, fcntl(computerMaster, F_GETFL) | O_NONBLOCK);
        computerPath = ttyname(computerTerminal);
        wifi = std::make_unique<Wifi>(tree->root, tree->name, 0);
        for (int i = 0; i < 3; ++i) wifi->serverStep(esp_timer_get_time());
        ASSERT_EQ(wifi->getServerState(), Wifi::SERVE);
        tcpAddress = "127.0.0.1:" + std::to_string(wifi->listeningPort());
        pump = std::thread([this] {
            std::string toComputer, toPedal;
            while (!stop) {
                Com::pass();
                relay(pedalEnd.fd(), computerMaster, toComputer);
                relay(computerMaster, pedalEnd.fd(), toPedal);
                usleep(200);
            }
        });
    }
    void TearDown() override {
        stop = true;
        if (pump.joinable()) pump.join();
        if (computerMaster >= 0) close(computerMaster);
        if (computerTerminal >= 0) close(computerTerminal);
        RemoteServices::setFirmware({});
        Update::update_abort();
    }
    // Runs the client; returns its standard output and error, and its exit status in `status`.
    std::string pedalctl(const std::string& where, const std::string& arguments, int& status) {
        std::string output;
        status = runProgram(PEDAL_PYTHON, std::string(PEDAL_SOURCE_DIR) + "/tools/pedalctl.py " + where + " " + arguments,
                            output);
        return output;
    }

    TestTree* tree = nullptr;
    std::string installedImage;  // where the updater puts the image
    PtyPeer pedalEnd;
    std::unique_ptr<Serial> serial;
    std::unique_ptr<Wifi> wifi;
    int computerMaster = -1, computerTerminal = -1;
    std::string computerPath, tcpAddress;
    std::atomic<bool> stop{false};
    std::thread pump;
};

TEST_F(TestPedal, ClientDrivesThePedalIdenticallyOverTcpAndSerial) {
    std::string image(5000, '\0');
    std::mt19937 random(7);
    for (char& byte : image) byte = char(random());
    std::string folder = testFolder("client");
    std::string imageFile = folder + "/app_run";
    writeFile(imageFile, image);
    // A compressing list of impulse responses and a plain preset list.
    static NodeList* irs = new NodeList(System::appNode(), "irs", "IRs", "wav_48000", 8192, 2, 64, true);
    static NodeList* presets = new NodeList(System::appNode(), "presets", "Presets", "preset", 256, 4);
    std::string impulse;
    for (int i = 0; i < 6000; ++i) impulse += char(i % 251 < 40 ? random() : i % 7);
    std::string preset = "root\\app\\amp\\gain:{\"value\":3.0}\r\nroot\\app\\amp\\label:{\"value\":\"x\"}";
    writeFile(folder + "/impulse", impulse);
    writeFile(folder + "/preset", preset);
    const std::string password = "--password s3cret ";

    struct Step {
        std::string arguments;
        int status;
    } steps[] = {
        {"browse " + shellQuoted("root\\app\\amp"), 0},
        {"write " + shellQuoted("root\\app\\amp\\label") + " '\"lead\"'", 0},
        {"set-password s3cret", 0},
        {"write " + shellQuoted("root\\app\\amp\\label") + " '\"blocked\"'", 2},
        {"--password wrong write " + shellQuoted("root\\app\\amp\\label") + " '\"blocked\"'", 1},
        {"--password s3cret write " + shellQuoted("root\\app\\amp\\label") + " '\"unlocked\"'", 0},
        {"--password s3cret firmware " + shellQuoted(imageFile), 0},
        {password + "upload-slot " + shellQuoted("root\\app\\irs") + " 1 Room " + shellQuoted(folder + "/impulse"), 0},
        {password + "download-slot " + shellQuoted("root\\app\\irs") + " 1 " + shellQuoted(folder + "/impulse.back"), 0},
        {password + "upload-slot " + shellQuoted("root\\app\\presets") + " 0 Clean " + shellQuoted(folder + "/preset"), 0},
        {password + "swap-slots " + shellQuoted("root\\app\\presets") + " 0 2", 0},
        {password + "download-slot " + shellQuoted("root\\app\\presets") + " 2 " + shellQuoted(folder + "/preset.back"), 0},
        {"--password s3cret set-password ''", 0},
        {"read " + shellQuoted("root\\app\\amp\\label"), 0},
    };
    std::vector<std::string> outputs[2];
    const std::string where[2] = {"--tcp " + tcpAddress, "--serial " + shellQuoted(computerPath)};
    for (int transport = 0; transport < 2; ++transport) {
        tree->label->setValue("clean");
        std::filesystem::remove(installedImage);
        for (const Step& step : steps) {
            int status = -1;
            std::string output = pedalctl(where[transport], step.arguments, status);
            EXPECT_EQ(status, step.status) << where[transport] << " " << step.arguments << "\n" << output;
            outputs[transport].push_back(output);
        }
        EXPECT_EQ(tree->label->getValue(), "unlocked");
        EXPECT_TRUE(readFile(installedImage) == image) << "the image installed whole over " << where[transport];
        EXPECT_FALSE(std::filesystem::exists(installedImage + ".new")) << where[transport];
        EXPECT_EQ(irs->nameAt(1), "Room");
        EXPECT_EQ(presets->nameAt(2), "Clean");
        EXPECT_TRUE(readFile(folder + "/impulse.back") == impulse) << where[transport];
        EXPECT_EQ(readFile(folder + "/preset.back"), preset) << where[transport];
        presets->deleteAt(2);
        EXPECT_EQ(tree->password->getValue(), "");
    }
    EXPECT_EQ(outputs[0], outputs[1]) << "the same replies over both transports";

    const std::vector<std::string>& tcp = outputs[0];
    struct Reference : ComInterface {
        using ComInterface::ComInterface;
    };
    tree->label->setValue("clean");
    EXPECT_EQ(tcp[0], Reference(tree->root).processRequest("browse root\\app\\amp") + "\n");
    EXPECT_EQ(tcp[1], "root\\app\\amp\\label:{\"value\":\"lead\"}\r\n\n");
    EXPECT_EQ(tcp[5], "root\\app\\amp\\label:{\"value\":\"unlocked\"}\r\n\n");
    EXPECT_EQ(tcp[6], "installed\n");
    EXPECT_EQ(tcp[7], "uploaded\n");
    EXPECT_EQ(tcp[8], "Room\n");
    EXPECT_EQ(tcp[13], "root\\app\\amp\\label:{\"value\":\"unlocked\"}\n");
}

TEST_F(TestPedal, AnImageThatCannotBeWrittenFailsTheClientAndKeepsTheInstalledOne) {
    const std::string working = "working image";
    const std::string fresh(3000, '\x5A');
    std::string folder = testFolder("client");
    writeFile(folder + "/fresh", fresh);
    const std::string where[2] = {"--tcp " + tcpAddress, "--serial " + shellQuoted(computerPath)};
    for (const std::string& transport : where) {
        writeFile(installedImage, working);
        // A folder where the updater writes the new image before renaming it makes that write fail for real.
        std::filesystem::create_directory(installedImage + ".new");
        int status = -1;
        std::string output = pedalctl(transport, "firmware " + shellQuoted(folder + "/fresh"), status);
        EXPECT_EQ(status, 1) << transport << "\n" << output;
        EXPECT_NE(output.find("upload failed"), std::string::npos) << transport << "\n" << output;
        EXPECT_EQ(readFile(installedImage), working) << transport;

        std::filesystem::remove(installedImage + ".new");
        output = pedalctl(transport, "firmware " + shellQuoted(folder + "/fresh"), status);
        EXPECT_EQ(status, 0) << transport << "\n" << output;
        EXPECT_TRUE(readFile(installedImage) == fresh) << "a new upload starts over and installs, over " << transport;
    }
}

TEST_F(TestPedal, ClientHashAgreesWithThePedal) {
    // Passwords with bytes beyond ASCII and of every length around the hash's 8-byte blocks.
    for (std::string password : {"a", "1234567", "12345678", "123456789", "p\xc3\xa4sswort mit L\xc3\xa4nge 24"}) {
        tree->password->setValue(password);
        int status = -1;
        std::string output = pedalctl("--tcp " + tcpAddress + " --password " + shellQuoted(password),
                                      "write " + shellQuoted("root\\app\\amp\\label") + " '\"ok\"'", status);
        EXPECT_EQ(status, 0) << password << "\n" << output;
    }
    tree->password->setValue("");
}

}
