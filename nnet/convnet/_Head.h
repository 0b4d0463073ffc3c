#pragma once
#include "nnet/DSP.h"

#include <Eigen/Dense>

namespace nnet::convnet {

// The linear head: one output sample per column from the last block's channels.
class NNET_API _Head {
public:
    _Head() = default;
    // Reads one weight per channel, then the bias.
    _Head(int channels, weights_it& weights);

    void process_(const Eigen::MatrixXf& input, Eigen::VectorXf& output, long iStart, long iEnd) const;

private:
    Eigen::VectorXf weight;
    float bias = 0.0f;
};

} // namespace nnet::convnet
