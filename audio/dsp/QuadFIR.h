#pragma once
// FIR filtering of up to four lanes (the channels of a frame) with impulse responses of a few thousand taps,
// one 16-sample frame per call, without latency.
//
// Non-uniformly partitioned convolution in the frequency domain (overlap-save). The response is cut into
// levels of growing partition size: the head (taps 0-127) is filtered in direct form every frame; taps
// 128-511 in 64-tap partitions; everything from tap 512 on in 256-tap partitions. Each level starts one input
// block later than it could (at twice its partition size): that block of slack lets it spread the work of
// each completed input block (transforms and partition products) over the frames of the next block, so no
// frame carries a level's work alone and the worst frame stays near the mean. No level adds latency. Each
// level keeps the spectra of its past input blocks and multiplies them with its partition spectra; long
// partitions make the long tail cheap.
//
// The transforms are FFTW's (single precision). Plans are made in configure(), on the control side, once per
// level size; the audio side only executes them, which allocates nothing.
//
// New responses are transformed on the control side into a second bank and handed over without a lock; the
// audio side switches banks at the start of its next frame and recomputes the pending output of the longer
// levels with the new bank, so from that frame on the output is the new response applied to the whole input
// history. The switch itself is immediate: callers that want it silent change responses under a fade.
#include <memory>
#include <vector>

#include "audio/dsp/Frame.h"
#include "audio/dsp/Handover.h"

class QuadFIR {
public:
    static constexpr int kLanes = 4;
    static constexpr int kBlock = Frame::kSamples;

    QuadFIR();
    ~QuadFIR();
    QuadFIR(const QuadFIR&) = delete;
    QuadFIR& operator=(const QuadFIR&) = delete;

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

    int maxTaps() const { return maxTaps_; }
    int laneCount() const { return lanes_; }

private:
    class Level;

    static constexpr int kHeadTaps = 128;
    static constexpr int kHeadSpan = kHeadTaps - 1 + kBlock;

    void filterHead(int lane, const float* input, float* samples);

    int lanes_ = 0;
    int maxTaps_ = 0;
    // The head of the response (taps 0-127), per bank and lane, and each lane's last 127 input samples before
    // the current frame.
    std::vector<float> headTaps_;
    std::vector<float> headInput_;
    int headUsed_[2] = {0, 0};
    std::vector<std::unique_ptr<Level>> levels_;
    int activeBank_ = 0; // audio side's; read by the control side only while it owns the hand-over
    Handover handover_;
};
