#include "nnet/Conv1D.h"

namespace nnet {

void Conv1D::set_size_(int inChannels, int outChannels, int kernelSize, bool doBias, int dilation) {
    weight.resize(kernelSize);
    for (Eigen::MatrixXf& tap : weight) tap.resize(outChannels, inChannels);
    bias.resize(doBias ? outChannels : 0);
    this->dilation = dilation;
}

void Conv1D::set_weights_(weights_it& weights) {
    if (!weight.empty()) {
        const long outChannels = weight[0].rows();
        const long inChannels = weight[0].cols();
        for (long i = 0; i < outChannels; ++i)
            for (long j = 0; j < inChannels; ++j)
                for (Eigen::MatrixXf& tap : weight) tap(i, j) = *(weights++);
    }
    for (long i = 0; i < bias.size(); ++i) bias(i) = *(weights++);
}

void Conv1D::set_size_and_weights_(int inChannels, int outChannels, int kernelSize, int dilation, bool doBias,
                                   weights_it& weights) {
    set_size_(inChannels, outChannels, kernelSize, doBias, dilation);
    set_weights_(weights);
}

long Conv1D::get_num_weights() const {
    long count = bias.size();
    for (const Eigen::MatrixXf& tap : weight) count += tap.size();
    return count;
}

long Conv1D::get_in_channels() const { return weight.empty() ? 0 : weight[0].cols(); }

long Conv1D::get_out_channels() const { return weight.empty() ? 0 : weight[0].rows(); }

long Conv1D::get_kernel_size() const { return static_cast<long>(weight.size()); }

int Conv1D::get_dilation() const { return dilation; }

void Conv1D::process_(const Eigen::MatrixXf& input, Eigen::MatrixXf& output, long iStart, long numColumns,
                      long jStart) const {
    const long kernelSize = static_cast<long>(weight.size());
    for (long k = 0; k < kernelSize; ++k) {
        const long shift = static_cast<long>(dilation) * (k + 1 - kernelSize);
        const auto taps = input.middleCols(iStart + shift, numColumns);
        if (k == 0) output.middleCols(jStart, numColumns) = weight[k] * taps;
        else output.middleCols(jStart, numColumns) += weight[k] * taps;
    }
    if (bias.size() > 0) output.middleCols(jStart, numColumns).colwise() += bias;
}

} // namespace nnet
