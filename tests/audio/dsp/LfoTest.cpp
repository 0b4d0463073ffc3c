#include "audio/dsp/Lfo.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

TEST(Lfo, HoldsItsRateAndShapeOverLongRunsOneValueAtATimeAsInBlocks) {
    struct Case {
        Lfo::Shape shape;
        float hertz;
        double startPhase;
    };
    // The triangle is the arcsine of the sine, scaled: 2/pi asin(sin(2 pi p)).
    auto expected = [](Lfo::Shape shape, double phase) {
        const double s = std::sin(2.0 * std::numbers::pi * phase);
        return shape == Lfo::Shape::Sine ? s : 2.0 / std::numbers::pi * std::asin(std::clamp(s, -1.0, 1.0));
    };
    for (const Case& c : {Case{Lfo::Shape::Sine, 0.1f, 0.0}, Case{Lfo::Shape::Sine, 7.3f, 0.25},
                          Case{Lfo::Shape::Triangle, 2.0f, 0.0}, Case{Lfo::Shape::Triangle, 0.37f, 0.6}}) {
        Lfo lfo;
        lfo.setRate(48000.0f, c.hertz);
        lfo.setShape(c.shape);
        lfo.setPhase(c.startPhase + 3.0); // whole cycles are dropped
        EXPECT_NEAR(lfo.phase(), c.startPhase, 1e-12);
        const int length = 48000 * 20;
        std::vector<float> values(length);
        for (int i = 0; i < length; i += 16) lfo.process(values.data() + i, 16);
        double worst = 0.0;
        for (int n = 0; n < length; n += 5) {
            worst = std::max(
                worst,
                std::fabs(values[n] - expected(c.shape, c.startPhase + c.hertz * static_cast<double>(n) / 48000.0)));
        }
        EXPECT_LT(worst, 2e-5) << c.hertz;
    }
    // One value at a time as in blocks.
    Lfo a, b;
    for (Lfo* lfo : {&a, &b}) {
        lfo->setRate(48000.0f, 1234.0f);
        lfo->setShape(Lfo::Shape::Triangle);
    }
    float block[64];
    a.process(block, 64);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(b.next(), block[i]);
    EXPECT_EQ(a.phase(), b.phase());
}
