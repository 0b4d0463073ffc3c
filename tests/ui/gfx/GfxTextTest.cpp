// Text: UTF-8 reading with Latin-1 for stray bytes, the faces behind the fonts (WOFF through FreeType,
// symbols from the symbol face), line heights of the program's fonts, and what happens without font files.
#include "ui/gfx/Canvas.h"
#include "ui/gfx/FontCache.h"
#include "ui/gfx/GfxTestView.h"
#include "ui/gfx/TextLayout.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

using gfx::FontCache;
using gfx::TextLayout;

TEST(GfxText, Utf8WithLatin1ForStrayBytes) {
    struct Case {
        std::string text;
        std::vector<uint32_t> codepoints;
    } cases[] = {
        {"Ab", {'A', 'b'}},
        {"\xC2\xB0"
         "C",
         {0xB0, 'C'}}, // degree sign, valid UTF-8
        {"\xB0"
         "C",
         {0xB0, 'C'}},                                  // the raw byte: Latin-1
        {"\xE2\x82\xAC", {0x20AC}},                     // euro sign
        {"\xF0\x9F\x8E\xB8", {0x1F3B8}},                // four bytes
        {"\xEF\x81\xB1", {0xF071}},                     // a symbol
        {"\xC0\xAF", {0xC0, 0xAF}},                     // overlong
        {"\xE0\x80\xAF", {0xE0, 0x80, 0xAF}},           // overlong, three bytes
        {"\xED\xA0\x80", {0xED, 0xA0, 0x80}},           // surrogate
        {"\xF4\x90\x80\x80", {0xF4, 0x90, 0x80, 0x80}}, // past U+10FFFF
        {"\xE2\x82", {0xE2, 0x82}},                     // truncated at the end
        {"\xE9t\xE9", {0xE9, 't', 0xE9}},               // Latin-1 text
    };
    for (const Case& c : cases) {
        std::vector<uint32_t> read;
        for (size_t pos = 0; pos < c.text.size();) read.push_back(TextLayout::nextCodepoint(c.text, pos));
        EXPECT_EQ(read, c.codepoints) << c.text;
    }
}

TEST(GfxText, MontserratLoadsFromTheWoffFilesAndSymbolsFromTheSymbolFace) {
    FontCache& fonts = FontCache::instance();
    const gfx::Glyph& letter = fonts.glyph(&lv_font_montserrat_14, 'A');
    EXPECT_GT(letter.width, 5);
    EXPECT_GT(letter.advance, 5);
    EXPECT_GT(fonts.glyph(&lv_font_montserrat_14, 0xB0).width, 0);
    for (const char* symbol :
         {LV_SYMBOL_RIGHT, LV_SYMBOL_MINUS, LV_SYMBOL_WARNING, LV_SYMBOL_OK, LV_SYMBOL_CLOSE, LV_SYMBOL_BACKSPACE}) {
        size_t pos = 0;
        const gfx::Glyph& g = fonts.glyph(&lv_font_montserrat_20, TextLayout::nextCodepoint(symbol, pos));
        EXPECT_GT(g.width, 3) << symbol;
        EXPECT_GT(g.height, 0) << symbol;
    }
    // Larger sizes give taller lines; the program's fonts have the line heights asked for.
    int32_t previous = 0;
    for (const lv_font_t* font :
         {&lv_font_montserrat_14, &lv_font_montserrat_18, &lv_font_montserrat_24, &lv_font_montserrat_48}) {
        EXPECT_GT(fonts.metrics(font).lineHeight, previous) << font->name;
        previous = fonts.metrics(font).lineHeight;
    }
    EXPECT_EQ(fonts.metrics(&ui_font_arzet_light102).lineHeight, 101);
    EXPECT_EQ(fonts.metrics(&ui_font_arzet24).lineHeight, 24);
    EXPECT_LE(fonts.metrics(&ui_font_arzet_light102).ascent, 101);
    EXPECT_GT(fonts.glyph(&ui_font_arzet_light102, '0').height, 50);
}

TEST(GfxText, LetterSpaceAndWidth) {
    const int32_t plain = TextLayout::width("01A", &ui_font_arzet_light102, 0);
    EXPECT_EQ(TextLayout::width("01A", &ui_font_arzet_light102, -4), plain - 8);
    EXPECT_EQ(TextLayout::width("", &lv_font_montserrat_14, 5), 0);
    // The 209-pixel preset number label holds the widest bank text.
    EXPECT_LE(TextLayout::width("20C", &ui_font_arzet_light102, -4), 209);
}

TEST(GfxText, MissingFontFilesDrawNothingButKeepTheLayout) {
    setenv("PEDAL_FONT_DIR", "/nonexistent-fonts", 1);
    setenv("PEDAL_SYMBOL_FONT", "/nonexistent-fonts/symbols.ttf", 1);
    lv_obj_t* label = lv_label_create(lv_screen_active());
    lv_obj_set_width(label, 100);
    lv_label_set_text(label, "No glyphs here but a box");
    lv_obj_set_style_text_color(label, lv_color_hex(0xFFFFFF), 0);
    const auto views = gfx::GfxTestView::snapshot();
    ASSERT_EQ(views.size(), 2u);
    EXPECT_GT(views[1].height, 0);
    EXPECT_FALSE(views[1].lines.empty());
    gfx::GfxTestView::render();
    const uint32_t screen = gfx::Canvas::fromRgb565(gfx::Canvas::toRgb565(0x15171A));
    for (int32_t y = 0; y < 170; ++y)
        for (int32_t x = 0; x < 320; ++x) ASSERT_EQ(gfx::GfxTestView::pixel(x, y), screen) << x << "," << y;
}
