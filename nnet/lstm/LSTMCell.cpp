#include "nnet/lstm/LSTMCell.h"

#include "nnet/activations/Activation.h"
#include "nnet/activations/ActivationFastTanh.h"

#include <cmath>

namespace nnet::lstm {

namespace {

using activations::ActivationFastTanh;

float sigmoid(float v) {
    if (activations::Activation::using_fast_tanh) return 0.5f * (ActivationFastTanh::fast_tanh(0.5f * v) + 1.0f);
    return 1.0f / (1.0f + std::exp(-v));
}

float hyperbolicTangent(float v) {
    return activations::Activation::using_fast_tanh ? ActivationFastTanh::fast_tanh(v) : std::tanh(v);
}

} // namespace

LSTMCell::LSTMCell(int inputSize, int hiddenSize, weights_it& weights)
    : inputSize(inputSize),
      hiddenSize(hiddenSize),
      W(4L * hiddenSize, inputSize + hiddenSize),
      b(4L * hiddenSize),
      xh(inputSize + hiddenSize),
      ifgo(4L * hiddenSize),
      c(hiddenSize) {
    for (long row = 0; row < W.rows(); ++row)
        for (long column = 0; column < W.cols(); ++column) W(row, column) = *(weights++);
    for (long i = 0; i < b.size(); ++i) b(i) = *(weights++);
    xh.setZero();
    for (long i = 0; i < hiddenSize; ++i) xh(inputSize + i) = *(weights++);
    for (long i = 0; i < hiddenSize; ++i) c(i) = *(weights++);
}

void LSTMCell::process_(const Eigen::Ref<const Eigen::VectorXf>& x) {
    xh.head(inputSize) = x;
    ifgo.noalias() = W * xh;
    ifgo += b;
    const long h = hiddenSize;
    // The whole cell state is updated before the hidden state reads it.
    for (long k = 0; k < h; ++k)
        c(k) = sigmoid(ifgo(h + k)) * c(k) + sigmoid(ifgo(k)) * hyperbolicTangent(ifgo(2 * h + k));
    for (long k = 0; k < h; ++k) xh(inputSize + k) = sigmoid(ifgo(3 * h + k)) * hyperbolicTangent(c(k));
}

Eigen::Ref<const Eigen::VectorXf> LSTMCell::get_hidden_state() const { return xh.tail(hiddenSize); }

} // namespace nnet::lstm
