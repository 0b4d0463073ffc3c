#include "audio/dsp/Lfo.h"

#include <cmath>

#include "audio/dsp/FastMath.h"

void Lfo::setRate(float sampleRate, float hertz) {
    const double increment = (sampleRate > 0.0f && hertz > 0.0f) ? static_cast<double>(hertz) / sampleRate : 0.0;
    // Above half a cycle per sample the waveform no longer means anything.
    increment_.store(increment < 0.5 ? increment : 0.5, std::memory_order_relaxed);
}

void Lfo::setPhase(double cycles) {
    if (!std::isfinite(cycles)) cycles = 0.0;
    phase_ = cycles - std::floor(cycles);
}

float Lfo::shapeAt(Shape shape, double phase) {
    if (shape == Shape::Sine) return FastMath::sinCycles(static_cast<float>(phase));
    if (phase < 0.25) return static_cast<float>(4.0 * phase);
    if (phase < 0.75) return static_cast<float>(2.0 - 4.0 * phase);
    return static_cast<float>(4.0 * phase - 4.0);
}

float Lfo::next() {
    const float value = shapeAt(shape_.load(std::memory_order_relaxed), phase_);
    phase_ += increment_.load(std::memory_order_relaxed);
    if (phase_ >= 1.0) phase_ -= 1.0;
    return value;
}

void Lfo::process(float* output, int count) {
    const Shape shape = shape_.load(std::memory_order_relaxed);
    const double increment = increment_.load(std::memory_order_relaxed);
    double phase = phase_;
    for (int i = 0; i < count; ++i) {
        output[i] = shapeAt(shape, phase);
        phase += increment;
        if (phase >= 1.0) phase -= 1.0;
    }
    phase_ = phase;
}
