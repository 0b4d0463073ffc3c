#include "neural/ModelCheck.h"

#include "neural/InternalWaveNetDefinition.h"
#include "neural/LstmModel.h"
#include "neural/ModelBudget.h"
#include "neural/ModelLimits.h"
#include "neural/ModelText.h"
#include "neural/RuntimeWaveNetModel.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <memory>
#include <numbers>

namespace RuveroRidev {

namespace {

// The weights the shape reads: at least its count of them, each a number that stays finite as a float.
bool CheckFixedWeights(const nlohmann::json& document, int count, std::string& reason) {
    const auto weights = document.find("weights");
    if (weights == document.end() || !weights->is_array()) {
        reason = "no \"weights\" list";
        return false;
    }
    if (weights->size() < std::size_t(count)) {
        reason = "\"weights\" holds " + std::to_string(weights->size()) + " numbers, the shape needs " +
                 std::to_string(count);
        return false;
    }
    for (int i = 0; i < count; ++i) {
        const nlohmann::json& weight = (*weights)[std::size_t(i)];
        if (!weight.is_number() || !std::isfinite(weight.get<float>())) {
            reason = "weight " + std::to_string(i) + " is not a finite float";
            return false;
        }
    }
    return true;
}

std::unique_ptr<NeuralModel> RuntimeModelOf(const nlohmann::json& document) {
    const auto architecture = document.find("architecture");
    if (architecture == document.end() || !architecture->is_string()) {
        return nullptr;
    }
    if (*architecture == "WaveNet") {
        return std::make_unique<RuntimeWaveNetModel>();
    }
    if (*architecture == "LSTM") {
        return std::make_unique<LstmModel>();
    }
    return nullptr;
}

// The n-th sample of an exponential sine sweep from 20 Hz to 20 kHz at -12 dBFS that lasts `length` samples, so
// that a model given a shorter check still hears every frequency.
float sweep(std::size_t n, std::size_t length) {
    const double amplitude = std::pow(10.0, -12.0 / 20.0);
    const double low = 20.0, high = 20000.0, rate = ModelLimits::sampleRate;
    const double duration = double(length) / rate;
    const double octaves = std::log(high / low);
    const double t = double(n) / rate;
    const double phase = 2.0 * std::numbers::pi * low * duration / octaves * (std::exp(t / duration * octaves) - 1.0);
    return float(amplitude * std::sin(phase));
}

// The loudest input the player can give the model, before the file's input adjustment: a full-scale sine with
// the drive at its top. 375 Hz repeats every 128 samples, so even the shortest loud part holds its peaks.
float loudest(std::size_t n) {
    const float amplitude = std::pow(10.0f, NeuralModel::maxDriveDb / 20.0f);
    return amplitude * float(std::sin(2.0 * std::numbers::pi * double(n % 128) / 128.0));
}

// Plays the model as the player will, with the file's adjustments.
bool PlaysAsThePlayer(NeuralModel& model, std::string& reason) {
    const std::size_t samples = ModelCheck::Samples(model);
    const std::size_t loudFrom = ModelCheck::LoudFrom(samples);
    const float inputGain = model.InputGain(), outputGain = model.OutputGain();
    float block[NeuralModel::defaultMaxAudioBufferSize];
    float output[NeuralModel::defaultMaxAudioBufferSize];
    float peak = 0.0f;
    for (std::size_t start = 0; start < samples; start += std::size(block)) {
        const std::size_t count = std::min(std::size(block), samples - start);
        for (std::size_t i = 0; i < count; ++i) {
            block[i] = inputGain * ModelCheck::Input(start + i, samples);
        }
        model.Process(block, output, count);
        for (std::size_t i = 0; i < count; ++i) {
            const float played = output[i] * outputGain;
            if (!std::isfinite(played)) {
                reason = "its output is not finite on a test sweep at " +
                         std::string(start + i < loudFrom ? "-12 dBFS" : "the loudest input") + " (sample " +
                         std::to_string(start + i) + ")";
                return false;
            }
            if (start + i < loudFrom) {
                peak = std::max(peak, std::fabs(played));
            }
        }
    }
    if (peak > ModelCheck::maxOutput) {
        char text[120];
        std::snprintf(text, sizeof text, "its output reaches %.0f dBFS on a -12 dBFS test sweep, at most +40",
                      20.0 * std::log10(double(peak)));
        reason = text;
        return false;
    }
    return true;
}

} // namespace

// A costlier model gets fewer samples, so that its sweep takes at most sweepDeviceSeconds on the device whatever
// the file asks for; one beyond the frame share is refused before it is played.
std::size_t ModelCheck::Samples(const NeuralModel& model) noexcept {
    const double share = std::max(ModelBudget::FrameShare(model), 1e-6);
    const double samples = sweepDeviceSeconds * ModelLimits::sampleRate / share;
    return std::size_t(std::clamp(samples, 256.0, double(sweepSamples)));
}

float ModelCheck::Input(std::size_t n, std::size_t samples) {
    const std::size_t loudFrom = LoudFrom(samples);
    return n < loudFrom ? sweep(n, loudFrom) : loudest(n - loudFrom);
}

bool ModelCheck::Check(const std::vector<std::uint8_t>& text, std::string& reason) {
    const nlohmann::json document = ModelText::Parse(text);
    if (document.is_discarded() || !document.is_object()) {
        reason = "not a JSON model file";
        return false;
    }
    std::unique_ptr<NeuralModel> model;
    if (const InternalWaveNetDefinition* definition = InternalWaveNetDefinition::Find(document)) {
        if (!CheckFixedWeights(document, definition->GetNumWeights(), reason)) {
            return false;
        }
        model = definition->CreateModel();
    } else {
        model = RuntimeModelOf(document);
    }
    if (!model) {
        reason = "not a WaveNet or LSTM model file";
        return false;
    }
    try {
        model->LoadFromNAMJson(document);
    } catch (const std::exception& error) {
        reason = error.what();
        return false;
    }
    if (!model->AdjustmentsInRange(reason) || !ModelBudget::FitsFrame(*model, reason)) {
        return false;
    }
    model->Prewarm();
    return PlaysAsThePlayer(*model, reason);
}

} // namespace RuveroRidev
