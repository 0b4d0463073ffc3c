#pragma once
// A lock-free ring of audio frames (float[2][16]) between exactly one producer thread and one consumer
// thread. Neither side ever waits: a full ring refuses the frame, an empty one gives nothing.
#include <atomic>
#include <cstdint>

#include "audio/dsp/Frame.h"

class FrameRing {
public:
    static constexpr int kCapacity = 64; // frames; 21 ms at 48 kHz

    // Producer: false (the frame is dropped) when the ring is full.
    bool push(const float (*frame)[Frame::kSamples]);
    // Consumer: false when the ring is empty.
    bool pop(float (*frame)[Frame::kSamples]);
    // Consumer: drops the oldest frame; false when empty.
    bool discard();
    // Consumer: drops everything the producer has pushed so far.
    void clear();
    // Frames waiting; exact for the consumer, a lower bound of the free room for the producer.
    int size() const;

private:
    alignas(64) float frames[kCapacity][Frame::kChannels][Frame::kSamples] = {};
    alignas(64) std::atomic<uint32_t> written{0};
    alignas(64) std::atomic<uint32_t> taken{0};
};
