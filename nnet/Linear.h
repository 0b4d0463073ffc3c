#pragma once
#include "nnet/Buffer.h"

#include <Eigen/Dense>
#include <vector>

namespace nnet {

// A finite impulse response over the receptive field, with an optional bias.
class NNET_API Linear : public Buffer {
public:
    // Weights are newest tap first, then the bias when there is one.
    Linear(int receptiveField, bool bias, const std::vector<float>& weights, double expectedSampleRate);
    ~Linear() override;

    void process(float* input, float* output, int numFrames) override;

protected:
    Eigen::VectorXf weight; // oldest tap first, so each output is one dot product over the history window
    float bias = 0.0f;
};

} // namespace nnet
