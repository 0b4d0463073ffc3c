#include "neural/RuntimeModelFactory.h"

#include "porting/Log.h"
#include "neural/LstmModel.h"
#include "neural/RuntimeWaveNetModel.h"

#include <nlohmann/json.hpp>

#include <exception>
#include <string>

namespace RuveroRidev {

namespace {

constexpr const char* TAG = "NeuralModel";

std::unique_ptr<NeuralModel> modelFor(const std::string& architecture) {
    if (architecture == "WaveNet") {
        return std::make_unique<RuntimeWaveNetModel>();
    }
    if (architecture == "LSTM") {
        return std::make_unique<LstmModel>();
    }
    return nullptr;
}

} // namespace

std::unique_ptr<NeuralModel> RuntimeModelFactory::Create(const nlohmann::json& document,
                                                         const std::filesystem::path& path) {
    const auto architecture = document.is_object() ? document.find("architecture") : document.end();
    std::unique_ptr<NeuralModel> model;
    if (document.is_object() && architecture != document.end() && architecture->is_string()) {
        model = modelFor(architecture->get_ref<const std::string&>());
    }
    if (!model) {
        LOGW(TAG, "%s: not a WaveNet or LSTM model file, no model built\n", path.string().c_str());
        return nullptr;
    }
    try {
        model->LoadFromNAMJson(document);
    } catch (const std::exception& error) {
        LOGE(TAG, "%s: %s\n", path.string().c_str(), error.what());
        throw;
    }
    model->Prewarm();
    return model;
}

} // namespace RuveroRidev
