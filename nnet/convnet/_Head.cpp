#include "nnet/convnet/_Head.h"

namespace nnet::convnet {

_Head::_Head(int channels, weights_it& weights) {
    weight.resize(channels);
    for (int i = 0; i < channels; ++i) weight(i) = *(weights++);
    bias = *(weights++);
}

void _Head::process_(const Eigen::MatrixXf& input, Eigen::VectorXf& output, long iStart, long iEnd) const {
    output.resize(iEnd - iStart);
    for (long t = 0; t < iEnd - iStart; ++t) output(t) = bias + input.col(iStart + t).dot(weight);
}

} // namespace nnet::convnet
