#pragma once
#include "nnet/Conv1x1.h"
#include "nnet/wavenet/_Layer.h"

#include <Eigen/Dense>
#include <string>
#include <vector>

namespace nnet::wavenet {

// A chain of dilated layers of one width with long history buffers: buffer i holds the input of layer i, and
// blocks are written at a moving start column so that history never has to be copied on ordinary blocks.
class NNET_API _LayerArray {
public:
    // Frames that fit between rewinds, on top of the receptive field's history.
    static constexpr long LAYER_ARRAY_BUFFER_SIZE = 65536;

    _LayerArray(int inputSize, int conditionSize, int headSize, int channels, int kernelSize,
                const std::vector<int>& dilations, const std::string& activation, bool gated, bool headBias);

    // Refuses sizes the array cannot be built or run with; returns the receptive field.
    static long _check_params_(int inputSize, int conditionSize, int headSize, int channels, int kernelSize,
                               const std::vector<int>& dilations, const std::string& activation, bool gated);

    // The rechannel, each layer in order, then the head rechannel.
    void set_weights_(weights_it& weights);
    void set_num_frames_(long numFrames);
    // Throws when a block of this length would not fit beside the receptive field.
    void _verify_num_frames_(long numFrames) const;
    void prepare_for_frames_(long numFrames);
    void advance_buffers_(int numFrames);
    void process_(const Eigen::MatrixXf& layerInputs, const Eigen::MatrixXf& condition, Eigen::MatrixXf& headInputs,
                  Eigen::MatrixXf& layerOutputs, Eigen::MatrixXf& headOutputs);

    long get_receptive_field() const;
    long _get_receptive_field() const;
    long _get_channels() const;
    void _rewind_buffers_();

private:
    long bufferStart;
    Conv1x1 rechannel;
    std::vector<Eigen::MatrixXf> layerBuffers;
    std::vector<_Layer> layers;
    Conv1x1 headRechannel;
};

} // namespace nnet::wavenet
