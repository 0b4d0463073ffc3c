// The board bring-up: the commands it leaves with the command runner, the gadget script as the root shell
// would read it, the controller sources, and the splash on the display.
#include "tests/board/BoardTestSupport.h"
#include "ui/Board.h"
#include "porting/CommandRunner.h"
#include "core/Control.h"
#include "ui/gfx/Gfx.h"
#include "ui/gfx/GfxTestView.h"
#include "ui/LCD.h"
#include "board/LindquarBsp.h"
#include "porting/RecordingCommandRunner.h"
#include "core/SourceCtrl.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sys/wait.h>
#include <memory>
#include <string>
#include <vector>

using gfx::GfxTestView;
using gfx::ObjectView;
using Kind = RecordingCommandRunner::Kind;

namespace {

// Runs bash (with the option, if any) on the script, saved in the test's home; its wait status and messages.
int runBash(const std::string& option, const std::string& script, std::string& messages) {
    const std::string path = std::string(std::getenv("PEDAL_HOME")) + "/gadget-script.sh";
    boardtest::writeFile(path, script, std::filesystem::perms(0644));
    FILE* pipe = popen(("bash " + option + " " + path + " 2>&1").c_str(), "r");
    if (!pipe) return -1;
    char buffer[256];
    size_t count;
    while ((count = fread(buffer, 1, sizeof(buffer), pipe)) > 0) messages.append(buffer, count);
    return pclose(pipe);
}

TEST(LindquarBsp, BringUpCommandsInOrderAndNothingRun) {
    boardtest::ownHome();
    auto runner = std::make_shared<RecordingCommandRunner>();
    CommandRunner::install(runner);
    auto* bsp = new LindquarBsp();
    EXPECT_EQ(Board::board, bsp);

    const std::vector<RecordingCommandRunner::Command> expected = {
        {Kind::Run, "gpioset 0 26=0"},
        {Kind::Run,
         "bash -c 'for pid in /proc/[0-9]*/; do for tid in /proc/$(basename $pid)/task/[0-9]*/; do taskset -p 1 "
         "$(basename $tid) > /dev/null 2>&1; done; done'"},
        {Kind::Script, LindquarBsp::gadgetScript()},
    };
    EXPECT_EQ(runner->commands(), expected);

    // The sources exist by name; the pedal source reads "not available" and so sends nothing.
    ASSERT_NE(Control::getSource("midi"), nullptr);
    auto* pedal = dynamic_cast<SourceCtrl*>(Control::getSource("ctrl"));
    ASSERT_NE(pedal, nullptr);
    EXPECT_EQ(pedal->getDescription(), "Ctrl");
    pedal->tasks();
    EXPECT_EQ(pedal->getLastSent(), -1);
    delete bsp;
    EXPECT_EQ(Control::getSource("ctrl"), nullptr);
}

TEST(LindquarBsp, GadgetScriptText) {
    boardtest::ownHome();
    const std::string& script = LindquarBsp::gadgetScript();
    EXPECT_EQ(script, boardtest::readFile(std::string(PEDAL_TEST_DATA) + "/gadget-script.txt"));
    std::string messages;
    EXPECT_EQ(runBash("-n", script, messages), 0) << messages;
}

// Where configfs is missing the gadget folder cannot be entered; the root shell must then stop rather than
// write the gadget's files into its own working folder. The commands that would touch the machine are shell
// functions here that do nothing, and `cd` fails.
TEST(LindquarBsp, GadgetScriptStopsWhenTheGadgetFolderIsMissing) {
    const std::string inertCommands =
        "cd() { return 1; }; modprobe() { :; }; mount() { :; }; mkdir() { :; }; ln() { :; }; ls() { :; }\n";
    std::string messages;
    const std::string work = boardtest::ownHome() + "/work";
    std::filesystem::create_directories(work);
    const std::string script = "builtin cd " + work + "\n" + inertCommands + LindquarBsp::gadgetScript();
    const int status = runBash("", script, messages);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << messages;
    EXPECT_TRUE(std::filesystem::is_empty(work)) << "nothing written into the working folder";
}

TEST(LindquarBsp, InitializeShowsTheProductSplash) {
    boardtest::ownHome();
    setenv("PEDAL_CODEC", "none", 1);
    CommandRunner::install(std::make_shared<RecordingCommandRunner>());
    LindquarBsp bsp;
    Board::initialize();
    ASSERT_TRUE(LCD::isInitialized());

    const auto views = GfxTestView::snapshot();
    GfxTestView::render();
    ASSERT_TRUE(GfxTestView::savePng(std::string(PEDAL_TEST_OUT) + "/board_splash.png"));
    const ObjectView* name = GfxTestView::labelWithText(views, "Corvinhallow");
    const ObjectView* model = GfxTestView::labelWithText(views, "PRO");
    ASSERT_TRUE(name && model) << GfxTestView::describe(views);
    EXPECT_EQ(GfxTestView::labelWithText(views, "ZEMBO"), nullptr) << "the product splash replaces the default";

    struct Expected {
        const ObjectView* label;
        int x, y, width, height;
        const lv_font_t* font;
    } expected[] = {{name, 0, 54, 320, 45, &lv_font_montserrat_28}, {model, 126, 82, 179, 48, &lv_font_montserrat_40}};
    for (const auto& e : expected) {
        SCOPED_TRACE(e.label->text);
        EXPECT_EQ((std::vector<int>{e.label->x, e.label->y, e.label->width, e.label->height}),
                  (std::vector<int>{e.x, e.y, e.width, e.height}));
        EXPECT_EQ(e.label->main.textFont, e.font);
        EXPECT_EQ(e.label->main.textAlign, LV_TEXT_ALIGN_CENTER);
        EXPECT_EQ(e.label->longMode, LV_LABEL_LONG_MODE_DOTS);
        EXPECT_EQ(e.label->lines, std::vector<std::string>{e.label->text}) << "fits its box on one line";
    }
    // Dark theme: the background is dark, the text light.
    GfxTestView::render();
    EXPECT_LT(GfxTestView::pixel(5, 5) & 0xFF, 0x40u);
    EXPECT_GT(name->main.textColor & 0xFF, 0xC0u);
}

}
