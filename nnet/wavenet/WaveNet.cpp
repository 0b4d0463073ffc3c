#include "nnet/wavenet/WaveNet.h"

#include "nnet/util.h"

#include <algorithm>
#include <climits>
#include <stdexcept>
#include <string>

namespace nnet::wavenet {

namespace {

using util::count_add;
using util::count_mul;

long arrayWeightCount(const LayerArrayParams& params) {
    const long channels = params.channels;
    const long convChannels = params.gated ? 2 * channels : channels;
    const long perLayer = count_add(
        count_add(count_mul(count_mul(params.kernel_size, channels), convChannels), convChannels),
        count_add(count_mul(params.condition_size, convChannels), count_add(count_mul(channels, channels), channels)));
    long count = count_mul(params.input_size, channels);
    count = count_add(count, count_mul(static_cast<long>(params.dilations.size()), perLayer));
    count = count_add(count, count_mul(channels, params.head_size));
    return params.head_bias ? count_add(count, params.head_size) : count;
}

// Refuses, before anything is sized, every list of arrays that could not be chained and run; returns the
// number of weights the model takes.
long checkedWeightCount(const std::vector<LayerArrayParams>& layerArrayParams) {
    if (layerArrayParams.empty()) throw std::runtime_error("WaveNet needs at least one layer array");
    long count = 1; // the head scale
    for (size_t i = 0; i < layerArrayParams.size(); ++i) {
        const LayerArrayParams& params = layerArrayParams[i];
        if (i > 0 && params.channels != layerArrayParams[i - 1].head_size)
            throw std::runtime_error("channels of layer " + std::to_string(i) + " (" + std::to_string(params.channels) +
                                     ") doesn't match head_size of preceding layer (" +
                                     std::to_string(layerArrayParams[i - 1].head_size) + "!\n");
        _LayerArray::_check_params_(params.input_size, params.condition_size, params.head_size, params.channels,
                                    params.kernel_size, params.dilations, params.activation, params.gated);
        if (params.condition_size != 1)
            throw std::runtime_error("condition_size of layer " + std::to_string(i) + " (" +
                                     std::to_string(params.condition_size) + ") must be 1: the condition is the input");
        // Array 0 reads the input; every later array reads the residual output of the one before.
        const int inputRows = i == 0 ? 1 : layerArrayParams[i - 1].channels;
        if (params.input_size != inputRows)
            throw std::runtime_error("input_size of layer " + std::to_string(i) + " (" +
                                     std::to_string(params.input_size) + ") doesn't match the rows it reads (" +
                                     std::to_string(inputRows) + ")");
        if (params.dilations.empty() && i + 1 < layerArrayParams.size())
            throw std::runtime_error("layer " + std::to_string(i) +
                                     " has no dilations, so the next layer would read no output");
        count = count_add(count, arrayWeightCount(params));
    }
    if (layerArrayParams.back().head_size != 1)
        throw std::runtime_error("head_size of the last layer (" + std::to_string(layerArrayParams.back().head_size) +
                                 ") must be 1: the model has one output");
    return count;
}

} // namespace

WaveNet::WaveNet(const std::vector<LayerArrayParams>& layerArrayParams, float headScale, bool withHead,
                 std::vector<float> weights, double expectedSampleRate)
    : DSP(expectedSampleRate), headScale(headScale) {
    if (withHead) throw std::runtime_error("Head not implemented!");
    numWeights = checkedWeightCount(layerArrayParams);
    const long provided = static_cast<long>(weights.size());
    if (provided < numWeights)
        throw std::runtime_error("Weight mismatch: provided " + std::to_string(provided) +
                                 " weights, but the model expects more.");
    if (provided > numWeights)
        throw std::runtime_error("Weight mismatch: assigned " + std::to_string(numWeights) + " weights, but " +
                                 std::to_string(provided) + " were provided.");

    layerArrays.reserve(layerArrayParams.size());
    for (size_t i = 0; i < layerArrayParams.size(); ++i) {
        const LayerArrayParams& params = layerArrayParams[i];
        layerArrays.emplace_back(params.input_size, params.condition_size, params.head_size, params.channels,
                                 params.kernel_size, params.dilations, params.activation, params.gated,
                                 params.head_bias);
        layerArrayOutputs.emplace_back(params.channels, 0);
        if (i == 0) headArrays.emplace_back(params.channels, 0);
        headArrays.emplace_back(params.head_size, 0);
    }
    set_weights_(weights);

    long prewarm = 1;
    for (const _LayerArray& layerArray : layerArrays) prewarm = count_add(prewarm, layerArray.get_receptive_field());
    prewarmSampleCount = static_cast<int>(std::min<long>(prewarm, INT_MAX));
}

WaveNet::~WaveNet() = default;

void WaveNet::set_weights_(std::vector<float>& weights) {
    const long provided = static_cast<long>(weights.size());
    if (provided < numWeights)
        throw std::runtime_error("Weight mismatch: provided " + std::to_string(provided) +
                                 " weights, but the model expects more.");
    if (provided > numWeights)
        throw std::runtime_error("Weight mismatch: assigned " + std::to_string(numWeights) + " weights, but " +
                                 std::to_string(provided) + " were provided.");
    weights_it it = weights.begin();
    for (_LayerArray& layerArray : layerArrays) layerArray.set_weights_(it);
    headScale = *(it++);
}

int WaveNet::PrewarmSamples() { return prewarmSampleCount; }

int WaveNet::_get_condition_dim() { return 1; }

void WaveNet::_set_condition_array(float* input, int numFrames) {
    for (int t = 0; t < numFrames; ++t) condition(0, t) = input[t];
}

void WaveNet::_set_num_frames_(long numFrames) {
    if (numFrames == this->numFrames) return;
    // Every array's limit first: a refusal must leave all work matrices at the size they were.
    for (const _LayerArray& layerArray : layerArrays) layerArray._verify_num_frames_(numFrames);
    condition.resize(_get_condition_dim(), numFrames);
    for (Eigen::MatrixXf& headArray : headArrays) headArray.resize(headArray.rows(), numFrames);
    for (Eigen::MatrixXf& output : layerArrayOutputs) output.resize(output.rows(), numFrames);
    for (_LayerArray& layerArray : layerArrays) layerArray.set_num_frames_(numFrames);
    this->numFrames = numFrames;
}

void WaveNet::_prepare_for_frames_(long numFrames) {
    for (_LayerArray& layerArray : layerArrays) layerArray.prepare_for_frames_(numFrames);
}

void WaveNet::_advance_buffers_(int numFrames) {
    for (_LayerArray& layerArray : layerArrays) layerArray.advance_buffers_(numFrames);
}

void WaveNet::process(float* input, float* output, int numFrames) {
    if (numFrames < 1) return;
    _set_num_frames_(numFrames);
    _prepare_for_frames_(numFrames);
    // The input is copied before anything is written, so input and output may be the same buffer.
    _set_condition_array(input, numFrames);
    headArrays[0].setZero();
    for (size_t i = 0; i < layerArrays.size(); ++i)
        layerArrays[i].process_(i == 0 ? condition : layerArrayOutputs[i - 1], condition, headArrays[i],
                                layerArrayOutputs[i], headArrays[i + 1]);
    const Eigen::MatrixXf& headOutput = headArrays.back();
    for (int t = 0; t < numFrames; ++t) output[t] = headScale * headOutput(0, t);
    _advance_buffers_(numFrames);
}

} // namespace nnet::wavenet
