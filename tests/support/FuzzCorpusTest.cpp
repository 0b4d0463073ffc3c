// Replays the fuzzing corpus through the fuzz target with the regular build, so every input that once found
// a fault stays a test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

// Each target names its own suite (PEDAL_FUZZ_SUITE), so CTest keeps their homes apart.
TEST(PEDAL_FUZZ_SUITE, EveryInputRunsCleanly) {
    std::vector<std::filesystem::path> inputs;
    for (const auto& entry : std::filesystem::directory_iterator(PEDAL_FUZZ_CORPUS))
        if (entry.is_regular_file()) inputs.push_back(entry.path());
    std::sort(inputs.begin(), inputs.end());
    ASSERT_GE(inputs.size(), 3u) << "corpus missing at " << PEDAL_FUZZ_CORPUS;
    for (const auto& input : inputs) {
        std::ifstream file(input, std::ios::binary);
        std::vector<uint8_t> data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        SCOPED_TRACE(input.string());
        EXPECT_EQ(LLVMFuzzerTestOneInput(data.data(), data.size()), 0);
    }
}
