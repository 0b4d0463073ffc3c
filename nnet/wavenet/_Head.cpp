#include "nnet/wavenet/_Head.h"

#include <stdexcept>

namespace nnet::wavenet {

_Head::_Head(int inputSize, int numLayers, int channels, const std::string& activation)
    : channels(channels), activation(activations::Activation::get_activation(activation)) {
    if (numLayers < 1) throw std::runtime_error("Head needs at least one layer, got " + std::to_string(numLayers));
    if (inputSize < 1 || channels < 1)
        throw std::runtime_error("Head sizes must be at least 1 (input_size " + std::to_string(inputSize) +
                                 ", channels " + std::to_string(channels) + ")");
    if (this->activation == nullptr) throw std::runtime_error("Unrecognized activation: " + activation);
    layers.reserve(numLayers);
    int inChannels = inputSize;
    for (int i = 0; i < numLayers; ++i) {
        const int outChannels = i == numLayers - 1 ? 1 : channels;
        layers.emplace_back(inChannels, outChannels, true);
        inChannels = outChannels;
    }
    buffers.resize(numLayers - 1);
}

void _Head::set_weights_(weights_it& weights) {
    for (Conv1x1& layer : layers) layer.set_weights_(weights);
}

void _Head::set_num_frames_(long numFrames) {
    for (Eigen::MatrixXf& buffer : buffers) {
        if (buffer.rows() == channels && buffer.cols() == numFrames) continue;
        buffer.resize(channels, numFrames);
        buffer.setZero();
    }
}

void _Head::process_(Eigen::MatrixXf& inputs, Eigen::MatrixXf& outputs) {
    _apply_activation_(inputs);
    if (layers.size() == 1) {
        outputs = layers[0].process(inputs);
        return;
    }
    buffers[0] = layers[0].process(inputs);
    for (size_t i = 1; i < layers.size(); ++i) {
        _apply_activation_(buffers[i - 1]);
        if (i == layers.size() - 1) outputs = layers[i].process(buffers[i - 1]);
        else buffers[i] = layers[i].process(buffers[i - 1]);
    }
}

void _Head::_apply_activation_(Eigen::MatrixXf& x) { activation->apply(x); }

} // namespace nnet::wavenet
