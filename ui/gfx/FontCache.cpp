#include "ui/gfx/FontCache.h"

#include "porting/Log.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SIZES_H

namespace gfx {

namespace {
const char* TAG = "Gfx";

// The symbol code points the pages use, and the characters of the symbol face drawn for them.
struct SymbolMapping {
    uint32_t symbol;
    uint32_t drawn;
};
constexpr SymbolMapping symbolMappings[] = {
    {0xF054, 0x276F}, // right: heavy right-pointing angle
    {0xF068, 0x2212}, // minus
    {0xF071, 0x26A0}, // warning sign
    {0xF00C, 0x2714}, // ok: heavy check mark
    {0xF00D, 0x2716}, // close: heavy multiplication x
    {0xF55A, 0x232B}, // backspace: erase to the left
};

int32_t scaleUp(int32_t units, int32_t pixels, int32_t unitsPerEm) {
    return int32_t(std::ceil(double(units) * pixels / unitsPerEm));
}
}

struct FontCache::Face {
    FT_Face face = nullptr; // null when the file could not be opened
    int32_t unitsPerEm = 1000;
    int32_t asciiTop = 0;    // highest point of the letters and digits, in font units
    int32_t asciiBottom = 0; // lowest point (negative below the baseline)
};

struct FontCache::Sized {
    Face* text = nullptr;
    Face* symbols = nullptr;
    FT_Size textSize = nullptr;
    FT_Size symbolSize = nullptr;
    int32_t pixelSize = 0;
    FontMetrics metrics;
    std::unordered_map<uint32_t, Glyph> glyphs;
};

FontCache& FontCache::instance() {
    static FontCache cache;
    return cache;
}

FontCache::FontCache() {
    FT_Library ft = nullptr;
    if (FT_Init_FreeType(&ft) != 0) {
        LOGE(TAG, "FreeType could not be initialised; text is not drawn\n");
        ft = nullptr;
    }
    library = ft;
}

FontCache::~FontCache() {
    fonts.clear();
    // Closing the library closes every face and size opened through it.
    if (library) FT_Done_FreeType(static_cast<FT_Library>(library));
}

void FontCache::forget() {
    fonts.clear();
    for (const auto& [path, opened] : faces) {
        if (opened->face) FT_Done_Face(opened->face);
    }
    faces.clear();
}

std::string FontCache::fontDirectory() {
    const char* configured = std::getenv("PEDAL_FONT_DIR");
    if (configured && *configured) return configured;
    return PEDAL_FONT_DIR_DEFAULT;
}

std::string FontCache::symbolFontPath() {
    const char* configured = std::getenv("PEDAL_SYMBOL_FONT");
    if (configured && *configured) return configured;
    return PEDAL_SYMBOL_FONT_DEFAULT;
}

std::string FontCache::faceFile(int weight) {
    return fontDirectory() + "/montserrat-latin-" + std::to_string(weight) + "-normal.woff";
}

FontCache::Face* FontCache::face(const std::string& path) {
    auto found = faces.find(path);
    if (found != faces.end()) return found->second.get();
    auto entry = std::make_unique<Face>();
    FT_Face opened = nullptr;
    if (!library || FT_New_Face(static_cast<FT_Library>(library), path.c_str(), 0, &opened) != 0) {
        LOGE(TAG, "Cannot load font %s\n", path.c_str());
    } else {
        entry->face = opened;
        entry->unitsPerEm = opened->units_per_EM ? opened->units_per_EM : 1000;
        // Lines are as high as letters and digits reach: brackets and bars reach further, and room for
        // them would push the text of tightly sized labels down into their clipped bottom edge.
        bool any = false;
        for (FT_ULong c = 0x30; c < 0x7B; ++c) {
            if (!std::isalnum(int(c)) || FT_Load_Char(opened, c, FT_LOAD_NO_SCALE) != 0) continue;
            const FT_Glyph_Metrics& m = opened->glyph->metrics;
            const int32_t top = int32_t(m.horiBearingY);
            const int32_t bottom = int32_t(m.horiBearingY - m.height);
            entry->asciiTop = any ? std::max(entry->asciiTop, top) : top;
            entry->asciiBottom = any ? std::min(entry->asciiBottom, bottom) : bottom;
            any = true;
        }
        if (!any || entry->asciiTop <= entry->asciiBottom) {
            entry->asciiTop = opened->ascender;
            entry->asciiBottom = opened->descender;
        }
    }
    Face* result = entry.get();
    faces.emplace(path, std::move(entry));
    return result;
}

FontCache::Sized& FontCache::sized(const lv_font_t* font) {
    auto found = fonts.find(font);
    if (found != fonts.end()) return *found->second;
    auto entry = std::make_unique<Sized>();
    entry->text = face(faceFile(font->weight));
    entry->symbols = face(symbolFontPath());

    FontMetrics& m = entry->metrics;
    if (entry->text->face) {
        const Face& f = *entry->text;
        const int32_t span = f.asciiTop - f.asciiBottom;
        entry->pixelSize = font->pixelSize > 0 ? font->pixelSize : std::max(1, font->lineHeight * f.unitsPerEm / span);
        m.ascent = scaleUp(f.asciiTop, entry->pixelSize, f.unitsPerEm);
        const int32_t natural = m.ascent + scaleUp(-f.asciiBottom, entry->pixelSize, f.unitsPerEm);
        m.lineHeight = font->lineHeight > 0 ? font->lineHeight : natural;
        m.ascent += (m.lineHeight - natural) / 2; // glyphs centred in a line set taller than they need
        const int32_t position = -f.face->underline_position * entry->pixelSize / f.unitsPerEm;
        const int32_t thickness = f.face->underline_thickness * entry->pixelSize / f.unitsPerEm;
        m.underlineOffset = std::max(1, position);
        m.underlineThickness = std::max(1, thickness);
    } else {
        entry->pixelSize = font->pixelSize > 0 ? font->pixelSize : std::max(1, font->lineHeight * 4 / 5);
        m.ascent = entry->pixelSize;
        m.lineHeight = font->lineHeight > 0 ? font->lineHeight : entry->pixelSize * 5 / 4;
    }
    for (Face* f : {entry->text, entry->symbols}) {
        if (!f->face) continue;
        FT_Size size = nullptr;
        if (FT_New_Size(f->face, &size) != 0) continue;
        FT_Activate_Size(size);
        FT_Set_Pixel_Sizes(f->face, 0, FT_UInt(entry->pixelSize));
        (f == entry->text ? entry->textSize : entry->symbolSize) = size;
    }
    Sized& result = *entry;
    fonts.emplace(font, std::move(entry));
    return result;
}

const FontMetrics& FontCache::metrics(const lv_font_t* font) { return sized(font).metrics; }

int32_t FontCache::pixelSize(const lv_font_t* font) { return sized(font).pixelSize; }

const Glyph& FontCache::glyph(const lv_font_t* font, uint32_t codepoint) {
    Sized& s = sized(font);
    auto found = s.glyphs.find(codepoint);
    if (found != s.glyphs.end()) return found->second;

    Glyph& g = s.glyphs[codepoint];
    // Control characters take no room and show nothing.
    if (codepoint < 0x20 || (codepoint >= 0x7F && codepoint < 0xA0)) return g;

    FT_Face from = nullptr;
    FT_Size size = nullptr;
    FT_UInt index = 0;
    uint32_t drawn = codepoint;
    bool symbol = false;
    for (const SymbolMapping& mapping : symbolMappings) {
        if (mapping.symbol == codepoint) {
            drawn = mapping.drawn;
            symbol = true;
        }
    }
    if (!symbol && s.text->face && s.textSize) {
        index = FT_Get_Char_Index(s.text->face, drawn);
        if (index) from = s.text->face, size = s.textSize;
    }
    if (!from && s.symbols->face && s.symbolSize) {
        // The symbol face also stands in for characters the text face lacks (its missing-glyph box when it
        // lacks them too).
        index = FT_Get_Char_Index(s.symbols->face, drawn);
        from = s.symbols->face;
        size = s.symbolSize;
    }
    if (!from) {
        g.advance = s.pixelSize / 2;
        return g;
    }
    FT_Activate_Size(size);
    if (FT_Load_Glyph(from, index, FT_LOAD_RENDER | FT_LOAD_TARGET_LIGHT) != 0) {
        g.advance = s.pixelSize / 2;
        return g;
    }
    const FT_GlyphSlot slot = from->glyph;
    const FT_Bitmap& bitmap = slot->bitmap;
    g.left = slot->bitmap_left;
    g.top = slot->bitmap_top;
    g.advance = int32_t((slot->advance.x + 32) >> 6);
    if (bitmap.pixel_mode == FT_PIXEL_MODE_GRAY && bitmap.buffer) {
        g.width = int32_t(bitmap.width);
        g.height = int32_t(bitmap.rows);
        g.coverage.resize(size_t(g.width) * g.height);
        for (int32_t row = 0; row < g.height; ++row)
            for (int32_t col = 0; col < g.width; ++col)
                g.coverage[size_t(row) * g.width + col] = bitmap.buffer[row * bitmap.pitch + col];
    }
    return g;
}

}
