#include "nnet/activations/ActivationHardTanh.h"

#include <algorithm>

namespace nnet::activations {

ActivationHardTanh::~ActivationHardTanh() = default;

void ActivationHardTanh::apply(float* data, long size) {
    for (long i = 0; i < size; ++i) data[i] = std::min(std::max(data[i], -1.0f), 1.0f);
}

} // namespace nnet::activations
