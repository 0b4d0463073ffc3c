// Descriptions and values as JSON text: every type at every level, escaping, refused lines, secrets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/NodeAction.h"
#include "core/NodeArray.h"
#include "core/NodeColor.h"
#include "core/NodeEnum.h"
#include "core/NodeFloat.h"
#include "core/NodeItem.h"
#include "core/NodeOnOff.h"
#include "core/NodePassword.h"

namespace {
struct Tree {
    NodeItem root{nullptr, "root", "Root", "", "vfolder"};
    NodeFloat* gain = new NodeFloat(&root, "gain", "Gain", -12, 12, 0, "dB", 0.5f, false, 1);
    NodeEnum* mode = new NodeEnum(&root, "mode", "Mode", {"A", "B", "C"}, "B");
    NodeOnOff* onOff = new NodeOnOff(&root, "on_off", "Enable", "OFF");
    NodeItem* title = new NodeItem(&root, "title", "Title", "x", "string");
    NodeColor* color = new NodeColor(&root, "color", "Color", "12ab00");
    NodeArray* curve = new NodeArray(&root, "curve", "Curve", 4, 0, 100, 1,
                                     "\xB0"
                                     "C",
                                     0, 30, "s");
    NodeAction* clear = new NodeAction(
        &root, "clear", "Clear", [](NodeAction*) {}, "smp_cfm");
    NodeItem* fx = new NodeItem(&root, "fx", "Effects", "", "hfolder");
    NodeItem* readOnly = new NodeItem(&root, "_ver", "Version", "1.0", "string");
    NodePassword* password = new NodePassword(&root, "pwd", "Password");
};
}

TEST(NodeJson, EveryTypeAtEveryLevel) {
    Tree t;
    t.gain->setValue(-3.25f); // floats in their shortest form
    t.curve->setValueAt(0.1f, 0);
    t.curve->setValueAt(150.0f, 1); // stored unclamped, described clamped
    t.gain->setStyleVisible(false);
    t.gain->setStyleColor(0x12ab00);

    struct Case {
        Node* node;
        DescriptionLevel level;
        std::string body;
    };
    const std::vector<Case> cases = {
        {t.gain, DESC_VALUE, R"({"value":-3.25})"},
        {t.gain, DESC_STYLE, R"({"value":-3.25,"visible":"false","color":"#12AB00"})"},
        {t.gain, DESC_FULL,
         R"({"type":"float","name":"Gain","value":-3.25,"visible":"false","color":"#12AB00","min":-12.0,"max":12.0,"def":0.0,"unit":"dB","dec":1})"},
        {t.mode, DESC_VALUE, R"({"value":"B"})"},
        {t.mode, DESC_STYLE, R"({"value":"B"})"},
        {t.mode, DESC_FULL, R"({"type":"enum","name":"Mode","value":"B","options":["A","B","C"],"def":"B"})"},
        {t.onOff, DESC_FULL, R"({"type":"enum","name":"Enable","value":"OFF","options":["ON","OFF"],"def":"OFF"})"},
        {t.title, DESC_VALUE, R"({"value":"x"})"},
        {t.title, DESC_FULL, R"({"type":"item","name":"Title","value":"x","itype":"string"})"},
        {t.color, DESC_FULL, R"({"type":"item","name":"Color","value":"12ab00","itype":"color"})"},
        {t.fx, DESC_FULL, R"({"type":"item","name":"Effects","value":"","itype":"hfolder"})"},
        {t.curve, DESC_VALUE, R"({"value":[0.1,100.0]})"},
        {t.curve, DESC_FULL,
         "{\"type\":\"array\",\"name\":\"Curve\",\"value\":[0.1,100.0],\"min\":0.0,\"max\":100.0,\"dec\":1,"
         "\"unit\":\"\xC2\xB0"
         "C\",\"maxlen\":4,\"xstart\":0.0,\"xstep\":30.0,\"xunit\":\"s\"}"},
        {t.clear, DESC_VALUE, R"({"value":""})"},
        {t.clear, DESC_FULL, R"({"type":"action","name":"Clear","value":"","atype":"smp_cfm"})"},
        {t.password, DESC_VALUE, R"({"value":"","set":false})"},
        {t.password, DESC_FULL, R"({"type":"item","name":"Password","value":"","set":false,"itype":"string"})"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.node->getBody(c.level), c.body) << c.node->getPath() << " level " << int(c.level);
    }
    EXPECT_EQ(t.gain->getEntry(DESC_VALUE), "root\\gain:{\"value\":-3.25}");
}

TEST(NodeJson, EscapingRoundTripWithQuotesLineBreaksAndTheDegreeByte) {
    Tree t;
    auto* copy = new NodeItem(&t.root, "copy", "Copy", "", "string");
    const std::string raw = "say \"hi\"\\ \r\nnext\t\x01 25\xB0"
                            "C";
    t.title->setValue(raw);

    const std::string body = t.title->getBody(DESC_VALUE);
    EXPECT_EQ(body, "{\"value\":\"say \\\"hi\\\"\\\\ \\r\\nnext\\t\\u0001 25\xC2\xB0"
                    "C\"}");
    EXPECT_EQ(body.find('\r'), std::string::npos) << "an entry stays on one line";

    ASSERT_TRUE(t.root.parseJSON("root\\copy:" + body));
    EXPECT_EQ(copy->getValue(), "say \"hi\"\\ \r\nnext\t\x01 25\xC2\xB0"
                                "C")
        << "a client's text is UTF-8";
    EXPECT_EQ(copy->getBody(DESC_VALUE), body);

    // Valid UTF-8 passes unchanged; only stray bytes are read as Latin-1.
    t.title->setValue("\xC3\xA9t\xE9");
    EXPECT_EQ(t.title->getBody(DESC_VALUE), "{\"value\":\"\xC3\xA9t\xC3\xA9\"}");
    // Overlong forms and code points past U+10FFFF are not UTF-8: their bytes are Latin-1 too.
    for (const auto& [stray, read] :
         std::vector<std::pair<std::string, std::string>>{{"\xE0\x82\x80", "\xC3\xA0\xC2\x82\xC2\x80"},
                                                          {"\xF0\x80\x80\xAF", "\xC3\xB0\xC2\x80\xC2\x80\xC2\xAF"},
                                                          {"\xF4\x90\x80\x80", "\xC3\xB4\xC2\x90\xC2\x80\xC2\x80"}}) {
        t.title->setValue(stray);
        EXPECT_EQ(t.title->getBody(DESC_VALUE), "{\"value\":\"" + read + "\"}");
    }

    auto* degrees = new NodeEnum(&t.root, "unit", "Unit \xB0",
                                 {"\xB0"
                                  "C",
                                  "\xB0"
                                  "F"},
                                 "\xB0"
                                 "C");
    EXPECT_EQ(degrees->getBody(DESC_FULL), "{\"type\":\"enum\",\"name\":\"Unit \xC2\xB0\",\"value\":\"\xC2\xB0"
                                           "C\",\"options\":[\"\xC2\xB0"
                                           "C\",\"\xC2\xB0"
                                           "F\"],\"def\":\"\xC2\xB0"
                                           "C\"}");
    // The client's UTF-8 text selects the Latin-1 option.
    ASSERT_TRUE(t.root.parseJSON("root\\unit:{\"value\":\"\xC2\xB0"
                                 "F\"}"));
    EXPECT_EQ(degrees->getValue(), "\xB0"
                                   "F");
}

TEST(NodeJson, MalformedOrRefusedLinesChangeNothingAndAcceptedOnesWrite) {
    Tree t;
    static int notifications;
    notifications = 0;
    for (Node* node : t.root.getChildren()) node->setOnChange([](Node*) { ++notifications; });
    const std::string before = t.root.getJSON(DESC_FULL, true);

    const std::vector<std::string> lines = {
        "",
        ":{\"value\":1}",
        "root\\gain",
        "root\\gain:",
        "root\\gain:{\"value\":",
        "root\\gain:{\"value\":1",
        "root\\gain:{\"value\":1}garbage",
        "root\\gain:{}",
        "root\\gain:[1]",
        "root\\gain:\"1\"",
        "root\\gain:{\"value\":null}",
        "root\\gain:{\"value\":true}",
        "root\\gain:{\"value\":\"abc\"}",
        "root\\gain:{\"value\":\"1x\"}",
        "root\\gain:{\"value\":\"nan\"}",
        "root\\gain:{\"value\":\"inf\"}",
        "root\\gain:{\"value\":[1]}",
        "root\\gain:{\"value\":{\"v\":1}}",
        "root\\gain{\"value\":1}",
        "root\\gai:{\"value\":1}",
        "root\\gain\\x:{\"value\":1}",
        "root\\mode:{\"value\":\"D\"}",
        "root\\mode:{\"value\":1}",
        "root\\on_off:{\"value\":\"on\"}",
        "root\\title:{\"value\":5}",
        "root\\title:{\"value\":[\"a\"]}",
        "root\\title:{\"value\":\"\xB0\"}", // not UTF-8: the parser refuses it
        "root\\color:{\"value\":\"12ab0\"}",
        "root\\color:{\"value\":\"#12ab00\"}",
        "root\\curve:{\"value\":5}",
        "root\\curve:{\"value\":[1,\"x\"]}",
        "root\\curve:{\"value\":[1,2,3,4,5]}",
        "root\\curve:{\"value\":[1,null]}",
        "root\\clear:{\"value\":5}",
        "root\\fx:{\"value\":\"x\"}",
        "root\\_ver:{\"value\":\"2.0\"}",
        "other\\gain:{\"value\":1}",
    };
    for (const std::string& line : lines) {
        EXPECT_FALSE(t.root.parseJSON(line)) << line;
    }
    NodeAction::tasks();
    EXPECT_EQ(t.root.getJSON(DESC_FULL, true), before);
    EXPECT_EQ(notifications, 0);

    // Accepted writes.
    struct Accepted {
        std::string line;
        Node* node;
        std::string value;
    };
    const std::vector<Accepted> accepted = {
        {R"(root\gain:{"value":3.5})", t.gain, "3.5 dB"},
        {R"(root\gain:{"value":"-2"})", t.gain, "-2.0 dB"},
        {R"(root\gain:{"value":" 4.25 "})", t.gain, "4.2 dB"},
        {R"(root\gain:{"value":99})", t.gain, "12.0 dB"},
        {R"(root\gain:{"value":-1e9})", t.gain, "-12.0 dB"},
        {"root\\gain:{\"value\":1}\r\n", t.gain, "1.0 dB"},
        {R"(root\mode:{"value":"C"})", t.mode, "C"},
        {R"(root\on_off:{"value":"ON"})", t.onOff, "ON"},
        {R"(root\title:{"value":"New"})", t.title, "New"},
        {R"(root\color:{"value":"FF8000"})", t.color, "FF8000"},
        {R"(root\curve:{"value":[1,"2.5",3]})", t.curve, "1.0 2.5 3.0"},
        {R"(root\curve:{"value":[]})", t.curve, ""},
    };
    for (const Accepted& c : accepted) {
        EXPECT_TRUE(t.root.parseJSON(c.line)) << c.line;
        EXPECT_EQ(c.node->toString(), c.value) << c.line;
    }
}

TEST(NodeJson, SecretsNeverShow) {
    Tree t;
    auto* wifi = new NodeItem(&t.root, "wifi_pwd", "Wi-Fi password", "", "string");
    wifi->setSecret(true);

    testing::internal::CaptureStdout();
    ASSERT_TRUE(t.root.parseJSON(R"(root\pwd:{"value":"hunter2"})"));
    ASSERT_TRUE(t.root.parseJSON(R"(root\wifi_pwd:{"value":"swordfish"})"));
    EXPECT_FALSE(t.root.parseJSON("root\\pwd:{\"value\":5}"));
    std::string replies;
    for (DescriptionLevel level : {DESC_VALUE, DESC_STYLE, DESC_FULL}) {
        replies += t.root.getJSON(level, true);
        replies += t.password->getJSON_after(level, true, nullptr, false, 0, true);
    }
    replies += t.password->toString() + wifi->toString();
    const std::string log = testing::internal::GetCapturedStdout();

    for (const std::string& shown : {replies, log}) {
        EXPECT_EQ(shown.find("hunter2"), std::string::npos);
        EXPECT_EQ(shown.find("swordfish"), std::string::npos);
    }
    EXPECT_NE(replies.find("root\\pwd:{\"value\":\"\",\"set\":true}"), std::string::npos);
    EXPECT_EQ(t.password->getValue(), "hunter2");
    EXPECT_EQ(t.password->storageBody(), R"({"value":"hunter2"})") << "storage keeps the real value";

    // Writing a described secret back (as a preset line or an echoed read) keeps it; "" alone clears it.
    ASSERT_TRUE(t.root.parseJSON(R"(root\pwd:{"value":"","set":true})"));
    EXPECT_EQ(t.password->getValue(), "hunter2");
    ASSERT_TRUE(t.root.parseJSON(R"(root\pwd:{"value":""})"));
    EXPECT_EQ(t.password->getValue(), "");
    EXPECT_EQ(t.password->getBody(DESC_VALUE), R"({"value":"","set":false})");
}
