#include "nnet/activations/ActivationFastTanh.h"

namespace nnet::activations {

ActivationFastTanh::~ActivationFastTanh() = default;

void ActivationFastTanh::apply(float* data, long size) {
    for (long i = 0; i < size; ++i) data[i] = fast_tanh(data[i]);
}

} // namespace nnet::activations
