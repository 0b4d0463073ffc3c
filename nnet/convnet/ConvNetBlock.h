#pragma once
#include "nnet/Conv1D.h"
#include "nnet/activations/Activation.h"
#include "nnet/convnet/BatchNorm.h"

#include <Eigen/Dense>
#include <string>

namespace nnet::convnet {

// One dilated two-tap convolution, optionally batch-normalised, then the activation. Input and output
// columns share their indices.
class NNET_API ConvNetBlock {
public:
    // The convolution has a bias exactly when batch normalisation is off.
    void set_weights_(int inChannels, int outChannels, int dilation, bool batchnorm, const std::string& activation,
                      weights_it& weights);
    // Columns iStart .. iEnd - 1; the input holds dilation older columns in front of iStart.
    void process_(const Eigen::MatrixXf& input, Eigen::MatrixXf& output, long iStart, long iEnd) const;
    long get_out_channels() const;

    Conv1D conv;

private:
    BatchNorm batchnorm;
    bool batchnormOn = false;
    activations::Activation* activation = nullptr; // borrowed from the registry
};

} // namespace nnet::convnet
