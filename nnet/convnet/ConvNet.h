#pragma once
#include "nnet/Buffer.h"
#include "nnet/convnet/ConvNetBlock.h"
#include "nnet/convnet/_Head.h"

#include <Eigen/Dense>
#include <string>
#include <vector>

namespace nnet::convnet {

// A stack of dilated two-tap convolution blocks and a linear head. Every block's output is kept in a matrix
// whose columns line up with the input buffer's indices, so a block of samples is computed as column ranges.
class NNET_API ConvNet : public Buffer {
public:
    ConvNet(int channels, const std::vector<int>& dilations, bool batchnorm, const std::string& activation,
            std::vector<float>& weights, double expectedSampleRate);
    ~ConvNet() override;

    void process(float* input, float* output, int numFrames) override;
    int PrewarmSamples() override;
    void _update_buffers_(float* input, int numFrames) override;
    void _rewind_buffers_() override;

private:
    std::vector<ConvNetBlock> blocks;
    std::vector<Eigen::MatrixXf> blockValues; // input first, then each block's output
    Eigen::VectorXf headOutput;
    _Head head;
    int prewarmSampleCount = 0;
};

} // namespace nnet::convnet
