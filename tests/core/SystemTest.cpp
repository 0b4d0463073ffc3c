// System identity tree and boot selection, and the nodes that reach the tree through it: links and the
// temperature unit.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "core/NodeFloat.h"
#include "core/NodeItem.h"
#include "core/NodeLink.h"
#include "core/NodeTemp.h"
#include "core/Security.h"
#include "core/System.h"
#include "tests/support/TestSupport.h"

namespace {
bool bootRan;
void bootInitialize() { bootRan = true; }
bool bootRecovery() { return true; }
const char* bootFormat() { return "upd"; }

// Runs initialize in a child process (it runs once per process) and reports what it built.
int childExit(bool appCalled, bool hook) {
    return testsupport::childExit([&] {
        if (appCalled) setenv("APP_CALLED", "1", 1);
        else unsetenv("APP_CALLED");
        if (hook) System::setBootSelection(bootInitialize, bootRecovery, bootFormat);
        System::initialize("test");
        Node* upd = System::rootNode()->pathToNode("root\\sys\\_upd");
        int code = 0;
        if (System::isRecovery()) code |= 1;
        if (upd) code |= 2;
        if (upd && static_cast<NodeItem*>(upd)->getValue() == "upd") code |= 4;
        if (bootRan) code |= 8;
        return code;
    });
}

void initializeOnce() {
    unsetenv("APP_CALLED");
    System::initialize("test");
}
}

TEST(System, NodesAreNullWithAnErrorBeforeInitialize) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(System::rootNode(), nullptr);
    EXPECT_EQ(System::appNode(), nullptr);
    EXPECT_EQ(System::systemNode(), nullptr);
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("ERROR (System): "), std::string::npos) << log;
}

TEST(System, BootSelectionDecidesRecovery) {
    struct Case {
        bool appCalled, hook;
        int expected;
    };
    // recovery 1, "_upd" present 2, its value "upd" 4, boot selection ran 8
    for (const Case& c : {Case{false, false, 0}, Case{true, true, 8}, Case{false, true, 1 | 2 | 4 | 8}}) {
        EXPECT_EQ(childExit(c.appCalled, c.hook), c.expected) << "APP_CALLED " << c.appCalled << " hook " << c.hook;
    }
}

TEST(System, IdentityTreeTemperatureUnitAndLinks) {
    initializeOnce();
    Node* root = System::rootNode();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(System::appNode()->getPath(), "root\\app");
    EXPECT_STREQ(System::appNode()->getDisplayName(), "Application");
    EXPECT_STREQ(System::systemNode()->getDisplayName(), "System");
    EXPECT_FALSE(System::isRecovery());
    for (const char* path : {"root\\sys\\_name", "root\\sys\\alias", "root\\sys\\_arch", "root\\sys\\_author",
                             "root\\sys\\_ver", "root\\sys\\_logo", "root\\sys\\pwd"}) {
        Node* node = root->pathToNode(path);
        ASSERT_NE(node, nullptr) << path;
        EXPECT_STREQ(node->getType(), "item") << path;
    }
    // The identity's values and "_upd" of either application are the boot selection's board test.

    Node* pwd = root->pathToNode("root\\sys\\pwd");
    EXPECT_TRUE(pwd->isSecret());
    EXPECT_EQ(pwd->getSyncState(), Storable::SyncState::Clean) << "the password is stored";
    EXPECT_FALSE(Security::hasPassword());
    EXPECT_FALSE(root->parseJSON(R"(root\sys\_name:{"value":"x"})")) << "identity items are read-only";
    EXPECT_TRUE(root->parseJSON(R"(root\sys\alias:{"value":"Stage left"})"));

    // The shared temperature unit.
    NodeTemp* unit = NodeTemp::unitNode();
    EXPECT_EQ(unit, NodeTemp::unitNode());
    EXPECT_EQ(unit->getPath(), "root\\sys\\temp_unit");
    EXPECT_EQ(unit->getSyncState(), Storable::SyncState::Clean) << "stored";
    unit->setValue("C");
    EXPECT_EQ(NodeTemp::getTemperatureUnit(), "\xB0"
                                              "C");
    EXPECT_FLOAT_EQ(NodeTemp::convertTemperature(100), 100);
    ASSERT_TRUE(System::rootNode()->parseJSON(R"(root\sys\temp_unit:{"value":"F"})"));
    EXPECT_EQ(NodeTemp::getTemperatureUnit(), "\xB0"
                                              "F");
    EXPECT_FLOAT_EQ(NodeTemp::convertTemperature(100), 212);
    EXPECT_FLOAT_EQ(NodeTemp::convertTemperature(-40), -40);

    // Links step through the linkable nodes under app.
    Node* app = System::appNode();
    auto* amp = new NodeItem(app, "amp", "Amp", "", "hfolder");
    auto* gain = new NodeFloat(amp, "gain", "Gain", 0, 10, 5, "", 0.5f, false, 1);
    auto* tone = new NodeFloat(amp, "tone", "Tone", 0, 10, 5, "", 0.5f, false, 1);
    auto* hidden = new NodeFloat(amp, "bias", "Bias", 0, 10, 5, "", 0.5f, false, 1);
    auto* delay = new NodeItem(app, "delay", "Delay", "", "hfolder");
    auto* mix = new NodeFloat(delay, "mix", "Mix", 0, 1, 0.5f, "", 0.5f, false, 2);
    gain->setLinkable(true);
    tone->setLinkable(true);
    mix->setLinkable(true);
    (void)hidden;
    auto* controls = new NodeItem(System::rootNode(), "ctl", "Controls", "", "sfolder");
    auto* link = new NodeLink(controls, "target", "Target", "");

    EXPECT_STREQ(link->getItemType(), "link");
    EXPECT_EQ(link->toString(), "");
    link->edit(false);
    EXPECT_EQ(link->getValue(), "") << "stops before the first";
    // Breadth-first: the folders' children come level by level, in insertion order.
    const std::vector<std::string> expected = {"root\\app\\amp\\gain", "root\\app\\amp\\tone", "root\\app\\delay\\mix"};
    for (const std::string& path : expected) {
        link->edit(true);
        EXPECT_EQ(link->getValue(), path);
    }
    link->edit(true);
    EXPECT_EQ(link->getValue(), "root\\app\\delay\\mix") << "stops after the last";
    EXPECT_EQ(link->toString(), "Mix");
    EXPECT_EQ(link->getTarget(), mix);

    EXPECT_FALSE(link->setValue("root\\app\\amp\\bias")) << "not linkable";
    EXPECT_FALSE(System::rootNode()->parseJSON(R"(root\ctl\target:{"value":"root\\app\\nothing"})"));
    EXPECT_EQ(link->getTarget(), mix);
    EXPECT_TRUE(System::rootNode()->parseJSON(R"(root\ctl\target:{"value":"root\\app\\amp\\gain"})"));
    EXPECT_EQ(link->getTarget(), gain);
    link->edit(false);
    link->edit(false);
    EXPECT_EQ(link->getValue(), "");
    EXPECT_EQ(link->getTarget(), nullptr);
}
