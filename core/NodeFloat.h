#pragma once
#include <atomic>
#include <string>

#include "core/Node.h"

// A float parameter with a range, a default, a unit and a shaping curve for its slider.
// Slider position: x = (v - min)/(max - min), toSlider() = x^k with k = ln(shape)/ln(0.5), so shape 0.5 is
// linear; a shape outside (0, 1) is taken as linear. The value is a relaxed atomic: the audio and compile
// threads read it without locks.
class NodeFloat : public Node {
public:
    // decimals 0..5; any other value means not set (getDecimals() -1).
    NodeFloat(Node* parent, const char* key, const char* displayName, float min, float max, float def, const char* unit,
              float shape, bool inverted, int decimals);

    float getValue() const { return value.load(std::memory_order_relaxed); }
    // Clamped into [min, max]; NaN and infinities are refused (false). Notifies when the value changes.
    bool setValue(float v);
    float getMin() const { return minimum; }
    float getMax() const { return maximum; }
    float getDefault() const { return defaultValue; }
    const char* getUnit() const { return unit.c_str(); }
    float getShape() const { return shape; }
    int getDecimals() const { return decimals; }
    bool isInverted() const { return inverted; }

    // The value mapped to 0..1 along the shaping curve (the inverted flag is not applied).
    float toSlider() const;
    // The value at slider position s (clamped to 0..1).
    float fromSlider(float s) const;
    // Sets the value from a slider position.
    bool setSlider(float s) { return setValue(fromSlider(s)); }

    const char* getType() const override { return "float"; }
    // The value with its decimals (automatic when not set) and the unit after a space.
    std::string toString() const override;
    // Moves the slider position (turned round when inverted) by one step of 0.02 onto the 1/50 grid, so
    // 50 steps span the range.
    void edit(bool up) override;
    void reset() override { setValue(defaultValue); }

protected:
    void valueToJSON(nlohmann::ordered_json& body, bool reveal) const override;
    void membersToJSON(nlohmann::ordered_json& body) const override;
    bool valueFromJSON(const nlohmann::json& body) override;

private:
    float clamp(float v) const;

    const float minimum, maximum, defaultValue;
    const std::string unit;
    const float shape;
    const float exponent; // k of the shaping curve
    const bool inverted;
    const int decimals;
    std::atomic<float> value;
};
