#pragma once
// The check a model file passes before it may replace a player's slot: the player must be able to build it,
// take it (its level metadata within NeuralModel::maxAdjustmentDb, its cost within the frame share of
// ModelBudget) and play it as the player will. It runs on the thread that commits an upload, so it stays cheap:
// the document is parsed once, the model is built from it (within ModelLimits), prewarmed, and given a short
// sine sweep at -12 dBFS that ends at the loudest input the player can give it (full scale, the drive at its
// top), both through the file's level adjustments. Weights that are each finite can still add up to a network whose output is not (or is far beyond
// any level the chain handles): the player would then only clear and prewarm it again and again.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace RuveroRidev {

class NeuralModel;

class ModelCheck {
public:
    // Output level, above which a model is refused: +40 dBFS. A hot model below it is not a fault; the
    // player's level adjustments and the chain's limiter deal with it.
    static constexpr float maxOutput = 100.0f;
    // Samples of the check a model of up to a quarter frame share gets; a costlier one gets fewer, so that they
    // take at most sweepDeviceSeconds on the device. With the parse of a full slot's text (about 3 ms here, 3 to
    // 5 times that on the device) the check stays within the 50 ms a transport may spend on it.
    static constexpr int sweepSamples = 4800;
    static constexpr double sweepDeviceSeconds = 0.025;

    // The samples the check plays a model of this cost, and the n-th of them before the file's input
    // adjustment: the whole sweep up to loudFrom(samples), the loudest input from there.
    static std::size_t Samples(const NeuralModel& model) noexcept;
    static std::size_t LoudFrom(std::size_t samples) noexcept { return samples - samples / 4; }
    static float Input(std::size_t n, std::size_t samples);

    // True when the player would build and take a model from the text, its output stays finite throughout and
    // at most maxOutput on the quiet part; otherwise false with the reason.
    static bool Check(const std::vector<std::uint8_t>& text, std::string& reason);
};

} // namespace RuveroRidev
