#include "ui/gfx/Gfx.h"

// The family's medium face at the usual sizes, light and regular faces for the program's large digits.
#define GFX_MONTSERRAT(size) const lv_font_t lv_font_montserrat_##size{"montserrat_" #size, 500, size, 0};
GFX_MONTSERRAT(10)
GFX_MONTSERRAT(12)
GFX_MONTSERRAT(14)
GFX_MONTSERRAT(16)
GFX_MONTSERRAT(18)
GFX_MONTSERRAT(20)
GFX_MONTSERRAT(22)
GFX_MONTSERRAT(24)
GFX_MONTSERRAT(26)
GFX_MONTSERRAT(28)
GFX_MONTSERRAT(30)
GFX_MONTSERRAT(32)
GFX_MONTSERRAT(34)
GFX_MONTSERRAT(36)
GFX_MONTSERRAT(38)
GFX_MONTSERRAT(40)
GFX_MONTSERRAT(42)
GFX_MONTSERRAT(44)
GFX_MONTSERRAT(46)
GFX_MONTSERRAT(48)
#undef GFX_MONTSERRAT

const lv_font_t ui_font_arzet_light102{"arzet_light102", 300, 0, 101};
// The tempo digits sit in 14-pixel columns: a smaller em, centred in its 24-pixel line, keeps them inside.
const lv_font_t ui_font_arzet24{"arzet24", 400, 20, 24};
