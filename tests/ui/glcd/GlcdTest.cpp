#include "ui/glcd/GlcdChart.h"
#include "tests/ui/GlcdPicture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <set>
#include <string>
#include <utility>
#include <vector>

using glcdpicture::litCount;
using glcdpicture::pixel;
using glcdpicture::snapshot;

namespace {

class GlcdTest : public ::testing::Test {
protected:
    void SetUp() override { glcd_clear(0); }
};

// The lit pixels, row by row.
std::vector<std::pair<int, int>> lit() {
    std::vector<std::pair<int, int>> points;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 128; ++x)
            if (pixel(x, y)) points.emplace_back(x, y);
    return points;
}

// The picture that `draw` leaves on a cleared one.
template <typename Draw>
glcdpicture::Snapshot drawn(Draw draw) {
    glcd_clear(0);
    draw();
    return snapshot();
}

TEST_F(GlcdTest, PixelsUseTheColumnFromTheRightLayoutAndWrapAtTheEdges) {
    glcd_drawPixel(127, 0, 1);
    EXPECT_EQ(glcd_buffer[0], 0x01);
    glcd_drawPixel(0, 63, 1);
    EXPECT_EQ(glcd_buffer[1023], 0x80);

    struct Case {
        int x, y, landsX, landsY;
    };
    for (Case c : {Case{130, 5, 2, 5}, Case{5, 70, 5, 6}, Case{255, 255, 127, 63}, Case{128, 64, 0, 0}}) {
        glcd_clear(0);
        glcd_drawPixel(static_cast<uint8_t>(c.x), static_cast<uint8_t>(c.y), 1);
        EXPECT_TRUE(pixel(c.landsX, c.landsY)) << c.x << "," << c.y;
        EXPECT_EQ(litCount(), 1) << c.x << "," << c.y;
    }
}

TEST_F(GlcdTest, BandWritesApplyEachModeAndCrossIntoTheNextBand) {
    // Column 10 starts with rows 4..7 lit; the pattern 0b0000'0011 is written at row 6 (rows 6 and 7 of band
    // 0 and rows 8.. of band 1 are reachable through the 16-bit pair).
    struct Case {
        uint8_t mode;
        std::set<int> lit;
    };
    // Mode 3 inverts the six rows of the band from row 6 that the pattern leaves clear: rows 8..13.
    const Case cases[] = {
        {0, {4, 5}}, {1, {4, 5, 6, 7}}, {2, {4, 5}}, {9, {4, 5, 6, 7}}, {3, {4, 5, 6, 7, 8, 9, 10, 11, 12, 13}}};
    for (const Case& c : cases) {
        glcd_clear(0);
        for (int row = 4; row < 8; ++row) glcd_drawPixel(10, static_cast<uint8_t>(row), 1);
        glcd_writeByteBufferedAt(10, 6, 0x03, c.mode);
        std::set<int> rows; // of column 10; -1 for a pixel elsewhere
        for (auto [x, y] : lit()) rows.insert(x == 10 ? y : -1);
        EXPECT_EQ(rows, c.lit) << "mode " << int(c.mode);
    }

    glcd_clear(0);
    glcd_writeByteBufferedAt(3, 60, 0xFF, 1);
    for (int row : {60, 61, 62, 63, 0, 1, 2, 3}) EXPECT_TRUE(pixel(3, row)) << row;
    EXPECT_EQ(litCount(), 8);

    glcd_clear(0);
    glcd_drawPixel(20, 9, 3); // a single pixel in mode 3 lights the seven rows below it
    for (int row = 10; row <= 16; ++row) EXPECT_TRUE(pixel(20, row)) << row;
    EXPECT_EQ(litCount(), 7);
}

TEST_F(GlcdTest, FillRectLeavesTheBottomRowOut) {
    glcd_fillRect(100, 17, 124, 26, 1);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 128; ++x)
            ASSERT_EQ(pixel(x, y), x >= 100 && x <= 124 && y >= 17 && y <= 25) << x << "," << y;

    glcd_clear(0);
    glcd_fillRect(124, 26, 100, 17, 1); // corners in either order
    EXPECT_EQ(litCount(), 25 * 9);
    glcd_clear(0);
    glcd_fillRect(5, 30, 40, 30, 1);
    EXPECT_EQ(litCount(), 0);
    glcd_fillRect(7, 60, 7, 68, 1); // rows 60..67 run on at the top
    for (int row = 0; row < 64; ++row) EXPECT_EQ(pixel(7, row), row < 4 || row >= 60) << row;
}

TEST_F(GlcdTest, LinesRunFromEndToEndInConnectedSteps) {
    struct Case {
        int x0, y0, x1, y1;
    };
    const Case cases[] = {{0, 12, 127, 12}, {5, 5, 5, 40},   {10, 50, 60, 20}, {60, 20, 10, 50},
                          {3, 3, 4, 60},    {0, 0, 127, 63}, {100, 2, 98, 3},  {7, 7, 7, 7}};
    for (const Case& c : cases) {
        glcd_clear(0);
        glcd_drawLine(c.x0, c.y0, c.x1, c.y1, 1);
        int dx = std::abs(c.x1 - c.x0);
        int dy = std::abs(c.y1 - c.y0);
        EXPECT_TRUE(pixel(c.x0, c.y0));
        EXPECT_TRUE(pixel(c.x1, c.y1));
        EXPECT_EQ(litCount(), std::max(dx, dy) + 1) << c.x0 << "," << c.y0 << " " << c.x1 << "," << c.y1;
        // Every lit pixel lies within half a pixel (plus rounding) of the ideal line.
        for (auto [x, y] : dx || dy ? lit() : std::vector<std::pair<int, int>>{}) {
            double distance =
                std::abs(double(c.y1 - c.y0) * (x - c.x0) - double(c.x1 - c.x0) * (y - c.y0)) / std::hypot(dx, dy);
            EXPECT_LE(distance, 1.0) << x << "," << y;
        }
    }

    glcd_clear(0);
    glcd_drawRect(10, 10, 20, 15, 2); // the corners are inverted twice
    for (auto [x, y] : {std::pair{10, 10}, {20, 10}, {10, 15}, {20, 15}}) EXPECT_FALSE(pixel(x, y));
    EXPECT_TRUE(pixel(15, 10));
    EXPECT_TRUE(pixel(10, 12));
    EXPECT_EQ(litCount(), 2 * 9 + 2 * 4);
}

TEST_F(GlcdTest, CirclesAndDiscsFollowTheRadius) {
    for (int r : {1, 3, 8, 20}) {
        glcd_clear(0);
        glcd_drawCircle(64, 32, static_cast<uint8_t>(r), 1);
        EXPECT_GT(litCount(), 0);
        for (auto [x, y] : lit()) EXPECT_NEAR(std::hypot(x - 64, y - 32), r, 0.75) << "r " << r;
        for (auto [x, y] : {std::pair{64 + r, 32}, {64 - r, 32}, {64, 32 + r}, {64, 32 - r}}) EXPECT_TRUE(pixel(x, y));
        // All eight octants: the ring maps onto itself mirrored across either axis or a diagonal.
        for (auto [x, y] : lit())
            EXPECT_TRUE(pixel(128 - x, y) && pixel(x, 64 - y) && pixel(32 + y, x - 32)) << x << "," << y;

        glcd_clear(0);
        glcd_fillCircle(64, 32, static_cast<uint8_t>(r), 1);
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 128; ++x) {
                double distance = std::hypot(x - 64, y - 32);
                if (distance <= r - 0.5) {
                    EXPECT_TRUE(pixel(x, y)) << x << "," << y << " r " << r;
                }
                if (distance >= r + 0.75) {
                    EXPECT_FALSE(pixel(x, y)) << x << "," << y << " r " << r;
                }
            }
    }
}

TEST_F(GlcdTest, PotPointsAlongItsScaleAndDrawsOnlyAtSizeSeven) {
    glcd_drawPot(40, 30, 6, 1, 0.0f, 10.0f, 5.0f);
    EXPECT_EQ(litCount(), 0);

    auto potPicture = [](float value) { return drawn([&] { glcd_drawPot(40, 30, 7, 1, 0.0f, 10.0f, value); }); };
    auto bodyPicture = [](int step) { return drawn([&] { glcd_drawPotBody(40, 30, 1, step); }); };
    EXPECT_EQ(potPicture(-3.0f), bodyPicture(0));
    EXPECT_EQ(potPicture(0.0f), bodyPicture(0));
    EXPECT_EQ(potPicture(5.0f), bodyPicture(16));
    EXPECT_EQ(potPicture(25.0f), bodyPicture(32));
    EXPECT_EQ(potPicture(NAN), bodyPicture(0));

    // Middle position: the pointer stands straight up from the centre.
    potPicture(5.0f);
    for (int row = 23; row <= 30; ++row) EXPECT_TRUE(pixel(40, row)) << row;
    EXPECT_FALSE(pixel(40, 35));

    glcd_clear(0);
    glcd_drawPotLog(40, 30, 7, 1, 1.0f, 100.0f, 10.0f);
    EXPECT_EQ(snapshot(), bodyPicture(16));
}

TEST_F(GlcdTest, SliderKnobAndMeterBarStayInsideTheirTrack) {
    struct Case {
        float value;
        int knobX;
    };
    // Track 10..60 wide, r 3: the knob centre runs from 13 to 13 + 43.
    for (Case c : {Case{0.0f, 13}, Case{1.0f, 56}, Case{0.5f, 34}, Case{-2.0f, 13}, Case{7.0f, 56}}) {
        glcd_clear(0);
        glcd_drawBar1(10, 40, 60, 40, 3, 1, 1, 0.0f, 1.0f, c.value);
        EXPECT_TRUE(pixel(c.knobX, 40)) << c.value;
        EXPECT_TRUE(pixel(c.knobX - 3, 40)) << c.value;
        EXPECT_TRUE(pixel(c.knobX + 3, 40)) << c.value;
        EXPECT_FALSE(pixel(c.knobX - 5, 40)) << c.value;
    }

    struct Level {
        float level;
        int barTop;
    };
    // Frame rows 10..50, scale -60..0 dB: 39 rows of travel.
    for (Level c : {Level{1.0f, 11}, Level{0.0f, 50}, Level{0.001f, 50}, Level{4.0f, 11}, Level{-1.0f, 50}}) {
        glcd_clear(0);
        glcd_drawVu(20, 10, 26, 50, 1, c.level, 0.0f, -60.0f);
        for (int row = 11; row < 50; ++row) EXPECT_EQ(pixel(22, row), row >= c.barTop) << c.level << " " << row;
    }
}

TEST_F(GlcdTest, ImagesLandWhereTheirLayoutSays) {
    uint8_t full[1024];
    for (int index = 0; index < 1024; ++index) full[index] = static_cast<uint8_t>(index * 37 + (index >> 7));
    glcd_drawFullImage(full);
    auto fromFull = snapshot();
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 128; ++x) ASSERT_EQ(pixel(x, y), ((full[(y / 8) * 128 + x] >> (y % 8)) & 1) != 0);

    glcd_clear(0);
    glcd_drawImage(full, 0, 0, 64, 128, 1);
    EXPECT_EQ(snapshot(), fromFull);

    glcd_clear(0);
    glcd_drawFullImageOffset(full, 5);
    for (int x = 0; x < 128; ++x) ASSERT_EQ(pixel((x + 5) % 128, 9), ((full[128 + x] >> 1) & 1) != 0);

    // A 6 x 11 picture (two bands, five rows unused in the second) drawn at (50, 21).
    uint8_t small[12];
    for (int index = 0; index < 12; ++index) small[index] = static_cast<uint8_t>(0xA5 ^ (index * 29));
    glcd_clear(0);
    glcd_drawImage(small, 50, 21, 11, 6, 1);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 128; ++x) {
            bool expected = false;
            if (x >= 50 && x < 56 && y >= 21 && y < 32) {
                int row = y - 21;
                expected = (small[(row / 8) * 6 + (x - 50)] >> (row % 8)) & 1;
            }
            ASSERT_EQ(pixel(x, y), expected) << x << "," << y;
        }

    const uint8_t icon[9] = {1, 0, 1, 0, 1, 0, 1, 0, 1};
    glcd_clear(0);
    glcd_drawIcon(7, 8, icon, 3, 0);
    EXPECT_EQ("\n" + glcdpicture::region(7, 8, 9, 10), "\n.#.\n#.#\n.#.\n");
}

TEST_F(GlcdTest, ScrollBarShowsArrowsAndThumb) {
    glcd_drawScrollBar(10, 50, 58, 5, 2);
    // Track columns 14..64 (50 wide): item 2 of 5 fills 34..44.
    for (int x = 34; x <= 44; ++x) EXPECT_TRUE(pixel(x, 52)) << x;
    EXPECT_FALSE(pixel(30, 52));
    EXPECT_FALSE(pixel(48, 52));
    EXPECT_EQ("\n" + glcdpicture::region(10, 50, 13, 54), "\n####\n##.#\n#..#\n##.#\n####\n");
    EXPECT_EQ("\n" + glcdpicture::region(65, 50, 68, 54), "\n####\n#.##\n#..#\n#.##\n####\n");
    glcdpicture::savePng("glcd_scrollbar");

    glcd_clear(0);
    glcd_drawScrollBar(10, 50, 58, 5, 9); // past the end: the thumb stays on the last item
    EXPECT_TRUE(pixel(60, 52));
    EXPECT_FALSE(pixel(66, 52));
    glcd_clear(0);
    glcd_drawScrollBar(10, 50, 58, 0, 0);
    EXPECT_GT(litCount(), 0);
}

TEST_F(GlcdTest, ArrowsPointTheWayAsked) {
    glcd_drawArrow(20, 30, 0, 1);
    EXPECT_EQ(litCount(), 1 + 3 + 5 + 7 + 9);
    EXPECT_TRUE(pixel(24, 26));
    EXPECT_TRUE(pixel(24, 34));
    glcd_clear(1);
    glcd_drawArrow(100, 30, 1, 1);
    for (int distance : {7, 9, 11}) EXPECT_FALSE(pixel(100 - distance, 30)) << distance;

    glcd_clear(0);
    glcd_drawSmallArrow(40, 10, 1, 1);
    EXPECT_EQ("\n" + glcdpicture::region(40, 8, 45, 12), "\n...#..\n....#.\n######\n....#.\n...#..\n");
}

TEST_F(GlcdTest, FlushingCountsPagesRound) {
    std::vector<int> pages;
    for (int index = 0; index < 10; ++index) pages.push_back(glcd_flushPage());
    EXPECT_EQ(pages, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 0, 1}));
    glcd_flushAll();
    EXPECT_EQ(glcd_flushPage(), 2);

    glcd_clear(1);
    EXPECT_EQ(litCount(), 128 * 64);
    glcd_initialize();
    EXPECT_EQ(litCount(), 0);
}

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

TEST_F(GlcdTest, EveryGlyphStaysInsideItsCellAndReachesTheFontsRows) {
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
            for (auto [x, y] : lit()) {
                ASSERT_TRUE(x >= 10 && x < 10 + width && y >= 20 && y < 20 + f.height)
                    << f.name << " '" << c << "' at " << x << "," << y;
                lowestRow = std::max(lowestRow, y - 20);
            }
        }
        // The rows of the last band are all reachable: a font that draws short lost its high bits.
        EXPECT_GE(lowestRow, f.height - 2) << f.name;
    }
}

TEST_F(GlcdTest, StringsAdvanceByGlyphAndGapAndMeasureTheDegreeSign) {
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

TEST_F(GlcdTest, AlignedCentredAndDefaultFontTextMatchPlainText) {
    int width = glcd_drawStringFont(0, 0, "Gain", glcd_font10, GLCD_MEASURE);
    EXPECT_EQ(drawn([] { glcd_drawStringFontRightAligned(126, 1, "Gain", glcd_font10, 1); }),
              drawn([&] { glcd_drawStringFont(static_cast<uint8_t>(126 - width), 1, "Gain", glcd_font10, 1); }));
    EXPECT_EQ(drawn([] { glcd_drawStringFontCentered(10, 1, 8, "Mix", glcd_font10, 1); }),
              drawn([] { glcd_drawStringFont(20, 1, "Mix", glcd_font10, 1); }));
    EXPECT_EQ(drawn([] { glcd_drawString(5, 5, "AB", 1); }), drawn([] {
                  glcd_drawChar2(5, 5, 'A', glcd_font3x5, 1);
                  glcd_drawChar2(9, 5, 'B', glcd_font3x5, 1);
              }));
    EXPECT_EQ(drawn([] { glcd_drawStringCentered(5, 5, 6, "AB", 1); }), drawn([] { glcd_drawString(13, 5, "AB", 1); }));
    EXPECT_EQ(drawn([] { glcd_drawInt(5, 5, -42, 1); }), drawn([] { glcd_drawString(5, 5, "-42", 1); }));
    EXPECT_EQ(drawn([] { glcd_drawFloat(5, 5, 1, 2.5f); }), drawn([] { glcd_drawString(5, 5, "2.50", 1); }));
    EXPECT_EQ(drawn([] { glcd_drawFloat(5, 5, 1, 1.0e13f); }), drawn([] {}));
    EXPECT_EQ(drawn([] {
                  glcd_drawString(5, 5, "A", 2);
                  glcd_drawString(5, 5, "A", 2);
              }),
              drawn([] {}));
}

TEST_F(GlcdTest, TrimmedTextRunsThroughItsWindow) {
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
    EXPECT_EQ(drawn([] { glcd_drawStringFontTrim(2, 2, 20, 3, "Short", glcd_font5x7, 1); }),
              drawn([] { glcd_drawStringFont(2, 2, "Short", glcd_font5x7, 1); }));
    // A window wider than the copy buffer, and a negative count, still draw a valid window.
    std::string longText(100, 'W');
    EXPECT_NO_FATAL_FAILURE(glcd_drawStringFontTrim(0, 0, 200, 5, longText.c_str(), glcd_font3x5, 1));
    EXPECT_NO_FATAL_FAILURE(glcd_drawStringFontTrim(0, 0, 4, -3, longText.c_str(), glcd_font3x5, 1));
}

TEST_F(GlcdTest, LimitedTextIsClippedToItsWindow) {
    struct Case {
        int scroll;
        bool cut;
    };
    for (Case c : {Case{0, false}, Case{7, false}, Case{23, false}, Case{0, true}, Case{9, true}}) {
        glcd_clear(0);
        if (c.cut) glcd_drawStringFontLimitedCut(30, 10, 60, c.scroll, "Scrolling name", glcd_font10, 1);
        else glcd_drawStringFontLimited(30, 10, 60, c.scroll, "Scrolling name", glcd_font10, 1);
        EXPECT_GT(litCount(), 0) << c.scroll;
        for (auto [x, y] : lit()) ASSERT_TRUE(x >= 30 && x <= 60) << x << "," << y << " scroll " << c.scroll;
    }
    glcd_clear(0);
    glcd_drawStringFontLimited(30, 10, 30, 0, "Wide", glcd_font10, 1); // one column wide stays one column
    for (auto [x, y] : lit()) ASSERT_EQ(x, 30) << y;
    glcd_clear(0);
    glcd_drawStringFontLimitedCut(60, 10, 60, 0, "Gone", glcd_font10, 1);
    EXPECT_EQ(litCount(), 0);
}

TEST_F(GlcdTest, FixedCellsShowDigitsLettersAndBlanks) {
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

// The array editor's plot: 89 x 37 at (1, 18).
constexpr int X = 1, Y = 18, W = 89, H = 37;

class GlcdChartTest : public ::testing::Test {
protected:
    void SetUp() override {
        glcd_clear(0);
        chart.setSize(X, Y, X + W, Y + H);
        chart.setYLimits(0.0f, 250.0f, true, false);
        chart.setYRange(20.0f, 40.0f, true, true);
    }

    void drawAll(std::vector<float>& values, int marker = -1) {
        chart.setData(values.data(), static_cast<int>(values.size()));
        chart.draw(0, static_cast<int>(values.size()) - 1, marker);
    }

    // Independent of the chart's code: where point i of n lands on a min..max scale.
    static int columnOf(int index, int count) {
        return X + static_cast<int>(std::trunc(double(index) * W / (count - 1)));
    }
    static int rowOf(double value, double min, double max) {
        return Y + H - static_cast<int>(std::trunc((value - min) * H / (max - min)));
    }

    GlcdChart chart;
};

TEST_F(GlcdChartTest, ScaleFollowsValuesWithinRangeAndLimits) {
    struct Case {
        std::vector<float> values;
        float min, max;
    };
    const Case cases[] = {
        {{25, 30, 27, 26}, 20, 40}, {{25, 100, 27}, 20, 100}, {{-5, 30, 31}, 0, 40},
        {{10, 12}, 10, 40},         {{300, 20}, 20, 300},
    };
    for (Case c : cases) {
        glcd_clear(0);
        drawAll(c.values);
        EXPECT_FLOAT_EQ(chart.getMin(), c.min);
        EXPECT_FLOAT_EQ(chart.getMax(), c.max);
        for (int index = 0; index < static_cast<int>(c.values.size()); ++index) {
            float shown = std::max(c.values[index], 0.0f);
            int column = columnOf(index, static_cast<int>(c.values.size()));
            EXPECT_TRUE(pixel(column, rowOf(shown, c.min, c.max))) << "value " << c.values[index];
        }
    }
}

TEST_F(GlcdChartTest, ClampedValueSitsOnTheBottomRow) {
    std::vector<float> values{30, -5, 30, 30};
    drawAll(values);
    int column = columnOf(1, 4);
    ASSERT_EQ(column % 2, 0); // off the dotted frame's columns
    EXPECT_TRUE(pixel(column, Y + H));
    for (int row = Y + H + 1; row < 64; ++row) EXPECT_FALSE(pixel(column, row)) << row;
    EXPECT_TRUE(pixel(X, rowOf(30, 0, 40)));
    glcdpicture::savePng("glcd_chart_clamped");
}

TEST_F(GlcdChartTest, UnsetDataDrawsNothingAndKeepsTheLastScale) {
    std::vector<float> values{25, 100};
    drawAll(values);
    glcd_clear(0);
    for (int count : {0, -1}) {
        chart.setData(values.data(), count);
        chart.draw(0, 1, -1);
        EXPECT_EQ(litCount(), 0);
    }
    chart.setData(nullptr, 5);
    chart.draw(0, 4);
    EXPECT_EQ(litCount(), 0);
    EXPECT_FLOAT_EQ(chart.getMax(), 100.0f);
    EXPECT_FLOAT_EQ(chart.getMin(), 20.0f);
}

TEST_F(GlcdChartTest, SingleValueIsALineAcrossThePlot) {
    std::vector<float> values{30};
    drawAll(values, 0);
    int row = rowOf(30, 20, 40);
    for (int column = X; column <= X + W; ++column) EXPECT_TRUE(pixel(column, row)) << column;
    EXPECT_TRUE(pixel(X, Y - 1)); // the marker's dotted column starts above the plot
    EXPECT_TRUE(pixel(X, Y + 1));
}

TEST_F(GlcdChartTest, MarkerDotsTheColumnOfItsPoint) {
    std::vector<float> values{22, 35, 28, 31};
    for (int marker : {-1, 0, 2, 3}) {
        glcd_clear(0);
        drawAll(values, marker);
        for (int index = 0; index < 4; ++index) {
            int column = columnOf(index, 4);
            bool dotted = pixel(column, Y - 1) && pixel(column, Y + 11) && pixel(column, Y + 35);
            EXPECT_EQ(dotted, index == marker) << "marker " << marker << " index " << index;
        }
    }
    // Beyond the end of the values the chart stops at the last one.
    glcd_clear(0);
    chart.draw(0, 10, 3);
    EXPECT_TRUE(pixel(columnOf(3, 4), Y - 1));
}

TEST_F(GlcdChartTest, LabelsAreInvertedTextAtTheirPlaces) {
    std::vector<float> values{24, 36, 30};
    drawAll(values);
    glcd_drawString(X, Y - 6, "40.00", 2);
    glcd_drawString(X, Y + H + 2, "20.00", 2);
    glcd_drawString(X + W / 2, Y + H + 2, "30.00", 2);
    auto expected = snapshot();

    glcd_clear(0);
    chart.setOptions(GlcdChart::SHOW_MAX | GlcdChart::SHOW_MIN | GlcdChart::SHOW_AVERAGE);
    drawAll(values);
    EXPECT_EQ(snapshot(), expected);
    glcdpicture::savePng("glcd_chart_labels");
}

TEST_F(GlcdChartTest, DecibelAndLogarithmicAxes) {
    chart.setYLimits(-100.0f, 0.0f, false, false);
    chart.setYRange(0.0f, 0.0f, false, false);
    chart.setOptions(GlcdChart::DECIBELS);
    std::vector<float> values{1, 10, 100};
    drawAll(values);
    EXPECT_FLOAT_EQ(chart.getMin(), 0.0f);
    EXPECT_FLOAT_EQ(chart.getMax(), 40.0f);
    EXPECT_TRUE(pixel(columnOf(1, 3), rowOf(20, 0, 40)));

    glcd_clear(0);
    chart.setOptions(GlcdChart::LOG_X);
    std::vector<float> ramp{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    chart.setData(ramp.data(), static_cast<int>(ramp.size()));
    chart.draw(1, 10);
    int column = X + static_cast<int>(std::trunc(std::log10(3.0) * W));
    EXPECT_TRUE(pixel(column, rowOf(3, 1, 10)));
}

}
