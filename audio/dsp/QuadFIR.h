#pragma once
// FIR filtering of up to four lanes (the channels of a frame) with impulse responses of a few thousand taps,
// one 16-sample frame per call.
//
// Uniformly partitioned convolution in the frequency domain (overlap-save): the response is cut into
// partitions of one frame, each kept as the spectrum of a 32-point transform, and every frame's input
// spectrum enters a delay line of spectra that is multiplied with the partition spectra and summed. Because
// the partition equals the frame, the filter adds no latency. For 2048 taps this costs two 32-point
// transforms and 128 x 17 complex multiply-adds per lane and frame (about 9,000 real multiply-adds) where
// the direct form needs 2048 x 16 = 32,768; the difference grows with the length of the response, and a
// response shorter than the configured maximum only pays for the partitions it uses.
//
// New responses are transformed on the control side into a second bank and handed over without a lock; the
// audio side switches banks at the start of its next frame, so it never reads a half-written or freed
// response. The switch itself is immediate: callers that want it silent change responses under a fade.
#include <vector>

#include "FFT.h"
#include "Frame.h"
#include "Handover.h"

class QuadFIR {
 public:
  static constexpr int kLanes = 4;
  static constexpr int kBlock = Frame::kSamples;
  static constexpr int kFftSize = 2 * kBlock;
  static constexpr int kBins = kBlock + 1;

  QuadFIR();

  // Allocates for responses of up to `maxTaps` taps on `laneCount` lanes (1..4) and starts with a unit
  // impulse (pass-through) on every lane. Only while no process call can run. False for bad arguments.
  bool configure(int maxTaps, int laneCount);

  // Control side, one thread. Lane i gets responses[min(i, responseCount - 1)], so one response serves every
  // lane. Taps beyond maxTaps are dropped. False for bad arguments (a non-finite tap among them), before
  // configure(), or when the hand-over could not be made; the active responses stay in place then.
  bool setImpulseResponses(const float* const* responses, int responseCount, int length);
  // True while new responses wait for the audio side to take them.
  bool swapPending() const { return handover_.pending(); }

  // Audio side: filters one frame of each lane in place. No allocation, no lock, no exception.
  void process(float* const* lanes, int laneCount);
  // Clears the input history; audio side or before processing starts.
  void reset();

  int maxTaps() const { return partitions_ * kBlock; }
  int laneCount() const { return lanes_; }

 private:
  size_t filterOffset(int bank, int lane, int partition) const;
  size_t spectrumOffset(int lane, int slot) const;
  void processLane(int lane, float* samples);

  FFT fft_;
  int lanes_ = 0;
  int partitions_ = 0;

  // Filter partition spectra, two banks, split into real and imaginary parts.
  std::vector<float> filterRe_, filterIm_;
  int bankPartitions_[2] = {0, 0};
  int activeBank_ = 0;  // audio side's; read by the control side only while it owns the hand-over
  Handover handover_;

  // Audio side state per lane: past input spectra (a ring), the previous frame's input, the ring position.
  std::vector<float> spectrumRe_, spectrumIm_;
  std::vector<float> history_;
  std::vector<int> ringHead_;
  float work_[kFftSize] = {};

  float controlWork_[kFftSize] = {};
};
