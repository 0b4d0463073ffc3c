#include "core/NodeFloat.h"

#include <cmath>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "core/JsonText.h"

namespace {
constexpr int sliderSteps = 50;

float shapeExponent(float shape) {
    if (!(shape > 0.0f && shape < 1.0f)) return 1.0f;
    return std::log(shape) / std::log(0.5f);
}

int validDecimals(int decimals) { return decimals >= 0 && decimals <= 5 ? decimals : -1; }
}

NodeFloat::NodeFloat(Node* parent, const char* key, const char* displayName, float min, float max, float def,
                     const char* unit, float shape, bool inverted, int decimals)
    : Node(parent, key, displayName),
      minimum(min),
      maximum(max),
      defaultValue(def),
      unit(unit ? unit : ""),
      shape(shape),
      exponent(shapeExponent(shape)),
      inverted(inverted),
      decimals(validDecimals(decimals)),
      value(def) {}

float NodeFloat::clamp(float v) const {
    if (v < minimum) return minimum;
    if (v > maximum) return maximum;
    return v;
}

bool NodeFloat::setValue(float v) {
    if (!std::isfinite(v)) return false;
    v = clamp(v);
    if (value.exchange(v, std::memory_order_relaxed) != v) notifyChange();
    return true;
}

float NodeFloat::toSlider() const {
    if (!(maximum > minimum)) return 0.0f;
    float x = (getValue() - minimum) / (maximum - minimum);
    if (x <= 0.0f) return 0.0f;
    if (x >= 1.0f) return 1.0f;
    return std::pow(x, exponent);
}

float NodeFloat::fromSlider(float s) const {
    if (!(s > 0.0f)) return minimum;
    if (s >= 1.0f) return maximum;
    return clamp(minimum + (maximum - minimum) * std::pow(s, 1.0f / exponent));
}

void NodeFloat::edit(bool up) {
    float position = toSlider();
    if (inverted) position = 1.0f - position;
    // Step onto the 1/50 grid: from a grid point one step; from between points to the next one. The
    // tolerance absorbs the rounding of the curve's round trip.
    const float scaled = position * sliderSteps;
    const int direction = up ? 1 : -1;
    int grid = up ? int(std::floor(scaled + 1e-3f)) + 1 : int(std::ceil(scaled - 1e-3f)) - 1;
    const float old = getValue();
    // On a steep curve a step near the flat end can round to the same float; go on to the next grid point
    // then, or the value would stay stuck there.
    for (;; grid += direction) {
        if (grid <= 0) grid = 0;
        if (grid >= sliderSteps) grid = sliderSteps;
        const float target = float(grid) / sliderSteps;
        const float v = fromSlider(inverted ? 1.0f - target : target);
        if (v != old || grid == 0 || grid == sliderSteps) {
            setValue(v);
            return;
        }
    }
}

std::string NodeFloat::toString() const {
    int shown = decimals;
    if (shown < 0) {
        const float range = std::fabs(maximum - minimum);
        shown = range >= 100.0f ? 0 : range >= 10.0f ? 1 : 2;
    }
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", shown, double(getValue()));
    std::string out = text;
    if (!unit.empty()) out += " " + unit;
    return out;
}

void NodeFloat::valueToJSON(nlohmann::ordered_json& body, bool) const {
    body["value"] = JsonText::floatNumber(getValue());
}

void NodeFloat::membersToJSON(nlohmann::ordered_json& body) const {
    body["min"] = JsonText::floatNumber(minimum);
    body["max"] = JsonText::floatNumber(maximum);
    body["def"] = JsonText::floatNumber(defaultValue);
    body["unit"] = JsonText::toUtf8(unit);
    body["dec"] = decimals;
}

bool NodeFloat::valueFromJSON(const nlohmann::json& body) {
    float v;
    if (!JsonText::readFloat(body["value"], v)) return false;
    return setValue(v);
}
