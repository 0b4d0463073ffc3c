// The neural amp-model player driven as the product drives it: model files uploaded through its slot list as
// a remote client sends them (gzip, 4096-byte chunks), its output against the model's own Process on the same
// input one frame earlier with the level adjustments, the drive and an independent double-precision tone
// stack; files that are not models; NaN input; a model whose state goes non-finite; models refused for their
// cost or for the memory budget; a model swap while playing, through the engine's fade; the late worker;
// bypass; allocation-free processing; and the real worker thread.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <limits>
#include <memory>
#include <numbers>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/AllocationCounter.h"
#include "audio/AudioBlock.h"
#include "audio/AudioProcessor.h"
#include "tests/blocks/BlockTestSupport.h"
#include "neural/ModelBudget.h"
#include "neural/ModelCheck.h"
#include "neural/ModelLimits.h"
#include "neural/NeuralModel.h"
#include "core/Debug.h"
#include "core/NodeList.h"
#include "core/NodeOnOff.h"
#include "core/NodeParList.h"
#include "blocks/Mixer.h"
#include "blocks/Pickup.h"
#include "blocks/RedIzuzir.h"
#include "porting/Shims.h"

using namespace blocktest;

namespace {

constexpr int kFrame = 16;

// ---- Model files: the neural tests' generated WaveNets of the fixed shapes, with level adjustments ----

struct ModelRecipe {
    int channels;
    int headSize;
    double loudness;          // metadata: output adjustment -18 - loudness
    double inputLevelDbu;     // metadata: input adjustment 12 - level
    double weightScale = 1.0; // another model of the same size
};

std::string modelText(const ModelRecipe& recipe) {
    nlohmann::json document = nlohmann::json::parse(
        testsupport::readFile(std::string(NEURAL_TEST_MODELS) + "/wavenet_" + std::to_string(recipe.channels) + "_" +
                              std::to_string(recipe.headSize) + ".nam"));
    document["metadata"] = {{"loudness", recipe.loudness}, {"input_level_dbu", recipe.inputLevelDbu}};
    for (auto& weight : document["weights"]) weight = float(weight.get<double>() * recipe.weightScale);
    return document.dump();
}

const ModelRecipe kSmall{4, 2, -24.0, 18.0};  // input -6 dB, output +6 dB
const ModelRecipe kMedium{8, 4, -12.0, 9.0};  // input +3 dB, output -6 dB
const ModelRecipe kLarge{16, 8, -18.0, 12.0}; // no adjustment
const ModelRecipe kSmallOther{4, 2, -24.0, 18.0, 0.8};

// A runtime-sized WaveNet within every size limit that costs 34,945 multiply-adds per sample, more than half
// a frame on the device.
std::string costlyModelText() {
    const nlohmann::json layers = {{{"input_size", 1},
                                    {"condition_size", 1},
                                    {"head_size", 1},
                                    {"channels", 32},
                                    {"kernel_size", 16},
                                    {"dilations", {1, 2}},
                                    {"activation", "Tanh"},
                                    {"gated", false},
                                    {"head_bias", false}}};
    std::mt19937 random(5u);
    std::normal_distribution<float> normal(0.0f, 0.05f);
    std::vector<float> weights(32 + 2 * (16 * 32 * 32 + 32 + 32 + 32 * 32 + 32) + 32 + 1);
    for (float& weight : weights) weight = normal(random);
    return nlohmann::json{{"architecture", "WaveNet"},
                          {"config", {{"layers", layers}, {"head", nullptr}}},
                          {"sample_rate", 48000},
                          {"weights", weights}}
        .dump();
}

std::unique_ptr<RuveroRidev::NeuralModel> modelOf(const std::string& text) {
    std::istringstream stream(text);
    return RuveroRidev::NeuralModel::CreateFromStream(stream, "reference.nam");
}

// ---- Expected output ----

// The model's own Process on 16-sample blocks, with the drive and the model's level adjustments (each at most
// 40 dB either way).
std::vector<float> modelChain(RuveroRidev::NeuralModel& model, const std::vector<float>& input, float gainDb) {
    const float inputDb = std::clamp(model.GetRecommendedInputDBAdjustment(), -40.0f, 40.0f);
    const float drive = std::pow(10.0f, gainDb / 20.0f) * std::pow(10.0f, inputDb / 20.0f);
    const float outputGain =
        std::pow(10.0f, std::clamp(model.GetRecommendedOutputDBAdjustment(), -40.0f, 40.0f) / 20.0f);
    std::vector<float> output(input.size());
    for (size_t start = 0; start + kFrame <= input.size(); start += kFrame) {
        float block[kFrame], result[kFrame];
        for (int i = 0; i < kFrame; ++i) block[i] = input[start + size_t(i)] * drive;
        model.Process(block, result, kFrame);
        for (int i = 0; i < kFrame; ++i) output[start + size_t(i)] = result[i] * outputGain;
    }
    return output;
}

// One biquad in double precision straight from the cookbook equations (shelf slope 1, peaking by Q).
struct Biquad {
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;

    static Biquad shelf(bool high, double hertz, double db) {
        const double A = std::pow(10.0, db / 40.0), w = 2 * std::numbers::pi * hertz / kRate;
        const double alpha = std::sin(w) / 2 * std::sqrt(2.0), c = std::cos(w), root = 2 * std::sqrt(A) * alpha;
        const double sign = high ? -1.0 : 1.0;
        const double n0 = A * ((A + 1) - sign * (A - 1) * c + root);
        const double n1 = sign * 2 * A * ((A - 1) - sign * (A + 1) * c);
        const double n2 = A * ((A + 1) - sign * (A - 1) * c - root);
        const double d0 = (A + 1) + sign * (A - 1) * c + root;
        const double d1 = -sign * 2 * ((A - 1) + sign * (A + 1) * c);
        const double d2 = (A + 1) + sign * (A - 1) * c - root;
        return {n0 / d0, n1 / d0, n2 / d0, d1 / d0, d2 / d0};
    }
    static Biquad peak(double hertz, double q, double db) {
        const double A = std::pow(10.0, db / 40.0), w = 2 * std::numbers::pi * hertz / kRate;
        const double alpha = std::sin(w) / (2 * q), c = std::cos(w);
        const double d0 = 1 + alpha / A;
        return {(1 + alpha * A) / d0, -2 * c / d0, (1 - alpha * A) / d0, -2 * c / d0, (1 - alpha / A) / d0};
    }
    double step(double x) {
        const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        return y;
    }
};

void toneStack(std::vector<float>& signal, float low, float mid, float treble) {
    auto db = [](float knob) { return (knob - 5.0) / 5.0 * RedIzuzir::kToneRangeDb; };
    std::vector<Biquad> bands;
    if (low != 5.0f) bands.push_back(Biquad::shelf(false, RedIzuzir::kLowHz, db(low)));
    if (mid != 5.0f) bands.push_back(Biquad::peak(RedIzuzir::kMidHz, RedIzuzir::kMidQ, db(mid)));
    if (treble != 5.0f) bands.push_back(Biquad::shelf(true, RedIzuzir::kTrebleHz, db(treble)));
    for (float& sample : signal) {
        double value = sample;
        for (Biquad& band : bands) value = band.step(value);
        sample = float(value);
    }
}

std::vector<float> delayedByOneFrame(const std::vector<float>& signal) {
    std::vector<float> out(signal.size(), 0.0f);
    std::copy(signal.begin(), signal.end() - kFrame, out.begin() + kFrame);
    return out;
}

// A player switched on glides in: compared from the end of its glide on.
constexpr size_t kGlideSamples = size_t(SwitchFade::kFrames) * kFrame;

std::vector<float> afterGlide(const std::vector<float>& signal) {
    return std::vector<float>(signal.begin() + long(std::min(kGlideSamples, signal.size())), signal.end());
}

// What a player switched on at the signal's start hands its model: the signal under the switch's glide.
std::vector<float> glidedIn(std::vector<float> signal) {
    SwitchFade glide;
    for (size_t start = 0; start + kFrame <= signal.size(); start += kFrame) {
        alignas(64) float frame[2][16] = {};
        glide.begin(true, frame, 1);
        glide.scale(&signal[start]);
    }
    return signal;
}

void expectClose(const std::vector<float>& actual, const std::vector<float>& expected, const std::string& what) {
    ASSERT_EQ(actual.size(), expected.size()) << what;
    float scale = 1.0f;
    for (float value : expected) scale = std::fmax(scale, std::fabs(value));
    size_t worst = 0;
    float worstError = 0.0f;
    for (size_t n = std::min(kGlideSamples, actual.size()); n < actual.size(); ++n) {
        const float error = std::fabs(actual[n] - expected[n]);
        if (!(error <= worstError)) {
            worst = n;
            worstError = error;
            if (std::isnan(error)) break;
        }
    }
    EXPECT_LE(worstError, 1e-4f * scale) << what << ": worst at sample " << worst << " (frame " << worst / kFrame
                                         << "), got " << actual[worst] << ", expected " << expected[worst];
}

std::vector<float> guitar(size_t samples) {
    std::vector<float> signal = sine(samples, 196.0, 0.5);
    const std::vector<float> hiss = noise(samples, 777u);
    for (size_t n = 0; n < samples; ++n) signal[n] += 0.05f * hiss[n];
    return signal;
}

// ---- The fixture: a player driven by its step function ----

class RedIzuzirTest : public testing::Test {
protected:
    void SetUp() override {
        RedIzuzir::setWorkerThreads(false);
        root = testRoot();
        folderNode = folder(root, "amp");
    }
    void TearDown() override {
        porting::setClock({});
        RedIzuzir::setWorkerThreads(true);
        RuveroRidev::ModelBudget::SetLimit(RuveroRidev::ModelLimits::totalModelBytes);
    }

    RedIzuzir* build(bool copyLeftToRight = true, const char* key = "nam_amp", Node* where = nullptr) {
        player.reset(new RedIzuzir(where ? where : folderNode, root, nullptr, key, "Nam Amp", copyLeftToRight));
        return player.get();
    }
    void set(const char* key, float value) { setValue(player->getFolder(), key, value); }
    // Uploads, selects and switches the player on; the compile passes take it all over.
    void play(int slot, const std::string& name, const std::string& text) {
        ASSERT_TRUE(uploadSlot(*player->getList(), slot, name, text));
        ASSERT_TRUE(player->getSelector()->setValue(name));
        player->getOnOff()->setOn(true);
        settle();
        ASSERT_EQ(player->getSelectedSlot(), slot);
    }
    // Off and on again, each through its glide on silence, so what follows is heard as the player plays on; or
    // not through the glide in, so what follows is heard from a fresh model once the glide has ended.
    void restart(bool glideIn = false) {
        player->getOnOff()->setOn(false);
        settle();
        glide();
        player->getOnOff()->setOn(true);
        settle();
        if (glideIn) glide();
    }
    // The switch's glide, on silence, and the frame after it.
    void glide() {
        for (int f = 0; f <= SwitchFade::kFrames; ++f) {
            alignas(64) float audio[2][16] = {};
            RedIzuzir::exec(player.get(), audio);
            player->playerStep();
        }
    }
    // One frame through the process function and then the worker's step; channel 0 in, both channels out.
    void frame(const float* in, float* left, float* right) {
        alignas(64) float audio[2][16];
        std::copy(in, in + kFrame, audio[0]);
        std::fill(audio[1], audio[1] + kFrame, -1.0f);
        RedIzuzir::exec(player.get(), audio);
        player->playerStep();
        std::copy(audio[0], audio[0] + kFrame, left);
        std::copy(audio[1], audio[1] + kFrame, right);
    }
    std::vector<float> runSignal(const std::vector<float>& input, std::vector<float>* right = nullptr) {
        std::vector<float> left(input.size()), other(input.size());
        for (size_t start = 0; start + kFrame <= input.size(); start += kFrame) {
            frame(&input[start], &left[start], &other[start]);
        }
        if (right) *right = other;
        return left;
    }

    // Selects the slot of that name and gives what the player makes of a stretch of guitar.
    std::vector<float> heard(const std::string& name, const std::vector<float>& input) {
        EXPECT_TRUE(player->getSelector()->setValue(name)) << name;
        player->getOnOff()->setOn(true);
        settle();
        restart(true);
        return runSignal(input);
    }

    Node* root = nullptr;
    Node* folderNode = nullptr;
    std::unique_ptr<RedIzuzir> player;
};

// Its place in the ring, its worker's index and its list's place under the root are the product's test.
TEST_F(RedIzuzirTest, BuildsItsNodesAndSlotList) {
    RedIzuzir* amp = build(true, "nam_amp");
    std::vector<std::string> keys;
    for (Node* child : folderNode->getChildren()) keys.push_back(child->getName());
    EXPECT_EQ(keys, (std::vector<std::string>{"on_off", "model", "gain", "low", "mid", "treble"}));
    EXPECT_EQ(amp->getOnOff()->getDisplayName(), std::string("Enable"));
    NodeList* list = amp->getList();
    EXPECT_EQ(amp->getSelector()->getReferenceList(), list);
    EXPECT_EQ(list->getElementCount(), 50);
    EXPECT_EQ(list->getChunkSize(), 4096);
    EXPECT_TRUE(list->isCompressed());
}

TEST_F(RedIzuzirTest, PlaysTheModelOneFrameLateWithLevelsDriveAndTone) {
    struct Case {
        const char* what;
        ModelRecipe recipe;
        float gainDb, low, mid, treble;
    };
    const Case cases[] = {
        {"small, flat", kSmall, 0.0f, 5.0f, 5.0f, 5.0f},
        {"small, drive +6 dB, tone 0/10/3", kSmall, 6.0f, 0.0f, 10.0f, 3.0f},
        {"medium, drive -9 dB, treble up", kMedium, -9.0f, 5.0f, 5.0f, 8.5f},
        {"large (a full-size file through the list), low up", kLarge, 2.0f, 9.0f, 5.0f, 5.0f},
        {"small, stored with adjustments of +312 and +582 dB, played at +40 dB", {4, 2, -600.0, -300.0}, 0.0f, 5, 5, 5},
    };
    build();
    // Files stored before uploads were checked for their adjustments.
    player->getList()->setValidator(nullptr);
    int slot = 0;
    for (const Case& c : cases) {
        const std::string text = modelText(c.recipe);
        set("gain", c.gainDb);
        set("low", c.low);
        set("mid", c.mid);
        set("treble", c.treble);
        play(slot, "model " + std::to_string(slot), text);
        restart();

        const std::vector<float> input = guitar(300 * kFrame);
        std::vector<float> right;
        const std::vector<float> left = runSignal(input, &right);
        auto reference = modelOf(text);
        ASSERT_TRUE(reference) << c.what;
        std::vector<float> expected = modelChain(*reference, glidedIn(input), c.gainDb);
        toneStack(expected, c.low, c.mid, c.treble);
        expectClose(left, delayedByOneFrame(expected), c.what);
        EXPECT_EQ(left, right) << c.what << ": both channels carry the result";
        ++slot;
    }
}

// Every reason a model file is refused for is the model loader's test; here the upload's refusal.
TEST_F(RedIzuzirTest, SlotsWithoutAModelPassTheGuitarThrough) {
    struct Case {
        const char* what;
        std::string text;   // empty: nothing selected
        const char* reason; // why the upload is refused
    };
    const std::string valid = modelText(kSmall);
    const Case cases[] = {
        {"no slot selected", "", ""},
        {"not JSON", "{\"architecture\": \"WaveNet\", \"config\": ", "not a JSON model file"},
        {"a file cut in half", valid.substr(0, valid.size() / 2), "not a JSON model file"},
        {"not a model", "{\"architecture\": \"Unknown\", \"config\": {}, \"weights\": []}", "not a WaveNet or LSTM"},
    };
    build();
    set("gain", 12.0f);
    set("treble", 10.0f);
    int slot = 0;
    for (const Case& c : cases) {
        testing::internal::CaptureStdout();
        // A file the player cannot build is refused at the upload, before it takes a slot.
        if (!c.text.empty()) {
            EXPECT_FALSE(uploadSlot(*player->getList(), slot, "file " + std::to_string(slot), c.text)) << c.what;
        }
        player->getSelector()->setValue(c.text.empty() ? "" : "file " + std::to_string(slot));
        player->getOnOff()->setOn(true);
        settle();
        const std::string log = testing::internal::GetCapturedStdout();
        if (!c.text.empty()) {
            EXPECT_NE(log.find("') refused: "), std::string::npos) << c.what << ": " << log;
            EXPECT_NE(log.find(c.reason), std::string::npos) << c.what << ": " << log;
            EXPECT_EQ(player->getList()->nameAt(slot), "") << c.what << ": nothing is stored";
        }
        restart();
        const std::vector<float> input = guitar(40 * kFrame);
        EXPECT_EQ(afterGlide(runSignal(input)), afterGlide(delayedByOneFrame(input))) << c.what;
        ++slot;
    }
}

TEST_F(RedIzuzirTest, NonFiniteInputGivesFiniteOutputAtOnce) {
    build();
    const std::string text = modelText(kMedium);
    play(0, "medium", text);
    restart();
    const float bad[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                         -std::numeric_limits<float>::infinity()};
    std::vector<float> input = guitar(kGlideSamples + 120 * kFrame);
    std::vector<float> cleaned = input;
    size_t at = kGlideSamples + 40 * kFrame + 5; // once the glide has ended
    for (float value : bad) {
        input[at] = value;
        cleaned[at] = 0.0f; // what the player makes of it
        at += 20 * kFrame + 3;
    }
    const std::vector<float> output = runSignal(input);
    for (size_t n = 0; n < output.size(); ++n) ASSERT_TRUE(std::isfinite(output[n])) << "sample " << n;
    auto reference = modelOf(text);
    expectClose(output, delayedByOneFrame(modelChain(*reference, glidedIn(cleaned), 0.0f)), "non-finite samples as 0");
}

// A finite but enormous block drives the fast tanh past its range: NaN enters the layer histories and would
// stay for the whole receptive field. The worker only marks the model; it plays silence (no Prewarm on the
// worker or audio thread) until a compile pass has prewarmed the model, which then plays as a fresh one.
TEST_F(RedIzuzirTest, AModelGoneNonFiniteIsPrewarmedOnTheCompileThread) {
    const std::string text = modelText(kSmall);
    const std::vector<float> huge(kFrame, 1e12f);
    {
        auto reference = modelOf(text);
        std::vector<float> blocks = guitar(kFrame);
        blocks.insert(blocks.end(), huge.begin(), huge.end());
        const std::vector<float> output = modelChain(*reference, blocks, 0.0f);
        ASSERT_FALSE(std::isfinite(output.back())) << "the model must go non-finite for this test";
    }
    build();
    play(0, "small", text);
    restart(true);
    const std::vector<float> input = guitar(60 * kFrame);
    runSignal(std::vector<float>(input.begin(), input.begin() + 10 * kFrame));
    float left[kFrame], right[kFrame];
    frame(huge.data(), left, right);
    frame(&input[10 * kFrame], left, right); // the huge block's output, cleared where it was not finite
    for (float sample : left) ASSERT_TRUE(std::isfinite(sample));
    const std::vector<float> silence(kFrame, 0.0f);
    for (int f = 11; f < 16; ++f) {
        frame(&input[size_t(f) * kFrame], left, right);
        EXPECT_EQ(std::vector<float>(left, left + kFrame), silence) << "frame " << f << ": the worker did not prewarm";
    }
    testing::internal::CaptureStdout();
    settle();
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("\\nam_amp[0]: the model's output went non-finite 1 time(s)"), std::string::npos) << log;
    const std::vector<float> after(input.begin() + 16 * kFrame, input.end());
    auto fresh = modelOf(text);
    std::vector<float> expected = delayedByOneFrame(modelChain(*fresh, after, 0.0f));
    std::vector<float> output = runSignal(after);
    // The first frame out is the worker's last silent block.
    expectClose(std::vector<float>(output.begin() + kFrame, output.end()),
                std::vector<float>(expected.begin() + kFrame, expected.end()), "prewarmed by the compile pass");
}

// A model beyond its share of the frame on the device, or past the memory budget that all loaded models share,
// is refused with one log line and its file kept: at start-up, where models load in slot order and the slot
// then holds none, and after an upload, where the slot's model plays on. A replacement counts the memory of the
// model it replaces as free.
TEST_F(RedIzuzirTest, ModelsBeyondTheFrameShareOrTheMemoryBudgetAreRefused) {
    const std::string small = modelText(kSmall);
    const std::string other = modelText(kSmallOther);
    const std::string costly = costlyModelText();
    const int64_t smallBytes = modelOf(small)->MemoryBytes();
    ASSERT_GT(smallBytes, 0);
    ASSERT_EQ(modelOf(costly)->MultiplyAddsPerSample(), 34945);
    build();
    // Files stored before uploads were checked for their cost.
    player->getList()->setValidator(nullptr);
    const std::string stored[4] = {small, costly, small, small};
    const char* names[4] = {"first", "slow", "second", "third"};
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(uploadSlot(*player->getList(), i, names[i], stored[i]));
    player.reset();
    RuveroRidev::ModelBudget::SetLimit(2 * smallBytes + smallBytes / 2);

    root = testRoot();
    testing::internal::CaptureStdout();
    build(true, "nam_amp", folder(root, "amp"));
    std::string log = testing::internal::GetCapturedStdout();
    const std::string slow = "[1] refused: 34945 multiply-adds per sample and their activations take 57 % of a "
                             "frame on the device, at most 50 %\n";
    EXPECT_NE(log.find(slow), std::string::npos) << log;
    EXPECT_NE(log.find("[3] refused: its " + std::to_string(smallBytes) +
                       " bytes would take the loaded models past their budget"),
              std::string::npos)
        << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2) << log;
    EXPECT_EQ(RuveroRidev::ModelBudget::Reserved(), 2 * smallBytes);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(player->getList()->dataAt(i)->size(), stored[i].size()) << names[i];

    const std::vector<float> input = guitar(40 * kFrame);
    const std::vector<float> dry = delayedByOneFrame(input);
    EXPECT_EQ(heard("slow", input), dry);
    EXPECT_EQ(heard("third", input), dry);
    expectClose(heard("second", input), delayedByOneFrame(modelChain(*modelOf(small), input, 0.0f)), "second");

    // Uploads: the slow file is refused by the upload's check and a model past the budget by the player, the
    // slot's model plays on; a model of the same size replacing one that plays fits.
    struct Upload {
        int slot;
        const char* name;
        const std::string* text;
        const std::string* kept; // what the list holds afterwards
        bool refused;
        const std::string* heard; // null: the guitar unchanged
    };
    const Upload uploads[] = {
        {0, "first", &costly, &small, false, &small},
        {3, "third", &other, &other, true, nullptr},
        {2, "second", &other, &other, false, &other},
    };
    player->getList()->setValidator(RuveroRidev::ModelCheck::Check);
    for (const Upload& u : uploads) {
        EXPECT_EQ(uploadSlot(*player->getList(), u.slot, u.name, *u.text), u.kept == u.text) << u.name;
        testing::internal::CaptureStdout();
        settle();
        log = testing::internal::GetCapturedStdout();
        EXPECT_EQ(log.find(std::string("[") + std::to_string(u.slot) + "] refused: ") != std::string::npos, u.refused)
            << u.name << ": " << log;
        EXPECT_EQ(player->getList()->dataAt(u.slot)->size(), u.kept->size()) << u.name;
        const std::vector<float> output = heard(u.name, input);
        if (u.heard) {
            expectClose(output, delayedByOneFrame(modelChain(*modelOf(*u.heard), input, 0.0f)), u.name);
        } else {
            EXPECT_EQ(output, dry) << u.name;
        }
    }
    EXPECT_EQ(RuveroRidev::ModelBudget::Reserved(), 2 * smallBytes);
    player.reset();
    EXPECT_EQ(RuveroRidev::ModelBudget::Reserved(), 0) << "every model gave its memory back";
}

TEST_F(RedIzuzirTest, ALateWorkerIsRunInlineAndAHeldOneCostsOneCountedSilentFrame) {
    build();
    player->getOnOff()->setOn(true);
    settle(); // no model selected: the worker passes its input through
    glide();
    float blocks[5][16];
    for (int b = 0; b < 5; ++b) {
        for (int i = 0; i < kFrame; ++i) blocks[b][i] = float(b + 1) + 0.01f * float(i);
    }
    const std::vector<float> silence(kFrame, 0.0f);
    alignas(64) float audio[2][16];
    auto execOnly = [&](const float* in) {
        std::copy(in, in + kFrame, audio[0]);
        std::copy(in, in + kFrame, audio[1]);
        RedIzuzir::exec(player.get(), audio);
        return std::vector<float>(audio[0], audio[0] + kFrame);
    };
    auto played = [&](int b) { return std::vector<float>(blocks[b], blocks[b] + kFrame); };
    Debug::takeEvents(player->getGivenUpCounter());
    EXPECT_EQ(execOnly(blocks[0]), silence) << "nothing was handed over before";
    EXPECT_TRUE(player->isPlayerBusy());
    EXPECT_EQ(execOnly(blocks[1]), played(0)) << "a worker not woken yet has its block run inline";
    EXPECT_TRUE(player->takeBlock()) << "a worker takes block 1 and stalls inside it";
    EXPECT_EQ(execOnly(blocks[2]), silence) << "given up after the bounded wait";
    EXPECT_EQ(std::vector<float>(audio[1], audio[1] + kFrame), silence);
    EXPECT_EQ(Debug::takeEvents(player->getGivenUpCounter()), 1u) << "the given-up frame is counted";
    player->finishBlock();
    EXPECT_FALSE(player->playerStep()) << "one block per hand-over";
    EXPECT_EQ(execOnly(blocks[3]), played(1));
    player->playerStep();
    EXPECT_EQ(execOnly(blocks[4]), played(3)) << "block 2 was dropped";
    EXPECT_EQ(Debug::takeEvents(player->getGivenUpCounter()), 0u);
}

// While a chord plays, each setting swept 1 % per 10 ms or stepped once (a tone knob across its centre, a
// preset 12 dB louder, another model): above 6 kHz at most -90 dB or 3 dB over the settled output's, no step over twice its.
TEST_F(RedIzuzirTest, KnobsAndLevelsGlideWithoutZipperOrClick) {
    Mixer mixer(root, nullptr);
    Pickup pickup(folder(root, "pickup"), false);
    auto level = [&](float gain) { mixer.setMixerValue(gain, gain, 0, 0, 0, 0, 0, 0); };
    std::vector<float> chord = sine(size_t(kRate) * 60, 220.0, 0.15), out;
    for (size_t n = 0; n < chord.size(); ++n)
        chord[n] += float(0.15 * std::sin(2 * std::numbers::pi * 330 * double(n) / kRate));
    struct Row {
        std::string name;
        std::function<void(float)> set; // the setting at 0 .. 1
        int steps;                      // of 10 ms, from 0.3 to 0.8, or one from 0.49 (0 for a level) to 0.51 (1)
        bool player;
    };
    std::vector<Row> rows = {
        {"master volume", [&](float v) { level(v); }, 50, false},
        {"preset level", [&](float v) { level(std::pow(10.0f, 1.2f * v - 0.6f)); }, 50, false},
        {"level-only preset change", [&](float v) { level(v > 0.5f ? 4.0f : 1.0f); }, 1, false},
        {"input gain", [&](float v) { pickup.setExtGain(std::pow(10.0f, 1.5f * v - 0.75f)); }, 50, false}};
    for (std::string knob : {"low", "mid", "treble"}) {
        for (int steps : {50, 1})
            rows.push_back(
                {knob, [this, knob](float v) { set(knob.c_str(), 10 * v), player->compile(); }, steps, true});
    }
    auto choose = [this](float v) { player->getSelector()->setValue(v > 0.5f ? "other" : "small"), player->compile(); };
    rows.push_back({"model change", choose, 1, true});
    for (const char* key : {"nam_amp", "nam_drive"}) {
        build(true, key, folder(root, key));
        play(0, "small", modelText(kSmall));
        ASSERT_TRUE(uploadSlot(*player->getList(), 1, "other", modelText(kMedium)));
        for (const Row& row : rows) {
            if (!row.player && key != std::string("nam_amp")) continue; // the levels once
            auto run = [&](double seconds) {
                for (int f = 0; f < int(seconds * kRate) / kFrame; ++f) {
                    alignas(64) float audio[2][16];
                    std::copy_n(&chord[out.size()], kFrame, audio[0]);
                    std::copy_n(&chord[out.size()], kFrame, audio[1]);
                    row.player                 ? (RedIzuzir::exec(player.get(), audio), player->playerStep())
                    : row.name == "input gain" ? Pickup::exec(&pickup, audio)
                                               : Mixer::exec(&mixer, audio);
                    out.insert(out.end(), audio[0], audio[0] + kFrame);
                }
            };
            const float from = row.steps > 1 ? 0.3f : 0.49f, to = row.steps > 1 ? 0.8f : 0.51f;
            out.clear();
            for (int step = 0; step <= row.steps; ++step) {
                row.set(from + (to - from) * float(step) / float(row.steps));
                run(step ? 0.01 : 0.5);
            }
            run(0.8);
            const size_t mark = size_t(0.5 * kRate), changed = mark + size_t((0.01 * row.steps + 0.4) * kRate);
            const size_t before = mark - size_t(0.2 * kRate), end = out.size(), after = end - size_t(0.3 * kRate);
            const double settled = std::fmax(highBandDb(out, before, mark), highBandDb(out, after, end));
            const double steady =
                std::fmax(largestSecondDifference(out, before, mark), largestSecondDifference(out, after, end));
            EXPECT_LE(highBandDb(out, mark, changed), std::fmax(-90.0, settled + 3.0)) << key << " " << row.name;
            EXPECT_LE(largestSecondDifference(out, mark, changed), 2.0 * steady) << key << " " << row.name;
        }
        EXPECT_EQ(player->getSelectedSlot(), 1) << "the model changed without the engine's fade";
    }
}

TEST_F(RedIzuzirTest, BypassLeavesTheFrameOrCopiesLeftToRight) {
    for (bool copy : {false, true}) {
        build(copy, copy ? "nam_amp" : "nam_drive", folder(root, copy ? "amp_b" : "drive_b"));
        settle(); // Enable is off by default
        alignas(64) float audio[2][16];
        for (int i = 0; i < kFrame; ++i) {
            audio[0][i] = 0.1f * float(i);
            audio[1][i] = -0.2f * float(i);
        }
        const std::vector<float> left(audio[0], audio[0] + kFrame), right(audio[1], audio[1] + kFrame);
        RedIzuzir::exec(player.get(), audio);
        EXPECT_FALSE(player->playerStep()) << "nothing is handed over while bypassed";
        EXPECT_EQ(std::vector<float>(audio[0], audio[0] + kFrame), left) << copy;
        EXPECT_EQ(std::vector<float>(audio[1], audio[1] + kFrame), copy ? left : right) << copy;
        player.reset();
    }
}

TEST_F(RedIzuzirTest, ProcessingAllocatesNothing) {
    build();
    set("treble", 7.0f);
    play(0, "medium", modelText(kMedium));
    const std::vector<float> input = guitar(200 * kFrame);
    std::vector<float> left(input.size()), right(input.size());
    long allocations = 0;
    {
        allocationcounter::CountingScope scope(allocationcounter::Threads::All, allocationcounter::Source::OperatorNew);
        for (size_t start = 0; start < input.size(); start += kFrame) {
            frame(&input[start], &left[start], &right[start]);
            if (start == 100 * kFrame) {
                // A late worker is on the audio side's path too.
                alignas(64) float audio[2][16] = {};
                RedIzuzir::exec(player.get(), audio);
                RedIzuzir::exec(player.get(), audio);
                player->playerStep();
            }
        }
        allocations = scope.Allocations();
    }
    EXPECT_EQ(allocations, 0);
}

// An upload over the model being heard, through the engine with its fade, as the threads would drive it: a
// compile pass every 30 frames (10 ms). The change is built while the old model plays and swapped during the
// silent stretch, so every frame is the old model, the new one, or the fade between them.
TEST_F(RedIzuzirTest, AModelChangeWhilePlayingSwapsUnderOneFade) {
    enum class Change { UploadIntoPlayingSlot, UploadBrokenFile };
    struct Case {
        const char* what;
        const char* key;
        Change change;
        std::string broken; // the file refused at the upload
    };
    int64_t now = 1000000000;
    porting::setClock([&now] { return now; });
    const std::string first = modelText(kSmall);
    const std::string second = modelText(kMedium);
    // Files whose every weight is a finite float, and which the player could build: a head bias of 1e6 and a
    // head scale of 1e5 take the output far past +40 dBFS, an input weight of 1e30 past any finite value.
    nlohmann::json hugeWeight = nlohmann::json::parse(second), hot = hugeWeight, nonFinite = hugeWeight;
    hugeWeight["weights"][hugeWeight["weights"].size() - 2] = 1e6;
    hot["weights"].back() = 1e5;
    nonFinite["weights"][0] = 1e30;
    const Case cases[] = {
        {"upload into the playing slot", "nam_up", Change::UploadIntoPlayingSlot, ""},
        {"upload a broken file into the playing slot", "nam_broken", Change::UploadBrokenFile, second.substr(0, 5000)},
        {"upload a weight of 1e6", "nam_huge", Change::UploadBrokenFile, hugeWeight.dump()},
        {"upload a model louder than +40 dBFS", "nam_hot", Change::UploadBrokenFile, hot.dump()},
        {"upload a model gone non-finite", "nam_nan", Change::UploadBrokenFile, nonFinite.dump()},
    };
    for (const Case& c : cases) {
        now += 100000; // the engine counts the audio as stopped between cases: the set-up latches at once
        build(true, c.key, folder(root, c.key));
        play(0, "first", first);
        settle();

        const int frames = 240, changeAt = 60;
        const std::vector<float> input = guitar(size_t(frames) * kFrame);
        std::vector<float> left(input.size()), right(input.size());
        std::vector<float> gains(static_cast<size_t>(frames));
        int swapFrame = -1;
        for (int f = 0; f < frames; ++f) {
            if (f == changeAt) {
                const std::string text = c.change == Change::UploadBrokenFile ? c.broken : second;
                // Same name: the selection follows slot names, and this one stays selected. A broken file
                // is refused before it replaces anything.
                testing::internal::CaptureStdout();
                const bool taken = uploadSlot(*player->getList(), 0, "first", text);
                const std::string log = testing::internal::GetCapturedStdout();
                ASSERT_EQ(taken, c.change != Change::UploadBrokenFile) << c.what;
                EXPECT_EQ(log.find("slot 0 ('first') refused: ") != std::string::npos, !taken) << c.what << log;
            }
            if (f % 30 == 0) {
                const bool silent = AudioProcessor::getFadeState() == AudioProcessor::FadeState::Silent;
                testing::internal::CaptureStdout();
                AudioProcessor::compileStep();
                testing::internal::GetCapturedStdout();
                if (silent && swapFrame < 0) swapFrame = f;
            }
            alignas(64) float audio[2][16];
            std::copy(&input[size_t(f) * kFrame], &input[size_t(f) * kFrame] + kFrame, audio[0]);
            std::fill(audio[1], audio[1] + kFrame, 0.25f);
            AudioProcessor::processFrame(audio);
            player->playerStep();
            now += 333;
            std::copy(audio[0], audio[0] + kFrame, &left[size_t(f) * kFrame]);
            std::copy(audio[1], audio[1] + kFrame, &right[size_t(f) * kFrame]);
            gains[size_t(f)] = AudioProcessor::getFadeGain();
        }
        if (c.change == Change::UploadBrokenFile) {
            // Nothing changed: the old model plays on without a fade.
            EXPECT_EQ(swapFrame, -1) << c.what;
            swapFrame = frames;
        }
        ASSERT_GT(swapFrame, changeAt) << c.what << ": the change waited for silence";
        EXPECT_EQ(AudioProcessor::getFadeState(), AudioProcessor::FadeState::Idle) << c.what;

        // The old model up to the swap, the new one (fresh, prewarmed) from the swap on, one frame late and
        // under the engine's fade gain, which moves linearly across each frame.
        const size_t cut = size_t(swapFrame) * kFrame;
        auto before = modelOf(first);
        std::vector<float> chain =
            modelChain(*before, glidedIn(std::vector<float>(input.begin(), input.begin() + long(cut))), 0.0f);
        std::vector<float> after(input.begin() + long(cut), input.end());
        if (c.change != Change::UploadBrokenFile) {
            auto next = modelOf(second);
            after = modelChain(*next, after, 0.0f);
        }
        chain.insert(chain.end(), after.begin(), after.end());
        std::vector<float> expected = delayedByOneFrame(chain);
        float from = 1.0f;
        int fadedFrames = 0;
        for (int f = 0; f < frames; ++f) {
            const float to = gains[size_t(f)];
            if (to < 1.0f) ++fadedFrames;
            for (int i = 0; i < kFrame; ++i) {
                const float gain = i == kFrame - 1 ? to : from + (to - from) / 16.0f * float(i + 1);
                expected[size_t(f) * kFrame + size_t(i)] *= (from == 0.0f && to == 0.0f) ? 0.0f : gain;
            }
            from = to;
        }
        expectClose(left, expected, c.what);
        EXPECT_EQ(left, right) << c.what;
        // Fade out (19 frames), at most one compile period of silence (30), fade in (19).
        EXPECT_EQ(fadedFrames > 0, c.change != Change::UploadBrokenFile) << c.what;
        EXPECT_LE(fadedFrames, 19 + 30 + 19) << c.what;
        player.reset();
    }
}

TEST_F(RedIzuzirTest, TheWorkerThreadPlaysEveryFrameItIsGiven) {
    RedIzuzir::setWorkerThreads(true);
    build();
    const std::string text = modelText(kSmall);
    play(0, "small", text);
    restart();
    const std::vector<float> input = guitar(150 * kFrame);
    std::vector<float> output(input.size());
    for (size_t start = 0; start < input.size(); start += kFrame) {
        alignas(64) float audio[2][16];
        std::copy(&input[start], &input[start] + kFrame, audio[0]);
        RedIzuzir::exec(player.get(), audio);
        std::copy(audio[0], audio[0] + kFrame, &output[start]);
        // Bounded: the worker gets 2 s for a block it does in far less than a millisecond.
        for (int waited = 0; player->isPlayerBusy() && waited < 20000; ++waited) vTaskDelay(100);
        ASSERT_FALSE(player->isPlayerBusy()) << "the worker did not finish the block of frame " << start / kFrame;
    }
    auto reference = modelOf(text);
    expectClose(output, delayedByOneFrame(modelChain(*reference, glidedIn(input), 0.0f)), "worker thread");
    player.reset(); // stops the worker
}

}
