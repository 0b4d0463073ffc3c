#include "nnet/Linear.h"

#include <stdexcept>

namespace nnet {

Linear::Linear(int receptiveField, bool bias, const std::vector<float>& weights, double expectedSampleRate)
    : Buffer(receptiveField, expectedSampleRate) {
    const size_t expected = static_cast<size_t>(receptiveField) + (bias ? 1 : 0);
    if (weights.size() != expected)
        throw std::runtime_error("Params vector does not match expected size based on architecture parameters");
    weight.resize(receptiveField);
    for (int i = 0; i < receptiveField; ++i) weight(i) = weights[receptiveField - 1 - i];
    this->bias = bias ? weights[receptiveField] : 0.0f;
}

Linear::~Linear() = default;

void Linear::process(float* input, float* output, int numFrames) {
    if (numFrames < 1) return;
    Buffer::_update_buffers_(input, numFrames);
    for (int i = 0; i < numFrames; ++i) {
        const long start = inputBufferOffset - receptiveField + 1 + i;
        const Eigen::Map<const Eigen::VectorXf> window(inputBuffer.data() + start, receptiveField);
        output[i] = bias + weight.dot(window);
    }
    _advance_input_buffer_(numFrames);
}

} // namespace nnet
