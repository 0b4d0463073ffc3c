#pragma once
// A counting semaphore between threads of this process. post() is safe on the audio thread: it takes no
// lock and never blocks (an atomic increment, plus a kernel wake-up only when a thread waits).
#include <semaphore.h>

class Semaphore {
public:
    Semaphore();
    ~Semaphore();
    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    void post() noexcept;
    // Blocks until a post is available and takes it; a signal that interrupts the wait does not end it.
    void wait() noexcept;

private:
    sem_t semaphore;
};
