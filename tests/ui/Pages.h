#pragma once
// Pages for the user-interface tests: they record what the dispatcher offers them, in one shared log.
#include "ui/EventDispatcher.h"
#include "ui/LCD.h"
#include "ui/Listener.h"
#include "tests/support/TestSupport.h"

#include <cstdlib>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace pages {

// "<page>:<id>" for events, "<page>:draw" for redraws, "<page>:deleted" when a page is deleted.
inline std::vector<std::string>& log() {
    static std::vector<std::string> entries;
    return entries;
}

class RecordingPage : public Listener {
public:
    RecordingPage(std::string name, std::set<int> consumed, bool drawsAll = false)
        : name(std::move(name)), consumed(std::move(consumed)), drawsAll(drawsAll) {}
    ~RecordingPage() override { log().push_back(name + ":deleted"); }

    bool draw() override {
        ++draws;
        log().push_back(name + ":draw");
        return drawsAll;
    }
    bool onEvent(int id) override {
        log().push_back(name + ":" + std::to_string(id));
        if (handler) handler(id);
        return consumed.count(id) > 0;
    }

    const std::string name;
    std::set<int> consumed;
    bool drawsAll;
    int draws = 0;
    std::function<void(int)> handler;
};

// A program runs its cases in one process too: each starts with an empty page stack, queue, log and display.
class FreshUi : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override {
        EventDispatcher::reset();
        LCD::deinitialize();
        log().clear();
    }
};
inline const bool freshUiInstalled = (testing::UnitTest::GetInstance()->listeners().Append(new FreshUi), true);

// The entries of the log that mention the page, without its name.
inline std::vector<std::string> entriesOf(const std::string& page) {
    std::vector<std::string> result;
    for (const std::string& entry : log()) {
        if (entry.rfind(page + ":", 0) == 0) result.push_back(entry.substr(page.size() + 1));
    }
    return result;
}

// The test's own empty home, made by the test main.
using testsupport::ownHome;

}
