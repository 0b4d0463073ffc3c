#include "blocks/Tuner.h"

#include <cmath>

#include "audio/dsp/BiquadCoefficients.h"
#include "blocks/BlockNodes.h"
#include "audio/dsp/Frame.h"
#include "core/NodeFloat.h"
#include "core/NodeOnOff.h"

namespace {

// Lowest and highest pitch looked for: below a 5-string bass's low B, above a guitar's 24th fret.
const float kLowestHz = 28.0f;
const float kHighestHz = 1400.0f;
// Periods searched reach this factor (half a semitone) beyond the range, so its ends read within a cent.
const float kRangeMargin = 1.03f;
// Below this RMS level (-70 dBFS) there is nothing to tune.
const float kSilence = 3.2e-4f;
const float kPeakThreshold = 0.93f;
const float kClarity = 0.6f;

// The vertex of the parabola through (-1, left), (0, centre), (1, right).
float vertexOffset(float left, float centre, float right) {
    const float curvature = left - 2.0f * centre + right;
    if (curvature >= 0.0f) return 0.0f;
    const float offset = 0.5f * (left - right) / curvature;
    return offset > 0.5f ? 0.5f : (offset < -0.5f ? -0.5f : offset);
}

}

Tuner::Tuner(Node* folder, bool persist) : AudioBlock("Tuner", folder, exec, kFront) {
    onOff = BlockNodes::onOff(folder);
    reference = BlockNodes::parameter(folder, "ref", "Reference A4", 430.0f, 450.0f, 440.0f, "Hz", 1);
    if (persist) BlockNodes::store(folder);
    for (auto& sample : ring) sample.store(0.0f, std::memory_order_relaxed);
    window.resize(2 * kWindow);
    correlation.resize(2 * kWindow);
    nsdf.resize(kWindow / 2 + 2);
    // Fourth-order Butterworth low pass well below the decimated Nyquist frequency (6 kHz).
    const BiquadCoefficients sections[2] = {
        BiquadCoefficients::lowPass(Frame::kSampleRate, 2500.0f, 0.5412f),
        BiquadCoefficients::lowPass(Frame::kSampleRate, 2500.0f, 1.3066f),
    };
    antiAlias.setSections(sections, 2);
}

Tuner::Reading Tuner::getReading() const {
    std::lock_guard<std::mutex> guard(readingLock);
    return reading;
}

const char* Tuner::noteName(int note) {
    static const char* const names[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    return names[((note % 12) + 12) % 12];
}

bool Tuner::exec(void* block, float (*frame)[Frame::kSamples]) {
    Tuner* tuner = self<Tuner>(block);
    if (!tuner->enabled.get()) {
        tuner->running = false;
        return false;
    }
    uint32_t position = tuner->written.load(std::memory_order_relaxed);
    if (!tuner->running) {
        // Nothing from an earlier session may be measured.
        tuner->running = true;
        tuner->antiAlias.reset();
        tuner->decimationPhase = 0;
        position = 0;
    }
    float guitar[Frame::kSamples];
    Frame::copy(guitar, frame[0]);
    tuner->antiAlias.processCascade(guitar, Frame::kSamples);
    int phase = tuner->decimationPhase;
    for (int i = 0; i < Frame::kSamples; ++i) {
        if (++phase < kDecimation) continue;
        phase = 0;
        tuner->ring[position % kRingSize].store(guitar[i], std::memory_order_relaxed);
        ++position;
    }
    tuner->decimationPhase = phase;
    tuner->written.store(position, std::memory_order_release);
    Frame::clear(frame[0]);
    Frame::clear(frame[1]);
    return true;
}

bool Tuner::compile() {
    enabled.latch(onOff->isOn() ? 1 : 0);
    Reading next;
    const uint32_t position = written.load(std::memory_order_acquire);
    if (enabled.get() && position >= uint32_t(kWindow)) {
        for (int i = 0; i < kWindow; ++i) {
            window[size_t(i)] = ring[(position - kWindow + uint32_t(i)) % kRingSize].load(std::memory_order_relaxed);
        }
        next = detect(reference->getValue());
    }
    std::lock_guard<std::mutex> guard(readingLock);
    reading = next;
    return false;
}

Tuner::Reading Tuner::detect(float referenceHz) {
    double mean = 0.0;
    for (int i = 0; i < kWindow; ++i) mean += window[size_t(i)];
    mean /= kWindow;
    double energy = 0.0;
    for (int i = 0; i < 2 * kWindow; ++i) {
        const float value = i < kWindow ? float(window[size_t(i)] - mean) : 0.0f;
        window[size_t(i)] = value;
        energy += double(value) * value;
    }
    if (energy < double(kSilence) * kSilence * kWindow) return {};

    // Autocorrelation r(t) = sum x[j] x[j + t] as the inverse transform of the power spectrum (the zero
    // padding keeps it linear, not circular).
    std::vector<float>& spectrum = correlation;
    spectrum = window;
    fft.forward(spectrum.data());
    spectrum[0] *= spectrum[0];
    spectrum[1] *= spectrum[1];
    for (int k = 1; k < kWindow; ++k) {
        const float re = spectrum[size_t(2 * k)], im = spectrum[size_t(2 * k + 1)];
        spectrum[size_t(2 * k)] = re * re + im * im;
        spectrum[size_t(2 * k + 1)] = 0.0f;
    }
    fft.inverse(spectrum.data());

    // n(t) = 2 r(t) / m(t), m(t) = sum over the overlap of x[j]^2 + x[j + t]^2.
    const int longestLag = kWindow / 2;
    double squares = 2.0 * correlation[0];
    for (int lag = 0; lag <= longestLag; ++lag) {
        if (lag > 0) {
            const double leaving = window[size_t(lag - 1)], ending = window[size_t(kWindow - lag)];
            squares -= leaving * leaving + ending * ending;
        }
        nsdf[size_t(lag)] = squares > 0.0 ? float(2.0 * correlation[size_t(lag)] / squares) : 0.0f;
    }

    // Key maxima: the highest value between a rising zero crossing and the next falling one. The lobe around
    // lag 0 is left from lag 1 (a short period's first maximum lies inside the range searched), and a lobe
    // may end past the longest period as long as its maximum lies within it.
    const int shortestPeriod = int(kAnalysisRate / (kHighestHz * kRangeMargin));
    const int longestPeriod = int(kAnalysisRate * kRangeMargin / kLowestHz);
    int candidates[64];
    int candidateCount = 0;
    float highest = 0.0f;
    int lag = 1;
    while (lag < longestLag && nsdf[size_t(lag)] > 0.0f) ++lag;
    while (lag <= longestPeriod && candidateCount < 64) {
        while (lag <= longestPeriod && nsdf[size_t(lag)] <= 0.0f) ++lag;
        int best = -1;
        while (lag < longestLag && nsdf[size_t(lag)] > 0.0f) {
            if (best < 0 || nsdf[size_t(lag)] > nsdf[size_t(best)]) best = lag;
            ++lag;
        }
        if (best >= shortestPeriod && best <= longestPeriod && lag < longestLag) {
            candidates[candidateCount++] = best;
            if (nsdf[size_t(best)] > highest) highest = nsdf[size_t(best)];
        }
    }
    if (candidateCount == 0 || highest < kClarity) return {};
    int chosen = candidates[0];
    for (int i = 0; i < candidateCount; ++i) {
        if (nsdf[size_t(candidates[i])] >= kPeakThreshold * highest) {
            chosen = candidates[i];
            break;
        }
    }
    const float period = refinePeriod(
        float(chosen) + vertexOffset(nsdf[size_t(chosen - 1)], nsdf[size_t(chosen)], nsdf[size_t(chosen + 1)]));

    Reading result;
    result.valid = true;
    result.frequency = kAnalysisRate / period;
    const double semitones = 69.0 + 12.0 * std::log2(double(result.frequency) / referenceHz);
    result.note = int(std::lround(semitones));
    result.cents = float((semitones - result.note) * 100.0);
    return result;
}

// The maximum near each doubling of the period lies that many periods away, so its interpolated position
// divided by the multiple carries a fraction of the interpolation error.
float Tuner::refinePeriod(float period) const {
    const int longestLag = kWindow / 2;
    for (int multiple = 2; multiple * period + 3.0f < float(longestLag); multiple *= 2) {
        const int expected = int(std::lround(multiple * period));
        int best = expected;
        for (int lag = expected - 3; lag <= expected + 3; ++lag) {
            if (nsdf[size_t(lag)] > nsdf[size_t(best)]) best = lag;
        }
        if (best == expected - 3 || best == expected + 3) break; // not a maximum: keep what we have
        const float offset = vertexOffset(nsdf[size_t(best - 1)], nsdf[size_t(best)], nsdf[size_t(best + 1)]);
        period = (float(best) + offset) / float(multiple);
    }
    return period;
}
