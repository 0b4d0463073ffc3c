#include "nnet/activations/ActivationReLU.h"

namespace nnet::activations {

ActivationReLU::~ActivationReLU() = default;

void ActivationReLU::apply(float* data, long size) {
    for (long i = 0; i < size; ++i) data[i] = data[i] > 0.0f ? data[i] : 0.0f;
}

} // namespace nnet::activations
