#include "ui/EventDispatcher.h"

#include "ui/Board.h"
#include "ui/EventId.h"
#include "nolt/driver/IOArray.h"
#include "ui/LCD.h"
#include "nolt/driver/Light.h"
#include "ui/Listener.h"
#include "porting/Log.h"
#include "porting/Shims.h"
#include "core/Storage.h"
#include "core/Time.h"

#include <concurrentqueue/concurrentqueue.h>

#include <algorithm>
#include <vector>

namespace {
const char* const TAG = "Event";

// The queue starts with room for 1,024 ids (32 blocks of 32) before it allocates further blocks.
constexpr size_t kInitialQueueRoom = 1024;
// A redraw every sixth UI pass.
constexpr int kPassesPerRender = 6;
constexpr int64_t kTickMicros = 200000;
constexpr uint32_t kPassSleepMicros = 10000;
constexpr uint32_t kStartDelayMicros = 1000000;
constexpr uint32_t kBoardWaitMicros = 10000000;

// The queue lives for the whole process, past the end of main: the input thread may still queue a tick while
// the process exits, so it is never destroyed.
struct State {
    moodycamel::ConcurrentQueue<int> queue{kInitialQueueRoom};
};
State& state() {
    static State* const instance = new State;
    return *instance;
}
// Built before main, as the pages built at start-up need it.
[[maybe_unused]] const State& eventDispatcher_staticInit = state();

// Raised pages first, then the top page first. A page handler may open or close pages while the walk runs
// (a modal page, a nested dispatch), so the walk goes over a copy and skips pages that have left the stack
// meanwhile.
std::vector<Listener*> topDown(const std::vector<Listener*>& pages) {
    std::vector<Listener*> order(pages.rbegin(), pages.rend());
    std::stable_partition(order.begin(), order.end(), [](const Listener* page) { return page->raised(); });
    return order;
}

// UI passes since the last render; UI thread only.
int redrawCounter = 0;

// Input/service thread only.
bool tickStarted = false;
int64_t tickReference = 0;

// Pages get the tick as an event through the queue; it is not broadcast, as only the UI thread may walk
// the page stack.
void tick() {
    const int64_t now = esp_timer_get_time();
    // A clock that steps back would hold the tick until it caught up again: start over from now.
    if (!tickStarted || now < tickReference) {
        tickStarted = true;
        tickReference = now;
        return;
    }
    if (now - tickReference >= kTickMicros) {
        EventDispatcher::addEvent(EventId::Tick);
        tickReference = now;
    }
}
}

void EventDispatcher::addListener(Listener* page) {
    if (!page || Listener::onStack(page)) return;
    Listener::stack().pages.push_back(page);
}

void EventDispatcher::removeListener(Listener* page) {
    if (!page) return;
    Listener::unlink(page);
    delete page;
}

void EventDispatcher::broadcast(int id) {
    for (Listener* page : topDown(Listener::stack().pages)) {
        if (Listener::onStack(page)) page->onBroadcast(id);
    }
}

bool EventDispatcher::hasFocus(const Listener* page) {
    const auto& pages = Listener::stack().pages;
    return page && !pages.empty() && pages.back() == page;
}

bool EventDispatcher::inFront(const Listener* page) {
    const auto& pages = Listener::stack().pages;
    for (auto it = pages.rbegin(); it != pages.rend(); ++it) {
        if (!(*it)->overlay()) return *it == page;
    }
    return false;
}

void EventDispatcher::offerUnraised(int id) {
    for (Listener* page : topDown(Listener::stack().pages)) {
        if (Listener::onStack(page) && !page->raised() && page->onEvent(id)) return;
    }
}

int EventDispatcher::elements() { return int(Listener::stack().pages.size()); }

void EventDispatcher::keepStartupPages() {
    for (const Listener* page : Listener::stack().pages) {
        if (!isPermanent(page)) Listener::stack().permanent.push_back(page);
    }
}

bool EventDispatcher::isPermanent(const Listener* page) {
    const auto& permanent = Listener::stack().permanent;
    return std::find(permanent.begin(), permanent.end(), page) != permanent.end();
}

void EventDispatcher::reset() {
    auto& pages = Listener::stack().pages;
    while (!pages.empty()) removeListener(pages.back());
    int id = 0;
    while (state().queue.try_dequeue(id)) {}
    redrawCounter = 0;
    tickStarted = false;
}

void EventDispatcher::addEvent(int id) { state().queue.enqueue(id); }

void EventDispatcher::offerRedraw() {
    for (Listener* page : topDown(Listener::stack().pages)) {
        if (Listener::onStack(page) && page->draw()) return;
    }
}

void EventDispatcher::offerEvent(int id) {
    for (Listener* page : topDown(Listener::stack().pages)) {
        if (Listener::onStack(page) && page->onEvent(id)) return;
    }
}

bool EventDispatcher::closeTopPage() {
    auto& pages = Listener::stack().pages;
    if (pages.empty()) return false;
    Listener* top = pages.back();
    if (isPermanent(top)) {
        LOGW(TAG, "Close ignored: the top page is a start-up page\n");
        return false;
    }
    removeListener(top);
    return true;
}

bool EventDispatcher::dispatch() {
    const int64_t start = esp_timer_get_time();
    int budget = kMaxEventsPerPass;
    while (esp_timer_get_time() - start < kMaxPassMicros) {
        int id = 0;
        if (!state().queue.try_dequeue(id)) return true;
        if (id == EventId::Redraw) {
            offerRedraw();
        } else if (id == EventId::Close) {
            // The events behind a close belong to the page that comes on top: they wait for the next pass.
            if (closeTopPage()) return false;
        } else {
            offerEvent(id);
        }
        if (--budget == 0) {
            LOGW(TAG, "Max event per loop = %d\n", kMaxEventsPerPass);
            return true;
        }
    }
    return true;
}

bool system_tasks_loop() {
    vTaskDelay(kPassSleepMicros);
    const bool result = EventDispatcher::dispatch();
    if (redrawCounter++ >= kPassesPerRender - 1) {
        // Immediate mode: render what the pages built, then drop it all; the redraw rebuilds it.
        LCD::flush();
        EventDispatcher::addEvent(EventId::Redraw);
        LCD::clear();
        redrawCounter = 0;
    }
    return result;
}

void waitModal() {
    while (system_tasks_loop()) {}
}

void system_tasks(void*) {
    EventDispatcher::keepStartupPages();
    // The board bring-up on the input thread sets up the display and draws the splash meanwhile; the
    // graphics layer has no lock, so this thread keeps off it until the bring-up has finished.
    vTaskDelay(kStartDelayMicros);
    if (!Board::waitInitialized(kBoardWaitMicros)) {
        LOGW(TAG, "Board bring-up not finished after %u s; the display starts anyway\n",
             unsigned((kStartDelayMicros + kBoardWaitMicros) / 1000000));
    }
    LCD::clear();
    while (true) system_tasks_loop();
}

void event_tasks_loop() {
    Board::eventLoop();
    tick();
    IOArray::tasks();
    Light::tasks();
    Time::tasks();
    Storage::tasks();
}

void event_tasks(void*) {
    Board::initialize();
    while (true) {
        event_tasks_loop();
        vTaskDelay(kPassSleepMicros);
    }
}
