#pragma once
// A WaveNet model whose sizes are read from its ".nam" file: any number of layer arrays, any channel counts,
// head sizes, kernel size and dilations, gated or not, with any activation that Activation names. It serves
// the files that match no fixed-size shape. Storage is allocated when the model loads; a block runs in chunks
// of at most 16 frames without allocation or locks.
#include "neural/InternalModel.h"
#include "neural/RuntimeWaveNet.h"
#include "neural/RuntimeWaveNetLayerArray.h"

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <memory>
#include <vector>

namespace RuveroRidev {

class RuntimeWaveNetModel final : public InternalModel {
public:
    // Null until CreateModelFromNAMJson has built and filled a network.
    std::unique_ptr<RuntimeWaveNet> network;

    // The model works in chunks of at most 16 frames whatever block size its caller announces.
    void SetMaxAudioBufferSize(int) override {}
    // -1 without a network.
    int GetReceptiveFieldSize() const noexcept override;
    std::int64_t MultiplyAddsPerSample() const noexcept override { return multiplyAdds; }
    std::int64_t MemoryBytes() const noexcept override { return memoryBytes; }
    double ActivationCyclesPerSample() const noexcept override { return activationCycles; }
    // Any number of frames; input and output may be the same array. Silence without a network.
    void Process(float* input, float* output, unsigned long numFrames) noexcept override;
    // Does nothing without a network.
    void Prewarm() noexcept override;
    // Reads the shapes from the document's "config", checks them against ModelLimits, then builds a network and
    // fills it from "weights", which must hold exactly the count the shapes imply. Throws
    // std::invalid_argument, naming the reason, for anything it refuses; the model then keeps the network it
    // had. Returns true.
    bool CreateModelFromNAMJson(const nlohmann::json& modelJson) override;

    // The layer-array shapes of a WaveNet "config", checked: every member present and in range, the arrays
    // chained, no head network, and the whole model within ModelLimits. Throws std::invalid_argument.
    static std::vector<RuntimeWaveNetLayerArray::Shape> ReadShapes(const nlohmann::json& config);

private:
    std::int64_t multiplyAdds = 0;
    std::int64_t memoryBytes = 0;
    double activationCycles = 0.0;
};

} // namespace RuveroRidev
