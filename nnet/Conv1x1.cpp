#include "nnet/Conv1x1.h"

namespace nnet {

Conv1x1::Conv1x1(int inChannels, int outChannels, bool doBias) : doBias(doBias) {
    weight.resize(outChannels, inChannels);
    if (doBias) bias.resize(outChannels);
}

void Conv1x1::set_weights_(weights_it& weights) {
    for (long i = 0; i < weight.rows(); ++i)
        for (long j = 0; j < weight.cols(); ++j) weight(i, j) = *(weights++);
    if (doBias)
        for (long i = 0; i < bias.size(); ++i) bias(i) = *(weights++);
}

Eigen::MatrixXf Conv1x1::process(const Eigen::MatrixXf& input) const {
    if (doBias) return (weight * input).colwise() + bias;
    return weight * input;
}

} // namespace nnet
