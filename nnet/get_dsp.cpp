#include "nnet/get_dsp.h"

#include "nnet/Linear.h"
#include "nnet/convnet/ConvNet.h"
#include "nnet/lstm/LSTM.h"
#include "nnet/wavenet/WaveNet.h"

#include <climits>
#include <cmath>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>

namespace nnet {

namespace {

using nlohmann::json;

void read_optional_metadata_number(const dspData& config, const std::string& key, std::optional<double>& value) {
    if (!config.metadata.is_object()) return;
    const auto entry = config.metadata.find(key);
    if (entry != config.metadata.end() && !entry->is_null()) value = entry->get<double>();
}

// The JSON library converts numbers to int with a plain cast, which is undefined for a value beyond int;
// such a size is refused. Everything else (wrong types included) is left to the library.
int readInt(const json& value, const std::string& key) {
    if (value.is_number()) {
        const double number = value.get<double>();
        if (!(number >= INT_MIN && number <= INT_MAX))
            throw std::out_of_range("Model config value of \"" + key + "\" is out of range");
    }
    return value.get<int>();
}

std::vector<int> readIntList(const json& value, const std::string& key) {
    if (!value.is_array()) return value.get<std::vector<int>>();
    std::vector<int> list;
    list.reserve(value.size());
    for (const json& element : value) list.push_back(readInt(element, key));
    return list;
}

std::unique_ptr<DSP> buildLinear(json& config, dspData& data) {
    const int receptiveField = readInt(config["receptive_field"], "receptive_field");
    const bool bias = config["bias"].get<bool>();
    return std::make_unique<Linear>(receptiveField, bias, data.weights, data.expected_sample_rate);
}

std::unique_ptr<DSP> buildConvNet(json& config, dspData& data) {
    const int channels = readInt(config["channels"], "channels");
    const bool batchnorm = config["batchnorm"].get<bool>();
    const std::vector<int> dilations = readIntList(config["dilations"], "dilations");
    const std::string activation = config["activation"].get<std::string>();
    return std::make_unique<convnet::ConvNet>(channels, dilations, batchnorm, activation, data.weights,
                                              data.expected_sample_rate);
}

std::unique_ptr<DSP> buildLSTM(json& config, dspData& data) {
    const int numLayers = readInt(config["num_layers"], "num_layers");
    const int inputSize = readInt(config["input_size"], "input_size");
    const int hiddenSize = readInt(config["hidden_size"], "hidden_size");
    return std::make_unique<lstm::LSTM>(numLayers, inputSize, hiddenSize, data.weights, data.expected_sample_rate);
}

std::unique_ptr<DSP> buildWaveNet(json& config, dspData& data) {
    std::vector<wavenet::LayerArrayParams> layerArrayParams;
    for (size_t i = 0; i < config["layers"].size(); ++i) {
        json& layer = config["layers"][i];
        const int inputSize = readInt(layer["input_size"], "input_size");
        const int conditionSize = readInt(layer["condition_size"], "condition_size");
        const int headSize = readInt(layer["head_size"], "head_size");
        const int channels = readInt(layer["channels"], "channels");
        const int kernelSize = readInt(layer["kernel_size"], "kernel_size");
        std::vector<int> dilations = readIntList(layer["dilations"], "dilations");
        std::string activation = layer["activation"].get<std::string>();
        const bool gated = layer["gated"].get<bool>();
        const bool headBias = layer["head_bias"].get<bool>();
        layerArrayParams.emplace_back(inputSize, conditionSize, headSize, channels, kernelSize, std::move(dilations),
                                      std::move(activation), gated, headBias);
    }
    const bool withHead = !config["head"].is_null();
    const float headScale = config["head_scale"].get<float>();
    return std::make_unique<wavenet::WaveNet>(layerArrayParams, headScale, withHead, data.weights,
                                              data.expected_sample_rate);
}

} // namespace

std::unique_ptr<DSP> get_dsp(const std::filesystem::path& configFilename) {
    dspData unused;
    return get_dsp(configFilename, unused);
}

std::unique_ptr<DSP> get_dsp(const std::filesystem::path& configFilename, dspData& returnedConfig) {
    if (!std::filesystem::exists(configFilename)) throw std::runtime_error("Config file doesn't exist!\n");
    std::ifstream file(configFilename);
    json j;
    file >> j;

    verify_config_version(j["version"].get<std::string>());
    std::vector<float> weights = GetWeights(j);

    returnedConfig.version = j["version"].get<std::string>();
    returnedConfig.architecture = j["architecture"].get<std::string>();
    returnedConfig.config = j["config"];
    returnedConfig.metadata = j["metadata"];
    returnedConfig.weights = std::move(weights);
    returnedConfig.expected_sample_rate = j.find("sample_rate") != j.end() ? j["sample_rate"].get<double>() : -1.0;

    dspData copy = returnedConfig;
    return get_dsp(copy);
}

std::unique_ptr<DSP> get_dsp(dspData& config) {
    verify_config_version(config.version);

    std::optional<double> loudness;
    std::optional<double> inputLevel;
    std::optional<double> outputLevel;
    if (!config.metadata.is_null()) {
        read_optional_metadata_number(config, "loudness", loudness);
        read_optional_metadata_number(config, "input_level_dbu", inputLevel);
        read_optional_metadata_number(config, "output_level_dbu", outputLevel);
    }

    // Keys are read from a copy: a missing key reads as null (and fails the conversion) without adding
    // anything to the caller's data.
    json architectureConfig = config.config;
    std::unique_ptr<DSP> dsp;
    if (config.architecture == "Linear") dsp = buildLinear(architectureConfig, config);
    else if (config.architecture == "ConvNet") dsp = buildConvNet(architectureConfig, config);
    else if (config.architecture == "LSTM") dsp = buildLSTM(architectureConfig, config);
    else if (config.architecture == "WaveNet") dsp = buildWaveNet(architectureConfig, config);
    else throw std::runtime_error("Unrecognized architecture");

    if (loudness) dsp->SetLoudness(*loudness);
    if (inputLevel) dsp->inputLevel = {true, static_cast<float>(*inputLevel)};
    if (outputLevel) dsp->outputLevel = {true, static_cast<float>(*outputLevel)};
    dsp->prewarm();
    return dsp;
}

void verify_config_version(const std::string& version) {
    const Version parsed = ParseVersion(version);
    if (parsed.majorNumber != 0 || parsed.minorNumber != 5)
        throw std::runtime_error("Model config is an unsupported version " + version +
                                 ". Try converting the model to a more recent version, or update the host plug-in.");
}

Version ParseVersion(const std::string& version) {
    std::stringstream stream(version);
    std::string majorText;
    std::string minorText;
    std::string patchText;
    std::getline(stream, majorText, '.');
    std::getline(stream, minorText, '.');
    std::getline(stream, patchText);

    Version parsed;
    try {
        parsed.majorNumber = std::stoi(majorText);
        parsed.minorNumber = std::stoi(minorText);
        parsed.patchNumber = std::stoi(patchText);
    } catch (const std::invalid_argument&) {
        throw std::invalid_argument("Invalid version string: " + version);
    } catch (const std::out_of_range&) {
        throw std::out_of_range("Version string out of range: " + version);
    }
    if (parsed.majorNumber < 0 || parsed.minorNumber < 0 || parsed.patchNumber < 0)
        throw std::invalid_argument("Negative version component: " + version);
    return parsed;
}

std::vector<float> GetWeights(const json& j) {
    if (!j.is_object() || j.find("weights") == j.end())
        throw std::runtime_error("Corrupted model file is missing weights.");
    return j.at("weights").get<std::vector<float>>();
}

} // namespace nnet
