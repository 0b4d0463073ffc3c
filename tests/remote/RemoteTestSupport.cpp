#include "tests/remote/RemoteTestSupport.h"

#include "core/NodeFloat.h"
#include "core/NodeItem.h"
#include "porting/Shims.h"
#include "core/System.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
std::atomic<int64_t> manualNow{0};
int64_t manualStart = 0;

void addBulk(int count) {
    auto* bulk = new NodeItem(System::appNode(), "bulk", "Bulk", "", "vfolder");
    for (int i = 0; i < count; ++i) {
        std::string key = "p" + std::to_string(i);
        new NodeFloat(bulk, key.c_str(), "A parameter with a long display name", 0, 100, 50, "%", 0.5f, false, 2);
    }
}
}

TestTree& testTree(int extraNodes) {
    static TestTree tree;
    if (tree.root) {
        if (extraNodes > 0 && !tree.root->pathToNode("root\\app\\bulk")) addBulk(extraNodes);
        return tree;
    }
    System::initialize("remote-test");
    tree.root = System::rootNode();
    tree.amp = new NodeItem(System::appNode(), "amp", "Amp", "", "hfolder");
    tree.gain = new NodeFloat(tree.amp, "gain", "Gain", 0, 10, 5, "dB", 0.5f, false, 1);
    tree.label = new NodeItem(tree.amp, "label", "Label", "clean", "string");
    if (extraNodes > 0) addBulk(extraNodes);
    tree.password = dynamic_cast<NodeItem*>(tree.root->pathToNode("root\\sys\\pwd"));
    tree.name = tree.root->pathToNode("root\\sys\\_name");
    return tree;
}

std::string testFolder(const std::string& name) {
    const char* home = std::getenv("PEDAL_HOME");
    std::filesystem::path folder = std::filesystem::path(home && *home ? home : PEDAL_TEST_OUT) / name;
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder.string();
}

int64_t useManualClock() {
    porting::setClock({});
    manualStart = esp_timer_get_time() + 3600000000LL;
    manualNow = manualStart;
    porting::setClock([] { return manualNow.load(); });
    return manualStart;
}

void setManualClock(int64_t offset) { manualNow = manualStart + offset; }

void expectQuietOverlongFlood(const std::function<std::string(const std::string&)>& exchange, size_t overlong) {
    const std::string requests = "write " + std::string(overlong, 'y') + '\0' + "write next" + '\0';
    useManualClock();
    testing::internal::CaptureStdout();
    for (int second = 0; second <= 20; ++second) {
        setManualClock(second * 1000000LL);
        EXPECT_EQ(exchange(requests), std::string("next\r\n\0", 7)) << "second " << second;
    }
    fflush(stdout);
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_LE(count(log, "longer than"), 3u) << log;
    EXPECT_NE(log.find("dropped (10 since the last line)"), std::string::npos) << log;
}

int runProgram(const std::string& program, const std::string& arguments, std::string& output,
               const std::string& input) {
    // Without input no file is made, so that clients may run side by side.
    std::string inputFile = input.empty() ? "/dev/null" : testFolder("program-input") + "/stdin";
    if (!input.empty()) writeFile(inputFile, input);
    std::string command = program + " " + arguments + " < '" + inputFile + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    output.clear();
    char buffer[4096];
    size_t count;
    while ((count = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) output.append(buffer, count);
    int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int loopbackListener(int& port) {
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || listen(listener, 4) != 0) {
        close(listener);
        return -1;
    }
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return listener;
}
