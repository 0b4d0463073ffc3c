#include "audio/dsp/QuadFIR.h"

#include <fftw3.h>

#if defined(__AVX__)
#include <immintrin.h>
#elif defined(__ARM_NEON)
#include <arm_neon.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

namespace {

// Two transformed levels after the head: 64-tap partitions from tap 128, then 256-tap partitions from tap 512
// to the end, so the transforms stay small (512 points at most). Each level starts one block later than it
// could, and that block of slack lets it spread its work.
constexpr int kShortBlock = 64;
constexpr int kLongBlock = 256;
constexpr int kLongStart = 2 * kLongBlock;

// FFTW's planner is not thread-safe (executing plans is): two filters configured on two threads must not plan
// at the same time.
std::mutex& plannerLock() {
    static std::mutex lock;
    return lock;
}

struct FftwFree {
    void operator()(float* p) const { fftwf_free(p); }
};
using FftwBuffer = std::unique_ptr<float[], FftwFree>;

FftwBuffer fftwBuffer(int size) {
    FftwBuffer buffer(fftwf_alloc_real(static_cast<size_t>(size)));
    std::fill_n(buffer.get(), size, 0.0f);
    return buffer;
}

// The machine's widest float vector: the loops over taps and bins are written in it, as the compiler does not
// vectorise them by itself at the optimisation level the build uses.
#if defined(__AVX512F__)
constexpr int kWidth = 16;
#elif defined(__AVX__)
constexpr int kWidth = 8;
#else
constexpr int kWidth = 4;
#endif
using Vector = float __attribute__((vector_size(kWidth * sizeof(float))));

Vector load(const float* p) {
    Vector v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void store(float* p, Vector v) { std::memcpy(p, &v, sizeof v); }

// Each pair of floats (one complex value) swapped: (re, im) becomes (im, re).
Vector swapPairs(Vector x) {
#if defined(__AVX512F__)
    return __builtin_shufflevector(x, x, 1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
#elif defined(__AVX__)
    return __builtin_shufflevector(x, x, 1, 0, 3, 2, 5, 4, 7, 6);
#else
    return __builtin_shufflevector(x, x, 1, 0, 3, 2);
#endif
}

Vector splat(float x) {
    Vector v;
    for (int i = 0; i < kWidth; ++i) v[i] = x;
    return v;
}

// a * b + c, fused where the machine has it: the build does not fuse on its own.
Vector fused(Vector a, Vector b, Vector c) {
#if defined(__AVX512F__)
    return reinterpret_cast<Vector>(
        _mm512_fmadd_ps(reinterpret_cast<__m512>(a), reinterpret_cast<__m512>(b), reinterpret_cast<__m512>(c)));
#elif defined(__FMA__)
    return reinterpret_cast<Vector>(
        _mm256_fmadd_ps(reinterpret_cast<__m256>(a), reinterpret_cast<__m256>(b), reinterpret_cast<__m256>(c)));
#elif defined(__ARM_NEON) && defined(__aarch64__)
    return reinterpret_cast<Vector>(vfmaq_f32(reinterpret_cast<float32x4_t>(c), reinterpret_cast<float32x4_t>(a),
                                              reinterpret_cast<float32x4_t>(b)));
#else
    return a * b + c;
#endif
}

} // namespace

// One uniformly partitioned convolution: `partitions` partitions of `block` taps, starting at tap `offset`
// of the response. Spectra stay in FFTW's interleaved complex format, for which it has vector kernels, padded
// to whole vectors with zeros. Each partition spectrum is stored twice, as (re, re) and (-im, im) pairs, so
// the complex multiply-add is two fused multiply-adds and one swap per vector.
//
// A level that starts at tap `block` must have the share of the next block ready when an input block
// completes, so all of its work falls into that frame. A level that starts at tap 2 * `block` has one block
// of slack: the share computed from a completed input block is read out only after the next block, so its
// work (one forward transform, one multiply-add per partition and one inverse transform per lane) is cut
// into steps spread over the frames of the block (see schedule()).
class QuadFIR::Level {
public:
    Level(int block, int offset, int partitions, int lanes)
        : block_(block),
          offset_(offset),
          partitions_(partitions),
          slots_(partitions + 1),
          lanes_(lanes),
          bins_(block + 1),
          stride_((2 * bins_ + kWidth - 1) / kWidth * kWidth),
          framesPerBlock_(block / kBlock),
          distributed_(offset == 2 * block),
          unitsPerLane_(partitions + 2),
          time_(fftwBuffer(2 * block)),
          spectrum_(fftwBuffer(stride_)),
          accumulator_(fftwBuffer(stride_)),
          controlTime_(fftwBuffer(2 * block)),
          controlSpectrum_(fftwBuffer(stride_)) {
        const size_t filterSize = 2 * static_cast<size_t>(lanes) * partitions * stride_;
        filterSame_.assign(filterSize, 0.0f);
        filterCross_.assign(filterSize, 0.0f);
        ring_.assign(static_cast<size_t>(lanes) * slots_ * stride_, 0.0f);
        previous_.assign(static_cast<size_t>(lanes) * block, 0.0f);
        current_.assign(previous_.size(), 0.0f);
        output_.assign(previous_.size(), 0.0f);
        if (distributed_) {
            pending_.assign(previous_.size(), 0.0f);
            jobInput_.assign(2 * previous_.size(), 0.0f);
            schedule();
        }

        std::lock_guard<std::mutex> lock(plannerLock());
        forward_ = fftwf_plan_dft_r2c_1d(2 * block, time_.get(), complex(spectrum_), FFTW_ESTIMATE);
        inverse_ = fftwf_plan_dft_c2r_1d(2 * block, complex(accumulator_), time_.get(), FFTW_ESTIMATE);
    }

    ~Level() {
        std::lock_guard<std::mutex> lock(plannerLock());
        if (forward_ != nullptr) fftwf_destroy_plan(forward_);
        if (inverse_ != nullptr) fftwf_destroy_plan(inverse_);
    }

    bool planned() const { return forward_ != nullptr && inverse_ != nullptr; }

    // Control side: the partitions of `response` (taps already cut to the filter's length) that fall into this
    // level, into `bank`. The inverse transform's 1/N is folded into the stored spectra.
    void setResponse(int bank, int lane, const float* response, int taps) {
        const float scale = 1.0f / static_cast<float>(2 * block_);
        const int used = usedPartitions(taps);
        for (int partition = 0; partition < used; ++partition) {
            const int first = offset_ + partition * block_;
            std::fill_n(controlTime_.get(), 2 * block_, 0.0f);
            std::copy_n(response + first, std::min(block_, taps - first), controlTime_.get());
            fftwf_execute_dft_r2c(forward_, controlTime_.get(), complex(controlSpectrum_));
            float* same = filterSame_.data() + filterOffset(bank, lane, partition);
            float* cross = filterCross_.data() + filterOffset(bank, lane, partition);
            for (int k = 0; k < 2 * bins_; k += 2) {
                same[k] = same[k + 1] = controlSpectrum_[k] * scale;
                cross[k] = -controlSpectrum_[k + 1] * scale;
                cross[k + 1] = controlSpectrum_[k + 1] * scale;
            }
        }
        used_[bank] = used;
    }

    // Adds this level's share for the current frame and collects the frame's input.
    void addFrame(int lane, const float* input, float* samples) {
        const size_t base = laneOffset(lane) + static_cast<size_t>(frame_) * kBlock;
        for (int i = 0; i < kBlock; i += kWidth) store(samples + i, load(samples + i) + load(&output_[base + i]));
        std::copy_n(input, kBlock, current_.data() + base);
    }

    // Once per frame, after every lane's addFrame: completes an input block or runs one step of the work.
    void endFrame(int bank) {
        const bool completed = ++frame_ == framesPerBlock_;
        if (completed) frame_ = 0;
        if (!distributed_) {
            if (!completed) return;
            newest_ = nextSlot(newest_);
            for (int lane = 0; lane < lanes_; ++lane) {
                stageInput(lane);
                transform(lane, newest_);
                computeShare(lane, bank, newest_, output_.data());
            }
            return;
        }
        if (completed) {
            output_.swap(pending_);
            newest_ = nextSlot(newest_);
            for (int lane = 0; lane < lanes_; ++lane) stageInput(lane);
            unitsDone_ = 0;
        }
        runUnits(unitsDone_, scheduled_[static_cast<size_t>(frame_)], bank);
    }

    // After a bank switch, before the frame's addFrame: the share still to be read out of the current block,
    // and the steps already run for the next one, from the new bank.
    void switchBank(int bank) {
        if (!distributed_) {
            for (int lane = 0; lane < lanes_; ++lane) computeShare(lane, bank, newest_, output_.data());
            return;
        }
        const int readSlot = newest_ == 0 ? slots_ - 1 : newest_ - 1;
        for (int lane = 0; lane < lanes_; ++lane) computeShare(lane, bank, readSlot, output_.data());
        const int done = unitsDone_;
        unitsDone_ = 0;
        runUnits(0, done, bank);
    }

    void reset() {
        std::fill(ring_.begin(), ring_.end(), 0.0f);
        std::fill(previous_.begin(), previous_.end(), 0.0f);
        std::fill(current_.begin(), current_.end(), 0.0f);
        std::fill(output_.begin(), output_.end(), 0.0f);
        std::fill(pending_.begin(), pending_.end(), 0.0f);
        std::fill(jobInput_.begin(), jobInput_.end(), 0.0f);
        frame_ = 0;
        unitsDone_ = 0;
    }

private:
    // A transform costs as much as many multiply-adds of partitions, so the steps are not cut by count: the
    // transforms are spread evenly over the block (one per frame where the block has frames enough), and the
    // multiply-adds of a lane over the frames between its two transforms.
    void schedule() {
        const int transforms = 2 * lanes_;
        const auto transformFrame = [&](int j) { return j * framesPerBlock_ / transforms; };
        scheduled_.assign(static_cast<size_t>(framesPerBlock_), 0);
        for (int lane = 0; lane < lanes_; ++lane) {
            const int forward = transformFrame(2 * lane), inverse = transformFrame(2 * lane + 1);
            const int base = lane * unitsPerLane_;
            scheduled_[static_cast<size_t>(forward)] = base + 1;
            const int between = inverse - forward - 1;
            for (int f = forward + 1; f < inverse; ++f) {
                scheduled_[static_cast<size_t>(f)] = base + 1 + (f - forward) * partitions_ / between;
            }
            scheduled_[static_cast<size_t>(inverse)] = base + unitsPerLane_;
        }
        for (int f = 1; f < framesPerBlock_; ++f) {
            scheduled_[static_cast<size_t>(f)] = std::max(scheduled_[static_cast<size_t>(f)], scheduled_[f - 1u]);
        }
    }

    int usedPartitions(int taps) const { return std::clamp((taps - offset_ + block_ - 1) / block_, 0, partitions_); }
    int nextSlot(int slot) const { return slot + 1 == slots_ ? 0 : slot + 1; }
    size_t laneOffset(int lane) const { return static_cast<size_t>(lane) * block_; }
    size_t filterOffset(int bank, int lane, int partition) const {
        return ((static_cast<size_t>(bank) * lanes_ + lane) * partitions_ + partition) * stride_;
    }
    size_t ringOffset(int lane, int slot) const { return (static_cast<size_t>(lane) * slots_ + slot) * stride_; }
    static fftwf_complex* complex(const FftwBuffer& buffer) { return reinterpret_cast<fftwf_complex*>(buffer.get()); }

    // Overlap-save: the previous and the completed block are transformed together. They are kept apart from
    // the block being collected, so a step run later (or again after a bank switch) sees the same input.
    void stageInput(int lane) {
        const size_t base = laneOffset(lane);
        float* staged = distributed_ ? jobInput_.data() + 2 * base : time_.get();
        std::copy_n(previous_.data() + base, block_, staged);
        std::copy_n(current_.data() + base, block_, staged + block_);
        std::copy_n(current_.data() + base, block_, previous_.data() + base);
    }

    void transform(int lane, int slot) {
        if (distributed_) std::copy_n(jobInput_.data() + 2 * laneOffset(lane), 2 * block_, time_.get());
        fftwf_execute(forward_);
        std::copy_n(spectrum_.get(), 2 * bins_, ring_.data() + ringOffset(lane, slot));
    }

    // Adds the product of one partition with the input spectrum it meets, `newest` being the slot of the
    // newest input block of the share.
    void multiplyAdd(int lane, int bank, int newest, int partition) {
        if (partition >= used_[bank]) return;
        const int slot = newest >= partition ? newest - partition : newest - partition + slots_;
        const float* x = ring_.data() + ringOffset(lane, slot);
        const float* same = filterSame_.data() + filterOffset(bank, lane, partition);
        const float* cross = filterCross_.data() + filterOffset(bank, lane, partition);
        float* accumulator = accumulator_.get();
        for (int k = 0; k < stride_; k += kWidth) {
            const Vector value = load(x + k);
            const Vector sum = fused(swapPairs(value), load(cross + k), load(accumulator + k));
            store(accumulator + k, fused(value, load(same + k), sum));
        }
    }

    void clearAccumulator() { std::fill_n(accumulator_.get(), stride_, 0.0f); }

    // The second half of the inverse transform is the share, free of the circular wrap-around. The transform
    // overwrites the accumulator, which every share clears before use.
    void inverse(int lane, float* share) {
        fftwf_execute(inverse_);
        std::copy_n(time_.get() + block_, block_, share + laneOffset(lane));
    }

    void computeShare(int lane, int bank, int newest, float* share) {
        clearAccumulator();
        for (int partition = 0; partition < partitions_; ++partition) multiplyAdd(lane, bank, newest, partition);
        inverse(lane, share);
    }

    // The work on the staged blocks as a sequence of units, lane after lane: the forward transform (which also
    // clears the accumulator), one multiply-add per partition, the inverse transform into the next share.
    void runUnits(int from, int to, int bank) {
        for (int unit = from; unit < to; ++unit) {
            const int lane = unit / unitsPerLane_;
            const int part = unit % unitsPerLane_;
            if (part == 0) {
                transform(lane, newest_);
                clearAccumulator();
            } else if (part <= partitions_) {
                multiplyAdd(lane, bank, newest_, part - 1);
            } else {
                inverse(lane, pending_.data());
            }
        }
        unitsDone_ = std::max(unitsDone_, to);
    }

    const int block_, offset_, partitions_, slots_, lanes_, bins_, stride_, framesPerBlock_;
    const bool distributed_;
    const int unitsPerLane_;
    int used_[2] = {0, 0};
    int frame_ = 0;              // frames of the current input block collected
    int newest_ = 0;             // ring slot of the newest transformed input block
    int unitsDone_ = 0;          // units of the staged work run so far (distributed level)
    std::vector<int> scheduled_; // per frame of a block, the units run by its end (distributed level)

    // Plan arrays (audio side; the spectrum interleaved) and the control side's own arrays for the same plans.
    FftwBuffer time_, spectrum_, accumulator_;
    FftwBuffer controlTime_, controlSpectrum_;
    fftwf_plan forward_ = nullptr;
    fftwf_plan inverse_ = nullptr;

    std::vector<float> filterSame_, filterCross_; // [bank][lane][partition][padded spectrum]
    std::vector<float> ring_;                     // [lane][slot][padded spectrum]
    std::vector<float> previous_, current_;       // input blocks, [lane][sample]
    std::vector<float> jobInput_;                 // the staged pair of blocks, [lane][2 * block]
    std::vector<float> output_;                   // this level's share of the current block, [lane][sample]
    std::vector<float> pending_;                  // the share of the next block being computed
};

QuadFIR::QuadFIR() = default;
QuadFIR::~QuadFIR() = default;

bool QuadFIR::configure(int maxTaps, int laneCount) {
    if (maxTaps < 1 || laneCount < 1 || laneCount > kLanes) return false;
    levels_.clear();
    lanes_ = laneCount;
    maxTaps_ = maxTaps;
    struct Span {
        int block, offset, end;
    };
    static_assert(kHeadTaps == 2 * kShortBlock, "the head ends where the short level starts");
    const Span spans[] = {{kShortBlock, kHeadTaps, std::min(maxTaps, kLongStart)}, {kLongBlock, kLongStart, maxTaps}};
    for (const Span& span : spans) {
        if (span.end <= span.offset) break;
        levels_.push_back(std::make_unique<Level>(span.block, span.offset,
                                                  (span.end - span.offset + span.block - 1) / span.block, lanes_));
        if (!levels_.back()->planned()) {
            levels_.clear();
            lanes_ = maxTaps_ = 0;
            return false;
        }
    }
    headTaps_.assign(2 * static_cast<size_t>(lanes_) * kHeadTaps, 0.0f);
    headInput_.assign(static_cast<size_t>(lanes_) * kHeadSpan, 0.0f);
    for (int lane = 0; lane < lanes_; ++lane) headTaps_[static_cast<size_t>(lane) * kHeadTaps] = 1.0f;
    headUsed_[0] = 1;
    headUsed_[1] = 0;
    activeBank_ = 0;
    return true;
}

bool QuadFIR::setImpulseResponses(const float* const* responses, int responseCount, int length) {
    if (maxTaps_ == 0 || responses == nullptr || responseCount < 1 || length < 1) return false;
    const int taps = std::min(length, maxTaps_);
    for (int i = 0; i < std::min(responseCount, lanes_); ++i) {
        if (responses[i] == nullptr) return false;
        for (int k = 0; k < taps; ++k) {
            if (!std::isfinite(responses[i][k])) return false;
        }
    }
    if (!handover_.beginWrite()) return false;
    const int bank = 1 - activeBank_;
    for (int lane = 0; lane < lanes_; ++lane) {
        const float* response = responses[std::min(lane, responseCount - 1)];
        float* head = headTaps_.data() + (static_cast<size_t>(bank) * lanes_ + lane) * kHeadTaps;
        std::fill_n(head, kHeadTaps, 0.0f);
        std::copy_n(response, std::min(taps, kHeadTaps), head);
        for (auto& level : levels_) level->setResponse(bank, lane, response, taps);
    }
    headUsed_[bank] = std::min(taps, kHeadTaps);
    handover_.publish();
    return true;
}

void QuadFIR::process(float* const* lanes, int laneCount) {
    bool switched = false;
    if (handover_.beginTake()) {
        activeBank_ = 1 - activeBank_;
        handover_.endTake();
        switched = true;
    }
    if (switched) {
        for (auto& level : levels_) level->switchBank(activeBank_);
    }
    const int count = std::min(laneCount, lanes_);
    for (int lane = 0; lane < count; ++lane) {
        float* samples = lanes[lane];
        // A non-finite input sample would sit in the spectrum rings for the whole length of the response.
        // x - x is zero exactly for a finite x.
        float input[kBlock];
        for (int i = 0; i < kBlock; i += kWidth) {
            const Vector x = load(samples + i);
            store(input + i, x - x == Vector{} ? x : Vector{});
        }
        filterHead(lane, input, samples);
        for (auto& level : levels_) level->addFrame(lane, input, samples);
    }
    for (auto& level : levels_) level->endFrame(activeBank_);
}

// Direct form: for so few taps it is cheaper than a pair of transforms, and it has no latency by nature. The
// frame is held in a few vectors of the machine's widest width, so every tap costs one broadcast multiply-add
// per vector, with the accumulators kept in registers.
void QuadFIR::filterHead(int lane, const float* input, float* samples) {
    constexpr int kVectors = kBlock / kWidth;

    float* history = headInput_.data() + static_cast<size_t>(lane) * kHeadSpan;
    std::copy_n(input, kBlock, history + kHeadTaps - 1);
    const float* taps = headTaps_.data() + (static_cast<size_t>(activeBank_) * lanes_ + lane) * kHeadTaps;
    // Consecutive taps go to separate accumulators, so the multiply-adds do not wait for each other. The taps
    // past the used ones are zero, so the count may be rounded up to whole groups.
    constexpr int kChains = 4;
    static_assert(kHeadTaps % kChains == 0, "the head is whole groups of taps");
    const int used = (headUsed_[activeBank_] + kChains - 1) / kChains * kChains;
    Vector output[kChains][kVectors] = {};
    for (int k = 0; k < used; k += kChains) {
#pragma GCC unroll 4
        for (int c = 0; c < kChains; ++c) {
            const float* past = history + kHeadTaps - 1 - k - c;
            const Vector tap = splat(taps[k + c]);
#pragma GCC unroll 4
            for (int v = 0; v < kVectors; ++v) output[c][v] = fused(tap, load(past + v * kWidth), output[c][v]);
        }
    }
    for (int v = 0; v < kVectors; ++v) {
        store(samples + v * kWidth, (output[0][v] + output[1][v]) + (output[2][v] + output[3][v]));
    }
    std::copy(history + kBlock, history + kHeadSpan, history);
}

void QuadFIR::reset() {
    std::fill(headInput_.begin(), headInput_.end(), 0.0f);
    for (auto& level : levels_) level->reset();
}
