#pragma once
// Builds the models of ".nam" documents that no fixed-size shape matches: a WaveNet of any other shape, and
// the LSTM. The neural model factory hands such documents here.
#include "neural/NeuralModel.h"

#include <nlohmann/json_fwd.hpp>

#include <filesystem>
#include <memory>

namespace RuveroRidev {

class RuntimeModelFactory {
public:
    // The loaded and prewarmed model of a document whose "architecture" is "WaveNet" or "LSTM". A document of
    // any other architecture, or none, gives null after a warning. A document the model refuses (sizes beyond
    // ModelLimits, members missing or mistyped, a weight list of the wrong length) throws after an error line
    // that names the file and the reason.
    static std::unique_ptr<NeuralModel> Create(const nlohmann::json& document, const std::filesystem::path& path);
};

} // namespace RuveroRidev
