#pragma once
#include "nnet/NnetExport.h"

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace nnet {

// A parsed model file: what the loader needs to build the model, kept apart from the file.
class NNET_API dspData {
public:
    std::string version;
    std::string architecture;
    nlohmann::json config;
    nlohmann::json metadata;
    std::vector<float> weights;
    double expected_sample_rate = 0.0;
};

} // namespace nnet
