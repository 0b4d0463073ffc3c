// The protocol client in tools/ against the real transports: a loopback TCP connection and a USB serial line
// made of two pseudo-terminals joined by a relay, as a cable would join the pedal and a computer. Firmware
// goes to the real updater, which installs the image in the test's home.
#include "remote/Com.h"
#include "core/NodeItem.h"
#include "core/NodeList.h"
#include "tests/remote/Peers.h"
#include "tests/support/ProcessTestSupport.h"
#include "remote/RemoteServices.h"
#include "tests/remote/RemoteTestSupport.h"
#include "remote/Serial.h"
#include "porting/Shims.h"
#include "core/System.h"
#include "board/Update.h"
#include "remote/Wifi.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netdb.h>
#include <poll.h>
#include <pty.h>
#include <random>
#include <sys/socket.h>
#include <sys/wait.h>
#include <functional>
#include <future>
#include <thread>
#include <tuple>
#include <unistd.h>

using namespace std::string_literals;

namespace {

std::string shellQuoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Runs the client; its exit status, with its standard output and error in `output`.
int pedalctl(const std::string& arguments, std::string& output) {
    return runProgram(PEDAL_PYTHON, std::string(PEDAL_SOURCE_DIR) + "/tools/pedalctl.py " + arguments, output);
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

// The USB cable: a thread moves bytes both ways between the pedal's pseudo-terminal (its master end) and a
// second one, the computer's (`path`), running `pass` before each round.
class Cable {
public:
    explicit Cable(
        int pedalEnd, std::function<void()> pass = [] {}) {
        if (openpty(&master, &terminal, nullptr, nullptr, nullptr) != 0) return;
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        path = ttyname(terminal);
        thread = std::thread([this, pedalEnd, pass] {
            std::string toComputer, toPedal;
            while (!stop) {
                pass();
                relay(pedalEnd, master, toComputer);
                relay(master, pedalEnd, toPedal);
                usleep(200);
            }
        });
    }
    ~Cable() {
        stop = true;
        if (thread.joinable()) thread.join();
        for (int fd : {master, terminal})
            if (fd >= 0) close(fd);
    }
    int master = -1, terminal = -1;
    std::string path;

private:
    std::atomic<bool> stop{false};
    std::thread thread;
};

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
        wifi = std::make_unique<Wifi>(tree->root, tree->name, 0);
        for (int i = 0; i < 3; ++i) wifi->serverStep(esp_timer_get_time());
        ASSERT_EQ(wifi->getServerState(), Wifi::SERVE);
        tcpAddress = "127.0.0.1:" + std::to_string(wifi->listeningPort());
        cable = std::make_unique<Cable>(pedalEnd.fd(), [] { Com::pass(); });
        ASSERT_FALSE(cable->path.empty());
    }
    void TearDown() override {
        cable.reset();
        RemoteServices::setFirmware({});
        Update::update_abort();
    }

    TestTree* tree = nullptr;
    std::string installedImage; // where the updater puts the image
    PtyPeer pedalEnd;
    std::unique_ptr<Serial> serial;
    std::unique_ptr<Wifi> wifi;
    std::unique_ptr<Cable> cable;
    std::string tcpAddress;
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
    const std::string password = "--password s3cret ", label = shellQuoted("root\\app\\amp\\label") + " ",
                      irList = shellQuoted("root\\app\\irs"), presetList = shellQuoted("root\\app\\presets"),
                      dir = shellQuoted(folder);

    struct Step {
        std::string arguments;
        int status;
    } steps[] = {
        {"browse " + shellQuoted("root\\app\\amp"), 0},
        {"write " + label + "'\"lead\"'", 0},
        {"set-password s3cret", 0},
        {"write " + label + "'\"blocked\"'", 2},
        {"--password wrong write " + label + "'\"blocked\"'", 1},
        {password + "write " + label + "'\"unlocked\"'", 0},
        {password + "firmware " + dir + "/app_run", 0},
        {password + "upload-slot " + irList + " 1 Room " + dir + "/impulse", 0},
        {password + "download-slot " + irList + " 1 " + dir + "/impulse.back", 0},
        {password + "upload-slot " + presetList + " 0 Clean " + dir + "/preset", 0},
        {password + "swap-slots " + presetList + " 0 2", 0},
        {password + "download-slot " + presetList + " 2 " + dir + "/preset.back", 0},
        {password + "set-password ''", 0},
        {"read " + label, 0},
    };
    std::vector<std::string> outputs[2];
    const std::string where[2] = {"--tcp " + tcpAddress, "--serial " + shellQuoted(cable->path)};
    for (int transport = 0; transport < 2; ++transport) {
        tree->label->setValue("clean");
        std::filesystem::remove(installedImage);
        for (const Step& step : steps) {
            std::string output;
            EXPECT_EQ(pedalctl(where[transport] + " " + step.arguments, output), step.status)
                << where[transport] << " " << step.arguments << "\n"
                << output;
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
    const std::string where[2] = {"--tcp " + tcpAddress, "--serial " + shellQuoted(cable->path)};
    for (const std::string& transport : where) {
        writeFile(installedImage, working);
        // A folder where the updater writes the new image before renaming it makes that write fail for real.
        std::filesystem::create_directory(installedImage + ".new");
        std::string output;
        EXPECT_EQ(pedalctl(transport + " firmware " + shellQuoted(folder + "/fresh"), output), 1) << transport;
        EXPECT_NE(output.find("upload failed"), std::string::npos) << transport << "\n" << output;
        EXPECT_EQ(readFile(installedImage), working) << transport;

        std::filesystem::remove(installedImage + ".new");
        EXPECT_EQ(pedalctl(transport + " firmware " + shellQuoted(folder + "/fresh"), output), 0) << output;
        EXPECT_TRUE(readFile(installedImage) == fresh) << "a new upload starts over and installs, over " << transport;
    }
}

TEST_F(TestPedal, ClientHashAgreesWithThePedal) {
    // Passwords with bytes beyond ASCII and of every length around the hash's 8-byte blocks.
    for (std::string password : {"a", "1234567", "12345678", "123456789", "p\xc3\xa4sswort mit L\xc3\xa4nge 24"}) {
        tree->password->setValue(password);
        std::string output;
        EXPECT_EQ(pedalctl("--tcp " + tcpAddress + " --password " + shellQuoted(password) + " write " +
                               shellQuoted("root\\app\\amp\\label") + " '\"ok\"'",
                           output),
                  0)
            << password << "\n"
            << output;
    }
    tree->password->setValue("");
}

// ---- The pedal program itself ----

constexpr int kWaitSeconds = 30;
using processtest::freePort;
using processtest::waitFor;

// A connection to the loopback address of the family (AF_INET or AF_INET6); -1 when refused.
int connectTo(int port, int family = AF_INET) {
    addrinfo hints{}, *found = nullptr;
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    if (getaddrinfo(family == AF_INET6 ? "::1" : "127.0.0.1", std::to_string(port).c_str(), &hints, &found) != 0)
        return -1;
    int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (connect(fd, found->ai_addr, found->ai_addrlen) != 0) {
        close(fd);
        fd = -1;
    }
    freeaddrinfo(found);
    return fd;
}

// What arrives on fd up to a NUL, without it; what came before the peer closed or went quiet.
std::string nulEnded(int fd) {
    std::string text;
    char byte;
    while (read(fd, &byte, 1) == 1 && byte != '\0') text += byte;
    return text;
}

// Sends each request on its own connection at once, each from its own thread as concurrent clients would, and
// reads its reply up to and with its NUL. "" for a connection that failed.
std::vector<std::string> concurrentRequests(int port, const std::vector<std::string>& requests, int family = AF_INET) {
    std::vector<std::string> replies(requests.size());
    std::vector<std::thread> clients;
    for (size_t i = 0; i < requests.size(); ++i)
        clients.emplace_back([&, i] {
            const int fd = connectTo(port, family);
            if (fd < 0) return;
            timeval timeout{kWaitSeconds, 0};
            for (int option : {SO_RCVTIMEO, SO_SNDTIMEO}) setsockopt(fd, SOL_SOCKET, option, &timeout, sizeof(timeout));
            send(fd, requests[i].c_str(), requests[i].size() + 1, MSG_NOSIGNAL);
            char buffer[65536];
            ssize_t count = 0;
            while ((replies[i].empty() || replies[i].back() != '\0') &&
                   (count = recv(fd, buffer, sizeof(buffer), 0)) > 0)
                replies[i].append(buffer, size_t(count));
            close(fd);
        });
    for (std::thread& client : clients) client.join();
    return replies;
}

// A peak of a process's memory in bytes from /proc (field "VmHWM:", resident, or "VmPeak:", reserved);
// -1 when unreadable.
long peakMemory(pid_t pid, const std::string& field = "VmHWM:") {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + field.size()) * 1024;
    }
    return -1;
}

// The pedal program as the full application, in a home of its own, with its TCP server on a free port
// and its USB serial port on a pseudo-terminal joined to the computer's by a cable.
class RealPedal : public ::testing::Test {
protected:
    void SetUp() override {
        home = testFolder("real-pedal");
        port = freePort();
        start({"PEDAL_DEV_ROOT="s + std::getenv("PEDAL_DEV_ROOT")});
        pedalEnd.releaseTerminal();
        cable = std::make_unique<Cable>(pedalEnd.fd());
        ASSERT_FALSE(cable->path.empty());
    }
    void TearDown() override {
        cable.reset();
        stop();
    }
    void start(std::vector<std::string> extra, int family = AF_INET) {
        // Under AddressSanitizer freed memory is held back for a while, so the peak would grow with every
        // reply ever sent: without that quarantine it measures what the program holds.
        const char* sanitizer = std::getenv("ASAN_OPTIONS");
        extra.push_back("ASAN_OPTIONS="s + (sanitizer ? sanitizer : "") +
                        ":quarantine_size_mb=0:thread_local_quarantine_size_kb=0");
        extra.push_back("APP_CALLED=1");
        extra.push_back("PEDAL_TCP_PORT=" + std::to_string(port));
        pid = processtest::spawnPedal(PEDAL_BINARY, home, extra);
        ASSERT_GT(pid, 0);
        const std::string log = home + "/pedal.log";
        ASSERT_TRUE(waitFor([&] { return !concurrentRequests(port, {"browse " + VOLUME}, family)[0].empty(); }))
            << readFile(log);
    }
    void stop() {
        if (pid <= 0) return;
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        pid = -1;
    }
    std::string tcp() const { return "--tcp 127.0.0.1:" + std::to_string(port); }
    std::string serial() const { return "--serial " + shellQuoted(cable->path); }

    const std::string VOLUME = "root\\app\\output\\vol";
    std::string home;
    int port = 0;
    pid_t pid = -1;
    PtyPeer pedalEnd; // where the pedal opens its USB serial port
    std::unique_ptr<Cable> cable;
};

TEST_F(RealPedal, MemoryStaysBoundedUnderHugeRepliesAndTheLargestFirmwareSize) {
    std::string browse = "browse root\r\n";
    std::string attack;
    while (attack.size() + browse.size() < 65535) attack += browse;
    ASSERT_EQ(attack.size() / browse.size(), 5041u);
    std::string piece = concurrentRequests(port, {"browse root"})[0];
    ASSERT_GT(piece.size(), 10000u) << "the whole product tree";
    piece.pop_back();
    // Settled: what the program needs for ordinary replies is in the baseline.
    long baseline = 0;
    ASSERT_TRUE(waitFor([&] {
        long before = peakMemory(pid);
        usleep(500000);
        baseline = peakMemory(pid);
        return before == baseline;
    }));
    // The device locks all its memory, so what is only reserved here counts there: the reserved peak too.
    long reserved = peakMemory(pid, "VmPeak:");

    // Meters change between walks, so pieces are counted by their first entry.
    const std::string first = piece.substr(0, piece.find("\r\n"));
    for (const std::string& reply : concurrentRequests(port, {attack, attack, attack})) {
        ASSERT_GT(reply.size(), 1u);
        EXPECT_LE(reply.size(), ComInterface::REPLY_BUDGET + 1);
        size_t pieces = 0;
        for (size_t at = reply.find(first); at != std::string::npos; at = reply.find(first, at + 1)) ++pieces;
        EXPECT_EQ(pieces, ComInterface::REPLY_BUDGET / piece.size());
        EXPECT_EQ(reply.substr(reply.size() - 2), "}\0"s) << "ends after a whole piece";
    }
    std::string upload = "supd 134217728";
    std::string counts = "2048";
    for (int i = 1; i <= 15; ++i) {
        upload += "\r\nupd " + std::string(4096, 'A');
        counts += std::to_string(i * 2048);
    }
    EXPECT_EQ(concurrentRequests(port, {upload})[0], counts + '\0');
    long growth = peakMemory(pid) - baseline;
    EXPECT_LT(growth, 16L << 20) << "peak resident memory grew by " << growth << " bytes";
    growth = peakMemory(pid, "VmPeak:") - reserved;
    EXPECT_LT(growth, 16L << 20) << "peak reserved memory grew by " << growth << " bytes";
}

TEST_F(RealPedal, ClientFailuresEndWithOneLineAndAnExitCode) {
    std::string output;
    auto oneLine = [&](const std::string& expected) {
        EXPECT_EQ(output.find("Traceback"), std::string::npos) << output;
        EXPECT_EQ(output.find('\n'), output.size() - 1) << output;
        EXPECT_NE(output.find(expected), std::string::npos) << output;
    };
    for (const std::string& where : {tcp(), serial()}) {
        SCOPED_TRACE(where);
        for (const char* command :
             {" browse 'root\\app\\none'", " read 'root\\app\\none'", " write 'root\\app\\none' 3"}) {
            EXPECT_EQ(pedalctl(where + command, output), 1);
            oneLine("pedalctl: no node root\\app\\none");
        }
        EXPECT_EQ(pedalctl(where + " write " + shellQuoted(VOLUME) + " 150", output), 1);
        oneLine("pedalctl: the pedal took 100.0 instead of 150 for " + VOLUME);
        EXPECT_EQ(pedalctl(where + " write " + shellQuoted(VOLUME) + " 64", output), 0) << output;
        EXPECT_EQ(output, VOLUME + ":{\"value\":64}\r\n\n");
        EXPECT_EQ(pedalctl(where + " set-password s3cret", output), 0) << output;
        writeFile(home + "/image", "image");
        EXPECT_EQ(pedalctl(where + " firmware " + shellQuoted(home + "/image"), output), 1);
        oneLine("pedalctl: the pedal refused the upload: it has a password");
        EXPECT_EQ(pedalctl(where + " --password s3cret set-password ''", output), 0) << output;
    }
    for (const auto& [arguments, message] : std::vector<std::pair<std::string, std::string>>{
             {"--tcp 127.0.0.1:abc browse root", "pedalctl: bad TCP address '127.0.0.1:abc'"},
             {"--tcp '[::1' browse root", "pedalctl: bad TCP address '[::1'"},
             {"--tcp 127.0.0.1:" + std::to_string(freePort()) + " browse root", "pedalctl: cannot connect to"},
             {"--serial /nonexistent/tty browse root", "pedalctl: cannot open the serial port /nonexistent/tty"},
             {"--serial /dev/null browse root", "pedalctl: /dev/null is not a serial port"},
             {tcp() + " write " + shellQuoted(VOLUME) + " notjson", "pedalctl: the value notjson is not JSON"}}) {
        EXPECT_EQ(pedalctl(arguments, output), 1) << arguments;
        oneLine(message);
    }
}

TEST_F(RealPedal, SerialClientDiscardsWhatAnEarlierClientLeft) {
    // An earlier client asked for the whole tree and quit after the first bytes; another left half a request.
    ASSERT_EQ(make_port_raw(cable->terminal), 0);
    ASSERT_EQ(write(cable->terminal, "browse root", 12), 12);
    usleep(100000);
    char some[100];
    ASSERT_GT(read(cable->terminal, some, sizeof(some)), 0);
    ASSERT_EQ(write(cable->terminal, "browse ro", 9), 9);
    std::string output;
    EXPECT_EQ(pedalctl(serial() + " browse " + shellQuoted(VOLUME), output), 0) << output;
    std::string expected = concurrentRequests(port, {"browse " + VOLUME})[0];
    ASSERT_EQ(expected.rfind(VOLUME + ":{\"type\":\"float\"", 0), 0u) << expected;
    expected.back() = '\n';
    EXPECT_EQ(output, expected);
}

TEST_F(RealPedal, ClientReachesThePedalOverIpv6) {
    stop();
    start({"PEDAL_TCP_ADDRESS=::1"}, AF_INET6);
    std::string output;
    std::string where = "--tcp '[::1]:" + std::to_string(port) + "'";
    EXPECT_EQ(pedalctl(where + " browse " + shellQuoted(VOLUME), output), 0) << output;
    EXPECT_EQ(output.rfind(VOLUME + ":{", 0), 0u) << output;
}

TEST_F(RealPedal, AnInterruptedUploadFailsAndNoChunkIsSentTwice) {
    // The pedal ends while the client uploads.
    std::string folder = testFolder("upload");
    writeFile(folder + "/image", std::string(4 << 20, '\x5A'));
    std::string output;
    std::thread killer([&] {
        waitFor([&] { return readFile(home + "/pedal.log").find("start: 4194304") != std::string::npos; });
        usleep(200000);
        stop();
    });
    int status = pedalctl(tcp() + " firmware " + shellQuoted(folder + "/image"), output);
    killer.join();
    EXPECT_EQ(status, 1) << output;
    EXPECT_NE(output.find("pedalctl: upload interrupted at byte "), std::string::npos) << output;
    EXPECT_NE(output.find("the image was not installed"), std::string::npos) << output;
}

// The pedal takes a swap (a write) whose reply is lost on the way back: pedalctl never sends it again, reads
// the slots (the value) back and reports what it finds, or fails when the two slots cannot be told apart. A
// download whose reply is lost starts over on the new connection.
TEST_F(RealPedal, ASwapWhoseReplyIsLostIsReportedAsThePedalHasIt) {
    // A relay to the pedal that drops the reply to the first swap of each run and closes that connection.
    int listenerPort = 0;
    const int listener = loopbackListener(listenerPort);
    ASSERT_GE(listener, 0);
    std::atomic<int> swaps{0};
    std::atomic<const std::string*> dropped{nullptr};
    std::atomic<bool> ended{false};
    std::thread relayer([&] {
        while (!ended) {
            pollfd entry{listener, POLLIN, 0};
            if (poll(&entry, 1, 100) != 1) continue;
            const int client = accept(listener, nullptr, nullptr), pedal = connectTo(port);
            timeval timeout{kWaitSeconds, 0};
            for (int fd : {client, pedal}) setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
            for (std::string text; !(text = nulEnded(client)).empty();) {
                send(pedal, text.c_str(), text.size() + 1, MSG_NOSIGNAL);
                const std::string reply = nulEnded(pedal);
                if (text.rfind(*dropped, 0) == 0 && swaps++ == 0) break;
                send(client, reply.c_str(), reply.size() + 1, MSG_NOSIGNAL);
            }
            close(client);
            close(pedal);
        }
    });
    std::string output;
    writeFile(home + "/slot", std::string(300, 'd'));
    for (const char* slot : {"0 A", "1 B"})
        ASSERT_EQ(pedalctl(tcp() + " upload-slot 'root\\presets' " + slot + " " + shellQuoted(home + "/slot"), output),
                  0)
            << output;
    const std::string relayed = "--tcp 127.0.0.1:" + std::to_string(listenerPort);
    // Two named slots are told apart by their names; two empty ones are not.
    for (const auto& [command, line, status, report, sent] :
         std::vector<std::tuple<std::string, std::string, int, std::string, int>>{
             {"swap-slots 'root\\presets' 0 1", "dswap ", 0, "swapped", 1},
             {"swap-slots 'root\\presets' 2 3", "dswap ", 1, "whether the slots were swapped is unknown", 1},
             {"write " + shellQuoted(VOLUME) + " 30", "write ", 0, VOLUME + ":{\"value\":30}", 1},
             {"download-slot 'root\\presets' 0 " + shellQuoted(home + "/back"),
              "dread root\\presets:{\"index\":0,\"chunk\":2}", 0, "B", 3}}) {
        SCOPED_TRACE(command);
        swaps = 0;
        dropped = &line;
        EXPECT_EQ(pedalctl(relayed + " " + command, output), status) << output;
        EXPECT_NE(output.find(report), std::string::npos) << output;
        EXPECT_EQ(swaps, sent) << "a change is sent once";
        const std::string names = concurrentRequests(port, {"browse root\\presets"})[0];
        EXPECT_NE(names.find("[\"B\",\"A\",\"\","), std::string::npos) << "swapped once: " << names;
    }
    ended = true;
    relayer.join();
    close(listener);
}

// Three clients and a guesser at once, over TCP and the serial line: one row per piece of state clients
// could share (the thread that runs requests, the slots, the guess back-off, an upload, a download copy).
TEST_F(RealPedal, ManyClientsAtOnceNeitherShutEachOtherOutNorMixTransfers) {
    using Clock = std::chrono::steady_clock;
    auto since = [](Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); };
    auto ask = [](int fd, const std::string& request) {
        timeval timeout{kWaitSeconds, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout)); // a socket's; the line has none
        return write(fd, request.c_str(), request.size() + 1) > 0 ? nulEnded(fd) : "";
    };
    ASSERT_EQ(make_port_raw(cable->terminal), 0);
    std::string output;
    const std::string presets = " 'root\\presets' ", password = " --password s3cret";
    auto upload = [&](const std::string& where, const std::string& slot, const std::string& data, std::string& said) {
        writeFile(home + "/" + slot, data);
        return pedalctl(where + " upload-slot" + presets + slot + " " + shellQuoted(home + "/" + slot), said);
    };
    // Clients that hold connections while fresh ones come: each loops until told to stop and counts the
    // wrong answers it was answered.
    std::atomic<bool> stopped{false};
    std::atomic<int> wrong{0};
    auto holder = [&](const std::string& request, bool reconnect, int pauseMs) {
        for (int fd = -1; !stopped; usleep(pauseMs * 1000)) {
            if (fd < 0 && (fd = connectTo(port)) >= 0) ask(fd, "token -");
            const std::string reply = ask(fd, request);
            if (reply.find(" n\r\n") != std::string::npos) ++wrong;
            if (reply.empty() || reconnect) close(std::exchange(fd, -1));
        }
    };
    const std::string guess = "token 0000000000000000";
    auto shutOut = [&](int holders, const std::string& request, bool reconnect, int pauseMs, const std::string& lock) {
        ASSERT_EQ(lock.empty() ? 0 : pedalctl(tcp() + " set-password s3cret", output), 0) << output;
        stopped = false;
        wrong = 0;
        std::vector<std::thread> threads;
        for (int i = 0; i < holders; ++i) threads.emplace_back(holder, request, reconnect, pauseMs);
        const Clock::time_point start = Clock::now();
        usleep(500000);
        for (int run = 0; run < 5 || since(start) < 15; ++run) {
            // Each fresh client comes while every guesser is at it.
            const int mark = wrong;
            waitFor([&] { return lock.empty() || wrong >= mark + holders; }, kWaitSeconds);
            const Clock::time_point asked = Clock::now();
            EXPECT_EQ(pedalctl(tcp() + lock + " write " + shellQuoted(VOLUME) + " 64", output), 0) << output;
            EXPECT_LE(since(asked), 5.0) << "a fresh client waited, run " << run;
        }
        stopped = true;
        for (std::thread& thread : threads) thread.join();
        EXPECT_LE(wrong * 60.0 / since(start), 45.0) << wrong << " wrong answers in " << since(start) << " s";
        EXPECT_EQ(lock.empty() ? 0 : pedalctl(tcp() + lock + " set-password ''", output), 0) << output;
    };
    const std::vector<std::pair<std::string, std::function<void()>>> cases = {
        {"a request of swaps",
         [&] {
             ASSERT_EQ(upload(tcp(), "0 A", "a", output) + upload(tcp(), "1 B", "b", output), 0) << output;
             std::string flood;
             while (flood.size() < 63000) flood += "dswap root\\presets:{\"index\":0,\"index2\":1}\r\n";
             const int attacker = connectTo(port), other = connectTo(port);
             std::future<std::string> swapped = std::async(std::launch::async, ask, attacker, flood);
             double slowest = 0;
             while (swapped.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
                 for (int fd : {other, cable->terminal}) {
                     const Clock::time_point asked = Clock::now();
                     EXPECT_EQ(ask(fd, "browse root\\sys\\_name").rfind("root\\sys\\_name:", 0), 0u);
                     slowest = std::max(slowest, since(asked));
                 }
             }
             const std::string reply = swapped.get();
             EXPECT_LE(slowest, 1.0) << "another client waited";
             EXPECT_GT(count(reply, "dswap"), 0u);
             EXPECT_LT(count(reply, "dswap"), count(flood, "dswap")) << "the request stopped at its work budget";
             for (int fd : {attacker, other}) close(fd);
         }},
        {"guessing connections", [&] { shutOut(3, guess, false, 0, password); }},
        {"a reconnecting guesser", [&] { shutOut(1, guess, true, 0, password); }},
        {"quiet connections", [&] { shutOut(3, "", false, 4000, ""); }},
        {"two uploads",
         [&] {
             for (const char* slots : {"2 3", "4 4"}) {
                 const std::string a(4000, slots[0]), b(3000, slots[2]), nameA = "FromA"s + slots[0],
                                                                         nameB = "FromB"s + slots[2];
                 std::thread other([&] {
                     std::string said;
                     EXPECT_EQ(upload(serial(), slots[2] + " "s + nameB, b, said), 0) << said;
                 });
                 EXPECT_EQ(upload(tcp(), slots[0] + " "s + nameA, a, output), 0) << output;
                 other.join();
                 for (auto [slot, name, data] : {std::tuple(slots[0], nameA, a), std::tuple(slots[2], nameB, b)}) {
                     pedalctl(tcp() + " download-slot" + presets + slot + " " + shellQuoted(home + "/back"), output);
                     EXPECT_TRUE(output == name + "\n" || slots[0] == slots[2]) << slots << output;
                     EXPECT_TRUE(readFile(home + "/back") == (output == nameA + "\n" ? a : b)) << slots << output;
                 }
             }
         }},
        {"a resumed download",
         [&] {
             ASSERT_EQ(upload(tcp(), "5 Old5", std::string(300, 'o'), output), 0) << output;
             const int before = connectTo(port), after = connectTo(port);
             const std::string read = "dread root\\presets:{\"index\":5,\"chunk\":";
             for (const char* chunk : {"0}", "1}"}) ask(before, read + chunk);
             ASSERT_EQ(upload(tcp(), "5 New5", std::string(200, 'n'), output), 0) << output;
             EXPECT_EQ(ask(after, read + "2}"), "\r\n") << "no copy of slot 5 on this connection";
             EXPECT_NE(ask(before, read + "2}").find("\"size\":300"), std::string::npos) << "its own copy";
             for (int fd : {before, after}) close(fd);
             EXPECT_EQ(pedalctl(tcp() + " download-slot" + presets + "9 " + shellQuoted(home + "/back"), output), 1);
             EXPECT_NE(output.find("slot 9 of root\\presets is empty"), std::string::npos) << output;
         }},
    };
    for (const auto& [what, check] : cases) {
        SCOPED_TRACE(what);
        check();
    }
}

TEST(PedalctlUpload, NeverSendsAChunkTwiceAfterABrokenConnection) {
    // A peer that takes the start and two chunks, then breaks the connection without replying to the second.
    int listenerPort = 0;
    const int listener = loopbackListener(listenerPort);
    ASSERT_GE(listener, 0);
    std::vector<std::string> requests;
    std::thread peer([&] {
        for (int connection = 0; connection < 2; ++connection) {
            pollfd entry{listener, POLLIN, 0};
            if (poll(&entry, 1, 3000) != 1) break;
            int fd = accept(listener, nullptr, nullptr);
            for (const char* reply : {"2048", "2048", static_cast<const char*>(nullptr)}) {
                std::string text = nulEnded(fd);
                if (text.empty()) break;
                requests.push_back(text.substr(0, 4));
                if (!reply) break;
                send(fd, reply, std::strlen(reply) + 1, MSG_NOSIGNAL);
            }
            close(fd);
        }
    });
    std::string folder = testFolder("upload");
    writeFile(folder + "/image", std::string(6000, '\x11'));
    std::string output;
    int status = pedalctl(
        "--tcp 127.0.0.1:" + std::to_string(listenerPort) + " firmware " + shellQuoted(folder + "/image"), output);
    peer.join();
    close(listener);
    EXPECT_EQ(status, 1) << output;
    EXPECT_NE(output.find("pedalctl: upload interrupted at byte 2048"), std::string::npos) << output;
    EXPECT_EQ(requests, (std::vector<std::string>{"supd", "upd ", "upd "})) << "the second chunk went once";
}

}
