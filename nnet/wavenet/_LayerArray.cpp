#include "nnet/wavenet/_LayerArray.h"

#include "nnet/util.h"

#include <climits>
#include <stdexcept>

namespace nnet::wavenet {

namespace {

long historySpan(long kernelSize, long dilation) { return util::count_mul(kernelSize - 1, dilation); }

} // namespace

_LayerArray::_LayerArray(int inputSize, int conditionSize, int headSize, int channels, int kernelSize,
                         const std::vector<int>& dilations, const std::string& activation, bool gated, bool headBias)
    : bufferStart(
          _check_params_(inputSize, conditionSize, headSize, channels, kernelSize, dilations, activation, gated) - 1),
      rechannel(inputSize, channels, false),
      headRechannel(channels, headSize, headBias) {
    layers.reserve(dilations.size());
    for (int dilation : dilations)
        layers.emplace_back(conditionSize, channels, kernelSize, dilation, activation, gated);
    layerBuffers.resize(layers.size());
    for (Eigen::MatrixXf& buffer : layerBuffers)
        buffer = Eigen::MatrixXf::Zero(channels, LAYER_ARRAY_BUFFER_SIZE + bufferStart);
}

long _LayerArray::_check_params_(int inputSize, int conditionSize, int headSize, int channels, int kernelSize,
                                 const std::vector<int>& dilations, const std::string& activation, bool gated) {
    if (inputSize < 1 || conditionSize < 1 || headSize < 1)
        throw std::runtime_error("Layer array sizes must be at least 1 (input_size " + std::to_string(inputSize) +
                                 ", condition_size " + std::to_string(conditionSize) + ", head_size " +
                                 std::to_string(headSize) + ")");
    if (channels < 1 || (gated && channels > INT_MAX / 2))
        throw std::runtime_error("Layer array channels out of range: " + std::to_string(channels));
    if (kernelSize < 1)
        throw std::runtime_error("Layer array kernel_size must be at least 1, got " + std::to_string(kernelSize));
    long receptiveField = 1;
    for (int dilation : dilations) {
        if (dilation < 1)
            throw std::runtime_error("Layer array dilations must be at least 1, got " + std::to_string(dilation));
        receptiveField = util::count_add(receptiveField, historySpan(kernelSize, dilation));
    }
    if (activations::Activation::get_activation(activation) == nullptr)
        throw std::runtime_error("Unrecognized activation: " + activation);
    // Not even a one-frame block would fit beside such a history.
    if (receptiveField > LAYER_ARRAY_BUFFER_SIZE - 1)
        throw std::runtime_error("Layer array receptive field (" + std::to_string(receptiveField) +
                                 ") does not fit its buffer (" + std::to_string(LAYER_ARRAY_BUFFER_SIZE) + ")");
    return receptiveField;
}

void _LayerArray::set_weights_(weights_it& weights) {
    rechannel.set_weights_(weights);
    for (_Layer& layer : layers) layer.set_weights_(weights);
    headRechannel.set_weights_(weights);
}

void _LayerArray::_verify_num_frames_(long numFrames) const {
    const long receptiveField = _get_receptive_field();
    if (LAYER_ARRAY_BUFFER_SIZE - numFrames < receptiveField)
        throw std::runtime_error("Asked to accept a buffer of " + std::to_string(numFrames) +
                                 " samples, but the buffer is too short (" + std::to_string(LAYER_ARRAY_BUFFER_SIZE) +
                                 ") to get out of the recptive field (" + std::to_string(receptiveField) +
                                 "); copy errors could occur!\n");
}

void _LayerArray::set_num_frames_(long numFrames) {
    _verify_num_frames_(numFrames);
    for (_Layer& layer : layers) layer.set_num_frames_(numFrames);
}

void _LayerArray::prepare_for_frames_(long numFrames) {
    const long bufferWidth = layerBuffers.empty() ? 0 : layerBuffers[0].cols();
    if (bufferStart + numFrames > bufferWidth) _rewind_buffers_();
}

void _LayerArray::advance_buffers_(int numFrames) { bufferStart += numFrames; }

void _LayerArray::process_(const Eigen::MatrixXf& layerInputs, const Eigen::MatrixXf& condition,
                           Eigen::MatrixXf& headInputs, Eigen::MatrixXf& layerOutputs, Eigen::MatrixXf& headOutputs) {
    if (!layers.empty()) {
        const long numFrames = layerInputs.cols();
        layerBuffers[0].middleCols(bufferStart, numFrames) = rechannel.process(layerInputs);
        const size_t last = layers.size() - 1;
        for (size_t i = 0; i < last; ++i)
            layers[i].process_(layerBuffers[i], condition, headInputs, layerBuffers[i + 1], bufferStart, bufferStart);
        layers[last].process_(layerBuffers[last], condition, headInputs, layerOutputs, bufferStart, 0);
    }
    headOutputs = headRechannel.process(headInputs);
}

long _LayerArray::get_receptive_field() const {
    long receptiveField = 0;
    for (const _Layer& layer : layers) receptiveField += historySpan(layer.get_kernel_size(), layer.get_dilation());
    return receptiveField;
}

long _LayerArray::_get_receptive_field() const { return 1 + get_receptive_field(); }

long _LayerArray::_get_channels() const { return layers.empty() ? 0 : layers[0].get_channels(); }

void _LayerArray::_rewind_buffers_() {
    // Each layer keeps only its own reach of history in front of the new start. The source always lies
    // behind the destination, so a forward copy within the matrix is safe.
    const long newStart = _get_receptive_field() - 1;
    for (size_t i = 0; i < layers.size(); ++i) {
        const long span = historySpan(layers[i].get_kernel_size(), layers[i].get_dilation());
        layerBuffers[i].middleCols(newStart - span, span) = layerBuffers[i].middleCols(bufferStart - span, span);
    }
    bufferStart = newStart;
}

} // namespace nnet::wavenet
