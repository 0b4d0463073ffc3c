#pragma once
#include "nnet/activations/Activation.h"

namespace nnet::activations {

// x above 0, else 0.
class NNET_API ActivationReLU : public Activation {
public:
    constexpr ActivationReLU() = default;
    ~ActivationReLU() override;

    using Activation::apply;
    void apply(float* data, long size) override;
};

} // namespace nnet::activations
