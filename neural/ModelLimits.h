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

    // The players' load-time checks, the same on every machine that runs this program (a host build stands in
    // for the device, so it refuses what the device would).
    //
    // Multiply-adds per second one core of the device sustains in the model kernels. The device's Cortex-A72
    // at 1.5 GHz issues one 4-lane NEON multiply-add per cycle, a peak of 6e9; the blocked kernels keep about
    // half of it busy on the small matrices of these networks, so 3e9 is what a model may count on.
    static constexpr double deviceMultiplyAddsPerSecond = 3.0e9;
    static constexpr double deviceClockHz = 1.5e9;
    // Device cycles per activated value. The multiply-adds alone miss a large part of a model's cost. These are
    // modelled, not timed: tools/device-cycles/device-cycles.py runs the fixed <16, 8> model's instruction stream
    // through llvm-mca's model of the device's core (-mcpu=cortex-a72) and gives the fast tanh, which divides by
    // a reciprocal estimate and Newton steps, 4.4 cycles a value with its load and store (its 24 vector
    // operations per 4 values; the whole block 5,300 cycles a sample); 6 cycles leaves room for a layout the
    // compiler schedules worse. The fast logistic (the WaveNet's gates and "Sigmoid"), a clamp and two
    // polynomials before the same kind of division, comes out at 5.7 cycles a value from the same script (its
    // 31 vector operations per 4 values): 8, with the tanh's margin. A gate's logistic shares the division of
    // the activation it gates, so a gated value costs less than the two figures together. A tanh that divides
    // (the LSTM's) waits about 34 cycles per 4 values on the divider, which does not pipeline, and its other
    // operations add about 3.5 cycles a value: 12. The LSTM's logistic adds an exponential (a polynomial of
    // about 15 vector operations) to the same division: 16 cycles. The clamps (hard tanh, ReLU, leaky ReLU)
    // take one or two vector operations per 4 values: 0.5 cycles. With them the standard <16, 8> WaveNet (240
    // tanh values per sample) costs about 22 % more than its multiply-adds say.
    static constexpr double deviceCyclesPerTanh = 6.0;
    static constexpr double deviceCyclesPerLogistic = 8.0;
    static constexpr double deviceCyclesPerDividingTanh = 12.0;
    static constexpr double deviceCyclesPerDividingLogistic = 16.0;
    static constexpr double deviceCyclesPerClamp = 0.5;
    // Share of the frame a model may take on its player's core; the rest covers the hand-over, the tone stack
    // and the scheduling jitter of a core that must never miss a frame.
    static constexpr double maxFrameShare = 0.5;
    static constexpr double sampleRate = 48000.0;
    // Hence at most 15,625 device cycles per sample, at 0.5 cycles a multiply-add: a standard <16, 8> WaveNet
    // (13,321 multiply-adds and 240 tanh values, 8,100 cycles) takes 26 % of the frame; a 32-channel gated one
    // (about 91,000 multiply-adds) would take well over 100 % and is refused, and so is a narrow network of
    // few multiply-adds whose activations alone outrun the frame.
    static constexpr double maxDeviceCyclesPerSample = maxFrameShare * deviceClockHz / sampleRate;
    static constexpr double deviceCyclesPerMultiplyAdd = deviceClockHz / deviceMultiplyAddsPerSecond;

    // Bytes all loaded models of both players may hold together. The smallest module has 1 GB; the system and
    // this program take well under half of it. 128 MB holds every slot of both players filled with standard
    // models (under 1 MB each), or sixteen models at the 8 MB limit.
    static constexpr std::int64_t totalModelBytes = std::int64_t(128) << 20;
};

} // namespace RuveroRidev
