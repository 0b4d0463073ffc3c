#pragma once
#include "nnet/DSP.h"

#include <Eigen/Dense>

namespace nnet::convnet {

// Batch normalisation folded at load time into one scale and one offset per channel.
class NNET_API BatchNorm {
public:
    BatchNorm() = default;
    // Reads running mean, running variance, weight and bias (channels values each), then eps.
    BatchNorm(int channels, weights_it& weights);

    // In place over columns iStart .. iEnd - 1.
    void process_(Eigen::MatrixXf& x, long iStart, long iEnd) const;

private:
    Eigen::VectorXf scale;
    Eigen::VectorXf loc;
};

} // namespace nnet::convnet
