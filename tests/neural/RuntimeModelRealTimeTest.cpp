// The runtime-sized models on the audio path: Process and Prewarm allocate nothing, whatever the call sizes.
#include "tests/support/AllocationCounter.h"
#include "tests/neural/ModelFiles.h"
#include "tests/neural/RuntimeReference.h"
#include "neural/RuntimeWaveNetModel.h"

using namespace runtimetest;

namespace {

struct ModelCase {
    const char* name;
    std::function<std::unique_ptr<RuveroRidev::NeuralModel>()> make;
};

} // namespace

TEST(RuntimeModelRealTime, ProcessAndPrewarmAllocateNothing) {
    const std::vector<ArrayShape> gated = {{1, 4, 6, 3, {1, 3, 7, 100, 100}, "Tanh", true, false},
                                           {6, 1, 4, 2, {2, 37, 500}, "Sigmoid", true, true}};
    const ModelCase cases[] = {
        {"gated WaveNet", [&] { return fromDocument(waveNetDocument(gated, waveNetWeights(gated, 1))); }},
        {"the <16, 8> shape on the runtime path",
         [] {
             auto model = std::make_unique<RuveroRidev::RuntimeWaveNetModel>();
             model->LoadFromNAMJson(neuraltest::readDocument(16, 8));
             return std::unique_ptr<RuveroRidev::NeuralModel>(std::move(model));
         }},
        {"LSTM 2 x 16", [] { return fromDocument(lstmDocument(2, 16, lstmWeights(2, 16, 1))); }},
        {"LSTM 1 x 32", [] { return fromDocument(lstmDocument(1, 32, lstmWeights(1, 32, 1))); }},
    };
    const std::vector<float> signal = testSignal(1024);
    for (const ModelCase& c : cases) {
        auto model = c.make();
        ASSERT_NE(model, nullptr) << c.name;
        std::vector<float> output(signal.size());
        std::vector<float> input = signal;
        allocationcounter::CountingScope scope;
        std::size_t done = 0;
        for (unsigned long size : {16ul, 1ul, 7ul, 40ul, 128ul, 16ul, 0ul, 300ul}) {
            model->Process(input.data() + done, output.data() + done, size);
            done += size;
        }
        model->Prewarm();
        model->Process(input.data(), input.data(), 16);
        EXPECT_EQ(scope.Allocations(), 0) << c.name;
    }
}
