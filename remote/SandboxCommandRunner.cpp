#include "remote/SandboxCommandRunner.h"

#include "porting/Log.h"
#include "porting/Paths.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {
const char* const TAG = "Command";
const char* const STAND_INS[] = {"sudo", "nmcli", "systemctl", "tee"};
// Tools the command texts may use besides the stand-ins; none of them changes anything outside its output.
const char* const HARMLESS_TOOLS[] = {"cat", "echo", "false", "grep", "printf", "true"};

std::string findTool(const char* name) {
    for (const char* folder : {"/usr/bin/", "/bin/"}) {
        std::string path = std::string(folder) + name;
        if (access(path.c_str(), X_OK) == 0) return path;
    }
    return "";
}

bool linkTo(const std::filesystem::path& link, const std::string& target) {
    std::error_code error;
    std::filesystem::remove(link, error);
    std::filesystem::create_symlink(target, link, error);
    return !error;
}

int exitStatus(int waitStatus) {
    if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
    return -1;
}

// Writing a script into a shell that already exited must not raise SIGPIPE in the pedal.
void writeAll(int fd, const std::string& data) {
    sigset_t pipeSignal, previous;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    size_t done = 0;
    bool broken = false;
    while (done < data.size()) {
        ssize_t count = write(fd, data.data() + done, data.size() - done);
        if (count < 0) {
            if (errno == EINTR) continue;
            broken = errno == EPIPE;
            break;
        }
        done += size_t(count);
    }
    if (broken) {
        timespec none{0, 0};
        sigtimedwait(&pipeSignal, nullptr, &none);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}
}

SandboxCommandRunner::SandboxCommandRunner(std::string standIns, std::string home)
    : standIns(std::move(standIns)), home(std::filesystem::absolute(home).lexically_normal().string()) {}

std::string SandboxCommandRunner::pathFolder() const { return home + "/hostbin/path"; }

std::string SandboxCommandRunner::defaultStandIns() {
#ifdef PEDAL_HOST_STAND_INS
    return PEDAL_HOST_STAND_INS;
#else
    return "";
#endif
}

std::shared_ptr<CommandRunner> SandboxCommandRunner::hostDefault() {
    return std::make_shared<SandboxCommandRunner>(defaultStandIns(), homePath());
}

bool SandboxCommandRunner::preparePath() {
    std::lock_guard<std::mutex> lock(prepareMutex);
    if (prepared) return true;
    std::filesystem::path folder = pathFolder();
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        LOGE(TAG, "Cannot create %s: %s\n", folder.c_str(), error.message().c_str());
        return false;
    }
    for (const char* name : STAND_INS) {
        std::string target = standIns + "/" + name;
        if (access(target.c_str(), X_OK) != 0 || !linkTo(folder / name, target)) {
            LOGE(TAG, "Host stand-in %s is missing\n", target.c_str());
            return false;
        }
    }
    for (const char* name : HARMLESS_TOOLS) {
        std::string target = findTool(name);
        if (!target.empty()) linkTo(folder / name, target);
    }
    prepared = true;
    return true;
}

int SandboxCommandRunner::spawn(const std::string& command, const std::string* input, std::string* output) {
    if (!preparePath()) return -1;
    int inputPipe[2] = {-1, -1};
    int outputPipe[2] = {-1, -1};
    if ((input && pipe2(inputPipe, O_CLOEXEC) != 0) || (output && pipe2(outputPipe, O_CLOEXEC) != 0)) {
        LOGE(TAG, "Cannot run command: %s\n", std::strerror(errno));
        for (int fd : {inputPipe[0], inputPipe[1], outputPipe[0], outputPipe[1]})
            if (fd >= 0) close(fd);
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (input) posix_spawn_file_actions_adddup2(&actions, inputPipe[0], STDIN_FILENO);
    else posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (output) posix_spawn_file_actions_adddup2(&actions, outputPipe[1], STDOUT_FILENO);

    std::string pathVariable = "PATH=" + pathFolder();
    std::string homeVariable = "PEDAL_HOME=" + home;
    std::string language = "LC_ALL=C";
    std::vector<char*> environment = {pathVariable.data(), homeVariable.data(), language.data(), nullptr};
    std::string shell = "/bin/sh";
    std::string option = "-c";
    std::string text = command;
    std::vector<char*> arguments = {shell.data(), option.data(), text.data(), nullptr};

    pid_t child = -1;
    int spawned = posix_spawn(&child, shell.c_str(), &actions, nullptr, arguments.data(), environment.data());
    posix_spawn_file_actions_destroy(&actions);
    if (input) close(inputPipe[0]);
    if (output) close(outputPipe[1]);
    if (spawned != 0) {
        LOGE(TAG, "Cannot run command: %s\n", std::strerror(spawned));
        if (input) close(inputPipe[1]);
        if (output) close(outputPipe[0]);
        return -1;
    }
    if (input) {
        writeAll(inputPipe[1], *input);
        close(inputPipe[1]);
    }
    if (output) {
        output->clear();
        char buffer[512];
        for (;;) {
            ssize_t count = ::read(outputPipe[0], buffer, sizeof(buffer));
            if (count < 0 && errno == EINTR) continue;
            if (count <= 0) break;
            output->append(buffer, size_t(count));
        }
        close(outputPipe[0]);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return exitStatus(status);
}

int SandboxCommandRunner::run(const std::string& command) { return spawn(command, nullptr, nullptr); }

int SandboxCommandRunner::read(const std::string& command, std::string& output) {
    return spawn(command, nullptr, &output);
}

int SandboxCommandRunner::runScript(const std::string& script) { return spawn("sudo /bin/bash", &script, nullptr); }
