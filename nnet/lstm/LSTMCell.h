#pragma once
#include "nnet/DSP.h"

#include <Eigen/Dense>

namespace nnet::lstm {

// One LSTM cell, stepped one time step at a time. The hidden state is the tail of the joined input and
// hidden vector, so the weight product always sees (current input, previous hidden state).
class NNET_API LSTMCell {
public:
    // Reads W row by row (4H rows of I + H columns, gates in the order input, forget, candidate, output),
    // then the bias, the initial hidden state and the initial cell state.
    LSTMCell(int inputSize, int hiddenSize, weights_it& weights);

    void process_(const Eigen::Ref<const Eigen::VectorXf>& x);
    Eigen::Ref<const Eigen::VectorXf> get_hidden_state() const;

private:
    long inputSize;
    long hiddenSize;
    Eigen::MatrixXf W;
    Eigen::VectorXf b;
    Eigen::VectorXf xh;
    Eigen::VectorXf ifgo;
    Eigen::VectorXf c;
};

} // namespace nnet::lstm
