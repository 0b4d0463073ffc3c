// The compressor's static curve against the hard-knee equation, with its makeup level.
#include <gtest/gtest.h>

#include <cmath>

#include "tests/blocks/BlockTestSupport.h"
#include "blocks/DynaComp.h"
#include "core/NodeOnOff.h"

using namespace blocktest;

namespace {

class DynaCompTest : public testing::Test {
protected:
    void SetUp() override {
        folderNode = folder(testRoot(), "comp");
        comp = new DynaComp(folderNode);
        comp->getOnOff()->setOn(true);
    }
    void TearDown() override { delete comp; }
    void set(const char* key, float value) { setValue(folderNode, key, value); }
    // Steady output level in dBFS (peak) for a 1 kHz sine at the input level.
    double outputDb(double inputDb) {
        const size_t samples = size_t(1.0 * kRate);
        Stereo signal(samples);
        signal.left = sine(samples, 1000.0, std::pow(10.0, inputDb / 20.0));
        signal.right = signal.left;
        const std::vector<float> right = signal.right;
        run(comp, signal);
        EXPECT_EQ(signal.right, right) << "channel 1 is not compressed";
        return db(peak(signal.left, samples / 2));
    }

    Node* folderNode = nullptr;
    DynaComp* comp = nullptr;
};

TEST_F(DynaCompTest, StaticCurveFollowsThresholdRatioAndMakeup) {
    struct Setting {
        float threshold, ratio, makeup;
    };
    for (const Setting s : {Setting{-20, 4, 0}, Setting{-30, 10, 6}, Setting{-10, 2, 3}, Setting{-20, 1, 0}}) {
        set("thr", s.threshold);
        set("ratio", s.ratio);
        set("level", s.makeup);
        set("att", 0.1f);
        set("rel", 50.0f);
        settle();
        for (double in : {-45.0, -35.0, -25.0, -15.0, -8.0, -3.0, 0.0}) {
            const double over = in - s.threshold;
            const double expected = (over > 0 ? s.threshold + over / s.ratio : in) + s.makeup;
            EXPECT_NEAR(outputDb(in), expected, 0.3)
                << "threshold " << s.threshold << " ratio " << s.ratio << " makeup " << s.makeup << " input " << in;
        }
    }
}

}
