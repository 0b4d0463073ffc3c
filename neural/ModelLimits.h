#pragma once
// Bounds on the sizes a model file may ask for. Every slot of both players loads at boot, so a file that asks
// for gigabytes, or for a network no core could run in real time, is refused from its configuration alone,
// before any of its storage is allocated or its weights are read.
//
// For scale: the largest common WaveNet (16 channels, two arrays of ten layers, kernel 3) takes about 14,000
// weights, 55,000 floats in all, a receptive field of 4,092 samples and 14,000 multiply-adds per sample; an
// LSTM of hidden size 32 takes about 4,300 multiply-adds per sample.
#include <cstdint>

namespace RuveroRidev {

struct ModelLimits {
    // Floats a model may hold: weights, layer histories and working buffers together (8 MB).
    static constexpr std::int64_t maxFloats = std::int64_t(1) << 21;
    // Multiply-adds per sample of audio; beyond this a model cannot keep up with 48 kHz on one core.
    static constexpr std::int64_t maxMultiplyAddsPerSample = std::int64_t(1) << 17;

    // Runtime-sized WaveNet.
    static constexpr int maxLayerArrays = 8;
    static constexpr int maxLayersPerArray = 64;
    static constexpr int maxChannels = 64;
    static constexpr int maxKernelSize = 16;
    static constexpr int maxDilation = 16384;
    // Samples of input, summed over every layer, that reach one output sample (about 1.4 s at 48 kHz).
    static constexpr std::int64_t maxReceptiveField = 65536;

    // LSTM.
    static constexpr int maxLstmLayers = 8;
    static constexpr int maxHiddenSize = 256;

    // Silent samples that Prewarm runs at most to settle a recurrent state, and the multiply-adds it may spend
    // on them, so that a slow-settling model cannot stretch the boot.
    static constexpr int maxPrewarmSamples = 24000;
    static constexpr std::int64_t maxPrewarmMultiplyAdds = std::int64_t(1) << 27;
};

}  // namespace RuveroRidev
