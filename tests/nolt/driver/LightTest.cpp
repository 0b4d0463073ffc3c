// The status LED on the simulated chain: the duty each of its three lines carries on the wire for the
// stored colour, the switch, the temporary colour and the clip warning.
#include "audio/AudioProcessor.h"
#include "nolt/driver/IOArray.h"
#include "nolt/driver/Light.h"
#include "core/NodeColor.h"
#include "core/NodeItem.h"
#include "core/NodeOnOff.h"
#include "porting/Shims.h"
#include "tests/nolt/driver/SimulatedChain.h"
#include "core/Storage.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace {

struct Duties {
    int red, green, blue;
    bool operator==(const Duties&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Duties& d) {
    return out << "{" << d.red << ", " << d.green << ", " << d.blue << "}";
}

class LightTest : public testing::Test {
protected:
    void SetUp() override {
        porting::setClock([this] { return now; });
        chain = sim::startChain(24, 5000, 100, 32);
    }
    void TearDown() override { porting::setClock({}); }

    // The frames of one PWM period prepared after the LED's update, as the chain receives them.
    Duties dutiesOnWire() {
        sim::drain();
        chain->takeSent();
        Light::tasks();
        IOArray::tasks();
        sim::drain();
        const auto sent = chain->takeSent();
        Duties lit{0, 0, 0};
        for (size_t frame = 0; frame < 32; ++frame) {
            const uint8_t lowLines = sent[frame][2]; // lines 0 to 7 travel in the last byte
            lit.red += (lowLines >> Light::kRedLine) & 1;
            lit.green += (lowLines >> Light::kGreenLine) & 1;
            lit.blue += (lowLines >> Light::kBlueLine) & 1;
        }
        return lit;
    }

    // The tree lives for the process, as the device's does; each test stores into a folder of its own.
    Node* settingsFolder() {
        const std::string home = std::string(std::getenv("PEDAL_HOME")) + "/" +
                                 testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::remove_all(home);
        setenv("PEDAL_HOME", home.c_str(), 1);
        return new NodeItem(nullptr, "root", "Root", "", "vfolder");
    }

    int64_t now = 1000000000;
    std::shared_ptr<sim::SimulatedChain> chain;
};

TEST_F(LightTest, UnarmedLedWritesNoLine) {
    Light::setTempColor("FFFFFF");
    EXPECT_EQ(dutiesOnWire(), (Duties{0, 0, 0}));
    EXPECT_EQ(IOArray::get_output_status(2), 0);
    EXPECT_EQ(Light::colorNode(), nullptr);
}

TEST_F(LightTest, ColourSwitchAndTemporaryColour) {
    Node* root = settingsFolder();
    Light::initialize(root);
    Light::initialize(root);
    ASSERT_NE(Light::colorNode(), nullptr);
    EXPECT_EQ(root->childrenCount(), 1) << "initialize runs once";
    EXPECT_STREQ(Light::colorNode()->getName(), "color");
    EXPECT_EQ(Light::colorNode()->getValue(), "FF8A00");
    auto& status = *new NodeOnOff(root, "on", "On", NodeOnOff::ON);

    // Red is scaled by depth / 512, green and blue by depth / 1024: 255 gives 15, 7 and 7 of 32.
    struct Step {
        const char* what;
        std::function<void()> change;
        Duties expected;
    } steps[] = {
        {"default colour", [] {}, {15, 4, 0}},
        {"stored white", [] { Light::forceColor("FFFFFF"); }, {15, 7, 7}},
        {"switch followed, on", [&] { Light::setStatus(&status); }, {15, 7, 7}},
        {"switch off", [&] { status.setValue(NodeOnOff::OFF); }, {0, 0, 0}},
        {"temporary colour shows over the switch", [] { Light::setTempColor("0000ff"); }, {0, 0, 7}},
        {"five characters end the override", [] { Light::setTempColor("00FF0"); }, {0, 0, 0}},
        {"not hexadecimal ends it too",
         [] {
             Light::setTempColor("0000FF");
             Light::setTempColor("GG0000");
         },
         {0, 0, 0}},
        {"switch on again", [&] { status.setValue(NodeOnOff::ON); }, {15, 7, 7}},
        {"forced colour ends the override",
         [] {
             Light::setTempColor("00FF00");
             Light::forceColor("102030");
         },
         {1, 1, 1}},
        {"malformed stored colour refused", [] { Light::forceColor("12345"); }, {1, 1, 1}},
        {"no switch", [] { Light::setStatus(nullptr); }, {1, 1, 1}},
    };
    for (const Step& step : steps) {
        step.change();
        EXPECT_EQ(dutiesOnWire(), step.expected) << step.what;
    }

    Light::forceColor("FFFFFF");
    EXPECT_EQ(dutiesOnWire(), (Duties{15, 7, 7}));
    Light::disable();
    Light::forceColor("000000");
    EXPECT_EQ(dutiesOnWire(), (Duties{15, 7, 7})) << "disabled: the lines keep what they had";
    Light::enable();
    EXPECT_EQ(dutiesOnWire(), (Duties{0, 0, 0}));
}

TEST_F(LightTest, DefaultColourIsStored) {
    Light::setDefaultColor("00FF00");
    Light::initialize(settingsFolder());
    EXPECT_EQ(Light::colorNode()->getValue(), "00FF00");
    EXPECT_EQ(Storage::itemCount(), 1);
    EXPECT_EQ(dutiesOnWire(), (Duties{0, 7, 0}));
}

TEST_F(LightTest, ClippingBlinksRedEvery200Ms) {
    Light::initialize(settingsFolder());
    Light::forceColor("00FF00");
    Light::setTempColor("0000FF");
    Light::setClipProbe(AudioProcessor::saturation);
    EXPECT_EQ(dutiesOnWire(), (Duties{0, 0, 7}));

    alignas(64) float frame[2][16] = {};
    frame[0][3] = 1.0f;
    AudioProcessor::processFrame(frame);
    ASSERT_TRUE(AudioProcessor::saturation());
    const Duties red{15, 0, 0};
    const Duties dark{0, 0, 0};
    // The blink clock started at the first update; it toggles once more than 200 ms have passed.
    struct Step {
        int64_t advance;
        Duties expected;
    } steps[] = {{100000, dark}, {100000, dark}, {1, red}, {200000, red}, {1, dark}, {250000, red}, {250000, dark}};
    for (size_t i = 0; i < std::size(steps); ++i) {
        now += steps[i].advance;
        EXPECT_EQ(dutiesOnWire(), steps[i].expected) << "step " << i;
    }
}

}
