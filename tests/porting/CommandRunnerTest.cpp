#include "porting/CommandRunner.h"
#include "porting/RecordingCommandRunner.h"
#include "porting/ShellCommandRunner.h"

#include <gtest/gtest.h>

using Kind = RecordingCommandRunner::Kind;

TEST(CommandRunner, HostDefaultRecordsEveryCommandAndRunsNoneTheShellRunnerRunsIt) {
    auto runner = std::dynamic_pointer_cast<RecordingCommandRunner>(CommandRunner::current());
    ASSERT_NE(runner, nullptr) << "the host must not run the board's commands";
    std::string output = "stale";
    EXPECT_EQ(runner->run("gpioset 0 40=1"), RecordingCommandRunner::NOT_RUN);
    EXPECT_EQ(runner->read("gpioget 0 40", output), RecordingCommandRunner::NOT_RUN);
    EXPECT_EQ(output, "");
    EXPECT_EQ(runner->runScript("modprobe libcomposite\n"), RecordingCommandRunner::NOT_RUN);
    std::vector<RecordingCommandRunner::Command> expected = {
        {Kind::Run, "gpioset 0 40=1"}, {Kind::Read, "gpioget 0 40"}, {Kind::Script, "modprobe libcomposite\n"}};
    EXPECT_EQ(runner->commands(), expected);

    // The shell runner reports exit status and output.
    ShellCommandRunner shell;
    EXPECT_EQ(shell.read("printf 'a b'; exit 3", output), 3);
    EXPECT_EQ(output, "a b");
    EXPECT_EQ(shell.run("exit 0"), 0);
    EXPECT_EQ(shell.run("kill -9 $$"), -1);
}
