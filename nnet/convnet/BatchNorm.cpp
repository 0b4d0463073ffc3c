#include "nnet/convnet/BatchNorm.h"

#include <cmath>

namespace nnet::convnet {

BatchNorm::BatchNorm(int channels, weights_it& weights) {
    Eigen::VectorXf runningMean(channels);
    Eigen::VectorXf runningVariance(channels);
    Eigen::VectorXf weight(channels);
    Eigen::VectorXf bias(channels);
    for (Eigen::VectorXf* values : {&runningMean, &runningVariance, &weight, &bias})
        for (int i = 0; i < channels; ++i) (*values)(i) = *(weights++);
    const float eps = *(weights++);

    scale.resize(channels);
    loc.resize(channels);
    for (int i = 0; i < channels; ++i) {
        const float variance = eps + runningVariance(i);
        scale(i) = static_cast<float>(weight(i) / std::sqrt(static_cast<double>(variance)));
        loc(i) = std::fma(-scale(i), runningMean(i), bias(i));
    }
}

void BatchNorm::process_(Eigen::MatrixXf& x, long iStart, long iEnd) const {
    for (long i = iStart; i < iEnd; ++i) {
        x.col(i) = x.col(i).cwiseProduct(scale);
        x.col(i) += loc;
    }
}

} // namespace nnet::convnet
