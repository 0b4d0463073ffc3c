#include "nnet/activations/ActivationSigmoid.h"

#include <cmath>

namespace nnet::activations {

ActivationSigmoid::~ActivationSigmoid() = default;

void ActivationSigmoid::apply(float* data, long size) {
    for (long i = 0; i < size; ++i) data[i] = 1.0f / (1.0f + std::exp(-data[i]));
}

} // namespace nnet::activations
