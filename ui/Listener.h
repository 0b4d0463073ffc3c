#pragma once
// Base of every page of the user interface. Constructing a page puts it on top of the page stack, where it
// has the focus; the dispatcher offers events and redraws from the top page down. A page never deletes
// itself: it queues EventId::Close and the dispatcher deletes the top page.
#include <vector>

class Listener {
public:
    // Pushes this page on top of the stack (once; a page already on the stack stays where it is).
    Listener();
    // A page deleted some other way than by the dispatcher still leaves the stack, so no dangling entry
    // remains.
    virtual ~Listener();
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    // Builds this page's objects on the active screen (immediate mode: the screen was cleared before).
    // True: the page drew, the redraw is not offered to the pages below.
    virtual bool draw() = 0;
    // Handles one event; true consumes it, so the pages below do not see it.
    virtual bool onEvent(int id) = 0;
    virtual void onBroadcast(int id);
    // True while the page shows what the sound is doing right now (the tuner muting the output, tap tempo
    // counting): the dispatcher then offers it redraws and events before every other page, wherever it
    // lies on the stack, and the pages above it come back as they were once it turns false.
    virtual bool raised() const { return false; }
    // True for a page that only ever shows raised over the others: it never holds the focus, so the page
    // under it is the one in front (EventDispatcher::inFront).
    virtual bool overlay() const { return false; }

private:
    friend class EventDispatcher;
    // The page stack lives with the pages, so a page joins and leaves it by itself; the dispatcher walks it.
    // UI thread only; never destroyed, as pages may outlive main.
    struct Stack {
        std::vector<Listener*> pages; // back() is the top page
        std::vector<const Listener*> permanent;
    };
    static Stack& stack();
    static bool onStack(const Listener* page);
    // Takes the page off the stack (and off the permanent pages) without deleting it.
    static void unlink(const Listener* page);
};
