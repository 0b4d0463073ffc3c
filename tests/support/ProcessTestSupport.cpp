#include "tests/support/ProcessTestSupport.h"
#include "tests/support/TestSupport.h"

#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <random>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace processtest {

bool waitFor(const std::function<bool()>& condition, int seconds) {
    for (int i = 0; i < seconds * 20; ++i) {
        if (condition()) return true;
        usleep(50000);
    }
    return condition();
}

pid_t spawnPedal(const std::string& program, const std::string& home, const std::vector<std::string>& environment) {
    std::vector<std::string> variables;
    auto named = [](const std::string& variable, const std::string& entry) {
        return variable.compare(0, entry.find('=') + 1, entry, 0, entry.find('=') + 1) == 0;
    };
    for (char** entry = environ; *entry; ++entry) {
        std::string variable = *entry;
        if (variable.rfind("APP_CALLED=", 0) == 0 || variable.rfind("PEDAL_", 0) == 0) continue;
        bool replaced = false;
        for (const std::string& given : environment) replaced = replaced || named(variable, given);
        if (!replaced) variables.push_back(variable);
    }
    variables.push_back("PEDAL_HOME=" + home);
    bool codecGiven = false;
    for (const std::string& given : environment) codecGiven = codecGiven || given.rfind("PEDAL_CODEC=", 0) == 0;
    if (!codecGiven) variables.push_back("PEDAL_CODEC=none");
    for (const std::string& variable : environment) variables.push_back(variable);
    std::vector<char*> envp;
    for (std::string& variable : variables) envp.push_back(variable.data());
    envp.push_back(nullptr);

    const std::string log = home + "/pedal.log";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::string path = program;
    char* argv[] = {path.data(), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

int freePort() {
    // Not the kernel's choice for port 0: it hands the port just released to the next caller, so test
    // programs started side by side would pick the same port, and one would talk to the other's pedal. A
    // random port below the kernel's own range instead, taken only if nothing holds it now.
    static std::mt19937 generator(std::random_device{}());
    std::uniform_int_distribution<int> ports(20000, 32000);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int port = ports(generator);
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(uint16_t(port));
        const bool free = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
        close(fd);
        if (free) return port;
    }
    return 0;
}

PedalProcess::PedalProcess(const std::string& home, const std::vector<std::string>& environment)
    : log(home + "/pedal.log") {
    pid = spawnPedal(PEDAL_BINARY, home, environment);
    started = pid > 0;
}

PedalProcess::~PedalProcess() {
    if (pid > 0 && !stopped) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

int PedalProcess::stop(int signal) {
    kill(pid, signal);
    int status = 0;
    stopped = waitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; });
    return stopped && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string PedalProcess::logText() const { return testsupport::readFile(log); }

}
