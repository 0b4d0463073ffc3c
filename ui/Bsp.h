#pragma once
// Base of the board-support object: the board's bring-up and its input scan. Constructing one makes it the
// board that Board calls; there is one per process, and a later one replaces the earlier.
class Bsp {
public:
    // The board object: the last one constructed that still exists, null without one. Board calls it.
    static Bsp* active;

    Bsp();
    // Brings the board up (codec, display and splash, input/output chain); once, on the input thread.
    virtual void initialize() = 0;
    // Scans the inputs that arrived since the last call and queues their event ids; every 10 ms on the
    // input thread.
    virtual void eventLoop() = 0;
    // A board that goes away stops being the board.
    virtual ~Bsp();
    Bsp(const Bsp&) = delete;
    Bsp& operator=(const Bsp&) = delete;
};
