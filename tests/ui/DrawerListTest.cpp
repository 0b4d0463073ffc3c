// The slot list page over a preset list and over a plain selector: labels, the window, choosing, saving into
// an empty slot and the slot menu.
#include "ui/DrawerList.h"
#include "tests/ui/DrawerFixture.h"
#include "core/NodeFloat.h"
#include "core/NodeItem.h"
#include "core/NodeList.h"
#include "core/NodePreset.h"

#include <filesystem>
#include <memory>

namespace {
// A preset list of `slots` slots, a preset node over it and one parameter in the preset's scope.
struct Presets {
    explicit Presets(int slots) {
        std::filesystem::remove_all(pages::ownHome());
        list = new NodeList(lists.get(), "presets", "Presets", "preset", 4096, slots);
        preset = new NodePreset(app.get(), "preset", "Preset", "", list);
        level = new NodeFloat(app.get(), "level", "Level", 0, 10, 5, "", 0, false, 1);
    }
    // Saves the present settings with the level at `value` under `name` into slot `index`; it becomes the
    // current preset.
    void store(int index, const std::string& name, float value) {
        level->setValue(value);
        ASSERT_TRUE(list->setElementAt(index, name, nullptr));
        ASSERT_TRUE(preset->setValue(name + NodePreset::SAVE_SUFFIX));
        ASSERT_TRUE(preset->setValue(name));
    }

    std::unique_ptr<Node> lists = std::make_unique<NodeItem>(nullptr, "lists", "Lists", "", "vfolder");
    std::unique_ptr<Node> app = std::make_unique<NodeItem>(nullptr, "app", "Application", "", "vfolder");
    NodeList* list;
    NodePreset* preset;
    NodeFloat* level;
};

std::vector<std::string> rowTexts(const std::vector<ObjectView>& views) {
    std::vector<std::string> rows;
    for (const ObjectView* label : GfxTestView::ofKind(views, "label")) {
        if (label->height == 20 && label->x == 8) rows.push_back(label->text);
    }
    return rows;
}

const ObjectView* underlined(const std::vector<ObjectView>& views) {
    for (const ObjectView* label : GfxTestView::ofKind(views, "label")) {
        if (label->main.textDecor == LV_TEXT_DECOR_UNDERLINE) return label;
    }
    return nullptr;
}
}

TEST(DrawerList, SlotLabelsCountInBanksOfThree) {
    const struct {
        int index;
        const char* label;
    } cases[] = {{0, "01A"}, {1, "01B"}, {2, "01C"}, {3, "02A"}, {59, "20C"}, {299, "100C"}};
    for (const auto& c : cases) EXPECT_EQ(DrawerList::slotLabel(c.index), c.label);
    EXPECT_EQ(DrawerList::rowText(4, ""), "02B --------------------");
    EXPECT_EQ(DrawerList::rowText(4, "Lead"), "02B Lead");
}

TEST(DrawerList, OpensOnTheCurrentPresetAtTheBottomOfTheWindowAndWraps) {
    Presets presets(60);
    presets.store(0, "Clean", 2);
    presets.store(37, "Lead", 8);
    ASSERT_EQ(presets.preset->getValue(), "Lead");
    new RecordingPage("home", {});
    new DrawerList(presets.preset);

    auto views = redraw();
    driver::savePng("ui_list_presets");
    EXPECT_EQ(rowTexts(views),
              (std::vector<std::string>{"12A --------------------", "12B --------------------",
                                        "12C --------------------", "13A --------------------", "13B Lead"}));
    ASSERT_NE(underlined(views), nullptr);
    EXPECT_EQ(underlined(views)->text, "13B Lead");
    EXPECT_EQ(underlined(views)->main.textColor, 0x000000u) << "selected";
    EXPECT_EQ(underlined(views)->width, 287);
    const auto bars = GfxTestView::ofKind(views, "bar");
    ASSERT_EQ(bars.size(), 1u);
    EXPECT_EQ(bars[0]->rangeMax, 61) << "60 slots and Back";

    // Forward past "Back" wraps to 01A; back from 01A wraps to "Back".
    send("23>");
    views = redraw();
    EXPECT_EQ(rowTexts(views).back(), "Back");
    send(">");
    views = redraw();
    EXPECT_EQ(rowTexts(views).front(), "01A Clean");
    send("<");
    views = redraw();
    EXPECT_EQ(rowTexts(views).back(), "Back");
    EXPECT_EQ(rowTexts(views).front(), "19C --------------------");
}

TEST(DrawerList, ChoosingLoadsAnotherPresetAndCloses) {
    Presets presets(6);
    presets.store(0, "Clean", 2);
    presets.store(1, "Lead", 8);
    new RecordingPage("home", {});

    // The current preset is not loaded again: the tweak of the level stays.
    presets.level->setValue(9);
    new DrawerList(presets.preset);
    send("^");
    EXPECT_EQ(EventDispatcher::elements(), 1);
    EXPECT_EQ(presets.level->getValue(), 9.0f);

    new DrawerList(presets.preset);
    send("<^");
    EXPECT_EQ(EventDispatcher::elements(), 1);
    EXPECT_EQ(presets.preset->getValue(), "Clean");
    EXPECT_EQ(presets.level->getValue(), 2.0f);

    // "Back" closes without a change.
    new DrawerList(presets.preset);
    send("<^");
    EXPECT_EQ(EventDispatcher::elements(), 1);
    EXPECT_EQ(presets.preset->getValue(), "Clean");
}

TEST(DrawerList, SavesIntoAnEmptySlotUnderATypedName) {
    Presets presets(6);
    presets.store(0, "clean", 2);
    new RecordingPage("home", {});
    new DrawerList(presets.preset);
    presets.level->setValue(7);

    // A keyboard left empty (OK at once, or cancelled), or a name that another slot has, saves nothing; the
    // page stays.
    send(keys(">^") + driver::eraseAndOk(0));
    send("^x");
    send(keys("^") + driver::typeAndOk("clean"));
    EXPECT_EQ(presets.list->nameAt(1), "");
    EXPECT_EQ(EventDispatcher::elements(), 2);

    send(keys("^") + driver::typeAndOk("solo"));
    EXPECT_EQ(presets.list->nameAt(1), "solo");
    EXPECT_EQ(presets.preset->getValue(), "solo");
    EXPECT_EQ(EventDispatcher::elements(), 2);
    const auto views = redraw();
    ASSERT_NE(underlined(views), nullptr);
    EXPECT_EQ(underlined(views)->text, "01B solo");

    // The saved preset holds the level it was saved with; the other was not overwritten.
    presets.level->setValue(1);
    ASSERT_TRUE(presets.preset->setValue("solo"));
    EXPECT_EQ(presets.level->getValue(), 7.0f);
    ASSERT_TRUE(presets.preset->setValue("clean"));
    EXPECT_EQ(presets.level->getValue(), 2.0f);
}

TEST(DrawerList, SlotMenuRenamesDeletesAndOverwrites) {
    Presets presets(6);
    presets.store(0, "clean", 2);
    presets.store(1, "lead", 8);
    new RecordingPage("home", {});
    new DrawerList(presets.preset); // on "lead"
    const std::vector<int> rename = keys("L^");

    // A cancelled chooser, a cancelled, emptied or unchanged rename, and a rename to a name in use change
    // nothing, and load nothing.
    presets.level->setValue(3);
    driver::sendScript({keys("Lx")});
    driver::sendScript({rename, keys("x")});
    driver::sendScript({rename, driver::eraseAndOk(4)});
    driver::sendScript({rename, driver::typeAndOk("")});
    driver::sendScript({rename, driver::editAndOk(4, "clean")});
    EXPECT_EQ(presets.list->nameAt(0), "clean");
    EXPECT_EQ(presets.list->nameAt(1), "lead");
    EXPECT_EQ(presets.preset->getValue(), "lead");
    EXPECT_EQ(presets.level->getValue(), 3.0f);

    // Rename to a free name: the slot is renamed and becomes the current preset.
    driver::sendScript({rename, driver::typeAndOk("x")});
    EXPECT_EQ(presets.list->nameAt(1), "leadx");
    EXPECT_EQ(presets.preset->getValue(), "leadx");
    EXPECT_EQ(presets.level->getValue(), 8.0f);

    // Overwrite keeps the name and stores the present settings.
    presets.level->setValue(4);
    driver::sendScript({keys("L2>^")});
    presets.level->setValue(0);
    ASSERT_TRUE(presets.preset->setValue("leadx"));
    EXPECT_EQ(presets.level->getValue(), 4.0f);

    driver::sendScript({keys("L>^")});
    EXPECT_EQ(presets.list->nameAt(1), "");
    EXPECT_EQ(EventDispatcher::elements(), 2) << "the page stays open after every menu choice";

    // No menu on an empty slot.
    send("L");
    EXPECT_EQ(EventDispatcher::elements(), 2);
}

TEST(DrawerList, PlainSelectorsChooseOnlyAndHaveNoMenu) {
    std::filesystem::remove_all(pages::ownHome());
    auto lists = std::make_unique<NodeItem>(nullptr, "lists", "Lists", "", "vfolder");
    auto* irs = new NodeList(lists.get(), "irs", "Cabinets", "ir", 64, 3);
    ASSERT_TRUE(irs->setElementAt(0, "V30", nullptr));
    auto* selector = new NodeParList(lists.get(), "ir", "Cabinet", "V30", irs);
    ASSERT_TRUE(selector->setValue("V30"));
    new RecordingPage("home", {});
    new DrawerList(selector);

    send(">L");
    EXPECT_EQ(EventDispatcher::elements(), 2) << "no menu";
    // An empty slot of a plain selector selects nothing and closes.
    send("^");
    EXPECT_EQ(EventDispatcher::elements(), 1);
    EXPECT_EQ(selector->getValue(), "");
    EXPECT_EQ(irs->nameAt(1), "");
}
