#pragma once
// A structural value of a block (its Enable switch, an algorithm choice, a slot selection): a change the
// audio cannot glide through. The audio side sees a new value only after a compile pass that ran while the
// output was faded to silence; a change noticed in any other pass asks the engine for that fade, so a
// change made from anywhere (a remote write, MIDI, a preset load) is heard as a short fade, never a click.
#include <atomic>

class StructuralValue {
public:
    explicit StructuralValue(int initial) : value(initial) {}

    // Compile thread: takes `wanted` over in a silent pass, otherwise asks for the fade when it differs.
    // True when the value changed in this pass.
    bool latch(int wanted);
    // Any thread.
    int get() const { return value.load(std::memory_order_acquire); }

private:
    std::atomic<int> value;
};
