// The pickup simulator: each response of its table tilts the spectrum the way its name says, the level
// shifts it, and the input-1 gain applies whether the simulator is on or off.
#include <gtest/gtest.h>

#include "tests/blocks/BlockTestSupport.h"
#include "core/NodeEnum.h"
#include "core/NodeFloat.h"
#include "core/NodeOnOff.h"
#include "blocks/Pickup.h"

using namespace blocktest;

namespace {

class PickupTest : public testing::Test {
protected:
    void SetUp() override {
        folderNode = folder(testRoot(), "pickup");
        pickup = new Pickup(folderNode, false);
    }
    void TearDown() override { delete pickup; }

    // Steady-state gain in dB of channel 0 at a frequency; channel 1 must pass untouched.
    double gainAt(double hertz) {
        const size_t samples = size_t(0.25 * kRate);
        Stereo signal(samples);
        signal.left = sine(samples, hertz, 0.1);
        signal.right = signal.left;
        run(pickup, signal);
        EXPECT_EQ(signal.right, sine(samples, hertz, 0.1));
        return db(rms(signal.left, samples / 2) / rms(sine(samples, hertz, 0.1), samples / 2));
    }
    NodeEnum* type() { return static_cast<NodeEnum*>(folderNode->childrenAt(1)); }

    Node* folderNode = nullptr;
    Pickup* pickup = nullptr;
};

TEST_F(PickupTest, ResponsesTiltTheSpectrumTheirWay) {
    pickup->getOnOff()->setOn(true);
    struct Case {
        const char* type;
        double hertz;
        double minimumDbOverOneKilohertz; // gain at hertz minus gain at 1 kHz, at least (negative: at most)
    };
    const Case cases[] = {
        {"SC to HB", 6000.0, -4.0}, // darker
        {"SC to HB", 150.0, 1.5},   // fuller
        {"HB to SC", 4500.0, 3.0},  // brighter
        {"HB to SC", 150.0, -1.0},  // leaner
        {"Acoustic", 40.0, -5.0},   // no boom
        {"Acoustic", 8000.0, 5.0},  // airy
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(type()->setValue(c.type));
        settle();
        const double relative = gainAt(c.hertz) - gainAt(1000.0);
        const bool above = c.minimumDbOverOneKilohertz > 0;
        EXPECT_GT(above ? relative : -relative, std::fabs(c.minimumDbOverOneKilohertz)) << c.type << " at " << c.hertz;
    }
    const double before = gainAt(1000.0);
    static_cast<NodeFloat*>(folderNode->childrenAt(2))->setValue(6.0f);
    settle();
    EXPECT_NEAR(gainAt(1000.0) - before, 6.0, 0.05);
}

TEST_F(PickupTest, InputGainAppliesAlsoWhileOff) {
    pickup->setExtGain(2.0f);
    EXPECT_NEAR(gainAt(1000.0), db(2.0), 0.01);
    pickup->setExtGain(1.0f);
    gainAt(1000.0);
    EXPECT_NEAR(gainAt(1000.0), 0.0, 1e-6) << "back to an exact pass";
    pickup->setExtGain(-1.0f); // refused
    EXPECT_NEAR(gainAt(1000.0), 0.0, 1e-6);
}

}
