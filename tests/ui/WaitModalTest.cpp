// The nested UI loop of a modal page, and the redraw cycle of the UI pass it runs.
#include "ui/EventDispatcher.h"
#include "ui/EventId.h"
#include "tests/ui/Pages.h"

#include <gtest/gtest.h>

using pages::entriesOf;
using pages::log;
using pages::RecordingPage;

namespace {
// A modal page as a chooser would be: it consumes the input, and after two redraws it answers into the
// caller's variable and asks to be closed. Id 99 is not its business and goes to the page below.
class ScriptedModal : public RecordingPage {
public:
    explicit ScriptedModal(int* answer) : RecordingPage("modal", {}, true), answer(answer) {}
    bool onEvent(int id) override {
        RecordingPage::onEvent(id);
        return id != 99;
    }
    bool draw() override {
        RecordingPage::draw();
        if (draws == 2) {
            *answer = 42;
            EventDispatcher::addEvent(EventId::Close);
        }
        return true;
    }

private:
    int* answer;
};

// Opens the modal page on the main encoder's short press and waits for its answer.
class Caller : public RecordingPage {
public:
    Caller() : RecordingPage("caller", {EventId::Encoder1ShortRelease}) {}
    bool onEvent(int id) override {
        RecordingPage::onEvent(id);
        if (id != EventId::Encoder1ShortRelease) return false;
        int answer = 0;
        new ScriptedModal(&answer);
        waitModal();
        log().push_back("caller:answer " + std::to_string(answer));
        return true;
    }
};
}

TEST(WaitModal, ReturnsOnlyOnceTheModalPageIsClosed) {
    new RecordingPage("home", {});
    auto* caller = new Caller;
    EventDispatcher::addEvent(EventId::Encoder1ShortRelease);
    for (int id : {10, 11, 99, 10}) EventDispatcher::addEvent(id);
    log().clear();
    EXPECT_TRUE(EventDispatcher::dispatch());

    // The modal page consumed the turns and drew twice (every sixth pass queues a redraw); the caller
    // below it got only what the modal page passed on, and was not drawn, as the modal page covers it.
    // Neither consumes 99, so it goes on to the bottom page.
    EXPECT_EQ(entriesOf("modal"), (std::vector<std::string>{"10", "11", "99", "10", "draw", "draw", "deleted"}));
    EXPECT_EQ(entriesOf("caller"), (std::vector<std::string>{"13", "99", "answer 42"}));
    EXPECT_EQ(entriesOf("home"), std::vector<std::string>{"99"});
    EXPECT_TRUE(EventDispatcher::hasFocus(caller));
    EXPECT_EQ(EventDispatcher::elements(), 2);
}
