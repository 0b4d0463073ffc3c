#include "blocks/Semaphore.h"

#include <cerrno>

Semaphore::Semaphore() { sem_init(&semaphore, 0, 0); }

Semaphore::~Semaphore() { sem_destroy(&semaphore); }

void Semaphore::post() noexcept { sem_post(&semaphore); }

void Semaphore::wait() noexcept {
    // Suspend and resume reach the thread as signals.
    while (sem_wait(&semaphore) != 0 && errno == EINTR) {}
}
