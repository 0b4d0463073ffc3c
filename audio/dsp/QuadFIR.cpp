#include "QuadFIR.h"

#include <algorithm>
#include <cmath>

QuadFIR::QuadFIR() : fft_(kFftSize) {}

size_t QuadFIR::filterOffset(int bank, int lane, int partition) const {
  return ((static_cast<size_t>(bank) * lanes_ + lane) * partitions_ + partition) * kBins;
}

size_t QuadFIR::spectrumOffset(int lane, int slot) const {
  return (static_cast<size_t>(lane) * partitions_ + slot) * kBins;
}

bool QuadFIR::configure(int maxTaps, int laneCount) {
  if (maxTaps < 1 || laneCount < 1 || laneCount > kLanes) return false;
  lanes_ = laneCount;
  partitions_ = (maxTaps + kBlock - 1) / kBlock;
  const size_t filterSize = 2 * static_cast<size_t>(lanes_) * partitions_ * kBins;
  filterRe_.assign(filterSize, 0.0f);
  filterIm_.assign(filterSize, 0.0f);
  spectrumRe_.assign(static_cast<size_t>(lanes_) * partitions_ * kBins, 0.0f);
  spectrumIm_.assign(static_cast<size_t>(lanes_) * partitions_ * kBins, 0.0f);
  history_.assign(static_cast<size_t>(lanes_) * kBlock, 0.0f);
  ringHead_.assign(lanes_, 0);
  // A unit impulse has a flat spectrum of ones in its first partition.
  activeBank_ = 0;
  for (int lane = 0; lane < lanes_; ++lane) {
    std::fill_n(filterRe_.begin() + filterOffset(0, lane, 0), kBins, 1.0f);
  }
  bankPartitions_[0] = 1;
  bankPartitions_[1] = 0;
  return true;
}

bool QuadFIR::setImpulseResponses(const float* const* responses, int responseCount, int length) {
  if (partitions_ == 0 || responses == nullptr || responseCount < 1 || length < 1) return false;
  const int taps = std::min(length, partitions_ * kBlock);
  for (int i = 0; i < std::min(responseCount, lanes_); ++i) {
    if (responses[i] == nullptr) return false;
    for (int k = 0; k < taps; ++k) {
      if (!std::isfinite(responses[i][k])) return false;
    }
  }
  if (!handover_.beginWrite()) return false;
  const int bank = 1 - activeBank_;
  const int used = (taps + kBlock - 1) / kBlock;
  for (int lane = 0; lane < lanes_; ++lane) {
    const float* response = responses[std::min(lane, responseCount - 1)];
    for (int partition = 0; partition < used; ++partition) {
      const int first = partition * kBlock;
      const int count = std::min(kBlock, taps - first);
      std::fill(std::begin(controlWork_), std::end(controlWork_), 0.0f);
      std::copy_n(response + first, count, controlWork_);
      fft_.forward(controlWork_);
      float* re = filterRe_.data() + filterOffset(bank, lane, partition);
      float* im = filterIm_.data() + filterOffset(bank, lane, partition);
      re[0] = controlWork_[0];
      im[0] = 0.0f;
      re[kBlock] = controlWork_[1];
      im[kBlock] = 0.0f;
      for (int k = 1; k < kBlock; ++k) {
        re[k] = controlWork_[2 * k];
        im[k] = controlWork_[2 * k + 1];
      }
    }
  }
  bankPartitions_[bank] = used;
  handover_.publish();
  return true;
}

void QuadFIR::process(float* const* lanes, int laneCount) {
  if (handover_.beginTake()) {
    activeBank_ = 1 - activeBank_;
    handover_.endTake();
  }
  const int count = std::min(laneCount, lanes_);
  for (int lane = 0; lane < count; ++lane) processLane(lane, lanes[lane]);
}

void QuadFIR::processLane(int lane, float* samples) {
  // Overlap-save: transform the previous and the current frame together; the last half of the circular
  // convolution with a one-frame partition is free of wrap-around.
  // A non-finite input sample would sit in the spectrum ring for the whole length of the response.
  float* history = history_.data() + static_cast<size_t>(lane) * kBlock;
  for (int i = 0; i < kBlock; ++i) {
    const float input = std::isfinite(samples[i]) ? samples[i] : 0.0f;
    work_[i] = history[i];
    work_[kBlock + i] = input;
    history[i] = input;
  }
  fft_.forward(work_);

  const int head = ringHead_[lane] + 1 == partitions_ ? 0 : ringHead_[lane] + 1;
  ringHead_[lane] = head;
  float* newestRe = spectrumRe_.data() + spectrumOffset(lane, head);
  float* newestIm = spectrumIm_.data() + spectrumOffset(lane, head);
  newestRe[0] = work_[0];
  newestIm[0] = 0.0f;
  newestRe[kBlock] = work_[1];
  newestIm[kBlock] = 0.0f;
  for (int k = 1; k < kBlock; ++k) {
    newestRe[k] = work_[2 * k];
    newestIm[k] = work_[2 * k + 1];
  }

  float accRe[kBins] = {};
  float accIm[kBins] = {};
  const int used = bankPartitions_[activeBank_];
  for (int partition = 0; partition < used; ++partition) {
    const int slot = head >= partition ? head - partition : head - partition + partitions_;
    const float* xRe = spectrumRe_.data() + spectrumOffset(lane, slot);
    const float* xIm = spectrumIm_.data() + spectrumOffset(lane, slot);
    const float* hRe = filterRe_.data() + filterOffset(activeBank_, lane, partition);
    const float* hIm = filterIm_.data() + filterOffset(activeBank_, lane, partition);
    for (int k = 0; k < kBins; ++k) {
      accRe[k] += xRe[k] * hRe[k] - xIm[k] * hIm[k];
      accIm[k] += xRe[k] * hIm[k] + xIm[k] * hRe[k];
    }
  }

  work_[0] = accRe[0];
  work_[1] = accRe[kBlock];
  for (int k = 1; k < kBlock; ++k) {
    work_[2 * k] = accRe[k];
    work_[2 * k + 1] = accIm[k];
  }
  fft_.inverse(work_);
  for (int i = 0; i < kBlock; ++i) samples[i] = work_[kBlock + i];
}

void QuadFIR::reset() {
  std::fill(spectrumRe_.begin(), spectrumRe_.end(), 0.0f);
  std::fill(spectrumIm_.begin(), spectrumIm_.end(), 0.0f);
  std::fill(history_.begin(), history_.end(), 0.0f);
}
