#include "audio/dsp/SmoothedValue.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

// A jump of the target: the frame ends follow 1 - exp(-t / tau) of a one-pole approach, each frame's ramp
// starts where the last one ended, and the value lands exactly on the target and stays.
TEST(SmoothedValue, GlidesAlongItsTimeConstantWithoutStepsAndLandsExactly) {
    for (float seconds : {0.005f, 0.01f, 0.02f}) {
        SmoothedValue value(0.0f, seconds);
        value.setTarget(1.0f);
        float last = 0.0f;
        int frames = 0;
        for (; frames < 2000 && value.value() != 1.0f; ++frames) {
            const SmoothedValue::Ramp ramp = value.nextFrame();
            ASSERT_EQ(ramp.from, last) << frames;
            ASSERT_NEAR(ramp.at(15), ramp.to, 1e-6f);
            const double t = (frames + 1) * 16.0 / 48000.0;
            ASSERT_NEAR(ramp.to, 1.0 - std::exp(-t / seconds), 1e-5) << seconds << " s, frame " << frames;
            last = ramp.to;
        }
        EXPECT_EQ(value.value(), 1.0f) << seconds;
        EXPECT_LT(frames * 16.0 / 48000.0, 15.0 * seconds) << seconds;
        const SmoothedValue::Ramp settled = value.nextFrame();
        EXPECT_TRUE(settled.isConstant());
        EXPECT_EQ(settled.at(7), 1.0f);
    }
    // Non-finite targets are ignored; a jump lands at once.
    SmoothedValue value(0.5f);
    value.setTarget(std::numeric_limits<float>::quiet_NaN());
    value.setTarget(std::numeric_limits<float>::infinity());
    EXPECT_EQ(value.target(), 0.5f);
    value.setTarget(-2.0f);
    value.jumpToTarget();
    EXPECT_EQ(value.value(), -2.0f);
    EXPECT_TRUE(value.nextFrame().isConstant());
}
