#pragma once
#include "nnet/DSP.h"
#include "nnet/wavenet/LayerArrayParams.h"
#include "nnet/wavenet/_LayerArray.h"

#include <Eigen/Dense>
#include <vector>

namespace nnet::wavenet {

// A chain of layer arrays whose layers all add into one running head sum; the input block is both the
// first array's input and every layer's condition, and the last head rechannel gives the one-row output.
class NNET_API WaveNet : public DSP {
public:
    // The head scale given here is replaced by the last weight.
    WaveNet(const std::vector<LayerArrayParams>& layerArrayParams, float headScale, bool withHead,
            std::vector<float> weights, double expectedSampleRate);
    ~WaveNet() override;

    void process(float* input, float* output, int numFrames) override;
    int PrewarmSamples() override;
    virtual int _get_condition_dim();
    virtual void _set_condition_array(float* input, int numFrames);

    // Every array's weights in order, then the head scale; refused whole unless the count is exact.
    void set_weights_(std::vector<float>& weights);
    void _set_num_frames_(long numFrames);
    void _prepare_for_frames_(long numFrames);
    void _advance_buffers_(int numFrames);

private:
    long numFrames = 0;
    std::vector<_LayerArray> layerArrays;
    std::vector<Eigen::MatrixXf> layerArrayOutputs;
    Eigen::MatrixXf condition;
    std::vector<Eigen::MatrixXf> headArrays; // entry i is array i's head input, entry i + 1 its head output
    float headScale;
    int prewarmSampleCount = 0;
    long numWeights = 0;
};

} // namespace nnet::wavenet
