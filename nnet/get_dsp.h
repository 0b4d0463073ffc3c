#pragma once
#include "nnet/DSP.h"
#include "nnet/NnetExport.h"
#include "nnet/Version.h"
#include "nnet/dspData.h"

#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

// The model-file loader: reads a JSON model file, checks its configuration version, builds the model its
// architecture names ("Linear", "ConvNet", "LSTM" or "WaveNet") with its weights, applies the loudness and
// level metadata and prewarms it. Every failure is an exception; the JSON library's own pass through.
namespace nnet {

NNET_API std::unique_ptr<DSP> get_dsp(const std::filesystem::path& configFilename);
// Also hands back what was read from the file, even when building the model fails afterwards.
NNET_API std::unique_ptr<DSP> get_dsp(const std::filesystem::path& configFilename, dspData& returnedConfig);
NNET_API std::unique_ptr<DSP> get_dsp(dspData& config);

// Accepts 0.5 with any patch number.
NNET_API void verify_config_version(const std::string& version);
NNET_API Version ParseVersion(const std::string& version);
NNET_API std::vector<float> GetWeights(const nlohmann::json& j);

} // namespace nnet
