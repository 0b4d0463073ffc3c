#pragma once
#include <atomic>
#include <list>

class ComInterface;

// Registry of the remote-control transports and body of the "comTasks" thread, the only thread that polls
// them and runs the request processor.
class Com {
public:
    // Transports in registration (construction) order: ComInterface::transports().
    static std::list<ComInterface*>& ifaces;
    // Set once every transport's initialize() has run.
    static std::atomic<bool> initialized;

    // Appends a transport; null and one already registered are ignored.
    static void addIface(ComInterface* iface);
    // Initialises every transport once; later calls return at once.
    static bool initialize();
    // One polling pass: tasks() of every transport in registration order (heldTasks() of one whose password
    // answers are held back).
    static void pass();
    // Body of the "comTasks" thread: initialise, then a pass every 10 ms until stop().
    static void com_tasks(void* unused);
    // Ends the passes of the "comTasks" thread, so no transport takes a request any more, and waits (at most
    // timeLimitMs) for a pass under way to end: every request answered before this returns has made its
    // change. The orderly end calls it before the last storage write.
    static void stop(int timeLimitMs);
};
