// The boot selection at process level: the built pedal started as at boot, with the simulated GPIO line 40,
// an installed image that records its "APP_CALLED" and then execs the pedal, and the recovery page in the
// framebuffer file.
#include "tests/board/BoardTestSupport.h"
#include "tests/support/ProcessTestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

using processtest::waitFor;

using Pedal = processtest::PedalProcess;

// The recovery page's hint line ("press BROWSE for settings") is drawn in light strokes; the splash has
// nothing there.
bool recoveryPageShown(const std::string& home) { return boardtest::lightPixels(home, 78, 135, 312, 157) > 100; }

// The image records its process id (kept by exec) and "APP_CALLED", then becomes the pedal.
void installRecordingImage(const std::string& home) {
    boardtest::writeFile(home + "/app_run",
                         "#!/bin/sh\n"
                         "printf '%s %s\\n' \"$$\" \"${APP_CALLED-unset}\" > \"$0.called.part\"\n"
                         "mv \"$0.called.part\" \"$0.called\"\n"
                         "exec " PEDAL_BINARY "\n",
                         std::filesystem::perms(0755));
}

// Started with line 40 at 1: the image runs as the full application while the boot process waits for it.
class PedalProcess : public ::testing::Test {
protected:
    void SetUp() override {
        installRecordingImage(home);
        pedal = std::make_unique<Pedal>(home, std::vector<std::string>{"PEDAL_GPIO40=1"});
        ASSERT_TRUE(pedal->started);
        ASSERT_TRUE(waitFor([&] { return pedal->logHas("I (Update): Started main app\n"); })) << pedal->logText();
        std::istringstream(boardtest::readFile(home + "/app_run.called")) >> image >> appCalled;
        ASSERT_GT(image, 0);
        ASSERT_NE(image, pedal->pid);
    }
    const std::string home = boardtest::ownHome();
    std::unique_ptr<Pedal> pedal;
    pid_t image = 0;
    std::string appCalled;
};

TEST_F(PedalProcess, LineAtOneRunsTheImageThenRecovery) {
    EXPECT_EQ(appCalled, "1");
    EXPECT_FALSE(pedal->logHas("I (Update): running update app\n"));
    ASSERT_EQ(kill(image, SIGTERM), 0);
    ASSERT_TRUE(waitFor([&] { return pedal->logHas("I (Update): running update app\n"); })) << pedal->logText();
    EXPECT_TRUE(waitFor([&] { return recoveryPageShown(home); })) << pedal->logText();
    EXPECT_EQ(pedal->stop(), 0);
}

// A stop during the boot wait (only the boot process is signalled) reaches the image, which ends in order;
// then the boot process ends too, without bringing the board up again as the recovery application.
TEST_F(PedalProcess, AStopDuringTheBootWaitEndsBothWithoutRecovery) {
    EXPECT_EQ(pedal->stop(), 0) << pedal->logText();
    EXPECT_TRUE(pedal->logHas("I (Update): application image ended with status 0\n")) << pedal->logText();
    EXPECT_FALSE(pedal->logHas("running update app")) << pedal->logText();
    EXPECT_EQ(kill(image, 0), -1) << "the image has ended";
}

}
