#pragma once
#include "nnet/activations/Activation.h"

namespace nnet::activations {

// tanh as a rational approximation: an odd degree-13 numerator over an even degree-6 denominator on the
// input clamped to about +-7.9 (where it reaches 1 in single precision), and the identity near zero.
class NNET_API ActivationTanh : public Activation {
public:
    constexpr ActivationTanh() = default;
    ~ActivationTanh() override;

    using Activation::apply;
    void apply(float* data, long size) override;
};

} // namespace nnet::activations
