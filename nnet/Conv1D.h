#pragma once
#include "nnet/DSP.h"

#include <Eigen/Dense>
#include <vector>

namespace nnet {

// A dilated causal convolution over time on column-major signals (one row per channel, one column per time
// step): output column t = bias + sum over taps k of weight[k] * input column (t - dilation * (K - 1 - k)).
class NNET_API Conv1D {
public:
    void set_size_(int inChannels, int outChannels, int kernelSize, bool doBias, int dilation);
    // Tap fastest, then input channel, then output channel; then the bias.
    void set_weights_(weights_it& weights);
    void set_size_and_weights_(int inChannels, int outChannels, int kernelSize, int dilation, bool doBias,
                               weights_it& weights);
    long get_num_weights() const;
    long get_in_channels() const;
    long get_out_channels() const;
    long get_kernel_size() const;
    int get_dilation() const;

    // The caller keeps dilation * (K - 1) older columns in front of iStart.
    void process_(const Eigen::MatrixXf& input, Eigen::MatrixXf& output, long iStart, long numColumns,
                  long jStart) const;

private:
    std::vector<Eigen::MatrixXf> weight;
    Eigen::VectorXf bias;
    int dilation = 1;
};

} // namespace nnet
