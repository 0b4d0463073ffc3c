#include "tests/ui/GlcdPicture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <set>
#include <utility>

using glcdpicture::litCount;
using glcdpicture::pixel;

namespace {

class GlcdTest : public ::testing::Test {
protected:
    void SetUp() override { glcd_clear(0); }
};

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
    const Case cases[] = {
        {0, {4, 5}},
        {1, {4, 5, 6, 7}},
        {2, {4, 5}},
        {9, {4, 5, 6, 7}},
        // Mode 3 inverts the six rows of the band from row 6 that the pattern leaves clear: rows 8..13.
        {3, {4, 5, 6, 7, 8, 9, 10, 11, 12, 13}},
    };
    for (const Case& c : cases) {
        glcd_clear(0);
        for (int row = 4; row < 8; ++row) glcd_drawPixel(10, static_cast<uint8_t>(row), 1);
        glcd_writeByteBufferedAt(10, 6, 0x03, c.mode);
        std::set<int> lit;
        for (int row = 0; row < 64; ++row)
            if (pixel(10, row)) lit.insert(row);
        EXPECT_EQ(lit, c.lit) << "mode " << int(c.mode);
        EXPECT_EQ(litCount(), static_cast<int>(c.lit.size())) << "mode " << int(c.mode);
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
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 128; ++x) {
                if (!pixel(x, y) || (dx == 0 && dy == 0)) continue;
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
        int lit = litCount();
        EXPECT_GT(lit, 0);
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 128; ++x)
                if (pixel(x, y)) {
                    EXPECT_NEAR(std::hypot(x - 64, y - 32), r, 0.75) << "r " << r;
                }
        for (auto [x, y] : {std::pair{64 + r, 32}, {64 - r, 32}, {64, 32 + r}, {64, 32 - r}}) EXPECT_TRUE(pixel(x, y));

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

    auto potPicture = [](float value) {
        glcd_clear(0);
        glcd_drawPot(40, 30, 7, 1, 0.0f, 10.0f, value);
        return glcdpicture::snapshot();
    };
    auto bodyPicture = [](int step) {
        glcd_clear(0);
        glcd_drawPotBody(40, 30, 1, step);
        return glcdpicture::snapshot();
    };
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
    EXPECT_EQ(glcdpicture::snapshot(), bodyPicture(16));
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
    auto fromFull = glcdpicture::snapshot();
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 128; ++x) ASSERT_EQ(pixel(x, y), ((full[(y / 8) * 128 + x] >> (y % 8)) & 1) != 0);

    glcd_clear(0);
    glcd_drawImage(full, 0, 0, 64, 128, 1);
    EXPECT_EQ(glcdpicture::snapshot(), fromFull);

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

}
