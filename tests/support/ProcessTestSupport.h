#pragma once
// Helpers for tests that start the pedal program as a process and talk to it.
#include <csignal>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace processtest {

// Polls the condition every 50 ms for at most `seconds`; its last result.
bool waitFor(const std::function<bool()>& condition, int seconds = 30);

// Starts the pedal program in `home` without the audio codec (unless `environment` names one); its output (and that of every process it starts)
// goes to home/pedal.log. The environment is this process's without "APP_CALLED" and the "PEDAL_" variables,
// plus "NAME=value" entries of `environment` (which replace this process's of the same name). The process
// id, or -1.
pid_t spawnPedal(const std::string& program, const std::string& home, const std::vector<std::string>& environment);

// The pedal program started by spawnPedal, stopped with SIGTERM by stop() or killed when it goes out of scope.
class PedalProcess {
public:
    PedalProcess(const std::string& home, const std::vector<std::string>& environment);
    ~PedalProcess();
    PedalProcess(const PedalProcess&) = delete;
    PedalProcess& operator=(const PedalProcess&) = delete;

    // SIGTERM (or another signal), then the exit status (-1 when it did not end normally within the wait).
    int stop(int signal = SIGTERM);
    // What it and the processes it started wrote so far.
    std::string logText() const;
    bool logHas(const std::string& text) const { return logText().find(text) != std::string::npos; }

    bool started = false;
    pid_t pid = -1;

private:
    std::string log;
    bool stopped = false;
};

// A loopback TCP port nobody holds at the moment, picked at random so that tests running side by side differ.
int freePort();

}
