#pragma once
// The registry of fixed-size WaveNet shapes: one entry per shape, in the order <16, 8>, <12, 6>, <8, 4>,
// <4, 2>. The model factory asks it for the entry that a ".nam" document matches.
#include "neural/NeuralModel.h"

#include <nlohmann/json_fwd.hpp>

#include <memory>
#include <span>

namespace RuveroRidev {

class InternalWaveNetDefinition {
public:
    virtual ~InternalWaveNetDefinition() = default;
    // A new model of this shape with default level fields and no network.
    virtual std::unique_ptr<NeuralModel> CreateModel() const = 0;
    // Channels and head size of the shape's first layer array.
    virtual int GetNumChannels() const noexcept = 0;
    virtual int GetHeadSize() const noexcept = 0;
    // Floats of the "weights" list that a model of the shape reads.
    virtual int GetNumWeights() const noexcept = 0;

    // Every shape, in registry order.
    static std::span<const InternalWaveNetDefinition* const> Registry() noexcept;

    // The first registry entry whose shape the ".nam" document describes exactly: a non-gated "WaveNet" of two
    // tanh layer arrays with kernel size 3 and condition size 1, no head network, input sizes 1 and C, array 0
    // of C channels and head size H without head bias, array 1 of H channels and head size 1 with head bias,
    // and the shape's dilations. Null when none matches, including any document that is not such an object.
    static const InternalWaveNetDefinition* Find(const nlohmann::json& document) noexcept;
};

} // namespace RuveroRidev
