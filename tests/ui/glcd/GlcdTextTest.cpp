#include "tests/ui/GlcdPicture.h"

#include <gtest/gtest.h>

#include <string>

using glcdpicture::litCount;
using glcdpicture::pixel;
using glcdpicture::snapshot;

namespace {

class GlcdTextTest : public ::testing::Test {
protected:
    void SetUp() override { glcd_clear(0); }
};

struct FontCase {
    const char* name;
    const uint8_t* font;
    bool proportional;
    int maxWidth;
    int height;
    int count;
};

const FontCase FONTS[] = {
    {"font10", glcd_font10, true, 10, 10, 96},  {"font11", glcd_font11, true, 10, 11, 96},
    {"font14", glcd_font14, true, 10, 14, 96},  {"font14wide", glcd_font14wide, true, 13, 14, 96},
    {"font5x7", glcd_font5x7, false, 5, 7, 97}, {"font3x6", glcd_font3x6, false, 3, 6, 96},
    {"font3x5", glcd_font3x5, false, 3, 5, 96},
};

int widthOf(const FontCase& f, char c) { return glcd_drawChar2(0, 0, c, f.font, GLCD_MEASURE); }

TEST_F(GlcdTextTest, EveryGlyphStaysInsideItsCellAndReachesTheFontsRows) {
    for (const FontCase& f : FONTS) {
        EXPECT_EQ(f.font[0] == 0 && f.font[1] <= 1, !f.proportional) << f.name;
        EXPECT_LE(f.font[2], f.maxWidth) << f.name;
        EXPECT_EQ(f.font[3], f.height) << f.name;
        EXPECT_EQ(f.font[4], 32) << f.name;
        EXPECT_EQ(f.font[5], f.count) << f.name;
        int lowestRow = 0;
        for (int code = 33; code < 127; ++code) {
            char c = static_cast<char>(code);
            glcd_clear(0);
            int width = widthOf(f, c);
            ASSERT_GT(width, 0) << f.name << " '" << c << "'";
            EXPECT_EQ(glcd_drawChar2(10, 20, c, f.font, 1), 10 + width) << f.name;
            EXPECT_GT(litCount(), 0) << f.name << " '" << c << "'";
            for (int y = 0; y < 64; ++y)
                for (int x = 0; x < 128; ++x) {
                    if (!pixel(x, y)) continue;
                    ASSERT_TRUE(x >= 10 && x < 10 + width && y >= 20 && y < 20 + f.height)
                        << f.name << " '" << c << "' at " << x << "," << y;
                    lowestRow = std::max(lowestRow, y - 20);
                }
        }
        // The rows of the last band are all reachable: a font that draws short lost its high bits.
        EXPECT_GE(lowestRow, f.height - 2) << f.name;
    }
}

TEST_F(GlcdTextTest, StringsAdvanceByGlyphAndGapAndMeasureTheDegreeSign) {
    for (const FontCase& f : FONTS) {
        int expected = 3 + widthOf(f, 'A') + 1 + widthOf(f, 'b') + 1;
        EXPECT_EQ(glcd_drawStringFont(3, 5, "Ab", f.font, 1), expected) << f.name;
        // A character the font lacks advances by the gap only.
        EXPECT_EQ(glcd_drawStringFont(3, 5,
                                      "A\x01"
                                      "b",
                                      f.font, GLCD_MEASURE),
                  expected + 1)
            << f.name;

        int radius = f.height < 8 ? f.height / 6 : f.height / 8;
        glcd_clear(0);
        EXPECT_EQ(glcd_drawStringFont(40, 20, "\xB0", f.font, 1), 40 + 2 * radius + 1 + 1) << f.name;
        EXPECT_TRUE(pixel(40 + 2 * radius, 20 + 2 * radius)) << f.name;
        EXPECT_EQ(litCount() > 0, true) << f.name;
        glcd_clear(0);
        EXPECT_EQ(glcd_drawStringFontRightAligned(100, 20,
                                                  "4\xB0"
                                                  "C",
                                                  f.font, 1),
                  widthOf(f, '4') + 1 + 2 * radius + 1 + 1 + widthOf(f, 'C') + 1)
            << f.name;
    }

    glcd_clear(0);
    glcd_drawStringFont(10, 60, "|", glcd_font5x7, 1); // runs off the bottom and on at the top
    for (int row : {60, 61, 62, 63, 0, 1, 2}) EXPECT_TRUE(pixel(12, row)) << row;
}

TEST_F(GlcdTextTest, AlignedCentredAndDefaultFontTextMatchPlainText) {
    auto pictureOf = [](auto draw) {
        glcd_clear(0);
        draw();
        return snapshot();
    };
    int width = glcd_drawStringFont(0, 0, "Gain", glcd_font10, GLCD_MEASURE);
    EXPECT_EQ(pictureOf([] { glcd_drawStringFontRightAligned(126, 1, "Gain", glcd_font10, 1); }),
              pictureOf([&] { glcd_drawStringFont(static_cast<uint8_t>(126 - width), 1, "Gain", glcd_font10, 1); }));
    EXPECT_EQ(pictureOf([] { glcd_drawStringFontCentered(10, 1, 8, "Mix", glcd_font10, 1); }),
              pictureOf([] { glcd_drawStringFont(20, 1, "Mix", glcd_font10, 1); }));
    EXPECT_EQ(pictureOf([] { glcd_drawString(5, 5, "AB", 1); }), pictureOf([] {
                  glcd_drawChar2(5, 5, 'A', glcd_font3x5, 1);
                  glcd_drawChar2(9, 5, 'B', glcd_font3x5, 1);
              }));
    EXPECT_EQ(pictureOf([] { glcd_drawStringCentered(5, 5, 6, "AB", 1); }),
              pictureOf([] { glcd_drawString(13, 5, "AB", 1); }));
    EXPECT_EQ(pictureOf([] { glcd_drawInt(5, 5, -42, 1); }), pictureOf([] { glcd_drawString(5, 5, "-42", 1); }));
    EXPECT_EQ(pictureOf([] { glcd_drawFloat(5, 5, 1, 2.5f); }), pictureOf([] { glcd_drawString(5, 5, "2.50", 1); }));
    EXPECT_EQ(pictureOf([] { glcd_drawFloat(5, 5, 1, 1.0e13f); }), pictureOf([] {}));
    EXPECT_EQ(pictureOf([] {
                  glcd_drawString(5, 5, "A", 2);
                  glcd_drawString(5, 5, "A", 2);
              }),
              pictureOf([] {}));
}

TEST_F(GlcdTextTest, TrimmedTextRunsThroughItsWindow) {
    const char* text = "0123456789";
    const int expectedStart[] = {0, 1, 2, 3, 4, 5, 6, 0};
    for (int scroll = 0; scroll < 8; ++scroll) {
        glcd_clear(0);
        std::string window = std::string(text).substr(expectedStart[scroll], 4);
        glcd_drawStringFont(2, 2, window.c_str(), glcd_font5x7, 1);
        glcd_drawStringFont(2, 30, window.c_str(), glcd_font5x7, 1); // right-aligned copy below
        auto expected = snapshot();
        glcd_clear(0);
        glcd_drawStringFontTrim(2, 2, 4, scroll, text, glcd_font5x7, 1);
        int width = glcd_drawStringFont(0, 0, window.c_str(), glcd_font5x7, GLCD_MEASURE);
        glcd_drawStringFontRightAlignedTrim(static_cast<uint8_t>(2 + width), 30, 4, scroll, text, glcd_font5x7, 1);
        EXPECT_EQ(snapshot(), expected) << "scroll " << scroll;
    }
    auto whole = [&](auto draw) {
        glcd_clear(0);
        draw();
        return snapshot();
    };
    EXPECT_EQ(whole([] { glcd_drawStringFontTrim(2, 2, 20, 3, "Short", glcd_font5x7, 1); }),
              whole([] { glcd_drawStringFont(2, 2, "Short", glcd_font5x7, 1); }));
    // A window wider than the copy buffer, and a negative count, still draw a valid window.
    std::string longText(100, 'W');
    EXPECT_NO_FATAL_FAILURE(glcd_drawStringFontTrim(0, 0, 200, 5, longText.c_str(), glcd_font3x5, 1));
    EXPECT_NO_FATAL_FAILURE(glcd_drawStringFontTrim(0, 0, 4, -3, longText.c_str(), glcd_font3x5, 1));
}

TEST_F(GlcdTextTest, LimitedTextIsClippedToItsWindow) {
    struct Case {
        int scroll;
        bool cut;
    };
    for (Case c : {Case{0, false}, Case{7, false}, Case{23, false}, Case{0, true}, Case{9, true}}) {
        glcd_clear(0);
        if (c.cut) glcd_drawStringFontLimitedCut(30, 10, 60, c.scroll, "Scrolling name", glcd_font10, 1);
        else glcd_drawStringFontLimited(30, 10, 60, c.scroll, "Scrolling name", glcd_font10, 1);
        EXPECT_GT(litCount(), 0) << c.scroll;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 128; ++x)
                if (pixel(x, y)) {
                    ASSERT_TRUE(x >= 30 && x <= 60) << x << "," << y << " scroll " << c.scroll;
                }
    }
    glcd_clear(0);
    glcd_drawStringFontLimited(30, 10, 30, 0, "Wide", glcd_font10, 1); // one column wide stays one column
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 128; ++x)
            if (pixel(x, y)) {
                ASSERT_EQ(x, 30);
            }
    glcd_clear(0);
    glcd_drawStringFontLimitedCut(60, 10, 60, 0, "Gone", glcd_font10, 1);
    EXPECT_EQ(litCount(), 0);
}

TEST_F(GlcdTextTest, FixedCellsShowDigitsLettersAndBlanks) {
    struct Address {
        char c;
        int glyph;
    };
    for (Address a : {Address{'0', 0}, Address{'9', 9}, Address{'A', 10}, Address{'f', 15}, Address{'Z', 35},
                      Address{' ', 36}, Address{'_', 37}, Address{'-', 38}, Address{':', 39}, Address{'.', 40},
                      Address{'+', 41}, Address{'#', 0}, Address{'\xB0', 0}}) {
        EXPECT_EQ(getFontAddress(a.c), a.glyph * 3) << a.c;
        EXPECT_EQ(getBigFontAddress(a.c), a.glyph * 5) << a.c;
    }
    EXPECT_TRUE(isValue('5'));
    EXPECT_FALSE(isValue('A'));
    EXPECT_TRUE(isBigValue('0'));
    EXPECT_FALSE(isBigValue(' '));

    auto cells = [](const char* text) {
        glcd_clear(0);
        for (int index = 0; text[index] != '\0'; ++index)
            glcd_drawChar(static_cast<uint8_t>(10 + 4 * index), 20, text[index], 1);
        return snapshot();
    };
    auto drawn = [](auto draw) {
        glcd_clear(0);
        draw();
        return snapshot();
    };
    EXPECT_EQ(drawn([] { glcd_drawHex(10, 20, 171, 1); }), cells("000000AB"));
    EXPECT_EQ(drawn([] { glcd_drawHex(10, 20, 0xDEADBEEF, 1); }), cells("deadbeef"));
    EXPECT_EQ(drawn([] { glcd_drawCharInt(10, 20, 7, 1); }), cells("  7"));
    EXPECT_EQ(drawn([] { glcd_drawCharInt(10, 20, 42, 1); }), cells(" 42"));
    EXPECT_EQ(drawn([] { glcd_drawCharInt(10, 20, 255, 1); }), cells("255"));

    // A cell clears its box first: a digit on a lit picture shows as lit strokes on a dark 5 x 7 box.
    glcd_clear(1);
    glcd_drawChar(20, 20, '1', 1);
    EXPECT_FALSE(pixel(19, 19));
    EXPECT_TRUE(pixel(18, 19));
    EXPECT_TRUE(pixel(19, 26));
    glcd_clear(0);
    glcd_drawBigChar(20, 20, '8', 1);
    EXPECT_TRUE(pixel(21, 20));
    EXPECT_FALSE(pixel(20, 27));
    glcd_drawBigString(0, 0, "IGNORED", 1);
    glcd_drawBigStringCentered(0, 0, 10, "IGNORED", 1);
    EXPECT_FALSE(pixel(0, 0));
}

TEST_F(GlcdTextTest, SampleSheetRendersEveryFont) {
    uint8_t y = 0;
    glcd_drawStringFont(0, y,
                        "Title font10 gjpqy 25\xB0"
                        "C",
                        glcd_font10, 1);
    y = static_cast<uint8_t>(y + 11);
    glcd_drawStringFont(0, y, "Float font11 Gain", glcd_font11, 1);
    y = static_cast<uint8_t>(y + 12);
    glcd_drawStringFont(0, y, "Fast14", glcd_font14, 1);
    glcd_drawStringFont(60, y, "OFF", glcd_font14wide, 1);
    y = static_cast<uint8_t>(y + 15);
    glcd_drawStringFont(0, y, "X10 Add Del Back", glcd_font5x7, 1);
    y = static_cast<uint8_t>(y + 8);
    glcd_drawStringFont(0, y,
                        "VAL 38.5\xB0"
                        "C  CUR 1:05 font3x6",
                        glcd_font3x6, 1);
    y = static_cast<uint8_t>(y + 7);
    glcd_drawString(0, y, "3X5 DEFAULT 0123456789", 1);
    glcd_drawHex(94, 57, 0xC0FFEE, 1);
    EXPECT_TRUE(glcdpicture::savePng("glcd_fonts"));
}

}
