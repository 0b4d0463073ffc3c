#pragma once
#include "porting/CommandRunner.h"

// Runs commands for real through system() and popen().
class ShellCommandRunner : public CommandRunner {
public:
    int run(const std::string& command) override;
    int read(const std::string& command, std::string& output) override;
    int runScript(const std::string& script) override;
};
