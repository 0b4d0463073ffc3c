#include "ui/glcd/GlcdChart.h"

#include "ui/glcd/Glcd.h"

#include <cmath>
#include <cstdio>

namespace {

// Float to int as a C cast truncates, defined for every input (NaN gives 0, huge values saturate), so a
// degenerate scale draws at an edge instead of invoking undefined behaviour.
int truncSafe(float value) {
    if (!(value == value)) return 0;
    if (value >= 1.0e9f) return 1000000000;
    if (value <= -1.0e9f) return -1000000000;
    return static_cast<int>(value);
}

uint8_t at(int position) { return static_cast<uint8_t>(position); }

void drawDottedColumn(int column, int top, int bottom) {
    for (int row = top - 1; row <= bottom; row += 2) glcd_drawPixel(at(column), at(row), 1);
}

void drawLabel(int x, int y, float value) {
    char text[48];
    std::snprintf(text, sizeof text, "%.2f", static_cast<double>(value));
    glcd_drawString(at(x), at(y), text, 2);
}

}

// The bounds start unused and the scale at 0, so a draw before setYLimits/setYRange reads defined values.
GlcdChart::GlcdChart()
    : data(nullptr),
      count(0),
      x(0),
      y(0),
      width(0),
      height(0),
      options(0),
      limitMin(0.0f),
      rangeMin(0.0f),
      limitMax(0.0f),
      rangeMax(0.0f),
      useLimitMax(0),
      useLimitMin(0),
      useRangeMin(0),
      useRangeMax(0),
      scaleMax(0.0f),
      scaleMin(0.0f) {}

void GlcdChart::setData(float* values, int valueCount) {
    if (values == nullptr || valueCount < 1) {
        data = nullptr;
        count = 0;
        return;
    }
    data = values;
    count = valueCount;
}

void GlcdChart::setSize(int x0, int y0, int x1, int y1) {
    x = x0;
    y = y0;
    width = x1 - x0;
    height = y1 - y0;
}

void GlcdChart::setYLimits(float min, float max, bool useMin, bool useMax) {
    limitMin = min;
    limitMax = max;
    useLimitMin = useMin;
    useLimitMax = useMax;
}

void GlcdChart::setYRange(float min, float max, bool useMin, bool useMax) {
    rangeMin = min;
    rangeMax = max;
    useRangeMin = useMin;
    useRangeMax = useMax;
}

void GlcdChart::setOptions(int flags) { options = static_cast<uint32_t>(flags); }

float GlcdChart::getMax() { return scaleMax; }

float GlcdChart::getMin() { return scaleMin; }

void GlcdChart::draw(int first, int last) { draw(first, last, -1); }

void GlcdChart::draw(int first, int last, int marker) {
    if (data == nullptr || count < 1) return;
    // The series ends at the last stored value whatever the caller asks for; a range that starts outside
    // the values draws nothing.
    if (last > count - 1) last = count - 1;
    if (first < 0 || first > last) return;

    auto converted = [this](int index) {
        float value = data[index];
        return (options & DECIBELS) != 0 ? 20.0f * std::log10(value) : value;
    };
    auto clamped = [&](int index) {
        float value = converted(index);
        if (useLimitMin && value < limitMin) value = limitMin;
        if (useLimitMax && value > limitMax) value = limitMax;
        return value;
    };

    float min = converted(first);
    float max = min;
    float sum = 0.0f;
    for (int index = first; index <= last; ++index) {
        float value = converted(index);
        if (value < min) min = value;
        if (value > max) max = value;
        sum += value;
    }
    float average = sum / static_cast<float>(last - first + 1);

    if (useRangeMax && rangeMax > max) max = rangeMax;
    if (useRangeMin && rangeMin < min) min = rangeMin;
    if (useLimitMax && limitMax < max) max = limitMax;
    if (useLimitMin && limitMin > min) min = limitMin;
    scaleMax = max;
    scaleMin = min;
    float span = max - min;

    bool logX = (options & LOG_X) != 0;
    float xFirst = logX ? std::log10(static_cast<float>(first)) : static_cast<float>(first);
    float xLast = logX ? std::log10(static_cast<float>(last)) : static_cast<float>(last);
    float xScale = static_cast<float>(width) / (xLast - xFirst);
    // An empty vertical span puts every value on the bottom row.
    float yScale = span > 0.0f ? static_cast<float>(height) / span : 0.0f;

    auto column = [&](int index) {
        float position = logX ? std::log10(static_cast<float>(index)) : static_cast<float>(index);
        return truncSafe((position - xFirst) * xScale);
    };
    auto row = [&](float value) { return y + height - truncSafe((value - min) * yScale); };

    for (int index = first; index < last; ++index) {
        int columnA = x + column(index);
        int columnB = x + column(index + 1);
        glcd_drawLine(at(columnA), at(row(clamped(index))), at(columnB), at(row(clamped(index + 1))), 1);
        if (marker == index) drawDottedColumn(columnA, y, y + height);
        if (marker == index + 1) drawDottedColumn(columnB, y, y + height);
    }

    if (first == last) {
        float fraction = span > 0.0f ? (clamped(first) - min) / span : 0.0f;
        int level = y + height - truncSafe(static_cast<float>(height) * fraction);
        glcd_drawLine(at(x), at(level), at(x + width), at(level), 1);
        if (marker == first) drawDottedColumn(x, y, y + height);
    }

    for (int dot = x; dot < x + width; dot += 2) {
        glcd_drawPixel(at(dot), at(y + height), 1);
        glcd_drawPixel(at(dot), at(y), 1);
    }

    if ((options & SHOW_MAX) != 0) drawLabel(x, y - 6, scaleMax);
    if ((options & SHOW_MIN) != 0) drawLabel(x, y + height + 2, scaleMin);
    if ((options & SHOW_AVERAGE) != 0) drawLabel(x + width / 2, y + height + 2, average);
}
