#pragma once
// Real-input radix-2 FFT, in place, with twiddle factors and the bit-reversal order computed once at
// construction. A real transform of size N runs as a complex transform of N/2 points over the even/odd sample
// pairs followed by the split step that separates the two interleaved spectra.
//
// Packed spectrum layout (N floats):
//   data[0] = X[0] (DC, real), data[1] = X[N/2] (Nyquist, real),
//   data[2k] = Re X[k], data[2k + 1] = Im X[k] for 0 < k < N/2,
// with X[k] = sum_n x[n] exp(-2 pi i k n / N). inverse() includes the 1/N factor, so
// inverse(forward(x)) == x. The transforms allocate nothing and may run on the audio thread.
#include <vector>

class FFT {
public:
    // `size` must be a power of two of at least 2; any other size gives an FFT of size 0 whose transforms do
    // nothing.
    explicit FFT(int size);

    int size() const { return size_; }
    static bool isValidSize(int size) { return size >= 2 && (size & (size - 1)) == 0; }

    void forward(float* data) const;
    void inverse(float* data) const;

private:
    void complexTransform(float* data, bool inverse) const;

    int size_ = 0;
    int half_ = 0;                         // complex points of the inner transform
    std::vector<int> bitReversed_;         // pairs to swap, flattened
    std::vector<float> butterflyTwiddles_; // cos, sin of 2 pi j / half, j < half / 2
    std::vector<float> splitTwiddles_;     // cos, sin of 2 pi k / size, k <= size / 4
};
