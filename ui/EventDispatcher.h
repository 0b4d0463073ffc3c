#pragma once
// The page stack and the event queue of the user interface, and the bodies of its two threads.
//
// Events are ints (EventId.h) queued from any thread through addEvent into one lock-free multi-producer
// queue; the UI thread takes them off in dispatch() and offers each to the pages from the top of the stack
// down until one consumes it, a raised page (Listener::raised) before all others. The dispatcher handles
// two ids itself: Redraw (the pages build their objects in that order until one says it drew) and Close
// (the top page is deleted).
//
// Threads: addEvent from any thread, never blocking. Everything else belongs to the UI thread once the
// threads run; before that, start-up code builds the first pages.
#include <cstdint>

class Listener;

class EventDispatcher {
public:
    // A dispatch pass ends after this many events or after this many microseconds; the rest waits for the
    // next pass.
    static constexpr int kMaxEventsPerPass = 129;
    static constexpr int64_t kMaxPassMicros = 10000;

    // Pushes the page on top unless it is already on the stack; null is ignored.
    static void addListener(Listener* page);
    // Unlinks every entry of the page and deletes it, whether or not it was on the stack; null is ignored.
    static void removeListener(Listener* page);
    // onBroadcast(id) of every page, top down.
    static void broadcast(int id);
    // True when the page is the top page.
    static bool hasFocus(const Listener* page);
    // True when the page is the top page once the overlays (Listener::overlay) are left aside.
    static bool inFront(const Listener* page);
    // Offers the id to the pages that are not raised, top down, as dispatch would with no page raised.
    static void offerUnraised(int id);
    // Number of pages on the stack.
    static int elements();

    // Makes the pages now on the stack permanent: Close never deletes them. The UI thread does this when it
    // starts, so a surplus Close cannot take the home, tuner, tempo or recovery page away until reboot.
    static void keepStartupPages();
    static bool isPermanent(const Listener* page);
    // Deletes every page, start-up pages too, and drops the queued events: the UI as before it started.
    static void reset();

    // Queues an id from any thread; dropped silently when the queue cannot get room.
    static void addEvent(int id);
    // One dispatch pass: events until the queue is empty, kMaxEventsPerPass events were handled (with a
    // warning) or kMaxPassMicros passed. False only when the pass closed a page; it then ends at once.
    static bool dispatch();

private:
    static void offerRedraw();
    static void offerEvent(int id);
    static bool closeTopPage();
};

// The nested UI loop of a modal page: UI passes until a pass closes a page. The caller has just built the
// modal page (so it is on top) and reads the answer the page left in the caller's variable on return.
void waitModal();
// One UI pass: sleep 10 ms, dispatch, and on every sixth pass render the display, queue a redraw and clear
// the screen. Returns the pass's dispatch result.
bool system_tasks_loop();
// Body of the "systemTasks" thread (the UI thread): keeps the start-up pages, sleeps 1 s, waits at most
// 10 s more for the board bring-up to finish (it draws on the display meanwhile), clears the screen, then
// runs UI passes forever.
void system_tasks(void*);
// One pass of the "eventTasks" thread without its 10 ms sleep: the input scan, the 200 ms tick, the clock
// and storage services.
void event_tasks_loop();
// Body of the "eventTasks" thread: the board bring-up, then a pass every 10 ms forever.
void event_tasks(void*);
