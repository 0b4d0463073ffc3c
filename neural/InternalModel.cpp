#include "neural/InternalModel.h"

namespace RuveroRidev {

bool InternalModel::CreateModelFromKerasJson(const nlohmann::json&) { return false; }

bool InternalModel::LoadFromNAMJson(const nlohmann::json& modelJson) {
    ReadNAMConfig(modelJson);
    return CreateModelFromNAMJson(modelJson);
}

} // namespace RuveroRidev
