#pragma once
// Double-precision references written straight from the defining equations, independent of the code under
// test.
#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <vector>

namespace reference {

using Complex = std::complex<double>;

// X(f) = sum_n x[n] exp(-2 pi i f n / rate)
template <typename Sample>
Complex dtft(const std::vector<Sample>& x, double frequency, double rate) {
    Complex sum = 0.0;
    for (std::size_t n = 0; n < x.size(); ++n) {
        sum += static_cast<double>(x[n]) * std::polar(1.0, -2.0 * std::numbers::pi * frequency * n / rate);
    }
    return sum;
}

// y[n] = sum_k h[k] x[n - k]
inline std::vector<double> convolve(const std::vector<float>& x, const std::vector<float>& h) {
    std::vector<double> y(x.size(), 0.0);
    for (std::size_t n = 0; n < x.size(); ++n) {
        for (std::size_t k = 0; k < h.size() && k <= n; ++k) y[n] += static_cast<double>(h[k]) * x[n - k];
    }
    return y;
}

// Deterministic white noise in -1..1 (a 32-bit linear congruential generator).
inline std::vector<float> noise(std::size_t length, std::uint32_t seed) {
    std::vector<float> samples(length);
    for (auto& sample : samples) {
        seed = seed * 1664525u + 1013904223u;
        sample = static_cast<float>(seed >> 8) / static_cast<float>(1u << 23) - 1.0f;
    }
    return samples;
}

inline double decibels(double magnitude) { return 20.0 * std::log10(magnitude); }

} // namespace reference
