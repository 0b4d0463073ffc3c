// Editing: float steps along the shaping curve, enum ends, array rules, colours and actions.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

#include "core/NodeAction.h"
#include "core/NodeArray.h"
#include "core/NodeColor.h"
#include "core/NodeEnum.h"
#include "core/NodeFloat.h"
#include "core/NodeItem.h"
#include "core/NodeOnOff.h"

TEST(NodeEdit, SliderFollowsTheShapingCurveAndSetValueClampsAndRefusesNaN) {
    NodeItem root(nullptr, "root", "Root", "", "vfolder");
    struct Case {
        float shape, min, max, value;
    };
    const std::vector<Case> cases = {
        {0.5f, 0, 10, 5}, {0.25f, 0, 10, 5},  {0.8f, -60, 0, -12}, {0.1f, 20, 20000, 1000},
        {0.5f, 0, 10, 0}, {0.25f, 0, 10, 10}, {1.5f, 0, 10, 3},    {0.0f, 0, 10, 3},
    };
    for (const Case& c : cases) {
        NodeFloat node(nullptr, "f", "F", c.min, c.max, c.value, "", c.shape, false, 2);
        // Reference from the definition, in double precision; shapes outside (0, 1) are linear.
        const double x = (double(c.value) - c.min) / (double(c.max) - c.min);
        const double k = c.shape > 0 && c.shape < 1 ? std::log(double(c.shape)) / std::log(0.5) : 1.0;
        const double expected = std::pow(x, k);
        EXPECT_NEAR(node.toSlider(), expected, 1e-5) << "shape " << c.shape << " value " << c.value;
        EXPECT_NEAR(node.fromSlider(float(expected)), c.value, 1e-3 * (c.max - c.min));
    }

    // setValue clamps and refuses NaN.
    NodeFloat percent(nullptr, "f", "F", 0, 1, 0.5f, "%", 0.5f, false, 9);
    EXPECT_EQ(percent.getDecimals(), -1);
    EXPECT_TRUE(percent.setValue(2));
    EXPECT_EQ(percent.getValue(), 1.0f);
    EXPECT_FALSE(percent.setValue(NAN));
    EXPECT_FALSE(percent.setValue(INFINITY));
    EXPECT_EQ(percent.getValue(), 1.0f);
    EXPECT_EQ(percent.toString(), "1.00 %");
    percent.reset();
    EXPECT_EQ(percent.getValue(), 0.5f);
}

TEST(NodeEdit, FiftyFloatStepsSpanTheRangeInBothDirectionsAndNeverStickOnASteepCurve) {
    for (float shape : {0.5f, 0.2f, 0.8f}) {
        for (bool inverted : {false, true}) {
            NodeFloat node(nullptr, "f", "F", -20, 30, 0, "", shape, inverted, 2);
            // Up moves toward max unless inverted, where it moves toward min.
            const float start = inverted ? 30.0f : -20.0f;
            const float end = inverted ? -20.0f : 30.0f;
            node.setValue(start);
            float previous = start;
            for (int i = 0; i < 50; ++i) {
                node.edit(true);
                const float now = node.getValue();
                EXPECT_TRUE(inverted ? now < previous : now > previous)
                    << "shape " << shape << " inverted " << inverted << " step " << i;
                previous = now;
                if (i == 48) {
                    EXPECT_NE(now, end);
                }
            }
            EXPECT_EQ(node.getValue(), end) << "shape " << shape << " inverted " << inverted;
            node.edit(true);
            EXPECT_EQ(node.getValue(), end) << "clamped at the end";
            for (int i = 0; i < 50; ++i) node.edit(false);
            EXPECT_EQ(node.getValue(), start) << "shape " << shape << " inverted " << inverted;
        }
    }

    // With shape 0.95 the first slider steps above min round to min itself in float precision.
    NodeFloat steep(nullptr, "f", "F", -20, 30, -20, "", 0.95f, false, 2);
    int steps = 0;
    float previous = steep.getValue();
    while (steep.getValue() < 30.0f && steps < 60) {
        steep.edit(true);
        ++steps;
        EXPECT_GT(steep.getValue(), previous) << "step " << steps;
        previous = steep.getValue();
    }
    EXPECT_LE(steps, 50);
    for (int i = 0; i < 50; ++i) steep.edit(false);
    EXPECT_EQ(steep.getValue(), -20.0f);
}

TEST(NodeEdit, EnumStopsAtItsEndsAndToggleWraps) {
    static int notifications;
    notifications = 0;
    NodeEnum node(nullptr, "e", "E", {"A", "B", "C"}, "A");
    node.setOnChange([](Node*) { ++notifications; });

    node.edit(false);
    EXPECT_EQ(node.getValue(), "A");
    EXPECT_EQ(notifications, 0);
    node.edit(true);
    node.edit(true);
    node.edit(true);
    EXPECT_EQ(node.getValue(), "C");
    EXPECT_EQ(notifications, 2);
    node.toggle();
    EXPECT_EQ(node.getValue(), "A");
    EXPECT_TRUE(node.isValue("A"));

    testing::internal::CaptureStdout();
    EXPECT_FALSE(node.setValue("D"));
    EXPECT_NE(testing::internal::GetCapturedStdout().find("W (NodeEnum)"), std::string::npos);
    EXPECT_EQ(node.getValue(), "A");
    node.setValue("B");
    node.reset();
    EXPECT_EQ(node.getValue(), "A");

    NodeEnum noDefault(nullptr, "e", "E", {"A", "B"}, "Z");
    EXPECT_EQ(noDefault.getValue(), "");
    EXPECT_EQ(noDefault.getIndex(), -1);
    noDefault.edit(true);
    EXPECT_EQ(noDefault.getValue(), "A");

    NodeOnOff onOff(nullptr, "on_off", "Enable", NodeOnOff::ON);
    EXPECT_TRUE(onOff.isOn());
    onOff.toggle();
    EXPECT_EQ(onOff.getValue(), "OFF");
}

TEST(NodeEdit, ArrayRules) {
    static int notifications;
    notifications = 0;
    NodeArray array(nullptr, "a", "A", 4, -10, 10, 1, "dB", 0, 1, "s");
    array.setOnChange([](Node*) { ++notifications; });

    struct Step {
        const char* what;
        bool (*apply)(NodeArray&);
        bool result;
        int length;
        std::vector<float> values; // clamped reads 0..3
        int notifications;
    };
    const std::vector<Step> steps = {
        {"set beyond the maximum", [](NodeArray& a) { return a.setValueAt(1, 4); }, false, 0, {0, 0, 0, 0}, 0},
        {"set negative index", [](NodeArray& a) { return a.setValueAt(1, -1); }, false, 0, {0, 0, 0, 0}, 0},
        {"set NaN", [](NodeArray& a) { return a.setValueAt(NAN, 0); }, false, 0, {0, 0, 0, 0}, 0},
        {"set beyond the length grows", [](NodeArray& a) { return a.setValueAt(25, 2); }, true, 3, {0, 0, 10, 0}, 1},
        {"same value again", [](NodeArray& a) { return a.setValueAt(25, 2); }, true, 3, {0, 0, 10, 0}, 1},
        {"set within", [](NodeArray& a) { return a.setValueAt(-3, 0); }, true, 3, {-3, 0, 10, 0}, 2},
        {"length too long", [](NodeArray& a) { return a.setLength(5); }, false, 3, {-3, 0, 10, 0}, 2},
        {"length negative", [](NodeArray& a) { return a.setLength(-1); }, false, 3, {-3, 0, 10, 0}, 2},
        {"same length", [](NodeArray& a) { return a.setLength(3); }, true, 3, {-3, 0, 10, 0}, 2},
        {"shrink", [](NodeArray& a) { return a.setLength(1); }, true, 1, {-3, 0, 0, 0}, 3},
        {"grow starts at 0", [](NodeArray& a) { return a.setLength(3); }, true, 3, {-3, 0, 0, 0}, 4},
    };
    for (const Step& step : steps) {
        EXPECT_EQ(step.apply(array), step.result) << step.what;
        EXPECT_EQ(array.getLength(), step.length) << step.what;
        for (int i = 0; i < 4; ++i) EXPECT_FLOAT_EQ(array.getValueAt(i), step.values[size_t(i)]) << step.what;
        EXPECT_EQ(notifications, step.notifications) << step.what;
    }
    EXPECT_EQ(array.getValueAt(-1), 0.0f);

    // editAt steps by 10^-decimals from the clamped value and grows from 0 beyond the length.
    array.setValueAt(25, 1); // reads as 10
    array.editAt(1, false);
    EXPECT_FLOAT_EQ(array.getValueAt(1), 9.9f);
    array.editAt(3, true);
    EXPECT_EQ(array.getLength(), 4);
    EXPECT_FLOAT_EQ(array.getValueAt(3), 0.1f);
    for (int i = 0; i < 30; ++i) array.editAt(3, true);
    EXPECT_NEAR(array.getValueAt(3), 3.1f, 1e-6) << "no drift over many steps";
    const int before = notifications;
    array.editAt(4, true);
    EXPECT_EQ(notifications, before);
    array.setValueAt(10, 2);
    array.editAt(2, true);
    EXPECT_FLOAT_EQ(array.getValueAt(2), 10.0f) << "clamped at max";
    array.reset();
    EXPECT_EQ(array.getLength(), 0);
}

// The components of valid colours are the LED's and the product's panel lines' test.
TEST(NodeEdit, ColourHue) {
    const std::vector<std::pair<const char*, float>> cases = {
        {"ff0000", 0},        {"00ff00", 120}, {"0000FF", 240}, {"ff00ff", 300},
        {"ff8000", 30.1176f}, {"808080", 0},   {"zz0000", 0},   {"fff", 0},
    };
    for (const auto& [value, hue] : cases)
        EXPECT_NEAR(NodeColor(nullptr, "c", "C", value).getHue(), hue, 1e-3) << value;
    for (const char* invalid : {"zz0000", "fff", "12ab0"}) {
        const NodeColor c(nullptr, "c", "C", invalid);
        EXPECT_EQ((std::vector<int>{c.getR(), c.getG(), c.getB()}), (std::vector<int>{0, 0, 0})) << invalid;
    }
    NodeColor color(nullptr, "c", "C", "ff0000");
    EXPECT_FALSE(color.setValue("red"));
    EXPECT_EQ(color.getValue(), "ff0000");
    EXPECT_TRUE(color.setValue("00ff00"));
    EXPECT_FALSE(color.setValue("00ff00")) << "unchanged";
}

TEST(NodeEdit, ActionsRunOnTheActionTask) {
    NodeItem root(nullptr, "root", "Root", "", "vfolder");
    static std::atomic<int> runs;
    runs = 0;
    auto* action = new NodeAction(&root, "go", "Go", [](NodeAction*) { ++runs; });
    EXPECT_STREQ(action->getActionType(), "smp");

    // The real task runs a queued action within its period.
    action->edit(true);
    for (int i = 0; i < 200 && runs.load() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(runs.load(), 1) << "the action task did not run the action within 2 s";

    // Echoed or preset values ("") do not run it; any other text does.
    ASSERT_TRUE(root.parseJSON(R"(root\go:{"value":""})"));
    NodeAction::tasks();
    ASSERT_TRUE(root.parseJSON(R"(root\go:{"value":"run"})"));
    NodeAction::tasks();
    for (int i = 0; i < 200 && runs.load() < 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(runs.load(), 2);
}
