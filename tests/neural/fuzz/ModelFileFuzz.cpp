// libFuzzer target on a model file from outside: the input is the file's text. The upload check must refuse
// it with a reason or take it, and what it takes the player's loader must build (a file that passes the check
// but throws in the loader would be stored and then never play).
#include "neural/ModelCheck.h"
#include "neural/NeuralModel.h"

#include <cstdint>
#include <memory>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

using RuveroRidev::ModelCheck;
using RuveroRidev::NeuralModel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<std::uint8_t> text(data, data + size);
    std::string reason;
    if (!ModelCheck::Check(text, reason)) {
        if (reason.empty()) std::abort();
        return 0;
    }
    std::istringstream stream(std::string(text.begin(), text.end()));
    std::unique_ptr<NeuralModel> model = NeuralModel::CreateFromStream(stream, "fuzz.nam");
    if (!model) std::abort();
    return 0;
}
