#pragma once
// Helpers shared by the model-library tests: the generated test data, scratch model files and exception
// texts.
#include <cstring>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace nnet_test {

inline std::filesystem::path modelsFolder() { return NNET_TEST_MODELS; }

inline nlohmann::json readJson(const std::filesystem::path& path) {
    std::ifstream file(path);
    return nlohmann::json::parse(file);
}

template <typename T>
std::vector<T> readRaw(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::vector<T> values(bytes.size() / sizeof(T));
    std::memcpy(values.data(), bytes.data(), values.size() * sizeof(T));
    return values;
}

// A scratch file for this test process.
inline std::filesystem::path writeModel(const std::string& name, const std::string& text) {
    std::filesystem::path folder = std::filesystem::path(PEDAL_TEST_OUT) / "nnet";
    std::filesystem::create_directories(folder);
    std::filesystem::path path = folder / (name + "." + std::to_string(::getpid()) + ".nam");
    std::ofstream(path) << text;
    return path;
}

inline std::filesystem::path writeModel(const std::string& name, const nlohmann::json& model) {
    return writeModel(name, model.dump());
}

// The text of the exception of type E that f throws; a marker text when it throws something else or nothing.
template <typename E>
std::string thrownText(const std::function<void()>& f) {
    try {
        f();
    } catch (const E& e) {
        return e.what();
    } catch (const std::exception& e) {
        return std::string("<other exception: ") + e.what() + ">";
    }
    return "<nothing thrown>";
}

inline std::vector<float> counting(size_t count, float scale = 0.01f) {
    std::vector<float> values(count);
    for (size_t i = 0; i < count; ++i) values[i] = scale * static_cast<float>(static_cast<int>(i % 37) - 18);
    return values;
}

} // namespace nnet_test
