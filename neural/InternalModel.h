#pragma once
// Base of the models built into this library: they load from ".nam" documents only.
#include "neural/NeuralModel.h"

namespace RuveroRidev {

class InternalModel : public NeuralModel {
public:
    bool CreateModelFromKerasJson(const nlohmann::json& modelJson) override;
    // ReadNAMConfig, then the model's own CreateModelFromNAMJson with the same document; returns its result and
    // lets its exceptions through.
    bool LoadFromNAMJson(const nlohmann::json& modelJson) override;
};

} // namespace RuveroRidev
