#pragma once
#include <cstdint>

// A line chart of float values in the monochrome picture. The chart does not own the values; it keeps the
// caller's pointer. Set both bounds (setYLimits, setYRange) before the first draw and read the scale
// (getMin, getMax) only after one.
class GlcdChart {
public:
    static constexpr int LOG_X = 1;
    static constexpr int DECIBELS = 2;
    static constexpr int SHOW_AVERAGE = 4;
    static constexpr int SHOW_MIN = 8;
    static constexpr int SHOW_MAX = 16;

    GlcdChart();
    void setData(float* data, int count);
    void setSize(int x0, int y0, int x1, int y1);
    void setYLimits(float min, float max, bool useMin, bool useMax);
    void setYRange(float min, float max, bool useMin, bool useMax);
    void setOptions(int options);
    float getMax();
    float getMin();
    void draw(int first, int last, int marker);
    void draw(int first, int last);

private:
    const float* data;
    int32_t count;
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
    uint32_t options;
    float limitMin;
    float rangeMin;
    float limitMax;
    float rangeMax;
    uint8_t useLimitMax;
    uint8_t useLimitMin;
    uint8_t useRangeMin;
    uint8_t useRangeMax;
    float scaleMax;
    float scaleMin;
};
