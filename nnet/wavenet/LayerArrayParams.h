#pragma once
#include "nnet/NnetExport.h"

#include <string>
#include <vector>

namespace nnet::wavenet {

// The description of one layer array, as the model file gives it.
class NNET_API LayerArrayParams {
public:
    LayerArrayParams(int inputSize, int conditionSize, int headSize, int channels, int kernelSize,
                     std::vector<int> dilations, std::string activation, bool gated, bool headBias);

    int input_size;
    int condition_size;
    int head_size;
    int channels;
    int kernel_size;
    std::vector<int> dilations;
    std::string activation;
    bool gated;
    bool head_bias;
};

} // namespace nnet::wavenet
