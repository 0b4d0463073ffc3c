#pragma once
#include "nnet/Conv1x1.h"
#include "nnet/activations/Activation.h"

#include <Eigen/Dense>
#include <string>
#include <vector>

namespace nnet::wavenet {

// A stack of 1x1 convolutions with the activation before each of them, ending in one output row.
class NNET_API _Head {
public:
    _Head(int inputSize, int numLayers, int channels, const std::string& activation);

    void set_weights_(weights_it& weights);
    void set_num_frames_(long numFrames);
    // Applies the activation to the inputs in place.
    void process_(Eigen::MatrixXf& inputs, Eigen::MatrixXf& outputs);
    void _apply_activation_(Eigen::MatrixXf& x);

private:
    int channels;
    std::vector<Conv1x1> layers;
    activations::Activation* activation; // borrowed from the registry
    std::vector<Eigen::MatrixXf> buffers;
};

} // namespace nnet::wavenet
