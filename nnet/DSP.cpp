#include "nnet/DSP.h"

#include <algorithm>
#include <stdexcept>

namespace nnet {

DSP::DSP(double expectedSampleRate) : expectedSampleRate(expectedSampleRate) {}

DSP::~DSP() = default;

void DSP::prewarm() {
    const int samples = PrewarmSamples();
    if (samples == 0) return;
    const int blockSize = std::max(maxBufferSize, 1);
    std::vector<float> silence(blockSize, 0.0f);
    std::vector<float> output(blockSize);
    // Whole blocks of the host's size, as the model will see them later.
    for (long processed = 0; processed < samples; processed += blockSize)
        process(silence.data(), output.data(), blockSize);
}

void DSP::process(float* input, float* output, int numFrames) {
    for (int i = 0; i < numFrames; ++i) output[i] = input[i];
}

void DSP::Reset(double sampleRate, int maxBufferSize) {
    externalSampleRate = sampleRate;
    haveExternalSampleRate = true;
    this->maxBufferSize = maxBufferSize;
}

int DSP::PrewarmSamples() { return 0; }

double DSP::GetLoudness() const {
    if (!hasLoudness) throw std::runtime_error("Asked for loudness of a model that doesn't know how loud it is!");
    return loudness;
}

void DSP::SetLoudness(double loudness) {
    this->loudness = loudness;
    hasLoudness = true;
}

} // namespace nnet
