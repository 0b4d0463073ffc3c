#include "Bsp.h"

#include "Board.h"

Bsp::Bsp() { Board::board = this; }

Bsp::~Bsp() {
    if (Board::board == this) Board::board = nullptr;
}
