#include "audio/FrameRing.h"

#include "audio/dsp/Frame.h"

#include <cstring>

static_assert((FrameRing::kCapacity & (FrameRing::kCapacity - 1)) == 0, "the counters wrap at a power of two");

bool FrameRing::push(const float (*frame)[Frame::kSamples]) {
    uint32_t write = written.load(std::memory_order_relaxed);
    if (write - taken.load(std::memory_order_acquire) >= uint32_t(kCapacity)) return false;
    std::memcpy(frames[write % kCapacity], frame, sizeof frames[0]);
    written.store(write + 1, std::memory_order_release);
    return true;
}

bool FrameRing::pop(float (*frame)[Frame::kSamples]) {
    uint32_t take = taken.load(std::memory_order_relaxed);
    if (written.load(std::memory_order_acquire) == take) return false;
    std::memcpy(frame, frames[take % kCapacity], sizeof frames[0]);
    taken.store(take + 1, std::memory_order_release);
    return true;
}

bool FrameRing::discard() {
    uint32_t take = taken.load(std::memory_order_relaxed);
    if (written.load(std::memory_order_acquire) == take) return false;
    taken.store(take + 1, std::memory_order_release);
    return true;
}

void FrameRing::clear() { taken.store(written.load(std::memory_order_acquire), std::memory_order_release); }

int FrameRing::size() const {
    return int(written.load(std::memory_order_acquire) - taken.load(std::memory_order_acquire));
}
