#include "QuadFIR.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

namespace {

// Each level's partitions are this many times longer than the previous one's (the head counts as one
// partition of kHeadTaps); the last level takes all the remaining taps, so the transforms stay small (512
// points at most).
constexpr int kGrowth = 4;
constexpr int kMaxLevels = 2;

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

}  // namespace

// One uniformly partitioned convolution: `partitions` partitions of `block` taps, starting at tap `offset`
// of the response. Spectra are kept as separate real and imaginary arrays so the multiply-add loop vectorises.
class QuadFIR::Level {
 public:
  Level(int block, int offset, int partitions, int lanes)
      : block_(block),
        offset_(offset),
        partitions_(partitions),
        lanes_(lanes),
        bins_(block + 1),
        time_(fftwBuffer(2 * block)),
        spectrumRe_(fftwBuffer(bins_)),
        spectrumIm_(fftwBuffer(bins_)),
        accumulatorRe_(fftwBuffer(bins_)),
        accumulatorIm_(fftwBuffer(bins_)),
        controlTime_(fftwBuffer(2 * block)),
        controlRe_(fftwBuffer(bins_)),
        controlIm_(fftwBuffer(bins_)) {
    const size_t filterSize = 2 * static_cast<size_t>(lanes) * partitions * bins_;
    filterRe_.assign(filterSize, 0.0f);
    filterIm_.assign(filterSize, 0.0f);
    ringRe_.assign(static_cast<size_t>(lanes) * partitions * bins_, 0.0f);
    ringIm_.assign(ringRe_.size(), 0.0f);
    previous_.assign(static_cast<size_t>(lanes) * block, 0.0f);
    current_.assign(previous_.size(), 0.0f);
    output_.assign(previous_.size(), 0.0f);
    fill_.assign(lanes, 0);
    ringHead_.assign(lanes, 0);

    std::lock_guard<std::mutex> lock(plannerLock());
    fftw_iodim dimension{2 * block, 1, 1};
    forward_ = fftwf_plan_guru_split_dft_r2c(1, &dimension, 0, nullptr, time_.get(), spectrumRe_.get(),
                                              spectrumIm_.get(), FFTW_ESTIMATE);
    inverse_ = fftwf_plan_guru_split_dft_c2r(1, &dimension, 0, nullptr, accumulatorRe_.get(),
                                              accumulatorIm_.get(), time_.get(), FFTW_ESTIMATE);
  }

  ~Level() {
    std::lock_guard<std::mutex> lock(plannerLock());
    if (forward_ != nullptr) fftwf_destroy_plan(forward_);
    if (inverse_ != nullptr) fftwf_destroy_plan(inverse_);
  }

  bool planned() const { return forward_ != nullptr && inverse_ != nullptr; }
  int offset() const { return offset_; }

  // Control side: the partitions of `response` (taps already cut to the filter's length) that fall into this
  // level, into `bank`. The inverse transform's 1/N is folded into the stored spectra.
  void setResponse(int bank, int lane, const float* response, int taps) {
    const float scale = 1.0f / static_cast<float>(2 * block_);
    const int used = usedPartitions(taps);
    for (int partition = 0; partition < used; ++partition) {
      const int first = offset_ + partition * block_;
      std::fill_n(controlTime_.get(), 2 * block_, 0.0f);
      std::copy_n(response + first, std::min(block_, taps - first), controlTime_.get());
      fftwf_execute_split_dft_r2c(forward_, controlTime_.get(), controlRe_.get(), controlIm_.get());
      float* re = filterRe_.data() + filterOffset(bank, lane, partition);
      float* im = filterIm_.data() + filterOffset(bank, lane, partition);
      for (int k = 0; k < bins_; ++k) {
        re[k] = controlRe_[k] * scale;
        im[k] = controlIm_[k] * scale;
      }
    }
    used_[bank] = used;
  }

  // Adds this level's share for the current frame and collects the frame's input; when a block
  // completes, computes the share for the next block.
  void addFrame(int lane, const float* input, float* samples, int bank) {
    const size_t base = laneOffset(lane);
    int& fill = fill_[lane];
    const float* share = output_.data() + base + fill;
    for (int i = 0; i < kBlock; ++i) samples[i] += share[i];
    std::copy_n(input, kBlock, current_.data() + base + fill);
    fill += kBlock;
    if (fill == block_) {
      fill = 0;
      transformBlock(lane);
      convolve(lane, bank);
      std::copy_n(time_.get() + block_, block_, output_.data() + base);
    }
  }

  // After a bank switch: the share still to be read out of the current block, from the new bank.
  void recomputeShare(int lane, int bank) {
    convolve(lane, bank);
    std::copy_n(time_.get() + block_, block_, output_.data() + laneOffset(lane));
  }

  void reset() {
    std::fill(ringRe_.begin(), ringRe_.end(), 0.0f);
    std::fill(ringIm_.begin(), ringIm_.end(), 0.0f);
    std::fill(previous_.begin(), previous_.end(), 0.0f);
    std::fill(current_.begin(), current_.end(), 0.0f);
    std::fill(output_.begin(), output_.end(), 0.0f);
    std::fill(fill_.begin(), fill_.end(), 0);
  }

 private:
  int usedPartitions(int taps) const {
    return std::clamp((taps - offset_ + block_ - 1) / block_, 0, partitions_);
  }
  size_t laneOffset(int lane) const { return static_cast<size_t>(lane) * block_; }
  size_t filterOffset(int bank, int lane, int partition) const {
    return ((static_cast<size_t>(bank) * lanes_ + lane) * partitions_ + partition) * bins_;
  }
  size_t ringOffset(int lane, int slot) const {
    return (static_cast<size_t>(lane) * partitions_ + slot) * bins_;
  }

  // Overlap-save: the previous and the current block are transformed together and the spectrum enters the
  // lane's ring of past input spectra.
  void transformBlock(int lane) {
    const size_t base = laneOffset(lane);
    std::copy_n(previous_.data() + base, block_, time_.get());
    std::copy_n(current_.data() + base, block_, time_.get() + block_);
    std::copy_n(current_.data() + base, block_, previous_.data() + base);
    fftwf_execute(forward_);
    int& head = ringHead_[lane];
    head = head + 1 == partitions_ ? 0 : head + 1;
    std::copy_n(spectrumRe_.get(), bins_, ringRe_.data() + ringOffset(lane, head));
    std::copy_n(spectrumIm_.get(), bins_, ringIm_.data() + ringOffset(lane, head));
  }

  // Sums the partition products for the newest input block; the second half of time_ then holds the result,
  // free of the circular wrap-around.
  void convolve(int lane, int bank) {
    float* accRe = accumulatorRe_.get();
    float* accIm = accumulatorIm_.get();
    std::fill_n(accRe, bins_, 0.0f);
    std::fill_n(accIm, bins_, 0.0f);
    const int head = ringHead_[lane];
    for (int partition = 0; partition < used_[bank]; ++partition) {
      const int slot = head >= partition ? head - partition : head - partition + partitions_;
      const float* xRe = ringRe_.data() + ringOffset(lane, slot);
      const float* xIm = ringIm_.data() + ringOffset(lane, slot);
      const float* hRe = filterRe_.data() + filterOffset(bank, lane, partition);
      const float* hIm = filterIm_.data() + filterOffset(bank, lane, partition);
      for (int k = 0; k < bins_; ++k) {
        accRe[k] += xRe[k] * hRe[k] - xIm[k] * hIm[k];
        accIm[k] += xRe[k] * hIm[k] + xIm[k] * hRe[k];
      }
    }
    fftwf_execute(inverse_);
  }

  const int block_, offset_, partitions_, lanes_, bins_;
  int used_[2] = {0, 0};

  // Plan arrays (audio side) and the control side's own arrays for the same plans.
  FftwBuffer time_, spectrumRe_, spectrumIm_, accumulatorRe_, accumulatorIm_;
  FftwBuffer controlTime_, controlRe_, controlIm_;
  fftwf_plan forward_ = nullptr;
  fftwf_plan inverse_ = nullptr;

  std::vector<float> filterRe_, filterIm_;  // [bank][lane][partition][bin]
  std::vector<float> ringRe_, ringIm_;      // [lane][slot][bin]
  std::vector<float> previous_, current_;   // input blocks, [lane][sample]
  std::vector<float> output_;               // this level's share of the current block, [lane][sample]
  std::vector<int> fill_, ringHead_;
};

QuadFIR::QuadFIR() = default;
QuadFIR::~QuadFIR() = default;

bool QuadFIR::configure(int maxTaps, int laneCount) {
  if (maxTaps < 1 || laneCount < 1 || laneCount > kLanes) return false;
  levels_.clear();
  lanes_ = laneCount;
  maxTaps_ = maxTaps;
  for (int block = kHeadTaps, offset = kHeadTaps; offset < maxTaps; block *= kGrowth, offset = block) {
    const int nextStart = block * kGrowth;
    const bool last = maxTaps <= nextStart || static_cast<int>(levels_.size()) + 1 == kMaxLevels;
    const int end = last ? maxTaps : nextStart;
    levels_.push_back(std::make_unique<Level>(block, offset, (end - offset + block - 1) / block, lanes_));
    if (!levels_.back()->planned()) {
      levels_.clear();
      lanes_ = maxTaps_ = 0;
      return false;
    }
    if (last) break;
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
  const int count = std::min(laneCount, lanes_);
  for (int lane = 0; lane < count; ++lane) {
    float* samples = lanes[lane];
    // A non-finite input sample would sit in the spectrum rings for the whole length of the response.
    float input[kBlock];
    for (int i = 0; i < kBlock; ++i) input[i] = std::isfinite(samples[i]) ? samples[i] : 0.0f;
    filterHead(lane, input, samples);
    for (auto& level : levels_) {
      if (switched) level->recomputeShare(lane, activeBank_);
      level->addFrame(lane, input, samples, activeBank_);
    }
  }
}

// Direct form: for so few taps it is cheaper than a pair of transforms, and it has no latency by nature. The
// frame is held in a few vectors of the machine's widest width, so every tap costs one broadcast multiply-add
// per vector, with the accumulators kept in registers.
void QuadFIR::filterHead(int lane, const float* input, float* samples) {
#if defined(__AVX512F__)
  constexpr int kWidth = 16;
#elif defined(__AVX__)
  constexpr int kWidth = 8;
#else
  constexpr int kWidth = 4;
#endif
  constexpr int kVectors = kBlock / kWidth;
  using Vector = float __attribute__((vector_size(kWidth * sizeof(float))));

  float* history = headInput_.data() + static_cast<size_t>(lane) * kHeadSpan;
  std::copy_n(input, kBlock, history + kHeadTaps - 1);
  const float* taps = headTaps_.data() + (static_cast<size_t>(activeBank_) * lanes_ + lane) * kHeadTaps;
  Vector output[kVectors] = {};
  for (int k = 0; k < headUsed_[activeBank_]; ++k) {
    const float* past = history + kHeadTaps - 1 - k;
    for (int v = 0; v < kVectors; ++v) {
      Vector x;
      std::memcpy(&x, past + v * kWidth, sizeof x);
      output[v] += taps[k] * x;
    }
  }
  std::memcpy(samples, output, sizeof output);
  std::copy(history + kBlock, history + kHeadSpan, history);
}

void QuadFIR::reset() {
  std::fill(headInput_.begin(), headInput_.end(), 0.0f);
  for (auto& level : levels_) level->reset();
}
