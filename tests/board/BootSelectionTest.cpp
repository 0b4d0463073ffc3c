// Boot selection: what the program started at boot does with GPIO line 40, the installed image and
// "APP_CALLED". Each case runs in a forked child, as the selection runs once per process; the installed image
// is a script that records the "APP_CALLED" it was started with.
#include "tests/board/BoardTestSupport.h"
#include "porting/CommandRunner.h"
#include "core/Node.h"
#include "core/NodeItem.h"
#include "board/ProductInfo.h"
#include "porting/RecordingCommandRunner.h"
#include "core/System.h"
#include "board/Update.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

namespace {

using Kind = RecordingCommandRunner::Kind;

const char* const kRecordingImage = "#!/bin/sh\n"
                                    "printf '%s' \"${APP_CALLED-unset}\" > \"$0.called\"\n"
                                    "exit \"${IMAGE_STATUS:-0}\"\n";

// Runs the boot selection in a child with the given environment and runner answer. The outcome's lines:
// recovery "1" or "0"; the recorded commands, "|" after each; this process's APP_CALLED afterwards; the image's
// APP_CALLED, "not run" when it did not run.
std::string select(const std::string& home, const char* appCalled, const char* simulatedLine, const char* answer) {
    std::string report = boardtest::inChild([&] {
        if (appCalled) setenv("APP_CALLED", appCalled, 1);
        else unsetenv("APP_CALLED");
        if (simulatedLine) setenv("PEDAL_GPIO40", simulatedLine, 1);
        else unsetenv("PEDAL_GPIO40");
        auto runner = std::make_shared<RecordingCommandRunner>();
        if (answer) runner->answer("gpioget 0 40", 0, answer);
        CommandRunner::install(runner);
        Update::initialize();
        std::string out = Update::isRecovery() ? "1\n" : "0\n";
        for (const auto& command : runner->commands())
            out += (command.kind == Kind::Read ? "read:" : "other:") + command.text + "|";
        const char* after = std::getenv("APP_CALLED");
        return out + "\n" + (after ? after : "unset") + "\n";
    });
    const std::string marker = home + "/app_run.called";
    return report + (std::filesystem::exists(marker) ? boardtest::readFile(marker) : "not run");
}

TEST(BootSelection, LineImageAndAppCalled) {
    const std::string home = boardtest::ownHome();
    const std::string read = "read:gpioget 0 40|";
    struct Case {
        const char* name;
        const char* appCalled;
        const char* simulatedLine; // PEDAL_GPIO40
        const char* answer;        // the runner's own answer
        bool installImage;
        const char* imageStatus;
        std::string expected[4]; // the outcome's lines
    } cases[] = {
        {"line 1: the image, then recovery", nullptr, "1", nullptr, true, "0", {"1", read, "1", "1"}},
        {"line 1 from the runner itself", nullptr, nullptr, "1\n", true, "0", {"1", read, "1", "1"}},
        {"line 1, the image fails", nullptr, "1", nullptr, true, "3", {"1", read, "1", "1"}},
        {"line 1 without an image", nullptr, "1", nullptr, false, "0", {"1", read, "1", "not run"}},
        {"line 0: recovery at once", nullptr, "0", nullptr, true, "0", {"1", read, "1", "not run"}},
        {"a line that does not start with 1", nullptr, nullptr, " 1\n", true, "0", {"1", read, "1", "not run"}},
        {"APP_CALLED set: no command at all", "1", "1", nullptr, true, "0", {"0", "", "1", "not run"}},
        {"APP_CALLED empty still counts as set", "", "1", nullptr, true, "0", {"0", "", "", "not run"}},
        {"line unreadable: full application", nullptr, nullptr, nullptr, true, "0", {"0", read, "unset", "not run"}},
        {"the line reads nothing: full application", nullptr, nullptr, "", true, "0", {"0", read, "unset", "not run"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(home + "/app_run");
        std::filesystem::remove(home + "/app_run.called");
        if (c.installImage) boardtest::writeFile(home + "/app_run", kRecordingImage, std::filesystem::perms(0755));
        setenv("IMAGE_STATUS", c.imageStatus, 1);
        const std::string* e = c.expected;
        EXPECT_EQ(select(home, c.appCalled, c.simulatedLine, c.answer), e[0] + "\n" + e[1] + "\n" + e[2] + "\n" + e[3]);
    }
}

// The system items that tell a client which application answers.
TEST(BootSelection, IdentityItemsOfEitherApplication) {
    boardtest::ownHome();
    struct Case {
        const char* line;
        const char* version;
        const char* upd; // "absent" when the item does not exist
    } cases[] = {{"0", "Update Mode", "upd"}, {nullptr, "1.1.6", "absent"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line ? c.line : "no line");
        std::string report = boardtest::inChild([&] {
            unsetenv("APP_CALLED");
            if (c.line) setenv("PEDAL_GPIO40", c.line, 1);
            else unsetenv("PEDAL_GPIO40");
            CommandRunner::install(std::make_shared<RecordingCommandRunner>());
            System::setBootSelection(Update::initialize, Update::isRecovery, Update::getFormat);
            System::initialize("test");
            ProductInfo::setInfoData();
            Node* root = System::rootNode();
            auto value = [root](const char* path) -> std::string {
                auto* item = dynamic_cast<NodeItem*>(root->pathToNode(path));
                return item ? item->getValue() : "absent";
            };
            return value("root\\sys\\_name") + "|" + value("root\\sys\\_author") + "|" + value("root\\sys\\_ver") +
                   "|" + value("root\\sys\\_upd") + "|" + (System::isRecovery() ? "recovery" : "full");
        });
        EXPECT_EQ(report, std::string("Corvinhallow PRO|TERAVIN Audio Systems|") + c.version + "|" + c.upd + "|" +
                              (c.line ? "recovery" : "full"));
    }
}

}
