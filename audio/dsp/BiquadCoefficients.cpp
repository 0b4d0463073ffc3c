#include "audio/dsp/BiquadCoefficients.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

struct Angle {
    double cosine;
    double alpha; // sin(w0) / (2 q)
};

Angle angleOf(float sampleRate, float frequency, float q) {
    const double rate = sampleRate > 0.0f && std::isfinite(sampleRate) ? sampleRate : 48000.0;
    const double clampedFrequency =
        std::isnan(frequency) ? 1000.0 : std::clamp(static_cast<double>(frequency), 1.0, 0.49 * rate);
    const double clampedQ = std::isnan(q) ? 0.7071 : std::max(static_cast<double>(q), 0.01);
    const double w0 = 2.0 * std::numbers::pi * clampedFrequency / rate;
    return {std::cos(w0), std::sin(w0) / (2.0 * clampedQ)};
}

BiquadCoefficients normalised(double b0, double b1, double b2, double a0, double a1, double a2) {
    BiquadCoefficients c;
    c.b0 = static_cast<float>(b0 / a0);
    c.b1 = static_cast<float>(b1 / a0);
    c.b2 = static_cast<float>(b2 / a0);
    c.a1 = static_cast<float>(a1 / a0);
    c.a2 = static_cast<float>(a2 / a0);
    return c;
}

// Amplitude ratio whose square is the linear gain: the cookbook's A for peaking and shelving sections.
double shelfAmplitude(float gainDb) {
    return std::isfinite(gainDb) ? std::pow(10.0, static_cast<double>(gainDb) / 40.0) : 1.0;
}

} // namespace

BiquadCoefficients BiquadCoefficients::lowPass(float sampleRate, float frequency, float q) {
    const Angle w = angleOf(sampleRate, frequency, q);
    const double b = 1.0 - w.cosine;
    return normalised(b / 2.0, b, b / 2.0, 1.0 + w.alpha, -2.0 * w.cosine, 1.0 - w.alpha);
}

BiquadCoefficients BiquadCoefficients::highPass(float sampleRate, float frequency, float q) {
    const Angle w = angleOf(sampleRate, frequency, q);
    const double b = 1.0 + w.cosine;
    return normalised(b / 2.0, -b, b / 2.0, 1.0 + w.alpha, -2.0 * w.cosine, 1.0 - w.alpha);
}

BiquadCoefficients BiquadCoefficients::bandPass(float sampleRate, float frequency, float q) {
    const Angle w = angleOf(sampleRate, frequency, q);
    return normalised(w.alpha, 0.0, -w.alpha, 1.0 + w.alpha, -2.0 * w.cosine, 1.0 - w.alpha);
}

BiquadCoefficients BiquadCoefficients::allPass(float sampleRate, float frequency, float q) {
    const Angle w = angleOf(sampleRate, frequency, q);
    return normalised(1.0 - w.alpha, -2.0 * w.cosine, 1.0 + w.alpha, 1.0 + w.alpha, -2.0 * w.cosine, 1.0 - w.alpha);
}

BiquadCoefficients BiquadCoefficients::peaking(float sampleRate, float frequency, float q, float gainDb) {
    const Angle w = angleOf(sampleRate, frequency, q);
    const double a = shelfAmplitude(gainDb);
    return normalised(1.0 + w.alpha * a, -2.0 * w.cosine, 1.0 - w.alpha * a, 1.0 + w.alpha / a, -2.0 * w.cosine,
                      1.0 - w.alpha / a);
}

BiquadCoefficients BiquadCoefficients::lowShelf(float sampleRate, float frequency, float q, float gainDb) {
    const Angle w = angleOf(sampleRate, frequency, q);
    const double a = shelfAmplitude(gainDb);
    const double slope = 2.0 * std::sqrt(a) * w.alpha;
    return normalised(a * ((a + 1.0) - (a - 1.0) * w.cosine + slope), 2.0 * a * ((a - 1.0) - (a + 1.0) * w.cosine),
                      a * ((a + 1.0) - (a - 1.0) * w.cosine - slope), (a + 1.0) + (a - 1.0) * w.cosine + slope,
                      -2.0 * ((a - 1.0) + (a + 1.0) * w.cosine), (a + 1.0) + (a - 1.0) * w.cosine - slope);
}

BiquadCoefficients BiquadCoefficients::highShelf(float sampleRate, float frequency, float q, float gainDb) {
    const Angle w = angleOf(sampleRate, frequency, q);
    const double a = shelfAmplitude(gainDb);
    const double slope = 2.0 * std::sqrt(a) * w.alpha;
    return normalised(a * ((a + 1.0) + (a - 1.0) * w.cosine + slope), -2.0 * a * ((a - 1.0) + (a + 1.0) * w.cosine),
                      a * ((a + 1.0) + (a - 1.0) * w.cosine - slope), (a + 1.0) - (a - 1.0) * w.cosine + slope,
                      2.0 * ((a - 1.0) - (a + 1.0) * w.cosine), (a + 1.0) - (a - 1.0) * w.cosine - slope);
}
