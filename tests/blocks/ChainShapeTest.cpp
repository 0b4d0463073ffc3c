// The product-shaped tree (its processing order is the product's test): every block folder has the shape
// the screens and controllers rely on, every block leaves the frame bit-exact while off, tails stay bounded
// and end in exact silence, and no process function allocates. Played through the engine as the product runs
// it (a steady chord, a compile pass every 10 ms): no tail comes back after the tuner, swept settings leave
// no zipper noise, and switching any block or loading a preset while a delay or reverb runs leaves no click,
// neither at once nor in the echoes.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tests/support/AllocationCounter.h"
#include "audio/AudioBlock.h"
#include "tests/blocks/BlockTestSupport.h"
#include "blocks/DelayEngine.h"
#include "blocks/DynaComp.h"
#include "blocks/Expr.h"
#include "blocks/IrLoader.h"
#include "blocks/Mixer.h"
#include "blocks/ModulationsEngine.h"
#include "core/NodeFloat.h"
#include "core/NodeList.h"
#include "core/NodeOnOff.h"
#include "core/NodePreset.h"
#include "blocks/NoiseGate.h"
#include "blocks/Pickup.h"
#include "blocks/RedIzuzir.h"
#include "core/NodeParList.h"
#include "blocks/ReverbFDN.h"
#include "board/ChainTable.h"
#include "porting/Shims.h"
#include "blocks/Tempo.h"
#include "blocks/Tuner.h"

using namespace blocktest;

namespace {

// A stand-in for the product block, registered where the product registers itself.
class StandIn : public AudioBlock {
public:
    StandIn(const char* name, Node* folder, int position) : AudioBlock(name, folder, exec, position) {}
    static bool exec(void*, float (*)[16]) { return false; }
};

// Every switch below a node.
void switchesBelow(Node* node, std::vector<NodeOnOff*>& found) {
    for (Node* child : node->getChildren()) {
        if (NodeOnOff* onOff = dynamic_cast<NodeOnOff*>(child)) found.push_back(onOff);
        switchesBelow(child, found);
    }
}

// The product's tree and chain, built from the product's chain table; the players run their models on this
// thread, after each frame.
class ProductChain : public testing::Test {
protected:
    void SetUp() override {
        RedIzuzir::setWorkerThreads(false);
        root = testRoot();
        Node* app = new NodeItem(root, "app", "Application", "", "vfolder");
        product = new StandIn("Lindquar", app, AudioBlock::kBack);
        preset =
            new NodePreset(app, "preset", "Preset", "", new NodeList(root, "presets", "Presets", "pst_pst", 16384, 60));
        ChainTable::buildFolders(app, chain);
        for (size_t i = 0; i < chain.folders.size(); ++i) {
            if (chain.folders[i]) folders[ChainTable::rows()[i].key] = chain.folders[i];
        }
        Node* settings = new NodeItem(root, "settings", "Settings", "", "sfolder");
        Node* input = new NodeItem(settings, "input", "Input", "", "hfolder");
        ChainTable::Context context;
        context.root = root;
        context.preset = preset;
        context.tempo = tempo = new Tempo(folders["output"], preset);
        context.tunerFolder = new NodeItem(settings, "tuner", "Tuner", "", "hfolder");
        context.pickupFolder = new NodeItem(input, "pickup", "Pickup Simulator", "", "vfolder");
        context.productFolder = app;
        tempo->addTempoSource(
            new NodeFloat(folders["output"], "tmp", "Preset TEMPO", 30, 240, 120, "BPM", 0.5f, false, 1), "Preset");
        const int appChildren = app->childrenCount();
        ChainTable::buildBlocks(context, chain);
        EXPECT_EQ(app->childrenCount(), appChildren) << "the mixer creates no node";
        amp = chain.as<RedIzuzir>("amp");
        drive = chain.as<RedIzuzir>("drive");
        modPre = chain.as<ModulationsEngine>("mod_pre");
        comp = chain.as<DynaComp>("comp");
        expr = chain.as<Expr>("exp");
        gate = chain.as<NoiseGate>("gate");
        tuner = chain.as<Tuner>("tuner");
        pickup = chain.as<Pickup>("pickup");
        ir = chain.as<IrLoader>("ir");
        modPost = chain.as<ModulationsEngine>("mod");
        delay = chain.as<DelayEngine>("delay");
        reverb = chain.as<ReverbFDN>("reverb");
        porting::setClock([this] { return clockStart + int64_t(double(position) * 1e6 / kRate); });
    }
    void TearDown() override {
        porting::setClock({});
        for (auto block = chain.blocks.rbegin(); block != chain.blocks.rend(); ++block) delete *block;
        delete tempo;
        delete product;
        RedIzuzir::setWorkerThreads(true);
    }

    // Every switch of every block of the table.
    std::vector<NodeOnOff*> switches() const {
        std::vector<NodeOnOff*> all;
        for (AudioBlock* block : chain.blocks) {
            if (block && block->getFolder() != product->getFolder()) switchesBelow(block->getFolder(), all);
        }
        return all;
    }
    // The players' work of the frame just handed over, as their workers would do it.
    void stepPlayers() {
        for (RedIzuzir* player : {amp, drive}) player->playerStep();
    }

    struct Process {
        const char* name;
        AudioBlock* block;
        AudioBlock::Exec exec;
    };
    // The process functions of the table's switchable blocks, with the tuner (it ends the chain) and the
    // tempo (it has no sound) when asked.
    std::vector<Process> processes(bool tunerAndTempo) const {
        std::vector<Process> all;
        for (AudioBlock* block : chain.blocks) {
            if (!block || block->getFolder() == product->getFolder()) continue;
            if (block != tuner || tunerAndTempo) all.push_back({block->getName(), block, block->getExec()});
        }
        if (tunerAndTempo) all.push_back({"Tempo", tempo, Tempo::exec});
        return all;
    }

    // The engine around the chain for this long, frame by frame, with a compile pass every 10 ms (30 frames)
    // on a clock that follows the samples; the output is appended to `left` and `right`.
    void play(double seconds, bool chord = true) {
        const int frames = int(seconds * kRate / 16.0 + 0.5);
        for (int f = 0; f < frames; ++f) {
            alignas(64) float frame[2][16];
            for (int i = 0; i < 16; ++i, ++position) {
                const double t = double(position) / kRate;
                const double sound = 0.15 * (std::sin(2.0 * std::numbers::pi * 220.0 * t) +
                                             std::sin(2.0 * std::numbers::pi * 330.0 * t));
                frame[0][i] = frame[1][i] = chord ? float(sound) : 0.0f;
            }
            audioAllocations += allocationcounter::allocationsDuring(
                [&] {
                    AudioProcessor::processFrame(frame);
                    stepPlayers();
                },
                allocationcounter::Threads::Current, allocationcounter::Source::OperatorNew);
            left.insert(left.end(), frame[0], frame[0] + 16);
            fading.push_back(AudioProcessor::getFadeState() != AudioProcessor::FadeState::Idle);
            right.insert(right.end(), frame[1], frame[1] + 16);
            if (position % (30 * 16) == 0) AudioProcessor::compileStep();
        }
    }
    size_t recorded() const { return left.size(); }
    // A change while the chord plays, then 2 s of it. From the end of the output fade's own window (at least
    // 20 ms) to 0.8 s after the change, against the steady output 0.2 s before it and 1.2 to 2 s after it: no
    // kink larger than twice the steady ones, and no energy above 6 kHz beyond -90 dB or 3 dB over the settled
    // output's.
    template <class Change>
    void changeAndCheck(Change change, const std::string& what) {
        const size_t mark = recorded(), to = size_t(1.0 * kRate);
        change();
        play(2.0);
        size_t fadeEnd = mark / 16;
        while (fadeEnd < fading.size() && !fading[fadeEnd]) ++fadeEnd;
        while (fadeEnd < fading.size() && fading[fadeEnd]) ++fadeEnd;
        if (fadeEnd == fading.size()) fadeEnd = mark / 16;
        const size_t from = std::max(size_t(0.22 * kRate), fadeEnd * 16 - mark + 9600);
        for (const std::vector<float>* channel : {&left, &right}) {
            const std::vector<float> heard(channel->begin() + long(mark) - 9600, channel->end()); // from 0.2 s before
            const double settled = highBandDb(heard, size_t(1.4 * kRate), heard.size());
            EXPECT_LE(highBandDb(heard, from, to), std::fmax(-90.0, settled + 3.0)) << what;
            const double steady = std::fmax(largestSecondDifference(heard, 0, 9600),
                                            largestSecondDifference(heard, size_t(1.4 * kRate), heard.size()));
            EXPECT_LE(largestSecondDifference(heard, from, to), 2.0 * steady) << what;
        }
    }
    NodeFloat* parameter(const char* folderKey, const char* path) {
        return static_cast<NodeFloat*>(below(folders[folderKey], path));
    }
    void setKind(const char* folderKey, const char* kind) { choose(folders[folderKey], "type", kind); }

    const int64_t clockStart = 5000000000;
    int64_t position = 0;
    std::vector<float> left, right;
    long audioAllocations = 0; // by the frames played
    std::vector<bool> fading;  // per frame played: the output fade was on
    Node* root = nullptr;
    NodePreset* preset = nullptr;
    ChainTable::Built chain;
    std::map<std::string, Node*> folders;
    StandIn* product = nullptr;
    RedIzuzir* amp = nullptr;
    RedIzuzir* drive = nullptr;
    Tempo* tempo = nullptr;
    ModulationsEngine* modPre = nullptr;
    DynaComp* comp = nullptr;
    Expr* expr = nullptr;
    NoiseGate* gate = nullptr;
    Tuner* tuner = nullptr;
    Pickup* pickup = nullptr;
    IrLoader* ir = nullptr;
    ModulationsEngine* modPost = nullptr;
    DelayEngine* delay = nullptr;
    ReverbFDN* reverb = nullptr;
};

// Every NodeFloat below a node.
void floatsBelow(Node* node, std::vector<NodeFloat*>& found) {
    for (Node* child : node->getChildren()) {
        if (NodeFloat* value = dynamic_cast<NodeFloat*>(child)) found.push_back(value);
        floatsBelow(child, found);
    }
}

// Every setting of these block folders at its top (or bottom) end.
void setAll(std::initializer_list<Node*> blockFolders, bool top) {
    for (Node* folder : blockFolders) {
        std::vector<NodeFloat*> parameters;
        floatsBelow(folder, parameters);
        for (NodeFloat* parameter : parameters) parameter->setValue(top ? parameter->getMax() : parameter->getMin());
    }
}

TEST_F(ProductChain, BlockFoldersHaveTheSharedShape) {
    struct Case {
        Node* folder;
        NodeOnOff* onOff;
    };
    const Case cases[] = {
        {folders["gate"], gate->getOnOff()},     {folders["exp"], expr->getOnOff()},
        {folders["comp"], comp->getOnOff()},     {folders["mod_pre"], modPre->getOnOff()},
        {folders["ir"], ir->getOnOff()},         {folders["mod"], modPost->getOnOff()},
        {folders["delay"], delay->getOnOff()},   {folders["reverb"], reverb->getOnOff()},
        {tuner->getFolder(), tuner->getOnOff()}, {pickup->getFolder(), pickup->getOnOff()},
    };
    for (const Case& c : cases) {
        const std::string where = c.folder->getPath();
        ASSERT_GT(c.folder->childrenCount(), 1) << where;
        Node* first = c.folder->childrenAt(0);
        EXPECT_EQ(first, c.onOff) << where;
        EXPECT_STREQ(first->getName(), "on_off") << where;
        EXPECT_STREQ(first->getDisplayName(), "Enable") << where;
        EXPECT_STREQ(first->getType(), "enum") << where;
        std::vector<NodeFloat*> parameters;
        floatsBelow(c.folder, parameters);
        EXPECT_FALSE(parameters.empty()) << where;
        for (NodeFloat* parameter : parameters) EXPECT_TRUE(parameter->isLinkable()) << parameter->getPath();
        // Sub-folders: either tempo-synchronised choices ("partempo") or a switchable section.
        for (Node* child : c.folder->getChildren()) {
            NodeItem* sub = dynamic_cast<NodeItem*>(child);
            if (!sub) continue;
            if (sub->getValue() == "partempo") {
                for (Node* choice : sub->getChildren()) EXPECT_STREQ(choice->getType(), "enum") << choice->getPath();
            } else {
                ASSERT_GT(sub->childrenCount(), 0) << sub->getPath();
                EXPECT_STREQ(sub->childrenAt(0)->getName(), "on_off") << sub->getPath();
            }
        }
    }
    // Tempo-synchronised parameters of the blocks that follow the tempo.
    for (Node* folder : {folders["mod_pre"], folders["mod"], folders["delay"]}) {
        bool found = false;
        for (Node* child : folder->getChildren()) found |= child->toString() == "partempo";
        EXPECT_TRUE(found) << folder->getPath();
    }
    // The post modulation's tremolo has its own switch first; the pre instance has none.
    EXPECT_EQ(modPre->getTremoloOnOff(), nullptr);
    ASSERT_NE(modPost->getTremoloOnOff(), nullptr);
    Node* tremolo = modPost->getTremoloOnOff()->getParent();
    EXPECT_EQ(tremolo->getParent(), folders["mod"]);
    EXPECT_EQ(tremolo->childrenAt(0), modPost->getTremoloOnOff());
    EXPECT_NE(modPost->getTremoloOnOff(), modPost->getOnOff());
    // The impulse-response list (its place under the root is the product's test).
    EXPECT_STREQ(ir->getList()->getItemType(), "wav_48000");
    EXPECT_EQ(ir->getList()->getChunkSize(), 4096);
    EXPECT_TRUE(ir->getList()->isCompressed());
}

TEST_F(ProductChain, EveryBlockLeavesTheFrameBitExactWhileOff) {
    const std::vector<Process> cases = processes(true);
    const std::vector<float> hiss = noise(2 * 16 * 200);
    auto playAndCompare = [&](const Process& c) {
        for (int frameIndex = 0; frameIndex < 200; ++frameIndex) {
            alignas(64) float frame[2][16];
            std::memcpy(frame, hiss.data() + frameIndex * 32, sizeof frame);
            std::memcpy(AudioProcessor::getInput(), frame, sizeof frame);
            const bool ended = c.exec(c.block, frame);
            stepPlayers();
            EXPECT_FALSE(ended) << c.name;
            // A bypassed player may put the guitar on both sides.
            const float* in = hiss.data() + frameIndex * 32;
            ASSERT_EQ(std::memcmp(frame[0], in, sizeof frame[0]), 0) << c.name << " frame " << frameIndex;
            ASSERT_TRUE(std::memcmp(frame[1], in + 16, sizeof frame[1]) == 0 ||
                        std::memcmp(frame[1], in, sizeof frame[1]) == 0)
                << c.name << " frame " << frameIndex;
        }
    };
    settle();
    for (const Process& c : cases) playAndCompare(c);
    // Also after having run: switch everything on, play, switch off again.
    for (NodeOnOff* onOff : switches()) onOff->setOn(true);
    settle();
    for (const Process& c : cases) {
        for (int frameIndex = 0; frameIndex < 50; ++frameIndex) {
            alignas(64) float frame[2][16];
            std::memcpy(frame, hiss.data() + frameIndex * 32, sizeof frame);
            c.exec(c.block, frame);
            stepPlayers();
        }
    }
    for (NodeOnOff* onOff : switches()) onOff->setOn(false);
    settle();
    // Each block glides to its bypass first.
    for (const Process& c : cases) {
        for (int frameIndex = 0; frameIndex < SwitchFade::kFrames; ++frameIndex) {
            alignas(64) float frame[2][16];
            std::memcpy(frame, hiss.data() + frameIndex * 32, sizeof frame);
            c.exec(c.block, frame);
            stepPlayers();
        }
    }
    for (const Process& c : cases) playAndCompare(c);
}

// A loud burst, then silence, at the settings that ring longest: every block's tail stays bounded and dies
// away without subnormal numbers (this thread runs without flush-to-zero, where they cost a hundred times a
// normal operation on some processors) and ends in exact silence.
TEST_F(ProductChain, TailsEndInExactSilenceWithoutSubnormals) {
    for (NodeOnOff* onOff : switches()) onOff->setOn(onOff != tuner->getOnOff());
    setAll({folders["delay"], folders["mod"], folders["mod_pre"]}, true);
    parameter("delay", "time")->setValue(20.0f);
    parameter("reverb", "decay")->setValue(0.3f);
    settle();
    const std::vector<Process> cases = processes(false);
    const std::vector<float> burst = noise(2 * 16 * 300);
    for (const Process& c : cases) {
        for (int frameIndex = 0; frameIndex < 300; ++frameIndex) {
            alignas(64) float frame[2][16];
            std::memcpy(frame, burst.data() + frameIndex * 32, sizeof frame);
            std::memcpy(AudioProcessor::getInput(), frame, sizeof frame);
            c.exec(c.block, frame);
            stepPlayers();
        }
        std::memset(AudioProcessor::getInput(), 0, sizeof(float) * 32);
        bool subnormal = false;
        float last = 0.0f, largest = 0.0f;
        for (int frameIndex = 0; frameIndex < 40 * 3000; ++frameIndex) {
            alignas(64) float frame[2][16] = {};
            c.exec(c.block, frame);
            stepPlayers();
            for (int i = 0; i < 32; ++i) {
                subnormal |= std::fpclassify(frame[i / 16][i % 16]) == FP_SUBNORMAL;
                largest = std::fmax(largest, std::fabs(frame[i / 16][i % 16]));
            }
            last = std::fmax(std::fabs(frame[0][15]), std::fabs(frame[1][15]));
        }
        EXPECT_FALSE(subnormal) << c.name;
        EXPECT_EQ(last, 0.0f) << c.name;
        // A loop that gains would grow until its state overflowed and was dropped, then fall silent.
        EXPECT_LT(largest, 20.0f) << c.name;
    }
}

TEST_F(ProductChain, TheChainAllocatesNothingAndStaysFinite) {
    tuner->getOnOff()->setOn(false);
    for (NodeOnOff* onOff : switches()) onOff->setOn(onOff != tuner->getOnOff());
    // The bounded extremes a player can dial in, all at once.
    setAll({folders["delay"], folders["reverb"], folders["mod"], folders["mod_pre"], folders["comp"]}, true);
    settle();
    const std::vector<float> hiss = noise(2 * 16 * 3000);
    // Allocations over a number of frames, each of which the tuner ends or not; every sample finite and
    // bounded.
    auto allocationsOver = [&](int frames, bool tunerListens) {
        allocationcounter::CountingScope scope(allocationcounter::Threads::All, allocationcounter::Source::OperatorNew);
        for (int frameIndex = 0; frameIndex < frames; ++frameIndex) {
            alignas(64) float frame[2][16];
            std::memcpy(frame, hiss.data() + frameIndex * 32, sizeof frame);
            std::memcpy(AudioProcessor::getInput(), frame, sizeof frame);
            EXPECT_EQ(AudioBlock::runRing(frame), tunerListens);
            stepPlayers();
            for (int i = 0; i < 32; ++i) {
                EXPECT_TRUE(std::isfinite(frame[i / 16][i % 16]) && std::fabs(frame[i / 16][i % 16]) < 1000.0f)
                    << "frame " << frameIndex << ": " << frame[i / 16][i % 16];
            }
        }
        return scope.Allocations();
    };
    EXPECT_EQ(allocationsOver(3000, false), 0);
    // The tuner too, while it listens.
    tuner->getOnOff()->setOn(true);
    settle();
    EXPECT_EQ(allocationsOver(100, true), 0);
    // Back from the tuner every block starts afresh, while every setting glides to a new value.
    tuner->getOnOff()->setOn(false);
    setAll({folders["delay"], folders["reverb"], folders["mod"], folders["mod_pre"], folders["comp"]}, false);
    settle();
    EXPECT_EQ(allocationsOver(300, false), 0);
}

}

namespace {

// The tuner mutes the frame (while the chord plays on) and ends the walk of the chain; the blocks after it
// must not replay their pre-tuning tails when it goes off.
TEST_F(ProductChain, NoTailComesBackAfterTheTuner) {
    for (NodeOnOff* onOff : {modPre->getOnOff(), modPost->getOnOff(), delay->getOnOff(), reverb->getOnOff()}) {
        onOff->setOn(true);
    }
    parameter("delay", "fb")->setValue(80.0f);
    parameter("reverb", "decay")->setValue(8.0f);
    play(2.0);
    ASSERT_GT(peak(left, recorded() - 4800), 0.1);
    tuner->getOnOff()->setOn(true);
    const size_t tuning = recorded();
    play(1.0);
    const size_t mark = recorded();
    EXPECT_EQ(peak(left, tuning + 4800, mark) + peak(right, tuning + 4800, mark), 0.0) << "the tuner mutes";
    tuner->getOnOff()->setOn(false);
    play(2.0, false);
    EXPECT_LT(db(std::fmax(peak(left, mark), peak(right, mark))), -80.0) << "a stale tail came back";
}

// Each continuous setting swept as a pedal sweeps it, 1 % of its range every 10 ms, while a chord plays.
TEST_F(ProductChain, SweptSettingsLeaveNoZipperNoise) {
    Node* pickupFolder = pickup->getFolder();
    expr->getOnOff()->setOn(true); // the wah's block; its volume stays a plain pass until swept
    struct Case {
        const char* name;
        NodeOnOff* onOff;
        NodeFloat* setting;
        const char* kind; // of the block's "type" choice, or null
    };
    const Case cases[] = {
        {"pre chorus mix", modPre->getOnOff(), parameter("mod_pre", "mix"), "Chorus"},
        {"chorus mix", modPost->getOnOff(), parameter("mod", "mix"), "Chorus"},
        {"chorus depth", modPost->getOnOff(), parameter("mod", "depth"), "Chorus"},
        {"flanger feedback", modPost->getOnOff(), parameter("mod", "fb"), "Flanger"},
        {"phaser feedback", modPost->getOnOff(), parameter("mod", "fb"), "Phaser"},
        {"phaser depth", modPost->getOnOff(), parameter("mod", "depth"), "Phaser"},
        {"tremolo depth", modPost->getTremoloOnOff(), parameter("mod", "trem\\depth"), nullptr},
        {"delay level", delay->getOnOff(), parameter("delay", "level"), nullptr},
        {"delay feedback", delay->getOnOff(), parameter("delay", "fb"), nullptr},
        {"reverb level", reverb->getOnOff(), parameter("reverb", "level"), nullptr},
        {"reverb decay", reverb->getOnOff(), parameter("reverb", "decay"), nullptr},
        {"reverb pre-delay", reverb->getOnOff(), parameter("reverb", "pre"), nullptr},
        {"compressor threshold", comp->getOnOff(), parameter("comp", "thr"), nullptr},
        {"compressor level", comp->getOnOff(), parameter("comp", "level"), nullptr},
        {"cabinet level", ir->getOnOff(), parameter("ir", "level"), nullptr},
        {"expression volume", expr->getOnOff(), parameter("exp", "vol"), nullptr},
        {"wah resonance", expr->getWahOnOff(), parameter("exp", "wah\\q"), nullptr},
        {"pickup level", pickup->getOnOff(), static_cast<NodeFloat*>(below(pickupFolder, "level")), nullptr},
    };
    for (const Case& c : cases) {
        if (c.kind) choose(c.setting->getParent(), "type", c.kind);
        c.onOff->setOn(true);
        play(0.6);
        const float initial = c.setting->getValue();
        const float range = c.setting->getMax() - c.setting->getMin();
        const size_t mark = recorded();
        for (int step = 0; step <= 50; ++step) {
            c.setting->setValue(c.setting->getMin() + (0.3f + 0.01f * float(step)) * range);
            play(0.01);
        }
        const size_t from = mark + size_t(0.05 * kRate), to = recorded();
        const double highBand = std::fmax(highBandDb(left, from, to), highBandDb(right, from, to));
        EXPECT_LE(highBand, c.setting == parameter("reverb", "pre") ? -90.0 : -100.0) << c.name; // a bend, gliding
        c.setting->setValue(initial);
        c.onOff->setOn(c.onOff == expr->getOnOff());
        play(0.3);
    }
}

// Switches of every block and preset loads while a delay or reverb runs: no click after the fade, and no step
// recorded under the fade comes back in the echoes.
TEST_F(ProductChain, RunningDelaysAndReverbsRecordNoSwitch) {
    parameter("delay", "time")->setValue(300.0f);
    const std::tuple<const char*, NodeOnOff*, const char*> blocks[] = {{"pickup", pickup->getOnOff(), nullptr},
                                                                       {"gate", gate->getOnOff(), nullptr},
                                                                       {"wah", expr->getWahOnOff(), nullptr},
                                                                       {"compressor", comp->getOnOff(), nullptr},
                                                                       {"pre chorus", modPre->getOnOff(), nullptr},
                                                                       {"cabinet", ir->getOnOff(), nullptr},
                                                                       {"chorus", modPost->getOnOff(), "Chorus"},
                                                                       {"flanger", modPost->getOnOff(), "Flanger"},
                                                                       {"phaser", modPost->getOnOff(), "Phaser"},
                                                                       {"vibrato", modPost->getOnOff(), "Vibrato"},
                                                                       {"tremolo", modPost->getTremoloOnOff(), nullptr},
                                                                       {"delay", delay->getOnOff(), nullptr},
                                                                       {"reverb", reverb->getOnOff(), nullptr}};
    for (NodeOnOff* running : {delay->getOnOff(), reverb->getOnOff()}) {
        running->setOn(true);
        play(1.5);
        for (auto [name, onOff, kind] : blocks) {
            if (kind) setKind("mod", kind);
            expr->getOnOff()->setOn(onOff == expr->getWahOnOff()); // the wah plays inside the expression block
            for (bool on : {true, false})
                if (onOff != running) changeAndCheck([&] { onOff->setOn(on); }, name);
        }
        running->setOn(false);
    }
    NodePreset::setLoadHooks(AudioProcessor::beginPresetLoad, AudioProcessor::endPresetLoad);
    for (NodeOnOff* onOff : {delay->getOnOff(), comp->getOnOff(), modPost->getOnOff()}) onOff->setOn(true);
    ASSERT_TRUE(preset->setValue(std::string("first") + NodePreset::SAVE_SUFFIX));
    for (NodeOnOff* onOff : {comp->getOnOff(), modPost->getOnOff(), pickup->getOnOff(), modPre->getOnOff()})
        onOff->setOn(!onOff->isOn());
    ASSERT_TRUE(preset->setValue(std::string("second") + NodePreset::SAVE_SUFFIX));
    play(1.5);
    for (const char* name : {"first", "second", "first"}) changeAndCheck([&] { preset->setValue(name); }, name);
}

// Each block of the table runs in its own case (the modulation as a chorus, a flanger at 90 % feedback and a vibrato;
// the delay at 300 ms), with a project-made model in each player and a 2048-tap cabinet decaying over 1, 4 or
// 8 ms, while every other switch goes on and off, the cabinet's response is changed, and two presets that keep
// the running block on are loaded in turn: no memory after a switching block replays its switch.
class ProductChainRow : public ProductChain, public testing::WithParamInterface<size_t> {};

TEST_P(ProductChainRow, NoSwitchReachesAMemoryDownstream) {
#ifdef PEDAL_EMULATED
    GTEST_SKIP() << "seconds of the whole chain with two models per switch take minutes under emulation";
#endif
    const std::string model = testsupport::readFile(std::string(NEURAL_TEST_MODELS) + "/wavenet_4_2.nam");
    const std::string other = testsupport::readFile(std::string(NEURAL_TEST_MODELS) + "/wavenet_12_6.nam");
    for (RedIzuzir* player : {amp, drive}) {
        ASSERT_TRUE(uploadSlot(*player->getList(), 0, "model", model));
        ASSERT_TRUE(uploadSlot(*player->getList(), 1, "other", other));
        ASSERT_TRUE(player->getSelector()->setValue("model"));
    }
    const char* const cabinets[] = {"1 ms", "4 ms", "8 ms"};
    for (int i = 0; i < 3; ++i) {
        const double decayMs[] = {1.0, 4.0, 8.0};
        const std::vector<uint8_t> file =
            wav({cabinet(2048, 7u + uint32_t(i), decayMs[i] * kRate / 1000.0)}, 48000, Encoding::Float32);
        ASSERT_TRUE(ir->getList()->setElementAt(i, cabinets[i], file.data(), file.size()));
    }
    ASSERT_TRUE(ir->getSelector()->setValue(cabinets[0]));
    parameter("delay", "time")->setValue(300.0f);
    NodePreset::setLoadHooks(AudioProcessor::beginPresetLoad, AudioProcessor::endPresetLoad);
    struct Variant {
        const char* key;
        const char* kind;
        float feedback;
    };
    const Variant variants[] = {{"mod", "Chorus", 0.0f}, {"mod", "Flanger", 90.0f}, {"mod", "Vibrato", 0.0f}};
    const std::vector<NodeOnOff*> all = switches();
    const size_t row = GetParam();
    AudioBlock* running = chain.blocks[row];
    if (!running || running == tuner || running->getFolder() == product->getFolder())
        GTEST_SKIP() << "no block with a switch of its own";
    const char* key = ChainTable::rows()[row].key;
    std::vector<Variant> kinds;
    for (const Variant& variant : variants)
        if (std::string(variant.key) == key) kinds.push_back(variant);
    if (kinds.empty()) kinds.push_back({key, nullptr, 0.0f});
    NodeOnOff* runningOn = static_cast<NodeOnOff*>(running->getFolder()->childrenAt(0));
    for (const Variant& variant : kinds) {
        const std::string name = std::string(key) + (variant.kind ? std::string(" ") + variant.kind : "");
        for (NodeOnOff* onOff : all) onOff->setOn(onOff == runningOn);
        if (variant.kind) {
            setKind(key, variant.kind);
            parameter(key, "fb")->setValue(variant.feedback);
        }
        play(1.0);
        for (NodeOnOff* onOff : all) {
            if (onOff == runningOn || onOff == tuner->getOnOff()) continue;
            for (bool on : {true, false})
                changeAndCheck([&] { onOff->setOn(on); }, name + ": " + onOff->getPath() + (on ? " on" : " off"));
        }
        ir->getOnOff()->setOn(true);
        play(1.0);
        for (const char* cabinetName : {cabinets[1], cabinets[2], cabinets[0]})
            changeAndCheck([&] { ir->getSelector()->setValue(cabinetName); }, name + ": cabinet " + cabinetName);
        ir->getOnOff()->setOn(running == ir);
        amp->getOnOff()->setOn(true);
        for (const char* modelName : {"other", "model"})
            changeAndCheck([&] { amp->getSelector()->setValue(modelName); }, name + ": amp model " + modelName);
        amp->getOnOff()->setOn(running == amp);
        for (NodeOnOff* onOff : {comp->getOnOff(), modPre->getOnOff()}) onOff->setOn(onOff != runningOn);
        ASSERT_TRUE(preset->setValue(std::string("first") + NodePreset::SAVE_SUFFIX));
        for (NodeOnOff* onOff : {comp->getOnOff(), modPre->getOnOff(), pickup->getOnOff(), gate->getOnOff()})
            if (onOff != runningOn) onOff->setOn(!onOff->isOn());
        ASSERT_TRUE(preset->setValue(std::string("second") + NodePreset::SAVE_SUFFIX));
        play(1.0);
        for (const char* presetName : {"first", "second", "first"})
            changeAndCheck([&] { preset->setValue(presetName); }, name + ": preset " + presetName);
    }
    EXPECT_EQ(audioAllocations, 0);
}
INSTANTIATE_TEST_SUITE_P(EveryBlockOfTheTable, ProductChainRow, testing::Range(size_t(0), ChainTable::rows().size()));

}
