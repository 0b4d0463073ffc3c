#include "ui/Bsp.h"

Bsp* Bsp::active = nullptr;

Bsp::Bsp() { active = this; }

Bsp::~Bsp() {
    if (active == this) active = nullptr;
}
