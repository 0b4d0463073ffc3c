// libFuzzer target on an uploaded impulse response: the input is the WAV file. The list's content check must
// refuse it with a reason or take it; what it takes, the block must decode into one response per channel (one
// or two), each of 1 to kTaps finite taps, so the convolution never meets a response it cannot play.
#include "blocks/IrLoader.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> wav(data, data + size);
    std::string error;
    if (!IrLoader::check(wav, error)) {
        if (error.empty()) std::abort();
        return 0;
    }
    std::vector<std::vector<float>> responses;
    if (!IrLoader::prepare(wav, responses, error)) std::abort();
    if (responses.empty() || responses.size() > 2) std::abort();
    for (const auto& response : responses) {
        if (response.empty() || response.size() > size_t(IrLoader::kTaps)) std::abort();
        for (float tap : response)
            if (!std::isfinite(tap)) std::abort();
    }
    return 0;
}
