#include "neural/InternalWaveNetDefinition.h"

#include "neural/InternalWaveNetDefinitionT.h"

#include <nlohmann/json.hpp>

#include <initializer_list>
#include <string_view>

namespace RuveroRidev {

namespace {

using Json = nlohmann::json;

bool hasNumber(const Json& object, const char* key, double expected) {
    if (!object.contains(key)) {
        return false;
    }
    const Json& value = object.at(key);
    return value.is_number() && value.get<double>() == expected;
}

bool hasBoolean(const Json& object, const char* key, bool expected) {
    if (!object.contains(key)) {
        return false;
    }
    const Json& value = object.at(key);
    return value.is_boolean() && value.get<bool>() == expected;
}

bool hasString(const Json& object, const char* key, std::string_view expected) {
    if (!object.contains(key)) {
        return false;
    }
    const Json& value = object.at(key);
    return value.is_string() && value.get_ref<const std::string&>() == expected;
}

bool hasDilations(const Json& layers, std::initializer_list<int> expected) {
    if (!layers.contains("dilations")) {
        return false;
    }
    const Json& dilations = layers.at("dilations");
    if (!dilations.is_array() || dilations.size() != expected.size()) {
        return false;
    }
    auto dilation = dilations.begin();
    for (int value : expected) {
        if (!dilation->is_number() || dilation->get<double>() != value) {
            return false;
        }
        ++dilation;
    }
    return true;
}

// What both layer arrays of every fixed shape share.
bool isFixedShapeArray(const Json& layers) {
    return layers.is_object() && hasNumber(layers, "kernel_size", 3) && hasNumber(layers, "condition_size", 1) &&
           hasString(layers, "activation", "Tanh") && hasBoolean(layers, "gated", false);
}

bool hasFixedShapeDilations(const Json& layers0, const Json& layers1, int channels) {
    if (channels == 16) {
        return hasDilations(layers0, {1, 2, 4, 8, 16, 32, 64, 128, 256, 512}) &&
               hasDilations(layers1, {1, 2, 4, 8, 16, 32, 64, 128, 256, 512});
    }
    return hasDilations(layers0, {1, 2, 4, 8, 16, 32, 64}) &&
           hasDilations(layers1, {128, 256, 512, 1, 2, 4, 8, 16, 32, 64, 128, 256, 512});
}

} // namespace

std::span<const InternalWaveNetDefinition* const> InternalWaveNetDefinition::Registry() noexcept {
    static const InternalWaveNetDefinitionT<16, 8> shape16x8;
    static const InternalWaveNetDefinitionT<12, 6> shape12x6;
    static const InternalWaveNetDefinitionT<8, 4> shape8x4;
    static const InternalWaveNetDefinitionT<4, 2> shape4x2;
    static const InternalWaveNetDefinition* const entries[] = {&shape16x8, &shape12x6, &shape8x4, &shape4x2};
    return entries;
}

const InternalWaveNetDefinition* InternalWaveNetDefinition::Find(const Json& document) noexcept {
    if (!document.is_object() || !hasString(document, "architecture", "WaveNet") || !document.contains("config")) {
        return nullptr;
    }
    const Json& config = document.at("config");
    if (!config.is_object() || !config.contains("layers")) {
        return nullptr;
    }
    if (config.contains("head") && !config.at("head").is_null()) {
        return nullptr;
    }
    const Json& layers = config.at("layers");
    if (!layers.is_array() || layers.size() != 2) {
        return nullptr;
    }
    const Json& layers0 = layers.at(0);
    const Json& layers1 = layers.at(1);
    if (!isFixedShapeArray(layers0) || !isFixedShapeArray(layers1) || !hasBoolean(layers0, "head_bias", false) ||
        !hasBoolean(layers1, "head_bias", true) || !hasNumber(layers0, "input_size", 1) ||
        !hasNumber(layers1, "head_size", 1)) {
        return nullptr;
    }
    for (const InternalWaveNetDefinition* definition : Registry()) {
        const int channels = definition->GetNumChannels();
        const int headSize = definition->GetHeadSize();
        if (hasNumber(layers0, "channels", channels) && hasNumber(layers0, "head_size", headSize) &&
            hasNumber(layers1, "input_size", channels) && hasNumber(layers1, "channels", headSize) &&
            hasFixedShapeDilations(layers0, layers1, channels)) {
            return definition;
        }
    }
    return nullptr;
}

} // namespace RuveroRidev
