#pragma once
#include "nnet/activations/Activation.h"

namespace nnet::activations {

// min(max(x, -1), 1).
class NNET_API ActivationHardTanh : public Activation {
public:
    constexpr ActivationHardTanh() = default;
    ~ActivationHardTanh() override;

    using Activation::apply;
    void apply(float* data, long size) override;
};

} // namespace nnet::activations
