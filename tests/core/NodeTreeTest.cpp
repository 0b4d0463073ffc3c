// Tree structure: addressing by path, children, breadth-first descriptions, style and change times.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "core/Node.h"
#include "core/NodeFloat.h"
#include "core/NodeItem.h"
#include "porting/Shims.h"

namespace {
NodeItem* folder(Node* parent, const char* key) { return new NodeItem(parent, key, key, "", "vfolder"); }
NodeItem* item(Node* parent, const char* key) { return new NodeItem(parent, key, key, "", "string"); }

// Entry paths of a description, in order.
std::vector<std::string> paths(const std::string& description) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start < description.size()) {
        size_t end = description.find("\r\n", start);
        std::string entry = description.substr(start, end == std::string::npos ? std::string::npos : end - start);
        out.push_back(entry.substr(0, entry.find(':')));
        if (end == std::string::npos) break;
        start = end + 2;
    }
    return out;
}

struct ManualClock {
    int64_t now = 1000;
    ManualClock() {
        porting::setClock([this] { return now; });
    }
    ~ManualClock() { porting::setClock({}); }
};
}

TEST(NodeTree, PathToNodeKeepsNamesThatShareAPrefixApartAndChildrenKeepTheirOrder) {
    NodeItem root(nullptr, "root", "Root", "", "vfolder");
    Node* a = folder(&root, "a");
    Node* ab = folder(&root, "ab");
    Node* b = item(a, "b");
    Node* bc = folder(a, "bc");
    Node* d = item(bc, "d");
    Node* x = item(ab, "x");
    Node* abB = item(ab, "b");

    struct Case {
        const Node* from;
        std::string path;
        const Node* expected;
    };
    const std::vector<Case> cases = {
        {&root, "root", &root},
        {&root, "root\\a", a},
        {&root, "root\\ab", ab},
        {&root, "root\\a\\b", b},
        {&root, "root\\a\\bc", bc},
        {&root, "root\\a\\bc\\d", d},
        {&root, "root\\ab\\x", x},
        {&root, "root\\ab\\b", abB},
        {&root, "root\\a\\x", nullptr},    // x lives under "ab", not "a"
        {&root, "root\\a\\b\\d", nullptr}, // d lives under "bc", not "b"
        {&root, "root\\a\\bcd", nullptr},
        {&root, "root\\a\\", nullptr},
        {&root, "root\\", nullptr},
        {&root, "", nullptr},
        {&root, "ro", nullptr},
        {&root, "other\\a", nullptr},
        {a, "root\\a\\bc\\d", d},
        {a, "root\\ab\\x", nullptr}, // outside the subtree searched
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.from->pathToNode(c.path), c.expected) << "path '" << c.path << "'";
    }
    EXPECT_EQ(d->getPath(), "root\\a\\bc\\d");

    Node* c = item(&root, "c");
    ab->setStyleVisible(false);
    EXPECT_EQ(root.childrenCount(), 3);
    EXPECT_EQ(root.childrenCount(true), 2);
    EXPECT_EQ(root.childrenAt(1), ab);
    EXPECT_EQ(root.childrenAt(1, true), c);
    EXPECT_EQ(root.childrenAt(2, true), nullptr);
    EXPECT_EQ(root.childrenAt(3), nullptr);
    EXPECT_EQ(root.childrenAt(-1), nullptr);
    EXPECT_EQ(root.getChildren(), (std::list<Node*>{a, ab, c}));
    EXPECT_TRUE(b->isLeaf());
    EXPECT_FALSE(a->isLeaf());
    EXPECT_EQ(b->getParent(), a);
}

TEST(NodeTree, BreadthFirstWithAfterChangedOnlyLeafShortcutAndStyleChangeTimes) {
    ManualClock clock;
    NodeItem root(nullptr, "root", "Root", "", "vfolder");
    Node* a = folder(&root, "a");
    Node* b = folder(&root, "b");
    auto* c = item(&root, "c");
    item(a, "a1");
    auto* a2 = item(a, "a2");
    item(b, "b1");

    using V = std::vector<std::string>;
    EXPECT_EQ(paths(root.getJSON(DESC_VALUE, true)),
              (V{"root", "root\\a", "root\\b", "root\\c", "root\\a\\a1", "root\\a\\a2", "root\\b\\b1"}));
    EXPECT_EQ(paths(root.getJSON_after(DESC_VALUE, true, b, false, 0, false)),
              (V{"root\\c", "root\\a\\a1", "root\\a\\a2", "root\\b\\b1"}));
    EXPECT_EQ(paths(root.getJSON(DESC_VALUE, false)), (V{"root"}));

    const std::string all = root.getJSON(DESC_VALUE, true);
    const std::string last = "\r\nroot\\b\\b1:{\"value\":\"\"}";
    EXPECT_EQ(all.substr(all.size() - last.size()), last) << "no separator after the last entry";
    EXPECT_NE(all.find("root:{\"value\":\"\"}\r\nroot\\a:{"), std::string::npos);

    clock.now = 5000;
    c->setValue("changed");
    a2->setValue("changed");
    EXPECT_EQ(paths(root.getJSON_after(DESC_VALUE, true, nullptr, true, 4999, false)), (V{"root\\c", "root\\a\\a2"}));
    EXPECT_EQ(paths(root.getJSON_after(DESC_VALUE, true, nullptr, true, 5000, false)), V{});
    EXPECT_EQ(paths(root.getJSON_after(DESC_VALUE, true, c, true, 4999, false)), (V{"root\\a\\a2"}));

    // The leaf shortcut gives a leaf's own entry; a folder still gives its subtree.
    EXPECT_EQ(c->getJSON_after(DESC_VALUE, true, nullptr, false, 0, true), "root\\c:{\"value\":\"changed\"}");
    EXPECT_EQ(paths(a->getJSON_after(DESC_VALUE, true, nullptr, false, 0, true)),
              (V{"root\\a", "root\\a\\a1", "root\\a\\a2"}));

    // Style changes update the change time but notify nothing.
    auto* gain = new NodeFloat(&root, "gain", "Gain", 0, 10, 5, "", 0.5f, false, 1);
    static int calls;
    calls = 0;
    gain->setOnChange([](Node*) { ++calls; });
    gain->setOnChange(nullptr); // ignored: the callback stays

    clock.now = 6000;
    gain->setStyleColor(0x12ab00);
    EXPECT_EQ(gain->getStyle("color"), "#12AB00");
    EXPECT_EQ(gain->getStyleColor(), 0x12AB00);
    EXPECT_EQ(gain->getChangeTime(), 6000);
    EXPECT_EQ(calls, 0);

    clock.now = 7000;
    gain->setStyleColor(0x12ab00); // equal: nothing
    EXPECT_EQ(gain->getChangeTime(), 6000);
    gain->setStyleMode("knob");
    EXPECT_EQ(gain->getChangeTime(), 7000);
    EXPECT_FALSE(gain->setStyle("size", "big"));

    struct ColorCase {
        const char* text;
        int expected;
    };
    for (const ColorCase& c : {ColorCase{"#ff0080", 0xFF0080}, ColorCase{"ff0080", 0}, ColorCase{"#ff008", 0},
                               ColorCase{"#gg0080", 0}, ColorCase{"", 0}}) {
        gain->setStyle("color", c.text);
        EXPECT_EQ(gain->getStyleColor(), c.expected) << c.text;
    }

    clock.now = 8000;
    gain->setValue(7);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(gain->getChangeTime(), 8000);
    gain->setValue(7);
    EXPECT_EQ(calls, 1) << "an unchanged value is no change";
}

TEST(NodeTree, ReadersOnAnotherThreadSeeAConsistentListWhileChildrenAreAppended) {
    NodeItem root(nullptr, "root", "Root", "", "vfolder");
    constexpr int total = 2000;
    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (!done.load()) {
            const int count = root.childrenCount();
            // Every counted child is reachable, in order, and whole.
            for (int i = 0; i < count; ++i) {
                Node* child = root.childrenAt(i);
                ASSERT_NE(child, nullptr);
                ASSERT_EQ(std::string(child->getName()), "n" + std::to_string(i));
            }
            const std::string description = root.getJSON(DESC_VALUE, true);
            ASSERT_EQ(description.rfind("root:", 0), 0u);
        }
    });
    for (int i = 0; i < total; ++i) item(&root, ("n" + std::to_string(i)).c_str());
    done = true;
    reader.join();
    EXPECT_EQ(root.childrenCount(), total);
}
