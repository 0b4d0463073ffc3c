#include "nnet/wavenet/_Layer.h"

namespace nnet::wavenet {

_Layer::_Layer(int conditionSize, int channels, int kernelSize, int dilation, const std::string& activation, bool gated)
    : conv(channels, gated ? 2 * channels : channels, kernelSize, true, dilation),
      inputMixin(conditionSize, gated ? 2 * channels : channels, false),
      _1x1(channels, channels, true),
      activation(activations::Activation::get_activation(activation)),
      sigmoid(activations::Activation::get_activation("Sigmoid")),
      gated(gated),
      channels(channels) {}

void _Layer::set_weights_(weights_it& weights) {
    conv.set_weights_(weights);
    inputMixin.set_weights_(weights);
    _1x1.set_weights_(weights);
}

void _Layer::set_num_frames_(long numFrames) {
    const long rows = conv.get_out_channels();
    if (z.rows() == rows && z.cols() == numFrames) return;
    z.resize(rows, numFrames);
    z.setZero();
}

void _Layer::process_(const Eigen::MatrixXf& input, const Eigen::MatrixXf& condition, Eigen::MatrixXf& headInput,
                      Eigen::MatrixXf& output, long iStart, long jStart) {
    const long numFrames = condition.cols();
    conv.process_(input, z, iStart, numFrames, 0);
    z += inputMixin.process(condition);
    if (!gated) {
        activation->apply(z);
    } else {
        for (long t = 0; t < numFrames; ++t) {
            activation->apply(z.block(0, t, channels, 1));
            sigmoid->apply(z.block(channels, t, channels, 1));
        }
        z.topRows(channels).array() *= z.bottomRows(channels).array();
    }
    headInput += z.topRows(channels);
    if (gated)
        output.middleCols(jStart, numFrames) =
            input.middleCols(iStart, numFrames) + _1x1.process(Eigen::MatrixXf(z.topRows(channels)));
    else output.middleCols(jStart, numFrames) = input.middleCols(iStart, numFrames) + _1x1.process(z);
}

long _Layer::get_channels() const { return channels; }

long _Layer::get_kernel_size() const { return conv.get_kernel_size(); }

long _Layer::get_dilation() const { return conv.get_dilation(); }

} // namespace nnet::wavenet
