// Presets: the preset text, save and load rules, the scope and ignore list, isEdited, the load hooks and the
// plain slot selector.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/NodeColor.h"
#include "core/NodeFloat.h"
#include "core/NodeItem.h"
#include "core/NodeList.h"
#include "core/NodeOnOff.h"
#include "core/NodeParList.h"
#include "core/NodePassword.h"
#include "core/NodePreset.h"

namespace {
// root
//   presets (list)        app
//                           early (before the preset: out of scope)
//                           preset
//                           amp (folder): on_off, gain, _meter, sub (folder): tone
//                           out (folder): vol (ignored), color
//   sys: pwd
struct Tree {
    NodeItem* root = new NodeItem(nullptr, "root", "Root", "", "vfolder");
    NodeList* presets;
    NodeFloat* early;
    NodePreset* preset;
    NodeOnOff* onOff;
    NodeFloat* gain;
    NodeFloat* meter;
    NodeFloat* tone;
    NodeFloat* vol;
    NodeColor* color;
    NodePassword* pwd;

    explicit Tree(int slotSize = 1024, int slots = 4) {
        presets = new NodeList(root, "presets", "Presets", "pst_pst", slotSize, slots);
        auto* app = new NodeItem(root, "app", "Application", "", "vfolder");
        early = new NodeFloat(app, "early", "Early", 0, 10, 1, "", 0.5f, false, 1);
        preset = new NodePreset(app, "preset", "Preset", "", presets);
        auto* amp = new NodeItem(app, "amp", "Amp", "", "hfolder");
        auto* out = new NodeItem(app, "out", "Out", "", "hfolder");
        onOff = new NodeOnOff(amp, "on_off", "Enable", NodeOnOff::OFF);
        gain = new NodeFloat(amp, "gain", "Gain", 0, 10, 5, "", 0.5f, false, 1);
        meter = new NodeFloat(amp, "_meter", "Meter", 0, 1, 0, "", 0.5f, false, 2);
        auto* sub = new NodeItem(amp, "sub", "Sub", "", "vfolder");
        tone = new NodeFloat(sub, "tone", "Tone", 0, 10, 2, "", 0.5f, false, 1);
        vol = new NodeFloat(out, "vol", "Volume", 0, 100, 50, "%", 0.5f, false, 0);
        color = new NodeColor(out, "color", "Color", "00AA00");
        auto* sys = new NodeItem(root, "sys", "System", "", "vfolder");
        pwd = new NodePassword(sys, "pwd", "Password");
        preset->addIgnoreNode(vol);
        preset->addIgnoreNode(vol);
    }
    ~Tree() { delete root; }
    std::string slotText(int i) const {
        const auto data = presets->dataAt(i);
        return std::string(data->begin(), data->end());
    }
    bool save(const std::string& name) { return preset->setValue(name + NodePreset::SAVE_SUFFIX); }
};

int begins = 0, ends = 0, notifiedInside = 0, notifications = 0;
void onBegin() { ++begins; }
void onEnd() { ++ends; }
void onPreset(Node*) {
    ++notifications;
    if (begins > ends) ++notifiedInside;
}
}

TEST(NodePreset, TextHoldsTheScopeAndLoadingRestoresIt) {
    Tree t;
    t.onOff->setValue("ON");
    t.gain->setValue(7.5f);
    t.tone->setValue(3);
    t.color->setValue("FF0000");
    ASSERT_TRUE(t.presets->setElementAt(0, "Taken", nullptr));
    ASSERT_TRUE(t.save("Lead"));
    EXPECT_EQ(t.presets->indexOf("Lead"), 1) << "the first empty slot";
    EXPECT_EQ(t.slotText(1), "root\\app\\amp\\on_off:{\"value\":\"ON\"}\r\n"
                             "root\\app\\amp\\gain:{\"value\":7.5}\r\n"
                             "root\\app\\out\\color:{\"value\":\"FF0000\"}\r\n"
                             "root\\app\\amp\\sub\\tone:{\"value\":3.0}")
        << "breadth-first; no folders, no '_' nodes, nothing ignored or before the preset";
    EXPECT_EQ(t.preset->getValue(), "") << "saving does not select";

    t.gain->setValue(1);
    t.tone->setValue(9);
    t.vol->setValue(80);
    t.early->setValue(9);
    ASSERT_TRUE(t.preset->setValue("Lead"));
    EXPECT_EQ(t.preset->getValue(), "Lead");
    EXPECT_EQ(t.preset->getIndex(), 1);
    EXPECT_FLOAT_EQ(t.gain->getValue(), 7.5f);
    EXPECT_FLOAT_EQ(t.tone->getValue(), 3);
    EXPECT_EQ(t.color->getValue(), "FF0000");
    EXPECT_FLOAT_EQ(t.vol->getValue(), 80) << "ignored";
    EXPECT_FLOAT_EQ(t.early->getValue(), 9) << "before the preset node";

    // Lines for nodes outside the scope or gone are skipped; nodes without a line fall back to defaults.
    const std::string shared = "root\\sys\\pwd:{\"value\":\"hacked\"}\r\n"
                               "root\\app\\out\\vol:{\"value\":1}\r\n"
                               "root\\app\\early:{\"value\":0}\r\n"
                               "root\\app\\amp\\_meter:{\"value\":1}\r\n"
                               "root\\app\\gone:{\"value\":1}\r\n"
                               "no colon at all\r\n"
                               "root\\app\\amp\\gain:{\"value\":\"loud\"}\r\n"
                               "root\\app\\amp\\sub\\tone:{\"value\":4}";
    ASSERT_TRUE(t.presets->setElementAt(2, "Shared", shared.data(), shared.size()));
    ASSERT_TRUE(t.preset->setByIndex(2));
    EXPECT_EQ(t.pwd->getValue(), "");
    EXPECT_FLOAT_EQ(t.vol->getValue(), 80);
    EXPECT_FLOAT_EQ(t.early->getValue(), 9);
    EXPECT_FLOAT_EQ(t.meter->getValue(), 0);
    EXPECT_FLOAT_EQ(t.tone->getValue(), 4);
    EXPECT_FLOAT_EQ(t.gain->getValue(), 5) << "a refused line leaves the default";
    EXPECT_EQ(t.onOff->getValue(), "OFF");
    EXPECT_EQ(t.color->getValue(), "00AA00");
    EXPECT_FALSE(t.preset->isEdited());
}

TEST(NodePreset, SaveTargetsAndRefusals) {
    Tree t(1024, 3);
    struct Case {
        const char* what;
        std::function<bool()> call;
        bool ok;
        std::vector<std::string> names; // the slots afterwards
    };
    const std::vector<Case> cases = {
        {"empty name with none selected", [&] { return t.save(""); }, false, {"", "", ""}},
        {"first empty slot", [&] { return t.save("A"); }, true, {"A", "", ""}},
        {"by remote body",
         [&] { return t.root->parseJSON("root\\app\\preset:{\"value\":\"B\",\"save\":\"save\"}"); },
         true,
         {"A", "B", ""}},
        {"the slot of that name",
         [&] {
             t.gain->setValue(9);
             return t.save("A");
         },
         true,
         {"A", "B", ""}},
        {"third", [&] { return t.save("C"); }, true, {"A", "B", "C"}},
        {"full list", [&] { return t.save("D"); }, false, {"A", "B", "C"}},
        {"empty name saves the current one",
         [&] {
             t.preset->setValue("B");
             t.gain->setValue(2);
             return t.save("");
         },
         true,
         {"A", "B", "C"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.call(), c.ok) << c.what;
        for (int i = 0; i < 3; ++i) EXPECT_EQ(t.presets->nameAt(i), c.names[size_t(i)]) << c.what << " slot " << i;
    }
    EXPECT_NE(t.slotText(0).find("gain:{\"value\":9.0}"), std::string::npos);
    EXPECT_NE(t.slotText(1).find("gain:{\"value\":2.0}"), std::string::npos);
    EXPECT_EQ(t.preset->getValue(), "B");

    // A text longer than a slot fails whole; nothing is truncated.
    Tree small(60, 2);
    ASSERT_TRUE(small.presets->setElementAt(0, "Old", "keep", 4));
    EXPECT_GT(small.preset->presetText().size(), 60u);
    EXPECT_FALSE(small.save("Old"));
    EXPECT_FALSE(small.save("New"));
    EXPECT_EQ(small.slotText(0), "keep");
    EXPECT_EQ(small.presets->nameAt(1), "");
}

TEST(NodePreset, IsEditedFollowsChangesAfterLoadOrSave) {
    Tree t;
    ASSERT_TRUE(t.save("One"));
    ASSERT_TRUE(t.preset->setValue("One"));
    struct Step {
        const char* what;
        std::function<void()> action;
        bool edited;
    };
    const std::vector<Step> steps = {
        {"after load", [] {}, false},
        {"same value again", [&] { t.gain->setValue(5); }, false},
        {"ignored node", [&] { t.vol->setValue(10); }, false},
        {"node before the preset", [&] { t.early->setValue(3); }, false},
        {"outside the parent", [&] { t.pwd->setValue("x"); }, false},
        {"read-only node", [&] { t.meter->setValue(0.5f); }, false},
        {"parameter", [&] { t.gain->setValue(6); }, true},
        {"saved", [&] { t.save("One"); }, false},
        {"deep parameter", [&] { t.tone->edit(true); }, true},
        {"reload", [&] { t.preset->setByIndex(0); }, false},
        {"edited right after a reload",
         [&] {
             t.preset->setValue("One");
             t.onOff->toggle();
         },
         true},
        {"saved under another name", [&] { t.save("Two"); }, false},
    };
    for (const Step& s : steps) {
        s.action();
        EXPECT_EQ(t.preset->isEdited(), s.edited) << s.what;
    }
}

// A slot renamed or written anew while selected stays selected under its new name; the old settings play.
TEST(NodePreset, TheSelectionFollowsItsSlot) {
    Tree t(1024, 6);
    for (const char* name : {"A", "B", "C"}) ASSERT_TRUE(t.save(name));
    ASSERT_TRUE(t.preset->setValue("B"));
    t.gain->setValue(9);
    const std::string nine = t.preset->presetText();
    const auto expect = [&](bool done, const char* value, int index, bool edited) {
        EXPECT_TRUE(done && t.preset->getValue() == value && t.preset->getIndex() == index) << value << index;
        EXPECT_EQ(t.preset->isEdited(), edited) << value << index;
    };
    expect(t.presets->setElementAt(1, "B", nine.data(), nine.size()), "B", 1, true);
    expect(t.preset->setByIndex(1), "B", 1, false);
    expect(t.presets->setNameAt(1, "B2"), "B2", 1, false);
    expect(t.presets->setElementAt(1, "X", nine.data(), nine.size()), "X", 1, true);
    expect(t.presets->swap(1, 4), "X", 4, true);
    const int64_t loaded = t.preset->getChangeTime();
    expect(t.presets->setNameAt(4, "Y"), "Y", 4, true);
    EXPECT_GT(t.preset->getChangeTime(), loaded) << "a name followed is a change to report and store";
    expect(t.presets->deleteAt(4), "Y", -1, false); // emptied: as it was
    EXPECT_FLOAT_EQ(t.gain->getValue(), 9.0f) << "the last load's settings play";
}

TEST(NodePreset, LoadsNotifyInsideTheHooks) {
    Tree t;
    NodePreset::setLoadHooks(onBegin, onEnd);
    t.preset->setOnChange(onPreset);
    ASSERT_TRUE(t.save("One"));
    ASSERT_TRUE(t.save("Two"));
    EXPECT_EQ(begins, 0) << "saving is no load";

    struct Case {
        const char* what;
        std::function<bool()> call;
        bool ok;
        const char* value;
        int loads; // hook pairs and notifications added
    };
    const std::vector<Case> cases = {
        {"load", [&] { return t.preset->setValue("One"); }, true, "One", 1},
        {"the current preset again", [&] { return t.preset->setValue("One"); }, true, "One", 1},
        {"by index", [&] { return t.preset->setByIndex(1); }, true, "Two", 1},
        {"index of an empty slot", [&] { return t.preset->setByIndex(2); }, false, "Two", 0},
        {"index past the end", [&] { return t.preset->setByIndex(4); }, false, "Two", 0},
        {"edit down",
         [&] {
             t.preset->edit(false);
             return true;
         },
         true, "One", 1},
        {"edit down at the first", [&] { return !t.preset->canEdit(false); }, true, "One", 0},
        {"unknown name", [&] { return t.preset->setValue("Nope"); }, false, "", 0},
    };
    for (const Case& c : cases) {
        const int before = begins, notifiedBefore = notifiedInside;
        EXPECT_EQ(c.call(), c.ok) << c.what;
        EXPECT_EQ(t.preset->getValue(), c.value) << c.what;
        EXPECT_EQ(begins - before, c.loads) << c.what;
        EXPECT_EQ(notifiedInside - notifiedBefore, c.loads) << c.what;
        EXPECT_EQ(begins, ends) << c.what;
    }
    EXPECT_EQ(notifications, notifiedInside + 1) << "clearing the value notifies outside a load";
    NodePreset::setLoadHooks(nullptr, nullptr);
}

TEST(NodeParList, PlainSelectorPicksNamedSlots) {
    auto* root = new NodeItem(nullptr, "root", "Root", "", "vfolder");
    auto* list = new NodeList(root, "ir_list", "IRs", "wav", 64, 5);
    auto* selector = new NodeParList(root, "ir", "IR", "", list);
    ASSERT_TRUE(list->setElementAt(1, "Cab A", nullptr));
    ASSERT_TRUE(list->setElementAt(3, "Cab B", nullptr));
    EXPECT_FALSE(selector->isEditable());
    EXPECT_TRUE(selector->canEdit(true));

    struct Step {
        std::function<bool()> action;
        bool ok;
        const char* value;
        int index;
        bool canUp, canDown;
    };
    const auto up = [&] {
        selector->edit(true);
        return true;
    };
    const std::vector<Step> steps = {
        {up, true, "Cab A", 1, true, false},
        {up, true, "Cab B", 3, false, true},
        {up, true, "Cab B", 3, false, true},
        {[&] { return selector->setValue("Missing"); }, false, "", -1, true, true},
        {[&] { return selector->setValue("Cab A"); }, true, "Cab A", 1, true, false},
        {[&] { return root->parseJSON("root\\ir:{\"value\":\"Cab B\"}"); }, true, "Cab B", 3, false, true},
        {[&] { return list->setNameAt(3, "Cab C"); }, true, "Cab C", 3, false, true},
        {[&] { return list->setElementAt(0, "Cab 0", nullptr) && selector->setValue("Cab A"); }, true, "Cab A", 1, true,
         true},
        {[&] { return selector->edit(false), true; }, true, "Cab 0", 0, true, false},
        {[&] { return selector->setValue(""); }, true, "", -1, true, true},
    };
    for (size_t k = 0; k < steps.size(); ++k) {
        EXPECT_EQ(steps[k].action(), steps[k].ok) << k;
        EXPECT_EQ(selector->getValue(), steps[k].value) << k;
        EXPECT_EQ(selector->getIndex(), steps[k].index) << k;
        EXPECT_EQ(selector->canEdit(true), steps[k].canUp) << k;
        EXPECT_EQ(selector->canEdit(false), steps[k].canDown) << k;
    }
    EXPECT_EQ(
        selector->getJSON(DESC_FULL, false),
        "root\\ir:{\"type\":\"plist\",\"name\":\"IR\",\"value\":\"\",\"list\":\"root\\\\ir_list\",\"editable\":false}");
    delete root;
}

TEST(NodePreset, AStoredEmptySelectionLoadsSilently) {
    Tree t;
    ASSERT_TRUE(t.save("One"));
    ASSERT_TRUE(t.preset->setValue("One"));
    t.gain->setValue(3);
    testing::internal::CaptureStdout();
    EXPECT_TRUE(t.preset->restoreStorageBody("{\"value\":\"\"}"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(t.preset->getValue(), "");
    EXPECT_FLOAT_EQ(t.gain->getValue(), 3) << "no preset is loaded";
    EXPECT_FALSE(t.preset->setValue("Nothing of that name"));
}
