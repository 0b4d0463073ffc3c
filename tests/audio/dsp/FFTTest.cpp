#include "audio/dsp/FFT.h"

#include <gtest/gtest.h>

#include "tests/audio/dsp/Reference.h"

TEST(FFT, ForwardMatchesANaiveDftInThePackedLayout) {
    for (int size : {2, 4, 8, 32, 64, 256, 1024, 4096}) {
        const FFT fft(size);
        ASSERT_EQ(fft.size(), size);
        const std::vector<float> input = reference::noise(size, 17u + size);
        std::vector<float> data = input;
        fft.forward(data.data());

        double largest = 0.0, worst = 0.0;
        for (int k = 0; k <= size / 2; ++k) {
            reference::Complex expected = 0.0;
            for (int n = 0; n < size; ++n) {
                expected += static_cast<double>(input[n]) * std::polar(1.0, -2.0 * std::numbers::pi * k * n / size);
            }
            reference::Complex packed;
            if (k == 0) packed = data[0];
            else if (k == size / 2) packed = data[1];
            else packed = reference::Complex(data[2 * k], data[2 * k + 1]);
            largest = std::max(largest, std::abs(expected));
            worst = std::max(worst, std::abs(packed - expected));
        }
        EXPECT_LT(worst, 1e-5 * largest + 1e-6) << "size " << size;
    }
}

TEST(FFT, InverseUndoesForwardOfEveryPowerOfTwo) {
    for (int size : {2, 4, 16, 32, 512, 8192}) {
        const FFT fft(size);
        const std::vector<float> input = reference::noise(size, 99u);
        std::vector<float> data = input;
        fft.forward(data.data());
        fft.inverse(data.data());
        for (int n = 0; n < size; ++n) ASSERT_NEAR(data[n], input[n], 2e-6) << "size " << size << " sample " << n;
    }
    // Sizes that are not powers of two give an empty transform.
    for (int size : {0, 1, 3, 12, 100, -8}) {
        const FFT fft(size);
        EXPECT_EQ(fft.size(), 0) << size;
        float data[4] = {1, 2, 3, 4};
        fft.forward(data);
        fft.inverse(data);
        EXPECT_EQ(data[2], 3.0f);
    }
}
