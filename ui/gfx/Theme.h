#pragma once
#include "ui/gfx/GfxTree.h"

namespace gfx {

// The default theme's look of each kind of object, as styles per part and state: dark (or light) surfaces,
// the primary colour on bars, sliders, buttons and checked keys, and the theme's font on the screen, from
// which every text inherits it.
class Theme {
public:
    static void build(lv_theme_t& theme);
};

}
