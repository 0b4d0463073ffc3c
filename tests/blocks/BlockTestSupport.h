#pragma once
// Shared helpers of the block tests: a fresh storage home, the compile passes that latch structural values,
// running a block's process function over whole signals, and slot uploads as a remote client makes them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

#include "audio/AudioProcessor.h"
#include "audio/dsp/Frame.h"
#include "audio/dsp/SwitchFade.h"
#include "core/NodeEnum.h"
#include "core/NodeFloat.h"
#include "core/NodeItem.h"
#include "core/NodeList.h"
#include "tests/audio/dsp/Reference.h"
#include "tests/support/TestSupport.h"

namespace blocktest {

constexpr double kRate = 48000.0;

// Compile passes until every structural change is taken over. With no frame through the engine the
// engine does not wait for silence, so a pending change latches in the next pass.
inline void settle() {
    for (int pass = 0; pass < 3; ++pass) AudioProcessor::compileStep();
}

// A root named after the running test. Trees are never deleted: Storage keeps the nodes it stores for the
// whole run, as the product's tree lives for the whole run. The roots stay reachable from here.
inline std::vector<Node*>* const keptRoots = new std::vector<Node*>();

inline Node* testRoot() {
    const std::string name = testing::UnitTest::GetInstance()->current_test_info()->name();
    Node* root = new NodeItem(nullptr, name.c_str(), name.c_str(), "", "vfolder");
    keptRoots->push_back(root);
    return root;
}

inline NodeItem* folder(Node* parent, const char* key) { return new NodeItem(parent, key, key, "", "hfolder"); }

// A node below a block's folder by its path there ("fb", "trem\\depth"), a value and a choice set there.
inline Node* below(Node* folder, const std::string& path) {
    return folder->pathToNode(folder->getPath() + "\\" + path);
}
inline void setValue(Node* folder, const std::string& path, float value) {
    static_cast<NodeFloat*>(below(folder, path))->setValue(value);
}
inline bool choose(Node* folder, const std::string& path, const char* option) {
    return static_cast<NodeEnum*>(below(folder, path))->setValue(option);
}

// Uploads a file into slot `index` of a list the way a remote client does: the name record, then the gzip
// stream in chunks of the list's size. False when the list refused a chunk or did not keep the file.
template <class File>
bool uploadSlot(NodeList& list, int index, const std::string& name, const File& file) {
    const std::string stream = testsupport::gzip(std::string(file.begin(), file.end()));
    auto chunk = [&](int number, const std::string& bytes) {
        return list.parseWriteJSON(list.getPath() + ":{\"index\":" + std::to_string(index) + ",\"chunk\":" +
                                   std::to_string(number) + ",\"value\":\"" + testsupport::hex(bytes, true) + "\"}");
    };
    if (!chunk(0, testsupport::slotRecord(name, uint32_t(stream.size()), uint32_t(file.size())))) return false;
    const size_t size = size_t(list.getChunkSize());
    for (size_t offset = 0, number = 1; offset < stream.size(); offset += size, ++number) {
        if (!chunk(int(number), stream.substr(offset, size))) return false;
    }
    return list.nameAt(index) == name;
}

struct Stereo {
    std::vector<float> left, right;
    explicit Stereo(size_t samples = 0) : left(samples, 0.0f), right(samples, 0.0f) {}
    size_t size() const { return left.size(); }
};

// The block's process function over the signal, frame by frame, in place; the number of frames for which it
// ended the chain.
template <class Block>
int run(Block* block, Stereo& signal) {
    int ended = 0;
    for (size_t start = 0; start + Frame::kSamples <= signal.size(); start += Frame::kSamples) {
        alignas(64) float frame[2][16];
        for (int i = 0; i < Frame::kSamples; ++i) {
            frame[0][i] = signal.left[start + size_t(i)];
            frame[1][i] = signal.right[start + size_t(i)];
        }
        if (Block::exec(block, frame)) ++ended;
        for (int i = 0; i < Frame::kSamples; ++i) {
            signal.left[start + size_t(i)] = frame[0][i];
            signal.right[start + size_t(i)] = frame[1][i];
        }
    }
    return ended;
}

// Off and on again: a fresh start, as after a fade with the audio running, then silence until what enters
// the block's lines has faded in.
template <class Block>
void restart(Block* block) {
    block->getOnOff()->setOn(false);
    settle();
    Stereo glideOut(Frame::kSamples * (SwitchFade::kFrames + 1));
    run(block, glideOut);
    block->getOnOff()->setOn(true);
    settle();
    Stereo fadeIn{size_t(0.2 * kRate)};
    run(block, fadeIn);
}

inline std::vector<float> sine(size_t samples, double hertz, double amplitude, double phase = 0.0) {
    std::vector<float> out(samples);
    for (size_t n = 0; n < samples; ++n) {
        out[n] = float(amplitude * std::sin(2.0 * std::numbers::pi * hertz * double(n) / kRate + phase));
    }
    return out;
}

inline double peak(const std::vector<float>& samples, size_t from = 0, size_t to = SIZE_MAX) {
    double largest = 0.0;
    for (size_t n = from; n < samples.size() && n < to; ++n) largest = std::fmax(largest, std::fabs(samples[n]));
    return largest;
}

inline double rms(const std::vector<float>& samples, size_t from = 0, size_t to = SIZE_MAX) {
    double sum = 0.0;
    size_t count = 0;
    for (size_t n = from; n < samples.size() && n < to; ++n, ++count) sum += double(samples[n]) * samples[n];
    return count ? std::sqrt(sum / double(count)) : 0.0;
}

inline double db(double ratio) { return 20.0 * std::log10(ratio); }

// Largest sample-to-sample step in [from, to).
inline double largestStep(const std::vector<float>& samples, size_t from, size_t to) {
    double largest = 0.0;
    for (size_t n = std::max<size_t>(from, 1); n < samples.size() && n < to; ++n) {
        largest = std::fmax(largest, std::fabs(double(samples[n]) - samples[n - 1]));
    }
    return largest;
}

// Largest second difference |x[n] - 2 x[n-1] + x[n-2]| in [from, to): a click's kink, which the steady slope
// of a loud low note leaves small.
inline double largestSecondDifference(const std::vector<float>& samples, size_t from, size_t to) {
    double largest = 0.0;
    for (size_t n = std::max<size_t>(from, 2); n < samples.size() && n < to; ++n) {
        largest = std::fmax(largest, std::fabs(double(samples[n]) - 2.0 * samples[n - 1] + samples[n - 2]));
    }
    return largest;
}

// Energy above 6 kHz in [from, to) relative to the whole signal's there, in dB: an eighth-order Butterworth
// high pass (four biquad sections from the bilinear transform, in double precision) run over the signal
// from its start, so its own start-up has died away by `from`. A chord below 1 kHz leaves well under
// -200 dB through it; what remains is the zipper noise and clicks of the processing.
inline double highBandDb(const std::vector<float>& samples, size_t from, size_t to) {
    const double qs[4] = {0.50980, 0.60134, 0.89998, 2.56292};
    const double w = 2.0 * std::numbers::pi * 6000.0 / kRate;
    std::vector<double> x(samples.begin(), samples.end());
    for (double q : qs) {
        const double alpha = std::sin(w) / (2.0 * q), c = std::cos(w), a0 = 1.0 + alpha;
        const double b0 = (1.0 + c) / 2.0 / a0, b1 = -(1.0 + c) / a0, b2 = b0;
        const double a1 = -2.0 * c / a0, a2 = (1.0 - alpha) / a0;
        double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
        for (double& v : x) {
            const double y = b0 * v + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
            x2 = x1, x1 = v, y2 = y1, y1 = y;
            v = y;
        }
    }
    double high = 0.0, all = 0.0;
    for (size_t n = from; n < to && n < samples.size(); ++n) {
        high += x[n] * x[n];
        all += double(samples[n]) * samples[n];
    }
    return 10.0 * std::log10(std::fmax(high, 1e-300) / all);
}

// Deterministic white noise in -1..1.
inline std::vector<float> noise(size_t samples, uint32_t seed = 12345u) { return reference::noise(samples, seed); }

// A WAV file written by hand from the format's definition: RIFF header, "fmt " chunk, "data" chunk.
enum class Encoding { Pcm16, Pcm24, Float32 };

inline void put(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(value >> (8 * i)));
}

inline std::vector<uint8_t> wav(const std::vector<std::vector<float>>& channels, int rate, Encoding encoding) {
    const int bytesPerSample = encoding == Encoding::Pcm16 ? 2 : (encoding == Encoding::Pcm24 ? 3 : 4);
    const uint32_t frames = uint32_t(channels[0].size());
    const uint32_t channelCount = uint32_t(channels.size());
    const uint32_t dataSize = frames * channelCount * uint32_t(bytesPerSample);
    std::vector<uint8_t> out;
    auto tag = [&](const char* text) { out.insert(out.end(), text, text + 4); };
    tag("RIFF");
    put(out, 36 + dataSize, 4);
    tag("WAVE");
    tag("fmt ");
    put(out, 16, 4);
    put(out, encoding == Encoding::Float32 ? 3 : 1, 2);
    put(out, channelCount, 2);
    put(out, uint32_t(rate), 4);
    put(out, uint32_t(rate) * channelCount * uint32_t(bytesPerSample), 4);
    put(out, channelCount * uint32_t(bytesPerSample), 2);
    put(out, uint32_t(bytesPerSample * 8), 2);
    tag("data");
    put(out, dataSize, 4);
    for (uint32_t n = 0; n < frames; ++n) {
        for (const std::vector<float>& channel : channels) {
            const float sample = channel[n];
            if (encoding == Encoding::Float32) {
                uint32_t bits;
                std::memcpy(&bits, &sample, 4);
                put(out, bits, 4);
            } else {
                const double scale = encoding == Encoding::Pcm16 ? 32767.0 : 8388607.0;
                put(out, uint32_t(int32_t(std::lround(sample * scale))), bytesPerSample);
            }
        }
    }
    return out;
}

// A cabinet-like response: noise decaying with the given time constant.
inline std::vector<float> cabinet(size_t length, uint32_t seed, double decaySamples = 600.0) {
    std::vector<float> response = noise(length, seed);
    for (size_t n = 0; n < length; ++n) response[n] *= float(0.8 * std::exp(-double(n) / decaySamples));
    return response;
}

}
