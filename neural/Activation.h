#pragma once
// The element-wise activations that model files name, applied in place to a block of a float matrix. Names are
// matched exactly, letter case included. "Tanh" is the fast tanh of the fixed-size WaveNet path, so a file
// sounds the same whichever path runs it; "Fasttanh" is the same function under its own name.
#include "neural/FastMath.h"
#include "neural/ModelLimits.h"

#include <Eigen/Core>

#include <string>

namespace RuveroRidev {

class Activation {
public:
    enum class Kind { Tanh, FastTanh, HardTanh, ReLU, LeakyReLU, Sigmoid };

    static constexpr float leakyReLUSlope = 0.01f;

    Kind kind = Kind::Tanh;

    // Throws std::invalid_argument for a name that is not one of "Tanh", "Fasttanh", "Hardtanh", "ReLU",
    // "LeakyReLU", "Sigmoid".
    static Activation FromName(const std::string& name);

    // What one value costs on the device's core, in cycles.
    double DeviceCycles() const noexcept {
        switch (kind) {
        case Kind::Tanh:
        case Kind::FastTanh:
            return ModelLimits::deviceCyclesPerTanh;
        case Kind::Sigmoid:
            return ModelLimits::deviceCyclesPerLogistic;
        case Kind::HardTanh:
        case Kind::ReLU:
        case Kind::LeakyReLU:
            break;
        }
        return ModelLimits::deviceCyclesPerClamp;
    }

    // Replaces every value of the block by its activation.
    template <class Block>
    void Apply(Block&& block) const noexcept {
        auto values = block.array();
        switch (kind) {
        case Kind::Tanh:
        case Kind::FastTanh:
            // Column by column when the block's columns are not one run (the upper half of a gated layer).
            if (block.outerStride() == block.rows()) {
                FastMath::Tanh(block);
            } else {
                for (Eigen::Index column = 0; column < block.cols(); ++column) {
                    FastMath::Tanh(block.col(column));
                }
            }
            break;
        case Kind::HardTanh:
            values = values.max(-1.0f).min(1.0f);
            break;
        case Kind::ReLU:
            values = values.max(0.0f);
            break;
        case Kind::LeakyReLU:
            values = (values > 0.0f).select(values, leakyReLUSlope * values);
            break;
        case Kind::Sigmoid:
            values = values.logistic();
            break;
        }
    }
};

} // namespace RuveroRidev
