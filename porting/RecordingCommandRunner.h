#pragma once
#include "porting/CommandRunner.h"

#include <map>
#include <mutex>
#include <vector>

// The host's stand-in for the board's shell: it records every command and runs none. A command it has been
// given an answer for returns that answer; any other returns status 127 ("command not found") with no
// output, so nothing on the host mistakes an unrun command for a successful one.
class RecordingCommandRunner : public CommandRunner {
public:
    enum class Kind { Run, Read, Script };
    struct Command {
        Kind kind;
        std::string text;
        bool operator==(const Command&) const = default;
    };
    static constexpr int NOT_RUN = 127;

    int run(const std::string& command) override;
    int read(const std::string& command, std::string& output) override;
    int runScript(const std::string& script) override;

    // Answers every later command whose text equals `command` with this status and standard output.
    void answer(const std::string& command, int status, const std::string& output = "");
    // Every command seen so far, oldest first.
    std::vector<Command> commands() const;
    void clear();

private:
    struct Answer {
        int status;
        std::string output;
    };
    int record(Kind kind, const std::string& text, std::string* output);

    mutable std::mutex mutex;
    std::vector<Command> seen;
    std::map<std::string, Answer> answers;
};
