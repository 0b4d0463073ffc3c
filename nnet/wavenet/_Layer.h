#pragma once
#include "nnet/Conv1x1.h"
#include "nnet/activations/Activation.h"
#include "nnet/wavenet/_DilatedConv.h"

#include <Eigen/Dense>
#include <string>

namespace nnet::wavenet {

// One dilated residual layer: z = act(conv(input) + mixin(condition)), or with gating the activated first
// half times the sigmoid of the second half; z feeds the head sum and, through the 1x1, the residual output.
class NNET_API _Layer {
public:
    _Layer(int conditionSize, int channels, int kernelSize, int dilation, const std::string& activation, bool gated);

    // The conv, then the input mixin, then the 1x1.
    void set_weights_(weights_it& weights);
    void set_num_frames_(long numFrames);
    // Reads input columns from iStart (with the conv's reach of history in front), writes output columns from
    // jStart; the block length is the condition's column count.
    void process_(const Eigen::MatrixXf& input, const Eigen::MatrixXf& condition, Eigen::MatrixXf& headInput,
                  Eigen::MatrixXf& output, long iStart, long jStart);

    long get_channels() const;
    long get_kernel_size() const;
    long get_dilation() const;

private:
    _DilatedConv conv;
    Conv1x1 inputMixin;
    Conv1x1 _1x1;
    Eigen::MatrixXf z;
    activations::Activation* activation; // borrowed from the registry
    activations::Activation* sigmoid;    // the gate
    bool gated;
    long channels;
};

} // namespace nnet::wavenet
