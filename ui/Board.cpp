#include "ui/Board.h"

#include "ui/Bsp.h"
#include "porting/Shims.h"

Bsp*& Board::board = Bsp::active;
std::atomic<bool> Board::initialized{false};

namespace {
constexpr uint32_t kPollMicros = 10000;
}

void Board::initialize() {
    if (board) board->initialize();
    initialized.store(true, std::memory_order_release);
}

void Board::eventLoop() {
    if (board) board->eventLoop();
}

bool Board::isInitialized() { return initialized.load(std::memory_order_acquire); }

bool Board::waitInitialized(uint32_t timeoutMicros) {
    // Counted in sleeps, not by the clock, so a clock step neither cuts the wait short nor stretches it.
    for (uint32_t waited = 0; !isInitialized(); waited += kPollMicros) {
        if (waited >= timeoutMicros) return false;
        vTaskDelay(kPollMicros);
    }
    return true;
}
