#include "nnet/wavenet/_DilatedConv.h"

namespace nnet::wavenet {

_DilatedConv::_DilatedConv(int inChannels, int outChannels, int kernelSize, bool bias, int dilation) {
    set_size_(inChannels, outChannels, kernelSize, bias, dilation);
}

} // namespace nnet::wavenet
