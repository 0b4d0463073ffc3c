#include "porting/ShellCommandRunner.h"

#include "porting/Log.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/wait.h>

namespace {
const char* const TAG = "Command";

int exitStatus(int waitStatus) {
    if (waitStatus == -1) return -1;
    if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
    return -1;
}
}

int ShellCommandRunner::run(const std::string& command) {
    int status = std::system(command.c_str());
    if (status == -1) LOGE(TAG, "Cannot run command: %s\n", std::strerror(errno));
    return exitStatus(status);
}

int ShellCommandRunner::read(const std::string& command, std::string& output) {
    output.clear();
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        LOGE(TAG, "Cannot run command: %s\n", std::strerror(errno));
        return -1;
    }
    char buffer[256];
    size_t count;
    while ((count = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) output.append(buffer, count);
    return exitStatus(pclose(pipe));
}

int ShellCommandRunner::runScript(const std::string& script) {
    FILE* shell = popen("sudo /bin/bash", "w");
    if (!shell) {
        LOGE(TAG, "Cannot start the root shell: %s\n", std::strerror(errno));
        return -1;
    }
    size_t written = std::fwrite(script.data(), 1, script.size(), shell);
    if (written != script.size()) LOGE(TAG, "Root shell took only %zu of %zu script bytes\n", written, script.size());
    return exitStatus(pclose(shell));
}
