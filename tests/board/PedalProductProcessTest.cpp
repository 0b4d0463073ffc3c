// The full application as a process: the product tree is reachable over TCP, a written setting reaches the
// storage through the input thread's sweep, SIGTERM ends the process cleanly, and the next process in the same
// home starts with the setting.
#include "BoardTestSupport.h"
#include "ProcessTestSupport.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using processtest::waitFor;
using processtest::freePort;

// One request over a fresh connection; the reply without its NUL, or "" when the pedal did not answer.
std::string request(int port, const std::string& text) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    timeval timeout{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string reply;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        send(fd, text.c_str(), text.size() + 1, MSG_NOSIGNAL) == ssize_t(text.size() + 1)) {
        char buffer[4096];
        ssize_t count;
        while ((count = recv(fd, buffer, sizeof(buffer), 0)) > 0) {
            reply.append(buffer, size_t(count));
            if (!reply.empty() && reply.back() == '\0') {
                reply.pop_back();
                break;
            }
        }
    }
    close(fd);
    return reply;
}

class FullApplication {
public:
    FullApplication(const std::string& home, int port) {
        pid = processtest::spawnPedal(PEDAL_BINARY, home, {"PEDAL_TCP_PORT=" + std::to_string(port), "APP_CALLED=1"});
        started = pid > 0;
    }
    ~FullApplication() {
        if (pid > 0 && !stopped) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    // SIGTERM, then the exit status (-1 when it did not end normally within the wait).
    int stop() {
        kill(pid, SIGTERM);
        int status = 0;
        stopped = waitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; });
        return stopped && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    bool started = false;
    pid_t pid = -1;

private:
    bool stopped = false;
};

TEST(PedalProductProcess, SettingsWrittenOverTcpSurviveARestart) {
    const std::string home = boardtest::ownHome();
    const std::string volume = "root\\app\\output\\vol";
    {
        const int port = freePort();
        FullApplication pedal(home, port);
        ASSERT_TRUE(pedal.started);
        std::string described;
        ASSERT_TRUE(waitFor([&] { return !(described = request(port, "browse " + volume)).empty(); }))
            << boardtest::readFile(home + "/pedal.log");
        EXPECT_EQ(described, volume + ":{\"type\":\"float\",\"name\":\"Volume\",\"value\":50.0,\"min\":0.0,"
                                      "\"max\":100.0,\"def\":50.0,\"unit\":\"%\",\"dec\":0}");
        EXPECT_EQ(request(port, "write " + volume + ":{\"value\":72}"), volume + ":{\"value\":72}\r\n");
        EXPECT_TRUE(waitFor([&] {
            for (const auto& entry : std::filesystem::directory_iterator(home + "/storage")) {
                if (boardtest::readFile(entry.path()) == "{\"value\":72.0}") return true;
            }
            return false;
        })) << "the storage sweep did not write the volume";
        EXPECT_EQ(pedal.stop(), 0);
    }
    {
        const int port = freePort();
        FullApplication pedal(home, port);
        ASSERT_TRUE(pedal.started);
        std::string described;
        ASSERT_TRUE(waitFor([&] { return !(described = request(port, "browse " + volume)).empty(); }))
            << boardtest::readFile(home + "/pedal.log");
        EXPECT_NE(described.find("\"value\":72.0"), std::string::npos) << described;
        EXPECT_EQ(pedal.stop(), 0);
    }
}

}
