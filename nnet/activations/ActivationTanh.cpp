#include "nnet/activations/ActivationTanh.h"

#include <algorithm>
#include <cmath>

namespace nnet::activations {

namespace {

float rationalTanh(float x) {
    const float clamped = std::max(std::min(x, 7.905311f), -7.905311f);
    if (std::fabs(x) < 0.0004f) return clamped;
    const float s = clamped * clamped;
    float p = std::fma(-2.7607684e-16f, s, 2.000188e-13f);
    p = std::fma(p, s, -8.604672e-11f);
    p = std::fma(p, s, 5.1222973e-8f);
    p = std::fma(p, s, 1.48572235e-5f);
    p = std::fma(p, s, 0.00063726195f);
    p = std::fma(p, s, 0.0048935246f);
    float q = std::fma(1.1982584e-6f, s, 0.00011853471f);
    q = std::fma(q, s, 0.0022684347f);
    q = std::fma(q, s, 0.004893525f);
    return clamped * p / q;
}

} // namespace

ActivationTanh::~ActivationTanh() = default;

void ActivationTanh::apply(float* data, long size) {
    for (long i = 0; i < size; ++i) data[i] = rationalTanh(data[i]);
}

} // namespace nnet::activations
