// Slot lists: chunked uploads with their status, refusals, gzip, "dread", swap, local edits and reload.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "core/NodeItem.h"
#include "core/NodeList.h"
#include "core/Storage.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using testsupport::hex;

namespace {
Bytes pattern(size_t length, int seed = 1) {
    Bytes out(length);
    for (size_t k = 0; k < length; ++k) out[k] = uint8_t((k * 7 + size_t(seed) * 13 + k / 97) & 0xFF);
    return out;
}

std::string chunkText(const NodeList& list, int index, int chunk, const std::string& value) {
    return list.getPath() + ":{\"index\":" + std::to_string(index) + ",\"chunk\":" + std::to_string(chunk) +
           ",\"value\":\"" + value + "\"}";
}

// The messages of a whole upload: the name record, then the stream in chunks.
std::vector<std::string> uploadOf(const NodeList& list, int index, const std::string& name, const Bytes& stream,
                                  uint32_t stored) {
    std::vector<std::string> out{
        chunkText(list, index, 0, hex(testsupport::slotRecord<Bytes>(name, uint32_t(stream.size()), stored)))};
    const size_t chunk = size_t(list.getChunkSize());
    for (size_t start = 0, c = 1; start < stream.size(); start += chunk, ++c) {
        Bytes part(stream.begin() + long(start), stream.begin() + long(std::min(stream.size(), start + chunk)));
        out.push_back(chunkText(list, index, int(c), hex(part)));
    }
    return out;
}

std::string status(const NodeList& list, int index, int chunk) {
    return list.getPath() + ":{\"index\":" + std::to_string(index) + ",\"chunk\":" + std::to_string(chunk) + "}";
}

std::string fileOf(const NodeList& list, int index) {
    return Storage::folder() + "/" + Storable::keyText(Storable::fnv1a(list.getPath() + "\\" + std::to_string(index)));
}

Bytes dataOf(const NodeList& list, int i) { return *list.dataAt(i); }

// The value and size of one "dread" reply.
struct ReadReply {
    int size = -1;
    Bytes value;
};

ReadReply dread(NodeList& list, int index, int chunk) {
    const std::string reply = list.parseReadJSON(list.getPath() + ":{\"index\":" + std::to_string(index) +
                                                 ",\"chunk\":" + std::to_string(chunk) + "}");
    const std::string head = "dread " + list.getPath() + ":";
    EXPECT_EQ(reply.compare(0, head.size(), head), 0) << reply;
    ReadReply out;
    const size_t size = reply.find("\"size\":"), value = reply.find("\"value\":\"");
    if (size == std::string::npos || value == std::string::npos) return out;
    out.size = std::atoi(reply.c_str() + size + 7);
    out.value = testsupport::unhex<Bytes>(reply.substr(value + 9, reply.rfind('"') - value - 9));
    return out;
}
}

TEST(NodeList, UploadCommitsAtTheLastChunkAndEchoesIt) {
    NodeItem root(nullptr, "root", "Root", "", "vfolder");
    auto* list = new NodeList(&root, "presets", "Presets", "pst_pst", 1000, 4);
    ASSERT_TRUE(list->setElementAt(2, "Old", "old data", 8));
    const uint32_t before = list->versionAt(2);
    EXPECT_EQ(list->writeStatusJSON(), status(*list, -1, -1)) << "no write yet";

    const Bytes data = pattern(300);
    const std::vector<std::string> messages = uploadOf(*list, 2, "New one", data, 300);
    ASSERT_EQ(messages.size(), 4u) << "name record and 128 + 128 + 44 bytes";
    for (size_t c = 0; c < messages.size(); ++c) {
        ASSERT_TRUE(list->parseWriteJSON(messages[c])) << c;
        EXPECT_EQ(list->writeStatusJSON(), status(*list, 2, int(c)));
        if (c + 1 < messages.size()) {
            EXPECT_EQ(list->nameAt(2), "Old") << "the old slot stays until the commit";
        }
    }
    EXPECT_EQ(list->nameAt(2), "New one");
    EXPECT_EQ(dataOf(*list, 2), data);
    EXPECT_NE(list->versionAt(2), before);

    Bytes expectedFile = testsupport::slotRecord<Bytes>("New one", 300, 300);
    expectedFile.insert(expectedFile.end(), data.begin(), data.end());
    EXPECT_EQ(testsupport::readFile<Bytes>(fileOf(*list, 2)), expectedFile)
        << "stored at once: name record and used bytes";

    // A record announcing no data commits at chunk 0.
    ASSERT_TRUE(list->parseWriteJSON(uploadOf(*list, 0, "Name only", {}, 0)[0]));
    EXPECT_EQ(list->writeStatusJSON(), status(*list, 0, 0));
    EXPECT_EQ(list->nameAt(0), "Name only");

    // Chunk 0 restarts a write in progress.
    const std::vector<std::string> again = uploadOf(*list, 1, "Restarted", data, 300);
    ASSERT_TRUE(list->parseWriteJSON(again[0]));
    ASSERT_TRUE(list->parseWriteJSON(again[1]));
    for (const std::string& message : again) ASSERT_TRUE(list->parseWriteJSON(message));
    EXPECT_EQ(dataOf(*list, 1), data);
}

TEST(NodeList, RefusedWritesAbortAndKeepTheSlot) {
    NodeItem root(nullptr, "root", "Root", "", "vfolder");
    auto* list = new NodeList(&root, "ir", "IR", "wav", 256, 3);
    auto* zipped = new NodeList(&root, "models", "Models", "nam", 1000, 2, 64, true);
    ASSERT_TRUE(list->setElementAt(0, "Kept", "kept", 4));
    ASSERT_TRUE(list->setElementAt(2, "Other", nullptr));
    ASSERT_TRUE(zipped->setElementAt(0, "Kept", "kept", 4));
    ASSERT_TRUE(zipped->setElementAt(1, "Other", nullptr));

    const Bytes small = pattern(200);
    const std::vector<std::string> good = uploadOf(*list, 0, "Fresh", small, 200);
    const Bytes gz = testsupport::gzip(pattern(900));
    Bytes corrupt = gz;
    corrupt[gz.size() / 2] ^= 0x55;
    corrupt[gz.size() / 2 + 1] ^= 0xAA;
    const Bytes tooBig = testsupport::gzip(Bytes(1001, 'x'));
    Bytes twoMembers = testsupport::gzip(pattern(300));
    const Bytes secondMember = testsupport::gzip(pattern(200));
    twoMembers.insert(twoMembers.end(), secondMember.begin(), secondMember.end());
    struct Case {
        const char* what;
        NodeList* target;
        std::vector<std::string> messages; // one of them must be refused
    };
    const std::vector<Case> cases = {
        {"chunk skipped", list, {good[0], good[2]}},
        {"chunk repeated", list, {good[0], good[1], good[1]}},
        {"data without a name record", list, {good[1]}},
        {"another index mid-write", list, {good[0], chunkText(*list, 1, 1, "00")}},
        {"bad hex", list, {good[0], chunkText(*list, 0, 1, "0g")}},
        {"odd hex length", list, {good[0], chunkText(*list, 0, 1, "abc")}},
        {"index past the end", list, {chunkText(*list, 3, 0, hex(testsupport::slotRecord<Bytes>("X", 1, 1)))}},
        {"negative index", list, {chunkText(*list, -1, 0, hex(testsupport::slotRecord<Bytes>("X", 1, 1)))}},
        {"name of another slot", list, {chunkText(*list, 0, 0, hex(testsupport::slotRecord<Bytes>("Other", 1, 1)))}},
        {"empty name", list, {chunkText(*list, 0, 0, hex(testsupport::slotRecord<Bytes>("", 1, 1)))}},
        {"short name record", list, {chunkText(*list, 0, 0, "4142")}},
        {"announced data beyond the slot",
         list,
         {chunkText(*list, 0, 0, hex(testsupport::slotRecord<Bytes>("Big", 257, 257)))}},
        {"more data than announced",
         list,
         {chunkText(*list, 0, 0, hex(testsupport::slotRecord<Bytes>("Two", 2, 2))), chunkText(*list, 0, 1, "010203")}},
        {"chunk larger than the chunk size",
         list,
         {chunkText(*list, 0, 0, hex(testsupport::slotRecord<Bytes>("Big", 200, 200))),
          chunkText(*list, 0, 1, hex(pattern(129)))}},
        {"not JSON", list, {good[0], list->getPath() + ":{\"index\":0,"}},
        {"no value", list, {good[0], list->getPath() + ":{\"index\":0,\"chunk\":1}"}},
        {"corrupt gzip", zipped, uploadOf(*zipped, 0, "Bad", corrupt, 900)},
        {"gzip inflating beyond the slot", zipped, uploadOf(*zipped, 0, "Huge", tooBig, 0)},
        {"gzip of another length than announced", zipped, uploadOf(*zipped, 0, "Liar", gz, 800)},
        {"plain data into a gzip list", zipped, uploadOf(*zipped, 0, "Plain", pattern(100), 100)},
        {"two gzip members", zipped, uploadOf(*zipped, 0, "Two", twoMembers, 500)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        bool refused = false;
        testing::internal::CaptureStdout();
        for (size_t k = 0; k < c.messages.size() && !refused; ++k) refused = !c.target->parseWriteJSON(c.messages[k]);
        const std::string log = testing::internal::GetCapturedStdout();
        EXPECT_TRUE(std::regex_search(log, std::regex("(chunk -?[0-9]+|not committed): [a-z]"))) << "why: " << log;
        EXPECT_TRUE(refused);
        EXPECT_EQ(c.target->writeStatusJSON(), status(*c.target, -1, -1));
        EXPECT_EQ(c.target->nameAt(0), "Kept");
        EXPECT_EQ(dataOf(*c.target, 0), Bytes({'k', 'e', 'p', 't'}));
        EXPECT_EQ(c.target->nameAt(1), c.target == list ? "" : "Other");
        // After an abort a new chunk 1 has nothing to continue.
        EXPECT_FALSE(c.target->parseWriteJSON(chunkText(*c.target, 0, 1, "00")));
    }
}

TEST(NodeList, GzipRoundTripAndReadChunks) {
    NodeItem root(nullptr, "root", "Root", "", "vfolder");
    auto* zipped = new NodeList(&root, "models", "Models", "nam", 20000, 2, 512, true);
    auto* plain = new NodeList(&root, "ir", "IR", "wav", 1000, 2);

    const Bytes data = pattern(15000, 3);
    const Bytes gz = testsupport::gzip(data);
    for (const std::string& message : uploadOf(*zipped, 1, "Model", gz, uint32_t(data.size())))
        ASSERT_TRUE(zipped->parseWriteJSON(message));
    EXPECT_EQ(dataOf(*zipped, 1), data) << "stored inflated";

    // Reading back: chunk 0 is the record, then the device's own gzip copy in chunks of 512 bytes.
    const ReadReply head = dread(*zipped, 1, 0);
    ASSERT_EQ(head.value.size(), 128u);
    EXPECT_EQ(std::string(head.value.begin(), head.value.begin() + 5), "Model");
    const uint32_t transferred =
        head.value[64] | head.value[65] << 8 | head.value[66] << 16 | uint32_t(head.value[67]) << 24;
    const uint32_t stored =
        head.value[68] | head.value[69] << 8 | head.value[70] << 16 | uint32_t(head.value[71]) << 24;
    EXPECT_EQ(stored, data.size());
    EXPECT_EQ(int(transferred), head.size);
    Bytes stream;
    for (int c = 1; c <= (head.size + 511) / 512; ++c) {
        const ReadReply part = dread(*zipped, 1, c);
        EXPECT_EQ(part.size, head.size);
        EXPECT_LE(part.value.size(), 512u);
        stream.insert(stream.end(), part.value.begin(), part.value.end());
    }
    EXPECT_EQ(int(stream.size()), head.size);
    EXPECT_EQ(testsupport::gunzip(stream), data);

    // Plain list: chunk c carries bytes [(c-1)*128, c*128); past the end the value is empty.
    const Bytes small = pattern(300, 5);
    ASSERT_TRUE(plain->setElementAt(0, "Cab", small.data(), small.size()));
    struct ReadCase {
        int chunk;
        size_t from, to;
    };
    dread(*plain, 0, 0); // a download starts at the name record
    for (const ReadCase& c : std::vector<ReadCase>{{1, 0, 128}, {2, 128, 256}, {3, 256, 300}, {4, 300, 300}}) {
        const ReadReply part = dread(*plain, 0, c.chunk);
        EXPECT_EQ(part.size, 300);
        EXPECT_EQ(part.value, Bytes(small.begin() + long(c.from), small.begin() + long(c.to))) << c.chunk;
    }
    EXPECT_EQ(dread(*plain, 1, 0).value, testsupport::slotRecord<Bytes>("", 0, 0))
        << "an empty slot reads as an empty record";
    for (const char* bad :
         {":{\"index\":2,\"chunk\":0}", ":{\"index\":0,\"chunk\":-1}", ":{\"index\":0}", ":nonsense", ""})
        EXPECT_EQ(plain->parseReadJSON(plain->getPath() + bad), "") << bad;
}

TEST(NodeList, SwapLocalEditsAndDescription) {
    NodeItem root(nullptr, "root", "Root", "", "vfolder");
    auto* list = new NodeList(&root, "presets", "Presets", "pst_pst", 16, 3);
    list->setGroup(3);
    ASSERT_TRUE(list->setElementAt(0, "A", "aaaa", 4));
    ASSERT_TRUE(list->setElementAt(1, "B", "bb", 2));

    // Refusals leave everything as it was.
    struct Refusal {
        const char* what;
        std::function<bool()> call;
    };
    const std::vector<Refusal> refusals = {
        {"bad index", [&] { return list->setElementAt(3, "C", nullptr); }},
        {"negative index", [&] { return list->setElementAt(-1, "C", nullptr); }},
        {"empty name", [&] { return list->setElementAt(2, "", nullptr); }},
        {"name of another slot", [&] { return list->setElementAt(2, "A", nullptr); }},
        {"name of 64 bytes", [&] { return list->setElementAt(2, std::string(64, 'n'), nullptr); }},
        {"more data than a slot", [&] { return list->setElementAt(2, "C", "0123456789abcdefX", 17); }},
        {"rename of an empty slot", [&] { return list->setNameAt(2, "C"); }},
        {"rename to another slot's name", [&] { return list->setNameAt(0, "B"); }},
        {"rename to empty", [&] { return list->setNameAt(0, ""); }},
        {"swap with a bad index", [&] { return list->parseSwapJSON(list->getPath() + ":{\"index\":0,\"index2\":3}"); }},
        {"malformed swap", [&] { return list->parseSwapJSON(list->getPath() + ":{\"index\":0}"); }},
    };
    for (const Refusal& r : refusals) EXPECT_FALSE(r.call()) << r.what;
    EXPECT_EQ(list->nameAt(0), "A");
    EXPECT_EQ(list->nameAt(2), "");
    EXPECT_FALSE(fs::exists(fileOf(*list, 2))) << "an empty slot has no file";
    EXPECT_TRUE(list->setElementAt(2, std::string(63, 'n'), nullptr)) << "63 bytes fit";
    EXPECT_TRUE(list->setElementAt(2, "C", "0123456789abcdef"));
    EXPECT_EQ(dataOf(*list, 2).size(), 16u) << "three arguments: a whole slot";

    const uint32_t v0 = list->versionAt(0), v1 = list->versionAt(1);
    EXPECT_TRUE(list->parseSwapJSON(list->getPath() + ":{\"index\":0,\"index2\":1}"));
    EXPECT_EQ(list->nameAt(0), "B");
    EXPECT_EQ(dataOf(*list, 1), Bytes({'a', 'a', 'a', 'a'}));
    EXPECT_NE(list->versionAt(0), v0);
    EXPECT_NE(list->versionAt(1), v1);
    EXPECT_EQ(testsupport::readFile<Bytes>(fileOf(*list, 0)).at(0), 'B') << "both files rewritten";

    EXPECT_TRUE(list->setNameAt(0, "Bee"));
    EXPECT_EQ(list->indexOf("Bee"), 0);
    EXPECT_EQ(list->indexOf(""), -1);
    EXPECT_TRUE(list->deleteAt(0));
    EXPECT_FALSE(fs::exists(fileOf(*list, 0)));
    EXPECT_EQ(list->indexOf("Bee"), -1);

    EXPECT_EQ(
        list->getJSON(DESC_FULL, false),
        "root\\presets:{\"type\":\"list\",\"name\":\"Presets\",\"value\":[\"\",\"A\",\"C\"],\"itype\":\"pst_pst\","
        "\"size\":16,\"count\":3,\"chunk\":128,\"gzip\":false,\"group\":3}");
    EXPECT_FALSE(root.parseJSON("root\\presets:{\"value\":[\"x\",\"y\",\"z\"]}")) << "the value is not written";
}

TEST(NodeList, SlotsComeBackWhenTheListIsBuiltAgain) {
    const Bytes data = pattern(500, 9);
    auto* root = new NodeItem(nullptr, "root", "Root", "", "vfolder");
    auto* list = new NodeList(root, "ir", "IR", "wav", 1000, 3);
    ASSERT_TRUE(list->setElementAt(0, "First", data.data(), data.size()));
    ASSERT_TRUE(list->setElementAt(2, "Third", nullptr));
    // A damaged file (its length field disagrees) is ignored and left alone.
    const std::string damaged = fileOf(*list, 1);
    testsupport::writeFile(damaged, testsupport::slotRecord("Broken", 10, 10) + "\x01");
    delete root;

    root = new NodeItem(nullptr, "root", "Root", "", "vfolder");
    list = new NodeList(root, "ir", "IR", "wav", 1000, 3);
    EXPECT_EQ(list->nameAt(0), "First");
    EXPECT_EQ(dataOf(*list, 0), data);
    EXPECT_EQ(list->nameAt(1), "");
    EXPECT_TRUE(fs::exists(damaged));
    EXPECT_EQ(list->nameAt(2), "Third");
    EXPECT_TRUE(dataOf(*list, 2).empty());
    delete root;
}

namespace {
// Ends the process after the configured count of completed file steps, as a power cut would.
// Exit code 4: the cut came after the journal, the swap's commit.
int stepsLeft = -1;
bool committed = false, cutAfterCommit = false;
void endAfterSteps(const std::string& name) {
    committed = committed || name == Storable::keyText(Storable::fnv1a("root\\presets\\swap"));
    if (--stepsLeft == 0) _exit(committed ? 4 : 0);
}

// Builds the list in a child, fills it, swaps 0 and 1 with the process ended after `steps` file steps (0: the
// swap runs to its end); the parent then reads the slots back from a fresh list, after `beforeRestart`.
std::pair<std::string, std::string> slotsAfterSwapCutAt(
    int steps, bool secondFilled, const std::function<void()>& beforeRestart = [] {}) {
    const int exit = testsupport::childExit([&] {
        auto* root = new NodeItem(nullptr, "root", "Root", "", "vfolder");
        auto* list = new NodeList(root, "presets", "Presets", "pst_pst", 64, 3);
        list->setElementAt(0, "A", "aaaa", 4);
        if (secondFilled) list->setElementAt(1, "B", "bb", 2);
        stepsLeft = steps;
        Storage::setFileStepObserver(endAfterSteps);
        list->swap(secondFilled ? 0 : 1, secondFilled ? 1 : 0); // slot 0 on either side of the journal
        return steps == 0 ? 0 : 3;                              // 3: the swap took fewer steps
    });
    cutAfterCommit = exit == 4;
    if (exit != 0 && exit != 4) return {"ended", "early"};
    // A kill while a file was written leaves its temporary file, the journal's as well as a slot's.
    for (const char* key : {"root\\presets\\0", "root\\presets\\swap"})
        testsupport::writeFile(Storage::folder() + "/" + Storable::keyText(Storable::fnv1a(key)) + ".tmp", "cut");
    beforeRestart();
    auto* root = new NodeItem(nullptr, "root", "Root", "", "vfolder");
    auto* list = new NodeList(root, "presets", "Presets", "pst_pst", 64, 3);
    auto slotText = [&](int i) {
        const Bytes data = dataOf(*list, i);
        return list->nameAt(i) + "=" + std::string(data.begin(), data.end());
    };
    std::pair<std::string, std::string> slots{slotText(0), slotText(1)};
    delete root;
    return slots;
}
}

TEST(NodeList, ASwapCutAtAnyStepLeavesBothSlotsWhole) {
    for (const bool secondFilled : {true, false}) {
        const std::string a = "A=aaaa", b = secondFilled ? "B=bb" : "=";
        int steps = 1;
        for (; steps < 20; ++steps) {
            testsupport::emptyHome();
            const auto [first, second] = slotsAfterSwapCutAt(steps, secondFilled);
            if (first == "ended") break; // the swap ran to its end in fewer steps
            SCOPED_TRACE("cut after step " + std::to_string(steps));
            const bool before = first == a && second == b, swapped = first == b && second == a;
            EXPECT_TRUE(cutAfterCommit ? swapped : before || swapped) << first << " | " << second;
            for (const auto& entry : fs::directory_iterator(Storage::folder()))
                EXPECT_EQ(entry.path().extension(), "") << "left after the restart: " << entry.path();
            EXPECT_FALSE(
                fs::exists(Storage::folder() + "/" + Storable::keyText(Storable::fnv1a("root\\presets\\swap"))));
        }
        EXPECT_GE(steps, 4) << "the swap is cut between its steps";
        testsupport::emptyHome();
        const auto [first, second] = slotsAfterSwapCutAt(0, secondFilled);
        EXPECT_EQ(first, b);
        EXPECT_EQ(second, a);
    }
}

TEST(NodeList, ASwapThatCannotBeFinishedAtStartShowsAsSwappedAndTakesNoChange) {
    testsupport::emptyHome();
    const std::string blocked = Storage::folder() + "/" + Storable::keyText(Storable::fnv1a("root\\presets\\0"));
    // Cut after the journal: committed. A folder in slot 0's place keeps the staged file from moving there.
    const auto block = [&] { fs::remove(blocked), fs::create_directories(blocked + "/x"); };
    EXPECT_EQ(slotsAfterSwapCutAt(3, true, block), std::make_pair(std::string("B=bb"), std::string("A=aaaa")));
    auto* root = new NodeItem(nullptr, "root", "Root", "", "vfolder");
    auto* list = new NodeList(root, "presets", "Presets", "pst_pst", 64, 3);
    EXPECT_FALSE(list->setElementAt(2, "C", "c", 1)) << "no change while the swap stands unfinished";
    fs::remove_all(blocked);
    EXPECT_TRUE(list->setElementAt(2, "C", "c", 1)) << "the store finishes the swap first";
    delete root;
    root = new NodeItem(nullptr, "root", "Root", "", "vfolder");
    list = new NodeList(root, "presets", "Presets", "pst_pst", 64, 3);
    EXPECT_EQ(list->nameAt(0) + list->nameAt(1) + list->nameAt(2), "BAC");
    delete root;
}

TEST(NodeList, AValidatorKeepsTheOldSlotAndReportsTheRefusal) {
    NodeItem root(nullptr, "root", "Root", "", "vfolder");
    auto* list = new NodeList(&root, "models", "Models", "nam", 1000, 2, 64, true);
    list->setValidator([](const Bytes& data, std::string& reason) {
        if (data.size() >= 4 && std::equal(data.begin(), data.begin() + 4, "good")) return true;
        reason = "not good";
        return false;
    });
    ASSERT_TRUE(list->setElementAt(0, "Playing", "good one", 8));
    const uint32_t version = list->versionAt(0);

    testing::internal::CaptureStdout();
    const std::vector<std::string> upload = uploadOf(*list, 0, "Bad", testsupport::gzip(pattern(300)), 300);
    bool refused = false;
    for (const std::string& message : upload) refused = !list->parseWriteJSON(message);
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(refused) << "the last chunk is refused";
    EXPECT_EQ(list->writeStatusJSON(), status(*list, -1, -1));
    EXPECT_EQ(list->nameAt(0), "Playing");
    EXPECT_EQ(list->versionAt(0), version) << "readers see no change";
    EXPECT_EQ(testsupport::readFile<Bytes>(fileOf(*list, 0)).at(0), 'P') << "the stored file stays";
    EXPECT_NE(log.find("root\\models: slot 0 ('Bad') refused: not good"), std::string::npos) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
    EXPECT_FALSE(list->setElementAt(1, "Local", "bad", 3)) << "a local write is checked too";

    for (const std::string& message :
         uploadOf(*list, 0, "Better", testsupport::gzip(Bytes{'g', 'o', 'o', 'd', '!'}), 5))
        ASSERT_TRUE(list->parseWriteJSON(message));
    EXPECT_EQ(list->nameAt(0), "Better");
}

TEST(NodeList, NewNamesMayNotHoldTheSaveSuffixStoredOnesStillLoad) {
    const std::string reserved = std::string("Evil") + NodeList::reservedNameText;
    auto* root = new NodeItem(nullptr, "root", "Root", "", "vfolder");
    auto* list = new NodeList(root, "presets", "Presets", "pst_pst", 64, 3);
    EXPECT_FALSE(list->setElementAt(0, reserved, "x", 1));
    EXPECT_FALSE(list->parseWriteJSON(chunkText(*list, 0, 0, hex(testsupport::slotRecord<Bytes>(reserved, 0, 0)))));
    ASSERT_TRUE(list->setElementAt(1, "Fine", "x", 1));
    EXPECT_FALSE(list->setNameAt(1, reserved));
    EXPECT_EQ(list->nameAt(0), "");

    // A file written before the rule keeps its name, and the slot may be written again under it.
    testsupport::writeFile(fileOf(*list, 2), testsupport::slotRecord(reserved, 1, 1) + "o");
    delete root;
    root = new NodeItem(nullptr, "root", "Root", "", "vfolder");
    list = new NodeList(root, "presets", "Presets", "pst_pst", 64, 3);
    EXPECT_EQ(list->nameAt(2), reserved);
    EXPECT_TRUE(list->setElementAt(2, reserved, "new", 3));
    delete root;
}
