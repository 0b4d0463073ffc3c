#include "nnet/convnet/ConvNetBlock.h"

namespace nnet::convnet {

void ConvNetBlock::set_weights_(int inChannels, int outChannels, int dilation, bool batchnorm,
                                const std::string& activation, weights_it& weights) {
    batchnormOn = batchnorm;
    conv.set_size_and_weights_(inChannels, outChannels, 2, dilation, !batchnorm, weights);
    if (batchnorm) this->batchnorm = BatchNorm(outChannels, weights);
    this->activation = activations::Activation::get_activation(activation);
}

void ConvNetBlock::process_(const Eigen::MatrixXf& input, Eigen::MatrixXf& output, long iStart, long iEnd) const {
    const long numColumns = iEnd - iStart;
    conv.process_(input, output, iStart, numColumns, iStart);
    if (batchnormOn) batchnorm.process_(output, iStart, iEnd);
    activation->apply(output.middleCols(iStart, numColumns));
}

long ConvNetBlock::get_out_channels() const { return conv.get_out_channels(); }

} // namespace nnet::convnet
