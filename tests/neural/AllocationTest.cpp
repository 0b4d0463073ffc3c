// The audio path allocates nothing, and a load that fails frees what it allocated. This binary counts every
// heap block: through the C library's allocator, which operator new and Eigen's own matrices both use, or,
// under AddressSanitizer, which owns that allocator, through operator new alone.
#include "tests/support/AllocationCounter.h"
#include "tests/neural/ModelFiles.h"

#include <exception>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using namespace neuraltest;

template <class S>
class Allocation : public testing::Test {};
TYPED_TEST_SUITE(Allocation, Shapes, ShapeNames);

TYPED_TEST(Allocation, ProcessAndPrewarmAllocateNothing) {
    auto model = modelFromText(readText(modelPath(TypeParam::channels, TypeParam::headSize)));
    ASSERT_NE(model, nullptr);
    typename TypeParam::Model withoutNetwork;
    std::vector<float> input = testSignal();
    std::vector<float> output(input.size());

    {
        allocationcounter::CountingScope scope;
        auto probe = std::make_unique<float>(1.0f);
        ASSERT_EQ(scope.Allocations(), 1) << "the counting allocator is not in place";
    }

    allocationcounter::CountingScope scope;
    for (std::size_t done = 0; done + 16 <= 16 * 100; done += 16) {
        model->Process(input.data() + done, output.data() + done, 16);
    }
    model->Prewarm();
    model->Process(input.data(), output.data(), 1);
    model->Process(input.data(), output.data(), 7);
    model->Process(input.data(), input.data(), 40);
    model->Prewarm();
    withoutNetwork.Process(input.data(), output.data(), 16);
    withoutNetwork.Prewarm();
    EXPECT_EQ(scope.Allocations(), 0);
}

// Whatever stage a load fails at, every block it allocated is freed again.
TEST(Allocation, FailedLoadsFreeEverything) {
    const nlohmann::json document = readDocument(16, 8);
    nlohmann::json shortList = document;
    shortList["weights"].erase(shortList["weights"].size() - 1);
    nlohmann::json textWeight = document;
    textWeight["weights"][100] = "x";
    nlohmann::json noConfig = document;
    noConfig.erase("config");
    const std::string file = readText(modelPath(16, 8));
    const std::string texts[] = {shortList.dump(), textWeight.dump(), noConfig.dump(), file.substr(0, file.size() - 2)};
    for (const std::string& text : texts) {
        // The first attempt may leave the library's one-time state behind; the second must leave nothing.
        for (int attempt = 0; attempt < 2; ++attempt) {
            std::istringstream stream(text);
            const long before = allocationcounter::liveBlocks();
            try {
                RuveroRidev::NeuralModel::CreateFromStream(stream, "broken.nam");
                ADD_FAILURE() << "loaded";
            } catch (const std::exception&) {}
            if (attempt == 1) {
                EXPECT_EQ(allocationcounter::liveBlocks(), before) << text.substr(text.size() - 40);
            }
        }
    }
}
