#include "neural/NeuralModel.h"

#include "neural/InternalWaveNetDefinition.h"
#include "neural/RuntimeModelFactory.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <istream>
#include <limits>

namespace RuveroRidev {

namespace {

// Stores the member as a float when it is a number that stays finite as one (and, if asked, is positive).
void readNumber(const nlohmann::json& object, const char* key, float& field, bool positive = false) {
    if (!object.contains(key)) {
        return;
    }
    const nlohmann::json& member = object.at(key);
    if (!member.is_number()) {
        return;
    }
    const double value = member.get<double>();
    if (std::isfinite(value) && std::fabs(value) <= std::numeric_limits<float>::max() && (!positive || value > 0.0)) {
        field = float(value);
    }
}

float clampedGain(float db) {
    if (!std::isfinite(db)) {
        return 1.0f;
    }
    return std::pow(10.0f, std::clamp(db, -NeuralModel::maxAdjustmentDb, NeuralModel::maxAdjustmentDb) / 20.0f);
}

bool adjustmentInRange(const char* what, float db, std::string& reason) {
    if (std::isfinite(db) && std::fabs(db) <= NeuralModel::maxAdjustmentDb) {
        return true;
    }
    char text[120];
    std::snprintf(text, sizeof text, "its metadata moves the %s level by %+.0f dB, at most +-%.0f", what, double(db),
                  double(NeuralModel::maxAdjustmentDb));
    reason = text;
    return false;
}

} // namespace

NeuralModel::~NeuralModel() = default;

int NeuralModel::GetLoadMode() const noexcept { return 0; }

bool NeuralModel::IsStatic() const noexcept { return false; }

float NeuralModel::GetRecommendedInputDBAdjustment() const noexcept { return audioInputLevelDBu - inputLevelDBu; }

float NeuralModel::GetRecommendedOutputDBAdjustment() const noexcept { return -18.0f - loudness; }

float NeuralModel::InputGain() const noexcept { return clampedGain(GetRecommendedInputDBAdjustment()); }

float NeuralModel::OutputGain() const noexcept { return clampedGain(GetRecommendedOutputDBAdjustment()); }

bool NeuralModel::AdjustmentsInRange(std::string& reason) const {
    return adjustmentInRange("input", GetRecommendedInputDBAdjustment(), reason) &&
           adjustmentInRange("output", GetRecommendedOutputDBAdjustment(), reason);
}

float NeuralModel::GetSampleRate() const noexcept { return sampleRate; }

int NeuralModel::GetReceptiveFieldSize() const noexcept { return -1; }

std::int64_t NeuralModel::MultiplyAddsPerSample() const noexcept { return 0; }

double NeuralModel::ActivationCyclesPerSample() const noexcept { return 0.0; }

std::int64_t NeuralModel::MemoryBytes() const noexcept { return 0; }

void NeuralModel::Prewarm() noexcept {}

void NeuralModel::ReadNAMConfig(const nlohmann::json& modelJson) noexcept {
    if (!modelJson.is_object()) {
        return;
    }
    readNumber(modelJson, "sample_rate", sampleRate, true);
    if (!modelJson.contains("metadata")) {
        return;
    }
    const nlohmann::json& metadata = modelJson.at("metadata");
    if (metadata.is_object()) {
        readNumber(metadata, "loudness", loudness);
        readNumber(metadata, "input_level_dbu", inputLevelDBu);
        readNumber(metadata, "output_level_dbu", outputLevelDBu);
    }
}

std::unique_ptr<NeuralModel> NeuralModel::CreateFromStream(std::istream& stream, std::filesystem::path path) {
    const nlohmann::json document = nlohmann::json::parse(stream);
    const InternalWaveNetDefinition* definition = InternalWaveNetDefinition::Find(document);
    if (definition == nullptr) {
        // Every other WaveNet, and the LSTM, sized from the file at run time.
        return RuntimeModelFactory::Create(document, path);
    }
    // Held until returned, so a load that throws frees the model.
    std::unique_ptr<NeuralModel> model = definition->CreateModel();
    model->LoadFromNAMJson(document);
    model->Prewarm();
    return model;
}

} // namespace RuveroRidev
