#pragma once
#include "nnet/DSP.h"

#include <Eigen/Dense>

namespace nnet {

// A per-time-step linear map between channel counts: a convolution with one tap.
class NNET_API Conv1x1 {
public:
    Conv1x1(int inChannels, int outChannels, bool doBias);

    // Row by row, then the bias when there is one.
    void set_weights_(weights_it& weights);
    Eigen::MatrixXf process(const Eigen::MatrixXf& input) const;

private:
    Eigen::MatrixXf weight;
    Eigen::VectorXf bias;
    bool doBias;
};

} // namespace nnet
