#include "ui/glcd/GlcdChart.h"
#include "tests/ui/GlcdPicture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using glcdpicture::litCount;
using glcdpicture::pixel;
using glcdpicture::snapshot;

namespace {

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

TEST_F(GlcdChartTest, ArrayEditorCurveRendersToPng) {
    std::vector<float> values;
    for (int index = 0; index < 24; ++index) values.push_back(25.0f + 9.0f * std::sin(index * 0.4f));
    glcd_drawStringFont(1, 1, "Heater curve", glcd_font10, 1);
    glcd_drawLine(0, 12, 127, 12, 1);
    drawAll(values, 7);
    glcd_fillRect(100, 17, 124, 26, 1);
    glcd_drawStringFont(101, 18, "X1", glcd_font5x7, 0);
    glcd_drawStringFont(101, 28, "Add", glcd_font5x7, 1);
    glcd_drawStringFont(101, 38, "Del", glcd_font5x7, 1);
    glcd_drawStringFont(101, 48, "Back", glcd_font5x7, 1);
    glcd_drawStringFont(0, 57,
                        "MIN 20\xB0"
                        "C",
                        glcd_font3x6, 1);
    glcd_drawStringFontRightAligned(92, 57,
                                    "MAX 40\xB0"
                                    "C",
                                    glcd_font3x6, 1);
    EXPECT_TRUE(pixel(columnOf(7, 24), Y - 1));
    EXPECT_TRUE(glcdpicture::savePng("glcd_chart_editor"));
}

}
