#pragma once
#include "nnet/Conv1D.h"

namespace nnet::wavenet {

// The dilated convolution of a WaveNet layer.
class NNET_API _DilatedConv : public Conv1D {
public:
    _DilatedConv(int inChannels, int outChannels, int kernelSize, bool bias, int dilation);
};

} // namespace nnet::wavenet
