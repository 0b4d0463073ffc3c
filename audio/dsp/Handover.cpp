#include "audio/dsp/Handover.h"

#include <thread>

namespace {
// A take copies a handful of values; this many yields only run out if the audio thread was descheduled
// inside one, and then the writer tries again on its next pass.
constexpr int kWriteAttempts = 10000;
} // namespace

bool Handover::beginWrite() {
    for (int attempt = 0; attempt < kWriteAttempts; ++attempt) {
        int observed = state_.load(std::memory_order_acquire);
        if (observed == kTaking) {
            std::this_thread::yield();
            continue;
        }
        if (state_.compare_exchange_strong(observed, kWriting, std::memory_order_acq_rel)) return true;
    }
    return false;
}

void Handover::publish() { state_.store(kReady, std::memory_order_release); }

bool Handover::beginTake() {
    int expected = kReady;
    return state_.compare_exchange_strong(expected, kTaking, std::memory_order_acquire);
}

void Handover::endTake() { state_.store(kIdle, std::memory_order_release); }

bool Handover::pending() const { return state_.load(std::memory_order_acquire) == kReady; }
