#include "porting/CommandRunner.h"

#include "porting/RecordingCommandRunner.h"
#include "porting/ShellCommandRunner.h"

#include <mutex>

namespace {
std::mutex runnerMutex;
std::shared_ptr<CommandRunner> installed;

std::shared_ptr<CommandRunner> makeDefault() {
#ifdef PEDAL_DEVICE
    return std::make_shared<ShellCommandRunner>();
#else
    return std::make_shared<RecordingCommandRunner>();
#endif
}
}

std::shared_ptr<CommandRunner> CommandRunner::current() {
    std::lock_guard<std::mutex> lock(runnerMutex);
    if (!installed) installed = makeDefault();
    return installed;
}

void CommandRunner::install(std::shared_ptr<CommandRunner> runner) {
    std::lock_guard<std::mutex> lock(runnerMutex);
    installed = runner ? std::move(runner) : makeDefault();
}
