#pragma once
// A WaveNet model of one of the four fixed shapes, named by the channel count C and head size H of its first
// layer array: <16, 8>, <12, 6>, <8, 4> and <4, 2>. Every size is a template constant, so a block runs through
// fixed-size products only, and all storage is allocated when the model is loaded.
//
//   shape    array 0: C channels, head H, dilations     array 1: H channels, head 1, dilations
//   <16, 8>  1, 2, 4, ..., 512                           1, 2, 4, ..., 512
//   others   1, 2, 4, ..., 64                            128, 256, 512, 1, 2, 4, ..., 512
//
// Kernel size 3, condition size 1, non-gated tanh layers, no head bias in array 0 and one in array 1.
#include "neural/InternalModel.h"
#include "neural/ModelLimits.h"
#include "neural/WaveNetLayerArrayT.h"
#include "neural/WaveNetModelT.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <memory>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace RuveroRidev {

template <int C, int H>
class InternalWaveNetModelT final : public InternalModel {
public:
    using Dilations0 = std::conditional_t<C == 16, std::integer_sequence<int, 1, 2, 4, 8, 16, 32, 64, 128, 256, 512>,
                                          std::integer_sequence<int, 1, 2, 4, 8, 16, 32, 64>>;
    using Dilations1 =
        std::conditional_t<C == 16, std::integer_sequence<int, 1, 2, 4, 8, 16, 32, 64, 128, 256, 512>,
                           std::integer_sequence<int, 128, 256, 512, 1, 2, 4, 8, 16, 32, 64, 128, 256, 512>>;
    using Array0 = WaveNetLayerArrayT<1, 1, H, C, 3, Dilations0, false>;
    using Array1 = WaveNetLayerArrayT<C, 1, 1, H, 3, Dilations1, true>;
    using Network = WaveNetModelT<Array0, Array1>;

    // Floats of the model file's "weights" list that a load consumes.
    static constexpr int NumWeights = Network::NumWeights;

    // Null until CreateModelFromNAMJson has built and filled a network.
    std::unique_ptr<Network> network;

    bool IsStatic() const noexcept override { return true; }
    // The model works in chunks of at most 16 frames whatever block size its caller announces.
    void SetMaxAudioBufferSize(int) override {}
    int GetReceptiveFieldSize() const noexcept override;
    std::int64_t MultiplyAddsPerSample() const noexcept override {
        return network ? Network::MultiplyAddsPerSample : 0;
    }
    double ActivationCyclesPerSample() const noexcept override {
        return network ? double(Network::TanhsPerSample) * ModelLimits::deviceCyclesPerTanh : 0.0;
    }
    std::int64_t MemoryBytes() const noexcept override {
        return network ? std::int64_t(sizeof(Network)) + std::int64_t(sizeof(float)) * Network::HeapFloats : 0;
    }
    // Any number of frames, cut into chunks of at most 16. Without a network the output is silence.
    void Process(float* input, float* output, unsigned long numFrames) noexcept override;
    // Does nothing without a network.
    void Prewarm() noexcept override;
    // Replaces the network by a new one filled from the document's "weights" list (the document must also have
    // "config"; its value is not read here). Throws the JSON library's exception for a missing member or a
    // non-numeric weight and std::invalid_argument for a list shorter than NumWeights or a weight that is not
    // a finite float; floats beyond NumWeights are ignored. After a throw the model has no network. Returns true.
    bool CreateModelFromNAMJson(const nlohmann::json& modelJson) override;
};

template <int C, int H>
int InternalWaveNetModelT<C, H>::GetReceptiveFieldSize() const noexcept {
    return network ? network->receptiveFieldSize : -1;
}

template <int C, int H>
void InternalWaveNetModelT<C, H>::Process(float* input, float* output, unsigned long numFrames) noexcept {
    if (!network) {
        std::fill_n(output, numFrames, 0.0f);
        return;
    }
    while (numFrames > 0) {
        const unsigned long chunk = std::min<unsigned long>(numFrames, waveNetChunkFrames);
        network->Process(input, output, chunk);
        input += chunk;
        output += chunk;
        numFrames -= chunk;
    }
}

template <int C, int H>
void InternalWaveNetModelT<C, H>::Prewarm() noexcept {
    if (network) {
        network->Prewarm();
    }
}

template <int C, int H>
bool InternalWaveNetModelT<C, H>::CreateModelFromNAMJson(const nlohmann::json& modelJson) {
    // The old network goes first, so two of them never hold memory at once.
    network.reset();
    auto fresh = std::make_unique<Network>();
    static_cast<void>(modelJson.at("config"));
    const std::vector<float> weights = modelJson.at("weights").template get<std::vector<float>>();
    if (weights.size() < std::size_t(NumWeights)) {
        throw std::invalid_argument("model file has " + std::to_string(weights.size()) + " weights, its shape needs " +
                                    std::to_string(NumWeights));
    }
    // A number beyond the float range (1e39) converts to infinity without a word; one such weight silences or
    // distorts the whole model, so it is refused like the runtime-sized loader refuses it.
    const auto nonFinite = std::find_if(weights.cbegin(), weights.cbegin() + NumWeights,
                                        [](float weight) { return !std::isfinite(weight); });
    if (nonFinite != weights.cbegin() + NumWeights) {
        throw std::invalid_argument("weight " + std::to_string(nonFinite - weights.cbegin()) +
                                    " is not a finite float");
    }
    auto position = weights.cbegin();
    fresh->SetWeights(position);
    network = std::move(fresh);
    SetMaxAudioBufferSize(defaultMaxAudioBufferSize);
    return true;
}

extern template class InternalWaveNetModelT<16, 8>;
extern template class InternalWaveNetModelT<12, 6>;
extern template class InternalWaveNetModelT<8, 4>;
extern template class InternalWaveNetModelT<4, 2>;

} // namespace RuveroRidev
