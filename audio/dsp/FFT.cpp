#include "audio/dsp/FFT.h"

#include <cmath>
#include <numbers>

FFT::FFT(int size) {
    if (!isValidSize(size)) return;
    size_ = size;
    half_ = size / 2;

    int bits = 0;
    while ((1 << bits) < half_) ++bits;
    for (int i = 0; i < half_; ++i) {
        int reversed = 0;
        for (int b = 0; b < bits; ++b) reversed |= ((i >> b) & 1) << (bits - 1 - b);
        if (reversed > i) {
            bitReversed_.push_back(i);
            bitReversed_.push_back(reversed);
        }
    }

    for (int j = 0; j < half_ / 2; ++j) {
        const double angle = 2.0 * std::numbers::pi * j / half_;
        butterflyTwiddles_.push_back(static_cast<float>(std::cos(angle)));
        butterflyTwiddles_.push_back(static_cast<float>(std::sin(angle)));
    }
    for (int k = 0; k <= size_ / 4; ++k) {
        const double angle = 2.0 * std::numbers::pi * k / size_;
        splitTwiddles_.push_back(static_cast<float>(std::cos(angle)));
        splitTwiddles_.push_back(static_cast<float>(std::sin(angle)));
    }
}

// Iterative decimation in time over `half_` complex values stored as (re, im) pairs. The forward transform
// uses exp(-i angle), the inverse exp(+i angle) and leaves the scaling to the caller.
void FFT::complexTransform(float* data, bool inverse) const {
    for (size_t p = 0; p < bitReversed_.size(); p += 2) {
        const int a = 2 * bitReversed_[p];
        const int b = 2 * bitReversed_[p + 1];
        const float re = data[a], im = data[a + 1];
        data[a] = data[b];
        data[a + 1] = data[b + 1];
        data[b] = re;
        data[b + 1] = im;
    }
    const float sign = inverse ? 1.0f : -1.0f;
    for (int span = 1; span < half_; span *= 2) {
        const int stride = half_ / (2 * span); // twiddle index step for this stage
        for (int start = 0; start < half_; start += 2 * span) {
            for (int j = 0; j < span; ++j) {
                const float wr = butterflyTwiddles_[2 * j * stride];
                const float wi = sign * butterflyTwiddles_[2 * j * stride + 1];
                float* top = data + 2 * (start + j);
                float* bottom = data + 2 * (start + j + span);
                const float tr = bottom[0] * wr - bottom[1] * wi;
                const float ti = bottom[0] * wi + bottom[1] * wr;
                bottom[0] = top[0] - tr;
                bottom[1] = top[1] - ti;
                top[0] += tr;
                top[1] += ti;
            }
        }
    }
}

// With z[n] = x[2n] + i x[2n+1] and Z its half-size transform, the even and odd sample spectra are
// E[k] = (Z[k] + conj Z[h-k]) / 2 and O[k] = -i (Z[k] - conj Z[h-k]) / 2, and X[k] = E[k] + W^k O[k] with
// W = exp(-2 pi i / N). Bins k and h-k are produced together from the same pair of inputs.
void FFT::forward(float* data) const {
    if (size_ == 0) return;
    complexTransform(data, false);
    const float dcRe = data[0], dcIm = data[1];
    data[0] = dcRe + dcIm;
    data[1] = dcRe - dcIm;
    for (int k = 1; k <= half_ / 2; ++k) {
        const int m = half_ - k;
        const float zkRe = data[2 * k], zkIm = data[2 * k + 1];
        const float zmRe = data[2 * m], zmIm = data[2 * m + 1];
        const float evenRe = 0.5f * (zkRe + zmRe), evenIm = 0.5f * (zkIm - zmIm);
        const float oddRe = 0.5f * (zkIm + zmIm), oddIm = -0.5f * (zkRe - zmRe);
        const float wr = splitTwiddles_[2 * k], wi = -splitTwiddles_[2 * k + 1];
        const float rotRe = wr * oddRe - wi * oddIm, rotIm = wr * oddIm + wi * oddRe;
        // X[h-k] = conj(E[k]) - conj(W^k) conj(O[k]) = conj(E[k] - W^k O[k])
        data[2 * k] = evenRe + rotRe;
        data[2 * k + 1] = evenIm + rotIm;
        data[2 * m] = evenRe - rotRe;
        data[2 * m + 1] = -(evenIm - rotIm);
    }
}

// The exact reverse of the split: E[k] = (X[k] + conj X[h-k]) / 2, O[k] = (X[k] - conj X[h-k]) conj(W^k) / 2,
// Z[k] = E[k] + i O[k], then the inverse half-size transform scaled by 1/h gives z[n] = x[2n] + i x[2n+1].
void FFT::inverse(float* data) const {
    if (size_ == 0) return;
    const float nyquist = data[1];
    const float dc = data[0];
    data[0] = 0.5f * (dc + nyquist);
    data[1] = 0.5f * (dc - nyquist);
    for (int k = 1; k <= half_ / 2; ++k) {
        const int m = half_ - k;
        const float xkRe = data[2 * k], xkIm = data[2 * k + 1];
        const float xmRe = data[2 * m], xmIm = data[2 * m + 1];
        const float evenRe = 0.5f * (xkRe + xmRe), evenIm = 0.5f * (xkIm - xmIm);
        const float diffRe = 0.5f * (xkRe - xmRe), diffIm = 0.5f * (xkIm + xmIm);
        const float wr = splitTwiddles_[2 * k], wi = splitTwiddles_[2 * k + 1]; // conj(W^k)
        const float oddRe = diffRe * wr - diffIm * wi, oddIm = diffRe * wi + diffIm * wr;
        // Z[k] = E + i O; Z[h-k] = conj(E) + i conj(O)
        data[2 * k] = evenRe - oddIm;
        data[2 * k + 1] = evenIm + oddRe;
        data[2 * m] = evenRe + oddIm;
        data[2 * m + 1] = -evenIm + oddRe;
    }
    complexTransform(data, true);
    const float scale = 1.0f / static_cast<float>(half_);
    for (int i = 0; i < size_; ++i) data[i] *= scale;
}
