// The page stack and the dispatch pass: order, consumption, the two limits of a pass, closing pages; the
// nested UI loop of a modal page.
#include "ui/EventDispatcher.h"
#include "ui/EventId.h"
#include "tests/ui/Pages.h"
#include "porting/Shims.h"

#include <gtest/gtest.h>

#include <cstdint>

using pages::entriesOf;
using pages::log;
using pages::RecordingPage;

namespace {
// A clock that stands still unless a test moves it, so no pass ends on the wall clock.
int64_t now = 0;
void freezeClock() {
    porting::setClock([] { return now; });
}

void queue(std::initializer_list<int> ids) {
    for (int id : ids) EventDispatcher::addEvent(id);
}
}

TEST(EventDispatcher, EventsGoTopDownUntilOnePageConsumesThem) {
    freezeClock();
    new RecordingPage("bottom", {});
    auto* middle = new RecordingPage("middle", {7, 8});
    auto* top = new RecordingPage("top", {7});
    ASSERT_EQ(EventDispatcher::elements(), 3);
    EXPECT_TRUE(EventDispatcher::hasFocus(top));

    struct Case {
        int id;
        std::vector<std::string> reached; // pages offered the id, top first
    };
    const Case cases[] = {
        {7, {"top"}},
        {8, {"top", "middle"}},
        {9, {"top", "middle", "bottom"}},
    };
    for (const Case& c : cases) {
        log().clear();
        EventDispatcher::addEvent(c.id);
        EXPECT_TRUE(EventDispatcher::dispatch());
        std::vector<std::string> expected;
        for (const std::string& page : c.reached) expected.push_back(page + ":" + std::to_string(c.id));
        EXPECT_EQ(log(), expected) << "id " << c.id;
    }

    // A redraw goes down until a page says it drew.
    middle->drawsAll = true;
    log().clear();
    EventDispatcher::addEvent(EventId::Redraw);
    EventDispatcher::dispatch();
    EXPECT_EQ(log(), (std::vector<std::string>{"top:draw", "middle:draw"}));
}

TEST(EventDispatcher, StackMembership) {
    freezeClock();
    auto* first = new RecordingPage("first", {});
    EXPECT_TRUE(EventDispatcher::hasFocus(first));
    EventDispatcher::addListener(first); // already on the stack: stays where it is, once
    EventDispatcher::addListener(nullptr);
    EXPECT_EQ(EventDispatcher::elements(), 1);

    auto* second = new RecordingPage("second", {});
    EXPECT_FALSE(EventDispatcher::hasFocus(first));
    EXPECT_TRUE(EventDispatcher::hasFocus(second));
    EventDispatcher::addListener(first);
    EXPECT_EQ(EventDispatcher::elements(), 2);
    EXPECT_TRUE(EventDispatcher::hasFocus(second));

    // A page that is not on the stack is still deleted; one deleted directly leaves the stack.
    log().clear();
    auto* stray = new RecordingPage("stray", {});
    EventDispatcher::removeListener(stray);
    EXPECT_EQ(entriesOf("stray"), std::vector<std::string>{"deleted"});
    EventDispatcher::removeListener(nullptr);
    delete second;
    EXPECT_EQ(EventDispatcher::elements(), 1);
    EXPECT_TRUE(EventDispatcher::hasFocus(first));
    EventDispatcher::addEvent(5);
    EventDispatcher::dispatch();
    EXPECT_EQ(entriesOf("first"), std::vector<std::string>{"5"});
}

TEST(EventDispatcher, A200EventBurstTakesTwoPasses) {
    freezeClock();
    auto* page = new RecordingPage("page", {});
    for (int i = 0; i < 200; ++i) EventDispatcher::addEvent(100 + i);

    testing::internal::CaptureStdout();
    EXPECT_TRUE(EventDispatcher::dispatch());
    const std::string firstPass = testing::internal::GetCapturedStdout();
    EXPECT_EQ(page->draws, 0);
    std::vector<std::string> handled = entriesOf("page");
    ASSERT_EQ(handled.size(), 129u);
    EXPECT_EQ(handled.front(), "100");
    EXPECT_EQ(handled.back(), "228");
    EXPECT_EQ(firstPass, "W (Event): Max event per loop = 129\n");

    testing::internal::CaptureStdout();
    EXPECT_TRUE(EventDispatcher::dispatch());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    handled = entriesOf("page");
    ASSERT_EQ(handled.size(), 200u);
    EXPECT_EQ(handled.back(), "299");
}

TEST(EventDispatcher, APassEndsAfterTenMilliseconds) {
    // Every clock read is one millisecond later: the pass stops before its tenth millisecond.
    porting::setClock([] { return now += 1000; });
    new RecordingPage("page", {});
    for (int i = 0; i < 30; ++i) EventDispatcher::addEvent(100 + i);
    testing::internal::CaptureStdout();
    EXPECT_TRUE(EventDispatcher::dispatch());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    const size_t firstPass = entriesOf("page").size();
    EXPECT_GE(firstPass, 1u);
    EXPECT_LT(firstPass, 10u);
    while (entriesOf("page").size() < 30u) EventDispatcher::dispatch();
    EXPECT_EQ(entriesOf("page").back(), "129");
}

TEST(EventDispatcher, CloseDeletesOnlyTheTopPageAndEndsThePass) {
    freezeClock();
    new RecordingPage("bottom", {});
    new RecordingPage("middle", {});
    new RecordingPage("top", {});
    log().clear();
    queue({EventId::Close, 5, EventId::Close, EventId::Close, 6});

    EXPECT_FALSE(EventDispatcher::dispatch());
    EXPECT_EQ(log(), std::vector<std::string>{"top:deleted"});
    EXPECT_EQ(EventDispatcher::elements(), 2);

    // The events behind the close reach the new top page in the next pass, which closes it in turn.
    log().clear();
    EXPECT_FALSE(EventDispatcher::dispatch());
    EXPECT_EQ(log(), (std::vector<std::string>{"middle:5", "bottom:5", "middle:deleted"}));
    log().clear();
    EXPECT_FALSE(EventDispatcher::dispatch());
    EXPECT_EQ(log(), std::vector<std::string>{"bottom:deleted"});
    EXPECT_EQ(EventDispatcher::elements(), 0);

    // On an empty stack a close is dropped and the pass goes on.
    log().clear();
    queue({EventId::Close, 7});
    EXPECT_TRUE(EventDispatcher::dispatch());
    EXPECT_TRUE(EventDispatcher::dispatch());
    EXPECT_TRUE(log().empty());
}

TEST(EventDispatcher, CloseNeverDeletesAStartUpPage) {
    freezeClock();
    auto* home = new RecordingPage("home", {});
    auto* tuner = new RecordingPage("tuner", {});
    EventDispatcher::keepStartupPages();
    EXPECT_TRUE(EventDispatcher::isPermanent(home));
    EXPECT_TRUE(EventDispatcher::isPermanent(tuner));

    auto* list = new RecordingPage("list", {});
    EXPECT_FALSE(EventDispatcher::isPermanent(list));
    log().clear();
    queue({EventId::Close, EventId::Close, EventId::Close, 9});
    EXPECT_FALSE(EventDispatcher::dispatch());
    EXPECT_EQ(log(), std::vector<std::string>{"list:deleted"});

    // The surplus closes are refused with a warning; the pass goes on to the next event.
    log().clear();
    testing::internal::CaptureStdout();
    EXPECT_TRUE(EventDispatcher::dispatch());
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(log(), (std::vector<std::string>{"tuner:9", "home:9"}));
    EXPECT_EQ(EventDispatcher::elements(), 2);
    EXPECT_TRUE(EventDispatcher::hasFocus(tuner));
    EXPECT_NE(out.find("W (Event): Close ignored"), std::string::npos) << out;
}

TEST(EventDispatcher, PagesOpenedOrClosedDuringAWalk) {
    freezeClock();
    auto* bottom = new RecordingPage("bottom", {});
    auto* opener = new RecordingPage("opener", {});
    // The page opened while an event is handled is above the walk: it does not get that event.
    opener->handler = [](int id) {
        if (id == 5) new RecordingPage("opened", {});
    };
    log().clear();
    queue({5, 6});
    EventDispatcher::dispatch();
    EXPECT_EQ(log(), (std::vector<std::string>{"opener:5", "bottom:5", "opened:6", "opener:6", "bottom:6"}));

    // A page removed by the page above it during a walk is not offered the rest of that walk.
    auto* remover = new RecordingPage("remover", {});
    remover->handler = [bottom](int id) {
        if (id == 7) EventDispatcher::removeListener(bottom);
    };
    log().clear();
    queue({7});
    EventDispatcher::dispatch();
    EXPECT_EQ(log(), (std::vector<std::string>{"remover:7", "bottom:deleted", "opened:7", "opener:7"}));
}

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
