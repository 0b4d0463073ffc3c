#include "porting/RecordingCommandRunner.h"

int RecordingCommandRunner::record(Kind kind, const std::string& text, std::string* output) {
    std::lock_guard<std::mutex> lock(mutex);
    seen.push_back({kind, text});
    auto found = answers.find(text);
    if (found == answers.end()) {
        if (output) output->clear();
        return NOT_RUN;
    }
    if (output) *output = found->second.output;
    return found->second.status;
}

int RecordingCommandRunner::run(const std::string& command) { return record(Kind::Run, command, nullptr); }

int RecordingCommandRunner::read(const std::string& command, std::string& output) {
    return record(Kind::Read, command, &output);
}

int RecordingCommandRunner::runScript(const std::string& script) { return record(Kind::Script, script, nullptr); }

void RecordingCommandRunner::answer(const std::string& command, int status, const std::string& output) {
    std::lock_guard<std::mutex> lock(mutex);
    answers[command] = Answer{status, output};
}

std::vector<RecordingCommandRunner::Command> RecordingCommandRunner::commands() const {
    std::lock_guard<std::mutex> lock(mutex);
    return seen;
}

void RecordingCommandRunner::clear() {
    std::lock_guard<std::mutex> lock(mutex);
    seen.clear();
}
