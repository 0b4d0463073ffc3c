#pragma once
#include "nnet/activations/Activation.h"

namespace nnet::activations {

// x above 0, else 0.01 x.
class NNET_API ActivationLeakyReLU : public Activation {
public:
    constexpr ActivationLeakyReLU() = default;
    ~ActivationLeakyReLU() override;

    using Activation::apply;
    void apply(float* data, long size) override;
};

} // namespace nnet::activations
