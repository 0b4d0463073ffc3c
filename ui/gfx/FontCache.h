#pragma once
#include "ui/gfx/Gfx.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace gfx {

// A rendered glyph: an 8-bit coverage bitmap placed relative to the pen on the baseline.
struct Glyph {
    int32_t left = 0; // from the pen to the bitmap's first column
    int32_t top = 0;  // from the baseline up to the bitmap's first row
    int32_t width = 0;
    int32_t height = 0;
    int32_t advance = 0; // pen movement in pixels
    std::vector<uint8_t> coverage;
};

struct FontMetrics {
    int32_t ascent = 0; // baseline below the line's top
    int32_t lineHeight = 0;
    int32_t underlineOffset = 1; // below the baseline
    int32_t underlineThickness = 1;
};

// The typefaces behind lv_font_t: the Montserrat faces (WOFF files of the font package, found under the
// font folder) and the symbol face, opened through FreeType on first use; glyphs are rendered once per
// font and code point. Private-use symbol code points and characters the text face lacks are drawn from
// the symbol face. A face that cannot be opened is logged once and draws nothing, with nominal metrics,
// so layout still works.
class FontCache {
public:
    static FontCache& instance();

    // The folder with the text face files: $PEDAL_FONT_DIR, else the font package under the source tree.
    static std::string fontDirectory();
    // The face the symbols come from: $PEDAL_SYMBOL_FONT, else the system's DejaVu Sans.
    static std::string symbolFontPath();
    // Face file of a weight of the family.
    static std::string faceFile(int weight);

    const FontMetrics& metrics(const lv_font_t* font);
    const Glyph& glyph(const lv_font_t* font, uint32_t codepoint);
    // The em size the font is drawn at.
    int32_t pixelSize(const lv_font_t* font);
    // Closes every face and drops every glyph: the next use opens the faces the folders then hold.
    void forget();

    FontCache(const FontCache&) = delete;
    FontCache& operator=(const FontCache&) = delete;

private:
    struct Face;
    struct Sized;
    FontCache();
    ~FontCache();
    Face* face(const std::string& path);
    Sized& sized(const lv_font_t* font);

    void* library = nullptr; // FT_Library
    std::map<std::string, std::unique_ptr<Face>> faces;
    std::unordered_map<const lv_font_t*, std::unique_ptr<Sized>> fonts;
};

}
