#include "audio/dsp/ImpulseResponse.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "audio/dsp/FFT.h"

namespace {

constexpr int kZeroCrossings = 32;
constexpr int kTableStepsPerCrossing = 512;
constexpr double kKaiserBeta = 8.0;
constexpr double kPassband = 0.9;
// A rate outside this range is a corrupt header, not audio; it would also ask for absurd output lengths.
constexpr double kLowestRate = 1000.0;
constexpr double kHighestRate = 1.0e6;
// Zeros of a long response lie close to the unit circle, and their cepstrum decays slowly; a transform 32
// times the response keeps the time aliasing of the folded cepstrum below 0.05 dB wherever the magnitude is
// within 50 dB of its peak. The cap bounds memory for responses that were not truncated first.
constexpr std::size_t kCepstrumOversampling = 32;
constexpr std::size_t kLargestCepstrum = std::size_t{1} << 20;

double besselI0(double x) {
    double sum = 1.0;
    double term = 1.0;
    for (int k = 1; k < 50; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
        if (term < sum * 1e-17) break;
    }
    return sum;
}

// sinc(u) times the Kaiser window, for u in zero crossings from the centre, sampled finely enough that
// linear interpolation between entries stays far below the window's stop-band level.
std::vector<double> windowedSincTable() {
    const int size = kZeroCrossings * kTableStepsPerCrossing + 2;
    std::vector<double> table(size, 0.0);
    const double normaliser = besselI0(kKaiserBeta);
    for (int j = 0; j < size; ++j) {
        const double u = static_cast<double>(j) / kTableStepsPerCrossing;
        if (u >= kZeroCrossings) break;
        const double sinc = j == 0 ? 1.0 : std::sin(std::numbers::pi * u) / (std::numbers::pi * u);
        const double x = u / kZeroCrossings;
        table[j] = sinc * besselI0(kKaiserBeta * std::sqrt(1.0 - x * x)) / normaliser;
    }
    return table;
}

double tableAt(const std::vector<double>& table, double u) {
    const double position = u * kTableStepsPerCrossing;
    const auto index = static_cast<std::size_t>(position);
    if (index + 1 >= table.size()) return 0.0;
    const double fraction = position - static_cast<double>(index);
    return table[index] + fraction * (table[index + 1] - table[index]);
}

std::size_t nextPowerOfTwo(std::size_t value) {
    std::size_t power = 1;
    while (power < value) power *= 2;
    return power;
}

std::size_t largestMagnitudeIndex(std::span<const float> samples) {
    std::size_t best = 0;
    for (std::size_t i = 1; i < samples.size(); ++i) {
        if (std::fabs(samples[i]) > std::fabs(samples[best])) best = i;
    }
    return best;
}

} // namespace

bool ImpulseResponse::normalise(std::span<float> response) {
    double energy = 0.0;
    for (float sample : response) energy += static_cast<double>(sample) * sample;
    if (!(energy > 0.0) || !std::isfinite(energy)) return false;
    // A response of a few subnormal samples has energy in double but a gain past the float range: it would
    // play as infinities and NaNs, so it counts as silent.
    const auto scale = static_cast<float>(1.0 / std::sqrt(energy));
    if (!std::isfinite(scale)) return false;
    for (float& sample : response) sample *= scale;
    return true;
}

std::vector<float> ImpulseResponse::resample(std::span<const float> response, double sourceRate, double targetRate) {
    auto plausible = [](double rate) { return rate >= kLowestRate && rate <= kHighestRate; };
    if (response.empty() || !plausible(sourceRate) || !plausible(targetRate)) return {};
    if (sourceRate == targetRate) return {response.begin(), response.end()};

    const std::vector<double> table = windowedSincTable();
    const double step = sourceRate / targetRate; // source samples per output sample
    const double bandwidth = 2.0 * 0.5 * std::min(1.0, targetRate / sourceRate) * kPassband; // cut-off x 2
    const double halfWidth = kZeroCrossings / bandwidth;                                     // source samples
    const auto lastSource = static_cast<long>(response.size()) - 1;
    const auto outputLength = static_cast<std::size_t>(std::ceil(static_cast<double>(response.size()) / step));

    std::vector<float> output(outputLength);
    for (std::size_t n = 0; n < outputLength; ++n) {
        const double centre = static_cast<double>(n) * step;
        const long first = std::max(0L, static_cast<long>(std::ceil(centre - halfWidth)));
        const long last = std::min(lastSource, static_cast<long>(std::floor(centre + halfWidth)));
        double sum = 0.0;
        for (long k = first; k <= last; ++k) {
            sum += response[static_cast<std::size_t>(k)] * tableAt(table, std::fabs(centre - k) * bandwidth);
        }
        output[n] = static_cast<float>(sum * bandwidth * step);
    }
    return output;
}

void ImpulseResponse::truncate(std::vector<float>& response, std::size_t length, std::size_t fadeLength) {
    if (response.size() <= length) return;
    response.resize(length);
    const std::size_t fade = std::min(fadeLength, length);
    for (std::size_t i = 0; i < fade; ++i) {
        const double position = static_cast<double>(i + 1) / static_cast<double>(fade + 1);
        response[length - fade + i] *= static_cast<float>(0.5 * (1.0 + std::cos(std::numbers::pi * position)));
    }
}

std::vector<float> ImpulseResponse::minimumPhase(std::span<const float> response) {
    std::vector<float> result(response.begin(), response.end());
    if (response.empty()) return result;
    const std::size_t size =
        std::clamp<std::size_t>(kCepstrumOversampling * nextPowerOfTwo(response.size()), 64, kLargestCepstrum);
    const FFT fft(static_cast<int>(size));
    const std::size_t half = size / 2;

    std::vector<float> work(size, 0.0f);
    std::copy(response.begin(), response.end(), work.begin());
    fft.forward(work.data());

    // Log magnitude as a real, even spectrum in the packed layout.
    std::vector<float> magnitude(half + 1);
    magnitude[0] = std::fabs(work[0]);
    magnitude[half] = std::fabs(work[1]);
    for (std::size_t k = 1; k < half; ++k) magnitude[k] = std::hypot(work[2 * k], work[2 * k + 1]);
    const float peak = *std::max_element(magnitude.begin(), magnitude.end());
    if (!(peak > 0.0f) || !std::isfinite(peak)) return result;
    const float floor = peak * 1e-6f;
    work[0] = std::log(std::max(magnitude[0], floor));
    work[1] = std::log(std::max(magnitude[half], floor));
    for (std::size_t k = 1; k < half; ++k) {
        work[2 * k] = std::log(std::max(magnitude[k], floor));
        work[2 * k + 1] = 0.0f;
    }
    fft.inverse(work.data()); // real cepstrum

    // Folding the anti-causal half onto the causal one turns the log magnitude into the log of a
    // minimum-phase spectrum (its imaginary part is the Hilbert transform of the log magnitude).
    for (std::size_t n = 1; n < half; ++n) work[n] *= 2.0f;
    std::fill(work.begin() + static_cast<std::ptrdiff_t>(half) + 1, work.end(), 0.0f);
    fft.forward(work.data());

    work[0] = std::exp(work[0]);
    work[1] = std::exp(work[1]);
    for (std::size_t k = 1; k < half; ++k) {
        const float amplitude = std::exp(work[2 * k]);
        const float phase = work[2 * k + 1];
        work[2 * k] = amplitude * std::cos(phase);
        work[2 * k + 1] = amplitude * std::sin(phase);
    }
    fft.inverse(work.data());
    std::copy_n(work.begin(), result.size(), result.begin());

    // The magnitude alone does not fix the sign; keep the strongest sample's polarity, so a converted
    // response does not flip against the dry signal or the other channel.
    const std::size_t originalPeak = largestMagnitudeIndex(response);
    const std::size_t resultPeak = largestMagnitudeIndex(result);
    if ((response[originalPeak] < 0.0f) != (result[resultPeak] < 0.0f)) {
        for (float& sample : result) sample = -sample;
    }
    return result;
}
