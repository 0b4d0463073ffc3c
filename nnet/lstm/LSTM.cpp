#include "nnet/lstm/LSTM.h"

#include "nnet/util.h"

#include <climits>
#include <stdexcept>
#include <string>

namespace nnet::lstm {

namespace {

// Refuses what the cells could not run before anything is read: the cell takes one sample at a time, and
// the weight list must be exactly as long as the layout.
void checkArchitecture(int numLayers, int inputSize, int hiddenSize, const std::vector<float>& weights) {
    using util::count_add;
    using util::count_mul;
    if (numLayers < 0)
        throw std::runtime_error("LSTM num_layers must not be negative, got " + std::to_string(numLayers));
    if (inputSize != 1) throw std::runtime_error("LSTM input_size must be 1, got " + std::to_string(inputSize));
    if (hiddenSize < 0)
        throw std::runtime_error("LSTM hidden_size must not be negative, got " + std::to_string(hiddenSize));
    const long h = hiddenSize;
    long expected = count_add(h, 1);
    for (int layer = 0; layer < numLayers; ++layer) {
        const long cellInput = layer == 0 ? inputSize : h;
        const long cell = count_add(count_mul(count_mul(4, h), count_add(cellInput, h)), count_mul(6, h));
        expected = count_add(expected, cell);
    }
    const long provided = static_cast<long>(weights.size());
    if (provided != expected)
        throw std::runtime_error("Weight mismatch: the LSTM expects " + std::to_string(expected) + " weights, but " +
                                 std::to_string(provided) + " were provided.");
}

} // namespace

LSTM::LSTM(int numLayers, int inputSize, int hiddenSize, std::vector<float>& weights, double expectedSampleRate)
    : DSP(expectedSampleRate) {
    checkArchitecture(numLayers, inputSize, hiddenSize, weights);
    input.resize(1);
    weights_it it = weights.begin();
    layers.reserve(numLayers);
    for (int layer = 0; layer < numLayers; ++layer)
        layers.emplace_back(layer == 0 ? inputSize : hiddenSize, hiddenSize, it);
    headWeight.resize(hiddenSize);
    for (int i = 0; i < hiddenSize; ++i) headWeight(i) = *(it++);
    headBias = *(it++);
}

LSTM::~LSTM() = default;

void LSTM::process(float* input, float* output, int numFrames) {
    for (int i = 0; i < numFrames; ++i) output[i] = _process_sample(input[i]);
}

int LSTM::PrewarmSamples() {
    // Half a second at the trained rate lets the stored initial states settle.
    const double halfSecond = 0.5 * expectedSampleRate;
    if (!(halfSecond >= 1.0)) return 1;
    return halfSecond >= INT_MAX ? INT_MAX : static_cast<int>(halfSecond);
}

float LSTM::_process_sample(float x) {
    if (layers.empty()) return x;
    input(0) = x;
    layers[0].process_(input);
    for (size_t layer = 1; layer < layers.size(); ++layer) layers[layer].process_(layers[layer - 1].get_hidden_state());
    return headWeight.dot(layers.back().get_hidden_state()) + headBias;
}

} // namespace nnet::lstm
