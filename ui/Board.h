#pragma once
// The static facade through which the input thread reaches whichever board object exists (the product
// board, or the recovery application's). Without a board both calls do nothing.
//
// Threads: Board::board is set at start-up, before the input thread starts; initialize and eventLoop run
// on the input thread; the UI thread waits for the bring-up to finish before it draws.
#include <atomic>
#include <cstdint>

class Bsp;

class Board {
public:
    // The board object (Bsp::active), null until one is constructed.
    static Bsp*& board;

    // The board's bring-up, when there is a board; afterwards (board or not) the bring-up counts as done.
    static void initialize();
    // One input scan of the board, when there is one.
    static void eventLoop();

    // True once initialize has returned.
    static bool isInitialized();
    // Waits until initialize has returned, at most timeoutMicros; true when it has.
    static bool waitInitialized(uint32_t timeoutMicros);

private:
    static std::atomic<bool> initialized;
};
