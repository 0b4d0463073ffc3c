#pragma once
#include <atomic>
#include <memory>
#include <string>

#include "core/Node.h"

// A list of up to maxLength float values over an x axis (xStart + i * xStep, in xUnit; "s" means seconds).
// Values are stored unclamped and read clamped into [min, max]. The default is the empty array.
class NodeArray : public Node {
public:
    // decimals 0..5; any other value means the default (getDecimals() -1, steps of 0.01).
    NodeArray(Node* parent, const char* key, const char* displayName, int maxLength, float min, float max, int decimals,
              const char* unit, float xStart, float xStep, const char* xUnit);

    int getLength() const { return length.load(std::memory_order_acquire); }
    int getMaxLength() const { return maxLength; }
    // Accepted for 0 <= n <= maxLength; values added by growing start at 0. Notifies when it changes.
    bool setLength(int n);
    // Value i clamped into [min, max]; 0 when i is not below the length.
    float getValueAt(int i) const;
    // Accepted for 0 <= i < maxLength (NaN refused): an index at or beyond the length grows the array to
    // i + 1; the value is stored unclamped. Notifies once when anything changed.
    bool setValueAt(float value, int i);
    // Steps value i by 10^-decimals from its clamped current value (growing the array, from 0, for an index
    // beyond the length); the result is clamped. Notifies on change.
    void editAt(int i, bool up);
    float getMin() const { return minimum; }
    float getMax() const { return maximum; }
    int getDecimals() const { return decimals; }
    const char* getUnit() const { return unit.c_str(); }
    const char* getXUnit() const { return xUnit.c_str(); }
    float getXStart() const { return xStart; }
    float getXStep() const { return xStep; }

    const char* getType() const override { return "array"; }
    // The clamped values, space-separated, with the decimals.
    std::string toString() const override;
    void reset() override { setLength(0); }

protected:
    void valueToJSON(nlohmann::ordered_json& body, bool reveal) const override;
    void membersToJSON(nlohmann::ordered_json& body) const override;
    // {"value":[numbers]}: the whole array, at most maxLength numbers; anything else is refused whole.
    bool valueFromJSON(const nlohmann::json& body) override;

private:
    float clamp(float v) const;
    // Grows to n, zeroing the new values; true when the length changed. Caller holds valueLock.
    bool growLocked(int n);

    const int maxLength;
    const float minimum, maximum;
    const int decimals;
    const std::string unit;
    const float xStart, xStep;
    const std::string xUnit;
    std::unique_ptr<std::atomic<float>[]> values;
    std::atomic<int> length{0};
};
