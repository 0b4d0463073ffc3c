#include "ModelCheck.h"

#include "InternalWaveNetDefinition.h"
#include "LstmModel.h"
#include "RuntimeWaveNetModel.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <exception>
#include <memory>

namespace RuveroRidev {

namespace {

// The weights the shape reads: at least its count of them, each a number that stays finite as a float.
bool CheckFixedWeights(const nlohmann::json& document, int count, std::string& reason)
{
    const auto weights = document.find("weights");
    if (weights == document.end() || !weights->is_array()) {
        reason = "no \"weights\" list";
        return false;
    }
    if (weights->size() < std::size_t(count)) {
        reason = "\"weights\" holds " + std::to_string(weights->size()) + " numbers, the shape needs " + std::to_string(count);
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

std::unique_ptr<NeuralModel> RuntimeModelOf(const nlohmann::json& document)
{
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

}  // namespace

bool ModelCheck::Check(const std::vector<std::uint8_t>& text, std::string& reason)
{
    const nlohmann::json document = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
    if (document.is_discarded() || !document.is_object()) {
        reason = "not a JSON model file";
        return false;
    }
    if (const InternalWaveNetDefinition* definition = InternalWaveNetDefinition::Find(document)) {
        return CheckFixedWeights(document, definition->GetNumWeights(), reason);
    }
    std::unique_ptr<NeuralModel> model = RuntimeModelOf(document);
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
    return true;
}

}  // namespace RuveroRidev
