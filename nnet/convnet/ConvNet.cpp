#include "nnet/convnet/ConvNet.h"

#include "nnet/util.h"

#include <algorithm>
#include <climits>
#include <stdexcept>

namespace nnet::convnet {

namespace {

long weightCount(long channels, long numBlocks, bool batchnorm) {
    using util::count_add;
    using util::count_mul;
    const long normalisation = batchnorm ? count_add(count_mul(4, channels), 1) : channels;
    const long firstBlock = count_add(count_mul(2, channels), normalisation);
    const long laterBlock = count_add(count_mul(count_mul(2, channels), channels), normalisation);
    const long head = count_add(channels, 1);
    return count_add(count_add(firstBlock, count_mul(numBlocks - 1, laterBlock)), head);
}

// Refuses what the blocks could not run, before anything is sized; returns the receptive field (the largest
// dilation, since every block keeps its own history).
int checkedReceptiveField(int channels, const std::vector<int>& dilations, bool batchnorm,
                          const std::string& activation, const std::vector<float>& weights) {
    if (dilations.empty()) throw std::runtime_error("ConvNet needs at least one dilation");
    if (channels < 1) throw std::runtime_error("ConvNet channels must be at least 1, got " + std::to_string(channels));
    for (int dilation : dilations)
        if (dilation < 1)
            throw std::runtime_error("ConvNet dilations must be at least 1, got " + std::to_string(dilation));
    if (activations::Activation::get_activation(activation) == nullptr)
        throw std::runtime_error("Unrecognized activation: " + activation);
    const long expected = weightCount(channels, static_cast<long>(dilations.size()), batchnorm);
    const long provided = static_cast<long>(weights.size());
    if (provided < expected)
        throw std::runtime_error("Weight mismatch: provided " + std::to_string(provided) +
                                 " weights, but the ConvNet expects " + std::to_string(expected) + ".");
    if (provided > expected) throw std::runtime_error("Didn't touch all the weights when initializing ConvNet");
    return *std::max_element(dilations.begin(), dilations.end());
}

} // namespace

ConvNet::ConvNet(int channels, const std::vector<int>& dilations, bool batchnorm, const std::string& activation,
                 std::vector<float>& weights, double expectedSampleRate)
    : Buffer(checkedReceptiveField(channels, dilations, batchnorm, activation, weights), expectedSampleRate) {
    blocks.resize(dilations.size());
    weights_it it = weights.begin();
    for (size_t k = 0; k < blocks.size(); ++k)
        blocks[k].set_weights_(k == 0 ? 1 : channels, channels, dilations[k], batchnorm, activation, it);
    blockValues.resize(blocks.size() + 1);
    for (Eigen::MatrixXf& values : blockValues) values.setZero();
    std::fill(inputBuffer.begin(), inputBuffer.end(), 0.0f);
    head = _Head(channels, it);
    if (it != weights.end()) throw std::runtime_error("Didn't touch all the weights when initializing ConvNet");
    long prewarm = 1;
    for (int dilation : dilations) prewarm += dilation;
    prewarmSampleCount = static_cast<int>(std::min<long>(prewarm, INT_MAX));
}

ConvNet::~ConvNet() = default;

int ConvNet::PrewarmSamples() { return prewarmSampleCount; }

void ConvNet::_update_buffers_(float* input, int numFrames) {
    Buffer::_update_buffers_(input, numFrames);
    const long bufferSize = static_cast<long>(inputBuffer.size());
    // Matrices whose shape still fits keep their history; a grown buffer starts them silent.
    if (blockValues[0].rows() != 1 || blockValues[0].cols() != bufferSize) {
        blockValues[0].resize(1, bufferSize);
        blockValues[0].setZero();
    }
    for (size_t k = 1; k < blockValues.size(); ++k) {
        const long rows = blocks[k - 1].get_out_channels();
        if (blockValues[k].rows() != rows || blockValues[k].cols() != bufferSize) {
            blockValues[k].resize(rows, bufferSize);
            blockValues[k].setZero();
        }
    }
}

void ConvNet::_rewind_buffers_() {
    // Each block reads back its own dilation in its input matrix. The last matrix feeds only the head at the
    // current columns and needs no history.
    for (size_t k = 0; k < blocks.size(); ++k) {
        const long dilation = blocks[k].conv.get_dilation();
        blockValues[k].middleCols(receptiveField - dilation, dilation) =
            blockValues[k].middleCols(inputBufferOffset - dilation, dilation);
    }
    Buffer::_rewind_buffers_();
}

void ConvNet::process(float* input, float* output, int numFrames) {
    if (numFrames < 1) return;
    _update_buffers_(input, numFrames);
    const long start = inputBufferOffset;
    const long end = start + numFrames;
    blockValues[0].block(0, start, 1, numFrames) =
        Eigen::Map<const Eigen::RowVectorXf>(inputBuffer.data() + start, numFrames);
    for (size_t k = 0; k < blocks.size(); ++k) blocks[k].process_(blockValues[k], blockValues[k + 1], start, end);
    head.process_(blockValues.back(), headOutput, start, end);
    for (int s = 0; s < numFrames; ++s) output[s] = headOutput(s);
    _advance_input_buffer_(numFrames);
}

} // namespace nnet::convnet
