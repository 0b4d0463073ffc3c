#include "nnet/activations/ActivationLeakyReLU.h"

namespace nnet::activations {

ActivationLeakyReLU::~ActivationLeakyReLU() = default;

void ActivationLeakyReLU::apply(float* data, long size) {
    for (long i = 0; i < size; ++i) data[i] = data[i] > 0.0f ? data[i] : 0.01f * data[i];
}

} // namespace nnet::activations
