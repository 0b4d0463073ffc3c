#pragma once
#include "nnet/activations/Activation.h"

namespace nnet::activations {

// 1 / (1 + e^-x) with the single-precision exponential.
class NNET_API ActivationSigmoid : public Activation {
public:
    constexpr ActivationSigmoid() = default;
    ~ActivationSigmoid() override;

    using Activation::apply;
    void apply(float* data, long size) override;
};

} // namespace nnet::activations
