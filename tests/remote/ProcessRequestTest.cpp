#include "core/NodeFloat.h"
#include "core/NodeItem.h"
#include "core/NodeList.h"
#include "remote/RemoteServices.h"
#include "tests/remote/RemoteTestSupport.h"
#include "core/Security.h"
#include "core/System.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

using Transport = Reference;

const std::string GAIN = "root\\app\\amp\\gain";
const std::string LABEL = "root\\app\\amp\\label";
const std::string AMP = "root\\app\\amp";

std::string entry(Node* node, DescriptionLevel level) { return node->getJSON(level, true); }

// The token of a reply's first line "token T y|n\r\n", or "" when the reply has none.
std::string tokenOf(const std::string& reply, char* verdict = nullptr) {
    if (reply.rfind("token ", 0) != 0 || reply.size() < 6 + 16 + 4) return "";
    if (verdict) *verdict = reply[6 + 16 + 1];
    return reply.substr(6, 16);
}

NodeList* presetList() {
    static NodeList* list = new NodeList(System::appNode(), "presets", "Presets", "preset", 256, 4);
    return list;
}

class ProcessRequest : public ::testing::Test {
protected:
    void SetUp() override {
        tree = &testTree();
        tree->password->setValue("");
        tree->gain->reset();
        tree->label->setValue("clean");
    }
    void TearDown() override { tree->password->setValue(""); }
    TestTree* tree = nullptr;
};

TEST_F(ProcessRequest, WithoutPasswordEveryCommandRunsAndRepliesJoinWithoutSeparators) {
    Transport transport(tree->root);
    std::string gain = entry(tree->gain, DESC_FULL);
    std::string label = entry(tree->label, DESC_FULL);
    struct Case {
        std::string request;
        std::string reply;
    } cases[] = {
        {"", "\r\n"},
        {"hello", "\r\n"},
        {"browse " + GAIN, gain},
        {"browse " + GAIN + "\r\n", gain},
        {"browse " + GAIN + "\r\nbrowse " + LABEL, gain + label},
        {"browse root\\app\\missing", "\r\n"},
        {"browse" + GAIN, "\r\n"},
        {"BROWSE " + GAIN, "\r\n"},
        {"token 0123\r\nbrowse " + GAIN, gain},
        {"write " + LABEL + ":{\"value\":\"crunch\"}", LABEL + ":{\"value\":\"crunch\"}\r\n"},
        // A refused write is echoed just the same; the node keeps its value.
        {"write root\\sys\\_name:{\"value\":\"x\"}", "root\\sys\\_name:{\"value\":\"x\"}\r\n"},
        {"write nonsense", "nonsense\r\n"},
        {"\r\n\r\n", "\r\n"},
        {"dwrite " + GAIN + ":{}", "\r\n"},
        {"supd 5", "\r\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(transport.processRequest(c.request), c.reply) << c.request;
    EXPECT_EQ(tree->label->getValue(), "crunch");
    EXPECT_EQ(Transport(nullptr).processRequest("browse " + GAIN), "");
    EXPECT_EQ(Transport(nullptr).processRequest(""), "");
}

TEST_F(ProcessRequest, TokenHandshakeOfEachTransport) {
    tree->password->setValue("s3cret");
    Transport transport(tree->root);
    std::string write = "write " + LABEL + ":{\"value\":\"lead\"}";
    char verdict = 0;

    // Unguarded "browse" answers with the refused token line first; a lone "write" earns only the token line.
    std::string reply = transport.processRequest("browse " + GAIN);
    std::string token = tokenOf(reply, &verdict);
    ASSERT_EQ(token.size(), 16u) << reply;
    EXPECT_EQ(verdict, 'n');
    EXPECT_EQ(reply, "token " + token + " n\r\n" + entry(tree->gain, DESC_FULL));
    reply = transport.processRequest(write);
    EXPECT_EQ(reply, "token " + transport.currentToken() + " n\r\n");
    EXPECT_NE(transport.currentToken(), token) << "every request rotates the token";
    EXPECT_EQ(tree->label->getValue(), "clean");

    struct Case {
        const char* what;
        std::string firstLine; // built from the current token when empty
        bool secondLineToken;
        char verdict;
        bool writes;
    } cases[] = {
        {"right answer", "", false, 'y', true},
        {"wrong answer", "token 0000000000000000", false, 'n', false},
        {"answer in lower case", "lower", false, 'n', false},
        {"no token line", "browse " + GAIN, false, 'n', false},
        {"token on the second line", "browse " + GAIN, true, 'n', false},
    };
    for (const Case& c : cases) {
        tree->label->setValue("clean");
        std::string answer = Security::answerFor("s3cret", transport.currentToken());
        std::string first = c.firstLine;
        if (first.empty()) first = "token " + answer;
        if (first == "lower") {
            first = "token " + answer;
            for (char& ch : first) ch = char(std::tolower(ch));
        }
        std::string request = first + "\r\n" + (c.secondLineToken ? "token " + answer + "\r\n" : "") + write;
        reply = transport.processRequest(request);
        EXPECT_EQ(tokenOf(reply, &verdict), transport.currentToken()) << c.what;
        EXPECT_EQ(verdict, c.verdict) << c.what;
        EXPECT_EQ(tree->label->getValue(), c.writes ? "lead" : "clean") << c.what;
        bool echoed = reply.find(LABEL + ":{\"value\":\"lead\"}\r\n") != std::string::npos;
        EXPECT_EQ(echoed, c.writes) << c.what;
    }

    // An answer is good for one request: replaying it is refused.
    std::string answer = Security::answerFor("s3cret", transport.currentToken());
    reply = transport.processRequest("token " + answer);
    EXPECT_EQ(reply, "token " + transport.currentToken() + " y\r\n");
    transport.processRequest("token " + answer);
    EXPECT_EQ(transport.processRequest("token " + answer + "\r\n" + write).substr(23), "n\r\n");

    // The empty request still answers "\r\n" and does not rotate.
    std::string before = transport.currentToken();
    EXPECT_EQ(transport.processRequest(""), "\r\n");
    EXPECT_EQ(transport.currentToken(), before);

    // Tokens belong to one transport; before any was issued there, the predictable answer for the empty token
    // must not pass.
    Transport second(tree->root);
    tokenOf(second.processRequest("token " + Security::answerFor("s3cret", "")), &verdict);
    EXPECT_EQ(verdict, 'n');
    answer = Security::answerFor("s3cret", transport.currentToken());
    tokenOf(second.processRequest("token " + answer), &verdict);
    EXPECT_EQ(verdict, 'n') << "a token issued on one transport is not valid on another";
    tokenOf(transport.processRequest("token " + answer), &verdict);
    EXPECT_EQ(verdict, 'y');
}

TEST_F(ProcessRequest, GuardedCommandsAreSilentWhileRefused) {
    tree->password->setValue("s3cret");
    Transport transport(tree->root);
    int firmware = 0;
    auto counted = [&](const std::string&) { return std::to_string(++firmware); };
    RemoteServices::setFirmware({counted, counted});
    NodeList* list = presetList();
    list->setElementAt(0, "First", nullptr);
    list->setElementAt(1, "Second", nullptr);
    const std::string swap = "dswap root\\app\\presets:{\"index\":0,\"index2\":1}";
    for (std::string line : {"write root\\app\\amp\\label:{\"value\":\"x\"}",
                             "dwrite root\\app\\presets:{\"index\":3,\"chunk\":0,\"value\":\"00\"}", swap.c_str(),
                             "dread root\\app\\presets:{\"index\":0,\"chunk\":0}", "supd 5", "upd 00"}) {
        std::string reply = transport.processRequest(line);
        EXPECT_EQ(reply, "token " + transport.currentToken() + " n\r\n") << line;
    }
    EXPECT_EQ(firmware, 0);
    EXPECT_EQ(list->nameAt(0), "First");
    EXPECT_EQ(list->writeStatusJSON(), "root\\app\\presets:{\"index\":-1,\"chunk\":-1}");
    RemoteServices::setFirmware({});
}

TEST_F(ProcessRequest, SlotListCommands) {
    NodeList* list = presetList();
    Transport transport(tree->root);
    const std::string path = "root\\app\\presets";
    auto chunk = [&](int index, int number, const std::string& bytes) {
        return "dwrite " + path + ":{\"index\":" + std::to_string(index) + ",\"chunk\":" + std::to_string(number) +
               ",\"value\":\"" + testsupport::hex(bytes) + "\"}";
    };
    auto status = [&](int index, int number) {
        return "dwrite " + path + ":{\"index\":" + std::to_string(index) + ",\"chunk\":" + std::to_string(number) + "}";
    };

    EXPECT_EQ(transport.processRequest(chunk(1, 0, testsupport::slotRecord("Clean", 3, 3))), status(1, 0));
    EXPECT_EQ(transport.processRequest(chunk(1, 1, "abc")), status(1, 1));
    EXPECT_EQ(list->nameAt(1), "Clean");
    // Out of order: refused, and the status says so.
    EXPECT_EQ(transport.processRequest(chunk(2, 1, "abc")), status(-1, -1));

    transport.processRequest("dread " + path + ":{\"index\":1,\"chunk\":0}");
    EXPECT_EQ(transport.processRequest("dread " + path + ":{\"index\":1,\"chunk\":1}"),
              "dread " + path + ":{\"index\":1,\"size\":3,\"chunk\":1,\"value\":\"616263\"}");

    const std::string swap = "dswap " + path + ":{\"index\":1,\"index2\":2}";
    EXPECT_EQ(transport.processRequest(swap), swap) << "a successful swap echoes its line";
    EXPECT_EQ(list->nameAt(2), "Clean");
    EXPECT_EQ(transport.processRequest("dswap " + path + ":{\"index\":1,\"index2\":9}"), "\r\n");

    // Silent: no ':' in the argument, a node that is no list, a missing node.
    for (const std::string& line :
         std::vector<std::string>{"dwrite " + path, "dread " + GAIN + ":{}", "dswap root\\app\\none:{}", "dwrite :{}"})
        EXPECT_EQ(transport.processRequest(line), "\r\n") << line;
}

TEST_F(ProcessRequest, FirmwareTransferBelongsToTheTransportThatStartedIt) {
    std::string log;
    RemoteServices::setFirmware({[&](const std::string& size) {
                                     log += "start " + size + ";";
                                     return std::string("2048");
                                 },
                                 [&](const std::string& hex) {
                                     log += "data " + hex + ";";
                                     return std::to_string(hex.size() / 2);
                                 }});
    Transport usb(tree->root), tcp(tree->root);
    EXPECT_EQ(usb.processRequest("supd 4"), "2048");
    EXPECT_EQ(tcp.processRequest("upd 0102"), "0") << "another transport's data is refused";
    EXPECT_EQ(usb.processRequest("upd 0102\r\nupd 03"), "21");
    // A new start takes the transfer over; the first transport's data is then refused.
    EXPECT_EQ(tcp.processRequest("supd 1"), "2048");
    EXPECT_EQ(usb.processRequest("upd 04"), "0");
    EXPECT_EQ(log, "start 4;data 0102;data 03;start 1;");
    RemoteServices::setFirmware({});
}

// Serialising this node changes `target` in the middle of a walk, as another thread's write would.
class ChangesDuringWalk : public NodeItem {
public:
    ChangesDuringWalk(Node* parent, NodeItem* target)
        : NodeItem(parent, "trigger", "Trigger", "", "string"), target(target) {}
    mutable bool armed = false;
    int64_t changeAt = 0;

protected:
    void valueToJSON(nlohmann::ordered_json& body, bool reveal) const override {
        NodeItem::valueToJSON(body, reveal);
        if (!armed) return;
        armed = false;
        setManualClock(changeAt);
        target->setValue("changed");
    }

private:
    NodeItem* target;
};

TEST_F(ProcessRequest, ReadTakesItsTimeBeforeTheWalkSoNoChangeIsLost) {
    useManualClock();
    auto* folder = new NodeItem(System::appNode(), "walk", "Walk", "", "vfolder");
    auto* target = new NodeItem(folder, "target", "Target", "", "string");
    auto* trigger = new ChangesDuringWalk(folder, target);
    Transport transport(tree->root);
    transport.processRequest("read root\\app\\walk");
    setManualClock(2000000);
    trigger->setValue("1");
    setManualClock(3000000);
    trigger->armed = true;
    trigger->changeAt = 3500000;
    // The walk visits "target" before "trigger" changes it.
    std::string reply = transport.processRequest("read root\\app\\walk");
    EXPECT_EQ(reply, trigger->getEntry(DESC_STYLE));
    setManualClock(4000000);
    EXPECT_EQ(transport.processRequest("read root\\app\\walk"), target->getEntry(DESC_STYLE));
}

TEST_F(ProcessRequest, ReadReportsChangesSinceTheLastLookOfThisTransport) {
    const int64_t start = useManualClock();
    Transport transport(tree->root), other(tree->root);
    transport.processRequest("browse root");
    EXPECT_EQ(transport.lastAccessTime(), start);

    setManualClock(2000000);
    transport.processRequest("write " + GAIN + ":{\"value\":7}");
    setManualClock(3000000);
    EXPECT_EQ(transport.processRequest("read " + AMP), tree->gain->getEntry(DESC_STYLE));
    EXPECT_EQ(transport.lastAccessTime(), start + 3000000);
    setManualClock(4000000);
    EXPECT_EQ(transport.processRequest("read " + AMP), "\r\n") << "nothing changed since the last read";
    EXPECT_EQ(transport.processRequest("read " + LABEL), tree->label->getEntry(DESC_STYLE))
        << "a leaf answers with its entry, changed or not";
    EXPECT_EQ(transport.processRequest("read root\\app\\nothing"), "\r\n");
    EXPECT_EQ(transport.lastAccessTime(), start + 4000000);
    // Each transport keeps its own last look: the other one has not seen the change yet.
    EXPECT_NE(other.processRequest("read " + AMP).find(tree->gain->getEntry(DESC_STYLE)), std::string::npos);
}

TEST_F(ProcessRequest, ReplyEndsAfterTheLastWholeLineThatFitsItsBudget) {
    Transport transport(tree->root);
    // The request of the attack: 65 KB of "browse root" lines, whose replies would add up to many megabytes.
    std::string line = "browse root\r\n";
    std::string request;
    while (request.size() + line.size() < 65535) request += line;
    std::string piece = transport.processRequest("browse root");
    std::string reply = transport.processRequest(request);
    size_t fitting = ComInterface::REPLY_BUDGET / piece.size();
    ASSERT_LT(fitting, request.size() / line.size());
    EXPECT_EQ(reply.size(), fitting * piece.size()) << "whole pieces only, as many as fit";
    EXPECT_EQ(reply.substr(reply.size() - piece.size()), piece);

    // No line runs after the budget is reached, and a line that changes something runs only when its piece
    // is sure to fit: its reply never goes missing. The value's length puts the write just past the room left.
    size_t room = ComInterface::REPLY_BUDGET - fitting * piece.size();
    std::string shell = "write " + LABEL + ":{\"value\":\"\"}";
    std::string value(room + 1 > shell.size() + 256 ? room + 1 - shell.size() - 256 : 1, 'v');
    const std::string write = "write " + LABEL + ":{\"value\":\"" + value + "\"}";
    ASSERT_LT(write.size() + 256, room + piece.size());
    std::string filler;
    for (size_t i = 0; i < fitting; ++i) filler += "browse root\r\n";
    EXPECT_EQ(transport.processRequest(filler + write).size(), fitting * piece.size());
    EXPECT_EQ(tree->label->getValue(), "clean");
    std::string fits;
    for (size_t i = 1; i < fitting; ++i) fits += "browse root\r\n";
    EXPECT_EQ(transport.processRequest(fits + write).substr((fitting - 1) * piece.size()), write.substr(6) + "\r\n");
    EXPECT_EQ(tree->label->getValue(), value);
}

TEST_F(ProcessRequest, BatchesOfLargestChunksFitTheBudget) {
    static NodeList* list = new NodeList(System::appNode(), "big", "Big", "raw", 65536, 1, 4096, false);
    Transport transport(tree->root);
    const std::string path = "root\\app\\big";
    std::string data(65536, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = char(i * 7 + i / 251);
    std::string upload = "dwrite " + path + ":{\"index\":0,\"chunk\":0,\"value\":\"" +
                         testsupport::hex(testsupport::slotRecord("Big", 65536, 65536)) + "\"}";
    transport.processRequest(upload);
    for (int c = 1; c <= 16; ++c) {
        std::string status = transport.processRequest(
            "dwrite " + path + ":{\"index\":0,\"chunk\":" + std::to_string(c) + ",\"value\":\"" +
            testsupport::hex(data.substr(size_t(c - 1) * 4096, 4096)) + "\"}");
        ASSERT_EQ(status, "dwrite " + path + ":{\"index\":0,\"chunk\":" + std::to_string(c) + "}");
    }
    ASSERT_EQ(list->nameAt(0), "Big");
    transport.processRequest("dread " + path + ":{\"index\":0,\"chunk\":0}");
    std::string request;
    for (int c = 1; c <= 16; ++c) request += "dread " + path + ":{\"index\":0,\"chunk\":" + std::to_string(c) + "}\r\n";
    std::string reply = transport.processRequest(request);
    std::string expected;
    for (int c = 1; c <= 16; ++c) {
        expected += "dread " + path + ":{\"index\":0,\"size\":65536,\"chunk\":" + std::to_string(c) + ",\"value\":\"";
        expected += testsupport::hex(data.substr(size_t(c - 1) * 4096, 4096)) + "\"}";
    }
    EXPECT_EQ(reply, expected) << "all 16 chunks in one reply";
}

TEST_F(ProcessRequest, WrongAnswersHoldTheTransportBackLongerEachTime) {
    int64_t start = useManualClock();
    tree->password->setValue("s3cret");
    Transport attacked(tree->root), other(tree->root);
    attacked.processRequest("token -");
    other.processRequest("token -");
    testing::internal::CaptureStdout();
    int64_t now = start;
    int64_t expected[] = {250000, 500000, 1000000, 2000000, 2000000};
    for (int64_t delay : expected) {
        EXPECT_FALSE(attacked.answersHeld(now));
        char verdict = 0;
        tokenOf(attacked.processRequest("token 0000000000000000", now), &verdict);
        EXPECT_EQ(verdict, 'n');
        EXPECT_TRUE(attacked.answersHeld(now + delay - 1)) << delay;
        EXPECT_FALSE(other.answersHeld(now)) << "another transport is not held up";
        now += delay;
    }
    // Right answers are always accepted, and they end the back-off.
    char verdict = 0;
    tokenOf(attacked.processRequest("token " + Security::answerFor("s3cret", attacked.currentToken()), now), &verdict);
    EXPECT_EQ(verdict, 'y');
    tokenOf(attacked.processRequest("token 0000000000000000", now), &verdict);
    EXPECT_TRUE(attacked.answersHeld(now + 249999));
    EXPECT_FALSE(attacked.answersHeld(now + 250000));
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(log, "W (Com): remote: 1 wrong password answer(s) since the last report\n")
        << "six refusals within 10 s make one log line";
}

}
