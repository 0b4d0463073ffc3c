#pragma once
// The LSTM model of ".nam" files: a stack of LSTM layers stepped one sample at a time, followed by a linear
// head that turns the last layer's hidden state into the output sample. Configuration: "num_layers" (0 passes
// the input through), "input_size" (1: the input sample) and "hidden_size". Weights, front to back: each
// layer's W row by row, b, initial hidden and initial cell state (LstmCell), then H head weights and the head
// bias.
#include "neural/InternalModel.h"
#include "neural/LstmCell.h"

#include <Eigen/Core>
#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <vector>

namespace RuveroRidev {

class LstmModel final : public InternalModel {
public:
    // The model runs sample by sample whatever block size its caller announces.
    void SetMaxAudioBufferSize(int) override {}
    // Any number of frames; input and output may be the same array. Silence before a load.
    void Process(float* input, float* output, unsigned long numFrames) noexcept override;
    // Restores the initial state of the model file and runs silence until the state stops changing, within a
    // bounded number of samples: the state that an endless silent input leaves.
    void Prewarm() noexcept override;
    std::int64_t MultiplyAddsPerSample() const noexcept override { return multiplyAdds; }
    std::int64_t MemoryBytes() const noexcept override { return memoryBytes; }
    double ActivationCyclesPerSample() const noexcept override { return activationCycles; }
    // Checks the document's "config" against ModelLimits, then builds the layers and fills them from "weights",
    // which must hold exactly the count the configuration implies. Throws std::invalid_argument, naming the
    // reason, for anything it refuses; the model then keeps what it had. Returns true.
    bool CreateModelFromNAMJson(const nlohmann::json& modelJson) override;

    int NumLayers() const noexcept { return int(layers.size()); }
    // Silent samples that Prewarm runs at most.
    int PrewarmLimit() const noexcept { return prewarmLimit; }

private:
    float ProcessSample(float sample) noexcept;

    bool loaded = false;
    std::vector<LstmCell> layers;
    Eigen::VectorXf headWeights;
    float headBias = 0.0f;
    int prewarmLimit = 0;
    std::int64_t multiplyAdds = 0;
    std::int64_t memoryBytes = 0;
    double activationCycles = 0.0;
};

} // namespace RuveroRidev
