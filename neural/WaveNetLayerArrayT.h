#pragma once
// One layer array of a fixed-size WaveNet: an input rechannel into the first layer's history, the layers in
// dilation order (each writing straight into the next one's history, the last into layerOutputs), and a head
// rechannel of the head sum that the layers add into.
#include "neural/DenseLayerT.h"
#include "neural/WaveNetLayerT.h"

#include <Eigen/Core>

#include <cstddef>
#include <cstdint>
#include <tuple>
#include <utility>

namespace RuveroRidev {

template <int InputSize, int ConditionSize, int HeadSize, int Channels, int KernelSize, class Dilations, bool HeadBias>
class WaveNetLayerArrayT;

template <int InputSize, int ConditionSize, int HeadSize, int Channels, int KernelSize, int... Ds, bool HeadBias>
class WaveNetLayerArrayT<InputSize, ConditionSize, HeadSize, Channels, KernelSize, std::integer_sequence<int, Ds...>,
                         HeadBias> {
public:
    using Layers = std::tuple<WaveNetLayerT<ConditionSize, Channels, KernelSize, Ds>...>;
    using Rechannel = DenseLayerT<InputSize, Channels, false>;
    using HeadRechannel = DenseLayerT<Channels, HeadSize, HeadBias>;
    using LayerOutputs = Eigen::Matrix<float, Channels, waveNetChunkFrames, Eigen::RowMajor>;
    using HeadOutputs = Eigen::Matrix<float, HeadSize, waveNetChunkFrames, Eigen::RowMajor>;

    static constexpr int InputRows = InputSize;
    static constexpr int ChannelRows = Channels;
    static constexpr int HeadRows = HeadSize;
    static constexpr std::size_t NumLayers = sizeof...(Ds);
    static constexpr int NumWeights = Rechannel::NumWeights +
                                      (WaveNetLayerT<ConditionSize, Channels, KernelSize, Ds>::NumWeights + ...) +
                                      HeadRechannel::NumWeights;

    Layers layers;
    Rechannel rechannel;
    HeadRechannel headRechannel;
    LayerOutputs layerOutputs = LayerOutputs::Zero();
    HeadOutputs headOutputs = HeadOutputs::Zero();
    static constexpr int ReceptiveFieldSize = (KernelSize - 1) * (Ds + ...);
    static constexpr std::int64_t MultiplyAddsPerSample =
        std::int64_t(InputSize) * Channels +
        (WaveNetLayerT<ConditionSize, Channels, KernelSize, Ds>::MultiplyAddsPerSample + ...) +
        std::int64_t(Channels) * HeadSize;
    // Every layer activates each of its channels once per sample.
    static constexpr std::int64_t TanhsPerSample = std::int64_t(NumLayers) * Channels;
    static constexpr std::int64_t HeapFloats =
        (WaveNetLayerT<ConditionSize, Channels, KernelSize, Ds>::HeapFloats + ...);
    int receptiveFieldSize = ReceptiveFieldSize;

    // One block of numFrames (1 .. 16) frames. input: InputSize x 16 (the first numFrames columns are read);
    // condition: ConditionSize x numFrames floats; head: a row-major Channels x 16 matrix that the layers add
    // into and the head rechannel reads. Leaves the last layer's output in layerOutputs and the head
    // rechannel's in headOutputs, first numFrames columns.
    template <class Input, class Head>
    void Process(const Input& input, const float* condition, Head& head, std::uint64_t numFrames) noexcept {
        auto& first = std::get<0>(layers);
        ForChunkColumns(numFrames, [&](auto width, Eigen::Index frame) {
            constexpr int Width = decltype(width)::value;
            rechannel.Process(input.template middleCols<Width>(frame),
                              first.history.template middleCols<Width>(Eigen::Index(first.writePosition) + frame));
        });
        ProcessLayers<0>(condition, head, numFrames);
        ForChunkColumns(numFrames, [&](auto width, Eigen::Index frame) {
            constexpr int Width = decltype(width)::value;
            headRechannel.Process(head.template middleCols<Width>(frame),
                                  headOutputs.template middleCols<Width>(frame));
        });
    }

    // Settles every layer history to the steady state of a constant input: the first layer's input is the
    // rechannel of input column 0, each layer runs once on its steady input, and each history is filled with
    // its steady column from column 0 through the write position. layerOutputs column 0 receives the array's
    // steady output. Head column 0 is used as scratch; no write position changes.
    template <class Input, class Head>
    void Prewarm(const Input& input, const float* condition, Head& head) noexcept {
        auto& first = std::get<0>(layers);
        rechannel.Process(input.template middleCols<1>(0),
                          first.history.template middleCols<1>(Eigen::Index(first.writePosition)));
        first.FillHistoryBelowWritePosition();
        PrewarmLayers<0>(condition, head);
    }

    template <class Iterator>
    void SetWeights(Iterator& position) {
        rechannel.SetWeights(position);
        std::apply([&](auto&... layer) { (layer.SetWeights(position), ...); }, layers);
        headRechannel.SetWeights(position);
    }

private:
    // Each layer's history moves on right after its own step, before the next layer runs.
    template <std::size_t I, class Head>
    void ProcessLayers(const float* condition, Head& head, std::uint64_t numFrames) noexcept {
        auto& layer = std::get<I>(layers);
        if constexpr (I + 1 < NumLayers) {
            auto& next = std::get<I + 1>(layers);
            layer.Process(condition, head, next.history, next.writePosition, numFrames);
            layer.AdvanceHistory(numFrames);
            ProcessLayers<I + 1>(condition, head, numFrames);
        } else {
            layer.Process(condition, head, layerOutputs, 0, numFrames);
            layer.AdvanceHistory(numFrames);
        }
    }

    template <std::size_t I, class Head>
    void PrewarmLayers(const float* condition, Head& head) noexcept {
        auto& layer = std::get<I>(layers);
        if constexpr (I + 1 < NumLayers) {
            auto& next = std::get<I + 1>(layers);
            layer.ProcessOneFrame(condition, head, next.history, next.writePosition);
            next.FillHistoryBelowWritePosition();
            PrewarmLayers<I + 1>(condition, head);
        } else {
            layer.ProcessOneFrame(condition, head, layerOutputs, 0);
        }
    }
};

} // namespace RuveroRidev
