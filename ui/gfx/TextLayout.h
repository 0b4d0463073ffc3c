#pragma once
#include "ui/gfx/Gfx.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace gfx {

// Reading and measuring label text: UTF-8 with a Latin-1 reading of stray bytes, line breaking at spaces,
// and cutting with "..." for labels that show overlong text with dots.
class TextLayout {
public:
    // The code point at `pos`, moving `pos` past it. A byte that does not start a valid UTF-8 sequence (a
    // lone continuation byte, an overlong or surrogate form, a truncated sequence) is read as the Latin-1
    // character of that byte value, so texts holding a raw degree byte 0xB0 show a degree sign.
    static uint32_t nextCodepoint(std::string_view text, size_t& pos);

    // Pen movement across the text: glyph advances with the letter space between letters.
    static int32_t width(std::string_view text, const lv_font_t* font, int32_t letterSpace);

    // The lines a label shows. "\n" always breaks; maxWidth > 0 also breaks at spaces (inside a word when
    // one word is wider). With dots and a maxHeight that leaves room for fewer lines than the text needs,
    // the last line that fits is cut so that it ends in "..." within maxWidth.
    struct Box {
        int32_t maxWidth;  // 0 or less: no wrapping
        int32_t maxHeight; // below 0: no limit
        bool dots;
    };
    static std::vector<std::string> lines(std::string_view text, const lv_font_t* font, int32_t letterSpace,
                                          int32_t lineSpace, Box box);
};

}
