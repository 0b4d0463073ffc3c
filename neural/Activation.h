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
            ByRuns(block, [](auto&& run) { FastMath::Tanh(run); });
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
            ByRuns(block, [](auto&& run) { FastMath::Logistic(run); });
            break;
        }
    }

    // Replaces count packets of values by their activation times the logistic of as many gates. Where the
    // activation is a quotient (the fast tanh, the logistic) it shares the gate's division.
    template <int Count, class Packet>
    EIGEN_ALWAYS_INLINE void ApplyGated(Packet (&values)[Count], const Packet (&gates)[Count]) const noexcept {
        using namespace Eigen::internal;
        Packet numerator[Count], denominator[Count], activationNumerator[Count], activationDenominator[Count];
        FastMath::LogisticFractions(gates, numerator, denominator);
        if (kind == Kind::Tanh || kind == Kind::FastTanh) {
            FastMath::TanhFractions(values, activationNumerator, activationDenominator);
        } else if (kind == Kind::Sigmoid) {
            FastMath::LogisticFractions(values, activationNumerator, activationDenominator);
        } else {
            for (int i = 0; i < Count; ++i) {
                activationNumerator[i] = Clamped(values[i]);
                activationDenominator[i] = pset1<Packet>(1.0f);
            }
        }
#pragma GCC unroll 16
        for (int i = 0; i < Count; ++i) {
            numerator[i] = pmul(numerator[i], activationNumerator[i]);
            denominator[i] = pmul(denominator[i], activationDenominator[i]);
        }
        FastMath::Quotients(numerator, denominator);
#pragma GCC unroll 16
        for (int i = 0; i < Count; ++i) {
            values[i] = denominator[i];
        }
    }

private:
    // Column by column when the block's columns are not one run (rows of a wider matrix).
    template <class Block, class Function>
    static void ByRuns(Block&& block, const Function& function) noexcept {
        if (block.outerStride() == block.rows()) {
            function(block);
        } else {
            for (Eigen::Index column = 0; column < block.cols(); ++column) {
                function(block.col(column));
            }
        }
    }

    // The clamps (hard tanh, ReLU, leaky ReLU) of one packet.
    template <class Packet>
    EIGEN_ALWAYS_INLINE Packet Clamped(const Packet& x) const noexcept {
        using namespace Eigen::internal;
        switch (kind) {
        case Kind::HardTanh:
            return pmin(pmax(x, pset1<Packet>(-1.0f)), pset1<Packet>(1.0f));
        case Kind::ReLU:
            return pmax(x, pset1<Packet>(0.0f));
        case Kind::LeakyReLU:
            return pmax(x, pmul(x, pset1<Packet>(leakyReLUSlope)));
        default:
            return x;
        }
    }
};

} // namespace RuveroRidev
