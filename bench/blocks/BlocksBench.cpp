// One audio pass through the effect chain without the neural players, per 16-sample frame, and as a share
// of the frame's time budget (16 / 48000 s = 333 us). Every block is switched on with settings that cost the
// most (a 2048-tap cabinet, the stereo chorus with the tremolo, the wah, ping-pong), except the tuner,
// which would end the chain. The whole chain is also measured while every smoothed setting is swept (1 % of
// its range every 10 ms, so every glide runs), against the chain's limit of 1 % of the frame. The
// single-block runs show where the time goes. The device's budget is set by its worst frame, not the mean,
// so the chain is also timed frame by frame over the 16-frame cycle of the cabinet's longest partition.
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "audio/AudioBlock.h"
#include "audio/AudioProcessor.h"
#include "board/ChainTable.h"
#include "blocks/IrLoader.h"
#include "blocks/RedIzuzir.h"
#include "core/NodeEnum.h"
#include "core/NodeFloat.h"
#include "core/NodeItem.h"
#include "core/NodeList.h"
#include "core/NodeOnOff.h"
#include "core/NodeParList.h"
#include "core/NodePreset.h"
#include "blocks/Tempo.h"

namespace {

constexpr double kFrameBudgetSeconds = 16.0 / 48000.0;
// The share of the frame the effect chain may take on this machine, in percent.
constexpr double kChainLimitPercent = 1.0;
// Settings that glide: levels, mixes, depths, feedback amounts, decay, damping, tone and threshold.
const char* const kSweptKeys[] = {"mix", "depth", "fb", "level", "decay", "damp", "tone", "thr", "vol"};

void put(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(value >> (8 * i)));
}

// A 48 kHz mono float WAV of a decaying pseudo-random response, 3000 taps.
std::vector<uint8_t> cabinetFile() {
    const uint32_t frames = 3000;
    std::vector<uint8_t> out;
    for (char c : std::string("RIFF")) out.push_back(uint8_t(c));
    put(out, 36 + frames * 4, 4);
    for (char c : std::string("WAVEfmt ")) out.push_back(uint8_t(c));
    for (uint32_t value : {16u, 3u | (1u << 16), 48000u, 192000u, 4u | (32u << 16)}) put(out, value, 4);
    for (char c : std::string("data")) out.push_back(uint8_t(c));
    put(out, frames * 4, 4);
    uint32_t state = 1;
    for (uint32_t n = 0; n < frames; ++n) {
        state = state * 1664525u + 1013904223u;
        float tap = float((double(state) / 2147483648.0 - 1.0) * std::exp(-double(n) / 600.0));
        uint32_t bits;
        std::memcpy(&bits, &tap, 4);
        put(out, bits, 4);
    }
    return out;
}

// Every switch below a node.
void switchesBelow(Node* node, std::vector<NodeOnOff*>& found) {
    for (Node* child : node->getChildren()) {
        if (NodeOnOff* onOff = dynamic_cast<NodeOnOff*>(child)) found.push_back(onOff);
        switchesBelow(child, found);
    }
}

// The product's chain, built from its table, with every block switched on but the tuner (it would end the
// chain) and the neural players (they run on their own cores).
struct Chain {
    struct Entry {
        AudioBlock* block;
        AudioBlock::Exec exec;
    };
    std::vector<Entry> blocks;
    std::vector<NodeFloat*> swept;

    Chain() {
        const std::string home = std::filesystem::temp_directory_path().string() + "/pedal-bench-blocks";
        std::filesystem::remove_all(home);
        std::filesystem::create_directories(home);
        setenv("PEDAL_HOME", home.c_str(), 1);
        RedIzuzir::setWorkerThreads(false);
        Node* root = new NodeItem(nullptr, "root", "root", "", "vfolder");
        Node* app = new NodeItem(root, "app", "Application", "", "vfolder");
        NodeList* presets = new NodeList(root, "presets", "Presets", "pst_pst", 16384, 60);
        ChainTable::Built built;
        ChainTable::buildFolders(app, built);
        Node* settings = new NodeItem(root, "settings", "Settings", "", "sfolder");
        ChainTable::Context context;
        context.root = root;
        context.preset = new NodePreset(app, "preset", "Preset", "", presets);
        context.tempo = new Tempo(built.folder("output"), context.preset);
        context.tunerFolder = new NodeItem(settings, "tuner", "Tuner", "", "hfolder");
        context.pickupFolder = new NodeItem(settings, "pickup", "Pickup", "", "vfolder");
        context.productFolder = app;
        ChainTable::buildBlocks(context, built);
        for (int i = 0; i < AudioBlock::ringCount(); ++i) {
            AudioBlock* block = AudioBlock::ringAt(i);
            blocks.push_back({block, block->getExec()});
        }

        IrLoader* ir = built.as<IrLoader>("ir");
        const std::vector<uint8_t> file = cabinetFile();
        ir->getList()->setElementAt(0, "Cab", file.data(), file.size());
        ir->getSelector()->setValue("Cab");
        for (size_t i = 0; i < built.blocks.size(); ++i) {
            AudioBlock* block = built.blocks[i];
            // The mixer's folder is the product's own, which holds every other block's.
            if (!block || block == built.block("tuner") || dynamic_cast<RedIzuzir*>(block) || block->getFolder() == app)
                continue;
            std::vector<NodeOnOff*> onOffs;
            switchesBelow(block->getFolder(), onOffs);
            for (NodeOnOff* onOff : onOffs) onOff->setOn(true);
            collectSwept(block->getFolder());
        }
        Node* delayFolder = built.folder("delay");
        Node* gateFolder = built.folder("gate");
        static_cast<NodeEnum*>(delayFolder->pathToNode(delayFolder->getPath() + "\\pingpong"))->setValue("ON");
        static_cast<NodeFloat*>(gateFolder->pathToNode(gateFolder->getPath() + "\\thr"))->setValue(-90.0f);
        for (int pass = 0; pass < 3; ++pass) AudioProcessor::compileStep();
    }

    void collectSwept(Node* folder) {
        for (Node* child : folder->getChildren()) {
            collectSwept(child);
            NodeFloat* setting = dynamic_cast<NodeFloat*>(child);
            if (!setting) continue;
            for (const char* key : kSweptKeys) {
                if (std::string(setting->getName()) == key) swept.push_back(setting);
            }
        }
    }

    // Moves every swept setting by 1 % of its range, up for 50 steps, then down for 50, and compiles.
    void sweepStep(int step) {
        const float direction = (step / 50) % 2 == 0 ? 0.01f : -0.01f;
        for (NodeFloat* setting : swept) {
            setting->setValue(setting->getValue() + direction * (setting->getMax() - setting->getMin()));
        }
        AudioProcessor::compileStep();
    }
};

Chain& chain() {
    static Chain* instance = new Chain();
    return *instance;
}

void fill(float (*frame)[16], uint32_t& state) {
    for (int channel = 0; channel < 2; ++channel) {
        for (int i = 0; i < 16; ++i) {
            state = state * 1664525u + 1013904223u;
            frame[channel][i] = 0.3f * float(double(state) / 2147483648.0 - 1.0);
        }
    }
}

// "budget%": seconds per frame as a percentage of the frame's duration (the library prints values below 1
// with an SI prefix: "820m" is 0.82 %).
void reportBudget(benchmark::State& state) {
    state.counters["budget%"] = benchmark::Counter(
        kFrameBudgetSeconds / 100.0, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// "limit%": the share of the chain's limit used, in percent, with the limit in the label.
void reportLimit(benchmark::State& state) {
    state.counters["limit%"] =
        benchmark::Counter(kFrameBudgetSeconds * kChainLimitPercent / 100.0 / 100.0,
                           benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.SetLabel("limit " + std::to_string(int(kChainLimitPercent)) + " % of the 333 us frame");
}

// Argument 1 sweeps, as the compile thread would, every 30 frames (10 ms); the sweep step is not timed.
void WholeChain(benchmark::State& state) {
    Chain& whole = chain();
    const bool sweeping = state.range(0) != 0;
    alignas(64) float frame[2][16];
    uint32_t seed = 7;
    int frames = 0, step = 0;
    for (auto _ : state) {
        if (sweeping && ++frames == 30) {
            frames = 0;
            state.PauseTiming();
            whole.sweepStep(step++);
            state.ResumeTiming();
        }
        fill(frame, seed);
        std::memcpy(AudioProcessor::getInput(), frame, sizeof frame);
        AudioBlock::runRing(frame);
        benchmark::DoNotOptimize(frame);
    }
    reportBudget(state);
    reportLimit(state);
}
BENCHMARK(WholeChain)->ArgName("sweeping")->Arg(0)->Arg(1);

double threadSeconds() {
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + 1e-9 * double(now.tv_nsec);
}

// Each frame of the 16-frame cycle timed on the thread's CPU clock; per phase the median over the cycles.
// "mean%" and "worst%" are the mean of the phase medians and the largest one, as shares of the 333 us frame,
// against the limits in the label: the worst frame sets the device's budget.
void ChainPhases(benchmark::State& state) {
    constexpr int kPhases = 16;
    constexpr int kCycles = 2000;
    constexpr double kWorstLimitPercent = 1.5;
    chain();
    alignas(64) float frame[2][16];
    uint32_t seed = 13;
    std::vector<double> times(size_t(kPhases) * kCycles);
    double mean = 0.0, worst = 0.0;
    for (auto _ : state) {
        for (int cycle = 0; cycle < kCycles; ++cycle) {
            for (int phase = 0; phase < kPhases; ++phase) {
                fill(frame, seed);
                std::memcpy(AudioProcessor::getInput(), frame, sizeof frame);
                const double start = threadSeconds();
                AudioBlock::runRing(frame);
                times[size_t(phase) * kCycles + cycle] = threadSeconds() - start;
                benchmark::DoNotOptimize(frame);
            }
        }
        mean = worst = 0.0;
        for (int phase = 0; phase < kPhases; ++phase) {
            auto first = times.begin() + ptrdiff_t(phase) * kCycles;
            std::nth_element(first, first + kCycles / 2, first + kCycles);
            mean += first[kCycles / 2] / kPhases;
            worst = std::max(worst, first[kCycles / 2]);
        }
    }
    state.counters["mean%"] = 100.0 * mean / kFrameBudgetSeconds;
    state.counters["worst%"] = 100.0 * worst / kFrameBudgetSeconds;
    state.counters["mean_us"] = 1e6 * mean;
    state.counters["worst_us"] = 1e6 * worst;
    char label[96];
    std::snprintf(label, sizeof label, "limits: mean %.1f %%, worst %.1f %% of the 333 us frame", kChainLimitPercent,
                  kWorstLimitPercent);
    state.SetLabel(label);
}
BENCHMARK(ChainPhases)->Iterations(3)->Unit(benchmark::kMillisecond);

void OneBlock(benchmark::State& state) {
    if (size_t(state.range(0)) >= chain().blocks.size()) {
        state.SkipWithError("no block there");
        return;
    }
    const Chain::Entry entry = chain().blocks[size_t(state.range(0))];
    state.SetLabel(entry.block->getName());
    alignas(64) float frame[2][16];
    uint32_t seed = 11;
    for (auto _ : state) {
        fill(frame, seed);
        std::memcpy(AudioProcessor::getInput(), frame, sizeof frame);
        entry.exec(entry.block, frame);
        benchmark::DoNotOptimize(frame);
    }
    reportBudget(state);
}
BENCHMARK(OneBlock)->DenseRange(0, int(ChainTable::rows().size()));

}

BENCHMARK_MAIN();
