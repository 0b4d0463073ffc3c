// The block ring: the walk and its stop flag, the compile pass, a full ring, a block leaving it and the blocks'
// storage alignment (registration at either end in the product's order is the chain's test).
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/AudioBlock.h"

namespace {

struct Recorder {
    std::vector<std::string> processed;
    std::vector<std::string> compiled;
};

class NamedBlock : public AudioBlock {
public:
    NamedBlock(const char* name, int position, Recorder* recorder, bool stopsWalk = false, bool stopsCompile = false)
        : AudioBlock(name, nullptr, exec, position),
          recorder(recorder),
          stopsWalk(stopsWalk),
          stopsCompile(stopsCompile) {}

    static bool exec(void* block, float (*frame)[16]) {
        NamedBlock* named = self<NamedBlock>(block);
        named->recorder->processed.push_back(named->getName());
        frame[0][0] += 1.0f;
        return named->stopsWalk;
    }
    bool compile() override {
        recorder->compiled.push_back(getName());
        return stopsCompile;
    }

private:
    Recorder* recorder;
    bool stopsWalk;
    bool stopsCompile;
};

std::vector<std::string> ringNames() {
    std::vector<std::string> names;
    for (int i = 0; i < AudioBlock::ringCount(); ++i) names.push_back(AudioBlock::ringAt(i)->getName());
    return names;
}

}

TEST(AudioBlock, TrueFromAProcessFunctionEndsTheWalkAndFromCompileThePassAndABlockLeavesInOrder) {
    Recorder recorder;
    NamedBlock first("first", AudioBlock::kBack, &recorder);
    auto stopper = std::make_unique<NamedBlock>("stopper", AudioBlock::kBack, &recorder, true, true);
    NamedBlock last("last", AudioBlock::kBack, &recorder);
    NamedBlock front("front", AudioBlock::kFront, &recorder);

    float frame[2][16] = {};
    EXPECT_TRUE(AudioBlock::runRing(frame));
    EXPECT_EQ(recorder.processed, (std::vector<std::string>{"front", "first", "stopper"}));
    EXPECT_EQ(frame[0][0], 3.0f);
    EXPECT_TRUE(AudioBlock::compileRing());
    EXPECT_EQ(recorder.compiled, (std::vector<std::string>{"front", "first", "stopper"}));
    stopper.reset();
    EXPECT_EQ(ringNames(), (std::vector<std::string>{"front", "first", "last"}));
}

TEST(AudioBlock, FullRingIgnoresFurtherBlocksAndNullExecIsNotRegistered) {
    Recorder recorder;
    std::vector<std::unique_ptr<NamedBlock>> blocks;
    std::vector<std::string> names;
    for (int i = 0; i < AudioBlock::kRingSize; ++i) names.push_back("b" + std::to_string(i));
    for (int i = 0; i < AudioBlock::kRingSize; ++i) {
        // Alternate ends so the circular start wraps around the array.
        blocks.push_back(
            std::make_unique<NamedBlock>(names[i].c_str(), i % 2 ? AudioBlock::kFront : AudioBlock::kBack, &recorder));
    }
    ASSERT_EQ(AudioBlock::ringCount(), AudioBlock::kRingSize);

    testing::internal::CaptureStdout();
    NamedBlock extra("extra", AudioBlock::kFront, &recorder);
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("ERROR (AudioBlock): "), std::string::npos) << log;
    EXPECT_EQ(AudioBlock::ringCount(), AudioBlock::kRingSize);
    EXPECT_FALSE(extra.isRegistered());
    EXPECT_EQ(ringNames().front(), "b31");
    EXPECT_EQ(ringNames().back(), "b30");

    AudioBlock silent("silent", nullptr, nullptr, AudioBlock::kFront);
    EXPECT_FALSE(silent.isRegistered());
    EXPECT_EQ(AudioBlock::ringAt(-1), nullptr);
    EXPECT_EQ(AudioBlock::ringAt(AudioBlock::kRingSize), nullptr);
}

TEST(AudioBlock, BlocksAreAllocatedAligned) {
    struct Small : AudioBlock {
        Small() : AudioBlock("small", nullptr, nullptr, AudioBlock::kBack) {}
        char byte = 0;
    };
    struct alignas(256) Wide : AudioBlock {
        Wide() : AudioBlock("wide", nullptr, nullptr, AudioBlock::kBack) {}
        float coefficients[64] = {};
    };
    for (int i = 0; i < 8; ++i) {
        std::unique_ptr<Small> small(new Small);
        std::unique_ptr<Wide> wide(new Wide);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(small.get()) % AudioBlock::kAlignment, 0u);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(wide.get()) % 256, 0u);
    }
}
