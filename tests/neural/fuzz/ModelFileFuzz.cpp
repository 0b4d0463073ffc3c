// libFuzzer target on a model file from outside: the input is the file's text. The upload check must refuse
// it with a reason or take it; what it takes the player's loader must build (a file that passes the check
// but throws in the loader would be stored and then never play), and the built model must play the check's
// input in the player's 16-sample frames through the file's adjustments (each held within 40 dB) with an
// output that stays finite, and within the check's limit on the quiet part.
#include "neural/ModelCheck.h"
#include "neural/NeuralModel.h"
#include "tests/support/FuzzQuiet.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using RuveroRidev::ModelCheck;
using RuveroRidev::NeuralModel;

namespace {

float playedGain(float db) { return std::isfinite(db) ? std::pow(10.0f, std::clamp(db, -40.0f, 40.0f) / 20.0f) : 1.0f; }

// The check's quiet sweep, then for its last quarter the loudest the player gives: full scale with the drive's
// +20 dB, a 375 Hz sine.
void playAsThePlayer(NeuralModel& model) {
    const float inputGain = playedGain(model.GetRecommendedInputDBAdjustment());
    const float outputGain = playedGain(model.GetRecommendedOutputDBAdjustment());
    const std::size_t samples = ModelCheck::Samples(model), loudFrom = samples - samples / 4;
    for (std::size_t start = 0; start + 16 <= samples; start += 16) {
        float frame[16];
        for (std::size_t i = 0, n = start; i < 16; ++i, ++n)
            frame[i] = inputGain * (n < loudFrom ? ModelCheck::Input(n, samples)
                                                 : 10.0f * float(std::sin(2.0 * M_PI * double(n - loudFrom) / 128.0)));
        model.Process(frame, frame, 16);
        for (std::size_t i = 0; i < 16; ++i) {
            const float played = frame[i] * outputGain;
            if (!std::isfinite(played) || (start + i < loudFrom && std::fabs(played) > ModelCheck::maxOutput)) {
                std::fprintf(stderr, "sample %zu of %zu plays as %g\n", start + i, samples, double(played));
                std::abort();
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<std::uint8_t> text(data, data + size);
    std::string reason;
    if (!ModelCheck::Check(text, reason)) {
        if (reason.empty()) std::abort();
        return 0;
    }
    std::istringstream stream(std::string(text.begin(), text.end()));
    std::unique_ptr<NeuralModel> model = NeuralModel::CreateFromStream(stream, "fuzz.nam");
    if (!model) std::abort();
    playAsThePlayer(*model);
    return 0;
}
