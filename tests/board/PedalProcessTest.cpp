// The boot selection at process level: the built pedal started as at boot, with the simulated GPIO line 40,
// an installed image that records its "APP_CALLED" and then execs the pedal, and the recovery page in the
// framebuffer file.
#include "tests/board/BoardTestSupport.h"
#include "tests/support/ProcessTestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using processtest::waitFor;

using Pedal = processtest::PedalProcess;

uint32_t rgb565To888(uint16_t p) {
    const uint32_t r = (p >> 11) & 0x1F, g = (p >> 5) & 0x3F, b = p & 0x1F;
    return (((r << 3) | (r >> 2)) << 16) | (((g << 2) | (g >> 4)) << 8) | ((b << 3) | (b >> 2));
}

// The recovery page's hint line ("press BROWSE for settings", display box x 78..312, y 129..157) is drawn in
// light strokes; the splash has nothing there. The display starts at row 35 of the 320-pixel-wide file.
bool recoveryPageShown(const std::string& home) {
    std::ifstream file(home + "/fb0", std::ios::binary);
    std::vector<uint16_t> pixels(320 * 240);
    file.read(reinterpret_cast<char*>(pixels.data()), std::streamsize(pixels.size() * 2));
    if (!file) return false;
    int light = 0;
    for (int y = 135; y <= 157; ++y) {
        for (int x = 78; x <= 312; ++x) {
            if ((rgb565To888(pixels[size_t((y + 35) * 320 + x)]) & 0xFF) > 0xC0) ++light;
        }
    }
    return light > 100;
}

// The image records its process id (kept by exec) and "APP_CALLED", then becomes the pedal.
void installRecordingImage(const std::string& home) {
    boardtest::writeFile(home + "/app_run",
                         "#!/bin/sh\n"
                         "printf '%s %s\\n' \"$$\" \"${APP_CALLED-unset}\" > \"$0.called.part\"\n"
                         "mv \"$0.called.part\" \"$0.called\"\n"
                         "exec " PEDAL_BINARY "\n",
                         std::filesystem::perms(0755));
}

TEST(PedalProcess, LineAtOneRunsTheImageThenRecovery) {
    const std::string home = boardtest::ownHome();
    installRecordingImage(home);
    Pedal pedal(home, {"PEDAL_GPIO40=1"});
    ASSERT_TRUE(pedal.started);

    const std::string marker = home + "/app_run.called";
    ASSERT_TRUE(waitFor([&] { return std::filesystem::exists(marker); })) << pedal.logText();
    std::istringstream recorded(boardtest::readFile(marker));
    pid_t image = 0;
    std::string appCalled;
    recorded >> image >> appCalled;
    EXPECT_EQ(appCalled, "1");
    ASSERT_GT(image, 0);
    ASSERT_NE(image, pedal.pid);

    // The image is the full application; the boot process waits for it.
    ASSERT_TRUE(waitFor([&] { return pedal.logHas("I (Update): Started main app\n"); })) << pedal.logText();
    EXPECT_FALSE(pedal.logHas("I (Update): running update app\n"));

    ASSERT_EQ(kill(image, SIGTERM), 0);
    ASSERT_TRUE(waitFor([&] { return pedal.logHas("I (Update): running update app\n"); })) << pedal.logText();
    EXPECT_TRUE(waitFor([&] { return recoveryPageShown(home); })) << pedal.logText();
    EXPECT_EQ(pedal.stop(), 0);
}

// A stop during the boot wait (only the boot process is signalled) reaches the image, which ends in order;
// then the boot process ends too, without bringing the board up again as the recovery application.
TEST(PedalProcess, AStopDuringTheBootWaitEndsBothWithoutRecovery) {
    const std::string home = boardtest::ownHome();
    installRecordingImage(home);
    Pedal pedal(home, {"PEDAL_GPIO40=1"});
    ASSERT_TRUE(pedal.started);
    ASSERT_TRUE(waitFor([&] { return pedal.logHas("I (Update): Started main app\n"); })) << pedal.logText();
    std::istringstream recorded(boardtest::readFile(home + "/app_run.called"));
    pid_t image = 0;
    recorded >> image;
    ASSERT_GT(image, 0);

    EXPECT_EQ(pedal.stop(), 0) << pedal.logText();
    EXPECT_TRUE(pedal.logHas("I (Update): application image ended with status 0\n")) << pedal.logText();
    EXPECT_FALSE(pedal.logHas("running update app")) << pedal.logText();
    EXPECT_EQ(kill(image, 0), -1) << "the image has ended";
}

TEST(PedalProcess, LineAtZeroIsRecoveryAtOnce) {
    const std::string home = boardtest::ownHome();
    installRecordingImage(home);
    Pedal pedal(home, {"PEDAL_GPIO40=0"});
    ASSERT_TRUE(pedal.started);
    ASSERT_TRUE(waitFor([&] { return pedal.logHas("I (Update): running update app\n"); })) << pedal.logText();
    EXPECT_TRUE(waitFor([&] { return recoveryPageShown(home); })) << pedal.logText();
    EXPECT_EQ(pedal.stop(), 0);
    EXPECT_FALSE(std::filesystem::exists(home + "/app_run.called")) << "the image did not run";
}

TEST(PedalProcess, AppCalledIsTheFullApplication) {
    const std::string home = boardtest::ownHome();
    installRecordingImage(home);
    Pedal pedal(home, {"PEDAL_GPIO40=1", "APP_CALLED=1"});
    ASSERT_TRUE(pedal.started);
    ASSERT_TRUE(waitFor([&] { return pedal.logHas("I (Update): Started main app\n"); })) << pedal.logText();
    EXPECT_EQ(pedal.stop(), 0);
    EXPECT_FALSE(pedal.logHas("I (Update): running update app\n"));
    EXPECT_FALSE(std::filesystem::exists(home + "/app_run.called")) << "the image did not run";
}

}
