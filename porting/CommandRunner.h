#pragma once
// The port through which the system runs shell commands (gadget set-up, gpio tools, taskset, nmcli, ...).
// Logic reaches the installed runner through CommandRunner::current(); a test or a host stand-in installs its
// own with CommandRunner::install().
#include <memory>
#include <string>

class CommandRunner {
public:
    virtual ~CommandRunner() = default;

    // Runs a command line through the shell, like system(); returns its exit status, or -1 when it could not
    // be run or ended by a signal.
    virtual int run(const std::string& command) = 0;
    // Runs a command line and collects its standard output, like popen(command, "r"); returns the exit status
    // as run() does.
    virtual int read(const std::string& command, std::string& output) = 0;
    // Writes a script to the standard input of a root shell (popen("sudo /bin/bash", "w")); returns the
    // shell's exit status as run() does.
    virtual int runScript(const std::string& script) = 0;

    // The runner in use: the shell on the device, a recording stand-in on the host.
    static std::shared_ptr<CommandRunner> current();
    // Installs a runner; null restores the default one.
    static void install(std::shared_ptr<CommandRunner> runner);
};
