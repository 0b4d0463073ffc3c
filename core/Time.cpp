#include "core/Time.h"

std::atomic<bool> Time::initialized{false};

void Time::tasks() { initialized.store(true, std::memory_order_relaxed); }

bool Time::isInitialized() { return initialized.load(std::memory_order_relaxed); }
