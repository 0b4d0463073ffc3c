#pragma once
#include "nnet/DSP.h"
#include "nnet/lstm/LSTMCell.h"

#include <Eigen/Dense>
#include <vector>

namespace nnet::lstm {

// A stack of LSTM cells run one sample at a time, and a linear head on the last cell's hidden state.
class NNET_API LSTM : public DSP {
public:
    // Weights: each layer's cell in order, then the head weight (hidden size values) and the head bias.
    LSTM(int numLayers, int inputSize, int hiddenSize, std::vector<float>& weights, double expectedSampleRate);
    ~LSTM() override;

    void process(float* input, float* output, int numFrames) override;
    int PrewarmSamples() override;
    float _process_sample(float x);

private:
    Eigen::VectorXf headWeight;
    float headBias = 0.0f;
    std::vector<LSTMCell> layers;
    Eigen::VectorXf input;
};

} // namespace nnet::lstm
