#include "nnet/wavenet/LayerArrayParams.h"

#include <utility>

namespace nnet::wavenet {

LayerArrayParams::LayerArrayParams(int inputSize, int conditionSize, int headSize, int channels, int kernelSize,
                                   std::vector<int> dilations, std::string activation, bool gated, bool headBias)
    : input_size(inputSize),
      condition_size(conditionSize),
      head_size(headSize),
      channels(channels),
      kernel_size(kernelSize),
      dilations(std::move(dilations)),
      activation(std::move(activation)),
      gated(gated),
      head_bias(headBias) {}

} // namespace nnet::wavenet
