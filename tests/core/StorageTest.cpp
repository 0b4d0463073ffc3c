// Persisted values: restart survival, write rate, atomic writes, key collisions and unreadable files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unordered_map>

#include "core/NodeFloat.h"
#include "core/NodeItem.h"
#include "core/NodeList.h"
#include "core/NodePassword.h"
#include "core/NodePreset.h"
#include "core/Storage.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;
using testsupport::readFile;

namespace {
std::string fileOf(const std::string& path) {
    return Storage::folder() + "/" + Storable::keyText(Storable::fnv1a(path));
}
std::string fileOf(const Node* node) { return fileOf(node->getPath()); }
}

// The key's hash and text are the product process test's, which names the files on its own.
TEST(Storage, KeyIsThePathsAndANewItemIsWrittenAtOnce) {
    const std::string home = std::getenv("PEDAL_HOME");
    NodeItem* root = new NodeItem(nullptr, "keys", "Keys", "", "vfolder");
    auto* alias = new NodeItem(root, "alias", "Alias", "pedal", "string");
    ASSERT_TRUE(Storage::addItem(alias));
    EXPECT_EQ(alias->getStorageKeyText(), Storable::keyText(Storable::fnv1a("keys\\alias")));
    EXPECT_EQ(readFile(home + "/storage/" + alias->getStorageKeyText()), R"({"value":"pedal"})")
        << "without a stored value the current one is written at once";
    EXPECT_EQ(alias->getSyncState(), Storable::SyncState::Clean);
}

TEST(Storage, ValuesSurviveARestartOfTheProcess) {
    // The first run: a child process stores changed values and ends.
    ASSERT_EQ(testsupport::childExit([] {
                  auto* root = new NodeItem(nullptr, "restart", "Restart", "", "vfolder");
                  auto* gain = new NodeFloat(root, "gain", "Gain", 0, 10, 5, "", 0.5f, false, 1);
                  auto* name = new NodeItem(root, "name", "Name", "default", "string");
                  auto* pwd = new NodePassword(root, "pwd", "Password");
                  bool ok = Storage::addItem(gain) && Storage::addItem(name) && Storage::addItem(pwd);
                  gain->setValue(7.5f);
                  name->setValue("Mine \"quoted\"\r\n\xB0");
                  pwd->setValue("secret");
                  for (int i = 0; i < 200; ++i) Storage::tasks();
                  return ok ? 0 : 1;
              }),
              0);

    // The second run builds the tree afresh over the same home; restores go through the setters.
    static int notified;
    notified = 0;
    auto* root = new NodeItem(nullptr, "restart", "Restart", "", "vfolder");
    auto* gain = new NodeFloat(root, "gain", "Gain", 0, 10, 5, "", 0.5f, false, 1);
    auto* name = new NodeItem(root, "name", "Name", "default", "string");
    auto* pwd = new NodePassword(root, "pwd", "Password");
    gain->setOnChange([](Node*) { ++notified; });
    ASSERT_TRUE(Storage::addItem(gain));
    ASSERT_TRUE(Storage::addItem(name));
    ASSERT_TRUE(Storage::addItem(pwd));
    EXPECT_EQ(gain->getValue(), 7.5f);
    EXPECT_EQ(notified, 1);
    EXPECT_EQ(name->getValue(), "Mine \"quoted\"\r\n\xC2\xB0");
    EXPECT_EQ(pwd->getValue(), "secret");
    EXPECT_EQ(gain->getSyncState(), Storable::SyncState::Clean) << "a restore is not written back";
}

TEST(Storage, AtMostOneWriteEveryFiftyCalls) {
    auto* root = new NodeItem(nullptr, "rate", "Rate", "", "vfolder");
    NodeItem* items[3];
    for (int i = 0; i < 3; ++i) {
        const std::string key = "item" + std::to_string(i);
        items[i] = new NodeItem(root, key.c_str(), "Item", "old", "string");
        ASSERT_TRUE(Storage::addItem(items[i]));
    }
    for (NodeItem* item : items) item->setValue("new");

    auto written = [&] {
        int count = 0;
        for (NodeItem* item : items) count += readFile(fileOf(item)) == R"({"value":"new"})";
        return count;
    };
    for (int call = 1; call <= 160; ++call) {
        Storage::tasks();
        EXPECT_EQ(written(), std::min(call / 50, 3)) << "after call " << call;
    }
    for (NodeItem* item : items) EXPECT_EQ(item->getSyncState(), Storable::SyncState::Clean);

    // After a quiet spell the next change does not wait longer than 50 calls either.
    items[1]->setValue("later");
    int calls = 0;
    while (readFile(fileOf(items[1])) != R"({"value":"later"})" && calls < 60) {
        Storage::tasks();
        ++calls;
    }
    EXPECT_LE(calls, 50);
}

TEST(Storage, AFailedWriteLeavesTheOldFileAndIsRetried) {
    auto* root = new NodeItem(nullptr, "fail", "Fail", "", "vfolder");
    auto* item = new NodeItem(root, "value", "Value", "old", "string");
    ASSERT_TRUE(Storage::addItem(item));
    const std::string file = fileOf(item);
    ASSERT_EQ(readFile(file), R"({"value":"old"})");

    // A directory where the temporary file goes makes the write fail, even for root.
    fs::create_directory(file + ".tmp");
    item->setValue("new");
    testing::internal::CaptureStdout();
    for (int i = 0; i < 50; ++i) Storage::tasks();
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("ERROR (Storage): Cannot write"), std::string::npos) << log;
    EXPECT_EQ(log.find("new"), std::string::npos) << "values are not logged";
    EXPECT_EQ(readFile(file), R"({"value":"old"})");
    EXPECT_EQ(item->getSyncState(), Storable::SyncState::Dirty);

    fs::remove(file + ".tmp");
    for (int i = 0; i < 50; ++i) Storage::tasks();
    EXPECT_EQ(readFile(file), R"({"value":"new"})");
    EXPECT_FALSE(fs::exists(file + ".tmp"));
}

TEST(Storage, AKeyCollisionIsRefused) {
    // Find two different paths with the same 32-bit key (a birthday search, some 10^5 names).
    std::unordered_map<uint32_t, int> seen;
    int first = -1, second = -1;
    for (int i = 0; first < 0; ++i) {
        auto [slot, inserted] = seen.emplace(Storable::fnv1a("coll\\k" + std::to_string(i)), i);
        if (!inserted) {
            first = slot->second;
            second = i;
        }
    }
    auto* root = new NodeItem(nullptr, "coll", "Collision", "", "vfolder");
    auto* a = new NodeItem(root, ("k" + std::to_string(first)).c_str(), "A", "first", "string");
    auto* b = new NodeItem(root, ("k" + std::to_string(second)).c_str(), "B", "second", "string");
    ASSERT_NE(a->getPath(), b->getPath());
    ASSERT_TRUE(Storage::addItem(a));
    const int count = Storage::itemCount();

    testing::internal::CaptureStdout();
    EXPECT_FALSE(Storage::addItem(b));
    EXPECT_NE(testing::internal::GetCapturedStdout().find("ERROR (Storage): Key"), std::string::npos);
    EXPECT_TRUE(Storage::addItem(a)) << "the same item twice is one registration";
    EXPECT_EQ(Storage::itemCount(), count);

    b->setValue("changed");
    for (int i = 0; i < 100; ++i) Storage::tasks();
    EXPECT_EQ(readFile(fileOf(a)), R"({"value":"first"})");
    EXPECT_EQ(b->getSyncState(), Storable::SyncState::Unregistered);
}

TEST(Storage, AnUnreadableFileIsIgnored) {
    auto* root = new NodeItem(nullptr, "bad", "Bad", "", "vfolder");
    auto* gain = new NodeFloat(root, "gain", "Gain", 0, 10, 5, "", 0.5f, false, 1);
    auto* mode = new NodeItem(root, "mode", "Mode", "keep", "string");
    fs::create_directories(Storage::folder());
    const std::vector<std::pair<Node*, std::string>> files = {{gain, "{\"value\":"}, {mode, "{\"value\":3}"}};
    for (const auto& [node, text] : files) std::ofstream(fileOf(node), std::ios::binary) << text;

    EXPECT_TRUE(Storage::addItem(gain));
    EXPECT_TRUE(Storage::addItem(mode));
    EXPECT_EQ(gain->getValue(), 5.0f);
    EXPECT_EQ(mode->getValue(), "keep");
    for (const auto& [node, text] : files) EXPECT_EQ(readFile(fileOf(node)), text) << "left alone";
    // A later change is stored as usual.
    gain->setValue(2);
    for (int i = 0; i < 50; ++i) Storage::tasks();
    EXPECT_EQ(readFile(fileOf(gain)), R"({"value":2.0})");
}

TEST(Storage, SecretsAreReadableOnlyByThePedal) {
    const std::string home = std::getenv("PEDAL_HOME");
    auto mode = [](const std::string& path) { return int(fs::status(path).permissions() & fs::perms::all); };
    // What an older version left: an open folder, a world-readable password and a temporary file.
    auto* root = new NodeItem(nullptr, "secrets", "Secrets", "", "vfolder");
    auto* pwd = new NodePassword(root, "pwd", "Password");
    auto* wifi = new NodeItem(root, "wifi", "Wi-Fi password", "", "string");
    wifi->setSecret(true);
    auto* name = new NodeItem(root, "name", "Name", "pedal", "string");
    fs::create_directories(home + "/storage");
    fs::permissions(home + "/storage", fs::perms(0755));
    std::ofstream(fileOf(pwd)) << R"({"value":"old"})";
    fs::permissions(fileOf(pwd), fs::perms(0644));
    std::ofstream(fileOf(wifi) + ".tmp") << "left over";
    fs::permissions(fileOf(wifi) + ".tmp", fs::perms(0644));

    ASSERT_TRUE(Storage::addItem(pwd));
    ASSERT_TRUE(Storage::addItem(wifi));
    ASSERT_TRUE(Storage::addItem(name));
    EXPECT_EQ(pwd->getValue(), "old");
    EXPECT_EQ(mode(home + "/storage"), 0700);
    EXPECT_EQ(mode(fileOf(pwd)), 0600) << "fixed at start";
    EXPECT_EQ(mode(fileOf(wifi)), 0600) << "written anew";
    EXPECT_EQ(mode(fileOf(name)), 0644);
    wifi->setValue("hunter2");
    for (int i = 0; i < 200; ++i) Storage::tasks();
    EXPECT_EQ(readFile(fileOf(wifi)), R"({"value":"hunter2"})");
    EXPECT_EQ(mode(fileOf(wifi)), 0600);
}

// Names under root of a list and of a node whose slot-0 path ("root\\l<a>\\0") and node path ("root\\n<b>")
// share a key, found across two sets of names.
std::pair<std::string, std::string> collidingListAndNode(const std::string& root) {
    std::unordered_map<uint32_t, int> slotKeys;
    for (int i = 0; i < 150000; ++i) slotKeys.emplace(Storable::fnv1a(root + "\\l" + std::to_string(i) + "\\0"), i);
    for (int i = 0;; ++i) {
        auto found = slotKeys.find(Storable::fnv1a(root + "\\n" + std::to_string(i)));
        if (found != slotKeys.end()) return {"l" + std::to_string(found->second), "n" + std::to_string(i)};
    }
}

TEST(Storage, SlotFilesAndItemsShareTheCollisionCheck) {
    {
        const auto [listKey, nodeKey] = collidingListAndNode("first");
        auto* root = new NodeItem(nullptr, "first", "Item first", "", "vfolder");
        auto* node = new NodeItem(root, nodeKey.c_str(), "Node", "kept", "string");
        ASSERT_TRUE(Storage::addItem(node));
        testing::internal::CaptureStdout();
        auto* slots = new NodeList(root, listKey.c_str(), "List", "x", 16, 2);
        EXPECT_NE(testing::internal::GetCapturedStdout().find("ERROR (Storage): Key"), std::string::npos);
        EXPECT_FALSE(slots->setElementAt(0, "Over", "x", 1)) << "the slot whose key is taken refuses writes";
        EXPECT_TRUE(slots->setElementAt(1, "Fine", "x", 1));
        EXPECT_EQ(readFile(fileOf(node)), R"({"value":"kept"})");
    }
    {
        const auto [listKey, nodeKey] = collidingListAndNode("second");
        // Two trees of the same root name, so the list can go while the node stays.
        auto* listRoot = new NodeItem(nullptr, "second", "List first", "", "vfolder");
        auto* slots = new NodeList(listRoot, listKey.c_str(), "List", "x", 16, 1);
        ASSERT_TRUE(slots->setElementAt(0, "Slot", "x", 1));
        auto* root = new NodeItem(nullptr, "second", "Node later", "", "vfolder");
        auto* node = new NodeItem(root, nodeKey.c_str(), "Node", "value", "string");
        testing::internal::CaptureStdout();
        EXPECT_FALSE(Storage::addItem(node));
        EXPECT_NE(testing::internal::GetCapturedStdout().find("ERROR (Storage): Key"), std::string::npos);
        EXPECT_EQ(readFile(fileOf(slots->getPath() + "\\0")).substr(0, 4), std::string("Slot", 4))
            << "the slot file stays";
        delete listRoot;
        EXPECT_TRUE(Storage::addItem(node)) << "a list that goes gives its keys back";
    }
}

TEST(Storage, FinishWritesEverythingWaitingAndThenNothing) {
    ASSERT_EQ(testsupport::childExit([] {
                  auto* root = new NodeItem(nullptr, "end", "End", "", "vfolder");
                  bool ok = true;
                  for (int i = 0; i < 6; ++i) {
                      auto* item = new NodeItem(root, ("item" + std::to_string(i)).c_str(), "Item", "old", "string");
                      ok = Storage::addItem(item) && ok;
                      item->setValue("new" + std::to_string(i));
                  }
                  Storage::tasks(); // one write goes through the sweep, the rest wait for it
                  ok = Storage::finish(5000) == 0 && ok;
                  ok = !Storage::storeFile("late", "x") && ok;
                  return ok ? 0 : 1;
              }),
              0);
    for (int i = 0; i < 6; ++i) {
        const std::string file = fileOf("end\\item" + std::to_string(i));
        EXPECT_EQ(readFile(file), "{\"value\":\"new" + std::to_string(i) + "\"}");
    }
    EXPECT_FALSE(fs::exists(Storage::folder() + "/late")) << "nothing is written after the end";
}

// Every stored file's name and bytes as a second implementation (Python's standard library) gives them, so
// that no change to the key's hash or to a record's layout can leave a pedal's stored files unread. Last in
// the program: the values it leaves with Storage would shift the write rate that an earlier case counts.
TEST(Storage, StoredFilesMatchKnownAnswers) {
    for (const auto& [path, key] : std::vector<std::pair<std::string, uint32_t>>{
             {"", 0x811C9DC5}, {"a", 0xE40C292C}, {"foobar", 0xBF9CF968}, {"keys\\alias", 0x89EA3DBD}})
        EXPECT_EQ(Storable::fnv1a(path), key) << path;
    const std::string folder = Storage::folder() + "/", gainFile = folder + "B3F9BE39";
    const std::string slot0 = folder + "1A295359", slot1 = folder + "192951C6";
    // The name record of a 27-byte preset: the name in a NUL-padded 64-byte field, both lengths, 56 zeros.
    auto slotFile = [](std::string nameHex, const std::string& text) {
        nameHex.resize(128, '0');
        return testsupport::unhex(nameHex + "1b0000001b000000") + std::string(56, '\0') + text;
    };
    const std::string solo = "pins\\app\\gain:{\"value\":6.5}", lead = "pins\\app\\gain:{\"value\":7.5}";
    testsupport::writeFile(gainFile, R"({"value":2.5})");
    testsupport::writeFile(slot1, slotFile("536f6c6f", solo));
    auto* root = new NodeItem(nullptr, "pins", "Pins", "", "vfolder");
    auto* presets = new NodeList(root, "presets", "Presets", "pst_pst", 256, 2);
    auto* app = new NodeItem(root, "app", "Application", "", "vfolder");
    auto* preset = new NodePreset(app, "preset", "Preset", "", presets);
    auto* gain = new NodeFloat(app, "gain", "Gain", 0, 10, 5, "", 0.5f, false, 1);
    ASSERT_TRUE(Storage::addItem(gain));
    EXPECT_FLOAT_EQ(gain->getValue(), 2.5f);
    EXPECT_EQ(presets->nameAt(1), "Solo");
    gain->setValue(7.5f);
    ASSERT_TRUE(preset->setValue(std::string("Lead") + NodePreset::SAVE_SUFFIX));
    for (int i = 0; i < 200; ++i) Storage::tasks();
    EXPECT_EQ(readFile(gainFile), R"({"value":7.5})");
    EXPECT_EQ(readFile(slot0), slotFile("4c656164", lead));
    ASSERT_TRUE(preset->setValue("Solo"));
    EXPECT_FLOAT_EQ(gain->getValue(), 6.5f);
}
