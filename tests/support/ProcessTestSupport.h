#pragma once
// Helpers for tests that start the pedal program as a process and talk to it.
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

// A loopback TCP port nobody holds at the moment, picked at random so that tests running side by side differ.
int freePort();

}
