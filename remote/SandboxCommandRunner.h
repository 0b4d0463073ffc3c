#pragma once
#include "porting/CommandRunner.h"

#include <mutex>
#include <string>

// Runs command texts through a real /bin/sh whose PATH holds only the project's host stand-ins for sudo,
// nmcli, systemctl and tee and a few harmless tools, with a clean environment. On the host the Wi-Fi
// transport's commands run this way: the exact texts meet a real shell (quoting, here-documents, pipes), yet
// nothing reaches the machine's own network, services or files outside the pedal's state folder.
class SandboxCommandRunner : public CommandRunner {
public:
    // standIns: the folder holding the stand-in scripts; home: the pedal's state folder, where the stand-ins
    // keep their state and the PATH folder is built.
    SandboxCommandRunner(std::string standIns, std::string home);

    int run(const std::string& command) override;
    int read(const std::string& command, std::string& output) override;
    int runScript(const std::string& script) override;

    // The only folder on the shell's PATH.
    std::string pathFolder() const;

    // The stand-ins shipped with the project, and the runner the host uses by default.
    static std::string defaultStandIns();
    static std::shared_ptr<CommandRunner> hostDefault();

private:
    bool preparePath();
    int spawn(const std::string& command, const std::string* input, std::string* output);

    std::string standIns;
    std::string home;
    std::mutex prepareMutex;
    bool prepared = false;
};
