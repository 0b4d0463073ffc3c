#include "nolt/driver/Light.h"

#include "nolt/driver/IOArray.h"
#include "core/NodeColor.h"
#include "core/NodeEnum.h"
#include "core/NodeOnOff.h"
#include "porting/Shims.h"
#include "core/Storage.h"

#include <atomic>
#include <cstdint>
#include <mutex>

namespace {
constexpr int64_t kBlinkMicros = 200000;
constexpr int kWarningColor = 0xFF0000;

std::atomic<bool> initialized{false};
std::atomic<bool> enabled{true};
std::atomic<NodeColor*> color{nullptr};
std::atomic<NodeEnum*> status{nullptr};
std::atomic<Light::ClipProbe> clipProbe{nullptr};
int rgb = 0;

// The texts may be set from any thread while tasks reads them.
std::mutex textMutex;
constexpr const char* kDefaultColor = "FF8A00";
std::string defaultColor = kDefaultColor;
std::string tempColor;

// 0xRRGGBB for exactly six hexadecimal digits, else -1.
int parseColor(const std::string& text) {
    if (text.size() != 6) return -1;
    int value = 0;
    for (char digit : text) {
        int nibble;
        if (digit >= '0' && digit <= '9') {
            nibble = digit - '0';
        } else if (digit >= 'a' && digit <= 'f') {
            nibble = digit - 'a' + 10;
        } else if (digit >= 'A' && digit <= 'F') {
            nibble = digit - 'A' + 10;
        } else {
            return -1;
        }
        value = value * 16 + nibble;
    }
    return value;
}

// The blink flag toggles every 200 ms of the clock, counted from the first call.
struct Blink {
    bool started = false;
    bool lit = false;
    int64_t toggledAt = 0;
} blink;

bool blinkPhase(int64_t now) {
    auto& [started, lit, toggledAt] = blink;
    if (!started) {
        started = true;
        toggledAt = now;
    }
    if (now - toggledAt > kBlinkMicros) {
        toggledAt = now;
        lit = !lit;
    }
    return lit;
}
}

void Light::initialize(Node* parent) {
    if (initialized.load()) return;
    std::string initial;
    {
        std::lock_guard<std::mutex> lock(textMutex);
        initial = defaultColor;
    }
    auto* item = new NodeColor(parent, "color", "Color", initial);
    Storage::addItem(item);
    color.store(item);
    initialized.store(true);
}

void Light::deinitialize() {
    initialized.store(false);
    enabled.store(true);
    color.store(nullptr);
    status.store(nullptr);
    clipProbe.store(nullptr);
    rgb = 0;
    blink = {};
    std::lock_guard<std::mutex> lock(textMutex);
    defaultColor = kDefaultColor;
    tempColor.clear();
}

void Light::setStatus(NodeEnum* s) { status.store(s); }

void Light::setClipProbe(ClipProbe probe) { clipProbe.store(probe); }

void Light::enable() { enabled.store(true); }

void Light::disable() { enabled.store(false); }

void Light::setDefaultColor(std::string c) {
    std::lock_guard<std::mutex> lock(textMutex);
    defaultColor = std::move(c);
}

void Light::forceColor(std::string c) {
    if (!initialized.load()) return;
    color.load()->setValue(std::move(c));
    std::lock_guard<std::mutex> lock(textMutex);
    tempColor.clear();
}

void Light::setTempColor(std::string c) {
    std::lock_guard<std::mutex> lock(textMutex);
    tempColor = parseColor(c) >= 0 ? std::move(c) : std::string();
}

NodeColor* Light::colorNode() { return color.load(); }

void Light::tasks() {
    if (!initialized.load() || !enabled.load()) return;
    const int stored = color.load()->getRGB();
    rgb = stored < 0 ? 0 : stored;
    int shown = rgb;
    NodeEnum* onOff = status.load();
    if (onOff && onOff->isValue(NodeOnOff::OFF)) shown = 0;
    {
        std::lock_guard<std::mutex> lock(textMutex);
        const int temporary = parseColor(tempColor);
        if (temporary >= 0) shown = temporary;
    }
    const bool lit = blinkPhase(esp_timer_get_time());
    const ClipProbe clipping = clipProbe.load();
    if (clipping && clipping()) shown = lit ? kWarningColor : 0;

    IOArray::set_bit(kRedLine, 1);
    IOArray::set_bit(kGreenLine, 1);
    IOArray::set_bit(kBlueLine, 1);
    const int depth = IOArray::get_max_pwm();
    IOArray::set_pwm(kRedLine, depth * ((shown >> 16) & 0xFF) / 512);
    IOArray::set_pwm(kGreenLine, depth * ((shown >> 8) & 0xFF) / 1024);
    IOArray::set_pwm(kBlueLine, depth * (shown & 0xFF) / 1024);
}
