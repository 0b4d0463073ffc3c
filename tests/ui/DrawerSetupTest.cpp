// The setup page over the system tree: which folders it lists, and the node pages it opens.
#include "ui/DrawerNode.h"
#include "tests/ui/DrawerFixture.h"
#include "ui/DrawerSetup.h"
#include "ui/EventId.h"
#include "core/NodeItem.h"
#include "core/System.h"

namespace {
std::vector<std::string> names(const std::vector<ObjectView>& views) {
    std::vector<std::string> rows;
    for (const ObjectView* label : GfxTestView::ofKind(views, "label")) {
        if (label->x == 8 && label->width == 240) rows.push_back(label->text);
    }
    return rows;
}

// Two settings folders (one hidden), one without children, and a folder of another type.
void buildTree() {
    pages::ownHome();
    System::initialize("test");
    Node* root = System::rootNode();
    auto* midi = new NodeItem(root, "midi", "MIDI", "", "sfolder");
    new NodeItem(midi, "channel", "Channel", "1", "link");
    new NodeItem(root, "empty", "Empty", "", "sfolder");
    auto* wifi = new NodeItem(root, "wifi", "Wi-Fi", "", "sfolder");
    new NodeItem(wifi, "ssid", "Network", "home", "link");
    wifi->setStyleVisible(false);
    auto* other = new NodeItem(root, "other", "Other", "", "vfolder");
    new NodeItem(other, "x", "X", "", "link");
}
}

TEST(DrawerSetup, ListsTheSettingsFoldersAndTheSystemFolder) {
    buildTree();
    new RecordingPage("home", {});
    new DrawerSetup(DrawerNode::open);
    auto views = redraw();
    driver::savePng("ui_setup");
    EXPECT_NE(GfxTestView::labelWithText(views, "Setup"), nullptr);
    EXPECT_EQ(names(views),
              (std::vector<std::string>{"MIDI", "Wi-Fi", System::systemNode()->getDisplayName(), "Back"}));
    EXPECT_NE(GfxTestView::labelWithText(views, LV_SYMBOL_RIGHT), nullptr);

    // A folder row opens the node page on it; "Back" there returns here.
    send(">^");
    EXPECT_EQ(EventDispatcher::elements(), 3);
    views = redraw();
    EXPECT_NE(GfxTestView::labelWithText(views, "Network"), nullptr) << GfxTestView::describe(views);
    send("x");
    views = redraw();
    EXPECT_NE(GfxTestView::labelWithText(views, "Setup"), nullptr);

    // Footswitches and the other encoders go on to the home screen; encoder 1's press stays here, as the home
    // screen would take it for the start of a hold and step presets.
    log().clear();
    for (int id : {16, 17, 46, 49, 50, 51, 246, 12, 14, 15, 42, 40, 240, 341, 441, EventId::Tick}) send(id);
    EXPECT_EQ(entriesOf("home"),
              (std::vector<std::string>{"16", "17", "46", "49", "50", "51", "246", "14", "15", "42"}));
    EXPECT_EQ(EventDispatcher::elements(), 2);

    // No wrap; the row past the folders closes. Idle closes too and goes on.
    send("6>");
    send("^");
    EXPECT_EQ(EventDispatcher::elements(), 1);
    new DrawerSetup(DrawerNode::open);
    send("i");
    EXPECT_EQ(entriesOf("home").back(), "3");
    EXPECT_EQ(EventDispatcher::elements(), 1);
}

TEST(DrawerSetup, OpensFromALongPressOnTheApplicationFolderOnly) {
    buildTree();
    new NodeItem(System::appNode(), "amp", "Amp", "", "hfolder");
    new RecordingPage("home", {});
    new DrawerNode(System::appNode());
    send("L");
    EXPECT_EQ(EventDispatcher::elements(), 3);
    const auto views = redraw();
    EXPECT_NE(GfxTestView::labelWithText(views, "Setup"), nullptr);
    send("x");

    new DrawerNode(System::systemNode());
    send("L");
    EXPECT_EQ(EventDispatcher::elements(), 3);
}
