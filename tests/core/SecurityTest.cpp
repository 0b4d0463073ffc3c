#include "core/Security.h"

#include "core/Node.h"
#include "core/NodeItem.h"
#include "core/System.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

namespace {
NodeItem* passwordItem() {
    Node* system = System::systemNode();
    for (int i = 0; system && i < system->childrenCount(); ++i) {
        Node* child = system->childrenAt(i);
        if (std::strcmp(child->getName(), "pwd") == 0) return dynamic_cast<NodeItem*>(child);
    }
    return nullptr;
}
}

// The product key and answer format are what every client implements: these answers must never change. The
// keyed hash itself is libsodium's; the client's own implementation agrees with it (the client's tests).
TEST(Security, AnswerIsPasswordThenTokenUnderTheProductKey) {
    struct Case {
        std::string password, token, answer;
    } cases[] = {
        {"pedal", "0123456789ABCDEF", "51CDDC44CE8D2365"},
        {"", "0123456789ABCDEF", "C15C69DCA323107A"},
        {"Joe's \xC3\xA4", "7F00A1B2C3D4E5F6", "F1FE7C59E93F3C41"},
    };
    for (const Case& c : cases) EXPECT_EQ(Security::answerFor(c.password, c.token), c.answer) << c.password;
}

TEST(Security, TokenRulesAndFreshTokens) {
    const std::string token = "00112233445566AA";
    if (!System::rootNode()) {
        EXPECT_FALSE(Security::hasPassword());
        EXPECT_TRUE(Security::checkToken(token, "anything")) << "uninitialised security lets every answer in";
        System::initialize("SecurityTest");
    }
    NodeItem* pwd = passwordItem();
    ASSERT_NE(pwd, nullptr);
    pwd->setValue(""); // the per-test home may keep a password from an earlier run
    EXPECT_FALSE(Security::hasPassword());
    EXPECT_TRUE(Security::checkToken(token, "")) << "without a password every answer is accepted";

    pwd->setValue("s3cret");
    EXPECT_TRUE(Security::hasPassword());
    std::string good = Security::answerFor("s3cret", token);
    struct Case {
        std::string answer;
        bool accepted;
        const char* why;
    } cases[] = {
        {good, true, "the user's password"},
        {Security::answerFor(pwd->getDefault(), token), false, "the default password is no master key"},
        {Security::answerFor("s3cret", "00112233445566AB"), false, "an answer to another token"},
        {Security::answerFor("s3cre", token), false, "another password"},
        {good.substr(0, 15), false, "a truncated answer"},
        {good + "0", false, "a longer answer"},
        {"", false, "no answer"},
    };
    for (const Case& c : cases) EXPECT_EQ(Security::checkToken(token, c.answer), c.accepted) << c.why;

    pwd->setValue("n3w");
    EXPECT_FALSE(Security::checkToken(token, good)) << "the old password stops working when changed";
    EXPECT_TRUE(Security::checkToken(token, Security::answerFor("n3w", token)));
    pwd->setValue("");

    // Tokens are fresh, sixteen upper-case hex digits.
    std::set<std::string> tokens;
    for (int i = 0; i < 64; ++i) {
        std::string fresh = Security::generateToken();
        ASSERT_EQ(fresh.size(), 16u);
        for (char c : fresh) EXPECT_TRUE(std::isdigit((unsigned char)c) || (c >= 'A' && c <= 'F')) << fresh;
        tokens.insert(fresh);
    }
    EXPECT_EQ(tokens.size(), 64u);
}
