#include "core/NodeArray.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/JsonText.h"

namespace {
int validDecimals(int decimals) { return decimals >= 0 && decimals <= 5 ? decimals : -1; }
}

NodeArray::NodeArray(Node* parent, const char* key, const char* displayName, int maxLength, float min, float max,
                     int decimals, const char* unit, float xStart, float xStep, const char* xUnit)
    : Node(parent, key, displayName),
      maxLength(maxLength > 0 ? maxLength : 0),
      minimum(min),
      maximum(max),
      decimals(validDecimals(decimals)),
      unit(unit ? unit : ""),
      xStart(xStart),
      xStep(xStep),
      xUnit(xUnit ? xUnit : ""),
      values(new std::atomic<float>[size_t(this->maxLength > 0 ? this->maxLength : 1)]) {
    for (int i = 0; i < this->maxLength; ++i) values[size_t(i)].store(0.0f, std::memory_order_relaxed);
}

float NodeArray::clamp(float v) const {
    if (v < minimum) return minimum;
    if (v > maximum) return maximum;
    return v;
}

bool NodeArray::growLocked(int n) {
    const int old = getLength();
    if (n <= old) return false;
    for (int i = old; i < n; ++i) values[size_t(i)].store(0.0f, std::memory_order_relaxed);
    length.store(n, std::memory_order_release);
    return true;
}

bool NodeArray::setLength(int n) {
    if (n < 0 || n > maxLength) return false;
    bool changed;
    {
        std::lock_guard<std::mutex> guard(valueLock);
        changed = n != getLength();
        if (!growLocked(n)) length.store(n, std::memory_order_release);
    }
    if (changed) notifyChange();
    return true;
}

float NodeArray::getValueAt(int i) const {
    if (i < 0 || i >= getLength()) return 0.0f;
    return clamp(values[size_t(i)].load(std::memory_order_relaxed));
}

bool NodeArray::setValueAt(float value, int i) {
    if (i < 0 || i >= maxLength || std::isnan(value)) return false;
    bool changed;
    {
        std::lock_guard<std::mutex> guard(valueLock);
        changed = growLocked(i + 1);
        if (values[size_t(i)].exchange(value, std::memory_order_relaxed) != value) changed = true;
    }
    if (changed) notifyChange();
    return true;
}

void NodeArray::editAt(int i, bool up) {
    if (i < 0 || i >= maxLength) return;
    const int shown = decimals < 0 ? 2 : decimals;
    const double step = std::pow(10.0, -shown);
    bool changed;
    {
        std::lock_guard<std::mutex> guard(valueLock);
        changed = growLocked(i + 1);
        const float current = clamp(values[size_t(i)].load(std::memory_order_relaxed));
        // Round onto the decimals' grid, so repeated steps never drift.
        double next = std::round((double(current) + (up ? step : -step)) / step) * step;
        const float stored = clamp(float(next));
        if (values[size_t(i)].exchange(stored, std::memory_order_relaxed) != stored) changed = true;
    }
    if (changed) notifyChange();
}

std::string NodeArray::toString() const {
    const int shown = decimals < 0 ? 2 : decimals;
    std::string out;
    const int n = getLength();
    for (int i = 0; i < n; ++i) {
        char text[48];
        std::snprintf(text, sizeof text, "%.*f", shown, double(getValueAt(i)));
        if (i > 0) out += ' ';
        out += text;
    }
    return out;
}

void NodeArray::valueToJSON(nlohmann::ordered_json& body, bool) const {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    const int n = getLength();
    for (int i = 0; i < n; ++i) list.push_back(JsonText::floatNumber(getValueAt(i)));
    body["value"] = std::move(list);
}

void NodeArray::membersToJSON(nlohmann::ordered_json& body) const {
    body["min"] = JsonText::floatNumber(minimum);
    body["max"] = JsonText::floatNumber(maximum);
    body["dec"] = decimals;
    body["unit"] = JsonText::toUtf8(unit);
    body["maxlen"] = maxLength;
    body["xstart"] = JsonText::floatNumber(xStart);
    body["xstep"] = JsonText::floatNumber(xStep);
    body["xunit"] = JsonText::toUtf8(xUnit);
}

bool NodeArray::valueFromJSON(const nlohmann::json& body) {
    const nlohmann::json& list = body["value"];
    if (!list.is_array() || list.size() > size_t(maxLength)) return false;
    std::vector<float> parsed;
    parsed.reserve(list.size());
    for (const nlohmann::json& item : list) {
        float v;
        if (!JsonText::readFloat(item, v)) return false;
        parsed.push_back(v);
    }
    bool changed;
    {
        std::lock_guard<std::mutex> guard(valueLock);
        const int n = int(parsed.size());
        changed = n != getLength();
        for (int i = 0; i < n; ++i) {
            if (values[size_t(i)].exchange(parsed[size_t(i)], std::memory_order_relaxed) != parsed[size_t(i)])
                changed = true;
        }
        length.store(n, std::memory_order_release);
    }
    if (changed) notifyChange();
    return true;
}
