#pragma once
// The single-core floating-point peak at every vector width this build can use: independent chains of fused
// multiply-adds held in registers, twice as many as two pipes of 4-cycle latency need, so each loop runs at
// the core's FMA rate for its width. Widths differ in rate (a core may issue two 256-bit FMAs a cycle but
// fewer 512-bit ones), so each kernel's share is taken against the widest width it could use.
// A build without FMA (the portable x86 one) measures separate multiplies and adds instead, which is the most
// its kernels can do.
#include "bench/neural/ThreadClock.h"

#include <string>

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__aarch64__)
#include <arm_neon.h>
#endif

namespace fmapeak {

struct Width {
    int lanes;
    const char* unit;
    // Runs rounds of chains multiply-adds at this width and returns a value that depends on all of them.
    float (*kernel)(long rounds);
};

// As many chains as the vector registers hold beside the two constants: a chain spilled to the stack waits on
// a store and a load every round and holds every other chain back (with 16 chains on the 16 registers of an
// AVX2 build, three spilled and the loop ran at three quarters of the FMA rate). Twelve are enough for two
// pipes of latency up to 6 cycles, sixteen for up to 8.
#if defined(__AVX512F__) || defined(__aarch64__)
inline constexpr int chains = 16; // of 32 registers
#else
inline constexpr int chains = 12; // of 16 registers
#endif

namespace detail {

template <class Vector, class Broadcast, class Fused, class Add, class First>
inline float run(long rounds, Broadcast broadcast, Fused fused, Add add, First first) {
    Vector accumulators[chains];
    for (int i = 0; i < chains; ++i) {
        accumulators[i] = broadcast(float(i) * 0.001f);
    }
    const Vector factor = broadcast(0.999999f);
    const Vector addend = broadcast(1e-7f);
    for (long round = 0; round < rounds; ++round) {
#pragma GCC unroll 16
        for (int i = 0; i < chains; ++i) {
            accumulators[i] = fused(accumulators[i], factor, addend);
        }
    }
    Vector sum = accumulators[0];
    for (int i = 1; i < chains; ++i) {
        sum = add(sum, accumulators[i]);
    }
    return first(sum);
}

#if defined(__AVX512F__)
__attribute__((noinline)) inline float kernel512(long rounds) {
    return run<__m512>(
        rounds, [](float v) { return _mm512_set1_ps(v); },
        [](__m512 a, __m512 b, __m512 c) { return _mm512_fmadd_ps(a, b, c); },
        [](__m512 a, __m512 b) { return _mm512_add_ps(a, b); }, [](__m512 a) { return _mm512_cvtss_f32(a); });
}
#endif
#if defined(__AVX2__) && defined(__FMA__)
__attribute__((noinline)) inline float kernel256(long rounds) {
    return run<__m256>(
        rounds, [](float v) { return _mm256_set1_ps(v); },
        [](__m256 a, __m256 b, __m256 c) { return _mm256_fmadd_ps(a, b, c); },
        [](__m256 a, __m256 b) { return _mm256_add_ps(a, b); }, [](__m256 a) { return _mm256_cvtss_f32(a); });
}
#endif
#if defined(__FMA__)
__attribute__((noinline)) inline float kernel128(long rounds) {
    return run<__m128>(
        rounds, [](float v) { return _mm_set1_ps(v); },
        [](__m128 a, __m128 b, __m128 c) { return _mm_fmadd_ps(a, b, c); },
        [](__m128 a, __m128 b) { return _mm_add_ps(a, b); }, [](__m128 a) { return _mm_cvtss_f32(a); });
}
#elif defined(__SSE2__)
__attribute__((noinline)) inline float kernel128(long rounds) {
    return run<__m128>(
        rounds, [](float v) { return _mm_set1_ps(v); },
        [](__m128 a, __m128 b, __m128 c) { return _mm_add_ps(_mm_mul_ps(a, b), c); },
        [](__m128 a, __m128 b) { return _mm_add_ps(a, b); }, [](__m128 a) { return _mm_cvtss_f32(a); });
}
#elif defined(__aarch64__)
__attribute__((noinline)) inline float kernel128(long rounds) {
    return run<float32x4_t>(
        rounds, [](float v) { return vdupq_n_f32(v); },
        [](float32x4_t a, float32x4_t b, float32x4_t c) { return vfmaq_f32(c, a, b); },
        [](float32x4_t a, float32x4_t b) { return vaddq_f32(a, b); },
        [](float32x4_t a) { return vgetq_lane_f32(a, 0); });
}
#endif

} // namespace detail

// Every width this build has, widest first.
inline constexpr Width widths[] = {
#if defined(__AVX512F__)
    {16, "AVX-512 FMA, 16 lanes", detail::kernel512},
#endif
#if defined(__AVX2__) && defined(__FMA__)
    {8, "AVX2 FMA, 8 lanes", detail::kernel256},
#endif
#if defined(__FMA__)
    {4, "SSE FMA, 4 lanes", detail::kernel128},
#elif defined(__SSE2__)
    {4, "SSE multiply and add (no FMA in this build), 4 lanes", detail::kernel128},
#elif defined(__aarch64__)
    {4, "NEON FMA, 4 lanes", detail::kernel128},
#endif
    {0, "no vector kernel for this processor", nullptr},
};
inline constexpr int numWidths = int(sizeof(widths) / sizeof(widths[0])) - 1;

inline bool available() { return numWidths > 0; }

inline double flopsPerRound(const Width& width) { return double(chains) * width.lanes * 2; }

// Runs rounds of one width's kernel and returns the floating-point operations it did; seconds receives the
// thread's CPU time it took.
inline double timedFlops(const Width& width, long rounds, double& seconds) {
    volatile long count = rounds;
    volatile float sink = 0.0f;
    const double start = threadclock::seconds();
    sink = width.kernel(count);
    seconds = threadclock::seconds() - start;
    static_cast<void>(sink);
    return double(rounds) * flopsPerRound(width);
}

} // namespace fmapeak
