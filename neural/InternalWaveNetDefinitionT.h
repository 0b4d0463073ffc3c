#pragma once
// Registry entry of the fixed-size WaveNet shape <C, H>.
#include "neural/InternalWaveNetDefinition.h"
#include "neural/InternalWaveNetModelT.h"

#include <memory>

namespace RuveroRidev {

template <int C, int H>
class InternalWaveNetDefinitionT final : public InternalWaveNetDefinition {
public:
    std::unique_ptr<NeuralModel> CreateModel() const override {
        return std::make_unique<InternalWaveNetModelT<C, H>>();
    }
    int GetNumChannels() const noexcept override { return C; }
    int GetHeadSize() const noexcept override { return H; }
    int GetNumWeights() const noexcept override { return InternalWaveNetModelT<C, H>::NumWeights; }
};

} // namespace RuveroRidev
