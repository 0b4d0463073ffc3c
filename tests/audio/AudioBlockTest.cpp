// The block ring: registration at the front and the back, the walk and its stop flag, the compile pass,
// a full ring, and the blocks' storage alignment.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "AudioBlock.h"

namespace {

struct Recorder {
    std::vector<std::string> processed;
    std::vector<std::string> compiled;
};

class NamedBlock : public AudioBlock {
public:
    NamedBlock(const char* name, int position, Recorder* recorder, bool stopsWalk = false, bool stopsCompile = false)
        : AudioBlock(name, nullptr, exec, position), recorder(recorder), stopsWalk(stopsWalk),
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

struct Construction {
    const char* name;
    int position;
};

std::vector<std::string> ringNames() {
    std::vector<std::string> names;
    for (int i = 0; i < AudioBlock::ringCount(); ++i) names.push_back(AudioBlock::ringAt(i)->getName());
    return names;
}

}

TEST(AudioBlock, ProductConstructionOrderYieldsTheProcessingOrder) {
    // The product's construction order with each block's ring end.
    const Construction product[] = {
        {"Lindquar", AudioBlock::kBack},   {"Tempo", AudioBlock::kFront},     {"NamAmp", AudioBlock::kFront},
        {"NamDrive", AudioBlock::kFront},  {"ModPre", AudioBlock::kFront},    {"DynaComp", AudioBlock::kFront},
        {"Expr", AudioBlock::kFront},      {"NoiseGate", AudioBlock::kFront}, {"Tuner", AudioBlock::kFront},
        {"Pickup", AudioBlock::kFront},    {"IrLoader", AudioBlock::kBack},   {"ModPost", AudioBlock::kBack},
        {"DelayEngine", AudioBlock::kBack}, {"ReverbFDN", AudioBlock::kBack}, {"Mixer", AudioBlock::kBack},
    };
    Recorder recorder;
    std::vector<std::unique_ptr<NamedBlock>> blocks;
    for (const Construction& block : product) {
        blocks.push_back(std::make_unique<NamedBlock>(block.name, block.position, &recorder));
    }
    const std::vector<std::string> expected = {"Pickup",   "Tuner",    "NoiseGate", "Expr",        "DynaComp",
                                               "ModPre",   "NamDrive", "NamAmp",    "Tempo",       "Lindquar",
                                               "IrLoader", "ModPost",  "DelayEngine", "ReverbFDN", "Mixer"};
    EXPECT_EQ(ringNames(), expected);

    float frame[2][16] = {};
    EXPECT_FALSE(AudioBlock::runRing(frame));
    EXPECT_EQ(recorder.processed, expected);
    EXPECT_EQ(frame[0][0], 15.0f);
    EXPECT_FALSE(AudioBlock::compileRing());
    EXPECT_EQ(recorder.compiled, expected);
}

TEST(AudioBlock, TrueFromAProcessFunctionEndsTheWalkAndFromCompileThePass) {
    Recorder recorder;
    NamedBlock first("first", AudioBlock::kBack, &recorder);
    NamedBlock stopper("stopper", AudioBlock::kBack, &recorder, true, true);
    NamedBlock last("last", AudioBlock::kBack, &recorder);

    float frame[2][16] = {};
    EXPECT_TRUE(AudioBlock::runRing(frame));
    EXPECT_EQ(recorder.processed, (std::vector<std::string>{"first", "stopper"}));
    EXPECT_TRUE(AudioBlock::compileRing());
    EXPECT_EQ(recorder.compiled, (std::vector<std::string>{"first", "stopper"}));
}

TEST(AudioBlock, FullRingIgnoresFurtherBlocksAndNullExecIsNotRegistered) {
    Recorder recorder;
    std::vector<std::unique_ptr<NamedBlock>> blocks;
    std::vector<std::string> names;
    for (int i = 0; i < AudioBlock::kRingSize; ++i) names.push_back("b" + std::to_string(i));
    for (int i = 0; i < AudioBlock::kRingSize; ++i) {
        // Alternate ends so the circular start wraps around the array.
        blocks.push_back(std::make_unique<NamedBlock>(names[i].c_str(), i % 2 ? AudioBlock::kFront : AudioBlock::kBack,
                                                      &recorder));
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

TEST(AudioBlock, DestroyedBlockLeavesTheRingInOrder) {
    Recorder recorder;
    NamedBlock a("a", AudioBlock::kBack, &recorder);
    auto b = std::make_unique<NamedBlock>("b", AudioBlock::kBack, &recorder);
    NamedBlock c("c", AudioBlock::kFront, &recorder);
    b.reset();
    EXPECT_EQ(ringNames(), (std::vector<std::string>{"c", "a"}));
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
